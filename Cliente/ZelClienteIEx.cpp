#include "ZelClienteIEx.h"

#include <atomic>
#include <tuple>
#include <type_traits>

#include "ZelLocalAtivacao.h"

namespace {

using V = ZelLocalTipoValor;
constexpr uint32_t kPonteiro = sizeof(void*);

#define ZEL_CAMPO(T, f) #f, static_cast<uint32_t>(offsetof(T, f))
#define ZEL_TAM(T, f) static_cast<uint32_t>(sizeof(T::f))

std::vector<std::pair<const char*, int32_t>> NomesProcessos() {
  std::vector<std::pair<const char*, int32_t>> v;
  int32_t n = 0;
#define ZEL_NOME_PROCESSO(nome) v.emplace_back("IE_PROCESSO_" #nome, n++);
  ZEL_IE_PROCESSOS(ZEL_NOME_PROCESSO)
#undef ZEL_NOME_PROCESSO
  v.emplace_back("IE_PROCESSO_COUNT", n);
  return v;
}

}  // namespace

namespace ZelTiposIEx {

const ZelLocalTipo kU8{"UI1", 1, V::U8, {}, {}};
const ZelLocalTipo kU16{"UI2", 2, V::U16, {}, {}};
const ZelLocalTipo kU32{"UI4", 4, V::U32, {}, {}};
const ZelLocalTipo kI32{"I4", 4, V::I32, {}, {}};
const ZelLocalTipo kU64{"UI8", 8, V::U64, {}, {}};
const ZelLocalTipo kCaractere{"char", 1, V::Caractere, {}, {}};

const ZelLocalTipo kProcesso{"IE_E_PROCESSO", 4, V::Enum, {}, NomesProcessos()};
const ZelLocalTipo kCampoId{"IE_E_CAMPO",
                            4,
                            V::Enum,
                            {},
                            {{"IE_CAMPO_LIVRE_DMA_0", IE_CAMPO_LIVRE_DMA_0},
                             {"IE_CAMPO_LIVRE_MA_0", IE_CAMPO_LIVRE_MA_0},
                             {"IE_CAMPO_LIVRE_TEXTO_0", IE_CAMPO_LIVRE_TEXTO_0},
                             {"IE_CAMPO_LIVRE_V0_0", IE_CAMPO_LIVRE_V0_0},
                             {"IE_CAMPO_LIVRE_V2_0", IE_CAMPO_LIVRE_V2_0},
                             {"IE_CAMPO_LIVRE_V4_0", IE_CAMPO_LIVRE_V4_0},
                             {"IE_CAMPO_LIVRE_V8_0", IE_CAMPO_LIVRE_V8_0},
                             {"IE_CAMPO_INF_COMPL_COD", IE_CAMPO_INF_COMPL_COD},
                             {"IE_CAMPO_HORA", IE_CAMPO_HORA},
                             {"IE_CAMPO_CHECK_BOX", IE_CAMPO_CHECK_BOX},
                             {"IE_CAMPO_COUNT", IE_CAMPO_COUNT}}};

using INI = _REG_DF_INICIALIZAPS;
const ZelLocalTipo kInicializa{"_REG_DF_INICIALIZAPS",
                               sizeof(INI),
                               V::Registro,
                               {{ZEL_CAMPO(INI, ulUsuario), V::U32, 4},
                                {ZEL_CAMPO(INI, ulNumeroSessao), V::U32, 4},
                                {ZEL_CAMPO(INI, ulLinhaFonte), V::U32, 4},
                                // The fillers travel: the checksum covers them.
                                {ZEL_CAMPO(INI, ulFiller), V::U32, 4},
                                {ZEL_CAMPO(INI, usVersaoMorvo), V::U16, 2},
                                {ZEL_CAMPO(INI, usFiller), V::Bytes, ZEL_TAM(INI, usFiller)},
                                {ZEL_CAMPO(INI, szEmpresa), V::Texto, ZEL_TAM(INI, szEmpresa)},
                                {ZEL_CAMPO(INI, szAplicativo), V::Texto, ZEL_TAM(INI, szAplicativo)},
                                {ZEL_CAMPO(INI, szModuleName), V::Texto, ZEL_TAM(INI, szModuleName)},
                                {ZEL_CAMPO(INI, szArquivoFonte), V::Texto, ZEL_TAM(INI, szArquivoFonte)},
                                {ZEL_CAMPO(INI, szNomeUsuarioDominio), V::Texto, ZEL_TAM(INI, szNomeUsuarioDominio)},
                                {ZEL_CAMPO(INI, cControle), V::U8, 1},
                                {ZEL_CAMPO(INI, cWTS), V::U8, 1},
                                {ZEL_CAMPO(INI, szFiller), V::Texto, ZEL_TAM(INI, szFiller)},
                                {ZEL_CAMPO(INI, uiCRC), V::U64, 8}},
                               {}};

using ERR = _REG_DF_ERROPS;
const ZelLocalTipo kErro{"_REG_DF_ERROPS",
                         sizeof(ERR),
                         V::Registro,
                         {{ZEL_CAMPO(ERR, hr), V::I32, 4},
                          {ZEL_CAMPO(ERR, nCodigoErro), V::I32, 4},
                          {ZEL_CAMPO(ERR, lCodigoMensagem), V::I32, 4},
                          {ZEL_CAMPO(ERR, iRegistro), V::I32, 4},
                          {ZEL_CAMPO(ERR, iItem), V::I32, 4},
                          {ZEL_CAMPO(ERR, lCodigoCampo), V::I32, 4},
                          {ZEL_CAMPO(ERR, nModuloMensagem), V::U16, 2},
                          {ZEL_CAMPO(ERR, nTipoErro), V::I16, 2},
                          {ZEL_CAMPO(ERR, usNumeroServidor), V::U16, 2},
                          {ZEL_CAMPO(ERR, cMensagem), V::Texto, ZEL_TAM(ERR, cMensagem)},
                          {ZEL_CAMPO(ERR, szEmpresa), V::Texto, ZEL_TAM(ERR, szEmpresa)}},
                         {}};

using LB = _REG_CR_LISTA_BYTESPS;
const ZelLocalTipo kListaBytes{"_REG_CR_LISTA_BYTESPS",
                               sizeof(LB),
                               V::Registro,
                               {{ZEL_CAMPO(LB, ulQtdBytes), V::U32, 4},
                                {ZEL_CAMPO(LB, pListaBytes), V::Array, kPonteiro, &kU8, "ulQtdBytes"},
                                {ZEL_CAMPO(LB, pFiller), V::Reservado, kPonteiro}},
                               {}};

using ALT = _REG_CR_ALTERACAOPS;
const ZelLocalTipo kAlteracao{"_REG_CR_ALTERACAOPS",
                              sizeof(ALT),
                              V::Registro,
                              {{ZEL_CAMPO(ALT, regDados), V::Registro, sizeof(LB), &kListaBytes},
                               {ZEL_CAMPO(ALT, ulTipoAlteracao), V::U32, 4}},
                              {}};

using CMP = IE_CAMPO_PS;
const ZelLocalTipo kCampo{"IE_CAMPO_PS",
                          sizeof(CMP),
                          V::Registro,
                          {{ZEL_CAMPO(CMP, dwFlags), V::U32, 4},
                           {ZEL_CAMPO(CMP, lPtrExtra), V::U32, 4},
                           {ZEL_CAMPO(CMP, id), V::Enum, 4, &kCampoId},
                           {ZEL_CAMPO(CMP, szNome), V::Texto, ZEL_TAM(CMP, szNome)},
                           {ZEL_CAMPO(CMP, iQtdUsuarios), V::U16, 2},
                           {ZEL_CAMPO(CMP, pUsuarios), V::Array, kPonteiro, &kU16, "iQtdUsuarios"},
                           {ZEL_CAMPO(CMP, pFiller), V::Reservado, kPonteiro}},
                          {}};

using HDR = IE_HDR_PS;
const ZelLocalTipo kHeader{"IE_HDR_PS",
                           sizeof(HDR),
                           V::Registro,
                           {{ZEL_CAMPO(HDR, dwFlags), V::U32, 4},
                            {ZEL_CAMPO(HDR, eProcesso), V::Enum, 4, &kProcesso},
                            {ZEL_CAMPO(HDR, nQtdCampos), V::U32, 4},
                            {ZEL_CAMPO(HDR, pCampos), V::Array, kPonteiro, &kCampo, "nQtdCampos"},
                            {ZEL_CAMPO(HDR, pFiller), V::Reservado, kPonteiro}},
                           {}};

using FIL = IE_HEADER_FILTRO_PS;
const ZelLocalTipo kFiltro{"IE_HEADER_FILTRO_PS",
                           sizeof(FIL),
                           V::Registro,
                           {{ZEL_CAMPO(FIL, dwFlags), V::U32, 4},
                            {ZEL_CAMPO(FIL, eProc), V::Enum, 4, &kProcesso},
                            {ZEL_CAMPO(FIL, ulPonteiro), V::U32, 4}},
                           {}};

using AP = IE_ARRAY_PONTEIROS_PS;
const ZelLocalTipo kArrayPonteiros{"IE_ARRAY_PONTEIROS_PS",
                                   sizeof(AP),
                                   V::Registro,
                                   {{ZEL_CAMPO(AP, qtd), V::U32, 4},
                                    {ZEL_CAMPO(AP, pPtrs), V::Array, kPonteiro, &kU32, "qtd"},
                                    {ZEL_CAMPO(AP, pFiller), V::Reservado, kPonteiro}},
                                   {}};

using ORI = IE_ORIGEM_VINCULO_PS;
const ZelLocalTipo kOrigem{"IE_ORIGEM_VINCULO_PS",
                           sizeof(ORI),
                           V::Registro,
                           {{ZEL_CAMPO(ORI, lPosHeader), V::U32, 4}, {ZEL_CAMPO(ORI, lChave), V::U32, 4}},
                           {}};

using CD = IE_CAMPO_DATA_PS;
const ZelLocalTipo kCampoData{"IE_CAMPO_DATA_PS",
                              sizeof(CD),
                              V::Registro,
                              {{ZEL_CAMPO(CD, BinaryData), V::Bytes, ZEL_TAM(CD, BinaryData)},
                               {ZEL_CAMPO(CD, id), V::Enum, 4, &kCampoId},
                               {ZEL_CAMPO(CD, ulTamanhoTexto), V::U32, 4},
                               {ZEL_CAMPO(CD, pcTexto), V::Array, kPonteiro, &kCaractere, "ulTamanhoTexto"},
                               {ZEL_CAMPO(CD, pFiller), V::Reservado, kPonteiro}},
                              {}};

using VIN = IE_VINCULO_PS;
const ZelLocalTipo kVinculo{"IE_VINCULO_PS",
                            sizeof(VIN),
                            V::Registro,
                            {{ZEL_CAMPO(VIN, origem), V::Registro, sizeof(ORI), &kOrigem},
                             {ZEL_CAMPO(VIN, nQtdCampos), V::U32, 4},
                             {ZEL_CAMPO(VIN, pCampos), V::Array, kPonteiro, &kCampoData, "nQtdCampos"},
                             {ZEL_CAMPO(VIN, pFiller), V::Reservado, kPonteiro}},
                            {}};

using CAB = _REG_IE_CABECALHO_INTEGRACAO_PS;
const ZelLocalTipo kCabecalho{"_REG_IE_CABECALHO_INTEGRACAO_PS",
                              sizeof(CAB),
                              V::Registro,
                              {{ZEL_CAMPO(CAB, ulPonteiroPrimeiroVinculoIntegracao), V::U32, 4},
                               {ZEL_CAMPO(CAB, ulQtdVinculosIntegracoes), V::U32, 4},
                               {ZEL_CAMPO(CAB, eProcessoOrigem), V::Enum, 4, &kProcesso},
                               {ZEL_CAMPO(CAB, eProcessoDestino), V::Enum, 4, &kProcesso},
                               {ZEL_CAMPO(CAB, cExcluido), V::U8, 1},
                               {ZEL_CAMPO(CAB, cInativo), V::U8, 1}},
                              {}};

using VI = _REG_IE_VINCULO_INTEGRACAO_PS;
const ZelLocalTipo kVinculoIntegracao{"_REG_IE_VINCULO_INTEGRACAO_PS",
                                      sizeof(VI),
                                      V::Registro,
                                      {{ZEL_CAMPO(VI, ulPosicaoCabecalhoIntegracao), V::U32, 4},
                                       {ZEL_CAMPO(VI, ulPosicaoCampoOrigem), V::U32, 4},
                                       {ZEL_CAMPO(VI, ulPosicaoCampoDestino), V::U32, 4},
                                       {ZEL_CAMPO(VI, cExcluido), V::U8, 1},
                                       {ZEL_CAMPO(VI, cInativo), V::U8, 1}},
                                      {}};

using LC = _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS;
const ZelLocalTipo kListaCabecalhos{"_REG_LISTA_IE_CABECALHO_INTEGRACAO_PS",
                                    sizeof(LC),
                                    V::Registro,
                                    {{ZEL_CAMPO(LC, ulQtd), V::U32, 4},
                                     {ZEL_CAMPO(LC, pRegListaCabecalhos), V::Array, kPonteiro, &kCabecalho, "ulQtd"},
                                     {ZEL_CAMPO(LC, pFiller), V::Reservado, kPonteiro}},
                                    {}};

using LV = _REG_LISTA_IE_VINCULO_INTEGRACAO_PS;
const ZelLocalTipo kListaVinculos{"_REG_LISTA_IE_VINCULO_INTEGRACAO_PS",
                                  sizeof(LV),
                                  V::Registro,
                                  {{ZEL_CAMPO(LV, ulQtd), V::U32, 4},
                                   {ZEL_CAMPO(LV, pRegListaVinculos), V::Array, kPonteiro, &kVinculoIntegracao, "ulQtd"},
                                   {ZEL_CAMPO(LV, pFiller), V::Reservado, kPonteiro}},
                                  {}};

}  // namespace ZelTiposIEx

