// The contract with clients: identities, the two interfaces in slot order and
// every record and enumeration that crosses them. Layouts are exact.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ZelCom.h"

// Type library TOLVANLib 1.0, locale 0x409.
inline constexpr GUID LIBID_TOLVANLib = {0xCDE3E167, 0x129C, 0x4B65, {0x85, 0xE0, 0x86, 0x43, 0xD1, 0xB7, 0x09, 0xB6}};
inline constexpr CLSID CLSID_ZelDF_IEx = {0xAEDCC5AC, 0xC54A, 0x410A, {0xAC, 0x6D, 0xB6, 0xB7, 0xB7, 0xBA, 0xFD, 0x6A}};
inline constexpr IID IID_IZelUnknown = {0x1756CF8E, 0xB27F, 0x48A2, {0xA3, 0x62, 0x64, 0xC6, 0x17, 0xF9, 0xDC, 0x50}};
inline constexpr IID IID_IZelDF_IEx = {0x452C8CB4, 0x1ECC, 0x4AD8, {0x89, 0xCE, 0x22, 0x99, 0xA7, 0x70, 0x51, 0xDB}};

using UI1 = uint8_t;
using UI2 = uint16_t;
using I2 = int16_t;
using UI4 = uint32_t;
using I4 = int32_t;
using UI8 = uint64_t;

// ---- Base interface records ----

struct _REG_DF_INICIALIZAPS {
  UI4 ulUsuario;
  UI4 ulNumeroSessao;
  UI4 ulLinhaFonte;
  UI4 ulFiller;
  UI2 usVersaoMorvo;
  UI2 usFiller[3];
  char szEmpresa[48];
  char szAplicativo[48];
  char szModuleName[48];
  char szArquivoFonte[64];
  char szNomeUsuarioDominio[32];
  char cControle;
  UI1 cWTS;
  char szFiller[22];
  UI8 uiCRC;
};
static_assert(sizeof(_REG_DF_INICIALIZAPS) == 296);
static_assert(offsetof(_REG_DF_INICIALIZAPS, ulUsuario) == 0);
static_assert(offsetof(_REG_DF_INICIALIZAPS, ulNumeroSessao) == 4);
static_assert(offsetof(_REG_DF_INICIALIZAPS, ulLinhaFonte) == 8);
static_assert(offsetof(_REG_DF_INICIALIZAPS, ulFiller) == 12);
static_assert(offsetof(_REG_DF_INICIALIZAPS, usFiller) == 18);
static_assert(offsetof(_REG_DF_INICIALIZAPS, usVersaoMorvo) == 16);
static_assert(offsetof(_REG_DF_INICIALIZAPS, szEmpresa) == 24);
static_assert(offsetof(_REG_DF_INICIALIZAPS, szAplicativo) == 72);
static_assert(offsetof(_REG_DF_INICIALIZAPS, szModuleName) == 120);
static_assert(offsetof(_REG_DF_INICIALIZAPS, szArquivoFonte) == 168);
static_assert(offsetof(_REG_DF_INICIALIZAPS, szNomeUsuarioDominio) == 232);
static_assert(offsetof(_REG_DF_INICIALIZAPS, cControle) == 264);
static_assert(offsetof(_REG_DF_INICIALIZAPS, cWTS) == 265);
static_assert(offsetof(_REG_DF_INICIALIZAPS, szFiller) == 266);
static_assert(offsetof(_REG_DF_INICIALIZAPS, uiCRC) == 288);

// The initialisation checksum covers every byte before uiCRC.
constexpr size_t kBytesCRCInicializacao = offsetof(_REG_DF_INICIALIZAPS, uiCRC);
constexpr UI2 kVersaoMorvo = 138;

