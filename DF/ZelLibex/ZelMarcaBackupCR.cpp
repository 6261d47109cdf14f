#include "ZelMarcaBackupCR.h"

#include "ZelArquivo.h"
#include "ZelPath.h"
#include "ZelProfiler.h"

void ZelGravaMarcaBackupCR(const IZelDF_Profiler* pProfiler, const char* szFuncao, const char* szFonte, int nLinha,
                           const std::string& sPath, const std::string& sNomeLog) {
  const std::string sDadosDF = CZelPath::GetDiretorioDadosModulo(std::string("DF"), CZelPath::GetNomeEmpresaLogada());
  const std::string sDiretorio = CZelPath::Junta(CZelPath::GetPai(sDadosDF), "BackupCRZel");
  const std::string sMarca = CZelPath::Junta(sDiretorio, CZelPath::GetTitulo(sPath) + ".crbkp");
  if (!ZelExisteDiretorio(sDiretorio)) ZelCriaDiretorio(sDiretorio, true);
  // Two writers racing past this test both create the same empty file.
  if (ZelExisteArquivo(sMarca)) return;
  CFile marca;
  CFileException erro;
  if (!marca.Open(sMarca, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive, &erro)) {
    ZelGravaLinhaErro(pProfiler, szFuncao, szFonte, nLinha, "Erro ao gravar arquivo %s backup para o CR. Erro: %d",
                      sNomeLog.c_str(), static_cast<int>(erro.m_lOsError));
    return;
  }
  marca.Abort();
}
