#include "ZelLocalModulo.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "ZelLocalAtivacao.h"
#include "ZelLocalProcesso.h"
#include "ZelLocalTesteClasse.h"
#include "ZelRegistro.h"
#include "ZelSistema.h"
#include "ZelTempo.h"
#include "ZelTesteAjudante.h"

namespace {

constexpr const char* kScriptClasse =
    "HKCR { NoRemove CLSID { ForceRemove {5E1F0C2A-7B3D-4E55-9A01-334455667788} = s 'Teste' { "
    "LocalServer32 = s '%MODULE%' val AppID = s '%APPID%' } } }";
constexpr const char* kScriptApp = "HKCR { NoRemove AppID { '%APPID%' = s 'Teste' } }";
constexpr GUID kAppId = {0x5E1F0C2C, 0x7B3D, 0x4E55, {0x9A, 0x01, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}};

const std::vector<ZelLocalEntradaMapa> kMapa{{kClsidTesteLocal, &CZelObjetoTesteLocal::CriaInstancia, kScriptClasse}};

class ModuloTeste : public CZelLocalModulo {
 public:
  explicit ModuloTeste(HRESULT hrPreRun = S_OK, bool bComClasse = true)
      : CZelLocalModulo({kAppId, kAppId, "Teste 'Lib'", kScriptApp},
                        bComClasse ? kMapa : std::vector<ZelLocalEntradaMapa>{}),
        m_hrPreRun(hrPreRun) {}
  HRESULT OnPreRun() override { return m_hrPreRun; }
  void OnMonitorShutdown() override {
    bMonitorEncerrou = true;
    CZelLocalModulo::OnMonitorShutdown();
  }
  std::atomic<bool> bMonitorEncerrou{false};

 private:
  HRESULT m_hrPreRun;
};

void UsaDiretorio(const std::vector<std::string>& args) {
  setenv("XDG_RUNTIME_DIR", args[0].c_str(), 1);
  ZelRegistraInterfaceTesteLocal();
}

std::string Socket(const std::string& sDir) { return sDir + "zelcom/" + GuidParaTexto(kClsidTesteLocal) + ".sock"; }

}  // namespace

// A server whose only object it makes and releases itself: the idle monitor must end it.
ZEL_AJUDANTE(ModuloOcioso) {
  UsaDiretorio(args);
  ModuloTeste modulo;
  std::thread objeto([&] {
    if (!ZelEsperaArquivo(Socket(args[0]))) return;
    IUnknown* p = nullptr;
    CZelObjetoTesteLocal::CriaInstancia(IID_IUnknown, reinterpret_cast<void**>(&p));
    p->Release();
  });
  const char* argv[] = {"servidor", "-Embedding"};
  int r = modulo.WinMain(2, argv);
  objeto.join();
  if (!modulo.bMonitorEncerrou || std::filesystem::exists(Socket(args[0]))) return 50;
  return r;
}

// An activation between the idle check and the suspension keeps the module while it lives.
class ModuloCorrida : public ModuloTeste {
 public:
  LONG GetLockCount() override {
    LONG n = ModuloTeste::GetLockCount();
    IUnknown* p = nullptr;
    if (n == 0 && bArmado.exchange(false)) {
      CZelObjetoTesteLocal::CriaInstancia(IID_IUnknown, reinterpret_cast<void**>(&p));
      pObjeto = p;
    }
    return n;
  }
  std::atomic<bool> bArmado{false};
  std::atomic<IUnknown*> pObjeto{nullptr};
};

ZEL_AJUDANTE(ModuloAtivacaoNaCorrida) {
  UsaDiretorio(args);
  ModuloCorrida modulo;
  std::atomic<int> nResultado{0};
  std::thread cliente([&] {
    if (!ZelEsperaArquivo(Socket(args[0]))) return;
    IUnknown* p = nullptr;
    CZelObjetoTesteLocal::CriaInstancia(IID_IUnknown, reinterpret_cast<void**>(&p));
    modulo.bArmado = true;
    p->Release();  // the quiet period starts
    for (int i = 0; i < 10000 && modulo.pObjeto == nullptr; ++i) Sleep(2);
    Sleep(3 * ZelTempoMs(modulo.m_dwTimeOut));
    nResultado = modulo.pObjeto == nullptr ? 60 : modulo.bMonitorEncerrou ? 61 : 0;
    if (IUnknown* q = modulo.pObjeto.exchange(nullptr)) q->Release();
  });
  const char* argv[] = {"servidor", "-Embedding"};
  int r = modulo.WinMain(2, argv);
  cliente.join();
  return nResultado != 0 ? nResultado.load() : modulo.bMonitorEncerrou ? r : 62;
}

