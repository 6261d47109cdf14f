#include "IExBaseConversao.h"

#include <cstring>
#include <memory>
#include <vector>

#include "IExBase.h"
#include "ZelArqMarcaFila.h"
#include "ZelArquivo.h"
#include "ZelDataBaseUtilT.h"
#include "ZelProfiler.h"

namespace {
constexpr const char* kFonte = "IExBaseConversao";
constexpr HRESULT kErroConversao = IES_MAKE_HR(IE_ERRO_CONVERSAO);
}  // namespace

#define IE_TRACA_HR(funcao, expressao, hr) ZelTraceHR(this, funcao, kFonte, __LINE__, "hr = " expressao, "hr", hr)
#define IE_TRACA_INT(funcao, expressao, i) \
  ZelTraceInt(this, funcao, kFonte, __LINE__, "iRetorno = " expressao, "iRetorno", i)

HRESULT CIExBaseConversao::Inicializa(const std::string& sEmpresa, unsigned short usUsuario, unsigned long ulSessao) {
  m_sEmpresa = sEmpresa;
  m_usUsuario = usUsuario;
  m_ulSessao = ulSessao;
  m_sLocalDados = CIExBase::GetDiretorioVoviDadi(sEmpresa);
  if (m_sLocalDados.empty()) {
    IE_TRACA_HR("CIExBaseConversao::Inicializa", "E_ZELDF_FALHA_ACESSAR_REGISTRY", E_ZELDF_FALHA_ACESSAR_REGISTRY);
    return E_ZELDF_FALHA_ACESSAR_REGISTRY;
  }
  return VerificaArquivoConfiguracao();
}

HRESULT CIExBaseConversao::VerificaArquivoConfiguracao() {
  // Under the company's marker: another process may have made the file and
  // not yet written its record.
  CZelArqMarcaFila marcaFila(this);
  int iMarca = marcaFila.Marca(m_sLocalDados, IZelArqMarcaEnum::VoviDadi, "DF");
  if (iMarca != 0) {
    IE_TRACA_INT("CIExBaseConversao::VerificaArquivoConfiguracao",
                 "marcaFila.Marca(m_sLocalDados, IZelArqMarcaEnum::VoviDadi, \"DF\")", iMarca);
    return IES_MAKE_HR(iMarca);
  }
  if (CZelDataBaseUtil::ExisteArquivo(CaminhoConfiguracao())) return S_OK;
  CZelArqEx arqConfig;
  // Created through the directory's control file: once lost, the version is
  // unknown and no step may run again on a guess.
  int iRetorno = arqConfig.Abre(CaminhoConfiguracao(), 'G', sizeof(REG_IE_CONFIGURACAO_INFO_PLUS_ARQ), 1);
  if (iRetorno != ZELARQ_OK) {
    IE_TRACA_INT("CIExBaseConversao::VerificaArquivoConfiguracao",
                 "arqConfig.Abre(m_sLocalDados + REG_IE_CONFIGURACAO_INFO_PLUS_ARQ::GetFileNameComExtensaoDAT(), 'G', "
                 "sizeof(REG_IE_CONFIGURACAO_INFO_PLUS_ARQ))",
                 iRetorno);
    return IES_MAKE_HR(iRetorno);
  }
  arqConfig.Fecha();
  return S_OK;
}

