// Bytes a peer sends on a connection, through the transport's frame reader:
// the first byte chooses the size cap (a peer not yet activated, or one
// that is), the rest arrives on the socket. Frames are read until the reader
// refuses or the bytes end; nothing may be read or kept beyond them.
#include <sys/socket.h>

#include <cstdint>
#include <cstdlib>

#include "ZelLocalTransporte.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pDados, size_t nDados) {
  if (nDados < 1 || nDados > 60000) return 0;  // within one socket buffer
  const uint32_t ulMax = (pDados[0] & 1) != 0 ? kZelLocalTamanhoAtivacao : kZelLocalMaxQuadro;
  CZelLocalSocket a, b;
  if (FAILED(ZelLocalParSockets(&a, &b))) return 0;
  if (nDados > 1 && FAILED(a.EnviaBytes(pDados + 1, nDados - 1))) std::abort();
  a.Fecha();
  size_t nLidos = 0;
  ZelLocalQuadro q;
  HRESULT hr;
  while ((hr = b.RecebeQuadro(&q, ulMax)) == S_OK) {
    nLidos += kZelLocalTamanhoCabecalho + q.dados.size();
    if (q.dados.size() > ulMax || nLidos > nDados - 1) std::abort();
    if (q.dados.capacity() > q.dados.size() + kZelLocalPedacoLeitura) std::abort();
  }
  if (hr == S_FALSE && nLidos != nDados - 1) std::abort();  // an orderly end only between frames
  // A frame announced larger than what came costs only what came.
  if (q.dados.capacity() > nDados + kZelLocalPedacoLeitura) std::abort();
  return 0;
}
