// Field values linked to origin records: the link file of the company's
// shared database ties an origin (header position, record key) to its run of
// values in the process's value file.
#include <cstring>
#include <mutex>
#include <vector>

#include "IExBase.h"
#include "Pardak.h"
#include "ZelProfiler.h"

namespace {
constexpr const char* kFonte = "IExBaseVinculo";
constexpr HRESULT E_IE_VINCULO_SEM_HEADER = HR(0x80040CE4);
constexpr HRESULT E_IE_VINCULO_SEM_CHAVE = HR(0x8004097B);
constexpr HRESULT E_IE_EXCLUSAO_SEM_CHAVE = HR(0x80040CE3);
}  // namespace


HRESULT CIExBase::ProcuraVinculoAtivo(const char* szFuncao, UI4 lPosHeader, const UI4* plChave, ZelUInt* plPos,
                                      IE_VINCULO_ARQ_V0* pregVin) {
  // The origin index holds every record of the origin, in ascending
  // positions: its first active one is the one a scan would meet first. The
  // header index holds only the active records of a header, so its first
  // position is the scan's answer; key 0 mixes flagged records in, so
  // header 0 is scanned.
  if (plChave == nullptr && lPosHeader == 0) return ProcuraVinculoLinear(szFuncao, lPosHeader, plChave, plPos, pregVin);
  *plPos = 0;
  std::vector<ZelUInt> aPosicoes;
  HRESULT hr;
  if (plChave != nullptr) {
    hr = m_pDataBase->m_Vinculo.ExisteIndex(CZelDataBase_DF_InfoExtras::ChaveOrigem(lPosHeader, *plChave), &aPosicoes,
                                            CZelDataBase_DF_InfoExtras::eColunaOrigem);
  } else {
    ZelUInt lPrimeira = 0;
    hr = m_pDataBase->m_Vinculo.ExisteIndex(ZelUInt{lPosHeader}, &lPrimeira,
                                            CZelDataBase_DF_InfoExtras::eColunaCabecalhoAtivo);
    if (lPrimeira != 0) aPosicoes.push_back(lPrimeira);
  }
  if (FAILED(hr)) return ProcuraVinculoLinear(szFuncao, lPosHeader, plChave, plPos, pregVin);
  for (ZelUInt lPos : aPosicoes) {
    IE_VINCULO_ARQ_V0 regVin{};
    hr = m_pDataBase->m_Vinculo.Le(lPos, &regVin);
    if (FAILED(hr)) {
      ZelTraceHR(this, szFuncao, kFonte, __LINE__, "hr = m_pDataBase->m_Vinculo.Le(lPos, &regVin)", "hr", hr);
      return hr;
    }
    if (regVin.ulExcluido != 0 || regVin.lPosHeader != lPosHeader) continue;
    if (plChave != nullptr && regVin.lChave != *plChave) continue;
    *plPos = lPos;
    if (pregVin != nullptr) *pregVin = regVin;
    return S_OK;
  }
  return S_OK;
}

HRESULT CIExBase::ProcuraVinculoLinear(const char* szFuncao, UI4 lPosHeader, const UI4* plChave, ZelUInt* plPos,
                                       IE_VINCULO_ARQ_V0* pregVin) {
  *plPos = 0;
  CZelFile<IE_VINCULO_ARQ_V0>& arqVinculo = m_pDataBase->m_Vinculo;
  const ZelUInt nQtd = arqVinculo.GetQtdRegistros();
  for (ZelUInt lPos = 1; lPos <= nQtd; ++lPos) {
    IE_VINCULO_ARQ_V0 regVin{};
    HRESULT hr = arqVinculo.Le(lPos, &regVin);
    if (FAILED(hr)) {
      ZelTraceHR(this, szFuncao, kFonte, __LINE__, "hr = m_pDataBase->m_Vinculo.Le(lPos, &regVin)", "hr", hr);
      return hr;
    }
    if (regVin.ulExcluido != 0 || regVin.lPosHeader != lPosHeader) continue;
    if (plChave != nullptr && regVin.lChave != *plChave) continue;
    *plPos = lPos;
    if (pregVin != nullptr) *pregVin = regVin;
    return S_OK;
  }
  return S_OK;
}

HRESULT CIExBase::ExisteVinculo(UI4 lPosHeader) {
  ZelUInt lPos = 0;
  HRESULT hr = ProcuraVinculoAtivo("CIExBase::ExisteVinculo", lPosHeader, nullptr, &lPos, nullptr);
  if (FAILED(hr)) return hr;
  return lPos != 0 ? S_OK : S_FALSE;
}

