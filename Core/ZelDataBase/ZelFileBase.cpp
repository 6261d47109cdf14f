#include "ZelFileBase.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ZelArqMarcaFila.h"
#include "ZelCrc.h"
#include "ZelDataBase.h"
#include "ZelDataBaseUtil.h"
#include "ZelException.h"
#include "ZelFileCopia.h"
#include "ZelPath.h"
#include "ZelProfiler.h"
#include "ZelSistema.h"
#include "ZelTempo.h"

namespace {
constexpr const char* kFonte = "ZelFileBase";
constexpr int kTentativasAbertura = 500;

struct CausaCodigo {
  int nCausa;
  HRESULT hr;
  const char* szMnemonico;
};
constexpr CausaCodigo kCausas[] = {
    {CFileException::endOfFile, eEndOfFile, "eEndOfFile"},
    {CFileException::badSeek, eBadSeek, "eBadSeek"},
    {CFileException::hardIO, eHardIO, "eHardIO"},
    {CFileException::fileNotFound, eFileNotFound, "eFileNotFound"},
    {CFileException::badPath, eBadPath, "eBadPath"},
    {CFileException::accessDenied, eAccessDenied, "eAccessDenied"},
    {CFileException::invalidFile, eInvalidFile, "eInvalidFile"},
    {CFileException::sharingViolation, eSharingViolation, "eSharingViolation"},
    {CFileException::lockViolation, eLockViolation, "eLockViolation"},
    {CFileException::diskFull, eDiskFull, "eDiskFull"},
};

bool ExtensaoSemCabecalho(const std::string& sNome) {
  std::string sExt = CZelDataBaseUtil::GetExtensao(sNome);
  return ZelNomesIguais(sExt, "cab") || ZelNomesIguais(sExt, "srk") || ZelNomesIguais(sExt, "tra");
}
}  // namespace

CZelFileBase::CZelFileBase(const std::string& sNomeArquivo, CZelDataBase* pZelDataBase)
    : m_pZelDataBase(pZelDataBase),
      m_sNomeArquivo(CZelDataBaseUtil::FormataNomeArquivo(sNomeArquivo, false)),
      m_eModulo(pZelDataBase != nullptr ? pZelDataBase->GetModulo() : 0),
      m_ControleCriacaoArquivos(m_eModulo, m_sNomeArquivo) {
  if (m_pZelDataBase != nullptr) m_pZelDataBase->AddFile(this);
}

CZelFileBase::~CZelFileBase() {
  Finaliza();
  FechaArquivo();
  if (m_pZelDataBase != nullptr) m_pZelDataBase->RemoveFile(this);
}

void CZelFileBase::SetModulo(_ZelModulo eModulo) {
  m_eModulo = eModulo;
  m_ControleCriacaoArquivos.SetModulo(eModulo);
}

void CZelFileBase::Traca(const char* szFuncao, int nLinha, const char* szExpressao, HRESULT hr) const {
  ZelTraceHR(this, szFuncao, kFonte, nLinha, szExpressao, "hr", hr);
}

