#include "ZelParametroInvalido.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

namespace {
// What the calling thread's handler last saw.
struct Evento {
  int nChamadas = 0;
  int nErrno = 0;
  std::wstring sExpressao, sFuncao, sArquivo;
};
thread_local Evento t_evento;

void Registra(const wchar_t* pszExpressao, const wchar_t* pszFuncao, const wchar_t* pszArquivo, unsigned int,
              uintptr_t) {
  ++t_evento.nChamadas;
  t_evento.nErrno = errno;
  t_evento.sExpressao = pszExpressao ? pszExpressao : L"";
  t_evento.sFuncao = pszFuncao ? pszFuncao : L"";
  t_evento.sArquivo = pszArquivo ? pszArquivo : L"(null)";
}

int FormataV(char* p, size_t nTam, size_t nMax, const char* pFmt, ...) {
  va_list args;
  va_start(args, pFmt);
  int n = _vsnprintf_s(p, nTam, nMax, pFmt, args);
  va_end(args);
  return n;
}

// A C string with its terminator, to compare as bytes.
std::string Z(const char* sz) { return std::string(sz, std::strlen(sz) + 1); }

class ParametroInvalido : public ::testing::Test {
 protected:
  void SetUp() override { m_pAnterior = _set_thread_local_invalid_parameter_handler(Registra); }
  void TearDown() override { _set_thread_local_invalid_parameter_handler(m_pAnterior); }
  _invalid_parameter_handler m_pAnterior = nullptr;
};

// One call on an 8-byte buffer: the bytes before, the call, its result, the bytes left, and the function and errno
// the handler hears of (no event for a null function).
using Caso = std::tuple<std::string, std::function<int(char*)>, int, std::string, const wchar_t*, int>;
const std::string kSujo = Z("sujo!!!");
}  // namespace

