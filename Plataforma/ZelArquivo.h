// The framework file class and the file-system helpers. File names resolve
// case-insensitively, component by component, when the exact name is absent.
// Share modes: an open with write access (unless shareDenyNone) holds an
// open-file-description lock on a sentinel byte far beyond any real offset, so
// at most one writing open of a file exists across objects, threads and
// processes; reading opens never lock and are never refused. A conflict is
// the sharingViolation cause (ERROR_SHARING_VIOLATION).
//
// A CFile object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "ZelCom.h"

// Framework exception base: thrown by pointer, released with Delete().
class CException {
 public:
  virtual ~CException() = default;
  void Delete() { delete this; }
  virtual std::string GetErrorMessage() const { return {}; }
};

class CMemoryException : public CException {};
class CInvalidArgException : public CException {};

class CFileException : public CException {
 public:
  enum {
    none,
    genericException,
    fileNotFound,
    badPath,
    tooManyOpenFiles,
    accessDenied,
    invalidFile,
    removeCurrentDir,
    directoryFull,
    badSeek,
    hardIO,
    sharingViolation,
    lockViolation,
    diskFull,
    endOfFile
  };

  explicit CFileException(int cause = none, LONG lOsError = -1, std::string sNome = {})
      : m_cause(cause), m_lOsError(lOsError), m_strFileName(std::move(sNome)) {}

  std::string GetErrorMessage() const override;

  // The one errno table: the Windows error an errno stands for, and its cause.
  static LONG ErrnoParaErroSO(int nErrno);
  static int ErroSOParaCausa(LONG lOsError);

  int m_cause;
  LONG m_lOsError;  // Windows system error code
  std::string m_strFileName;
};

[[noreturn]] void AfxThrowFileException(int cause, LONG lOsError = -1, const std::string& sNome = {});

class CFile {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeBinary = 0x8000,
  };
  enum SeekPosition { begin = 0, current = 1, end = 2 };

  CFile() = default;
  virtual ~CFile();
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // False with *pError filled on failure; never throws.
  virtual BOOL Open(const std::string& sNome, UINT nOpenFlags, CFileException* pError = nullptr);
  // The following throw CFileException* on failure.
  virtual UINT Read(void* pBuf, UINT nCount);
  virtual void Write(const void* pBuf, UINT nCount);
  virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
  ULONGLONG SeekToEnd() { return Seek(0, end); }
  void SeekToBegin() { Seek(0, begin); }
  virtual ULONGLONG GetPosition() const;
  virtual ULONGLONG GetLength() const;
  virtual void SetLength(ULONGLONG nNovo);
  virtual void Close();
  // Closes without throwing.
  virtual void Abort();

  // Positioned transfers that neither move the file position nor throw:
  // ERROR_SUCCESS or the Windows error; *pnLidos gets the bytes read.
  // bCurtoEhFim: a short read is taken as the end of the file, as it is for
  // a regular file, which spares the read that would find nothing more.
  LONG LeEm(ULONGLONG nOffset, void* pBuf, UINT nCount, UINT* pnLidos, bool bCurtoEhFim = false);
  LONG GravaEm(ULONGLONG nOffset, const void* pBuf, UINT nCount, UINT* pnGravados = nullptr);
  // Sets the last-write time to now.
  LONG AtualizaUltimaGravacao();

  bool EstaAberto() const { return m_hFile >= 0; }
  // For the batched reads of ZelLeituraLote; -1 when closed.
  int GetDescritor() const { return m_hFile; }
  const std::string& GetFilePath() const { return m_strFileName; }

 protected:
  int m_hFile = -1;
  std::string m_strFileName;  // the path as found on disk

 private:
  // The position is kept here and transfers name it (pread, pwrite), so
  // that moving costs no system call. A writer holding its share lock is
  // the only one that changes the length, so it keeps that too (-1: ask).
  ULONGLONG m_nPosicao = 0;
  int64_t m_llFim = -1;
};

// Letter-case folding of file and registry names (Windows-1252 bytes: ASCII
// and the accented letters).
char ZelMaiusculaNome(char c);
// Opens this process saw refused for sharing, for tests that count retries.
uint64_t ZelViolacoesDeCompartilhamento();

std::string ZelMaiusculasNome(std::string_view s);
bool ZelNomesIguais(std::string_view a, std::string_view b);

// Case-insensitive resolution: the path with each existing component spelled
// as on disk; components that do not exist are kept as given.
std::string ZelResolveCaminho(const std::string& sCaminho);

// File-system helpers; results are Windows error codes (ERROR_SUCCESS on success).
bool ZelExisteArquivo(const std::string& sCaminho);  // a file or a directory
bool ZelExisteDiretorio(const std::string& sCaminho);
LONG ZelExcluiArquivo(const std::string& sCaminho);
// Fails with ERROR_ALREADY_EXISTS when the target exists, unless bSubstitui.
// A target that differs from the source only in letter case renames on disk.
LONG ZelRenomeiaArquivo(const std::string& sDe, const std::string& sPara, bool bSubstitui = false);
LONG ZelCopiaArquivo(const std::string& sDe, const std::string& sPara, bool bFalhaSeExiste);
// Creates an empty file in one step; ERROR_FILE_EXISTS when a file of that
// name (in any letter case) is there already.
LONG ZelCriaArquivoNovo(const std::string& sCaminho);
// Creates the directory; with bPais, every missing parent too. An existing
// directory is ERROR_ALREADY_EXISTS.
LONG ZelCriaDiretorio(const std::string& sCaminho, bool bPais = false);
LONG ZelExcluiDiretorio(const std::string& sCaminho);
// Names (not paths) of the entries of sDiretorio matching the pattern, with
// '*' and '?' compared without regard to case, sorted.
std::vector<std::string> ZelListaArquivos(const std::string& sDiretorio, const std::string& sPadrao);
// The read-only attribute is the cleared owner write bit.
bool ZelSomenteLeitura(const std::string& sCaminho);
LONG ZelDefineSomenteLeitura(const std::string& sCaminho, bool bSomenteLeitura);
LONG ZelTamanhoArquivo(const std::string& sCaminho, ULONGLONG* pnTamanho);
LONG ZelUltimaGravacao(const std::string& sCaminho, struct timespec* pts);
