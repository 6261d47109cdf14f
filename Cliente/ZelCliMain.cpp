// tolvan-cli [--inproc]: JSON lines from standard input to the service and
// back (see Cliente/README.md). Without --inproc the object lives in the
// registered local server; with it, in this process, which must then have
// the class registered in process.
#include <cstring>
#include <iostream>

#include "ZelCli.h"
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
  std::ios::sync_with_stdio(false);
  return ZelCliExecuta(std::cin, std::cout, dwContexto);
}
