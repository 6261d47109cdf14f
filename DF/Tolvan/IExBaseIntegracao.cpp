// Integrations between processes: headers naming an origin and a destination
// process, and links from origin field positions to destination ones. Every
// file operation runs under the company's change marker, so the two files are
// read and written by one operation at a time across processes.
#include <cstring>
#include <vector>

#include "IExBase.h"
#include "Pardak.h"
#include "ZelArqMarcaFila.h"
#include "ZelProfiler.h"

namespace {
constexpr const char* kFonte = "IExBaseIntegracao";
constexpr HRESULT E_IE_SEM_HEADER_ORIGEM = HR(0x80040A5D);
constexpr HRESULT E_IE_SEM_HEADER_DESTINO = HR(0x80040A5E);

using ArqCabecalho = CIEArqT<_REG_IE_CABECALHO_INTEGRACAO_ARQ_V0>;
using ArqVinculo = CIEArqT<_REG_IE_VINCULO_INTEGRACAO_ARQ_V0>;

bool Excluido(UI1 cFlags) { return (cFlags & kBitExcluidoIntegracao) != 0; }
bool Inativo(UI1 cFlags) { return (cFlags & kBitInativoIntegracao) != 0; }
bool IncluiInativos(const IE_HEADER_FILTRO_PS& filtro) { return (filtro.dwFlags & 2) != 0; }
// A live integration (inactive ones only when the filter asks) with the
// filter's process at either end.
bool UsaProcesso(const _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0& regArq, const IE_HEADER_FILTRO_PS& filtro) {
  if (Excluido(regArq.cFlags) || (Inativo(regArq.cFlags) && !IncluiInativos(filtro))) return false;
  return regArq.eProcessoOrigem == static_cast<UI4>(filtro.eProc) ||
         regArq.eProcessoDestino == static_cast<UI4>(filtro.eProc);
}


// Hands the header records from 1 to the end, in order, to visita, which
// answers S_OK to go on, S_FALSE to stop, or a failure to end with it; a
// failed read is traced with szTraco.
template <class F>
HRESULT PercorreCabecalhos(const IZelDF_Profiler* pIdentidade, const char* szFuncao, const char* szTraco,
                           ArqCabecalho& arq, F visita) {
  const ULONGLONG nQtd = arq.GetQtdRegistros(true);
  for (ULONGLONG ul = 1; ul <= nQtd; ++ul) {
    _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0 regArq{};
    int iRetorno = arq.Le(static_cast<LONG>(ul), &regArq);
    if (iRetorno != ZELARQ_OK) {
      const HRESULT hr = IES_MAKE_HR(iRetorno);
      ZelTraceHR(pIdentidade, szFuncao, kFonte, __LINE__, szTraco, "hr", hr);
      return hr;
    }
    HRESULT hr = visita(static_cast<ULONG>(ul), regArq);
    if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  }
  return S_OK;
}
}  // namespace


HRESULT CIExBase::LeCabecalhoIntegracao(UI4 ulPosicao, _REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho) {
  static constexpr const char* kFuncao = "CIExBase::LeCabecalhoIntegracao";
  if (pRegCabecalho == nullptr) IE_FALHA_HR(kFuncao, "E_POINTER", E_POINTER);
  std::memset(pRegCabecalho, 0, sizeof *pRegCabecalho);
  IE_ARRAY_PONTEIROS_PS regPonteiro{};
  regPonteiro.qtd = 1;
  regPonteiro.pPtrs = &ulPosicao;
  _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS regListaCabecalho{};
  HRESULT hr = GetListaCabecalhosIntegracao(&regPonteiro, &regListaCabecalho);
  if (FAILED(hr)) IE_FALHA_HR(kFuncao, "GetListaCabecalhosIntegracao(&regPonteiro, &regListaCabecalho)", hr);
  // An excluded header gives an empty list: the answer is a zero header.
  if (regListaCabecalho.ulQtd > 0) *pRegCabecalho = regListaCabecalho.pRegListaCabecalhos[0];
  CoTaskMemFree(regListaCabecalho.pRegListaCabecalhos);
  return hr;
}