namespace {

using namespace ZelTiposIEx;
using D = ZelLocalDirecao;
using F = ZelLocalForma;
constexpr D In = D::Entrada;
constexpr D Out = D::Saida;
constexpr D InOut = D::EntradaSaida;

// The methods in slot order: direction, shape, type and, for arrays, the
// parameter that counts them.
std::vector<ZelLocalMetodo> Metodos() {
  return {
      {4, "Inicializa_Padrao", {{"regps", In, F::Valor, &kInicializa}}},
      {5, "KeepAlive", {{"pbOK", Out, F::Ponteiro, &kI32}}},
      {6, "GetUltimoErro", {{"pregErrops", Out, F::Ponteiro, &kErro}}},
      {7,
       "FuncaoGenerica",
       {{"ulFuncao", In, F::Valor, &kU32},
        {"regInps", In, F::Valor, &kListaBytes},
        {"ppregOutps", Out, F::PonteiroDuplo, &kListaBytes}}},
      {8,
       "AlteracaoMultiplaCadastro",
       {{"ulQuantidade", In, F::Valor, &kU32},
        {"pulPonteiros", In, F::Array, &kU32, 0},
        {"ulQuantidadeAlteracoes", In, F::Valor, &kU32},
        {"pregps", In, F::Array, &kAlteracao, 2}}},
      {9,
       "AlteracaoMultiplaMovimento",
       {{"ulQuantidade", In, F::Valor, &kU32},
        {"pregPonteiros", In, F::Array, &kU64, 0},
        {"ulQuantidadeAlteracoes", In, F::Valor, &kU32},
        {"pregps", In, F::Array, &kAlteracao, 2}}},
      {10,
       "CadastroTeveMovimentacao",
       {{"eTipoCadastro", In, F::Valor, &kU32},
        {"ulPonteiroCadastro", In, F::Valor, &kU32},
        {"pbTeveMovimentacao", Out, F::Ponteiro, &kI32}}},
      {11,
       "LeIEHeader",
       {{"qtd", In, F::Valor, &kU32},
        {"pPos", In, F::Array, &kU32, 0},
        {"pTipDoc", Out, F::Array, &kHeader, 0},
        {"dwFlags", In, F::Valor, &kU32}}},
      {12, "GravaIEHeader", {{"pPos", InOut, F::Ponteiro, &kU32}, {"ps", In, F::Valor, &kHeader}}},
      {13,
       "BuscaPtrsIEHeader",
       {{"filtro", In, F::Valor, &kFiltro}, {"pRegPtrs", Out, F::Ponteiro, &kArrayPonteiros}}},
      {14, "ExisteVinculo", {{"lPosHeader", In, F::Valor, &kU32}}},
      {15, "GravaCamposVinculo", {{"vinculo", In, F::Valor, &kVinculo}}},
      {16,
       "BuscaVinculosByOrigem",
       {{"lPosHeader", In, F::Valor, &kU32},
        {"qtd", In, F::Valor, &kU32},
        {"pChaves", In, F::Array, &kU32, 1},
        {"pVinculos", Out, F::Array, &kVinculo, 1}}},
      {17, "NotificaExclusaoOrigem", {{"origem", In, F::Valor, &kOrigem}}},
      {18,
       "LeCabecalhoIntegracao",
       {{"ulPosicao", In, F::Valor, &kU32}, {"pRegCabecalho", Out, F::Ponteiro, &kCabecalho}}},
      {19,
       "GravaCabecalhoIntegracao",
       {{"ulPosicaoIn", In, F::Valor, &kU32},
        {"reg", In, F::Valor, &kCabecalho},
        {"pulPosicaoOut", Out, F::Ponteiro, &kU32}}},
      {20, "GetPonteirosCabecalhoIntegracaoVoviDadi", {{"pregPonteiros", Out, F::Ponteiro, &kArrayPonteiros}}},
      {21,
       "GetListaCabecalhosIntegracao",
       {{"pregPonteiros", In, F::Ponteiro, &kArrayPonteiros}, {"pRegLista", Out, F::Ponteiro, &kListaCabecalhos}}},
      {22,
       "ExisteCabecalhoIntegracao",
       {{"regHeaderOrigem", In, F::Valor, &kFiltro},
        {"regHeaderDestino", In, F::Valor, &kFiltro},
        {"pRegCabecalho", Out, F::Ponteiro, &kCabecalho}}},
      {23,
       "LeVinculosCabecalhoIntegracao",
       {{"pRegCabecalho", In, F::Ponteiro, &kCabecalho}, {"pRegLista", Out, F::Ponteiro, &kListaVinculos}}},
      {24,
       "GravaVinculosCabecalhosIntegracao",
       {{"pRegCabecalho", InOut, F::Ponteiro, &kCabecalho}, {"pRegLista", In, F::Ponteiro, &kListaVinculos}}},
      {25,
       "GetVinculoByIntegracao",
       {{"headerOrigem", In, F::Valor, &kFiltro},
        {"ulPosRegistroOrigem", In, F::Valor, &kU32},
        {"headerDestino", In, F::Valor, &kFiltro},
        {"pVinculo", Out, F::Ponteiro, &kVinculo}}},
      {26,
       "GetProcessoJaCadastradoNaIntegracao",
       {{"header", In, F::Valor, &kFiltro}, {"bProcessoJaCadastrado", Out, F::Ponteiro, &kI32}}},
      {27, "ExcluiIntegracoesQueUsamEsteProcesso", {{"header", In, F::Valor, &kFiltro}}},
  };
}

// ---- Server: calling a slot with the stub's argument addresses ----

template <auto pm, class C, class... A, size_t... I>
HRESULT InvocaIndices(IZelDF_IEx* p, void* const* ap, HRESULT (C::*)(A...), std::index_sequence<I...>) {
  return (p->*pm)(*static_cast<std::remove_reference_t<A>*>(ap[I])...);
}
template <auto pm, class C, class... A>
HRESULT InvocaComAssinatura(IZelDF_IEx* p, void* const* ap, HRESULT (C::*f)(A...)) {
  return InvocaIndices<pm>(p, ap, f, std::index_sequence_for<A...>{});
}
template <auto pm>
HRESULT Invoca(IZelDF_IEx* p, void* const* ap) {
  return InvocaComAssinatura<pm>(p, ap, pm);
}

template <class C, class... A>
std::vector<std::pair<size_t, bool>> AssinaturaDe(HRESULT (C::*)(A...)) {
  return {{sizeof(A), std::is_pointer_v<A>}...};
}

#define ZEL_SLOTS_IZELDF_IEX(X)                                                                                      \
  X(4, Inicializa_Padrao) X(5, KeepAlive) X(6, GetUltimoErro) X(7, FuncaoGenerica) X(8, AlteracaoMultiplaCadastro)   \
  X(9, AlteracaoMultiplaMovimento) X(10, CadastroTeveMovimentacao) X(11, LeIEHeader) X(12, GravaIEHeader)            \
  X(13, BuscaPtrsIEHeader) X(14, ExisteVinculo) X(15, GravaCamposVinculo) X(16, BuscaVinculosByOrigem)               \
  X(17, NotificaExclusaoOrigem) X(18, LeCabecalhoIntegracao) X(19, GravaCabecalhoIntegracao)                         \
  X(20, GetPonteirosCabecalhoIntegracaoVoviDadi) X(21, GetListaCabecalhosIntegracao)                                 \
  X(22, ExisteCabecalhoIntegracao) X(23, LeVinculosCabecalhoIntegracao) X(24, GravaVinculosCabecalhosIntegracao)     \
  X(25, GetVinculoByIntegracao) X(26, GetProcessoJaCadastradoNaIntegracao) X(27, ExcluiIntegracoesQueUsamEsteProcesso)

constexpr uint16_t kSlots = 28;
using Invocador = HRESULT (*)(IZelDF_IEx*, void* const*);

struct TabelaInvocadores {
  Invocador a[kSlots] = {};
  TabelaInvocadores() {
#define ZEL_INVOCADOR(slot, nome) a[slot] = &Invoca<&IZelDF_IEx::nome>;
    ZEL_SLOTS_IZELDF_IEX(ZEL_INVOCADOR)
#undef ZEL_INVOCADOR
  }
};

HRESULT InvocaSlot(void* pInterface, uint16_t usSlot, void* const* ap) {
  static const TabelaInvocadores tabela;
  if (usSlot >= kSlots || tabela.a[usSlot] == nullptr) return RPC_X_BAD_STUB_DATA;
  return tabela.a[usSlot](static_cast<IZelDF_IEx*>(pInterface), ap);
}

// ---- Client: the proxy ----

const ZelLocalMetodo* const* MetodosPorSlot();

class CProxyIZelDF_IEx final : public T_ZelObjetoCom<IZelDF_IEx, IID_IZelDF_IEx> {
 public:
  explicit CProxyIZelDF_IEx(std::shared_ptr<CZelLocalCanalCliente> canal) : m_canal(std::move(canal)) {}

