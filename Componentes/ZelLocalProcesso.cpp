#include "ZelLocalProcesso.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

extern char** environ;

namespace {
constexpr const char* kVariavelPronto = "ZEL_COM_PRONTO";
constexpr int kFdPronto = 3;  // where the started server finds the pipe
}  // namespace

HRESULT CZelLocalTravaArquivo::Trava(const std::string& sCaminho, uint32_t msLimite) {
  Libera();
  int fd = open(sCaminho.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return E_ACCESSDENIED;
  auto fim = std::chrono::steady_clock::now() + std::chrono::milliseconds(msLimite);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      m_fd = fd;
      return S_OK;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (std::chrono::steady_clock::now() >= fim) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  close(fd);
  return E_ABORT;
}

void CZelLocalTravaArquivo::Libera() {
  if (m_fd >= 0) close(m_fd);  // closing the last descriptor releases the lock
  m_fd = -1;
}

std::vector<std::string> ZelLocalDivideLinhaComando(const std::string& s) {
  std::vector<std::string> partes;
  size_t i = s.find_first_not_of(" \t");
  if (i == std::string::npos) return partes;
  size_t resto;
  if (s[i] == '"') {
    size_t f = s.find('"', i + 1);
    if (f == std::string::npos) f = s.size();
    partes.push_back(s.substr(i + 1, f - i - 1));
    resto = f + 1;
  } else {
    // An unquoted path may hold spaces; arguments then cannot be told apart,
    // so the whole value is the path, as registration writes it.
    std::string sPath = s.substr(i);
    while (!sPath.empty() && (sPath.back() == ' ' || sPath.back() == '\t')) sPath.pop_back();
    partes.push_back(sPath);
    return partes;
  }
  while (resto < s.size()) {
    size_t a = s.find_first_not_of(" \t", resto);
    if (a == std::string::npos) break;
    size_t b = s.find_first_of(" \t", a);
    if (b == std::string::npos) b = s.size();
    partes.push_back(s.substr(a, b - a));
    resto = b;
  }
  return partes;
}

CZelLocalInicioServidor::~CZelLocalInicioServidor() {
  if (m_fdPronto >= 0) close(m_fdPronto);
}

HRESULT CZelLocalInicioServidor::Inicia(const std::string& sLinhaComando) {
  std::vector<std::string> args = ZelLocalDivideLinhaComando(sLinhaComando);
  if (args.empty() || args[0].empty() || args[0][0] != '/') return CO_E_SERVER_EXEC_FAILURE;
  args.push_back("-Embedding");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Everything the children need is built before fork: only async-signal-safe
  // calls may follow it in a threaded process.
  std::vector<std::string> ambiente;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "ZEL_COM_PRONTO=", 15) != 0) ambiente.emplace_back(*e);
  ambiente.push_back(std::string(kVariavelPronto) + "=" + std::to_string(kFdPronto));
  std::vector<char*> envp;
  for (auto& e : ambiente) envp.push_back(e.data());
  envp.push_back(nullptr);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return CO_E_SERVER_EXEC_FAILURE;
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return CO_E_SERVER_EXEC_FAILURE;
  }
  if (pid == 0) {
    setsid();
    if (fork() != 0) _exit(0);  // the server is adopted by init, never a zombie of the client
    int nulo = open("/dev/null", O_RDWR);
    if (nulo >= 0) {
      dup2(nulo, 0);
      dup2(nulo, 1);
      dup2(nulo, 2);
    }
    if (fds[1] == kFdPronto)
      fcntl(kFdPronto, F_SETFD, 0);
    else
      dup2(fds[1], kFdPronto);
    close_range(kFdPronto + 1, ~0u, 0);
    signal(SIGPIPE, SIG_DFL);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(fds[1]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (m_fdPronto >= 0) close(m_fdPronto);
  m_fdPronto = fds[0];
  return S_OK;
}

HRESULT CZelLocalInicioServidor::EsperaPronto(uint32_t msLimite) {
  if (m_fdPronto < 0) return CO_E_SERVER_EXEC_FAILURE;
  auto fim = std::chrono::steady_clock::now() + std::chrono::milliseconds(msLimite);
  HRESULT hr = CO_E_SERVER_EXEC_FAILURE;
  for (;;) {
    auto agora = std::chrono::steady_clock::now();
    if (agora >= fim) break;
    int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(fim - agora).count()) + 1;
    pollfd p{m_fdPronto, POLLIN, 0};
    int r = poll(&p, 1, ms);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char c = 0;
    ssize_t n = read(m_fdPronto, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n == 1 && c == 'R') hr = S_OK;
    if (n == 1 && c == 'S') hr = CO_E_SERVER_STOPPING;
    break;  // EOF: the server (or its exec) ended before it was ready
  }
  close(m_fdPronto);
  m_fdPronto = -1;
  return hr;
}

void ZelLocalSinalizaPronto(HRESULT hrServidor) {
  static std::once_flag uma;
  std::call_once(uma, [hrServidor] {
    const char* sz = std::getenv(kVariavelPronto);
    if (sz == nullptr) return;
    int fd = std::atoi(sz);
    unsetenv(kVariavelPronto);
    if (fd < 0 || fcntl(fd, F_GETFD) < 0) return;
    char c = hrServidor == CO_E_SERVER_STOPPING ? 'S' : 'R';
    // A starter that gave up waiting has closed its end: the server goes on
    // serving the clients that found it, instead of dying of SIGPIPE.
    struct sigaction ignora {}, antes {};
    ignora.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignora, &antes);
    ssize_t n;
    do {
      n = write(fd, &c, 1);
    } while (n < 0 && errno == EINTR);
    sigaction(SIGPIPE, &antes, nullptr);
    close(fd);
  });
}

bool ZelLocalProcessoVivo(int32_t pid) {
  if (pid <= 0) return false;
  int status = 0;
  if (waitpid(pid, &status, WNOHANG) == pid) return false;  // our own child, now reaped
  if (kill(pid, 0) != 0) return errno == EPERM;
  // An ended process that nobody reaped yet is no longer running.
  std::string sStat = "/proc/" + std::to_string(pid) + "/stat";
  int fd = open(sStat.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[512];
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return false;
  buf[n] = '\0';
  const char* p = std::strrchr(buf, ')');
  return p == nullptr || p[1] == '\0' || (p[2] != 'Z' && p[2] != 'X');
}
