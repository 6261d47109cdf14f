#include "ZelVistaArquivo.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {
// A few files are read at random at once (the value and text files of the
// processes in use); beyond that the least used view goes.
constexpr size_t kMaximoVistas = 32;
// Room past the end, so that a growing file keeps its view for a while.
constexpr uint64_t kMinimoMapeado = uint64_t{64} << 20;

struct Entrada {
  dev_t dev;
  ino_t ino;
  std::shared_ptr<const CZelVistaArquivo> pVista;
  uint64_t ullUso;
};

struct Vistas {
  std::mutex trava;
  std::vector<Entrada> a;
  uint64_t ullRelogio = 0;
};

Vistas& Tabela() {
  static Vistas* p = new Vistas;  // outlives the views released at exit
  return *p;
}
}  // namespace

// The preparations wait in one queue for one thread, which lives while the
// queue has work: a burst of new views costs one thread, not one each. A
// view dropped before its turn is not prepared.
struct ZelPreparoVistas {
  std::mutex trava;
  std::deque<std::pair<std::weak_ptr<const CZelVistaArquivo>, uint64_t>> fila;
  bool bTrabalhando = false;

  static ZelPreparoVistas& Unico() {
    static ZelPreparoVistas* p = new ZelPreparoVistas;  // the thread may outlive main
    return *p;
  }

  void Agenda(const std::shared_ptr<const CZelVistaArquivo>& pVista, uint64_t nTamanho) {
    std::lock_guard<std::mutex> l(trava);
    if (fila.size() >= kMaximoVistas) return;
    fila.emplace_back(pVista, nTamanho);
    if (bTrabalhando) return;
    try {
      std::thread([this] { Trabalha(); }).detach();
      bTrabalhando = true;
    } catch (const std::system_error&) {
      fila.clear();  // the views are read as if never prepared
    }
  }

  void Trabalha() {
    for (;;) {
      std::shared_ptr<const CZelVistaArquivo> pVista;
      uint64_t nTamanho = 0;
      {
        std::lock_guard<std::mutex> l(trava);
        if (fila.empty()) {
          bTrabalhando = false;
          return;
        }
        pVista = fila.front().first.lock();
        nTamanho = fila.front().second;
        fila.pop_front();
      }
      if (pVista) pVista->Prepara(nTamanho);
    }
  }
};

CZelVistaArquivo::CZelVistaArquivo(const char* p, uint64_t nMapeado)
    : m_p(p), m_nMapeado(nMapeado), m_aPedidas(new std::atomic<uint64_t>[(nMapeado / kBloco + 63) / 64]()) {}

template <class F>
bool CZelVistaArquivo::CadaBloco(uint64_t llOffset, uint64_t nBytes, F f) const {
  if (nBytes == 0 || llOffset >= m_nMapeado) return true;
  const uint64_t nUltima = (std::min(llOffset + nBytes, m_nMapeado) - 1) / kBloco;
  bool bTodas = true;
  for (uint64_t n = llOffset / kBloco; n <= nUltima; ++n) bTodas &= f(m_aPedidas[n / 64], uint64_t{1} << (n % 64));
  return bTodas;
}

bool CZelVistaArquivo::MarcaPedido(uint64_t llOffset, uint64_t nBytes) const {
  return CadaBloco(llOffset, nBytes, [](std::atomic<uint64_t>& w, uint64_t ullBit) {
    // Most blocks asked for are marked already; a plain read spares them the
    // locked write.
    return (w.load(std::memory_order_relaxed) & ullBit) != 0 ||
           (w.fetch_or(ullBit, std::memory_order_relaxed) & ullBit) != 0;
  });
}

bool CZelVistaArquivo::Pedido(uint64_t llOffset, uint64_t nBytes) const {
  return CadaBloco(llOffset, nBytes, [](const std::atomic<uint64_t>& w, uint64_t ullBit) {
    return (w.load(std::memory_order_relaxed) & ullBit) != 0;
  });
}

