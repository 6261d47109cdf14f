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
};

// A file of whole records: 0, or the data-file code of a damaged file.
int IEVerificaTamanho(CZelArqEx& arq);
