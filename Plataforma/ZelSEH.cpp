#include "ZelSEH.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {
constexpr int kSinais[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr int kMaxQuadros = 48;
constexpr size_t kTamPilhaTexto = 12 * 1024;
// The handler formats the stack text on this stack, after a stack overflow too.
constexpr size_t kTamPilhaAlternativa = 128 * 1024;
// A fault this close to the low end of the stack is taken as its overflow.
constexpr uintptr_t kMargemEstouro = 256 * 1024;

// One guarded body in progress; lives in ZelExecutaProtegido's frame, which
// an overflow of the body's stack leaves intact.
struct Guarda {
  sigjmp_buf jb;
  Guarda* pAnterior;
  DWORD dwCodigo;
  int nSinal;
  size_t nPilha;
  char szPilha[kTamPilhaTexto];
};

thread_local Guarda* t_pGuarda = nullptr;

struct sigaction g_anteriores[sizeof kSinais / sizeof kSinais[0]];

// The thread's own alternate stack and stack bounds, set up on its first guard.
struct PilhaDaThread {
  bool bPreparada = false;
  void* pAlternativa = nullptr;
  stack_t anterior{};
  uintptr_t uBaixo = 0;

  // Without an alternate stack the guard still catches all but an overflow.
  void Prepara() {
    if (bPreparada) return;
    bPreparada = true;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      void* pBase = nullptr;
      size_t nTam = 0;
      if (pthread_attr_getstack(&attr, &pBase, &nTam) == 0) {
        uBaixo = reinterpret_cast<uintptr_t>(pBase);
      }
      pthread_attr_destroy(&attr);
    }
    void* p = mmap(nullptr, kTamPilhaAlternativa, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK,
                   -1, 0);
    if (p == MAP_FAILED) return;
    stack_t nova{};
    nova.ss_sp = p;
    nova.ss_size = kTamPilhaAlternativa;
    if (sigaltstack(&nova, &anterior) != 0) {
      munmap(p, kTamPilhaAlternativa);
      return;
    }
    pAlternativa = p;
  }

  ~PilhaDaThread() {
    if (pAlternativa == nullptr) return;
    // Whoever set the previous stack (a sanitizer runtime, say) frees it later.
    if ((anterior.ss_flags & SS_DISABLE) != 0) {
      stack_t desliga{};
      desliga.ss_flags = SS_DISABLE;
      sigaltstack(&desliga, nullptr);
    } else {
      sigaltstack(&anterior, nullptr);
    }
    munmap(pAlternativa, kTamPilhaAlternativa);
  }
};

thread_local PilhaDaThread t_pilha;

size_t IndiceSinal(int sinal) {
  for (size_t i = 0; i < sizeof kSinais / sizeof kSinais[0]; ++i)
    if (kSinais[i] == sinal) return i;
  return 0;
}

bool EnviadoPorProcesso(const siginfo_t* pInfo) { return pInfo->si_code <= 0; }

DWORD CodigoDaFalha(int sinal, const siginfo_t* pInfo) {
  // Signals sent with kill/raise carry no fault detail: they map by signal alone.
  int codigo = EnviadoPorProcesso(pInfo) ? 0 : pInfo->si_code;
  switch (sinal) {
    case SIGSEGV: {
      if (codigo != 0 && t_pilha.uBaixo != 0) {
        uintptr_t a = reinterpret_cast<uintptr_t>(pInfo->si_addr);
        uintptr_t baixo = t_pilha.uBaixo > kMargemEstouro ? t_pilha.uBaixo - kMargemEstouro : 0;
        if (a >= baixo && a < t_pilha.uBaixo + kMargemEstouro) return EXCEPTION_STACK_OVERFLOW;
      }
      return EXCEPTION_ACCESS_VIOLATION;
    }
    case SIGBUS:
      return codigo == BUS_ADRALN ? EXCEPTION_DATATYPE_MISALIGNMENT : EXCEPTION_IN_PAGE_ERROR;
    case SIGFPE:
      switch (codigo) {
        case FPE_INTOVF: return EXCEPTION_INT_OVERFLOW;
        case FPE_FLTDIV: return EXCEPTION_FLT_DIVIDE_BY_ZERO;
        case FPE_FLTOVF: return EXCEPTION_FLT_OVERFLOW;
        case FPE_FLTUND: return EXCEPTION_FLT_UNDERFLOW;
        case FPE_FLTRES: return EXCEPTION_FLT_INEXACT_RESULT;
        case FPE_FLTINV: return EXCEPTION_FLT_INVALID_OPERATION;
        case FPE_FLTSUB: return EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
        default: return EXCEPTION_INT_DIVIDE_BY_ZERO;
      }
    case SIGILL:
      return (codigo == ILL_PRVOPC || codigo == ILL_PRVREG) ? EXCEPTION_PRIV_INSTRUCTION
                                                            : EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGTRAP:
      return codigo == TRAP_TRACE ? EXCEPTION_SINGLE_STEP : EXCEPTION_BREAKPOINT;
    default:
      return EXCEPTION_NONCONTINUABLE_EXCEPTION;
  }
}

void* PcDaFalha(const void* pContexto) {
  const auto* uc = static_cast<const ucontext_t*>(pContexto);
#if defined(__x86_64__)
  return reinterpret_cast<void*>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  return reinterpret_cast<void*>(uc->uc_mcontext.pc);
#else
  (void)uc;
  return nullptr;
#endif
}

