#include "ZelDataBaseControleCriacaoArquivos.h"

#include "ZelArqMarcaFila.h"
#include "ZelArquivo.h"
#include "ZelCatalogoModulos.h"
#include "ZelDataBase.h"
#include "ZelDataBaseUtil.h"
#include "ZelProfiler.h"
#include "ZelTempo.h"
#include "ZelTextFile.h"

namespace {
constexpr const char* kFonte = "ZelDataBaseControleCriacaoArquivos";

// The list holds the file's name.
bool ListaContem(const CZelTextFile& lista, const std::string& sNome) {
  for (const auto& r : *lista.GetPtrRegistros())
    if (ZelNomesIguais(r.sTexto, sNome)) return true;
  return false;
}
}  // namespace

bool CZelDataBaseControleCriacaoArquivos::NomeSemControle(const std::string& sNomeArquivo) {
  std::string sExt = CZelDataBaseUtil::GetExtensao(sNomeArquivo);
  return ZelNomesIguais(sExt, "cab") || ZelNomesIguais(sExt, "srk") || ZelNomesIguais(sExt, "tra") ||
         ZelNomesIguais(sNomeArquivo, ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS);
}

HRESULT CZelDataBaseControleCriacaoArquivos::GerenciaControleCriacaoArquivos(EZelDataBase_ModoAbertura eModoAbertura) {
  if (eModoAbertura != EZelDataBase_ModoAbertura::eModoLeituraGravacao || m_bDesabilitado ||
      NomeSemControle(m_sNomeArquivo))
    return S_OK;
  return CriaControleCriacaoArquivos();
}

HRESULT CZelDataBaseControleCriacaoArquivos::PossuiControleCriacaoArquivos(bool* pbPossui) {
  *pbPossui = false;
  CZelDataBase zelDB(m_eModulo);
  zelDB.SetUsaConexaoDefault(true);
  zelDB.HabilitaAcessoPonteiros();
  zelDB.HabilitaLeituraSemBloqueio();
  CZelTextFile lista(ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS, &zelDB);
  HRESULT hr = zelDB.Inicializa(this);
  if (FAILED(hr)) {
    ZelTraceHR(this, "CZelDataBaseControleCriacaoArquivos::PossuiControleCriacaoArquivos", kFonte, __LINE__,
               "hr = zelDB.Inicializa(this)", "hr", hr);
    return hr;
  }
  *pbPossui = ListaContem(lista, m_sNomeArquivo);
  return zelDB.Finaliza();
}

HRESULT CZelDataBaseControleCriacaoArquivos::CriaControleCriacaoArquivos() {
  bool bPossui = false;
  HRESULT hr = PossuiControleCriacaoArquivos(&bPossui);
  if (FAILED(hr) || bPossui) return hr;
  auto existe = [this](HRESULT* phr) {
    std::string sPathArquivo;
    *phr = CZelDataBaseUtil::GetPathArquivo(m_eModulo, GetEmpresa(), m_sNomeArquivo, &sPathArquivo);
    if (FAILED(*phr)) return false;
    if (CZelDataBaseUtil::ExisteArquivo(sPathArquivo)) return true;
    *phr = E_ZELCR_INCONSISTENCIA_CONTROLE_CRIACAO_ARQUIVOS;
    ZelTraceHR(this, "CZelDataBaseControleCriacaoArquivos::CriaControleCriacaoArquivos", kFonte, __LINE__,
               "hr = E_ZELCR_INCONSISTENCIA_CONTROLE_CRIACAO_ARQUIVOS", "hr", *phr);
    return false;
  };
  if (!existe(&hr)) return hr;

  CZelArqMarcaFila marca(this);
  marca.SetTimeOut(ZelTempo::kEsperaMarcaFilaLonga);
  hr = ExecutaMarcaDiretorio(marca);
  if (FAILED(hr)) return hr;
  hr = PossuiControleCriacaoArquivos(&bPossui);
  if (FAILED(hr) || bPossui) return hr;
  if (!existe(&hr)) return hr;

  CZelDataBase zelDB(m_eModulo);
  zelDB.SetUsaConexaoDefault(true);
  CZelTextFile lista(ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS, &zelDB);
  hr = zelDB.Inicializa(this);
  ZelUInt uiPosicao = ZELDATABASE_POSICAO_NOVO_REGISTRO;
  if (SUCCEEDED(hr)) hr = lista.Grava(uiPosicao, m_sNomeArquivo.c_str());
  if (FAILED(hr)) {
    ZelTraceHR(this, "CZelDataBaseControleCriacaoArquivos::CriaControleCriacaoArquivos", kFonte, __LINE__,
               "hr = zelTextFile.Grava(uiPosicao, m_sNomeArquivo.c_str())", "hr", hr);
    return hr;
  }
  return zelDB.Finaliza();
}

