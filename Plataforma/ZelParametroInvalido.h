// The runtime library's invalid-parameter events: checked helpers report a
// bad argument to the handler the calling thread installed, with errno set,
// before returning their error. The handler may throw. Without a handler the
// helper just returns its error.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

using errno_t = int;
using _invalid_parameter_handler = void (*)(const wchar_t* pszExpressao, const wchar_t* pszFuncao,
                                            const wchar_t* pszArquivo, unsigned int nLinha, uintptr_t pReservado);

// Returns the previous handler of the calling thread.
_invalid_parameter_handler _set_thread_local_invalid_parameter_handler(_invalid_parameter_handler pNovo);
_invalid_parameter_handler _get_thread_local_invalid_parameter_handler();
// Raises the event on the calling thread (errno must already be set).
void _invalid_parameter(const wchar_t* pszExpressao, const wchar_t* pszFuncao, const wchar_t* pszArquivo,
                        unsigned int nLinha, uintptr_t pReservado);

constexpr size_t _TRUNCATE = static_cast<size_t>(-1);
// strncpy_s with _TRUNCATE cut the text short (not an error: no event).
constexpr errno_t STRUNCATE = 80;

// Bounded copies and formatting with the original runtime's contracts: a null
// destination or source, a zero size, or (without _TRUNCATE) a result that
// does not fit raises the event; the destination is emptied on failure.
errno_t strcpy_s(char* pDestino, size_t nTamanho, const char* pOrigem);
errno_t strncpy_s(char* pDestino, size_t nTamanho, const char* pOrigem, size_t nMaximo);
errno_t strcat_s(char* pDestino, size_t nTamanho, const char* pOrigem);
errno_t memcpy_s(void* pDestino, size_t nTamanho, const void* pOrigem, size_t nContagem);
// Returns the length written, or -1 (truncated with _TRUNCATE, or failed).
int sprintf_s(char* pDestino, size_t nTamanho, const char* pFormato, ...) __attribute__((format(printf, 3, 4)));
int _snprintf_s(char* pDestino, size_t nTamanho, size_t nMaximo, const char* pFormato, ...)
    __attribute__((format(printf, 4, 5)));
int _vsnprintf_s(char* pDestino, size_t nTamanho, size_t nMaximo, const char* pFormato, va_list args);
