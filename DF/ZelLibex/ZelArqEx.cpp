#include "ZelArqEx.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "ZelCrc.h"
#include "ZelLeituraLote.h"
#include "ZelMarcaBackupCR.h"
#include "ZelPath.h"
#include "ZelProfiler.h"
#include "ZelSistema.h"
#include "ZelTempo.h"

namespace {
constexpr const char* kArquivoControle = "ZELCTLARQ.dat";
constexpr HRESULT kLeituraAlemDoFim = HR(0x80043E95);

// One record of the control file: the name of a file once created in the
// directory, zero-padded.
struct ZEL_CTLARQ_REG {
  char szNome[32];
};
static_assert(sizeof(ZEL_CTLARQ_REG) == 32);

struct EntradaGeracao {
  uint64_t ullGeracao = 0;
  uint32_t ulAberturas = 0;
};
// What a thread keeps for the next call: a read of a thousand origins' values
// and their texts. Every connection may have a thread.
constexpr size_t kMaximoGuardado = size_t{1} << 20;
constexpr size_t kBuffersGuardados = 2;

// Buffers of reads ahead, kept by the thread from one call to the next:
// fresh memory pays a first touch per page, as a view does. A file object
// closed while its thread ends finds the pool gone and frees its buffer.
thread_local bool t_bBuffersEncerrados = false;
struct BuffersLivres {
  std::vector<std::vector<char>> a;
  ~BuffersLivres() { t_bBuffersEncerrados = true; }
};
BuffersLivres* Livres() {
  if (t_bBuffersEncerrados) return nullptr;
  thread_local BuffersLivres b;
  return &b;
}

std::vector<char> TomaBuffer() {
  BuffersLivres* p = Livres();
  if (p == nullptr || p->a.empty()) return {};
  std::vector<char> a = std::move(p->a.back());
  p->a.pop_back();
  return a;
}

// Takes the buffer: one the pool refuses is freed here.
void DevolveBuffer(std::vector<char> a) {
  if (a.capacity() == 0 || a.capacity() > kMaximoGuardado) return;
  BuffersLivres* p = Livres();
  if (p != nullptr && p->a.size() < kBuffersGuardados) p->a.push_back(std::move(a));
}

// Entries are never removed: a file reopened later keeps counting.
struct TabelaGeracoes {
  std::mutex trava;
  std::unordered_map<uint64_t, EntradaGeracao> entradas;
};
// Never destroyed: file objects may outlive static destructors.
TabelaGeracoes& Geracoes() {
  static auto* p = new TabelaGeracoes;
  return *p;
}

// Bytes of the latest cache fill by any object; -1 after any invalidation.
std::atomic<int32_t> g_lUltimoPreenchimento{-1};

// Recursive: creating a file reopens it, which may find it missing again.
std::recursive_mutex& TravaCriacao() {
  static auto* p = new std::recursive_mutex;
  return *p;
}

// Record-0 writes of every data file share one reading of the switches.
CZelChavesGravacao& Chaves() {
  static auto* p = new CZelChavesGravacao;
  return *p;
}

// Spellings of one name share a key, as they share the file.
uint64_t ChaveDoPath(const char* szPath) { return ZelCrc64(ZelMaiusculasNome(szPath)); }

UINT FlagsDoModo(char cModo) {
  switch (cModo) {
    case 'L': return CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary;
    case 'G': return CFile::modeReadWrite | CFile::shareDenyWrite | CFile::typeBinary;
    default: return CFile::modeReadWrite | CFile::shareDenyWrite | CFile::modeCreate | CFile::typeBinary;
  }
}

bool ModoValido(char cModo) { return cModo == 'L' || cModo == 'G' || cModo == 'C'; }

// A file exists when it opens, or when it fails to open for a reason other
// than its absence and is not a directory.
bool ExisteArquivoDados(const std::string& sPath) {
  CFile arq;
  CFileException erro;
  if (arq.Open(sPath, CFile::modeReadWrite | CFile::shareDenyNone, &erro)) return true;
  if (erro.m_cause == CFileException::fileNotFound || erro.m_cause == CFileException::badPath) return false;
  return !ZelExisteDiretorio(sPath);
}
}  // namespace

