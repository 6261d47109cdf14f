// The Vovi Dadi record database of one company: the link file, held in
// memory and indexed by origin (header position and record key), cleaned of
// empty links before it opens.
#pragma once

#include "IExRegistros.h"
#include "ZelDataBase.h"
#include "ZelFile.h"

class CZelDataBase_DF_InfoExtras : public CZelDataBase {
 public:
  // eColunaCabecalhoAtivo answers whether a header has an active link
  // without a scan: its key is the header of an active link, 0 for a
  // flagged one.
  enum EColunas : ZelUInt { eColunaOrigem = 0, eColunaCabecalhoAtivo = 1 };
  static constexpr const char* kNomeArquivoVinculo = "DFIEVINC.dat";

  CZelDataBase_DF_InfoExtras();
  ~CZelDataBase_DF_InfoExtras() override;

  int OnGetEnumMarca() override { return 188; }
  HRESULT RemoverRegistrosZerados();
  static ZelUInt GetChaveIndex(const IE_VINCULO_ARQ_V0* pReg, ZelUInt uiColuna);
  static ZelUInt ChaveCabecalhoAtivo(const IE_VINCULO_ARQ_V0* pReg, ZelUInt /*uiColuna*/) {
    return pReg->ulExcluido == 0 ? pReg->lPosHeader : 0;
  }
  static ZelUInt ChaveOrigem(UI4 lPosHeader, UI4 lChave) {
    return (static_cast<ZelUInt>(lPosHeader) << 32) | static_cast<ZelUInt>(lChave);
  }

  CZelFile<IE_VINCULO_ARQ_V0> m_Vinculo;

 protected:
  HRESULT OnInicializa() override;
};