HRESULT CZelDataBaseControleCriacaoArquivos::RemoveControleCriacaoArquivos() {
  std::string sPathLista;
  HRESULT hr =
      CZelDataBaseUtil::GetPathArquivo(m_eModulo, GetEmpresa(), ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS, &sPathLista);
  if (FAILED(hr)) return hr;
  CZelArqMarcaFila marca(this);
  marca.SetTimeOut(ZelTempo::kEsperaMarcaFilaLonga);
  hr = ExecutaMarcaDiretorio(marca);
  if (FAILED(hr)) return hr;
  if (CZelDataBaseUtil::ExisteArquivo(CZelDataBaseUtil::TrocaExtensao(sPathLista, "tra"))) {
    ZelTraceHR(this, "CZelDataBaseControleCriacaoArquivos::RemoveControleCriacaoArquivos", kFonte, __LINE__,
               "hr = E_ZELCR_ARQUIVO_TRA_ENCONTRADO", "hr", E_ZELCR_ARQUIVO_TRA_ENCONTRADO);
    return E_ZELCR_ARQUIVO_TRA_ENCONTRADO;
  }
  {
    CZelDataBase zelDB(m_eModulo);
    zelDB.SetUsaConexaoDefault(true);
    zelDB.DesabilitaControleCriacaoArquivos();
    CZelTextFile lista(ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS, &zelDB);
    CZelTextFile listaNova(CZelDataBaseUtil::TrocaExtensao(ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS, "tra"),
                           &zelDB);
    hr = zelDB.Inicializa(this);
    if (FAILED(hr)) return hr;
    // A list without the name stays as it is, unless it is empty: the
    // transfer below then removes it.
    if (!ListaContem(lista, m_sNomeArquivo) && lista.GetQtdRegistros() > 0) return zelDB.Finaliza();
    std::vector<std::string> aRegistrosNew;
    for (const auto& r : *lista.GetPtrRegistros())
      if (!ZelNomesIguais(r.sTexto, m_sNomeArquivo)) aRegistrosNew.push_back(r.sTexto);
    // No name left writes no sibling, and the transfer deletes the list.
    ZelUInt uiPosicao = ZELDATABASE_POSICAO_NOVO_REGISTRO;
    hr = listaNova.GravaColecao(uiPosicao, aRegistrosNew);
    if (FAILED(hr)) {
      ZelTraceHR(this, "CZelDataBaseControleCriacaoArquivos::RemoveControleCriacaoArquivos", kFonte, __LINE__,
                 "hr = zelFileNew.GravaColecao(uiPosicao, aRegistrosNew)", "hr", hr);
      return hr;
    }
    hr = zelDB.Finaliza();
    if (FAILED(hr)) return hr;
  }
  return CZelDataBaseUtil::RenomeiaArquivoTRA(this, m_eModulo, ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS);
}

HRESULT CZelDataBaseControleCriacaoArquivos::ExecutaMarcaDiretorio(CZelArqMarcaFila& marca) {
  std::string sDiretorioMarca;
  HRESULT hr = CZelDataBaseUtil::GetPathDados(m_eModulo, GetEmpresa(), &sDiretorioMarca);
  if (FAILED(hr)) return hr;
  int iRetorno = marca.Marca(sDiretorioMarca, IZelArqMarcaEnum::ControleCriacaoArquivosInMemory,
                             CZelCatalogoModulos::GetCodigo(m_eModulo));
  return iRetorno == 0 ? S_OK : static_cast<HRESULT>(static_cast<uint32_t>(iRetorno) | 0x80040000u);
}
