// The change-marking queue: serialises the writers of one data directory
// across threads and processes of the user's session. The marker of a
// directory and kind is a named mutex; its name carries the CRC-32 of the
// path bytes exactly as passed, so callers pass one stored spelling of a
// directory (another spelling is another marker).
//
// An object lives on the stack of one operation in one thread; the marker
// is given up on every way out of the operation.
#pragma once

#include <memory>
#include <string>

#include "ZelArqMarcaEnum.h"
#include "ZelInicializador.h"

class CZelMutexNomeado;

// Registry value (under the suite key) whose text, when it equals
// kEsperaLongaMarcaFila, doubles the wait.
constexpr const char* kChaveEsperaLongaMarcaFila = "MarcaFilaEsperaLonga";
constexpr const char* kEsperaLongaMarcaFila = "6F1D2B9A-3C47-4E85-A0B1-7D2E9C4F5A63";

class CZelArqMarcaFila : public IZelArqMarcaEnum, public IZelDF_Profiler {
 public:
  // pDono gives the identity of the traces; it may be null.
  explicit CZelArqMarcaFila(const IZelDF_Profiler* pDono = nullptr);
  ~CZelArqMarcaFila() override;
  CZelArqMarcaFila(const CZelArqMarcaFila&) = delete;
  CZelArqMarcaFila& operator=(const CZelArqMarcaFila&) = delete;

  // 0 when the marker is held; on a time-out the kind's code (with the
  // normal wait as 0x80040000 | code); HRESULT_FROM_WIN32 of the system error
  // when the mutex cannot be made or the wait fails or finds it abandoned.
  // Marking again from the holding thread nests; one Desmarca ends it all.
  int Marca(const std::string& sDiretorio, unsigned long ulProcesso, const std::string& sModulo = {});
  // Releases and closes the marker, if any. Always 0.
  int Desmarca();

  // "{1E80C536-B97F-4642-AC9D-E11BD3E07233} <crc32 of path> <kind>".
  static std::string NomeMutex(const std::string& sDiretorio, unsigned long ulProcesso);
  // Milliseconds Marca waits, before the process-wide time scale.
  unsigned long GetTimeOut() const { return m_ulTimeOut; }
  // Callers that serialise longer work (the engine's file lists) wait longer.
  void SetTimeOut(unsigned long ulMilissegundos) { m_ulTimeOut = ulMilissegundos; }

  std::string GetEmpresa() const override;
  unsigned short GetUsuario() const override;
  unsigned long GetNumeroSessao() const override;

 private:
  const IZelDF_Profiler* m_pDono;
  [[maybe_unused]] unsigned long m_ulIdMarcaProfiler = 0;  // kept for the layout; nothing reads it here
  std::unique_ptr<CZelMutexNomeado> m_pMutex;
  unsigned long m_ulTimeOut;
  // Times the holding thread has taken the mutex, all given up together.
  int m_nPosse = 0;
};
