#include "ZelLocalTransporte.h"

#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ZelLocalProcesso.h"
#include "ZelLocalTeste_test.h"
#include "ZelTesteAjudante.h"

namespace {
mode_t Modo(const std::string& s) {
  struct stat st{};
  stat(s.c_str(), &st);
  return st.st_mode & 0777;
}

// Runs f on a thread of its own after ms milliseconds.
std::thread Depois(int ms, std::function<void()> f) {
  return std::thread([ms, f] {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    f();
  });
}

void EscrevePid(const std::string& sArquivo, pid_t pid) {
  std::ofstream(sArquivo + ".tmp") << pid;
  std::filesystem::rename(sArquivo + ".tmp", sArquivo);
}
}  // namespace

// Each frame of exactly the largest length its receiver takes.
TEST(ZelLocalTransporte, QuadrosChegamInteirosENaOrdem) {
  CZelLocalSocket a, b;
  ASSERT_EQ(ZelLocalParSockets(&a, &b), S_OK);
  std::vector<uint8_t> ativacao(kZelLocalTamanhoAtivacao, 0x5A), grande(kZelLocalMaxQuadro);
  for (size_t i = 0; i < grande.size(); ++i) grande[i] = static_cast<uint8_t>(i * 7);
  std::thread t([&] {
    EXPECT_EQ(a.EnviaQuadro(ZelLocalTipoQuadro::Chamada, 7, nullptr, 0), S_OK);
    EXPECT_EQ(a.EnviaQuadro(ZelLocalTipoQuadro::Ativa, 8, ativacao), S_OK);
    EXPECT_EQ(a.EnviaQuadro(ZelLocalTipoQuadro::Resposta, 9, grande), S_OK);
    a.Fecha();
  });
  ZelLocalQuadro q;
  ASSERT_EQ(b.RecebeQuadro(&q), S_OK);
  EXPECT_EQ(q.usTipo, static_cast<uint16_t>(ZelLocalTipoQuadro::Chamada));
  EXPECT_EQ(q.ulId, 7u);
  EXPECT_TRUE(q.dados.empty());
  ASSERT_EQ(b.RecebeQuadro(&q, kZelLocalTamanhoAtivacao), S_OK);
  EXPECT_EQ(q.dados, ativacao);
  ASSERT_EQ(b.RecebeQuadro(&q), S_OK);
  EXPECT_EQ(q.ulId, 9u);
  EXPECT_TRUE(q.dados == grande);
  t.join();
  EXPECT_EQ(b.RecebeQuadro(&q), S_FALSE);  // closed between frames
}

// A burst comes out frame by frame, also across one read's room, after the
// socket changed hands, and with the rest of a frame still on its way.
TEST(ZelLocalTransporte, QuadrosJuntosNumEnvioSaemUmAUm) {
  constexpr auto kChamada = ZelLocalTipoQuadro::Chamada;
  std::string sRajada;
  std::vector<std::string> aCorpos;
  for (size_t n : {size_t{0}, size_t{5}, kZelLocalLeituraAntecipada - 20, size_t{1}, 3 * kZelLocalLeituraAntecipada}) {
    aCorpos.emplace_back(n, static_cast<char>('a' + aCorpos.size()));
    sRajada += ZelCabecalhoTeste(static_cast<uint32_t>(n), kChamada) + aCorpos.back();
  }
  const std::string sUltimo = ZelCabecalhoTeste(6, kChamada) + "fim!!!";
  CZelLocalSocket a, b, c;
  ASSERT_EQ(ZelLocalParSockets(&a, &b), S_OK);
  CZelLocalSocket* pLeitor = &b;
  ASSERT_EQ(a.EnviaBytes(sRajada.data(), sRajada.size()), S_OK);
  ASSERT_EQ(a.EnviaBytes(sUltimo.data(), 20), S_OK);
  ZelLocalQuadro q;
  for (size_t i = 0; i < aCorpos.size(); ++i) {
    ASSERT_EQ(pLeitor->RecebeQuadro(&q), S_OK) << i;
    EXPECT_EQ(std::string(q.dados.begin(), q.dados.end()), aCorpos[i]) << i;
    if (i == 1) {
      c = std::move(b);
      pLeitor = &c;
    }
  }
  std::thread t = Depois(20, [&] {
    a.EnviaBytes(sUltimo.data() + 20, sUltimo.size() - 20);
    // A frame cut off after its first bytes were read ahead is lost.
    const std::string sCortado = ZelCabecalhoTeste(10, kChamada) + "abc";
    a.EnviaBytes(sCortado.data(), sCortado.size());
    a.Fecha();
  });
  ASSERT_EQ(pLeitor->RecebeQuadro(&q), S_OK);
  EXPECT_EQ(std::string(q.dados.begin(), q.dados.end()), "fim!!!");
  t.join();
  EXPECT_EQ(pLeitor->RecebeQuadro(&q), RPC_E_DISCONNECTED);
}

