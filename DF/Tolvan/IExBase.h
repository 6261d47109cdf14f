// The Vovi Dadi business object of one service object: the company's Vovi
// Dadi directory, its shared record database and the long-lived read-only
// files of headers, fields and users. Calls of one service object may come
// from several threads: the long-lived files are used under m_csArquivos,
// taken after the change marker; the files opened by an operation are its own.
#pragma once

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "IEArq.h"
#include "IExRegistros.h"
#include "ZelArqMarcaFila.h"
#include "ZelBaseParaRotinas.h"
#include "ZelProfiler.h"
#include "ZelDataBaseFacade.h"
#include "ZelDataBase_DF_InfoExtras.h"
#include "ZelSistema.h"

class CIExBase : public CZelDataBaseFacade<CZelDataBase_DF_InfoExtras, CZelBaseParaRotinas>, public IIEArqBind {
 public:
  CIExBase();
  ~CIExBase() override;

  std::string GetDiretorioDados() const override { return m_sLocalDados; }
  HRESULT ExecutaConversao() override;

  HRESULT VerificaArquivosIntegracao();
  HRESULT AbreArqHeader();
  HRESULT AbreArqCampoHeader();
  HRESULT AbreArqUsuario();

  // Headers, their fields and each field's users. Arrays handed out are
  // task-allocated and belong to the caller (IELiberaCampos frees them).
  // No flag changes how headers are read.
  HRESULT LeIEHeader(UINT qtd, const UI4* pPos, IE_HDR_PS* pTipDoc, UI4 dwFlags = 0);
  // *pPos 0 creates the header; its position comes back.
  HRESULT GravaIEHeader(UI4* pPos, IE_HDR_PS ps);
  // Filter bits: 0 match eProc, 1 include deleted headers, 2 no fallback to
  // a deleted header.
  HRESULT BuscaPtrsIEHeader(IE_HEADER_FILTRO_PS filtro, IE_ARRAY_PONTEIROS_PS* pRegPtrs);
  HRESULT LeCampos(UI4 iPtr, UINT nQtd, IE_CAMPO_PS** ppCampos);
  // *piPtr 0 appends the run; its first position comes back.
  HRESULT GravaCampos(const IE_CAMPO_PS* pCampos, UINT nQtd, UI4* piPtr);

  // Runs of field values in a process's value file, opened by the caller;
  // the WithText forms keep text fields' texts in its text file. The value
  // array read is task-allocated even when empty (IELiberaItens frees it).
  HRESULT LeArrayItens(CIEArqT<IE_CAMPO_DATA_ARQ_V2>& arq, UI4 iPtr, UINT nQtd, IE_CAMPO_DATA_PS** ppArray);
  HRESULT GravaArrayItens(CIEArqT<IE_CAMPO_DATA_ARQ_V2>& arq, UINT nQtd, UI4* piPtr, const IE_CAMPO_DATA_PS* pArray);
  HRESULT LeArrayItensWithText(CIEArqT<IE_CAMPO_DATA_ARQ_V2>& arq, UI4 iPtr, UINT nQtd, IE_CAMPO_DATA_PS** ppArray);
  // Before many LeArrayItensWithText of the chains (first record, count).
  static void AdiantaItensWithText(CIEArqTDados<IE_CAMPO_DATA_ARQ_V2>& arq,
                                   const std::vector<std::pair<UI4, UINT>>& aRuns);
  // Text values come back as their place in the text file, without text.
  HRESULT GravaArrayItensWithText(CIEArqT<IE_CAMPO_DATA_ARQ_V2>& arq, UINT nQtd, UI4* piPtr,
                                  IE_CAMPO_DATA_PS* pArray);

  // Field values linked to origin records.
  HRESULT ExisteVinculo(UI4 lPosHeader);
  HRESULT BuscaVinculosByOrigem(UI4 lPosHeader, UINT qtd, UI4* pChaves, IE_VINCULO_PS* pVinculos);
  HRESULT GravaCamposVinculo(IE_VINCULO_PS vinculo);
  HRESULT NotificaExclusaoOrigem(IE_ORIGEM_VINCULO_PS origem);

