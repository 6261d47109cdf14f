// The Tolvan server: the local-server host serving the service class. Started
// by the client runtime with "-Embedding" when no server of the user listens,
// or by hand with one of the four registration words; ends once idle.
#include "ZelDF_IExServico.h"
#include "ZelLocalModulo.h"
#include "ZelLocalSeguranca.h"
#include "ZelProfiler.h"
#include "ZelTolvanRegistro.h"

namespace {
// The runtime's own failures become error lines of the program error file.
void RelataErroRuntime(const char* szFuncao, const char* szArquivo, int nLinha, const char* szExpressao,
                       const char* szVariavel, HRESULT hr) {
  const CZelProfilerEmpresa semEmpresa;
  ZelTraceHR(&semEmpresa, szFuncao, szArquivo, nLinha, szExpressao, szVariavel, hr);
}

CZelLocalModulo g_modulo({APPID_Tolvan, LIBID_TOLVANLib, "TOLVANLib", kScriptAplicacaoTolvan},
                         {{CLSID_ZelDF_IEx, &CZelDF_IEx::CriaInstancia, kScriptClasseZelDF_IEx}});
}  // namespace

int main(int argc, char** argv) {
  ZelLocalDefineRelatorErro(&RelataErroRuntime);
  return g_modulo.WinMain(argc, argv);
}
