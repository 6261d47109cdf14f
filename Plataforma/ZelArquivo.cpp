#include "ZelArquivo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <utility>

namespace {

// Writing opens lock this byte; no real file reaches it, so the lock never
// meets a record lock the callers take on data.
constexpr off_t kByteSentinela = 0x7FFFFFFFFFFFFF00LL;

constexpr std::array<unsigned char, 256> TabelaMaiusculas() {
  std::array<unsigned char, 256> t{};
  for (unsigned i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
  for (unsigned i = 'a'; i <= 'z'; ++i) t[i] = static_cast<unsigned char>(i - 32);
  for (unsigned i = 0xE0; i <= 0xFE; ++i)
    if (i != 0xF7) t[i] = static_cast<unsigned char>(i - 32);
  t[0x9A] = 0x8A;  // s caron
  t[0x9C] = 0x8C;  // oe
  t[0x9E] = 0x8E;  // z caron
  t[0xFF] = 0x9F;  // y diaeresis
  return t;
}
constexpr auto kMaiusculas = TabelaMaiusculas();

class Descritor {
 public:
  explicit Descritor(int fd) : m_fd(fd) {}
  ~Descritor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Descritor(const Descritor&) = delete;
  Descritor& operator=(const Descritor&) = delete;
  int get() const { return m_fd; }
  int Libera() { return std::exchange(m_fd, -1); }

 private:
  int m_fd;
};

std::string DiretorioDe(const std::string& s) {
  size_t p = s.rfind('/');
  if (p == std::string::npos) return ".";
  if (p == 0) return "/";
  return s.substr(0, p);
}

bool EhDiretorio(const std::string& s) {
  struct stat st;
  return ::stat(s.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A missing file is ERROR_FILE_NOT_FOUND only when its directory exists, as
// the original platform tells the two apart.
LONG ErroCaminho(int nErrno, const std::string& sCaminho) {
  if (nErrno == ENOENT && !EhDiretorio(DiretorioDe(sCaminho))) return ERROR_PATH_NOT_FOUND;
  return CFileException::ErrnoParaErroSO(nErrno);
}

// EBADF on a descriptor that is open means it was opened without the access
// asked for, which the original platform reports as access denied.
LONG ErroTransferencia(int nErrno, int fd) {
  if (nErrno == EBADF && fd >= 0 && ::fcntl(fd, F_GETFL) != -1) return ERROR_ACCESS_DENIED;
  return CFileException::ErrnoParaErroSO(nErrno);
}

LONG TravaSentinela(int fd) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kByteSentinela;
  fl.l_len = 1;
  if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return ERROR_SUCCESS;
  if (errno == EAGAIN || errno == EACCES) return ERROR_SHARING_VIOLATION;
  return CFileException::ErrnoParaErroSO(errno);
}

int AbreSemEINTR(const std::string& s, int flags, mode_t modo = 0666) {
  int fd;
  do fd = ::open(s.c_str(), flags | O_CLOEXEC, modo);
  while (fd < 0 && errno == EINTR);
  return fd;
}

// The entry of sDiretorio whose name equals sNome without regard to case; the
// smallest one if a directory breaks the rule and holds several.
std::string ProcuraSemCaixa(const std::string& sDiretorio, const std::string& sNome) {
  DIR* d = ::opendir(sDiretorio.empty() ? "." : sDiretorio.c_str());
  if (d == nullptr) return {};
  std::string achado;
  while (dirent* e = ::readdir(d)) {
    if (ZelNomesIguais(e->d_name, sNome) && (achado.empty() || achado > e->d_name)) achado = e->d_name;
  }
  ::closedir(d);
  return achado;
}

bool CasaPadraoSimples(std::string_view nome, std::string_view padrao) {
  size_t n = 0, p = 0, estrela = std::string_view::npos, marca = 0;
  while (n < nome.size()) {
    if (p < padrao.size() && padrao[p] == '*') {
      estrela = p++;
      marca = n;
    } else if (p < padrao.size() &&
               (padrao[p] == '?' || ZelMaiusculaNome(padrao[p]) == ZelMaiusculaNome(nome[n]))) {
      ++n;
      ++p;
    } else if (estrela != std::string_view::npos) {
      p = estrela + 1;
      n = ++marca;
    } else {
      return false;
    }
  }
  while (p < padrao.size() && padrao[p] == '*') ++p;
  return p == padrao.size();
}

// As on the original platform, a pattern ending in ".*" also takes names
// without an extension ("*.*" lists everything).
bool CasaPadrao(std::string_view nome, std::string_view padrao) {
  if (CasaPadraoSimples(nome, padrao)) return true;
  return padrao.size() >= 2 && padrao.substr(padrao.size() - 2) == ".*" && nome.find('.') == std::string_view::npos &&
         CasaPadraoSimples(nome, padrao.substr(0, padrao.size() - 2));
}

}  // namespace

// ---------------------------------------------------------------- names

char ZelMaiusculaNome(char c) { return static_cast<char>(kMaiusculas[static_cast<unsigned char>(c)]); }

std::string ZelMaiusculasNome(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = ZelMaiusculaNome(c);
  return r;
}

bool ZelNomesIguais(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ZelMaiusculaNome(a[i]) != ZelMaiusculaNome(b[i])) return false;
  return true;
}

std::string ZelResolveCaminho(const std::string& sCaminho) {
  struct stat st;
  if (sCaminho.empty() || ::lstat(sCaminho.c_str(), &st) == 0) return sCaminho;

  std::string r;
  size_t i = 0;
  if (sCaminho[0] == '/') {
    r = "/";
    i = 1;
  }
  bool bPrefixoExiste = true;  // past a missing component nothing can match
  while (i <= sCaminho.size()) {
    size_t j = sCaminho.find('/', i);
    if (j == std::string::npos) j = sCaminho.size();
    std::string comp = sCaminho.substr(i, j - i);
    if (!bPrefixoExiste || comp.empty() || comp == "." || comp == "..") {
      r += comp;
    } else if (::lstat((r + comp).c_str(), &st) == 0) {
      r += comp;
    } else {
      std::string achado = ProcuraSemCaixa(r, comp);
      if (achado.empty()) {
        bPrefixoExiste = false;
        r += comp;
      } else {
        r += achado;
      }
    }
    if (j < sCaminho.size()) r += '/';
    i = j + 1;
  }
  return r;
}

// ---------------------------------------------------------------- exceptions

LONG CFileException::ErrnoParaErroSO(int nErrno) {
  struct Linha {
    int nErrno;
    LONG lErro;
  };
  static constexpr Linha kTabela[] = {
      {0, ERROR_SUCCESS},
      {ENOENT, ERROR_FILE_NOT_FOUND},
      {ENXIO, ERROR_FILE_NOT_FOUND},
      {ENOTDIR, ERROR_PATH_NOT_FOUND},
      {ELOOP, ERROR_CANT_RESOLVE_FILENAME},  // there, but not a file: never "missing"
      {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
      {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
      {EACCES, ERROR_ACCESS_DENIED},
      {EPERM, ERROR_ACCESS_DENIED},
      {EISDIR, ERROR_ACCESS_DENIED},
      {EBADF, ERROR_INVALID_HANDLE},
      {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
      {EROFS, ERROR_WRITE_PROTECT},
      {ESPIPE, ERROR_SEEK},
      {EINVAL, ERROR_INVALID_PARAMETER},
      {EIO, ERROR_IO_DEVICE},
      {ENOSPC, ERROR_DISK_FULL},
      {EDQUOT, ERROR_DISK_FULL},
      {EFBIG, ERROR_DISK_FULL},
      {EEXIST, ERROR_FILE_EXISTS},
      {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
      {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
      {EBUSY, ERROR_BUSY},
      {ETXTBSY, ERROR_SHARING_VIOLATION},
      {EXDEV, ERROR_NOT_SAME_DEVICE},
      {EAGAIN, ERROR_LOCK_VIOLATION},
      {EDEADLK, ERROR_LOCK_VIOLATION},
      {ENOLCK, ERROR_LOCK_VIOLATION},
      {EPIPE, ERROR_BROKEN_PIPE},
      {ETIMEDOUT, ERROR_TIMEOUT},
      {ECHILD, ERROR_WAIT_NO_CHILDREN},
  };
  for (const Linha& l : kTabela)
    if (l.nErrno == nErrno) return l.lErro;
  return ERROR_INVALID_FUNCTION;
}

int CFileException::ErroSOParaCausa(LONG lOsError) {
  switch (lOsError) {
    case ERROR_SUCCESS: return none;
    case ERROR_FILE_NOT_FOUND: return fileNotFound;
    case ERROR_PATH_NOT_FOUND: return badPath;
    case ERROR_TOO_MANY_OPEN_FILES: return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED: return accessDenied;
    case ERROR_INVALID_HANDLE: return invalidFile;
    case ERROR_CURRENT_DIRECTORY: return removeCurrentDir;
    case ERROR_SEEK: return badSeek;
    case ERROR_SHARING_VIOLATION: return sharingViolation;
    case ERROR_LOCK_VIOLATION: return lockViolation;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL: return diskFull;
    case ERROR_HANDLE_EOF: return endOfFile;
    case ERROR_IO_DEVICE:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT: return hardIO;
    default: return genericException;
  }
}

std::string CFileException::GetErrorMessage() const {
  const char* sz = "Erro n\xE3o especificado";
  switch (m_cause) {
    case none: sz = "Nenhum erro"; break;
    case fileNotFound: sz = "Arquivo n\xE3o encontrado"; break;
    case badPath: sz = "Caminho inv\xE1lido"; break;
    case tooManyOpenFiles: sz = "Arquivos abertos em excesso"; break;
    case accessDenied: sz = "Acesso negado"; break;
    case invalidFile: sz = "Arquivo inv\xE1lido"; break;
    case removeCurrentDir: sz = "O diret\xF3rio atual n\xE3o pode ser removido"; break;
    case directoryFull: sz = "Diret\xF3rio cheio"; break;
    case badSeek: sz = "Posicionamento inv\xE1lido"; break;
    case hardIO: sz = "Erro de entrada e sa\xED" "da"; break;
    case sharingViolation: sz = "Viola\xE7\xE3o de compartilhamento"; break;
    case lockViolation: sz = "Viola\xE7\xE3o de bloqueio"; break;
    case diskFull: sz = "Disco cheio"; break;
    case endOfFile: sz = "Fim de arquivo"; break;
    default: break;
  }
  std::string s = sz;
  if (!m_strFileName.empty()) s += ": " + m_strFileName;
  return s;
}

void AfxThrowFileException(int cause, LONG lOsError, const std::string& sNome) {
  throw new CFileException(cause, lOsError, sNome);
}

namespace {
[[noreturn]] void LancaErroSO(LONG lErro, const std::string& sNome) {
  AfxThrowFileException(CFileException::ErroSOParaCausa(lErro), lErro, sNome);
}
}  // namespace

// ---------------------------------------------------------------- CFile

CFile::~CFile() { Abort(); }

namespace {
std::atomic<uint64_t> g_nViolacoes{0};
}  // namespace

uint64_t ZelViolacoesDeCompartilhamento() { return g_nViolacoes.load(std::memory_order_relaxed); }

BOOL CFile::Open(const std::string& sNome, UINT nOpenFlags, CFileException* pError) {
  Abort();
  auto falha = [&](LONG lErro) -> BOOL {
    if (lErro == ERROR_SHARING_VIOLATION) g_nViolacoes.fetch_add(1, std::memory_order_relaxed);
    if (pError != nullptr) {
      pError->m_cause = CFileException::ErroSOParaCausa(lErro);
      pError->m_lOsError = lErro;
      pError->m_strFileName = sNome;
    }
    return FALSE;
  };
  const UINT nAcesso = nOpenFlags & 3;
  if (nAcesso == 3) return falha(ERROR_INVALID_PARAMETER);
  if (sNome.empty()) return falha(ERROR_PATH_NOT_FOUND);
  const bool bGrava = nAcesso != modeRead;

  // Always close-on-exec: a child holding the descriptor would keep the share
  // lock alive after this object closed the file.
  int flags = nAcesso == modeWrite ? O_WRONLY : nAcesso == modeReadWrite ? O_RDWR : O_RDONLY;
  if (nOpenFlags & modeCreate) flags |= O_CREAT;
  // A name spelt as it is on disk opens at once; only a miss, or a creation
  // (which must not add a second spelling), looks the name up without case.
  std::string sCaminho = sNome;
  const bool bCria = (nOpenFlags & modeCreate) != 0;
  int iFd = bCria ? -1 : AbreSemEINTR(sCaminho, flags);
  if (iFd < 0 && (bCria || errno == ENOENT || errno == ENOTDIR)) {
    sCaminho = ZelResolveCaminho(sNome);
    iFd = AbreSemEINTR(sCaminho, flags);
  }
  Descritor fd(iFd);
  if (fd.get() < 0) return falha(ErroCaminho(errno, sCaminho));

  // A writer that shares takes its lock first, so that the length it sees
  // is one no other writer can change while it holds the file.
  const bool bTrava = bGrava && (nOpenFlags & 0x70) != shareDenyNone;
  const LONG lTrava = bTrava ? TravaSentinela(fd.get()) : ERROR_SUCCESS;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return falha(CFileException::ErrnoParaErroSO(errno));
  if (S_ISDIR(st.st_mode)) return falha(ERROR_ACCESS_DENIED);
  // Root passes every permission check, so the read-only attribute is ours to enforce.
  if (bGrava && !(st.st_mode & S_IWUSR)) return falha(ERROR_ACCESS_DENIED);
  if (lTrava != ERROR_SUCCESS) return falha(lTrava);
  // Only now, holding the share lock, may the contents go; a reading open
  // holds no lock and so never truncates.
  if (bGrava && (nOpenFlags & modeCreate) && !(nOpenFlags & modeNoTruncate) && ::ftruncate(fd.get(), 0) != 0)
    return falha(CFileException::ErrnoParaErroSO(errno));

  m_hFile = fd.Libera();
  m_strFileName = sCaminho;
  m_nPosicao = 0;
  const bool bTruncou = bGrava && (nOpenFlags & modeCreate) && !(nOpenFlags & modeNoTruncate);
  m_llFim = !bTrava ? -1 : bTruncou ? 0 : static_cast<int64_t>(st.st_size);
  return TRUE;
}

UINT CFile::Read(void* pBuf, UINT nCount) {
  if (m_hFile < 0) AfxThrowFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName);
  if (nCount == 0) return 0;
  if (pBuf == nullptr) LancaErroSO(ERROR_INVALID_PARAMETER, m_strFileName);
  UINT nLidos = 0;
  const LONG lErro = LeEm(m_nPosicao, pBuf, nCount, &nLidos);
  m_nPosicao += nLidos;
  if (lErro != ERROR_SUCCESS) LancaErroSO(lErro, m_strFileName);
  return nLidos;
}

void CFile::Write(const void* pBuf, UINT nCount) {
  if (m_hFile < 0) AfxThrowFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName);
  if (nCount == 0) return;
  if (pBuf == nullptr) LancaErroSO(ERROR_INVALID_PARAMETER, m_strFileName);
  UINT nGravados = 0;
  const LONG lErro = GravaEm(m_nPosicao, pBuf, nCount, &nGravados);
  m_nPosicao += nGravados;
  if (lErro != ERROR_SUCCESS) LancaErroSO(lErro, m_strFileName);
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
  if (m_hFile < 0) AfxThrowFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName);
  if (nFrom != begin && nFrom != current && nFrom != end)
    AfxThrowFileException(CFileException::badSeek, ERROR_INVALID_PARAMETER, m_strFileName);
  LONGLONG llBase = 0;
  if (nFrom == current) {
    llBase = static_cast<LONGLONG>(m_nPosicao);
  } else if (nFrom == end) {
    llBase = m_llFim >= 0 ? m_llFim : static_cast<LONGLONG>(GetLength());
  }
  if (lOff > 0 ? llBase > LLONG_MAX - lOff : llBase + lOff < 0) LancaErroSO(ERROR_SEEK, m_strFileName);
  m_nPosicao = static_cast<ULONGLONG>(llBase + lOff);
  return m_nPosicao;
}

ULONGLONG CFile::GetPosition() const {
  if (m_hFile < 0) AfxThrowFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName);
  return m_nPosicao;
}

ULONGLONG CFile::GetLength() const {
  if (m_hFile < 0) AfxThrowFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName);
  if (m_llFim >= 0) return static_cast<ULONGLONG>(m_llFim);
  struct stat st;
  if (::fstat(m_hFile, &st) != 0) LancaErroSO(CFileException::ErrnoParaErroSO(errno), m_strFileName);
  return static_cast<ULONGLONG>(st.st_size);
}

void CFile::SetLength(ULONGLONG nNovo) {
  if (m_hFile < 0) AfxThrowFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName);
  if (nNovo > static_cast<ULONGLONG>(LLONG_MAX)) LancaErroSO(ERROR_INVALID_PARAMETER, m_strFileName);
  // The position moves to the new end, as the framework's callers expect.
  m_nPosicao = nNovo;
  int r;
  do r = ::ftruncate(m_hFile, static_cast<off_t>(nNovo));
  while (r != 0 && errno == EINTR);
  if (r != 0) {
    int nErrno = errno;
    if (nErrno == EINVAL && (::fcntl(m_hFile, F_GETFL) & O_ACCMODE) == O_RDONLY) nErrno = EBADF;
    LancaErroSO(ErroTransferencia(nErrno, m_hFile), m_strFileName);
  }
  if (m_llFim >= 0) m_llFim = static_cast<int64_t>(nNovo);
}

