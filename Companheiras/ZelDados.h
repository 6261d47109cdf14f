// Data-record objects of the suite's record library: the error record and
// the last-error holder, and records that copy themselves from and to their
// interface record.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "ZelCom.h"
#include "ZelDF_IEx.h"

class CZelDadosDF_Erro {
 public:
  virtual ~CZelDadosDF_Erro() = default;
  HRESULT GetHr() const { return m_hr; }
  const std::string& GetMensagem() const { return m_sMensagem; }
  const std::string& GetEmpresaErro() const { return m_sEmpresa; }
  void Define(HRESULT hr, const std::string& sMensagem, const std::string& sEmpresa);
  void Limpa() { Define(S_OK, {}, {}); }
  // Texts are cut to the record's arrays, always terminated.
  void CopiarPara(_REG_DF_ERROPS* pReg) const;

 private:
  HRESULT m_hr = S_OK;
  std::string m_sMensagem;
  std::string m_sEmpresa;
};

// Keeps the last failure traced by its owner. Thread-safe.
class CZelUltimoErro : public CZelDadosDF_Erro {
 public:
  // A snapshot of the current error, taken under the lock into storage of
  // the calling thread: valid until that thread's next GetErro, and never
  // changed by another thread's.
  virtual CZelDadosDF_Erro* GetErro();
  void RegistraErro(HRESULT hr, const std::string& sMensagem, const std::string& sEmpresa);

 private:
  std::mutex m_mutex;
};

template <typename R>
class T_ZelDadosRegistroComLista {
 public:
  void CopiarDe(const R* pReg) {
    if (pReg != nullptr) m_reg = *pReg;
  }
  void CopiarPara(R* pReg) const {
    if (pReg != nullptr) *pReg = m_reg;
  }
  const R& GetRegistro() const { return m_reg; }

 protected:
  R m_reg{};
};

// One change notification; its byte list is copied, so the object outlives
// the caller's arrays.
class CZelDadosCR_Alteracao : public T_ZelDadosRegistroComLista<_REG_CR_ALTERACAOPS> {
 public:
  void CopiarDe(const _REG_CR_ALTERACAOPS* pReg);
  const std::vector<UI1>& GetBytes() const { return m_aBytes; }
  UI4 GetTipoAlteracao() const { return m_reg.ulTipoAlteracao; }

 private:
  std::vector<UI1> m_aBytes;
};

class CZelDadosDF_Texto {
 public:
  void SetTexto(const std::string& s) { m_sTexto = s; }
  const std::string& GetTexto() const { return m_sTexto; }

 private:
  std::string m_sTexto;
};
