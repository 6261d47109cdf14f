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
#include <typeinfo>
#include <unordered_map>
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
class CZelListaPosicoes {
 public:
  bool empty() const { return m_n == 0; }
  size_t size() const { return m_n; }
  ZelUInt front() const { return m_uiPrimeira; }
  void push_back(ZelUInt uiPosicao) {
    if (m_n++ == 0)
      m_uiPrimeira = uiPosicao;
    else
      m_aOutras.push_back(uiPosicao);
  }
  void Ordena() {
    if (m_n < 2) return;
    std::sort(m_aOutras.begin(), m_aOutras.end());
    if (m_aOutras.front() < m_uiPrimeira) {
      std::swap(m_aOutras.front(), m_uiPrimeira);
      // The old first was the smallest of the rest before: move it into place.
      for (size_t i = 1; i < m_aOutras.size() && m_aOutras[i] < m_aOutras[i - 1]; ++i)
        std::swap(m_aOutras[i], m_aOutras[i - 1]);
    }
  }
  // Removes the first occurrence of the position, if any.
  void Remove(ZelUInt uiPosicao) {
    if (m_n == 0) return;
    if (m_uiPrimeira == uiPosicao) {
      if (!m_aOutras.empty()) {
        m_uiPrimeira = m_aOutras.front();
        m_aOutras.erase(m_aOutras.begin());
      }
      --m_n;
      return;
    }
    auto it = std::find(m_aOutras.begin(), m_aOutras.end(), uiPosicao);
    if (it != m_aOutras.end()) {
      m_aOutras.erase(it);
      --m_n;
    }
  }
  std::vector<ZelUInt> Vetor() const {
    std::vector<ZelUInt> a;
    if (m_n == 0) return a;
    a.reserve(m_n);
    a.push_back(m_uiPrimeira);
    a.insert(a.end(), m_aOutras.begin(), m_aOutras.end());
    return a;
  }

 private:
  ZelUInt m_uiPrimeira = 0;
  size_t m_n = 0;
  std::vector<ZelUInt> m_aOutras;
};

template <class T>
class CZelFile : public CZelFileBase {
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
    T reg;
    std::memcpy(&reg, pData, sizeof(T));
    return Grava(uiPosicao, reg);
  }
  HRESULT SetArrayData(ZelUInt uiTamanho, const void* pData) override {
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
    std::unordered_map<ZelUInt, CZelListaPosicoes> mapa;
    PFN_GetChaveIndex pfnGetChaveIndex;
    bool bPermiteChaveZerada;
    bool bPermiteChaveRepetida;
  };
  struct ChavesLote {
    std::vector<ZelUInt> aChaves;
  };

  HRESULT GravaRegistros(ZelUInt& uiPosicao, const std::vector<T>& aRegistros);
  HRESULT ValidaIndex(ZelUInt uiPosicao, const std::vector<T>& aRegistros, size_t uiColuna, ChavesLote* pLote);
  HRESULT AtualizaIndex(ZelUInt uiPosicao, size_t nLote, size_t uiColuna, const ChavesLote& lote);
  HRESULT RemoveIndex(ZelUInt uiPosicao, ZelUInt uiQuantidade);
  // Shared part of the look-ups: achou gets the key's positions.
  template <class F>
  HRESULT ProcuraChave(ZelUInt uiChave, ZelUInt uiColunaIndexacao, F achou);
  void Traca(const char* szFuncao, int nLinha, const char* szExpressao, HRESULT hr) const {
    ZelTraceHR(this, szFuncao, "ZelFile", nLinha, szExpressao, "hr", hr);
  }
  // "HabilitaArquivoCRBackup" and "HabilitaLastWriteRefresh", per record type.
  static void LeChavesGravacao(bool* pbBackup, bool* pbRefresh);

  std::vector<T> m_aRegistros;
  std::vector<Indice> m_aIndices;
};