void CFile::Close() {
  if (m_hFile < 0) return;
  m_llFim = -1;
  int fd = std::exchange(m_hFile, -1);
  std::string sNome = std::move(m_strFileName);
  m_strFileName.clear();
  // Linux releases the descriptor even when close reports EINTR.
  if (::close(fd) != 0 && errno != EINTR) LancaErroSO(CFileException::ErrnoParaErroSO(errno), sNome);
}

void CFile::Abort() {
  m_llFim = -1;
  if (m_hFile >= 0) ::close(std::exchange(m_hFile, -1));
  m_strFileName.clear();
}

LONG CFile::LeEm(ULONGLONG nOffset, void* pBuf, UINT nCount, UINT* pnLidos, bool bCurtoEhFim) {
  if (pnLidos != nullptr) *pnLidos = 0;
  if (m_hFile < 0) return ERROR_INVALID_HANDLE;
  if (pBuf == nullptr && nCount > 0) return ERROR_INVALID_PARAMETER;
  auto p = static_cast<char*>(pBuf);
  UINT nLidos = 0;
  LONG lErro = ERROR_SUCCESS;
  while (nLidos < nCount) {
    ssize_t n = ::pread(m_hFile, p + nLidos, nCount - nLidos, static_cast<off_t>(nOffset + nLidos));
    if (n < 0) {
      if (errno == EINTR) continue;
      lErro = ErroTransferencia(errno, m_hFile);
      break;
    }
    if (n == 0) break;
    nLidos += static_cast<UINT>(n);
    if (bCurtoEhFim) break;
  }
  if (pnLidos != nullptr) *pnLidos = nLidos;
  return lErro;
}

