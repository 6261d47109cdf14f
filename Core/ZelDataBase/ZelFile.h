// The engine's table: a file of fixed records of one plain structure T, held
// entirely in memory, written through to disk on every change and searched
// by hash indexes whose keys a caller's function computes from a record.
// Reads never touch the disk. Thread-safe: readers share m_lockArquivo,
// writers hold it exclusively; pointers handed out are valid until the next
// write.
#pragma once

#include <cxxabi.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "ZelArqMarcaFila.h"
#include "ZelArquivo.h"
#include "ZelCrc.h"
#include "ZelDataBase.h"
#include "ZelDataBaseUtil.h"
#include "ZelException.h"
#include "ZelFileBase.h"
#include "ZelMarcaBackupCR.h"
#include "ZelPath.h"
#include "ZelProfiler.h"
#include "ZelRegistro.h"
#include "ZelSistema.h"
#include "ZelTempo.h"

// The record type's name as the log lines show it.
template <class T>
std::string ZelNomeEstrutura() {
  int status = 0;
  char* sz = abi::__cxa_demangle(typeid(T).name(), nullptr, nullptr, &status);
  std::string s = status == 0 && sz != nullptr ? sz : typeid(T).name();
  std::free(sz);
  return s;
}

// Ascending positions of one index key. Most keys of a unique index have one
// position, kept inline so that building an index allocates nothing per key.
// A longer list lives in a vector in which a removed position stays in its
// place, marked, so that neither removing it nor adding it back (an
// overwrite that keeps the key) shifts the list; an append of the largest
// position is O(1). The marks are swept once they outnumber the positions.
class CZelListaPosicoes {
 public:
  bool empty() const { return m_nPosicoes == 0; }
  size_t size() const { return m_nPosicoes; }
  ZelUInt front() const { return m_aLista.empty() ? m_uiUnica : m_aLista[m_iPrimeira]; }
  void push_back(ZelUInt uiPosicao) {
    if (m_aLista.empty()) {
      if (m_nPosicoes == 0) {
        m_uiUnica = uiPosicao;
        m_nPosicoes = 1;
        return;
      }
      m_aLista.push_back(m_uiUnica);
      m_iPrimeira = 0;
    }
    ++m_nPosicoes;
    if (uiPosicao > Valor(m_aLista.back())) {
      m_aLista.push_back(uiPosicao);
      return;
    }
    auto it = std::upper_bound(m_aLista.begin(), m_aLista.end(), uiPosicao,
                               [](ZelUInt ui, ZelUInt uiItem) { return ui < Valor(uiItem); });
    if (it != m_aLista.begin() && *(it - 1) == (uiPosicao | kRemovida)) {
      --it;
      *it = uiPosicao;
      --m_nRemovidas;
    } else {
      it = m_aLista.insert(it, uiPosicao);
    }
    m_iPrimeira = std::min(m_iPrimeira, static_cast<size_t>(it - m_aLista.begin()));
  }
  // Removes the position, if present.
  void Remove(ZelUInt uiPosicao) {
    if (m_aLista.empty()) {
      if (m_nPosicoes == 1 && m_uiUnica == uiPosicao) m_nPosicoes = 0;
      return;
    }
    auto it = std::lower_bound(m_aLista.begin(), m_aLista.end(), uiPosicao,
                               [](ZelUInt uiItem, ZelUInt ui) { return Valor(uiItem) < ui; });
    while (it != m_aLista.end() && *it != uiPosicao && Valor(*it) == uiPosicao) ++it;
    if (it == m_aLista.end() || *it != uiPosicao) return;
    *it |= kRemovida;
    --m_nPosicoes;
    ++m_nRemovidas;
    if (m_nRemovidas > m_nPosicoes + 8) {
      std::erase_if(m_aLista, [](ZelUInt ui) { return (ui & kRemovida) != 0; });
      m_nRemovidas = 0;
      m_iPrimeira = 0;
      return;
    }
    while (m_iPrimeira < m_aLista.size() && (m_aLista[m_iPrimeira] & kRemovida) != 0) ++m_iPrimeira;
  }
  std::vector<ZelUInt> Vetor() const {
    if (m_aLista.empty()) return m_nPosicoes == 0 ? std::vector<ZelUInt>() : std::vector<ZelUInt>{m_uiUnica};
    std::vector<ZelUInt> a;
    a.reserve(m_nPosicoes);
    for (size_t i = m_iPrimeira; i < m_aLista.size(); ++i)
      if ((m_aLista[i] & kRemovida) == 0) a.push_back(m_aLista[i]);
    return a;
  }

 private:
  // Positions are record numbers, far below this bit.
  static constexpr ZelUInt kRemovida = ZelUInt{1} << 63;
  static ZelUInt Valor(ZelUInt uiItem) { return uiItem & ~kRemovida; }

