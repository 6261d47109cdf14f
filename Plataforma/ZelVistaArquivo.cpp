#include "ZelVistaArquivo.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
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
