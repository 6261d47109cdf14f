// The test server through the runtime: registration words, activation, idle
// shutdown and the faults a client or a peer may bring.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ZelFalsoIEx.h"
#include "ZelLocalAtivacao.h"
#include "ZelLocalProcesso.h"
#include "ZelLocalSeguranca.h"
#include "ZelLocalTesteClasse.h"
#include "ZelLocalTeste_test.h"
#include "ZelRegistro.h"
#include "ZelSistema.h"
#include "ZelTempo.h"
#include "ZelTesteAjudante.h"

namespace fs = std::filesystem;

namespace {

const std::string kClsid = GuidParaTexto(CLSID_ZelDF_IEx);
const std::string kChaveClasse = "CLSID\\" + kClsid;
const std::string kChaveServidor = kChaveClasse + "\\LocalServer32";

class ServidorLocal : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string sNome = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    m_sDir = ZelNovoDiretorio(sNome.substr(0, 12));
    for (const char* sz : {"m", "r"}) fs::create_directories(m_sDir + sz);
    for (const auto& [szVariavel, szCaminho] : {std::pair{"XDG_RUNTIME_DIR", "r"}, {"ZEL_SERVIDOR_MARCAS", "m"},
                                                {"ZEL_REGISTRO_MAQUINA", "maquina.reg"},
                                                {"ZEL_REGISTRO_USUARIO", "usuario.reg"}})
      setenv(szVariavel, (m_sDir + szCaminho).c_str(), 1);
  }
  void TearDown() override {
    // Tests that slow the servers' clock leave the next test's alone.
    setenv("ZEL_ESCALA_TEMPO", std::to_string(ZelEscalaTempo()).c_str(), 1);
    // Servers end by themselves; the test's directory goes only after them.
    for (int32_t pid : Servidores()) {
      for (int i = 0; i < 10000 && ZelLocalProcessoVivo(pid); ++i) Sleep(2);
      if (ZelLocalProcessoVivo(pid)) {
        ADD_FAILURE() << "server " << pid << " did not end by itself";
        ZelMataAjudante(pid);
      }
    }
  }

  int Executa(const std::string& sArgs, const std::string& sPrograma = ZEL_SERVIDOR_TESTE) {
    int r = std::system((sPrograma + " " + sArgs + " >/dev/null 2>&1").c_str());
    return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
  }
  void Registra() { ASSERT_EQ(Executa("-RegServer"), 0); }

  std::vector<int32_t> Servidores() {
    std::vector<int32_t> v;
    for (const auto& e : fs::directory_iterator(m_sDir + "m"))
      if (e.path().extension() == ".inicio") v.push_back(std::stoi(e.path().stem().string()));
    return v;
  }
  // The server's result once it ended by itself; -1 when it did not in time.
  int FimDoServidor(int32_t pid) {
    const std::string s = m_sDir + "m/" + std::to_string(pid) + ".fim";
    return ZelEsperaArquivo(s, 20000) ? std::stoi(ZelLeArquivoInteiro(s)) : -1;
  }

  // Exactly one server ran, and it ended by itself with success.
  void UmServidorQueTerminouSozinho() {
    auto servidores = Servidores();
    ASSERT_EQ(servidores.size(), 1u);
    EXPECT_EQ(FimDoServidor(servidores[0]), 0);
  }

  std::string m_sDir;
};

template <typename T = IZelDF_IEx>
T* Cria(HRESULT* phr = nullptr, REFIID iid = IID_IZelDF_IEx) {
  T* p = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_ZelDF_IEx, nullptr, CLSCTX_LOCAL_SERVER, iid, reinterpret_cast<void**>(&p));
  if (phr != nullptr) *phr = hr;
  return p;
}

// A number of a process's status ("VmRSS:" in KiB, "Threads:"); -1 when unknown.
long Status(int32_t pid, const std::string& sCampo) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  for (std::string s; std::getline(f, s);)
    if (s.rfind(sCampo, 0) == 0) return std::stol(s.substr(sCampo.size()));
  return -1;
}

