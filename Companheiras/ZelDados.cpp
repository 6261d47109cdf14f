#include "ZelDados.h"

#include <algorithm>
#include <cstring>

namespace {
template <size_t N>
void CopiaTexto(char (&destino)[N], const std::string& s) {
  size_t n = std::min(s.size(), N - 1);
  std::memcpy(destino, s.data(), n);
  destino[n] = '\0';
}
}  // namespace

void CZelDadosDF_Erro::Define(HRESULT hr, const std::string& sMensagem, const std::string& sEmpresa) {
  m_hr = hr;
  m_sMensagem = sMensagem;
  m_sEmpresa = sEmpresa;
}

void CZelDadosDF_Erro::CopiarPara(_REG_DF_ERROPS* pReg) const {
  if (pReg == nullptr) return;
  pReg->hr = m_hr;
  pReg->nCodigoErro = static_cast<I4>(HRESULT_CODE(m_hr));
  CopiaTexto(pReg->cMensagem, m_sMensagem);
  CopiaTexto(pReg->szEmpresa, m_sEmpresa);
}

CZelDadosDF_Erro* CZelUltimoErro::GetErro() {
  thread_local CZelDadosDF_Erro t_copia;
  std::lock_guard<std::mutex> trava(m_mutex);
  t_copia.Define(GetHr(), GetMensagem(), GetEmpresaErro());
  return &t_copia;
}

void CZelUltimoErro::RegistraErro(HRESULT hr, const std::string& sMensagem, const std::string& sEmpresa) {
  std::lock_guard<std::mutex> trava(m_mutex);
  Define(hr, sMensagem, sEmpresa);
}

void CZelDadosCR_Alteracao::CopiarDe(const _REG_CR_ALTERACAOPS* pReg) {
  T_ZelDadosRegistroComLista::CopiarDe(pReg);
  m_aBytes.clear();
  if (pReg != nullptr && pReg->regDados.pListaBytes != nullptr)
    m_aBytes.assign(pReg->regDados.pListaBytes, pReg->regDados.pListaBytes + pReg->regDados.ulQtdBytes);
  m_reg.regDados.pListaBytes = m_aBytes.empty() ? nullptr : m_aBytes.data();
}
