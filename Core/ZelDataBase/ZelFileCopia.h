// The target of a copy to another company or database: it always starts
// from an absent file.
#pragma once

#include "ZelFileBase.h"

class CZelFileCopia : public CZelFileBase {
 public:
  using CZelFileBase::CZelFileBase;
  ~CZelFileCopia() override { Finaliza(); }
  // Writes raw bytes at an offset of the open file.
  LONG GravaBytes(ULONGLONG nOffset, const void* pDados, UINT nBytes) { return m_File.GravaEm(nOffset, pDados, nBytes); }

 protected:
  HRESULT OnInicializa() override;
};
