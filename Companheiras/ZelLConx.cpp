#include "ZelLConx.h"

#include <atomic>
#include <cstring>

#include "ZelDiretoriosSuite.h"
#include "ZelRegistro.h"

namespace {
std::atomic<bool> g_bAusente{false};
}

void ZelLConxDefineAusente(bool bAusente) { g_bAusente = bAusente; }

void* ZelLConxProcuraExportacao(const char* szNome) {
  if (g_bAusente || szNome == nullptr) return nullptr;
  if (std::strcmp(szNome, "GetDiretorioDadosModulo") == 0) return reinterpret_cast<void*>(&GetDiretorioDadosModulo);
  if (std::strcmp(szNome, "ZelGetNomeEmpresaLogada") == 0) return reinterpret_cast<void*>(&ZelGetNomeEmpresaLogada);
  return nullptr;
}

int GetDiretorioDadosModulo(int nModulo, const char* szEmpresa, std::string& sDiretorio) {
  sDiretorio.clear();
  if (szEmpresa == nullptr || *szEmpresa == '\0') return 1;
  std::string sChave = std::string(kChaveZelSistemas) + "\\ZelSDataBase\\Empresas\\" + szEmpresa;
  if (ZelRegistro::LeTexto(HKEY_LOCAL_MACHINE, sChave, std::to_string(nModulo), &sDiretorio) != ERROR_SUCCESS) return 2;
  return sDiretorio.empty() ? 3 : 0;
}

std::string ZelGetNomeEmpresaLogada() { return ZelEmpresaLogada(); }
