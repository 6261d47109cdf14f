#include "ZelParametroInvalido.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

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

void Lanca(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t) { throw static_cast<long>(errno); }

int FormataV(char* p, size_t nTam, size_t nMax, const char* pFmt, ...) {
  va_list args;
  va_start(args, pFmt);
  int n = _vsnprintf_s(p, nTam, nMax, pFmt, args);
  va_end(args);
  return n;
}

class ParametroInvalido : public ::testing::Test {
 protected:
  void SetUp() override {
    m_pAnterior = _set_thread_local_invalid_parameter_handler(Registra);
    t_evento = {};
  }
  void TearDown() override { _set_thread_local_invalid_parameter_handler(m_pAnterior); }
  // The event was raised once, for that function, with errno set first.
  void EsperaEvento(const wchar_t* pszFuncao, int nErrno) {
    EXPECT_EQ(t_evento.nChamadas, 1);
    EXPECT_EQ(t_evento.sFuncao, pszFuncao);
    EXPECT_EQ(t_evento.nErrno, nErrno);
    EXPECT_EQ(errno, nErrno);
    EXPECT_FALSE(t_evento.sExpressao.empty());
    EXPECT_EQ(t_evento.sArquivo, L"");
    t_evento = {};
  }
  _invalid_parameter_handler m_pAnterior = nullptr;
  char m_sz[8];
  void Suja() { std::memcpy(m_sz, "sujo!!!", 8); }
};
}  // namespace

TEST_F(ParametroInvalido, StrcpyS) {
  EXPECT_EQ(strcpy_s(m_sz, sizeof m_sz, "1234567"), 0);
  EXPECT_STREQ(m_sz, "1234567");
  EXPECT_EQ(t_evento.nChamadas, 0);

  Suja();
  EXPECT_EQ(strcpy_s(m_sz, sizeof m_sz, "12345678"), ERANGE);
  EXPECT_STREQ(m_sz, "");
  EsperaEvento(L"strcpy_s", ERANGE);

  Suja();
  EXPECT_EQ(strcpy_s(m_sz, sizeof m_sz, nullptr), EINVAL);
  EXPECT_STREQ(m_sz, "");
  EsperaEvento(L"strcpy_s", EINVAL);
  EXPECT_EQ(strcpy_s(nullptr, 8, "x"), EINVAL);
  EXPECT_EQ(t_evento.sExpressao, L"(pDestino != nullptr)");
  EsperaEvento(L"strcpy_s", EINVAL);

  Suja();
  EXPECT_EQ(strcpy_s(m_sz, 0, "x"), EINVAL);
  EXPECT_STREQ(m_sz, "sujo!!!");  // a zero size makes the destination untouchable
  EsperaEvento(L"strcpy_s", EINVAL);
}

