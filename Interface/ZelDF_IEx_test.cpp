#include "ZelDF_IEx.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
// Under the Itanium C++ ABI a pointer to a virtual member holds 1 + the byte
// offset of its entry in the virtual table; slots are numbered from 1.
template <typename M>
int Slot(M metodo) {
  static_assert(sizeof(M) == 2 * sizeof(ptrdiff_t));
  ptrdiff_t partes[2];
  std::memcpy(partes, &metodo, sizeof partes);
  if ((partes[0] & 1) == 0) return -1;
  return static_cast<int>((partes[0] - 1) / static_cast<ptrdiff_t>(sizeof(void*))) + 1;
}
}  // namespace

TEST(ZelDF_IEx, SlotsNaOrdemDoContrato) {
  EXPECT_EQ(Slot(&IZelDF_IEx::QueryInterface), 1);
  EXPECT_EQ(Slot(&IZelDF_IEx::Release), 3);
  EXPECT_EQ(Slot(&IZelDF_IEx::Inicializa_Padrao), 4);
  EXPECT_EQ(Slot(&IZelDF_IEx::KeepAlive), 5);
  EXPECT_EQ(Slot(&IZelDF_IEx::GetUltimoErro), 6);
  EXPECT_EQ(Slot(&IZelDF_IEx::FuncaoGenerica), 7);
  EXPECT_EQ(Slot(&IZelDF_IEx::AlteracaoMultiplaCadastro), 8);
  EXPECT_EQ(Slot(&IZelDF_IEx::AlteracaoMultiplaMovimento), 9);
  EXPECT_EQ(Slot(&IZelDF_IEx::CadastroTeveMovimentacao), 10);
  EXPECT_EQ(Slot(&IZelDF_IEx::LeIEHeader), 11);
  EXPECT_EQ(Slot(&IZelDF_IEx::GravaIEHeader), 12);
  EXPECT_EQ(Slot(&IZelDF_IEx::BuscaPtrsIEHeader), 13);
  EXPECT_EQ(Slot(&IZelDF_IEx::ExisteVinculo), 14);
  EXPECT_EQ(Slot(&IZelDF_IEx::GravaCamposVinculo), 15);
  EXPECT_EQ(Slot(&IZelDF_IEx::BuscaVinculosByOrigem), 16);
  EXPECT_EQ(Slot(&IZelDF_IEx::NotificaExclusaoOrigem), 17);
  EXPECT_EQ(Slot(&IZelDF_IEx::LeCabecalhoIntegracao), 18);
  EXPECT_EQ(Slot(&IZelDF_IEx::GravaCabecalhoIntegracao), 19);
  EXPECT_EQ(Slot(&IZelDF_IEx::GetPonteirosCabecalhoIntegracaoVoviDadi), 20);
  EXPECT_EQ(Slot(&IZelDF_IEx::GetListaCabecalhosIntegracao), 21);
  EXPECT_EQ(Slot(&IZelDF_IEx::ExisteCabecalhoIntegracao), 22);
  EXPECT_EQ(Slot(&IZelDF_IEx::LeVinculosCabecalhoIntegracao), 23);
  EXPECT_EQ(Slot(&IZelDF_IEx::GravaVinculosCabecalhosIntegracao), 24);
  EXPECT_EQ(Slot(&IZelDF_IEx::GetVinculoByIntegracao), 25);
  EXPECT_EQ(Slot(&IZelDF_IEx::GetProcessoJaCadastradoNaIntegracao), 26);
  EXPECT_EQ(Slot(&IZelDF_IEx::ExcluiIntegracoesQueUsamEsteProcesso), 27);
}

TEST(ZelDF_IEx, IdentidadesPublicadas) {
  EXPECT_EQ(GuidParaTexto(CLSID_ZelDF_IEx), "{AEDCC5AC-C54A-410A-AC6D-B6B7B7BAFD6A}");
  EXPECT_EQ(GuidParaTexto(IID_IZelDF_IEx), "{452C8CB4-1ECC-4AD8-89CE-2299A77051DB}");
  EXPECT_EQ(GuidParaTexto(IID_IZelUnknown), "{1756CF8E-B27F-48A2-A362-64C617F9DC50}");
  EXPECT_EQ(GuidParaTexto(LIBID_TOLVANLib), "{CDE3E167-129C-4B65-85E0-8643D1B709B6}");
}
