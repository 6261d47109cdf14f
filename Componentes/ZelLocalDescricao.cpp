#include "ZelLocalDescricao.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

const ZelLocalCampo* ZelLocalTipo::Campo(const char* szNome) const {
  for (const auto& c : campos)
    if (std::strcmp(c.szNome, szNome) == 0) return &c;
  return nullptr;
}

namespace {
void MontaPlano(const ZelLocalTipo& t, uint32_t ulBase, std::vector<uint8_t>& zerar, ZelLocalPlano& plano) {
  std::vector<uint8_t> coberto(t.ulTamanho, 0);
  for (const auto& c : t.campos) {
    const uint32_t ulFim = std::min(t.ulTamanho, c.ulOffset + c.ulTamanho);
    for (uint32_t b = c.ulOffset; b < ulFim; ++b) coberto[b] = 1;
  }
  for (uint32_t b = 0; b < t.ulTamanho; ++b)
    if (coberto[b] == 0) zerar[ulBase + b] = 1;
  for (const auto& c : t.campos) {
    if (c.eTipo == ZelLocalTipoValor::Registro) {
      MontaPlano(*c.pTipo, ulBase + c.ulOffset, zerar, plano);
    } else if (c.eTipo == ZelLocalTipoValor::Array || c.eTipo == ZelLocalTipoValor::Reservado) {
      for (uint32_t b = 0; b < sizeof(void*); ++b) zerar[ulBase + c.ulOffset + b] = 1;
      if (c.eTipo == ZelLocalTipoValor::Reservado) continue;
      const ZelLocalCampo* pContagem = c.szContagem != nullptr ? t.Campo(c.szContagem) : nullptr;
      uint8_t nBytes = 0;
      if (pContagem != nullptr)
        nBytes = pContagem->eTipo == ZelLocalTipoValor::U16 || pContagem->eTipo == ZelLocalTipoValor::I16 ? 2 : 4;
      plano.arrays.push_back({ulBase + c.ulOffset, ulBase + (pContagem != nullptr ? pContagem->ulOffset : 0), nBytes,
                              c.pTipo});
    }
  }
}
}  // namespace

const ZelLocalPlano& ZelLocalTipo::Plano() const {
  if (bPlanoPronto.load(std::memory_order_acquire)) return plano;
  std::call_once(onceFlagPlano, [this] {
    std::vector<uint8_t> zerar(ulTamanho, 0);
    MontaPlano(*this, 0, zerar, plano);
    for (uint32_t b = 0; b < ulTamanho; ++b) {
      if (zerar[b] == 0) continue;
      uint32_t ulFim = b;
      while (ulFim < ulTamanho && zerar[ulFim] != 0) ++ulFim;
      plano.zeros.emplace_back(b, ulFim - b);
      b = ulFim;
    }
    bPlanoPronto.store(true, std::memory_order_release);
  });
  return plano;
}

const ZelLocalMetodo* ZelLocalInterface::Metodo(uint16_t usSlot) const {
  for (const auto& m : metodos)
    if (m.usSlot == usSlot) return &m;
  return nullptr;
}

const ZelLocalMetodo* ZelLocalInterface::Metodo(const std::string& sNome) const {
  for (const auto& m : metodos)
    if (sNome == m.szNome) return &m;
  return nullptr;
}

namespace {
std::mutex g_mutexInterfaces;
std::vector<const ZelLocalInterface*>& Interfaces() {
  static std::vector<const ZelLocalInterface*> v;
  return v;
}
}  // namespace

void ZelLocalRegistraInterface(const ZelLocalInterface* p) {
  std::lock_guard<std::mutex> trava(g_mutexInterfaces);
  for (auto& q : Interfaces())
    if (q->iid == p->iid) {
      q = p;
      return;
    }
  Interfaces().push_back(p);
}

const ZelLocalInterface* ZelLocalBuscaInterface(REFIID iid) {
  std::lock_guard<std::mutex> trava(g_mutexInterfaces);
  for (auto* q : Interfaces())
    if (q->iid == iid) return q;
  return nullptr;
}