HRESULT CZelFileBase::AbreArquivo(EZelDataBase_ModoAbertura eModoAbertura) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelFileBase::AbreArquivo", [&] {
    return ZelPares{{"eModoAbertura", CZelDataBaseUtil::ModoAberturaToString(eModoAbertura)}};
  });
  if (m_pZelDataBase != nullptr && m_pZelDataBase->GetHabilitaLeituraSemBloqueio())
    eModoAbertura = EZelDataBase_ModoAbertura::eModoLeituraSemBloqueio;
  if (eModoAbertura == m_eModoAbertura && m_File.EstaAberto()) return S_OK;
  if (m_File.EstaAberto()) FechaArquivo();

  std::string sPathArquivo;
  HRESULT hr = CZelDataBaseUtil::GetPathArquivo(m_eModulo, GetEmpresa(), m_sNomeArquivo, &sPathArquivo);
  if (FAILED(hr)) {
    Traca("CZelFileBase::AbreArquivo", __LINE__,
          "hr = CZelDataBaseUtil::GetPathArquivo(m_eModulo, GetEmpresa(), m_sNomeArquivo, &sPathArquivo)", hr);
    return hr;
  }
  // A missing file is an empty table, and so is a directory in its place:
  // only an open that creates meets it.
  if (eModoAbertura != EZelDataBase_ModoAbertura::eModoLeituraGravacaoCriacao &&
      !CZelDataBaseUtil::ExisteArquivo(sPathArquivo))
    return S_OK;
  hr = m_ControleCriacaoArquivos.GerenciaControleCriacaoArquivos(eModoAbertura);
  if (FAILED(hr)) {
    Traca("CZelFileBase::AbreArquivo", __LINE__,
          "hr = m_ControleCriacaoArquivos.GerenciaControleCriacaoArquivos(eModoAbertura)", hr);
    return hr;
  }

  if (eModoAbertura == EZelDataBase_ModoAbertura::eModoLeituraGravacao) {
    // The suite's programs expect the name in its formatted spelling on disk.
    std::string sNoDisco = ZelResolveCaminho(sPathArquivo);
    std::string sFormatado = CZelDataBaseUtil::FormataNomeArquivo(sPathArquivo, true);
    if (ZelExisteArquivo(sNoDisco) && CZelPath::GetNome(sNoDisco) != CZelPath::GetNome(sFormatado)) {
      LONG lErro = ZelRenomeiaArquivo(sNoDisco, sFormatado, false);
      if (lErro != ERROR_SUCCESS) {
        CFileException ex(CFileException::ErroSOParaCausa(lErro), lErro, sNoDisco);
        hr = CatchInicializacao(&ex);
        return hr;
      }
    }
  }

  UINT nFlags = static_cast<UINT>(eModoAbertura);
  for (int nTentativa = 0;; ++nTentativa) {
    CFileException ex;
    if (m_File.Open(sPathArquivo, nFlags, &ex)) {
      m_eModoAbertura = eModoAbertura;
      m_bCabecalhoVerificado = false;
      return S_OK;
    }
    const char* szMnemonico = nullptr;
    switch (ex.m_cause) {
      case CFileException::badPath: hr = eBadPath, szMnemonico = "hr = eBadPath"; break;
      case CFileException::invalidFile: hr = eInvalidFile, szMnemonico = "hr = eInvalidFile"; break;
      case CFileException::directoryFull: hr = eDirectoryFull, szMnemonico = "hr = eDirectoryFull"; break;
      default: break;
    }
    if (szMnemonico == nullptr && nTentativa + 1 < kTentativasAbertura) {
      Sleep(ZelTempoMs(ZelTempo::kIntervaloRetentativaZelDataBase));
      continue;
    }
    if (szMnemonico == nullptr) {
      switch (ex.m_cause) {
        case CFileException::tooManyOpenFiles: hr = eTooManyOpenFiles, szMnemonico = "hr = eTooManyOpenFiles"; break;
        case CFileException::accessDenied:
          if (ZelSomenteLeitura(sPathArquivo))
            hr = eZelReadOnly, szMnemonico = "hr = eZelReadOnly";
          else
            hr = eAccessDenied, szMnemonico = "hr = eAccessDenied";
          break;
        case CFileException::sharingViolation: hr = eSharingViolation, szMnemonico = "hr = eSharingViolation"; break;
        case CFileException::lockViolation: hr = eLockViolation, szMnemonico = "hr = eLockViolation"; break;
        case CFileException::diskFull: hr = eDiskFull, szMnemonico = "hr = eDiskFull"; break;
        default: hr = eZelGenericError, szMnemonico = "hr = eZelGenericError"; break;
      }
    }
    Traca("CZelFileBase::AbreArquivo", __LINE__, szMnemonico, hr);
    return hr;
  }
}

void CZelFileBase::FechaArquivo() {
  m_File.Abort();
  m_eModoAbertura = EZelDataBase_ModoAbertura::eModoInvalido;
  m_bCabecalhoVerificado = false;
  m_bPossuiCabecalho = false;
}