CZelArqEx::CZelArqEx() = default;

CZelArqEx::~CZelArqEx() { Fecha(); }

void CZelArqEx::ReleChavesGravacao() { Chaves().Rele(); }

// ---------------------------------------------------------------- generations

void CZelArqEx::RegistraAbertura() {
  if (m_szPath[0] == '\0') return;
  m_ullChavePath = ChaveDoPath(m_szPath);
  if (!m_bControlaGeracao) return;
  TabelaGeracoes& t = Geracoes();
  std::lock_guard<std::mutex> trava(t.trava);
  EntradaGeracao& e = t.entradas[m_ullChavePath];
  ++e.ulAberturas;
  if (e.ullGeracao == 0) e.ullGeracao = 1;
}

void CZelArqEx::RegistraFechamento() {
  if (m_ullChavePath == 0 || !m_bControlaGeracao) return;
  TabelaGeracoes& t = Geracoes();
  std::lock_guard<std::mutex> trava(t.trava);
  EntradaGeracao& e = t.entradas[m_ullChavePath];
  if (e.ulAberturas > 0) --e.ulAberturas;
}

void CZelArqEx::AvancaGeracao() {
  if (m_ullChavePath == 0 || !m_bControlaGeracao || !m_bAcessoCompartilhado) return;
  TabelaGeracoes& t = Geracoes();
  std::lock_guard<std::mutex> trava(t.trava);
  EntradaGeracao& e = t.entradas[m_ullChavePath];
  if (++e.ullGeracao == 0) e.ullGeracao = 1;
  m_ullGeracaoVista = e.ullGeracao;
}

bool CZelArqEx::ArquivoNaoAlterado() {
  if (m_ullChavePath == 0 || !m_bControlaGeracao) return true;
  TabelaGeracoes& t = Geracoes();
  std::lock_guard<std::mutex> trava(t.trava);
  const uint64_t ullAtual = t.entradas[m_ullChavePath].ullGeracao;
  const bool bIgual = m_ullGeracaoVista == ullAtual;
  m_ullGeracaoVista = ullAtual;
  return bIgual;
}

// ---------------------------------------------------------------- cache

bool CZelArqEx::CacheValido() {
  if (!m_pCache || g_lUltimoPreenchimento.load() == -1 || !ArquivoNaoAlterado()) return false;
  return !m_bAcessoCompartilhado || GetTickCount() - m_ulTickCache <= ZelTempoMs(ZelTempo::kValidadeCacheArqEx);
}

void CZelArqEx::EsvaziaCache() {
  AvancaGeracao();
  m_lQtdCache = -1;
  g_lUltimoPreenchimento.store(-1);
  if (m_pCache) std::memset(m_pCache.get(), 0, static_cast<size_t>(m_lTamanhoCache));
}

void CZelArqEx::DefineTamanhoCache(LONG lTamanho) {
  m_pCache = std::make_unique<char[]>(static_cast<size_t>(lTamanho));
  m_lTamanhoCache = lTamanho;
  EsvaziaCache();
}

void CZelArqEx::RegistraGravacao() { EsvaziaCache(); }

// ---------------------------------------------------------------- open and close

int CZelArqEx::Abre(const std::string& sPath, char cModo, LONG lTamanhoRegistro, int iCriaSeNaoExistir,
                    BOOL bAbreAgora) {
  const std::string sNovo = sPath.substr(0, kTamanhoMaximoPath - 1);
  const bool bOutroArquivo = m_pCache && !ZelNomesIguais(sNovo, m_szPath);
  if (bOutroArquivo) {
    // The handle, the open count and whatever this object cached belong to
    // the old file; leaving it is no write, so other readers keep theirs.
    Fecha();
    m_ullChavePath = 0;
    EsvaziaCache();
    m_ullGeracaoVista = 0;
    DefineTamanhoCache(kTamanhoCachePadrao);
  }
  std::memset(m_szPath, 0, sizeof m_szPath);
  std::memcpy(m_szPath, sNovo.data(), sNovo.size());
  m_cModo = cModo;
  m_lTamanhoRegistro = lTamanhoRegistro;
  m_iCriaSeNaoExistir = iCriaSeNaoExistir;
  if (bAbreAgora || bOutroArquivo || !m_pCache) return AbreArquivo();
  return ZELARQ_OK;
}

