#include "ZelBenchEco.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ZelLocalTransporte.h"

namespace {
constexpr size_t kPedido = kZelLocalTamanhoCabecalho + 2, kResposta = kZelLocalTamanhoCabecalho + 9;

bool LeTudo(int fd, uint8_t* p, size_t n) {
  for (size_t nFeito = 0; nFeito < n;) {
    ssize_t r = read(fd, p + nFeito, n - nFeito);
    if (r <= 0) return false;
    nFeito += static_cast<size_t>(r);
  }
  return true;
}
}  // namespace

bool CZelBenchEco::Inicia() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
  m_pid = fork();
  if (m_pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (m_pid == 0) {
    close(fds[0]);
    uint8_t buf[kPedido];
    const uint8_t resposta[kResposta] = {};
    while (LeTudo(fds[1], buf, kPedido))
      if (write(fds[1], resposta, kResposta) != static_cast<ssize_t>(kResposta)) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  m_fd = fds[0];
  return true;
}

bool CZelBenchEco::IdaEVolta() {
  uint8_t pedido[kPedido] = {};
  pedido[kZelLocalTamanhoCabecalho] = 5;
  if (write(m_fd, pedido, kPedido) != static_cast<ssize_t>(kPedido)) return false;
  uint8_t resposta[kResposta];
  return LeTudo(m_fd, resposta, kResposta);
}

CZelBenchEco::~CZelBenchEco() {
  if (m_fd >= 0) close(m_fd);
  if (m_pid > 0) {
    int status = 0;
    waitpid(m_pid, &status, 0);
  }
}