bool CZelFileBase::PossuiCabecalho() {
  if (m_bCabecalhoVerificado) return m_bPossuiCabecalho;
  m_bPossuiCabecalho = false;
  std::memset(m_Cabecalho, 0, sizeof m_Cabecalho);
  if (!ExtensaoSemCabecalho(m_sNomeArquivo) &&
      !ZelNomesIguais(m_sNomeArquivo, ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS) && m_File.EstaAberto()) {
    UINT nLidos = 0;
    if (m_File.LeEm(0, m_Cabecalho, ZELDATABASE_BYTES_CABECALHO_LIDOS, &nLidos) == ERROR_SUCCESS &&
        nLidos == ZELDATABASE_BYTES_CABECALHO_LIDOS) {
      uint16_t usVersao = static_cast<uint16_t>(m_Cabecalho[0] | (m_Cabecalho[1] << 8));
      uint64_t crc1 = 0, crc2 = 0;
      for (int i = 7; i >= 0; --i) {
        crc1 = (crc1 << 8) | m_Cabecalho[8 + i];
        crc2 = (crc2 << 8) | m_Cabecalho[16 + i];
      }
      m_bPossuiCabecalho =
          usVersao != 0 && crc1 == ZelCrc64(m_Cabecalho, 2) && crc2 == ZelCrc64(m_Cabecalho + 8, 8);
    } else {
      std::memset(m_Cabecalho, 0, sizeof m_Cabecalho);
    }
  }
  m_bCabecalhoVerificado = m_File.EstaAberto();
  return m_bPossuiCabecalho;
}

ULONGLONG CZelFileBase::GetSeekCabecalho() {
  if (!PossuiCabecalho()) return 0;
  uint16_t usVersao = static_cast<uint16_t>(m_Cabecalho[0] | (m_Cabecalho[1] << 8));
  return usVersao == ZELDATABASE_VERSAO_ARQUIVO ? ZELDATABASE_TAMANHO_CABECALHO : 0;
}

HRESULT CZelFileBase::OnInicializa() {
  HRESULT hr = CZelInicializador::OnInicializa();
  if (FAILED(hr)) return hr;
  std::string sPathArquivo;
  hr = CZelDataBaseUtil::GetPathArquivo(m_eModulo, GetEmpresa(), m_sNomeArquivo, &sPathArquivo);
  if (FAILED(hr)) {
    Traca("CZelFileBase::OnInicializa", __LINE__,
          "hr = CZelDataBaseUtil::GetPathArquivo(m_eModulo, GetEmpresa(), m_sNomeArquivo, &sPathArquivo)", hr);
    return hr;
  }
  if (!ZelNomesIguais(m_sNomeArquivo, ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS)) {
    if (CZelDataBaseUtil::ExisteArquivo(CZelDataBaseUtil::TrocaExtensao(sPathArquivo, "tra"))) {
      Traca("CZelFileBase::OnInicializa", __LINE__, "hr = E_ZELCR_ARQUIVO_TRA_ENCONTRADO", E_ZELCR_ARQUIVO_TRA_ENCONTRADO);
      return E_ZELCR_ARQUIVO_TRA_ENCONTRADO;
    }
    if (CZelDataBaseUtil::ExisteArquivo(CZelDataBaseUtil::TrocaExtensao(sPathArquivo, "srk"))) {
      Traca("CZelFileBase::OnInicializa", __LINE__, "hr = E_ZELCR_ARQUIVO_SRK_ENCONTRADO", E_ZELCR_ARQUIVO_SRK_ENCONTRADO);
      return E_ZELCR_ARQUIVO_SRK_ENCONTRADO;
    }
  }
  hr = m_ControleCriacaoArquivos.Inicializa(this);
  if (FAILED(hr)) {
    Traca("CZelFileBase::OnInicializa", __LINE__, "hr = m_ControleCriacaoArquivos.Inicializa(this)", hr);
    return hr;
  }
  m_bCabecalhoVerificado = false;
  m_bPossuiCabecalho = false;
  return S_OK;
}

HRESULT CZelFileBase::OnFinaliza() {
  FechaArquivo();
  m_ControleCriacaoArquivos.Finaliza();
  HRESULT hr = CZelInicializador::OnFinaliza();
  if (FAILED(hr)) Traca("CZelFileBase::OnFinaliza", __LINE__, "hr = CZelInicializador::OnFinaliza()", hr);
  return hr;
}

HRESULT CZelFileBase::MarcaMudanca(CZelArqMarcaFila& marca) {
  return CZelDataBaseUtil::MarcaMudanca(marca, this, m_eModulo,
                                        m_pZelDataBase != nullptr ? m_pZelDataBase->OnGetEnumMarca() : 0);
}

