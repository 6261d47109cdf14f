// Declarative description of an interface's methods and records, and the one
// engine that marshals any method from it: proxies and stubs never hold
// per-method code. A record is described by its size and the fields that
// matter to marshalling or to tools (counted arrays, nested records, pointers
// that carry no meaning); its remaining bytes travel as they are.
//
// Wire form of a value: its bytes with every pointer zeroed, then for each
// counted array (depth first, in field order) a presence byte and, when
// present, the elements the count field gives. Every count read from a peer
// is checked against the bytes that remain in its frame before anything is
// allocated, so a peer can never make the receiver allocate more than the
// frame it sent.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ZelCom.h"
#include "ZelLocalTransporte.h"

enum class ZelLocalTipoValor : uint8_t {
  U8,
  U16,
  I16,
  U32,
  I32,
  U64,
  Enum,       // 32-bit enumeration
  Caractere,  // one Windows-1252 character (element of a counted text)
  Texto,      // NUL-terminated character array of fixed size
  Bytes,      // opaque byte array of fixed size
  Registro,   // nested record
  Array,      // pointer to elements counted by a sibling field
  Reservado,  // pointer without meaning: null on the wire
};

struct ZelLocalTipo;

struct ZelLocalCampo {
  const char* szNome;
  uint32_t ulOffset;
  ZelLocalTipoValor eTipo;
  uint32_t ulTamanho;                    // bytes the field occupies
  const ZelLocalTipo* pTipo = nullptr;   // Registro: the record; Array: the element
  const char* szContagem = nullptr;      // Array: the sibling field holding the count
};

// What marshalling does to every value of a record, worked out once from its
// description: the bytes to clear (pointers and padding, nested records
// included) and its counted arrays in wire order.
struct ZelLocalPlano {
  struct Array {
    uint32_t ulPonteiro;      // offset of the pointer in the outer record
    uint32_t ulContagem;      // offset of its count
    uint8_t nBytesContagem;   // 2 or 4; 0 when the record names no count field
    const ZelLocalTipo* pElemento;
  };
  std::vector<std::pair<uint32_t, uint32_t>> zeros;  // offset, length; sorted, disjoint
  std::vector<Array> arrays;
};

struct ZelLocalTipo {
  const char* szNome;
  uint32_t ulTamanho;
  ZelLocalTipoValor eEscalar;         // kind of a scalar type (no fields)
  std::vector<ZelLocalCampo> campos;  // fields of a record
  std::vector<std::pair<const char*, int32_t>> enumeradores;  // Enum: named values
  bool EhRegistro() const { return !campos.empty(); }
  const ZelLocalCampo* Campo(const char* szNome) const;
  const ZelLocalPlano& Plano() const;

  mutable std::once_flag onceFlagPlano{};
  // call_once costs a call on every use; every value marshalled asks.
  mutable std::atomic<bool> bPlanoPronto{false};
  mutable ZelLocalPlano plano{};
};

// The count of an Array field of the record at p.
uint32_t ZelLocalContagem(const ZelLocalTipo& registro, const uint8_t* p, const ZelLocalCampo& array);
void ZelLocalGravaContagem(const ZelLocalTipo& registro, uint8_t* p, const ZelLocalCampo& array, uint32_t n);

enum class ZelLocalDirecao : uint8_t { Entrada = 1, Saida = 2, EntradaSaida = 3 };
enum class ZelLocalForma : uint8_t {
  Valor,          // passed by value
  Ponteiro,       // pointer to one value ([in] pointers may be null)
  Array,          // pointer to the elements another parameter counts
  PonteiroDuplo,  // [out] pointer to a pointer the callee allocates
};

struct ZelLocalParametro {
  const char* szNome;
  ZelLocalDirecao eDirecao;
  ZelLocalForma eForma;
  const ZelLocalTipo* pTipo;
  int iContagem = -1;  // Array: index of the counting parameter (a 32-bit value)

  bool Entra() const { return (static_cast<int>(eDirecao) & 1) != 0; }
  bool Sai() const { return (static_cast<int>(eDirecao) & 2) != 0; }
};

struct ZelLocalMetodo {
  uint16_t usSlot;
  const char* szNome;
  std::vector<ZelLocalParametro> parametros;
};

class CZelLocalCanalCliente;

struct ZelLocalInterface {
  IID iid;
  const char* szNome;
  std::vector<ZelLocalMetodo> metodos;
  // Server: calls the method of that slot on the interface pointer with the
  // addresses of its arguments.
  HRESULT (*pfInvoca)(void* pInterface, uint16_t usSlot, void* const* ap);
  // Client: a proxy over the channel, returned with one reference.
  IUnknown* (*pfCriaProxy)(std::shared_ptr<CZelLocalCanalCliente> canal);

  const ZelLocalMetodo* Metodo(uint16_t usSlot) const;
  const ZelLocalMetodo* Metodo(const std::string& sNome) const;
};

// Interfaces the runtime can carry between processes. Registration keeps the
// pointer; the description must outlive the process's use of it.
void ZelLocalRegistraInterface(const ZelLocalInterface* pInterface);
const ZelLocalInterface* ZelLocalBuscaInterface(REFIID iid);

// ---- Client side ----

// Marshals the [in] side of a call. RPC_X_NULL_REF_POINTER for a null [out]
// or [in,out] pointer; E_INVALIDARG when an [out] array could never fit in a
// reply. A null [out] pointer-to-pointer target is set to null first.
HRESULT ZelLocalEscreveEntrada(const ZelLocalMetodo& m, void* const* ap, CZelLocalEscritor& e);
// Unmarshals a reply into the caller's memory, [out] arrays allocated with
// CoTaskMemAlloc, one block per array. Returns the call's result, or
// RPC_X_BAD_STUB_DATA for a malformed reply (nothing is then kept).
HRESULT ZelLocalLeSaida(const ZelLocalMetodo& m, void* const* ap, CZelLocalLeitor& l);

// ---- Server side ----

// The arguments of one call received by a stub, with their storage. Its
// destructor frees the storage and every block the object allocated in the
// [out] parameters (they were copied to the reply).
class CZelLocalChamadaStub {
 public:
  explicit CZelLocalChamadaStub(const ZelLocalMetodo& m);
  ~CZelLocalChamadaStub();
  CZelLocalChamadaStub(const CZelLocalChamadaStub&) = delete;
  CZelLocalChamadaStub& operator=(const CZelLocalChamadaStub&) = delete;

  // RPC_X_BAD_STUB_DATA when the request is malformed, inconsistent or asks
  // for more than a reply can carry.
  HRESULT LeEntrada(CZelLocalLeitor& l);
  void* const* Argumentos() const { return m_ap.data(); }
  // The reply: result and every [out] and [in,out] parameter.
  void EscreveSaida(HRESULT hr, CZelLocalEscritor& e);

  class Arena;

 private:
  const ZelLocalMetodo& m_metodo;
  std::vector<void*> m_ap;
  std::unique_ptr<Arena> m_pArena;
  bool m_bCompleta = false;  // the arguments were all read
};

// A reply carrying only a result (the request could not be served).
void ZelLocalEscreveSoResultado(HRESULT hr, CZelLocalEscritor& e);
