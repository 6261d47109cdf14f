// Every time-out and period the system names, in one place. Values are the
// nominal milliseconds; ZelTempoMs applies the process-wide scale read once
// from ZEL_ESCALA_TEMPO (default 1), which only tests set.
#pragma once

#include <cstdint>

namespace ZelTempo {
// Yield step: registry refresh of "PrevineErroRPC".
constexpr uint32_t kRefrescoPrevineErroRPC = 300000;
// Registry switches of record-0 writes are read again after this period.
constexpr uint32_t kRefrescoChavesGravacao = 600000;
// Data-file open retries.
constexpr uint32_t kIntervaloAberturaArqEx = 10;
// Change-marking queue waits.
constexpr uint32_t kEsperaMarcaFila = 60000;
constexpr uint32_t kEsperaMarcaFilaLonga = 120000;
// Idle periods before a company database or the server closes.
constexpr uint32_t kFechamentoAdiadoBase = 50000;
constexpr uint32_t kOciosidadeServidor = 50000;
// Default re-read period of log.ini, in seconds.
constexpr uint32_t kTimeoutConfigLogSegundos = 600;
}  // namespace ZelTempo

// The scale factor (> 0).
double ZelEscalaTempo();
// A nominal period in milliseconds, scaled.
uint32_t ZelTempoMs(uint32_t msNominal);