  ZelUInt m_uiUnica = 0;
  size_t m_nPosicoes = 0;
  std::vector<ZelUInt> m_aLista;
  size_t m_iPrimeira = 0;  // the first unmarked item of m_aLista
  size_t m_nRemovidas = 0;
};

// The positions of an index, by key: an open-addressing table of 16-byte
// slots (key, position) with linear probing, so a unique index costs about
// 20 bytes a record and building it allocates nothing per key. A key with
// more than one position keeps them in a CZelListaPosicoes of its own, which
// the slot names instead of a position. Positions are never 0, so a slot
// whose value is 0 is free; removal shifts the probe run back rather than
// leaving marks.
class CZelIndiceChaves {
 public:
  bool empty() const { return m_nChaves == 0; }
  // Room for n keys and a fifth more without growing: a table sized for
  // exactly n would be rebuilt whole at the first key after a load.
  void Reserva(size_t n) {
    const size_t nSlots = n + n / 2 + 16;
    if (nSlots > m_aSlots.size()) Redimensiona(nSlots);
  }
  // The smallest position of the key, 0 when it has none.
  ZelUInt Primeira(ZelUInt uiChave) const {
    const Slot* p = Acha(uiChave);
    if (p == nullptr) return 0;
    return (p->uiValor & kLista) != 0 ? m_aListas[p->uiValor & ~kLista].front() : p->uiValor;
  }
  // Brings the key's first slot toward the processor's cache.
  void Antecipa(ZelUInt uiChave) const {
    if (!m_aSlots.empty()) __builtin_prefetch(&m_aSlots[Inicio(uiChave, m_aSlots.size())]);
  }
  std::vector<ZelUInt> Posicoes(ZelUInt uiChave) const {
    const Slot* p = Acha(uiChave);
    if (p == nullptr) return {};
    if ((p->uiValor & kLista) != 0) return m_aListas[p->uiValor & ~kLista].Vetor();
    return {p->uiValor};
  }
  void Inclui(ZelUInt uiChave, ZelUInt uiPosicao) {
    if ((m_nChaves + 1) * 5 > m_aSlots.size() * 4) Redimensiona(std::max<size_t>(16, m_aSlots.size() * 2));
    size_t i = Inicio(uiChave, m_aSlots.size());
    while (m_aSlots[i].uiValor != 0 && m_aSlots[i].uiChave != uiChave) i = Proximo(i);
    Slot& s = m_aSlots[i];
    if (s.uiValor == 0) {
      s = Slot{uiChave, uiPosicao};
      ++m_nChaves;
      return;
    }
    if ((s.uiValor & kLista) == 0) {
      size_t iLista;
      if (m_aLivres.empty()) {
        iLista = m_aListas.size();
        m_aListas.emplace_back();
      } else {
        iLista = m_aLivres.back();
        m_aLivres.pop_back();
      }
      m_aListas[iLista].push_back(s.uiValor);
      s.uiValor = iLista | kLista;
    }
    m_aListas[s.uiValor & ~kLista].push_back(uiPosicao);
  }
  // Removes the position from the key, if there; a key left without
  // positions goes.
  void Remove(ZelUInt uiChave, ZelUInt uiPosicao) {
    const Slot* p = Acha(uiChave);
    if (p == nullptr) return;
    if ((p->uiValor & kLista) != 0) {
      const size_t iLista = p->uiValor & ~kLista;
      m_aListas[iLista].Remove(uiPosicao);
      if (!m_aListas[iLista].empty()) return;
      m_aListas[iLista] = CZelListaPosicoes();
      m_aLivres.push_back(iLista);
    } else if (p->uiValor != uiPosicao) {
      return;
    }
    Esvazia(static_cast<size_t>(p - m_aSlots.data()));
  }

 private:
  struct Slot {
    ZelUInt uiChave;
    ZelUInt uiValor;  // a position, or kLista and the index of a list
  };
  static constexpr ZelUInt kLista = ZelUInt{1} << 63;

  static size_t Inicio(ZelUInt uiChave, size_t nSlots) {
    ZelUInt x = uiChave + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<size_t>((static_cast<unsigned __int128>(x) * nSlots) >> 64);
  }
  size_t Proximo(size_t i) const { return i + 1 == m_aSlots.size() ? 0 : i + 1; }
  const Slot* Acha(ZelUInt uiChave) const {
    if (m_aSlots.empty()) return nullptr;
    for (size_t i = Inicio(uiChave, m_aSlots.size());; i = Proximo(i)) {
      if (m_aSlots[i].uiValor == 0) return nullptr;
      if (m_aSlots[i].uiChave == uiChave) return &m_aSlots[i];
    }
  }
  // Frees slot i and moves back the slots of its probe run that may take
  // its place, so that every key stays reachable from its start.
  void Esvazia(size_t i) {
    --m_nChaves;
    for (size_t j = Proximo(i);; j = Proximo(j)) {
      if (m_aSlots[j].uiValor == 0) break;
      const size_t h = Inicio(m_aSlots[j].uiChave, m_aSlots.size());
      const bool bPodeMover = j > i ? (h <= i || h > j) : (h <= i && h > j);
      if (!bPodeMover) continue;
      m_aSlots[i] = m_aSlots[j];
      i = j;
    }
    m_aSlots[i] = Slot{0, 0};
  }
  void Redimensiona(size_t nSlots) {
    std::vector<Slot> aVelhos;
    ZelReservaGrande(aVelhos, nSlots);
    aVelhos.assign(nSlots, Slot{0, 0});
    aVelhos.swap(m_aSlots);
    for (const Slot& s : aVelhos) {
      if (s.uiValor == 0) continue;
      size_t i = Inicio(s.uiChave, m_aSlots.size());
      while (m_aSlots[i].uiValor != 0) i = Proximo(i);
      m_aSlots[i] = s;
    }
  }

