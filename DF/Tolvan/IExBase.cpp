#include "IExBase.h"

#include "IExBaseConversao.h"
#include "ZelArquivo.h"
#include "ZelDataBaseUtil.h"
#include "ZelProfiler.h"

namespace {
constexpr const char* kFonte = "IExBase";

void Traca(const IZelDF_Profiler* p, const char* szFuncao, int nLinha, const char* szExpressao, HRESULT hr) {
  ZelTraceHR(p, szFuncao, kFonte, nLinha, szExpressao, "hr", hr);
}

// The name is one registry key under the companies' key, never a path: a
// backslash would reach another key. Names such as "Ind. S/A" are common.
bool NomeEmpresaValido(const std::string& sEmpresa) {
  if (sEmpresa.empty()) return false;
  for (unsigned char c : sEmpresa)
    if (c < 0x20 || c == 0x7F || c == '\\') return false;
  return true;
}

// Creates a typed file with its zero record 0 when it is absent.
template <class T>
HRESULT CriaSeAusente(IIEArqBind* pBind, const IZelDF_Profiler* pIdentidade, const char* szTracoAbre,
                      const char* szTracoZero) {
  static constexpr const char* kFuncao = "CIExBase::VerificaArquivosIntegracao";
  CIEArqT<T> arq(pBind);
  if (CZelDataBaseUtil::ExisteArquivo(arq.GetNomeArquivo())) return S_OK;
  HRESULT hr = arq.Abre('C');
  if (FAILED(hr)) {
    Traca(pIdentidade, kFuncao, __LINE__, szTracoAbre, hr);
    return hr;
  }
  const T zero{};
  int iRetorno = arq.GravaZero(&zero);
  if (iRetorno != ZELARQ_OK) {
    hr = IES_MAKE_HR(iRetorno);
    Traca(pIdentidade, kFuncao, __LINE__, szTracoZero, hr);
    return hr;
  }
  arq.Fecha();
  return S_OK;
}
}  // namespace

CIExBase::CIExBase() : m_ArqIE(this), m_ArqCamposIE(this), m_ArqUsuariosIE(this) {}

CIExBase::~CIExBase() { Finaliza(); }

std::string CIExBase::GetDiretorioVoviDadi(const std::string& sEmpresa) {
  if (!NomeEmpresaValido(sEmpresa)) return {};
  return CZelPath::GetDiretorioDadosModulo(ZEL_ZELDATABASE_INFO_PLUS, sEmpresa);
}

void CIExBase::FechaArquivos() {
  m_ArqIE.Fecha();
  m_ArqCamposIE.Fecha();
  m_ArqUsuariosIE.Fecha();
}

HRESULT CIExBase::OnInicializa() {
  static constexpr const char* kFuncao = "CIExBase::OnInicializa";
  HRESULT hr = CZelBaseParaRotinas::OnInicializa();
  if (FAILED(hr)) {
    Traca(this, kFuncao, __LINE__, "hr = __super::OnInicializa()", hr);
    return hr;
  }
  m_sLocalDados = GetDiretorioVoviDadi(GetEmpresa());
  if (m_sLocalDados.empty()) {
    Traca(this, kFuncao, __LINE__, "hr = E_ZELDF_FALHA_ACESSAR_REGISTRY", E_ZELDF_FALHA_ACESSAR_REGISTRY);
    return E_ZELDF_FALHA_ACESSAR_REGISTRY;
  }
  if (!ZelExisteDiretorio(m_sLocalDados)) {
    LONG lErro = ZelCriaDiretorio(m_sLocalDados, true);
    if (lErro != ERROR_SUCCESS && lErro != ERROR_ALREADY_EXISTS) {
      hr = HRESULT_FROM_WIN32(lErro);
      Traca(this, kFuncao, __LINE__, "hr = CreateDirectoryComPais(m_sLocalDados)", hr);
      return hr;
    }
  }
  // Each failure below leaves nothing open, so that the next start begins
  // again from the conversion.
  hr = ZelDataBaseInicializa();
  if (FAILED(hr)) {
    Traca(this, kFuncao, __LINE__, "hr = ZelDataBaseInicializa()", hr);
    return hr;
  }
  struct Etapa {
    HRESULT (CIExBase::*pfn)();
    const char* szTraco;
  };
  for (const Etapa& etapa : {Etapa{&CIExBase::VerificaArquivosIntegracao, "hr = VerificaArquivosIntegracao()"},
                             Etapa{&CIExBase::AbreArqHeader, "hr = AbreArqHeader()"},
                             Etapa{&CIExBase::AbreArqCampoHeader, "hr = AbreArqCampoHeader()"}}) {
    hr = (this->*etapa.pfn)();
    if (FAILED(hr)) {
      Traca(this, kFuncao, __LINE__, etapa.szTraco, hr);
      FechaArquivos();
      DevolveDataBase();
      return hr;
    }
  }
  return S_OK;
}