struct _REG_DF_ERROPS {
  HRESULT hr;
  I4 nCodigoErro;
  I4 lCodigoMensagem;
  I4 iRegistro;
  I4 iItem;
  I4 lCodigoCampo;
  UI2 nModuloMensagem;
  I2 nTipoErro;
  UI2 usNumeroServidor;
  char cMensagem[302];
  char szEmpresa[48];
  char cFiller[100];
};
static_assert(sizeof(_REG_DF_ERROPS) == 480);
static_assert(offsetof(_REG_DF_ERROPS, hr) == 0);
static_assert(offsetof(_REG_DF_ERROPS, nCodigoErro) == 4);
static_assert(offsetof(_REG_DF_ERROPS, lCodigoMensagem) == 8);
static_assert(offsetof(_REG_DF_ERROPS, iRegistro) == 12);
static_assert(offsetof(_REG_DF_ERROPS, iItem) == 16);
static_assert(offsetof(_REG_DF_ERROPS, lCodigoCampo) == 20);
static_assert(offsetof(_REG_DF_ERROPS, nModuloMensagem) == 24);
static_assert(offsetof(_REG_DF_ERROPS, nTipoErro) == 26);
static_assert(offsetof(_REG_DF_ERROPS, usNumeroServidor) == 28);
static_assert(offsetof(_REG_DF_ERROPS, cMensagem) == 30);
static_assert(offsetof(_REG_DF_ERROPS, szEmpresa) == 332);
static_assert(offsetof(_REG_DF_ERROPS, cFiller) == 380);

struct _REG_CR_LISTA_BYTESPS {
  UI4 ulQtdBytes;
  char cFiller[4];
  UI1* pListaBytes;
  void* pFiller;
};
static_assert(sizeof(_REG_CR_LISTA_BYTESPS) == 24);
static_assert(offsetof(_REG_CR_LISTA_BYTESPS, ulQtdBytes) == 0);
static_assert(offsetof(_REG_CR_LISTA_BYTESPS, cFiller) == 4);
static_assert(offsetof(_REG_CR_LISTA_BYTESPS, pListaBytes) == 8);
static_assert(offsetof(_REG_CR_LISTA_BYTESPS, pFiller) == 16);

struct _REG_CR_ALTERACAOPS {
  _REG_CR_LISTA_BYTESPS regDados;
  UI4 ulTipoAlteracao;
  UI4 ulFiller;
};
static_assert(sizeof(_REG_CR_ALTERACAOPS) == 32);
static_assert(offsetof(_REG_CR_ALTERACAOPS, regDados) == 0);
static_assert(offsetof(_REG_CR_ALTERACAOPS, ulTipoAlteracao) == 24);
static_assert(offsetof(_REG_CR_ALTERACAOPS, ulFiller) == 28);

// ---- Enumerations ----

// The business processes, values 0 to 68 in this order.
#define ZEL_IE_PROCESSOS(X)                                                                                         \
  X(FN_CRE) X(FN_CPA) X(FN_TES) X(FP_FUNC) X(FP_SIND) X(FP_EVT) X(FP_TERC_ALIM) X(FP_TERC_CONTRIB) X(FP_TERC_SAUDE) \
  X(FP_TERC_SEG) X(FP_TERC_TRA) X(GE_ATTEC) X(GE_PROTC_SAIDA) X(GE_PROTC_ENTRADA) X(GE_CONTRATOS)                  \
  X(PP_FICHA_TECNICA) X(PP_NECESSIDADE_PRODUCAO) X(PP_ORDEM_PRODUCAO) X(MM_GESTAO) X(ES_CADASTRO_LOCAL)             \
  X(ES_MOVIMENTOS) X(CM_SC) X(CM_CP) X(CM_OC) X(CM_RE) X(CM_CT) X(FT_ORC) X(FT_PED) X(FT_ROM) X(FT_NF)              \
  X(FP_TRANSF) X(FP_PAGAMENTOS) X(DF_RI) X(FT_AGV) X(DF_CAD_PRO) X(DF_CAD_SERV) X(CM_CC) X(MM_PLANO) X(DF_RECURSO)  \
  X(EF_CONTAS_PAGAR_ENTRADAS) X(EF_CONTAS_PAGAR_TOMADOS) X(EF_CONTAS_RECEBER_SAIDAS)                                \
  X(EF_CONTAS_RECEBER_PRESTADOS) X(PP_APONTAMENTO_INTERMEDIARIO) X(PP_APONTAMENTO_FINAL)                            \
  X(PP_APONTAMENTO_PERDAS_DEFEITOS) X(PP_APONTAMENTO_RECURSO) X(DF_CAD_FOR) X(DF_CAD_CLI) X(DF_CAD_TRA)             \
  X(DF_CAD_REP) X(GE_ACOMP_SEV) X(NF_AER_NF) X(NF_AER_CT) X(GE_AGRUPAR_REGISTROS) X(PP_DESENV_PRODUTO)              \
  X(PP_ENSAIO_PRODUTO) X(EF_SAIDAS) X(EF_ENTRADAS) X(EF_TOMADOS) X(EF_PRESTADOS) X(FP_CARGOS)                       \
  X(EF_ITENS_NOTA_ENTRADAS) X(EF_ITENS_NOTA_SAIDAS) X(EF_ITENS_NOTA_PRESTADOS) X(EF_ITENS_NOTA_TOMADOS)             \
  X(GE_CONTRATOS_SERVICOS) X(FT_CONTRATO_VENDA) X(NF_AER_NFS)

