#include "ZelLeituraLote.h"

#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {
constexpr unsigned kEntradas = 256;
// The bytes of one submission, which the thread's ring keeps a buffer of;
// a larger piece is read by itself.
constexpr size_t kMaximoLote = size_t{256} << 10;
// Interrupted waits in a row before a ring is given up.
constexpr int kMaximoInterrupcoes = 1000;

thread_local uint64_t t_nChamadas = 0;
thread_local bool t_bUsaAnel = true;
// Set when the kernel refuses rings to this process altogether.
std::atomic<bool> g_bSemAnel{false};

bool LeUm(CFile& arq, ZelTrecho& t) {
  if (t.nBytes == 0) return true;
  ++t_nChamadas;
  UINT nLidos = 0;
  return arq.LeEm(t.llOffset, t.pDestino, t.nBytes, &nLidos, /*bCurtoEhFim=*/true) == ERROR_SUCCESS &&
         nLidos == t.nBytes;
}

// The kernel writes into the ring's own buffer, which outlives any read in
// flight; the pieces are copied out once complete.
class CAnel {
 public:
  CAnel() = default;
  CAnel(const CAnel&) = delete;
  CAnel& operator=(const CAnel&) = delete;
  ~CAnel() {
    if (m_pSqes != MAP_FAILED) munmap(m_pSqes, m_nSqes);
    if (m_pCq != MAP_FAILED && m_pCq != m_pSq) munmap(m_pCq, m_nCq);
    if (m_pSq != MAP_FAILED) munmap(m_pSq, m_nSq);
    if (m_fd >= 0) close(m_fd);
  }

  bool Cria() {
    io_uring_params p{};
    m_fd = static_cast<int>(syscall(__NR_io_uring_setup, kEntradas, &p));
    if (m_fd < 0) {
      if (errno == ENOSYS || errno == EPERM) g_bSemAnel = true;
      return false;
    }
    m_pid = getpid();
    m_nEntradas = p.sq_entries;
    m_nSq = p.sq_off.array + p.sq_entries * sizeof(unsigned);
    m_nCq = p.cq_off.cqes + p.cq_entries * sizeof(io_uring_cqe);
    const bool bUmSo = (p.features & IORING_FEAT_SINGLE_MMAP) != 0;
    if (bUmSo) m_nSq = m_nCq = std::max(m_nSq, m_nCq);
    m_pSq = mmap(nullptr, m_nSq, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, m_fd, IORING_OFF_SQ_RING);
    if (m_pSq == MAP_FAILED) return false;
    m_pCq = bUmSo ? m_pSq
                  : mmap(nullptr, m_nCq, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, m_fd, IORING_OFF_CQ_RING);
    if (m_pCq == MAP_FAILED) return false;
    m_nSqes = p.sq_entries * sizeof(io_uring_sqe);
    m_pSqes = mmap(nullptr, m_nSqes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, m_fd, IORING_OFF_SQES);
    if (m_pSqes == MAP_FAILED) return false;
    char* pSq = static_cast<char*>(m_pSq);
    char* pCq = static_cast<char*>(m_pCq);
    m_pSqTail = reinterpret_cast<unsigned*>(pSq + p.sq_off.tail);
    m_uSqMascara = *reinterpret_cast<unsigned*>(pSq + p.sq_off.ring_mask);
    m_pSqArray = reinterpret_cast<unsigned*>(pSq + p.sq_off.array);
    m_pCqHead = reinterpret_cast<unsigned*>(pCq + p.cq_off.head);
    m_pCqTail = reinterpret_cast<unsigned*>(pCq + p.cq_off.tail);
    m_uCqMascara = *reinterpret_cast<unsigned*>(pCq + p.cq_off.ring_mask);
    m_aCqes = reinterpret_cast<io_uring_cqe*>(pCq + p.cq_off.cqes);
    m_aSqes = static_cast<io_uring_sqe*>(m_pSqes);
    return true;
  }

  unsigned Entradas() const { return m_nEntradas; }
  // A ring made before a fork belongs to the parent.
  bool DesteProcesso() const { return m_pid == getpid(); }

