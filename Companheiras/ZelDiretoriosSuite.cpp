#include "ZelDiretoriosSuite.h"

#include "ZelRegistro.h"
#include "ZelSistema.h"

namespace {
std::string ComBarra(std::string s) {
  if (!s.empty() && s.back() != '/') s += '/';
  return s;
}
}  // namespace

std::string ZelDiretorioModulos() {
  std::string s = ZelLeTextoZel("DiretorioModulos");
  if (s.empty()) {
    s = ZelCaminhoPrograma();
    s.erase(s.find_last_of('/') + 1);
  }
  return ComBarra(s);
}

std::string ZelDiretorioDadosEmpresa(const std::string& sEmpresa) {
  if (sEmpresa.empty()) return {};
  std::string s;
  if (ZelRegistro::LeTexto(HKEY_LOCAL_MACHINE, std::string(kChaveZelSistemas) + "\\Empresas\\" + sEmpresa, "DF", &s) !=
      ERROR_SUCCESS)
    return {};
  return ComBarra(s);
}

std::string ZelEmpresaLogada() { return ZelLeTextoZel("EmpresaLogada"); }