#define ZEL_IE_PROCESSO_ENUMERADOR(nome) IE_PROCESSO_##nome,
enum IE_E_PROCESSO : int32_t { ZEL_IE_PROCESSOS(ZEL_IE_PROCESSO_ENUMERADOR) IE_PROCESSO_COUNT };
#undef ZEL_IE_PROCESSO_ENUMERADOR
static_assert(sizeof(IE_E_PROCESSO) == 4);
static_assert(IE_PROCESSO_FP_TERC_TRA == 10 && IE_PROCESSO_ES_MOVIMENTOS == 20 && IE_PROCESSO_FP_TRANSF == 30);
static_assert(IE_PROCESSO_EF_CONTAS_PAGAR_TOMADOS == 40 && IE_PROCESSO_DF_CAD_REP == 50);
static_assert(IE_PROCESSO_EF_PRESTADOS == 60 && IE_PROCESSO_NF_AER_NFS == 68 && IE_PROCESSO_COUNT == 69);

// Field identities: each named member opens a range of 50 of one kind.
enum IE_E_CAMPO : int32_t {
  IE_CAMPO_LIVRE_DMA_0 = 0,
  IE_CAMPO_LIVRE_MA_0 = 50,
  IE_CAMPO_LIVRE_TEXTO_0 = 100,
  IE_CAMPO_LIVRE_V0_0 = 150,
  IE_CAMPO_LIVRE_V2_0 = 200,
  IE_CAMPO_LIVRE_V4_0 = 250,
  IE_CAMPO_LIVRE_V8_0 = 300,
  IE_CAMPO_INF_COMPL_COD = 350,
  IE_CAMPO_HORA = 400,
  IE_CAMPO_CHECK_BOX = 450,
  IE_CAMPO_COUNT = 500
};
static_assert(sizeof(IE_E_CAMPO) == 4);
constexpr int32_t kTamanhoFaixaCampo = 50;

// ---- Vovi Dadi records ----

struct IE_CAMPO_PS {
  UI4 dwFlags;
  UI4 lPtrExtra;
  IE_E_CAMPO id;
  char szNome[51];
  char cFiller[1];
  UI2 iQtdUsuarios;
  UI2 iFiller[3];
  UI2* pUsuarios;
  void* pFiller;
};
static_assert(sizeof(IE_CAMPO_PS) == 88);
static_assert(offsetof(IE_CAMPO_PS, dwFlags) == 0);
static_assert(offsetof(IE_CAMPO_PS, lPtrExtra) == 4);
static_assert(offsetof(IE_CAMPO_PS, id) == 8);
static_assert(offsetof(IE_CAMPO_PS, szNome) == 12);
static_assert(offsetof(IE_CAMPO_PS, cFiller) == 63);
static_assert(offsetof(IE_CAMPO_PS, iQtdUsuarios) == 64);
static_assert(offsetof(IE_CAMPO_PS, iFiller) == 66);
static_assert(offsetof(IE_CAMPO_PS, pUsuarios) == 72);
static_assert(offsetof(IE_CAMPO_PS, pFiller) == 80);

