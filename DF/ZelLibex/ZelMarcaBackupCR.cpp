#include "ZelMarcaBackupCR.h"

#include "ZelPath.h"
#include "ZelProfiler.h"
#include "ZelRegistro.h"
#include "ZelSistema.h"
#include "ZelTempo.h"

void ZelGravaMarcaBackupCR(const IZelDF_Profiler* pProfiler, const char* szFuncao, const char* szFonte, int nLinha,
                           const std::string& sPath, const std::string& sNomeLog) {
  const std::string sDadosDF = CZelPath::GetDiretorioDadosModulo(std::string("DF"), CZelPath::GetNomeEmpresaLogada());
  const std::string sDiretorio = CZelPath::Junta(CZelPath::GetPai(sDadosDF), "BackupCRZel");
  const std::string sMarca = CZelPath::Junta(sDiretorio, CZelPath::GetTitulo(sPath) + ".crbkp");
  if (!ZelExisteDiretorio(sDiretorio)) ZelCriaDiretorio(sDiretorio);
  // One exclusive create: a marker that is already there is left as it is.
  const LONG lErro = ZelCriaArquivoNovo(sMarca);
  if (lErro == ERROR_SUCCESS || lErro == ERROR_FILE_EXISTS) return;
  ZelGravaLinhaErro(pProfiler, szFuncao, szFonte, nLinha, "Erro ao gravar arquivo %s backup para o CR. Erro: %d",
                    sNomeLog.c_str(), static_cast<int>(lErro));
}

void CZelChavesGravacao::Le(bool* pbBackup, bool* pbRefresh) {
  std::lock_guard<std::mutex> trava(m_trava);
  const uint64_t ullAgora = GetTickCount64();
  if (!m_bLidas || ullAgora - m_ullLeitura >= ZelTempoMs(ZelTempo::kRefrescoChavesGravacao)) {
    m_bBackup = ZelLeChaveZel("HabilitaArquivoCRBackup") == 1;
    m_bRefresh = ZelLeChaveZel("HabilitaLastWriteRefresh") == 1;
    m_bLidas = true;
    m_ullLeitura = ullAgora;
  }
  *pbBackup = m_bBackup;
  *pbRefresh = m_bRefresh;
}

void CZelChavesGravacao::Rele() {
  std::lock_guard<std::mutex> trava(m_trava);
  m_bLidas = false;
}

void ZelDepoisDeGravar(CZelChavesGravacao& chaves, CFile& arquivo, const IZelDF_Profiler* pProfiler,
                       const char* szFuncao, const char* szFonte, int nLinha, const std::string& sNome) {
  bool bBackup = false, bRefresh = false;
  chaves.Le(&bBackup, &bRefresh);
  if (bBackup) ZelGravaMarcaBackupCR(pProfiler, szFuncao, szFonte, nLinha, sNome, sNome);
  if (!bRefresh) return;
  const LONG lErro = arquivo.AtualizaUltimaGravacao();
  if (lErro != ERROR_SUCCESS)
    ZelGravaLinhaErro(pProfiler, szFuncao, szFonte, nLinha, "Erro ao gravar o file time do arquivo %s. Erro: %d",
                      sNome.c_str(), static_cast<int>(lErro));
}
