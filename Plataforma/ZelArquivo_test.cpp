#include "ZelArquivo.h"

#include <fcntl.h>
#include <iconv.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cwctype>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ZelTesteAjudante.h"

namespace {

void Escreve(const std::string& sCaminho, const std::string& sConteudo) {
  std::ofstream(sCaminho, std::ios::binary) << sConteudo;
}

// Runs fn, which must throw a CFileException*, and returns its cause and code.
template <typename F>
std::pair<int, LONG> CausaLancada(F fn) {
  try {
    fn();
  } catch (CFileException* e) {
    std::pair<int, LONG> r{e->m_cause, e->m_lOsError};
    e->Delete();
    return r;
  }
  return {-1, -1};
}

constexpr UINT kEscritaG = CFile::modeReadWrite | CFile::shareDenyWrite;
constexpr UINT kLeituraL = CFile::modeRead | CFile::shareDenyNone;
const std::pair<int, LONG> kNegado{CFileException::accessDenied, ERROR_ACCESS_DENIED};
const std::pair<int, LONG> kPartilhado{CFileException::sharingViolation, ERROR_SHARING_VIOLATION};

std::pair<int, LONG> Causa(const CFileException& e) { return {e.m_cause, e.m_lOsError}; }

}  // namespace

// Opens a file as an unprivileged user, where the kernel itself refuses.
ZEL_AJUDANTE(AbreSemPermissao) {
  if (!ZelDeixaDeSerRoot()) return 3;
  CFile f;
  CFileException e;
  if (f.Open(args[0], CFile::modeRead, &e)) return 4;
  return e.m_cause == CFileException::accessDenied && e.m_lOsError == ERROR_ACCESS_DENIED ? 0 : 10 + e.m_cause;
}

TEST(CFile, LeituraCurtaNoFimPosicionamentoPosicionadasEComprimentoDoEscritor) {
  std::string s = ZelNovoDiretorio("posicao") + "a.dat";
  CFile f;
  ASSERT_TRUE(f.Open(s, CFile::modeCreate | kEscritaG));
  f.Write("abcdef", 6);
  f.SeekToBegin();
  char buf[16] = {};
  EXPECT_EQ(std::string(buf, f.Read(buf, sizeof buf)), "abcdef");
  EXPECT_EQ(f.Read(buf, sizeof buf), 0u);

  EXPECT_EQ(f.Seek(100, CFile::begin), 100u);
  EXPECT_EQ(f.GetLength(), 6u);
  EXPECT_EQ(CausaLancada([&] { f.Seek(-101, CFile::current); }),
            std::make_pair(int(CFileException::badSeek), ERROR_SEEK));
  EXPECT_EQ(f.GetPosition(), 100u);

  f.SetLength(3);
  EXPECT_EQ(f.GetLength(), 3u);
  EXPECT_EQ(f.GetPosition(), 3u);
  EXPECT_EQ(f.Seek(-1, CFile::end), 2u);
  f.Close();
  EXPECT_EQ(ZelLeArquivoInteiro(s), "abc");
  // A creating open truncates, unless told not to.
  ASSERT_TRUE(f.Open(s, CFile::modeCreate | CFile::modeNoTruncate | kEscritaG));
  EXPECT_EQ(f.GetLength(), 3u);
  f.Close();
  EXPECT_EQ(ZelLeArquivoInteiro(s), "abc");
  ASSERT_TRUE(f.Open(s, CFile::modeCreate | kEscritaG));
  EXPECT_EQ(f.GetLength(), 0u);

  // Positioned reads and writes leave the position.
  EXPECT_EQ(f.GravaEm(10, "WXYZ", 4), ERROR_SUCCESS);
  EXPECT_EQ(f.GetPosition(), 0u);
  EXPECT_EQ(f.GetLength(), 14u);
  UINT n = 99;
  EXPECT_EQ(f.LeEm(12, buf, sizeof buf, &n), ERROR_SUCCESS);
  EXPECT_EQ(std::string(buf, n), "YZ");
  EXPECT_EQ(f.LeEm(50, buf, sizeof buf, &n), ERROR_SUCCESS);
  EXPECT_EQ(n, 0u);

  ASSERT_TRUE(ZelDefineUltimaGravacaoTeste(s, 1000));
  EXPECT_EQ(f.AtualizaUltimaGravacao(), ERROR_SUCCESS);
  struct timespec ts {};
  ASSERT_EQ(ZelUltimaGravacao(s, &ts), ERROR_SUCCESS);
  EXPECT_GT(ts.tv_sec, 1000);

  f.Close();
  EXPECT_EQ(f.LeEm(0, buf, 1, &n), ERROR_INVALID_HANDLE);
  EXPECT_EQ(f.GravaEm(0, buf, 1), ERROR_INVALID_HANDLE);

  // A writer holding its share lock keeps the length itself; other opens ask the system.
  s = ZelNovoDiretorio("comprimento") + "a.dat";
  Escreve(s, "abc");
  CFile w, leitor, partilha, outro;
  ASSERT_TRUE(w.Open(s, kEscritaG));
  ASSERT_TRUE(leitor.Open(s, kLeituraL));
  ASSERT_TRUE(partilha.Open(s, CFile::modeWrite | CFile::shareDenyNone));
  EXPECT_EQ(w.SeekToEnd(), 3u);
  w.Write("def", 3);
  EXPECT_EQ(leitor.GetLength(), 6u);
  EXPECT_EQ(partilha.SeekToEnd(), 6u);
  EXPECT_EQ(w.GravaEm(10, "x", 1), ERROR_SUCCESS);
  EXPECT_EQ(w.GetLength(), 11u);
  EXPECT_EQ(leitor.Seek(-1, CFile::end), 10u);
  w.SetLength(4);
  EXPECT_EQ(w.SeekToEnd(), 4u);
  EXPECT_EQ(leitor.GetLength(), 4u);
  w.Write("Z", 1);
  w.Close();
  EXPECT_EQ(ZelLeArquivoInteiro(s), std::string("abcdZ"));
  // The next writer starts from the length on disk.
  ASSERT_TRUE(outro.Open(s, kEscritaG));
  EXPECT_EQ(outro.GetLength(), 5u);
}