TEST_F(ParametroInvalido, CadaFuncaoFalhaComSeuCodigoEEsvaziaODestino) {
  const Caso casos[] = {
      {kSujo, [](char* p) { return strcpy_s(p, 8, "1234567"); }, 0, Z("1234567"), nullptr, 0},
      {kSujo, [](char* p) { return strcpy_s(p, 8, "12345678"); }, ERANGE, Z(""), L"strcpy_s", ERANGE},
      {kSujo, [](char* p) { return strcpy_s(p, 8, nullptr); }, EINVAL, Z(""), L"strcpy_s", EINVAL},
      {kSujo, [](char*) { return strcpy_s(nullptr, 8, "x"); }, EINVAL, kSujo, L"strcpy_s", EINVAL},
      // A zero size makes the destination untouchable.
      {kSujo, [](char* p) { return strcpy_s(p, 0, "x"); }, EINVAL, kSujo, L"strcpy_s", EINVAL},
      {kSujo, [](char* p) { return strncpy_s(p, 8, "abcdefghij", 3); }, 0, Z("abc"), nullptr, 0},
      {kSujo, [](char* p) { return strncpy_s(p, 8, "abcdefg", _TRUNCATE); }, 0, Z("abcdefg"), nullptr, 0},
      {kSujo, [](char* p) { return strncpy_s(p, 8, "abcdefgh", _TRUNCATE); }, STRUNCATE, Z("abcdefg"), nullptr, 0},
      {kSujo, [](char* p) { return strncpy_s(p, 8, "abcdefghij", 8); }, ERANGE, Z(""), L"strncpy_s", ERANGE},
      {kSujo, [](char* p) { return strncpy_s(p, 8, nullptr, 0); }, 0, Z(""), nullptr, 0},
      {kSujo, [](char*) { return strncpy_s(nullptr, 0, nullptr, 0); }, 0, kSujo, nullptr, 0},
      {kSujo, [](char* p) { return strncpy_s(p, 8, nullptr, 2); }, EINVAL, Z(""), L"strncpy_s", EINVAL},
      {Z("abc") + "!!!!", [](char* p) { return strcat_s(p, 8, "defg"); }, 0, Z("abcdefg"), nullptr, 0},
      {Z("abcdefg"), [](char* p) { return strcat_s(p, 8, "h"); }, ERANGE, Z(""), L"strcat_s", ERANGE},
      // No terminator within the size.
      {"12345678", [](char* p) { return strcat_s(p, 8, ""); }, EINVAL, Z(""), L"strcat_s", EINVAL},
      {kSujo, [](char* p) { return strcat_s(p, 8, nullptr); }, EINVAL, Z(""), L"strcat_s", EINVAL},
      {kSujo, [](char*) { return strcat_s(nullptr, 8, "x"); }, EINVAL, kSujo, L"strcat_s", EINVAL},
      {kSujo, [](char* p) { return strcat_s(p, 0, "x"); }, EINVAL, kSujo, L"strcat_s", EINVAL},
      {kSujo, [](char* p) { return memcpy_s(p, 8, "12345678", 8); }, 0, "12345678", nullptr, 0},
      {kSujo, [](char*) { return memcpy_s(nullptr, 0, nullptr, 0); }, 0, kSujo, nullptr, 0},
      // Only the given size is cleared.
      {"12345678", [](char* p) { return memcpy_s(p, 4, "abcdefgh", 5); }, ERANGE,
       std::string("\0\0\0\0" "5678", 8), L"memcpy_s", ERANGE},
      {kSujo, [](char* p) { return memcpy_s(p, 8, nullptr, 1); }, EINVAL, std::string(8, '\0'), L"memcpy_s", EINVAL},
      {kSujo, [](char*) { return memcpy_s(nullptr, 8, "x", 1); }, EINVAL, kSujo, L"memcpy_s", EINVAL},
      {kSujo, [](char* p) { return sprintf_s(p, 8, "%d-%s", 12, "abcd"); }, 7, Z("12-abcd"), nullptr, 0},
      {kSujo, [](char* p) { return sprintf_s(p, 8, "%d", 12345678); }, -1, Z(""), L"sprintf_s", ERANGE},
      {kSujo, [](char* p) { return sprintf_s(p, 8, nullptr); }, -1, Z(""), L"sprintf_s", EINVAL},
      {kSujo, [](char*) { return sprintf_s(nullptr, 8, "x"); }, -1, kSujo, L"sprintf_s", EINVAL},
      // A count below the size cuts quietly; only a count that does not fit fails.
      {kSujo, [](char* p) { return _snprintf_s(p, 8, 3, "%s", "abcdef"); }, -1, Z("abc"), nullptr, 0},
      {kSujo, [](char* p) { return _snprintf_s(p, 8, 3, "%s", "ab"); }, 2, Z("ab"), nullptr, 0},
      {kSujo, [](char* p) { return _snprintf_s(p, 8, _TRUNCATE, "%s", "abcdefghij"); }, -1, Z("abcdefg"), nullptr, 0},
      {kSujo, [](char* p) { return _snprintf_s(p, 8, _TRUNCATE, "%s", "abcdefg"); }, 7, Z("abcdefg"), nullptr, 0},
      {kSujo, [](char*) { return _snprintf_s(nullptr, 0, 0, "%s", "x"); }, 0, kSujo, nullptr, 0},
      {kSujo, [](char* p) { return _snprintf_s(p, 8, 8, "%s", "abcdefgh"); }, -1, Z(""), L"_snprintf_s", ERANGE},
      {kSujo, [](char* p) { return FormataV(p, 8, 20, "%s", "abcdefghij"); }, -1, Z(""), L"_vsnprintf_s", ERANGE},
      {kSujo, [](char* p) { return FormataV(p, 8, 2, "%d", 987); }, -1, Z("98"), nullptr, 0},
      {kSujo, [](char* p) { return FormataV(p, 0, 2, "%d", 1); }, -1, kSujo, L"_vsnprintf_s", EINVAL},
  };
  size_t i = 0;
  for (const auto& [sAntes, chama, nRetorno, sDepois, pszFuncao, nErrnoCaso] : casos) {
    SCOPED_TRACE(i++);
    char sz[8];
    std::memcpy(sz, sAntes.data(), 8);
    t_evento = {};
    errno = 0;
    EXPECT_EQ(chama(sz), nRetorno);
    const int nErrno = errno;
    EXPECT_EQ(std::string(sz, sDepois.size()), sDepois);
    // Raised once, for that function, with errno set first; never without a function.
    EXPECT_EQ(t_evento.nChamadas, pszFuncao == nullptr ? 0 : 1);
    if (pszFuncao == nullptr) continue;
    EXPECT_EQ(t_evento.sFuncao, pszFuncao);
    EXPECT_EQ(t_evento.nErrno, nErrnoCaso);
    EXPECT_EQ(nErrno, nErrnoCaso);
    EXPECT_FALSE(t_evento.sExpressao.empty());
    EXPECT_EQ(t_evento.sArquivo, L"");
  }
  char sz[8];
  strcpy_s(nullptr, sizeof sz, "x");
  EXPECT_EQ(t_evento.sExpressao, L"(pDestino != nullptr)");
}
