// Read-only views of whole files, kept across opens and shared by the
// threads of the process: a read of a few hundred bytes at a random place
// costs a copy instead of a system call. Views map the page cache itself,
// so they see every write of every process as a read would. A view belongs
// to the file's identity (device and inode): a file replaced under its name
// gets a view of its own, and an old one lives while someone holds it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

class CZelVistaArquivo {
 public:
  // The view of the open descriptor fd, with *pnTamanho set to the file's
  // length now; null when the file cannot be mapped (then read it).
  static std::shared_ptr<const CZelVistaArquivo> Obtem(int fd, uint64_t* pnTamanho);
  // Forgets the kept views; holders keep theirs.
  static void Esquece();

  CZelVistaArquivo(const CZelVistaArquivo&) = delete;
  CZelVistaArquivo& operator=(const CZelVistaArquivo&) = delete;
  ~CZelVistaArquivo();

  // Only bytes below a length the reader got from Obtem may be read: a
  // page past the end of the file faults.
  const char* Dados() const { return m_p; }
  // The mapped length, which runs past the file's end so that it can grow.
  uint64_t Mapeado() const { return m_nMapeado; }

  // The unit of the marks below: the span whose cached pages the kernel
  // maps on one fault of the view.
  static constexpr uint64_t kBloco = uint64_t{64} << 10;
  // Marks the blocks of nBytes at llOffset as asked for; true when each of
  // them had been asked for before. A first touch of a block of the view
  // costs several reads, so it is worth it for a block asked for again, not
  // for one read once at random (see ZelLeTrechos). Marked by pages, a large
  // file read at random would take a read for each of its pages.
  bool MarcaPedido(uint64_t llOffset, uint64_t nBytes) const;
  // The same answer, marking nothing.
  bool Pedido(uint64_t llOffset, uint64_t nBytes) const;
  // A view of a file of at least this many bytes is prepared in the
  // background: the pages of it already in the page cache are mapped in few
  // system calls, and their blocks marked as asked for, so that its first
  // readers neither fault nor read them one at a time. Pages not cached are
  // left alone: preparing does no disk reads.
  static constexpr uint64_t kMinimoPreparo = uint64_t{16} << 20;
  // True once the preparation of this view has run (false for a smaller
  // file, or when there was no room for it).
  bool Preparada() const { return m_bPreparada.load(std::memory_order_acquire); }

  // Asks the processor to bring the bytes into its cache without waiting:
  // copies from many random places then wait for memory once, not once each.
  void Antecipa(uint64_t llOffset, uint64_t nBytes) const {
    for (uint64_t ull = llOffset & ~uint64_t{63}; ull < llOffset + nBytes; ull += 64) __builtin_prefetch(m_p + ull);
  }

 private:
  CZelVistaArquivo(const char* p, uint64_t nMapeado);
  friend struct ZelPreparoVistas;
  // Maps the cached pages of the first nTamanho bytes and marks their blocks.
  void Prepara(uint64_t nTamanho) const;
  // f(word, bit) for each block of the range; true when it was true for all.
  template <class F>
  bool CadaBloco(uint64_t llOffset, uint64_t nBytes, F f) const;
  const char* m_p;
  uint64_t m_nMapeado;
  // One bit per block.
  std::unique_ptr<std::atomic<uint64_t>[]> m_aPedidas;
  mutable std::atomic<bool> m_bPreparada{false};
};
