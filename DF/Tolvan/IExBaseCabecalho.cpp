// Headers, fields and users, and the runs of field values, of CIExBase.
#include <cstring>
#include <vector>

#include "IExBase.h"
#include "Pardak.h"
#include "ZelArqMarcaFila.h"
#include "ZelLocalLimites.h"
#include "ZelProfiler.h"

namespace {
constexpr const char* kFonte = "IExBase";
constexpr UI4 kBitExcluido = 0x1;  // of the header's dwFlags
constexpr UI4 kFiltroProcesso = 0x1;
constexpr UI4 kFiltroIncluiExcluidos = 0x2;
constexpr UI4 kFiltroSemRecurso = 0x4;
constexpr UI8 kMascaraCarimbo = (UI8{1} << 38) - 1;
constexpr size_t kTamanhoMaximoTexto = 0xFFFF;  // its length is kept in 16 bits

// A data-file code as the store returns it.
HRESULT HrDoCodigo(int iRetorno) { return iRetorno == ZELARQ_OK ? S_OK : IES_MAKE_HR(iRetorno); }

// A position no file reaches reads as past the end, never as a negative offset.
template <class T>
int LeNaPosicao(CIEArqT<T>& arq, UI8 ullPosicao, T* pReg) {
  if (ullPosicao > static_cast<UI8>(INT32_MAX)) return ZELARQ_FIM_DE_ARQUIVO;
  return arq.Le(static_cast<LONG>(ullPosicao), pReg);
}

// Copies what was read into a task-allocated array of nQtd entries, the rest
// zeroed (one even when nQtd is 0); null when memory ran out.
template <class T>
T* EntregaArray(const std::vector<T>& a, size_t nQtd) {
  T* p = IEAlocaZerado<T>(nQtd);
  if (p != nullptr && !a.empty()) std::memcpy(p, a.data(), a.size() * sizeof(T));
  return p;
}
template <class T>
T* EntregaArray(const std::vector<T>& a) {
  return EntregaArray(a, a.size());
}
// After a failed read the caller still gets the array of the count it asked
// for, with what was read; none when no answer could carry it, so that a
// damaged count never makes the service allocate without bound.
template <class T>
T* EntregaParcial(const std::vector<T>& a, UINT nQtd) {
  return UI8{nQtd} * sizeof(T) > kZelLocalMaxSaidaChamada ? nullptr : EntregaArray(a, nQtd);
}

// The text a value carries: pcTexto up to its terminator, never beyond the
// ulTamanhoTexto characters the record declares (a size of 0 is an empty
// text, as a client sends "").
void TextoDoValor(const IE_CAMPO_DATA_PS& valor, std::string* psTexto) {
  psTexto->clear();
  if (valor.pcTexto == nullptr || valor.ulTamanhoTexto == 0) return;
  psTexto->assign(valor.pcTexto, strnlen(valor.pcTexto, valor.ulTamanhoTexto));
}

bool CampoDeTexto(IE_E_CAMPO id, bool* pbTexto) {
  IE_E_CAMPO idPrimeiro = id;
  if (!IEAlteraCampoParaPrimeiro(idPrimeiro)) return false;
  *pbTexto = idPrimeiro == IE_CAMPO_LIVRE_TEXTO_0;
  return true;
}
}  // namespace

// The whole failing statement goes to the trace: "hr = " and the call.
#define IE_TRACA_HR(funcao, expressao, hr) ZelTraceHR(this, funcao, kFonte, __LINE__, "hr = " expressao, "hr", hr)
// An argument refused: the failed condition is the statement.
#define IE_RECUSA(funcao, condicao, hrRecusa)                            \
  do {                                                                   \
    ZelTraceHR(this, funcao, kFonte, __LINE__, condicao, "hr", hrRecusa); \
    return hrRecusa;                                                     \
  } while (0)