HRESULT CIExBase::GravaCabecalhoIntegracao(UI4 ulPosicaoIn, _REG_IE_CABECALHO_INTEGRACAO_PS reg,
                                           UI4* pulPosicaoOut) {
  static constexpr const char* kFuncao = "CIExBase::GravaCabecalhoIntegracao";
  if (pulPosicaoOut == nullptr) IE_FALHA_HR(kFuncao, "E_POINTER", E_POINTER);
  if (!IEProcessoValido(reg.eProcessoOrigem) || !IEProcessoValido(reg.eProcessoDestino))
    IE_FALHA_HR(kFuncao, "E_INVALIDARG", E_INVALIDARG);
  return SobMarca(kFuncao, kFonte, __LINE__, [&]() -> HRESULT {
    ArqCabecalho arqCabecalho(this);
    HRESULT hr = arqCabecalho.Abre('G');
    if (FAILED(hr)) IE_FALHA_HR(kFuncao, "arqCabecalho.Abre('G')", hr);
    _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0 regArq;
    IEConverte(reg, &regArq);
    // Flag bits this system does not know stay as they were.
    _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0 regAntigo{};
    if (ulPosicaoIn != 0 && arqCabecalho.Le(static_cast<LONG>(ulPosicaoIn), &regAntigo) == ZELARQ_OK)
      regArq.cFlags |= regAntigo.cFlags & static_cast<UI1>(~(kBitExcluidoIntegracao | kBitInativoIntegracao));
    ULONG ulPosTemp = ulPosicaoIn;
    int iRetorno = arqCabecalho.Grava(&regArq, &ulPosTemp);
    if (iRetorno != ZELARQ_OK) IE_FALHA_HR(kFuncao, "arqCabecalho.Grava(&regArq, &ulPosTemp)", IES_MAKE_HR(iRetorno));
    *pulPosicaoOut = static_cast<UI4>(ulPosTemp);
    arqCabecalho.Fecha();
    return S_OK;
  });
}

HRESULT CIExBase::GetPonteirosCabecalhoIntegracaoVoviDadi(IE_ARRAY_PONTEIROS_PS* pregPonteiros) {
  static constexpr const char* kFuncao = "CIExBase::GetPonteirosCabecalhoIntegracaoVoviDadi";
  if (pregPonteiros == nullptr) IE_FALHA_HR(kFuncao, "E_POINTER", E_POINTER);
  std::memset(pregPonteiros, 0, sizeof *pregPonteiros);
  return SobMarca(kFuncao, kFonte, __LINE__, [&]() -> HRESULT {
    ArqCabecalho arqCabecalho(this);
    HRESULT hr = arqCabecalho.Abre('L');
    if (FAILED(hr)) IE_FALHA_HR(kFuncao, "arqCabecalho.Abre('L')", hr);
    std::vector<UI4> aPosicoes;
    hr = PercorreCabecalhos(this, kFuncao, "hr = arqCabecalho.Le(ul, &regArq)", arqCabecalho,
                            [&](ULONG ul, const _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0& regArq) {
                              if (!Excluido(regArq.cFlags)) aPosicoes.push_back(static_cast<UI4>(ul));
                              return S_OK;
                            });
    if (FAILED(hr)) return hr;
    arqCabecalho.Fecha();
    hr = IEEntregaLista(aPosicoes, &pregPonteiros->pPtrs);
    if (FAILED(hr)) IE_FALHA_HR(kFuncao, "E_OUTOFMEMORY", hr);
    pregPonteiros->qtd = static_cast<UINT>(aPosicoes.size());
    return S_OK;
  });
}