  // Integrations between processes.
  HRESULT LeCabecalhoIntegracao(UI4 ulPosicao, _REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho);
  HRESULT GravaCabecalhoIntegracao(UI4 ulPosicaoIn, _REG_IE_CABECALHO_INTEGRACAO_PS reg, UI4* pulPosicaoOut);
  HRESULT GetPonteirosCabecalhoIntegracaoVoviDadi(IE_ARRAY_PONTEIROS_PS* pregPonteiros);
  HRESULT GetListaCabecalhosIntegracao(IE_ARRAY_PONTEIROS_PS* pRegPonteiros,
                                       _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS* pRegLista);
  HRESULT ExisteCabecalhoIntegracao(IE_HEADER_FILTRO_PS regHeaderOrigem, IE_HEADER_FILTRO_PS regHeaderDestino,
                                    _REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho);
  HRESULT LeVinculosCabecalhoIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho,
                                        _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pRegLista);
  HRESULT GravaVinculosCabecalhosIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho,
                                            _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pRegLista);
  HRESULT GetProcessoJaCadastradoNaIntegracao(IE_HEADER_FILTRO_PS header, I4* bProcessoJaCadastrado);
  HRESULT ExcluiIntegracoesQueUsamEsteProcesso(IE_HEADER_FILTRO_PS header);
  HRESULT GetVinculoByIntegracao(IE_HEADER_FILTRO_PS regHeaderOrigem, UI4 ulPosRegistroOrigem,
                                 IE_HEADER_FILTRO_PS regHeaderDestino, IE_VINCULO_PS* pVinculo);

  // The Vovi Dadi directory of a company ("" when it has none, or when the
  // name could reach outside the suite's registry key or directories).
  static std::string GetDiretorioVoviDadi(const std::string& sEmpresa);

 protected:
  HRESULT OnInicializa() override;
  HRESULT OnFinaliza() override;

  std::string m_sLocalDados;
  CIEArqT<IE_HDR_ARQ_V0> m_ArqIE;
  CIEArqT<IE_CAMPO_ARQ_V2> m_ArqCamposIE;
  CIEArqT<IE_USUARIO_ARQ_V0> m_ArqUsuariosIE;
  std::recursive_mutex m_csArquivos;

  // The first active link of an origin (any key of the header when plChave
  // is null), in file order; *plPos 0 when there is none. The first form lets
  // the origin index answer; the second scans the link file.
  HRESULT ProcuraVinculoAtivo(const char* szFuncao, UI4 lPosHeader, const UI4* plChave, ZelUInt* plPos,
                              IE_VINCULO_ARQ_V0* pregVin);
  HRESULT ProcuraVinculoLinear(const char* szFuncao, UI4 lPosHeader, const UI4* plChave, ZelUInt* plPos,
                               IE_VINCULO_ARQ_V0* pregVin);

 private:
  void FechaArquivos();
  // Runs fTrabalho under the directory's change marker; szFonte and nLinha
  // name the caller's place in the trace lines.
  template <class F>
  HRESULT SobMarca(const char* szFuncao, const char* szFonte, int nLinha, F&& fTrabalho);
  HRESULT VerificaCampos(const char* szFuncao, const IE_CAMPO_PS* pCampos, UINT nQtd);
};

template <class F>
HRESULT CIExBase::SobMarca(const char* szFuncao, const char* szFonte, int nLinha, F&& fTrabalho) {
  // Ends with the operation, so a failed one gives the marker up too.
  CZelArqMarcaFila marcaFila(this);
  int iRetorno = marcaFila.Marca(m_sLocalDados, IZelArqMarcaEnum::VoviDadi, "DF");
  if (iRetorno != 0) {
    ZelTraceInt(this, szFuncao, szFonte, nLinha,
                "iRetorno = marcaFila.Marca(m_sLocalDados, IZelArqMarcaEnum::VoviDadi, \"DF\")", "iRetorno", iRetorno);
    return IES_MAKE_HR(iRetorno);
  }
  HRESULT hr = fTrabalho();
  if (FAILED(hr)) return hr;
  iRetorno = marcaFila.Desmarca();
  if (iRetorno != 0) {
    ZelTraceInt(this, szFuncao, szFonte, nLinha, "iRetorno = marcaFila.Desmarca()", "iRetorno", iRetorno);
    return IES_MAKE_HR(iRetorno);
  }
  return hr;
}

// Traces a failed step of an operation ("hr = " and the step's text) and
// returns its code; each source file names itself in kFonte.
#define IE_FALHA_HR(funcao, expressao, hrFalha)                                   \
  do {                                                                            \
    const HRESULT hrTraco = (hrFalha);                                            \
    ZelTraceHR(this, funcao, kFonte, __LINE__, "hr = " expressao, "hr", hrTraco); \
    return hrTraco;                                                               \
  } while (0)

// A zero-filled task-allocated array of nQtd records (null when memory ran
// out); the client that receives it frees it.
template <class T>
T* IEAlocaZerado(size_t nQtd) {
  void* pv = CoTaskMemAlloc(nQtd * sizeof(T));
  if (pv != nullptr) std::memset(pv, 0, nQtd * sizeof(T));
  return static_cast<T*>(pv);
}

// The records read, handed to the client as a task-allocated copy; an empty
// list is a null pointer.
template <class T>
HRESULT IEEntregaLista(const std::vector<T>& a, T** pp) {
  *pp = nullptr;
  if (a.empty()) return S_OK;
  T* p = IEAlocaZerado<T>(a.size());
  if (p == nullptr) return E_OUTOFMEMORY;
  std::memcpy(static_cast<void*>(p), a.data(), a.size() * sizeof(T));
  *pp = p;
  return S_OK;
}

// Processes with files of their own: 0 to 68.
inline bool IEProcessoValido(int eProcesso) { return eProcesso >= 0 && eProcesso < IE_PROCESSO_COUNT; }

// The header stamp of a local time: day number (days since 30 December 1899)
// x 86400 + seconds of the day, in the low 38 bits.
UI8 IECarimbo(const SYSTEMTIME& st);
// The low 38 bits of a stamp as a signed number.
int64_t IECarimboComSinal(UI8 ullCarimbo);

// Free a task-allocated array handed out above, with the blocks it points to.
void IELiberaCampos(IE_CAMPO_PS* pCampos, UINT nQtd);
void IELiberaItens(IE_CAMPO_DATA_PS* pItens, UINT nQtd);
