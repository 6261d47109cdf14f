// Base of every file a record database owns: where the file lives, how it is
// opened (modes, sharing, retries, error mapping), the optional header, the
// guards against interrupted rewrites, deleting, renaming and copying.
// m_lockArquivo guards the file and the derived classes' memory: readers
// share it, writers and the rewrites here take it exclusively.
#pragma once

#include <functional>
#include <shared_mutex>
#include <string>

#include "ZelArquivo.h"
#include "ZelDataBaseControleCriacaoArquivos.h"
#include "ZelDataBaseDefs.h"
#include "ZelInicializador.h"
#include "ZelProfiler.h"

class CZelArqMarcaFila;
class CZelDataBase;

class IZelFileBase : public CZelInicializador {
 public:
  virtual HRESULT DeletaArquivo(bool bGerarLog) = 0;
  virtual std::string GetNomeArquivo() const = 0;
  virtual _ZelModulo GetModulo() const = 0;
  virtual void SetModulo(_ZelModulo eModulo) = 0;
  virtual ZelUInt GetQtdRegistros() = 0;
  virtual void DesabilitaControleCriacaoArquivos() = 0;
};

class CZelFileBase : public IZelFileBase {
 public:
  // Attempts of every write step before its last failure is returned.
  static constexpr int kTentativasGravacao = 50;

  CZelFileBase(const std::string& sNomeArquivo, CZelDataBase* pZelDataBase);
  ~CZelFileBase() override;
  CZelFileBase(const CZelFileBase&) = delete;
  CZelFileBase& operator=(const CZelFileBase&) = delete;

  HRESULT DeletaArquivo(bool bGerarLog) override;
  std::string GetNomeArquivo() const override { return m_sNomeArquivo; }
  _ZelModulo GetModulo() const override { return m_eModulo; }
  void SetModulo(_ZelModulo eModulo) override;
  ZelUInt GetQtdRegistros() override { return 0; }
  void DesabilitaControleCriacaoArquivos() override { m_ControleCriacaoArquivos.DesabilitaControleCriacaoArquivos(); }
  virtual const void* GetPtrArray() { return nullptr; }
  virtual HRESULT SetArrayData(ZelUInt, const void*) { return S_OK; }
  virtual std::string GetNomeEstrutura() const { return "Invalid"; }
  virtual const void* GetPtrRegistro(ZelUInt) { return nullptr; }
  virtual HRESULT SetRegData(ZelUInt, const void*) { return S_OK; }

  // S_OK also when the file is absent and the mode does not create it (it
  // stays closed).
  HRESULT AbreArquivo(EZelDataBase_ModoAbertura eModoAbertura);
  void FechaArquivo();
  // The file is open (not a disk lookup).
  bool ExisteArquivo() const { return m_File.EstaAberto(); }
  EZelDataBase_ModoAbertura GetModoAbertura() const { return m_eModoAbertura; }
  bool PossuiCabecalho();
  ULONGLONG GetSeekCabecalho();

  HRESULT RenomeiaArquivoEXT(const std::string& sExtensaoOrigem);
  HRESULT CopiaArquivoPara(const std::string& sEmpresa, _ZelModulo zelModulo);
  HRESULT CopiaArquivoParaEXT(const std::string& sEmpresa, _ZelModulo zelModulo, const std::string& sExtensao,
                              bool bSubstitui);

  ZelUInt GetFlagDeletaArquivo() const { return m_ControleCriacaoArquivos.GetControleCriacaoArquivosHabilitado() ? 2 : 0; }
  HRESULT CatchInicializacao(CFileException* pEx);
  HRESULT CatchGravacao(CFileException* pEx);
  static bool EhUmaExcecaoFatal(HRESULT hr);

  CZelDataBase* GetDataBase() const { return m_pZelDataBase; }
  // The owning database is going away before this file.
  void DesligaDataBase() { m_pZelDataBase = nullptr; }

 protected:
  HRESULT OnInicializa() override;
  HRESULT OnFinaliza() override;
  // Marks the data directory before a change, when the library asks for it.
  HRESULT MarcaMudanca(CZelArqMarcaFila& marca);

  // Entry trace of a public operation: the file name, then the arguments,
  // which are formatted only when a call line may carry them.
  template <class F>
  void Entrada(CZelProfiler& prof, const char* szFuncao, F fnPares) const {
    prof.EntradaSobDemanda(szFuncao, [&] {
      ZelPares pares = fnPares();
      pares.insert(pares.begin(), {"m_sNomeArquivo", m_sNomeArquivo});
      return pares;
    });
  }
  void Entrada(CZelProfiler& prof, const char* szFuncao) const {
    Entrada(prof, szFuncao, [] { return ZelPares{}; });
  }

  // The rules every record file shares, each failure traced under szFuncao.
  // Reading (under the shared lock): position 0 of one record, a range with
  // one bound 0, a closed file, a range past the count.
  HRESULT ConfereLeitura(const char* szFuncao, ZelUInt uiPosicao, ZelUInt uiQuantidade, bool bColecao,
                         ZelUInt uiQtdRegistros, int nTamanhoRegistro) const;
  // Writing (under the exclusive lock): the directory marked, then a
  // position up to the count (0 appends).
  HRESULT PreparaGravacao(const char* szFuncao, CZelArqMarcaFila& marca, ZelUInt uiPosicao, ZelUInt uiQtdRegistros,
                          int nTamanhoRegistro);
  // Opens the file (creating it) and runs the write step up to
  // kTentativasGravacao times 10 ms apart, until it succeeds or fails with
  // a fatal error; every failure is traced with szExpressao.
  HRESULT GravaComRetentativas(const char* szFuncao, const char* szExpressao, const std::function<HRESULT()>& fnGrava);
  // Replaces the whole content (caller holds the exclusive lock and the
  // mark): the file is deleted, with its audit line and creation-control
  // entry, started again over the absent file, created, and fnGrava writes
  // the new records.
  HRESULT RecriaComConteudo(const char* szFuncao, bool bGerarLog, const std::function<HRESULT()>& fnGrava);
  HRESULT MapeiaExcecao(CFileException* pEx, const char* szFuncao, int nLinha);
  void Traca(const char* szFuncao, int nLinha, const char* szExpressao, HRESULT hr) const;

  CFile m_File;
  CZelDataBase* m_pZelDataBase;
  EZelDataBase_ModoAbertura m_eModoAbertura = EZelDataBase_ModoAbertura::eModoInvalido;
  std::string m_sNomeArquivo;
  _ZelModulo m_eModulo;
  mutable std::shared_mutex m_lockArquivo;
  CZelDataBaseControleCriacaoArquivos m_ControleCriacaoArquivos;
  bool m_bCabecalhoVerificado = false;
  bool m_bPossuiCabecalho = false;
  BYTE m_Cabecalho[ZELDATABASE_TAMANHO_CABECALHO] = {};
};
