// The exceptions the suite's libraries throw, and their translation into
// result codes where a call ends.
#pragma once

#include <string>

#include "ZelArquivo.h"
#include "ZelCom.h"

class CZelException : public CException {
 public:
  CZelException(long lCodigo, long lTipoMensagem, long lErroSO)
      : m_lCodigo(lCodigo), m_lTipoMensagem(lTipoMensagem), m_lErroSO(lErroSO) {}
  CZelException(std::string sMensagem, long lTipoMensagem, long lErroSO)
      : m_lCodigo(0), m_lTipoMensagem(lTipoMensagem), m_lErroSO(lErroSO), m_sMensagem(std::move(sMensagem)) {}

  long GetCodigo() const { return m_lCodigo; }
  long GetTipoMensagem() const { return m_lTipoMensagem; }
  long GetErroSO() const { return m_lErroSO; }
  // The message; when empty, the message library's text of the code.
  std::string GetMensagem() const;
  std::string GetErrorMessage() const override { return GetMensagem(); }
  // The text ReportError shows, and the box type it uses.
  std::string TextoRelatorio() const;
  static unsigned TipoRelatorio(unsigned nTipo);
  // Shows the report (no window here: standard error) and returns the type used.
  unsigned ReportError(unsigned nTipo = 0, unsigned nAjuda = 0) const;

 private:
  int32_t m_lCodigo;
  int32_t m_lTipoMensagem;
  int32_t m_lErroSO;
  std::string m_sMensagem;
};

class CZelExceptionEx {
 public:
  CZelExceptionEx(HRESULT hr, long l1 = 0, long l2 = 0, std::string s1 = {}, std::string s2 = {}, std::string s3 = {},
                  long l3 = 0, std::string s4 = {})
      : m_hr(hr), m_l1(static_cast<int32_t>(l1)), m_l2(static_cast<int32_t>(l2)), m_s1(std::move(s1)),
        m_s2(std::move(s2)), m_s3(std::move(s3)), m_l3(static_cast<int32_t>(l3)), m_s4(std::move(s4)) {}
  HRESULT GetHr() const { return m_hr; }
  int32_t GetInteiro1() const { return m_l1; }
  int32_t GetInteiro2() const { return m_l2; }

 private:
  HRESULT m_hr;
  int32_t m_l1, m_l2;
  std::string m_s1, m_s2, m_s3;
  [[maybe_unused]] int32_t m_l3;  // carried as thrown; nothing reads it here
  std::string m_s4;
};

// Compiler COM support's error object.
class _com_error {
 public:
  explicit _com_error(HRESULT hr) : m_hr(hr) {}
  HRESULT Error() const { return m_hr; }

 private:
  HRESULT m_hr;
};

// Result codes of the exception guard.
constexpr HRESULT ZEL_HR_EXCECAO_DESCONHECIDA = HR(0x8004EA66);
constexpr HRESULT ZEL_HR_BAD_ALLOC = HR(0x8004EA64);
constexpr HRESULT ZEL_HR_STD_EXCEPTION = HR(0x8004EA65);
constexpr HRESULT ZEL_HR_CMEMORYEXCEPTION = HR(0x8004EA62);
constexpr HRESULT ZEL_HR_CINVALIDARGEXCEPTION = HR(0x8004EA67);
constexpr HRESULT ZEL_HR_CEXCEPTION = HR(0x8004EA63);
constexpr HRESULT ZEL_HR_CZELEXCEPTION = HR(0x8004EA61);
constexpr HRESULT ZEL_HR_ERRNO_DESCONHECIDO = HR(0x8004EA60);
constexpr HRESULT ZEL_HR_ERRNO_PRIMEIRO = HR(0x8004EADC);

// Must be called inside a catch block: classifies the exception being
// handled (releasing framework exceptions thrown by pointer).
HRESULT ZelTranslateThrownExceptionToHresult();
// The code of an errno value left by an invalid-parameter event.
HRESULT ZelErrnoParaHresult(int nErrno);
