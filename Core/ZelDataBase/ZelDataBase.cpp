#include "ZelDataBase.h"

#include <vector>

#include "ZelDataBaseUtilT.h"
#include "ZelFileBase.h"
#include "ZelProfiler.h"

namespace {
constexpr const char* kFonte = "ZelDataBase";
}

CZelDataBase::CZelDataBase(_ZelModulo eModulo, const std::string& sArquivoVersao, ZelUShort usVersaoBaseDados)
    : m_eModulo(eModulo), m_sArquivoVersao(sArquivoVersao), m_usVersaoBaseDados(usVersaoBaseDados) {}

CZelDataBase::~CZelDataBase() {
  Finaliza();
  // Files that outlive the database must not call back into it.
  for (auto& [sNome, pFile] : m_mapFiles) pFile->DesligaDataBase();
  m_mapFiles.clear();
}

void CZelDataBase::AddFile(CZelFileBase* pFile) {
  if (pFile == nullptr) return;
  if (m_bControleCriacaoDesabilitado) pFile->DesabilitaControleCriacaoArquivos();
  m_mapFiles.emplace(pFile->GetNomeArquivo(), pFile);
}

void CZelDataBase::RemoveFile(CZelFileBase* pFile) {
  for (auto it = m_mapFiles.begin(); it != m_mapFiles.end(); ++it)
    if (it->second == pFile) {
      m_mapFiles.erase(it);
      return;
    }
}

HRESULT CZelDataBase::DeletaArquivos(bool bGerarLog) {
  for (auto& [sNome, pFile] : m_mapFiles) {
    HRESULT hr = pFile->DeletaArquivo(bGerarLog);
    if (FAILED(hr)) {
      ZelTraceHR(this, "CZelDataBase::DeletaArquivos", kFonte, __LINE__, "hr = file.second->DeletaArquivo(bGerarLog)",
                 "hr", hr);
      return hr;
    }
  }
  return S_OK;
}

void CZelDataBase::SetModulo(_ZelModulo zelModulo) {
  m_eModulo = zelModulo;
  for (auto& [sNome, pFile] : m_mapFiles) pFile->SetModulo(zelModulo);
}

void CZelDataBase::DesabilitaControleCriacaoArquivos() {
  m_bControleCriacaoDesabilitado = true;
  for (auto& [sNome, pFile] : m_mapFiles) pFile->DesabilitaControleCriacaoArquivos();
}

HRESULT CZelDataBase::PrecisaConverter() {
  if (m_sArquivoVersao.empty()) return S_OK;
  REG_CR_ZELDATABASE_VERSAO regVersao{};
  HRESULT hr = CZelDataBaseUtil::LeSingleReg(this, GetModulo(), &regVersao, m_sArquivoVersao);
  if (FAILED(hr)) {
    ZelTraceHR(this, "CZelDataBase::PrecisaConverter", kFonte, __LINE__,
               "hr = CZelDataBaseUtil::LeSingleReg(this, GetModulo(), &regVersao, m_sArquivoVersao)", "hr", hr);
    return hr;
  }
  if (regVersao.iVersaoBaseDados > m_usVersaoBaseDados) {
    ZelTraceHR(this, "CZelDataBase::PrecisaConverter", kFonte, __LINE__, "hr = E_ZELCR_VERSAO_BASE_DADOS_POSTERIOR",
               "hr", E_ZELCR_VERSAO_BASE_DADOS_POSTERIOR);
    return E_ZELCR_VERSAO_BASE_DADOS_POSTERIOR;
  }
  if (regVersao.usVersaoShrink > ZELDATABASE_VERSAO_SHRINK) {
    ZelTraceHR(this, "CZelDataBase::PrecisaConverter", kFonte, __LINE__, "hr = E_ZELCR_VERSAO_SHRINK_POSTERIOR", "hr",
               E_ZELCR_VERSAO_SHRINK_POSTERIOR);
    return E_ZELCR_VERSAO_SHRINK_POSTERIOR;
  }
  while (regVersao.iVersaoBaseDados < m_usVersaoBaseDados) {
    hr = ExecutaConversao(regVersao.iVersaoBaseDados);
    if (FAILED(hr)) {
      ZelTraceHR(this, "CZelDataBase::PrecisaConverter", kFonte, __LINE__,
                 "hr = ExecutaConversao(regVersao.iVersaoBaseDados)", "hr", hr);
      return hr;
    }
    ++regVersao.iVersaoBaseDados;
    hr = CZelDataBaseUtil::GravaSingleReg(this, GetModulo(), regVersao, m_sArquivoVersao);
    if (FAILED(hr)) {
      ZelTraceHR(this, "CZelDataBase::PrecisaConverter", kFonte, __LINE__,
                 "hr = CZelDataBaseUtil::GravaSingleReg(this, GetModulo(), regVersao, m_sArquivoVersao)", "hr", hr);
      return hr;
    }
  }
  if (regVersao.usVersaoShrink != ZELDATABASE_VERSAO_SHRINK) {
    hr = ExecutaShrink();
    if (FAILED(hr)) {
      ZelTraceHR(this, "CZelDataBase::PrecisaConverter", kFonte, __LINE__, "hr = ExecutaShrink()", "hr", hr);
      return hr;
    }
    regVersao.usVersaoShrink = ZELDATABASE_VERSAO_SHRINK;
    hr = CZelDataBaseUtil::GravaSingleReg(this, GetModulo(), regVersao, m_sArquivoVersao);
    if (FAILED(hr)) {
      ZelTraceHR(this, "CZelDataBase::PrecisaConverter", kFonte, __LINE__,
                 "hr = CZelDataBaseUtil::GravaSingleReg(this, GetModulo(), regVersao, m_sArquivoVersao)", "hr", hr);
      return hr;
    }
  }
  return S_OK;
}

HRESULT CZelDataBase::OnInicializa() {
  HRESULT hr = PrecisaConverter();
  if (FAILED(hr)) {
    ZelTraceHR(this, "CZelDataBase::OnInicializa", kFonte, __LINE__, "hr = PrecisaConverter()", "hr", hr);
    return hr;
  }
  hr = RotinaPosConversao();
  if (FAILED(hr)) {
    ZelTraceHR(this, "CZelDataBase::OnInicializa", kFonte, __LINE__, "hr = RotinaPosConversao()", "hr", hr);
    return hr;
  }
  hr = CZelBaseParaRotinas::OnInicializa();
  if (FAILED(hr)) return hr;
  // The map may not change while files start; copy the order first.
  std::vector<CZelFileBase*> aFiles;
  for (auto& [sNome, pFile] : m_mapFiles) aFiles.push_back(pFile);
  for (CZelFileBase* pFile : aFiles) {
    hr = pFile->Inicializa(this);
    if (FAILED(hr)) {
      ZelTraceHR(this, "CZelDataBase::OnInicializa", kFonte, __LINE__, "hr = file.second->Inicializa(this)", "hr", hr);
      return hr;
    }
  }
  return S_OK;
}

HRESULT CZelDataBase::OnFinaliza() {
  for (auto& [sNome, pFile] : m_mapFiles) {
    HRESULT hr = pFile->Finaliza();
    if (FAILED(hr)) {
      ZelTraceHR(this, "CZelDataBase::OnFinaliza", kFonte, __LINE__, "hr = file.second->Finaliza()", "hr", hr);
      return hr;
    }
  }
  return CZelBaseParaRotinas::OnFinaliza();
}