  // At most Entradas() pieces of at most kMaximoLote bytes in all. False
  // when the ring failed with reads in flight: it must then never be freed.
  bool Le(int fd, ZelTrecho* a, size_t n) {
    m_aPosicoes.resize(n);
    size_t nTotal = 0;
    for (size_t i = 0; i < n; ++i) {
      m_aPosicoes[i] = nTotal;
      nTotal += a[i].nBytes;
    }
    if (m_aBuffer.size() < nTotal) m_aBuffer.resize(nTotal);
    unsigned uTail = *m_pSqTail;  // only this thread moves it
    for (size_t i = 0; i < n; ++i, ++uTail) {
      const unsigned idx = uTail & m_uSqMascara;
      io_uring_sqe& s = m_aSqes[idx];
      std::memset(&s, 0, sizeof s);
      s.opcode = IORING_OP_READ;
      s.fd = fd;
      s.off = a[i].llOffset;
      s.addr = reinterpret_cast<uint64_t>(m_aBuffer.data() + m_aPosicoes[i]);
      s.len = a[i].nBytes;
      s.user_data = i;
      m_pSqArray[idx] = idx;
    }
    std::atomic_ref<unsigned>(*m_pSqTail).store(uTail, std::memory_order_release);

    size_t nFeitos = 0;
    int nInterrupcoes = 0;
    while (nFeitos < n) {
      ++t_nChamadas;
      // Entries the kernel already took are not counted again, so asking
      // for all of them after an interruption submits only the rest.
      const long r = syscall(__NR_io_uring_enter, m_fd, static_cast<unsigned>(n), static_cast<unsigned>(n - nFeitos),
                             IORING_ENTER_GETEVENTS, nullptr, 0);
      if (r < 0) {
        if ((errno == EINTR || errno == EAGAIN || errno == EBUSY) && ++nInterrupcoes < kMaximoInterrupcoes) continue;
        return false;
      }
      nInterrupcoes = 0;
      unsigned uHead = *m_pCqHead;
      const unsigned uFim = std::atomic_ref<unsigned>(*m_pCqTail).load(std::memory_order_acquire);
      for (; uHead != uFim; ++uHead, ++nFeitos) {
        const io_uring_cqe& c = m_aCqes[uHead & m_uCqMascara];
        ZelTrecho& t = a[c.user_data];
        if (c.res >= 0 && static_cast<uint32_t>(c.res) == t.nBytes) {
          std::memcpy(t.pDestino, m_aBuffer.data() + m_aPosicoes[c.user_data], t.nBytes);
          t.bLido = true;
        }
      }
      std::atomic_ref<unsigned>(*m_pCqHead).store(uHead, std::memory_order_release);
    }
    return true;
  }

 private:
  int m_fd = -1;
  pid_t m_pid = 0;
  void* m_pSq = MAP_FAILED;
  void* m_pCq = MAP_FAILED;
  void* m_pSqes = MAP_FAILED;
  size_t m_nSq = 0, m_nCq = 0, m_nSqes = 0;
  unsigned m_nEntradas = 0;
  unsigned* m_pSqTail = nullptr;
  unsigned* m_pSqArray = nullptr;
  unsigned* m_pCqHead = nullptr;
  unsigned* m_pCqTail = nullptr;
  unsigned m_uSqMascara = 0, m_uCqMascara = 0;
  io_uring_sqe* m_aSqes = nullptr;
  io_uring_cqe* m_aCqes = nullptr;
  std::vector<char> m_aBuffer;
  std::vector<size_t> m_aPosicoes;
};

thread_local std::unique_ptr<CAnel> t_pAnel;
thread_local bool t_bAnelFalhou = false;

CAnel* AnelDaThread() {
  if (!t_bUsaAnel || t_bAnelFalhou || g_bSemAnel) return nullptr;
  // A child of fork shares its parent's ring: it gets one of its own.
  if (t_pAnel && !t_pAnel->DesteProcesso()) (void)t_pAnel.release();
  if (!t_pAnel) {
    auto p = std::make_unique<CAnel>();
    if (!p->Cria()) {
      t_bAnelFalhou = true;
      return nullptr;
    }
    t_pAnel = std::move(p);
  }
  return t_pAnel.get();
}
}  // namespace

size_t ZelLeTrechos(CFile& arq, ZelTrecho* aTrechos, size_t nTrechos) {
  const int fd = arq.GetDescritor();
  for (size_t i = 0; i < nTrechos; ++i) aTrechos[i].bLido = false;
  size_t i = 0;
  if (CAnel* pAnel = fd >= 0 ? AnelDaThread() : nullptr) {
    while (i < nTrechos) {
      if (aTrechos[i].nBytes > kMaximoLote) {
        aTrechos[i].bLido = LeUm(arq, aTrechos[i]);
        ++i;
        continue;
      }
      size_t j = i, nBytes = 0;
      while (j < nTrechos && j - i < pAnel->Entradas() && nBytes + aTrechos[j].nBytes <= kMaximoLote)
        nBytes += aTrechos[j++].nBytes;
      if (!pAnel->Le(fd, aTrechos + i, j - i)) {
        // Reads may still land in its buffer: it is kept for good.
        (void)t_pAnel.release();
        t_bAnelFalhou = true;
        break;
      }
      i = j;
    }
  }
  for (; i < nTrechos; ++i)
    if (!aTrechos[i].bLido) aTrechos[i].bLido = LeUm(arq, aTrechos[i]);
  return static_cast<size_t>(std::count_if(aTrechos, aTrechos + nTrechos, [](const ZelTrecho& t) { return t.bLido; }));
}

void ZelLeTrechosPorAnel(bool bUsa) { t_bUsaAnel = bUsa; }

uint64_t ZelLeTrechosChamadas() { return t_nChamadas; }
