// One open record database per company in the process, shared by reference
// count among the service objects of that company. With delayed close on
// ("HabilitaTimerFecharArquivo"), a database nobody holds stays loaded until
// a quiet period passes without a further release, so a client that comes
// back at once finds it ready.
//
// Thread-safe: one reader/writer lock guards the map and every entry, and a
// database starts and stops under it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "ZelArquivo.h"
#include "ZelDataBaseDefs.h"
#include "ZelInicializador.h"
#include "ZelProfiler.h"
#include "ZelRegistro.h"
#include "ZelTempo.h"

constexpr HRESULT E_ZELCR_CONTAINER_SEM_DATABASE = HR(0x80FF0D33);
constexpr uint32_t kSemModulo = 0xFFFFFFFF;

// An auto-reset event: one wait consumes one signal.
class CZelEventoAutoReset {
 public:
  void Sinaliza() {
    {
      std::lock_guard<std::mutex> trava(m_mutex);
      m_bSinalizado = true;
    }
    m_cv.notify_one();
  }
  void Espera() {
    std::unique_lock<std::mutex> trava(m_mutex);
    m_cv.wait(trava, [this] { return m_bSinalizado; });
    m_bSinalizado = false;
  }
  // True when signalled within the period.
  bool Espera(uint32_t ulMilissegundos) {
    std::unique_lock<std::mutex> trava(m_mutex);
    if (!m_cv.wait_for(trava, std::chrono::milliseconds(ulMilissegundos), [this] { return m_bSinalizado; }))
      return false;
    m_bSinalizado = false;
    return true;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_bSinalizado = false;
};

template <class D>
class CZelDataBaseContainerFacade {
 public:
  CZelDataBaseContainerFacade() : m_bFechamentoAdiado(ZelLeChaveZel("HabilitaTimerFecharArquivo") != 0) {}
  CZelDataBaseContainerFacade(const CZelDataBaseContainerFacade&) = delete;
  CZelDataBaseContainerFacade& operator=(const CZelDataBaseContainerFacade&) = delete;

  HRESULT Inicializa(const std::string& sEmpresa, unsigned short usUsuario, unsigned long ulSessao, D*& pDataBase,
                     uint32_t ulModulo);
  HRESULT Finaliza(const std::string& sEmpresa, D*& pDataBase);
  bool ExisteDataBase(const std::string& sEmpresa) {
    std::shared_lock<std::shared_mutex> trava(m_lock);
    return m_mapa.count(Chave(sEmpresa)) != 0;
  }
  bool GetFechamentoAdiado() const { return m_bFechamentoAdiado; }
  // Holders of a company's database (0 when absent or idle).
  uint64_t GetReferencias(const std::string& sEmpresa) {
    std::shared_lock<std::shared_mutex> trava(m_lock);
    auto it = m_mapa.find(Chave(sEmpresa));
    return it == m_mapa.end() ? 0 : it->second->ullReferencias;
  }

  struct ContextoFechamento {
    CZelDataBaseContainerFacade* pContainer;
    CZelProfilerEmpresa identidade;
    std::shared_ptr<CZelEventoAutoReset> pEvento;
  };
  // The delayed-close thread of one entry.
  static unsigned long FechaArquivos(ContextoFechamento* pContexto);

 private:
  struct Entrada {
    uint64_t ullReferencias = 0;
    std::unique_ptr<D> m_pInterface;
    std::shared_ptr<CZelEventoAutoReset> pEvento;
  };
  static std::string Chave(const std::string& sEmpresa) { return ZelMaiusculasNome(sEmpresa); }