  // The last release deletes the proxy and so closes the connection, which
  // releases the server's object.

  HRESULT Inicializa_Padrao(_REG_DF_INICIALIZAPS regps) override { return Chama(4, regps); }
  HRESULT KeepAlive(I4* pbOK) override { return Chama(5, pbOK); }
  HRESULT GetUltimoErro(_REG_DF_ERROPS* pregErrops) override { return Chama(6, pregErrops); }
  HRESULT FuncaoGenerica(UI4 ulFuncao, _REG_CR_LISTA_BYTESPS regInps, _REG_CR_LISTA_BYTESPS** ppregOutps) override {
    return Chama(7, ulFuncao, regInps, ppregOutps);
  }
  HRESULT AlteracaoMultiplaCadastro(UI4 ulQuantidade, UI4* pulPonteiros, UI4 ulQuantidadeAlteracoes,
                                    _REG_CR_ALTERACAOPS* pregps) override {
    return Chama(8, ulQuantidade, pulPonteiros, ulQuantidadeAlteracoes, pregps);
  }
  HRESULT AlteracaoMultiplaMovimento(UI4 ulQuantidade, UI8* pregPonteiros, UI4 ulQuantidadeAlteracoes,
                                     _REG_CR_ALTERACAOPS* pregps) override {
    return Chama(9, ulQuantidade, pregPonteiros, ulQuantidadeAlteracoes, pregps);
  }
  HRESULT CadastroTeveMovimentacao(UI4 eTipoCadastro, UI4 ulPonteiroCadastro, I4* pbTeveMovimentacao) override {
    return Chama(10, eTipoCadastro, ulPonteiroCadastro, pbTeveMovimentacao);
  }
  HRESULT LeIEHeader(UINT qtd, UI4* pPos, IE_HDR_PS* pTipDoc, UI4 dwFlags) override {
    return Chama(11, qtd, pPos, pTipDoc, dwFlags);
  }
  HRESULT GravaIEHeader(UI4* pPos, IE_HDR_PS ps) override { return Chama(12, pPos, ps); }
  HRESULT BuscaPtrsIEHeader(IE_HEADER_FILTRO_PS filtro, IE_ARRAY_PONTEIROS_PS* pRegPtrs) override {
    return Chama(13, filtro, pRegPtrs);
  }
  HRESULT ExisteVinculo(UI4 lPosHeader) override { return Chama(14, lPosHeader); }
  HRESULT GravaCamposVinculo(IE_VINCULO_PS vinculo) override { return Chama(15, vinculo); }
  HRESULT BuscaVinculosByOrigem(UI4 lPosHeader, UINT qtd, UI4* pChaves, IE_VINCULO_PS* pVinculos) override {
    return Chama(16, lPosHeader, qtd, pChaves, pVinculos);
  }
  HRESULT NotificaExclusaoOrigem(IE_ORIGEM_VINCULO_PS origem) override { return Chama(17, origem); }
  HRESULT LeCabecalhoIntegracao(UI4 ulPosicao, _REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho) override {
    return Chama(18, ulPosicao, pRegCabecalho);
  }
  HRESULT GravaCabecalhoIntegracao(UI4 ulPosicaoIn, _REG_IE_CABECALHO_INTEGRACAO_PS reg, UI4* pulPosicaoOut) override {
    return Chama(19, ulPosicaoIn, reg, pulPosicaoOut);
  }
  HRESULT GetPonteirosCabecalhoIntegracaoVoviDadi(IE_ARRAY_PONTEIROS_PS* pregPonteiros) override {
    return Chama(20, pregPonteiros);
  }
  HRESULT GetListaCabecalhosIntegracao(IE_ARRAY_PONTEIROS_PS* pregPonteiros,
                                       _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS* pRegLista) override {
    return Chama(21, pregPonteiros, pRegLista);
  }
  HRESULT ExisteCabecalhoIntegracao(IE_HEADER_FILTRO_PS regHeaderOrigem, IE_HEADER_FILTRO_PS regHeaderDestino,
                                    _REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho) override {
    return Chama(22, regHeaderOrigem, regHeaderDestino, pRegCabecalho);
  }
  HRESULT LeVinculosCabecalhoIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho,
                                        _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pRegLista) override {
    return Chama(23, pRegCabecalho, pRegLista);
  }
  HRESULT GravaVinculosCabecalhosIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho,
                                            _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pRegLista) override {
    return Chama(24, pRegCabecalho, pRegLista);
  }
  HRESULT GetVinculoByIntegracao(IE_HEADER_FILTRO_PS headerOrigem, UI4 ulPosRegistroOrigem,
                                 IE_HEADER_FILTRO_PS headerDestino, IE_VINCULO_PS* pVinculo) override {
    return Chama(25, headerOrigem, ulPosRegistroOrigem, headerDestino, pVinculo);
  }
  HRESULT GetProcessoJaCadastradoNaIntegracao(IE_HEADER_FILTRO_PS header, I4* bProcessoJaCadastrado) override {
    return Chama(26, header, bProcessoJaCadastrado);
  }
  HRESULT ExcluiIntegracoesQueUsamEsteProcesso(IE_HEADER_FILTRO_PS header) override { return Chama(27, header); }

 private:
  ~CProxyIZelDF_IEx() = default;

  // Every method is this one line: the description does the marshalling.
  template <class... A>
  HRESULT Chama(uint16_t usSlot, A&... args) {
    void* ap[] = {static_cast<void*>(&args)...};
    return m_canal->Chama(*MetodosPorSlot()[usSlot], ap);
  }

  std::shared_ptr<CZelLocalCanalCliente> m_canal;
};

