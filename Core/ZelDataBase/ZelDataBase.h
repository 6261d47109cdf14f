// A named set of record files of one database identifier and company: they
// start, stop and are deleted together, and before they start the stored data
// is brought to the program's data version through the version file.
// Started and stopped by one thread at a time.
#pragma once

#include <map>
#include <string>

#include "ZelBaseParaRotinas.h"
#include "ZelDataBaseDefs.h"

class CZelFileBase;

// The one record of the version file.
struct REG_CR_ZELDATABASE_VERSAO {
  uint16_t iVersaoBaseDados;
  uint16_t usVersaoShrink;
  uint8_t cFiller[12];
};
static_assert(sizeof(REG_CR_ZELDATABASE_VERSAO) == 16);
static_assert(offsetof(REG_CR_ZELDATABASE_VERSAO, usVersaoShrink) == 2);
static_assert(offsetof(REG_CR_ZELDATABASE_VERSAO, cFiller) == 4);

class CZelDataBase : public CZelBaseParaRotinas {
 public:
  explicit CZelDataBase(_ZelModulo eModulo) : CZelDataBase(eModulo, std::string(), 0) {}
  CZelDataBase(_ZelModulo eModulo, const std::string& sArquivoVersao, ZelUShort usVersaoBaseDados);
  ~CZelDataBase() override;
  CZelDataBase(const CZelDataBase&) = delete;
  CZelDataBase& operator=(const CZelDataBase&) = delete;

  // A second file of the same name is not registered.
  void AddFile(CZelFileBase* pFile);
  void RemoveFile(CZelFileBase* pFile);
  HRESULT DeletaArquivos(bool bGerarLog);

  _ZelModulo GetModulo() const { return m_eModulo; }
  void SetModulo(_ZelModulo zelModulo);
  void DesabilitaControleCriacaoArquivos();
  void HabilitaAcessoPonteiros() { m_bAcessoPonteiros = true; }
  bool GetHabilitaAcessoPonteiros() const { return m_bAcessoPonteiros; }
  void HabilitaLeituraSemBloqueio(bool bHabilita = true) { m_bLeituraSemBloqueio = bHabilita; }
  bool GetHabilitaLeituraSemBloqueio() const { return m_bLeituraSemBloqueio; }
  const std::map<std::string, CZelFileBase*>& GetFiles() const { return m_mapFiles; }

  // Hooks of a concrete database; all do nothing here.
  virtual int OnGetEnumMarca() { return 0; }
  virtual HRESULT ExecutaConversao(int /*iVersao*/) { return S_OK; }
  virtual HRESULT ExecutaShrink() { return S_OK; }
  virtual HRESULT RotinaPosConversao() { return S_OK; }

  // Runs the conversion chain and the shrink the stored version asks for.
  HRESULT PrecisaConverter();

 protected:
  HRESULT OnInicializa() override;
  HRESULT OnFinaliza() override;

 private:
  std::map<std::string, CZelFileBase*> m_mapFiles;
  _ZelModulo m_eModulo;
  bool m_bControleCriacaoDesabilitado = false;
  bool m_bAcessoPonteiros = false;
  bool m_bLeituraSemBloqueio = false;
  std::string m_sArquivoVersao;
  ZelUShort m_usVersaoBaseDados;
};
