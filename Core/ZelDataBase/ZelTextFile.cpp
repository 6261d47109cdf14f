#include "ZelTextFile.h"

#include <cstring>
#include <mutex>

#include "ZelArqMarcaFila.h"
#include "ZelDataBaseUtil.h"
#include "ZelException.h"
#include "ZelProfiler.h"

namespace {
constexpr const char* kFonte = "ZelTextFile";

void TracaTexto(const IZelDF_Profiler* p, const char* szFuncao, int nLinha, const char* szExpressao, HRESULT hr) {
  ZelTraceHR(p, szFuncao, kFonte, nLinha, szExpressao, "hr", hr);
}

std::string Serializa(const std::vector<std::string>& aTextos) {
  std::string s;
  for (const auto& t : aTextos) {
    uint32_t n = static_cast<uint32_t>(t.size());
    char c[4] = {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16), static_cast<char>(n >> 24)};
    s.append(c, 4);
    s += t;
  }
  return s;
}
}  // namespace

HRESULT CZelTextFile::OnInicializa() {
  HRESULT hr = CZelFileBase::OnInicializa();
  if (FAILED(hr)) return hr;
  hr = AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacao);
  if (FAILED(hr)) {
    TracaTexto(this, "CZelTextFile::OnInicializa", __LINE__, "hr = AbreArquivo(eModoLeituraGravacao)", hr);
    return hr;
  }
  m_aRegistros.clear();
  if (!m_File.EstaAberto()) return S_OK;
  std::string sDados;
  try {
    ULONGLONG nTamanho = m_File.GetLength();
    sDados.resize(nTamanho);
    UINT nLidos = 0;
    LONG lErro = nTamanho == 0 ? ERROR_SUCCESS : m_File.LeEm(0, sDados.data(), static_cast<UINT>(nTamanho), &nLidos);
    if (lErro != ERROR_SUCCESS) AfxThrowFileException(CFileException::ErroSOParaCausa(lErro), lErro, m_sNomeArquivo);
    sDados.resize(nLidos);
  } catch (CFileException* pEx) {
    hr = CatchInicializacao(pEx);
    pEx->Delete();
    return hr;
  }
  for (size_t i = 0; i < sDados.size();) {
    if (sDados.size() - i < 4) {
      m_aRegistros.clear();
      TracaTexto(this, "CZelTextFile::OnInicializa", __LINE__, "hr = E_ZELCR_ARQUIVO_TEXTO_QUANTIDADE_CARACTERES_INVALIDA",
            E_ZELCR_ARQUIVO_TEXTO_QUANTIDADE_CARACTERES_INVALIDA);
      return E_ZELCR_ARQUIVO_TEXTO_QUANTIDADE_CARACTERES_INVALIDA;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(sDados.data() + i);
    uint32_t n = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    if (n > sDados.size() - i - 4) {
      m_aRegistros.clear();
      TracaTexto(this, "CZelTextFile::OnInicializa", __LINE__, "hr = E_ZELCR_ARQUIVO_TEXTO_QUANTIDADE_CARACTERES_INVALIDA",
            E_ZELCR_ARQUIVO_TEXTO_QUANTIDADE_CARACTERES_INVALIDA);
      return E_ZELCR_ARQUIVO_TEXTO_QUANTIDADE_CARACTERES_INVALIDA;
    }
    m_aRegistros.push_back({i, sDados.substr(i + 4, n)});
    i += 4 + n;
  }
  return S_OK;
}

HRESULT CZelTextFile::OnFinaliza() {
  std::vector<Registro>().swap(m_aRegistros);
  return CZelFileBase::OnFinaliza();
}

HRESULT CZelTextFile::Le(ZelUInt uiPosicao, std::string* psTexto) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelTextFile::Le", [&] { return ZelPares{{"uiPosicao", std::to_string(uiPosicao)}}; });
  psTexto->clear();
  std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
  HRESULT hr = ConfereLeitura("CZelTextFile::Le", uiPosicao, 1, false, m_aRegistros.size(), 0);
  if (FAILED(hr)) return hr;
  *psTexto = m_aRegistros[uiPosicao - 1].sTexto;
  return S_OK;
}

HRESULT CZelTextFile::LeColecao(ZelUInt uiPosicao, ZelUInt uiQuantidade, std::vector<std::string>& aTextos) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelTextFile::LeColecao", [&] {
    return ZelPares{{"uiPosicao", std::to_string(uiPosicao)}, {"uiQuantidade", std::to_string(uiQuantidade)}};
  });
  aTextos.clear();
  if (uiPosicao == 0 && uiQuantidade == 0) return S_OK;
  std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
  HRESULT hr = ConfereLeitura("CZelTextFile::LeColecao", uiPosicao, uiQuantidade, true, m_aRegistros.size(), 0);
  if (FAILED(hr)) return hr;
  for (ZelUInt p = uiPosicao; p < uiPosicao + uiQuantidade; ++p) aTextos.push_back(m_aRegistros[p - 1].sTexto);
  return S_OK;
}

