// The suite's backup program learns which data files changed from empty
// marker files "<title>.crbkp" in "BackupCRZel", beside the logged-in
// company's DF directory. A marker that cannot be made is only logged.
#pragma once

#include <string>

#include "ZelInicializador.h"

// sPath names the changed file; sNomeLog is how the log line names it.
void ZelGravaMarcaBackupCR(const IZelDF_Profiler* pProfiler, const char* szFuncao, const char* szFonte, int nLinha,
                           const std::string& sPath, const std::string& sNomeLog);
