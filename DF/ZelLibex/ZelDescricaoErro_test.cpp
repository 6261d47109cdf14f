#include "ZelDescricaoErro.h"

#include <gtest/gtest.h>

TEST(ZelDescricaoErro, NomesDosCodigos) {
  // 0x800A0258 starts a custom range and is no code; a range's first value keeps its own name, a marker without a code
  // of its own (OLE_E_LAST) stays, and 0x80040110 and 0x80040170 are of families the service does not name.
  const std::pair<uint32_t, const char*> casos[] = {
      {0, "S_OK"}, {0x80004001, "E_NOTIMPL"}, {0x80040154, "REGDB_E_CLASSNOTREG"},
      {0x80010108, "RPC_E_DISCONNECTED"}, {0x81080A04, ""}, {0x800A0005, "CTL_E_ILLEGALFUNCTIONCALL"},
      {0x800A0035, "CTL_E_FILENOTFOUND"}, {0x800A02EA, "CTL_E_REPLACEMENTSTOOLONG"}, {0x800A0258, ""},
      {0x80040000, "OLE_E_OLEVERB"}, {0x00040000, "OLE_S_USEREG"}, {0x800400FF, "OLE_E_LAST"}, {0x80040110, ""},
      {0x80040170, ""}, {0x8009000F, "NTE_EXISTS"}, {0x80030002, "STG_E_FILENOTFOUND"},
      {0x80020009, "DISP_E_EXCEPTION"}, {0x800401F0, "CO_E_NOTINITIALIZED"}, {0x00030200, "STG_S_CONVERTED"}};
  for (const auto& [u, szNome] : casos) EXPECT_EQ(GetNome_HRESULT(HR(u)), szNome) << std::hex << u;
  for (HRESULT hr : {S_OK, S_FALSE, HR(0x7FFFFFFF)}) EXPECT_EQ(GetDescricao_SEVERITY(hr), "SEVERITY_SUCCESS") << hr;
  EXPECT_EQ(GetDescricao_SEVERITY(E_FAIL), "SEVERITY_ERROR");
}

TEST(ZelDescricaoErro, FacilidadesNomesDeCodigoETexto) {
  const std::string sDesconhecida = "Desconhecido ou novo c\xF3" "digo de FACILITY";
  const std::pair<int, std::string> facilidades[] = {
      {0, "FACILITY_NULL"}, {4, "FACILITY_ITF"}, {7, "FACILITY_WIN32"}, {84, "FACILITY_MBN"},
      {264, "ZEL_FACILITY_CR_CORE"}, {271, sDesconhecida}, {100, sDesconhecida}};
  for (const auto& [n, s] : facilidades) EXPECT_EQ(GetDescricao_FACILITY(n), s) << n;
  EXPECT_EQ(GetDescricao_FACILITY(236).rfind("ZEL_FACILITY_", 0), 0u);
  EXPECT_EQ(GetDescricao_FACILITY(270).rfind("ZEL_FACILITY_", 0), 0u);
  // A code's name only outside FACILITY_ITF and the suite's facilities, which the message library claims.
  const std::pair<HRESULT, const char*> codigos[] = {
      {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "ERROR_FILE_NOT_FOUND"}, {HR(0x80040002), ""}, {HR(0x81080002), ""},
      {RPC_X_NULL_REF_POINTER, "RPC_X_NULL_REF_POINTER"}, {S_OK, "ERROR_SUCCESS"}};
  for (const auto& [hr, szNome] : codigos) EXPECT_EQ(GetNome_CODE(hr), szNome) << std::hex << hr;
  EXPECT_EQ(GetTexto_HRESULT(HR(0x81080A04)), "Objeto n\xE3o inicializado");
  EXPECT_EQ(GetTexto_HRESULT(HR(0x8004FFFF)), "");
}
