// Test support: a valid session record for a client of company "EMP", user 1,
// and a private place for a server test to run in.
#pragma once

#include <cstring>
#include <filesystem>
#include <string>

#include "ZelCrc.h"
#include "ZelDF_IEx.h"
#include "ZelRegistro.h"

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

// The endpoints' directory and both registry files under sDir, with the
// modules' directory there too, so that a test's server is its own.
inline bool ZelAmbienteServidorTeste(const std::string& sDir) {
  namespace fs = std::filesystem;
  fs::create_directories(sDir + "r");
  fs::permissions(sDir + "r", fs::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", (sDir + "r").c_str(), 1);
  setenv("ZEL_REGISTRO_MAQUINA", (sDir + "maquina.reg").c_str(), 1);
  setenv("ZEL_REGISTRO_USUARIO", (sDir + "usuario.reg").c_str(), 1);
  return ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "DiretorioModulos", sDir) == ERROR_SUCCESS;
}