HRESULT CIExBaseConversao::GetConfiguracao(REG_IE_CONFIGURACAO_INFO_PLUS_PS* pRegConfig) {
  static constexpr const char* kFuncao = "CIExBaseConversao::GetConfiguracao";
  std::memset(pRegConfig, 0, sizeof *pRegConfig);
  CZelArqEx arqConfig;
  int iRetorno = arqConfig.Abre(CaminhoConfiguracao(), 'L', sizeof(REG_IE_CONFIGURACAO_INFO_PLUS_ARQ));
  if (iRetorno != ZELARQ_OK) {
    IE_TRACA_INT(kFuncao,
                 "arqConfig.Abre(m_sLocalDados + REG_IE_CONFIGURACAO_INFO_PLUS_ARQ::GetFileNameComExtensaoDAT(), 'L', "
                 "sizeof(REG_IE_CONFIGURACAO_INFO_PLUS_ARQ))",
                 iRetorno);
    return IES_MAKE_HR(iRetorno);
  }
  auto pRegArq = std::make_unique<REG_IE_CONFIGURACAO_INFO_PLUS_ARQ>();
  iRetorno = arqConfig.Le(0, pRegArq.get());
  if (iRetorno != ZELARQ_OK) {
    IE_TRACA_INT(kFuncao, "arqConfig.Le(0, &regConfig)", iRetorno);
    return IES_MAKE_HR(iRetorno);
  }
  pRegConfig->ulVersao = pRegArq->ulVersao;
  return S_OK;
}

HRESULT CIExBaseConversao::SetConfiguracao(const REG_IE_CONFIGURACAO_INFO_PLUS_PS* pRegConfig) {
  static constexpr const char* kFuncao = "CIExBaseConversao::SetConfiguracao";
  CZelArqEx arqConfig;
  int iRetorno = arqConfig.Abre(CaminhoConfiguracao(), 'G', sizeof(REG_IE_CONFIGURACAO_INFO_PLUS_ARQ));
  if (iRetorno != ZELARQ_OK) {
    IE_TRACA_INT(kFuncao,
                 "arqConfig.Abre(m_sLocalDados + REG_IE_CONFIGURACAO_INFO_PLUS_ARQ::GetFileNameComExtensaoDAT(), 'G', "
                 "sizeof(REG_IE_CONFIGURACAO_INFO_PLUS_ARQ))",
                 iRetorno);
    return IES_MAKE_HR(iRetorno);
  }
  auto pRegArq = std::make_unique<REG_IE_CONFIGURACAO_INFO_PLUS_ARQ>();
  pRegArq->ulVersao = pRegConfig->ulVersao;
  iRetorno = arqConfig.GravaZero(pRegArq.get(), sizeof(REG_IE_CONFIGURACAO_INFO_PLUS_ARQ));
  if (iRetorno != ZELARQ_OK) {
    IE_TRACA_INT(kFuncao, "arqConfig.GravaZero(&regConfig, sizeof(regConfig))", iRetorno);
    return IES_MAKE_HR(iRetorno);
  }
  return S_OK;
}

HRESULT CIExBaseConversao::FazConversao() {
  static constexpr const char* kFuncao = "CIExBaseConversao::FazConversao";
  CZelArqMarcaFila marcaFila(this);
  int iRetorno = marcaFila.Marca(m_sLocalDados, IZelArqMarcaEnum::VoviDadi, "DF");
  if (iRetorno != 0) {
    IE_TRACA_INT(kFuncao, "marcaFila.Marca(m_sLocalDados, IZelArqMarcaEnum::VoviDadi, \"DF\")", iRetorno);
    return IES_MAKE_HR(iRetorno);
  }
  REG_IE_CONFIGURACAO_INFO_PLUS_PS regConfigPS;
  HRESULT hr = GetConfiguracao(&regConfigPS);
  if (hr != S_OK) {
    IE_TRACA_HR(kFuncao, "GetConfiguracao(&regConfigPS)", hr);
    return hr;
  }
  if (regConfigPS.ulVersao == kVersaoDadosIE) return S_OK;
  if (regConfigPS.ulVersao > kVersaoDadosIE) return IES_MAKE_HR(IE_ERRO_VERSAO_DADOS_POSTERIOR);

  struct Passo {
    UI4 ulVersao;
    HRESULT (CIExBaseConversao::*pfn)();
    const char* szTraco;
  };
  static constexpr Passo kPassos[] = {
      {7, &CIExBaseConversao::EliminaRegistrosZerados, "hr = EliminaRegistrosZerados()"},
      {8, &CIExBaseConversao::RemoveRegistroZero, "hr = RemoveRegistroZero()"},
      {9, &CIExBaseConversao::ConverteIE_CAMPO_ARQ_V1ParaV2, "hr = ConverteIE_CAMPO_ARQ_V1ParaV2()"},
  };
  for (const Passo& passo : kPassos) {
    if (regConfigPS.ulVersao >= passo.ulVersao) continue;
    hr = (this->*passo.pfn)();
    if (hr != S_OK) {
      ZelTraceHR(this, kFuncao, kFonte, __LINE__, passo.szTraco, "hr", hr);
      return hr;
    }
    regConfigPS.ulVersao = passo.ulVersao;
    hr = SetConfiguracao(&regConfigPS);
    if (hr != S_OK) {
      IE_TRACA_HR(kFuncao, "SetConfiguracao(&regConfigPS)", hr);
      return hr;
    }
  }
  iRetorno = marcaFila.Desmarca();
  if (iRetorno != 0) {
    IE_TRACA_INT(kFuncao, "marcaFila.Desmarca()", iRetorno);
    return IES_MAKE_HR(iRetorno);
  }
  return S_OK;
}