HRESULT CIExBase::GetListaCabecalhosIntegracao(IE_ARRAY_PONTEIROS_PS* pRegPonteiros,
                                               _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS* pRegLista) {
  static constexpr const char* kFuncao = "CIExBase::GetListaCabecalhosIntegracao";
  if (pRegPonteiros == nullptr || pRegLista == nullptr || (pRegPonteiros->qtd > 0 && pRegPonteiros->pPtrs == nullptr))
    IE_FALHA_HR(kFuncao, "E_POINTER", E_POINTER);
  std::memset(pRegLista, 0, sizeof *pRegLista);
  for (UINT ul = 0; ul < pRegPonteiros->qtd; ++ul)
    if (pRegPonteiros->pPtrs[ul] == 0) IE_FALHA_HR(kFuncao, "E_INVALIDARG", E_INVALIDARG);
  return SobMarca(kFuncao, kFonte, __LINE__, [&]() -> HRESULT {
    ArqCabecalho arqCabecalho(this);
    HRESULT hr = arqCabecalho.Abre('L');
    if (FAILED(hr)) IE_FALHA_HR(kFuncao, "arqCabecalho.Abre('L')", hr);
    std::vector<_REG_IE_CABECALHO_INTEGRACAO_PS> aCabecalhos;
    for (UINT ul = 0; ul < pRegPonteiros->qtd; ++ul) {
      _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0 regArq{};
      int iRetorno = arqCabecalho.Le(static_cast<LONG>(pRegPonteiros->pPtrs[ul]), &regArq);
      if (iRetorno != ZELARQ_OK)
        IE_FALHA_HR(kFuncao, "arqCabecalho.Le(pRegPonteiros->pPtrs[ul], &regArq)", IES_MAKE_HR(iRetorno));
      if (Excluido(regArq.cFlags)) continue;
      IEConverte(regArq, &aCabecalhos.emplace_back());
    }
    arqCabecalho.Fecha();
    hr = IEEntregaLista(aCabecalhos, &pRegLista->pRegListaCabecalhos);
    if (FAILED(hr)) IE_FALHA_HR(kFuncao, "E_OUTOFMEMORY", hr);
    pRegLista->ulQtd = static_cast<UI4>(aCabecalhos.size());
    return S_OK;
  });
}

HRESULT CIExBase::ExisteCabecalhoIntegracao(IE_HEADER_FILTRO_PS regHeaderOrigem, IE_HEADER_FILTRO_PS regHeaderDestino,
                                            _REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho) {
  static constexpr const char* kFuncao = "CIExBase::ExisteCabecalhoIntegracao";
  if (pRegCabecalho == nullptr) IE_FALHA_HR(kFuncao, "E_POINTER", E_POINTER);
  if (!IEProcessoValido(regHeaderOrigem.eProc) || !IEProcessoValido(regHeaderDestino.eProc))
    IE_FALHA_HR(kFuncao, "E_INVALIDARG", E_INVALIDARG);
  std::memset(pRegCabecalho, 0, sizeof *pRegCabecalho);
  const bool bIncluiInativos = IncluiInativos(regHeaderOrigem) && IncluiInativos(regHeaderDestino);
  return SobMarca(kFuncao, kFonte, __LINE__, [&]() -> HRESULT {
    ArqCabecalho arqCabecalho(this);
    HRESULT hr = arqCabecalho.Abre('L');
    if (FAILED(hr)) IE_FALHA_HR(kFuncao, "arqCabecalho.Abre('L')", hr);
    hr = PercorreCabecalhos(this, kFuncao, "hr = arqCabecalho.Le(ul, &regArq)", arqCabecalho,
                            [&](ULONG, const _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0& regArq) {
                              if (Excluido(regArq.cFlags) || (Inativo(regArq.cFlags) && !bIncluiInativos)) return S_OK;
                              if (regArq.eProcessoOrigem != static_cast<UI4>(regHeaderOrigem.eProc) ||
                                  regArq.eProcessoDestino != static_cast<UI4>(regHeaderDestino.eProc))
                                return S_OK;
                              IEConverte(regArq, pRegCabecalho);
                              return S_FALSE;
                            });
    if (FAILED(hr)) return hr;
    arqCabecalho.Fecha();
    return S_OK;
  });
}

