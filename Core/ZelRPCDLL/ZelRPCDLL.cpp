#include "ZelRPCDLL.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "ZelBaseParaRotinas.h"
#include "ZelException.h"
#include "ZelMens.h"
#include "ZelParametroInvalido.h"
#include "ZelRegistro.h"
#include "ZelSEH.h"
#include "ZelSistema.h"
#include "ZelTempo.h"

namespace {
struct ParSEH {
  DWORD dwExcecao;
  uint32_t hr;
};
constexpr ParSEH kTabelaSEH[] = {
    {EXCEPTION_ACCESS_VIOLATION, 0x8004EAC5},      {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, 0x8004EAC6},
    {EXCEPTION_BREAKPOINT, 0x8004EAC7},            {EXCEPTION_DATATYPE_MISALIGNMENT, 0x8004EAC8},
    {EXCEPTION_FLT_DENORMAL_OPERAND, 0x8004EAC9},  {EXCEPTION_FLT_DIVIDE_BY_ZERO, 0x8004EACA},
    {EXCEPTION_FLT_INEXACT_RESULT, 0x8004EACB},    {EXCEPTION_FLT_INVALID_OPERATION, 0x8004EACC},
    {EXCEPTION_FLT_OVERFLOW, 0x8004EACD},          {EXCEPTION_FLT_STACK_CHECK, 0x8004EACE},
    {EXCEPTION_FLT_UNDERFLOW, 0x8004EACF},         {EXCEPTION_GUARD_PAGE, 0x8004EAD0},
    {EXCEPTION_ILLEGAL_INSTRUCTION, 0x8004EAD1},   {EXCEPTION_IN_PAGE_ERROR, 0x8004EAD2},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, 0x8004EAD3},    {EXCEPTION_INT_OVERFLOW, 0x8004EAD4},
    {EXCEPTION_INVALID_DISPOSITION, 0x8004EAD5},   {EXCEPTION_INVALID_HANDLE, 0x8004EAD6},
    {EXCEPTION_NONCONTINUABLE_EXCEPTION, 0x8004EAD7}, {EXCEPTION_PRIV_INSTRUCTION, 0x8004EAD8},
    {EXCEPTION_SINGLE_STEP, 0x8004EAD9},           {EXCEPTION_STACK_OVERFLOW, 0x8004EADA},
};

// Process-wide and unlocked: a race only costs an extra registry read.
std::atomic<DWORD> g_dwPrevineErroRPC{1};
std::atomic<uint64_t> g_ullUltimaLeitura{0};
std::atomic<bool> g_bLido{false};
std::atomic<unsigned> g_nLeituras{0};

thread_local const char* t_szArquivoReporter = "";
thread_local int t_nLinhaReporter = 0;

void InvalidParameterReporter(const wchar_t* pszExpressao, const wchar_t* pszFuncao, const wchar_t* pszArquivo,
                              unsigned int nLinha, uintptr_t) {
  HRESULT hr = ZelErrnoParaHresult(errno);
  wchar_t wsz[1024];
  std::swprintf(wsz, sizeof wsz / sizeof wsz[0], L"Expression = %ls\tFunction = %ls\tFile = %ls\tLine = %d",
                pszExpressao != nullptr ? pszExpressao : L"", pszFuncao != nullptr ? pszFuncao : L"",
                pszArquivo != nullptr ? pszArquivo : L"", static_cast<int>(nLinha));
  std::string sMensagem = ZelTextoCp1252(wsz);
  CZelAcessoServidores* pAcesso = CZelBaseParaRotinas::GetAcessoServidoresDefault();
  std::string sIdentificacao = pAcesso != nullptr ? pAcesso->GetIdentificacao() : "";
  ZelTrataErroExported(E_ZELCR_EXCECAO_REPORTADA, hr, 0x7FFFFFFF, sIdentificacao.c_str(), t_szArquivoReporter,
                       t_nLinhaReporter, 1, 0, ZelCaminhoPrograma().c_str(), sMensagem.c_str());
  throw static_cast<long>(hr);
}
}  // namespace

HRESULT ZelSEHParaHresult(DWORD dwExcecao) {
  for (const auto& p : kTabelaSEH)
    if (p.dwExcecao == dwExcecao) return static_cast<HRESULT>(p.hr);
  return ZEL_HR_SEH_DESCONHECIDA;
}

bool ZelEhCodigoFalhaMaquina(HRESULT hr) {
  auto u = static_cast<uint32_t>(hr);
  return (u >= 0x8004EAC5u && u <= 0x8004EADBu) || hr == ZEL_HR_SEH_DESCONHECIDA;
}

void PrevineErroRPC() {
  uint64_t agora = GetTickCount64();
  if (!g_bLido || agora - g_ullUltimaLeitura > ZelTempoMs(ZelTempo::kRefrescoPrevineErroRPC)) {
    if (ZelRegistro::ExisteChave(HKEY_LOCAL_MACHINE, kChaveZelSistemas) == ERROR_SUCCESS) {
      DWORD dw = 0;
      ++g_nLeituras;
      g_dwPrevineErroRPC = ZelRegistro::LeDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "PrevineErroRPC", &dw) ==
                                   ERROR_SUCCESS
                               ? dw
                               : 1;
      g_ullUltimaLeitura = agora;
      g_bLido = true;
    }
  }
  if (g_dwPrevineErroRPC != 0) Sleep(0);
}

void ZelReiniciaPrevineErroRPC() {
  g_bLido = false;
  g_dwPrevineErroRPC = 1;
  g_nLeituras = 0;
}

unsigned ZelLeiturasPrevineErroRPC() { return g_nLeituras; }

bool ZelPrevineErroRPCAtivo() { return g_dwPrevineErroRPC != 0; }

void ZelInstalaReporterParametroInvalido(const char* szArquivo, int nLinha) {
  t_szArquivoReporter = szArquivo;
  t_nLinhaReporter = nLinha;
  _set_thread_local_invalid_parameter_handler(&InvalidParameterReporter);
}
