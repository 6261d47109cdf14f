// The wire of the local-server runtime: framed messages over a Unix-domain
// stream socket, the buffers that build and read their payloads, the socket
// directory and the peer's credentials.
//
// A frame is a 16-byte header (magic, version, kind, call id, payload length,
// little-endian as the machine is) followed by the payload. A header with a
// wrong magic or version, or announcing more than the receiver accepts, is
// refused before anything is allocated; a payload is read in pieces, so memory
// follows what arrived, not what was announced. CZelLocalSocket is not
// thread-safe for concurrent senders; its owners serialise sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ZelCom.h"
#include "ZelLocalLimites.h"
#include "ZelTempo.h"

constexpr uint32_t kZelLocalMagico = 0x314C435Au;  // "ZCL1"
constexpr uint16_t kZelLocalVersao = 1;
constexpr size_t kZelLocalTamanhoCabecalho = 16;

enum class ZelLocalTipoQuadro : uint16_t {
  Ativa = 1,          // client: CLSID, IID
  RespostaAtiva = 2,  // server: HRESULT
  Chamada = 3,        // client: slot, [in] parameters
  Resposta = 4,       // server: HRESULT, [out] parameters
  Consulta = 5,       // client: IID (QueryInterface of an object created as IUnknown)
  RespostaConsulta = 6,  // server: HRESULT
};

struct ZelLocalQuadro {
  uint16_t usTipo = 0;
  uint32_t ulId = 0;
  std::vector<uint8_t> dados;
};

// Builds a payload. The vector runs ahead of what was written, so that an
// append is a copy and rarely a growth; Dados() trims it.
class CZelLocalEscritor {
 public:
  CZelLocalEscritor() = default;
  // Writes into a buffer kept from an earlier payload, keeping its capacity.
  explicit CZelLocalEscritor(std::vector<uint8_t> buffer) : m_dados(std::move(buffer)) {}
  void Bytes(const void* p, size_t n) { Acrescenta(p, n); }
  void U8(uint8_t v) { Bytes(&v, 1); }
  void U16(uint16_t v) { Bytes(&v, 2); }
  void U32(uint32_t v) { Bytes(&v, 4); }
  void Guid(const GUID& g) { Bytes(&g, sizeof g); }
  // Appends n bytes and gives where the copy lies, for the caller to adjust.
  uint8_t* Acrescenta(const void* p, size_t n) {
    if (n == 0) return nullptr;
    if (n > m_dados.size() - m_n) Cresce(n);
    uint8_t* d = m_dados.data() + m_n;
    std::memcpy(d, p, n);
    m_n += n;
    return d;
  }
  size_t Tamanho() const { return m_n; }
  std::vector<uint8_t>& Dados() {
    m_dados.resize(m_n);
    return m_dados;
  }

 private:
  void Cresce(size_t n);
  std::vector<uint8_t> m_dados;
  size_t m_n = 0;
};

// Reads a payload; every read past the end fails and leaves the reader failed.
class CZelLocalLeitor {
 public:
  CZelLocalLeitor(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}
  explicit CZelLocalLeitor(const std::vector<uint8_t>& v) : m_p(v.data()), m_n(v.size()) {}
  bool Bytes(void* p, size_t n) {
    if (m_bFalhou || n > m_n - m_pos) {
      m_bFalhou = true;
      return false;
    }
    if (n != 0) std::memcpy(p, m_p + m_pos, n);
    m_pos += n;
    return true;
  }
  bool U8(uint8_t* v) { return Bytes(v, 1); }
  bool U16(uint16_t* v) { return Bytes(v, 2); }
  bool U32(uint32_t* v) { return Bytes(v, 4); }
  bool Guid(GUID* g) { return Bytes(g, sizeof *g); }
  size_t Restante() const { return m_bFalhou ? 0 : m_n - m_pos; }
  bool Falhou() const { return m_bFalhou; }
  bool Fim() const { return !m_bFalhou && m_pos == m_n; }

 private:
  const uint8_t* m_p;
  size_t m_n;
  size_t m_pos = 0;
  bool m_bFalhou = false;
};

// Owns one socket descriptor (always close-on-exec, so that servers started
// by a client never inherit a client's connection or lock).
class CZelLocalSocket {
 public:
  CZelLocalSocket() = default;
  explicit CZelLocalSocket(int fd) : m_fd(fd) {}
  ~CZelLocalSocket() { Fecha(); }
  CZelLocalSocket(CZelLocalSocket&& o) noexcept { *this = std::move(o); }
  CZelLocalSocket& operator=(CZelLocalSocket&& o) noexcept;
  CZelLocalSocket(const CZelLocalSocket&) = delete;
  CZelLocalSocket& operator=(const CZelLocalSocket&) = delete;

