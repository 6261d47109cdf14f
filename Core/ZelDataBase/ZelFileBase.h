// Base of every file a record database owns: where the file lives, how it is
// opened (modes, sharing, retries, error mapping), the optional header, the
// guards against interrupted rewrites, deleting, renaming and copying.
// m_lockArquivo guards the file and the derived classes' memory: readers
// share it, writers and the rewrites here take it exclusively.
#pragma once

#include <shared_mutex>
#include <string>

#include "ZelArquivo.h"
#include "ZelDataBaseControleCriacaoArquivos.h"
#include "ZelDataBaseDefs.h"
#include "ZelInicializador.h"

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
  HRESULT MarcaMudanca(class CZelArqMarcaFila& marca);
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
