#include "ZelLocalModulo.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "ZelLocalAtivacao.h"
#include "ZelLocalSeguranca.h"
#include "ZelSistema.h"
#include "ZelTempo.h"

namespace {
std::atomic<CZelLocalModulo*> g_pModulo{nullptr};
std::atomic<int> g_fdQuit{-1};

void PostaQuitDoSinal(int) {
  int fd = g_fdQuit.load();
  if (fd >= 0) {
    int salvo = errno;
    char c = 'Q';
    ssize_t n = write(fd, &c, 1);
    (void)n;
    errno = salvo;
  }
}
}  // namespace

// Auto-reset event.
class CZelLocalModulo::Evento {
 public:
  void Sinaliza() {
    std::lock_guard<std::mutex> trava(m_mutex);
    m_bSinal = true;
    m_cv.notify_one();
  }
  // True when signalled (the signal is consumed); msLimite < 0 waits without limit.
  bool Espera(int64_t msLimite) {
    std::unique_lock<std::mutex> trava(m_mutex);
    if (msLimite < 0)
      m_cv.wait(trava, [this] { return m_bSinal; });
    else if (!m_cv.wait_for(trava, std::chrono::milliseconds(msLimite), [this] { return m_bSinal; }))
      return false;
    m_bSinal = false;
    return true;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_bSinal = false;
};

class CZelLocalModulo::Fabrica final : public T_ZelObjetoCom<IClassFactory, IID_IClassFactory> {
 public:
  Fabrica(CZelLocalModulo& modulo, const ZelLocalEntradaMapa& entrada) : m_modulo(modulo), m_entrada(entrada) {}
  HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    return m_entrada.pfCriaInstancia(riid, ppv);
  }
  HRESULT LockServer(BOOL fLock) override {
    if (fLock)
      m_modulo.Lock();
    else
      m_modulo.Unlock();
    return S_OK;
  }

 private:
  CZelLocalModulo& m_modulo;
  const ZelLocalEntradaMapa& m_entrada;
};

CZelLocalModulo::CZelLocalModulo(ZelLocalIdentidadeModulo identidade, std::vector<ZelLocalEntradaMapa> mapa)
    : m_dwTimeOut(ZelTempo::kOciosidadeServidor),
      m_identidade(std::move(identidade)),
      m_mapa(std::move(mapa)),
      m_pEvento(new Evento) {
  m_bIniciado = pipe2(m_fdsQuit, O_CLOEXEC) == 0;
  g_pModulo.store(this);
}

CZelLocalModulo::~CZelLocalModulo() {
  ParaMonitor();
  CZelLocalModulo* eu = this;
  g_pModulo.compare_exchange_strong(eu, nullptr);
  g_fdQuit.store(-1);
  for (int fd : m_fdsQuit)
    if (fd >= 0) close(fd);
  delete m_pEvento;
}

CZelLocalModulo* CZelLocalModulo::Atual() { return g_pModulo.load(); }

LONG CZelLocalModulo::Lock() { return ++m_nLock; }

LONG CZelLocalModulo::Unlock() {
  LONG n = --m_nLock;
  if (n == 0) {
    m_bActivity = true;
    if (m_bEventoAberto) m_pEvento->Sinaliza();
  }
  return n;
}

LONG CZelLocalModulo::GetLockCount() { return m_nLock.load(); }

HRESULT CZelLocalModulo::AddCommonRGSReplacements(CZelLocalRegistrador& r) {
  r.AdicionaSubstituicao("APPID", GuidParaTexto(m_identidade.appid));
  return S_OK;
}

HRESULT CZelLocalModulo::OnPreRun() { return S_OK; }
HRESULT CZelLocalModulo::OnPostRun() { return S_OK; }

void CZelLocalModulo::OnMonitorShutdown() {
  m_bEventoAberto = false;
  PostQuitMessage();
}

void CZelLocalModulo::PostQuitMessage() {
  if (m_fdsQuit[1] < 0) return;
  char c = 'Q';
  ssize_t n;
  do {
    n = write(m_fdsQuit[1], &c, 1);
  } while (n < 0 && errno == EINTR);
}

int CZelLocalModulo::WinMain(int argc, const char* const* argv) {
  if (!m_bIniciado) return -1;
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (hr == S_OK) {
    hr = ZelCoInitializeSecurity();
    // The managed runtime that excuses RPC_E_CHANGED_MODE is never loaded here.
    if (FAILED(hr)) return hr;
    m_bComIniciado = true;
  } else if (FAILED(hr)) {
    return hr;
  }
  switch (ZelLocalPalavraComando(argc, argv)) {
    case ZelLocalComando::RegServer: hr = RegisterServer(false); break;
    case ZelLocalComando::UnregServer: hr = UnregisterServer(false); break;
    case ZelLocalComando::RegServerPerUser: hr = RegisterServer(true); break;
    case ZelLocalComando::UnregServerPerUser: hr = UnregisterServer(true); break;
    case ZelLocalComando::Nenhum: hr = Run(); break;
  }
  ParaMonitor();
  if (m_bComIniciado) CoUninitialize();
  m_bComIniciado = false;
  return hr;
}

namespace {
// A value that goes between single quotes of a script.
std::string Aspas(const std::string& s) {
  std::string t;
  for (char c : s) t += c == '\'' ? std::string("''") : std::string(1, c);
  return t;
}

std::string ScriptBibliotecaTipos(const ZelLocalIdentidadeModulo& id) {
  return "HKCR { NoRemove TypeLib { ForceRemove " + GuidParaTexto(id.libid) + " { '1.0' = s '" +
         Aspas(id.sNomeBiblioteca) + "' { '409' { linux64 = s '%MODULE%' } FLAGS = s '0' } } } }";
}
}  // namespace