TEST(ZelLocalTransporte, CabecalhoEstranhoOuTruncadoERecusado) {
  constexpr auto kChamada = ZelLocalTipoQuadro::Chamada;
  struct Caso {
    std::string sBytes;
    HRESULT hr;
    size_t nCapacidade = 16;  // nothing is allocated for a refused frame
  } casos[] = {
      {ZelCabecalhoTeste(0, kChamada, 0x12345678), RPC_X_BAD_STUB_DATA},
      {ZelCabecalhoTeste(0, kChamada, kZelLocalMagico, kZelLocalVersao + 1), RPC_X_BAD_STUB_DATA},
      {ZelCabecalhoTeste(kZelLocalMaxQuadro + 1, kChamada), RPC_X_BAD_STUB_DATA},
      {ZelCabecalhoTeste(10, kChamada) + "abc", RPC_E_DISCONNECTED},
      // The largest frame announced, three bytes sent: 64 KiB allocated, not 64 MB.
      {ZelCabecalhoTeste(kZelLocalMaxQuadro, kChamada) + "abc", RPC_E_DISCONNECTED, 64u << 10},
      {"ZCL", RPC_E_DISCONNECTED},
  };
  for (const auto& c : casos) {
    CZelLocalSocket a, b;
    ASSERT_EQ(ZelLocalParSockets(&a, &b), S_OK);
    ASSERT_EQ(a.EnviaBytes(c.sBytes.data(), c.sBytes.size()), S_OK);
    a.Fecha();
    ZelLocalQuadro q;
    EXPECT_EQ(b.RecebeQuadro(&q), c.hr) << c.sBytes.size();
    EXPECT_LE(q.dados.capacity(), c.nCapacidade);
  }
  CZelLocalSocket a;
  EXPECT_EQ(a.EnviaQuadro(ZelLocalTipoQuadro::Chamada, 1, nullptr, 0), RPC_E_DISCONNECTED);
}

