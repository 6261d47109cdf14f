// Session base of business objects and its server access. The company's
// general log and audit log are text files in the company's DF directory
// ("ZelLogGeral.log", "ZelLogAuditoria.log"), one line per entry.
#pragma once

#include <string>

#include "ZelCom.h"
#include "ZelDF_IEx.h"
#include "ZelDados.h"
#include "ZelDadosDF.h"
#include "ZelInicializador.h"

class CZelAcessoEmpresarial {
 public:
  explicit CZelAcessoEmpresarial(const IZelDF_Profiler* pIdentidade) : m_pIdentidade(pIdentidade) {}
  // Both append one line; false when the company has no directory or the
  // file cannot be written.
  bool GravaLogGeral(const std::string& sTexto);
  bool GravaLog(const CZelDadosDF_Log& dadosLog);
  // Name from the registry ("Usuarios" under the suite key, value named by
  // the user code), else "Usuario %d".
  bool LeUsuario(unsigned short usUsuario, CZelDadosDF_Usuario* pUsuario);

 private:
  const IZelDF_Profiler* m_pIdentidade;
};

class CZelAcessoCore {};

class CZelAcessoServidores {
 public:
  explicit CZelAcessoServidores(const IZelDF_Profiler* pIdentidade) : m_empresarial(pIdentidade), m_pIdentidade(pIdentidade) {}
  virtual ~CZelAcessoServidores() = default;
  // Identifies the access in reports.
  virtual std::string GetIdentificacao() const;
  CZelAcessoEmpresarial* GetAcessoEmpresarial() { return &m_empresarial; }
  CZelAcessoCore* GetAcessoCore() { return &m_core; }

 private:
  CZelAcessoEmpresarial m_empresarial;
  CZelAcessoCore m_core;
  const IZelDF_Profiler* m_pIdentidade;
};

class IZelGetBaseParaRotinas {
 public:
  virtual class CZelBaseParaRotinas* GetBaseParaRotinas() = 0;

 protected:
  ~IZelGetBaseParaRotinas() = default;
};

class CZelBaseParaRotinas : public CZelInicializador,
                            public CZelUltimoErro,
                            public IZelGetBaseParaRotinas,
                            public IZelDF_ProfilerRegistro {
 public:
  CZelBaseParaRotinas();
  ~CZelBaseParaRotinas() override;

  using CZelInicializador::Inicializa;
  // Identity from the record (company, user, session), then OnInicializa.
  HRESULT Inicializa(const _REG_DF_INICIALIZAPS& reg);

  CZelBaseParaRotinas* GetBaseParaRotinas() override { return this; }
  const _REG_DF_INICIALIZAPS* GetRegistroInicializacao() const override { return &m_regInicializa; }

  // The default server access of the calling thread, for the code that runs
  // until it is cleared with null.
  static void SetAcessoDefault(CZelBaseParaRotinas* pBase);
  static CZelAcessoServidores* GetAcessoServidoresDefault();

  CZelAcessoServidores* GetAcessoServidores() { return &m_acesso; }
  CZelAcessoCore* GetAcessoCore() { return m_acesso.GetAcessoCore(); }
  void SetUsaConexaoDefault(const bool& b) { m_bUsaConexaoDefault = b; }
  bool GetUsaConexaoDefault() const { return m_bUsaConexaoDefault; }

  // The base knows no function number.
  virtual HRESULT FuncaoGenerica(unsigned long ulFuncao, const _REG_CR_LISTA_BYTESPS& regIn,
                                 _REG_CR_LISTA_BYTESPS** ppregOut);

 private:
  _REG_DF_INICIALIZAPS m_regInicializa{};
  CZelAcessoServidores m_acesso;
  bool m_bUsaConexaoDefault = false;
};
