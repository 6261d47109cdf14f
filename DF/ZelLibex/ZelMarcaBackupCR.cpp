#include "ZelMarcaBackupCR.h"

#include "ZelArquivo.h"
#include "ZelPath.h"
#include "ZelProfiler.h"

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