// A server started by hand runs until a signal; a second argument has OnPreRun refuse it.
ZEL_AJUDANTE(ModuloSemEmbedding) {
  UsaDiretorio(args);
  const HRESULT hrPreRun = args.size() > 1 ? HR(0x8000002A) : S_OK;
  ModuloTeste modulo(hrPreRun);
  const char* argv[] = {"servidor"};
  if (modulo.WinMain(1, argv) != hrPreRun || modulo.bMonitorEncerrou) return 51;
  return std::filesystem::exists(Socket(args[0])) ? 52 : 0;
}

// A lock taken and given back before the run: a server started by hand still waits for its stop.
ZEL_AJUDANTE(ModuloTravadoAntesDeRodar) {
  UsaDiretorio(args);
  ModuloTeste modulo;
  modulo.Lock();
  modulo.Unlock();
  std::thread vigia([&] {
    if (ZelEsperaArquivo(Socket(args[0]))) Sleep(3 * ZelTempoMs(modulo.m_dwTimeOut));
    modulo.PostQuitMessage();
  });
  const char* argv[] = {"servidor"};
  const HRESULT hr = modulo.WinMain(1, argv);
  vigia.join();
  return hr == S_OK && !modulo.bMonitorEncerrou ? 0 : 53;
}

// A server with no class to offer: nothing could ever end its loop.
ZEL_AJUDANTE(ModuloSemClasses) {
  UsaDiretorio(args);
  ModuloTeste modulo(S_OK, false);
  const char* argv[] = {"servidor", "-Embedding"};
  return static_cast<int>(modulo.WinMain(2, argv));
}

// A command word, in a process of its own: security is set up once per process.
ZEL_AJUDANTE(ModuloComPalavra) {
  const char* argv[] = {"servidor", args.at(0).c_str()};
  return ModuloTeste().WinMain(2, argv);
}

// Signals readiness to a starter that closed its end: 7 when it lives on with SIGPIPE as it was.
ZEL_AJUDANTE(ProntoSemQuemEspere) {
  int fds[2];
  if (pipe(fds) != 0) return 2;
  close(fds[0]);
  setenv("ZEL_COM_PRONTO", std::to_string(fds[1]).c_str(), 1);
  ZelLocalSinalizaPronto();
  struct sigaction agora {};
  sigaction(SIGPIPE, nullptr, &agora);
  return agora.sa_handler == SIG_DFL && std::getenv("ZEL_COM_PRONTO") == nullptr ? 7 : 3;
}

TEST(ZelLocalModulo, RegistroDaBibliotecaDeTiposEDesregistro) {
  setenv("ZEL_REGISTRO_MAQUINA", (ZelNovoDiretorio("registro") + "maquina.reg").c_str(), 1);
  const std::string sBiblioteca = "TypeLib\\" + GuidParaTexto(kAppId);
  auto Texto = [](const std::string& sChave) {
    std::string s = "<falta>";
    ZelRegistro::LeTexto(HKEY_CLASSES_ROOT, sChave, "", &s);
    return s;
  };
  ASSERT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("ModuloComPalavra", {"-RegServer"})), 0);
  EXPECT_EQ(Texto(sBiblioteca + "\\1.0"), "Teste 'Lib'");
  EXPECT_EQ(Texto(sBiblioteca + "\\1.0\\409\\linux64"), ZelCaminhoPrograma());
  EXPECT_EQ(Texto(sBiblioteca + "\\1.0\\FLAGS"), "0");
  ASSERT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("ModuloComPalavra", {"-UnregServer"})), 0);
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CLASSES_ROOT, sBiblioteca), ERROR_FILE_NOT_FOUND);
}

TEST(ZelLocalModulo, LockUnlockETravaDosObjetos) {
  ModuloTeste modulo;
  EXPECT_EQ(CZelLocalModulo::Atual(), &modulo);
  EXPECT_EQ(modulo.m_dwTimeOut, 50000u);
  EXPECT_FALSE(modulo.m_bDelayShutdown);
  EXPECT_EQ(modulo.Lock(), 1);
  EXPECT_FALSE(modulo.m_bActivity);
  IUnknown* p = nullptr;
  ASSERT_EQ(CZelObjetoTesteLocal::CriaInstancia(IID_IUnknown, reinterpret_cast<void**>(&p)), S_OK);
  EXPECT_EQ(modulo.GetLockCount(), 2);
  p->Release();
  EXPECT_EQ(modulo.GetLockCount(), 1);
  EXPECT_FALSE(modulo.m_bActivity);
  EXPECT_EQ(modulo.Unlock(), 0);
  EXPECT_TRUE(modulo.m_bActivity);  // only the transition to 0 marks activity
}