  bool Valido() const { return m_fd >= 0; }
  int Fd() const { return m_fd; }
  void Fecha();
  // Wakes a thread blocked reading or accepting on this socket.
  void Interrompe();

  // RPC_E_DISCONNECTED when the peer is gone.
  HRESULT EnviaQuadro(ZelLocalTipoQuadro eTipo, uint32_t ulId, const void* p, size_t n);
  HRESULT EnviaQuadro(ZelLocalTipoQuadro eTipo, uint32_t ulId, const std::vector<uint8_t>& v) {
    return EnviaQuadro(eTipo, ulId, v.data(), v.size());
  }
  // Raw bytes (tests feed garbage with it).
  HRESULT EnviaBytes(const void* p, size_t n);
  // S_OK; S_FALSE when the peer closed between frames; RPC_E_DISCONNECTED on
  // a lost or truncated frame; RPC_X_BAD_STUB_DATA on a header that is not
  // ours or announces more than ulMax bytes; HRESULT_FROM_WIN32(ERROR_TIMEOUT)
  // when a read deadline passed. After a failure the connection is unusable.
  HRESULT RecebeQuadro(ZelLocalQuadro* pQuadro, uint32_t ulMax = kZelLocalMaxQuadro);
  // Deadlines of single reads and sends, in real milliseconds (0: none). A
  // send that cannot progress within its deadline fails as a lost peer.
  bool DefinePrazos(uint32_t msLeitura, uint32_t msEnvio);
  bool DefinePrazoLeitura(uint32_t msLeitura);

  // Identity of the process at the other end, from the kernel.
  bool CredenciaisPar(uint32_t* pUid, int32_t* pPid) const;
  // How long a read asks again without sleeping before it waits, in
  // microseconds (0: it waits at once).
  void DefineEsperaAtiva(uint32_t us) { m_usEsperaAtiva = us; }

 private:
  // n bytes, first from what an earlier read brought beyond its frame; a
  // short rest is read with room for more, so that a small frame comes in
  // one read. 1, 0 (orderly end before the first byte), -1 or -2 (deadline).
  int Le(void* p, size_t n);
  size_t TiraAntecipados(uint8_t* p, size_t n);

  int m_fd = -1;
  std::unique_ptr<uint8_t[]> m_pAntecipados;
  size_t m_iAntecipados = 0;
  size_t m_nAntecipados = 0;
  uint32_t m_usEsperaAtiva = ZelTempoUs(ZelTempo::kEsperaAtivaLeituraUs);
};

// Reads tried without sleeping so far in the process (tests).
uint64_t ZelLocalTentativasEsperaAtiva();

// Two connected sockets (in-process transport and tests).
HRESULT ZelLocalParSockets(CZelLocalSocket* pA, CZelLocalSocket* pB);

// The directory of the endpoints, ending in '/': "$XDG_RUNTIME_DIR/zelcom/",
// else "/tmp/zelcom-<uid>/".
std::string ZelLocalDiretorioSockets();
// Creates the directory when missing (mode 0700, or 0711 when it must be
// open to other users); bAjustaModo also sets the mode of an existing one
// (servers do, clients leave it). E_ACCESSDENIED when it exists and belongs
// to another user or is not a directory.
HRESULT ZelLocalPreparaDiretorio(const std::string& sDiretorio, bool bAbertoAOutros, bool bAjustaModo);
// The endpoint of a class: the directory plus "{CLSID}.sock".
std::string ZelLocalCaminhoSocket(REFCLSID clsid);

// Connects to an endpoint. S_FALSE when nobody listens there (missing or
// stale socket file), E_ACCESSDENIED when the file system refuses.
HRESULT ZelLocalConecta(const std::string& sCaminho, CZelLocalSocket* pSocket);
// Binds and listens, replacing any file left at the path (the caller holds
// the lock that makes it the only server of the endpoint). Mode 0600, or 0666
// when open to other users.
HRESULT ZelLocalEscuta(const std::string& sCaminho, bool bAbertoAOutros, CZelLocalSocket* pOuvinte);
// Blocks for the next connection; E_ABORT once the listener was interrupted.
HRESULT ZelLocalAceita(CZelLocalSocket& ouvinte, CZelLocalSocket* pNovo);
// Removes the endpoint file; callers hold the server lock of the endpoint,
// so the file is still the one they bound.
void ZelLocalRemoveEndpoint(const std::string& sCaminho);
