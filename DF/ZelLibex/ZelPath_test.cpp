#include "ZelPath.h"

#include <gtest/gtest.h>

#include "ZelAmbienteTeste.h"
#include "ZelCatalogoModulos.h"
#include "ZelLConx.h"

namespace {
const std::string kEmpresas = std::string(kChaveZelSistemas) + "\\Empresas\\";
const std::string kEmpresasConexao = std::string(kChaveZelSistemas) + "\\ZelSDataBase\\Empresas\\";

class ZelPathDiretorios : public ZelAmbienteTeste {
 protected:
  void SetUp() override {
    ZelAmbienteTeste::SetUp();
    CZelPath::ReleConfiguracao();
    ZelLConxDefineAusente(false);
  }
  void TearDown() override {
    ZelLConxDefineAusente(false);
    CZelPath::ReleConfiguracao();
  }
  static void Registra(const std::string& sEmpresa, const std::string& sValor, const std::string& sDiretorio,
                       const std::string& sChave = kEmpresas) {
    ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, sChave + sEmpresa, sValor, sDiretorio), ERROR_SUCCESS);
  }
};
}  // namespace

TEST_F(ZelPathDiretorios, DiretorioDeCadaModuloPeloRegistro) {
  const char* const registros[][3] = {
      {"EMP2", "DF", "/dados/emp2"}, {"SODF2", "CB", "/dados/cb"}, {"EMP3", "DF", "/dados/emp3"},
      {"EMP3", "NE", "/outro/ne/"}, {"EMP3", "LF", "/outro/lf/"}, {"EMP4", "DF", "/dados/emp4/"},
      {"EMP5", "ES", "/dados/estoque"}};
  for (const auto& r : registros) Registra(r[0], r[1], r[2]);
  struct Caso {
    int nModulo;
    const char* szEmpresa;
    std::string sEsperado;
  };
  // Vovi Dadi, the NFe and the books use the DF value (the fixture's final separator is not doubled). Nothing is
  // registered for FN (4); 999 is outside the catalogue and names the key's default value, absent here.
  const Caso casos[] = {
      {ZEL_ZELDATABASE_INFO_PLUS, "EMP2", "/dados/emp2/VOVIDADI/"}, {1, "EMP2", "/dados/emp2/"},
      {ZEL_ZELDATABASE_INFO_PLUS, "EMP1", m_sEmpresa + "VOVIDADI/"}, {ZEL_ZELDATABASE_INFO_PLUS, "SEMCHAVE", ""},
      {1, "SEMCHAVE", ""}, {1, "", ""}, {ZEL_ZELDATABASE_INFO_PLUS, "SODF2", ""}, {23, "SODF2", ""},
      {2, "SODF2", "/dados/cb/"}, {23, "EMP3", "/dados/emp3/NFe/"}, {26, "EMP3", "/dados/emp3/"},
      {23, "EMP4", "/dados/emp4/NFe/"}, {3, "EMP5", "/dados/estoque/"}, {4, "EMP5", ""}, {999, "EMP5", ""}};
  for (const Caso& c : casos)
    EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(c.nModulo, c.szEmpresa), c.sEsperado) << c.nModulo << c.szEmpresa;
  Registra("EMP5", "", "/dados/padrao");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(999, "EMP5"), "/dados/padrao/");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(3, "EMP5", "OUTRAMAQUINA"), "");
  // By the module's code, through the catalogue, without case.
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(std::string("es"), "EMP5"), "/dados/estoque/");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(std::string("DF"), "EMP1"), m_sEmpresa);
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(std::string("XX"), "EMP5"), "");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(std::string(""), "EMP5"), "");
}

