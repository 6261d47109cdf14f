// Named mutex shared by the processes of one user: a robust, process-shared,
// recursive mutex in POSIX shared memory, owned by a thread as on the
// original platform. An owner (thread or process) that ended while holding it
// is reported to the next waiter as WAIT_ABANDONED, and that waiter owns it.
// Timed waits use the monotonic clock. Thread-safe.
#pragma once

#include <string>

#include "ZelCom.h"

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
constexpr DWORD WAIT_ABANDONED = 0x00000080;
constexpr DWORD WAIT_TIMEOUT = 0x00000102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

class CZelMutexNomeado {
 public:
  // Opens the mutex of that name, creating it when it does not exist yet.
  explicit CZelMutexNomeado(const std::string& sNome);
  ~CZelMutexNomeado();
  CZelMutexNomeado(const CZelMutexNomeado&) = delete;
  CZelMutexNomeado& operator=(const CZelMutexNomeado&) = delete;

  // ERROR_SUCCESS, or why the mutex could not be opened.
  LONG ErroCriacao() const { return m_lErro; }
  bool Valido() const { return m_pMemoria != nullptr; }

  // WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT or WAIT_FAILED. The time-out is
  // in real milliseconds (callers scale it), INFINITE waits without limit.
  DWORD Espera(DWORD dwMilissegundos);
  // The system error of the last wait that answered WAIT_FAILED;
  // ERROR_SUCCESS after any other outcome (an abandoned mutex sets none).
  LONG ErroEspera() const { return m_lErroEspera; }
  // False (ERROR_NOT_OWNER) when the calling thread does not own it.
  bool Libera();

 private:
  struct Memoria;
  Memoria* m_pMemoria = nullptr;
  LONG m_lErro = ERROR_SUCCESS;
  LONG m_lErroEspera = ERROR_SUCCESS;
};

// The POSIX shared-memory object that holds the mutex of that name. Nothing
// removes these objects; tests remove their own.
std::string ZelObjetoMutexNomeado(const std::string& sNome);
// Removes the object of that name (for tests that cannot reach the POSIX
// call); processes that mapped it keep their mapping.
LONG ZelExcluiMutexNomeado(const std::string& sNome);
