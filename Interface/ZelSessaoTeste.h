// Test support: a valid session record for a client of company "EMP", user 1.
#pragma once

#include <cstring>
#include <string>

#include "ZelCrc.h"
#include "ZelDF_IEx.h"

inline _REG_DF_INICIALIZAPS ZelSessaoTeste(UI4 ulSessao, const char* szPrograma) {
  _REG_DF_INICIALIZAPS r{};
  r.ulUsuario = 1;
  r.ulNumeroSessao = ulSessao;
  r.ulLinhaFonte = 1;
  r.usVersaoMorvo = kVersaoMorvo;
  std::strcpy(r.szEmpresa, "EMP");
  std::strcpy(r.szAplicativo, szPrograma);
  std::strcpy(r.szModuleName, szPrograma);
  std::strcpy(r.szArquivoFonte, (std::string(szPrograma) + ".cpp").c_str());
  r.cControle = 'B';
  r.uiCRC = ZelCrc64(&r, kBytesCRCInicializacao);
  return r;
}
