#include "ZelArqMarcaFila.h"

#include <cstdio>

#include "ZelCrc.h"
#include "ZelMutexNomeado.h"
#include "ZelProfiler.h"
#include "ZelRegistro.h"
#include "ZelSistema.h"
#include "ZelTempo.h"

namespace {
constexpr const char* kFuncaoMarca = "CZelArqMarcaFila::Marca";
}  // namespace

CZelArqMarcaFila::CZelArqMarcaFila(const IZelDF_Profiler* pDono)
    : m_pDono(pDono),
      m_ulTimeOut(ZelLeTextoZel(kChaveEsperaLongaMarcaFila) == kEsperaLongaMarcaFila ? ZelTempo::kEsperaMarcaFilaLonga
                                                                                     : ZelTempo::kEsperaMarcaFila) {}

CZelArqMarcaFila::~CZelArqMarcaFila() { Desmarca(); }

std::string CZelArqMarcaFila::NomeMutex(const std::string& sDiretorio, unsigned long ulProcesso) {
  char sz[96];
  std::snprintf(sz, sizeof sz, "{1E80C536-B97F-4642-AC9D-E11BD3E07233} %u %d", ZelCrc32(sDiretorio),
                static_cast<int>(ulProcesso));
  return sz;
}

int CZelArqMarcaFila::Marca(const std::string& sDiretorio, unsigned long ulProcesso, const std::string& /*sModulo*/) {
  if (!m_pMutex) {
    auto pMutex = std::make_unique<CZelMutexNomeado>(NomeMutex(sDiretorio, ulProcesso));
    if (!pMutex->Valido()) {
      DWORD dwErro = static_cast<DWORD>(pMutex->ErroCriacao());
      HRESULT hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, dwErro);
      ZelTraceHR(this, kFuncaoMarca, "ZelArqMarcaFila", __LINE__, "hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, dwErro)",
                 "hr", hr);
      return hr;
    }
    m_pMutex = std::move(pMutex);
  }

  // An abandoned mutex sets no system error, so it reports 0x80070000.
  DWORD dwErro = ERROR_SUCCESS;
  switch (m_pMutex->Espera(ZelTempoMs(m_ulTimeOut))) {
    case WAIT_OBJECT_0:
      ++m_nPosse;
      return 0;
    case WAIT_TIMEOUT: {
      Desmarca();
      int iRetorno = IZelArqMarcaEnum::CodeFailed(ulProcesso);
      if (m_ulTimeOut != ZelTempo::kEsperaMarcaFila) return iRetorno;
      ZelTraceInt(this, kFuncaoMarca, "ZelArqMarcaFila", __LINE__, "IZelArqMarcaEnum::CodeFailed(ulProcesso)", "iRetorno",
                  iRetorno);
      return static_cast<int>(static_cast<uint32_t>(iRetorno) | 0x80040000u);
    }
    case WAIT_ABANDONED:
      // The wait made this thread the owner: Desmarca hands the marker on.
      ++m_nPosse;
      break;
    default:
      dwErro = static_cast<DWORD>(m_pMutex->ErroEspera());
      break;
  }
  Desmarca();
  HRESULT hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, dwErro);
  ZelTraceHR(this, kFuncaoMarca, "ZelArqMarcaFila", __LINE__, "hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, dwErro)", "hr",
             hr);
  return hr;
}

int CZelArqMarcaFila::Desmarca() {
  if (m_pMutex) {
    for (; m_nPosse > 0; --m_nPosse) m_pMutex->Libera();
    Sleep(0);
    m_pMutex.reset();
    Sleep(0);
  }
  m_nPosse = 0;
  Sleep(0);
  return 0;
}

std::string CZelArqMarcaFila::GetEmpresa() const { return m_pDono != nullptr ? m_pDono->GetEmpresa() : std::string(); }
unsigned short CZelArqMarcaFila::GetUsuario() const { return m_pDono != nullptr ? m_pDono->GetUsuario() : 0; }
unsigned long CZelArqMarcaFila::GetNumeroSessao() const {
  return m_pDono != nullptr ? m_pDono->GetNumeroSessao() : 0;
}
