#include "ZelSEH.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cfenv>
#include <regex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ZelTesteAjudante.h"

// Named for the stack text; unsanitized, as a sanitizer would report the fault before the hardware.
#define ZEL_FALHA_PROPOSITAL __attribute__((noinline, no_sanitize("address", "undefined")))

volatile int g_nSumidouro = 0;
volatile int g_nNuncaAlcancado = -1;

ZEL_FALHA_PROPOSITAL void ZelTesteLeNulo() {
  int* volatile p = nullptr;
  g_nSumidouro = *p;
}

ZEL_FALHA_PROPOSITAL void ZelTesteDivideInteiroPorZero() {
  volatile int a = 7, b = 0;
  g_nSumidouro = a / b;
}

ZEL_FALHA_PROPOSITAL int ZelTesteRecursaoSemFim(int n) {
  volatile char buf[4096];
  buf[0] = static_cast<char>(n);
  if (n == g_nNuncaAlcancado) return 0;
  return ZelTesteRecursaoSemFim(n + 1) + buf[0];
}

ZEL_FALHA_PROPOSITAL void ZelTesteLeAlemDoFimDoArquivo(const std::string& sCaminho) {
  int fd = open(sCaminho.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return;
  void* p = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) return;
  g_nSumidouro = *static_cast<volatile char*>(p);
}

ZEL_FALHA_PROPOSITAL void ZelTesteDivideRealPorZero() {
  volatile double a = 1.0, b = 0.0;
  feenableexcept(FE_DIVBYZERO);
  g_nSumidouro = static_cast<int>(a / b);
}

namespace {
DWORD CodigoDe(const std::function<void()>& corpo) {
  ZelFalhaMaquina f;
  return ZelExecutaProtegido(corpo, &f) ? 0 : f.dwCodigo;
}

std::string PrimeiraLinha(const std::string& s) { return s.substr(0, s.find('\n')); }

// A fault's detail as the hardware gives it, for faults no test can raise: a thread may send itself any code.
void Sinaliza(int sinal, int codigo) {
  siginfo_t info{};
  info.si_signo = sinal;
  info.si_code = codigo;
  syscall(SYS_rt_tgsigqueueinfo, getpid(), gettid(), sinal, &info);
}
}  // namespace