  std::vector<Slot> m_aSlots;
  size_t m_nChaves = 0;
  std::vector<CZelListaPosicoes> m_aListas;
  std::vector<size_t> m_aLivres;
};

template <class T>
class CZelFile : public CZelFileBase {
  static_assert(std::is_trivially_copyable_v<T>, "records are copied to and from the file as bytes");

 public:
  using PFN_GetChaveIndex = ZelUInt (*)(const T* pReg, ZelUInt uiColuna);

  CZelFile(const std::string& sNomeArquivo, CZelDataBase* pDataBase) : CZelFileBase(sNomeArquivo, pDataBase) {}
  ~CZelFile() override { Finaliza(); }

  ZelUInt GetQtdRegistros() override {
    std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
    return m_aRegistros.size();
  }
  const void* GetPtrArray() override {
    std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
    return m_aRegistros.empty() ? nullptr : m_aRegistros.data();
  }
  std::string GetNomeEstrutura() const override { return ZelNomeEstrutura<T>(); }
  const void* GetPtrRegistro(ZelUInt uiPosicao) override {
    std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
    if (m_aRegistros.empty()) return nullptr;
    if (uiPosicao == 0) return m_aRegistros.data();
    return uiPosicao <= m_aRegistros.size() ? &m_aRegistros[uiPosicao - 1] : nullptr;
  }
  HRESULT SetRegData(ZelUInt uiPosicao, const void* pData) override {
    CZelProfiler prof(this);
    Entrada(prof, "CZelFile::SetRegData", [&] { return ZelPares{{"uiPosicao", std::to_string(uiPosicao)}}; });
    T reg;
    std::memcpy(&reg, pData, sizeof(T));
    return Grava(uiPosicao, reg);
  }
  HRESULT SetArrayData(ZelUInt uiTamanho, const void* pData) override {
    CZelProfiler prof(this);
    Entrada(prof, "CZelFile::SetArrayData", [&] { return ZelPares{{"uiTamanho", std::to_string(uiTamanho)}}; });
    std::vector<T> aRegData(uiTamanho / sizeof(T));
    if (!aRegData.empty()) std::memcpy(aRegData.data(), pData, aRegData.size() * sizeof(T));
    return SetConteudo(aRegData, false);
  }

  virtual HRESULT Le(ZelUInt uiPosicao, T* pReg);
  HRESULT LeColecao(ZelUInt uiPosicao, ZelUInt uiQuantidade, std::vector<T>& aRegistros);
  HRESULT Grava(ZelUInt& uiPosicao, const T& reg);
  HRESULT GravaColecao(ZelUInt& uiPosicao, const std::vector<T>& aRegistros);
  HRESULT SetConteudo(const std::vector<T>& aNovoConteudo, bool bGerarLog = true);

  HRESULT IncluiIndex(PFN_GetChaveIndex pfnGetChaveIndex, ZelUInt uiColunaIndexacao, bool bPermiteChaveZerada = false,
                      bool bPermiteChaveRepetida = false);
  // The database class's static GetChaveIndex.
  template <class D>
  HRESULT IncluiIndex(D* /*pDataBase*/, ZelUInt uiColunaIndexacao, bool bPermiteChaveZerada = false,
                      bool bPermiteChaveRepetida = false) {
    return IncluiIndex(&D::GetChaveIndex, uiColunaIndexacao, bPermiteChaveZerada, bPermiteChaveRepetida);
  }
  // An index whose keys may repeat and be 0, built over the loaded records
  // apart from the file, so that another thread can build it while
  // IncluiIndex builds the one before it; IncluiIndexMontado then adds it as
  // column uiColunaIndexacao. The records may not change in between.
  CZelIndiceChaves MontaIndiceRepetido(PFN_GetChaveIndex pfnGetChaveIndex, ZelUInt uiColunaIndexacao) const;
  HRESULT IncluiIndexMontado(PFN_GetChaveIndex pfnGetChaveIndex, ZelUInt uiColunaIndexacao, CZelIndiceChaves mapa);
  // A missing key leaves *pPosicao / *pListaPosicao as they were.
  virtual HRESULT ExisteIndex(ZelUInt uiChave, ZelUInt* pPosicao, ZelUInt uiColunaIndexacao);
  virtual HRESULT ExisteIndex(ZelUInt uiChave, std::vector<ZelUInt>* pListaPosicao, ZelUInt uiColunaIndexacao);
  virtual HRESULT ExisteIndex(const std::string& sChave, ZelUInt* pPosicao, ZelUInt uiColunaIndexacao) {
    return ExisteIndex(ZelCrc64(sChave), pPosicao, uiColunaIndexacao);
  }
  virtual HRESULT ExisteIndex(const std::string& sChave, std::vector<ZelUInt>* pListaPosicao,
                              ZelUInt uiColunaIndexacao) {
    return ExisteIndex(ZelCrc64(sChave), pListaPosicao, uiColunaIndexacao);
  }