LONG CFile::GravaEm(ULONGLONG nOffset, const void* pBuf, UINT nCount, UINT* pnGravados) {
  if (pnGravados != nullptr) *pnGravados = 0;
  if (m_hFile < 0) return ERROR_INVALID_HANDLE;
  if (pBuf == nullptr && nCount > 0) return ERROR_INVALID_PARAMETER;
  auto p = static_cast<const char*>(pBuf);
  UINT nGravados = 0;
  LONG lErro = ERROR_SUCCESS;
  while (nGravados < nCount) {
    ssize_t n = ::pwrite(m_hFile, p + nGravados, nCount - nGravados, static_cast<off_t>(nOffset + nGravados));
    if (n < 0) {
      if (errno == EINTR) continue;
      lErro = ErroTransferencia(errno, m_hFile);
      break;
    }
    if (n == 0) {
      lErro = ERROR_DISK_FULL;
      break;
    }
    nGravados += static_cast<UINT>(n);
  }
  if (nGravados > 0 && m_llFim >= 0 && static_cast<int64_t>(nOffset + nGravados) > m_llFim)
    m_llFim = static_cast<int64_t>(nOffset + nGravados);
  if (pnGravados != nullptr) *pnGravados = nGravados;
  return lErro;
}

LONG CFile::AtualizaUltimaGravacao() {
  if (m_hFile < 0) return ERROR_INVALID_HANDLE;
  const struct timespec ts[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
  if (::futimens(m_hFile, ts) != 0) return CFileException::ErrnoParaErroSO(errno);
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- helpers

bool ZelExisteArquivo(const std::string& sCaminho) {
  struct stat st;
  return ::stat(ZelResolveCaminho(sCaminho).c_str(), &st) == 0;
}

bool ZelExisteDiretorio(const std::string& sCaminho) { return EhDiretorio(ZelResolveCaminho(sCaminho)); }

LONG ZelExcluiArquivo(const std::string& sCaminho) {
  std::string c = ZelResolveCaminho(sCaminho);
  struct stat st;
  if (::lstat(c.c_str(), &st) != 0) return ErroCaminho(errno, c);
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) return ERROR_ACCESS_DENIED;
  if (::unlink(c.c_str()) != 0) return ErroCaminho(errno, c);
  return ERROR_SUCCESS;
}

LONG ZelRenomeiaArquivo(const std::string& sDe, const std::string& sPara, bool bSubstitui) {
  std::string de = ZelResolveCaminho(sDe);
  struct stat stDe, stPara;
  if (::lstat(de.c_str(), &stDe) != 0) return ErroCaminho(errno, de);
  // An existing target keeps its disk spelling here; a new one is named as given.
  std::string para = ZelResolveCaminho(sPara);
  size_t p = sPara.rfind('/');
  std::string sNomeDado = p == std::string::npos ? sPara : sPara.substr(p + 1);
  size_t q = para.rfind('/');
  std::string alvo = sNomeDado.empty() ? para : (q == std::string::npos ? "" : para.substr(0, q + 1)) + sNomeDado;

  auto renomeia = [](const std::string& a, const std::string& b) -> LONG {
    if (::rename(a.c_str(), b.c_str()) == 0) return ERROR_SUCCESS;
    // The source exists, so a missing entry is the target's directory.
    return errno == ENOENT ? ERROR_PATH_NOT_FOUND : CFileException::ErrnoParaErroSO(errno);
  };
  if (::lstat(para.c_str(), &stPara) == 0) {
    if (stPara.st_dev == stDe.st_dev && stPara.st_ino == stDe.st_ino) {
      return de == alvo ? ERROR_SUCCESS : renomeia(de, alvo);  // a change of letter case only
    }
    if (!bSubstitui) return ERROR_ALREADY_EXISTS;
    LONG lErro = renomeia(de, para);
    if (lErro != ERROR_SUCCESS || para == alvo) return lErro;
    return renomeia(para, alvo);
  }
  return renomeia(de, alvo);
}

LONG ZelCopiaArquivo(const std::string& sDe, const std::string& sPara, bool bFalhaSeExiste) {
  std::string de = ZelResolveCaminho(sDe);
  Descritor fdDe(AbreSemEINTR(de, O_RDONLY));
  if (fdDe.get() < 0) return ErroCaminho(errno, de);
  struct stat stDe, stPara;
  if (::fstat(fdDe.get(), &stDe) != 0) return CFileException::ErrnoParaErroSO(errno);
  if (S_ISDIR(stDe.st_mode)) return ERROR_ACCESS_DENIED;

  std::string para = ZelResolveCaminho(sPara);
  if (::stat(para.c_str(), &stPara) == 0) {
    if (bFalhaSeExiste) return ERROR_FILE_EXISTS;
    if (stPara.st_dev == stDe.st_dev && stPara.st_ino == stDe.st_ino) return ERROR_SHARING_VIOLATION;
    if (S_ISDIR(stPara.st_mode) || !(stPara.st_mode & S_IWUSR)) return ERROR_ACCESS_DENIED;
  }
  Descritor fdPara(AbreSemEINTR(para, O_WRONLY | O_CREAT | (bFalhaSeExiste ? O_EXCL : 0)));
  if (fdPara.get() < 0) return ErroCaminho(errno, para);
  // The target is opened for writing like any writer: never under another one.
  LONG lErro = TravaSentinela(fdPara.get());
  if (lErro != ERROR_SUCCESS) return lErro;
  if (::ftruncate(fdPara.get(), 0) != 0) return CFileException::ErrnoParaErroSO(errno);

  std::vector<char> buf(1 << 16);
  for (;;) {
    ssize_t n = ::read(fdDe.get(), buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return CFileException::ErrnoParaErroSO(errno);
    if (n == 0) break;
    for (ssize_t feito = 0; feito < n;) {
      ssize_t g = ::write(fdPara.get(), buf.data() + feito, static_cast<size_t>(n - feito));
      if (g < 0 && errno == EINTR) continue;
      if (g < 0) return CFileException::ErrnoParaErroSO(errno);
      if (g == 0) return ERROR_DISK_FULL;
      feito += g;
    }
  }
  // The copy carries the attributes and the last-write time of the original.
  const struct timespec ts[2] = {stDe.st_atim, stDe.st_mtim};
  if (::fchmod(fdPara.get(), stDe.st_mode & 07777) != 0 || ::futimens(fdPara.get(), ts) != 0)
    return CFileException::ErrnoParaErroSO(errno);
  if (::close(fdPara.Libera()) != 0 && errno != EINTR) return CFileException::ErrnoParaErroSO(errno);
  return ERROR_SUCCESS;
}

LONG ZelCriaArquivoNovo(const std::string& sCaminho) {
  const std::string c = ZelResolveCaminho(sCaminho);
  Descritor fd(AbreSemEINTR(c, O_WRONLY | O_CREAT | O_EXCL));
  if (fd.get() < 0) return errno == EEXIST ? ERROR_FILE_EXISTS : ErroCaminho(errno, c);
  return ERROR_SUCCESS;
}

LONG ZelCriaDiretorio(const std::string& sCaminho, bool bPais) {
  std::string c = ZelResolveCaminho(sCaminho);
  while (c.size() > 1 && c.back() == '/') c.pop_back();
  if (bPais) {
    for (size_t p = c.find('/', 1); p != std::string::npos; p = c.find('/', p + 1)) {
      std::string pai = c.substr(0, p);
      if (pai.empty() || pai.back() == '/') continue;
      if (::mkdir(pai.c_str(), 0777) != 0 && errno != EEXIST) return CFileException::ErrnoParaErroSO(errno);
    }
  }
  if (::mkdir(c.c_str(), 0777) != 0) return errno == EEXIST ? ERROR_ALREADY_EXISTS : ErroCaminho(errno, c);
  return ERROR_SUCCESS;
}

LONG ZelExcluiDiretorio(const std::string& sCaminho) {
  std::string c = ZelResolveCaminho(sCaminho);
  if (::rmdir(c.c_str()) != 0) return errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErroCaminho(errno, c);
  return ERROR_SUCCESS;
}

std::vector<std::string> ZelListaArquivos(const std::string& sDiretorio, const std::string& sPadrao) {
  std::vector<std::string> nomes;
  std::string d = sDiretorio.empty() ? "." : ZelResolveCaminho(sDiretorio);
  DIR* dir = ::opendir(d.c_str());
  if (dir == nullptr) return nomes;
  const std::string_view padrao = sPadrao.empty() ? std::string_view("*") : std::string_view(sPadrao);
  while (dirent* e = ::readdir(dir)) {
    std::string_view nome = e->d_name;
    if (nome == "." || nome == "..") continue;
    if (CasaPadrao(nome, padrao)) nomes.emplace_back(nome);
  }
  ::closedir(dir);
  // The original lists a directory in the order of its upper-cased names.
  std::sort(nomes.begin(), nomes.end(), [](const std::string& a, const std::string& b) {
    std::string ma = ZelMaiusculasNome(a), mb = ZelMaiusculasNome(b);
    return ma != mb ? ma < mb : a < b;
  });
  return nomes;
}

bool ZelSomenteLeitura(const std::string& sCaminho) {
  struct stat st;
  return ::stat(ZelResolveCaminho(sCaminho).c_str(), &st) == 0 && !(st.st_mode & S_IWUSR);
}

LONG ZelDefineSomenteLeitura(const std::string& sCaminho, bool bSomenteLeitura) {
  std::string c = ZelResolveCaminho(sCaminho);
  struct stat st;
  if (::stat(c.c_str(), &st) != 0) return ErroCaminho(errno, c);
  mode_t modo = st.st_mode & 07777;
  modo = bSomenteLeitura ? (modo & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) : (modo | S_IWUSR);
  if (::chmod(c.c_str(), modo) != 0) return CFileException::ErrnoParaErroSO(errno);
  return ERROR_SUCCESS;
}

LONG ZelTamanhoArquivo(const std::string& sCaminho, ULONGLONG* pnTamanho) {
  if (pnTamanho == nullptr) return ERROR_INVALID_PARAMETER;
  std::string c = ZelResolveCaminho(sCaminho);
  struct stat st;
  if (::stat(c.c_str(), &st) != 0) return ErroCaminho(errno, c);
  *pnTamanho = static_cast<ULONGLONG>(st.st_size);
  return ERROR_SUCCESS;
}

LONG ZelUltimaGravacao(const std::string& sCaminho, struct timespec* pts) {
  if (pts == nullptr) return ERROR_INVALID_PARAMETER;
  std::string c = ZelResolveCaminho(sCaminho);
  struct stat st;
  if (::stat(c.c_str(), &st) != 0) return ErroCaminho(errno, c);
  *pts = st.st_mtim;
  return ERROR_SUCCESS;
}