// A raw peer that activated an object on the server.
CZelLocalSocket ParAtivado(REFIID iid = IID_IZelDF_IEx) {
  CZelLocalSocket s;
  if (ZelLocalConecta(ZelLocalCaminhoSocket(CLSID_ZelDF_IEx), &s) == S_OK && ZelAtivaTeste(s, CLSID_ZelDF_IEx, iid) != S_OK)
    s.Fecha();
  return s;
}

// Whether the server closed the connection (queued replies are dropped) within msLimite.
bool FechadoPeloServidor(CZelLocalSocket& s, uint32_t msLimite) {
  s.DefinePrazos(msLimite, 0);
  ZelLocalQuadro q;
  HRESULT hr = S_OK;
  while (hr == S_OK) hr = s.RecebeQuadro(&q);
  return hr != HRESULT_FROM_WIN32(ERROR_TIMEOUT);
}

// A call on the object: S_OK with the object's answer, or why not.
HRESULT Responde(IZelDF_IEx* p) {
  I4 b = 0;
  HRESULT hr = p->KeepAlive(&b);
  EXPECT_TRUE(hr != S_OK || b == 1);
  return hr;
}

void ClienteHonestoAtendido() {
  HRESULT hr = E_FAIL;
  IZelDF_IEx* p = Cria(&hr);
  ASSERT_NE(p, nullptr) << std::hex << hr;
  EXPECT_EQ(Responde(p), S_OK);
  p->Release();
}

// The sockets' directory, as a server prepares it.
std::string DiretorioDosSockets() {
  EXPECT_EQ(ZelLocalPreparaDiretorio(ZelLocalDiretorioSockets(), false, true), S_OK);
  return ZelLocalDiretorioSockets();
}

std::string Texto(HKEY raiz, const std::string& sChave, const std::string& sNome = "") {
  std::string s = "<falta>";
  ZelRegistro::LeTexto(raiz, sChave, sNome, &s);
  return s;
}

}  // namespace

// Creates and calls an object once args[0] appears; releases it once args[2] does.
ZEL_AJUDANTE(ClienteQueCria) {
  if (!ZelEsperaArquivo(args[0])) return 10;
  IZelDF_IEx* p = Cria();
  if (p == nullptr) return 11;
  I4 b = 0;
  if (p->KeepAlive(&b) != S_OK || b != 1) return 12;
  ZelCriaMarcador(args[1]);
  if (args.size() > 2) ZelEsperaArquivo(args[2]);
  p->Release();
  return 0;
}

