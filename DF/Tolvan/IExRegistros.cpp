#include "IExRegistros.h"

#include <cstring>

namespace {
constexpr const char* kNomesBase[kProcessosComArquivo - 1] = {
    "FNIEXCRE",           "FNIEXCPA",          "FNIEXTES",           "FPIEXFUNC",
    "FPIEXSIND",          "FPIEXEVT",          "FPIEXTERCALIM",      "FPIEXTERCCONTRIB",
    "FPIEXTERCSAUDE",     "FPIEXTERCSEG",      "FPIEXTERCTRA",       "GEIEXATTEC",
    "GEIEXPROTCSAIDA",    "GEIEXPROTCENTRADA", "GEIEXCONTRATOS",     "PPIEXFICHATECNICA",
    "PPIEXNECESSPRODUCAO", "PPIEXORDEMPRODUCAO", "MMIEXGESTAO",       "ESIEXCADASTROLOCAL",
    "ESIEXMOVIMENTOS",    "CMIEXSC",           "CMIEXCP",            "CMIEXOC",
    "CMIEXRE",            "CMIEXCT",           "FTIEXORC",           "FTIEXPED",
    "FTIEXROM",           "FTIEXNF",           "FPIEXTRANSF",        "FPIEXPAGAMENTOS",
    "DFIEXRI",            "FTIEXAGV",          "DFIEXCADPRO",        "DFIEXCADSERV",
    "CMIEXCC",            "MMIEXPLANO",        "DFIEXRECURSO",       "DFIEXEFCONTPAGENT",
    "DFIEXEFCONTPAGTOM",  "DFIEXEFCONTRECSAI", "DFIEXEFCONTRECPRES", "PPIEXAPONTINTERMED",
    "PPIEXAPONTFINAL",    "PPIEXAPONTPERDAS",  "PPIEXAPONTRECURSO",  "DFIEXCADFOR",
    "DFIEXCADCLI",        "DFIEXCADTRA",       "DFIEXCADREP",        "GEIEXACOMPSEV",
    "NFIEXAERNF",         "NFIEXAERCT",        "GEIEXAGRUPREG",      "PPIEXDESENVPROD",
    "PPIEXENSAIOPROD",    "DFIEXEFSAIDAS",     "DFIEXEFENTRADAS",    "DFIEXEFTOMADOS",
    "DFIEXEFPRESTADOS",   "FPIEXCARGOS",       "DFIEXEFITENOTENT",   "DFIEXEFITENOTSAI",
    "DFIEXEFITENOTPRES",  "DFIEXEFITENOTTOM",  "GEIEXCONTRATOSERVICO", "FTIEXCTR",
};

// Copies a text into a fixed array, cut to nMax characters and terminated.
template <size_t N>
void CopiaTexto(char (&szDestino)[N], const char* szOrigem, size_t nMax) {
  size_t n = strnlen(szOrigem, nMax);
  std::memcpy(szDestino, szOrigem, n);
  szDestino[n] = '\0';
}

UI1 FlagParaByte(UI1 cFlags, UI1 cBit) { return (cFlags & cBit) != 0 ? 255 : 0; }
UI1 ByteParaFlag(UI1 c, UI1 cBit) { return (c & 1) != 0 ? cBit : 0; }
}  // namespace

const char* IEGetNomeBaseProcesso(int eProcesso) {
  if (eProcesso < 0 || eProcesso >= kProcessosComArquivo - 1) return "";
  return kNomesBase[eProcesso];
}

void IEConverte(const IE_HDR_ARQ_V0& arq, IE_HDR_PS* pPS) {
  std::memset(pPS, 0, sizeof *pPS);
  pPS->dwFlags = arq.dwFlags;
  pPS->eProcesso = static_cast<IE_E_PROCESSO>(arq.eProcesso);
  pPS->nQtdCampos = arq.nQtdCampos;
}

void IEConverte(const IE_HDR_PS& ps, IE_HDR_ARQ_V0* pArq) {
  std::memset(pArq, 0, sizeof *pArq);
  pArq->dwFlags = ps.dwFlags;
  pArq->eProcesso = static_cast<UI4>(ps.eProcesso);
  pArq->nQtdCampos = ps.nQtdCampos;
}

void IEConverte(const IE_CAMPO_ARQ_V2& arq, IE_CAMPO_PS* pPS) {
  std::memset(pPS, 0, sizeof *pPS);
  pPS->dwFlags = arq.dwFlags;
  pPS->lPtrExtra = arq.lPtrExtra;
  pPS->id = static_cast<IE_E_CAMPO>(arq.id);
  pPS->iQtdUsuarios = arq.iQtdUsuarios;
  CopiaTexto(pPS->szNome, arq.szNome, 50);
}

