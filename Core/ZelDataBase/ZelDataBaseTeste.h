// Engine test fixture: company EMP1 with its DF directory (module 1), a 24-byte keyed record, file helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "ZelAmbienteTeste.h"
#include "ZelDataBase.h"
#include "ZelDataBaseUtil.h"
#include "ZelFile.h"

struct REG_TESTE {
  uint32_t ulChave;
  uint32_t ulValor;
  uint64_t ullA;
  uint64_t ullB;
};
static_assert(sizeof(REG_TESTE) == 24);

inline REG_TESTE Reg(uint32_t ulChave, uint32_t ulValor) { return REG_TESTE{ulChave, ulValor, ulValor * 3ull, 7}; }

constexpr _ZelModulo kModuloTeste = 1;

class CBaseTeste : public CZelDataBase {
 public:
  CBaseTeste() : CZelDataBase(kModuloTeste) {}
  static ZelUInt GetChaveIndex(const REG_TESTE* p, ZelUInt) { return p->ulChave; }
};

class ZelDataBaseTeste : public ZelAmbienteTeste {
 protected:
  void SetUp() override {
    ZelAmbienteTeste::SetUp();
    CZelDataBaseUtil::ReleCondicaoMarca();
  }
  std::string Caminho(const std::string& sNome) const { return m_sEmpresa + sNome; }
  void Escreve(const std::string& sNome, const std::string& sBytes) const {
    std::ofstream(Caminho(sNome), std::ios::binary) << sBytes;
  }
  void Escreve(std::initializer_list<std::pair<std::string, std::string>> arquivos) const {
    for (const auto& [sNome, sBytes] : arquivos) Escreve(sNome, sBytes);
  }
  std::string Bytes(const std::string& sNome) const { return ZelLeArquivoInteiro(Caminho(sNome)); }
  bool Existe(const std::string& sNome) const { return ZelExisteArquivo(Caminho(sNome)); }
  // Lines of the company's error file that hold both pieces.
  int LinhasCom(const std::string& sPeca, const std::string& sOutra = "") const {
    int n = 0;
    for (const auto& l : Linhas(ArquivoErrosEmpresa()))
      n += l.find(sPeca) != std::string::npos && l.find(sOutra) != std::string::npos;
    return n;
  }
  static std::string BytesDe(const std::vector<REG_TESTE>& a) {
    return std::string(reinterpret_cast<const char*>(a.data()), a.size() * sizeof(REG_TESTE));
  }
};
