// The host of a local-server executable, for any class map: start-up, the
// registration words, class objects offered suspended and then resumed, the
// main thread waiting for the quit message, and the shutdown monitor that
// ends an idle server.
//
// One module object per process, built before WinMain runs. Lock and Unlock
// may be called from any thread; every object the class map creates holds one
// lock for its lifetime (CZelLocalTravaModulo).
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ZelCom.h"
#include "ZelLocalRegistro.h"

struct ZelLocalEntradaMapa {
  CLSID clsid;
  // Creates an object answering riid (the class factory's CreateInstance).
  HRESULT (*pfCriaInstancia)(REFIID riid, void** ppv);
  // Registration script of the class (%MODULE% and %APPID% replaced).
  std::string sScript;
};

struct ZelLocalIdentidadeModulo {
  GUID appid;
  GUID libid;                  // the type library registered with the server
  std::string sNomeBiblioteca; // its name
  std::string sScriptAplicacao;  // registration script of the application identity
};

class CZelLocalModulo {
 public:
  CZelLocalModulo(ZelLocalIdentidadeModulo identidade, std::vector<ZelLocalEntradaMapa> mapa);
  virtual ~CZelLocalModulo();
  CZelLocalModulo(const CZelLocalModulo&) = delete;
  CZelLocalModulo& operator=(const CZelLocalModulo&) = delete;

  // The module of this process (null before one is built).
  static CZelLocalModulo* Atual();

  virtual LONG Lock();
  // On the transition to 0: sets the activity flag and signals the shutdown
  // event.
  virtual LONG Unlock();
  virtual LONG GetLockCount();
  virtual HRESULT AddCommonRGSReplacements(CZelLocalRegistrador& registrador);
  // Non-zero ends the run with that result before any class is offered.
  virtual HRESULT OnPreRun();
  virtual HRESULT OnPostRun();
  // Ends the server: the shutdown event stops counting, the quit message is
  // posted to the main thread.
  virtual void OnMonitorShutdown();

  // The program: registration word or server run. Returns the result, which
  // the program returns as its exit status (its low 8 bits reach the parent).
  int WinMain(int argc, const char* const* argv);

  HRESULT RegisterServer(bool bPorUsuario);
  HRESULT UnregisterServer(bool bPorUsuario);
  // Ends the main thread's wait (also what SIGTERM and SIGINT do).
  void PostQuitMessage();

  DWORD m_dwTimeOut;       // nominal ms of a quiet period
  DWORD m_dwPause = 1000;  // kept for the delayed shutdown this module switches off
  bool m_bDelayShutdown = false;
  std::atomic<bool> m_bActivity{false};

 protected:
  HRESULT Run();
  HRESULT PreMessageLoop();
  void RunMessageLoop();
  HRESULT PostMessageLoop();
  HRESULT RegisterClassObjects();
  HRESULT RevokeClassObjects();
  void MonitorShutdown();
  void ParaMonitor();

 private:
  class Evento;
  class Fabrica;

  ZelLocalIdentidadeModulo m_identidade;
  std::vector<ZelLocalEntradaMapa> m_mapa;
  std::vector<Fabrica*> m_fabricas;
  std::vector<DWORD> m_cookies;
  std::atomic<LONG> m_nLock{0};
  bool m_bIniciado = false;
  bool m_bComIniciado = false;
  int m_fdsQuit[2] = {-1, -1};
  Evento* m_pEvento;
  std::atomic<bool> m_bEventoAberto{false};
  std::atomic<bool> m_bParaMonitor{false};
  std::thread m_monitor;
};

// Held by every object of the class map.
class CZelLocalTravaModulo {
 public:
  CZelLocalTravaModulo();
  ~CZelLocalTravaModulo();
  CZelLocalTravaModulo(const CZelLocalTravaModulo&) = delete;
  CZelLocalTravaModulo& operator=(const CZelLocalTravaModulo&) = delete;
};
