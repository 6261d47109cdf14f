// Base of every service object: owns the business object B, implements the
// seven base methods of the interface I, and runs each call in the guarded
// frame (yield, invalid-parameter reporter, profiler scope, default server
// access, machine-fault and exception guards, error lines). Calls may arrive
// on several threads at once; the frame takes no lock around them, and the
// business object is held by shared ownership so that discarding it after a
// fault never pulls it from under another thread's call.
#pragma once

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

#include "ZelBaseParaRotinas.h"
#include "ZelCrc.h"
#include "ZelDF_IEx.h"
#include "ZelDados.h"
#include "ZelException.h"
#include "ZelMens.h"
#include "ZelProfiler.h"
#include "ZelRPCDLL.h"
#include "ZelRegistro.h"
#include "ZelSEH.h"
#include "ZelSistema.h"

// How a type is spelled in function names of the log lines.
template <class T>
struct ZelNomeTipo {
  static std::string Nome() {
    int status = 0;
    char* sz = abi::__cxa_demangle(typeid(T).name(), nullptr, nullptr, &status);
    std::string s = std::string("class ") + (status == 0 && sz != nullptr ? sz : typeid(T).name());
    std::free(sz);
    return s;
  }
};
template <>
struct ZelNomeTipo<IZelDF_IEx> {
  static std::string Nome() { return "struct IZelDF_IEx"; }
};
template <>
struct ZelNomeTipo<IZelUnknown> {
  static std::string Nome() { return "struct IZelUnknown"; }
};

// A machine fault goes to the message library with its stack, whoever met it.
inline void ZelReportaFalhaMaquina(HRESULT hr, const char* szEmpresa, const char* szArquivo, int nLinha,
                                   const ZelFalhaMaquina& falha) {
  ZelTrataErroExported(E_ZELCR_EXCECAO_REPORTADA, hr, 0x7FFFFFFF, szEmpresa, szArquivo, nLinha, 1, 0,
                       ZelCaminhoPrograma().c_str(), falha.sPilha.c_str());
}

// Usage record of one call for the suite's analytics.
struct ZelUsoAnalytics {
  unsigned long ulChamadas = 0;
  uint64_t ullMilissegundos = 0;
};

template <class I, class B>
class T_ZelUnknown : public IZelDF_Profiler, public I, public IZelDF_ProfilerRegistro {
 public:
  using ListaAlteracoes = std::vector<CZelDadosCR_Alteracao>;

  T_ZelUnknown();
  ~T_ZelUnknown() override;

  // Identity, forwarded to the business object.
  std::string GetEmpresa() const override {
    auto p = Base();
    return p ? p->GetEmpresa() : std::string();
  }
  unsigned short GetUsuario() const override {
    auto p = Base();
    return p ? p->GetUsuario() : 0;
  }
  unsigned long GetNumeroSessao() const override {
    auto p = Base();
    return p ? p->GetNumeroSessao() : 0;
  }
  const _REG_DF_INICIALIZAPS* GetRegistroInicializacao() const override { return &m_regInicializa; }

  virtual HRESULT OnAlteracaoMultiplaMovimento(UI8& /*regDMC*/, ListaAlteracoes& /*listaAlteracoes*/) {
    return E_NOTIMPL;
  }
  virtual HRESULT OnAlteracaoMultiplaCadastro(UI4 /*ulPonteiro*/, ListaAlteracoes& /*listaAlteracoes*/) {
    return E_NOTIMPL;
  }

  // The COM object's final construction.
  HRESULT FinalConstruct() { return m_hrConstruct; }

  HRESULT Inicializa_Padrao(_REG_DF_INICIALIZAPS regps) override;
  HRESULT KeepAlive(I4* pbOK) override;
  HRESULT GetUltimoErro(_REG_DF_ERROPS* pregErrops) override;
  HRESULT FuncaoGenerica(UI4 ulFuncao, _REG_CR_LISTA_BYTESPS regInps, _REG_CR_LISTA_BYTESPS** ppregOutps) override;
  HRESULT AlteracaoMultiplaCadastro(UI4 ulQuantidade, UI4* pulPonteiros, UI4 ulQuantidadeAlteracoes,
                                    _REG_CR_ALTERACAOPS* pregps) override;
  HRESULT AlteracaoMultiplaMovimento(UI4 ulQuantidade, UI8* pregPonteiros, UI4 ulQuantidadeAlteracoes,
                                     _REG_CR_ALTERACAOPS* pregps) override;
  HRESULT CadastroTeveMovimentacao(UI4 eTipoCadastro, UI4 ulPonteiroCadastro, I4* pbTeveMovimentacao) override;

