#include "ZelRegistro.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "ZelCp1252.h"
#include "ZelTesteAjudante.h"

namespace {

// Each test points both files at a directory of its own (helpers inherit it).
std::string UsaRegistroNovo(const std::string& sNome) {
  std::string d = ZelNovoDiretorio(sNome);
  setenv("ZEL_REGISTRO_MAQUINA", (d + "etc/zel/maquina.reg").c_str(), 1);
  setenv("ZEL_REGISTRO_USUARIO", (d + "config/usuario.reg").c_str(), 1);
  return d;
}

void EscreveArquivo(const std::string& sCaminho, const std::string& sConteudo) {
  std::filesystem::create_directories(std::filesystem::path(sCaminho).parent_path());
  std::ofstream(sCaminho, std::ios::binary) << sConteudo;
}

std::string Texto(HKEY raiz, const std::string& chave, const std::string& nome) {
  std::string s = "<falta>";
  ZelRegistro::LeTexto(raiz, chave, nome, &s);
  return s;
}

// The number, or 0xBAD where it cannot be read.
DWORD Numero(HKEY raiz, const std::string& chave, const std::string& nome) {
  DWORD dw = 0;
  return ZelRegistro::LeDWORD(raiz, chave, nome, &dw) == ERROR_SUCCESS ? dw : 0xBADu;
}

constexpr const char* kChave = "SOFTWARE\\Zel\\Teste";

}  // namespace

ZEL_AJUDANTE(GravaDword) {
  return ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, args[0], args[1], static_cast<DWORD>(std::stoul(args[2])));
}

// Writes args[1] values named "<args[0]><i>" once the start marker appears.
ZEL_AJUDANTE(GravaMuitos) {
  if (!ZelEsperaArquivo(args[2])) return 2;
  for (int i = 0; i < std::stoi(args[1]); ++i)
    if (ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChave, args[0] + std::to_string(i), i) != ERROR_SUCCESS) return 1;
  return 0;
}

// Writes as an unprivileged user, so that the kernel refuses to read the file.
ZEL_AJUDANTE(GravaSemPermissao) {
  if (!ZelDeixaDeSerRoot()) return 3;
  return ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChave, "v", 9) == ERROR_ACCESS_DENIED ? 0 : 4;
}

