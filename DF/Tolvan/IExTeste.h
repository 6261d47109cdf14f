// Fixture of the store's tests: company EMP1 (ZelAmbienteTeste) with its
// Vovi Dadi directory, byte helpers and a business object that counts its
// conversions.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "IExBase.h"
#include "ZelAmbienteTeste.h"
#include "ZelArquivo.h"
#include "ZelDataBaseUtil.h"

class CIExBaseTeste : public CIExBase {
 public:
  using CIExBase::m_ArqCamposIE;
  using CIExBase::m_ArqIE;
  using CIExBase::m_ArqUsuariosIE;
  using CIExBase::m_pDataBase;
  using CIExBase::m_sLocalDados;
  using CIExBase::ProcuraVinculoAtivo;
  using CIExBase::ProcuraVinculoLinear;
  int nConversoes = 0;
  // Conversions running at once in the process, and the most seen.
  static inline std::atomic<int> nEmCurso{0};
  static inline std::atomic<int> nMaximoEmCurso{0};
  HRESULT ExecutaConversao() override {
    ++nConversoes;
    int n = ++nEmCurso;
    for (int m = nMaximoEmCurso; n > m && !nMaximoEmCurso.compare_exchange_weak(m, n);) {
    }
    HRESULT hr = CIExBase::ExecutaConversao();
    --nEmCurso;
    return hr;
  }
};

template <class T>
std::string IEBytes(const T& reg) {
  return std::string(reinterpret_cast<const char*>(&reg), sizeof reg);
}
template <class T>
std::string IEBytes(const std::vector<T>& a) {
  return std::string(reinterpret_cast<const char*>(a.data()), a.size() * sizeof(T));
}
inline std::string IEZeros(size_t n) { return std::string(n, '\0'); }

// A log line's tab-separated columns.
inline std::vector<std::string> IEColunas(const std::string& sLinha) {
  std::vector<std::string> a;
  std::istringstream in(sLinha);
  for (std::string s; std::getline(in, s, '\t');) a.push_back(s);
  return a;
}

class IExTeste : public ZelAmbienteTeste {
 protected:
  void SetUp() override {
    ZelAmbienteTeste::SetUp();
    CZelDataBaseUtil::ReleCondicaoMarca();
    m_sVovi = m_sEmpresa + "VOVIDADI/";
  }
  void CriaDiretorio() const { ZelCriaDiretorio(m_sVovi, true); }
  std::string Bytes(const std::string& sNome) const { return ZelLeArquivoInteiro(m_sVovi + sNome); }
  void Escreve(const std::string& sNome, const std::string& sBytes) const {
    CriaDiretorio();
    std::ofstream(m_sVovi + sNome, std::ios::binary | std::ios::trunc) << sBytes;
  }
  bool Existe(const std::string& sNome) const { return ZelExisteArquivo(m_sVovi + sNome); }
  static std::string Configuracao(UI4 ulVersao) {
    std::string s = IEZeros(4096);
    std::memcpy(s.data(), &ulVersao, 4);
    return s;
  }
  UI4 VersaoGravada() const {
    std::string s = Bytes("DFIECONFIG.DAT");
    UI4 ul = 0xFFFFFFFF;
    if (s.size() >= 4) std::memcpy(&ul, s.data(), 4);
    return ul;
  }
  // Whether some line of the company's error file holds the text.
  bool ErroContem(const std::string& sTexto) const {
    for (const std::string& s : Linhas(ArquivoErrosEmpresa()))
      if (s.find(sTexto) != std::string::npos) return true;
    return false;
  }
  // Error lines of the CIExBase method that hold the text.
  int Erros(const std::string& sMetodo, const std::string& sTexto) const {
    int n = 0;
    for (const std::string& s : Linhas(ArquivoErrosEmpresa()))
      n += s.find("\tCIExBase::" + sMetodo + "\t") != std::string::npos && s.find(sTexto) != std::string::npos;
    return n;
  }
  // Error lines of a company naming the function, and the source file, a
  // line number and the expression in a row.
  int ErrosDe(const std::string& sFuncao, const std::string& sFonte, const std::string& sExpressao,
              const std::string& sEmpresa = "EMP1") const {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    int n = 0;
    for (const std::string& s : Linhas(ZelCaminhoArquivoErros(sEmpresa, st.wYear, st.wMonth))) {
      const std::vector<std::string> a = IEColunas(s);
      if (std::count(a.begin(), a.end(), sFuncao) == 0) continue;
      for (size_t i = 0; i + 2 < a.size(); ++i)
        n += a[i] == sFonte && a[i + 1].find_first_not_of("0123456789") == std::string::npos && a[i + 2] == sExpressao;
    }
    return n;
  }
  std::vector<std::string> ArquivosTRA() const { return ZelListaArquivos(m_sVovi, "*.tra"); }

  std::string m_sVovi;
};

inline IE_CAMPO_PS IECampo(IE_E_CAMPO id, const char* szNome) {
  IE_CAMPO_PS c{};
  c.id = id;
  std::snprintf(c.szNome, sizeof c.szNome, "%s", szNome);
  return c;
}

inline IE_CAMPO_DATA_PS IEValor(IE_E_CAMPO id, uint64_t ullValor, const char* szTexto = nullptr) {
  IE_CAMPO_DATA_PS v{};
  v.id = id;
  std::memcpy(v.BinaryData, &ullValor, 8);
  if (szTexto != nullptr) {
    v.pcTexto = const_cast<char*>(szTexto);
    v.ulTamanhoTexto = static_cast<UI4>(std::strlen(szTexto) + 1);
  }
  return v;
}

// Writes a header with its fields; its position (0 on failure).
inline UI4 IEGravaHeader(CIExBase& ie, IE_E_PROCESSO eProcesso, std::vector<IE_CAMPO_PS> aCampos) {
  IE_HDR_PS hdr{};
  hdr.eProcesso = eProcesso;
  hdr.nQtdCampos = static_cast<UINT>(aCampos.size());
  hdr.pCampos = aCampos.data();
  UI4 ulPos = 0;
  return ie.GravaIEHeader(&ulPos, hdr) == S_OK ? ulPos : 0;
}

// Writes an origin's values through the service.
inline HRESULT IEGravaValores(CIExBase& ie, UI4 lPosHeader, UI4 lChave, std::vector<IE_CAMPO_DATA_PS> aValores) {
  IE_VINCULO_PS v{};
  v.origem = {lPosHeader, lChave};
  v.nQtdCampos = static_cast<UINT>(aValores.size());
  v.pCampos = aValores.data();
  return ie.GravaCamposVinculo(v);
}

inline IE_VINCULO_ARQ_V0 Vinculo(UI4 lPosHeader, UI4 lChave, UI4 nQtd = 1, UI4 iPtr = 1, UI4 ulExcluido = 0) {
  return IE_VINCULO_ARQ_V0{lPosHeader, lChave, nQtd, iPtr, ulExcluido, 0};
}