  // "T_ZelUnknown<struct IZelDF_IEx,class CIExBase>"
  static const std::string& NomeTemplate() {
    static const std::string s = "T_ZelUnknown<" + ZelNomeTipo<I>::Nome() + "," + ZelNomeTipo<B>::Nome() + ">";
    return s;
  }

 protected:
  // The guarded call frame. fnPares gives the entry line's pairs and is
  // called only when entry lines are on; corpo runs with the business object.
  template <class FnPares, class Corpo>
  HRESULT ChamaGuardado(const std::string& sFuncao, const char* szArquivo, int nLinha, bool bVerificaEntrada,
                        FnPares fnPares, Corpo corpo);
  template <class Corpo>
  HRESULT ChamaGuardado(const std::string& sFuncao, const char* szArquivo, int nLinha, Corpo corpo) {
    return ChamaGuardado(sFuncao, szArquivo, nLinha, true, [] { return ZelPares{}; }, corpo);
  }

  std::shared_ptr<B> Base() const {
    std::lock_guard<std::mutex> trava(m_mutexBase);
    return m_pBase;
  }
  void DescartaBase() {
    std::shared_ptr<B> p;
    std::lock_guard<std::mutex> trava(m_mutexBase);
    p.swap(m_pBase);
  }

  _REG_DF_INICIALIZAPS m_regInicializa;
  std::shared_ptr<B> m_pBase;
  HRESULT m_hrConstruct;
  std::map<std::string, ZelUsoAnalytics> m_mapAnalytics;

 private:
  // Both change notifications: one hook call per pointer until one answers
  // other than S_OK.
  template <class P, class Hook>
  HRESULT AlteracaoMultipla(const char* szMetodo, int nLinha, const char* szExpressao, UI4 ulQuantidade,
                            P* pPonteiros, UI4 ulQuantidadeAlteracoes, _REG_CR_ALTERACAOPS* pregps, Hook hook);

  // Builds (or destroys) the business object under both guards; the error
  // lines carry the constructor's or destructor's name and line.
  void ExecutaConstrucao(const std::string& sFuncao, int nLinha, const IZelDF_Profiler* pIdentidade,
                         const std::function<void()>& corpo);

  mutable std::mutex m_mutexBase;
};

template <class I, class B>
T_ZelUnknown<I, B>::T_ZelUnknown() : m_regInicializa{}, m_hrConstruct(S_OK) {
  PrevineErroRPC();
  ZelInstalaReporterParametroInvalido("T_ZelUnknown", 14);
  CZelProfilerEmpresa identidade("");
  CZelProfiler prof(&identidade);
  std::string sFuncao = NomeTemplate() + "::T_ZelUnknown";
  prof.Entrada(sFuncao.c_str());
  ExecutaConstrucao(sFuncao, 14, &identidade, [this] { m_pBase = std::make_shared<B>(); });
}

template <class I, class B>
T_ZelUnknown<I, B>::~T_ZelUnknown() {
  PrevineErroRPC();
  ZelInstalaReporterParametroInvalido("T_ZelUnknown", 21);
  CZelProfilerEmpresa identidade("");
  CZelProfiler prof(&identidade);
  std::string sFuncao = NomeTemplate() + "::~T_ZelUnknown";
  prof.Entrada(sFuncao.c_str());
  ExecutaConstrucao(sFuncao, 21, &identidade, [this] { DescartaBase(); });
  // No analytics writer is configured here, so the table is simply freed.
  m_mapAnalytics.clear();
}

template <class I, class B>
void T_ZelUnknown<I, B>::ExecutaConstrucao(const std::string& sFuncao, int nLinha, const IZelDF_Profiler* pIdentidade,
                                           const std::function<void()>& corpo) {
  ZelFalhaMaquina falha;
  try {
    if (!ZelExecutaProtegido(corpo, &falha)) {
      m_hrConstruct = ZelSEHParaHresult(falha.dwCodigo);
      ZelReportaFalhaMaquina(m_hrConstruct, "", "T_ZelUnknown", nLinha, falha);
      ZelTraceHR(pIdentidade, sFuncao.c_str(), "T_ZelUnknown", nLinha, "m_hrConstruct = pfInSEHFuncao()",
                 "m_hrConstruct", m_hrConstruct);
    }
  } catch (...) {
    m_hrConstruct = ZelTranslateThrownExceptionToHresult();
    ZelTraceHR(pIdentidade, sFuncao.c_str(), "T_ZelUnknown", nLinha,
               "m_hrConstruct = ZelTranslateThrownExceptionToHresult()", "m_hrConstruct", m_hrConstruct);
  }
}

