// Frames and peers written by hand, as a hostile peer would.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "ZelLocalTransporte.h"

// A frame header as it travels.
inline std::string ZelCabecalhoTeste(uint32_t ulTamanho, ZelLocalTipoQuadro eTipo = ZelLocalTipoQuadro::Ativa,
                                     uint32_t ulMagico = kZelLocalMagico, uint16_t usVersao = kZelLocalVersao,
                                     uint32_t ulId = 0) {
  std::string s(16, '\0');
  const auto usTipo = static_cast<uint16_t>(eTipo);
  std::memcpy(&s[0], &ulMagico, 4);
  std::memcpy(&s[4], &usVersao, 2);
  std::memcpy(&s[6], &usTipo, 2);
  std::memcpy(&s[8], &ulId, 4);
  std::memcpy(&s[12], &ulTamanho, 4);
  return s;
}

// Asks for an object over a connected peer: the server's answer, or why there was none.
inline HRESULT ZelAtivaTeste(CZelLocalSocket& s, REFCLSID clsid, REFIID iid) {
  CZelLocalEscritor e;
  e.Guid(clsid);
  e.Guid(iid);
  // A refused peer may find the connection closed when it sends; the answer still waits.
  s.EnviaQuadro(ZelLocalTipoQuadro::Ativa, 0, e.Dados());
  ZelLocalQuadro q;
  HRESULT hr = s.RecebeQuadro(&q);
  if (hr != S_OK) return hr;
  if (q.dados.size() != 4) return RPC_X_BAD_STUB_DATA;
  std::memcpy(&hr, q.dados.data(), 4);
  return hr;
}

// An error line, its fields joined by '|'; the source line only when given, as it moves.
inline std::string ZelLinhaErroTeste(const char* szFuncao, const char* szArquivo, const char* szExpressao,
                                     const char* szVariavel, HRESULT hr, int nLinha = -1) {
  char szHr[16];
  std::snprintf(szHr, sizeof szHr, "%08X", static_cast<unsigned>(hr));
  return std::string(szFuncao) + "|" + szArquivo + "|" + (nLinha < 0 ? "" : std::to_string(nLinha) + "|") +
         szExpressao + "|" + szVariavel + "|" + szHr;
}
