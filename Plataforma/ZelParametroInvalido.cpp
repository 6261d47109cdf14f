#include "ZelParametroInvalido.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
thread_local _invalid_parameter_handler t_pTratador = nullptr;

// A failed check: its errno and the expression the event names.
struct Falha {
  errno_t e = 0;
  const wchar_t* pszExpressao = nullptr;
};

constexpr const wchar_t* kDestinoNulo = L"(pDestino != nullptr)";
constexpr const wchar_t* kTamanhoZero = L"(nTamanho > 0)";
constexpr const wchar_t* kOrigemNula = L"(pOrigem != nullptr)";
constexpr const wchar_t* kFormatoNulo = L"(pFormato != nullptr)";
constexpr const wchar_t* kPequeno = L"(\"Buffer is too small\" && 0)";
constexpr const wchar_t* kSemTerminador = L"(\"String is not null terminated\" && 0)";

errno_t Reporta(const Falha& f, const wchar_t* pszFuncao) {
  errno = f.e;
  _invalid_parameter(f.pszExpressao, pszFuncao, L"", 0, 0);
  return f.e;
}

// Checks shared by the string helpers; true when the destination is usable.
bool ValidaDestino(const char* pDestino, size_t nTamanho, Falha* pFalha) {
  if (pDestino == nullptr) {
    *pFalha = {EINVAL, kDestinoNulo};
    return false;
  }
  if (nTamanho == 0) {
    *pFalha = {EINVAL, kTamanhoZero};
    return false;
  }
  return true;
}

// Formats into a valid destination with at most nMaximo characters
// (_TRUNCATE: as many as fit). Reports no event itself, so callers can end
// their va_list before the handler (which may throw) runs.
int Formata(char* pDestino, size_t nTamanho, size_t nMaximo, const char* pFormato, va_list args, Falha* pFalha) {
  if (pFormato == nullptr) {
    if (pDestino != nullptr && nTamanho > 0) pDestino[0] = '\0';
    *pFalha = {EINVAL, kFormatoNulo};
    return -1;
  }
  if (!ValidaDestino(pDestino, nTamanho, pFalha)) return -1;
  bool bCorta = nMaximo < nTamanho || nMaximo == _TRUNCATE;
  size_t nLimite = nMaximo < nTamanho ? nMaximo : nTamanho - 1;
  int n = std::vsnprintf(pDestino, nLimite + 1, pFormato, args);
  if (n < 0) {
    pDestino[0] = '\0';
    return -1;
  }
  if (static_cast<size_t>(n) <= nLimite) return n;
  if (bCorta) return -1;  // cut to the limit, already terminated
  pDestino[0] = '\0';
  *pFalha = {ERANGE, kPequeno};
  return -1;
}
}  // namespace

_invalid_parameter_handler _set_thread_local_invalid_parameter_handler(_invalid_parameter_handler pNovo) {
  _invalid_parameter_handler pAnterior = t_pTratador;
  t_pTratador = pNovo;
  return pAnterior;
}

_invalid_parameter_handler _get_thread_local_invalid_parameter_handler() { return t_pTratador; }

void _invalid_parameter(const wchar_t* pszExpressao, const wchar_t* pszFuncao, const wchar_t* pszArquivo,
                        unsigned int nLinha, uintptr_t pReservado) {
  if (t_pTratador != nullptr) t_pTratador(pszExpressao, pszFuncao, pszArquivo, nLinha, pReservado);
}

errno_t strcpy_s(char* pDestino, size_t nTamanho, const char* pOrigem) {
  Falha f;
  if (!ValidaDestino(pDestino, nTamanho, &f)) return Reporta(f, L"strcpy_s");
  if (pOrigem == nullptr) {
    pDestino[0] = '\0';
    return Reporta({EINVAL, kOrigemNula}, L"strcpy_s");
  }
  size_t n = std::strlen(pOrigem);
  if (n >= nTamanho) {
    pDestino[0] = '\0';
    return Reporta({ERANGE, kPequeno}, L"strcpy_s");
  }
  std::memcpy(pDestino, pOrigem, n + 1);
  return 0;
}

