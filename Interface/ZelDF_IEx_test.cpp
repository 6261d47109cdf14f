#include "ZelDF_IEx.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
// Itanium C++ ABI: a pointer to a virtual member holds 1 + its vtable byte offset.
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
  // AddRef is slot 2; every method after it follows in the contract's order.
  const int slots[] = {
      Slot(&IZelDF_IEx::QueryInterface), Slot(&IZelDF_IEx::Release), Slot(&IZelDF_IEx::Inicializa_Padrao),
      Slot(&IZelDF_IEx::KeepAlive), Slot(&IZelDF_IEx::GetUltimoErro), Slot(&IZelDF_IEx::FuncaoGenerica),
      Slot(&IZelDF_IEx::AlteracaoMultiplaCadastro), Slot(&IZelDF_IEx::AlteracaoMultiplaMovimento),
      Slot(&IZelDF_IEx::CadastroTeveMovimentacao), Slot(&IZelDF_IEx::LeIEHeader), Slot(&IZelDF_IEx::GravaIEHeader),
      Slot(&IZelDF_IEx::BuscaPtrsIEHeader), Slot(&IZelDF_IEx::ExisteVinculo), Slot(&IZelDF_IEx::GravaCamposVinculo),
      Slot(&IZelDF_IEx::BuscaVinculosByOrigem), Slot(&IZelDF_IEx::NotificaExclusaoOrigem),
      Slot(&IZelDF_IEx::LeCabecalhoIntegracao), Slot(&IZelDF_IEx::GravaCabecalhoIntegracao),
      Slot(&IZelDF_IEx::GetPonteirosCabecalhoIntegracaoVoviDadi), Slot(&IZelDF_IEx::GetListaCabecalhosIntegracao),
      Slot(&IZelDF_IEx::ExisteCabecalhoIntegracao), Slot(&IZelDF_IEx::LeVinculosCabecalhoIntegracao),
      Slot(&IZelDF_IEx::GravaVinculosCabecalhosIntegracao), Slot(&IZelDF_IEx::GetVinculoByIntegracao),
      Slot(&IZelDF_IEx::GetProcessoJaCadastradoNaIntegracao), Slot(&IZelDF_IEx::ExcluiIntegracoesQueUsamEsteProcesso),
  };
  for (size_t i = 0; i < std::size(slots); ++i) EXPECT_EQ(slots[i], i == 0 ? 1 : static_cast<int>(i) + 2) << i;
}

TEST(ZelDF_IEx, IdentidadesPublicadas) {
  EXPECT_EQ(GuidParaTexto(CLSID_ZelDF_IEx), "{AEDCC5AC-C54A-410A-AC6D-B6B7B7BAFD6A}");
  EXPECT_EQ(GuidParaTexto(IID_IZelDF_IEx), "{452C8CB4-1ECC-4AD8-89CE-2299A77051DB}");
  EXPECT_EQ(GuidParaTexto(IID_IZelUnknown), "{1756CF8E-B27F-48A2-A362-64C617F9DC50}");
  EXPECT_EQ(GuidParaTexto(LIBID_TOLVANLib), "{CDE3E167-129C-4B65-85E0-8643D1B709B6}");
}

TEST(ZelDF_IEx, NumerosDosProcessosSaoOsDoContrato) {
  // Clients send these numbers (the position in the list): a reordered list moves every file after it.
  static const char* const kEsperados[] = {
      "FN_CRE", "FN_CPA", "FN_TES", "FP_FUNC", "FP_SIND", "FP_EVT", "FP_TERC_ALIM", "FP_TERC_CONTRIB", "FP_TERC_SAUDE",
      "FP_TERC_SEG", "FP_TERC_TRA", "GE_ATTEC", "GE_PROTC_SAIDA", "GE_PROTC_ENTRADA", "GE_CONTRATOS",
      "PP_FICHA_TECNICA", "PP_NECESSIDADE_PRODUCAO", "PP_ORDEM_PRODUCAO", "MM_GESTAO", "ES_CADASTRO_LOCAL",
      "ES_MOVIMENTOS", "CM_SC", "CM_CP", "CM_OC", "CM_RE", "CM_CT", "FT_ORC", "FT_PED", "FT_ROM", "FT_NF",
      "FP_TRANSF", "FP_PAGAMENTOS", "DF_RI", "FT_AGV", "DF_CAD_PRO", "DF_CAD_SERV", "CM_CC", "MM_PLANO", "DF_RECURSO",
      "EF_CONTAS_PAGAR_ENTRADAS", "EF_CONTAS_PAGAR_TOMADOS", "EF_CONTAS_RECEBER_SAIDAS", "EF_CONTAS_RECEBER_PRESTADOS",
      "PP_APONTAMENTO_INTERMEDIARIO", "PP_APONTAMENTO_FINAL", "PP_APONTAMENTO_PERDAS_DEFEITOS",
      "PP_APONTAMENTO_RECURSO", "DF_CAD_FOR", "DF_CAD_CLI", "DF_CAD_TRA", "DF_CAD_REP", "GE_ACOMP_SEV", "NF_AER_NF",
      "NF_AER_CT", "GE_AGRUPAR_REGISTROS", "PP_DESENV_PRODUTO", "PP_ENSAIO_PRODUTO", "EF_SAIDAS", "EF_ENTRADAS",
      "EF_TOMADOS", "EF_PRESTADOS", "FP_CARGOS", "EF_ITENS_NOTA_ENTRADAS", "EF_ITENS_NOTA_SAIDAS",
      "EF_ITENS_NOTA_PRESTADOS", "EF_ITENS_NOTA_TOMADOS", "GE_CONTRATOS_SERVICOS", "FT_CONTRATO_VENDA", "NF_AER_NFS",
  };
#define ZEL_NOME_PROCESSO(nome) #nome,
  static const char* const kNomes[] = {ZEL_IE_PROCESSOS(ZEL_NOME_PROCESSO)};
#undef ZEL_NOME_PROCESSO
  ASSERT_EQ(std::size(kNomes), std::size(kEsperados));
  for (size_t n = 0; n < std::size(kNomes); ++n) EXPECT_STREQ(kNomes[n], kEsperados[n]) << n;
}

TEST(ZelDF_IEx, CadaTipoDeCampoAbreSuaFaixaDeCinquenta) {
  // Stored headers and clients carry the numbers: each kind's first field opens its range, in this order.
  const IE_E_CAMPO aPrimeiros[] = {
      IE_CAMPO_LIVRE_DMA_0, IE_CAMPO_LIVRE_MA_0, IE_CAMPO_LIVRE_TEXTO_0, IE_CAMPO_LIVRE_V0_0, IE_CAMPO_LIVRE_V2_0,
      IE_CAMPO_LIVRE_V4_0,  IE_CAMPO_LIVRE_V8_0, IE_CAMPO_INF_COMPL_COD, IE_CAMPO_HORA,        IE_CAMPO_CHECK_BOX,
      IE_CAMPO_COUNT};
  for (size_t n = 0; n < std::size(aPrimeiros); ++n) EXPECT_EQ(aPrimeiros[n], static_cast<int32_t>(n) * 50) << n;
}
