#include "IEArq.h"

#include <cstdint>
#include <cstring>

namespace {
void LeLugar(const IE_CAMPO_DATA_ARQ_V2& reg, ULONG* pulOffset, UI2* pusTamanho) {
  uint32_t ul = 0;
  uint16_t us = 0;
  std::memcpy(&ul, reg.BinaryData, 4);
  std::memcpy(&us, reg.BinaryData + 4, 2);
  *pulOffset = ul;
  *pusTamanho = us;
}

void GravaLugar(IE_CAMPO_DATA_ARQ_V2* pReg, ULONG ulOffset, UI2 usTamanho) {
  uint32_t ul = static_cast<uint32_t>(ulOffset);
  std::memcpy(pReg->BinaryData, &ul, 4);
  std::memcpy(pReg->BinaryData + 4, &usTamanho, 2);
}
}  // namespace

std::string CIEArqTDados<IE_CAMPO_DATA_ARQ_V2>::GetNomeArquivoDados(int eProcesso) const {
  return CZelPath::Junta(m_pBind->GetDiretorioDados(), std::string(IEGetNomeBaseProcesso(eProcesso)) + m_sExtensao);
}

std::string CIEArqTDados<IE_CAMPO_DATA_ARQ_V2>::GetNomeArquivoTexto(int eProcesso) const {
  // Built in a 50-byte buffer, as the suite's other programs do.
  char szNome[50] = {};
  std::snprintf(szNome, sizeof szNome, "%sText", IEGetNomeBaseProcesso(eProcesso));
  return CZelPath::Junta(m_pBind->GetDiretorioDados(), std::string(szNome) + m_sExtensao);
}

void CIEArqTDados<IE_CAMPO_DATA_ARQ_V2>::AdiantaRuns(const std::vector<std::pair<UI4, UINT>>& aRuns,
                                                      bool (*bTexto)(I4 id)) {
  constexpr int64_t kTamanho = sizeof(IE_CAMPO_DATA_ARQ_V2);
  std::vector<std::pair<int64_t, LONG>> aTrechos;
  for (const auto& [iPtr, nQtd] : aRuns)
    if (nQtd > 0 && nQtd <= kMaximoRun)
      aTrechos.emplace_back(int64_t{iPtr} * kTamanho, static_cast<LONG>(nQtd * kTamanho));
  m_Arq.AdiantaLeitura(std::move(aTrechos));
  std::vector<std::pair<int64_t, LONG>> aTextos;
  std::vector<IE_CAMPO_DATA_ARQ_V2> aRegs;
  uint64_t ullTextos = 0;
  for (const auto& [iPtr, nQtd] : aRuns) {
    if (ullTextos > CZelArqEx::kMaximoAdiantado) break;
    aRegs.resize(nQtd <= kMaximoRun ? nQtd : 0);
    if (aRegs.empty() || UI8{iPtr} + nQtd > static_cast<UI8>(INT32_MAX) ||
        !LeRun(static_cast<LONG>(iPtr), nQtd, aRegs.data()))
      continue;
    for (const IE_CAMPO_DATA_ARQ_V2& r : aRegs) {
      ULONG ulOffset = 0;
      UI2 usTamanho = 0;
      LeLugar(r, &ulOffset, &usTamanho);
      if (usTamanho == 0 || !bTexto(r.id)) continue;
      aTextos.emplace_back(ulOffset, usTamanho);
      ullTextos += usTamanho;
    }
  }
  m_ArqTexto.AdiantaLeitura(std::move(aTextos));
}

HRESULT CIEArqTDados<IE_CAMPO_DATA_ARQ_V2>::Abre(char cModo, int eProcesso, BOOL bCriaSeNaoExistir) {
  // A reading call picks runs and texts at random places.
  m_Arq.LePorVista(cModo == 'L');
  m_ArqTexto.LePorVista(cModo == 'L');
  int iRetorno =
      m_Arq.Abre(GetNomeArquivoDados(eProcesso), cModo, sizeof(IE_CAMPO_DATA_ARQ_V2), bCriaSeNaoExistir, FALSE);
  if (iRetorno != ZELARQ_OK) return IES_MAKE_HR(iRetorno);
  if (cModo == 'C') {
    const IE_CAMPO_DATA_ARQ_V2 zero{};
    iRetorno = m_Arq.GravaZero(&zero, sizeof zero);
    if (iRetorno != ZELARQ_OK) return IES_MAKE_HR(iRetorno);
  }
  iRetorno = m_ArqTexto.Abre(GetNomeArquivoTexto(eProcesso), cModo, 1, bCriaSeNaoExistir, FALSE);
  if (iRetorno != ZELARQ_OK) return IES_MAKE_HR(iRetorno);
  return S_OK;
}