// Every fault becomes its code, again on one thread (its alternate stack stays usable) and on another;
// a null read's stack text starts where it faulted.
TEST(ZelSEH, CadaFalhaViraSeuCodigoVezAposVez) {
  ZelFalhaMaquina f;
  ASSERT_FALSE(ZelExecutaProtegido(ZelTesteLeNulo, &f));
  EXPECT_EQ(f.dwCodigo, EXCEPTION_ACCESS_VIOLATION);
  // The text starts at the faulting function, not in the handler, as module!function+offset in hex.
  std::smatch m;
  const std::string sPrimeira = PrimeiraLinha(f.sPilha);
  ASSERT_TRUE(std::regex_match(sPrimeira, m, std::regex("plataforma_testes!ZelTesteLeNulo.*\\+0x([0-9a-f]+)"))) << f.sPilha;
  // The offset counts from the function's start, and the function is a few instructions long.
  EXPECT_LT(std::stoull(m[1].str(), nullptr, 16), 0x100u) << sPrimeira;
  EXPECT_NE(f.sPilha.find("ZelExecutaProtegido"), std::string::npos) << f.sPilha;

  const std::string sVazio = ZelNovoDiretorio("sigbus") + "vazio";
  const std::pair<std::function<void()>, DWORD> casos[] = {
      {ZelTesteLeNulo, EXCEPTION_ACCESS_VIOLATION},
      {ZelTesteDivideInteiroPorZero, EXCEPTION_INT_DIVIDE_BY_ZERO},
      {ZelTesteDivideRealPorZero, EXCEPTION_FLT_DIVIDE_BY_ZERO},
      {[] { ZelTesteRecursaoSemFim(0); }, EXCEPTION_STACK_OVERFLOW},
      {[] { __builtin_trap(); }, EXCEPTION_ILLEGAL_INSTRUCTION},
#if defined(__x86_64__)
      {[] { asm volatile("int3"); }, EXCEPTION_BREAKPOINT},
#endif
      {[&] { ZelTesteLeAlemDoFimDoArquivo(sVazio); }, EXCEPTION_IN_PAGE_ERROR},
      // Signals sent, not raised by the hardware, map by the signal.
      {[] { raise(SIGILL); }, EXCEPTION_ILLEGAL_INSTRUCTION},
      {[] { raise(SIGTRAP); }, EXCEPTION_BREAKPOINT},
      {[] { raise(SIGSEGV); }, EXCEPTION_ACCESS_VIOLATION},
      {[] { raise(SIGBUS); }, EXCEPTION_IN_PAGE_ERROR},
      {[] { raise(SIGFPE); }, EXCEPTION_INT_DIVIDE_BY_ZERO},
      {[] { Sinaliza(SIGFPE, FPE_INTOVF); }, EXCEPTION_INT_OVERFLOW},
      {[] { Sinaliza(SIGFPE, FPE_FLTOVF); }, EXCEPTION_FLT_OVERFLOW},
      {[] { Sinaliza(SIGFPE, FPE_FLTUND); }, EXCEPTION_FLT_UNDERFLOW},
      {[] { Sinaliza(SIGFPE, FPE_FLTRES); }, EXCEPTION_FLT_INEXACT_RESULT},
      {[] { Sinaliza(SIGFPE, FPE_FLTINV); }, EXCEPTION_FLT_INVALID_OPERATION},
      {[] { Sinaliza(SIGFPE, FPE_FLTSUB); }, EXCEPTION_ARRAY_BOUNDS_EXCEEDED},
      {[] { Sinaliza(SIGBUS, BUS_ADRALN); }, EXCEPTION_DATATYPE_MISALIGNMENT},
      {[] { Sinaliza(SIGBUS, BUS_ADRERR); }, EXCEPTION_IN_PAGE_ERROR},
      {[] { Sinaliza(SIGILL, ILL_PRVOPC); }, EXCEPTION_PRIV_INSTRUCTION},
      {[] { Sinaliza(SIGILL, ILL_PRVREG); }, EXCEPTION_PRIV_INSTRUCTION},
      {[] { Sinaliza(SIGILL, ILL_ILLOPC); }, EXCEPTION_ILLEGAL_INSTRUCTION},
      {[] { Sinaliza(SIGTRAP, TRAP_TRACE); }, EXCEPTION_SINGLE_STEP},
      {[] { Sinaliza(SIGTRAP, TRAP_BRKPT); }, EXCEPTION_BREAKPOINT},
  };
  // The signal mask comes back as it was: no fault's signal is left blocked, SIGUSR1 stays blocked.
  auto todas = [&](const char* szOnde) {
    sigset_t bloqueados, depois;
    sigemptyset(&bloqueados);
    sigaddset(&bloqueados, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &bloqueados, nullptr);
    for (size_t k = 0; k < std::size(casos); ++k) EXPECT_EQ(CodigoDe(casos[k].first), casos[k].second) << szOnde << k;
    fedisableexcept(FE_ALL_EXCEPT);
    feclearexcept(FE_ALL_EXCEPT);
    pthread_sigmask(SIG_BLOCK, nullptr, &depois);
    EXPECT_EQ(sigismember(&depois, SIGUSR1), 1) << szOnde;
    for (int sinal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP}) EXPECT_EQ(sigismember(&depois, sinal), 0) << szOnde << sinal;
    pthread_sigmask(SIG_UNBLOCK, &bloqueados, nullptr);
  };
  todas("first ");
  todas("again ");
  std::thread([&] { todas("thread "); }).join();
  std::string s(1000, 'a');
  ZelFalhaMaquina fSemFalha;
  EXPECT_TRUE(ZelExecutaProtegido([&] { s += "b"; }, &fSemFalha));
  EXPECT_EQ(s.size(), 1001u);
  EXPECT_EQ(fSemFalha.dwCodigo, 0u);
}

// Falls outside any guard after the handlers are in place. With "anterior" or "simples", a handler
// installed before the guard's (with its details or without) must still see it; with "ignorado", a
// signal sent while it was ignored stays ignored.
ZEL_AJUDANTE(FalhaForaDaGuarda) {
  if (args.at(0) == "anterior") {
    struct sigaction sa{};
    sa.sa_sigaction = [](int, siginfo_t*, void*) { _exit(42); };
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGSEGV, &sa, nullptr);
  }
  if (args.at(0) == "simples") signal(SIGSEGV, [](int) { _exit(44); });
  if (args.at(0) == "ignorado") signal(SIGTRAP, SIG_IGN);
  if (CodigoDe(ZelTesteLeNulo) != EXCEPTION_ACCESS_VIOLATION) return 2;
  // A sanitizer's report of the expected death would only confuse the test log.
  int fd = open("/dev/null", O_WRONLY);
  if (fd >= 0) dup2(fd, STDERR_FILENO);
  if (args.at(0) == "nulo" || args.at(0) == "anterior" || args.at(0) == "simples") ZelTesteLeNulo();
  if (args.at(0) == "trap") raise(SIGTRAP);
  if (args.at(0) == "ignorado") {
    raise(SIGTRAP);
    return 43;
  }
  return 0;
}

TEST(ZelSEH, FalhaForaDaGuardaAindaMataOProcesso) {
  // 128 + signal without sanitizers; a sanitizer report ends it otherwise.
  for (const char* sz : {"nulo", "trap"}) {
    int r = ZelEsperaAjudante(ZelIniciaAjudante("FalhaForaDaGuarda", {sz}));
    EXPECT_TRUE(r != 0 && r != -1) << sz << " " << r;
  }
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("FalhaForaDaGuarda", {"nada"})), 0);
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("FalhaForaDaGuarda", {"anterior"})), 42);
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("FalhaForaDaGuarda", {"simples"})), 44);
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("FalhaForaDaGuarda", {"ignorado"})), 43);
}
