#include "ZelMutexNomeado.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ZelSistema.h"
#include "ZelTempo.h"
#include "ZelTesteAjudante.h"

namespace {
// Names as callers build them; each used once, as the process keeps a removed name's mapping.
std::string Serie() {
  static int nSerie = 0;
  return std::to_string(++nSerie);
}
std::string NomeDoTeste(const std::string& sSufixo) {
  return "Global\\Tolvan {" + std::to_string(getpid()) + "-" + Serie() + "} " + sSufixo;
}

class MutexNomeado : public ::testing::Test {
 protected:
  std::string Nome(const std::string& sSufixo) {
    m_nomes.push_back(NomeDoTeste(sSufixo));
    return m_nomes.back();
  }
  void TearDown() override {
    for (const auto& s : m_nomes) {
      ZelExcluiMutexNomeado(s);
      EXPECT_EQ(ZelExcluiMutexNomeado(s), ERROR_FILE_NOT_FOUND) << "a removed name is gone";
    }
  }
  std::vector<std::string> m_nomes;
};

DWORD EsperaEmOutraThread(CZelMutexNomeado& m, DWORD ms, bool bLibera = true) {
  DWORD r = WAIT_FAILED;
  std::thread t([&] {
    r = m.Espera(ms);
    if (bLibera && (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED)) m.Libera();
  });
  t.join();
  return r;
}

}  // namespace

// args: name, directory. Holds the mutex, announced by "pronto", until "solta" appears.
ZEL_AJUDANTE(SeguraMutex) {
  CZelMutexNomeado m(args.at(0));
  if (m.Espera(INFINITE) != WAIT_OBJECT_0) return 2;
  ZelCriaMarcador(args.at(1) + "pronto");
  if (!ZelEsperaArquivo(args.at(1) + "solta")) return 3;
  return m.Libera() ? 0 : 4;
}

// A creator that died between claiming a name's segment and publishing its mutex (the segment's first word left at 1,
// "initialising") leaves the name unusable: an opener waits its whole bounded time and is told it timed out.
TEST_F(MutexNomeado, IniciadorMortoEsgotaOPrazoESegmentoSemTamanhoNaoPrendeDescritores) {
  const std::string s = Nome("iniciador morto");
  const int fd = shm_open(ZelObjetoMutexNomeado(s).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  const uint32_t kIniciando = 1;
  EXPECT_EQ(ftruncate(fd, 4096), 0);
  EXPECT_EQ(pwrite(fd, &kIniciando, sizeof kIniciando, 0), ssize_t{sizeof kIniciando});
  close(fd);
  const uint64_t llAntes = ZelRelogioNs();
  CZelMutexNomeado m(s);
  EXPECT_GE(ZelRelogioNs() - llAntes, uint64_t{ZelTempoMs(ZelTempo::kEsperaIniciacaoMutexNomeado)} * 1000000u);
  EXPECT_FALSE(m.Valido());
  EXPECT_EQ(m.ErroCriacao(), ERROR_TIMEOUT);
  EXPECT_EQ(m.Espera(0), WAIT_FAILED);
  EXPECT_EQ(m.ErroEspera(), ERROR_INVALID_HANDLE) << "a wait on no mutex says why, not why the open failed";
  // A segment that cannot be sized costs no descriptor, and the next opener sizes it.
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("SegmentoSemTamanho", {Nome("sem tamanho")})), 0)
      << "2: limits, 3: opened, 4: descriptors left open, 5: not usable afterwards";
}