TEST(CFile, ExcecoesEErrosDoSistemaTrazemACausaEOCodigo) {
  CFile fechado;
  char buf[4] = {};
  const auto kInvalido = std::make_pair(int(CFileException::invalidFile), ERROR_INVALID_HANDLE);
  EXPECT_EQ(CausaLancada([&] { fechado.Read(buf, 4); }), kInvalido);
  EXPECT_EQ(CausaLancada([&] { fechado.Write(buf, 4); }), kInvalido);
  EXPECT_EQ(CausaLancada([&] { fechado.Seek(0, CFile::begin); }), kInvalido);

  // A descriptor opened without the access asked for.
  const std::string d = ZelNovoDiretorio("excecoes"), s = d + "a.dat";
  Escreve(s, "abcd");
  CFile leitura;
  ASSERT_TRUE(leitura.Open(s, kLeituraL));
  EXPECT_EQ(CausaLancada([&] { leitura.Write(buf, 4); }), kNegado);
  EXPECT_EQ(CausaLancada([&] { leitura.SetLength(0); }), kNegado);
  CFile escrita;
  ASSERT_TRUE(escrita.Open(s, CFile::modeWrite | CFile::shareDenyWrite));
  EXPECT_EQ(CausaLancada([&] { escrita.Read(buf, 4); }), kNegado);
  EXPECT_EQ(ZelLeArquivoInteiro(s), "abcd");

  EXPECT_EQ(CFileException(CFileException::fileNotFound, ERROR_FILE_NOT_FOUND, "X.DAT").GetErrorMessage(),
            "Arquivo n\xE3o encontrado: X.DAT");
  // Each cause says what went wrong in words of its own; only an unnamed failure is unspecified.
  std::set<std::string> textos;
  for (int c = CFileException::none; c <= CFileException::endOfFile; ++c)
    EXPECT_TRUE(textos.insert(CFileException(c).GetErrorMessage()).second) << c;
  EXPECT_EQ(CFileException(CFileException::endOfFile + 1).GetErrorMessage(), "Erro n\xE3o especificado");

  // The system's errors on opening.
  Escreve(d + "arquivo", "x");
  ASSERT_EQ(ZelCriaDiretorio(d + "Dados"), ERROR_SUCCESS);
  const std::tuple<std::string, int, LONG> casos[] = {
      {d + "falta.dat", CFileException::fileNotFound, ERROR_FILE_NOT_FOUND},
      {d + "DADOS/falta.dat", CFileException::fileNotFound, ERROR_FILE_NOT_FOUND},  // the folder is there
      {d + "falta/a.dat", CFileException::badPath, ERROR_PATH_NOT_FOUND},
      {d + "arquivo/a.dat", CFileException::badPath, ERROR_PATH_NOT_FOUND},  // ENOTDIR
      {"", CFileException::badPath, ERROR_PATH_NOT_FOUND},  // no name: no path either
      {d, CFileException::accessDenied, ERROR_ACCESS_DENIED}};  // a directory is no file
  for (const auto& [sCaminho, nCausa, lErro] : casos) {
    CFile f;
    CFileException e;
    EXPECT_FALSE(f.Open(sCaminho, CFile::modeRead, &e));
    EXPECT_EQ(Causa(e), std::make_pair(nCausa, lErro)) << sCaminho;
    EXPECT_EQ(e.m_strFileName, sCaminho);
    EXPECT_FALSE(f.EstaAberto());
  }

  // A full device, and a file past the process's size limit, are both a full disk: 112.
  const auto kCheio = std::make_pair(int(CFileException::diskFull), LONG{ERROR_DISK_FULL});
  CFile cheio;
  ASSERT_TRUE(cheio.Open("/dev/full", CFile::modeWrite | CFile::shareDenyNone));
  EXPECT_EQ(CausaLancada([&] { cheio.Write("x", 1); }), kCheio);
  CFile limitado;
  ASSERT_TRUE(limitado.Open(d + "limitado.dat", CFile::modeCreate | CFile::modeWrite | CFile::shareDenyNone));
  {
    ZelLimiteTamanhoArquivos limite(2);
    EXPECT_EQ(CausaLancada([&] { limitado.Write("abc", 3); }), kCheio);
  }

  // EACCES: only an unprivileged process meets it.
  ASSERT_EQ(chmod((d + "arquivo").c_str(), 0), 0);
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("AbreSemPermissao", {d + "arquivo"})), 0);
}

