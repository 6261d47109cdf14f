// Helpers of the store's tests: values and headers as read, and a change marker held by another thread.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "IExTeste.h"
#include "ZelArqMarcaFila.h"

// A value record as the files hold it, and a text's place in its number.
inline std::string IERegValor(I4 id, uint64_t ullValor) {
  IE_CAMPO_DATA_ARQ_V2 r{};
  r.id = id;
  std::memcpy(r.BinaryData, &ullValor, 8);
  return IEBytes(r);
}
inline UI8 IELugar(UI4 ulOffset, UI2 usTamanho) { return ulOffset | (UI8{usTamanho} << 32); }

// Each value as "id:number" or "id:'text'", with "/n" when a text's length is not its characters and terminator.
inline std::string IEDescreveValores(const IE_CAMPO_DATA_PS* pValores, UINT nQtd) {
  std::string s;
  for (UINT i = 0; i < nQtd; ++i) {
    const IE_CAMPO_DATA_PS& v = pValores[i];
    uint64_t ull = 0;
    std::memcpy(&ull, v.BinaryData, 8);
    s += (i == 0 ? "" : " ") + std::to_string(v.id) + ":";
    const UI4 ulTamanho = v.pcTexto == nullptr ? 0 : static_cast<UI4>(std::strlen(v.pcTexto) + 1);
    s += v.pcTexto == nullptr ? std::to_string(ull) : "'" + std::string(v.pcTexto) + "'";
    if (v.ulTamanhoTexto != ulTamanho) s += "/" + std::to_string(v.ulTamanhoTexto);
  }
  return s;
}

// A header as read: flags, process, count, each field's id, name, flags, extra, users ("-": none); "null": none.
inline std::string IEDescreveHeader(const IE_HDR_PS& ps) {
  std::string s = std::to_string(ps.dwFlags) + " " + std::to_string(ps.eProcesso) + " " + std::to_string(ps.nQtdCampos);
  if (ps.pCampos == nullptr) return s + " null";
  for (UINT i = 0; i < ps.nQtdCampos; ++i) {
    const IE_CAMPO_PS& c = ps.pCampos[i];
    s += " | " + std::to_string(c.id) + " " + std::string(c.szNome, strnlen(c.szNome, sizeof c.szNome)) + " " +
         std::to_string(c.dwFlags) + " " + std::to_string(c.lPtrExtra);
    if (c.pUsuarios == nullptr) s += " -";
    for (UI2 j = 0; c.pUsuarios != nullptr && j < c.iQtdUsuarios; ++j) s += " u" + std::to_string(c.pUsuarios[j]);
  }
  return s;
}

// A start that fails with the code (E_FAIL: with any) and leaves nothing open; its conversions.
inline int IEFalhaAoIniciar(HRESULT hrEsperado, const char* szEmpresa = "EMP1") {
  CIExBaseTeste ie;
  const HRESULT hr = ie.Inicializa(szEmpresa, 1, 1);
  EXPECT_EQ(hrEsperado == E_FAIL && FAILED(hr) ? E_FAIL : hr, hrEsperado) << szEmpresa;
  EXPECT_FALSE(ie.EstaInicializado());
  EXPECT_EQ(ie.m_pDataBase, nullptr);
  EXPECT_FALSE(ie.m_ArqIE.EstaAberto());
  EXPECT_FALSE(CIExBase::m_ContainerFacade().ExisteDataBase(szEmpresa));
  return ie.nConversoes;
}

// Holds the directory's change marker from another thread until destroyed.
struct IESeguraMarca {
  explicit IESeguraMarca(const std::string& sDiretorio) {
    m_thread = std::thread([this, sDiretorio] {
      CZelArqMarcaFila marca;
      m_iMarca = marca.Marca(sDiretorio, IZelArqMarcaEnum::VoviDadi, "DF");
      m_bMarcou = true;
      while (!m_bSolta) Sleep(1);
    });
    while (!m_bMarcou) Sleep(1);
  }
  ~IESeguraMarca() {
    m_bSolta = true;
    m_thread.join();
  }
  int m_iMarca = -1;
  std::atomic<bool> m_bMarcou{false}, m_bSolta{false};
  std::thread m_thread;
};