// A read deadline below a second lasts its milliseconds, with busy asking before the sleep or without.
TEST(ZelLocalTransporte, PrazoAbaixoDeUmSegundoComOuSemEsperaAtiva) {
  for (uint32_t usEspera : {0u, 2'000'000u}) {
    SCOPED_TRACE(usEspera);
    CZelLocalSocket a, b;
    ASSERT_EQ(ZelLocalParSockets(&a, &b), S_OK);
    b.DefineEsperaAtiva(usEspera);
    ASSERT_TRUE(b.DefinePrazos(900, 0));
    std::thread t = Depois(50, [&] { EXPECT_EQ(a.EnviaQuadro(ZelLocalTipoQuadro::Chamada, 9, {1, 2, 3}), S_OK); });
    ZelLocalQuadro q;
    ASSERT_EQ(b.RecebeQuadro(&q), S_OK);
    t.join();
    EXPECT_EQ(q.ulId, 9u);
    EXPECT_EQ(q.dados, (std::vector<uint8_t>{1, 2, 3}));
    b.DefineEsperaAtiva(usEspera / 400);
    ASSERT_TRUE(b.DefinePrazos(20, 0));
    EXPECT_EQ(b.RecebeQuadro(&q), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  }
}

// A new socket asks without sleeping before it sleeps, so an answer that comes at once costs no wake-up; one
// told not to sleeps at once.
TEST(ZelLocalTransporte, SocketNovoPerguntaAntesDeDormir) {
  CZelLocalSocket a, b;
  ASSERT_EQ(ZelLocalParSockets(&a, &b), S_OK);
  for (const bool bPadrao : {true, false}) {
    if (!bPadrao) b.DefineEsperaAtiva(0);
    std::thread t = Depois(50, [&] { EXPECT_EQ(a.EnviaQuadro(ZelLocalTipoQuadro::Chamada, 3, nullptr, 0), S_OK); });
    const uint64_t nAntes = ZelLocalTentativasEsperaAtiva();
    ZelLocalQuadro q;
    EXPECT_EQ(b.RecebeQuadro(&q), S_OK);
    t.join();
    EXPECT_EQ(ZelLocalTentativasEsperaAtiva() > nAntes, bPadrao);
  }
}

// With a task that never sleeps on the reader's CPU, the read sleeps at once
// instead of taking turns with it until the frame comes.
TEST(ZelLocalTransporte, EsperaAtivaCedeOProcessadorDisputado) {
  CZelLocalSocket c, d;
  ASSERT_EQ(ZelLocalParSockets(&c, &d), S_OK);
  d.DefineEsperaAtiva(2'000'000);
  cpu_set_t antes, um;
  ASSERT_EQ(sched_getaffinity(0, sizeof antes, &antes), 0);
  CPU_ZERO(&um);
  CPU_SET(sched_getcpu(), &um);
  ASSERT_EQ(sched_setaffinity(0, sizeof um, &um), 0);
  std::atomic<bool> bPara{false};
  std::thread ocupado([&] {
    while (!bPara.load()) {
    }
  });
  ASSERT_EQ(pthread_setaffinity_np(ocupado.native_handle(), sizeof um, &um), 0);
  std::thread envia = Depois(100, [&] {
    EXPECT_EQ(c.EnviaQuadro(ZelLocalTipoQuadro::Chamada, 10, nullptr, 0), S_OK);
    c.Fecha();
  });
  const uint64_t nAntes = ZelLocalTentativasEsperaAtiva();
  ZelLocalQuadro q;
  EXPECT_EQ(d.RecebeQuadro(&q), S_OK);
  const uint64_t nTentativas = ZelLocalTentativasEsperaAtiva() - nAntes;
  bPara = true;
  ocupado.join();
  envia.join();
  sched_setaffinity(0, sizeof antes, &antes);
  EXPECT_EQ(q.ulId, 10u);
  // A few, not dozens; other processes may cut a yield short now and then.
  EXPECT_LE(nTentativas, 10u);
  // The end comes through the wait as an orderly end.
  EXPECT_EQ(d.RecebeQuadro(&q), S_FALSE);
}

TEST(ZelLocalTransporte, DiretorioDosSocketsEModos) {
  std::string d = ZelNovoDiretorio("dirsock");
  setenv("XDG_RUNTIME_DIR", d.c_str(), 1);
  EXPECT_EQ(ZelLocalDiretorioSockets(), d + "zelcom/");
  EXPECT_EQ(ZelLocalCaminhoSocket(GUID_NULL), d + "zelcom/{00000000-0000-0000-0000-000000000000}.sock");
  // The last: a client leaves the server's choice alone.
  for (auto [bAberto, modo] : {std::pair(false, 0700u), std::pair(true, 0711u), std::pair(false, 0711u)}) {
    ASSERT_EQ(ZelLocalPreparaDiretorio(d + "zelcom/", bAberto, bAberto), S_OK);
    EXPECT_EQ(Modo(d + "zelcom"), modo) << bAberto;
  }
  ZelCriaMarcador(d + "arquivo");
  EXPECT_EQ(ZelLocalPreparaDiretorio(d + "arquivo/", false, true), E_ACCESSDENIED);
  if (geteuid() == 0) {
    std::filesystem::create_directory(d + "alheio");
    ASSERT_EQ(chown((d + "alheio").c_str(), 65534, 65534), 0);
    EXPECT_EQ(ZelLocalPreparaDiretorio(d + "alheio/", false, true), E_ACCESSDENIED);
  }
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(ZelLocalDiretorioSockets(), "/tmp/zelcom-" + std::to_string(geteuid()) + "/");
}

// 0 when a client without the right to the socket is told so, 1 when told nobody listens.
ZEL_AJUDANTE(ConectaSemPermissao) {
  if (!ZelDeixaDeSerRoot()) return 20;
  CZelLocalSocket c;
  const HRESULT hr = ZelLocalConecta(args.at(0), &c);
  return hr == E_ACCESSDENIED ? 0 : hr == S_FALSE ? 1 : 2;
}

TEST(ZelLocalTransporte, EndpointSemOuvinteEhSubstituido) {
  std::string s = ZelNovoDiretorio("endpoint") + "x.sock";
  CZelLocalSocket c;
  EXPECT_EQ(ZelLocalConecta(s, &c), S_FALSE);  // missing
  {
    CZelLocalSocket ouvinte;
    ASSERT_EQ(ZelLocalEscuta(s, false, &ouvinte), S_OK);
    EXPECT_EQ(Modo(s), 0600u);
    ASSERT_EQ(chmod(s.c_str(), 0), 0);
    EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("ConectaSemPermissao", {s})), 0);
    ASSERT_EQ(chmod(s.c_str(), 0600), 0);
  }
  ASSERT_TRUE(std::filesystem::exists(s));
  EXPECT_EQ(ZelLocalConecta(s, &c), S_FALSE);  // a file nobody listens on
  CZelLocalSocket ouvinte;
  ASSERT_EQ(ZelLocalEscuta(s, true, &ouvinte), S_OK);
  EXPECT_EQ(Modo(s), 0666u);
  ASSERT_EQ(ZelLocalConecta(s, &c), S_OK);
  CZelLocalSocket aceito;
  ASSERT_EQ(ZelLocalAceita(ouvinte, &aceito), S_OK);
  uint32_t uid = 1;
  int32_t pid = 0;
  ASSERT_TRUE(aceito.CredenciaisPar(&uid, &pid));
  EXPECT_EQ(uid, geteuid());
  EXPECT_EQ(pid, getpid());
  // A server's send buffer takes a large answer (a thousand keys' values) in one write: 512 KiB, doubled by the
  // kernel, as far as allowed.
  int nEnvio = 0, nMaximo = 0;
  socklen_t nTam = sizeof nEnvio;
  ASSERT_EQ(getsockopt(aceito.Fd(), SOL_SOCKET, SO_SNDBUF, &nEnvio, &nTam), 0);
  if (std::ifstream("/proc/sys/net/core/wmem_max") >> nMaximo) {
    EXPECT_EQ(nEnvio, 2 * std::min(512 << 10, nMaximo));
  }
  ouvinte.Interrompe();
  EXPECT_EQ(ZelLocalAceita(ouvinte, &aceito), E_ABORT);
  const std::string sZero = ZelNovoDiretorio("descritor0") + "z.sock";
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("EscutaSemEntradaPadrao", {sZero})), 0) << "a socket on descriptor 0";
  // An address holds 108 bytes, the path's closing zero among them.
  const std::string d = ZelNovoDiretorio("limite");
  ASSERT_LT(d.size(), 100u);
  auto Caminho = [&](size_t n) { return d + std::string(n - d.size(), 'x'); };
  const HRESULT kLongo = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  CZelLocalSocket longo, ouvinteLongo;
  EXPECT_EQ(ZelLocalConecta(Caminho(108), &longo), kLongo);
  EXPECT_EQ(ZelLocalEscuta(Caminho(108), false, &ouvinteLongo), kLongo);
  EXPECT_FALSE(std::filesystem::exists(Caminho(107)));
  ASSERT_EQ(ZelLocalEscuta(Caminho(107), false, &ouvinteLongo), S_OK);
  EXPECT_EQ(ZelLocalConecta(Caminho(107), &longo), S_OK);
}

