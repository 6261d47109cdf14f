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
// A data file's control file held by another process is tried once more after this.
constexpr uint32_t kEsperaControleArqEx = 50;
// A data file's read cache is trusted for at most this long.
constexpr uint32_t kValidadeCacheArqEx = 60000;
// Record-database open, write, delete and rename retries.
constexpr uint32_t kIntervaloRetentativaZelDataBase = 10;
// Change-marking queue waits.
constexpr uint32_t kEsperaMarcaFila = 60000;
constexpr uint32_t kEsperaMarcaFilaLonga = 120000;
// Idle periods before a company database or the server closes.
constexpr uint32_t kFechamentoAdiadoBase = 50000;
constexpr uint32_t kOciosidadeServidor = 50000;
// A client waits this long for a server it started (or that another client is
// starting) to offer its class object.
constexpr uint32_t kEsperaAtivacaoLocal = 120000;
// Local-server connections: a connected peer must send its activation within
// this; a client waits this long for the answer to its activation; a reply the
// peer does not take within this ends its connection; a server whose
// endpoint is still held by a server that is ending waits this long for it.
constexpr uint32_t kPrazoQuadroAtivacao = 10000;
constexpr uint32_t kEsperaRespostaAtivacao = 60000;
constexpr uint32_t kPrazoEnvioResposta = 10000;
constexpr uint32_t kEsperaEndpointServidor = 10000;
// A server thread that reads a call runs it; when the call lasts this long,
// another thread takes up reading its connection. Longer than a large read
// (a few ms): a hand-off wakes a thread whose buffers are cold, and with
// many clients busy that CPU is taken from their calls.
constexpr uint32_t kPassagemLeitura = 20;
// In microseconds: a local-server socket read asks again without sleeping
// for this long before it waits, and gives that up as soon as a yield lasts
// kCessaoOcupadaUs (another task wanted the CPU). The second is a measure,
// not a wait, and is never scaled.
constexpr uint32_t kEsperaAtivaLeituraUs = 100;
constexpr uint32_t kCessaoOcupadaUs = 10;
// A process opening a named mutex that another is initialising waits this
// long for it to be published.
constexpr uint32_t kEsperaIniciacaoMutexNomeado = 5000;
// The test server's rendezvous call waits this long for its partner call.
constexpr uint32_t kEsperaChamadaParceira = 120000;
// Default re-read period of log.ini, in seconds.
constexpr uint32_t kTimeoutConfigLogSegundos = 600;
}  // namespace ZelTempo

// The scale factor (> 0).
double ZelEscalaTempo();
// A nominal period in milliseconds, scaled.
uint32_t ZelTempoMs(uint32_t msNominal);
// The same for the few periods counted in microseconds.
inline uint32_t ZelTempoUs(uint32_t usNominal) { return ZelTempoMs(usNominal); }