  std::unordered_map<std::string, std::unique_ptr<Entrada>> m_mapa;
  std::shared_mutex m_lock;
  const bool m_bFechamentoAdiado;
};

template <class D>
HRESULT CZelDataBaseContainerFacade<D>::Inicializa(const std::string& sEmpresa, unsigned short usUsuario,
                                                   unsigned long ulSessao, D*& pDataBase, uint32_t ulModulo) {
  const std::string sChave = Chave(sEmpresa);
  std::unique_lock<std::shared_mutex> trava(m_lock);
  HRESULT hr = S_OK;
  auto it = m_mapa.find(sChave);
  if (it != m_mapa.end()) {
    pDataBase = it->second->m_pInterface.get();
    ++it->second->ullReferencias;
  } else {
    auto pEntrada = std::make_unique<Entrada>();
    pEntrada->m_pInterface = std::make_unique<D>();
    if (ulModulo < kSemModulo) pEntrada->m_pInterface->SetModulo(static_cast<_ZelModulo>(ulModulo));
    hr = pEntrada->m_pInterface->CZelInicializador::Inicializa(sEmpresa, usUsuario, static_cast<long>(ulSessao));
    if (FAILED(hr)) return hr;
    pDataBase = pEntrada->m_pInterface.get();
    pEntrada->ullReferencias = 1;
    if (m_bFechamentoAdiado) {
      pEntrada->pEvento = std::make_shared<CZelEventoAutoReset>();
      try {
        auto* pContexto = new ContextoFechamento{this, CZelProfilerEmpresa(sEmpresa, usUsuario, ulSessao),
                                                 pEntrada->pEvento};
        try {
          std::thread(&CZelDataBaseContainerFacade::FechaArquivos, pContexto).detach();
        } catch (...) {
          delete pContexto;
          throw;
        }
      } catch (const std::exception&) {
        // Without its thread the entry closes at once on its last release.
        pEntrada->pEvento.reset();
      }
    }
    m_mapa.emplace(sChave, std::move(pEntrada));
  }
  if (pDataBase == nullptr) return E_ZELCR_CONTAINER_SEM_DATABASE;
  return hr;
}

template <class D>
HRESULT CZelDataBaseContainerFacade<D>::Finaliza(const std::string& sEmpresa, D*& pDataBase) {
  std::unique_lock<std::shared_mutex> trava(m_lock);
  auto it = m_mapa.find(Chave(sEmpresa));
  if (it == m_mapa.end()) return S_OK;
  Entrada& entrada = *it->second;
  if (entrada.ullReferencias > 0) --entrada.ullReferencias;
  if (entrada.ullReferencias != 0) return S_OK;
  HRESULT hr = S_OK;
  if (entrada.pEvento && m_bFechamentoAdiado) {
    entrada.pEvento->Sinaliza();
  } else {
    hr = entrada.m_pInterface->Finaliza();
    m_mapa.erase(it);
  }
  pDataBase = nullptr;
  return hr;
}

template <class D>
unsigned long CZelDataBaseContainerFacade<D>::FechaArquivos(ContextoFechamento* pContextoBruto) {
  std::unique_ptr<ContextoFechamento> pContexto(pContextoBruto);
  CZelDataBaseContainerFacade& container = *pContexto->pContainer;
  const std::string sChave = Chave(pContexto->identidade.GetEmpresa());
  CZelEventoAutoReset& evento = *pContexto->pEvento;
  std::unique_lock<std::shared_mutex> trava(container.m_lock);
  auto it = container.m_mapa.find(sChave);
  if (it == container.m_mapa.end()) return 0;
  for (;;) {
    trava.unlock();
    evento.Espera();
    // Every release within the quiet period starts it again.
    while (evento.Espera(ZelTempoMs(ZelTempo::kFechamentoAdiadoBase))) {
    }
    trava.lock();
    it = container.m_mapa.find(sChave);
    if (it == container.m_mapa.end()) return 0;
    if (it->second->ullReferencias == 0) break;
  }
  HRESULT hr = it->second->m_pInterface->Finaliza();
  if (FAILED(hr))
    ZelTraceHR(&pContexto->identidade, "CZelDataBaseContainerFacade::FechaArquivos", "ZelDataBaseContainerFacade",
               __LINE__, "hr = itDataBase->second->m_pInterface->Finaliza()", "hr", hr);
  container.m_mapa.erase(it);
  return 0;
}
