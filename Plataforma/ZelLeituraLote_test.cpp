#include "ZelLeituraLote.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ZelTesteAjudante.h"

namespace {
constexpr size_t kTamanho = 3u << 20;

struct Arquivo {
  std::string sConteudo;
  CFile f;
  Arquivo() {
    std::mt19937 g(7);
    sConteudo.resize(kTamanho);
    for (char& c : sConteudo) c = static_cast<char>(g());
    const std::string s = ZelDiretorioTeste() + "lote.bin";
    std::ofstream(s, std::ios::binary | std::ios::trunc) << sConteudo;
    f.Open(s, CFile::modeRead | CFile::shareDenyNone);
  }
};

// Pieces at random places, and the bounds: empty, at the end, across it, past it, and one larger than a submission.
std::vector<ZelTrecho> Pedidos(std::vector<std::string>& aDestinos, size_t n, uint32_t uSemente) {
  std::mt19937 g(uSemente);
  std::vector<std::pair<uint64_t, uint32_t>> a;
  for (size_t i = 0; i < n; ++i) a.emplace_back(g() % (kTamanho - 600), 1 + g() % 599);
  a.emplace_back(100, 0);
  a.emplace_back(kTamanho - 48, 48);
  a.emplace_back(kTamanho - 10, 20);
  a.emplace_back(kTamanho + 4096, 8);
  a.emplace_back(4096, 300u << 10);
  aDestinos.assign(a.size(), std::string());
  std::vector<ZelTrecho> aTrechos;
  for (size_t i = 0; i < a.size(); ++i) {
    aDestinos[i].assign(a[i].second, '#');
    aTrechos.push_back(ZelTrecho{a[i].first, a[i].second, aDestinos[i].data(), false});
  }
  return aTrechos;
}

void ConfereTrechos(const Arquivo& arq, const std::vector<ZelTrecho>& a, const std::vector<std::string>& aDestinos,
                    size_t nLidos) {
  size_t nEsperados = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const bool bCabe = a[i].llOffset + a[i].nBytes <= kTamanho;
    nEsperados += bCabe;
    ASSERT_EQ(a[i].bLido, bCabe) << i;
    if (bCabe) {
      ASSERT_EQ(aDestinos[i], arq.sConteudo.substr(a[i].llOffset, a[i].nBytes)) << i;
    } else if (a[i].llOffset >= kTamanho) {
      ASSERT_EQ(aDestinos[i], std::string(a[i].nBytes, '#')) << "nothing read past the end";
    }
  }
  EXPECT_EQ(nLidos, nEsperados);
}

class ZelLeituraLoteTeste : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { ZelLeTrechosPorAnel(GetParam()); }
  void TearDown() override { ZelLeTrechosPorAnel(true); }
  Arquivo m_arq;
};

// Whether this kernel gives the process rings at all.
bool TemAnel(CFile& f) {
  char c = 0;
  ZelTrecho a[2] = {{0, 1, &c, false}, {1, 1, &c, false}};
  const uint64_t n = ZelLeTrechosChamadas();
  ZelLeTrechos(f, a, 2);
  return ZelLeTrechosChamadas() - n == 1;
}

int AneisAbertos() {
  int n = 0;
  std::error_code erro;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
    n += std::filesystem::read_symlink(e.path(), erro).string().find("io_uring") != std::string::npos;
  return n;
}
}  // namespace

TEST_P(ZelLeituraLoteTeste, CadaTrechoChegaInteiroOuNaoChega) {
  std::vector<std::string> aDestinos;
  std::vector<ZelTrecho> a = Pedidos(aDestinos, 1000, 1);
  const size_t n = ZelLeTrechos(m_arq.f, a.data(), a.size());
  ConfereTrechos(m_arq, a, aDestinos, n);
  // Twice on one thread: the second batch finds its ring as the first left it.
  a = Pedidos(aDestinos, 700, 2);
  ConfereTrechos(m_arq, a, aDestinos, ZelLeTrechos(m_arq.f, a.data(), a.size()));

  std::vector<ZelTrecho> aFechado = Pedidos(aDestinos, 3, 3);
  CFile fechado;
  EXPECT_EQ(ZelLeTrechos(fechado, aFechado.data(), aFechado.size()), 1u) << "only the empty piece";
  EXPECT_EQ(aDestinos[0], std::string(aDestinos[0].size(), '#'));
}