HRESULT CIExBase::LeVinculosCabecalhoIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho,
                                                _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pRegLista) {
  static constexpr const char* kFuncao = "CIExBase::LeVinculosCabecalhoIntegracao";
  if (pRegCabecalho == nullptr || pRegLista == nullptr) IE_FALHA_HR(kFuncao, "E_POINTER", E_POINTER);
  std::memset(pRegLista, 0, sizeof *pRegLista);
  const UI4 ulPosLeitura = pRegCabecalho->ulPonteiroPrimeiroVinculoIntegracao;
  const UI4 ulQtd = pRegCabecalho->ulQtdVinculosIntegracoes;
  // Links start at record 1; the header record is nobody's link.
  if (ulQtd > 0 && ulPosLeitura == 0) IE_FALHA_HR(kFuncao, "E_INVALIDARG", E_INVALIDARG);
  return SobMarca(kFuncao, kFonte, __LINE__, [&]() -> HRESULT {
    ArqVinculo arqVinculo(this);
    HRESULT hr = arqVinculo.Abre('L');
    if (FAILED(hr)) IE_FALHA_HR(kFuncao, "arqVinculo.Abre('L')", hr);
    std::vector<_REG_IE_VINCULO_INTEGRACAO_PS> aVinculos;
    for (UI4 l = 0; l < ulQtd; ++l) {
      _REG_IE_VINCULO_INTEGRACAO_ARQ_V0 regVinculoIntegracao{};
      int iRetorno = arqVinculo.Le(static_cast<LONG>(ulPosLeitura + l), &regVinculoIntegracao);
      if (iRetorno != ZELARQ_OK)
        IE_FALHA_HR(kFuncao, "arqVinculo.Le(ulPosLeitura + l, &regVinculoIntegracao)", IES_MAKE_HR(iRetorno));
      if (Excluido(regVinculoIntegracao.cFlags)) continue;
      IEConverte(regVinculoIntegracao, &aVinculos.emplace_back());
    }
    arqVinculo.Fecha();
    hr = IEEntregaLista(aVinculos, &pRegLista->pRegListaVinculos);
    if (FAILED(hr)) IE_FALHA_HR(kFuncao, "E_OUTOFMEMORY", hr);
    pRegLista->ulQtd = static_cast<UI4>(aVinculos.size());
    return S_OK;
  });
}

HRESULT CIExBase::GravaVinculosCabecalhosIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho,
                                                    _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pRegLista) {
  static constexpr const char* kFuncao = "CIExBase::GravaVinculosCabecalhosIntegracao";
  if (pRegCabecalho == nullptr || pRegLista == nullptr || (pRegLista->ulQtd > 0 && pRegLista->pRegListaVinculos == nullptr))
    IE_FALHA_HR(kFuncao, "E_POINTER", E_POINTER);
  return SobMarca(kFuncao, kFonte, __LINE__, [&]() -> HRESULT {
    ArqVinculo arqVinculo(this);
    HRESULT hr = arqVinculo.Abre('G');
    if (FAILED(hr)) IE_FALHA_HR(kFuncao, "arqVinculo.Abre('G')", hr);
    pRegCabecalho->ulQtdVinculosIntegracoes = 0;
    for (UI4 l = 0; l < pRegLista->ulQtd; ++l) {
      _REG_IE_VINCULO_INTEGRACAO_ARQ_V0 regVinculoIntegracao;
      IEConverte(pRegLista->pRegListaVinculos[l], &regVinculoIntegracao);
      ULONG ulPosGravacao = 0;
      int iRetorno = arqVinculo.Grava(&regVinculoIntegracao, &ulPosGravacao);
      if (iRetorno != ZELARQ_OK)
        IE_FALHA_HR(kFuncao, "arqVinculo.Grava(&regVinculoIntegracao, &ulPosGravacao)", IES_MAKE_HR(iRetorno));
      if (l == 0) pRegCabecalho->ulPonteiroPrimeiroVinculoIntegracao = static_cast<UI4>(ulPosGravacao);
      ++pRegCabecalho->ulQtdVinculosIntegracoes;
    }
    arqVinculo.Fecha();
    return S_OK;
  });
}