// With standard input closed, the first socket is descriptor 0 and must work as any other.
ZEL_AJUDANTE(EscutaSemEntradaPadrao) {
  close(0);
  const std::string s = args.at(0);
  CZelLocalSocket ouvinte, c, aceito;
  if (ZelLocalEscuta(s, false, &ouvinte) != S_OK) return 2;
  if (ouvinte.Fd() != 0) return 3;
  if (ZelLocalConecta(s, &c) != S_OK || ZelLocalAceita(ouvinte, &aceito) != S_OK) return 4;
  if (c.EnviaQuadro(ZelLocalTipoQuadro::Ativa, 7, "ola", 3) != S_OK) return 5;
  // Descriptor 0 free again: the next connection's socket takes it.
  ouvinte.Fecha();
  CZelLocalSocket outro;
  if (ZelLocalConecta(s, &outro) != S_FALSE) return 6;  // nobody listens any more
  ZelLocalQuadro q;
  return aceito.RecebeQuadro(&q) == S_OK && q.ulId == 7 && q.dados.size() == 3 ? 0 : 7;
}

// A server starts through a middle process reaped before Inicia returns: no
// zombie children, and no descriptor of the start outlives its wait.
TEST(ZelLocalTransporte, LinhaDeComandoEInicioDoServidorSemFilhoParaColher) {
  auto Descritores = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  const auto nDescritores = Descritores();
  using V = std::vector<std::string>;
  EXPECT_EQ(ZelLocalDivideLinhaComando("/opt/zel/Tolvan"), (V{"/opt/zel/Tolvan"}));
  EXPECT_EQ(ZelLocalDivideLinhaComando("/opt/Zel Sistemas/Tolvan \t"), (V{"/opt/Zel Sistemas/Tolvan"}));
  EXPECT_EQ(ZelLocalDivideLinhaComando("\"/opt/Zel Sistemas/Tolvan\" -a  b"), (V{"/opt/Zel Sistemas/Tolvan", "-a", "b"}));
  EXPECT_EQ(ZelLocalDivideLinhaComando("\"/opt/zel/Tolvan\"\t-a\tb\t"), (V{"/opt/zel/Tolvan", "-a", "b"}));
  EXPECT_EQ(ZelLocalDivideLinhaComando("\"/opt/zel/Tolvan -a"), (V{"/opt/zel/Tolvan -a"})) << "an unclosed quote";
  EXPECT_TRUE(ZelLocalDivideLinhaComando("  ").empty());
  CZelLocalInicioServidor relativo, s;
  EXPECT_EQ(relativo.Inicia("relativo/Tolvan"), CO_E_SERVER_EXEC_FAILURE);
  ASSERT_EQ(s.Inicia("/bin/true"), S_OK);
  int iStatus = 0;
  errno = 0;
  EXPECT_EQ(waitpid(-1, &iStatus, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(s.EsperaPronto(20000), CO_E_SERVER_EXEC_FAILURE) << "ended unready";
  EXPECT_EQ(Descritores(), nDescritores);
}

TEST(ZelLocalTransporte, TravaDeArquivoEsperaEDesiste) {
  std::string s = ZelNovoDiretorio("trava") + "x.inicio";
  CZelLocalTravaArquivo a, b;
  ASSERT_EQ(a.Trava(s, 0), S_OK);
  EXPECT_EQ(Modo(s), 0600u) << "no other account may hold a start back";
  EXPECT_EQ(b.Trava(s, 20), E_ABORT);
  EXPECT_FALSE(b.Travada());
  EXPECT_EQ(b.Trava(s + ".falta/x", 20000), E_ACCESSDENIED) << "no file to lock is no wait";
  std::thread t = Depois(20, [&] { a.Libera(); });
  EXPECT_EQ(b.Trava(s, 20000), S_OK);
  t.join();
}

// args: a pid. 1 when, from another account, that process counts as running.
ZEL_AJUDANTE(VeProcessoDeOutraConta) {
  if (!ZelDeixaDeSerRoot()) return 20;
  return ZelLocalProcessoVivo(std::stoi(args.at(0))) ? 1 : 0;
}

// A server of another account cannot be signalled, yet it runs: its registration is not stale.
TEST(ZelLocalTransporte, ProcessoDeOutraContaVivoETerminadoNaoColhidoMorto) {
  const std::string sPid = geteuid() == 0 ? std::to_string(getpid()) : "1";
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("VeProcessoDeOutraConta", {sPid})), 1);
  // A number that names a group is never a server, and asking reaps no child of ours.
  const pid_t filho = fork();
  if (filho == 0) _exit(0);
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(filho), &info, WEXITED | WNOWAIT), 0);
  for (int32_t pid : {0, -1}) EXPECT_FALSE(ZelLocalProcessoVivo(pid)) << pid;
  EXPECT_EQ(waitpid(filho, nullptr, 0), filho);
  // A server that ended but that its own parent has not reaped yet no longer runs.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pai = fork();
  if (pai == 0) {
    const pid_t neto = fork();
    if (neto == 0) _exit(0);
    if (write(fds[1], &neto, sizeof neto) != sizeof neto) _exit(1);
    sleep(30);  // the test kills it long before
    _exit(0);
  }
  close(fds[1]);
  pid_t neto = 0;
  ASSERT_EQ(read(fds[0], &neto, sizeof neto), ssize_t{sizeof neto});
  close(fds[0]);
  std::string sEstado;
  for (int i = 0; i < 5000 && sEstado.find(") Z ") == std::string::npos; ++i, usleep(1000))
    std::getline(std::ifstream("/proc/" + std::to_string(neto) + "/stat"), sEstado);
  EXPECT_NE(sEstado.find(") Z "), std::string::npos) << sEstado;
  EXPECT_FALSE(ZelLocalProcessoVivo(neto));
  EXPECT_TRUE(ZelLocalProcessoVivo(pai));
  ZelMataAjudante(pai);
}