HRESULT CIExBase::BuscaVinculosByOrigem(UI4 lPosHeader, UINT qtd, UI4* pChaves, IE_VINCULO_PS* pVinculos) {
  static constexpr const char* kFuncao = "CIExBase::BuscaVinculosByOrigem";
  if (qtd > 0 && (pChaves == nullptr || pVinculos == nullptr)) IE_FALHA_HR(kFuncao, "E_POINTER", E_POINTER);
  if (qtd > 0) std::memset(pVinculos, 0, qtd * sizeof(IE_VINCULO_PS));
  if (lPosHeader == 0) return S_OK;
  if (qtd == 1 && pChaves[0] == 0) return S_OK;

  IE_HDR_ARQ_V0 regTipDoc{};
  {
    std::lock_guard<std::recursive_mutex> trava(m_csArquivos);
    HRESULT hr = AbreArqHeader();
    if (FAILED(hr)) IE_FALHA_HR(kFuncao, "AbreArqHeader()", hr);
    int iRetorno = m_ArqIE.Le(static_cast<LONG>(lPosHeader), &regTipDoc);
    if (iRetorno != ZELARQ_OK) IE_FALHA_HR(kFuncao, "m_ArqIE.Le(lPosHeader, &regTipDoc)", IES_MAKE_HR(iRetorno));
  }
  if (!IEProcessoValido(static_cast<int>(regTipDoc.eProcesso)))
    IE_FALHA_HR(kFuncao, "IES_MAKE_HR(ZELARQ_ARQUIVO_INVALIDO)", IES_MAKE_HR(ZELARQ_ARQUIVO_INVALIDO));
  CIEArqTDados<IE_CAMPO_DATA_ARQ_V2> arquivoCampos(this);
  HRESULT hr = arquivoCampos.Abre('L', static_cast<int>(regTipDoc.eProcesso));
  if (FAILED(hr)) IE_FALHA_HR(kFuncao, "arquivoCampos.Abre('L', (IE_E_PROCESSO)regTipDoc.iProcesso)", hr);

  const ZelUInt uiChaveHeader = CZelDataBase_DF_InfoExtras::ChaveOrigem(lPosHeader, 0);
  // The links first, then their values: the value runs of many origins lie
  // at random places, and are read ahead together. Memory is asked for all
  // the keys at once, the index slots and then the link records, before the
  // look-ups that wait for it one at a time.
  std::vector<ZelUInt> aChaves;
  aChaves.reserve(qtd);
  for (UINT i = 0; i < qtd; ++i)
    if (pChaves[i] != 0) aChaves.push_back(uiChaveHeader | pChaves[i]);
  m_pDataBase->m_Vinculo.AntecipaIndex(aChaves, CZelDataBase_DF_InfoExtras::eColunaOrigem);
  m_pDataBase->m_Vinculo.AntecipaRegistros(aChaves, CZelDataBase_DF_InfoExtras::eColunaOrigem);
  std::vector<std::pair<UINT, IE_VINCULO_ARQ_V0>> aAchados;
  for (UINT i = 0; i < qtd; ++i) {
    if (pChaves[i] == 0) continue;
    ZelUInt iPosicao = 0;
    hr = m_pDataBase->m_Vinculo.ExisteIndex(uiChaveHeader | pChaves[i], &iPosicao,
                                            CZelDataBase_DF_InfoExtras::eColunaOrigem);
    if (FAILED(hr))
      IE_FALHA_HR(kFuncao,
                  "m_pDataBase->m_Vinculo.ExisteIndex((uiChaveHeader | pChaves[i]), iPosicao, "
                  "CZelDataBase_DF_InfoExtras::eColunaOrigem)",
                  hr);
    if (iPosicao == 0) continue;
    IE_VINCULO_ARQ_V0 rVinculo{};
    hr = m_pDataBase->m_Vinculo.Le(iPosicao, &rVinculo);
    if (FAILED(hr)) IE_FALHA_HR(kFuncao, "m_pDataBase->m_Vinculo.Le(iPosicao, &rVinculo)", hr);
    aAchados.emplace_back(i, rVinculo);
  }
  if (aAchados.size() > 1) {
    std::vector<std::pair<UI4, UINT>> aRuns;
    aRuns.reserve(aAchados.size());
    for (const auto& [i, rVinculo] : aAchados) aRuns.emplace_back(rVinculo.iPtrCampos, rVinculo.nQtdCampos);
    AdiantaItensWithText(arquivoCampos, aRuns);
  }
  for (const auto& [i, rVinculo] : aAchados) {
    IE_VINCULO_PS& rVinculoPS = pVinculos[i];
    IEConverte(rVinculo, &rVinculoPS);
    hr = LeArrayItensWithText(arquivoCampos, rVinculo.iPtrCampos, rVinculo.nQtdCampos, &rVinculoPS.pCampos);
    if (FAILED(hr))
      IE_FALHA_HR(kFuncao,
                  "LeArrayItensWithText(arquivoCampos, rVinculo.iPtrCampos, &rVinculoPS.nQtdCampos, "
                  "&rVinculoPS.pCampos, 0, nullptr)",
                  hr);
  }
  return S_OK;
}

