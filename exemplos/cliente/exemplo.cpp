// Creates the service object in its local server, asks whether it is alive
// and reads the last error it recorded. Exit status 0 when both calls
// succeed.
#include <cstdio>

#include "ZelClienteIEx.h"
#include "ZelLocalAtivacao.h"

int main() {
  IZelDF_IEx* p = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_ZelDF_IEx, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelDF_IEx,
                                reinterpret_cast<void**>(&p));
  if (FAILED(hr)) {
    std::fprintf(stderr, "CoCreateInstance: 0x%08X\n", static_cast<unsigned>(hr));
    return 1;
  }
  I4 bOk = 0;
  hr = p->KeepAlive(&bOk);
  std::printf("KeepAlive: 0x%08X, %d\n", static_cast<unsigned>(hr), static_cast<int>(bOk));
  _REG_DF_ERROPS erro{};
  HRESULT hrErro = p->GetUltimoErro(&erro);
  std::printf("GetUltimoErro: 0x%08X, \"%s\"\n", static_cast<unsigned>(hrErro), erro.cMensagem);
  p->Release();
  return SUCCEEDED(hr) && bOk == 1 && SUCCEEDED(hrErro) ? 0 : 1;
}