errno_t strncpy_s(char* pDestino, size_t nTamanho, const char* pOrigem, size_t nMaximo) {
  if (nMaximo == 0 && pDestino == nullptr && nTamanho == 0) return 0;
  Falha f;
  if (!ValidaDestino(pDestino, nTamanho, &f)) return Reporta(f, L"strncpy_s");
  if (nMaximo == 0) {
    pDestino[0] = '\0';
    return 0;
  }
  if (pOrigem == nullptr) {
    pDestino[0] = '\0';
    return Reporta({EINVAL, kOrigemNula}, L"strncpy_s");
  }
  size_t n = nMaximo == _TRUNCATE ? std::strlen(pOrigem) : strnlen(pOrigem, nMaximo);
  if (n < nTamanho) {
    std::memcpy(pDestino, pOrigem, n);
    pDestino[n] = '\0';
    return 0;
  }
  if (nMaximo == _TRUNCATE) {
    std::memcpy(pDestino, pOrigem, nTamanho - 1);
    pDestino[nTamanho - 1] = '\0';
    return STRUNCATE;
  }
  pDestino[0] = '\0';
  return Reporta({ERANGE, kPequeno}, L"strncpy_s");
}

errno_t strcat_s(char* pDestino, size_t nTamanho, const char* pOrigem) {
  Falha f;
  if (!ValidaDestino(pDestino, nTamanho, &f)) return Reporta(f, L"strcat_s");
  if (pOrigem == nullptr) {
    pDestino[0] = '\0';
    return Reporta({EINVAL, kOrigemNula}, L"strcat_s");
  }
  size_t nAtual = strnlen(pDestino, nTamanho);
  if (nAtual == nTamanho) {
    pDestino[0] = '\0';
    return Reporta({EINVAL, kSemTerminador}, L"strcat_s");
  }
  size_t n = std::strlen(pOrigem);
  if (n >= nTamanho - nAtual) {
    pDestino[0] = '\0';
    return Reporta({ERANGE, kPequeno}, L"strcat_s");
  }
  std::memcpy(pDestino + nAtual, pOrigem, n + 1);
  return 0;
}

errno_t memcpy_s(void* pDestino, size_t nTamanho, const void* pOrigem, size_t nContagem) {
  if (nContagem == 0) return 0;
  if (pDestino == nullptr) return Reporta({EINVAL, kDestinoNulo}, L"memcpy_s");
  if (pOrigem == nullptr || nTamanho < nContagem) {
    std::memset(pDestino, 0, nTamanho);
    if (pOrigem == nullptr) return Reporta({EINVAL, kOrigemNula}, L"memcpy_s");
    return Reporta({ERANGE, kPequeno}, L"memcpy_s");
  }
  std::memcpy(pDestino, pOrigem, nContagem);
  return 0;
}

int sprintf_s(char* pDestino, size_t nTamanho, const char* pFormato, ...) {
  Falha f;
  va_list args;
  va_start(args, pFormato);
  // nMaximo == nTamanho: never a cut, a result that does not fit is an error.
  int n = Formata(pDestino, nTamanho, nTamanho, pFormato, args, &f);
  va_end(args);
  if (f.e != 0) Reporta(f, L"sprintf_s");
  return n;
}

int _snprintf_s(char* pDestino, size_t nTamanho, size_t nMaximo, const char* pFormato, ...) {
  if (pFormato != nullptr && nMaximo == 0 && pDestino == nullptr && nTamanho == 0) return 0;
  Falha f;
  va_list args;
  va_start(args, pFormato);
  int n = Formata(pDestino, nTamanho, nMaximo, pFormato, args, &f);
  va_end(args);
  if (f.e != 0) Reporta(f, L"_snprintf_s");
  return n;
}

int _vsnprintf_s(char* pDestino, size_t nTamanho, size_t nMaximo, const char* pFormato, va_list args) {
  if (pFormato != nullptr && nMaximo == 0 && pDestino == nullptr && nTamanho == 0) return 0;
  Falha f;
  int n = Formata(pDestino, nTamanho, nMaximo, pFormato, args, &f);
  if (f.e != 0) Reporta(f, L"_vsnprintf_s");
  return n;
}