int CZelArqEx::AbreArquivo() {
  if (m_bAberto) return ZELARQ_OK;
  if (m_szPath[0] == '\0') return ZELARQ_SEM_NOME;
  if (!ModoValido(m_cModo)) return ZELARQ_MODO_INVALIDO;

  for (int iTentativa = 1; iTentativa <= kTentativas; ++iTentativa) {
    CFileException erro;
    if (Open(m_szPath, FlagsDoModo(m_cModo), &erro)) {
      if (!m_pCache) DefineTamanhoCache(kTamanhoCachePadrao);
      m_bAberto = true;
      RegistraAbertura();
      if (m_bUsaVista && m_cModo == 'L') m_pVista = CZelVistaArquivo::Obtem(m_hFile, &m_ullTamanhoVista);
      if (m_cModo != 'G') return ZELARQ_OK;
      ULONGLONG ullTamanho = 0;
      try {
        ullTamanho = GetLength();
      } catch (CFileException* e) {
        int iCodigo = CodigoFalha(e->m_cause);
        e->Delete();
        return iCodigo != 0 ? iCodigo : ZELARQ_TENTATIVAS_ESGOTADAS;
      }
      if (ullTamanho != 0 || m_lTamanhoRegistro <= 0) return ZELARQ_OK;
      std::vector<char> zeros(static_cast<size_t>(m_lTamanhoRegistro), 0);
      return GravaZero(zeros.data(), m_lTamanhoRegistro);
    }

    const bool bUltima = iTentativa == kTentativas;
    switch (erro.m_cause) {
      case CFileException::fileNotFound:
        return m_iCriaSeNaoExistir ? NovoArquivo(m_lTamanhoRegistro) : ZELARQ_NAO_ENCONTRADO;
      case CFileException::badPath: return ZELARQ_CAMINHO_INVALIDO;
      case CFileException::invalidFile: return ZELARQ_ARQUIVO_INVALIDO;
      case CFileException::directoryFull: return ZELARQ_DIRETORIO_CHEIO;
      case CFileException::tooManyOpenFiles:
        if (bUltima) return ZELARQ_ARQUIVOS_DEMAIS;
        break;
      case CFileException::accessDenied:
        if (bUltima) return ZelSomenteLeitura(m_szPath) ? ZELARQ_SOMENTE_LEITURA : ZELARQ_ACESSO_NEGADO;
        break;
      case CFileException::sharingViolation:
        if (bUltima) return ZELARQ_COMPARTILHAMENTO;
        break;
      case CFileException::lockViolation:
        if (bUltima) return ZELARQ_BLOQUEIO;
        break;
      case CFileException::diskFull:
        if (bUltima) return ZELARQ_DISCO_CHEIO;
        break;
      default:
        break;
    }
    if (!bUltima) Sleep(ZelTempoMs(ZelTempo::kIntervaloAberturaArqEx));
  }
  return ZELARQ_TENTATIVAS_ESGOTADAS;
}

