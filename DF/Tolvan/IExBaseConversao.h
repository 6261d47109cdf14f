// Brings a company's Vovi Dadi files to the current data version, one step
// at a time, recording the version reached after each step in
// "DFIECONFIG.DAT". A step writes a file's new content beside it (".TRA")
// and then replaces the file, so a transfer file found later means an
// interrupted step and no step starts while one is there.
// Lives on the stack of one conversion, under the process's write lock and
// the company's change marker.
#pragma once

#include <string>

#include "IEArq.h"
#include "IExRegistros.h"
#include "ZelInicializador.h"

class CIExBaseConversao : public IIEArqBind, public IZelDF_Profiler {
 public:
  HRESULT Inicializa(const std::string& sEmpresa, unsigned short usUsuario, unsigned long ulSessao);
  HRESULT FazConversao();

  HRESULT VerificaArquivoConfiguracao();
  HRESULT GetConfiguracao(REG_IE_CONFIGURACAO_INFO_PLUS_PS* pRegConfig);
  HRESULT SetConfiguracao(const REG_IE_CONFIGURACAO_INFO_PLUS_PS* pRegConfig);
  HRESULT VerificaExistenciaTRA();
  HRESULT EliminaRegistrosZerados();
  HRESULT RemoveRegistroZero();
  HRESULT ConverteIE_CAMPO_ARQ_V1ParaV2();

  std::string GetDiretorioDados() const override { return m_sLocalDados; }
  std::string GetEmpresa() const override { return m_sEmpresa; }
  unsigned short GetUsuario() const override { return m_usUsuario; }
  unsigned long GetNumeroSessao() const override { return m_ulSessao; }

 private:
  std::string CaminhoConfiguracao() const {
    return m_sLocalDados + REG_IE_CONFIGURACAO_INFO_PLUS_ARQ::GetFileNameComExtensaoDAT();
  }
  // Replaces each file by its transfer file and deletes the transfer files.
  // The step's trace lines carry szFuncao, the step's name.
  HRESULT SubstituiPorTRA(const char* szFuncao, const char* const* aszNomes, int nQtd);
  void ApagaTRA(const char* const* aszNomes, int nQtd);

  std::string m_sEmpresa;
  unsigned short m_usUsuario = 0;
  unsigned long m_ulSessao = 0;
  std::string m_sLocalDados;
};
