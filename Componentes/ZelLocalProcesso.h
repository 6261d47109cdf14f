// Processes of the local-server runtime: the file locks that make one client
// start a server and one server own an endpoint, starting a registered server
// executable and learning when its class objects are offered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ZelCom.h"

// An exclusive lock on a file (created when missing), released by the
// destructor or when the process ends, however it ends.
class CZelLocalTravaArquivo {
 public:
  CZelLocalTravaArquivo() = default;
  ~CZelLocalTravaArquivo() { Libera(); }
  CZelLocalTravaArquivo(const CZelLocalTravaArquivo&) = delete;
  CZelLocalTravaArquivo& operator=(const CZelLocalTravaArquivo&) = delete;

  // S_OK once held; E_ABORT when another holder kept it for msLimite real
  // milliseconds (0: a single attempt); E_ACCESSDENIED when the file cannot
  // be opened.
  HRESULT Trava(const std::string& sCaminho, uint32_t msLimite);
  void Libera();
  bool Travada() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

// A server executable started for an activation. The process runs detached
// (its own session, standard streams on /dev/null), so that it outlives the
// client and never holds the client's pipes.
class CZelLocalInicioServidor {
 public:
  CZelLocalInicioServidor() = default;
  ~CZelLocalInicioServidor();
  CZelLocalInicioServidor(const CZelLocalInicioServidor&) = delete;
  CZelLocalInicioServidor& operator=(const CZelLocalInicioServidor&) = delete;

  // sLinhaComando is the registered command: a path, quoted when it holds
  // spaces, optionally followed by arguments; "-Embedding" is appended.
  HRESULT Inicia(const std::string& sLinhaComando);
  // S_OK when the server signalled that its class objects are offered;
  // CO_E_SERVER_STOPPING when it gave up because a server that is ending
  // still held the endpoint; CO_E_SERVER_EXEC_FAILURE when it could not run,
  // ended first, or stayed silent for msLimite real milliseconds.
  HRESULT EsperaPronto(uint32_t msLimite);

 private:
  int m_fdPronto = -1;
};

// Splits a registered command as CZelLocalInicioServidor::Inicia does.
std::vector<std::string> ZelLocalDivideLinhaComando(const std::string& sLinhaComando);

// Server side: tells the client that started this process (if any) that the
// class objects are offered (S_OK) or that another server still owns the
// endpoint (CO_E_SERVER_STOPPING). Later calls do nothing.
void ZelLocalSinalizaPronto(HRESULT hr = S_OK);

// Whether a process of that id exists (tests watch servers end with it).
bool ZelLocalProcessoVivo(int32_t pid);