struct IE_HDR_PS {
  UI4 dwFlags;
  IE_E_PROCESSO eProcesso;
  UINT nQtdCampos;
  char cFiller[4];
  IE_CAMPO_PS* pCampos;
  void* pFiller;
};
static_assert(sizeof(IE_HDR_PS) == 32);
static_assert(offsetof(IE_HDR_PS, dwFlags) == 0);
static_assert(offsetof(IE_HDR_PS, cFiller) == 12);
static_assert(offsetof(IE_HDR_PS, eProcesso) == 4);
static_assert(offsetof(IE_HDR_PS, nQtdCampos) == 8);
static_assert(offsetof(IE_HDR_PS, pCampos) == 16);
static_assert(offsetof(IE_HDR_PS, pFiller) == 24);

struct IE_HEADER_FILTRO_PS {
  UI4 dwFlags;
  IE_E_PROCESSO eProc;
  UI4 ulPonteiro;
  char cFiller[4];
};
static_assert(sizeof(IE_HEADER_FILTRO_PS) == 16);
static_assert(offsetof(IE_HEADER_FILTRO_PS, dwFlags) == 0);
static_assert(offsetof(IE_HEADER_FILTRO_PS, cFiller) == 12);
static_assert(offsetof(IE_HEADER_FILTRO_PS, eProc) == 4);
static_assert(offsetof(IE_HEADER_FILTRO_PS, ulPonteiro) == 8);

struct IE_ARRAY_PONTEIROS_PS {
  UINT qtd;
  char cFiller[4];
  UI4* pPtrs;
  void* pFiller;
};
static_assert(sizeof(IE_ARRAY_PONTEIROS_PS) == 24);
static_assert(offsetof(IE_ARRAY_PONTEIROS_PS, qtd) == 0);
static_assert(offsetof(IE_ARRAY_PONTEIROS_PS, cFiller) == 4);
static_assert(offsetof(IE_ARRAY_PONTEIROS_PS, pPtrs) == 8);
static_assert(offsetof(IE_ARRAY_PONTEIROS_PS, pFiller) == 16);

struct IE_ORIGEM_VINCULO_PS {
  UI4 lPosHeader;
  UI4 lChave;
};
static_assert(sizeof(IE_ORIGEM_VINCULO_PS) == 8);
static_assert(offsetof(IE_ORIGEM_VINCULO_PS, lPosHeader) == 0);
static_assert(offsetof(IE_ORIGEM_VINCULO_PS, lChave) == 4);

struct IE_CAMPO_DATA_PS {
  UI1 BinaryData[8];
  char cFiller[8];
  IE_E_CAMPO id;
  UI4 ulTamanhoTexto;
  char* pcTexto;
  void* pFiller;
};
static_assert(sizeof(IE_CAMPO_DATA_PS) == 40);
static_assert(offsetof(IE_CAMPO_DATA_PS, BinaryData) == 0);
static_assert(offsetof(IE_CAMPO_DATA_PS, cFiller) == 8);
static_assert(offsetof(IE_CAMPO_DATA_PS, id) == 16);
static_assert(offsetof(IE_CAMPO_DATA_PS, ulTamanhoTexto) == 20);
static_assert(offsetof(IE_CAMPO_DATA_PS, pcTexto) == 24);
static_assert(offsetof(IE_CAMPO_DATA_PS, pFiller) == 32);

struct IE_VINCULO_PS {
  IE_ORIGEM_VINCULO_PS origem;
  UINT nQtdCampos;
  char cFiller[4];
  IE_CAMPO_DATA_PS* pCampos;
  void* pFiller;
};
static_assert(sizeof(IE_VINCULO_PS) == 32);
static_assert(offsetof(IE_VINCULO_PS, origem) == 0);
static_assert(offsetof(IE_VINCULO_PS, cFiller) == 12);
static_assert(offsetof(IE_VINCULO_PS, nQtdCampos) == 8);
static_assert(offsetof(IE_VINCULO_PS, pCampos) == 16);
static_assert(offsetof(IE_VINCULO_PS, pFiller) == 24);