uint32_t ZelLocalContagem(const ZelLocalTipo& t, const uint8_t* p, const ZelLocalCampo& array) {
  const ZelLocalCampo* c = t.Campo(array.szContagem);
  if (c == nullptr) return 0;
  if (c->eTipo == ZelLocalTipoValor::U16 || c->eTipo == ZelLocalTipoValor::I16) {
    uint16_t v;
    std::memcpy(&v, p + c->ulOffset, 2);
    return v;
  }
  uint32_t v;
  std::memcpy(&v, p + c->ulOffset, 4);
  return v;
}

void ZelLocalGravaContagem(const ZelLocalTipo& t, uint8_t* p, const ZelLocalCampo& array, uint32_t n) {
  const ZelLocalCampo* c = t.Campo(array.szContagem);
  if (c == nullptr) return;
  if (c->eTipo == ZelLocalTipoValor::U16 || c->eTipo == ZelLocalTipoValor::I16) {
    auto v = static_cast<uint16_t>(n);
    std::memcpy(p + c->ulOffset, &v, 2);
  } else {
    std::memcpy(p + c->ulOffset, &n, 4);
  }
}

namespace {

uint8_t* LePonteiro(const uint8_t* p) {
  uint8_t* q;
  std::memcpy(&q, p, sizeof q);
  return q;
}
void GravaPonteiro(uint8_t* p, const void* q) { std::memcpy(p, &q, sizeof q); }

// Clears what must not travel: pointers, and bytes that no field covers
// (alignment padding), so that whatever lay in the sender's memory never
// reaches its peer.
void Limpa(const ZelLocalPlano& plano, uint8_t* p) {
  for (const auto& [ulOffset, ulTamanho] : plano.zeros) std::memset(p + ulOffset, 0, ulTamanho);
}

uint32_t Contagem(const ZelLocalPlano::Array& a, const uint8_t* p) {
  if (a.nBytesContagem == 2) {
    uint16_t v;
    std::memcpy(&v, p + a.ulContagem, 2);
    return v;
  }
  uint32_t v = 0;
  if (a.nBytesContagem == 4) std::memcpy(&v, p + a.ulContagem, 4);
  return v;
}

void EscreveValor(const ZelLocalTipo& t, const uint8_t* p, CZelLocalEscritor& e);

// Scalars travel as they lie, in one piece.
void EscreveValores(const ZelLocalTipo& t, const uint8_t* p, uint32_t n, CZelLocalEscritor& e) {
  if (!t.EhRegistro()) {
    e.Acrescenta(p, size_t{n} * t.ulTamanho);
    return;
  }
  for (uint32_t k = 0; k < n; ++k) EscreveValor(t, p + size_t{k} * t.ulTamanho, e);
}

void EscreveValor(const ZelLocalTipo& t, const uint8_t* p, CZelLocalEscritor& e) {
  uint8_t* d = e.Acrescenta(p, t.ulTamanho);
  if (!t.EhRegistro()) return;
  const ZelLocalPlano& plano = t.Plano();
  Limpa(plano, d);
  for (const auto& a : plano.arrays) {
    const uint8_t* q = LePonteiro(p + a.ulPonteiro);
    e.U8(q != nullptr);
    if (q == nullptr) continue;
    EscreveValores(*a.pElemento, q, Contagem(a, p), e);
  }
}

// Blocks for values read from the wire, which fill them whole.
class Alocador {
 public:
  virtual ~Alocador() = default;
  virtual uint8_t* Aloca(size_t n) = 0;
};

bool LeValor(const ZelLocalTipo& t, uint8_t* p, CZelLocalLeitor& l, Alocador& a);

bool LeValores(const ZelLocalTipo& t, uint8_t* p, uint32_t n, CZelLocalLeitor& l, Alocador& a) {
  if (!t.EhRegistro()) return l.Bytes(p, size_t{n} * t.ulTamanho);
  for (uint32_t k = 0; k < n; ++k)
    if (!LeValor(t, p + size_t{k} * t.ulTamanho, l, a)) return false;
  return true;
}

bool LeValor(const ZelLocalTipo& t, uint8_t* p, CZelLocalLeitor& l, Alocador& a) {
  if (!l.Bytes(p, t.ulTamanho)) return false;
  if (!t.EhRegistro()) return true;
  const ZelLocalPlano& plano = t.Plano();
  Limpa(plano, p);
  for (const auto& array : plano.arrays) {
    uint8_t bPresente = 0;
    if (!l.U8(&bPresente) || bPresente > 1) return false;
    if (bPresente == 0) continue;
    const ZelLocalTipo& elem = *array.pElemento;
    const uint32_t n = Contagem(array, p);
    if (n > l.Restante() / elem.ulTamanho) return false;
    // Counted texts get a terminator, so that code reading them as C strings
    // stays inside the block.
    const bool bTexto = elem.eEscalar == ZelLocalTipoValor::Caractere;
    const size_t nBytes = size_t{n} * elem.ulTamanho;
    uint8_t* q = a.Aloca(nBytes + (bTexto ? 1 : 0));
    if (q == nullptr) return false;
    GravaPonteiro(p + array.ulPonteiro, q);
    if (!LeValores(elem, q, n, l, a)) return false;
    if (bTexto) q[nBytes] = 0;
  }
  return true;
}

uint32_t Valor32(void* const* ap, int i) {
  uint32_t v;
  std::memcpy(&v, ap[i], 4);
  return v;
}

void* PonteiroDoArgumento(void* const* ap, size_t i) { return *static_cast<void* const*>(ap[i]); }

uint64_t BytesSaida(const ZelLocalMetodo& m, void* const* ap);

class AlocadorCliente : public Alocador {
 public:
  uint8_t* Aloca(size_t n) override {
    auto* p = static_cast<uint8_t*>(CoTaskMemAlloc(n));
    if (p != nullptr) m_blocos.push_back(p);
    return p;
  }
  void Desfaz() {
    for (void* p : m_blocos) CoTaskMemFree(p);
    m_blocos.clear();
  }