void IEConverte(const IE_CAMPO_PS& ps, IE_CAMPO_ARQ_V2* pArq) {
  std::memset(pArq, 0, sizeof *pArq);
  pArq->dwFlags = ps.dwFlags;
  pArq->lPtrExtra = ps.lPtrExtra;
  pArq->id = ps.id;
  pArq->iQtdUsuarios = ps.iQtdUsuarios;
  CopiaTexto(pArq->szNome, ps.szNome, 50);
}

void IEConverte(const IE_CAMPO_DATA_ARQ_V2& arq, IE_CAMPO_DATA_PS* pPS) {
  std::memset(pPS, 0, sizeof *pPS);
  std::memcpy(pPS->BinaryData, arq.BinaryData, sizeof arq.BinaryData);
  pPS->id = static_cast<IE_E_CAMPO>(arq.id);
}

void IEConverte(const IE_CAMPO_DATA_PS& ps, IE_CAMPO_DATA_ARQ_V2* pArq) {
  std::memset(pArq, 0, sizeof *pArq);
  std::memcpy(pArq->BinaryData, ps.BinaryData, sizeof ps.BinaryData);
  pArq->id = ps.id;
}

void IEConverte(const IE_VINCULO_ARQ_V0& arq, IE_VINCULO_PS* pPS) {
  std::memset(pPS, 0, sizeof *pPS);
  pPS->origem.lPosHeader = arq.lPosHeader;
  pPS->origem.lChave = arq.lChave;
  pPS->nQtdCampos = arq.nQtdCampos;
}

void IEConverte(const _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0& arq, _REG_IE_CABECALHO_INTEGRACAO_PS* pPS) {
  std::memset(pPS, 0, sizeof *pPS);
  pPS->eProcessoOrigem = static_cast<IE_E_PROCESSO>(arq.eProcessoOrigem);
  pPS->eProcessoDestino = static_cast<IE_E_PROCESSO>(arq.eProcessoDestino);
  pPS->ulPonteiroPrimeiroVinculoIntegracao = arq.ulPonteiroPrimeiroVinculoIntegracao;
  pPS->ulQtdVinculosIntegracoes = arq.ulQtdVinculosIntegracoes;
  pPS->cExcluido = FlagParaByte(arq.cFlags, kBitExcluidoIntegracao);
  pPS->cInativo = FlagParaByte(arq.cFlags, kBitInativoIntegracao);
}

void IEConverte(const _REG_IE_CABECALHO_INTEGRACAO_PS& ps, _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0* pArq) {
  std::memset(pArq, 0, sizeof *pArq);
  pArq->eProcessoOrigem = static_cast<UI4>(ps.eProcessoOrigem);
  pArq->eProcessoDestino = static_cast<UI4>(ps.eProcessoDestino);
  pArq->ulPonteiroPrimeiroVinculoIntegracao = ps.ulPonteiroPrimeiroVinculoIntegracao;
  pArq->ulQtdVinculosIntegracoes = ps.ulQtdVinculosIntegracoes;
  pArq->cFlags = ByteParaFlag(ps.cExcluido, kBitExcluidoIntegracao) | ByteParaFlag(ps.cInativo, kBitInativoIntegracao);
}

void IEConverte(const _REG_IE_VINCULO_INTEGRACAO_ARQ_V0& arq, _REG_IE_VINCULO_INTEGRACAO_PS* pPS) {
  std::memset(pPS, 0, sizeof *pPS);
  pPS->ulPosicaoCabecalhoIntegracao = arq.ulPosicaoCabecalhoIntegracao;
  pPS->ulPosicaoCampoOrigem = arq.ulPosicaoCampoOrigem;
  pPS->ulPosicaoCampoDestino = arq.ulPosicaoCampoDestino;
  pPS->cExcluido = FlagParaByte(arq.cFlags, kBitExcluidoIntegracao);
  pPS->cInativo = FlagParaByte(arq.cFlags, kBitInativoIntegracao);
}

void IEConverte(const _REG_IE_VINCULO_INTEGRACAO_PS& ps, _REG_IE_VINCULO_INTEGRACAO_ARQ_V0* pArq) {
  std::memset(pArq, 0, sizeof *pArq);
  pArq->ulPosicaoCabecalhoIntegracao = ps.ulPosicaoCabecalhoIntegracao;
  pArq->ulPosicaoCampoOrigem = ps.ulPosicaoCampoOrigem;
  pArq->ulPosicaoCampoDestino = ps.ulPosicaoCampoDestino;
  pArq->cFlags = ByteParaFlag(ps.cExcluido, kBitExcluidoIntegracao) | ByteParaFlag(ps.cInativo, kBitInativoIntegracao);
}