HRESULT CZelFileBase::DeletaArquivo(bool bGerarLog) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelFileBase::DeletaArquivo", [&] { return ZelPares{{"bGerarLog", bGerarLog ? "1" : "0"}}; });
  std::unique_lock<std::shared_mutex> trava(m_lockArquivo);
  CZelArqMarcaFila marca(this);
  HRESULT hr = MarcaMudanca(marca);
  if (FAILED(hr)) {
    Traca("CZelFileBase::DeletaArquivo", __LINE__, "hr = MarcaMudanca(marcaFila)", hr);
    return hr;
  }
  CZelProfilerEmpresa zelProfiler(GetEmpresa(), GetUsuario(), GetNumeroSessao());
  FechaArquivo();
  hr = CZelDataBaseUtil::DeletaArquivo(&zelProfiler, m_eModulo, m_sNomeArquivo, GetFlagDeletaArquivo(), bGerarLog);
  if (FAILED(hr)) {
    Traca("CZelFileBase::DeletaArquivo", __LINE__,
          "hr = CZelDataBaseUtil::DeletaArquivo(this, m_eModulo, m_sNomeArquivo, GetFlagDeletaArquivo(), bGerarLog)", hr);
    return hr;
  }
  Finaliza();
  hr = Inicializa(&zelProfiler);
  if (FAILED(hr)) Traca("CZelFileBase::DeletaArquivo", __LINE__, "hr = Inicializa(&zelProfiler)", hr);
  return hr;
}

HRESULT CZelFileBase::RenomeiaArquivoEXT(const std::string& sExtensaoOrigem) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelFileBase::RenomeiaArquivoEXT", [&] { return ZelPares{{"sExtensaoOrigem", sExtensaoOrigem}}; });
  std::unique_lock<std::shared_mutex> trava(m_lockArquivo);
  CZelArqMarcaFila marca(this);
  HRESULT hr = MarcaMudanca(marca);
  if (FAILED(hr)) {
    Traca("CZelFileBase::RenomeiaArquivoEXT", __LINE__, "hr = MarcaMudanca(marcaFila)", hr);
    return hr;
  }
  CZelProfilerEmpresa zelProfiler(GetEmpresa(), GetUsuario(), GetNumeroSessao());
  FechaArquivo();
  hr = CZelDataBaseUtil::RenomeiaArquivoEXT(&zelProfiler, m_eModulo, m_sNomeArquivo, sExtensaoOrigem,
                                            ZELDATABASE_VERSAO_ARQUIVO,
                                            m_ControleCriacaoArquivos.GetControleCriacaoArquivosHabilitado());
  if (FAILED(hr)) {
    Traca("CZelFileBase::RenomeiaArquivoEXT", __LINE__,
          "hr = CZelDataBaseUtil::RenomeiaArquivoEXT(this, m_eModulo, m_sNomeArquivo, sExtensaoOrigem, "
          "ZELDATABASE_VERSAO_ARQUIVO, m_ControleCriacaoArquivos.GetControleCriacaoArquivosHabilitado())",
          hr);
    return hr;
  }
  Finaliza();
  hr = Inicializa(&zelProfiler);
  if (FAILED(hr)) Traca("CZelFileBase::RenomeiaArquivoEXT", __LINE__, "hr = Inicializa(&zelProfiler)", hr);
  return S_OK;
}

HRESULT CZelFileBase::CopiaArquivoPara(const std::string& sEmpresa, _ZelModulo zelModulo) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelFileBase::CopiaArquivoPara",
          [&] { return ZelPares{{"sEmpresa", sEmpresa}, {"zelModulo", std::to_string(zelModulo)}}; });
  return CopiaArquivoParaEXT(sEmpresa, zelModulo, CZelDataBaseUtil::GetExtensao(m_sNomeArquivo), true);
}