TEST_F(MutexNomeado, EsperaComPrazoAguardaALiberacaoEMesmoNomeEhUmMutexRecursivo) {
  CZelMutexNomeado m(Nome("prazo"));
  std::string sDir = ZelNovoDiretorio("prazo" + Serie());
  std::thread dona([&] {
    if (m.Espera(INFINITE) != WAIT_OBJECT_0) return;
    ZelCriaMarcador(sDir + "pronto");
    ZelEsperaArquivo(sDir + "solta");
    Sleep(50);
    m.Libera();
  });
  ASSERT_TRUE(ZelEsperaArquivo(sDir + "pronto"));
  EXPECT_EQ(m.Espera(20), WAIT_TIMEOUT);
  ZelCriaMarcador(sDir + "solta");
  EXPECT_EQ(m.Espera(999), WAIT_OBJECT_0) << "a wait below a second lasts its milliseconds";
  EXPECT_TRUE(m.Libera());
  dona.join();

  // One name is one mutex, recursive in its owner thread through any object; only the owner releases it.
  std::string sLongo = Nome(std::string(2000, 'x') + " {chave} com espa\xE7os");
  const std::string sOutro = Nome("outro");
  CZelMutexNomeado a(sLongo), b(sLongo), c(sOutro);
  ASSERT_TRUE(a.Valido() && b.Valido() && c.Valido());
  // Another account cannot open the segment behind a name, let alone hold it.
  struct stat st {};
  ASSERT_EQ(stat(("/dev/shm" + ZelObjetoMutexNomeado(sOutro)).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(a.ErroCriacao(), ERROR_SUCCESS);
  ASSERT_EQ(a.Espera(0), WAIT_OBJECT_0);
  EXPECT_EQ(b.Espera(INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(EsperaEmOutraThread(b, 0), WAIT_TIMEOUT);
  EXPECT_EQ(EsperaEmOutraThread(c, 0), WAIT_OBJECT_0);
  bool bLiberouAlheio = true;
  std::thread([&] { bLiberouAlheio = a.Libera(); }).join();
  EXPECT_FALSE(bLiberouAlheio);
  EXPECT_TRUE(b.Libera());
  EXPECT_EQ(EsperaEmOutraThread(a, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(a.Libera());
  EXPECT_FALSE(a.Libera());
  EXPECT_EQ(EsperaEmOutraThread(b, 0), WAIT_OBJECT_0);
  // Objects of one name share one mapping, however many come and go: a
  // server taking a marker for every change maps its segment once.
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(CZelMutexNomeado(sOutro).Valido());
  std::ifstream maps("/proc/self/maps");
  const std::string sObjeto = ZelObjetoMutexNomeado(sOutro);
  int nMapeamentos = 0;
  for (std::string s; std::getline(maps, s);) nMapeamentos += s.find(sObjeto) != std::string::npos;
  EXPECT_EQ(nMapeamentos, 1);
}

// args: name. Opens it three times while no file may grow (so sizing its new
// segment fails), then once more with the limit lifted.
ZEL_AJUDANTE(SegmentoSemTamanho) {
  auto Descritores = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  signal(SIGXFSZ, SIG_IGN);
  rlimit antes{};
  if (getrlimit(RLIMIT_FSIZE, &antes) != 0) return 2;
  const rlimit zero{0, antes.rlim_max};
  if (setrlimit(RLIMIT_FSIZE, &zero) != 0) return 2;
  const auto nAntes = Descritores();
  for (int i = 0; i < 3; ++i) {
    CZelMutexNomeado m(args.at(0));
    if (m.Valido() || m.ErroCriacao() == ERROR_SUCCESS) return 3;
  }
  if (Descritores() != nAntes) return 4;
  if (setrlimit(RLIMIT_FSIZE, &antes) != 0) return 2;
  CZelMutexNomeado m(args.at(0));
  if (m.Espera(0) != WAIT_OBJECT_0 || !m.Libera()) return 5;
  return 0;
}

// Another process's hold excludes this one until it releases, or dies: an abandonment, seen once.
TEST_F(MutexNomeado, OutroProcessoExcluiEMortoOuThreadMortaComOMutexEhAbandono) {
  std::string sNome = Nome("morto");
  CZelMutexNomeado m(sNome);
  ASSERT_TRUE(m.Valido());
  for (bool bMorre : {false, true}) {
    std::string sDir = ZelNovoDiretorio("morto" + Serie());
    pid_t pid = ZelIniciaAjudante("SeguraMutex", {sNome, sDir});
    ASSERT_TRUE(ZelEsperaArquivo(sDir + "pronto"));
    EXPECT_EQ(m.Espera(0), WAIT_TIMEOUT);
    EXPECT_EQ(m.Espera(30), WAIT_TIMEOUT);
    EXPECT_FALSE(m.Libera());
    if (!bMorre) {
      ZelCriaMarcador(sDir + "solta");
      EXPECT_EQ(m.Espera(20000), WAIT_OBJECT_0);
      EXPECT_TRUE(m.Libera());
      EXPECT_EQ(ZelEsperaAjudante(pid), 0);
      continue;
    }
    ZelMataAjudante(pid);
    ASSERT_EQ(m.Espera(20000), WAIT_ABANDONED);
    EXPECT_EQ(EsperaEmOutraThread(m, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(m.Libera());
    EXPECT_EQ(m.Espera(0), WAIT_OBJECT_0);
    EXPECT_TRUE(m.Libera());
    EXPECT_EQ(EsperaEmOutraThread(m, 20000), WAIT_OBJECT_0);
  }

  // So is a thread that ended holding it twice; its recursion count is not inherited: one release frees it.
  CZelMutexNomeado t(Nome("thread"));
  DWORD r1 = WAIT_FAILED, r2 = WAIT_FAILED;
  std::thread([&] {
    r1 = t.Espera(INFINITE);
    r2 = t.Espera(INFINITE);
  }).join();
  ASSERT_EQ(r1, WAIT_OBJECT_0);
  ASSERT_EQ(r2, WAIT_OBJECT_0);
  EXPECT_EQ(t.Espera(INFINITE), WAIT_ABANDONED);
  EXPECT_TRUE(t.Libera());
  EXPECT_FALSE(t.Libera());
  EXPECT_EQ(EsperaEmOutraThread(t, 0), WAIT_OBJECT_0);
}
