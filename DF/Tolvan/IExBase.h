// The Vovi Dadi business object of one service object: the company's Vovi
// Dadi directory, its shared record database and the long-lived read-only
// files of headers, fields and users. Calls of one service object may come
// from several threads; the files opened by an operation are its own.
#pragma once

#include <string>

#include "IEArq.h"
#include "IExRegistros.h"
#include "ZelBaseParaRotinas.h"
#include "ZelDataBaseFacade.h"
#include "ZelDataBase_DF_InfoExtras.h"

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

 private:
  void FechaArquivos();
  // Runs an integration file operation under the company's change marker.
  template <class F>
  HRESULT ExecutaMarcadoIntegracao(const char* szFuncao, F corpo);
};

// Processes with files of their own: 0 to 68.
inline bool IEProcessoValido(int eProcesso) { return eProcesso >= 0 && eProcesso < IE_PROCESSO_COUNT; }

// A file of whole records: 0, or the data-file code of a damaged file.
int IEVerificaTamanho(CZelArqEx& arq);