HRESULT CIExBaseConversao::VerificaExistenciaTRA() {
  std::vector<std::string> aNomes = {"DFIEVINC", "DFIEINTCAB", "DFIEINTVINC", "DFIEHDR", "DFIECMP"};
  for (int eProcesso = 0; eProcesso < kProcessosComArquivo; ++eProcesso) {
    aNomes.emplace_back(IEGetNomeBaseProcesso(eProcesso));
    aNomes.push_back(std::string(IEGetNomeBaseProcesso(eProcesso)) + "Text");
  }
  for (const std::string& sNome : aNomes) {
    if (CZelDataBaseUtil::ExisteArquivo(m_sLocalDados + sNome + kExtensaoTransferenciaIE)) {
      IE_TRACA_HR("CIExBaseConversao::VerificaExistenciaTRA", "IES_MAKE_HR(IE_ERRO_CONVERSAO)", kErroConversao);
      return kErroConversao;
    }
  }
  return S_OK;
}

HRESULT CIExBaseConversao::SubstituiPorTRA(const char* szFuncao, const char* const* aszNomes, int nQtd) {
  for (int i = 0; i < nQtd; ++i) {
    const std::string sBase = m_sLocalDados + aszNomes[i];
    if (ZelCopiaArquivo(sBase + kExtensaoTransferenciaIE, sBase + kExtensaoIE, false) != ERROR_SUCCESS) {
      IE_TRACA_HR(szFuncao, "IES_MAKE_HR(IE_ERRO_CONVERSAO)", kErroConversao);
      return kErroConversao;
    }
  }
  ApagaTRA(aszNomes, nQtd);
  return S_OK;
}

void CIExBaseConversao::ApagaTRA(const char* const* aszNomes, int nQtd) {
  for (int i = 0; i < nQtd; ++i) ZelExcluiArquivo(m_sLocalDados + aszNomes[i] + kExtensaoTransferenciaIE);
}