TEST_F(ServidorLocal, PalavrasDeRegistroEClasseNaoRegistradaOuServidorQueNaoSobe) {
  Registra();
  // Every key and value the registration writes.
  const std::string kAppId = "{080EB0B0-3BED-4086-9CB4-1C68BD93197D}", kLib = "{CDE3E167-129C-4B65-85E0-8643D1B709B6}";
  const std::tuple<std::string, const char*, std::string> valores[] = {
      {kChaveServidor, "", fs::canonical(ZEL_SERVIDOR_TESTE).string()}, {kChaveClasse, "", "ZelDF_IEx Class"},
      {kChaveClasse, "AppID", kAppId}, {kChaveClasse + "\\TypeLib", "", kLib},
      {kChaveClasse + "\\ProgID", "", "Tolvan.ZelDF_IEx.1"},
      {kChaveClasse + "\\VersionIndependentProgID", "", "Tolvan.ZelDF_IEx"},
      {"Tolvan.ZelDF_IEx", "", "ZelDF_IEx Class"}, {"Tolvan.ZelDF_IEx\\CLSID", "", kClsid},
      {"Tolvan.ZelDF_IEx\\CurVer", "", "Tolvan.ZelDF_IEx.1"}, {"Tolvan.ZelDF_IEx.1", "", "ZelDF_IEx Class"},
      {"Tolvan.ZelDF_IEx.1\\CLSID", "", kClsid}, {"AppID\\Tolvan.EXE", "AppID", kAppId},
      {"AppID\\" + kAppId, "", "Tolvan"}, {"TypeLib\\" + kLib + "\\1.0", "", "TOLVANLib"}};
  for (const auto& [sChave, szNome, sValor] : valores)
    EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, sChave, szNome), sValor) << sChave;
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CLASSES_ROOT, kChaveClasse + "\\Programmable"), ERROR_SUCCESS);
  EXPECT_TRUE(Servidores().empty() && !fs::exists(m_sDir + "r/zelcom/" + kClsid + ".sock"))
      << "a registration word must not run the server";

  // Any case, '/' and trailing text.
  ASSERT_EQ(Executa("/uNREGsERVER depois"), 0);
  for (const std::string& sChave : {kChaveClasse, std::string("Tolvan.ZelDF_IEx.1"), std::string("AppID\\Tolvan.EXE")})
    EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CLASSES_ROOT, sChave), ERROR_FILE_NOT_FOUND) << sChave;
  for (const char* szComum : {"AppID", "CLSID"})  // NoRemove: other classes live there
    EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CLASSES_ROOT, szComum), ERROR_SUCCESS) << szComum;

  ASSERT_EQ(Executa("-regserverperuser"), 0);
  EXPECT_EQ(Texto(HKEY_CURRENT_USER, "Software\\Classes\\" + kChaveClasse + "\\LocalServer32"),
            fs::canonical(ZEL_SERVIDOR_TESTE).string());
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + kChaveClasse), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(Executa("-UnregServerPerUser"), 0);
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CLASSES_ROOT, kChaveClasse), ERROR_FILE_NOT_FOUND);

  // Not registered, registered with no program, a program that is missing,
  // one that ends without offering the class.
  const std::tuple<bool, std::string, HRESULT> casos[] = {
      {false, "", REGDB_E_CLASSNOTREG}, {true, "", REGDB_E_CLASSNOTREG},
      {true, m_sDir + "falta", CO_E_SERVER_EXEC_FAILURE}, {true, "/bin/false", CO_E_SERVER_EXEC_FAILURE}};
  for (const auto& [bGrava, sPrograma, hrEsperado] : casos) {
    if (bGrava) {
      ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_CLASSES_ROOT, kChaveServidor, "", sPrograma), ERROR_SUCCESS);
    }
    HRESULT hr = S_OK;
    EXPECT_EQ(Cria(&hr), nullptr) << sPrograma;
    EXPECT_EQ(hr, hrEsperado) << bGrava << " " << sPrograma;
  }
  EXPECT_EQ(CoCreateInstance(CLSID_ZelDF_IEx, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelDF_IEx, nullptr), E_POINTER);

  // The machine file's directory is a file: nothing can be written.
  ZelCriaMarcador(m_sDir + "arquivo");
  setenv("ZEL_REGISTRO_MAQUINA", (m_sDir + "arquivo/maquina.reg").c_str(), 1);
  EXPECT_NE(Executa("-RegServer"), 0);
}

// Clients racing to activate share one server; one killed holding its object
// has it released, since only a lock count back at 0 lets the server end.
TEST_F(ServidorLocal, ClientesDisputandoAAtivacaoFicamComUmServidor) {
  Registra();
  std::string sIniciar = m_sDir + "iniciar";
  std::vector<pid_t> clientes;
  for (int i = 0; i < 3; ++i)
    clientes.push_back(ZelIniciaAjudante("ClienteQueCria", {sIniciar, m_sDir + "pronto" + std::to_string(i),
                                                            m_sDir + (i == 0 ? "nunca" : "soltar")}));
  ZelCriaMarcador(sIniciar);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(ZelEsperaArquivo(m_sDir + "pronto" + std::to_string(i)));
  ZelMataAjudante(clientes[0]);
  ZelCriaMarcador(m_sDir + "soltar");
  for (size_t i = 1; i < clientes.size(); ++i) EXPECT_EQ(ZelEsperaAjudante(clientes[i]), 0);
  UmServidorQueTerminouSozinho();
}