template <class I, class B>
template <class FnPares, class Corpo>
HRESULT T_ZelUnknown<I, B>::ChamaGuardado(const std::string& sFuncao, const char* szArquivo, int nLinha,
                                          bool bVerificaEntrada, FnPares fnPares, Corpo corpo) {
  std::shared_ptr<B> pBase = Base();
  if (bVerificaEntrada && (!pBase || !pBase->EstaInicializado())) return E_ZELCR_OBJETO_NAO_INICIALIZADO;

  uint64_t ullInicio = GetTickCount64();
  PrevineErroRPC();
  ZelInstalaReporterParametroInvalido(szArquivo, nLinha);
  CZelProfiler prof(this);
  prof.EntradaSobDemanda(sFuncao.c_str(), fnPares);
  std::string sEmpresa = pBase ? pBase->GetEmpresa() : std::string();

  struct EscopoAcesso {
    bool bAtivo = false;
    ~EscopoAcesso() {
      if (bAtivo) CZelBaseParaRotinas::SetAcessoDefault(nullptr);
    }
  } escopo;
  if (pBase) {
    CZelBaseParaRotinas* pRotinas = pBase->GetBaseParaRotinas();
    if (pRotinas != nullptr && pRotinas->EstaInicializado()) {
      CZelBaseParaRotinas::SetAcessoDefault(pRotinas);
      escopo.bAtivo = true;
    }
  }

  HRESULT hr = S_OK;
  ZelFalhaMaquina falha;
  try {
    // Looked up again: a fault in another thread's call may have discarded
    // the object since the entry check, and its state is no longer trusted.
    pBase = Base();
    bool bNormal = ZelExecutaProtegido([&] { hr = pBase ? corpo(*pBase) : E_ZELCR_OBJETO_NAO_CRIADO; }, &falha);
    if (!bNormal) {
      hr = ZelSEHParaHresult(falha.dwCodigo);
      ZelReportaFalhaMaquina(hr, sEmpresa.c_str(), szArquivo, nLinha, falha);
    }
    if (FAILED(hr)) ZelTraceHR(this, sFuncao.c_str(), szArquivo, nLinha, "hr = pfInSEHFuncao()", "hr", hr);
    if (ZelEhCodigoFalhaMaquina(hr)) {
      pBase.reset();
      DescartaBase();
    }
  } catch (...) {
    hr = ZelTranslateThrownExceptionToHresult();
    if (hr != S_OK)
      ZelTraceHR(this, sFuncao.c_str(), szArquivo, nLinha, "hr = ZelTranslateThrownExceptionToHresult()", "hr", hr);
  }
  (void)ullInicio;  // the analytics configuration selects no call here
  return hr;
}

template <class I, class B>
HRESULT T_ZelUnknown<I, B>::Inicializa_Padrao(_REG_DF_INICIALIZAPS regps) {
  const std::string sFuncao = NomeTemplate() + "::Inicializa_Padrao";
  auto falha = [&](HRESULT hr, int nLinha, const char* szExpressao) {
    ZelTraceHR(this, sFuncao.c_str(), "T_ZelUnknown", nLinha, szExpressao, "hr", hr);
    return hr;
  };
  if (regps.usVersaoMorvo != kVersaoMorvo)
    return falha(E_ZELCR_VERSAO_INCOMPATIVEL, 40, "hr = E_ZELCR_VERSAO_INCOMPATIVEL");
  if (ZelLeChaveZel("DesabilitaControleInicializacao") == 0) {
    if (ZelCrc64(&regps, kBytesCRCInicializacao) != regps.uiCRC)
      return falha(E_ZELCR_CRC_INICIALIZACAO_INVALIDO, 49, "hr = E_ZELCR_CRC_INICIALIZACAO_INVALIDO");
    if (regps.szAplicativo[0] == '\0' || regps.szModuleName[0] == '\0' || regps.szArquivoFonte[0] == '\0' ||
        regps.ulLinhaFonte == 0 || regps.cControle != 'B')
      return falha(E_ZELCR_ESTRUTURA_INICIALIZACAO_INVALIDA, 66, "hr = E_ZELCR_ESTRUTURA_INICIALIZACAO_INVALIDA");
  }
  m_regInicializa = regps;
  HRESULT hr = ChamaGuardado(
      sFuncao + "::<lambda_1>::operator ()", "T_ZelUnknown", 74, false, [] { return ZelPares{}; },
      [this](B& base) { return base.CZelBaseParaRotinas::Inicializa(m_regInicializa); });
  std::shared_ptr<B> pBase = Base();
  if (pBase && (FAILED(hr) || !pBase->EstaInicializado())) DescartaBase();
  if (FAILED(hr)) std::memset(&m_regInicializa, 0, sizeof m_regInicializa);
  return hr;
}