HRESULT CIExBaseConversao::EliminaRegistrosZerados() {
  static constexpr const char* kFuncao = "CIExBaseConversao::EliminaRegistrosZerados";
  static constexpr const char* kNomes[] = {IE_VINCULO_ARQ_V0::kNomeArquivo};
  HRESULT hr = VerificaExistenciaTRA();
  if (hr != S_OK) {
    IE_TRACA_HR(kFuncao, "VerificaExistenciaTRA()", hr);
    return hr;
  }
  {
    CIEArqT<IE_VINCULO_ARQ_V0> arqVinculoDAT(this);
    CIEArqT<IE_VINCULO_ARQ_V0> arqVinculoTRA(this, kExtensaoTransferenciaIE);
    // Until the copy the link file is untouched: a failure before it leaves
    // no transfer file to block the next start.
    auto falha = [&](HRESULT hrFalha) {
      arqVinculoTRA.Fecha();
      ApagaTRA(kNomes, 1);
      return hrFalha;
    };
    hr = arqVinculoDAT.Abre('L');
    if (hr != S_OK) {
      IE_TRACA_HR(kFuncao, "arqVinculoDAT.Abre('L')", hr);
      return hr;
    }
    hr = arqVinculoTRA.Abre('C');
    if (hr != S_OK) {
      IE_TRACA_HR(kFuncao, "arqVinculoTRA.Abre('C')", hr);
      return falha(hr);
    }
    std::vector<IE_VINCULO_ARQ_V0> aVinculos;
    int iRetorno = arqVinculoDAT.LeTudo(aVinculos);
    if (iRetorno != ZELARQ_OK) {
      IE_TRACA_INT(kFuncao, "arqVinculoDAT.LeTudo(aVinculos)", iRetorno);
      return falha(IES_MAKE_HR(iRetorno));
    }
    for (const IE_VINCULO_ARQ_V0& regVinculo : aVinculos) {
      if (regVinculo.lPosHeader == 0) continue;
      ULONG ulPosicao = 0;
      iRetorno = arqVinculoTRA.Grava(&regVinculo, &ulPosicao);
      if (iRetorno != ZELARQ_OK) {
        IE_TRACA_INT(kFuncao, "arqVinculoTRA.Grava(&regVinculo, &ulPosicao)", iRetorno);
        return falha(IES_MAKE_HR(iRetorno));
      }
    }
  }
  return SubstituiPorTRA(kFuncao, kNomes, 1);
}

HRESULT CIExBaseConversao::RemoveRegistroZero() {
  HRESULT hr = CZelDataBaseUtil::RemoveRegistroZero<IE_VINCULO_ARQ_V0>(this, ZEL_ZELDATABASE_INFO_PLUS, "DFIEVINC.dat");
  if (FAILED(hr))
    IE_TRACA_HR("CIExBaseConversao::RemoveRegistroZero",
                "CZelDataBaseUtil::RemoveRegistroZero<IE_VINCULO_ARQ_V0>(this, ZEL_ZELDATABASE_INFO_PLUS, "
                "\"DFIEVINC.dat\")",
                hr);
  return hr;
}