int CIEArqTDados<IE_CAMPO_DATA_ARQ_V2>::LeTexto(const IE_CAMPO_DATA_ARQ_V2& reg, std::string* psTexto) {
  psTexto->clear();
  LeLugar(reg, &m_ulOffsetTexto, &m_usTamanhoTexto);
  if (m_ulOffsetTexto == 0 && m_usTamanhoTexto == 0) return ZELARQ_OK;
  // Read into the caller's string, whose room a caller reading many texts
  // keeps from one to the next; a failed read leaves it empty.
  psTexto->resize(m_usTamanhoTexto);
  if (m_ArqTexto.LeDireto(m_ulOffsetTexto, m_usTamanhoTexto, psTexto->data())) return ZELARQ_OK;
  int iRetorno = m_ArqTexto.Posiciona('P', m_ulOffsetTexto, nullptr);
  if (iRetorno == ZELARQ_OK) iRetorno = m_ArqTexto.LeSequencial(m_usTamanhoTexto, psTexto->data());
  if (iRetorno != ZELARQ_OK) psTexto->clear();
  return iRetorno;
}

int CIEArqTDados<IE_CAMPO_DATA_ARQ_V2>::GravaTexto(const std::string& sTexto, IE_CAMPO_DATA_ARQ_V2* pReg) {
  // A length that does not fit its 16 bits would store a cut text.
  if (sTexto.size() > 0xFFFF) return ZELARQ_ARQUIVO_INVALIDO;
  const UI2 usTamanho = static_cast<UI2>(sTexto.size());
  ULONG ulOffsetRegistro = 0;
  UI2 usTamanhoRegistro = 0;
  LeLugar(*pReg, &ulOffsetRegistro, &usTamanhoRegistro);
  ULONG ulOffset = ulOffsetRegistro;
  int iRetorno;
  if (usTamanho > m_usTamanhoTexto || ulOffsetRegistro == 0)
    iRetorno = m_ArqTexto.Posiciona('F', 0, &ulOffset);
  else
    iRetorno = m_ArqTexto.Posiciona('P', ulOffsetRegistro, nullptr);
  if (iRetorno != ZELARQ_OK) return iRetorno;
  iRetorno = m_ArqTexto.GravaSequencial(usTamanho, sTexto.data());
  if (iRetorno != ZELARQ_OK) return iRetorno;
  m_ulOffsetTexto = ulOffset;
  m_usTamanhoTexto = usTamanho;
  GravaLugar(pReg, ulOffset, usTamanho);
  return ZELARQ_OK;
}

int CIEArqTDados<IE_CAMPO_DATA_ARQ_V2>::AcrescentaTextos(
    const std::vector<std::pair<std::string_view, IE_CAMPO_DATA_ARQ_V2*>>& aTextos) {
  // Texts go out in blocks of about a megabyte, one write each.
  constexpr size_t kTamanhoBloco = 1 << 20;
  std::string sBloco;
  size_t iPrimeiro = 0;
  for (size_t i = 0; i <= aTextos.size(); ++i) {
    if (i < aTextos.size()) {
      if (aTextos[i].first.size() > 0xFFFF) return ZELARQ_ARQUIVO_INVALIDO;
      if (sBloco.size() + aTextos[i].first.size() <= kTamanhoBloco) {
        sBloco += aTextos[i].first;
        continue;
      }
    }
    if (sBloco.empty()) break;
    ULONG ulOffset = 0;
    int iRetorno = m_ArqTexto.Posiciona('F', 0, &ulOffset);
    if (iRetorno != ZELARQ_OK) return iRetorno;
    iRetorno = m_ArqTexto.GravaSequencial(static_cast<LONG>(sBloco.size()), sBloco.data());
    if (iRetorno != ZELARQ_OK) return iRetorno;
    for (; iPrimeiro < i; ++iPrimeiro) {
      m_ulOffsetTexto = ulOffset;
      m_usTamanhoTexto = static_cast<UI2>(aTextos[iPrimeiro].first.size());
      GravaLugar(aTextos[iPrimeiro].second, ulOffset, m_usTamanhoTexto);
      ulOffset += m_usTamanhoTexto;
    }
    sBloco.clear();
    if (i < aTextos.size()) sBloco += aTextos[i].first;
  }
  return ZELARQ_OK;
}
