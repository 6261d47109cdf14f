// The payload of a call frame, as the server's stub takes it from a peer:
// the slot, then the [in] parameters. Whatever the stub accepts it must
// answer without reading or allocating beyond what the request allows.
#include <cstdint>
#include <cstring>

#include "ZelClienteIEx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pDados, size_t nDados) {
  if (nDados < 2) return 0;
  uint16_t usSlot;
  std::memcpy(&usSlot, pDados, 2);
  const ZelLocalMetodo* m = ZelDescricaoIZelDF_IEx().Metodo(usSlot);
  if (m == nullptr) return 0;
  CZelLocalLeitor l(pDados + 2, nDados - 2);
  CZelLocalChamadaStub stub(*m);
  if (SUCCEEDED(stub.LeEntrada(l))) {
    CZelLocalEscritor e;
    stub.EscreveSaida(S_OK, e);
  }
  return 0;
}
