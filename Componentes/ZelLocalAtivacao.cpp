#include "ZelLocalAtivacao.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <list>
#include <optional>
#include <shared_mutex>
#include <string>
#include <system_error>
#include <vector>

#include "ZelLocalProcesso.h"
#include "ZelLocalSeguranca.h"
#include "ZelRegistro.h"
#include "ZelTempo.h"

namespace {

// Tests stand for a system out of threads: the pool adds at most this many
// more (-1: no limit).
std::atomic<int> g_nThreadsPermitidas{-1};
std::atomic<int> g_nThreadsRecusadas{0};

void NovaThreadPermitida() {
  int n = g_nThreadsPermitidas.load();
  while (n > 0 && !g_nThreadsPermitidas.compare_exchange_weak(n, n - 1)) {
  }
  if (n != 0) return;
  ++g_nThreadsRecusadas;
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

// Worker threads that read connections and run calls. A thread is added
// whenever more tasks wait than threads are idle, so that calls never queue
// behind one another (a call may wait for another call to arrive).
class Pool {
 public:
  // False when the task cannot run (no thread is idle and none could be
  // created, or the pool is stopping). Every task is a connection's reader,
  // which holds its thread until the connection ends or a call of its own
  // runs, so none may wait in the queue for another to finish.
  bool Submete(std::function<void()> tarefa) {
    {
      std::lock_guard<std::mutex> trava(m_mutex);
      if (m_bParar) return false;
      if (m_tarefas.size() >= m_nOciosos) {
        try {
          NovaThreadPermitida();
          m_threads.emplace_back([this] { Trabalha(); });
        } catch (const std::system_error&) {
          return false;
        }
      }
      m_tarefas.push_back(std::move(tarefa));
    }
    // Outside the lock, so that the thread woken does not wait at once for
    // the one that woke it.
    m_cv.notify_one();
    return true;
  }
  // A reader's task handed to a thread only if not called off within
  // msEspera: a reader that runs a call itself goes on reading when the call
  // is quick, and no thread is woken for it. Cancela tells the reader
  // whether it keeps the reading (true) or another thread has it.
  struct Passagem {
    std::function<void()> tarefa;
    std::chrono::steady_clock::time_point quando;
    enum { Esperando, Passada, Cancelada, Falhou } eEstado = Esperando;
  };
  std::shared_ptr<Passagem> Adia(std::function<void()> tarefa, uint32_t msEspera) {
    auto p = std::make_shared<Passagem>();
    p->tarefa = std::move(tarefa);
    p->quando = std::chrono::steady_clock::now() + std::chrono::milliseconds(msEspera);
    bool bAcorda;
    {
      std::lock_guard<std::mutex> trava(m_mutexVigia);
      if (!m_vigia.joinable()) {
        try {
          m_vigia = std::thread([this] { Vigia(); });
        } catch (const std::system_error&) {
          p->eEstado = Submete(std::move(p->tarefa)) ? Passagem::Passada : Passagem::Falhou;
          return p;
        }
      }
      m_passagens.push_back(p);
      bAcorda = m_bVigiaDorme;
    }
    if (bAcorda) m_cvVigia.notify_one();
    return p;
  }
  bool Cancela(const std::shared_ptr<Passagem>& p) {
    std::lock_guard<std::mutex> trava(m_mutexVigia);
    if (p->eEstado == Passagem::Esperando) {
      p->eEstado = Passagem::Cancelada;
      m_passagens.erase(std::find(m_passagens.begin(), m_passagens.end(), p));
      return true;
    }
    return p->eEstado == Passagem::Falhou;
  }

  void Para() {
    {
      std::lock_guard<std::mutex> trava(m_mutexVigia);
      m_bPararVigia = true;
    }
    m_cvVigia.notify_all();
    if (m_vigia.joinable()) m_vigia.join();
    {
      std::lock_guard<std::mutex> trava(m_mutexVigia);
      m_vigia = std::thread();
      m_bPararVigia = false;
    }
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> trava(m_mutex);
      m_bParar = true;
      threads.swap(m_threads);
    }
    m_cv.notify_all();
    for (auto& t : threads) t.join();
    std::lock_guard<std::mutex> trava(m_mutex);
    m_bParar = false;
  }

 private:
  void Trabalha() {
    std::unique_lock<std::mutex> trava(m_mutex);
    for (;;) {
      ++m_nOciosos;
      m_cv.wait(trava, [this] { return m_bParar || !m_tarefas.empty(); });
      --m_nOciosos;
      if (m_tarefas.empty()) return;  // stopping, and nothing is left
      std::function<void()> tarefa = std::move(m_tarefas.front());
      m_tarefas.pop_front();
      trava.unlock();
      tarefa();
      tarefa = nullptr;  // drops what the call held before the next wait
      trava.lock();
    }
  }
  // Hands on, one at a time, the passages whose time came; they are in
  // the order of their times, which share one delay.
  void Vigia() {
    std::unique_lock<std::mutex> trava(m_mutexVigia);
    while (!m_bPararVigia) {
      if (m_passagens.empty()) {
        m_bVigiaDorme = true;
        m_cvVigia.wait(trava, [this] { return m_bPararVigia || !m_passagens.empty(); });
        m_bVigiaDorme = false;
        continue;
      }
      std::shared_ptr<Passagem> p = m_passagens.front();
      if (std::chrono::steady_clock::now() < p->quando) {
        m_cvVigia.wait_until(trava, p->quando);
        continue;
      }
      m_passagens.pop_front();
      p->eEstado = Submete(std::move(p->tarefa)) ? Passagem::Passada : Passagem::Falhou;
    }
    // Stopping: the readers keep what was not handed on.
    for (auto& p : m_passagens) p->eEstado = Passagem::Falhou;
    m_passagens.clear();
  }

  std::mutex m_mutexVigia;
  std::condition_variable m_cvVigia;
  std::deque<std::shared_ptr<Passagem>> m_passagens;
  std::thread m_vigia;
  bool m_bVigiaDorme = false;
  bool m_bPararVigia = false;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::deque<std::function<void()>> m_tarefas;
  size_t m_nOciosos = 0;
  std::vector<std::thread> m_threads;
  bool m_bParar = false;
};

std::atomic<int> g_nConexoes{0};

void RelataServidor(int nLinha, const char* szExpressao, HRESULT hr) {
  ZelLocalRelataErro("ZelLocalServidor", "ZelLocalAtivacao", nLinha, szExpressao, "hr", hr);
}

// The server end of one object's connection. The last holder (its reader or
// a call still running) releases the object.
struct ConexaoServidor {
  CZelLocalSocket socket;
  std::mutex mutexEnvio;
  bool bEnvioFalhou = false;
  // An object created as IUnknown serves no interface until the client's
  // first QueryInterface binds one.
  IUnknown* pUnknown = nullptr;
  void* pInterface = nullptr;
  const ZelLocalInterface* pDescricao = nullptr;
  std::mutex mutexChamadas;
  std::condition_variable cvChamadas;
  int nChamadas = 0;

