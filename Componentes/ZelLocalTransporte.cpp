#include "ZelLocalTransporte.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "ZelSistema.h"

void CZelLocalEscritor::Cresce(size_t n) {
  m_dados.resize(std::max(m_n + n, std::max<size_t>(2 * m_dados.size(), 256)));
}

CZelLocalSocket& CZelLocalSocket::operator=(CZelLocalSocket&& o) noexcept {
  if (this != &o) {
    Fecha();
    m_fd = std::exchange(o.m_fd, -1);
    m_pAntecipados = std::move(o.m_pAntecipados);
    m_iAntecipados = std::exchange(o.m_iAntecipados, 0);
    m_nAntecipados = std::exchange(o.m_nAntecipados, 0);
    m_usEsperaAtiva = o.m_usEsperaAtiva;
  }
  return *this;
}

void CZelLocalSocket::Fecha() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

void CZelLocalSocket::Interrompe() {
  if (m_fd >= 0) shutdown(m_fd, SHUT_RDWR);
}

namespace {

bool EscreveTudo(int fd, iovec* iov, int nIov) {
  while (nIov > 0) {
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = static_cast<size_t>(nIov);
    ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    auto resto = static_cast<size_t>(n);
    while (nIov > 0 && resto >= iov->iov_len) {
      resto -= iov->iov_len;
      ++iov;
      --nIov;
    }
    if (nIov > 0) {
      iov->iov_base = static_cast<uint8_t*>(iov->iov_base) + resto;
      iov->iov_len -= resto;
    }
  }
  return true;
}

// One recv, tried again when a signal cuts it: the bytes read (0 at an
// orderly end), or -1 on an error, -2 when the read deadline passed.
ssize_t RecebeUmaVez(int fd, void* p, size_t n) {
  for (;;) {
    const ssize_t r = recv(fd, p, n, 0);
    if (r >= 0) return r;
    if (errno != EINTR) return errno == EAGAIN || errno == EWOULDBLOCK ? -2 : -1;
  }
}

std::atomic<uint64_t> g_nTentativasAtivas{0};

uint64_t AgoraUs() { return ZelRelogioNs() / 1000u; }

// As RecebeUmaVez, but first asking again without sleeping for up to
// usEspera: bytes the peer sends meanwhile then cost neither side a wake-up
// (on this class of machine that is most of a round trip). Each empty try
// yields; a yield that lasted means another task wanted this CPU, perhaps
// the peer itself, and the read then sleeps at once.
ssize_t RecebeComEsperaAtiva(int fd, void* p, size_t n, uint32_t usEspera) {
  if (usEspera > 0) {
    const uint64_t t0 = AgoraUs();
    for (uint64_t t = t0;;) {
      g_nTentativasAtivas.fetch_add(1, std::memory_order_relaxed);
      const ssize_t r = recv(fd, p, n, MSG_DONTWAIT);
      if (r >= 0) return r;
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
      sched_yield();
      const uint64_t tDepois = AgoraUs();
      if (tDepois - t0 >= usEspera || tDepois - t >= ZelTempo::kCessaoOcupadaUs) break;
      t = tDepois;
    }
  }
  return RecebeUmaVez(fd, p, n);
}

// 1 read all, 0 orderly end before the first byte, -1 error or truncation,
// -2 read deadline passed.
int LeTudo(int fd, void* p, size_t n) {
  auto* b = static_cast<uint8_t*>(p);
  size_t lidos = 0;
  while (lidos < n) {
    const ssize_t r = RecebeUmaVez(fd, b + lidos, n - lidos);
    if (r < 0) return static_cast<int>(r);
    if (r == 0) return lidos == 0 ? 0 : -1;
    lidos += static_cast<size_t>(r);
  }
  return 1;
}

}  // namespace

uint64_t ZelLocalTentativasEsperaAtiva() { return g_nTentativasAtivas.load(std::memory_order_relaxed); }

HRESULT CZelLocalSocket::EnviaQuadro(ZelLocalTipoQuadro eTipo, uint32_t ulId, const void* p, size_t n) {
  if (m_fd < 0) return RPC_E_DISCONNECTED;
  if (n > kZelLocalMaxQuadro) return RPC_X_BAD_STUB_DATA;
  uint8_t cab[kZelLocalTamanhoCabecalho];
  uint32_t ulMagico = kZelLocalMagico, ulTamanho = static_cast<uint32_t>(n);
  uint16_t usVersao = kZelLocalVersao, usTipo = static_cast<uint16_t>(eTipo);
  std::memcpy(cab, &ulMagico, 4);
  std::memcpy(cab + 4, &usVersao, 2);
  std::memcpy(cab + 6, &usTipo, 2);
  std::memcpy(cab + 8, &ulId, 4);
  std::memcpy(cab + 12, &ulTamanho, 4);
  iovec iov[2] = {{cab, sizeof cab}, {const_cast<void*>(p), n}};
  return EscreveTudo(m_fd, iov, n == 0 ? 1 : 2) ? S_OK : RPC_E_DISCONNECTED;
}