  // Hints for a caller about to look up many keys and read their records:
  // the memory of each step is fetched for all the keys at once rather than
  // one miss at a time. Nothing else changes; an unknown column is skipped.
  void AntecipaIndex(const std::vector<ZelUInt>& aChaves, ZelUInt uiColunaIndexacao) const {
    std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
    if (uiColunaIndexacao >= m_aIndices.size()) return;
    for (ZelUInt uiChave : aChaves) m_aIndices[uiColunaIndexacao].mapa.Antecipa(uiChave);
  }
  void AntecipaRegistros(const std::vector<ZelUInt>& aChaves, ZelUInt uiColunaIndexacao) const {
    std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
    if (uiColunaIndexacao >= m_aIndices.size()) return;
    for (ZelUInt uiChave : aChaves) {
      const ZelUInt uiPosicao = m_aIndices[uiColunaIndexacao].mapa.Primeira(uiChave);
      if (uiPosicao == 0 || uiPosicao > m_aRegistros.size()) continue;
      const T* p = &m_aRegistros[uiPosicao - 1];
      __builtin_prefetch(p);
      __builtin_prefetch(reinterpret_cast<const char*>(p) + sizeof(T) - 1);
    }
  }

  // The in-memory records, when the database allows direct access.
  std::vector<T>* GetPtrRegistros() {
    return m_pZelDataBase != nullptr && m_pZelDataBase->GetHabilitaAcessoPonteiros() ? &m_aRegistros : nullptr;
  }
  bool PrecisaGravar(ZelUInt uiPosicao, const std::vector<T>& aRegistros) const;

 protected:
  HRESULT OnInicializa() override;
  HRESULT OnFinaliza() override;

 private:
  struct Indice {
    CZelIndiceChaves mapa;
    PFN_GetChaveIndex pfnGetChaveIndex;
    bool bPermiteChaveZerada;
    bool bPermiteChaveRepetida;
  };
  struct ChavesLote {
    std::vector<ZelUInt> aChaves;
  };

  HRESULT GravaRegistros(ZelUInt& uiPosicao, const std::vector<T>& aRegistros);
  HRESULT ValidaIndex(ZelUInt uiPosicao, const std::vector<T>& aRegistros, size_t uiColuna, ChavesLote* pLote);
  template <class F>
  void AtualizaIndex(ZelUInt uiPosicao, size_t nLote, size_t uiColuna, F chave);
  template <class F>
  static void IncluiChaves(CZelIndiceChaves& mapa, bool bPermiteChaveZerada, bool bPermiteChaveRepetida,
                           ZelUInt uiPosicao, size_t nLote, F chave);
  HRESULT RemoveIndex(ZelUInt uiPosicao, ZelUInt uiQuantidade);
  // Shared part of the look-ups: achou gets the index and the key's first
  // position, when it has one.
  template <class F>
  HRESULT ProcuraChave(ZelUInt uiChave, ZelUInt uiColunaIndexacao, F achou);
  void Traca(const char* szFuncao, int nLinha, const char* szExpressao, HRESULT hr) const {
    ZelTraceHR(this, szFuncao, "ZelFile", nLinha, szExpressao, "hr", hr);
  }
  // The write switches are read per record type.
  static CZelChavesGravacao& ChavesGravacao() {
    static CZelChavesGravacao chaves;
    return chaves;
  }

  std::vector<T> m_aRegistros;
  std::vector<Indice> m_aIndices;
};