  explicit ConexaoServidor(CZelLocalSocket s) : socket(std::move(s)) { ++g_nConexoes; }
  ~ConexaoServidor() {
    if (pInterface != nullptr) static_cast<IUnknown*>(pInterface)->Release();
    if (pUnknown != nullptr) pUnknown->Release();
    --g_nConexoes;
  }
  // A peer that does not take its replies loses the connection; the reader
  // then ends it and the object goes as for a dead client.
  void Envia(ZelLocalTipoQuadro eTipo, uint32_t ulId, const std::vector<uint8_t>& dados) {
    std::lock_guard<std::mutex> trava(mutexEnvio);
    if (bEnvioFalhou) return;  // one line for the peer, not one per reply
    HRESULT hr = socket.EnviaQuadro(eTipo, ulId, dados);
    if (FAILED(hr)) {
      bEnvioFalhou = true;
      RelataServidor(__LINE__, "hr = socket.EnviaQuadro(resposta)", hr);
      socket.Interrompe();
    }
  }
  bool EnvioFalhou() {
    std::lock_guard<std::mutex> trava(mutexEnvio);
    return bEnvioFalhou;
  }
  // Back-pressure: the reader takes no further call while the connection has
  // its full share running.
  void EsperaVaga() {
    std::unique_lock<std::mutex> trava(mutexChamadas);
    cvChamadas.wait(trava, [this] { return nChamadas < kZelLocalMaxChamadasPorConexao; });
    ++nChamadas;
  }
  void LiberaVaga() {
    std::lock_guard<std::mutex> trava(mutexChamadas);
    --nChamadas;
    cvChamadas.notify_all();
  }
};

class Runtime {
 public:
  static Runtime& Instancia() {
    static Runtime* p = new Runtime;  // threads may outlive static destruction
    return *p;
  }

  HRESULT Registra(REFCLSID clsid, IUnknown* pUnk, DWORD ctx, DWORD flags, DWORD* pCookie) {
    if (pUnk == nullptr || pCookie == nullptr) return E_INVALIDARG;
    if ((ctx & CLSCTX_SERVER) == 0) return E_INVALIDARG;
    pUnk->AddRef();
    bool bOferece;
    {
      std::unique_lock<std::shared_mutex> travaAtiv(m_mutexAtivacao);
      std::lock_guard<std::mutex> trava(m_mutex);
      *pCookie = ++m_ulProximoCookie;
      bOferece = (ctx & CLSCTX_LOCAL_SERVER) != 0 && (flags & REGCLS_SUSPENDED) == 0;
      m_registros.push_back({*pCookie, clsid, pUnk, ctx, (flags & REGCLS_SUSPENDED) != 0});
    }
    if (bOferece) {
      HRESULT hr = IniciaEndpoint(clsid);
      if (FAILED(hr)) {
        if (hr == CO_E_SERVER_STOPPING) ZelLocalSinalizaPronto(hr);
        Revoga(*pCookie);
        return hr;
      }
      ZelLocalSinalizaPronto();
    }
    return S_OK;
  }

  HRESULT Revoga(DWORD cookie) {
    IUnknown* pUnk = nullptr;
    CLSID clsid{};
    bool bUltimoLocal = false;
    {
      std::unique_lock<std::shared_mutex> travaAtiv(m_mutexAtivacao);
      std::lock_guard<std::mutex> trava(m_mutex);
      for (auto it = m_registros.begin(); it != m_registros.end(); ++it) {
        if (it->cookie != cookie) continue;
        pUnk = it->pUnk;
        clsid = it->clsid;
        bool bLocal = (it->ctx & CLSCTX_LOCAL_SERVER) != 0;
        m_registros.erase(it);
        bUltimoLocal = bLocal;
        for (const auto& r : m_registros)
          if (r.clsid == clsid && (r.ctx & CLSCTX_LOCAL_SERVER) != 0) bUltimoLocal = false;
        break;
      }
    }
    if (pUnk == nullptr) return E_INVALIDARG;
    if (bUltimoLocal) ParaEndpoints(&clsid);
    pUnk->Release();
    return S_OK;
  }