HRESULT CZelLocalModulo::RegisterServer(bool bPorUsuario) {
  CZelLocalRegistrador r(bPorUsuario);
  HRESULT hr = AddCommonRGSReplacements(r);
  if (FAILED(hr)) return hr;
  r.AdicionaSubstituicao("MODULE", Aspas(ZelCaminhoPrograma()));
  hr = r.Registra(m_identidade.sScriptAplicacao);
  for (size_t i = 0; SUCCEEDED(hr) && i < m_mapa.size(); ++i) hr = r.Registra(m_mapa[i].sScript);
  if (SUCCEEDED(hr)) hr = r.Registra(ScriptBibliotecaTipos(m_identidade));
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CZelLocalModulo::UnregisterServer(bool bPorUsuario) {
  CZelLocalRegistrador r(bPorUsuario);
  HRESULT hr = AddCommonRGSReplacements(r);
  if (FAILED(hr)) return hr;
  r.AdicionaSubstituicao("MODULE", Aspas(ZelCaminhoPrograma()));
  for (size_t i = 0; SUCCEEDED(hr) && i < m_mapa.size(); ++i) hr = r.Desregistra(m_mapa[i].sScript);
  if (SUCCEEDED(hr)) hr = r.Desregistra(ScriptBibliotecaTipos(m_identidade));
  if (SUCCEEDED(hr)) hr = r.Desregistra(m_identidade.sScriptAplicacao);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CZelLocalModulo::Run() {
  HRESULT hr = OnPreRun();
  if (hr != S_OK) return hr;
  // The signals must find the quit message before any client finds the server.
  g_fdQuit.store(m_fdsQuit[1]);
  struct sigaction sa{}, saTerm{}, saInt{};
  sa.sa_handler = PostaQuitDoSinal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, &saTerm);
  sigaction(SIGINT, &sa, &saInt);
  hr = PreMessageLoop();
  if (hr == S_OK) RunMessageLoop();
  sigaction(SIGTERM, &saTerm, nullptr);
  sigaction(SIGINT, &saInt, nullptr);
  g_fdQuit.store(-1);
  if (FAILED(hr)) return hr;
  return PostMessageLoop();
}

HRESULT CZelLocalModulo::PreMessageLoop() {
  m_bParaMonitor = false;
  m_bEventoAberto = true;
  try {
    m_monitor = std::thread([this] { MonitorShutdown(); });
  } catch (...) {
    m_bEventoAberto = false;
  }
  HRESULT hr = RegisterClassObjects();
  if (hr == S_OK) {
    hr = CoResumeClassObjects();
    if (FAILED(hr)) RevokeClassObjects();
  } else if (FAILED(hr)) {
    RevokeClassObjects();
  }
  return hr;
}

HRESULT CZelLocalModulo::RegisterClassObjects() {
  if (m_mapa.empty()) return S_FALSE;
  for (const auto& entrada : m_mapa) {
    auto* f = new Fabrica(*this, entrada);
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(entrada.clsid, f, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED,
                                       &cookie);
    if (FAILED(hr)) {
      f->Release();
      return hr;
    }
    m_fabricas.push_back(f);
    m_cookies.push_back(cookie);
  }
  return S_OK;
}

HRESULT CZelLocalModulo::RevokeClassObjects() {
  HRESULT hr = S_OK;
  while (!m_cookies.empty()) {
    hr = CoRevokeClassObject(m_cookies.front());
    if (FAILED(hr)) break;
    m_cookies.erase(m_cookies.begin());
    m_fabricas.front()->Release();
    m_fabricas.erase(m_fabricas.begin());
  }
  return hr;
}

void CZelLocalModulo::RunMessageLoop() {
  for (;;) {
    char c = 0;
    ssize_t n = read(m_fdsQuit[0], &c, 1);
    if (n == 1 || (n < 0 && errno != EINTR)) break;
  }
}

HRESULT CZelLocalModulo::PostMessageLoop() {
  HRESULT hr = RevokeClassObjects();
  if (FAILED(hr)) return hr;
  return OnPostRun();
}

void CZelLocalModulo::MonitorShutdown() {
  const auto msPeriodo = static_cast<int64_t>(ZelTempoMs(m_dwTimeOut));
  for (;;) {
    m_pEvento->Espera(-1);
    if (m_bParaMonitor) return;
    // Each signal within a quiet period starts a new one.
    do {
      m_bActivity = false;
    } while (m_pEvento->Espera(msPeriodo) && !m_bParaMonitor);
    if (m_bParaMonitor) return;
    if (!m_bActivity && GetLockCount() == 0) {
      CoSuspendClassObjects();
      // An activation that slipped in before the suspension holds a lock now.
      if (!m_bActivity && GetLockCount() == 0) break;
    }
  }
  OnMonitorShutdown();
}

void CZelLocalModulo::ParaMonitor() {
  if (!m_monitor.joinable()) return;
  m_bParaMonitor = true;
  m_pEvento->Sinaliza();
  m_monitor.join();
}

CZelLocalTravaModulo::CZelLocalTravaModulo() {
  if (CZelLocalModulo* p = CZelLocalModulo::Atual()) p->Lock();
}

CZelLocalTravaModulo::~CZelLocalTravaModulo() {
  if (CZelLocalModulo* p = CZelLocalModulo::Atual()) p->Unlock();
}
