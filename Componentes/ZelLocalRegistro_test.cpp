#include "ZelLocalRegistro.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "ZelRegistro.h"
#include "ZelTesteAjudante.h"

namespace {
std::string Texto(HKEY raiz, const std::string& chave, const std::string& nome = "") {
  std::string s = "<falta>";
  ZelRegistro::LeTexto(raiz, chave, nome, &s);
  return s;
}

constexpr const char* kScript = R"(HKCR
{
	NoRemove CLSID
	{
		ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Classe ''Teste'''
		{
			LocalServer32 = s '%MODULE%'
			ForceRemove Programmable
			val AppID = s '%APPID%'
			val Versao = d '0x10'
		}
	}
	Teste.Classe= s 'Classe 100%%'
	{
		CurVer = s 'Teste.Classe.1'
	}
	NoRemove AppID
	{
		val Marca = s 'x'
	}
})";
const std::string kClasse = "CLSID\\{11111111-2222-3333-4444-555555555555}";
}  // namespace

TEST(ZelLocalRegistro, PalavrasDeComando) {
  using C = ZelLocalComando;
  const std::pair<const char*, C> casos[] = {
      {"-RegServer", C::RegServer},
      {"/regserver e mais texto", C::RegServer},
      {"-REGSERVERPERUSER", C::RegServerPerUser},
      {"/UnregServer", C::UnregServer},
      {"-unregserverperuser", C::UnregServerPerUser},
      {"-Embedding", C::Nenhum},
      {"", C::Nenhum},
      {"-RegServerX", C::Nenhum},
      {"-Reg", C::Nenhum},
      {"RegServer", C::Nenhum},
      {"-Embedding /UnregServerPerUser -RegServer", C::UnregServerPerUser},
      {"/usr/lib/x -RegServer", C::RegServer},
  };
  for (const auto& [sz, e] : casos) EXPECT_EQ(ZelLocalPalavraComando(sz), e) << sz;
  const char* argv[] = {"Tolvan", "-Embedding", "/RegServerPerUser"};
  EXPECT_EQ(ZelLocalPalavraComando(3, argv), C::RegServerPerUser);
  EXPECT_EQ(ZelLocalPalavraComando(1, argv), C::Nenhum);  // the program's own path never counts
}

TEST(ZelLocalRegistro, RegistraEDesregistraHonrandoNoRemoveEForceRemove) {
  const std::string d = ZelNovoDiretorio("scripts");
  setenv("ZEL_REGISTRO_MAQUINA", (d + "maquina.reg").c_str(), 1);
  setenv("ZEL_REGISTRO_USUARIO", (d + "usuario.reg").c_str(), 1);
  CZelLocalRegistrador r;
  r.AdicionaSubstituicao("MODULE", "/opt/Zel Sistemas/Tolvan");
  r.AdicionaSubstituicao("APPID", "{APP}");
  // Left by an older registration: ForceRemove clears it first.
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_CLASSES_ROOT, kClasse + "\\Velha", "", "v"), ERROR_SUCCESS);
  ASSERT_EQ(r.Registra(kScript), S_OK);
  EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, kClasse), "Classe 'Teste'");
  EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, kClasse + "\\LocalServer32"), "/opt/Zel Sistemas/Tolvan");
  EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, kClasse, "AppID"), "{APP}");
  DWORD dw = 0;
  EXPECT_EQ(ZelRegistro::LeDWORD(HKEY_CLASSES_ROOT, kClasse, "Versao", &dw), ERROR_SUCCESS);
  EXPECT_EQ(dw, 16u);
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CLASSES_ROOT, kClasse + "\\Velha"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CLASSES_ROOT, kClasse + "\\Programmable"), ERROR_SUCCESS);
  EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, "Teste.Classe"), "Classe 100%") << "%% is one percent sign";
  EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, "Teste.Classe\\CurVer"), "Teste.Classe.1");
  EXPECT_EQ(Texto(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + kClasse + "\\LocalServer32"), "/opt/Zel Sistemas/Tolvan");

  // Another program's key under a plain key keeps it, not under a ForceRemove one; NoRemove keys stay.
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_CLASSES_ROOT, "CLSID", "Outro", "1"), ERROR_SUCCESS);
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_CLASSES_ROOT, kClasse + "\\Outro", "", "o"), ERROR_SUCCESS);
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_CLASSES_ROOT, "Teste.Classe\\Outro", "", "o"), ERROR_SUCCESS);
  ASSERT_EQ(r.Desregistra(kScript), S_OK);
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CLASSES_ROOT, kClasse), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, "CLSID", "Outro"), "1");
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CLASSES_ROOT, "AppID"), ERROR_SUCCESS);
  EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, "AppID", "Marca"), "<falta>");
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CLASSES_ROOT, "Teste.Classe\\CurVer"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, "Teste.Classe\\Outro"), "o");
  EXPECT_EQ(r.Desregistra(kScript), S_OK);  // twice is harmless

  // Per user, classes go to the user's own; a Delete key goes; other roots are taken as named.
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_CURRENT_USER, "Software\\Classes\\Teste.Antiga", "", "a"), ERROR_SUCCESS);
  CZelLocalRegistrador u(true);
  const char* szUsuario = "HKCR { Delete Teste.Antiga Teste.Usuario = s 'u' } HKEY_LOCAL_MACHINE { Teste = d '10' }";
  ASSERT_EQ(u.Registra(szUsuario), S_OK);
  EXPECT_EQ(Texto(HKEY_CURRENT_USER, "Software\\Classes\\Teste.Usuario"), "u");
  EXPECT_EQ(Texto(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\Teste.Usuario"), "<falta>");
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CURRENT_USER, "Software\\Classes\\Teste.Antiga"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ZelRegistro::LeDWORD(HKEY_LOCAL_MACHINE, "Teste", "", &dw), ERROR_SUCCESS);
  EXPECT_EQ(dw, 10u) << "a number without 0x is decimal";
  // Unregistering takes a Delete key away whole, whatever was added under it.
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_CURRENT_USER, "Software\\Classes\\Teste.Antiga\\Sub", "", "s"), ERROR_SUCCESS);
  EXPECT_EQ(u.Desregistra(szUsuario), S_OK);
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CURRENT_USER, "Software\\Classes\\Teste.Antiga"), ERROR_FILE_NOT_FOUND);

  // Quoted, a brace or an equals sign is a name like any other.
  ASSERT_EQ(r.Registra("HKCR { Teste.Sinais { '}' = s '{' '=' } }"), S_OK);
  EXPECT_EQ(Texto(HKEY_CLASSES_ROOT, "Teste.Sinais\\}"), "{");
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CLASSES_ROOT, "Teste.Sinais\\="), ERROR_SUCCESS);

  // A malformed script writes nothing.
  for (const char* sz : {"HKCR { A = s 'x' { B = s 'y' }", "HKCR { A = q 'x' }", "HKXX { A }",
                         "HKCR { A = s '%DESCONHECIDA%' }", "HKCR { A = s 'sem fim }", "HKCR { A = d 'x1' }",
                         "HKCR { A = d '' }", "HKCR { A = s 'x' } HKCR"})
    EXPECT_EQ(r.Registra(sz), E_INVALIDARG) << sz;
  EXPECT_EQ(ZelRegistro::ExisteChave(HKEY_CLASSES_ROOT, "A"), ERROR_FILE_NOT_FOUND);
}

