#include "ZelDescricaoErro.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "ZelMensagem.h"

namespace {
struct ZelNomeCodigo {
  uint32_t valor;
  const char* nome;
};

#include "ZelTabelasErro.inc"

// The suite's own facilities, one per module of the suite.
constexpr ZelNomeCodigo kFacilidadesSuite[] = {
    {236, "ZEL_FACILITY_AD_ADMINISTRACAO"}, {237, "ZEL_FACILITY_AG_AGENDA"},
    {238, "ZEL_FACILITY_AT_ATIVO"},         {239, "ZEL_FACILITY_BI_BUSINESS"},
    {240, "ZEL_FACILITY_CB_CONTABIL"},      {241, "ZEL_FACILITY_CM_COMPRAS"},
    {242, "ZEL_FACILITY_CP_CUSTOS"},        {243, "ZEL_FACILITY_CT_CONTRATOS"},
    {244, "ZEL_FACILITY_DF_FISCAL"},        {245, "ZEL_FACILITY_EF_ESCRITA"},
    {246, "ZEL_FACILITY_ES_ESTOQUE"},       {247, "ZEL_FACILITY_FN_FINANCEIRO"},
    {248, "ZEL_FACILITY_FP_FOLHA"},         {249, "ZEL_FACILITY_FT_FATURAMENTO"},
    {250, "ZEL_FACILITY_GE_GESTAO"},        {251, "ZEL_FACILITY_LF_LIVROS"},
    {252, "ZEL_FACILITY_MM_MANUTENCAO"},    {253, "ZEL_FACILITY_NF_NOTAS"},
    {254, "ZEL_FACILITY_PP_PRODUCAO"},      {255, "ZEL_FACILITY_PT_PONTO"},
    {256, "ZEL_FACILITY_RH_RECURSOS"},      {257, "ZEL_FACILITY_SG_SEGURANCA"},
    {258, "ZEL_FACILITY_TR_TRANSPORTES"},   {259, "ZEL_FACILITY_VD_VENDAS"},
    {260, "ZEL_FACILITY_WF_WORKFLOW"},      {261, "ZEL_FACILITY_CR_CONEXAO"},
    {262, "ZEL_FACILITY_CR_DADOS"},         {263, "ZEL_FACILITY_CR_MENSAGEM"},
    {264, "ZEL_FACILITY_CR_CORE"},          {265, "ZEL_FACILITY_CR_SERVIDOR"},
    {266, "ZEL_FACILITY_CR_DATABASE"},      {267, "ZEL_FACILITY_CR_RELATORIO"},
    {268, "ZEL_FACILITY_CR_INTEGRACAO"},    {269, "ZEL_FACILITY_CR_WEB"},
    {270, "ZEL_FACILITY_CR_UTIL"},
};

template <size_t N>
const char* Procura(const ZelNomeCodigo (&tabela)[N], uint32_t valor) {
  auto it = std::lower_bound(std::begin(tabela), std::end(tabela), valor,
                             [](const ZelNomeCodigo& e, uint32_t v) { return e.valor < v; });
  return (it != std::end(tabela) && it->valor == valor) ? it->nome : nullptr;
}
}  // namespace

std::string GetDescricao_SEVERITY(HRESULT hr) { return hr < 0 ? "SEVERITY_ERROR" : "SEVERITY_SUCCESS"; }

std::string GetDescricao_FACILITY(unsigned facility) {
  const char* sz = facility <= 84 ? Procura(kFacilidadesWindows, facility) : Procura(kFacilidadesSuite, facility);
  return sz != nullptr ? sz : "Desconhecido ou novo c\xF3" "digo de FACILITY";
}

std::string GetNome_CODE(HRESULT hr) {
  unsigned facility = HRESULT_FACILITY(hr);
  if (facility == FACILITY_ITF || EhFacilityMT(facility)) return {};
  const char* sz = Procura(kErrosSistema, HRESULT_CODE(hr));
  return sz != nullptr ? sz : "";
}

std::string GetNome_HRESULT(HRESULT hr) {
  const char* sz = Procura(kNomesHRESULT, static_cast<uint32_t>(hr));
  return sz != nullptr ? sz : "";
}

std::string GetTexto_HRESULT(HRESULT hr) {
  // The fixed table of other modules' FACILITY_ITF texts is not needed here.
  std::string s;
  ZelGetDescricaoHRESULT(s, hr);
  return s;
}
