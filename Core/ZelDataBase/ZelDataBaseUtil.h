// Stateless services of the engine: where a database file lives, how names
// are written, deleting and replacing files with retries and an audit trail.
#pragma once

#include <string>

#include "ZelDataBaseDefs.h"
#include "ZelInicializador.h"

class CZelArqMarcaFila;

class CZelDataBaseUtil {
 public:
  static HRESULT GetPathDados(_ZelModulo eModulo, const std::string& sEmpresa, std::string* psDiretorio);
  static HRESULT GetPathArquivo(_ZelModulo eModulo, const std::string& sEmpresa, const std::string& sNomeArquivo,
                                std::string* psPathArquivo);
  // Directory (only when asked), name before the last dot in upper case,
  // a dot, the extension in lower case.
  static std::string FormataNomeArquivo(const std::string& sNome, bool bMantemDiretorio);
  static std::string ModoAberturaToString(EZelDataBase_ModoAbertura eModo);
  // A path exists when it can be opened, or fails for a reason other than
  // being absent, and it is not a directory.
  static bool ExisteArquivo(const std::string& sPath);
  // The same path with another extension.
  static std::string TrocaExtensao(const std::string& sPath, const std::string& sExtensao);
  static std::string GetExtensao(const std::string& sNome);

  // uiFlag 2: also leaves the creation-control list; 1: deletes the
  // directory's "ZELCTLARQ.dat"; 0: nothing more.
  static HRESULT DeletaArquivo(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo, const std::string& sNomeArquivo,
                               ZelUInt uiFlag, bool bGerarLog = true);
  static HRESULT DeletaDiretorio(const std::string& sDiretorio, const std::string& sMascara);
  // The sibling with extension sExtensaoOrigem replaces the file; without a
  // sibling the file is deleted.
  static HRESULT RenomeiaArquivoEXT(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo,
                                    const std::string& sNomeArquivo, const std::string& sExtensaoOrigem,
                                    ZelUShort usVersao, bool bControleCriacao);
  static HRESULT RenomeiaArquivoTRA(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo,
                                    const std::string& sNomeArquivo, ZelUShort usVersao = ZELDATABASE_VERSAO_ARQUIVO);
  static HRESULT RenomeiaArquivoSRK(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo,
                                    const std::string& sNomeArquivo, ZelUShort usVersao = ZELDATABASE_VERSAO_ARQUIVO);
  static HRESULT RenomeiaArquivoCAB(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo,
                                    const std::string& sNomeArquivo, ZelUShort usVersao = ZELDATABASE_VERSAO_ARQUIVO);

  // Whether changes mark the data directory first ("HabilitaMarcaMutexZelBackup"
  // with the backup marker, or the marker that always asks for it; each read
  // once per process).
  static bool DeveMarcarMudancas();
  static void ReleCondicaoMarca();
  // Marks the database directory when the condition holds; a non-zero
  // result of the queue comes back as iRetorno | 0x80040000.
  static HRESULT MarcaMudanca(CZelArqMarcaFila& marca, const IZelDF_Profiler* pProfiler, _ZelModulo eModulo,
                              int nTipoMarca);

  // Through a temporary database; defined in ZelDataBaseUtilT.h.
  template <class T>
  static HRESULT LeSingleReg(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo, T* pReg, const std::string& sArquivo);
  template <class T>
  static HRESULT GravaSingleReg(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo, const T& reg,
                                const std::string& sArquivo);
  template <class T>
  static HRESULT RemoveRegistroZero(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo,
                                    const std::string& sNomeArquivo);

 private:
  static HRESULT DeletaCaminho(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo, const std::string& sPath,
                               const std::string& sNome, ZelUInt uiFlag, bool bGerarLog);
  static HRESULT RenomeiaUm(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo, const std::string& sNomeArquivo,
                            const std::string& sExtensaoOrigem, bool bControleCriacao);
};
