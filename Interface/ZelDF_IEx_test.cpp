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
  // Clients send these numbers: a reordered list moves every file after it.
  struct Numero {
    int n;
    const char* sz;
  };
  static constexpr Numero kNumeros[] = {
    {0, "FN_CRE"}, {1, "FN_CPA"}, {2, "FN_TES"}, {3, "FP_FUNC"}, {4, "FP_SIND"}, {5, "FP_EVT"},
    {6, "FP_TERC_ALIM"}, {7, "FP_TERC_CONTRIB"}, {8, "FP_TERC_SAUDE"}, {9, "FP_TERC_SEG"},
    {10, "FP_TERC_TRA"}, {11, "GE_ATTEC"}, {12, "GE_PROTC_SAIDA"}, {13, "GE_PROTC_ENTRADA"},
    {14, "GE_CONTRATOS"}, {15, "PP_FICHA_TECNICA"}, {16, "PP_NECESSIDADE_PRODUCAO"},
    {17, "PP_ORDEM_PRODUCAO"}, {18, "MM_GESTAO"}, {19, "ES_CADASTRO_LOCAL"}, {20, "ES_MOVIMENTOS"},
    {21, "CM_SC"}, {22, "CM_CP"}, {23, "CM_OC"}, {24, "CM_RE"}, {25, "CM_CT"}, {26, "FT_ORC"}, {27, "FT_PED"},
    {28, "FT_ROM"}, {29, "FT_NF"}, {30, "FP_TRANSF"}, {31, "FP_PAGAMENTOS"}, {32, "DF_RI"}, {33, "FT_AGV"},
    {34, "DF_CAD_PRO"}, {35, "DF_CAD_SERV"}, {36, "CM_CC"}, {37, "MM_PLANO"}, {38, "DF_RECURSO"},
    {39, "EF_CONTAS_PAGAR_ENTRADAS"}, {40, "EF_CONTAS_PAGAR_TOMADOS"}, {41, "EF_CONTAS_RECEBER_SAIDAS"},
    {42, "EF_CONTAS_RECEBER_PRESTADOS"}, {43, "PP_APONTAMENTO_INTERMEDIARIO"}, {44, "PP_APONTAMENTO_FINAL"},
    {45, "PP_APONTAMENTO_PERDAS_DEFEITOS"}, {46, "PP_APONTAMENTO_RECURSO"}, {47, "DF_CAD_FOR"},
    {48, "DF_CAD_CLI"}, {49, "DF_CAD_TRA"}, {50, "DF_CAD_REP"}, {51, "GE_ACOMP_SEV"}, {52, "NF_AER_NF"},
    {53, "NF_AER_CT"}, {54, "GE_AGRUPAR_REGISTROS"}, {55, "PP_DESENV_PRODUTO"}, {56, "PP_ENSAIO_PRODUTO"},
    {57, "EF_SAIDAS"}, {58, "EF_ENTRADAS"}, {59, "EF_TOMADOS"}, {60, "EF_PRESTADOS"}, {61, "FP_CARGOS"},
    {62, "EF_ITENS_NOTA_ENTRADAS"}, {63, "EF_ITENS_NOTA_SAIDAS"}, {64, "EF_ITENS_NOTA_PRESTADOS"},
    {65, "EF_ITENS_NOTA_TOMADOS"}, {66, "GE_CONTRATOS_SERVICOS"}, {67, "FT_CONTRATO_VENDA"},
    {68, "NF_AER_NFS"},
  };
#define ZEL_NOME_PROCESSO(nome) #nome,
  static const char* const kNomes[] = {ZEL_IE_PROCESSOS(ZEL_NOME_PROCESSO)};
#undef ZEL_NOME_PROCESSO
  ASSERT_EQ(std::size(kNomes), std::size(kNumeros));
  for (const Numero& p : kNumeros) EXPECT_STREQ(kNomes[p.n], p.sz) << p.n;
}