int CZelArqEx::NovoArquivo(LONG lTamanhoRegistro) {
  std::lock_guard<std::recursive_mutex> trava(TravaCriacao());
  const std::string sPath = m_szPath;
  const std::string sDiretorio = CZelPath::GetDiretorio(sPath).substr(0, kTamanhoMaximoPath - 1);
  const std::string sNome = CZelPath::GetNome(sPath);
  if (sNome.empty()) return ZELARQ_SEM_NOME;
  // Another thread or process got here first; the next operation opens it.
  if (ExisteArquivoDados(sPath)) return ZELARQ_OK;

  // Held until the file exists: another process reading the list between
  // the new name and the new file would take the file for a lost one.
  CZelArqEx controle;
  if (m_iUsaControleArquivo) {
    const std::string sControle = sDiretorio + kArquivoControle;
    int iRetorno = controle.Abre(sControle, 'G', sizeof(ZEL_CTLARQ_REG), 0, TRUE);
    if (iRetorno == ZELARQ_COMPARTILHAMENTO) {
      Sleep(ZelTempoMs(ZelTempo::kEsperaControleArqEx));
      iRetorno = controle.Abre(sControle, 'G', sizeof(ZEL_CTLARQ_REG), 0, TRUE);
    }
    if (iRetorno == ZELARQ_NAO_ENCONTRADO) {
      const ZEL_CTLARQ_REG regZero{};
      iRetorno = controle.Abre(sControle, 'C', sizeof(ZEL_CTLARQ_REG), 0, TRUE);
      if (iRetorno == ZELARQ_OK) iRetorno = controle.GravaZero(&regZero, sizeof regZero);
      if (iRetorno == ZELARQ_OK) iRetorno = controle.Fecha();
      if (iRetorno == ZELARQ_OK) iRetorno = controle.Abre(sControle, 'G', sizeof(ZEL_CTLARQ_REG), 0, TRUE);
    }
    if (iRetorno != ZELARQ_OK) return iRetorno;
    if (ExisteArquivoDados(sPath)) return ZELARQ_OK;

    for (LONG lPosicao = 0;; ++lPosicao) {
      ZEL_CTLARQ_REG reg{};
      iRetorno = controle.Le(lPosicao, &reg);
      if (iRetorno == ZELARQ_FIM_DE_ARQUIVO) break;
      if (iRetorno != ZELARQ_OK) {
        controle.Fecha();
        return iRetorno;
      }
      if (ZelNomesIguais(std::string(reg.szNome, strnlen(reg.szNome, sizeof reg.szNome)), sNome)) {
        // Created once and lost since: an empty file would hide the loss.
        controle.Fecha();
        return ZELARQ_NAO_ENCONTRADO;
      }
    }
    ZEL_CTLARQ_REG reg{};
    std::memcpy(reg.szNome, sNome.data(), std::min(sNome.size(), sizeof reg.szNome - 1));
    LONG lPosicao = 0;
    iRetorno = controle.Grava(&reg, &lPosicao);
    if (iRetorno != ZELARQ_OK) return iRetorno;
  }

  // A separate object creates the file, so that a failure leaves this one's
  // mode and create flag as the caller set them.
  {
    CZelArqEx novo;
    int iRetorno = novo.Abre(sPath, 'C', lTamanhoRegistro, 0, TRUE);
    if (iRetorno == ZELARQ_OK && lTamanhoRegistro > 0) {
      std::vector<char> zeros(static_cast<size_t>(lTamanhoRegistro), 0);
      iRetorno = novo.GravaZero(zeros.data(), lTamanhoRegistro);
    }
    const int iFecha = novo.Fecha();
    if (iRetorno == ZELARQ_OK) iRetorno = iFecha;
    if (iRetorno != ZELARQ_OK) return iRetorno;
  }
  controle.Fecha();
  return AbreArquivo();
}

int CZelArqEx::Fecha() {
  if (!m_bAberto) return ZELARQ_OK;
  RegistraFechamento();
  m_bAberto = false;
  DescartaAdiantado();
  m_pVista.reset();
  try {
    Close();
  } catch (CFileException* e) {
    int iCodigo = CodigoFalha(e->m_cause);
    e->Delete();
    return iCodigo != 0 ? iCodigo : ZELARQ_TENTATIVAS_ESGOTADAS;
  }
  return ZELARQ_OK;
}

// ---------------------------------------------------------------- reading

