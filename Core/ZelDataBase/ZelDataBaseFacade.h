// Base of a business object that works on its company's shared record
// database D: initialisation converts the company's files once per opening
// of the database in the process (under the process-wide write lock) and
// then takes the database from the container; finalisation gives it back.
#pragma once

#include <cstdint>
#include <mutex>

#include "ZelDataBaseContainerFacade.h"
#include "ZelProfiler.h"

constexpr HRESULT E_ZELCR_INICIALIZACAO_ZELDATABASE_SEM_EMPRESA = HR(0x810809CF);

// The process-wide write lock: data conversion and the writing of field values.
std::mutex& ZelTravaGravacaoDataBase();

template <class D, class B>
class CZelDataBaseFacade : public B {
 public:
  CZelDataBaseFacade() = default;
  ~CZelDataBaseFacade() override {
    // An object destroyed without finalising still gives its database back.
    DevolveDataBase();
  }

  HRESULT ZelDataBaseInicializa();
  HRESULT ExecutaConversaoInterno();
  // The business object's conversion of the company's files.
  virtual HRESULT ExecutaConversao() { return S_OK; }

  uint32_t GetModulo() const { return m_ulModulo; }
  void SetModulo(uint32_t ulModulo) { m_ulModulo = ulModulo; }
  D* GetDataBase() const { return m_pDataBase; }

  // One container per database class and process; never destroyed, since
  // delayed-close threads may outlive static destruction.
  static CZelDataBaseContainerFacade<D>& m_ContainerFacade() {
    static auto* p = new CZelDataBaseContainerFacade<D>;
    return *p;
  }

 protected:
  HRESULT OnFinaliza() override;
  // Gives the database back (a failed start after taking it).
  // The container leaves the pointer alone while others hold the database;
  // this object holds it no longer either way.
  HRESULT DevolveDataBase() {
    if (m_pDataBase == nullptr) return S_OK;
    HRESULT hr = m_ContainerFacade().Finaliza(this->GetEmpresa(), m_pDataBase);
    m_pDataBase = nullptr;
    return hr;
  }

  D* m_pDataBase = nullptr;

 private:
  void TracaFacade(int nLinha, const char* szFuncao, const char* szExpressao, HRESULT hr) const {
    ZelTraceHR(this, szFuncao, "ZelDataBaseFacade", nLinha, szExpressao, "hr", hr);
  }
  uint32_t m_ulModulo = kSemModulo;
};

template <class D, class B>
HRESULT CZelDataBaseFacade<D, B>::ZelDataBaseInicializa() {
  static constexpr const char* kFuncao = "CZelDataBaseFacade::ZelDataBaseInicializa";
  if (this->GetEmpresa().empty()) {
    TracaFacade(__LINE__, kFuncao, "hr = E_ZELCR_INICIALIZACAO_ZELDATABASE_SEM_EMPRESA",
          E_ZELCR_INICIALIZACAO_ZELDATABASE_SEM_EMPRESA);
    return E_ZELCR_INICIALIZACAO_ZELDATABASE_SEM_EMPRESA;
  }
  HRESULT hr = ExecutaConversaoInterno();
  if (FAILED(hr)) {
    TracaFacade(__LINE__, kFuncao, "hr = ExecutaConversaoInterno()", hr);
    return hr;
  }
  hr = m_ContainerFacade().Inicializa(this->GetEmpresa(), this->GetUsuario(), this->GetNumeroSessao(), m_pDataBase,
                                      GetModulo());
  if (FAILED(hr))
    TracaFacade(__LINE__, kFuncao,
          "hr = m_ContainerFacade.Inicializa(GetEmpresa(), GetUsuario(), GetNumeroSessao(), m_pDataBase, GetModulo())",
          hr);
  return hr;
}

template <class D, class B>
HRESULT CZelDataBaseFacade<D, B>::ExecutaConversaoInterno() {
  if (m_ContainerFacade().ExisteDataBase(this->GetEmpresa())) return S_OK;
  std::lock_guard<std::mutex> trava(ZelTravaGravacaoDataBase());
  if (m_ContainerFacade().ExisteDataBase(this->GetEmpresa())) return S_OK;
  HRESULT hr = ExecutaConversao();
  if (FAILED(hr)) TracaFacade(__LINE__, "CZelDataBaseFacade::ExecutaConversaoInterno", "hr = ExecutaConversao()", hr);
  return hr;
}

template <class D, class B>
HRESULT CZelDataBaseFacade<D, B>::OnFinaliza() {
  HRESULT hr = DevolveDataBase();
  if (FAILED(hr)) {
    TracaFacade(__LINE__, "CZelDataBaseFacade::OnFinaliza", "hr = m_ContainerFacade.Finaliza(GetEmpresa(), m_pDataBase)", hr);
    return hr;
  }
  hr = B::OnFinaliza();
  if (FAILED(hr)) TracaFacade(__LINE__, "CZelDataBaseFacade::OnFinaliza", "hr = __super::OnFinaliza()", hr);
  return hr;
}