HRESULT CZelTextFile::Grava(ZelUInt& uiPosicao, const char* szTexto) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelTextFile::Grava", [&] { return ZelPares{{"uiPosicao", std::to_string(uiPosicao)}}; });
  HRESULT hr = GravaColecao(uiPosicao, std::vector<std::string>{szTexto != nullptr ? szTexto : ""});
  if (FAILED(hr)) TracaTexto(this, "CZelTextFile::Grava", __LINE__, "hr = GravaColecao(uiPosicao, aTextos)", hr);
  return hr;
}

bool CZelTextFile::PrecisaGravar(ZelUInt uiPosicao, const std::vector<std::string>& aTextos) const {
  if (uiPosicao == 0 || uiPosicao - 1 + aTextos.size() > m_aRegistros.size()) return true;
  for (size_t j = 0; j < aTextos.size(); ++j)
    if (m_aRegistros[uiPosicao - 1 + j].sTexto != aTextos[j]) return true;
  return false;
}

HRESULT CZelTextFile::GravaColecao(ZelUInt& uiPosicao, const std::vector<std::string>& aTextos) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelTextFile::GravaColecao", [&] {
    return ZelPares{{"uiPosicao", std::to_string(uiPosicao)}, {"uiQuantidade", std::to_string(aTextos.size())}};
  });
  if (aTextos.empty()) return S_OK;
  std::unique_lock<std::shared_mutex> trava(m_lockArquivo);
  CZelArqMarcaFila marca(this);
  HRESULT hr = PreparaGravacao("CZelTextFile::GravaColecao", marca, uiPosicao, m_aRegistros.size(), 0);
  if (FAILED(hr) || !PrecisaGravar(uiPosicao, aTextos)) return hr;
  return GravaComRetentativas("CZelTextFile::GravaColecao", "hr = GravaRegistros(uiPosicao, aTextos)",
                              [&] { return GravaRegistros(uiPosicao, aTextos); });
}

HRESULT CZelTextFile::GravaRegistros(ZelUInt& uiPosicao, const std::vector<std::string>& aTextos) {
  // Records have their own lengths: an overwrite rewrites from its first
  // record to the end of the file, keeping the records after the range.
  ZelUInt uiInicio = uiPosicao == 0 ? m_aRegistros.size() + 1 : uiPosicao;
  std::vector<std::string> aCauda(aTextos);
  for (ZelUInt p = uiInicio + aTextos.size(); p <= m_aRegistros.size(); ++p) aCauda.push_back(m_aRegistros[p - 1].sTexto);
  ULONGLONG nOffset = 0;
  if (uiInicio <= m_aRegistros.size())
    nOffset = m_aRegistros[uiInicio - 1].nOffset;
  else if (!m_aRegistros.empty())
    nOffset = m_aRegistros.back().nOffset + 4 + m_aRegistros.back().sTexto.size();
  std::string sBytes = Serializa(aCauda);
  LONG lErro = m_File.GravaEm(nOffset, sBytes.data(), static_cast<UINT>(sBytes.size()));
  if (lErro == ERROR_SUCCESS) {
    try {
      m_File.SetLength(nOffset + sBytes.size());
    } catch (CFileException* pEx) {
      lErro = pEx->m_lOsError;
      pEx->Delete();
    }
  }
  if (lErro != ERROR_SUCCESS) {
    CFileException ex(CFileException::ErroSOParaCausa(lErro), lErro, m_sNomeArquivo);
    return CatchGravacao(&ex);
  }
  m_aRegistros.resize(uiInicio - 1);
  for (auto& sTexto : aCauda) {
    m_aRegistros.push_back({nOffset, sTexto});
    nOffset += 4 + sTexto.size();
  }
  uiPosicao = uiInicio;
  return S_OK;
}

HRESULT CZelTextFile::SetConteudo(const std::vector<std::string>& aTextos, bool bGerarLog) {
  CZelProfiler prof(this);
  Entrada(prof, "CZelTextFile::SetConteudo", [&] {
    return ZelPares{{"uiQuantidade", std::to_string(aTextos.size())}, {"bGerarLog", bGerarLog ? "1" : "0"}};
  });
  std::unique_lock<std::shared_mutex> trava(m_lockArquivo);
  CZelArqMarcaFila marca(this);
  HRESULT hr = PreparaGravacao("CZelTextFile::SetConteudo", marca, 0, m_aRegistros.size(), 0);
  if (FAILED(hr)) return hr;
  bool bIgual = aTextos.size() == m_aRegistros.size();
  for (size_t j = 0; bIgual && j < aTextos.size(); ++j) bIgual = aTextos[j] == m_aRegistros[j].sTexto;
  if (bIgual) return S_OK;
  hr = RecriaComConteudo("CZelTextFile::SetConteudo", bGerarLog, [&] {
    ZelUInt uiPosicao = ZELDATABASE_POSICAO_NOVO_REGISTRO;
    return aTextos.empty() ? S_OK : GravaRegistros(uiPosicao, aTextos);
  });
  if (FAILED(hr)) TracaTexto(this, "CZelTextFile::SetConteudo", __LINE__, "hr = GravaRegistros(uiPosicao, aTextos)", hr);
  return hr;
}