HRESULT CIExBaseConversao::ConverteIE_CAMPO_ARQ_V1ParaV2() {
  static constexpr const char* kFuncao = "CIExBaseConversao::ConverteIE_CAMPO_ARQ_V1ParaV2";
  static constexpr const char* kNomes[] = {IE_CAMPO_ARQ_V2::kNomeArquivo, IE_USUARIO_ARQ_V0::kNomeArquivo};
  HRESULT hr = VerificaExistenciaTRA();
  if (hr != S_OK) {
    IE_TRACA_HR(kFuncao, "VerificaExistenciaTRA()", hr);
    return hr;
  }
  {
    CIEArqT<IE_CAMPO_ARQ_V1> arqCampoDAT(this);
    CIEArqT<IE_CAMPO_ARQ_V2> arqCampoTRA(this, kExtensaoTransferenciaIE);
    CIEArqT<IE_USUARIO_ARQ_V0> arqUsuarioDAT(this);
    CIEArqT<IE_USUARIO_ARQ_V0> arqUsuarioTRA(this, kExtensaoTransferenciaIE);
    auto falha = [&](HRESULT hrFalha) {
      arqCampoTRA.Fecha();
      arqUsuarioTRA.Fecha();
      ApagaTRA(kNomes, 2);
      return hrFalha;
    };
    hr = arqCampoDAT.Abre('L');
    if (hr != S_OK) {
      IE_TRACA_HR(kFuncao, "arqCampoDAT.Abre('L')", hr);
      return hr;
    }
    hr = arqCampoTRA.Abre('C');
    if (hr != S_OK) {
      IE_TRACA_HR(kFuncao, "arqCampoTRA.Abre('C')", hr);
      return falha(hr);
    }
    hr = arqUsuarioDAT.Abre('L');
    if (hr != S_OK) {
      IE_TRACA_HR(kFuncao, "arqUsuarioDAT.Abre('L')", hr);
      return falha(hr);
    }
    hr = arqUsuarioTRA.Abre('C');
    if (hr != S_OK) {
      IE_TRACA_HR(kFuncao, "arqUsuarioTRA.Abre('C')", hr);
      return falha(hr);
    }
    int iRetorno = ZELARQ_OK;
    const ULONGLONG nQtdCampos = arqCampoDAT.GetQtdRegistros(true);
    for (ULONGLONG idx = 1; idx <= nQtdCampos; ++idx) {
      IE_CAMPO_ARQ_V1 regCampoV1{};
      iRetorno = arqCampoDAT.Le(static_cast<LONG>(idx), &regCampoV1);
      if (iRetorno != ZELARQ_OK) {
        IE_TRACA_INT(kFuncao, "arqCampoDAT.Le(idx, &regCampoV1)", iRetorno);
        return falha(IES_MAKE_HR(iRetorno));
      }
      IE_CAMPO_ARQ_V2 regCampoV2{};
      regCampoV2.dwFlags = regCampoV1.dwFlags;
      regCampoV2.lPtrExtra = regCampoV1.lPtrExtra;
      regCampoV2.id = regCampoV1.id;
      regCampoV2.iQtdUsuarios = regCampoV1.iQtdUsuarios;
      std::memcpy(regCampoV2.szNome, regCampoV1.szNome, strnlen(regCampoV1.szNome, sizeof regCampoV1.szNome));

      UI4 ulPtrUsuarios = 0;
      std::memcpy(&ulPtrUsuarios, regCampoV1.ulPtrUsuarios, sizeof ulPtrUsuarios);
      if (ulPtrUsuarios == 0) ulPtrUsuarios = regCampoV1.usPtrUsuarios;
      for (UI2 iUsuario = 0; iUsuario < regCampoV1.iQtdUsuarios; ++iUsuario) {
        IE_USUARIO_ARQ_V0 regUsuarioDat{};
        iRetorno = arqUsuarioDAT.Le(static_cast<LONG>(ulPtrUsuarios + iUsuario), &regUsuarioDat);
        if (iRetorno != ZELARQ_OK) {
          IE_TRACA_INT(kFuncao, "arqUsuarioDAT.Le(ulPtrUsuarios + iUsuario, &regUsuarioDat)", iRetorno);
          return falha(IES_MAKE_HR(iRetorno));
        }
        ULONG ulNovoPtrUsuarios = 0;
        iRetorno = arqUsuarioTRA.Grava(&regUsuarioDat, &ulNovoPtrUsuarios);
        if (iRetorno != ZELARQ_OK) {
          IE_TRACA_INT(kFuncao, "arqUsuarioTRA.Grava(&regUsuarioDat, &ulNovoPtrUsuarios)", iRetorno);
          return falha(IES_MAKE_HR(iRetorno));
        }
        if (iUsuario == 0) regCampoV2.ulPtrUsuarios = ulNovoPtrUsuarios;
      }
      ULONG ulPosicao = 0;
      iRetorno = arqCampoTRA.Grava(&regCampoV2, &ulPosicao);
      if (iRetorno != ZELARQ_OK) {
        IE_TRACA_INT(kFuncao, "arqCampoTRA.Grava(&regCampoV2, &ulPosicao)", iRetorno);
        return falha(IES_MAKE_HR(iRetorno));
      }
    }
  }
  return SubstituiPorTRA(kFuncao, kNomes, 2);
}
