#include "ZelLocalSeguranca.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "ZelRegistro.h"

ZelLocalNivelSeguranca ZelLocalDerivaSeguranca(DWORD dwDesabilitaAutenticacao, DWORD dwDesabilitaEncriptacao) {
  if (dwDesabilitaAutenticacao != 0) return {RPC_C_AUTHN_LEVEL_NONE, RPC_C_AUTHN_NONE};
  if (dwDesabilitaEncriptacao != 0) return {RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_AUTHN_WINNT};
  return {RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_AUTHN_WINNT};
}

const ZelLocalNivelSeguranca& ZelLocalSegurancaConfigurada() {
  static const ZelLocalNivelSeguranca nivel =
      ZelLocalDerivaSeguranca(ZelLeChaveZel("DesabilitaAutenticacaoDCOM"), ZelLeChaveZel("DesabilitaEncriptacaoDCOM"));
  return nivel;
}

namespace {
constexpr int64_t kNaoDefinido = -1;
std::atomic<int64_t> g_llNivel{kNaoDefinido};
std::atomic<ZelLocalRelatorErro> g_pfRelator{nullptr};
}  // namespace

HRESULT CoInitializeSecurity(void*, LONG, void*, void*, DWORD dwAuthnLevel, DWORD, void*, DWORD, void*) {
  int64_t esperado = kNaoDefinido;
  if (!g_llNivel.compare_exchange_strong(esperado, dwAuthnLevel)) return RPC_E_TOO_LATE;
  return S_OK;
}

HRESULT ZelCoInitializeSecurity() {
  // No remote identity is configured on this platform, so no authentication
  // list is built.
  const DWORD g_dwAuthnLevel = ZelLocalSegurancaConfigurada().dwAuthnLevel;
  const DWORD g_dwImpLevel = RPC_C_IMP_LEVEL_IMPERSONATE;
  HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, g_dwAuthnLevel, g_dwImpLevel, nullptr, EOAC_NONE,
                                    nullptr);
  if (FAILED(hr))
    ZelLocalRelataErro("ZelCoInitializeSecurity", "ZelComPtr", 69,
                       "hr = CoInitializeSecurity(0, -1, nullptr, nullptr, g_dwAuthnLevel, g_dwImpLevel, "
                       "regCoAuthID.User ? &regOleAuthList : nullptr, EOAC_NONE, nullptr)",
                       "hr", hr);
  return hr;
}

DWORD ZelLocalNivelAutenticacao() {
  int64_t n = g_llNivel.load();
  return n == kNaoDefinido ? RPC_C_AUTHN_LEVEL_CONNECT : static_cast<DWORD>(n);
}

bool ZelLocalParAdmitido(uint32_t uidPar) {
  return ZelLocalNivelAutenticacao() == RPC_C_AUTHN_LEVEL_NONE || uidPar == geteuid();
}

void ZelLocalReiniciaSeguranca() { g_llNivel.store(kNaoDefinido); }

void ZelLocalDefineRelatorErro(ZelLocalRelatorErro pfRelator) { g_pfRelator.store(pfRelator); }

void ZelLocalRelataErro(const char* szFuncao, const char* szArquivo, int nLinha, const char* szExpressao,
                        const char* szVariavel, HRESULT hr) {
  if (ZelLocalRelatorErro pf = g_pfRelator.load()) {
    pf(szFuncao, szArquivo, nLinha, szExpressao, szVariavel, hr);
    return;
  }
  std::fprintf(stderr, "%s (%s:%d): %s -> %s = 0x%08X\n", szFuncao, szArquivo, nLinha, szExpressao, szVariavel,
               static_cast<unsigned>(hr));
}