template <class T>
HRESULT CZelFile<T>::OnInicializa() {
  HRESULT hr = CZelFileBase::OnInicializa();
  if (FAILED(hr)) {
    Traca("CZelFile::OnInicializa", __LINE__, "hr = CZelFileBase::OnInicializa()", hr);
    return hr;
  }
  hr = AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacao);
  if (FAILED(hr)) {
    Traca("CZelFile::OnInicializa", __LINE__, "hr = AbreArquivo(eModoLeituraGravacao)", hr);
    return hr;
  }
  m_aRegistros.clear();
  if (!m_File.EstaAberto()) return S_OK;
  try {
    ULONGLONG nCabecalho = GetSeekCabecalho();
    ULONGLONG nTamanho = m_File.GetLength();
    ULONGLONG nDados = nTamanho > nCabecalho ? nTamanho - nCabecalho : 0;
    if (nDados % sizeof(T) != 0) {
      Traca("CZelFile::OnInicializa", __LINE__, "hr = E_ZELCR_ARQUIVO_NAO_EH_MOD_ESTRUTURA",
            E_ZELCR_ARQUIVO_NAO_EH_MOD_ESTRUTURA);
      return E_ZELCR_ARQUIVO_NAO_EH_MOD_ESTRUTURA;
    }
    // Room for the appends to come: pages past the end are not touched
    // until used, and growing a large file's copy costs a copy of it all.
    ZelReservaGrande(m_aRegistros, nDados / sizeof(T) + nDados / sizeof(T) / 8);
    m_aRegistros.resize(nDados / sizeof(T));
    auto* p = reinterpret_cast<BYTE*>(m_aRegistros.data());
    for (ULONGLONG nFeito = 0; nFeito < nDados;) {
      UINT nPedaco = static_cast<UINT>(std::min<ULONGLONG>(nDados - nFeito, 0xFFFFFFF0u));
      UINT nLidos = 0;
      LONG lErro = m_File.LeEm(nCabecalho + nFeito, p + nFeito, nPedaco, &nLidos);
      if (lErro == ERROR_SUCCESS && nLidos == 0) lErro = ERROR_HANDLE_EOF;
      if (lErro != ERROR_SUCCESS) AfxThrowFileException(CFileException::ErroSOParaCausa(lErro), lErro, m_sNomeArquivo);
      nFeito += nLidos;
    }
  } catch (CFileException* pEx) {
    m_aRegistros.clear();
    hr = CatchInicializacao(pEx);
    pEx->Delete();
    return hr;
  } catch (...) {
    m_aRegistros.clear();
    hr = ZelTranslateThrownExceptionToHresult();
    Traca("CZelFile::OnInicializa", __LINE__, "hr = ZelTranslateThrownExceptionToHresult()", hr);
    return hr;
  }
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::OnFinaliza() {
  std::vector<T>().swap(m_aRegistros);
  m_aIndices.clear();
  return CZelFileBase::OnFinaliza();
}

template <class T>
HRESULT CZelFile<T>::Le(ZelUInt uiPosicao, T* pReg) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelFile::Le", [&] { return ZelPares{{"uiPosicao", std::to_string(uiPosicao)}}; });
  std::memset(pReg, 0, sizeof(T));
  std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
  HRESULT hr = ConfereLeitura("CZelFile::Le", uiPosicao, 1, false, m_aRegistros.size(), sizeof(T));
  if (FAILED(hr)) return hr;
  *pReg = m_aRegistros[uiPosicao - 1];
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::LeColecao(ZelUInt uiPosicao, ZelUInt uiQuantidade, std::vector<T>& aRegistros) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelFile::LeColecao", [&] {
    return ZelPares{{"uiPosicao", std::to_string(uiPosicao)}, {"uiQuantidade", std::to_string(uiQuantidade)}};
  });
  aRegistros.clear();
  if (uiPosicao == 0 && uiQuantidade == 0) return S_OK;
  std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
  HRESULT hr = ConfereLeitura("CZelFile::LeColecao", uiPosicao, uiQuantidade, true, m_aRegistros.size(), sizeof(T));
  if (FAILED(hr)) return hr;
  aRegistros.assign(m_aRegistros.begin() + static_cast<ptrdiff_t>(uiPosicao - 1),
                    m_aRegistros.begin() + static_cast<ptrdiff_t>(uiPosicao - 1 + uiQuantidade));
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::Grava(ZelUInt& uiPosicao, const T& reg) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelFile::Grava", [&] { return ZelPares{{"uiPosicao", std::to_string(uiPosicao)}}; });
  std::vector<T> a(1, reg);
  HRESULT hr = GravaColecao(uiPosicao, a);
  if (FAILED(hr)) Traca("CZelFile::Grava", __LINE__, "hr = GravaColecao(uiPosicao, aRegistros)", hr);
  return hr;
}

template <class T>
bool CZelFile<T>::PrecisaGravar(ZelUInt uiPosicao, const std::vector<T>& aRegistros) const {
  if (uiPosicao == 0) return true;
  if (uiPosicao - 1 + aRegistros.size() > m_aRegistros.size()) return true;
  return std::memcmp(&m_aRegistros[uiPosicao - 1], aRegistros.data(), aRegistros.size() * sizeof(T)) != 0;
}