// args: a file for the pid of a helper it starts, which waits a minute.
ZEL_AJUDANTE(DeixaUmAjudanteVivo) {
  const pid_t pid = ZelIniciaAjudante("EsperaUmMinuto");
  EscrevePid(args.at(0), pid);
  return ZelEsperaAjudante(pid, 60000);
}
// The same, but as a starting server does: inherited descriptors shut, exec once this one is dead.
ZEL_AJUDANTE(DeixaUmAjudanteTardio) {
  const pid_t pai = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    close_range(3, ~0u, 0);
    while (getppid() == pai) usleep(1000);
    usleep(20000);
    execl("/proc/self/exe", "teste", "--zel-ajudante", "EsperaUmMinuto", static_cast<char*>(nullptr));
    _exit(127);
  }
  EscrevePid(args.at(0), pid);
  return ZelEsperaAjudante(pid, 60000);
}
ZEL_AJUDANTE(EsperaUmMinuto) { return ZelEsperaArquivo(ZelDiretorioTeste() + "nunca", 60000) ? 0 : 1; }

// A test program killed midway, as a time-out does, leaves nothing it started running.
TEST(ZelLocalTransporte, ProgramaDeTesteMortoNaoDeixaProcessosVivos) {
  for (const char* szAjudante : {"DeixaUmAjudanteVivo", "DeixaUmAjudanteTardio"}) {
    SCOPED_TRACE(szAjudante);
    const std::string sPid = ZelNovoDiretorio(std::string("morto") + szAjudante) + "pid";
    const pid_t pid = fork();
    if (pid == 0) {
      unsetenv("ZEL_TESTE_DIR");  // a run of its own, as ctest starts one
      execl("/proc/self/exe", "teste", "--zel-ajudante", szAjudante, sPid.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_TRUE(ZelEsperaArquivo(sPid));
    const int32_t ajudante = std::stoi(ZelLeArquivoInteiro(sPid));
    EXPECT_TRUE(ZelLocalProcessoVivo(ajudante));
    ZelMataAjudante(pid);
    for (int i = 0; i < 5000 && ZelLocalProcessoVivo(ajudante); ++i) usleep(2000);
    EXPECT_FALSE(ZelLocalProcessoVivo(ajudante));
    if (ZelLocalProcessoVivo(ajudante)) kill(ajudante, SIGKILL);  // not left to the runs that follow
  }
}