template <class I, class B>
HRESULT T_ZelUnknown<I, B>::KeepAlive(I4* pbOK) {
  Sleep(0);
  if (pbOK == nullptr) return E_POINTER;
  *pbOK = 1;
  return S_OK;
}

template <class I, class B>
HRESULT T_ZelUnknown<I, B>::GetUltimoErro(_REG_DF_ERROPS* pregErrops) {
  Sleep(0);
  if (pregErrops != nullptr) std::memset(pregErrops, 0, sizeof *pregErrops);
  std::shared_ptr<B> pBase = Base();
  if (pBase && pregErrops != nullptr) pBase->GetErro()->CopiarPara(pregErrops);
  return S_OK;
}

template <class I, class B>
HRESULT T_ZelUnknown<I, B>::FuncaoGenerica(UI4 ulFuncao, _REG_CR_LISTA_BYTESPS regInps,
                                           _REG_CR_LISTA_BYTESPS** ppregOutps) {
  return ChamaGuardado(NomeTemplate() + "::FuncaoGenerica", "T_ZelUnknown", 104, [&](B& base) {
    return base.FuncaoGenerica(ulFuncao, regInps, ppregOutps);
  });
}

template <class I, class B>
template <class P, class Hook>
HRESULT T_ZelUnknown<I, B>::AlteracaoMultipla(const char* szMetodo, int nLinha, const char* szExpressao,
                                              UI4 ulQuantidade, P* pPonteiros, UI4 ulQuantidadeAlteracoes,
                                              _REG_CR_ALTERACAOPS* pregps, Hook hook) {
  if (ulQuantidade == 0) return S_OK;
  const std::string sFuncao = NomeTemplate() + "::" + szMetodo;
  if (pPonteiros == nullptr || (ulQuantidadeAlteracoes > 0 && pregps == nullptr)) {
    ZelTraceHR(this, sFuncao.c_str(), "T_ZelUnknown", nLinha, "hr = E_POINTER", "hr", E_POINTER);
    return E_POINTER;
  }
  ListaAlteracoes lista(ulQuantidadeAlteracoes);
  for (UI4 i = 0; i < ulQuantidadeAlteracoes; ++i) lista[i].CopiarDe(&pregps[i]);
  HRESULT hr = S_OK;
  for (UI4 i = 0; i < ulQuantidade && hr == S_OK; ++i) hr = hook(pPonteiros[i], lista);
  if (hr != S_OK) ZelTraceHR(this, sFuncao.c_str(), "T_ZelUnknown", nLinha, szExpressao, "hr", hr);
  return hr;
}

template <class I, class B>
HRESULT T_ZelUnknown<I, B>::AlteracaoMultiplaCadastro(UI4 ulQuantidade, UI4* pulPonteiros, UI4 ulQuantidadeAlteracoes,
                                                      _REG_CR_ALTERACAOPS* pregps) {
  return AlteracaoMultipla("AlteracaoMultiplaCadastro", 120,
                           "hr = OnAlteracaoMultiplaCadastro(ulPonteiro, listaAlteracoes)", ulQuantidade, pulPonteiros,
                           ulQuantidadeAlteracoes, pregps,
                           [this](UI4& ul, ListaAlteracoes& l) { return OnAlteracaoMultiplaCadastro(ul, l); });
}

template <class I, class B>
HRESULT T_ZelUnknown<I, B>::AlteracaoMultiplaMovimento(UI4 ulQuantidade, UI8* pregPonteiros,
                                                       UI4 ulQuantidadeAlteracoes, _REG_CR_ALTERACAOPS* pregps) {
  return AlteracaoMultipla("AlteracaoMultiplaMovimento", 139,
                           "hr = OnAlteracaoMultiplaMovimento(regDMC, listaAlteracoes)", ulQuantidade, pregPonteiros,
                           ulQuantidadeAlteracoes, pregps,
                           [this](UI8& ull, ListaAlteracoes& l) { return OnAlteracaoMultiplaMovimento(ull, l); });
}

template <class I, class B>
HRESULT T_ZelUnknown<I, B>::CadastroTeveMovimentacao(UI4, UI4, I4*) {
  return E_NOTIMPL;
}