int CZelArqEx::Le(LONG lPosicao, void* pBuffer, LONG lTamanho) {
  if (pBuffer == nullptr || lTamanho <= 0) return ZELARQ_TENTATIVAS_ESGOTADAS;
  const int64_t llOffset = static_cast<int64_t>(lPosicao) * lTamanho;
  if (CacheValido() && m_lQtdCache >= 0 && llOffset >= m_llOffsetCache &&
      llOffset + lTamanho <= m_llOffsetCache + m_lQtdCache) {
    std::memcpy(pBuffer, m_pCache.get() + (llOffset - m_llOffsetCache), static_cast<size_t>(lTamanho));
    return ZELARQ_OK;
  }

  int iRetorno = AbreArquivo();
  if (iRetorno != ZELARQ_OK) return iRetorno;
  // A position past 2^31 records arrives negative: a move before the start.
  if (llOffset < 0) return ZELARQ_POSICIONAMENTO;
  if (m_lTamanhoCache < lTamanho) DefineTamanhoCache(lTamanho);
  // The fill holds the file as of now: a write after this look makes it stale.
  ArquivoNaoAlterado();
  // One read at the offset: it stops at the end of the file, and nothing
  // read means the record lies past it.
  UINT nLidos = 0;
  const LONG lErro =
      LeEm(static_cast<ULONGLONG>(llOffset), m_pCache.get(), static_cast<UINT>(m_lTamanhoCache), &nLidos, true);
  if (lErro != ERROR_SUCCESS) {
    m_lQtdCache = -1;
    const int iCodigo = CodigoFalha(CFileException::ErroSOParaCausa(lErro));
    return iCodigo != 0 ? iCodigo : ZELARQ_TENTATIVAS_ESGOTADAS;
  }
  if (nLidos > 0) {
    m_llOffsetCache = llOffset;
    m_lQtdCache = static_cast<int32_t>(nLidos);
    g_lUltimoPreenchimento.store(m_lQtdCache);
    m_ulTickCache = GetTickCount();
    // A short last record (a file cut mid-record) reads as zero-padded.
    const size_t nCopia = std::min<size_t>(nLidos, static_cast<size_t>(lTamanho));
    std::memcpy(pBuffer, m_pCache.get(), nCopia);
    std::memset(static_cast<char*>(pBuffer) + nCopia, 0, static_cast<size_t>(lTamanho) - nCopia);
    return ZELARQ_OK;
  }
  if (m_bLogLeituraAposFim) {
    const int64_t llTamanhoArquivo = static_cast<int64_t>(GetTamanhoArquivo());
    if (llOffset > llTamanhoArquivo + lTamanho)
      ZelTracePosicao(nullptr, "CZelArqEx::Le", "ZelArqEx", __LINE__, kLeituraAlemDoFim, m_szPath, lPosicao, lTamanho,
                      llTamanhoArquivo, "GetLength");
  }
  return ZELARQ_FIM_DE_ARQUIVO;
}

int CZelArqEx::LeSequencial(LONG lTamanho, void* pBuffer) {
  if (lTamanho < 0 || (pBuffer == nullptr && lTamanho > 0)) return ZELARQ_TENTATIVAS_ESGOTADAS;
  int iRetorno = AbreArquivo();
  if (iRetorno != ZELARQ_OK) return iRetorno;
  try {
    const UINT nLidos = Read(pBuffer, static_cast<UINT>(lTamanho));
    return nLidos < static_cast<UINT>(lTamanho) ? ZELARQ_FIM_DE_ARQUIVO : ZELARQ_OK;
  } catch (CFileException* e) {
    int iCodigo = CodigoFalha(e->m_cause);
    e->Delete();
    return iCodigo != 0 ? iCodigo : ZELARQ_TENTATIVAS_ESGOTADAS;
  }
}

int CZelArqEx::LeTudo(LONG lTamanho, void* pBuffer, bool bPulaCabecalho) {
  int iRetorno = AbreArquivo();
  if (iRetorno != ZELARQ_OK) return iRetorno;
  try {
    Seek(bPulaCabecalho ? m_lTamanhoRegistro : 0, CFile::begin);
  } catch (CFileException* e) {
    int iCodigo = CodigoFalha(e->m_cause);
    e->Delete();
    return iCodigo != 0 ? iCodigo : ZELARQ_TENTATIVAS_ESGOTADAS;
  }
  return LeSequencial(lTamanho, pBuffer);
}