TEST_F(ServidorLocal, CriacaoComoIUnknownENovoObjetoNoPeriodoOcioso) {
  Registra();
  // The server runs on a slower clock than this test, so the 20 s left of
  // its quiet period hold on a loaded machine too.
  setenv("ZEL_ESCALA_TEMPO", std::to_string(ZelEscalaTempo() * 4).c_str(), 1);
  HRESULT hr = E_FAIL;
  IUnknown* pUnk = Cria<IUnknown>(&hr, IID_IUnknown);
  ASSERT_EQ(hr, S_OK);
  ASSERT_NE(pUnk, nullptr);
  IUnknown* pMesmo = nullptr;
  EXPECT_EQ(pUnk->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pMesmo)), S_OK);
  EXPECT_EQ(pMesmo, pUnk);
  pMesmo->Release();
  // The last is known here, so the question goes to the server: the
  // connection serves only what it bound.
  ZelRegistraInterfaceTesteLocal();
  for (REFIID iid : {IID_IClassFactory, kIidTesteLocal}) {
    void* pOutra = nullptr;
    EXPECT_EQ(pUnk->QueryInterface(iid, &pOutra), E_NOINTERFACE);
    EXPECT_EQ(pOutra, nullptr);
  }
  IZelDF_IEx *p = nullptr, *p2 = nullptr;
  ASSERT_EQ(pUnk->QueryInterface(IID_IZelDF_IEx, reinterpret_cast<void**>(&p)), S_OK);
  ASSERT_EQ(pUnk->QueryInterface(IID_IZelDF_IEx, reinterpret_cast<void**>(&p2)), S_OK);
  EXPECT_EQ(Responde(p2), S_OK);
  p2->Release();
  pUnk->Release();
  EXPECT_EQ(Responde(p), S_OK) << "the object lives while a proxy holds it";
  Sleep(ZelTempoMs(10000));
  p->Release();
  Sleep(ZelTempoMs(30000));
  ClienteHonestoAtendido();
  UmServidorQueTerminouSozinho();
}

TEST_F(ServidorLocal, ServidorSemNenhumObjetoNaoTerminaSozinho) {
  Registra();
  // Started from a client whose input is a pipe, the server holds none of the client's standard streams.
  int aPipe[2];
  ASSERT_EQ(pipe2(aPipe, O_CLOEXEC), 0);
  const int fdEntrada = dup(0);
  dup2(aPipe[0], 0);
  CZelLocalInicioServidor inicio;
  const HRESULT hrInicio = inicio.Inicia(Texto(HKEY_CLASSES_ROOT, kChaveServidor));
  dup2(fdEntrada, 0);
  for (int fd : {fdEntrada, aPipe[0], aPipe[1]}) close(fd);
  ASSERT_EQ(hrInicio, S_OK);
  ASSERT_EQ(inicio.EsperaPronto(20000), S_OK);
  auto servidores = Servidores();
  ASSERT_EQ(servidores.size(), 1u);
  const std::string sDescritores = "/proc/" + std::to_string(servidores[0]) + "/fd/";
  for (int fd : {0, 1, 2}) EXPECT_EQ(fs::read_symlink(sDescritores + std::to_string(fd)).string(), "/dev/null") << fd;
  Sleep(3 * ZelTempoMs(ZelTempo::kOciosidadeServidor));
  EXPECT_TRUE(ZelLocalProcessoVivo(servidores[0]));
  EXPECT_FALSE(fs::exists(m_sDir + "m/" + std::to_string(servidores[0]) + ".fim"));
  // The first object's release starts the count.
  IZelDF_IEx* p = Cria();
  ASSERT_NE(p, nullptr);
  p->Release();
  EXPECT_EQ(Servidores().size(), 1u);
  EXPECT_EQ(FimDoServidor(servidores[0]), 0);
}

