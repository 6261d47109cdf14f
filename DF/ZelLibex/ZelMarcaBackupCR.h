// The suite's backup program learns which data files changed from empty
// marker files "<title>.crbkp" in "BackupCRZel", beside the logged-in
// company's DF directory. A marker that cannot be made is only logged.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "ZelArquivo.h"
#include "ZelInicializador.h"

// sPath names the changed file; sNomeLog is how the log line names it.
void ZelGravaMarcaBackupCR(const IZelDF_Profiler* pProfiler, const char* szFuncao, const char* szFonte, int nLinha,
                           const std::string& sPath, const std::string& sNomeLog);

// The two registry switches of file writes, "HabilitaArquivoCRBackup" and
// "HabilitaLastWriteRefresh" (on when 1), read again once ten minutes have
// passed since this holder last read them. Thread-safe.
class CZelChavesGravacao {
 public:
  void Le(bool* pbBackup, bool* pbRefresh);
  // The next Le reads the registry (tests change the switches).
  void Rele();

 private:
  std::mutex m_trava;
  bool m_bLidas = false;
  uint64_t m_ullLeitura = 0;
  bool m_bBackup = false;
  bool m_bRefresh = false;
};

// What a write leaves behind when the switches ask for it: the backup marker
// of sNome and a fresh last-write time of the open file. Failures are only
// logged, naming the file sNome.
void ZelDepoisDeGravar(CZelChavesGravacao& chaves, CFile& arquivo, const IZelDF_Profiler* pProfiler,
                       const char* szFuncao, const char* szFonte, int nLinha, const std::string& sNome);
