#include "ZelDF_IExServico.h"

#include <cstdio>

#include "Pardak.h"
#include "ZelLocalSeguranca.h"

namespace {
std::string U(unsigned long ul) { return std::to_string(ul); }
std::string D(long l) { return std::to_string(l); }
// Looked up only when the entry line is written.
std::string NomeProcesso(IE_E_PROCESSO e) { return IEGetNomeProcesso(e); }

class CFabricaZelDF_IEx final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    return CZelDF_IEx::Cria(pUnkOuter, riid, ppv);
  }
  HRESULT LockServer(BOOL) override { return S_OK; }
};
void RelataErroRuntime(const char* szFuncao, const char* szArquivo, int nLinha, const char* szExpressao,
                       const char* szVariavel, HRESULT hr) {
  const CZelProfilerEmpresa semEmpresa;
  ZelTraceHR(&semEmpresa, szFuncao, szArquivo, nLinha, szExpressao, szVariavel, hr);
}
}  // namespace

void ZelInstalaRelatorErroServico() { ZelLocalDefineRelatorErro(&RelataErroRuntime); }

HRESULT CZelDF_IEx::Cria(IUnknown* pExterno, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (pExterno != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  auto* p = new CZelDF_IEx;
  p->m_pExterno = pExterno;
  HRESULT hr = p->FinalConstruct();
  if (SUCCEEDED(hr)) hr = p->m_interno.QueryInterface(riid, ppv);
  p->m_interno.Release();
  return hr;
}

IClassFactory* CZelDF_IEx::Fabrica() {
  static CFabricaZelDF_IEx fabrica;
  return &fabrica;
}

HRESULT CZelDF_IEx::QueryInterface(REFIID riid, void** ppv) {
  return m_pExterno != nullptr ? m_pExterno->QueryInterface(riid, ppv) : m_interno.QueryInterface(riid, ppv);
}

HRESULT CZelDF_IEx::CInterno::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  // Alone, the object's unknown is its interface, as it always was.
  if (riid == IID_IUnknown && m_dono.m_pExterno != nullptr) {
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  if (riid == IID_IUnknown || riid == IID_IZelDF_IEx) {
    *ppv = static_cast<IZelDF_IEx*>(&m_dono);
    m_dono.AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CZelDF_IEx::CInterno::Release() {
  ULONG n = --m_cRef;
  if (n == 0) delete &m_dono;
  return n;
}

HRESULT CZelDF_IEx::LeIEHeader(UINT qtd, UI4* pPos, IE_HDR_PS* pTipDoc, UI4 dwFlags) {
  return Chama(
      "LeIEHeader", 12, [&] { return ZelPares{{"uiQtd", U(qtd)}, {"dwFlags", U(dwFlags)}}; },
      [&](CIExBase& b) { return b.LeIEHeader(qtd, pPos, pTipDoc, dwFlags); });
}

HRESULT CZelDF_IEx::GravaIEHeader(UI4* pPos, IE_HDR_PS ps) {
  return Chama(
      "GravaIEHeader", 17,
      [&] { return ZelPares{{"*pulPos", pPos != nullptr ? U(*pPos) : U(0)}, {"ps.eProcesso", D(ps.eProcesso)}}; },
      [&](CIExBase& b) { return b.GravaIEHeader(pPos, ps); });
}

HRESULT CZelDF_IEx::BuscaPtrsIEHeader(IE_HEADER_FILTRO_PS filtro, IE_ARRAY_PONTEIROS_PS* pRegPtrs) {
  return Chama(
      "BuscaPtrsIEHeader", 22, [&] { return ZelPares{{"regFiltro.eProc", D(filtro.eProc)}}; },
      [&](CIExBase& b) { return b.BuscaPtrsIEHeader(filtro, pRegPtrs); });
}

HRESULT CZelDF_IEx::ExisteVinculo(UI4 lPosHeader) {
  return Chama(
      "ExisteVinculo", 27, [&] { return ZelPares{{"ulPosHeader", U(lPosHeader)}}; },
      [&](CIExBase& b) { return b.ExisteVinculo(lPosHeader); });
}

HRESULT CZelDF_IEx::GravaCamposVinculo(IE_VINCULO_PS vinculo) {
  return Chama(
      "GravaCamposVinculo", 37,
      [&] {
        return ZelPares{{"regVinculo.origem.lPosHeader", U(vinculo.origem.lPosHeader)},
                        {"regVinculo.origem.lChave", U(vinculo.origem.lChave)}};
      },
      [&](CIExBase& b) { return b.GravaCamposVinculo(vinculo); });
}

HRESULT CZelDF_IEx::BuscaVinculosByOrigem(UI4 lPosHeader, UINT qtd, UI4* pChaves, IE_VINCULO_PS* pVinculos) {
  return Chama(
      "BuscaVinculosByOrigem", 32, [&] { return ZelPares{{"ulPosHeader", U(lPosHeader)}, {"uiQtd", U(qtd)}}; },
      [&](CIExBase& b) { return b.BuscaVinculosByOrigem(lPosHeader, qtd, pChaves, pVinculos); });
}

HRESULT CZelDF_IEx::NotificaExclusaoOrigem(IE_ORIGEM_VINCULO_PS origem) {
  return Chama(
      "NotificaExclusaoOrigem", 42,
      [&] {
        return ZelPares{{"regOrigem.lPosHeader", U(origem.lPosHeader)}, {"regOrigem.lChave", U(origem.lChave)}};
      },
      [&](CIExBase& b) { return b.NotificaExclusaoOrigem(origem); });
}

HRESULT CZelDF_IEx::LeCabecalhoIntegracao(UI4 ulPosicao, _REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho) {
  return Chama(
      "LeCabecalhoIntegracao", 47, [&] { return ZelPares{{"ulPosicao", U(ulPosicao)}}; },
      [&](CIExBase& b) { return b.LeCabecalhoIntegracao(ulPosicao, pRegCabecalho); });
}

HRESULT CZelDF_IEx::GravaCabecalhoIntegracao(UI4 ulPosicaoIn, _REG_IE_CABECALHO_INTEGRACAO_PS reg,
                                             UI4* pulPosicaoOut) {
  return Chama(
      "GravaCabecalhoIntegracao", 52,
      [&] {
        return ZelPares{{"ulPosicaoIn", U(ulPosicaoIn)},
                        {"reg.eProcessoOrigem", D(reg.eProcessoOrigem)},
                        {"reg.eProcessoDestino", D(reg.eProcessoDestino)}};
      },
      [&](CIExBase& b) { return b.GravaCabecalhoIntegracao(ulPosicaoIn, reg, pulPosicaoOut); });
}

HRESULT CZelDF_IEx::GetPonteirosCabecalhoIntegracaoVoviDadi(IE_ARRAY_PONTEIROS_PS* pregPonteiros) {
  return Chama(
      "GetPonteirosCabecalhoIntegracaoVoviDadi", 57, [] { return ZelPares{}; },
      [&](CIExBase& b) { return b.GetPonteirosCabecalhoIntegracaoVoviDadi(pregPonteiros); });
}

HRESULT CZelDF_IEx::GetListaCabecalhosIntegracao(IE_ARRAY_PONTEIROS_PS* pregPonteiros,
                                                 _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS* pRegLista) {
  return Chama(
      "GetListaCabecalhosIntegracao", 62,
      [&] { return ZelPares{{"pRegPonteiros->qtd", pregPonteiros != nullptr ? U(pregPonteiros->qtd) : U(0)}}; },
      [&](CIExBase& b) { return b.GetListaCabecalhosIntegracao(pregPonteiros, pRegLista); });
}

HRESULT CZelDF_IEx::ExisteCabecalhoIntegracao(IE_HEADER_FILTRO_PS regHeaderOrigem,
                                              IE_HEADER_FILTRO_PS regHeaderDestino,
                                              _REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho) {
  return Chama(
      "ExisteCabecalhoIntegracao", 67,
      [&] {
        return ZelPares{{"IEGetNomeProcesso(regHeaderOrigem.eProc)", NomeProcesso(regHeaderOrigem.eProc)},
                        {"IEGetNomeProcesso(regHeaderDestino.eProc)", NomeProcesso(regHeaderDestino.eProc)}};
      },
      [&](CIExBase& b) { return b.ExisteCabecalhoIntegracao(regHeaderOrigem, regHeaderDestino, pRegCabecalho); });
}

namespace {
ZelPares ParesCabecalho(const _REG_IE_CABECALHO_INTEGRACAO_PS* p) {
  if (p == nullptr) return {};
  return ZelPares{{"pRegCabecalho->eProcessoOrigem", D(p->eProcessoOrigem)},
                  {"pRegCabecalho->eProcessoDestino", D(p->eProcessoDestino)},
                  {"pRegCabecalho->ulPonteiroPrimeiroVinculoIntegracao", U(p->ulPonteiroPrimeiroVinculoIntegracao)},
                  {"pRegCabecalho->ulQtdVinculosIntegracoes", U(p->ulQtdVinculosIntegracoes)}};
}
}  // namespace

HRESULT CZelDF_IEx::LeVinculosCabecalhoIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho,
                                                  _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pRegLista) {
  return Chama(
      "LeVinculosCabecalhoIntegracao", 72, [&] { return ParesCabecalho(pRegCabecalho); },
      [&](CIExBase& b) { return b.LeVinculosCabecalhoIntegracao(pRegCabecalho, pRegLista); });
}

HRESULT CZelDF_IEx::GravaVinculosCabecalhosIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho,
                                                      _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pRegLista) {
  return Chama(
      "GravaVinculosCabecalhosIntegracao", 77, [&] { return ParesCabecalho(pRegCabecalho); },
      [&](CIExBase& b) { return b.GravaVinculosCabecalhosIntegracao(pRegCabecalho, pRegLista); });
}

HRESULT CZelDF_IEx::GetVinculoByIntegracao(IE_HEADER_FILTRO_PS headerOrigem, UI4 ulPosRegistroOrigem,
                                           IE_HEADER_FILTRO_PS headerDestino, IE_VINCULO_PS* pVinculo) {
  return Chama(
      "GetVinculoByIntegracao", 82,
      [&] {
        return ZelPares{{"IEGetNomeProcesso(headerOrigem.eProc)", NomeProcesso(headerOrigem.eProc)},
                        {"ulPosRegistroOrigem", U(ulPosRegistroOrigem)},
                        {"IEGetNomeProcesso(headerDestino.eProc)", NomeProcesso(headerDestino.eProc)}};
      },
      [&](CIExBase& b) { return b.GetVinculoByIntegracao(headerOrigem, ulPosRegistroOrigem, headerDestino, pVinculo); });
}

HRESULT CZelDF_IEx::GetProcessoJaCadastradoNaIntegracao(IE_HEADER_FILTRO_PS header, I4* bProcessoJaCadastrado) {
  return Chama(
      "GetProcessoJaCadastradoNaIntegracao", 87,
      [&] { return ZelPares{{"IEGetNomeProcesso(header.eProc)", NomeProcesso(header.eProc)}}; },
      [&](CIExBase& b) { return b.GetProcessoJaCadastradoNaIntegracao(header, bProcessoJaCadastrado); });
}

HRESULT CZelDF_IEx::ExcluiIntegracoesQueUsamEsteProcesso(IE_HEADER_FILTRO_PS header) {
  return Chama(
      "ExcluiIntegracoesQueUsamEsteProcesso", 92,
      [&] { return ZelPares{{"IEGetNomeProcesso(header.eProc)", NomeProcesso(header.eProc)}}; },
      [&](CIExBase& b) { return b.ExcluiIntegracoesQueUsamEsteProcesso(header); });
}
