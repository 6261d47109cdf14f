#include "ZelFileCopia.h"

#include "ZelDataBaseUtil.h"
#include "ZelProfiler.h"

HRESULT CZelFileCopia::OnInicializa() {
  HRESULT hr = CZelFileBase::OnInicializa();
  if (FAILED(hr)) return hr;
  hr = CZelDataBaseUtil::DeletaArquivo(this, m_eModulo, m_sNomeArquivo, GetFlagDeletaArquivo());
  if (FAILED(hr))
    ZelTraceHR(this, "CZelFileCopia::OnInicializa", "ZelFileCopia", __LINE__,
               "hr = CZelDataBaseUtil::DeletaArquivo(this, m_eModulo, m_sNomeArquivo, GetFlagDeletaArquivo())", "hr", hr);
  return hr;
}