template <class T>
HRESULT CZelFile<T>::GravaColecao(ZelUInt& uiPosicao, const std::vector<T>& aRegistros) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelFile::GravaColecao", [&] {
    return ZelPares{{"uiPosicao", std::to_string(uiPosicao)}, {"uiQuantidade", std::to_string(aRegistros.size())}};
  });
  if (aRegistros.empty()) return S_OK;
  std::unique_lock<std::shared_mutex> trava(m_lockArquivo);
  CZelArqMarcaFila marca(this);
  HRESULT hr = PreparaGravacao("CZelFile::GravaColecao", marca, uiPosicao, m_aRegistros.size(), sizeof(T));
  if (FAILED(hr) || !PrecisaGravar(uiPosicao, aRegistros)) return hr;
  return GravaComRetentativas("CZelFile::GravaColecao", "hr = GravaRegistros(uiPosicao, aRegistros)",
                              [&] { return GravaRegistros(uiPosicao, aRegistros); });
}

template <class T>
HRESULT CZelFile<T>::GravaRegistros(ZelUInt& uiPosicao, const std::vector<T>& aRegistros) {
  std::vector<ChavesLote> aLotes(m_aIndices.size());
  for (size_t c = 0; c < m_aIndices.size(); ++c) {
    HRESULT hr = ValidaIndex(uiPosicao, aRegistros, c, &aLotes[c]);
    if (FAILED(hr)) {
      Traca("CZelFile::GravaRegistros", __LINE__, "hr = ValidaIndex(uiPosicao, aRegistros, uiColuna)", hr);
      return hr;
    }
  }
  ULONGLONG nCabecalho = 0;
  ZelUInt uiNovaPosicao = uiPosicao;
  try {
    nCabecalho = GetSeekCabecalho();
    ULONGLONG nOffset;
    if (uiPosicao > 0) {
      nOffset = nCabecalho + (uiPosicao - 1) * sizeof(T);
    } else {
      ULONGLONG nTamanho = m_File.GetLength();
      ULONGLONG nDados = nTamanho > nCabecalho ? nTamanho - nCabecalho : 0;
      uiNovaPosicao = nDados / sizeof(T) + 1;
      nOffset = nCabecalho + nDados;
    }
    const auto* p = reinterpret_cast<const BYTE*>(aRegistros.data());
    ULONGLONG nTotal = aRegistros.size() * sizeof(T);
    for (ULONGLONG nFeito = 0; nFeito < nTotal;) {
      UINT nPedaco = static_cast<UINT>(std::min<ULONGLONG>(nTotal - nFeito, 0xFFFFFFF0u));
      LONG lErro = m_File.GravaEm(nOffset + nFeito, p + nFeito, nPedaco);
      if (lErro != ERROR_SUCCESS) AfxThrowFileException(CFileException::ErroSOParaCausa(lErro), lErro, m_sNomeArquivo);
      nFeito += nPedaco;
    }
  } catch (CFileException* pEx) {
    HRESULT hr = CatchGravacao(pEx);
    pEx->Delete();
    return hr;
  } catch (...) {
    HRESULT hr = ZelTranslateThrownExceptionToHresult();
    Traca("CZelFile::GravaRegistros", __LINE__, "hr = ZelTranslateThrownExceptionToHresult()", hr);
    return hr;
  }

  ZelDepoisDeGravar(ChavesGravacao(), m_File, this, "CZelFile::GravaRegistros", "ZelFile", __LINE__, m_sNomeArquivo);

  if (uiPosicao > 0) {
    RemoveIndex(uiPosicao, aRegistros.size());
    if (uiPosicao - 1 + aRegistros.size() > m_aRegistros.size()) m_aRegistros.resize(uiPosicao - 1 + aRegistros.size());
    std::copy(aRegistros.begin(), aRegistros.end(), m_aRegistros.begin() + static_cast<ptrdiff_t>(uiPosicao - 1));
  } else {
    uiPosicao = uiNovaPosicao;
    // Grown here rather than by insert, so that a large file's new buffer
    // gets large pages too.
    if (m_aRegistros.size() + aRegistros.size() > m_aRegistros.capacity())
      ZelReservaGrande(m_aRegistros, 2 * (m_aRegistros.size() + aRegistros.size()));
    m_aRegistros.insert(m_aRegistros.end(), aRegistros.begin(), aRegistros.end());
  }
  for (size_t c = 0; c < m_aIndices.size(); ++c)
    AtualizaIndex(uiPosicao, aRegistros.size(), c, [&](size_t j) { return aLotes[c].aChaves[j]; });
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::ValidaIndex(ZelUInt uiPosicao, const std::vector<T>& aRegistros, size_t uiColuna,
                                 ChavesLote* pLote) {
  Indice& ind = m_aIndices[uiColuna];
  if (pLote != nullptr) pLote->aChaves.reserve(aRegistros.size());
  for (size_t j = 0; j < aRegistros.size(); ++j) {
    ZelUInt uiChave = ind.pfnGetChaveIndex(&aRegistros[j], uiColuna);
    if (pLote != nullptr) pLote->aChaves.push_back(uiChave);
    if (uiChave == 0) {
      if (!ind.bPermiteChaveZerada) {
        Traca("CZelFile::ValidaIndex", __LINE__, "hr = E_ZELCR_INDEXACAO_COM_POSICAO_ZERO",
              E_ZELCR_INDEXACAO_COM_POSICAO_ZERO);
        return E_ZELCR_INDEXACAO_COM_POSICAO_ZERO;
      }
      continue;
    }
    if (ind.bPermiteChaveRepetida) continue;
    const ZelUInt uiPrimeira = ind.mapa.Primeira(uiChave);
    if (uiPrimeira == 0) continue;
    if (uiPosicao > 0 && uiPrimeira == uiPosicao + j) continue;
    Traca("CZelFile::ValidaIndex", __LINE__, "hr = E_ZELCR_CHAVE_DE_INDEXACAO_REPETIDA",
          E_ZELCR_CHAVE_DE_INDEXACAO_REPETIDA);
    return E_ZELCR_CHAVE_DE_INDEXACAO_REPETIDA;
  }
  return S_OK;
}

template <class T>
template <class F>
void CZelFile<T>::AtualizaIndex(ZelUInt uiPosicao, size_t nLote, size_t uiColuna, F chave) {
  Indice& ind = m_aIndices[uiColuna];
  IncluiChaves(ind.mapa, ind.bPermiteChaveZerada, ind.bPermiteChaveRepetida, uiPosicao, nLote, chave);
}

template <class T>
template <class F>
void CZelFile<T>::IncluiChaves(CZelIndiceChaves& mapa, bool bPermiteChaveZerada, bool bPermiteChaveRepetida,
                               ZelUInt uiPosicao, size_t nLote, F chave) {
  // A unique index gets a key per record; one that repeats keys may get a
  // handful, and grows as they come.
  if (mapa.empty() && !bPermiteChaveRepetida) mapa.Reserva(nLote);
  for (size_t j = 0; j < nLote; ++j) {
    ZelUInt uiChave = chave(j);
    if (uiChave == 0 && !bPermiteChaveZerada) continue;
    mapa.Inclui(uiChave, uiPosicao + j);
  }
}

template <class T>
CZelIndiceChaves CZelFile<T>::MontaIndiceRepetido(PFN_GetChaveIndex pfnGetChaveIndex,
                                                  ZelUInt uiColunaIndexacao) const {
  CZelIndiceChaves mapa;
  IncluiChaves(mapa, true, true, 1, m_aRegistros.size(),
               [&](size_t j) { return pfnGetChaveIndex(&m_aRegistros[j], uiColunaIndexacao); });
  return mapa;
}

template <class T>
HRESULT CZelFile<T>::IncluiIndexMontado(PFN_GetChaveIndex pfnGetChaveIndex, ZelUInt uiColunaIndexacao,
                                        CZelIndiceChaves mapa) {
  std::unique_lock<std::shared_mutex> trava(m_lockArquivo);
  if (uiColunaIndexacao != m_aIndices.size()) {
    Traca("CZelFile::IncluiIndexMontado", __LINE__, "hr = E_ZELCR_COLUNA_INDEXACAO_INVALIDA",
          E_ZELCR_COLUNA_INDEXACAO_INVALIDA);
    return E_ZELCR_COLUNA_INDEXACAO_INVALIDA;
  }
  m_aIndices.push_back(Indice{std::move(mapa), pfnGetChaveIndex, true, true});
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::RemoveIndex(ZelUInt uiPosicao, ZelUInt uiQuantidade) {
  if (uiQuantidade == 0 || uiPosicao == 0 || uiPosicao > m_aRegistros.size()) return S_OK;
  uiQuantidade = std::min<ZelUInt>(uiQuantidade, m_aRegistros.size() - uiPosicao + 1);
  for (size_t c = 0; c < m_aIndices.size(); ++c) {
    Indice& ind = m_aIndices[c];
    for (ZelUInt p = uiPosicao; p < uiPosicao + uiQuantidade; ++p) {
      ind.mapa.Remove(ind.pfnGetChaveIndex(&m_aRegistros[p - 1], c), p);
    }
  }
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::IncluiIndex(PFN_GetChaveIndex pfnGetChaveIndex, ZelUInt uiColunaIndexacao,
                                 bool bPermiteChaveZerada, bool bPermiteChaveRepetida) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelFile::IncluiIndex", [&] {
    return ZelPares{{"uiColunaIndexacao", std::to_string(uiColunaIndexacao)},
                    {"bPermiteChaveZerada", bPermiteChaveZerada ? "1" : "0"},
                    {"bPermiteChaveRepetida", bPermiteChaveRepetida ? "1" : "0"}};
  });
  // Exclusive rather than shared: the descriptor array itself changes.
  std::unique_lock<std::shared_mutex> trava(m_lockArquivo);
  if (uiColunaIndexacao < m_aIndices.size()) {
    Traca("CZelFile::IncluiIndex", __LINE__, "hr = E_ZELCR_COLUNA_INDEXACAO_INVALIDA", E_ZELCR_COLUNA_INDEXACAO_INVALIDA);
    return E_ZELCR_COLUNA_INDEXACAO_INVALIDA;
  }
  // The descriptor stays even when the records already loaded break its
  // rules: it then holds no key, and later writes are checked against it.
  m_aIndices.push_back(Indice{{}, pfnGetChaveIndex, bPermiteChaveZerada, bPermiteChaveRepetida});
  if (m_aRegistros.empty()) return S_OK;
  size_t c = m_aIndices.size() - 1;
  // The keys are worked out again rather than kept: for a large file the
  // kept copy would cost more than the second look.
  HRESULT hr = ValidaIndex(ZELDATABASE_POSICAO_NOVO_REGISTRO, m_aRegistros, c, nullptr);
  if (FAILED(hr)) {
    Traca("CZelFile::IncluiIndex", __LINE__,
          "hr = AtualizaIndex(ZELDATABASE_POSICAO_NOVO_REGISTRO, m_aRegistros, uiColunaIndexacao)", hr);
    return hr;
  }
  AtualizaIndex(1, m_aRegistros.size(), c,
                [&](size_t j) { return pfnGetChaveIndex(&m_aRegistros[j], static_cast<ZelUInt>(c)); });
  return S_OK;
}

