// Test support: a class whose objects hold a module lock and answer only
// IUnknown and one empty interface, registered with the runtime so that it
// can be activated locally.
#pragma once

#include <atomic>

#include "ZelLocalDescricao.h"
#include "ZelLocalModulo.h"

inline constexpr CLSID kClsidTesteLocal = {0x5E1F0C2A, 0x7B3D, 0x4E55, {0x9A, 0x01, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}};
inline constexpr IID kIidTesteLocal = {0x5E1F0C2B, 0x7B3D, 0x4E55, {0x9A, 0x01, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}};

class CZelObjetoTesteLocal final : public T_ZelObjetoCom<IUnknown, kIidTesteLocal> {
 public:
  static HRESULT CriaInstancia(REFIID riid, void** ppv) {
    auto* p = new CZelObjetoTesteLocal;
    HRESULT hr = p->QueryInterface(riid, ppv);
    p->Release();
    return hr;
  }

 private:
  ~CZelObjetoTesteLocal() override = default;
  CZelLocalTravaModulo m_trava;
};

// The class factory of a class-map entry, for tests without a module; a test
// may give it another way of creating its objects.
class CZelFabricaTesteLocal final : public IClassFactory {
 public:
  using Cria = HRESULT (*)(REFIID riid, void** ppv);
  explicit CZelFabricaTesteLocal(Cria pfCria = &CZelObjetoTesteLocal::CriaInstancia) : m_pfCria(pfCria) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }  // static lifetime
  HRESULT CreateInstance(IUnknown*, REFIID riid, void** ppv) override { return m_pfCria(riid, ppv); }
  HRESULT LockServer(BOOL) override { return S_OK; }

 private:
  Cria m_pfCria;
};

inline void ZelRegistraInterfaceTesteLocal() {
  static const ZelLocalInterface d{kIidTesteLocal, "ITesteLocal", {},
                                   [](void*, uint16_t, void* const*) { return E_NOTIMPL; },
                                   [](std::shared_ptr<CZelLocalCanalCliente>) -> IUnknown* { return nullptr; }};
  ZelLocalRegistraInterface(&d);
}