UI8 IECarimbo(const SYSTEMTIME& st) {
  // Days from the civil date, counted from 30 December 1899.
  const int64_t y = static_cast<int64_t>(st.wYear) - (st.wMonth <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t m = st.wMonth;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + st.wDay - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t llDias1970 = era * 146097 + doe - 719468;
  const int64_t llDia = llDias1970 + 25569;
  const int64_t llSegundos = llDia * 86400 + st.wHour * 3600 + st.wMinute * 60 + st.wSecond;
  return static_cast<UI8>(llSegundos) & kMascaraCarimbo;
}

int64_t IECarimboComSinal(UI8 ullCarimbo) {
  return static_cast<int64_t>((ullCarimbo & kMascaraCarimbo) << 26) >> 26;
}

void IELiberaCampos(IE_CAMPO_PS* pCampos, UINT nQtd) {
  if (pCampos == nullptr) return;
  for (UINT i = 0; i < nQtd; ++i) CoTaskMemFree(pCampos[i].pUsuarios);
  CoTaskMemFree(pCampos);
}

void IELiberaItens(IE_CAMPO_DATA_PS* pItens, UINT nQtd) {
  if (pItens == nullptr) return;
  for (UINT i = 0; i < nQtd; ++i) CoTaskMemFree(pItens[i].pcTexto);
  CoTaskMemFree(pItens);
}

HRESULT CIExBase::LeIEHeader(UINT qtd, const UI4* pPos, IE_HDR_PS* pTipDoc, UI4 /*dwFlags*/) {
  static constexpr const char* kFuncao = "CIExBase::LeIEHeader";
  if (qtd != 0 && pPos == nullptr) IE_RECUSA(kFuncao, "pPos == NULL", E_POINTER);
  if (qtd != 0 && pTipDoc == nullptr) IE_RECUSA(kFuncao, "pTipDoc == NULL", E_POINTER);
  for (UINT i = 0; i < qtd; ++i)
    if (pPos[i] == 0) IE_RECUSA(kFuncao, "pPos[i] == 0", E_INVALIDARG);

  std::lock_guard<std::recursive_mutex> trava(m_csArquivos);
  HRESULT hr = AbreArqHeader();
  if (FAILED(hr)) {
    IE_TRACA_HR(kFuncao, "AbreArqHeader()", hr);
    return hr;
  }
  for (UINT i = 0; i < qtd; ++i) {
    IE_HDR_ARQ_V0 regTipDoc{};
    hr = HrDoCodigo(LeNaPosicao(m_ArqIE, pPos[i], &regTipDoc));
    if (FAILED(hr)) {
      IE_TRACA_HR(kFuncao, "m_ArqIE.Le(pPos[i], &regTipDoc)", hr);
      return hr;
    }
    IE_HDR_PS& ps = pTipDoc[i];
    IEConverte(regTipDoc, &ps);
    hr = LeCampos(regTipDoc.iPtrCampos, ps.nQtdCampos, &ps.pCampos);
    if (FAILED(hr)) {
      IE_TRACA_HR(kFuncao, "LeCampos(regTipDoc.iPtrCampos, ps.nQtdCampos, ps.pCampos)", hr);
      return hr;
    }
  }
  return S_OK;
}

HRESULT CIExBase::LeCampos(UI4 iPtr, UINT nQtd, IE_CAMPO_PS** ppCampos) {
  static constexpr const char* kFuncao = "CIExBase::LeCampos";
  if (nQtd == 0) return S_OK;
  if (ppCampos == nullptr) IE_RECUSA(kFuncao, "ppCampos == NULL", E_POINTER);

  std::lock_guard<std::recursive_mutex> trava(m_csArquivos);
  HRESULT hr = AbreArqCampoHeader();
  if (FAILED(hr)) {
    IE_TRACA_HR(kFuncao, "AbreArqCampoHeader()", hr);
    return hr;
  }
  hr = AbreArqUsuario();
  if (FAILED(hr)) {
    IE_TRACA_HR(kFuncao, "AbreArqUsuario ()", hr);
    return hr;
  }
  // Grows only with the records that exist, so a damaged count cannot make
  // the service allocate without bound.
  std::vector<IE_CAMPO_PS> aCampos;
  auto falha = [&](HRESULT hrFalha) {
    *ppCampos = EntregaParcial(aCampos, nQtd);
    if (*ppCampos == nullptr)
      for (IE_CAMPO_PS& campo : aCampos) CoTaskMemFree(campo.pUsuarios);
    return hrFalha;
  };
  for (UINT iCampo = 0; iCampo < nQtd; ++iCampo) {
    IE_CAMPO_ARQ_V2 regCampo{};
    hr = HrDoCodigo(LeNaPosicao(m_ArqCamposIE, UI8{iPtr} + iCampo, &regCampo));
    if (FAILED(hr)) {
      IE_TRACA_HR(kFuncao, "m_ArqCamposIE.Le(iPtr + iCampo, &regCampo)", hr);
      return falha(hr);
    }
    IE_CAMPO_PS& campo = aCampos.emplace_back();
    IEConverte(regCampo, &campo);
    if (campo.iQtdUsuarios == 0) continue;
    campo.pUsuarios = IEAlocaZerado<UI2>(campo.iQtdUsuarios);
    if (campo.pUsuarios == nullptr) {
      IE_TRACA_HR(kFuncao, "E_OUTOFMEMORY", E_OUTOFMEMORY);
      return falha(E_OUTOFMEMORY);
    }
    for (UINT iUsuario = 0; iUsuario < campo.iQtdUsuarios; ++iUsuario) {
      IE_USUARIO_ARQ_V0 regUsuario{};
      hr = HrDoCodigo(LeNaPosicao(m_ArqUsuariosIE, UI8{regCampo.ulPtrUsuarios} + iUsuario, &regUsuario));
      if (FAILED(hr)) {
        IE_TRACA_HR(kFuncao, "m_ArqUsuariosIE.Le(regCampo.ulPtrUsuarios + iUsuario, &regUsuario)", hr);
        return falha(hr);
      }
      campo.pUsuarios[iUsuario] = regUsuario.usUsuario;
    }
  }
  IE_CAMPO_PS* pCampos = EntregaArray(aCampos);
  if (pCampos == nullptr) {
    IE_TRACA_HR(kFuncao, "E_OUTOFMEMORY", E_OUTOFMEMORY);
    for (IE_CAMPO_PS& campo : aCampos) CoTaskMemFree(campo.pUsuarios);
    return E_OUTOFMEMORY;
  }
  *ppCampos = pCampos;
  return S_OK;
}

HRESULT CIExBase::VerificaCampos(const char* szFuncao, const IE_CAMPO_PS* pCampos, UINT nQtd) {
  if (nQtd == 0) return S_OK;
  if (pCampos == nullptr) IE_RECUSA(szFuncao, "pCampos == NULL", E_POINTER);
  for (UINT i = 0; i < nQtd; ++i) {
    const IE_CAMPO_PS& campo = pCampos[i];
    if (campo.id < 0 || campo.id >= IE_CAMPO_COUNT)
      IE_RECUSA(szFuncao, "pCampos[i].id < 0 || pCampos[i].id >= IE_CAMPO_COUNT", E_INVALIDARG);
    if (strnlen(campo.szNome, sizeof campo.szNome) == sizeof campo.szNome)
      IE_RECUSA(szFuncao, "strnlen(pCampos[i].szNome, 51) == 51", E_INVALIDARG);
    if (campo.iQtdUsuarios != 0 && campo.pUsuarios == nullptr)
      IE_RECUSA(szFuncao, "pCampos[i].iQtdUsuarios != 0 && pCampos[i].pUsuarios == NULL", E_POINTER);
  }
  return S_OK;
}

HRESULT CIExBase::GravaIEHeader(UI4* pPos, IE_HDR_PS ps) {
  static constexpr const char* kFuncao = "CIExBase::GravaIEHeader";
  if (pPos == nullptr) IE_RECUSA(kFuncao, "pPos == NULL", E_POINTER);
  if (ps.eProcesso < 0 || ps.eProcesso >= IE_PROCESSO_COUNT)
    IE_RECUSA(kFuncao, "ps.eProcesso < 0 || ps.eProcesso >= IE_PROCESSO_COUNT", E_INVALIDARG);
  HRESULT hr = VerificaCampos(kFuncao, ps.pCampos, ps.nQtdCampos);
  if (FAILED(hr)) return hr;

  return SobMarca(kFuncao, kFonte, __LINE__, [&]() -> HRESULT {
    std::lock_guard<std::recursive_mutex> trava(m_csArquivos);
    m_ArqIE.Fecha();
    CIEArqT<IE_HDR_ARQ_V0> arqIE(this);
    HRESULT hrArq = arqIE.Abre('G');
    if (FAILED(hrArq)) {
      IE_TRACA_HR(kFuncao, "arqIE.Abre('G')", hrArq);
      return hrArq;
    }
    IE_HDR_ARQ_V0 regIE{};
    if (*pPos != 0) {
      hrArq = HrDoCodigo(LeNaPosicao(arqIE, *pPos, &regIE));
      if (FAILED(hrArq)) {
        IE_TRACA_HR(kFuncao, "arqIE.Le(*pPos, &regIE)", hrArq);
        return hrArq;
      }
    }
    // More fields than the run holds: a new run at the end of the file.
    if (ps.nQtdCampos > regIE.nQtdCampos) regIE.iPtrCampos = 0;
    regIE.dwFlags = ps.dwFlags;
    regIE.eProcesso = static_cast<UI4>(ps.eProcesso);
    regIE.nQtdCampos = ps.nQtdCampos;
    SYSTEMTIME st{};
    GetLocalTime(&st);
    regIE.ullCarimbo = IECarimbo(st);
    hrArq = GravaCampos(ps.pCampos, regIE.nQtdCampos, &regIE.iPtrCampos);
    if (FAILED(hrArq)) {
      IE_TRACA_HR(kFuncao, "GravaCampos(ps.pCampos, regIE.nQtdCampos, &regIE.iPtrCampos)", hrArq);
      return hrArq;
    }
    hrArq = HrDoCodigo(arqIE.Grava(&regIE, pPos));
    if (FAILED(hrArq)) {
      IE_TRACA_HR(kFuncao, "arqIE.Grava(&regIE, pPos)", hrArq);
      return hrArq;
    }
    arqIE.Fecha();
    return S_OK;
  });
}

namespace {
// A run written from iPtr on starts at a record that exists or at the next
// free one; checked before anything is written.
template <class T>
bool PosicaoAlemDoFim(CIEArqT<T>& arq, UI4 iPtr) {
  return iPtr != 0 && UI8{iPtr} > arq.GetQtdRegistros();
}
}  // namespace

HRESULT CIExBase::GravaCampos(const IE_CAMPO_PS* pCampos, UINT nQtd, UI4* piPtr) {
  static constexpr const char* kFuncao = "CIExBase::GravaCampos";
  if (nQtd == 0) return S_OK;
  if (piPtr == nullptr) IE_RECUSA(kFuncao, "piPtr == NULL", E_POINTER);
  HRESULT hr = VerificaCampos(kFuncao, pCampos, nQtd);
  if (FAILED(hr)) return hr;

  std::lock_guard<std::recursive_mutex> trava(m_csArquivos);
  m_ArqCamposIE.Fecha();
  m_ArqUsuariosIE.Fecha();
  CIEArqT<IE_CAMPO_ARQ_V2> arqCamposIE(this);
  hr = arqCamposIE.Abre('G');
  if (FAILED(hr)) {
    IE_TRACA_HR(kFuncao, "arqCamposIE.Abre('G')", hr);
    return hr;
  }
  CIEArqT<IE_USUARIO_ARQ_V0> arqUsuarioIE(this);
  hr = arqUsuarioIE.Abre('G');
  if (FAILED(hr)) {
    IE_TRACA_HR(kFuncao, "arqUsuarioIE.Abre('G')", hr);
    return hr;
  }
  if (PosicaoAlemDoFim(arqCamposIE, *piPtr))
    IE_RECUSA(kFuncao, "*piPtr > arqCamposIE.GetQtdRegistros()", ZEL_E_POSICAO_ALEM_DO_FIM);

  UI4 iPtr = *piPtr;
  for (UINT iCampo = 0; iCampo < nQtd; ++iCampo) {
    const IE_CAMPO_PS& campo = pCampos[iCampo];
    IE_CAMPO_ARQ_V2 regCampo;
    IEConverte(campo, &regCampo);
    // Users are appended on every write, even when the field is rewritten in place.
    for (UINT iUsuario = 0; iUsuario < campo.iQtdUsuarios; ++iUsuario) {
      IE_USUARIO_ARQ_V0 regUsu{};
      regUsu.usUsuario = campo.pUsuarios[iUsuario];
      ULONG ulPosUsuario = 0;
      hr = HrDoCodigo(arqUsuarioIE.Grava(&regUsu, &ulPosUsuario));
      if (FAILED(hr)) {
        IE_TRACA_HR(kFuncao, "arqUsuarioIE.Grava(&regUsu, &ulPosUsuario)", hr);
        return hr;
      }
      if (iUsuario == 0) regCampo.ulPtrUsuarios = ulPosUsuario;
    }
    ULONG ulPosicao = iPtr + iCampo;
    hr = HrDoCodigo(arqCamposIE.Grava(&regCampo, &ulPosicao));
    if (FAILED(hr)) {
      IE_TRACA_HR(kFuncao, "arqCamposIE.Grava(&regCampo, &ulPosicao)", hr);
      return hr;
    }
    if (iCampo == 0) iPtr = ulPosicao;
  }
  arqCamposIE.Fecha();
  arqUsuarioIE.Fecha();
  *piPtr = iPtr;
  return S_OK;
}

HRESULT CIExBase::BuscaPtrsIEHeader(IE_HEADER_FILTRO_PS filtro, IE_ARRAY_PONTEIROS_PS* pRegPtrs) {
  static constexpr const char* kFuncao = "CIExBase::BuscaPtrsIEHeader";
  if (pRegPtrs == nullptr) IE_RECUSA(kFuncao, "pRegPtrs == NULL", E_POINTER);
  if ((filtro.dwFlags & kFiltroProcesso) != 0 && (filtro.eProc < 0 || filtro.eProc >= IE_PROCESSO_COUNT))
    IE_RECUSA(kFuncao, "filtro.eProc < 0 || filtro.eProc >= IE_PROCESSO_COUNT", E_INVALIDARG);
  std::memset(pRegPtrs, 0, sizeof *pRegPtrs);

  std::vector<UI4> aPtrs;
  HRESULT hr = SobMarca(kFuncao, kFonte, __LINE__, [&]() -> HRESULT {
    std::lock_guard<std::recursive_mutex> trava(m_csArquivos);
    HRESULT hrArq = AbreArqHeader();
    if (FAILED(hrArq)) {
      IE_TRACA_HR(kFuncao, "AbreArqHeader()", hrArq);
      return hrArq;
    }
    hrArq = AbreArqCampoHeader();
    if (FAILED(hrArq)) {
      IE_TRACA_HR(kFuncao, "AbreArqCampoHeader()", hrArq);
      return hrArq;
    }
    struct Excluido {
      UI4 lPos;
      UI8 ullCarimbo;
    };
    std::vector<Excluido> aExcluidos;
    const ULONGLONG nRegistros = m_ArqIE.GetQtdRegistros();
    for (ULONGLONG lPos = 1; lPos < nRegistros; ++lPos) {
      IE_HDR_ARQ_V0 regIEHdr{};
      hrArq = HrDoCodigo(LeNaPosicao(m_ArqIE, lPos, &regIEHdr));
      if (FAILED(hrArq)) {
        IE_TRACA_HR(kFuncao, "m_ArqIE.Le(lPos, &regIEHdr)", hrArq);
        return hrArq;
      }
      if ((filtro.dwFlags & kFiltroProcesso) != 0 && regIEHdr.eProcesso != static_cast<UI4>(filtro.eProc)) continue;
      if ((filtro.dwFlags & kFiltroIncluiExcluidos) != 0 || (regIEHdr.dwFlags & kBitExcluido) == 0)
        aPtrs.push_back(static_cast<UI4>(lPos));
      else if ((filtro.dwFlags & kFiltroSemRecurso) == 0)
        aExcluidos.push_back({static_cast<UI4>(lPos), regIEHdr.ullCarimbo});
    }
    // Nothing alive: the one deleted header asked for, or the latest one.
    if (aPtrs.empty() && (filtro.dwFlags & (kFiltroIncluiExcluidos | kFiltroSemRecurso)) == 0 &&
        !aExcluidos.empty()) {
      if (filtro.ulPonteiro != 0) {
        for (const Excluido& e : aExcluidos)
          if (e.lPos == filtro.ulPonteiro) {
            aPtrs.push_back(e.lPos);
            break;
          }
      } else {
        int64_t llMaior = 0;
        UI4 lPosMaior = 0;
        for (const Excluido& e : aExcluidos)
          if (IECarimboComSinal(e.ullCarimbo) > llMaior) {
            llMaior = IECarimboComSinal(e.ullCarimbo);
            lPosMaior = e.lPos;
          }
        if (lPosMaior != 0) aPtrs.push_back(lPosMaior);
      }
    }
    return S_OK;
  });
  if (FAILED(hr) || aPtrs.empty()) return hr;
  UI4* pPtrs = EntregaArray(aPtrs);
  if (pPtrs == nullptr) {
    IE_TRACA_HR(kFuncao, "E_OUTOFMEMORY", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  pRegPtrs->qtd = static_cast<UINT>(aPtrs.size());
  pRegPtrs->pPtrs = pPtrs;
  return S_OK;
}

HRESULT CIExBase::GravaArrayItens(CIEArqT<IE_CAMPO_DATA_ARQ_V2>& arq, UINT nQtd, UI4* piPtr,
                                  const IE_CAMPO_DATA_PS* pArray) {
  static constexpr const char* kFuncao = "CIExBase::GravaArrayItens";
  if (nQtd == 0) return S_OK;
  if (piPtr == nullptr) IE_RECUSA(kFuncao, "piPtr == NULL", E_POINTER);
  if (pArray == nullptr) IE_RECUSA(kFuncao, "pArray == NULL", E_POINTER);
  if (PosicaoAlemDoFim(arq, *piPtr)) IE_RECUSA(kFuncao, "*piPtr > arq.GetQtdRegistros()", ZEL_E_POSICAO_ALEM_DO_FIM);
  // The records go out in one write (a long list in a few), each record
  // where writing them one by one would put it.
  constexpr UINT kPorEscrita = 4096;
  std::vector<IE_CAMPO_DATA_ARQ_V2> aRegs(std::min(nQtd, kPorEscrita));
  UI4 iPtr = *piPtr;
  for (UINT i = 0; i < nQtd; i += kPorEscrita) {
    const UINT n = std::min(nQtd - i, kPorEscrita);
    for (UINT j = 0; j < n; ++j) IEConverte(pArray[i + j], &aRegs[j]);
    ULONG lPosGrava = i == 0 ? iPtr : iPtr + i;
    HRESULT hr = HrDoCodigo(arq.GravaRun(aRegs.data(), n, &lPosGrava));
    if (FAILED(hr)) {
      IE_TRACA_HR(kFuncao, "arq.Grava(&reg, &lPosGrava)", hr);
      return hr;
    }
    if (i == 0) iPtr = lPosGrava;
  }
  *piPtr = iPtr;
  return S_OK;
}

HRESULT CIExBase::LeArrayItens(CIEArqT<IE_CAMPO_DATA_ARQ_V2>& arq, UI4 iPtr, UINT nQtd, IE_CAMPO_DATA_PS** ppArray) {
  static constexpr const char* kFuncao = "CIExBase::LeArrayItens";
  if (ppArray == nullptr) IE_RECUSA(kFuncao, "ppArray == NULL", E_POINTER);
  std::vector<IE_CAMPO_DATA_PS> aItens;  // grows only with the records that exist
  // A chain wholly in the file comes in one read; any other takes the
  // record-by-record way, which tells where it ends.
  UINT iLidos = 0;
  std::vector<IE_CAMPO_DATA_ARQ_V2> aRegs(std::min(nQtd, CIEArqT<IE_CAMPO_DATA_ARQ_V2>::kMaximoRun));
  if (nQtd > 0 && UI8{iPtr} + nQtd <= static_cast<UI8>(INT32_MAX) &&
      arq.LeRun(static_cast<LONG>(iPtr), nQtd, aRegs.data())) {
    aItens.resize(nQtd);
    for (UINT i = 0; i < nQtd; ++i) IEConverte(aRegs[i], &aItens[i]);
    iLidos = nQtd;
  }
  for (UINT i = iLidos; i < nQtd; ++i) {
    IE_CAMPO_DATA_ARQ_V2 reg{};
    HRESULT hr = HrDoCodigo(LeNaPosicao(arq, UI8{iPtr} + i, &reg));
    if (FAILED(hr)) {
      IE_TRACA_HR(kFuncao, "arq.Le(iPtr + i, &reg)", hr);
      *ppArray = EntregaParcial(aItens, nQtd);
      return hr;
    }
    IEConverte(reg, &aItens.emplace_back());
  }
  IE_CAMPO_DATA_PS* pItens = EntregaArray(aItens);
  if (pItens == nullptr) {
    IE_TRACA_HR(kFuncao, "E_OUTOFMEMORY", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  *ppArray = pItens;
  return S_OK;
}

HRESULT CIExBase::GravaArrayItensWithText(CIEArqT<IE_CAMPO_DATA_ARQ_V2>& arq, UINT nQtd, UI4* piPtr,
                                          IE_CAMPO_DATA_PS* pArray) {
  static constexpr const char* kFuncao = "CIExBase::GravaArrayItensWithText";
  if (nQtd == 0) return S_OK;
  if (piPtr == nullptr) IE_RECUSA(kFuncao, "piPtr == NULL", E_POINTER);
  if (pArray == nullptr) IE_RECUSA(kFuncao, "pArray == NULL", E_POINTER);
  // Values are taken in order, as one at a time would: the texts before a
  // value of no known group are stored, and that value ends the call. A text
  // too long for its 16-bit length is refused before anything is written.
  std::string sTexto;
  UINT nValidos = 0;
  std::vector<bool> aTexto(nQtd);
  for (bool bTexto = false; nValidos < nQtd && CampoDeTexto(pArray[nValidos].id, &bTexto); ++nValidos) {
    aTexto[nValidos] = bTexto;
    if (!bTexto) continue;
    TextoDoValor(pArray[nValidos], &sTexto);
    if (sTexto.size() > kTamanhoMaximoTexto) IE_RECUSA(kFuncao, "sTexto.GetLength() > 0xFFFF", E_INVALIDARG);
  }
  if (nValidos == nQtd && PosicaoAlemDoFim(arq, *piPtr))
    IE_RECUSA(kFuncao, "*piPtr > arq.GetQtdRegistros()", ZEL_E_POSICAO_ALEM_DO_FIM);

  std::vector<IE_CAMPO_DATA_ARQ_V2> aRegs;
  std::vector<std::string> aTextos;
  std::vector<UINT> aIndices;
  for (UINT i = 0; i < nValidos; ++i) {
    if (!aTexto[i]) continue;
    IE_CAMPO_DATA_ARQ_V2 reg{};
    reg.id = pArray[i].id;
    aRegs.push_back(reg);
    aTextos.emplace_back();
    TextoDoValor(pArray[i], &aTextos.back());
    aIndices.push_back(i);
  }
  // The texts are appended together, each where appending it alone would
  // put it; an empty one keeps its zero place.
  std::vector<std::pair<std::string_view, IE_CAMPO_DATA_ARQ_V2*>> aAcrescimos;
  for (size_t k = 0; k < aRegs.size(); ++k)
    if (!aTextos[k].empty()) aAcrescimos.emplace_back(aTextos[k], &aRegs[k]);
  if (!aAcrescimos.empty()) {
    HRESULT hr = HrDoCodigo(arq.AcrescentaTextos(aAcrescimos));
    if (FAILED(hr)) {
      IE_TRACA_HR(kFuncao, "arq.GravaTexto(sTexto, reg)", hr);
      return hr;
    }
  }
  for (size_t k = 0; k < aRegs.size(); ++k) IEConverte(aRegs[k], &pArray[aIndices[k]]);
  if (nValidos < nQtd) {
    IE_TRACA_HR(kFuncao, "E_FAIL", E_FAIL);
    return E_FAIL;
  }
  HRESULT hr = GravaArrayItens(arq, nQtd, piPtr, pArray);
  if (FAILED(hr)) {
    IE_TRACA_HR(kFuncao, "GravaArrayItens(arq, qtd, piPtr, pArray)", hr);
    return hr;
  }
  return S_OK;
}

void CIExBase::AdiantaItensWithText(CIEArqTDados<IE_CAMPO_DATA_ARQ_V2>& arq,
                                    const std::vector<std::pair<UI4, UINT>>& aRuns) {
  arq.AdiantaRuns(aRuns, [](I4 id) {
    bool bTexto = false;
    return CampoDeTexto(static_cast<IE_E_CAMPO>(id), &bTexto) && bTexto;
  });
}

HRESULT CIExBase::LeArrayItensWithText(CIEArqT<IE_CAMPO_DATA_ARQ_V2>& arq, UI4 iPtr, UINT nQtd,
                                       IE_CAMPO_DATA_PS** ppArray) {
  static constexpr const char* kFuncao = "CIExBase::LeArrayItensWithText";
  HRESULT hr = LeArrayItens(arq, iPtr, nQtd, ppArray);
  if (FAILED(hr)) {
    IE_TRACA_HR(kFuncao, "LeArrayItens(arq, iPtr, pQtd, ppArray, dwFlags, pHeader)", hr);
    return hr;
  }
  if (nQtd == 0) return S_OK;
  // A failure keeps the array handed out with the texts read so far.
  IE_CAMPO_DATA_PS* pArray = *ppArray;
  std::string sTexto;
  for (UINT i = 0; i < nQtd; ++i) {
    bool bTexto = false;
    if (!CampoDeTexto(pArray[i].id, &bTexto)) {
      IE_TRACA_HR(kFuncao, "E_FAIL", E_FAIL);
      return E_FAIL;
    }
    if (!bTexto) continue;
    IE_CAMPO_DATA_ARQ_V2 reg{};
    std::memcpy(reg.BinaryData, pArray[i].BinaryData, sizeof reg.BinaryData);
    hr = HrDoCodigo(arq.LeTexto(reg, &sTexto));
    if (FAILED(hr)) {
      IE_TRACA_HR(kFuncao, "arq.LeTexto(reg, sTexto)", hr);
      return hr;
    }
    if (sTexto.empty()) continue;
    char* pcTexto = IEAlocaZerado<char>(sTexto.size() + 1);
    if (pcTexto == nullptr) {
      IE_TRACA_HR(kFuncao, "E_OUTOFMEMORY", E_OUTOFMEMORY);
      return E_OUTOFMEMORY;
    }
    std::memcpy(pcTexto, sTexto.data(), sTexto.size());
    pArray[i].pcTexto = pcTexto;
    pArray[i].ulTamanhoTexto = static_cast<UI4>(sTexto.size() + 1);
  }
  return S_OK;
}