HRESULT CIExBase::GravaCamposVinculo(IE_VINCULO_PS vinculo) {
  static constexpr const char* kFuncao = "CIExBase::GravaCamposVinculo";
  if (vinculo.origem.lPosHeader == 0) return E_IE_VINCULO_SEM_HEADER;
  if (vinculo.origem.lChave == 0) return E_IE_VINCULO_SEM_CHAVE;
  if (vinculo.nQtdCampos > 0 && vinculo.pCampos == nullptr) IE_FALHA_HR(kFuncao, "E_POINTER", E_POINTER);

  std::lock_guard<std::mutex> travaGravacao(ZelTravaGravacaoDataBase());
  IE_HDR_PS regHeaderPS{};
  HRESULT hr = LeIEHeader(1, &vinculo.origem.lPosHeader, &regHeaderPS, 0);
  IELiberaCampos(regHeaderPS.pCampos, regHeaderPS.nQtdCampos);
  if (FAILED(hr)) IE_FALHA_HR(kFuncao, "LeIEHeader(1, &vinculo.origem.lPosHeader, &regHeaderPS, 0)", hr);
  if (!IEProcessoValido(regHeaderPS.eProcesso))
    IE_FALHA_HR(kFuncao, "IES_MAKE_HR(ZELARQ_ARQUIVO_INVALIDO)", IES_MAKE_HR(ZELARQ_ARQUIVO_INVALIDO));

  CIEArqTDados<IE_CAMPO_DATA_ARQ_V2> arqCmp(this);
  hr = arqCmp.Abre('G', regHeaderPS.eProcesso);
  if (FAILED(hr)) IE_FALHA_HR(kFuncao, "arqCmp.Abre('G', regHeaderPS.eProcesso)", hr);

  ZelUInt lPos = 0;
  IE_VINCULO_ARQ_V0 regVin{};
  hr = ProcuraVinculoAtivo(kFuncao, vinculo.origem.lPosHeader, &vinculo.origem.lChave, &lPos, &regVin);
  if (FAILED(hr)) return hr;
  // A longer list must not run over the chains that follow the old one.
  if (lPos != 0 && vinculo.nQtdCampos > regVin.nQtdCampos) regVin.iPtrCampos = 0;
  regVin.lPosHeader = vinculo.origem.lPosHeader;
  regVin.lChave = vinculo.origem.lChave;
  regVin.nQtdCampos = vinculo.nQtdCampos;

  hr = GravaArrayItensWithText(arqCmp, regVin.nQtdCampos, &regVin.iPtrCampos, vinculo.pCampos);
  if (FAILED(hr))
    IE_FALHA_HR(kFuncao, "GravaArrayItensWithText(arqCmp, regVin.nQtdCampos, &regVin.iPtrCampos, vinculo.pCampos)",
                hr);
  arqCmp.Fecha();
  hr = m_pDataBase->m_Vinculo.Grava(lPos, regVin);
  if (FAILED(hr)) IE_FALHA_HR(kFuncao, "m_pDataBase->m_Vinculo.Grava(lPos, regVin)", hr);
  return S_OK;
}

HRESULT CIExBase::NotificaExclusaoOrigem(IE_ORIGEM_VINCULO_PS origem) {
  static constexpr const char* kFuncao = "CIExBase::NotificaExclusaoOrigem";
  if (origem.lChave == 0)
    IE_FALHA_HR(kFuncao, "MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 3299)", E_IE_EXCLUSAO_SEM_CHAVE);
  // Under the writers' lock: a value write holding the record it read would
  // otherwise put the mark back to 0.
  std::lock_guard<std::mutex> travaGravacao(ZelTravaGravacaoDataBase());
  ZelUInt lPos = 0;
  IE_VINCULO_ARQ_V0 regVin{};
  HRESULT hr = ProcuraVinculoAtivo(kFuncao, origem.lPosHeader, &origem.lChave, &lPos, &regVin);
  if (FAILED(hr) || lPos == 0) return hr;
  regVin.ulExcluido = 1;
  hr = m_pDataBase->m_Vinculo.Grava(lPos, regVin);
  if (FAILED(hr)) IE_FALHA_HR(kFuncao, "m_pDataBase->m_Vinculo.Grava(lPos, regVin)", hr);
  return S_OK;
}
