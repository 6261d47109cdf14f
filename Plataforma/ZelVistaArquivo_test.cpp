#include "ZelVistaArquivo.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ZelTesteAjudante.h"

namespace {
std::string Caminho(const std::string& sNome) { return ZelDiretorioTeste() + "vista_" + sNome; }

void Escreve(const std::string& sCaminho, const std::string& sConteudo) {
  std::ofstream(sCaminho, std::ios::binary | std::ios::trunc) << sConteudo;
}

struct Fd {
  int fd;
  explicit Fd(const std::string& s, int iModo = O_RDONLY) : fd(open(s.c_str(), iModo | O_CLOEXEC)) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

std::string Le(const CZelVistaArquivo& v, uint64_t nOffset, size_t n) { return std::string(v.Dados() + nOffset, n); }

// A new file with its first view, no other view kept.
struct ComVista {
  std::string s;
  std::unique_ptr<Fd> pLeitor;
  uint64_t nTamanho = 99;
  std::shared_ptr<const CZelVistaArquivo> pVista;
  ComVista(const std::string& sNome, const std::string& sConteudo) : s(Caminho(sNome)) {
    CZelVistaArquivo::Esquece();
    Escreve(s, sConteudo);
    pLeitor = std::make_unique<Fd>(s);
    pVista = CZelVistaArquivo::Obtem(pLeitor->fd, &nTamanho);
  }
};

// Which pages of the first n bytes of a file are in the page cache, seen through a mapping of this test's own.
std::vector<bool> PaginasCacheadas(const std::string& sCaminho, uint64_t n) {
  const uint64_t nPagina = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  Fd f(sCaminho);
  void* p = mmap(nullptr, n, PROT_READ, MAP_SHARED, f.fd, 0);
  if (p == MAP_FAILED) return {};
  std::vector<unsigned char> a((n + nPagina - 1) / nPagina);
  const bool bOk = mincore(p, n, a.data()) == 0;
  munmap(p, n);
  std::vector<bool> aCacheada;
  for (unsigned char c : a) aCacheada.push_back((c & 1) != 0);
  return bOk ? aCacheada : std::vector<bool>{};
}

// Resident bytes of the mapping that starts at p in this process.
int64_t Mapeados(const void* p) {
  std::ifstream f("/proc/self/smaps");
  std::ostringstream os;
  os << std::hex << reinterpret_cast<uintptr_t>(p) << "-";
  bool bNela = false;
  for (std::string s; std::getline(f, s);) {
    if (s.rfind(os.str(), 0) == 0) bNela = true;
    if (bNela && s.rfind("Rss:", 0) == 0) return std::stoll(s.substr(4)) * 1024;
  }
  return -1;
}

bool EsperaPreparo(const CZelVistaArquivo& v) {
  for (int i = 0; i < 20000 && !v.Preparada(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return v.Preparada();
}
}  // namespace

TEST(ZelVistaArquivo, VeOQueOutrosGravamOCrescimentoEArquivoTrocado) {
  ComVista v("cresce.dat", "abcdef");
  ASSERT_NE(v.pVista, nullptr);
  EXPECT_EQ(v.nTamanho, 6u);
  EXPECT_EQ(Le(*v.pVista, 0, 6), "abcdef");

  // Writes through another descriptor show at once in the same view: the mapping has room past the end.
  Fd escritor(v.s, O_WRONLY);
  ASSERT_EQ(pwrite(escritor.fd, "XY", 2, 2), 2);
  const std::string sMais(70000, 'm');
  ASSERT_EQ(pwrite(escritor.fd, sMais.data(), sMais.size(), 6), static_cast<ssize_t>(sMais.size()));
  EXPECT_EQ(CZelVistaArquivo::Obtem(v.pLeitor->fd, &v.nTamanho), v.pVista) << "one file, one view";
  EXPECT_EQ(v.nTamanho, 6u + sMais.size());
  EXPECT_EQ(Le(*v.pVista, 0, 8), "abXYefmm");
  EXPECT_EQ(Le(*v.pVista, v.nTamanho - 1, 1), "m");
  EXPECT_GE(v.pVista->Mapeado(), v.nTamanho);

  // Past the mapping, a larger view; a holder keeps its old one.
  const uint64_t nAlem = v.pVista->Mapeado() + 10;
  ASSERT_EQ(pwrite(escritor.fd, "fim", 3, static_cast<off_t>(nAlem)), 3);
  auto pGrande = CZelVistaArquivo::Obtem(v.pLeitor->fd, &v.nTamanho);
  ASSERT_NE(pGrande, nullptr);
  EXPECT_NE(pGrande, v.pVista);
  EXPECT_EQ(v.nTamanho, nAlem + 3);
  EXPECT_GE(pGrande->Mapeado(), 2 * v.nTamanho) << "room to grow as much again";
  EXPECT_EQ(Le(*pGrande, nAlem, 3), "fim");
  EXPECT_EQ(Le(*v.pVista, 0, 8), "abXYefmm");
  EXPECT_EQ(CZelVistaArquivo::Obtem(v.pLeitor->fd, &v.nTamanho), pGrande);

  // A file replaced under the same name has a view of its own; the old one stays readable.
  ComVista t("troca.dat", "velho");
  ASSERT_NE(t.pVista, nullptr);
  Escreve(Caminho("troca.tmp"), "novo!!");
  ASSERT_EQ(rename(Caminho("troca.tmp").c_str(), t.s.c_str()), 0);
  Fd novo(t.s);
  auto pNova = CZelVistaArquivo::Obtem(novo.fd, &t.nTamanho);
  ASSERT_NE(pNova, nullptr);
  EXPECT_NE(pNova, t.pVista);
  EXPECT_EQ(t.nTamanho, 6u);
  EXPECT_EQ(Le(*pNova, 0, 6), "novo!!");
  EXPECT_EQ(Le(*t.pVista, 0, 5), "velho");
}

TEST(ZelVistaArquivo, SemVistaParaOQueNaoEArquivoEAsMenosUsadasSaemAlemDoLimite) {
  CZelVistaArquivo::Esquece();
  uint64_t nTamanho = 7;
  Fd diretorio(ZelDiretorioTeste(), O_RDONLY | O_DIRECTORY);
  EXPECT_EQ(CZelVistaArquivo::Obtem(diretorio.fd, &nTamanho), nullptr);
  EXPECT_EQ(nTamanho, 0u);
  EXPECT_EQ(CZelVistaArquivo::Obtem(-1, &nTamanho), nullptr);
  int aPipe[2];
  ASSERT_EQ(pipe(aPipe), 0);
  EXPECT_EQ(CZelVistaArquivo::Obtem(aPipe[0], &nTamanho), nullptr);
  close(aPipe[0]);
  close(aPipe[1]);

  // 32 views are kept; the 33rd file pushes out the one used longest ago, not the one just used.
  std::vector<std::unique_ptr<Fd>> aFds;
  std::vector<std::shared_ptr<const CZelVistaArquivo>> aVistas;
  for (int i = 0; i < 33; ++i) {
    const std::string s = Caminho("n" + std::to_string(i));
    Escreve(s, "x");
    aFds.push_back(std::make_unique<Fd>(s));
    aVistas.push_back(CZelVistaArquivo::Obtem(aFds.back()->fd, &nTamanho));
    if (i == 31) CZelVistaArquivo::Obtem(aFds[0]->fd, &nTamanho);
  }
  EXPECT_EQ(CZelVistaArquivo::Obtem(aFds[0]->fd, &nTamanho), aVistas[0]);
  EXPECT_EQ(CZelVistaArquivo::Obtem(aFds[32]->fd, &nTamanho), aVistas[32]);
  auto pRefeita = CZelVistaArquivo::Obtem(aFds[1]->fd, &nTamanho);
  ASSERT_NE(pRefeita, nullptr);
  EXPECT_NE(pRefeita, aVistas[1]);
  EXPECT_EQ(Le(*pRefeita, 0, 1), "x");
}

TEST(ZelVistaArquivo, UmBlocoSoContaComoPedidoDepoisDaPrimeiraVez) {
  constexpr uint64_t B = CZelVistaArquivo::kBloco;
  ComVista v("pedidas.dat", std::string(5 * B, 'p'));
  ASSERT_NE(v.pVista, nullptr);
  const CZelVistaArquivo& vista = *v.pVista;
  EXPECT_FALSE(vista.Pedido(B + 10, 20));
  EXPECT_FALSE(vista.MarcaPedido(B + 10, 20)) << "the check before it marked nothing";
  EXPECT_TRUE(vista.Pedido(B, B));
  EXPECT_FALSE(vista.Pedido(B - 96, 200));
  EXPECT_TRUE(vista.MarcaPedido(B, B)) << "the same block";
  EXPECT_FALSE(vista.MarcaPedido(B - 96, 200)) << "block 0 is new, block 1 is not";
  EXPECT_TRUE(vista.MarcaPedido(0, 2 * B));
  EXPECT_FALSE(vista.MarcaPedido(3 * B - 1, 2)) << "the last byte of block 2 is on it";
  EXPECT_FALSE(vista.MarcaPedido(4 * B, 1));
  EXPECT_TRUE(vista.MarcaPedido(2 * B, 3 * B));
  // Marks past block 63 live in another word.
  EXPECT_FALSE(vista.MarcaPedido(64 * B, 1));
  EXPECT_FALSE(vista.MarcaPedido(65 * B, 1));
  EXPECT_TRUE(vista.MarcaPedido(64 * B, 2 * B));
  EXPECT_TRUE(vista.Pedido(65 * B, B)) << "marked on the first ask";
  EXPECT_FALSE(vista.Pedido(63 * B, 2 * B + 1)) << "block 63 never asked for";
  EXPECT_TRUE(vista.MarcaPedido(7, 0)) << "nothing to ask for";
  EXPECT_TRUE(vista.Pedido(vista.Mapeado(), B));
  EXPECT_TRUE(vista.MarcaPedido(vista.Mapeado(), B)) << "past the mapping";
  // Another view of the same file starts with no block asked for.
  CZelVistaArquivo::Esquece();
  uint64_t nTamanho = 0;
  auto pNova = CZelVistaArquivo::Obtem(v.pLeitor->fd, &nTamanho);
  ASSERT_NE(pNova, nullptr);
  EXPECT_FALSE(pNova->MarcaPedido(B + 10, 20));
}

// A large file read at random is mapped ahead, from the pages the page cache already holds: a block with any page not
// cached is neither read from the disk nor marked, and a file one page smaller is left alone.
TEST(ZelVistaArquivo, ArquivoGrandeTemSoAsPaginasCacheadasMapeadasAntes) {
  // From 16 MiB up a file is worth mapping ahead.
  constexpr uint64_t B = CZelVistaArquivo::kBloco, N = uint64_t{16} << 20;
  const uint64_t nPagina = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  CZelVistaArquivo::Esquece();
  const std::string sPequeno = Caminho("preparo_pequeno.dat"), sGrande = Caminho("preparo_grande.dat");
  Escreve(sPequeno, std::string(N - nPagina, 'p'));
  std::string sConteudo(N, 'g');
  for (uint64_t i = 0; i < N; i += B) sConteudo[i] = static_cast<char>('a' + (i / B) % 26);
  Escreve(sGrande, sConteudo);
  // Blocks 128 to 191 leave the cache: 4 MB on a 2 MB boundary, which a page cache of large folios drops whole.
  Fd fPequeno(sPequeno), fGrande(sGrande);
  ASSERT_EQ(fdatasync(fGrande.fd), 0);
  ASSERT_EQ(posix_fadvise(fGrande.fd, 128 * B, 64 * B, POSIX_FADV_DONTNEED), 0);
  const std::vector<bool> aAntes = PaginasCacheadas(sGrande, N);
  ASSERT_EQ(aAntes.size(), N / nPagina);
  ASSERT_FALSE(aAntes[(160 * B) / nPagina]) << "this file system keeps clean pages it was told to drop";

  uint64_t nTamanho = 0;
  const auto pPequena = CZelVistaArquivo::Obtem(fPequeno.fd, &nTamanho);
  const auto pGrande = CZelVistaArquivo::Obtem(fGrande.fd, &nTamanho);
  ASSERT_NE(pPequena, nullptr);
  ASSERT_NE(pGrande, nullptr);
  ASSERT_TRUE(EsperaPreparo(*pGrande));
  // One queue: the small view, asked for first, would be done by now.
  EXPECT_FALSE(pPequena->Preparada());
  EXPECT_FALSE(pPequena->Pedido(0, B));

  uint64_t nMarcados = 0, nCacheados = 0;
  for (uint64_t b = 0; b < N / B; ++b) {
    bool bCacheado = true;
    for (uint64_t i = b * B / nPagina; i < (b + 1) * B / nPagina; ++i) bCacheado = bCacheado && aAntes[i];
    EXPECT_EQ(pGrande->Pedido(b * B, 1), bCacheado) << "block " << b;
    nMarcados += pGrande->Pedido(b * B, 1);
    nCacheados += bCacheado;
  }
  EXPECT_GE(nMarcados, N / B - 64);
  // Mapped: resident in the view before any read of it; the dropped pages were not read back.
  EXPECT_GE(Mapeados(pGrande->Dados()), static_cast<int64_t>(nCacheados * B));
  const std::vector<bool> aDepois = PaginasCacheadas(sGrande, N);
  ASSERT_EQ(aDepois.size(), aAntes.size());
  for (uint64_t i = 128 * B / nPagina; i < 192 * B / nPagina; ++i)
    if (!aAntes[i]) {
      EXPECT_FALSE(aDepois[i]) << "page " << i;
    }
  EXPECT_EQ(pGrande->Dados()[127 * B], static_cast<char>('a' + 127 % 26));
  EXPECT_EQ(pGrande->Dados()[160 * B], static_cast<char>('a' + 160 % 26));
  // The queue ran dry long ago: the same file mapped afresh is prepared all the same.
  CZelVistaArquivo::Esquece();
  const auto pDeNovo = CZelVistaArquivo::Obtem(fGrande.fd, &nTamanho);
  ASSERT_NE(pDeNovo, nullptr);
  ASSERT_NE(pDeNovo, pGrande);
  EXPECT_TRUE(EsperaPreparo(*pDeNovo));
}
