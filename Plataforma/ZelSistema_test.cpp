#include "ZelSistema.h"

#include <pwd.h>
#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "ZelMutexNomeado.h"
#include "ZelTempo.h"
#include "ZelTesteAjudante.h"

TEST(ZelSistema, HoraLocalConcordaComLocaltime) {
  // The same clock as GetLocalTime (time() may lag it by a tick). Milliseconds past 255 are
  // waited for: a field too narrow for them shows only there.
  using namespace std::chrono;
  auto Ms = [](system_clock::time_point t) { return duration_cast<milliseconds>(t.time_since_epoch()).count(); };
  for (int tentativa = 0; tentativa < 3000; ++tentativa) {
    const auto antes = system_clock::now();
    SYSTEMTIME st{};
    GetLocalTime(&st);
    const auto depois = system_clock::now();
    const time_t s = system_clock::to_time_t(antes);
    if (system_clock::to_time_t(depois) != s || Ms(antes) % 1000 < 300) {  // try again a little later
      Sleep(1);
      continue;
    }
    tm t{};
    localtime_r(&s, &t);
    EXPECT_EQ((std::vector<int>{st.wYear, st.wMonth, st.wDay, st.wDayOfWeek, st.wHour, st.wMinute, st.wSecond}),
              (std::vector<int>{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_wday, t.tm_hour, t.tm_min, t.tm_sec}));
    EXPECT_GE(st.wMilliseconds, Ms(antes) % 1000);
    EXPECT_LE(st.wMilliseconds, Ms(depois) % 1000);
    return;
  }
  FAIL() << "the second never held still";
}

// 0 when a process whose account has no entry in the user database is named by its number. Root takes such an id;
// anyone else maps one in a user namespace of its own.
ZEL_AJUDANTE(NomeDeContaSemEntrada) {
  uid_t uid = 54321;
  while (getpwuid(uid) != nullptr) ++uid;
  if (geteuid() == 0) {
    if (setresuid(uid, uid, uid) != 0) return 20;
  } else {
    const uid_t real = geteuid();
    if (unshare(CLONE_NEWUSER) != 0) return 21;
    std::ofstream("/proc/self/uid_map") << uid << " " << real << " 1\n";
    if (geteuid() != uid) return 22;
  }
  return ZelNomeUsuario() == std::to_string(uid) ? 0 : 1;
}

TEST(ZelSistema, CaminhoDoProgramaEUsuario) {
  std::string s = ZelCaminhoPrograma();
  ASSERT_FALSE(s.empty());
  EXPECT_EQ(s.front(), '/');
  EXPECT_EQ(std::filesystem::path(s).filename(), "plataforma_testes");
  EXPECT_TRUE(std::filesystem::equivalent(s, "/proc/self/exe"));

  const passwd* pw = getpwuid(geteuid());
  EXPECT_EQ(ZelNomeUsuario(), pw != nullptr ? std::string(pw->pw_name) : std::to_string(geteuid()));
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("NomeDeContaSemEntrada", {})), 0);
}

TEST(ZelSistema, MemoriaEmBytesPrivadaCresceComUsoEReservaUmaVezSo) {
  ZelMemoria antes = ZelLeMemoria();
  EXPECT_GT(antes.llTotal, int64_t{64} << 20);
  EXPECT_GT(antes.llDisponivel, 0);
  EXPECT_LE(antes.llDisponivel, antes.llTotal);
  EXPECT_GT(antes.llPrivada, 0);
  std::string sCampo;
  int64_t llKb = 0;
  std::ifstream meminfo("/proc/meminfo");
  meminfo >> sCampo >> llKb;
  EXPECT_EQ(antes.llTotal, llKb * 1024) << sCampo << " is in kB of 1024 bytes";
  // Available counts the cache the kernel would give back, not only free pages.
  while (meminfo >> sCampo && sCampo != "MemAvailable:") meminfo.ignore(256, '\n');
  ASSERT_TRUE(meminfo >> llKb);
  EXPECT_NEAR(static_cast<double>(antes.llDisponivel), static_cast<double>(llKb) * 1024, double{256 << 20});

  constexpr size_t kBloco = 64u << 20;
  std::vector<char> v(kBloco, 1);  // touched, so resident
  ZelMemoria depois = ZelLeMemoria();
  EXPECT_GE(depois.llPrivada - antes.llPrivada, static_cast<int64_t>(kBloco / 2));
  EXPECT_EQ(v[kBloco - 1], 1);

  // Room for a company's records is taken once, before they load; asking again for less keeps the buffer.
  std::vector<uint64_t> aReserva;
  ZelReservaGrande(aReserva, 100000);
  EXPECT_GE(aReserva.capacity(), 100000u);
  aReserva.resize(1000, 7);
  const uint64_t* p = aReserva.data();
  ZelReservaGrande(aReserva, 50000);
  EXPECT_EQ(aReserva.data(), p);
  EXPECT_EQ(aReserva.size(), 1000u);
  EXPECT_EQ(aReserva[999], 7u);
}

TEST(ZelSistema, VersoesTemSempreQuatroNumeros) {
  const std::pair<const char*, const char*> casos[] = {
      {"6.1.0-13-amd64", "6.1.0.0"}, {"5.15", "5.15.0.0"}, {"1.2.3.4.5", "1.2.3.4"}, {"4.19.0-rc1", "4.19.0.0"},
      {"6..2", "6.0.0.0"},           {"abc", "0.0.0.0"},   {"", "0.0.0.0"},         {nullptr, "0.0.0.0"},
      {"99999999999.1", "2147483647.1.0.0"}};
  for (const auto& [sz, sVersao] : casos) EXPECT_EQ(ZelVersaoQuatroNumeros(sz), sVersao) << (sz ? sz : "null");

  const std::regex quatro(R"(\d+\.\d+\.\d+\.\d+)");
  EXPECT_EQ(ZelVersaoPrograma(), "7.12.77.0") << "the product version of the suite's release";
  std::string so = ZelVersaoSO();
  EXPECT_TRUE(std::regex_match(so, quatro)) << so;
  utsname u{};
  ASSERT_EQ(uname(&u), 0);
  EXPECT_EQ(std::atoi(so.c_str()), std::atoi(u.release));
  EXPECT_NE(so, "0.0.0.0");
}

