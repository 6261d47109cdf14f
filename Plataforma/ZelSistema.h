// Process and machine facts: ticks, sleeping, local time, names, thread ids,
// memory counters and versions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ZelCom.h"

// Milliseconds of the monotonic clock.
uint64_t GetTickCount64();
// Nanoseconds of the monotonic clock, for measuring short waits.
uint64_t ZelRelogioNs();
DWORD GetTickCount();
void Sleep(DWORD dwMilliseconds);

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
void GetLocalTime(SYSTEMTIME* pst);

DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// Absolute path of the running program.
std::string ZelCaminhoPrograma();
// The user name of the process (the uid in decimal when it has no name).
std::string ZelNomeUsuario();

struct ZelMemoria {
  int64_t llDisponivel;  // machine memory available, bytes
  int64_t llTotal;       // machine memory, bytes
  int64_t llPrivada;     // the process's private (resident anonymous) bytes
};
ZelMemoria ZelLeMemoria();
// Gives back to the system the free memory the allocator still holds, as
// after loading a large file whose scratch buffers are gone.
void ZelDevolveMemoriaLivre();
// For a server whose calls build and drop buffers of up to some megabytes:
// the allocator keeps them for the next call instead of handing them back
// to the system and taking them again, a page fault a page, every call.
void ZelGuardaMemoriaEntreChamadas();
// Asks for large pages under a big buffer not yet touched: a company's
// records and indexes fault in a few pages instead of thousands.
void ZelPreferePaginasGrandes(void* p, size_t nBytes);
template <class V>
void ZelReservaGrande(V& v, size_t n) {
  if (n <= v.capacity()) return;
  v.reserve(n);
  ZelPreferePaginasGrandes(v.data(), v.capacity() * sizeof(typename V::value_type));
}

// The other processes whose starting environment holds the entry
// ("NAME=value"): what a process set for itself later is not seen.
std::vector<long> ZelProcessosComAmbiente(const std::string& sEntrada);

// "%d.%d.%d.%d" of the program and of the operating system kernel.
std::string ZelVersaoPrograma();
std::string ZelVersaoSO();
// The leading dot-separated numbers of a version text as "%d.%d.%d.%d",
// missing parts 0 ("6.1.0-rc2" gives "6.1.0.0").
std::string ZelVersaoQuatroNumeros(const char* szVersao);

// The system's message text of a Windows system error, as the suite's
// Portuguese systems word it; empty for an error without a text.
std::string ZelTextoErroSO(LONG lErro);
