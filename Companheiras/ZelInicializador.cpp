#include "ZelInicializador.h"

HRESULT CZelInicializador::Inicializa(const IZelDF_Profiler* pDono) {
  if (pDono == nullptr) return E_POINTER;
  return Inicializa(pDono->GetEmpresa(), pDono->GetUsuario(), static_cast<long>(pDono->GetNumeroSessao()));
}

HRESULT CZelInicializador::Inicializa(const char* szEmpresa, unsigned short usUsuario, long lSessao) {
  return Inicializa(std::string(szEmpresa != nullptr ? szEmpresa : ""), usUsuario, lSessao);
}

HRESULT CZelInicializador::Inicializa(const std::string& sEmpresa, unsigned short usUsuario, long lSessao) {
  if (m_bInicializado) return S_OK;
  m_sEmpresa = sEmpresa;
  m_usUsuario = usUsuario;
  m_ulSessao = static_cast<unsigned long>(lSessao);
  HRESULT hr = OnInicializa();
  m_bInicializado = SUCCEEDED(hr);
  return hr;
}

HRESULT CZelInicializador::Finaliza() {
  if (!m_bInicializado) return S_OK;
  HRESULT hr = OnFinaliza();
  m_bInicializado = false;
  return hr;
}