TEST(ZelSistema, TextoDoErroDoSistema) {
  const std::pair<LONG, const char*> casos[] = {
      {ERROR_FILE_NOT_FOUND, "O sistema n\xE3o pode encontrar o arquivo especificado."},
      {ERROR_SHARING_VIOLATION, "O arquivo j\xE1 est\xE1 sendo usado por outro processo."},
      {ERROR_LOCK_VIOLATION,
       "O processo n\xE3o pode acessar o arquivo porque outro processo bloqueou uma parte do arquivo."},
      {ERROR_DISK_FULL, "N\xE3o h\xE1 espa\xE7o suficiente no disco."},
      {ERROR_HANDLE_DISK_FULL, "O disco est\xE1 cheio."},
      {ERROR_FILE_EXISTS, "O arquivo existe."},
      {ERROR_ALREADY_EXISTS, "N\xE3o \xE9 poss\xEDvel criar um arquivo j\xE1 existente."},
      {ERROR_DIR_NOT_EMPTY, "O diret\xF3rio n\xE3o est\xE1 vazio."},
      {ERROR_BUSY, "O recurso solicitado est\xE1 em uso."},
      {4242, ""},  // an error without a text
  };
  for (const auto& [l, sz] : casos) EXPECT_EQ(ZelTextoErroSO(l), sz) << l;
  // Each of the 36 errors reported has a whole sentence of its own, as the system's texts are.
  std::set<std::string> textos;
  for (LONG l = 0; l < 2000; ++l) {
    const std::string s = ZelTextoErroSO(l);
    if (!s.empty()) {
      EXPECT_EQ(s.back(), '.') << l;
      EXPECT_TRUE(textos.insert(s).second) << l;
    }
  }
  EXPECT_EQ(textos.size(), 36u);
}

// What 100 nominal milliseconds become under the process's ZEL_ESCALA_TEMPO.
ZEL_AJUDANTE(CemMsEscalados) { return static_cast<int>(ZelTempoMs(100)); }
// 0 when scaled times past the largest finite wait stop just short of INFINITE, the waits' "no limit".
ZEL_AJUDANTE(TemposEnormesEscalados) {
  return !(ZelTempoMs(0xFFFFFFFEu) == 0xFFFFFFFEu && ZelTempoMs(42949673) == 0xFFFFFFFEu &&
           ZelTempoMs(42949672) == 4294967200u && ZelTempoMs(42949673) != INFINITE);
}

TEST(ZelSistema, EscalaDoTempoSoAceitaNumerosPositivos) {
  const std::pair<const char*, int> casos[] = {{"0.5", 50}, {"2", 200}, {"0", 100}, {"-1", 100}, {"x", 100}, {"", 100}};
  for (const auto& [sz, nMs] : casos) EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudanteEmEscala("CemMsEscalados", sz)), nMs) << sz;
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudanteEmEscala("TemposEnormesEscalados", "100")), 0);
}

// A helper started with the run's directory in its environment searches for
// the run's processes, then waits for the test to see it.
ZEL_AJUDANTE(ProcuraOsDaExecucao) {
  const std::vector<long> a = ZelProcessosComAmbiente("ZEL_TESTE_DIR=" + ZelDiretorioTeste());
  if (std::find(a.begin(), a.end(), getpid()) != a.end()) return 1;
  return ZelEsperaArquivo(args[0]) ? 0 : 2;
}

TEST(ZelSistema, AjudantesAchamOsOutrosNuncaASiEMalChamadosNaoRodamASuite) {
  const std::string sEntrada = "ZEL_TESTE_DIR=" + ZelDiretorioTeste();
  const std::string sMarcador = ZelNovoDiretorio("procura") + "visto";
  const pid_t pid = ZelIniciaAjudante("ProcuraOsDaExecucao", {sMarcador});
  ASSERT_GT(pid, 0);
  bool bAchou = false;
  for (int i = 0; i < 2000 && !bAchou; ++i) {
    const std::vector<long> a = ZelProcessosComAmbiente(sEntrada);
    bAchou = std::find(a.begin(), a.end(), long{pid}) != a.end();
    if (!bAchou) usleep(1000);
  }
  EXPECT_TRUE(bAchou);
  EXPECT_TRUE(ZelProcessosComAmbiente(sEntrada.substr(0, sEntrada.size() - 1)).empty()) << "whole entries only";
  ZelCriaMarcador(sMarcador);
  EXPECT_EQ(ZelEsperaAjudante(pid), 0) << "1: the helper found itself";

  // A test program started by a test with a helper call it cannot read ends at once; running its suite again would
  // start servers that start it again.
  for (const char* szChamada : {"--zel-ajudant", "ServidorVigiado"}) {
    const pid_t pidMal = fork();
    if (pidMal == 0) {
      execl("/proc/self/exe", "teste", szChamada, "ServidorVigiad", "--gtest_filter=-*", static_cast<char*>(nullptr));
      _exit(127);
    }
    EXPECT_EQ(ZelEsperaAjudante(pidMal), 126) << szChamada;
  }
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("NaoExiste")), 126);
}
