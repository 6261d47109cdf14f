#include "ZelDataBase_DF_InfoExtras.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "IExTeste.h"
#include "ZelTesteAjudante.h"

using InfoExtrasTeste = IExTeste;
using CInfoExtras = CZelDataBase_DF_InfoExtras;

TEST(InfoExtras, ChaveDaOrigem) {
  IE_VINCULO_ARQ_V0 v = Vinculo(2, 7);
  EXPECT_EQ(CInfoExtras::GetChaveIndex(&v, CInfoExtras::eColunaOrigem), 8589934599u);
  EXPECT_EQ(CInfoExtras::GetChaveIndex(&v, 1), 0u);
  v = Vinculo(0xFFFFFFFF, 0xFFFFFFFE);
  EXPECT_EQ(CInfoExtras::GetChaveIndex(&v, 0), 0xFFFFFFFFFFFFFFFEull);
  CInfoExtras db;
  EXPECT_EQ(db.OnGetEnumMarca(), 188);
  EXPECT_EQ(db.GetModulo(), -11);
}

// Links without a header leave in order and only then is the file rewritten; the index finds the first link.
TEST_F(InfoExtrasTeste, VinculosVaziosSaemNaOrdemEOIndiceAchaOPrimeiro) {
  struct Caso {
    std::vector<IE_VINCULO_ARQ_V0> aAntes, aDepois;  // no links after: the file as it was
    UI4 lPosHeader, lChave;
    ZelUInt uiPos, uiPrimeiroAtivo;  // the origin's first link, and the header's first unflagged one
  };
  const Caso kCasos[] = {
      {{}, {}, 0, 0, 0, 0},
      {{Vinculo(1, 2, 1, 1, 1), Vinculo(1, 1)}, {}, 1, 2, 1, 2},
      {{Vinculo(0, 5), Vinculo(3, 1), Vinculo(0, 0, 0, 0), Vinculo(1, 9), Vinculo(2, 4)},
       {Vinculo(3, 1), Vinculo(1, 9), Vinculo(2, 4)}, 2, 4, 3, 3},
      {{Vinculo(4, 4), Vinculo(1, 1), Vinculo(1, 1, 2, 5)}, {}, 1, 1, 2, 2},
  };
  for (const Caso& c : kCasos) {
    SCOPED_TRACE(c.aAntes.size());
    Escreve("DFIEVINC.dat", IEBytes(c.aAntes));
    // A rewrite would give the file a new time.
    const auto antigo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
    std::filesystem::last_write_time(m_sVovi + "DFIEVINC.dat", antigo);
    CInfoExtras db;
    ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
    const auto& aEsperados = c.aDepois.empty() ? c.aAntes : c.aDepois;
    EXPECT_EQ(Bytes("DFIEVINC.dat"), IEBytes(aEsperados));
    EXPECT_EQ(db.m_Vinculo.GetQtdRegistros(), aEsperados.size());
    if (c.aDepois.empty()) {
      EXPECT_EQ(std::filesystem::last_write_time(m_sVovi + "DFIEVINC.dat"), antigo);
    }
    EXPECT_TRUE(ArquivosTRA().empty());
    if (aEsperados.empty()) continue;
    ZelUInt uiPos = 0;
    ASSERT_EQ(db.m_Vinculo.ExisteIndex(CInfoExtras::ChaveOrigem(c.lPosHeader, c.lChave), &uiPos, 0), S_OK);
    EXPECT_EQ(uiPos, c.uiPos);
    uiPos = 0;
    ASSERT_EQ(db.m_Vinculo.ExisteIndex(ZelUInt{c.lPosHeader}, &uiPos, CInfoExtras::eColunaCabecalhoAtivo), S_OK);
    EXPECT_EQ(uiPos, c.uiPrimeiroAtivo);
  }
}

// A rewrite that cannot finish leaves the links and no transfer file, so the next start cleans them.
TEST_F(InfoExtrasTeste, LimpezaQueNaoTerminaNaoDeixaArquivoDeTransferencia) {
  std::vector<IE_VINCULO_ARQ_V0> aAntes{Vinculo(0, 1)};
  for (UI4 k = 1; k <= 40; ++k) aAntes.push_back(Vinculo(1, k));
  Escreve("DFIEVINC.dat", IEBytes(aAntes));
  {
    ZelLimiteTamanhoArquivos limite(20 * sizeof(IE_VINCULO_ARQ_V0));
    CInfoExtras db;
    EXPECT_EQ(db.Inicializa("EMP1", 1, 1), HR(0x80043F08));
  }
  EXPECT_EQ(Bytes("DFIEVINC.dat"), IEBytes(aAntes));
  EXPECT_TRUE(ArquivosTRA().empty());
  CInfoExtras db;
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(Bytes("DFIEVINC.dat"), IEBytes(std::vector<IE_VINCULO_ARQ_V0>(aAntes.begin() + 1, aAntes.end())));
}

// Another file that cannot start fails the start with its code under both names, though the links were clean.
TEST_F(InfoExtrasTeste, ArquivoQueNaoIniciaFalhaOInicioComOSeuCodigo) {
  Escreve("DFIEVINC.dat", IEBytes(Vinculo(1, 1)));
  // A link to itself cannot be opened by anyone, root included.
  std::filesystem::create_symlink("EXTRA.dat", m_sVovi + "EXTRA.dat");
  CInfoExtras db;
  CZelFile<IE_VINCULO_ARQ_V0> extra("EXTRA.dat", &db);
  const HRESULT hr = db.Inicializa("EMP1", 1, 1);
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_EQ(ErrosDe("CZelDataBase::OnInicializa", "ZelDataBase", "hr = file.second->Inicializa(this)"), 1);
  EXPECT_EQ(ErrosDe("CZelDataBase_DF_InfoExtras::OnInicializa", "ZelDataBase_DF_InfoExtras",
                    "hr = __super::OnInicializa()"),
            1);
  EXPECT_EQ(Bytes("DFIEVINC.dat"), IEBytes(Vinculo(1, 1)));
}