HRESULT CIExBase::OnFinaliza() {
  FechaArquivos();
  return CZelDataBaseFacade::OnFinaliza();
}

HRESULT CIExBase::VerificaArquivosIntegracao() {
  HRESULT hr = CriaSeAusente<_REG_IE_CABECALHO_INTEGRACAO_ARQ_V0>(
      this, this, "hr = arq.Abre('C')", "hr = arq.GravaZero(&REG_IE_CABECALHO_INTEGRACAO_ARQ())");
  if (FAILED(hr)) return hr;
  return CriaSeAusente<_REG_IE_VINCULO_INTEGRACAO_ARQ_V0>(this, this, "hr = arq.Abre('C')",
                                                         "hr = arq.GravaZero(&REG_IE_VINCULO_INTEGRACAO_ARQ())");
}

namespace {
// Opens a long-lived file for reading; a partial record at its end (a crash
// during an append) is not counted, and the next append takes its place.
template <class T>
HRESULT AbreLeitura(CIEArqT<T>& arq, const IZelDF_Profiler* pIdentidade, const char* szFuncao, const char* szTraco,
                    BOOL bCria) {
  if (arq.EstaAberto()) return S_OK;
  HRESULT hr = arq.Abre('L', bCria, false);
  if (FAILED(hr)) Traca(pIdentidade, szFuncao, __LINE__, szTraco, hr);
  return hr;
}
}  // namespace

HRESULT CIExBase::AbreArqHeader() {
  return AbreLeitura(m_ArqIE, this, "CIExBase::AbreArqHeader", "hr = m_ArqIE.Abre('L', TRUE, false)", TRUE);
}

HRESULT CIExBase::AbreArqCampoHeader() {
  return AbreLeitura(m_ArqCamposIE, this, "CIExBase::AbreArqCampoHeader", "hr = m_ArqCamposIE.Abre('L', TRUE, false)",
                     TRUE);
}

HRESULT CIExBase::AbreArqUsuario() {
  return AbreLeitura(m_ArqUsuariosIE, this, "CIExBase::AbreArqUsuario", "hr = m_ArqUsuariosIE.Abre('L')", TRUE);
}

HRESULT CIExBase::ExecutaConversao() {
  static constexpr const char* kFuncao = "CIExBase::ExecutaConversao";
  CIExBaseConversao conversao;
  HRESULT hr = conversao.Inicializa(GetEmpresa(), GetUsuario(), GetNumeroSessao());
  if (hr != S_OK) {
    Traca(this, kFuncao, __LINE__, "hr = conversao.Inicializa(GetEmpresa(), GetUsuario(), GetNumeroSessao())", hr);
    return hr;
  }
  hr = conversao.FazConversao();
  if (hr != S_OK) {
    Traca(this, kFuncao, __LINE__, "hr = conversao.FazConversao()", hr);
    return hr;
  }
  return S_OK;
}