// args: the server's command line, and a second word to start it with standard input closed. With nothing open
// past the standard streams, the readiness pipe lands on the descriptor the server reports on, or straddles it.
ZEL_AJUDANTE(IniciaComDescritoresBaixos) {
  close_range(3, ~0u, 0);
  if (args.size() > 1) close(0);
  CZelLocalInicioServidor inicio;
  if (inicio.Inicia(args.at(0)) != S_OK) return 1;
  return inicio.EsperaPronto(20000) == S_OK ? 0 : 2;
}

TEST_F(ServidorLocal, ServidorAvisaQueSubiuOndeQuerQueCaiaOPipeDoCliente) {
  Registra();
  const std::string sLinha = Texto(HKEY_CLASSES_ROOT, kChaveServidor);
  for (const auto& args : {std::vector<std::string>{sLinha}, std::vector<std::string>{sLinha, "sem-entrada"}}) {
    SCOPED_TRACE(args.size());
    const auto antes = Servidores();
    ASSERT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("IniciaComDescritoresBaixos", args)), 0);
    auto servidores = Servidores();
    ASSERT_EQ(servidores.size(), antes.size() + 1);
    const int32_t pid = *std::find_if(servidores.begin(), servidores.end(), [&](int32_t n) {
      return std::find(antes.begin(), antes.end(), n) == antes.end();
    });
    IZelDF_IEx* p = Cria();
    ASSERT_NE(p, nullptr);
    p->Release();
    EXPECT_EQ(FimDoServidor(pid), 0);
  }
}

