#include "ZelDataBase_DF_InfoExtras.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "IExTeste.h"

namespace {
using InfoExtrasTeste = IExTeste;
}

TEST(InfoExtras, ChaveDaOrigem) {
  IE_VINCULO_ARQ_V0 v = Vinculo(2, 7);
  EXPECT_EQ(CZelDataBase_DF_InfoExtras::GetChaveIndex(&v, CZelDataBase_DF_InfoExtras::eColunaOrigem), 8589934599u);
  EXPECT_EQ(CZelDataBase_DF_InfoExtras::GetChaveIndex(&v, 1), 0u);
  v = Vinculo(0xFFFFFFFF, 0xFFFFFFFE);
  EXPECT_EQ(CZelDataBase_DF_InfoExtras::GetChaveIndex(&v, 0), 0xFFFFFFFFFFFFFFFEull);
  CZelDataBase_DF_InfoExtras db;
  EXPECT_EQ(db.OnGetEnumMarca(), 188);
  EXPECT_EQ(db.GetModulo(), -11);
}

TEST_F(InfoExtrasTeste, VinculosSemVazioNaoSaoReescritos) {
  const std::string sVinculos = IEBytes(std::vector<IE_VINCULO_ARQ_V0>{Vinculo(1, 1), Vinculo(1, 2, 1, 1, 1)});
  Escreve("DFIEVINC.dat", sVinculos);
  // A rewrite would give the file a new time.
  const auto antigo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
  std::filesystem::last_write_time(m_sVovi + "DFIEVINC.dat", antigo);
  CZelDataBase_DF_InfoExtras db;
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(Bytes("DFIEVINC.dat"), sVinculos);
  EXPECT_EQ(std::filesystem::last_write_time(m_sVovi + "DFIEVINC.dat"), antigo);
  EXPECT_TRUE(ArquivosTRA().empty());
  ZelUInt uiPos = 0;
  ASSERT_EQ(db.m_Vinculo.ExisteIndex(CZelDataBase_DF_InfoExtras::ChaveOrigem(1, 2), &uiPos, 0), S_OK);
  EXPECT_EQ(uiPos, 2u) << "a flagged link is indexed too";
}

TEST_F(InfoExtrasTeste, VinculosVaziosSaemNaOrdem) {
  Escreve("DFIEVINC.dat", IEBytes(std::vector<IE_VINCULO_ARQ_V0>{Vinculo(0, 5), Vinculo(3, 1), Vinculo(0, 0, 0, 0),
                                                                   Vinculo(1, 9), Vinculo(2, 4)}));
  CZelDataBase_DF_InfoExtras db;
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(Bytes("DFIEVINC.dat"), IEBytes(std::vector<IE_VINCULO_ARQ_V0>{Vinculo(3, 1), Vinculo(1, 9), Vinculo(2, 4)}));
  EXPECT_TRUE(ArquivosTRA().empty());
  ASSERT_EQ(db.m_Vinculo.GetQtdRegistros(), 3u);
  ZelUInt uiPos = 0;
  ASSERT_EQ(db.m_Vinculo.ExisteIndex(CZelDataBase_DF_InfoExtras::ChaveOrigem(2, 4), &uiPos, 0), S_OK);
  EXPECT_EQ(uiPos, 3u);
}

TEST_F(InfoExtrasTeste, ArquivoVazioOuAusenteAbreSemTransferencia) {
  {
    CZelDataBase_DF_InfoExtras db;
    CriaDiretorio();
    ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
    EXPECT_EQ(db.m_Vinculo.GetQtdRegistros(), 0u);
    EXPECT_FALSE(Existe("DFIEVINC.dat"));
  }
  Escreve("DFIEVINC.dat", "");
  CZelDataBase_DF_InfoExtras db;
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(Bytes("DFIEVINC.dat"), "");
  EXPECT_TRUE(ArquivosTRA().empty());
}

TEST_F(InfoExtrasTeste, OrigemRepetidaNoArquivoAchaAPrimeira) {
  const std::string sVinculos =
      IEBytes(std::vector<IE_VINCULO_ARQ_V0>{Vinculo(4, 4), Vinculo(1, 1), Vinculo(1, 1, 2, 5)});
  Escreve("DFIEVINC.dat", sVinculos);
  CZelDataBase_DF_InfoExtras db;
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  ZelUInt uiPos = 0;
  ASSERT_EQ(db.m_Vinculo.ExisteIndex(CZelDataBase_DF_InfoExtras::ChaveOrigem(1, 1), &uiPos, 0), S_OK);
  EXPECT_EQ(uiPos, 2u);
  EXPECT_EQ(Bytes("DFIEVINC.dat"), sVinculos);
}

TEST_F(InfoExtrasTeste, TransferenciaPresenteImpedeAbrir) {
  Escreve("DFIEVINC.dat", IEBytes(Vinculo(0, 1)));
  Escreve("dfievinc.TRA", "");
  CZelDataBase_DF_InfoExtras db;
  EXPECT_EQ(db.Inicializa("EMP1", 1, 1), HR(0x810809CB));
  EXPECT_EQ(Bytes("DFIEVINC.dat"), IEBytes(Vinculo(0, 1)));
  EXPECT_TRUE(ErroContem("hr = E_ZELCR_ARQUIVO_TRA_ENCONTRADO"));
  EXPECT_TRUE(ErroContem("hr = RemoverRegistrosZerados()"));
}