HRESULT CIExBase::GetProcessoJaCadastradoNaIntegracao(IE_HEADER_FILTRO_PS header, I4* bProcessoJaCadastrado) {
  static constexpr const char* kFuncao = "CIExBase::GetProcessoJaCadastradoNaIntegracao";
  if (bProcessoJaCadastrado == nullptr) IE_FALHA_HR(kFuncao, "E_POINTER", E_POINTER);
  if (!IEProcessoValido(header.eProc)) IE_FALHA_HR(kFuncao, "E_INVALIDARG", E_INVALIDARG);
  *bProcessoJaCadastrado = 0;
  return SobMarca(kFuncao, kFonte, __LINE__, [&]() -> HRESULT {
    ArqCabecalho arqCabecalho(this);
    HRESULT hr = arqCabecalho.Abre('L');
    if (FAILED(hr)) IE_FALHA_HR(kFuncao, "arqCabecalho.Abre('L')", hr);
    hr = PercorreCabecalhos(this, kFuncao, "hr = arqCabecalho.Le(ul, &regArq)", arqCabecalho,
                            [&](ULONG, const _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0& regArq) {
                              if (!UsaProcesso(regArq, header)) return S_OK;
                              *bProcessoJaCadastrado = 1;
                              return S_FALSE;
                            });
    if (FAILED(hr)) return hr;
    arqCabecalho.Fecha();
    return S_OK;
  });
}

HRESULT CIExBase::ExcluiIntegracoesQueUsamEsteProcesso(IE_HEADER_FILTRO_PS header) {
  static constexpr const char* kFuncao = "CIExBase::ExcluiIntegracoesQueUsamEsteProcesso";
  if (!IEProcessoValido(header.eProc)) IE_FALHA_HR(kFuncao, "E_INVALIDARG", E_INVALIDARG);
  return SobMarca(kFuncao, kFonte, __LINE__, [&]() -> HRESULT {
    ArqCabecalho arqCabecalho(this);
    HRESULT hr = arqCabecalho.Abre('G');
    if (FAILED(hr)) IE_FALHA_HR(kFuncao, "arqCabecalho.Abre('G')", hr);
    hr = PercorreCabecalhos(
        this, kFuncao, "hr = arqCabecalho.Le(l, &regArq)", arqCabecalho,
        [&](ULONG l, _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0 regArq) -> HRESULT {
          if (!UsaProcesso(regArq, header)) return S_OK;
          regArq.cFlags |= kBitExcluidoIntegracao;
          int iRetorno = arqCabecalho.Grava(&regArq, &l);
          if (iRetorno != ZELARQ_OK) IE_FALHA_HR(kFuncao, "arqCabecalho.Grava(&regArq, &l)", IES_MAKE_HR(iRetorno));
          char szLog[128];
          std::snprintf(szLog, sizeof szLog,
                        "Vovi Dadi: Integra\xE7\xE3o entre processo origem %i e destino %i removida.",
                        static_cast<int>(regArq.eProcessoOrigem), static_cast<int>(regArq.eProcessoDestino));
          if (!GetAcessoServidores()->GetAcessoEmpresarial()->GravaLogGeral(szLog))
            ZelTraceHR(this, kFuncao, kFonte, __LINE__, "hr = GetAcessoEmpresarial()->GravaLogGeral(sLog)", "hr",
                       E_FAIL);
          return S_OK;
        });
    if (FAILED(hr)) return hr;
    arqCabecalho.Fecha();
    return S_OK;
  });
}