  HRESULT Retoma() {
    std::vector<CLSID> classes;
    {
      std::unique_lock<std::shared_mutex> travaAtiv(m_mutexAtivacao);
      std::lock_guard<std::mutex> trava(m_mutex);
      for (auto& r : m_registros) {
        if ((r.ctx & CLSCTX_LOCAL_SERVER) == 0) continue;
        r.bSuspenso = false;
        classes.push_back(r.clsid);
      }
    }
    for (const auto& c : classes) {
      HRESULT hr = IniciaEndpoint(c);
      if (FAILED(hr)) {
        if (hr == CO_E_SERVER_STOPPING) ZelLocalSinalizaPronto(hr);
        return hr;
      }
    }
    ZelLocalSinalizaPronto();
    return S_OK;
  }

  HRESULT Suspende() {
    {
      // Exclusive: an activation either finished creating its object (and
      // holds the module) or sees the class suspended.
      std::unique_lock<std::shared_mutex> travaAtiv(m_mutexAtivacao);
      std::lock_guard<std::mutex> trava(m_mutex);
      for (auto& r : m_registros) r.bSuspenso = true;
    }
    ParaEndpoints(nullptr);
    return S_OK;
  }

  void Finaliza() {
    ParaEndpoints(nullptr);
    {
      std::lock_guard<std::mutex> trava(m_mutex);
      for (auto& w : m_conexoes)
        if (auto c = w.lock()) c->socket.Interrompe();
    }
    m_pool.Para();
    std::lock_guard<std::mutex> trava(m_mutex);
    m_conexoes.clear();
  }

  HRESULT CriaInProc(REFCLSID clsid, IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    IUnknown* pUnk = nullptr;
    {
      std::lock_guard<std::mutex> trava(m_mutex);
      for (const auto& r : m_registros)
        if (r.clsid == clsid && (r.ctx & CLSCTX_INPROC_SERVER) != 0) {
          pUnk = r.pUnk;
          pUnk->AddRef();
          break;
        }
    }
    if (pUnk == nullptr) return REGDB_E_CLASSNOTREG;
    HRESULT hr = CriaPelaFabrica(pUnk, riid, ppv, pUnkOuter);
    pUnk->Release();
    return hr;
  }

  // Starts serving an accepted or paired socket; false (the connection
  // refused) when no thread could be created for it.
  bool Serve(std::shared_ptr<ConexaoServidor> c, bool bAtivacao) {
    std::lock_guard<std::mutex> trava(m_mutex);
    for (auto it = m_conexoes.begin(); it != m_conexoes.end();) it = it->expired() ? m_conexoes.erase(it) : it + 1;
    if (!m_pool.Submete([this, c, bAtivacao] { Le(c, bAtivacao ? Inicio::Ativacao : Inicio::Direto); })) {
      RelataServidor(__LINE__, "hr = std::thread(LeConexao)", E_OUTOFMEMORY);
      return false;
    }
    m_conexoes.push_back(c);
    return true;
  }

 private:
  struct Registro {
    DWORD cookie;
    CLSID clsid;
    IUnknown* pUnk;
    DWORD ctx;
    bool bSuspenso;
  };
  struct Endpoint {
    CLSID clsid;
    std::string sCaminho;
    CZelLocalSocket ouvinte;
    CZelLocalTravaArquivo trava;
    std::thread aceitador;
  };

  static HRESULT CriaPelaFabrica(IUnknown* pUnk, REFIID riid, void** ppv, IUnknown* pUnkOuter = nullptr) {
    IClassFactory* pFabrica = nullptr;
    HRESULT hr = pUnk->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&pFabrica));
    if (FAILED(hr) || pFabrica == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    hr = pFabrica->CreateInstance(pUnkOuter, riid, ppv);
    pFabrica->Release();
    return hr;
  }

  HRESULT IniciaEndpoint(REFCLSID clsid) {
    {
      std::lock_guard<std::mutex> trava(m_mutex);
      for (const auto& e : m_endpoints)
        if (e->clsid == clsid) return S_OK;
    }
    bool bAberto = ZelLocalNivelAutenticacao() == RPC_C_AUTHN_LEVEL_NONE;
    std::string sDir = ZelLocalDiretorioSockets();
    HRESULT hr = ZelLocalPreparaDiretorio(sDir, bAberto, true);
    if (FAILED(hr)) return hr;
    auto e = std::make_unique<Endpoint>();
    e->clsid = clsid;
    e->sCaminho = ZelLocalCaminhoSocket(clsid);
    // The lock makes this the only live server of the class; a socket file
    // found under it was left by a server that died. A server that is ending
    // holds it a moment after its socket is gone.
    if (FAILED(e->trava.Trava(sDir + GuidParaTexto(clsid) + ".servidor", ZelTempoMs(ZelTempo::kEsperaEndpointServidor))))
      return CO_E_SERVER_STOPPING;
    hr = ZelLocalEscuta(e->sCaminho, bAberto, &e->ouvinte);
    if (FAILED(hr)) return hr;
    Endpoint* p = e.get();
    e->aceitador = std::thread([this, p] { Aceita(*p); });
    std::lock_guard<std::mutex> trava(m_mutex);
    m_endpoints.push_back(std::move(e));
    return S_OK;
  }