// A program the server starts must not inherit its descriptors: one holding the quit pipe could stop it.
TEST(ZelLocalModulo, ProgramasIniciadosNaoHerdamOsDescritores) {
  const auto Abertos = [] {
    std::set<int> s;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) s.insert(std::stoi(e.path().filename()));
    std::erase_if(s, [](int fd) { return fcntl(fd, F_GETFD) == -1; });  // the listing's own descriptor
    return s;
  };
  const std::set<int> antes = Abertos();
  ModuloTeste modulo;
  int nNovos = 0;
  for (int fd : Abertos()) {
    if (antes.count(fd) != 0) continue;
    ++nNovos;
    EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC) << fd;
  }
  EXPECT_GE(nNovos, 2) << "both ends of the quit pipe";
}

// A module offering a class twice, with its registrations at hand.
class ModuloDuasVezes : public CZelLocalModulo {
 public:
  ModuloDuasVezes() : CZelLocalModulo({kAppId, kAppId, "Teste 'Lib'", kScriptApp}, {kMapa[0], kMapa[0]}) {}
  using CZelLocalModulo::RegisterClassObjects;
  using CZelLocalModulo::RevokeClassObjects;
};

// A class registered twice stays on offer until its last registration goes.
TEST(ZelLocalModulo, EndpointFicaAteARevogacaoDoUltimoRegistroDaClasseOuDoMapa) {
  std::string d = ZelNovoDiretorio("dois");
  UsaDiretorio({d});
  static CZelFabricaTesteLocal fabrica;
  DWORD cookies[2] = {};
  for (DWORD& c : cookies)
    ASSERT_EQ(CoRegisterClassObject(kClsidTesteLocal, &fabrica, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &c), S_OK);
  CZelLocalSocket s;
  EXPECT_EQ(CoRevokeClassObject(cookies[0]), S_OK);
  EXPECT_EQ(ZelLocalConecta(Socket(d), &s), S_OK);
  EXPECT_EQ(CoRevokeClassObject(cookies[1]), S_OK);
  EXPECT_FALSE(std::filesystem::exists(Socket(d)));
  EXPECT_EQ(CoRevokeClassObject(cookies[1]), E_INVALIDARG);
  // Each registration of a map goes with its own factory: none stays on offer.
  {
    ModuloDuasVezes modulo;
    ASSERT_EQ(modulo.RegisterClassObjects(), S_OK);
    EXPECT_EQ(modulo.RevokeClassObjects(), S_OK);
    EXPECT_EQ(CoResumeClassObjects(), S_OK);
    EXPECT_FALSE(std::filesystem::exists(Socket(d)));
  }
  CoUninitialize();
}

// Each helper runs a server to its end and answers 0 when it ended as it
// should (only the OnPreRun one reads the second argument).
TEST(ZelLocalModulo, ServidorTerminaNaHoraCerta) {
  for (const char* sz : {"ModuloOcioso", "ModuloAtivacaoNaCorrida", "ModuloSemEmbedding", "ModuloTravadoAntesDeRodar"})
    EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante(sz, {ZelNovoDiretorio(sz), "recusa"})), 0) << sz;
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("ModuloSemClasses", {ZelNovoDiretorio("vazio")}), 5000), 0)
      << "with no class, at once";
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("ProntoSemQuemEspere")), 7)
      << "a starter that gave up waiting must not take the server down with it";
}

// A stop asked of the server (kill, Ctrl-C) ends it as an idle exit does: socket gone.
TEST(ZelLocalModulo, SigtermESigintPostamAMensagemDeSaida) {
  for (int nSinal : {SIGTERM, SIGINT}) {
    std::string d = ZelNovoDiretorio("sinal" + std::to_string(nSinal));
    pid_t pid = ZelIniciaAjudante("ModuloSemEmbedding", {d});
    ASSERT_TRUE(ZelEsperaArquivo(Socket(d)));
    kill(pid, nSinal);
    EXPECT_EQ(ZelEsperaAjudante(pid), 0) << nSinal;
    EXPECT_FALSE(std::filesystem::exists(Socket(d))) << nSinal;
  }
}
