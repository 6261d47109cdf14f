// tolvan-cli [--inproc]: JSON lines from standard input to the service and
// back (see Cliente/README.md). Without --inproc the object lives in the
// registered local server; with it, the service class runs in this process.
#include <cstring>
#include <iostream>

#include "ZelCli.h"
#include "ZelDF_IExServico.h"
#include "ZelLocalAtivacao.h"

int main(int argc, char** argv) {
  DWORD dwContexto = CLSCTX_LOCAL_SERVER;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--inproc") == 0) {
      dwContexto = CLSCTX_INPROC_SERVER;
    } else {
      std::cerr << "uso: tolvan-cli [--inproc] < linhas.json\n";
      return 2;
    }
  }
  DWORD dwCookie = 0;
  if (dwContexto == CLSCTX_INPROC_SERVER &&
      CoRegisterClassObject(CLSID_ZelDF_IEx, CZelDF_IEx::Fabrica(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                            &dwCookie) != S_OK) {
    std::cerr << "tolvan-cli: the service class could not be registered in process\n";
    return 3;
  }
  std::ios::sync_with_stdio(false);
  int r = ZelCliExecuta(std::cin, std::cout, dwContexto);
  if (dwCookie != 0) CoRevokeClassObject(dwCookie);
  return r;
}