HRESULT CZelLocalSocket::EnviaBytes(const void* p, size_t n) {
  if (m_fd < 0) return RPC_E_DISCONNECTED;
  iovec iov{const_cast<void*>(p), n};
  return EscreveTudo(m_fd, &iov, 1) ? S_OK : RPC_E_DISCONNECTED;
}

size_t CZelLocalSocket::TiraAntecipados(uint8_t* p, size_t n) {
  const size_t nTira = std::min(n, m_nAntecipados - m_iAntecipados);
  if (nTira != 0) std::memcpy(p, m_pAntecipados.get() + m_iAntecipados, nTira);
  m_iAntecipados += nTira;
  return nTira;
}

int CZelLocalSocket::Le(void* pDestino, size_t n) {
  auto* p = static_cast<uint8_t*>(pDestino);
  size_t lidos = TiraAntecipados(p, n);
  if (lidos == n) return 1;
  if (n - lidos >= kZelLocalLeituraAntecipada) {
    const int r = LeTudo(m_fd, p + lidos, n - lidos);
    return r == 0 && lidos != 0 ? -1 : r;
  }
  if (!m_pAntecipados) m_pAntecipados = std::make_unique<uint8_t[]>(kZelLocalLeituraAntecipada);
  while (lidos < n) {
    const ssize_t r = RecebeComEsperaAtiva(m_fd, m_pAntecipados.get(), kZelLocalLeituraAntecipada, m_usEsperaAtiva);
    if (r < 0) return static_cast<int>(r);
    if (r == 0) return lidos == 0 ? 0 : -1;
    m_iAntecipados = 0;
    m_nAntecipados = static_cast<size_t>(r);
    lidos += TiraAntecipados(p + lidos, n - lidos);
  }
  return 1;
}

namespace {
HRESULT ResultadoLeitura(int r) { return r == -2 ? HRESULT_FROM_WIN32(ERROR_TIMEOUT) : RPC_E_DISCONNECTED; }
}  // namespace

HRESULT CZelLocalSocket::RecebeQuadro(ZelLocalQuadro* pQuadro, uint32_t ulMax) {
  if (m_fd < 0) return RPC_E_DISCONNECTED;
  uint8_t cab[kZelLocalTamanhoCabecalho];
  int r = Le(cab, sizeof cab);
  if (r == 0) return S_FALSE;
  if (r < 0) return ResultadoLeitura(r);
  uint32_t ulMagico, ulTamanho;
  uint16_t usVersao;
  std::memcpy(&ulMagico, cab, 4);
  std::memcpy(&usVersao, cab + 4, 2);
  std::memcpy(&pQuadro->usTipo, cab + 6, 2);
  std::memcpy(&pQuadro->ulId, cab + 8, 4);
  std::memcpy(&ulTamanho, cab + 12, 4);
  if (ulMagico != kZelLocalMagico || usVersao != kZelLocalVersao || ulTamanho > ulMax ||
      ulTamanho > kZelLocalMaxQuadro)
    return RPC_X_BAD_STUB_DATA;
  pQuadro->dados.clear();
  while (pQuadro->dados.size() < ulTamanho) {
    size_t lidos = pQuadro->dados.size();
    size_t n = std::min<size_t>(ulTamanho - lidos, kZelLocalPedacoLeitura);
    pQuadro->dados.resize(lidos + n);
    r = Le(pQuadro->dados.data() + lidos, n);
    if (r != 1) return ResultadoLeitura(r);
  }
  return S_OK;
}

namespace {
bool DefinePrazo(int fd, int iOpcao, uint32_t ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  return fd >= 0 && setsockopt(fd, SOL_SOCKET, iOpcao, &tv, sizeof tv) == 0;
}
}  // namespace

bool CZelLocalSocket::DefinePrazos(uint32_t msLeitura, uint32_t msEnvio) {
  return DefinePrazo(m_fd, SO_RCVTIMEO, msLeitura) && DefinePrazo(m_fd, SO_SNDTIMEO, msEnvio);
}

