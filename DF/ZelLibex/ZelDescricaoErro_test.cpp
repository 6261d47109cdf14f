#include "ZelDescricaoErro.h"

#include <gtest/gtest.h>

TEST(ZelDescricaoErro, NomesPublicados) {
  EXPECT_EQ(GetNome_HRESULT(S_OK), "S_OK");
  EXPECT_EQ(GetNome_HRESULT(E_NOTIMPL), "E_NOTIMPL");
  EXPECT_EQ(GetNome_HRESULT(REGDB_E_CLASSNOTREG), "REGDB_E_CLASSNOTREG");
  EXPECT_EQ(GetNome_HRESULT(RPC_E_DISCONNECTED), "RPC_E_DISCONNECTED");
  EXPECT_EQ(GetNome_HRESULT(HR(0x81080A04)), "");
  EXPECT_EQ(GetDescricao_SEVERITY(S_FALSE), "SEVERITY_SUCCESS");
  EXPECT_EQ(GetDescricao_SEVERITY(E_FAIL), "SEVERITY_ERROR");
}

TEST(ZelDescricaoErro, Facilidades) {
  EXPECT_EQ(GetDescricao_FACILITY(0), "FACILITY_NULL");
  EXPECT_EQ(GetDescricao_FACILITY(4), "FACILITY_ITF");
  EXPECT_EQ(GetDescricao_FACILITY(7), "FACILITY_WIN32");
  EXPECT_EQ(GetDescricao_FACILITY(84), "FACILITY_MBN");
  EXPECT_EQ(GetDescricao_FACILITY(264), "ZEL_FACILITY_CR_CORE");
  EXPECT_EQ(GetDescricao_FACILITY(236).rfind("ZEL_FACILITY_", 0), 0u);
  EXPECT_EQ(GetDescricao_FACILITY(270).rfind("ZEL_FACILITY_", 0), 0u);
  EXPECT_EQ(GetDescricao_FACILITY(271), "Desconhecido ou novo c\xF3" "digo de FACILITY");
  EXPECT_EQ(GetDescricao_FACILITY(100), "Desconhecido ou novo c\xF3" "digo de FACILITY");
}

TEST(ZelDescricaoErro, NomeDoCodigoSoForaDeITFEDasFacilidadesDaSuite) {
  EXPECT_EQ(GetNome_CODE(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), "ERROR_FILE_NOT_FOUND");
  EXPECT_EQ(GetNome_CODE(RPC_X_NULL_REF_POINTER), "RPC_X_NULL_REF_POINTER");
  EXPECT_EQ(GetNome_CODE(HR(0x80040002)), "") << "FACILITY_ITF codes have no system name";
  EXPECT_EQ(GetNome_CODE(HR(0x81080002)), "") << "the message library claims facility 264";
  EXPECT_EQ(GetNome_CODE(S_OK), "ERROR_SUCCESS");
}

TEST(ZelDescricaoErro, TextoVemDaBibliotecaDeMensagens) {
  EXPECT_EQ(GetTexto_HRESULT(HR(0x81080A04)), "Objeto n\xE3o inicializado");
  EXPECT_EQ(GetTexto_HRESULT(HR(0x8004FFFF)), "");
}
