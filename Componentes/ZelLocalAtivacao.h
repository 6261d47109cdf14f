// Activation: the class-object table of the process, object creation in
// process or through a local server, and the connections between proxies and
// the objects they stand for.
//
// A local-server object lives on one connection: the client's activation
// creates it, calls travel on the connection (several at once, each answered
// on a worker thread of the server), and the end of the connection releases
// it, whether the client released its proxy or died. Every function here is
// thread-safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "ZelCom.h"
#include "ZelLocalDescricao.h"
#include "ZelLocalTransporte.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;
constexpr DWORD REGCLS_SINGLEUSE = 0;
constexpr DWORD REGCLS_MULTIPLEUSE = 1;
constexpr DWORD REGCLS_SUSPENDED = 4;
constexpr DWORD COINIT_MULTITHREADED = 0;

// S_OK; the runtime needs no per-thread state.
HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
// Stops serving: endpoints closed, connections ended, their objects released
// and the runtime's threads joined.
void CoUninitialize();

// In-process registrations (CLSCTX_INPROC_SERVER) serve CoCreateInstance in
// this process; local-server ones are offered on the class's endpoint, at
// once or, with REGCLS_SUSPENDED, from CoResumeClassObjects on.
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags, DWORD* lpdwRegister);
HRESULT CoRevokeClassObject(DWORD dwRegister);
// S_OK; CO_E_SERVER_STOPPING when another live server owns an endpoint.
HRESULT CoResumeClassObjects();
// No new activation reaches this process any more: the endpoints are closed
// and removed, so that the next client starts a new server. Existing objects
// keep being served.
HRESULT CoSuspendClassObjects();

// Local servers: the class is looked up in HKEY_CLASSES_ROOT
// ("CLSID\{...}\LocalServer32"); REGDB_E_CLASSNOTREG when absent,
// CO_E_SERVER_EXEC_FAILURE when its server could not be started or did not
// answer the activation in time, HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY)
// when it serves as many connections as it takes. riid may be IID_IUnknown:
// the proxy's QueryInterface then reaches the object.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv);

// The client end of one object's connection; proxies share it.
class CZelLocalCanalCliente {
 public:
  explicit CZelLocalCanalCliente(CZelLocalSocket socket);
  ~CZelLocalCanalCliente();
  CZelLocalCanalCliente(const CZelLocalCanalCliente&) = delete;
  CZelLocalCanalCliente& operator=(const CZelLocalCanalCliente&) = delete;

  // The activation exchange, before any call: the server's result,
  // RPC_E_DISCONNECTED when it closed the connection instead, or
  // HRESULT_FROM_WIN32(ERROR_TIMEOUT) when no answer came in time (the
  // connection is then dropped).
  HRESULT Ativa(REFCLSID clsid, REFIID riid);
  // QueryInterface of an object created as IUnknown, answered by the object.
  // The first interface granted is the one the connection serves; another
  // one is E_NOINTERFACE.
  HRESULT Consulta(REFIID riid);
  // One call: RPC_E_DISCONNECTED once the connection is lost.
  HRESULT Chama(const ZelLocalMetodo& m, void* const* ap);
  // Process id of the server (0 when unknown).
  int32_t PidServidor() const { return m_pidServidor; }

 private:
  struct Pendente;
  // Sends a request and waits for its answer (msLimite 0: without limit).
  HRESULT Troca(ZelLocalTipoQuadro eTipo, const std::vector<uint8_t>& dados, uint32_t msLimite,
                std::vector<uint8_t>* pResposta);
  // Drops the connection and fails every waiting call; m_mutex held.
  void DerrubaTravado();

  CZelLocalSocket m_socket;
  int32_t m_pidServidor = 0;
  std::mutex m_mutexEnvio;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::map<uint32_t, Pendente*> m_pendentes;
  uint32_t m_ulProximoId = 0;
  bool m_bCaiu = false;
  bool m_bLendo = false;  // a waiting caller is reading the socket
  // The buffer of an answer already used, for the next one to be read into:
  // a large answer would otherwise take fresh pages from the system at
  // every call. Kept only up to kZelLocalMaxRespostaGuardada bytes.
  std::vector<uint8_t> m_aGuardado;
};

// Serves an object over one already connected socket (the in-process
// transport of tests and benchmarks): the connection's end releases pObjeto.
// The object must implement riid, and riid must be a registered interface.
HRESULT ZelLocalServeConexao(CZelLocalSocket socket, IUnknown* pObjeto, REFIID riid);
// A proxy of riid over a connected socket whose other end serves an object.
HRESULT ZelLocalCriaProxy(CZelLocalSocket socket, REFIID riid, void** ppv);

// Connections served by this process now (tests).
int ZelLocalConexoesServidas();
// Tests: the server adds at most nThreads more threads (-1: no limit), as a
// system out of threads would, and counts the ones it was refused.
void ZelLocalLimitaThreadsTeste(int nThreads);
int ZelLocalThreadsRecusadasTeste();