bool CZelLocalSocket::DefinePrazoLeitura(uint32_t msLeitura) { return DefinePrazo(m_fd, SO_RCVTIMEO, msLeitura); }

bool CZelLocalSocket::CredenciaisPar(uint32_t* pUid, int32_t* pPid) const {
  ucred cred{};
  socklen_t n = sizeof cred;
  if (m_fd < 0 || getsockopt(m_fd, SOL_SOCKET, SO_PEERCRED, &cred, &n) != 0) return false;
  if (pUid != nullptr) *pUid = cred.uid;
  if (pPid != nullptr) *pPid = cred.pid;
  return true;
}

HRESULT ZelLocalParSockets(CZelLocalSocket* pA, CZelLocalSocket* pB) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);
  *pA = CZelLocalSocket(fds[0]);
  *pB = CZelLocalSocket(fds[1]);
  return S_OK;
}

std::string ZelLocalDiretorioSockets() {
  const char* sz = std::getenv("XDG_RUNTIME_DIR");
  if (sz != nullptr && *sz == '/') {
    std::string s = sz;
    if (s.back() != '/') s += '/';
    return s + "zelcom/";
  }
  return "/tmp/zelcom-" + std::to_string(geteuid()) + "/";
}

HRESULT ZelLocalPreparaDiretorio(const std::string& sDiretorio, bool bAbertoAOutros, bool bAjustaModo) {
  mode_t modo = bAbertoAOutros ? 0711 : 0700;
  std::string s = sDiretorio;
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  if (mkdir(s.c_str(), modo) != 0 && errno != EEXIST) return E_ACCESSDENIED;
  struct stat st{};
  if (lstat(s.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return E_ACCESSDENIED;
  if (bAjustaModo && (st.st_mode & 0777) != modo && chmod(s.c_str(), modo) != 0) return E_ACCESSDENIED;
  return S_OK;
}

std::string ZelLocalCaminhoSocket(REFCLSID clsid) { return ZelLocalDiretorioSockets() + GuidParaTexto(clsid) + ".sock"; }

namespace {
bool Endereco(const std::string& sCaminho, sockaddr_un* pEnd) {
  std::memset(pEnd, 0, sizeof *pEnd);
  pEnd->sun_family = AF_UNIX;
  if (sCaminho.size() >= sizeof pEnd->sun_path) return false;
  std::memcpy(pEnd->sun_path, sCaminho.c_str(), sCaminho.size() + 1);
  return true;
}
}  // namespace

HRESULT ZelLocalConecta(const std::string& sCaminho, CZelLocalSocket* pSocket) {
  sockaddr_un end;
  if (!Endereco(sCaminho, &end)) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  CZelLocalSocket s(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!s.Valido()) return HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);
  int r;
  do {
    r = connect(s.Fd(), reinterpret_cast<sockaddr*>(&end), sizeof end);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    if (errno == EACCES || errno == EPERM) return E_ACCESSDENIED;
    return S_FALSE;
  }
  *pSocket = std::move(s);
  return S_OK;
}

HRESULT ZelLocalEscuta(const std::string& sCaminho, bool bAbertoAOutros, CZelLocalSocket* pOuvinte) {
  sockaddr_un end;
  if (!Endereco(sCaminho, &end)) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  CZelLocalSocket s(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!s.Valido()) return HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);
  unlink(sCaminho.c_str());
  if (bind(s.Fd(), reinterpret_cast<sockaddr*>(&end), sizeof end) != 0) return E_ACCESSDENIED;
  if (chmod(sCaminho.c_str(), bAbertoAOutros ? 0666 : 0600) != 0 || listen(s.Fd(), 128) != 0) {
    unlink(sCaminho.c_str());
    return E_ACCESSDENIED;
  }
  *pOuvinte = std::move(s);
  return S_OK;
}

HRESULT ZelLocalAceita(CZelLocalSocket& ouvinte, CZelLocalSocket* pNovo) {
  for (;;) {
    int fd = accept4(ouvinte.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      // A hint: a system that refuses it serves with its default buffer.
      (void)setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kZelLocalBufferEnvio, sizeof kZelLocalBufferEnvio);
      *pNovo = CZelLocalSocket(fd);
      return S_OK;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      usleep(10000);  // out of descriptors: let connections end instead of spinning
      continue;
    }
    return E_ABORT;
  }
}

void ZelLocalRemoveEndpoint(const std::string& sCaminho) { unlink(sCaminho.c_str()); }