TEST_F(ParametroInvalido, StrncpySContaETrunca) {
  EXPECT_EQ(strncpy_s(m_sz, sizeof m_sz, "abcdefghij", 3), 0);
  EXPECT_STREQ(m_sz, "abc");
  EXPECT_EQ(strncpy_s(m_sz, sizeof m_sz, "abcdefg", _TRUNCATE), 0);
  EXPECT_STREQ(m_sz, "abcdefg");
  EXPECT_EQ(strncpy_s(m_sz, sizeof m_sz, "abcdefgh", _TRUNCATE), STRUNCATE);
  EXPECT_STREQ(m_sz, "abcdefg");
  EXPECT_EQ(t_evento.nChamadas, 0);

  Suja();
  EXPECT_EQ(strncpy_s(m_sz, sizeof m_sz, "abcdefghij", 8), ERANGE);
  EXPECT_STREQ(m_sz, "");
  EsperaEvento(L"strncpy_s", ERANGE);

  Suja();
  EXPECT_EQ(strncpy_s(m_sz, sizeof m_sz, nullptr, 0), 0);
  EXPECT_STREQ(m_sz, "");
  EXPECT_EQ(strncpy_s(nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(t_evento.nChamadas, 0);
  EXPECT_EQ(strncpy_s(m_sz, sizeof m_sz, nullptr, 2), EINVAL);
  EsperaEvento(L"strncpy_s", EINVAL);
}

TEST_F(ParametroInvalido, StrcatS) {
  strcpy_s(m_sz, sizeof m_sz, "abc");
  EXPECT_EQ(strcat_s(m_sz, sizeof m_sz, "defg"), 0);
  EXPECT_STREQ(m_sz, "abcdefg");
  EXPECT_EQ(t_evento.nChamadas, 0);
  EXPECT_EQ(strcat_s(m_sz, sizeof m_sz, "h"), ERANGE);
  EXPECT_STREQ(m_sz, "");
  EsperaEvento(L"strcat_s", ERANGE);

  std::memcpy(m_sz, "12345678", 8);  // no terminator within the size
  EXPECT_EQ(strcat_s(m_sz, sizeof m_sz, ""), EINVAL);
  EXPECT_STREQ(m_sz, "");
  EsperaEvento(L"strcat_s", EINVAL);
  Suja();
  EXPECT_EQ(strcat_s(m_sz, sizeof m_sz, nullptr), EINVAL);
  EXPECT_STREQ(m_sz, "");
  EsperaEvento(L"strcat_s", EINVAL);
}

TEST_F(ParametroInvalido, MemcpyS) {
  EXPECT_EQ(memcpy_s(m_sz, sizeof m_sz, "12345678", 8), 0);
  EXPECT_EQ(std::memcmp(m_sz, "12345678", 8), 0);
  EXPECT_EQ(memcpy_s(nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(t_evento.nChamadas, 0);

  EXPECT_EQ(memcpy_s(m_sz, 4, "abcdefgh", 5), ERANGE);
  EXPECT_EQ(std::memcmp(m_sz, "\0\0\0\0" "5678", 8), 0);  // only the given size is cleared
  EsperaEvento(L"memcpy_s", ERANGE);
  Suja();
  EXPECT_EQ(memcpy_s(m_sz, sizeof m_sz, nullptr, 1), EINVAL);
  EXPECT_EQ(std::memcmp(m_sz, "\0\0\0\0\0\0\0\0", 8), 0);
  EsperaEvento(L"memcpy_s", EINVAL);
  EXPECT_EQ(memcpy_s(nullptr, 8, "x", 1), EINVAL);
  EsperaEvento(L"memcpy_s", EINVAL);
}

TEST_F(ParametroInvalido, SprintfS) {
  EXPECT_EQ(sprintf_s(m_sz, sizeof m_sz, "%d-%s", 12, "abcd"), 7);
  EXPECT_STREQ(m_sz, "12-abcd");
  EXPECT_EQ(t_evento.nChamadas, 0);

  EXPECT_EQ(sprintf_s(m_sz, sizeof m_sz, "%d", 12345678), -1);
  EXPECT_STREQ(m_sz, "");
  EsperaEvento(L"sprintf_s", ERANGE);
  Suja();
  EXPECT_EQ(sprintf_s(m_sz, sizeof m_sz, nullptr), -1);
  EXPECT_STREQ(m_sz, "");
  EsperaEvento(L"sprintf_s", EINVAL);
  EXPECT_EQ(sprintf_s(nullptr, 8, "x"), -1);
  EsperaEvento(L"sprintf_s", EINVAL);
}

TEST_F(ParametroInvalido, SnprintfSCortaSoQuandoPedido) {
  // A count below the size cuts quietly.
  EXPECT_EQ(_snprintf_s(m_sz, sizeof m_sz, 3, "%s", "abcdef"), -1);
  EXPECT_STREQ(m_sz, "abc");
  EXPECT_EQ(_snprintf_s(m_sz, sizeof m_sz, 3, "%s", "ab"), 2);
  EXPECT_EQ(_snprintf_s(m_sz, sizeof m_sz, _TRUNCATE, "%s", "abcdefghij"), -1);
  EXPECT_STREQ(m_sz, "abcdefg");
  EXPECT_EQ(_snprintf_s(m_sz, sizeof m_sz, _TRUNCATE, "%s", "abcdefg"), 7);
  EXPECT_EQ(_snprintf_s(nullptr, 0, 0, "%s", "x"), 0);
  EXPECT_EQ(t_evento.nChamadas, 0);

  EXPECT_EQ(_snprintf_s(m_sz, sizeof m_sz, 8, "%s", "abcdefgh"), -1);
  EXPECT_STREQ(m_sz, "");
  EsperaEvento(L"_snprintf_s", ERANGE);
  EXPECT_EQ(FormataV(m_sz, sizeof m_sz, 20, "%s", "abcdefghij"), -1);
  EsperaEvento(L"_vsnprintf_s", ERANGE);
  EXPECT_EQ(FormataV(m_sz, sizeof m_sz, 2, "%d", 987), -1);
  EXPECT_STREQ(m_sz, "98");
  EXPECT_EQ(FormataV(m_sz, 0, 2, "%d", 1), -1);
  EsperaEvento(L"_vsnprintf_s", EINVAL);
}

TEST_F(ParametroInvalido, TratadorQueLancaPropagaDepoisDeEsvaziar) {
  _set_thread_local_invalid_parameter_handler(Lanca);
  Suja();
  EXPECT_THROW(
      {
        try {
          strcpy_s(m_sz, sizeof m_sz, "longo demais");
        } catch (long l) {
          EXPECT_EQ(l, ERANGE);
          throw;
        }
      },
      long);
  EXPECT_STREQ(m_sz, "");
  EXPECT_THROW(sprintf_s(m_sz, sizeof m_sz, "%s", "longo demais"), long);
  EXPECT_THROW(memcpy_s(nullptr, 1, "x", 1), long);
}

TEST_F(ParametroInvalido, TratadorEhDaThread) {
  EXPECT_EQ(_get_thread_local_invalid_parameter_handler(), &Registra);
  int nOutra = -1, nErrnoOutra = 0;
  _invalid_parameter_handler pNaOutra = &Registra;
  std::thread([&] {
    pNaOutra = _get_thread_local_invalid_parameter_handler();
    // Without a handler the helper just fails, errno set.
    errno = 0;
    char sz[2];
    nOutra = strcpy_s(sz, sizeof sz, "abc");
    nErrnoOutra = errno;
    EXPECT_EQ(_set_thread_local_invalid_parameter_handler(Registra), nullptr);
    strcpy_s(sz, sizeof sz, nullptr);
    EXPECT_EQ(t_evento.nChamadas, 1);
  }).join();
  EXPECT_EQ(pNaOutra, nullptr);
  EXPECT_EQ(nOutra, ERANGE);
  EXPECT_EQ(nErrnoOutra, ERANGE);
  EXPECT_EQ(t_evento.nChamadas, 0);  // nothing reached this thread's handler
}