 private:
  std::vector<void*> m_blocos;
};

}  // namespace

namespace {
uint64_t BytesSaida(const ZelLocalMetodo& m, void* const* ap) {
  uint64_t n = 0;
  for (const auto& par : m.parametros)
    if (par.eForma == ZelLocalForma::Array && !par.Entra()) n += uint64_t{Valor32(ap, par.iContagem)} * par.pTipo->ulTamanho;
  return n;
}

}  // namespace

HRESULT ZelLocalEscreveEntrada(const ZelLocalMetodo& m, void* const* ap, CZelLocalEscritor& e) {
  for (size_t i = 0; i < m.parametros.size(); ++i) {
    const ZelLocalParametro& par = m.parametros[i];
    if (par.eForma == ZelLocalForma::Valor) continue;
    if (par.Sai() && PonteiroDoArgumento(ap, i) == nullptr) return RPC_X_NULL_REF_POINTER;
  }
  if (BytesSaida(m, ap) > kZelLocalMaxSaidaChamada) return E_INVALIDARG;
  for (size_t i = 0; i < m.parametros.size(); ++i) {
    const ZelLocalParametro& par = m.parametros[i];
    if (par.eForma == ZelLocalForma::PonteiroDuplo) *static_cast<void**>(PonteiroDoArgumento(ap, i)) = nullptr;
    if (!par.Entra()) continue;
    const ZelLocalTipo& t = *par.pTipo;
    switch (par.eForma) {
      case ZelLocalForma::Valor:
        EscreveValor(t, static_cast<const uint8_t*>(ap[i]), e);
        break;
      case ZelLocalForma::Ponteiro: {
        auto* p = static_cast<const uint8_t*>(PonteiroDoArgumento(ap, i));
        if (!par.Sai()) e.U8(p != nullptr);
        if (p != nullptr) EscreveValor(t, p, e);
        break;
      }
      case ZelLocalForma::Array: {
        auto* p = static_cast<const uint8_t*>(PonteiroDoArgumento(ap, i));
        uint32_t n = Valor32(ap, par.iContagem);
        e.U8(p != nullptr);
        if (p == nullptr) break;
        e.U32(n);
        EscreveValores(t, p, n, e);
        break;
      }
      case ZelLocalForma::PonteiroDuplo:
        break;
    }
  }
  return S_OK;
}

