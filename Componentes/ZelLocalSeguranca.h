// Process-wide security of the local-server runtime. The authentication
// level decides who may connect: at RPC_C_AUTHN_LEVEL_NONE any user (the
// endpoint directory and socket are opened to others), at every other level
// only the server's own user id, checked with the peer's credentials.
#pragma once

#include <cstdint>

#include "ZelCom.h"

constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
constexpr DWORD RPC_C_AUTHN_LEVEL_NONE = 1;
constexpr DWORD RPC_C_AUTHN_LEVEL_CONNECT = 2;
constexpr DWORD RPC_C_AUTHN_LEVEL_PKT_PRIVACY = 6;
constexpr DWORD RPC_C_AUTHN_NONE = 0;
constexpr DWORD RPC_C_AUTHN_WINNT = 10;
constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
constexpr DWORD EOAC_NONE = 0;

struct ZelLocalNivelSeguranca {
  DWORD dwAuthnLevel;
  DWORD dwAuthnService;
};

// The level table of the two registry switches.
ZelLocalNivelSeguranca ZelLocalDerivaSeguranca(DWORD dwDesabilitaAutenticacao, DWORD dwDesabilitaEncriptacao);
// The table applied to "DesabilitaAutenticacaoDCOM" and
// "DesabilitaEncriptacaoDCOM", read once per process.
const ZelLocalNivelSeguranca& ZelLocalSegurancaConfigurada();

// Sets the process's level once; RPC_E_TOO_LATE when it was already set.
// Parameters the runtime has no use for are accepted and ignored.
HRESULT CoInitializeSecurity(void* pSecDesc, LONG cAuthSvc, void* asAuthSvc, void* pReserved1, DWORD dwAuthnLevel,
                             DWORD dwImpLevel, void* pAuthList, DWORD dwCapabilities, void* pReserved3);
// Sets the configured level, writing an error line on failure.
HRESULT ZelCoInitializeSecurity();

// The level in force: the one set, else RPC_C_AUTHN_LEVEL_CONNECT (the
// runtime's default admits only the same user).
DWORD ZelLocalNivelAutenticacao();
// Whether a peer of that user id may connect at the level in force.
bool ZelLocalParAdmitido(uint32_t uidPar);
// Forgets the level set (tests).
void ZelLocalReiniciaSeguranca();

// Error lines of the runtime go through this reporter. The diagnostics
// library sits above the platform, so its owner installs the tracer there;
// until then lines go to standard error.
using ZelLocalRelatorErro = void (*)(const char* szFuncao, const char* szArquivo, int nLinha,
                                     const char* szExpressao, const char* szVariavel, HRESULT hr);
void ZelLocalDefineRelatorErro(ZelLocalRelatorErro pfRelator);
void ZelLocalRelataErro(const char* szFuncao, const char* szArquivo, int nLinha, const char* szExpressao,
                        const char* szVariavel, HRESULT hr);