template <class T>
HRESULT CZelFile<T>::OnInicializa() {
  HRESULT hr = CZelFileBase::OnInicializa();
  if (FAILED(hr)) return hr;
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
  std::memset(pReg, 0, sizeof(T));
  if (uiPosicao == 0) {
    Traca("CZelFile::Le", __LINE__, "hr = E_ZELCR_TENTATIVA_LER_POSICAO_ZERO", E_ZELCR_TENTATIVA_LER_POSICAO_ZERO);
    return E_ZELCR_TENTATIVA_LER_POSICAO_ZERO;
  }
  std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
  if (!m_File.EstaAberto()) {
    Traca("CZelFile::Le", __LINE__, "hr = E_ZELCR_ARQUIVO_NAO_EXISTE", E_ZELCR_ARQUIVO_NAO_EXISTE);
    return E_ZELCR_ARQUIVO_NAO_EXISTE;
  }
  if (uiPosicao > m_aRegistros.size()) {
    ZelTracePosicao(this, "CZelFile::Le", "ZelFile", __LINE__, E_ZELCR_POSICAO_LEITURA_SUPERIOR_QUANTIDADE_ARQUIVO,
                    m_sNomeArquivo, static_cast<int>(uiPosicao), static_cast<int>(sizeof(T)),
                    static_cast<int64_t>(m_aRegistros.size()));
    return E_ZELCR_POSICAO_LEITURA_SUPERIOR_QUANTIDADE_ARQUIVO;
  }
  *pReg = m_aRegistros[uiPosicao - 1];
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::LeColecao(ZelUInt uiPosicao, ZelUInt uiQuantidade, std::vector<T>& aRegistros) {
  aRegistros.clear();
  if (uiPosicao == 0 && uiQuantidade == 0) return S_OK;
  if (uiPosicao == 0 || uiQuantidade == 0) {
    Traca("CZelFile::LeColecao", __LINE__, "hr = E_ZELCR_INCONSISTENCIA_CHAVE_QUANTIDADE",
          E_ZELCR_INCONSISTENCIA_CHAVE_QUANTIDADE);
    return E_ZELCR_INCONSISTENCIA_CHAVE_QUANTIDADE;
  }
  std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
  if (!m_File.EstaAberto()) {
    Traca("CZelFile::LeColecao", __LINE__, "hr = E_ZELCR_ARQUIVO_NAO_EXISTE", E_ZELCR_ARQUIVO_NAO_EXISTE);
    return E_ZELCR_ARQUIVO_NAO_EXISTE;
  }
  if (uiPosicao > m_aRegistros.size() || uiQuantidade > m_aRegistros.size() - uiPosicao + 1) {
    ZelTracePosicao(this, "CZelFile::LeColecao", "ZelFile", __LINE__,
                    E_ZELCR_POSICAO_LEITURA_SUPERIOR_QUANTIDADE_ARQUIVO, m_sNomeArquivo, static_cast<int>(uiPosicao),
                    static_cast<int>(sizeof(T)), static_cast<int64_t>(m_aRegistros.size()));
    return E_ZELCR_POSICAO_LEITURA_SUPERIOR_QUANTIDADE_ARQUIVO;
  }
  aRegistros.assign(m_aRegistros.begin() + static_cast<ptrdiff_t>(uiPosicao - 1),
                    m_aRegistros.begin() + static_cast<ptrdiff_t>(uiPosicao - 1 + uiQuantidade));
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::Grava(ZelUInt& uiPosicao, const T& reg) {
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
  if (aRegistros.empty()) return S_OK;
  CZelProfiler prof(this);
  prof.Entrada("CZelFile::GravaColecao", {{"m_sNomeArquivo", m_sNomeArquivo},
                                          {"uiPosicao", std::to_string(uiPosicao)},
                                          {"uiQuantidade", std::to_string(aRegistros.size())}});
  std::unique_lock<std::shared_mutex> trava(m_lockArquivo);
  CZelArqMarcaFila marca(this);
  HRESULT hr = MarcaMudanca(marca);
  if (FAILED(hr)) {
    Traca("CZelFile::GravaColecao", __LINE__, "hr = MarcaMudanca(marcaFila)", hr);
    return hr;
  }
  if (uiPosicao > m_aRegistros.size()) {
    ZelTracePosicao(this, "CZelFile::GravaColecao", "ZelFile", __LINE__,
                    E_ZELCR_POSICAO_GRAVACAO_SUPERIOR_QUANTIDADE_ARQUIVO, m_sNomeArquivo, static_cast<int>(uiPosicao),
                    static_cast<int>(sizeof(T)), static_cast<int64_t>(m_aRegistros.size()));
    return E_ZELCR_POSICAO_GRAVACAO_SUPERIOR_QUANTIDADE_ARQUIVO;
  }
  if (!PrecisaGravar(uiPosicao, aRegistros)) return S_OK;
  hr = AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacaoCriacao);
  if (FAILED(hr)) {
    Traca("CZelFile::GravaColecao", __LINE__, "hr = AbreArquivo(eModoLeituraGravacaoCriacao)", hr);
    return hr;
  }
  constexpr int kTentativas = 50;
  for (int i = 0; i < kTentativas; ++i) {
    hr = GravaRegistros(uiPosicao, aRegistros);
    if (SUCCEEDED(hr)) break;
    Traca("CZelFile::GravaColecao", __LINE__, "hr = GravaRegistros(uiPosicao, aRegistros)", hr);
    if (EhUmaExcecaoFatal(hr)) break;
    Sleep(ZelTempoMs(ZelTempo::kIntervaloRetentativaZelDataBase));
  }
  return hr;
}

template <class T>
void CZelFile<T>::LeChavesGravacao(bool* pbBackup, bool* pbRefresh) {
  static std::atomic<bool> bLidas{false};
  static std::atomic<uint64_t> ullLeitura{0};
  static std::atomic<bool> bBackup{false};
  static std::atomic<bool> bRefresh{false};
  uint64_t agora = GetTickCount64();
  if (!bLidas || agora - ullLeitura > ZelTempoMs(ZelTempo::kRefrescoChavesGravacao)) {
    bBackup = ZelLeChaveZel("HabilitaArquivoCRBackup") == 1;
    bRefresh = ZelLeChaveZel("HabilitaLastWriteRefresh") == 1;
    ullLeitura = agora;
    bLidas = true;
  }
  *pbBackup = bBackup;
  *pbRefresh = bRefresh;
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

  bool bBackup = false, bRefresh = false;
  LeChavesGravacao(&bBackup, &bRefresh);
  if (bBackup) ZelGravaMarcaBackupCR(this, "CZelFile::GravaRegistros", "ZelFile", __LINE__, m_sNomeArquivo, m_sNomeArquivo);
  if (bRefresh) {
    LONG lErro = m_File.AtualizaUltimaGravacao();
    if (lErro != ERROR_SUCCESS)
      ZelGravaLinhaErro(this, "CZelFile::GravaRegistros", "ZelFile", __LINE__,
                        "Erro ao gravar o file time do arquivo %s. Erro: %d", m_sNomeArquivo.c_str(), lErro);
  }

  if (uiPosicao > 0) {
    RemoveIndex(uiPosicao, aRegistros.size());
    if (uiPosicao - 1 + aRegistros.size() > m_aRegistros.size()) m_aRegistros.resize(uiPosicao - 1 + aRegistros.size());
    std::copy(aRegistros.begin(), aRegistros.end(), m_aRegistros.begin() + static_cast<ptrdiff_t>(uiPosicao - 1));
  } else {
    uiPosicao = uiNovaPosicao;
    m_aRegistros.insert(m_aRegistros.end(), aRegistros.begin(), aRegistros.end());
  }
  for (size_t c = 0; c < m_aIndices.size(); ++c) {
    HRESULT hr = AtualizaIndex(uiPosicao, aRegistros.size(), c, aLotes[c]);
    if (FAILED(hr)) {
      Traca("CZelFile::GravaRegistros", __LINE__, "hr = AtualizaIndex(uiPosicao, aRegistros, uiColuna)", hr);
      return hr;
    }
  }
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::ValidaIndex(ZelUInt uiPosicao, const std::vector<T>& aRegistros, size_t uiColuna,
                                 ChavesLote* pLote) {
  Indice& ind = m_aIndices[uiColuna];
  pLote->aChaves.reserve(aRegistros.size());
  for (size_t j = 0; j < aRegistros.size(); ++j) {
    ZelUInt uiChave = ind.pfnGetChaveIndex(&aRegistros[j], uiColuna);
    pLote->aChaves.push_back(uiChave);
    if (uiChave == 0) {
      if (!ind.bPermiteChaveZerada) {
        Traca("CZelFile::ValidaIndex", __LINE__, "hr = E_ZELCR_INDEXACAO_COM_POSICAO_ZERO",
              E_ZELCR_INDEXACAO_COM_POSICAO_ZERO);
        return E_ZELCR_INDEXACAO_COM_POSICAO_ZERO;
      }
      continue;
    }
    if (ind.bPermiteChaveRepetida) continue;
    auto it = ind.mapa.find(uiChave);
    if (it == ind.mapa.end() || it->second.empty()) continue;
    if (uiPosicao > 0 && it->second.front() == uiPosicao + j) continue;
    Traca("CZelFile::ValidaIndex", __LINE__, "hr = E_ZELCR_CHAVE_DE_INDEXACAO_REPETIDA",
          E_ZELCR_CHAVE_DE_INDEXACAO_REPETIDA);
    return E_ZELCR_CHAVE_DE_INDEXACAO_REPETIDA;
  }
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::AtualizaIndex(ZelUInt uiPosicao, size_t nLote, size_t uiColuna, const ChavesLote& lote) {
  Indice& ind = m_aIndices[uiColuna];
  if (ind.mapa.empty())
    ind.mapa.rehash(static_cast<size_t>(static_cast<double>(nLote) * 1.21 / ind.mapa.max_load_factor() + 0.5));
  // Only keys that now hold more than one position can be out of order.
  std::vector<ZelUInt> aParaOrdenar;
  for (size_t j = 0; j < nLote; ++j) {
    ZelUInt uiChave = lote.aChaves[j];
    if (uiChave == 0 && !ind.bPermiteChaveZerada) continue;
    CZelListaPosicoes& lista = ind.mapa[uiChave];
    lista.push_back(uiPosicao + j);
    if (lista.size() > 1) aParaOrdenar.push_back(uiChave);
  }
  std::sort(aParaOrdenar.begin(), aParaOrdenar.end());
  aParaOrdenar.erase(std::unique(aParaOrdenar.begin(), aParaOrdenar.end()), aParaOrdenar.end());
  for (ZelUInt uiChave : aParaOrdenar) ind.mapa[uiChave].Ordena();
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::RemoveIndex(ZelUInt uiPosicao, ZelUInt uiQuantidade) {
  if (uiQuantidade == 0 || uiPosicao == 0 || uiPosicao > m_aRegistros.size()) return S_OK;
  uiQuantidade = std::min<ZelUInt>(uiQuantidade, m_aRegistros.size() - uiPosicao + 1);
  for (size_t c = 0; c < m_aIndices.size(); ++c) {
    Indice& ind = m_aIndices[c];
    for (ZelUInt p = uiPosicao; p < uiPosicao + uiQuantidade; ++p) {
      auto it = ind.mapa.find(ind.pfnGetChaveIndex(&m_aRegistros[p - 1], c));
      if (it == ind.mapa.end()) continue;
      it->second.Remove(p);
      if (it->second.empty()) ind.mapa.erase(it);
    }
  }
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::IncluiIndex(PFN_GetChaveIndex pfnGetChaveIndex, ZelUInt uiColunaIndexacao,
                                 bool bPermiteChaveZerada, bool bPermiteChaveRepetida) {
  // Exclusive rather than shared: the descriptor array itself changes.
  std::unique_lock<std::shared_mutex> trava(m_lockArquivo);
  if (uiColunaIndexacao < m_aIndices.size()) {
    Traca("CZelFile::IncluiIndex", __LINE__, "hr = E_ZELCR_COLUNA_INDEXACAO_INVALIDA", E_ZELCR_COLUNA_INDEXACAO_INVALIDA);
    return E_ZELCR_COLUNA_INDEXACAO_INVALIDA;
  }
  m_aIndices.push_back(Indice{{}, pfnGetChaveIndex, bPermiteChaveZerada, bPermiteChaveRepetida});
  if (m_aRegistros.empty()) return S_OK;
  size_t c = m_aIndices.size() - 1;
  ChavesLote lote;
  HRESULT hr = ValidaIndex(ZELDATABASE_POSICAO_NOVO_REGISTRO, m_aRegistros, c, &lote);
  if (SUCCEEDED(hr)) hr = AtualizaIndex(1, m_aRegistros.size(), c, lote);
  if (FAILED(hr)) {
    // A refused index is not kept, so the caller may include another.
    m_aIndices.pop_back();
    Traca("CZelFile::IncluiIndex",
          __LINE__, "hr = AtualizaIndex(ZELDATABASE_POSICAO_NOVO_REGISTRO, m_aRegistros, uiColunaIndexacao)", hr);
  }
  return hr;
}

template <class T>
template <class F>
HRESULT CZelFile<T>::ProcuraChave(ZelUInt uiChave, ZelUInt uiColunaIndexacao, F achou) {
  std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
  if (uiColunaIndexacao >= m_aIndices.size()) return E_ZELCR_COLUNA_INDEXACAO_INVALIDA;
  const auto& mapa = m_aIndices[uiColunaIndexacao].mapa;
  auto it = mapa.find(uiChave);
  if (it == mapa.end()) return S_OK;
  if (it->second.empty()) return E_ZELCR_COLUNA_INDEXACAO_INVALIDA;
  achou(it->second);
  return S_OK;
}

template <class T>
HRESULT CZelFile<T>::ExisteIndex(ZelUInt uiChave, ZelUInt* pPosicao, ZelUInt uiColunaIndexacao) {
  return ProcuraChave(uiChave, uiColunaIndexacao, [pPosicao](const CZelListaPosicoes& l) {
    if (pPosicao != nullptr) *pPosicao = l.front();
  });
}

template <class T>
HRESULT CZelFile<T>::ExisteIndex(ZelUInt uiChave, std::vector<ZelUInt>* pListaPosicao, ZelUInt uiColunaIndexacao) {
  return ProcuraChave(uiChave, uiColunaIndexacao, [pListaPosicao](const CZelListaPosicoes& l) {
    if (pListaPosicao != nullptr) *pListaPosicao = l.Vetor();
  });
}

template <class T>
HRESULT CZelFile<T>::SetConteudo(const std::vector<T>& aNovoConteudo, bool bGerarLog) {
  std::unique_lock<std::shared_mutex> trava(m_lockArquivo);
  CZelArqMarcaFila marca(this);
  HRESULT hr = MarcaMudanca(marca);
  if (FAILED(hr)) {
    Traca("CZelFile::SetConteudo", __LINE__, "hr = MarcaMudanca(marcaFila)", hr);
    return hr;
  }
  if (aNovoConteudo.size() == m_aRegistros.size() &&
      (m_aRegistros.empty() ||
       std::memcmp(aNovoConteudo.data(), m_aRegistros.data(), m_aRegistros.size() * sizeof(T)) == 0))
    return S_OK;
  CZelProfilerEmpresa empresa(GetEmpresa(), GetUsuario(), GetNumeroSessao());
  Finaliza();
  hr = CZelDataBaseUtil::DeletaArquivo(&empresa, m_eModulo, m_sNomeArquivo, GetFlagDeletaArquivo(), bGerarLog);
  if (FAILED(hr)) {
    Traca("CZelFile::SetConteudo", __LINE__,
          "hr = CZelDataBaseUtil::DeletaArquivo(&empresa, m_eModulo, m_sNomeArquivo, GetFlagDeletaArquivo(), bGerarLog)",
          hr);
    return hr;
  }
  hr = Inicializa(&empresa);
  if (FAILED(hr)) {
    Traca("CZelFile::SetConteudo", __LINE__, "hr = Inicializa(&empresa)", hr);
    return hr;
  }
  hr = AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacaoCriacao);
  if (FAILED(hr)) {
    Traca("CZelFile::SetConteudo", __LINE__, "hr = AbreArquivo(eModoLeituraGravacaoCriacao)", hr);
    return hr;
  }
  if (aNovoConteudo.empty()) return S_OK;
  ZelUInt uiPosicao = ZELDATABASE_POSICAO_NOVO_REGISTRO;
  hr = GravaRegistros(uiPosicao, aNovoConteudo);
  if (FAILED(hr)) Traca("CZelFile::SetConteudo", __LINE__, "hr = GravaRegistros(uiPosicao, aNovoConteudo)", hr);
  return hr;
}
