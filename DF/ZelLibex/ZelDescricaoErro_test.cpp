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

TEST(ZelDescricaoErro, FamiliaCTL_EENomesReaisAntesDosMarcadores) {
  // FACILITY_CONTROL (10) codes of the control family.
  EXPECT_EQ(GetNome_HRESULT(HR(0x800A0005)), "CTL_E_ILLEGALFUNCTIONCALL");
  EXPECT_EQ(GetNome_HRESULT(HR(0x800A0035)), "CTL_E_FILENOTFOUND");
  EXPECT_EQ(GetNome_HRESULT(HR(0x800A02EA)), "CTL_E_REPLACEMENTSTOOLONG");
  EXPECT_EQ(GetNome_HRESULT(HR(0x800A0258)), "") << "the start of the custom range is no code";
  // A range's first value is a real code too; the code's own name wins.
  EXPECT_EQ(GetNome_HRESULT(HR(0x80040000)), "OLE_E_OLEVERB");
  EXPECT_EQ(GetNome_HRESULT(HR(0x00040000)), "OLE_S_USEREG");
  EXPECT_EQ(GetNome_HRESULT(HR(0x800400FF)), "OLE_E_LAST") << "a marker with no code of its own stays";
  // Families outside those the service names.
  EXPECT_EQ(GetNome_HRESULT(HR(0x80040110)), "") << "CLASS_E_NOAGGREGATION";
  EXPECT_EQ(GetNome_HRESULT(HR(0x80040170)), "") << "CACHE_E_NOCACHE_UPDATED";
  EXPECT_EQ(GetNome_HRESULT(HR(0x8009000F)), "NTE_EXISTS");
  EXPECT_EQ(GetNome_HRESULT(HR(0x80030002)), "STG_E_FILENOTFOUND");
  EXPECT_EQ(GetNome_HRESULT(HR(0x80020009)), "DISP_E_EXCEPTION");
  EXPECT_EQ(GetNome_HRESULT(HR(0x800401F0)), "CO_E_NOTINITIALIZED");
  EXPECT_EQ(GetNome_HRESULT(HR(0x00030200)), "STG_S_CONVERTED");
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