// Hostile peers lose their own connection and nothing else.
TEST_F(ServidorLocal, ParesHostisSoDerrubamASiMesmosEServidorMortoESubstituido) {
  Registra();
  IZelDF_IEx* p = Cria();
  ASSERT_NE(p, nullptr);
  const int32_t pid = Servidores().at(0);
  const long nAntes = Status(pid, "VmRSS:");
  const std::string sSocket = ZelLocalCaminhoSocket(CLSID_ZelDF_IEx);
  auto fechado = [&](CZelLocalSocket s, const std::string& sBytes) {
    s.EnviaBytes(sBytes.data(), sBytes.size());
    return FechadoPeloServidor(s, 60000);
  };
  auto conectado = [&] {
    CZelLocalSocket s;
    EXPECT_EQ(ZelLocalConecta(sSocket, &s), S_OK);
    return s;
  };
  EXPECT_TRUE(fechado(conectado(), "GET / HTTP/1.0\r\n\r\n"));
  EXPECT_TRUE(fechado(conectado(), ZelCabecalhoTeste(0xFFFFFFF0u)));  // a huge announced frame is never allocated
  const std::string sCurto = ZelCabecalhoTeste(100) + "curto";
  conectado().EnviaBytes(sCurto.data(), sCurto.size());  // truncated, then gone
  EXPECT_TRUE(fechado(ParAtivado(), std::string(4096, '\xEE')));  // garbage after a good activation
  // A call before any interface is bound, on an object created as IUnknown.
  CZelLocalEscritor c;
  c.U16(5);
  CZelLocalSocket u = ParAtivado(IID_IUnknown);
  ASSERT_TRUE(u.Valido());
  u.EnviaQuadro(ZelLocalTipoQuadro::Chamada, 1, c.Dados());
  EXPECT_TRUE(FechadoPeloServidor(u, 60000));

  // An [out] array no reply can carry is refused, and the connection goes on.
  CZelLocalSocket s = ParAtivado();
  ASSERT_TRUE(s.Valido());
  CZelLocalEscritor l;  // LeIEHeader(qtd, pPos, pTipDoc, dwFlags): slot 11, qtd 0xFFFFFFFF, pPos null, no flags
  l.Bytes("\x0B\x00" "\xFF\xFF\xFF\xFF" "\x00" "\x00\x00\x00\x00", 11);
  ZelLocalQuadro q;
  ASSERT_EQ(s.EnviaQuadro(ZelLocalTipoQuadro::Chamada, 5, l.Dados()), S_OK);
  ASSERT_EQ(s.RecebeQuadro(&q), S_OK);
  EXPECT_EQ(q.ulId, 5u);
  uint32_t ulHr = 0;
  ASSERT_TRUE(CZelLocalLeitor(q.dados).U32(&ulHr));
  EXPECT_EQ(static_cast<HRESULT>(ulHr), RPC_X_BAD_STUB_DATA);

  // Activated peers announce the largest frame and send a few bytes of it.
  std::vector<CZelLocalSocket> pares;
  const std::string sQuadro =
      ZelCabecalhoTeste(kZelLocalMaxQuadro, ZelLocalTipoQuadro::Chamada, kZelLocalMagico, kZelLocalVersao, 1) +
      std::string(1000, 'x');
  for (int i = 0; i < 8; ++i) {
    pares.push_back(ParAtivado());
    ASSERT_TRUE(pares.back().Valido());
    ASSERT_EQ(pares.back().EnviaBytes(sQuadro.data(), sQuadro.size()), S_OK);
  }
  ClienteHonestoAtendido();
  ASSERT_GT(nAntes, 0);
  EXPECT_LT(Status(pid, "VmRSS:") - nAntes, 32 * 1024)
      << "KiB grown for 8 announced frames of " << kZelLocalMaxQuadro << " bytes";
  pares.clear();
  EXPECT_EQ(Responde(p), S_OK);
  EXPECT_EQ(Servidores().size(), 1u);

  ZelMataAjudante(pid);
  for (int i = 0; i < 5000 && ZelLocalProcessoVivo(pid); ++i) Sleep(2);
  EXPECT_EQ(Responde(p), RPC_E_DISCONNECTED);
  p->Release();
  ASSERT_TRUE(fs::exists(m_sDir + "r/zelcom/" + kClsid + ".sock"));  // left behind
  ClienteHonestoAtendido();
  EXPECT_EQ(Servidores().size(), 2u);
}

TEST_F(ServidorLocal, ConexoesOciosasAlemDoTetoSaoRecusadasEAsOutrasExpiram) {
  Registra();
  // A server clock slow enough that the idle peers stay while the honest client is served.
  const double dEscalaServidor = ZelEscalaTempo() * 10;
  setenv("ZEL_ESCALA_TEMPO", std::to_string(dEscalaServidor).c_str(), 1);
  IZelDF_IEx* p = Cria();
  ASSERT_NE(p, nullptr);
  const int32_t pid = Servidores().at(0);
  const std::string sSocket = ZelLocalCaminhoSocket(CLSID_ZelDF_IEx);
  std::vector<CZelLocalSocket> ociosas(kZelLocalMaxConexoes + 60);
  const auto inicio = std::chrono::steady_clock::now();
  for (auto& s : ociosas) ASSERT_EQ(ZelLocalConecta(sSocket, &s), S_OK);
  // Beyond the cap a connection costs the server no thread.
  EXPECT_LE(Status(pid, "Threads:"), kZelLocalMaxConexoes + 16);
  // A client beyond the cap learns at once that the server is too busy
  // (checked only while the idle peers surely still hold it).
  HRESULT hrAlem = S_OK;
  IZelDF_IEx* pAlem = Cria(&hrAlem);
  const auto msDecorridos =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - inicio).count();
  if (msDecorridos < ZelTempo::kPrazoQuadroAtivacao * dEscalaServidor) {
    EXPECT_EQ(hrAlem, HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY));
  }
  if (pAlem != nullptr) pAlem->Release();

  EXPECT_EQ(Responde(p), S_OK);  // an object created before goes on
  // Every idle peer is closed, with nothing sent: at once beyond the cap, else
  // by the server's deadline for the activation frame, not long after it.
  const auto limite = inicio + std::chrono::milliseconds(static_cast<int64_t>(4 * 10'000 * dEscalaServidor));
  for (auto& s : ociosas) {
    const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now());
    EXPECT_TRUE(FechadoPeloServidor(s, static_cast<uint32_t>(std::max<int64_t>(resta.count(), 1))));
  }
  ClienteHonestoAtendido();
  p->Release();
  EXPECT_TRUE(ZelLocalProcessoVivo(pid));
}

