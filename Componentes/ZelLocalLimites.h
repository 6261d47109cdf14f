// Limits that keep one peer of the local-server runtime from exhausting the
// server for every other client. Deadlines are time constants (ZelTempo.h).
#pragma once

#include <cstddef>
#include <cstdint>

// Largest frame payload either side sends or accepts.
constexpr uint32_t kZelLocalMaxQuadro = 64u << 20;
// Frames are read in pieces of at most this, so that a peer that announces a
// large frame and sends little costs no more than what it sent.
constexpr size_t kZelLocalPedacoLeitura = 64u << 10;
// A read of a socket asks for up to this, so that a small frame and its
// header come in one read; what lies beyond the frame waits for the next.
constexpr size_t kZelLocalLeituraAntecipada = 4096;
// The largest answer buffer a client channel keeps for the next answer.
constexpr size_t kZelLocalMaxRespostaGuardada = 8u << 20;
// The largest reply buffer a server thread keeps for its next reply; every
// thread of the pool may keep one.
constexpr size_t kZelLocalMaxRespostaGuardadaServidor = 1u << 20;
// The activation record (CLSID, IID): the largest frame a peer may send before
// it is activated.
constexpr uint32_t kZelLocalTamanhoAtivacao = 32;
// Connections served at once; one beyond is closed at once.
constexpr int kZelLocalMaxConexoes = 256;
// Calls of one connection running or queued at once; beyond it the server
// stops reading that connection until one ends.
constexpr int kZelLocalMaxChamadasPorConexao = 16;
// Bytes of [out] arrays one call may ask the server to allocate.
constexpr uint64_t kZelLocalMaxSaidaChamada = 8u << 20;
// Send buffer asked for a server's connection (the kernel doubles it): an
// answer of a thousand origins then goes in one write, without waking its
// reader for each piece. A cap on the kernel's memory per peer, not an
// allocation.
constexpr int kZelLocalBufferEnvio = 512 << 10;
