// The test server: the local-server host with a class map holding the fake
// object under the service's class identity. When ZEL_SERVIDOR_MARCAS names
// a directory, a server run leaves "<pid>.inicio" there when it starts and
// "<pid>.fim" (holding its result) when it ends, so tests can count servers
// and see them end by themselves.
#include <cstdlib>
#include <fstream>
#include <string>

#include "ZelFalsoIEx.h"
#include "ZelLocalModulo.h"
#include "ZelSistema.h"
#include "ZelTolvanRegistro.h"

namespace {
void Marca(const char* szSufixo, const std::string& sConteudo) {
  const char* szDir = std::getenv("ZEL_SERVIDOR_MARCAS");
  if (szDir == nullptr || *szDir == '\0') return;
  std::string s = std::string(szDir) + "/" + std::to_string(GetCurrentProcessId()) + szSufixo;
  std::ofstream(s + ".tmp") << sConteudo;
  std::rename((s + ".tmp").c_str(), s.c_str());
}

CZelLocalModulo g_modulo({APPID_Tolvan, LIBID_TOLVANLib, "TOLVANLib", kScriptAplicacaoTolvan},
                         {{CLSID_ZelDF_IEx, &CZelFalsoIEx::CriaInstancia, kScriptClasseZelDF_IEx}});
}  // namespace

int main(int argc, char** argv) {
  bool bServidor = ZelLocalPalavraComando(argc, argv) == ZelLocalComando::Nenhum;
  if (bServidor) Marca(".inicio", "");
  int r = g_modulo.WinMain(argc, argv);
  if (bServidor) Marca(".fim", std::to_string(r));
  return r;
}