void CZelArqEx::AdiantaLeitura(std::vector<std::pair<int64_t, LONG>> aTrechos) {
  DescartaAdiantado();
  if (!m_bAberto || !m_pVista) return;
  // Pieces outside the view are left to the reads that ask for them, and
  // blocks asked for before come from the view, their memory fetched now:
  // neither is sorted or read.
  std::erase_if(aTrechos, [&](const std::pair<int64_t, LONG>& t) {
    if (t.first < 0 || t.second <= 0 ||
        static_cast<uint64_t>(t.first) + static_cast<uint64_t>(t.second) > m_ullTamanhoVista)
      return true;
    const uint64_t ullInicio = static_cast<uint64_t>(t.first), ullBytes = static_cast<uint64_t>(t.second);
    if (!m_pVista->Pedido(ullInicio, ullBytes)) return false;
    m_pVista->Antecipa(ullInicio, ullBytes);
    return true;
  });
  std::sort(aTrechos.begin(), aTrechos.end());
  // Pieces that meet or overlap are read as one.
  std::vector<ZelTrecho> aLer;
  uint64_t ullTotal = 0;
  for (const auto& [llOffset, lTamanho] : aTrechos) {
    const uint64_t ullInicio = static_cast<uint64_t>(llOffset);
    const uint64_t ullFim = ullInicio + static_cast<uint64_t>(lTamanho);
    const bool bJunta = !aLer.empty() && ullInicio <= aLer.back().llOffset + aLer.back().nBytes;
    const uint64_t ullDe = bJunta ? aLer.back().llOffset + aLer.back().nBytes : ullInicio;
    const uint64_t ullMais = ullFim > ullDe ? ullFim - ullDe : 0;
    if (ullTotal + ullMais > CZelArqEx::kMaximoAdiantado) break;
    ullTotal += ullMais;
    if (bJunta)
      aLer.back().nBytes += static_cast<uint32_t>(ullMais);
    else
      aLer.push_back(ZelTrecho{ullInicio, static_cast<uint32_t>(lTamanho), nullptr, false});
  }
  // Marked only now, so that pieces of one new block asked for together are
  // all read here.
  for (const ZelTrecho& t : aLer) m_pVista->MarcaPedido(t.llOffset, t.nBytes);
  if (aLer.empty()) return;
  m_aAdiantado = TomaBuffer();
  m_aAdiantado.resize(ullTotal);
  size_t nPosicao = 0;
  for (ZelTrecho& t : aLer) {
    t.pDestino = m_aAdiantado.data() + nPosicao;
    nPosicao += t.nBytes;
  }
  ZelLeTrechos(*this, aLer.data(), aLer.size());
  for (const ZelTrecho& t : aLer)
    if (t.bLido)
      m_aAdiantados.push_back(Adiantado{static_cast<int64_t>(t.llOffset), static_cast<LONG>(t.nBytes),
                                        static_cast<size_t>(t.pDestino - m_aAdiantado.data())});
}

void CZelArqEx::DescartaAdiantado() {
  m_aAdiantados.clear();
  DevolveBuffer(std::exchange(m_aAdiantado, {}));
}

bool CZelArqEx::LeDireto(int64_t llOffset, LONG lTamanho, void* pBuffer) {
  if (!m_bAberto || pBuffer == nullptr || lTamanho <= 0 || llOffset < 0) return false;
  if (!m_aAdiantados.empty()) {
    auto it = std::upper_bound(m_aAdiantados.begin(), m_aAdiantados.end(), llOffset,
                               [](int64_t ll, const Adiantado& a) { return ll < a.llOffset; });
    if (it != m_aAdiantados.begin() && llOffset + lTamanho <= (--it)->llOffset + it->lTamanho) {
      std::memcpy(pBuffer, m_aAdiantado.data() + it->nPosicao + (llOffset - it->llOffset), static_cast<size_t>(lTamanho));
      return true;
    }
  }
  if (m_pVista && static_cast<uint64_t>(llOffset) + static_cast<uint64_t>(lTamanho) <= m_ullTamanhoVista) {
    m_pVista->MarcaPedido(static_cast<uint64_t>(llOffset), static_cast<uint64_t>(lTamanho));
    std::memcpy(pBuffer, m_pVista->Dados() + llOffset, static_cast<size_t>(lTamanho));
    return true;
  }
  UINT nLidos = 0;
  return LeEm(static_cast<ULONGLONG>(llOffset), pBuffer, static_cast<UINT>(lTamanho), &nLidos) == ERROR_SUCCESS &&
         nLidos == static_cast<UINT>(lTamanho);
}

