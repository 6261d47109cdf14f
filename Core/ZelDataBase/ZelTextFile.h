// A file of variable-length text records: each is a 32-bit little-endian
// byte count and that many bytes, back to back, never with a header. It
// holds the creation-control list. Same position rules as the indexed file.
#pragma once

#include <shared_mutex>
#include <string>
#include <vector>

#include "ZelFileBase.h"

class CZelTextFile : public CZelFileBase {
 public:
  struct Registro {
    ULONGLONG nOffset;
    std::string sTexto;
  };

  using CZelFileBase::CZelFileBase;
  ~CZelTextFile() override { Finaliza(); }

  ZelUInt GetQtdRegistros() override {
    std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
    return m_aRegistros.size();
  }
  HRESULT Le(ZelUInt uiPosicao, std::string* psTexto);
  HRESULT LeColecao(ZelUInt uiPosicao, ZelUInt uiQuantidade, std::vector<std::string>& aTextos);
  HRESULT Grava(ZelUInt& uiPosicao, const char* szTexto);
  HRESULT GravaColecao(ZelUInt& uiPosicao, const std::vector<std::string>& aTextos);
  HRESULT SetConteudo(const std::vector<std::string>& aTextos, bool bGerarLog = true);
  const std::vector<Registro>* GetPtrRegistros() const { return &m_aRegistros; }
  bool PrecisaGravar(ZelUInt uiPosicao, const std::vector<std::string>& aTextos) const;

 protected:
  HRESULT OnInicializa() override;
  HRESULT OnFinaliza() override;

 private:
  HRESULT GravaRegistros(ZelUInt& uiPosicao, const std::vector<std::string>& aTextos);

  std::vector<Registro> m_aRegistros;
};