template <class T>
template <class F>
HRESULT CZelFile<T>::ProcuraChave(ZelUInt uiChave, ZelUInt uiColunaIndexacao, F achou) {
  std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
  if (uiColunaIndexacao >= m_aIndices.size()) {
    Traca("CZelFile::ExisteIndex", __LINE__, "hr = E_ZELCR_COLUNA_INDEXACAO_INVALIDA",
          E_ZELCR_COLUNA_INDEXACAO_INVALIDA);
    return E_ZELCR_COLUNA_INDEXACAO_INVALIDA;
  }
  const CZelIndiceChaves& mapa = m_aIndices[uiColunaIndexacao].mapa;
  const ZelUInt uiPrimeira = mapa.Primeira(uiChave);
  if (uiPrimeira != 0) achou(mapa, uiPrimeira);
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::ExisteIndex(ZelUInt uiChave, ZelUInt* pPosicao, ZelUInt uiColunaIndexacao) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelFile::ExisteIndex", [&] {
    return ZelPares{{"uiChave", std::to_string(uiChave)}, {"uiColunaIndexacao", std::to_string(uiColunaIndexacao)}};
  });
  return ProcuraChave(uiChave, uiColunaIndexacao, [pPosicao](const CZelIndiceChaves&, ZelUInt uiPrimeira) {
    if (pPosicao != nullptr) *pPosicao = uiPrimeira;
  });
}