// Every system error the file layer knows: the Windows code it is logged with, and the cause
// whose retry loop (or none) the callers take. Any other errno is an unnamed failure.
TEST(CFileException, CadaErroDoSistemaTemSeuCodigoESuaCausa) {
  using E = CFileException;
  const std::pair<int, std::vector<std::pair<int, LONG>>> porCausa[] = {
      {E::none, {{0, 0}}},
      {E::fileNotFound, {{ENOENT, 2}, {ENXIO, 2}}},
      {E::badPath, {{ENOTDIR, 3}}},
      {E::tooManyOpenFiles, {{EMFILE, 4}, {ENFILE, 4}}},
      {E::accessDenied, {{EACCES, 5}, {EPERM, 5}, {EISDIR, 5}}},
      {E::invalidFile, {{EBADF, 6}}},
      {E::badSeek, {{ESPIPE, 25}}},
      {E::hardIO, {{EIO, 1117}}},
      {E::diskFull, {{ENOSPC, 112}, {EDQUOT, 112}, {EFBIG, 112}}},
      {E::sharingViolation, {{ETXTBSY, 32}}},
      {E::lockViolation, {{EAGAIN, 33}, {EDEADLK, 33}, {ENOLCK, 33}}},
      {E::genericException, {{ELOOP, 1921}, {ENOMEM, 8}, {EROFS, 19}, {EINVAL, 87}, {EEXIST, 80}, {ENAMETOOLONG, 206},
                             {ENOTEMPTY, 145}, {EBUSY, 170}, {EXDEV, 17}, {EPIPE, 109}, {ETIMEDOUT, 1460},
                             {ECHILD, 128}, {ENODEV, 1}}}};
  for (const auto& [nCausa, aErros] : porCausa)
    for (const auto& [nErrno, lErro] : aErros) {
      EXPECT_EQ(E::ErrnoParaErroSO(nErrno), lErro) << "errno " << nErrno;
      EXPECT_EQ(E::ErroSOParaCausa(lErro), nCausa) << "errno " << nErrno;
    }
  // Codes the layer meets from its own checks rather than from errno.
  for (const auto& [lErro, nCausa] : {std::pair<LONG, int>{16, E::removeCurrentDir}, {29, E::hardIO}, {30, E::hardIO},
                                      {38, E::endOfFile}, {39, E::diskFull}})
    EXPECT_EQ(E::ErroSOParaCausa(lErro), nCausa) << lErro;
}