TEST(ZelRegistro, IdaEVoltaNoFormatoDoEditor) {
  UsaRegistroNovo("idaevolta");
  EXPECT_EQ(ZelLeChaveZel("Falta"), 0u);  // no file yet
  EXPECT_EQ(ZelLeTextoZel("Falta"), "");

  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChave, "Versao", 0x1A2B), ERROR_SUCCESS);
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChave, "Caminho", "C:\\dados\\\"x\""), ERROR_SUCCESS);
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChave, "", "padr\xE3o"), ERROR_SUCCESS);
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "Empresa", 7), ERROR_SUCCESS);

  EXPECT_EQ(Numero(HKEY_LOCAL_MACHINE, kChave, "Versao"), 0x1A2Bu);
  EXPECT_EQ(Texto(HKEY_LOCAL_MACHINE, kChave, "Caminho"), "C:\\dados\\\"x\"");
  EXPECT_EQ(Texto(HKEY_LOCAL_MACHINE, kChave, ""), "padr\xE3o");
  EXPECT_EQ(ZelLeChaveZel("Empresa"), 7u);
  EXPECT_EQ(ZelRegistro::LeTexto(HKEY_LOCAL_MACHINE, kChave, "Versao", nullptr), ERROR_INVALID_PARAMETER);
  std::string s;
  EXPECT_EQ(ZelRegistro::LeTexto(HKEY_LOCAL_MACHINE, kChave, "Versao", &s), ERROR_INVALID_DATA);
  DWORD dw = 0;
  EXPECT_EQ(ZelRegistro::LeDWORD(HKEY_LOCAL_MACHINE, kChave, "Falta", &dw), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ZelRegistro::LeDWORD(HKEY_CURRENT_USER, kChave, "Versao", &dw), ERROR_FILE_NOT_FOUND);

  const std::string sArquivo = ZelArquivoRegistro(HKEY_LOCAL_MACHINE);
  EXPECT_EQ(ZelLeArquivoInteiro(sArquivo),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel\\Teste]\n"
            "\"Versao\"=dword:00001a2b\n\"Caminho\"=\"C:\\\\dados\\\\\\\"x\\\"\"\n@=\"padr\xE3o\"\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Zel Sistemas]\n\"Empresa\"=dword:00000007\n\n");

  // An administrator's edit in place, of the same size, is read: the file's times tell it from
  // the contents parsed before. A second later, as an edit by hand comes: two writes may share a tick.
  s = ZelLeArquivoInteiro(sArquivo);
  const size_t n = s.find("dword:00001a2b");
  ASSERT_NE(n, std::string::npos);
  s.replace(n, 14, "dword:00002222");
  struct stat antes {};
  ASSERT_EQ(::stat(sArquivo.c_str(), &antes), 0);
  std::fstream(sArquivo, std::ios::binary | std::ios::in | std::ios::out) << s;
  const timespec t[2] = {{antes.st_mtim.tv_sec + 1, 0}, {antes.st_mtim.tv_sec + 1, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, sArquivo.c_str(), t, 0), 0);
  struct stat depois {};
  ASSERT_EQ(::stat(sArquivo.c_str(), &depois), 0);
  ASSERT_EQ(depois.st_ino, antes.st_ino);
  ASSERT_EQ(depois.st_size, antes.st_size);
  EXPECT_EQ(Numero(HKEY_LOCAL_MACHINE, kChave, "Versao"), 0x2222u);

  // A new file can be read by every account (services read the machine's
  // settings); a rewrite keeps the mode its administrator gave it.
  auto Modo = [&] {
    struct stat st {};
    return ::stat(sArquivo.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000;
  };
  EXPECT_EQ(Modo(), 0644u);
  ASSERT_EQ(::chmod(sArquivo.c_str(), 0640), 0);

  // Another process's change, of the same size: only the file's identity tells it.
  ASSERT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("GravaDword", {kChave, "Versao", "6700"})), 0);
  EXPECT_EQ(Numero(HKEY_LOCAL_MACHINE, kChave, "Versao"), 6700u);
  EXPECT_EQ(Modo(), 0640u);

  // A text with a line break goes in hex.
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_CURRENT_USER, kChave, "Linhas", "um\r\ndois \x80"), ERROR_SUCCESS);
  EXPECT_EQ(Texto(HKEY_CURRENT_USER, kChave, "Linhas"), "um\r\ndois \x80");
  s = ZelLeArquivoInteiro(ZelArquivoRegistro(HKEY_CURRENT_USER));
  EXPECT_NE(s.find("\"Linhas\"=hex(1):75,00,6d,00,0d,00,0a,00,"), std::string::npos) << s;
  EXPECT_NE(s.find("20,00,ac,20,00,00\n"), std::string::npos) << s;
}