struct _REG_IE_CABECALHO_INTEGRACAO_PS {
  UI4 ulPonteiroPrimeiroVinculoIntegracao;
  UI4 ulQtdVinculosIntegracoes;
  IE_E_PROCESSO eProcessoOrigem;
  IE_E_PROCESSO eProcessoDestino;
  UI1 cExcluido;  // 255 when set, as a client reads it
  UI1 cInativo;
  char cFiller[62];
};
static_assert(sizeof(_REG_IE_CABECALHO_INTEGRACAO_PS) == 80);
static_assert(offsetof(_REG_IE_CABECALHO_INTEGRACAO_PS, ulPonteiroPrimeiroVinculoIntegracao) == 0);
static_assert(offsetof(_REG_IE_CABECALHO_INTEGRACAO_PS, ulQtdVinculosIntegracoes) == 4);
static_assert(offsetof(_REG_IE_CABECALHO_INTEGRACAO_PS, eProcessoOrigem) == 8);
static_assert(offsetof(_REG_IE_CABECALHO_INTEGRACAO_PS, eProcessoDestino) == 12);
static_assert(offsetof(_REG_IE_CABECALHO_INTEGRACAO_PS, cExcluido) == 16);
static_assert(offsetof(_REG_IE_CABECALHO_INTEGRACAO_PS, cInativo) == 17);
static_assert(offsetof(_REG_IE_CABECALHO_INTEGRACAO_PS, cFiller) == 18);

struct _REG_IE_VINCULO_INTEGRACAO_PS {
  UI4 ulPosicaoCabecalhoIntegracao;
  UI4 ulPosicaoCampoOrigem;
  UI4 ulPosicaoCampoDestino;
  UI1 cExcluido;
  UI1 cInativo;
  char cFiller[66];
};
static_assert(sizeof(_REG_IE_VINCULO_INTEGRACAO_PS) == 80);
static_assert(offsetof(_REG_IE_VINCULO_INTEGRACAO_PS, ulPosicaoCabecalhoIntegracao) == 0);
static_assert(offsetof(_REG_IE_VINCULO_INTEGRACAO_PS, ulPosicaoCampoOrigem) == 4);
static_assert(offsetof(_REG_IE_VINCULO_INTEGRACAO_PS, ulPosicaoCampoDestino) == 8);
static_assert(offsetof(_REG_IE_VINCULO_INTEGRACAO_PS, cExcluido) == 12);
static_assert(offsetof(_REG_IE_VINCULO_INTEGRACAO_PS, cInativo) == 13);
static_assert(offsetof(_REG_IE_VINCULO_INTEGRACAO_PS, cFiller) == 14);

struct _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS {
  UI4 ulQtd;
  char cFiller[4];
  _REG_IE_CABECALHO_INTEGRACAO_PS* pRegListaCabecalhos;
  void* pFiller;
};
static_assert(sizeof(_REG_LISTA_IE_CABECALHO_INTEGRACAO_PS) == 24);
static_assert(offsetof(_REG_LISTA_IE_CABECALHO_INTEGRACAO_PS, ulQtd) == 0);
static_assert(offsetof(_REG_LISTA_IE_CABECALHO_INTEGRACAO_PS, cFiller) == 4);
static_assert(offsetof(_REG_LISTA_IE_CABECALHO_INTEGRACAO_PS, pRegListaCabecalhos) == 8);
static_assert(offsetof(_REG_LISTA_IE_CABECALHO_INTEGRACAO_PS, pFiller) == 16);

struct _REG_LISTA_IE_VINCULO_INTEGRACAO_PS {
  UI4 ulQtd;
  char cFiller[4];
  _REG_IE_VINCULO_INTEGRACAO_PS* pRegListaVinculos;
  void* pFiller;
};
static_assert(sizeof(_REG_LISTA_IE_VINCULO_INTEGRACAO_PS) == 24);
static_assert(offsetof(_REG_LISTA_IE_VINCULO_INTEGRACAO_PS, ulQtd) == 0);
static_assert(offsetof(_REG_LISTA_IE_VINCULO_INTEGRACAO_PS, cFiller) == 4);
static_assert(offsetof(_REG_LISTA_IE_VINCULO_INTEGRACAO_PS, pRegListaVinculos) == 8);
static_assert(offsetof(_REG_LISTA_IE_VINCULO_INTEGRACAO_PS, pFiller) == 16);