  void ParaEndpoints(const CLSID* pClsid) {
    std::vector<std::unique_ptr<Endpoint>> parar;
    {
      std::lock_guard<std::mutex> trava(m_mutex);
      for (auto it = m_endpoints.begin(); it != m_endpoints.end();) {
        if (pClsid == nullptr || (*it)->clsid == *pClsid) {
          parar.push_back(std::move(*it));
          it = m_endpoints.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (auto& e : parar) {
      ZelLocalRemoveEndpoint(e->sCaminho);  // before the lock goes: the path is still ours
      e->ouvinte.Interrompe();
      e->aceitador.join();
      e->ouvinte.Fecha();
      e->trava.Libera();
    }
  }

  void Aceita(Endpoint& e) {
    for (;;) {
      CZelLocalSocket s;
      if (ZelLocalAceita(e.ouvinte, &s) != S_OK) return;
      try {
        Admite(std::move(s));
      } catch (const std::exception&) {
        RelataServidor(__LINE__, "hr = Admite(conexao)", E_OUTOFMEMORY);
      }
    }
  }

  // Refusals cost the server nothing but the accept and one small write: the
  // peer is answered without anything being read, and the connection closed.
  static void Recusa(CZelLocalSocket& s, HRESULT hr) {
    s.DefinePrazos(0, ZelTempoMs(ZelTempo::kPrazoEnvioResposta));
    CZelLocalEscritor e;
    e.U32(static_cast<uint32_t>(hr));
    s.EnviaQuadro(ZelLocalTipoQuadro::RespostaAtiva, 0, e.Dados());
  }

  void Admite(CZelLocalSocket s) {
    if (g_nConexoes.load() >= kZelLocalMaxConexoes) {
      HRESULT hr = HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY);
      RelataServidor(__LINE__, "hr = nConexoes < kZelLocalMaxConexoes ? S_OK : RPC_S_SERVER_TOO_BUSY", hr);
      Recusa(s, hr);
      return;
    }
    uint32_t uid = 0;
    if (!s.CredenciaisPar(&uid, nullptr) || !ZelLocalParAdmitido(uid)) {
      RelataServidor(__LINE__, "hr = ZelLocalParAdmitido(uidPar) ? S_OK : E_ACCESSDENIED", E_ACCESSDENIED);
      Recusa(s, E_ACCESSDENIED);
      return;
    }
    if (!s.DefinePrazos(ZelTempoMs(ZelTempo::kPrazoQuadroAtivacao), ZelTempoMs(ZelTempo::kPrazoEnvioResposta))) return;
    Serve(std::make_shared<ConexaoServidor>(std::move(s)), true);
  }

  HRESULT CriaObjeto(REFCLSID clsid, REFIID riid, ConexaoServidor& c) {
    const bool bUnknown = riid == IID_IUnknown;
    const ZelLocalInterface* pDescricao = bUnknown ? nullptr : ZelLocalBuscaInterface(riid);
    if (pDescricao == nullptr && !bUnknown) return E_NOINTERFACE;
    std::shared_lock<std::shared_mutex> travaAtiv(m_mutexAtivacao);
    IUnknown* pUnk = nullptr;
    bool bSuspenso = false;
    {
      std::lock_guard<std::mutex> trava(m_mutex);
      for (const auto& r : m_registros) {
        if (r.clsid != clsid || (r.ctx & CLSCTX_LOCAL_SERVER) == 0) continue;
        if (r.bSuspenso) {
          bSuspenso = true;
          continue;
        }
        pUnk = r.pUnk;
        pUnk->AddRef();
        break;
      }
    }
    if (pUnk == nullptr) return bSuspenso ? CO_E_SERVER_STOPPING : REGDB_E_CLASSNOTREG;
    void* pObjeto = nullptr;
    HRESULT hr = CriaPelaFabrica(pUnk, riid, &pObjeto);
    pUnk->Release();
    if (SUCCEEDED(hr) && pObjeto == nullptr) hr = E_UNEXPECTED;
    if (FAILED(hr)) return hr;
    if (bUnknown) {
      c.pUnknown = static_cast<IUnknown*>(pObjeto);
    } else {
      c.pInterface = pObjeto;
      c.pDescricao = pDescricao;
    }
    return hr;
  }

  // QueryInterface of an object created as IUnknown: the first interface
  // asked for becomes the one the connection serves.
  static HRESULT Consulta(ConexaoServidor& c, const ZelLocalQuadro& q) {
    CZelLocalLeitor l(q.dados);
    IID iid{};
    if (!l.Guid(&iid) || !l.Fim()) return RPC_X_BAD_STUB_DATA;
    if (c.pDescricao != nullptr) return c.pDescricao->iid == iid ? S_OK : E_NOINTERFACE;
    const ZelLocalInterface* pDescricao = ZelLocalBuscaInterface(iid);
    if (pDescricao == nullptr || c.pUnknown == nullptr) return E_NOINTERFACE;
    void* p = nullptr;
    HRESULT hr = c.pUnknown->QueryInterface(iid, &p);
    if (FAILED(hr)) return hr;
    if (p == nullptr) return E_NOINTERFACE;
    c.pInterface = p;
    c.pDescricao = pDescricao;
    return S_OK;
  }

  // How a thread takes up reading a connection: the first after an accept
  // (which waits for the activation) or a pairing, or one that follows a
  // reader gone to run a call.
  enum class Inicio { Ativacao, Direto, Sequencia };

  void Le(const std::shared_ptr<ConexaoServidor>& c, Inicio eInicio) {
    try {
      if (LeConexao(c, eInicio)) return;
    } catch (const std::exception&) {
      RelataServidor(__LINE__, "hr = LeConexao(conexao)", E_OUTOFMEMORY);
    }
    // A peer that sent garbage learns at once that its connection is gone.
    c->socket.Interrompe();
  }

  // Reads the connection's calls until it ends (false), or until a call the
  // reading thread runs itself while another thread reads on (true): the
  // call then starts with no hand-off between threads.
  bool LeConexao(const std::shared_ptr<ConexaoServidor>& c, Inicio eInicio) {
    if (eInicio == Inicio::Ativacao && !Ativacao(*c)) return false;
    // Calls may wait as long as they need; only sends keep their deadline.
    if (eInicio != Inicio::Sequencia) c->socket.DefinePrazos(0, ZelTempoMs(ZelTempo::kPrazoEnvioResposta));
    for (;;) {
      c->EsperaVaga();
      // A peer dropped for not reading gets no more of the server's time,
      // though calls it sent may still lie in the socket.
      if (c->EnvioFalhou()) {
        c->LiberaVaga();
        return false;
      }
      auto q = std::make_shared<ZelLocalQuadro>();
      HRESULT hr = c->socket.RecebeQuadro(q.get());
      if (hr != S_OK) {
        c->LiberaVaga();
        // S_FALSE: the client released the object or ended. A peer dropped
        // for not reading was reported already.
        if (hr != S_FALSE && !c->EnvioFalhou()) RelataServidor(__LINE__, "hr = socket.RecebeQuadro(&quadro)", hr);
        return false;
      }
      if (q->usTipo == static_cast<uint16_t>(ZelLocalTipoQuadro::Consulta)) {
        c->LiberaVaga();
        hr = Consulta(*c, *q);
        if (hr == RPC_X_BAD_STUB_DATA) {
          RelataServidor(__LINE__, "hr = Consulta(conexao, quadro)", hr);
          return false;
        }
        CZelLocalEscritor e;
        e.U32(static_cast<uint32_t>(hr));
        c->Envia(ZelLocalTipoQuadro::RespostaConsulta, q->ulId, e.Dados());
        continue;
      }
      uint16_t usSlot = 0;
      const ZelLocalMetodo* pMetodo = nullptr;
      if (q->usTipo == static_cast<uint16_t>(ZelLocalTipoQuadro::Chamada) && q->dados.size() >= 2 &&
          c->pDescricao != nullptr) {
        std::memcpy(&usSlot, q->dados.data(), 2);
        pMetodo = c->pDescricao->Metodo(usSlot);
      }
      if (pMetodo == nullptr) {
        c->LiberaVaga();
        RelataServidor(__LINE__, "hr = pDescricao->Metodo(usSlot) ? S_OK : RPC_X_BAD_STUB_DATA", RPC_X_BAD_STUB_DATA);
        return false;
      }
      // The call runs here even when no thread could take the reading on: a
      // call queued for another thread would wait for one while the only
      // threads left block reading their connections.
      auto pPassagem = m_pool.Adia([this, c] { Le(c, Inicio::Sequencia); }, ZelTempoMs(ZelTempo::kPassagemLeitura));
      Executa(*c, *q, *pMetodo, usSlot);
      c->LiberaVaga();
      if (m_pool.Cancela(pPassagem)) continue;
      return true;
    }
  }

  static void Executa(ConexaoServidor& c, const ZelLocalQuadro& q, const ZelLocalMetodo& m, uint16_t usSlot) {
    // A thread's reply buffer serves its next reply, so that a large answer
    // is not grown afresh on every call.
    thread_local std::vector<uint8_t> tResposta;
    CZelLocalEscritor e(std::exchange(tResposta, std::vector<uint8_t>()));
    // Lives past the send: the blocks the object allocated are freed while
    // the client takes the reply apart.
    std::optional<CZelLocalChamadaStub> stub;
    try {
      CZelLocalLeitor l(q.dados.data() + 2, q.dados.size() - 2);
      stub.emplace(m);
      HRESULT hrCall = stub->LeEntrada(l);
      if (FAILED(hrCall)) {
        RelataServidor(__LINE__, "hr = stub.LeEntrada(leitor)", hrCall);
        ZelLocalEscreveSoResultado(hrCall, e);
      } else {
        hrCall = c.pDescricao->pfInvoca(c.pInterface, usSlot, stub->Argumentos());
        stub->EscreveSaida(hrCall, e);
      }
    } catch (const std::bad_alloc&) {
      RelataServidor(__LINE__, "hr = stub.EscreveSaida(hr, escritor)", E_OUTOFMEMORY);
      e = CZelLocalEscritor();
      ZelLocalEscreveSoResultado(E_OUTOFMEMORY, e);
    }
    if (e.Tamanho() > kZelLocalMaxQuadro) {
      RelataServidor(__LINE__, "hr = EnviaQuadro(resposta)", RPC_X_BAD_STUB_DATA);
      e = CZelLocalEscritor();
      ZelLocalEscreveSoResultado(RPC_X_BAD_STUB_DATA, e);
    }
    std::vector<uint8_t>& resposta = e.Dados();
    c.Envia(ZelLocalTipoQuadro::Resposta, q.ulId, resposta);
    if (resposta.capacity() <= kZelLocalMaxRespostaGuardadaServidor) tResposta = std::move(resposta);
  }

  bool Ativacao(ConexaoServidor& c) {
    ZelLocalQuadro q;
    HRESULT hr = c.socket.RecebeQuadro(&q, kZelLocalTamanhoAtivacao);
    if (hr == S_FALSE) return false;
    CZelLocalLeitor l(q.dados);
    GUID clsid{}, iid{};
    if (hr == S_OK && (q.usTipo != static_cast<uint16_t>(ZelLocalTipoQuadro::Ativa) || !l.Guid(&clsid) ||
                       !l.Guid(&iid) || !l.Fim()))
      hr = RPC_X_BAD_STUB_DATA;
    if (FAILED(hr)) {
      RelataServidor(__LINE__, "hr = socket.RecebeQuadro(&ativacao)", hr);
      return false;
    }
    hr = CriaObjeto(clsid, iid, c);
    CZelLocalEscritor e;
    e.U32(static_cast<uint32_t>(hr));
    c.Envia(ZelLocalTipoQuadro::RespostaAtiva, 0, e.Dados());
    return SUCCEEDED(hr);
  }

  std::shared_mutex m_mutexAtivacao;
  std::mutex m_mutex;
  std::vector<Registro> m_registros;
  DWORD m_ulProximoCookie = 0;
  std::vector<std::unique_ptr<Endpoint>> m_endpoints;
  std::vector<std::weak_ptr<ConexaoServidor>> m_conexoes;
  Pool m_pool;
};

}  // namespace

HRESULT CoInitializeEx(void*, DWORD) { return S_OK; }

void CoUninitialize() { Runtime::Instancia().Finaliza(); }

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags, DWORD* lpdwRegister) {
  return Runtime::Instancia().Registra(clsid, pUnk, dwClsContext, flags, lpdwRegister);
}

