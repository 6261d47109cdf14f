// Test fixture: a suite installation of its own (module directory, one
// company "EMP1" with its DF directory), a fresh registry and log.ini.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ZelArquivo.h"
#include "ZelLogConfig.h"
#include "ZelProfiler.h"
#include "ZelRegistro.h"
#include "ZelSistema.h"
#include "ZelTesteAjudante.h"

class ZelAmbienteTeste : public ::testing::Test {
 protected:
  void SetUp() override {
    std::remove(ZelArquivoRegistro(HKEY_LOCAL_MACHINE).c_str());
    std::remove(ZelArquivoRegistro(HKEY_CURRENT_USER).c_str());
    static int nInstancia = 0;
    std::string sSufixo = std::to_string(++nInstancia);
    m_sModulos = ZelNovoDiretorio("modulos" + sSufixo);
    m_sEmpresa = ZelNovoDiretorio("emp" + sSufixo);
    ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "DiretorioModulos", m_sModulos),
              ERROR_SUCCESS);
    RegistraEmpresa("EMP1", m_sEmpresa);
    ZelInvalidaLogConfig();
  }

  // A company of the suite and its data directory ("DF").
  static void RegistraEmpresa(const std::string& sEmpresa, const std::string& sDiretorio) {
    ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, std::string(kChaveZelSistemas) + "\\Empresas\\" + sEmpresa,
                                      "DF", sDiretorio),
              ERROR_SUCCESS);
  }

  // A text or a switch under the suite's machine key.
  static void ChaveTexto(const std::string& sChave, const char* szNome, const std::string& sValor) {
    ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas + sChave, szNome, sValor), ERROR_SUCCESS);
  }
  static void ChaveDword(const char* szNome, DWORD dwValor) {
    ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, szNome, dwValor), ERROR_SUCCESS);
  }

  void EscreveLogIni(const std::string& sTexto) {
    std::ofstream(m_sModulos + "log.ini", std::ios::binary) << sTexto;
    ZelInvalidaLogConfig();
  }

  std::string ArquivoErrosEmpresa() const {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return ZelCaminhoArquivoErros("EMP1", st.wYear, st.wMonth);
  }
  std::string ArquivoErrosProgramas() const {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return ZelCaminhoArquivoErros("", st.wYear, st.wMonth);
  }
  std::string LogChamadas() const { return m_sModulos + "ZelProfiler"; }

  // Lines of a file after its header (empty when the file is missing).
  static std::vector<std::string> Linhas(const std::string& sCaminho) {
    std::vector<std::string> v;
    std::string s = ZelLeArquivoInteiro(sCaminho);
    size_t i = 0;
    while (i < s.size()) {
      size_t f = s.find('\n', i);
      if (f == std::string::npos) f = s.size();
      v.push_back(s.substr(i, f - i));
      i = f + 1;
    }
    if (!v.empty()) v.erase(v.begin());
    return v;
  }

  std::string m_sModulos;
  std::string m_sEmpresa;
};