// ---- Interfaces (slot order is the contract) ----

struct IZelUnknown : IUnknown {
  virtual HRESULT Inicializa_Padrao(_REG_DF_INICIALIZAPS regps) = 0;
  virtual HRESULT KeepAlive(I4* pbOK) = 0;
  virtual HRESULT GetUltimoErro(_REG_DF_ERROPS* pregErrops) = 0;
  virtual HRESULT FuncaoGenerica(UI4 ulFuncao, _REG_CR_LISTA_BYTESPS regInps, _REG_CR_LISTA_BYTESPS** ppregOutps) = 0;
  virtual HRESULT AlteracaoMultiplaCadastro(UI4 ulQuantidade, UI4* pulPonteiros, UI4 ulQuantidadeAlteracoes,
                                            _REG_CR_ALTERACAOPS* pregps) = 0;
  virtual HRESULT AlteracaoMultiplaMovimento(UI4 ulQuantidade, UI8* pregPonteiros, UI4 ulQuantidadeAlteracoes,
                                             _REG_CR_ALTERACAOPS* pregps) = 0;
  virtual HRESULT CadastroTeveMovimentacao(UI4 eTipoCadastro, UI4 ulPonteiroCadastro, I4* pbTeveMovimentacao) = 0;

 protected:
  ~IZelUnknown() = default;
};

struct IZelDF_IEx : IZelUnknown {
  virtual HRESULT LeIEHeader(UINT qtd, UI4* pPos, IE_HDR_PS* pTipDoc, UI4 dwFlags) = 0;
  virtual HRESULT GravaIEHeader(UI4* pPos, IE_HDR_PS ps) = 0;
  virtual HRESULT BuscaPtrsIEHeader(IE_HEADER_FILTRO_PS filtro, IE_ARRAY_PONTEIROS_PS* pRegPtrs) = 0;
  virtual HRESULT ExisteVinculo(UI4 lPosHeader) = 0;
  virtual HRESULT GravaCamposVinculo(IE_VINCULO_PS vinculo) = 0;
  virtual HRESULT BuscaVinculosByOrigem(UI4 lPosHeader, UINT qtd, UI4* pChaves, IE_VINCULO_PS* pVinculos) = 0;
  virtual HRESULT NotificaExclusaoOrigem(IE_ORIGEM_VINCULO_PS origem) = 0;
  virtual HRESULT LeCabecalhoIntegracao(UI4 ulPosicao, _REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho) = 0;
  virtual HRESULT GravaCabecalhoIntegracao(UI4 ulPosicaoIn, _REG_IE_CABECALHO_INTEGRACAO_PS reg,
                                           UI4* pulPosicaoOut) = 0;
  virtual HRESULT GetPonteirosCabecalhoIntegracaoVoviDadi(IE_ARRAY_PONTEIROS_PS* pregPonteiros) = 0;
  virtual HRESULT GetListaCabecalhosIntegracao(IE_ARRAY_PONTEIROS_PS* pregPonteiros,
                                               _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS* pRegLista) = 0;
  virtual HRESULT ExisteCabecalhoIntegracao(IE_HEADER_FILTRO_PS regHeaderOrigem, IE_HEADER_FILTRO_PS regHeaderDestino,
                                            _REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho) = 0;
  virtual HRESULT LeVinculosCabecalhoIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho,
                                                _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pRegLista) = 0;
  virtual HRESULT GravaVinculosCabecalhosIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho,
                                                    _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pRegLista) = 0;
  virtual HRESULT GetVinculoByIntegracao(IE_HEADER_FILTRO_PS headerOrigem, UI4 ulPosRegistroOrigem,
                                         IE_HEADER_FILTRO_PS headerDestino, IE_VINCULO_PS* pVinculo) = 0;
  virtual HRESULT GetProcessoJaCadastradoNaIntegracao(IE_HEADER_FILTRO_PS header, I4* bProcessoJaCadastrado) = 0;
  virtual HRESULT ExcluiIntegracoesQueUsamEsteProcesso(IE_HEADER_FILTRO_PS header) = 0;

 protected:
  ~IZelDF_IEx() = default;
};