TEST(ZelArquivo, NomesECuringasSemDiferencaDeCaixa) {
  std::string d = ZelNovoDiretorio("caixa");
  ASSERT_EQ(ZelCriaDiretorio(d + "Dados"), ERROR_SUCCESS);
  Escreve(d + "Dados/DFIEVINC.DAT", "um");
  Escreve(d + "Dados/\xC1GUA.DAT", "dois");

  EXPECT_EQ(ZelResolveCaminho(d + "DADOS/dfievinc.dat"), d + "Dados/DFIEVINC.DAT");
  EXPECT_EQ(ZelResolveCaminho(d + "dados/\xE1gua.dat"), d + "Dados/\xC1GUA.DAT");
  EXPECT_EQ(ZelResolveCaminho(d + "dados/novo/X.dat"), d + "Dados/novo/X.dat");
  EXPECT_TRUE(ZelExisteArquivo(d + "DADOS/DfIeVinc.Dat"));
  EXPECT_TRUE(ZelExisteDiretorio(d + "dADOS"));

  CFile f;
  ASSERT_TRUE(f.Open(d + "dados/dfievinc.DAT", kLeituraL));
  EXPECT_EQ(f.GetFilePath(), d + "Dados/DFIEVINC.DAT");
  f.Close();
  ASSERT_TRUE(f.Open(d + "DADOS/Novo.Txt", CFile::modeCreate | kEscritaG));
  f.Close();
  EXPECT_EQ(ZelListaArquivos(d + "Dados", "*"), (std::vector<std::string>{"DFIEVINC.DAT", "Novo.Txt", "\xC1GUA.DAT"}));

  // A rename that only changes letter case renames on disk.
  EXPECT_EQ(ZelRenomeiaArquivo(d + "dados/DFIEVINC.DAT", d + "dados/DfIeVinc.dat"), ERROR_SUCCESS);
  EXPECT_EQ(ZelListaArquivos(d + "Dados", "d*"), std::vector<std::string>{"DfIeVinc.dat"});
  EXPECT_EQ(ZelLeArquivoInteiro(d + "Dados/DfIeVinc.dat"), "um");

  EXPECT_EQ(ZelRenomeiaArquivo(d + "dados/novo.txt", d + "DADOS/dfievinc.DAT"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ZelRenomeiaArquivo(d + "dados/novo.txt", d + "DADOS/dfievinc.DAT", true), ERROR_SUCCESS);
  EXPECT_EQ(ZelListaArquivos(d + "Dados", "*"), (std::vector<std::string>{"dfievinc.DAT", "\xC1GUA.DAT"}));
  EXPECT_EQ(ZelLeArquivoInteiro(d + "Dados/dfievinc.DAT"), "");

  EXPECT_EQ(ZelExcluiArquivo(d + "DADOS/\xE1gua.dat"), ERROR_SUCCESS);
  EXPECT_EQ(ZelExcluiArquivo(d + "DADOS/\xE1gua.dat"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ZelRenomeiaArquivo(d + "dados/falta", d + "x"), ERROR_FILE_NOT_FOUND);

  // Wildcards match without case.
  d = ZelNovoDiretorio("lista");
  for (const char* s : {"b.DAT", "A.dat", "c.txt", "SEMEXT", "ab.dat.bak"}) Escreve(d + s, "");
  EXPECT_EQ(ZelListaArquivos(d, "*.dat"), (std::vector<std::string>{"A.dat", "b.DAT"}));
  EXPECT_EQ(ZelListaArquivos(d, "?.*"), (std::vector<std::string>{"A.dat", "b.DAT", "c.txt"}));
  EXPECT_EQ(ZelListaArquivos(d, "*.*").size(), 5u);
  // Only a name without an extension drops the ".*".
  EXPECT_EQ(ZelListaArquivos(d, "*T.*"), (std::vector<std::string>{"ab.dat.bak", "SEMEXT"}));
  EXPECT_EQ(ZelListaArquivos(d, "a*.DAT*"), (std::vector<std::string>{"A.dat", "ab.dat.bak"}));
  EXPECT_EQ(ZelListaArquivos(d, "*e*t"), std::vector<std::string>{"SEMEXT"});
  EXPECT_TRUE(ZelListaArquivos(d + "falta", "*").empty());

  // Two spellings in one directory: every spelling gets the same file, whichever is listed first.
  for (bool bMaiusculaAntes : {true, false}) {
    d = ZelNovoDiretorio(bMaiusculaAntes ? "grafias1" : "grafias2");
    const char* kNomes[] = {"DFIEVINC.DAT", "dfievinc.dat"};
    for (int i = 0; i < 2; ++i) Escreve(d + kNomes[bMaiusculaAntes ? i : 1 - i], kNomes[bMaiusculaAntes ? i : 1 - i]);
    for (const char* sPedido : {"DfIeVinc.Dat", "dfievinc.DAT", "Dfievinc.dat"}) {
      ASSERT_TRUE(f.Open(d + sPedido, kLeituraL)) << sPedido;
      char buf[16] = {};
      EXPECT_EQ(std::string(buf, f.Read(buf, sizeof buf)), "DFIEVINC.DAT") << sPedido;
      EXPECT_EQ(ZelResolveCaminho(d + sPedido), d + "DFIEVINC.DAT");
      f.Close();
    }
  }
}

TEST(ZelArquivo, SomenteLeituraCopiaDiretoriosETamanho) {
  std::string d = ZelNovoDiretorio("copia");
  Escreve(d + "origem", "conteudo");
  ASSERT_EQ(ZelDefineSomenteLeitura(d + "origem", true), ERROR_SUCCESS);
  EXPECT_TRUE(ZelSomenteLeitura(d + "origem"));
  CFile f;
  CFileException e;
  EXPECT_FALSE(f.Open(d + "origem", CFile::modeCreate | kEscritaG, &e));
  EXPECT_EQ(Causa(e), kNegado);
  EXPECT_EQ(ZelExcluiArquivo(d + "origem"), ERROR_ACCESS_DENIED);
  // A copy restored from a transfer keeps the original's times, to the nanosecond.
  const struct timespec tsOrigem[2] = {{0, UTIME_OMIT}, {1577934300, 987654321}};
  ASSERT_EQ(utimensat(AT_FDCWD, (d + "origem").c_str(), tsOrigem, 0), 0);
  EXPECT_EQ(ZelCopiaArquivo(d + "ORIGEM", d + "Copia", true), ERROR_SUCCESS);
  EXPECT_EQ(ZelLeArquivoInteiro(d + "Copia"), "conteudo");
  EXPECT_TRUE(ZelSomenteLeitura(d + "copia"));
  struct stat stCopia{};
  ASSERT_EQ(stat((d + "Copia").c_str(), &stCopia), 0);
  EXPECT_EQ(std::make_pair(stCopia.st_mtim.tv_sec, stCopia.st_mtim.tv_nsec), std::make_pair(1577934300L, 987654321L));
  EXPECT_EQ(ZelCopiaArquivo(d + "origem", d + "copia", true), ERROR_FILE_EXISTS);
  EXPECT_EQ(ZelCopiaArquivo(d + "origem", d + "ORIGEM", false), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ZelLeArquivoInteiro(d + "origem"), "conteudo");
  ASSERT_EQ(ZelDefineSomenteLeitura(d + "origem", false), ERROR_SUCCESS);
  EXPECT_FALSE(ZelSomenteLeitura(d + "origem"));
  EXPECT_TRUE(f.Open(d + "origem", kEscritaG));

  Escreve(d + "alvo", "antigo");
  CFile escritor;
  ASSERT_TRUE(escritor.Open(d + "alvo", kEscritaG));
  EXPECT_EQ(ZelCopiaArquivo(d + "origem", d + "alvo", false), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ZelLeArquivoInteiro(d + "alvo"), "antigo");
  escritor.Close();
  EXPECT_EQ(ZelCopiaArquivo(d + "origem", d + "alvo", false), ERROR_SUCCESS);
  ULONGLONG n = 0;
  EXPECT_EQ(ZelTamanhoArquivo(d + "ALVO", &n), ERROR_SUCCESS);
  EXPECT_EQ(n, 8u);

  EXPECT_EQ(ZelCriaDiretorio(d + "x/y/z", true), ERROR_SUCCESS);
  EXPECT_EQ(ZelCriaDiretorio(d + "X/Y/Z"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ZelCriaDiretorio(d + "falta/z"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ZelExcluiDiretorio(d + "X/Y"), ERROR_DIR_NOT_EMPTY);
  EXPECT_EQ(ZelExcluiDiretorio(d + "X/Y/Z"), ERROR_SUCCESS);
  EXPECT_FALSE(ZelExisteDiretorio(d + "x/y/z"));
}

// Names are compared as the suite's code page spells them: two characters name the same file
// exactly when Unicode gives them one upper case (so "\xF7" and "\xD7", divide and times, do not).
TEST(ZelArquivo, LetrasDoCodigoDePaginaSoIguaisAQuemTemAMesmaMaiuscula) {
  iconv_t cd = iconv_open("WCHAR_T", "CP1252");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  locale_t loc = newlocale(LC_ALL_MASK, "C.UTF-8", nullptr);
  ASSERT_NE(loc, nullptr);
  auto Maiuscula = [&](unsigned char c) -> wint_t {
    char cIn = static_cast<char>(c);
    wchar_t w = 0;
    char *pIn = &cIn, *pOut = reinterpret_cast<char*>(&w);
    size_t nIn = 1, nOut = sizeof w;
    if (iconv(cd, &pIn, &nIn, &pOut, &nOut) == static_cast<size_t>(-1)) return WEOF;  // unassigned
    return towupper_l(static_cast<wint_t>(w), loc);
  };
  int nPares = 0;
  for (unsigned a = 1; a < 256; ++a)
    for (unsigned b = a + 1; b < 256; ++b) {
      const wint_t wa = Maiuscula(static_cast<unsigned char>(a)), wb = Maiuscula(static_cast<unsigned char>(b));
      const bool bMesma = wa != WEOF && wa == wb;
      nPares += bMesma;
      EXPECT_EQ(ZelNomesIguais(std::string(1, static_cast<char>(a)), std::string(1, static_cast<char>(b))), bMesma)
          << std::hex << a << " " << b;
    }
  EXPECT_EQ(nPares, 26 + 30 + 4);
  freelocale(loc);
  iconv_close(cd);
}

// An exclusive writer (the backup marker's) and any other writer exclude each other, in either
// order; a creating open that loses leaves the held file whole, and readers still get in.
TEST(CFile, EscritoresSeExcluemSalvoQuemPartilhaAEscrita) {
  constexpr UINT kExclusivo = CFile::modeReadWrite | CFile::shareExclusive;
  const std::tuple<UINT, UINT, bool> casos[] = {{kEscritaG, CFile::modeCreate | kEscritaG, true},
               {kExclusivo, kEscritaG, true},
               {kEscritaG, kExclusivo, true},
               {kExclusivo, kExclusivo, true},
               {kExclusivo, CFile::modeWrite | CFile::shareDenyRead, true},
               {kEscritaG, CFile::modeWrite | CFile::shareDenyNone, false}};
  std::string s = ZelNovoDiretorio("exclusivo") + "a.crbkp";
  for (const auto& [primeiro, segundo, bConflita] : casos) {
    SCOPED_TRACE(::testing::Message() << primeiro << " " << segundo);
    Escreve(s, "dados");
    CFile a, b, leitor;
    ASSERT_TRUE(a.Open(s, primeiro));
    CFileException e;
    EXPECT_EQ(b.Open(s, segundo, &e), !bConflita);
    EXPECT_TRUE(leitor.Open(s, kLeituraL));
    // The writers' lock lies far past any data: other programs' locks on records never meet it.
    struct flock fl {.l_type = F_WRLCK, .l_whence = SEEK_SET, .l_start = 0, .l_len = off_t{1} << 40, .l_pid = 0};
    const int fd = ::open(s.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_EQ(::fcntl(fd, F_OFD_GETLK, &fl), 0);
    EXPECT_EQ(fl.l_type, F_UNLCK);
    ::close(fd);
    if (!bConflita) continue;
    EXPECT_EQ(Causa(e), kPartilhado);
    EXPECT_FALSE(b.EstaAberto());
    EXPECT_EQ(ZelLeArquivoInteiro(s), "dados");
    a.Close();
    EXPECT_TRUE(b.Open(s, segundo));
  }
}