int CZelArqEx::Posiciona(char cOrigem, LONGLONG llOffset, ULONG* pulPosicao) {
  if (cOrigem != 'I' && cOrigem != 'F' && cOrigem != 'P') return ZELARQ_MODO_INVALIDO;
  int iRetorno = AbreArquivo();
  if (iRetorno != ZELARQ_OK) return iRetorno;
  ULONG ulPosicao = 0;
  try {
    if (cOrigem == 'I') {
      SeekToBegin();
    } else if (cOrigem == 'F') {
      ulPosicao = static_cast<ULONG>(SeekToEnd());
    } else {
      if (pulPosicao != nullptr) *pulPosicao = 0;
      if (llOffset >= static_cast<LONGLONG>(GetLength())) return ZELARQ_FIM_DE_ARQUIVO;
      Seek(llOffset, CFile::begin);
    }
  } catch (CFileException* e) {
    int iCodigo = CodigoFalha(e->m_cause);
    e->Delete();
    return iCodigo != 0 ? iCodigo : ZELARQ_TENTATIVAS_ESGOTADAS;
  }
  if (pulPosicao != nullptr) *pulPosicao = ulPosicao;
  return ZELARQ_OK;
}

ULONGLONG CZelArqEx::GetTamanhoArquivo() {
  if (AbreArquivo() != ZELARQ_OK) return 0;
  try {
    return GetLength();
  } catch (CFileException* e) {
    e->Delete();
    return 0;
  }
}

ULONGLONG CZelArqEx::GetQtdRegistros(bool bSemCabecalho) {
  if (m_lTamanhoRegistro <= 0) return 0;
  ULONGLONG ullQtd = GetTamanhoArquivo() / static_cast<ULONGLONG>(m_lTamanhoRegistro);
  if (bSemCabecalho && ullQtd >= 1) --ullQtd;
  return ullQtd;
}

void CZelArqEx::CarregaArquivoInteiro() {
  if (!m_bAberto || m_lTamanhoRegistro <= 0) return;
  const ULONGLONG ullBytes = GetQtdRegistros() * static_cast<ULONGLONG>(m_lTamanhoRegistro);
  if (ullBytes > 0 && ullBytes <= static_cast<ULONGLONG>(INT32_MAX))
    DefineTamanhoCache(static_cast<LONG>(ullBytes));
}

// ---------------------------------------------------------------- writing

int CZelArqEx::Grava(const void* pBuffer, ULONG* pulPosicao) {
  if (pulPosicao == nullptr) return ZELARQ_TENTATIVAS_ESGOTADAS;
  LONG lPosicao = static_cast<LONG>(*pulPosicao);
  int iRetorno = Grava(pBuffer, &lPosicao);
  if (iRetorno == ZELARQ_OK) *pulPosicao = static_cast<ULONG>(lPosicao);
  return iRetorno;
}

int CZelArqEx::Grava(const void* pBuffer, LONG* plPosicao, LONG lTamanhoDoRegistro) {
  if (pBuffer == nullptr || plPosicao == nullptr || lTamanhoDoRegistro <= 0) return ZELARQ_TENTATIVAS_ESGOTADAS;
  return GravaBloco(pBuffer, plPosicao, lTamanhoDoRegistro, lTamanhoDoRegistro);
}

int CZelArqEx::GravaRegistros(const void* pBuffer, LONG lQtd, LONG* plPosicao) {
  if (pBuffer == nullptr || plPosicao == nullptr || lQtd <= 0 || m_lTamanhoRegistro <= 0 ||
      lQtd > INT32_MAX / m_lTamanhoRegistro)
    return ZELARQ_TENTATIVAS_ESGOTADAS;
  return GravaBloco(pBuffer, plPosicao, m_lTamanhoRegistro, lQtd * m_lTamanhoRegistro);
}