HRESULT CoRevokeClassObject(DWORD dwRegister) { return Runtime::Instancia().Revoga(dwRegister); }

HRESULT CoResumeClassObjects() { return Runtime::Instancia().Retoma(); }

HRESULT CoSuspendClassObjects() { return Runtime::Instancia().Suspende(); }

int ZelLocalConexoesServidas() { return g_nConexoes.load(); }

void ZelLocalLimitaThreadsTeste(int nThreads) { g_nThreadsPermitidas.store(nThreads); }

int ZelLocalThreadsRecusadasTeste() { return g_nThreadsRecusadas.load(); }

// ---- Client ----

struct CZelLocalCanalCliente::Pendente {
  uint16_t usTipoResposta = 0;
  bool bPronto = false;
  HRESULT hr = S_OK;
  std::vector<uint8_t> dados;
};

CZelLocalCanalCliente::CZelLocalCanalCliente(CZelLocalSocket socket) : m_socket(std::move(socket)) {
  m_socket.CredenciaisPar(nullptr, &m_pidServidor);
}

CZelLocalCanalCliente::~CZelLocalCanalCliente() { m_socket.Interrompe(); }

// The thread that waits reads for everyone: the caller whose answer comes
// next takes it with no hand-off between threads, and an answer for another
// caller is passed on to it. Only one thread reads at a time.
HRESULT CZelLocalCanalCliente::Troca(ZelLocalTipoQuadro eTipo, const std::vector<uint8_t>& dados, uint32_t msLimite,
                                     std::vector<uint8_t>* pResposta) {
  Pendente p;
  p.usTipoResposta = static_cast<uint16_t>(eTipo) + 1;  // every answer's kind follows its request's
  uint32_t ulId = 0;  // the activation's answer
  {
    std::lock_guard<std::mutex> trava(m_mutex);
    if (m_bCaiu) return RPC_E_DISCONNECTED;
    if (eTipo != ZelLocalTipoQuadro::Ativa) {
      do {
        ulId = ++m_ulProximoId;
      } while (ulId == 0 || m_pendentes.count(ulId) != 0);
    }
    m_pendentes[ulId] = &p;
  }
  HRESULT hr;
  {
    std::lock_guard<std::mutex> trava(m_mutexEnvio);
    hr = m_socket.EnviaQuadro(eTipo, ulId, dados);
  }
  std::unique_lock<std::mutex> trava(m_mutex);
  if (FAILED(hr)) {
    m_pendentes.erase(ulId);
    return hr == RPC_X_BAD_STUB_DATA ? E_INVALIDARG : RPC_E_DISCONNECTED;
  }
  const auto limite = std::chrono::steady_clock::now() + std::chrono::milliseconds(msLimite);
  auto expira = [&] {
    m_pendentes.erase(ulId);
    DerrubaTravado();
    return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  };
  while (!p.bPronto) {
    if (m_bLendo) {
      if (msLimite == 0) {
        m_cv.wait(trava, [&] { return p.bPronto || !m_bLendo; });
      } else if (!m_cv.wait_until(trava, limite, [&] { return p.bPronto || !m_bLendo; })) {
        return expira();
      }
      continue;
    }
    m_bLendo = true;
    ZelLocalQuadro q;
    q.dados.swap(m_aGuardado);
    trava.unlock();
    HRESULT hrLeitura;
    if (msLimite == 0) {
      hrLeitura = m_socket.RecebeQuadro(&q);
    } else {
      auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now());
      hrLeitura = m_socket.DefinePrazoLeitura(static_cast<uint32_t>(std::max<int64_t>(1, ms.count())))
                      ? m_socket.RecebeQuadro(&q)
                      : RPC_E_DISCONNECTED;
      if (hrLeitura == S_OK) m_socket.DefinePrazoLeitura(0);
    }
    trava.lock();
    m_bLendo = false;
    m_cv.notify_all();  // whoever waits may read next, or has its answer
    if (hrLeitura == HRESULT_FROM_WIN32(ERROR_TIMEOUT)) return expira();
    auto it = hrLeitura == S_OK ? m_pendentes.find(q.ulId) : m_pendentes.end();
    // Not an answer anyone waits for: the server is not sane.
    if (it == m_pendentes.end() || q.usTipo != it->second->usTipoResposta) {
      DerrubaTravado();
      break;
    }
    it->second->dados = std::move(q.dados);
    it->second->bPronto = true;
    m_pendentes.erase(it);
  }
  if (FAILED(p.hr)) return p.hr;
  *pResposta = std::move(p.dados);
  return S_OK;
}