void CZelVistaArquivo::Prepara(uint64_t nTamanho) const {
  const uint64_t nPagina = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  const uint64_t nFim = std::min(m_nMapeado, (nTamanho + nPagina - 1) / nPagina * nPagina);
  // A few megabytes at a time: which of their pages are cached, then one
  // populate for each run of blocks cached whole.
  constexpr uint64_t kTrecho = 64 * kBloco;
  std::vector<unsigned char> aNaMemoria(kTrecho / nPagina);
  char* const p = const_cast<char*>(m_p);
  bool bFalhou = false;
  for (uint64_t ullTrecho = 0; ullTrecho < nFim && !bFalhou; ullTrecho += kTrecho) {
    const uint64_t ullFimTrecho = std::min(nFim, ullTrecho + kTrecho);
    if (mincore(p + ullTrecho, ullFimTrecho - ullTrecho, aNaMemoria.data()) != 0) break;
    uint64_t ullRun = ullTrecho;
    for (uint64_t ullBloco = ullTrecho; ullBloco < ullFimTrecho && !bFalhou; ullBloco += kBloco) {
      const uint64_t ullFimBloco = std::min(ullFimTrecho, ullBloco + kBloco);
      bool bCacheado = true;
      for (uint64_t ull = ullBloco; ull < ullFimBloco && bCacheado; ull += nPagina)
        bCacheado = (aNaMemoria[(ull - ullTrecho) / nPagina] & 1) != 0;
      const uint64_t ullFimRun = bCacheado ? ullFimBloco : ullBloco;
      if (bCacheado && ullFimBloco < ullFimTrecho) continue;
      if (ullFimRun > ullRun) {
        // A kernel without the advice, or a file cut short meanwhile, ends
        // the preparation: its readers take the usual ways.
        bFalhou = madvise(p + ullRun, ullFimRun - ullRun, MADV_POPULATE_READ) != 0;
        if (!bFalhou) MarcaPedido(ullRun, ullFimRun - ullRun);
      }
      ullRun = ullFimBloco;
    }
  }
  m_bPreparada.store(true, std::memory_order_release);
}

CZelVistaArquivo::~CZelVistaArquivo() { munmap(const_cast<char*>(m_p), m_nMapeado); }

std::shared_ptr<const CZelVistaArquivo> CZelVistaArquivo::Obtem(int fd, uint64_t* pnTamanho) {
  *pnTamanho = 0;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  *pnTamanho = static_cast<uint64_t>(st.st_size);
  Vistas& t = Tabela();
  std::lock_guard<std::mutex> trava(t.trava);
  auto it = std::find_if(t.a.begin(), t.a.end(), [&](const Entrada& e) { return e.dev == st.st_dev && e.ino == st.st_ino; });
  if (it != t.a.end() && it->pVista->Mapeado() >= *pnTamanho) {
    it->ullUso = ++t.ullRelogio;
    return it->pVista;
  }
  const uint64_t nPagina = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  uint64_t nMapeado = std::max(kMinimoMapeado, *pnTamanho * 2);
  nMapeado = (nMapeado + nPagina - 1) / nPagina * nPagina;
  void* p = mmap(nullptr, nMapeado, PROT_READ, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return nullptr;
  std::shared_ptr<const CZelVistaArquivo> pVista(new CZelVistaArquivo(static_cast<const char*>(p), nMapeado));
  if (*pnTamanho >= kMinimoPreparo) ZelPreparoVistas::Unico().Agenda(pVista, *pnTamanho);
  if (it != t.a.end()) {
    it->pVista = pVista;
    it->ullUso = ++t.ullRelogio;
    return pVista;
  }
  if (t.a.size() >= kMaximoVistas)
    t.a.erase(std::min_element(t.a.begin(), t.a.end(),
                               [](const Entrada& x, const Entrada& y) { return x.ullUso < y.ullUso; }));
  t.a.push_back(Entrada{st.st_dev, st.st_ino, pVista, ++t.ullRelogio});
  return pVista;
}

void CZelVistaArquivo::Esquece() {
  Vistas& t = Tabela();
  std::lock_guard<std::mutex> trava(t.trava);
  t.a.clear();
}