void Acrescenta(Guarda* g, const char* szFormato, const char* szModulo, const char* szFuncao, uintptr_t uDesloc) {
  if (g->nPilha >= sizeof g->szPilha - 1) return;
  int n = std::snprintf(g->szPilha + g->nPilha, sizeof g->szPilha - g->nPilha, szFormato, szModulo, szFuncao,
                        static_cast<unsigned long long>(uDesloc));
  if (n < 0) return;
  g->nPilha = std::min(g->nPilha + static_cast<size_t>(n), sizeof g->szPilha - 1);
}

// Not async-signal-safe (backtrace, dladdr, the demangler's malloc): it runs
// only on a machine fault, where a readable stack text is worth the risk.
void CapturaPilha(Guarda* g, void* pContexto) {
  void* quadros[kMaxQuadros + 8];
  int n = backtrace(quadros, kMaxQuadros + 8);
  // Start at the faulting instruction, leaving out the handler's own frames.
  int inicio = 0;
  if (void* pc = PcDaFalha(pContexto)) {
    for (int i = 0; i < n; ++i) {
      if (quadros[i] == pc) {
        inicio = i;
        break;
      }
    }
  }
  int fim = std::min(n, inicio + kMaxQuadros);
  for (int i = inicio; i < fim; ++i) {
    Dl_info info{};
    uintptr_t a = reinterpret_cast<uintptr_t>(quadros[i]);
    const char* szModulo = "?";
    if (dladdr(quadros[i], &info) != 0 && info.dli_fname != nullptr) {
      szModulo = std::strrchr(info.dli_fname, '/') ? std::strrchr(info.dli_fname, '/') + 1 : info.dli_fname;
    }
    if (info.dli_sname != nullptr && info.dli_saddr != nullptr) {
      int status = -1;
      char* szDemangle = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
      Acrescenta(g, "%s!%s+0x%llx\n", szModulo, status == 0 && szDemangle ? szDemangle : info.dli_sname,
                 a - reinterpret_cast<uintptr_t>(info.dli_saddr));
      std::free(szDemangle);
    } else {
      Acrescenta(g, "%s!%s+0x%llx\n", szModulo, "?", a - reinterpret_cast<uintptr_t>(info.dli_fbase));
    }
  }
  g->szPilha[g->nPilha] = '\0';
}

void Repassa(int sinal, siginfo_t* pInfo, void* pContexto) {
  const struct sigaction& ant = g_anteriores[IndiceSinal(sinal)];
  if ((ant.sa_flags & SA_SIGINFO) != 0 && ant.sa_sigaction != nullptr) {
    ant.sa_sigaction(sinal, pInfo, pContexto);
    return;
  }
  if (ant.sa_handler == SIG_IGN && EnviadoPorProcesso(pInfo)) return;
  if (ant.sa_handler != SIG_DFL && ant.sa_handler != SIG_IGN) {
    ant.sa_handler(sinal);
    return;
  }
  // Back to the default action: a real fault repeats when the handler returns;
  // a sent signal has to be sent again (it stays blocked until we return).
  struct sigaction padrao{};
  padrao.sa_handler = SIG_DFL;
  sigemptyset(&padrao.sa_mask);
  sigaction(sinal, &padrao, nullptr);
  if (EnviadoPorProcesso(pInfo)) raise(sinal);
}

void Tratador(int sinal, siginfo_t* pInfo, void* pContexto) {
  Guarda* g = t_pGuarda;
  if (g == nullptr) {
    Repassa(sinal, pInfo, pContexto);
    return;
  }
  g->dwCodigo = CodigoDaFalha(sinal, pInfo);
  g->nSinal = sinal;
  g->nPilha = 0;
  CapturaPilha(g, pContexto);
  siglongjmp(g->jb, 1);
}

void InstalaTratadores() {
  static std::once_flag uma;
  std::call_once(uma, [] {
    // backtrace loads the unwinder on first use; better here than in a handler.
    void* aquece[2];
    backtrace(aquece, 2);
    for (size_t i = 0; i < sizeof kSinais / sizeof kSinais[0]; ++i) {
      struct sigaction sa{};
      sa.sa_sigaction = Tratador;
      sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
      sigemptyset(&sa.sa_mask);
      sigaction(kSinais[i], &sa, &g_anteriores[i]);
    }
  });
}
}  // namespace

bool ZelExecutaProtegido(const std::function<void()>& corpo, ZelFalhaMaquina* pFalha) {
  InstalaTratadores();
  t_pilha.Prepara();
  Guarda g;
  g.pAnterior = t_pGuarda;
  g.dwCodigo = 0;
  g.nSinal = 0;
  g.nPilha = 0;
  // The mask is not saved (a system call on every guarded call): the handler
  // only adds its own signal to it, and the way back takes that one off.
  if (sigsetjmp(g.jb, 0) == 0) {
    t_pGuarda = &g;
    try {
      corpo();
    } catch (...) {
      t_pGuarda = g.pAnterior;
      throw;
    }
    t_pGuarda = g.pAnterior;
    return true;
  }
  // The body's frames are abandoned: their destructors do not run.
  t_pGuarda = g.pAnterior;
  sigset_t sinal;
  sigemptyset(&sinal);
  sigaddset(&sinal, g.nSinal);
  pthread_sigmask(SIG_UNBLOCK, &sinal, nullptr);
  if (pFalha != nullptr) {
    pFalha->dwCodigo = g.dwCodigo;
    pFalha->sPilha.assign(g.szPilha, g.nPilha);
  }
  return false;
}
