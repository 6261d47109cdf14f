#include "ZelTesteAjudante.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "ZelSistema.h"

namespace {
std::map<std::string, ZelRotinaAjudante>& Rotinas() {
  static std::map<std::string, ZelRotinaAjudante> m;
  return m;
}
std::string g_sDiretorio;

void RemoveDiretorioTeste() {
  if (!g_sDiretorio.empty() && std::getenv("ZEL_TESTE_MANTER") == nullptr) {
    std::error_code ec;
    std::filesystem::remove_all(g_sDiretorio, ec);
  }
}

// Kills every process started with this run's directory in its environment;
// true when there was none left.
bool MataOsDaExecucao() {
  const std::vector<long> a = ZelProcessosComAmbiente("ZEL_TESTE_DIR=" + g_sDiretorio);
  for (long pid : a) kill(static_cast<pid_t>(pid), SIGKILL);
  return a.empty();
}

// A test killed by its time-out runs no tear-down, and servers it started
// would live on. A watcher outside this process tree waits for the program's
// end, however it comes, and ends whatever still carries its directory.
void VigiaOFim() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  const pid_t pid = fork();
  if (pid == 0) {
    if (fork() != 0) _exit(0);
    setsid();
    close(fds[1]);
    const int nulo = open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2}) dup2(nulo, fd);  // so that no reader of the output waits for the watcher
    char c = 0;
    while (read(fds[0], &c, 1) < 0 && errno == EINTR) {
    }
    // A server being started shuts its inherited descriptors before its exec,
    // and shows the directory only once the exec is done: one scan that finds
    // nothing is not enough, a tenth of a second of them is.
    for (int i = 0, nVazias = 0; i < 200 && nVazias < 10; ++i) {
      nVazias = MataOsDaExecucao() ? nVazias + 1 : 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    RemoveDiretorioTeste();
    _exit(0);
  }
  close(fds[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
}
}  // namespace

ZelRegistraAjudante::ZelRegistraAjudante(const char* sNome, ZelRotinaAjudante pRotina) { Rotinas()[sNome] = pRotina; }

ZelLimiteTamanhoArquivos::ZelLimiteTamanhoArquivos(uint64_t nBytes) {
  rlimit lim{};
  getrlimit(RLIMIT_FSIZE, &lim);
  m_nAnterior = lim.rlim_cur;
  signal(SIGXFSZ, SIG_IGN);
  lim.rlim_cur = nBytes;
  setrlimit(RLIMIT_FSIZE, &lim);
}

ZelLimiteTamanhoArquivos::~ZelLimiteTamanhoArquivos() {
  rlimit lim{};
  getrlimit(RLIMIT_FSIZE, &lim);
  lim.rlim_cur = m_nAnterior;
  setrlimit(RLIMIT_FSIZE, &lim);
}

ZelDiretorioAtual::ZelDiretorioAtual(const std::string& sDiretorio) {
  char sz[4096];
  if (getcwd(sz, sizeof sz) != nullptr) m_sAnterior = sz;
  if (chdir(sDiretorio.c_str()) != 0) ADD_FAILURE() << "chdir " << sDiretorio;
}

ZelDiretorioAtual::~ZelDiretorioAtual() {
  if (!m_sAnterior.empty() && chdir(m_sAnterior.c_str()) != 0) ADD_FAILURE() << "chdir " << m_sAnterior;
}

bool ZelDefineUltimaGravacaoTeste(const std::string& sCaminho, int64_t llSegundos) {
  timespec ts[2] = {{static_cast<time_t>(llSegundos), 0}, {static_cast<time_t>(llSegundos), 0}};
  return utimensat(AT_FDCWD, sCaminho.c_str(), ts, 0) == 0;
}

pid_t ZelIniciaAjudante(const std::string& sNome, const std::vector<std::string>& args) {
  std::vector<std::string> todos = {"/proc/self/exe", "--zel-ajudante", sNome};
  todos.insert(todos.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : todos) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  return pid;
}

