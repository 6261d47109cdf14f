#include "ZelDataBaseUtil.h"

#include <atomic>
#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "ZelArqMarcaFila.h"
#include "ZelArquivo.h"
#include "ZelBaseParaRotinas.h"
#include "ZelDataBaseControleCriacaoArquivos.h"
#include "ZelPath.h"
#include "ZelProfiler.h"
#include "ZelRegistro.h"
#include "ZelSistema.h"
#include "ZelTempo.h"

namespace {
constexpr int kTentativasArquivo = 50;
constexpr const char* kFonte = "ZelDataBaseUtil";

std::string Maiusculas(std::string s) {
  for (auto& c : s) c = static_cast<char>(ZelMaiusculaNome(static_cast<unsigned char>(c)));
  return s;
}
std::string Minusculas(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void Espera() { Sleep(ZelTempoMs(ZelTempo::kIntervaloRetentativaZelDataBase)); }

// Names of the directory that a numbered name ('?' runs are digits) stands for.
std::vector<std::string> NomesNumerados(const std::string& sDiretorio, const std::string& sPadrao) {
  std::vector<std::string> aNomes;
  for (const auto& sNome : ZelListaArquivos(sDiretorio, sPadrao)) {
    bool bDigitos = sNome.size() == sPadrao.size();
    for (size_t i = 0; bDigitos && i < sPadrao.size(); ++i)
      if (sPadrao[i] == '?' && !std::isdigit(static_cast<unsigned char>(sNome[i]))) bDigitos = false;
    if (bDigitos) aNomes.push_back(sNome);
  }
  return aNomes;
}

std::atomic<int> g_nCondicaoMarca{-1};
}  // namespace

HRESULT CZelDataBaseUtil::GetPathDados(_ZelModulo eModulo, const std::string& sEmpresa, std::string* psDiretorio) {
  *psDiretorio = CZelPath::GetDiretorioDadosModulo(eModulo, sEmpresa);
  if (psDiretorio->empty()) {
    CZelProfilerEmpresa emp(sEmpresa);
    ZelTraceHR(&emp, "CZelDataBaseUtil::GetPathDados", kFonte, __LINE__, "hr = E_ZELCR_DIRETORIO_DADOS_NAO_ENCONTRADO",
               "hr", E_ZELCR_DIRETORIO_DADOS_NAO_ENCONTRADO);
    return E_ZELCR_DIRETORIO_DADOS_NAO_ENCONTRADO;
  }
  return S_OK;
}

HRESULT CZelDataBaseUtil::GetPathArquivo(_ZelModulo eModulo, const std::string& sEmpresa,
                                         const std::string& sNomeArquivo, std::string* psPathArquivo) {
  std::string sDir;
  HRESULT hr = GetPathDados(eModulo, sEmpresa, &sDir);
  if (FAILED(hr)) return hr;
  *psPathArquivo = CZelPath::Junta(sDir, sNomeArquivo);
  return S_OK;
}

std::string CZelDataBaseUtil::FormataNomeArquivo(const std::string& sNome, bool bMantemDiretorio) {
  std::string sDir = CZelPath::GetDiretorio(sNome);
  std::string sArquivo = CZelPath::GetNome(sNome);
  size_t iPonto = sArquivo.rfind('.');
  std::string s = iPonto == std::string::npos
                      ? Maiusculas(sArquivo)
                      : Maiusculas(sArquivo.substr(0, iPonto)) + "." + Minusculas(sArquivo.substr(iPonto + 1));
  return bMantemDiretorio ? sDir + s : s;
}

std::string CZelDataBaseUtil::ModoAberturaToString(EZelDataBase_ModoAbertura eModo) {
  switch (eModo) {
    case EZelDataBase_ModoAbertura::eModoInvalido: return "Invalido";
    case EZelDataBase_ModoAbertura::eModoLeituraGravacao: return "LeituraGravacao";
    case EZelDataBase_ModoAbertura::eModoLeituraSemBloqueio: return "LeituraSemBloqueio";
    case EZelDataBase_ModoAbertura::eModoLeituraGravacaoCriacao: return "LeituraGravacaoCriacao";
  }
  return "Desconhecido";
}

bool CZelDataBaseUtil::ExisteArquivo(const std::string& sPath) {
  if (ZelExisteDiretorio(sPath)) return false;
  CFile arq;
  CFileException ex;
  if (arq.Open(sPath, CFile::modeReadWrite | CFile::shareDenyNone, &ex)) return true;
  return ex.m_cause != CFileException::fileNotFound && ex.m_cause != CFileException::badPath;
}

std::string CZelDataBaseUtil::GetExtensao(const std::string& sNome) {
  std::string s = CZelPath::GetNome(sNome);
  size_t i = s.rfind('.');
  return i == std::string::npos ? std::string() : s.substr(i + 1);
}

std::string CZelDataBaseUtil::TrocaExtensao(const std::string& sPath, const std::string& sExtensao) {
  std::string sNome = CZelPath::GetNome(sPath);
  size_t i = sNome.rfind('.');
  std::string sBase = sPath.substr(0, sPath.size() - sNome.size()) + (i == std::string::npos ? sNome : sNome.substr(0, i));
  return sBase + "." + sExtensao;
}

HRESULT CZelDataBaseUtil::DeletaArquivo(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo,
                                        const std::string& sNomeArquivo, ZelUInt uiFlag, bool bGerarLog) {
  std::string sEmpresa = pProfiler != nullptr ? pProfiler->GetEmpresa() : std::string();
  std::string sPath;
  HRESULT hr = GetPathArquivo(eModulo, sEmpresa, sNomeArquivo, &sPath);
  if (FAILED(hr)) return hr;
  if (sNomeArquivo.find('?') == std::string::npos)
    return DeletaCaminho(pProfiler, eModulo, sPath, sNomeArquivo, uiFlag, bGerarLog);
  std::string sDir = CZelPath::GetDiretorio(sPath);
  for (const auto& sNome : NomesNumerados(sDir, CZelPath::GetNome(sPath))) {
    hr = DeletaCaminho(pProfiler, eModulo, sDir + sNome, sNome, uiFlag, bGerarLog);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CZelDataBaseUtil::DeletaCaminho(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo, const std::string& sPath,
                                        const std::string& sNome, ZelUInt uiFlag, bool bGerarLog) {
  if (!ExisteArquivo(sPath)) return S_OK;
  LONG lErro = ERROR_SUCCESS;
  for (int i = 0; i < kTentativasArquivo; ++i) {
    lErro = ZelExcluiArquivo(sPath);
    if (lErro == ERROR_SUCCESS || !ExisteArquivo(sPath)) break;
    Espera();
  }
  if (ExisteArquivo(sPath)) {
    ZelGravaLinhaErro(pProfiler, "CZelDataBaseUtil::DeletaArquivo", kFonte, __LINE__, "Erro ao deletar arquivo %s DW: %d.",
                      sPath.c_str(), lErro);
    return E_ZELCR_ERRO_DELETAR_ARQUIVO;
  }

  std::string sEmpresa = pProfiler != nullptr ? pProfiler->GetEmpresa() : std::string();
  if (bGerarLog && eModulo != ZEL_ZELDATABASE_SEM_AUDITORIA && !sEmpresa.empty() &&
      sEmpresa != ZELDATABASE_EMPRESA_INTERNA) {
    CZelBaseParaRotinas base;
    base.SetUsaConexaoDefault(true);
    base.Inicializa(pProfiler);
    CZelAcessoEmpresarial* pEmpresarial = base.GetAcessoServidores()->GetAcessoEmpresarial();
    unsigned short usUsuario = pProfiler->GetUsuario();
    char sz[1024];
    if (usUsuario == PSEUDO_USUARIO) {
      std::snprintf(sz, sizeof sz, "Arquivo \"%s\" removido durante a convers\xE3o da base de dados", sPath.c_str());
    } else if (usUsuario == 0) {
      std::snprintf(sz, sizeof sz, "Arquivo \"%s\" removido sem informa\xE7\xE3o de usu\xE1rio logado", sPath.c_str());
    } else {
      CZelDadosDF_Usuario usuario;
      pEmpresarial->LeUsuario(usUsuario, &usuario);
      std::snprintf(sz, sizeof sz, "Arquivo \"%s\" removido pelo usu\xE1rio \"%s\"", sPath.c_str(),
                    usuario.GetNome().c_str());
    }
    CZelDadosDF_Log dadosLog;
    dadosLog.SetTipoRegistro(kTipoRegistroAuditoria);
    dadosLog.SetServico(kServicoZelDataBase);
    dadosLog.SetLog(sz);
    if (!pEmpresarial->GravaLog(dadosLog))
      ZelTraceHR(pProfiler, "CZelDataBaseUtil::DeletaArquivo", kFonte, __LINE__, "hrGravaLog = GravaLog(dadosLog)",
                 "hrGravaLog", E_FAIL);
  }

  if (uiFlag == 2) {
    CZelDataBaseControleCriacaoArquivos controle(eModulo, FormataNomeArquivo(sNome, false));
    HRESULT hr = controle.Inicializa(pProfiler);
    if (SUCCEEDED(hr)) hr = controle.RemoveControleCriacaoArquivos();
    if (FAILED(hr)) {
      ZelTraceHR(pProfiler, "CZelDataBaseUtil::DeletaArquivo", kFonte, __LINE__,
                 "hr = controle.RemoveControleCriacaoArquivos()", "hr", hr);
      return hr;
    }
  } else if (uiFlag == 1) {
    std::string sCtl = CZelPath::Junta(CZelPath::GetDiretorio(sPath), "ZELCTLARQ.dat");
    if (ExisteArquivo(sCtl)) ZelExcluiArquivo(sCtl);
  }
  return S_OK;
}

HRESULT CZelDataBaseUtil::DeletaDiretorio(const std::string& sDiretorio, const std::string& sMascara) {
  if (!ZelExisteDiretorio(sDiretorio)) return S_OK;
  std::string sDir = sDiretorio.back() == '/' ? sDiretorio : sDiretorio + "/";
  for (const auto& sNome : ZelListaArquivos(sDir, sMascara)) {
    std::string sPath = sDir + sNome;
    HRESULT hr = S_OK;
    if (ZelExisteDiretorio(sPath)) {
      hr = DeletaDiretorio(sPath, "*.*");
    } else {
      LONG lErro = ERROR_SUCCESS;
      for (int i = 0; i < kTentativasArquivo && ZelExisteArquivo(sPath); ++i) {
        lErro = ZelExcluiArquivo(sPath);
        if (lErro != ERROR_SUCCESS) Espera();
      }
      if (ZelExisteArquivo(sPath)) {
        ZelGravaLinhaErro(nullptr, "CZelDataBaseUtil::DeletaDiretorio", kFonte, __LINE__,
                          "Erro ao deletar arquivo %s DW: %d.", sPath.c_str(), lErro);
        hr = E_ZELCR_ERRO_DELETAR_ARQUIVO;
      }
    }
    if (FAILED(hr)) return hr;
  }
  LONG lErro = ERROR_SUCCESS;
  for (int i = 0; i < kTentativasArquivo && ZelExisteDiretorio(sDir); ++i) {
    lErro = ZelExcluiDiretorio(sDir);
    if (lErro != ERROR_SUCCESS) Espera();
  }
  if (ZelExisteDiretorio(sDir)) {
    ZelGravaLinhaErro(nullptr, "CZelDataBaseUtil::DeletaDiretorio", kFonte, __LINE__,
                      "Erro ao deletar diretorio %s DW: %d.", sDir.c_str(), lErro);
    return E_ZELCR_ERRO_DELETAR_ARQUIVO;
  }
  return S_OK;
}

HRESULT CZelDataBaseUtil::RenomeiaArquivoEXT(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo,
                                             const std::string& sNomeArquivo, const std::string& sExtensaoOrigem,
                                             ZelUShort, bool bControleCriacao) {
  if (sNomeArquivo.find('?') == std::string::npos)
    return RenomeiaUm(pProfiler, eModulo, sNomeArquivo, sExtensaoOrigem, bControleCriacao);
  std::string sEmpresa = pProfiler != nullptr ? pProfiler->GetEmpresa() : std::string();
  std::string sDir;
  HRESULT hr = GetPathDados(eModulo, sEmpresa, &sDir);
  if (FAILED(hr)) return hr;
  // Both the files and their siblings name the numbers to handle.
  std::vector<std::string> aNomes = NomesNumerados(sDir, sNomeArquivo);
  for (const auto& sOrigem : NomesNumerados(sDir, TrocaExtensao(sNomeArquivo, sExtensaoOrigem))) {
    std::string sDestino = TrocaExtensao(sOrigem, GetExtensao(sNomeArquivo));
    bool bJa = false;
    for (const auto& s : aNomes) bJa = bJa || ZelNomesIguais(s, sDestino);
    if (!bJa) aNomes.push_back(sDestino);
  }
  for (const auto& sNome : aNomes) {
    hr = RenomeiaUm(pProfiler, eModulo, sNome, sExtensaoOrigem, bControleCriacao);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CZelDataBaseUtil::RenomeiaUm(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo,
                                     const std::string& sNomeArquivo, const std::string& sExtensaoOrigem,
                                     bool bControleCriacao) {
  std::string sEmpresa = pProfiler != nullptr ? pProfiler->GetEmpresa() : std::string();
  std::string sDestino;
  HRESULT hr = GetPathArquivo(eModulo, sEmpresa, sNomeArquivo, &sDestino);
  if (FAILED(hr)) return hr;
  std::string sOrigem = TrocaExtensao(sDestino, sExtensaoOrigem);
  bool bControle = bControleCriacao && !ZelNomesIguais(CZelPath::GetNome(sNomeArquivo),
                                                       ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS);
  if (!ExisteArquivo(sOrigem)) {
    if (!ExisteArquivo(sDestino)) return S_OK;
    return DeletaArquivo(pProfiler, eModulo, sNomeArquivo, bControle ? 2 : 0, true);
  }
  LONG lErro = ERROR_SUCCESS;
  for (int i = 0; i < kTentativasArquivo; ++i) {
    lErro = ZelRenomeiaArquivo(sOrigem, sDestino, true);
    if (lErro == ERROR_SUCCESS) break;
    Espera();
  }
  if (ExisteArquivo(sOrigem)) {
    ZelGravaLinhaErro(pProfiler, "CZelDataBaseUtil::RenomeiaArquivoEXT", kFonte, __LINE__,
                      "Erro ao renomear arquivo %s DW: %d.", sOrigem.c_str(), lErro);
    return E_ZELCR_ERRO_RENOMEAR_ARQUIVO;
  }
  if (bControleCriacao) {
    CZelDataBaseControleCriacaoArquivos controle(eModulo, FormataNomeArquivo(sNomeArquivo, false));
    hr = controle.Inicializa(pProfiler);
    if (SUCCEEDED(hr)) hr = controle.GerenciaControleCriacaoArquivos(EZelDataBase_ModoAbertura::eModoLeituraGravacao);
    if (FAILED(hr)) {
      ZelTraceHR(pProfiler, "CZelDataBaseUtil::RenomeiaArquivoEXT", kFonte, __LINE__,
                 "hr = controle.GerenciaControleCriacaoArquivos(eModoLeituraGravacao)", "hr", hr);
      return hr;
    }
  }
  return S_OK;
}

HRESULT CZelDataBaseUtil::RenomeiaArquivoTRA(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo,
                                             const std::string& sNomeArquivo, ZelUShort usVersao) {
  return RenomeiaArquivoEXT(pProfiler, eModulo, sNomeArquivo, "tra", usVersao, true);
}

HRESULT CZelDataBaseUtil::RenomeiaArquivoSRK(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo,
                                             const std::string& sNomeArquivo, ZelUShort usVersao) {
  return RenomeiaArquivoEXT(pProfiler, eModulo, sNomeArquivo, "srk", usVersao, true);
}

HRESULT CZelDataBaseUtil::RenomeiaArquivoCAB(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo,
                                             const std::string& sNomeArquivo, ZelUShort usVersao) {
  return RenomeiaArquivoEXT(pProfiler, eModulo, sNomeArquivo, "cab", usVersao, false);
}

bool CZelDataBaseUtil::DeveMarcarMudancas() {
  int n = g_nCondicaoMarca.load();
  if (n < 0) {
    bool b = (ZelLeChaveZel("HabilitaMarcaMutexZelBackup") != 0 && ZelLeChaveZel(kMarcadorBackupZel) != 0) ||
             ZelLeChaveZel(kMarcadorMarcaSempre) != 0;
    n = b ? 1 : 0;
    g_nCondicaoMarca = n;
  }
  return n == 1;
}

void CZelDataBaseUtil::ReleCondicaoMarca() { g_nCondicaoMarca = -1; }

HRESULT CZelDataBaseUtil::MarcaMudanca(CZelArqMarcaFila& marca, const IZelDF_Profiler* pProfiler, _ZelModulo eModulo,
                                       int nTipoMarca) {
  if (!DeveMarcarMudancas()) return S_OK;
  std::string sDiretorioMarca;
  HRESULT hr = GetPathDados(eModulo, pProfiler != nullptr ? pProfiler->GetEmpresa() : std::string(), &sDiretorioMarca);
  if (FAILED(hr)) return hr;
  int iRetorno = marca.Marca(sDiretorioMarca, nTipoMarca);
  return iRetorno == 0 ? S_OK : static_cast<HRESULT>(static_cast<uint32_t>(iRetorno) | 0x80040000u);
}