TEST_P(ZelLeituraLoteTeste, CadaThreadLeSemAtrapalharAsOutras) {
  const auto Descritores = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator{});
  };
  const auto nAntes = Descritores();
  std::vector<std::thread> a;
  std::vector<int> aFalhas(4, 0);
  for (int t = 0; t < 4; ++t)
    a.emplace_back([&, t] {
      ZelLeTrechosPorAnel(GetParam());
      for (uint32_t r = 0; r < 20; ++r) {
        std::vector<std::string> aDestinos;
        std::vector<ZelTrecho> aTrechos = Pedidos(aDestinos, 300, 100 * t + r);
        ZelLeTrechos(m_arq.f, aTrechos.data(), aTrechos.size());
        for (size_t i = 0; i < aTrechos.size(); ++i)
          if (aTrechos[i].bLido && aDestinos[i] != m_arq.sConteudo.substr(aTrechos[i].llOffset, aTrechos[i].nBytes))
            ++aFalhas[t];
      }
    });
  for (auto& t : a) t.join();
  EXPECT_EQ(aFalhas, std::vector<int>(4, 0));
  EXPECT_EQ(Descritores(), nAntes) << "a thread's ring goes with it";
}

INSTANTIATE_TEST_SUITE_P(AnelOuPread, ZelLeituraLoteTeste, ::testing::Bool());

TEST(ZelLeituraLote, UmaChamadaPorCentenasDeTrechosEFilhoDeForkComAnelProprio) {
  Arquivo arq;
  std::vector<std::string> aDestinos;
  std::vector<ZelTrecho> a = Pedidos(aDestinos, 1000, 4);
  a.resize(1000);  // small pieces only: 256 to a submission
  ZelLeTrechosPorAnel(false);
  uint64_t n = ZelLeTrechosChamadas();
  ZelLeTrechos(arq.f, a.data(), a.size());
  EXPECT_EQ(ZelLeTrechosChamadas() - n, 1000u) << "one pread each";
  ZelLeTrechosPorAnel(true);
  if (!TemAnel(arq.f)) GTEST_SKIP() << "this kernel gives no io_uring";
  n = ZelLeTrechosChamadas();
  ZelLeTrechos(arq.f, a.data(), a.size());
  EXPECT_EQ(ZelLeTrechosChamadas() - n, 4u);
  // Pieces past a submission's bytes start another.
  std::vector<std::string> aGrandes(8, std::string(100u << 10, '\0'));
  std::vector<ZelTrecho> aTrechos;
  for (auto& s : aGrandes) aTrechos.push_back(ZelTrecho{aTrechos.size() * s.size(), 100u << 10, s.data(), false});
  n = ZelLeTrechosChamadas();
  EXPECT_EQ(ZelLeTrechos(arq.f, aTrechos.data(), aTrechos.size()), 8u);
  EXPECT_EQ(ZelLeTrechosChamadas() - n, 4u) << "two of 100 KB to each 256 KB";
  EXPECT_EQ(aGrandes[7], arq.sConteudo.substr(7 * aGrandes[7].size(), aGrandes[7].size()));

  // A forked child reads through a ring of its own.
  const int nPai = AneisAbertos();
  const pid_t pid = fork();
  if (pid == 0) {
    a = Pedidos(aDestinos, 100, 5);
    a.resize(100);
    const bool bCerto = ZelLeTrechos(arq.f, a.data(), a.size()) == 100 &&
                        aDestinos[99] == arq.sConteudo.substr(a[99].llOffset, a[99].nBytes);
    _exit(!bCerto ? 1 : AneisAbertos() == nPai + 1 ? 0 : 2);
  }
  ASSERT_GT(pid, 0);
  EXPECT_EQ(ZelEsperaAjudante(pid, 10000), 0) << "1: wrong bytes; 2: the parent's ring was used; -1: it did not end";
}