HRESULT CZelFileBase::CopiaArquivoParaEXT(const std::string& sEmpresa, _ZelModulo zelModulo,
                                          const std::string& sExtensao, bool bSubstitui) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelFileBase::CopiaArquivoParaEXT", [&] {
    return ZelPares{{"sEmpresa", sEmpresa},
                    {"zelModulo", std::to_string(zelModulo)},
                    {"sExtensao", sExtensao},
                    {"bSubstitui", bSubstitui ? "1" : "0"}};
  });
  CZelDataBase zelDB(zelModulo);
  zelDB.SetUsaConexaoDefault(true);
  CZelFileCopia destino(CZelDataBaseUtil::TrocaExtensao(m_sNomeArquivo, sExtensao), &zelDB);
  destino.DesabilitaControleCriacaoArquivos();
  HRESULT hr = zelDB.Inicializa(sEmpresa, PSEUDO_USUARIO, 0);
  if (FAILED(hr)) {
    Traca("CZelFileBase::CopiaArquivoParaEXT", __LINE__, "hr = zelDB.Inicializa(sEmpresa, PSEUDO_USUARIO, 0)", hr);
    return hr;
  }
  std::unique_lock<std::shared_mutex> trava(m_lockArquivo);
  CZelArqMarcaFila marca(this);
  hr = MarcaMudanca(marca);
  if (FAILED(hr)) {
    Traca("CZelFileBase::CopiaArquivoParaEXT", __LINE__, "hr = MarcaMudanca(marcaFila)", hr);
    return hr;
  }
  CZelProfilerEmpresa alvo(sEmpresa, PSEUDO_USUARIO, 0);
  hr = CZelDataBaseUtil::DeletaArquivo(&alvo, m_eModulo, m_sNomeArquivo, GetFlagDeletaArquivo());
  if (FAILED(hr)) {
    Traca("CZelFileBase::CopiaArquivoParaEXT", __LINE__,
          "hr = CZelDataBaseUtil::DeletaArquivo(&CZelProfilerEmpresa(sEmpresa, PSEUDO_USUARIO, 0), m_eModulo, "
          "m_sNomeArquivo, GetFlagDeletaArquivo())",
          hr);
    return hr;
  }
  hr = destino.AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacaoCriacao);
  if (FAILED(hr)) {
    Traca("CZelFileBase::CopiaArquivoParaEXT", __LINE__, "hr = destino.AbreArquivo(eModoLeituraGravacaoCriacao)", hr);
    return hr;
  }
  if (m_File.EstaAberto()) {
    std::vector<BYTE> buf(1 << 16);
    ULONGLONG nOffset = 0;
    for (;;) {
      UINT nLidos = 0;
      LONG lErro = m_File.LeEm(nOffset, buf.data(), static_cast<UINT>(buf.size()), &nLidos);
      if (lErro == ERROR_SUCCESS && nLidos > 0) lErro = destino.GravaBytes(nOffset, buf.data(), nLidos);
      if (lErro != ERROR_SUCCESS) {
        CFileException ex(CFileException::ErroSOParaCausa(lErro), lErro, m_sNomeArquivo);
        return CatchGravacao(&ex);
      }
      if (nLidos == 0) break;
      nOffset += nLidos;
    }
  }
  hr = zelDB.Finaliza();
  if (FAILED(hr)) Traca("CZelFileBase::CopiaArquivoParaEXT", __LINE__, "hr = zelDB.Finaliza()", hr);
  return hr;
}

HRESULT CZelFileBase::ConfereLeitura(const char* szFuncao, ZelUInt uiPosicao, ZelUInt uiQuantidade, bool bColecao,
                                     ZelUInt uiQtdRegistros, int nTamanhoRegistro) const {
  if (uiPosicao == 0 && !bColecao) {
    Traca(szFuncao, __LINE__, "hr = E_ZELCR_TENTATIVA_LER_POSICAO_ZERO", E_ZELCR_TENTATIVA_LER_POSICAO_ZERO);
    return E_ZELCR_TENTATIVA_LER_POSICAO_ZERO;
  }
  if (uiPosicao == 0 || uiQuantidade == 0) {
    Traca(szFuncao, __LINE__, "hr = E_ZELCR_INCONSISTENCIA_CHAVE_QUANTIDADE", E_ZELCR_INCONSISTENCIA_CHAVE_QUANTIDADE);
    return E_ZELCR_INCONSISTENCIA_CHAVE_QUANTIDADE;
  }
  if (!m_File.EstaAberto()) {
    Traca(szFuncao, __LINE__, "hr = E_ZELCR_ARQUIVO_NAO_EXISTE", E_ZELCR_ARQUIVO_NAO_EXISTE);
    return E_ZELCR_ARQUIVO_NAO_EXISTE;
  }
  if (uiPosicao > uiQtdRegistros || uiQuantidade > uiQtdRegistros - uiPosicao + 1) {
    ZelTracePosicao(this, szFuncao, kFonte, __LINE__, E_ZELCR_POSICAO_LEITURA_SUPERIOR_QUANTIDADE_ARQUIVO,
                    m_sNomeArquivo, static_cast<int>(uiPosicao), nTamanhoRegistro,
                    static_cast<int64_t>(uiQtdRegistros));
    return E_ZELCR_POSICAO_LEITURA_SUPERIOR_QUANTIDADE_ARQUIVO;
  }
  return S_OK;
}