namespace {
// Zeroes what a failed unmarshal may have written, so that the caller never
// sees pointers to freed blocks.
void LimpaSaidas(const ZelLocalMetodo& m, void* const* ap) {
  for (size_t i = 0; i < m.parametros.size(); ++i) {
    const ZelLocalParametro& par = m.parametros[i];
    if (!par.Sai()) continue;
    void* p = PonteiroDoArgumento(ap, i);
    if (p == nullptr) continue;
    if (par.eForma == ZelLocalForma::Ponteiro) std::memset(p, 0, par.pTipo->ulTamanho);
    if (par.eForma == ZelLocalForma::Array) std::memset(p, 0, size_t{Valor32(ap, par.iContagem)} * par.pTipo->ulTamanho);
    if (par.eForma == ZelLocalForma::PonteiroDuplo) *static_cast<void**>(p) = nullptr;
  }
}
}  // namespace

HRESULT ZelLocalLeSaida(const ZelLocalMetodo& m, void* const* ap, CZelLocalLeitor& l) {
  uint32_t ulHr = 0;
  uint8_t bSaidas = 0;
  if (!l.U32(&ulHr) || !l.U8(&bSaidas) || bSaidas > 1) return RPC_X_BAD_STUB_DATA;
  auto hr = static_cast<HRESULT>(ulHr);
  if (bSaidas == 0) {
    if (!l.Fim()) return RPC_X_BAD_STUB_DATA;
    for (size_t i = 0; i < m.parametros.size(); ++i)
      if (m.parametros[i].eForma == ZelLocalForma::PonteiroDuplo)
        *static_cast<void**>(PonteiroDoArgumento(ap, i)) = nullptr;
    return hr;
  }
  AlocadorCliente a;
  bool bOk = true;
  for (size_t i = 0; i < m.parametros.size() && bOk; ++i) {
    const ZelLocalParametro& par = m.parametros[i];
    if (!par.Sai()) continue;
    const ZelLocalTipo& t = *par.pTipo;
    auto* p = static_cast<uint8_t*>(PonteiroDoArgumento(ap, i));
    switch (par.eForma) {
      case ZelLocalForma::Valor:
        break;
      case ZelLocalForma::Ponteiro:
        bOk = LeValor(t, p, l, a);
        break;
      case ZelLocalForma::Array: {
        uint32_t n = 0;
        bOk = l.U32(&n) && n == Valor32(ap, par.iContagem) && LeValores(t, p, n, l, a);
        break;
      }
      case ZelLocalForma::PonteiroDuplo: {
        uint8_t bPresente = 0;
        bOk = l.U8(&bPresente) && bPresente <= 1;
        uint8_t* q = nullptr;
        if (bOk && bPresente == 1) {
          q = a.Aloca(t.ulTamanho);
          bOk = q != nullptr && LeValor(t, q, l, a);
        }
        *reinterpret_cast<uint8_t**>(p) = q;
        break;
      }
    }
  }
  if (!bOk || !l.Fim()) {
    LimpaSaidas(m, ap);
    a.Desfaz();
    return RPC_X_BAD_STUB_DATA;
  }
  return hr;
}

class CZelLocalChamadaStub::Arena : public Alocador {
 public:
  ~Arena() override {
    for (void* p : m_blocos) std::free(p);
  }
  uint8_t* Aloca(size_t n) override {
    void* p = std::calloc(n == 0 ? 1 : n, 1);
    if (p != nullptr) m_blocos.push_back(p);
    return static_cast<uint8_t*>(p);
  }
  bool Possui(const void* p) const {
    for (void* q : m_blocos)
      if (q == p) return true;
    return false;
  }