TEST_F(ServidorLocal, ServidorNovoEsperaOAntigoLargarOEndpoint) {
  Registra();
  // The test plays a server that removed its socket and still holds the lock.
  auto trava = std::make_unique<CZelLocalTravaArquivo>();
  ASSERT_EQ(trava->Trava(DiretorioDosSockets() + kClsid + ".servidor", 0), S_OK);
  setenv("ZEL_ESCALA_TEMPO", "1", 1);  // the new server may wait its full period
  std::thread soltar([&] {
    for (int i = 0; i < 10000 && Servidores().empty(); ++i) Sleep(2);
    trava.reset();
  });
  ClienteHonestoAtendido();
  soltar.join();
  EXPECT_EQ(Servidores().size(), 1u);
  // Servers of this test run on the real clock: its end is not waited for.
  ZelMataAjudante(Servidores().at(0));
}

TEST_F(ServidorLocal, ClienteQueEncontraServidorParandoRecebeDoSubstituto) {
  Registra();
  DiretorioDosSockets();
  CZelLocalSocket ouvinte;
  ASSERT_EQ(ZelLocalEscuta(ZelLocalCaminhoSocket(CLSID_ZelDF_IEx), false, &ouvinte), S_OK);
  std::atomic<int> nRecusas{0};
  std::thread parando([&] {
    CZelLocalSocket s;
    while (ZelLocalAceita(ouvinte, &s) == S_OK) {
      ZelLocalQuadro q;
      CZelLocalEscritor e;
      e.U32(static_cast<uint32_t>(CO_E_SERVER_STOPPING));
      if (s.RecebeQuadro(&q) == S_OK && s.EnviaQuadro(ZelLocalTipoQuadro::RespostaAtiva, 0, e.Dados()) == S_OK)
        ++nRecusas;
    }
  });
  ClienteHonestoAtendido();
  ouvinte.Interrompe();
  parando.join();
  EXPECT_GE(nRecusas.load(), 1);
  UmServidorQueTerminouSozinho();
}

// The client gives up once its wait is over and starts no server in the mute one's place.
TEST_F(ServidorLocal, ServidorMudoNaAtivacaoDaUmaLinhaEFalha) {
  Registra();
  DiretorioDosSockets();
  CZelLocalSocket ouvinte;
  ASSERT_EQ(ZelLocalEscuta(ZelLocalCaminhoSocket(CLSID_ZelDF_IEx), false, &ouvinte), S_OK);
  std::atomic<int> nAtivacoes{0};
  std::thread mudo([&] {
    CZelLocalSocket s;
    ZelLocalQuadro q;
    if (ZelLocalAceita(ouvinte, &s) != S_OK || s.RecebeQuadro(&q) != S_OK) return;
    ++nAtivacoes;
    s.RecebeQuadro(&q);  // until the client hangs up
  });
  static std::mutex s_mutex;
  static std::vector<std::string> s_linhas;
  ZelLocalDefineRelatorErro([](const char* szFuncao, const char* szArquivo, int, const char* szExpressao,
                               const char* szVariavel, HRESULT hr) {
    std::lock_guard<std::mutex> trava(s_mutex);
    s_linhas.push_back(ZelLinhaErroTeste(szFuncao, szArquivo, szExpressao, szVariavel, hr));
  });
  HRESULT hr = S_OK;
  EXPECT_EQ(Cria(&hr), nullptr);
  ZelLocalDefineRelatorErro(nullptr);
  EXPECT_EQ(hr, CO_E_SERVER_EXEC_FAILURE);
  ouvinte.Interrompe();
  mudo.join();
  EXPECT_EQ(nAtivacoes.load(), 1);
  EXPECT_EQ(s_linhas, std::vector<std::string>{ZelLinhaErroTeste("CoCreateInstance", "ZelLocalAtivacao",
                                                                  "hr = canal->Ativa(clsid, riid)", "hr",
                                                                  HRESULT_FROM_WIN32(ERROR_TIMEOUT))});
  EXPECT_TRUE(Servidores().empty());
}

