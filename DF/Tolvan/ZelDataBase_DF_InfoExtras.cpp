#include "ZelDataBase_DF_InfoExtras.h"

#include <algorithm>
#include <future>
#include <system_error>
#include <vector>

#include "ZelDataBaseUtil.h"
#include "ZelProfiler.h"
#include "ZelSistema.h"

namespace {
constexpr const char* kFonte = "ZelDataBase_DF_InfoExtras";
}

CZelDataBase_DF_InfoExtras::CZelDataBase_DF_InfoExtras()
    : CZelDataBase(ZEL_ZELDATABASE_INFO_PLUS), m_Vinculo(kNomeArquivoVinculo, this) {}

CZelDataBase_DF_InfoExtras::~CZelDataBase_DF_InfoExtras() { Finaliza(); }

ZelUInt CZelDataBase_DF_InfoExtras::GetChaveIndex(const IE_VINCULO_ARQ_V0* pReg, ZelUInt uiColuna) {
  if (uiColuna != eColunaOrigem) return 0;
  return ChaveOrigem(pReg->lPosHeader, pReg->lChave);
}

HRESULT CZelDataBase_DF_InfoExtras::OnInicializa() {
  static constexpr const char* kFuncao = "CZelDataBase_DF_InfoExtras::OnInicializa";
  HRESULT hr = RemoverRegistrosZerados();
  if (FAILED(hr)) {
    ZelTraceHR(this, kFuncao, kFonte, __LINE__, "hr = RemoverRegistrosZerados()", "hr", hr);
    return hr;
  }
  hr = CZelDataBase::OnInicializa();
  if (FAILED(hr)) {
    ZelTraceHR(this, kFuncao, kFonte, __LINE__, "hr = __super::OnInicializa()", "hr", hr);
    return hr;
  }
  // Without the header index the look-ups by header scan. It is built on
  // the other core while the origin index is, and accepts every record.
  auto montaCabecalho = [this] { return m_Vinculo.MontaIndiceRepetido(&ChaveCabecalhoAtivo, eColunaCabecalhoAtivo); };
  std::future<CZelIndiceChaves> cabecalho;
  try {
    cabecalho = std::async(std::launch::async, montaCabecalho);
  } catch (const std::system_error&) {
    cabecalho = std::async(std::launch::deferred, montaCabecalho);  // no thread: built here, after
  }
  hr = m_Vinculo.IncluiIndex(this, eColunaOrigem);
  CZelIndiceChaves indiceCabecalho;
  try {
    indiceCabecalho = cabecalho.get();
  } catch (...) {
    CZelDataBase::OnFinaliza();
    throw;
  }
  if (FAILED(hr)) {
    ZelTraceHR(this, kFuncao, kFonte, __LINE__, "hr = m_Vinculo.IncluiIndex(this, eColunaOrigem)", "hr", hr);
    // Nothing of a half-started database stays open.
    CZelDataBase::OnFinaliza();
    return hr;
  }
  m_Vinculo.IncluiIndexMontado(&ChaveCabecalhoAtivo, eColunaCabecalhoAtivo, std::move(indiceCabecalho));
  // The load's scratch buffers would otherwise stay resident for the life
  // of the server.
  ZelDevolveMemoriaLivre();
  return S_OK;
}

HRESULT CZelDataBase_DF_InfoExtras::RemoverRegistrosZerados() {
  static constexpr const char* kFuncao = "CZelDataBase_DF_InfoExtras::RemoverRegistrosZerados";
  auto falha = [this](int nLinha, const char* szExpressao, HRESULT hr) {
    ZelTraceHR(this, kFuncao, kFonte, nLinha, szExpressao, "hr", hr);
    return hr;
  };
  std::string sPathArq;
  HRESULT hr =
      CZelDataBaseUtil::GetPathArquivo(ZEL_ZELDATABASE_INFO_PLUS, GetEmpresa(), m_Vinculo.GetNomeArquivo(), &sPathArq);
  if (FAILED(hr))
    return falha(__LINE__,
                 "hr = CZelDataBaseUtil::GetPathArquivo(ZEL_ZELDATABASE_INFO_PLUS, GetEmpresa(), "
                 "m_Vinculo.GetNomeArquivo(), &sPathArq)",
                 hr);
  if (CZelDataBaseUtil::ExisteArquivo(CZelDataBaseUtil::TrocaExtensao(sPathArq, "tra")))
    return falha(__LINE__, "hr = E_ZELCR_ARQUIVO_TRA_ENCONTRADO", E_ZELCR_ARQUIVO_TRA_ENCONTRADO);

  CZelDataBase database(ZEL_ZELDATABASE_INFO_PLUS);
  database.SetUsaConexaoDefault(true);
  CZelFile<IE_VINCULO_ARQ_V0> arqDat(m_Vinculo.GetNomeArquivo(), &database);
  CZelFile<IE_VINCULO_ARQ_V0> arqTra(CZelDataBaseUtil::TrocaExtensao(m_Vinculo.GetNomeArquivo(), "tra"), &database);
  hr = database.Inicializa(this);
  if (FAILED(hr)) return falha(__LINE__, "hr = database.Inicializa(this)", hr);

  const ZelUInt iQtdInicialRegistros = arqDat.GetQtdRegistros();
  if (iQtdInicialRegistros == 0) return S_OK;
  // The loaded records are looked at in place: a copy of a large company
  // would cost as much as its load, and nearly every start has nothing to
  // clean.
  const auto* pCarregados = static_cast<const IE_VINCULO_ARQ_V0*>(arqDat.GetPtrArray());
  auto zerado = [](const IE_VINCULO_ARQ_V0& r) { return r.lPosHeader == 0; };
  if (std::none_of(pCarregados, pCarregados + iQtdInicialRegistros, zerado)) return S_OK;
  const ZelUInt iPosicaoInicial = 1;
  std::vector<IE_VINCULO_ARQ_V0> aRegistros;
  hr = arqDat.LeColecao(iPosicaoInicial, iQtdInicialRegistros, aRegistros);
  if (FAILED(hr)) return falha(__LINE__, "hr = arqDat.LeColecao(iPosicaoInicial, iQtdInicialRegistros, aRegistros)", hr);
  aRegistros.erase(std::remove_if(aRegistros.begin(), aRegistros.end(), zerado), aRegistros.end());

  ZelUInt iPosicao = ZELDATABASE_POSICAO_NOVO_REGISTRO;
  hr = arqTra.GravaColecao(iPosicao, aRegistros);
  if (FAILED(hr)) {
    // The link file is untouched; a half-written transfer file would block
    // every later start.
    database.Finaliza();
    CZelDataBaseUtil::DeletaArquivo(this, ZEL_ZELDATABASE_INFO_PLUS, arqTra.GetNomeArquivo(),
                                    arqTra.GetFlagDeletaArquivo(), false);
    return falha(__LINE__, "hr = arqTra.GravaColecao(iPosicao, aRegistros)", hr);
  }
  hr = database.Finaliza();
  if (FAILED(hr)) return falha(__LINE__, "hr = database.Finaliza()", hr);
  hr = CZelDataBaseUtil::RenomeiaArquivoTRA(this, ZEL_ZELDATABASE_INFO_PLUS, arqDat.GetNomeArquivo(), 1);
  if (FAILED(hr))
    return falha(__LINE__,
                 "hr = CZelDataBaseUtil::RenomeiaArquivoTRA(this, ZEL_ZELDATABASE_INFO_PLUS, arqDat.GetNomeArquivo())",
                 hr);
  return S_OK;
}