 private:
  std::vector<void*> m_blocos;
};

CZelLocalChamadaStub::CZelLocalChamadaStub(const ZelLocalMetodo& m) : m_metodo(m) {}

HRESULT CZelLocalChamadaStub::LeEntrada(CZelLocalLeitor& l) {
  m_pArena = std::make_unique<Arena>();
  Arena& a = *m_pArena;
  const auto& pars = m_metodo.parametros;
  m_ap.assign(pars.size(), nullptr);
  std::vector<int64_t> nRecebidos(pars.size(), -1);
  for (size_t i = 0; i < pars.size(); ++i) {
    const ZelLocalParametro& par = pars[i];
    const ZelLocalTipo& t = *par.pTipo;
    if (par.eForma == ZelLocalForma::Valor) {
      uint8_t* p = a.Aloca(t.ulTamanho);
      if (p == nullptr || !LeValor(t, p, l, a)) return RPC_X_BAD_STUB_DATA;
      m_ap[i] = p;
      continue;
    }
    // Pointer-shaped parameters: ap[i] addresses a pointer variable.
    auto** pp = reinterpret_cast<uint8_t**>(a.Aloca(sizeof(void*)));
    if (pp == nullptr) return RPC_X_BAD_STUB_DATA;
    m_ap[i] = pp;
    if (par.eForma == ZelLocalForma::PonteiroDuplo) {
      *pp = a.Aloca(sizeof(void*));  // the callee's pointer variable, null until it allocates
      if (*pp == nullptr) return RPC_X_BAD_STUB_DATA;
    } else if (par.eForma == ZelLocalForma::Ponteiro) {
      uint8_t bPresente = 1;
      if (!par.Sai() && (!l.U8(&bPresente) || bPresente > 1)) return RPC_X_BAD_STUB_DATA;
      if (bPresente == 0) continue;
      *pp = a.Aloca(t.ulTamanho);
      if (*pp == nullptr || (par.Entra() && !LeValor(t, *pp, l, a))) return RPC_X_BAD_STUB_DATA;
    } else if (par.eForma == ZelLocalForma::Array && par.Entra()) {
      uint8_t bPresente = 0;
      if (!l.U8(&bPresente) || bPresente > 1) return RPC_X_BAD_STUB_DATA;
      // The callee writes an [in,out] array back: it cannot be absent.
      if (bPresente == 0 && par.Sai()) return RPC_X_BAD_STUB_DATA;
      if (bPresente == 0) continue;
      uint32_t n = 0;
      if (!l.U32(&n) || n > l.Restante() / t.ulTamanho) return RPC_X_BAD_STUB_DATA;
      nRecebidos[i] = n;
      *pp = a.Aloca(size_t{n} * t.ulTamanho);
      if (*pp == nullptr) return RPC_X_BAD_STUB_DATA;
      if (!LeValores(t, *pp, n, l, a)) return RPC_X_BAD_STUB_DATA;
    }
  }
  if (!l.Fim()) return RPC_X_BAD_STUB_DATA;
  // Counts are known now: [in] arrays must agree with them, [out] arrays are
  // sized by them within what one call may allocate.
  for (const auto& par : pars)
    if (par.eForma == ZelLocalForma::Array && (par.iContagem < 0 || static_cast<size_t>(par.iContagem) >= pars.size()))
      return RPC_X_BAD_STUB_DATA;
  if (BytesSaida(m_metodo, m_ap.data()) > kZelLocalMaxSaidaChamada) return RPC_X_BAD_STUB_DATA;
  for (size_t i = 0; i < pars.size(); ++i) {
    const ZelLocalParametro& par = pars[i];
    if (par.eForma != ZelLocalForma::Array) continue;
    if (par.iContagem < 0 || static_cast<size_t>(par.iContagem) >= pars.size()) return RPC_X_BAD_STUB_DATA;
    uint32_t n = Valor32(m_ap.data(), par.iContagem);
    if (par.Entra()) {
      if (nRecebidos[i] >= 0 && nRecebidos[i] != n) return RPC_X_BAD_STUB_DATA;
    } else {
      auto** pp = static_cast<uint8_t**>(m_ap[i]);
      *pp = a.Aloca(size_t{n} * par.pTipo->ulTamanho);
      if (*pp == nullptr) return RPC_X_BAD_STUB_DATA;
    }
  }
  m_bCompleta = true;
  return S_OK;
}