TEST_F(ServidorLocal, EndpointQueNaoVagaFazOClienteTentarMaisUmaVez) {
  Registra();
  CZelLocalTravaArquivo trava;
  ASSERT_EQ(trava.Trava(DiretorioDosSockets() + kClsid + ".servidor", 0), S_OK);
  HRESULT hr = S_OK;
  EXPECT_EQ(Cria(&hr), nullptr);
  EXPECT_EQ(hr, CO_E_SERVER_EXEC_FAILURE);
  auto servidores = Servidores();
  ASSERT_EQ(servidores.size(), 2u) << "one start, and one more after the first gave up";
  for (int32_t pid : servidores) EXPECT_EQ(FimDoServidor(pid), static_cast<int>(CO_E_SERVER_STOPPING));
}

// A path that quotes and substitutions would spoil.
TEST_F(ServidorLocal, CliPeloServidorDeCaminhoComAspasEPorcento) {
  const std::string sServidor = m_sDir + "it's 100% {Zel} \"x\"/servidor";
  fs::create_directories(m_sDir + "it's 100% {Zel} \"x\"");
  fs::copy_file(ZEL_SERVIDOR_TESTE, sServidor);
  fs::permissions(sServidor, fs::perms::owner_all);
  ASSERT_EQ(Executa("-RegServer", "'" + m_sDir + "it'\\''s 100% {Zel} \"x\"/servidor'"), 0);
  EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, kChaveServidor), sServidor);
  auto roda = [&](const std::string& sLinhas) {
    std::ofstream(m_sDir + "entrada") << sLinhas;
    int r = std::system((std::string(ZEL_TOLVAN_CLI) + " <" + m_sDir + "entrada >" + m_sDir + "saida").c_str());
    return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
  };
  EXPECT_EQ(roda(R"({"metodo":"Inicializa_Padrao","regps":{"szEmpresa":"Ação"}})"
                 "\n{\"metodo\":\"GetUltimoErro\"}\n{\"metodo\":\"LeIEHeader\",\"pPos\":[1]}\n"),
            0);
  std::istringstream saida(ZelLeArquivoInteiro(m_sDir + "saida"));
  std::vector<nlohmann::json> respostas;
  for (std::string s; std::getline(saida, s);) respostas.push_back(nlohmann::json::parse(s));
  ASSERT_EQ(respostas.size(), 3u);
  EXPECT_EQ(respostas[0]["hr"], "0x00000000");
  EXPECT_EQ(respostas[1]["pregErrops"]["szEmpresa"], "Ação");
  EXPECT_EQ(respostas[2]["pTipDoc"][0]["eProcesso"], 1);
  // A line in error makes the exit code 2; the in-process tests show the
  // lines after it are still served.
  EXPECT_EQ(roda("{}\n{\"metodo\":\"KeepAlive\"}\n"), 2);
  const auto servidores = Servidores();
  EXPECT_FALSE(servidores.empty());
  for (int32_t pid : servidores) EXPECT_EQ(FimDoServidor(pid), 0);
}