TEST(ZelRegistro, CaixaCRLFTiposDesconhecidosEUtf16) {
  UsaRegistroNovo("caixa");
  EscreveArquivo(ZelArquivoRegistro(HKEY_LOCAL_MACHINE),
                 "Windows Registry Editor Version 5.00\r\n\r\n"
                 "[HKEY_LOCAL_MACHINE\\Software\\WOW6432NODE\\ZEL SISTEMAS]\r\n"
                 "\"EmpresaLogada\"=\"12\"\r\n\"Bin\"=hex:01,02,\\\t\r\n  03\r\n\"Flag\"=dword:0000000A \t\r\n"
                 "\"Longo\"=dword:123456789\r\n\"Dir\"=hex(2):2f,00,78,00,00,00\r\n"
                 "\"Quatro\"=hex(4):0a,0b,0c,80\r\n\"Cinco\"=hex(4):0a,00,00,80,00\r\n\"Torto\"=hex(4):0a,0g,0c,80\r\n"
                 "\"Aberto\"=\"sem fim\r\n"
                 "\"Ultimo\"=\"antes\"\r\n"  // given twice: the last one holds, type and all
                 "\"Ultimo\"=dword:00000002");  // as a hand edit leaves it: no break after the last value
  EXPECT_EQ(ZelLeTextoZel("empresalogada"), "12");
  EXPECT_EQ(Texto(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "Aberto"), "<falta>") << "a quote never closed is no text";
  EXPECT_EQ(ZelLeChaveZel("FLAG"), 10u);
  EXPECT_EQ(Texto(HKEY_LOCAL_MACHINE, "software\\wow6432node\\zel sistemas\\", "DIR"), "/x");
  EXPECT_EQ(ZelLeChaveZel("Ultimo"), 2u);
  EXPECT_EQ(Numero(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "Quatro"), 0x800C0B0Au) << "four bytes, the lowest first";
  DWORD dw = 0;
  for (const char* sz : {"Bin", "Longo", "Cinco", "Torto"})  // bytes, numbers too long for 32 bits, a bad digit
    EXPECT_EQ(ZelRegistro::LeDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, sz, &dw), ERROR_INVALID_DATA) << sz;

  // A rewrite keeps the spellings and what it cannot interpret, as it stands.
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, "SOFTWARE\\wow6432node\\Zel Sistemas", "flag", 11),
            ERROR_SUCCESS);
  EXPECT_EQ(ZelLeArquivoInteiro(ZelArquivoRegistro(HKEY_LOCAL_MACHINE)),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\WOW6432NODE\\ZEL SISTEMAS]\n"
            "\"EmpresaLogada\"=\"12\"\n\"Bin\"=hex:01,02,\\\t\n  03\n\"Flag\"=dword:0000000b\n"
            "\"Longo\"=dword:123456789\n\"Dir\"=hex(2):2f,00,78,00,00,00\n"
            "\"Quatro\"=hex(4):0a,0b,0c,80\n\"Cinco\"=hex(4):0a,00,00,80,00\n\"Torto\"=hex(4):0a,0g,0c,80\n"
            "\"Aberto\"=\"sem fim\n\"Ultimo\"=dword:00000002\n\n");
  EXPECT_EQ(ZelRegistro::ListaValores(HKEY_LOCAL_MACHINE, kChaveZelSistemas),
            (std::vector<std::string>{"EmpresaLogada", "Bin", "Flag", "Longo", "Dir", "Quatro", "Cinco", "Torto",
                                      "Aberto", "Ultimo"}));

  // The original editor saves UTF-16; a UTF-8 mark is skipped.
  // No header line: the mark stands right before the first key.
  const std::u16string sTexto =
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel\\Teste]\r\n\"Nome\"=\"A\u00E7\u00E3o \u20AC\u0178 \u4E2D\"\r\n";
  std::string sBytes = "\xFF\xFE";
  for (char16_t c : sTexto) sBytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  EscreveArquivo(ZelArquivoRegistro(HKEY_LOCAL_MACHINE), sBytes + "\n");  // an odd last byte is no character
  EXPECT_EQ(Texto(HKEY_LOCAL_MACHINE, kChave, "Nome"), "A\xE7\xE3o \x80\x9F ?");
  EscreveArquivo(ZelArquivoRegistro(HKEY_LOCAL_MACHINE),
                 "\xEF\xBB\xBF[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel\\Teste]\n\"Nome\"=\"marcado\"\n");
  EXPECT_EQ(Texto(HKEY_LOCAL_MACHINE, kChave, "Nome"), "marcado");
}

