#include "ZelException.h"

#include <cerrno>
#include <cstdio>
#include <new>
#include <stdexcept>

#include "ZelMensagem.h"
#include "ZelSistema.h"

std::string CZelException::GetMensagem() const {
  if (!m_sMensagem.empty()) return m_sMensagem;
  std::string s;
  ZelGetDescricaoHRESULT(s, m_lCodigo);
  return s;
}

std::string CZelException::TextoRelatorio() const {
  std::string s = GetMensagem();
  if (s.empty()) s = "Erro desconhecido encontrado. C\xF3" "digo (" + std::to_string(m_lCodigo) + ")";
  if (m_lErroSO != 0)
    s += "\nErro do SO: " + std::to_string(m_lErroSO) + " - " + ZelTextoErroSO(m_lErroSO);
  return s;
}

unsigned CZelException::TipoRelatorio(unsigned nTipo) {
  return (nTipo & 0x70u) == 0 ? nTipo + 0x30u : nTipo;
}

unsigned CZelException::ReportError(unsigned nTipo, unsigned) const {
  unsigned n = TipoRelatorio(nTipo);
  std::fprintf(stderr, "%s\n", TextoRelatorio().c_str());
  return n;
}

namespace {
// Numbers of the original runtime's errno values, in the order the codes run.
constexpr int kErrnosRuntime[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 16, 17, 18, 19, 20, 21,
                                  22, 23, 24, 25, 27, 28, 29, 30, 31, 32, 33, 34, 36, 38, 39, 40, 41, 42, 80};

// This platform's errno values that the original runtime numbers otherwise.
int ErrnoDoRuntime(int n) {
  switch (n) {
    case EDEADLK: return 36;
    case ENAMETOOLONG: return 38;
    case ENOLCK: return 39;
    case ENOSYS: return 40;
    case ENOTEMPTY: return 41;
    case EILSEQ: return 42;
    default: return n <= 34 ? n : -1;
  }
}
}  // namespace

HRESULT ZelErrnoParaHresult(int nErrno) {
  // STRUNCATE (80) has no counterpart here; the checked helpers report it as 80.
  int n = nErrno == 80 ? 80 : ErrnoDoRuntime(nErrno);
  for (size_t i = 0; i < sizeof kErrnosRuntime / sizeof kErrnosRuntime[0]; ++i)
    if (kErrnosRuntime[i] == n) return ZEL_HR_ERRNO_PRIMEIRO + static_cast<HRESULT>(i);
  return ZEL_HR_ERRNO_DESCONHECIDO;
}

HRESULT ZelTranslateThrownExceptionToHresult() {
  try {
    throw;
  } catch (const CZelExceptionEx& e) {
    return e.GetHr();
  } catch (CZelException* e) {
    HRESULT hr = e->GetErroSO() != 0 ? static_cast<HRESULT>(0x80040000u | static_cast<uint32_t>(e->GetErroSO()))
                                     : ZEL_HR_CZELEXCEPTION;
    e->Delete();
    return hr;
  } catch (CFileException* e) {
    HRESULT hr = HRESULT_FROM_WIN32(e->m_lOsError);
    e->Delete();
    return hr;
  } catch (CMemoryException* e) {
    e->Delete();
    return ZEL_HR_CMEMORYEXCEPTION;
  } catch (CInvalidArgException* e) {
    e->Delete();
    return ZEL_HR_CINVALIDARGEXCEPTION;
  } catch (CException* e) {
    e->Delete();
    return ZEL_HR_CEXCEPTION;
  } catch (const _com_error& e) {
    return e.Error();
  } catch (long v) {
    return static_cast<HRESULT>(v);
  } catch (const std::bad_alloc&) {
    return ZEL_HR_BAD_ALLOC;
  } catch (const std::exception&) {
    return ZEL_HR_STD_EXCEPTION;
  } catch (...) {
    return ZEL_HR_EXCECAO_DESCONHECIDA;
  }
}