void ZelLocalEscreveSoResultado(HRESULT hr, CZelLocalEscritor& e) {
  e.U32(static_cast<uint32_t>(hr));
  e.U8(0);
}

void CZelLocalChamadaStub::EscreveSaida(HRESULT hr, CZelLocalEscritor& e) {
  e.U32(static_cast<uint32_t>(hr));
  e.U8(1);
  const auto& pars = m_metodo.parametros;
  for (size_t i = 0; i < pars.size(); ++i) {
    const ZelLocalParametro& par = pars[i];
    if (!par.Sai()) continue;
    const ZelLocalTipo& t = *par.pTipo;
    auto* p = *static_cast<uint8_t**>(m_ap[i]);
    switch (par.eForma) {
      case ZelLocalForma::Valor:
        break;
      case ZelLocalForma::Ponteiro:
        EscreveValor(t, p, e);
        break;
      case ZelLocalForma::Array: {
        uint32_t n = Valor32(m_ap.data(), par.iContagem);
        e.U32(n);
        EscreveValores(t, p, n, e);
        break;
      }
      case ZelLocalForma::PonteiroDuplo: {
        uint8_t* q = LePonteiro(p);
        e.U8(q != nullptr);
        if (q != nullptr) EscreveValor(t, q, e);
        break;
      }
    }
  }
}

namespace {
// Frees the blocks the object allocated inside a value; blocks of the call's
// own storage stay for the arena.
void LiberaArrays(const ZelLocalTipo& t, uint8_t* p, const CZelLocalChamadaStub::Arena& a) {
  for (const auto& array : t.Plano().arrays) {
    uint8_t* q = LePonteiro(p + array.ulPonteiro);
    if (q == nullptr) continue;
    const ZelLocalTipo& elem = *array.pElemento;
    if (elem.EhRegistro()) {
      const uint32_t n = Contagem(array, p);
      for (uint32_t k = 0; k < n; ++k) LiberaArrays(elem, q + size_t{k} * elem.ulTamanho, a);
    }
    if (!a.Possui(q)) CoTaskMemFree(q);
    GravaPonteiro(p + array.ulPonteiro, nullptr);
  }
}
}  // namespace

CZelLocalChamadaStub::~CZelLocalChamadaStub() {
  if (!m_bCompleta) return;
  const auto& pars = m_metodo.parametros;
  for (size_t i = 0; i < pars.size() && i < m_ap.size(); ++i) {
    const ZelLocalParametro& par = pars[i];
    if (!par.Sai() || m_ap[i] == nullptr) continue;
    auto* p = *static_cast<uint8_t**>(m_ap[i]);
    if (par.eForma == ZelLocalForma::PonteiroDuplo) p = LePonteiro(p);
    if (p == nullptr) continue;
    if (!par.pTipo->EhRegistro()) {
      if (par.eForma == ZelLocalForma::PonteiroDuplo && !m_pArena->Possui(p)) CoTaskMemFree(p);
      continue;
    }
    size_t n = 1;
    if (par.eForma == ZelLocalForma::Array) n = Valor32(m_ap.data(), par.iContagem);
    for (size_t k = 0; k < n; ++k) LiberaArrays(*par.pTipo, p + k * par.pTipo->ulTamanho, *m_pArena);
    if (par.eForma == ZelLocalForma::PonteiroDuplo && !m_pArena->Possui(p)) CoTaskMemFree(p);
  }
}