pid_t ZelIniciaAjudanteEmEscala(const std::string& sNome, const char* szEscala, const std::vector<std::string>& args) {
  const char* szAntes = std::getenv("ZEL_ESCALA_TEMPO");
  const std::string sAntes = szAntes != nullptr ? szAntes : "";
  setenv("ZEL_ESCALA_TEMPO", szEscala, 1);
  pid_t pid = ZelIniciaAjudante(sNome, args);
  setenv("ZEL_ESCALA_TEMPO", sAntes.c_str(), 1);
  return pid;
}

int ZelEsperaAjudante(pid_t pid, uint32_t msLimite) {
  auto fim = std::chrono::steady_clock::now() + std::chrono::milliseconds(msLimite);
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
      return -1;
    }
    if (r < 0) return -1;
    if (std::chrono::steady_clock::now() > fim) {
      ZelMataAjudante(pid);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void ZelMataAjudante(pid_t pid) {
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

bool ZelEsperaArquivo(const std::string& sCaminho, uint32_t msLimite, pid_t pidAjudante) {
  auto fim = std::chrono::steady_clock::now() + std::chrono::milliseconds(msLimite);
  while (std::chrono::steady_clock::now() < fim) {
    if (access(sCaminho.c_str(), F_OK) == 0) return true;
    siginfo_t info{};  // WNOWAIT: the helper's exit code stays for ZelEsperaAjudante
    if (pidAjudante > 0 && waitid(P_PID, static_cast<id_t>(pidAjudante), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid != 0)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return access(sCaminho.c_str(), F_OK) == 0;
}

void ZelCriaMarcador(const std::string& sCaminho) { std::ofstream(sCaminho, std::ios::binary).flush(); }

bool ZelDeixaDeSerRoot() {
  return geteuid() != 0 || (setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0);
}

const std::string& ZelDiretorioTeste() { return g_sDiretorio; }

std::string ZelNovoDiretorio(const std::string& sNome) {
  std::string s = g_sDiretorio + sNome + "/";
  std::filesystem::create_directories(s);
  return s;
}

std::string ZelLeArquivoInteiro(const std::string& sCaminho) {
  std::ifstream f(sCaminho, std::ios::binary);
  std::ostringstream o;
  o << f.rdbuf();
  return o.str();
}

int main(int argc, char** argv) {
  // Helpers inherit the parent's directory and registry through the environment.
  const bool bIniciadoPorTeste = std::getenv("ZEL_TESTE_DIR") != nullptr;
  if (!bIniciadoPorTeste) {
    char modelo[] = "/tmp/zelteste-XXXXXX";
    if (mkdtemp(modelo) == nullptr) return 3;
    g_sDiretorio = std::string(modelo) + "/";
    setenv("ZEL_TESTE_DIR", g_sDiretorio.c_str(), 1);
    setenv("ZEL_REGISTRO_MAQUINA", (g_sDiretorio + "maquina.reg").c_str(), 1);
    setenv("ZEL_REGISTRO_USUARIO", (g_sDiretorio + "usuario.reg").c_str(), 1);
    std::atexit(RemoveDiretorioTeste);
    VigiaOFim();
  } else {
    g_sDiretorio = std::getenv("ZEL_TESTE_DIR");
  }
  setenv("ZEL_ESCALA_TEMPO", "0.01", 0);

  if (argc >= 3 && std::strcmp(argv[1], "--zel-ajudante") == 0) {
    auto it = Rotinas().find(argv[2]);
    if (it == Rotinas().end()) return 126;
    std::vector<std::string> args(argv + 3, argv + argc);
    std::_Exit(it->second(args));
  }
  // A command line mangled on its way from a test must not run the suite
  // again: its servers would start this program again, without end.
  if (bIniciadoPorTeste) return 126;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