int CZelArqEx::GravaBloco(const void* pBuffer, LONG* plPosicao, LONG lTamanhoDoRegistro, LONG lBytes) {
  int iRetorno = AbreArquivo();
  if (iRetorno != ZELARQ_OK) return iRetorno;

  const int64_t llOffsetPedido = static_cast<int64_t>(*plPosicao) * lTamanhoDoRegistro;
  HRESULT hr = ValidaPosicaoGravacao(*plPosicao, lTamanhoDoRegistro);
  if (FAILED(hr)) {
    ZelTraceHR(nullptr, "CZelArqEx::Grava", "ZelArqEx", __LINE__,
               "hr = ValidaPosicaoGravacao(*plPosicao, lTamanhoDoRegistro)", "hr", hr);
    return static_cast<int>(HRESULT_CODE(hr));
  }

  return TentaGravar([&] {
    int64_t llOffset = llOffsetPedido;
    if (llOffset != 0) {
      Seek(llOffset, CFile::begin);
    } else {
      llOffset = static_cast<int64_t>(SeekToEnd());
      // A partial record at the end is an append that never finished (a
      // crash, a full disk); the new record takes its place, so that it lies
      // where its position says.
      if (m_lTamanhoRegistro > 1 && llOffset % m_lTamanhoRegistro != 0) {
        llOffset -= llOffset % m_lTamanhoRegistro;
        Seek(llOffset, CFile::begin);
      }
    }
    try {
      Write(pBuffer, static_cast<UINT>(lBytes));
    } catch (CFileException*) {
      // An append that failed midway (a full disk) leaves no piece behind.
      if (llOffsetPedido == 0) {
        try {
          SetLength(static_cast<ULONGLONG>(llOffset));
        } catch (CFileException* e) {
          e->Delete();
        }
      }
      throw;
    }
    *plPosicao = m_lTamanhoRegistro > 0 ? static_cast<LONG>(llOffset / m_lTamanhoRegistro) : 0;
  });
}

int CZelArqEx::TentaGravar(const std::function<void()>& grava) {
  for (int iTentativa = 1; iTentativa <= kTentativas; ++iTentativa) {
    try {
      grava();
      RegistraGravacao();
      return ZELARQ_OK;
    } catch (CFileException* e) {
      int iCodigo = CodigoFalha(e->m_cause);
      e->Delete();
      if (iCodigo != 0 && (!FalhaPassageira(iCodigo) || iTentativa == kTentativas)) return iCodigo;
    }
  }
  return ZELARQ_TENTATIVAS_ESGOTADAS;
}

int CZelArqEx::GravaZero(const void* pBuffer, LONG lTamanho) {
  if (lTamanho < 0 || (pBuffer == nullptr && lTamanho > 0)) return ZELARQ_TENTATIVAS_ESGOTADAS;
  int iRetorno = AbreArquivo();
  if (iRetorno != ZELARQ_OK) return iRetorno;
  return TentaGravar([&] {
    SeekToBegin();
    Write(pBuffer, static_cast<UINT>(lTamanho));
    DepoisDeGravarZero();
  });
}

int CZelArqEx::GravaSequencial(LONG lTamanho, const void* pBuffer) {
  if (lTamanho < 0 || (pBuffer == nullptr && lTamanho > 0)) return ZELARQ_TENTATIVAS_ESGOTADAS;
  int iRetorno = AbreArquivo();
  if (iRetorno != ZELARQ_OK) return iRetorno;
  try {
    Write(pBuffer, static_cast<UINT>(lTamanho));
    RegistraGravacao();
    return ZELARQ_OK;
  } catch (CFileException* e) {
    int iCodigo = CodigoFalha(e->m_cause);
    e->Delete();
    return iCodigo != 0 ? iCodigo : ZELARQ_TENTATIVAS_ESGOTADAS;
  }
}

void CZelArqEx::DepoisDeGravarZero() {
  ZelDepoisDeGravar(Chaves(), *this, nullptr, "CZelArqEx::GravaZero", "ZelArqEx", __LINE__, m_szPath);
}