TEST(ZelRegistro, ClassesRootJuntaUsuarioEMaquina) {
  UsaRegistroNovo("classes");
  const std::string kClsid = "CLSID\\{AEDCC5AC-C54A-410A-AC6D-B6B7B7BAFD6A}";
  EscreveArquivo(ZelArquivoRegistro(HKEY_LOCAL_MACHINE),
                 "Windows Registry Editor Version 5.00\n\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\" + kClsid + "\\LocalServer32]\n"
                 "@=\"/maquina/servidor\"\n"
                 "\"ThreadingModel\"=\"Both\"\n\n"
                 "[HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000001}]\n");
  EscreveArquivo(ZelArquivoRegistro(HKEY_CURRENT_USER),
                 "Windows Registry Editor Version 5.00\n\n"
                 "[HKEY_CURRENT_USER\\Software\\Classes\\clsid\\"
                 "{aedcc5ac-c54a-410a-ac6d-b6b7b7bafd6a}\\LocalServer32]\n"
                 "@=\"/usuario/servidor\"\n");

  const std::string kServidor = kClsid + "\\LocalServer32";
  EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, kServidor, ""), "/usuario/servidor");
  EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, kServidor, "threadingmodel"), "Both");
  EXPECT_EQ(ZelRegistro::ListaValores(HKEY_CLASSES_ROOT, kServidor), (std::vector<std::string>{"", "ThreadingModel"}));
  EXPECT_EQ(ZelRegistro::ListaSubchaves(HKEY_CLASSES_ROOT, "clsid"),
            (std::vector<std::string>{"{00000000-0000-0000-0000-000000000001}",
                                      "{aedcc5ac-c54a-410a-ac6d-b6b7b7bafd6a}"}))
      << "a key both hives hold, spelled apart, is listed once, as the first hive spells it";
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-000000000001}"),
            ERROR_SUCCESS);

  // Writes go to the machine's classes and do not hide the user's value.
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_CLASSES_ROOT, kServidor, "", "/novo"), ERROR_SUCCESS);
  EXPECT_EQ(Texto(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + kServidor, ""), "/novo");
  EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, kServidor, ""), "/usuario/servidor");
}

TEST(ZelRegistro, ExcluiChaveComSubchavesOuPorSecaoDeExclusao) {
  UsaRegistroNovo("exclui");
  const std::string a = "SOFTWARE\\A";
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_CURRENT_USER, a + "\\B", "x", 1), ERROR_SUCCESS);
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_CURRENT_USER, a + "\\B\\C\\D", "y", 2), ERROR_SUCCESS);
  ASSERT_EQ(ZelRegistro::CriaChave(HKEY_CURRENT_USER, a + "\\Bx"), ERROR_SUCCESS);
  // A key with no section of its own exists because a subkey does.
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CURRENT_USER, a + "\\b\\c"), ERROR_SUCCESS);
  EXPECT_EQ(ZelRegistro::ListaSubchaves(HKEY_CURRENT_USER, a), (std::vector<std::string>{"B", "Bx"}));

  EXPECT_EQ(ZelRegistro::ExcluiChave(HKEY_CURRENT_USER, a + "\\b"), ERROR_SUCCESS);
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CURRENT_USER, a + "\\B\\C\\D"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CURRENT_USER, a + "\\B"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CURRENT_USER, a + "\\Bx"), ERROR_SUCCESS);
  EXPECT_EQ(ZelRegistro::ExcluiChave(HKEY_CURRENT_USER, a + "\\B"), ERROR_FILE_NOT_FOUND);
  // No key name is no licence to empty the whole root.
  for (const char* sz : {"", "\\"}) EXPECT_EQ(ZelRegistro::ExcluiChave(HKEY_CURRENT_USER, sz), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_LOCAL_MACHINE, ""), ERROR_SUCCESS) << "a root exists, even an empty one";
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CURRENT_USER, a + "\\Bx"), ERROR_SUCCESS);

  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_CURRENT_USER, a, "z", 3), ERROR_SUCCESS);
  EXPECT_EQ(ZelRegistro::ExcluiValor(HKEY_CURRENT_USER, a, "Z"), ERROR_SUCCESS);
  EXPECT_EQ(ZelRegistro::ExcluiValor(HKEY_CURRENT_USER, a, "z"), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(ZelRegistro::ListaValores(HKEY_CURRENT_USER, a).empty());

  // A deletion section, as in an import file, removes the key and its subkeys; its values belong to
  // no key, and a rewrite keeps every other key and no deletion section.
  EscreveArquivo(ZelArquivoRegistro(HKEY_LOCAL_MACHINE),
                 "Windows Registry Editor Version 5.00\n\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velha]\n\"a\"=dword:00000001\n\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velha\\Filha]\n\"b\"=dword:00000002\n\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VelhaIrma]\n\"c\"=dword:00000003\n\n"
                 "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\velha]\n\"d\"=dword:00000004\n\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Fica]\n\"e\"=dword:00000005\n");
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velha"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velha\\Filha"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ZelRegistro::ListaSubchaves(HKEY_LOCAL_MACHINE, "SOFTWARE"), (std::vector<std::string>{"Fica", "VelhaIrma"}));
  EXPECT_EQ(Numero(HKEY_LOCAL_MACHINE, "SOFTWARE\\Fica", "e"), 5u);

  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, "SOFTWARE\\Fica", "f", 6), ERROR_SUCCESS);
  EXPECT_EQ(ZelLeArquivoInteiro(ZelArquivoRegistro(HKEY_LOCAL_MACHINE)),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VelhaIrma]\n\"c\"=dword:00000003\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Fica]\n\"e\"=dword:00000005\n\"f\"=dword:00000006\n\n");
}