namespace {
HRESULT LeResultado(const std::vector<uint8_t>& dados) {
  CZelLocalLeitor l(dados);
  uint32_t ulHr = 0;
  if (!l.U32(&ulHr) || !l.Fim()) return RPC_X_BAD_STUB_DATA;
  return static_cast<HRESULT>(ulHr);
}
}  // namespace

HRESULT CZelLocalCanalCliente::Ativa(REFCLSID clsid, REFIID riid) {
  CZelLocalEscritor e;
  e.Guid(clsid);
  e.Guid(riid);
  std::vector<uint8_t> resposta;
  HRESULT hr = Troca(ZelLocalTipoQuadro::Ativa, e.Dados(), ZelTempoMs(ZelTempo::kEsperaRespostaAtivacao), &resposta);
  return FAILED(hr) ? hr : LeResultado(resposta);
}

HRESULT CZelLocalCanalCliente::Consulta(REFIID riid) {
  CZelLocalEscritor e;
  e.Guid(riid);
  std::vector<uint8_t> resposta;
  HRESULT hr = Troca(ZelLocalTipoQuadro::Consulta, e.Dados(), 0, &resposta);
  return FAILED(hr) ? hr : LeResultado(resposta);
}

HRESULT CZelLocalCanalCliente::Chama(const ZelLocalMetodo& m, void* const* ap) {
  CZelLocalEscritor e;
  e.U16(m.usSlot);
  HRESULT hr = ZelLocalEscreveEntrada(m, ap, e);
  if (FAILED(hr)) return hr;
  std::vector<uint8_t> resposta;
  hr = Troca(ZelLocalTipoQuadro::Chamada, e.Dados(), 0, &resposta);
  if (FAILED(hr)) return hr;
  CZelLocalLeitor l(resposta);
  hr = ZelLocalLeSaida(m, ap, l);
  if (resposta.capacity() <= kZelLocalMaxRespostaGuardada) {
    std::lock_guard<std::mutex> trava(m_mutex);
    if (resposta.capacity() > m_aGuardado.capacity()) m_aGuardado.swap(resposta);
  }
  return hr;
}

