// IZelDF_IEx between processes: the declarative description of its 24
// methods and of every record they carry, the proxy that client programs
// receive from CoCreateInstance, and the invoker that the server's stub
// calls. Linking this library registers the interface with the runtime.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "ZelDF_IEx.h"
#include "ZelLocalDescricao.h"

// The interface as the runtime carries it.
const ZelLocalInterface& ZelDescricaoIZelDF_IEx();
// Registers the description (idempotent; linking the library already did).
void ZelClienteRegistraInterfaces();

// The parameters of a slot's C++ signature: (size, is a pointer) of each, so
// tests can hold the description against the interface itself.
std::vector<std::pair<size_t, bool>> ZelAssinaturaIZelDF_IEx(uint16_t usSlot);

// Descriptions of the records, for tools that read and write them.
namespace ZelTiposIEx {
extern const ZelLocalTipo kProcesso;
extern const ZelLocalTipo kCampoId;
extern const ZelLocalTipo kInicializa;
extern const ZelLocalTipo kErro;
extern const ZelLocalTipo kListaBytes;
extern const ZelLocalTipo kAlteracao;
extern const ZelLocalTipo kCampo;
extern const ZelLocalTipo kHeader;
extern const ZelLocalTipo kFiltro;
extern const ZelLocalTipo kArrayPonteiros;
extern const ZelLocalTipo kOrigem;
extern const ZelLocalTipo kCampoData;
extern const ZelLocalTipo kVinculo;
extern const ZelLocalTipo kCabecalho;
extern const ZelLocalTipo kVinculoIntegracao;
extern const ZelLocalTipo kListaCabecalhos;
extern const ZelLocalTipo kListaVinculos;
}  // namespace ZelTiposIEx