TEST(ZelRegistro, GravacoesConcorrentesNaoSePerdem) {
  std::string d = UsaRegistroNovo("concorrentes");
  constexpr int kPorEscritor = 30;
  std::string n = std::to_string(kPorEscritor);
  pid_t a = ZelIniciaAjudante("GravaMuitos", {"A", n, d + "comeca"});
  pid_t b = ZelIniciaAjudante("GravaMuitos", {"B", n, d + "comeca"});
  ZelCriaMarcador(d + "comeca");
  std::thread t([] {
    for (int i = 0; i < kPorEscritor; ++i) ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChave, "T" + std::to_string(i), i);
  });
  for (int i = 0; i < kPorEscritor; ++i) ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChave, "U" + std::to_string(i), i);
  t.join();
  EXPECT_EQ(ZelEsperaAjudante(a), 0);
  EXPECT_EQ(ZelEsperaAjudante(b), 0);

  EXPECT_EQ(ZelRegistro::ListaValores(HKEY_LOCAL_MACHINE, kChave).size(), 4u * kPorEscritor);
  for (const char* p : {"A", "B", "T", "U"})
    for (int i = 0; i < kPorEscritor; ++i)
      EXPECT_EQ(Numero(HKEY_LOCAL_MACHINE, kChave, p + std::to_string(i)), static_cast<DWORD>(i)) << p << i;
}

// A write the file-size limit cuts short, as a full disk would.
ZEL_AJUDANTE(GravaAlemDoLimite) {
  signal(SIGXFSZ, SIG_IGN);
  const rlimit lim{1024, 1024};
  if (setrlimit(RLIMIT_FSIZE, &lim) != 0) return 2;
  const LONG l = ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChave, "grande", std::string(4000, 'g'));
  return l == ERROR_WRITE_FAULT ? 0 : 1;
}

