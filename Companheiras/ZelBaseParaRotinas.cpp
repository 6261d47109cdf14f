#include "ZelBaseParaRotinas.h"

#include <cstdio>
#include <cstring>

#include "ZelArquivo.h"
#include "ZelDiretoriosSuite.h"
#include "ZelRegistro.h"

namespace {
thread_local CZelBaseParaRotinas* t_pAcessoDefault = nullptr;

bool AcrescentaLinha(const std::string& sCaminho, const std::string& sLinha) {
  CFile arq;
  if (!arq.Open(sCaminho, CFile::modeWrite | CFile::modeCreate | CFile::modeNoTruncate | CFile::shareDenyWrite))
    return false;
  std::string s = sLinha + "\n";
  try {
    arq.SeekToEnd();
    arq.Write(s.data(), static_cast<UINT>(s.size()));
    arq.Close();
  } catch (CFileException* e) {
    e->Delete();
    return false;
  }
  return true;
}

std::string Texto(const char* sz, size_t n) { return std::string(sz, strnlen(sz, n)); }
}  // namespace

bool CZelAcessoEmpresarial::GravaLogGeral(const std::string& sTexto) {
  std::string sDir = ZelDiretorioDadosEmpresa(m_pIdentidade != nullptr ? m_pIdentidade->GetEmpresa() : "");
  if (sDir.empty()) return false;
  return AcrescentaLinha(sDir + "ZelLogGeral.log", sTexto);
}

bool CZelAcessoEmpresarial::GravaLog(const CZelDadosDF_Log& d) {
  std::string sDir = ZelDiretorioDadosEmpresa(m_pIdentidade != nullptr ? m_pIdentidade->GetEmpresa() : "");
  if (sDir.empty()) return false;
  char szCabeca[96];
  std::snprintf(szCabeca, sizeof szCabeca, "%d\t%d\t%lu\tU%03u\t", d.GetTipoRegistro(), d.GetServico(), d.GetChave(),
                m_pIdentidade != nullptr ? m_pIdentidade->GetUsuario() : 0u);
  return AcrescentaLinha(sDir + "ZelLogAuditoria.log", szCabeca + d.GetLog());
}

bool CZelAcessoEmpresarial::LeUsuario(unsigned short usUsuario, CZelDadosDF_Usuario* pUsuario) {
  if (pUsuario == nullptr) return false;
  std::string sNome;
  if (ZelRegistro::LeTexto(HKEY_LOCAL_MACHINE, std::string(kChaveZelSistemas) + "\\Usuarios",
                           std::to_string(usUsuario), &sNome) != ERROR_SUCCESS ||
      sNome.empty())
    sNome = "Usuario " + std::to_string(usUsuario);
  pUsuario->SetNome(sNome);
  return true;
}

std::string CZelAcessoServidores::GetIdentificacao() const {
  if (m_pIdentidade == nullptr) return "ZelAcessoServidores";
  char sz[128];
  std::snprintf(sz, sizeof sz, "ZelAcessoServidores E%s U%03u S%08lu", m_pIdentidade->GetEmpresa().c_str(),
                m_pIdentidade->GetUsuario(), m_pIdentidade->GetNumeroSessao());
  return sz;
}

CZelBaseParaRotinas::CZelBaseParaRotinas() : m_acesso(this) {}

CZelBaseParaRotinas::~CZelBaseParaRotinas() {
  if (t_pAcessoDefault == this) t_pAcessoDefault = nullptr;
}

HRESULT CZelBaseParaRotinas::Inicializa(const _REG_DF_INICIALIZAPS& reg) {
  m_regInicializa = reg;
  return CZelInicializador::Inicializa(Texto(reg.szEmpresa, sizeof reg.szEmpresa),
                                       static_cast<unsigned short>(reg.ulUsuario), static_cast<long>(reg.ulNumeroSessao));
}

void CZelBaseParaRotinas::SetAcessoDefault(CZelBaseParaRotinas* pBase) { t_pAcessoDefault = pBase; }

CZelAcessoServidores* CZelBaseParaRotinas::GetAcessoServidoresDefault() {
  return t_pAcessoDefault != nullptr ? t_pAcessoDefault->GetAcessoServidores() : nullptr;
}

HRESULT CZelBaseParaRotinas::FuncaoGenerica(unsigned long, const _REG_CR_LISTA_BYTESPS&, _REG_CR_LISTA_BYTESPS**) {
  return E_NOTIMPL;
}