HRESULT CIExBase::GetVinculoByIntegracao(IE_HEADER_FILTRO_PS regHeaderOrigem, UI4 ulPosRegistroOrigem,
                                         IE_HEADER_FILTRO_PS regHeaderDestino, IE_VINCULO_PS* pVinculo) {
  static constexpr const char* kFuncao = "CIExBase::GetVinculoByIntegracao";
  if (pVinculo == nullptr) IE_FALHA_HR(kFuncao, "E_POINTER", E_POINTER);
  std::memset(pVinculo, 0, sizeof *pVinculo);
  _REG_IE_CABECALHO_INTEGRACAO_PS regCabecalho{};
  HRESULT hr = ExisteCabecalhoIntegracao(regHeaderOrigem, regHeaderDestino, &regCabecalho);
  if (FAILED(hr)) IE_FALHA_HR(kFuncao, "ExisteCabecalhoIntegracao(regHeaderOrigem, regHeaderDestino, &regCabecalho)", hr);

  // The first Vovi Dadi header of a process (filter bit 0 set).
  auto primeiroHeader = [&](IE_HEADER_FILTRO_PS filtro, const char* szTraco, const char* szTracoSemHeader,
                            HRESULT hrSemHeader, UI4* pulPos) -> HRESULT {
    filtro.dwFlags |= 1;
    IE_ARRAY_PONTEIROS_PS regPonteiro{};
    HRESULT hrBusca = BuscaPtrsIEHeader(filtro, &regPonteiro);
    if (SUCCEEDED(hrBusca) && (regPonteiro.qtd == 0 || regPonteiro.pPtrs == nullptr)) {
      hrBusca = hrSemHeader;
      szTraco = szTracoSemHeader;
    }
    if (SUCCEEDED(hrBusca)) *pulPos = regPonteiro.pPtrs[0];
    CoTaskMemFree(regPonteiro.pPtrs);
    if (FAILED(hrBusca)) ZelTraceHR(this, kFuncao, kFonte, __LINE__, szTraco, "hr", hrBusca);
    return hrBusca;
  };
  UI4 ulPosHeaderOrigem = 0;
  hr = primeiroHeader(regHeaderOrigem, "hr = BuscaPtrsIEHeader(regHeaderOrigem, &regPonteiroOrigem)",
                      "hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 2653)", E_IE_SEM_HEADER_ORIGEM,
                      &ulPosHeaderOrigem);
  if (FAILED(hr)) return hr;

  IE_VINCULO_PS regVinculo{};
  hr = BuscaVinculosByOrigem(ulPosHeaderOrigem, 1, &ulPosRegistroOrigem, &regVinculo);
  // The origin's values belong to this call from here on.
  struct LiberaValores {
    IE_VINCULO_PS& v;
    ~LiberaValores() { IELiberaItens(v.pCampos, v.nQtdCampos); }
  } liberaOrigem{regVinculo};
  if (FAILED(hr))
    IE_FALHA_HR(kFuncao, "BuscaVinculosByOrigem(ulPosHeaderOrigem, 1, &ulPosRegistroOrigem, &regVinculo)", hr);
  if (regVinculo.nQtdCampos == 0) return S_OK;

  UI4 ulPosHeaderDestino = 0;
  hr = primeiroHeader(regHeaderDestino, "hr = BuscaPtrsIEHeader(regHeaderDestino, &regPonteiroDestino)",
                      "hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 2654)", E_IE_SEM_HEADER_DESTINO,
                      &ulPosHeaderDestino);
  if (FAILED(hr)) return hr;

  IE_HDR_PS regHeaderDestinoPS{};
  hr = LeIEHeader(1, &ulPosHeaderDestino, &regHeaderDestinoPS, 0);
  struct LiberaHeader {
    IE_HDR_PS& h;
    ~LiberaHeader() { IELiberaCampos(h.pCampos, h.nQtdCampos); }
  } liberaDestino{regHeaderDestinoPS};
  if (FAILED(hr)) IE_FALHA_HR(kFuncao, "LeIEHeader(1, &ulPosHeaderDestino, &regHeaderDestinoPS, 0)", hr);
  pVinculo->origem.lPosHeader = ulPosHeaderDestino;

  _REG_LISTA_IE_VINCULO_INTEGRACAO_PS regListaVinculos{};
  hr = LeVinculosCabecalhoIntegracao(&regCabecalho, &regListaVinculos);
  if (FAILED(hr)) IE_FALHA_HR(kFuncao, "LeVinculosCabecalhoIntegracao(&regCabecalho, &regListaVinculos)", hr);
  struct LiberaLista {
    _REG_LISTA_IE_VINCULO_INTEGRACAO_PS& l;
    ~LiberaLista() { CoTaskMemFree(l.pRegListaVinculos); }
  } liberaLista{regListaVinculos};
  if (regListaVinculos.ulQtd == 0) return S_OK;

  const UINT nQtdDestino = regHeaderDestinoPS.nQtdCampos;
  IE_CAMPO_DATA_PS* pCampos = nQtdDestino > 0 ? IEAlocaZerado<IE_CAMPO_DATA_PS>(nQtdDestino) : nullptr;
  if (pCampos == nullptr && nQtdDestino > 0) IE_FALHA_HR(kFuncao, "E_OUTOFMEMORY", E_OUTOFMEMORY);
  for (UINT i = 0; i < nQtdDestino; ++i) pCampos[i].id = regHeaderDestinoPS.pCampos[i].id;
  for (UI4 l = 0; l < regListaVinculos.ulQtd; ++l) {
    const _REG_IE_VINCULO_INTEGRACAO_PS& link = regListaVinculos.pRegListaVinculos[l];
    if (link.cExcluido != 0 || link.cInativo != 0) continue;
    if (link.ulPosicaoCampoOrigem >= regVinculo.nQtdCampos) continue;
    // No destination field to receive it.
    if (link.ulPosicaoCampoDestino >= nQtdDestino) continue;
    IE_CAMPO_DATA_PS& destino = pCampos[link.ulPosicaoCampoDestino];
    const IE_CAMPO_DATA_PS& origem = regVinculo.pCampos[link.ulPosicaoCampoOrigem];
    IE_E_CAMPO eGrupo = destino.id;
    if (!IEAlteraCampoParaPrimeiro(eGrupo)) {
      IELiberaItens(pCampos, nQtdDestino);
      return E_FAIL;
    }
    if (eGrupo == IE_CAMPO_LIVRE_TEXTO_0) {
      CoTaskMemFree(destino.pcTexto);
      destino.pcTexto = nullptr;
      destino.ulTamanhoTexto = 0;
      size_t nTexto = origem.pcTexto != nullptr ? std::strlen(origem.pcTexto) : 0;
      if (nTexto > 0) {
        destino.pcTexto = static_cast<char*>(CoTaskMemAlloc(nTexto + 1));
        if (destino.pcTexto == nullptr) {
          IELiberaItens(pCampos, nQtdDestino);
          IE_FALHA_HR(kFuncao, "E_OUTOFMEMORY", E_OUTOFMEMORY);
        }
        std::memcpy(destino.pcTexto, origem.pcTexto, nTexto + 1);
        destino.ulTamanhoTexto = static_cast<UI4>(nTexto + 1);
      }
    } else {
      std::memcpy(destino.BinaryData, origem.BinaryData, sizeof destino.BinaryData);
    }
  }
  pVinculo->origem.lChave = 0;
  pVinculo->nQtdCampos = nQtdDestino;
  pVinculo->pCampos = pCampos;
  return S_OK;
}