HRESULT CZelFileBase::PreparaGravacao(const char* szFuncao, CZelArqMarcaFila& marca, ZelUInt uiPosicao,
                                      ZelUInt uiQtdRegistros, int nTamanhoRegistro) {
  HRESULT hr = MarcaMudanca(marca);
  if (FAILED(hr)) {
    Traca(szFuncao, __LINE__, "hr = MarcaMudanca(marcaFila)", hr);
    return hr;
  }
  if (uiPosicao > uiQtdRegistros) {
    ZelTracePosicao(this, szFuncao, kFonte, __LINE__, E_ZELCR_POSICAO_GRAVACAO_SUPERIOR_QUANTIDADE_ARQUIVO,
                    m_sNomeArquivo, static_cast<int>(uiPosicao), nTamanhoRegistro,
                    static_cast<int64_t>(uiQtdRegistros));
    return E_ZELCR_POSICAO_GRAVACAO_SUPERIOR_QUANTIDADE_ARQUIVO;
  }
  return S_OK;
}

HRESULT CZelFileBase::GravaComRetentativas(const char* szFuncao, const char* szExpressao,
                                           const std::function<HRESULT()>& fnGrava) {
  HRESULT hr = AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacaoCriacao);
  if (FAILED(hr)) {
    Traca(szFuncao, __LINE__, "hr = AbreArquivo(eModoLeituraGravacaoCriacao)", hr);
    return hr;
  }
  for (int i = 1; i <= kTentativasGravacao; ++i) {
    hr = fnGrava();
    if (SUCCEEDED(hr)) break;
    Traca(szFuncao, __LINE__, szExpressao, hr);
    if (EhUmaExcecaoFatal(hr) || i == kTentativasGravacao) break;
    Sleep(ZelTempoMs(ZelTempo::kIntervaloRetentativaZelDataBase));
  }
  return hr;
}

HRESULT CZelFileBase::RecriaComConteudo(const char* szFuncao, bool bGerarLog, const std::function<HRESULT()>& fnGrava) {
  CZelProfilerEmpresa empresa(GetEmpresa(), GetUsuario(), GetNumeroSessao());
  Finaliza();
  HRESULT hr =
      CZelDataBaseUtil::DeletaArquivo(&empresa, m_eModulo, m_sNomeArquivo, GetFlagDeletaArquivo(), bGerarLog);
  if (FAILED(hr)) {
    Traca(szFuncao, __LINE__,
          "hr = CZelDataBaseUtil::DeletaArquivo(&empresa, m_eModulo, m_sNomeArquivo, GetFlagDeletaArquivo(), bGerarLog)",
          hr);
    return hr;
  }
  hr = Inicializa(&empresa);
  if (FAILED(hr)) {
    Traca(szFuncao, __LINE__, "hr = Inicializa(&empresa)", hr);
    return hr;
  }
  hr = AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacaoCriacao);
  if (FAILED(hr)) {
    Traca(szFuncao, __LINE__, "hr = AbreArquivo(eModoLeituraGravacaoCriacao)", hr);
    return hr;
  }
  return fnGrava();
}

HRESULT CZelFileBase::MapeiaExcecao(CFileException* pEx, const char* szFuncao, int nLinha) {
  HRESULT hr = eZelGenericError;
  const char* szMnemonico = "eZelGenericError";
  for (const auto& c : kCausas)
    if (pEx != nullptr && c.nCausa == pEx->m_cause) hr = c.hr, szMnemonico = c.szMnemonico;
  std::string sExpressao = std::string("hr = ") + szMnemonico;
  Traca(szFuncao, nLinha, sExpressao.c_str(), hr);
  return hr;
}

HRESULT CZelFileBase::CatchInicializacao(CFileException* pEx) {
  return MapeiaExcecao(pEx, "CZelFileBase::CatchInicializacao", __LINE__);
}

HRESULT CZelFileBase::CatchGravacao(CFileException* pEx) {
  return MapeiaExcecao(pEx, "CZelFileBase::CatchGravacao", __LINE__);
}

bool CZelFileBase::EhUmaExcecaoFatal(HRESULT hr) {
  return hr == eBadSeek || hr == eEndOfFile || hr == eHardIO || hr == eFileNotFound || hr == eBadPath ||
         hr == E_ZELCR_INDEXACAO_COM_POSICAO_ZERO || hr == E_ZELCR_CHAVE_DE_INDEXACAO_REPETIDA;
}