void CZelLocalCanalCliente::DerrubaTravado() {
  m_socket.Interrompe();
  m_bCaiu = true;
  for (auto& [id, p] : m_pendentes) {
    p->hr = RPC_E_DISCONNECTED;
    p->bPronto = true;
  }
  m_pendentes.clear();
  m_cv.notify_all();
}

HRESULT ZelLocalServeConexao(CZelLocalSocket socket, IUnknown* pObjeto, REFIID riid) {
  const ZelLocalInterface* pDescricao = ZelLocalBuscaInterface(riid);
  if (pDescricao == nullptr || pObjeto == nullptr) return E_NOINTERFACE;
  auto c = std::make_shared<ConexaoServidor>(std::move(socket));
  HRESULT hr = pObjeto->QueryInterface(riid, &c->pInterface);
  if (FAILED(hr)) return hr;
  c->pDescricao = pDescricao;
  return Runtime::Instancia().Serve(std::move(c), false) ? S_OK : E_OUTOFMEMORY;
}

HRESULT ZelLocalCriaProxy(CZelLocalSocket socket, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  const ZelLocalInterface* pDescricao = ZelLocalBuscaInterface(riid);
  if (pDescricao == nullptr) return E_NOINTERFACE;
  IUnknown* pProxy = pDescricao->pfCriaProxy(std::make_shared<CZelLocalCanalCliente>(std::move(socket)));
  if (pProxy == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = pProxy->QueryInterface(riid, ppv);
  pProxy->Release();
  return hr;
}

namespace {

// An object created as IUnknown: QueryInterface asks the object itself, and
// the interface it grants is then served over the same connection.
class CProxyUnknown final : public T_ZelObjetoCom<IUnknown, IID_IUnknown> {
 public:
  explicit CProxyUnknown(std::shared_ptr<CZelLocalCanalCliente> canal) : m_canal(std::move(canal)) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    const ZelLocalInterface* pDescricao = riid == IID_IUnknown ? nullptr : ZelLocalBuscaInterface(riid);
    if (pDescricao == nullptr || ppv == nullptr) return T_ZelObjetoCom::QueryInterface(riid, ppv);
    *ppv = nullptr;
    HRESULT hr = m_canal->Consulta(riid);
    if (FAILED(hr)) return hr;
    IUnknown* pProxy = pDescricao->pfCriaProxy(m_canal);
    if (pProxy == nullptr) return E_OUTOFMEMORY;
    hr = pProxy->QueryInterface(riid, ppv);
    pProxy->Release();
    return hr;
  }

 private:
  std::shared_ptr<CZelLocalCanalCliente> m_canal;
};

// S_OK with a proxy; S_FALSE when nobody serves the class there now (no
// endpoint, or a server that stopped taking activations).
HRESULT TentaAtivar(const std::string& sCaminho, REFCLSID clsid, REFIID riid, const ZelLocalInterface* pDescricao,
                    void** ppv) {
  CZelLocalSocket s;
  HRESULT hr = ZelLocalConecta(sCaminho, &s);
  if (hr != S_OK) return hr;
  auto canal = std::make_shared<CZelLocalCanalCliente>(std::move(s));
  hr = canal->Ativa(clsid, riid);
  if (hr == CO_E_SERVER_STOPPING || hr == RPC_E_DISCONNECTED) return S_FALSE;
  if (hr == HRESULT_FROM_WIN32(ERROR_TIMEOUT)) {
    ZelLocalRelataErro("CoCreateInstance", "ZelLocalAtivacao", __LINE__, "hr = canal->Ativa(clsid, riid)", "hr", hr);
    return CO_E_SERVER_EXEC_FAILURE;
  }
  if (FAILED(hr)) return hr;
  IUnknown* pProxy = pDescricao != nullptr ? pDescricao->pfCriaProxy(std::move(canal)) : new CProxyUnknown(std::move(canal));
  if (pProxy == nullptr) return E_OUTOFMEMORY;
  hr = pProxy->QueryInterface(riid, ppv);
  pProxy->Release();
  return hr;
}

HRESULT AtivaLocal(REFCLSID clsid, REFIID riid, void** ppv) {
  const std::string sClsid = GuidParaTexto(clsid);
  std::string sComando;
  if (ZelRegistro::LeTexto(HKEY_CLASSES_ROOT, "CLSID\\" + sClsid + "\\LocalServer32", "", &sComando) != ERROR_SUCCESS ||
      sComando.empty())
    return REGDB_E_CLASSNOTREG;
  const ZelLocalInterface* pDescricao = ZelLocalBuscaInterface(riid);
  if (pDescricao == nullptr && riid != IID_IUnknown) return E_NOINTERFACE;
  const std::string sDir = ZelLocalDiretorioSockets();
  HRESULT hr = ZelLocalPreparaDiretorio(sDir, false, false);
  if (FAILED(hr)) return hr;
  const std::string sCaminho = ZelLocalCaminhoSocket(clsid);
  const uint32_t msEspera = ZelTempoMs(ZelTempo::kEsperaAtivacaoLocal);

  // A server that is suspending may turn an activation away; a few rounds
  // reach the server that replaces it. A started server that found the old
  // one still ending is started once more.
  bool bRepetiuInicio = false;
  for (int nRodada = 0; nRodada < 4; ++nRodada) {
    hr = TentaAtivar(sCaminho, clsid, riid, pDescricao, ppv);
    if (hr != S_FALSE) return hr;
    // One client starts the server; the others wait here and then find it.
    CZelLocalTravaArquivo trava;
    if (FAILED(trava.Trava(sDir + sClsid + ".inicio", msEspera))) return CO_E_SERVER_EXEC_FAILURE;
    hr = TentaAtivar(sCaminho, clsid, riid, pDescricao, ppv);
    if (hr != S_FALSE) return hr;
    CZelLocalInicioServidor servidor;
    hr = servidor.Inicia(sComando);
    if (SUCCEEDED(hr)) hr = servidor.EsperaPronto(msEspera);
    if (hr == CO_E_SERVER_STOPPING && !bRepetiuInicio) {
      bRepetiuInicio = true;
      continue;
    }
    if (FAILED(hr)) {
      ZelLocalRelataErro("CoCreateInstance", "ZelLocalAtivacao", __LINE__,
                         "hr = servidor.EsperaPronto(msEspera)", "hr", CO_E_SERVER_EXEC_FAILURE);
      return CO_E_SERVER_EXEC_FAILURE;
    }
    hr = TentaAtivar(sCaminho, clsid, riid, pDescricao, ppv);
    if (hr != S_FALSE) return hr;
  }
  return CO_E_SERVER_EXEC_FAILURE;
}

}  // namespace

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  HRESULT hr = REGDB_E_CLASSNOTREG;
  if ((dwClsContext & CLSCTX_INPROC_SERVER) != 0) {
    hr = Runtime::Instancia().CriaInProc(clsid, pUnkOuter, riid, ppv);
    if (hr != REGDB_E_CLASSNOTREG) return hr;
  }
  // An object in another process cannot be part of one in this process.
  if ((dwClsContext & CLSCTX_LOCAL_SERVER) != 0)
    hr = pUnkOuter != nullptr ? CLASS_E_NOAGGREGATION : AtivaLocal(clsid, riid, ppv);
  return hr;
}