TEST_F(ZelPathDiretorios, ComZelSDataBaseOsDiretoriosEAEmpresaLogadaVemDaBibliotecaDeConexao) {
  EXPECT_EQ(CZelPath::GetNomeEmpresaLogada(), "");
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "EmpresaLogada", "EMP1"), ERROR_SUCCESS);
  EXPECT_EQ(CZelPath::GetNomeEmpresaLogada(), "EMP1");
  Registra("EMP7", "DF", "/registro/emp7/");
  Registra("EMP7", "-11", "/conexao/vovi/", kEmpresasConexao);
  Registra("EMP7", "1", "/conexao/df", kEmpresasConexao);
  // Read once: turning the switch on changes nothing until it is read again.
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(1, "EMP7"), "/registro/emp7/");
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "UtilizarZelSDataBase", 1), ERROR_SUCCESS);
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(1, "EMP7"), "/registro/emp7/");

  CZelPath::ReleConfiguracao();
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(ZEL_ZELDATABASE_INFO_PLUS, "EMP7"), "/conexao/vovi/");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(1, "EMP7"), "/conexao/df") << "the library's answer, as it gives it";
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(2, "EMP7"), "") << "a non-zero result";
  ZelLConxDefineAusente(true);
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(1, "EMP7"), "") << "a missing library";
  EXPECT_EQ(CZelPath::GetNomeEmpresaLogada(), "");
}

namespace {
struct Caso {
  const char *szEntrada, *szEsperado;
};

void Confere(const char* szFuncao, std::string (*pf)(const std::string&), std::initializer_list<Caso> casos) {
  for (const Caso& c : casos) EXPECT_EQ(pf(c.szEntrada), c.szEsperado) << szFuncao << "(\"" << c.szEntrada << "\")";
}
}  // namespace

TEST(ZelPathJunta, UmSoSeparadorEntreAsPartesEPartesAusentesOuVazias) {
  struct Par {
    const char *szPrimeira, *szSegunda, *szEsperado;
  };
  // Empty parts follow the separators' rule too; one of a pair is dropped, doubled ones inside a part stay.
  const Par pares[] = {
      {nullptr, "b", "b"}, {"a", nullptr, "a"}, {"", "b", "b"}, {"", "/b", "/b"}, {nullptr, nullptr, ""},
      {"a", "", "a/"}, {"a/", "", "a/"}, {"/d", "f.dat", "/d/f.dat"}, {"/d/", "f.dat", "/d/f.dat"},
      {"/d", "/f.dat", "/d/f.dat"}, {"/d/", "/f.dat", "/d/f.dat"}, {"/d//", "//f", "/d///f"}};
  for (const Par& p : pares)
    EXPECT_EQ(CZelPath::Junta(p.szPrimeira, p.szSegunda), p.szEsperado)
        << (p.szPrimeira ? p.szPrimeira : "null") << " + " << (p.szSegunda ? p.szSegunda : "null");
  EXPECT_EQ(CZelPath::Junta(std::string("/"), std::string("x")), "/x");
}

TEST(ZelPathPartes, NomeDiretorioTituloRaizEPai) {
  Confere("GetNome", CZelPath::GetNome, {{"/d/e/f.dat", "f.dat"}, {"f.dat", "f.dat"}, {"/d/", ""}});
  Confere("GetDiretorio", CZelPath::GetDiretorio,
          {{"/d/e/f.dat", "/d/e/"}, {"f.dat", ""}, {"/f", "/"}, {"/d//f", "/d//"}});
  // The title ends at the last dot.
  Confere("GetTitulo", CZelPath::GetTitulo,
          {{"/d/DFIEHDR.DAT", "DFIEHDR"}, {"/d/copia.tar.gz", "copia.tar"}, {"/d/.profile", ""},
           {"/d.x/semextensao", "semextensao"}, {"ponto.", "ponto"}});
  Confere("GetRaiz", CZelPath::GetRaiz,
          {{"/d/e", "/"}, {"/", "/"}, {"//servidor/compartilhado/x", "//servidor/"}, {"//servidor", "//servidor"},
           {"C:/dados", "C:/"}, {"C:dados", "C:"}, {"relativo/x", ""}, {"", ""}});
  // The parent ignores a final separator and stops at the root; a root's or a bare name's parent is empty.
  Confere("GetPai", CZelPath::GetPai,
          {{"/a/b/c", "/a/b/"}, {"/a/b/", "/a/"}, {"/a", "/"}, {"a/b", "a/"}, {"//srv/share/x", "//srv/share/"},
           {"//srv/share", "//srv/"}, {"C:/x", "C:/"}, {"/", ""}, {"//srv/", ""}, {"C:/", ""}, {"nome", ""}, {"", ""}});
}
