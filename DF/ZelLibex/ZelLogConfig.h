// The call-log switches of log.ini (section "Log") in the suite's module
// directory, read again when "TimeoutConfig" seconds have passed. The values
// are process-wide and read without a lock: a reading that races with a call
// only changes which lines that call writes.
#pragma once

#include <memory>
#include <string>

#include "ZelTempo.h"

// The re-read period when log.ini names none, in seconds.
constexpr int kZelTimeoutConfigPadrao = static_cast<int>(ZelTempo::kTimeoutConfigLogSegundos);

struct ZelLogConfig {
  int nEntrada = 0;
  int nSaida = 0;
  int nCoCreateInstance = 0;
  int nPerformance = 0;
  int nMemory = 0;
  int nTimeoutConfig = kZelTimeoutConfigPadrao;
  std::string sProcessos = "todos";  // lower-cased
  std::string sZelDataBase = "0";

  bool LogChamadas() const;
  bool ProgramaSelecionado(const std::string& sProcesso) const;
  bool FuncaoSelecionada(const std::string& sClasseFuncao) const;
};

// The current switches, reading the file first when due. A reading replaces
// the whole set, so a caller keeps a consistent one for its call.
std::shared_ptr<const ZelLogConfig> ZelLeLogConfig();
// Whether the current switches turn call logging on, reading the file first
// when due: the lock-free look every profiler scope starts with.
bool ZelLogChamadasLigadas();
// Forgets the last reading, so the next call reads the file (for tests and
// for callers that just changed it).
void ZelInvalidaLogConfig();
// Parses the text of a log.ini.
ZelLogConfig ZelInterpretaLogIni(const std::string& sTexto);
