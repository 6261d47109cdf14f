#include "ZelException.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <stdexcept>

#include "ZelAmbienteTeste.h"
#include "ZelMens.h"

namespace {
template <class F>
HRESULT Traduz(F lancar) {
  try {
    lancar();
  } catch (...) {
    return ZelTranslateThrownExceptionToHresult();
  }
  return S_OK;
}
}  // namespace

TEST(ZelException, CadaTipoDeExcecaoTemSeuCodigo) {
  EXPECT_EQ(Traduz([] { throw std::bad_alloc(); }), HR(0x8004EA64));
  EXPECT_EQ(Traduz([] { throw std::runtime_error("x"); }), HR(0x8004EA65));
  EXPECT_EQ(Traduz([] { throw 3.5; }), HR(0x8004EA66));
  EXPECT_EQ(Traduz([] { throw new CMemoryException; }), HR(0x8004EA62));
  EXPECT_EQ(Traduz([] { throw new CInvalidArgException; }), HR(0x8004EA67));
  EXPECT_EQ(Traduz([] { throw new CException; }), HR(0x8004EA63));
  EXPECT_EQ(Traduz([] { AfxThrowFileException(CFileException::sharingViolation, ERROR_SHARING_VIOLATION); }),
            HR(0x80070020));
  EXPECT_EQ(Traduz([] { AfxThrowFileException(CFileException::genericException, 0); }), 0);
  EXPECT_EQ(Traduz([] { AfxThrowFileException(CFileException::genericException, -7); }), -7);
  EXPECT_EQ(Traduz([] { throw new CZelException(12L, 1L, 5L); }), HR(0x80040005));
  EXPECT_EQ(Traduz([] { throw new CZelException("GetCurrentTime_LocalTime: FileTimeToSystemTime", 1L, 0L); }),
            HR(0x8004EA61));
  EXPECT_EQ(Traduz([] { throw CZelExceptionEx(HR(0x80043EEE)); }), HR(0x80043EEE));
  EXPECT_EQ(Traduz([] { throw _com_error(E_ACCESSDENIED); }), E_ACCESSDENIED);
  EXPECT_EQ(Traduz([] { throw static_cast<long>(HR(0x8004EAF0)); }), HR(0x8004EAF0));
  // Only a long carries its value: an int is just another exception, or a thrown 0 would read as success.
  EXPECT_EQ(Traduz([] { throw 0; }), HR(0x8004EA66));
  EXPECT_EQ(Traduz([] { throw static_cast<int>(HR(0x8004EAF0)); }), HR(0x8004EA66));
}

TEST(ZelException, ErrnosDoRuntimeSaoNumeradosEmSequencia) {
  // Numbers the runtime does not use (15, 26) and 0 share the first code.
  const std::pair<int, uint32_t> pares[] = {
      {1, 0x8004EADC}, {14, 0x8004EAE9}, {16, 0x8004EAEA}, {EINVAL, 0x8004EAF0}, {ERANGE, 0x8004EAFB},
      {EILSEQ, 0x8004EB01}, {80, 0x8004EB02}, {15, 0x8004EA60}, {26, 0x8004EA60}, {0, 0x8004EA60},
      // This platform numbers these otherwise: they keep the runtime's 36 and 38 to 41.
      {EDEADLK, 0x8004EAFC}, {ENAMETOOLONG, 0x8004EAFD}, {ENOLCK, 0x8004EAFE}, {ENOSYS, 0x8004EAFF},
      {ENOTEMPTY, 0x8004EB00}};
  for (const auto& [nErrno, u] : pares) EXPECT_EQ(ZelErrnoParaHresult(nErrno), HR(u)) << nErrno;
}

TEST(ZelException, RelatorioDaCZelException) {
  CZelException comMensagem("Falhou a data", 1, 0);
  EXPECT_EQ(comMensagem.TextoRelatorio(), "Falhou a data");
  CZelException semTexto(77L, 1L, 2L);
  EXPECT_EQ(semTexto.TextoRelatorio(),
            "Erro desconhecido encontrado. C\xF3" "digo (77)\nErro do SO: 2 - O sistema n\xE3o pode encontrar o "
            "arquivo especificado.");
  CZelException compartilhamento("Abrindo", 1L, 32L);
  EXPECT_EQ(compartilhamento.TextoRelatorio(),
            "Abrindo\nErro do SO: 32 - O arquivo j\xE1 est\xE1 sendo usado por outro processo.");
  CZelException conhecido(static_cast<long>(HR(0x81080A04)), 1L, 0L);
  EXPECT_EQ(conhecido.GetMensagem(), "Objeto n\xE3o inicializado");
  const std::pair<unsigned, unsigned> tipos[] = {{0, 0x30}, {1, 0x31}, {0x10, 0x10}, {0x41, 0x41}};
  for (const auto& [n, u] : tipos) EXPECT_EQ(CZelException::TipoRelatorio(n), u) << n;
}

using ZelMensTeste = ZelAmbienteTeste;

TEST_F(ZelMensTeste, RelatorioDeVariasLinhasFicaNumaLinhaDeErro) {
  ZelTrataErroExported(HR(0x81080BB1), E_FAIL, 7, "EMP1", "Fonte", 12, 1, 0, "mod", "um\r\ndois\nfim");
  const auto linhas = Linhas(ArquivoErrosProgramas());
  ASSERT_EQ(linhas.size(), 1u);
  EXPECT_TRUE(linhas[0].ends_with("\tFonte\t12\tRelatorio = 0X81080BB1\tHR = 0X80004005\tMensagem = 7\tIdentificacao = "
                                   "EMP1\tFlag = 1\tModulo = mod\tum |  | dois | fim\t")) << linhas[0];
}