template <class T>
HRESULT CZelFile<T>::ExisteIndex(ZelUInt uiChave, std::vector<ZelUInt>* pListaPosicao, ZelUInt uiColunaIndexacao) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelFile::ExisteIndex", [&] {
    return ZelPares{{"uiChave", std::to_string(uiChave)}, {"uiColunaIndexacao", std::to_string(uiColunaIndexacao)}};
  });
  return ProcuraChave(uiChave, uiColunaIndexacao,
                      [uiChave, pListaPosicao](const CZelIndiceChaves& mapa, ZelUInt /*uiPrimeira*/) {
                        if (pListaPosicao != nullptr) *pListaPosicao = mapa.Posicoes(uiChave);
                      });
}

template <class T>
HRESULT CZelFile<T>::SetConteudo(const std::vector<T>& aNovoConteudo, bool bGerarLog) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelFile::SetConteudo", [&] {
    return ZelPares{{"uiQuantidade", std::to_string(aNovoConteudo.size())}, {"bGerarLog", bGerarLog ? "1" : "0"}};
  });
  std::unique_lock<std::shared_mutex> trava(m_lockArquivo);
  CZelArqMarcaFila marca(this);
  HRESULT hr = PreparaGravacao("CZelFile::SetConteudo", marca, 0, m_aRegistros.size(), sizeof(T));
  if (FAILED(hr)) return hr;
  if (aNovoConteudo.size() == m_aRegistros.size() &&
      (m_aRegistros.empty() ||
       std::memcmp(aNovoConteudo.data(), m_aRegistros.data(), m_aRegistros.size() * sizeof(T)) == 0))
    return S_OK;
  hr = RecriaComConteudo("CZelFile::SetConteudo", bGerarLog, [&] {
    ZelUInt uiPosicao = ZELDATABASE_POSICAO_NOVO_REGISTRO;
    return aNovoConteudo.empty() ? S_OK : GravaRegistros(uiPosicao, aNovoConteudo);
  });
  if (FAILED(hr)) Traca("CZelFile::SetConteudo", __LINE__, "hr = GravaRegistros(uiPosicao, aNovoConteudo)", hr);
  return hr;
}