IUnknown* CriaProxy(std::shared_ptr<CZelLocalCanalCliente> canal) {
  return static_cast<IZelDF_IEx*>(new CProxyIZelDF_IEx(std::move(canal)));
}

const ZelLocalInterface& Descricao() {
  static const ZelLocalInterface d{IID_IZelDF_IEx, "IZelDF_IEx", Metodos(), &InvocaSlot, &CriaProxy};
  return d;
}

const ZelLocalMetodo* const* MetodosPorSlot() {
  static const auto tabela = [] {
    std::vector<const ZelLocalMetodo*> v(kSlots, nullptr);
    for (const auto& m : Descricao().metodos) v[m.usSlot] = &m;
    return v;
  }();
  return tabela.data();
}

struct Registrador {
  Registrador() { ZelClienteRegistraInterfaces(); }
} const g_registrador;

}  // namespace

// Named by the library's link options so that every program linking it keeps
// this object, and with it the registration above.
extern "C" {
int zel_cliente_iex_vinculado = 1;
}

const ZelLocalInterface& ZelDescricaoIZelDF_IEx() { return Descricao(); }

void ZelClienteRegistraInterfaces() { ZelLocalRegistraInterface(&Descricao()); }

std::vector<std::pair<size_t, bool>> ZelAssinaturaIZelDF_IEx(uint16_t usSlot) {
  switch (usSlot) {
#define ZEL_ASSINATURA(slot, nome) \
  case slot: return AssinaturaDe(&IZelDF_IEx::nome);
    ZEL_SLOTS_IZELDF_IEX(ZEL_ASSINATURA)
#undef ZEL_ASSINATURA
    default: return {};
  }
}
