// The Tolvan server: the local-server host serving the service class. Started
// by the client runtime with "-Embedding" when no server of the user listens,
// or by hand with one of the four registration words; ends once idle.
#include "ZelDF_IExServico.h"
#include "ZelLocalModulo.h"
#include "ZelSistema.h"
#include "ZelTolvanRegistro.h"

namespace {
CZelLocalModulo g_modulo({APPID_Tolvan, LIBID_TOLVANLib, "TOLVANLib", kScriptAplicacaoTolvan},
                         {{CLSID_ZelDF_IEx, &CZelDF_IEx::CriaInstancia, kScriptClasseZelDF_IEx}});
}  // namespace

int main(int argc, char** argv) {
  ZelInstalaRelatorErroServico();
  ZelGuardaMemoriaEntreChamadas();
  return g_modulo.WinMain(argc, argv);
}