// A write that fails half-way keeps the file as it was and leaves no temporary file beside it.
TEST(ZelRegistro, GravacaoInterrompidaOuSobreArquivoIlegivelNaoTocaNele) {
  const std::string d = UsaRegistroNovo("interrompida"), sReg = d + "etc/zel/maquina.reg";
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChave, "v", 7), ERROR_SUCCESS);
  std::string sAntes = ZelLeArquivoInteiro(sReg);
  ASSERT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("GravaAlemDoLimite")), 0);
  EXPECT_EQ(ZelLeArquivoInteiro(sReg), sAntes);
  std::vector<std::string> aNomes;
  for (const auto& e : std::filesystem::directory_iterator(d + "etc/zel")) aNomes.push_back(e.path().filename());
  std::sort(aNomes.begin(), aNomes.end());
  EXPECT_EQ(aNomes, (std::vector<std::string>{"maquina.reg", "maquina.reg.lock"}));
  // A write that changes nothing leaves the file alone: it is not replaced.
  // A second name for the file tells, where a freed inode number may come back.
  ASSERT_EQ(link(sReg.c_str(), (sReg + ".elo").c_str()), 0);
  const auto Nomes = [&] {
    struct stat st {};
    return stat(sReg.c_str(), &st) == 0 ? st.st_nlink : 0;
  };
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChave, "v", 7), ERROR_SUCCESS);
  EXPECT_EQ(Nomes(), 2u);
  ASSERT_EQ(ZelRegistro::CriaChave(HKEY_LOCAL_MACHINE, kChave), ERROR_SUCCESS);
  EXPECT_EQ(Nomes(), 2u);
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChave, "v", 8), ERROR_SUCCESS);
  EXPECT_EQ(Nomes(), 1u) << "a change is written";

  // A file that exists but cannot be read is not an empty one: writing over it would lose every key it holds.
  sAntes = ZelLeArquivoInteiro(sReg);
  ASSERT_EQ(::chmod(sReg.c_str(), 0), 0);
  ASSERT_EQ(::chmod((sReg + ".lock").c_str(), 0666), 0);
  ASSERT_EQ(::chmod((d + "etc/zel").c_str(), 0777), 0);
  // The other user must reach the file for the kernel to refuse it.
  ASSERT_EQ(::chmod(ZelDiretorioTeste().c_str(), 0711), 0);
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("GravaSemPermissao")), 0);
  ASSERT_EQ(::chmod(ZelDiretorioTeste().c_str(), 0700), 0);
  ASSERT_EQ(::chmod(sReg.c_str(), 0644), 0);
  EXPECT_EQ(ZelLeArquivoInteiro(sReg), sAntes);

  // A directory in the file's place opens but does not read.
  const std::string dUsu = UsaRegistroNovo("ilegivel-dir");
  std::filesystem::create_directories(dUsu + "config/usuario.reg");
  EXPECT_EQ(ZelRegistro::GravaDWORD(HKEY_CURRENT_USER, kChave, "v", 1), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(std::filesystem::is_directory(dUsu + "config/usuario.reg"));
}

// Without the variables that name them, the files are the machine's and the user's configuration.
TEST(ZelRegistro, ArquivosPadraoDaMaquinaEDoUsuario) {
  unsetenv("ZEL_REGISTRO_MAQUINA");
  unsetenv("ZEL_REGISTRO_USUARIO");
  EXPECT_EQ(ZelArquivoRegistro(HKEY_LOCAL_MACHINE), "/etc/zel/maquina.reg");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  setenv("HOME", "/casa", 1);
  EXPECT_EQ(ZelArquivoRegistro(HKEY_CURRENT_USER), "/cfg/zel/usuario.reg");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(ZelArquivoRegistro(HKEY_CURRENT_USER), "/casa/.config/zel/usuario.reg");
  unsetenv("HOME");
  const passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(ZelArquivoRegistro(HKEY_CURRENT_USER), std::string(pw->pw_dir) + "/.config/zel/usuario.reg");
}

TEST(ZelRegistro, TextoLargoEmWindows1252) {
  EXPECT_EQ(ZelTextoCp1252(L"Par\u00E2metro \u20AC\u2013\u0178"), "Par\xE2metro \x80\x96\x9F");
  EXPECT_EQ(ZelTextoCp1252(L"\u4E2D\U0001F600\u0100"), "???") << "outside the code page";
  EXPECT_EQ(ZelTextoCp1252(L"\u0080\u0081"), "?\x81") << "a C1 control keeps its byte only in a hole";
  EXPECT_EQ(ZelTextoCp1252(nullptr), "");
  // Every byte, the holes and NUL too, comes back from its character.
  for (int b = 0; b < 256; ++b)
    EXPECT_EQ(ZelUnicodeParaCp1252(ZelCp1252ParaUnicode(static_cast<unsigned char>(b))), b) << b;
}
