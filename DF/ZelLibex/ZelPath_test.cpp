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
  static void Registra(const std::string& sEmpresa, const std::string& sValor, const std::string& sDiretorio) {
    ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kEmpresas + sEmpresa, sValor, sDiretorio), ERROR_SUCCESS);
  }
  static void LigaConexao() {
    ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "UtilizarZelSDataBase", 1),
              ERROR_SUCCESS);
    CZelPath::ReleConfiguracao();
  }
};
}  // namespace

TEST_F(ZelPathDiretorios, DiretorioVoviDadiAcrescentaSeparadorESubdiretorio) {
  Registra("EMP2", "DF", "/dados/emp2");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(ZEL_ZELDATABASE_INFO_PLUS, "EMP2"), "/dados/emp2/VOVIDADI/");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(1, "EMP2"), "/dados/emp2/");
  // The fixture's company already ends in a separator: it is not doubled.
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(ZEL_ZELDATABASE_INFO_PLUS, "EMP1"), m_sEmpresa + "VOVIDADI/");
}

TEST_F(ZelPathDiretorios, EmpresaSemChaveOuSemDFDaDiretorioVazio) {
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(ZEL_ZELDATABASE_INFO_PLUS, "SEMCHAVE"), "");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(1, "SEMCHAVE"), "");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(1, ""), "");
  Registra("SODF2", "CB", "/dados/cb");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(ZEL_ZELDATABASE_INFO_PLUS, "SODF2"), "");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(23, "SODF2"), "");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(2, "SODF2"), "/dados/cb/");
}

TEST_F(ZelPathDiretorios, ModulosDaNFeEDosLivrosUsamOValorDF) {
  Registra("EMP3", "DF", "/dados/emp3");
  Registra("EMP3", "NE", "/outro/ne/");
  Registra("EMP3", "LF", "/outro/lf/");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(23, "EMP3"), "/dados/emp3/NFe/");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(26, "EMP3"), "/dados/emp3/");
  Registra("EMP4", "DF", "/dados/emp4/");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(23, "EMP4"), "/dados/emp4/NFe/");
}

TEST_F(ZelPathDiretorios, OutrosModulosLeemOValorDoSeuCodigo) {
  Registra("EMP5", "ES", "/dados/estoque");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(3, "EMP5"), "/dados/estoque/");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(4, "EMP5"), "") << "nothing registered for FN";
  // A number outside the catalogue names the key's default value.
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(999, "EMP5"), "");
  Registra("EMP5", "", "/dados/padrao");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(999, "EMP5"), "/dados/padrao/");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(3, "EMP5", "OUTRAMAQUINA"), "");
}

TEST_F(ZelPathDiretorios, CodigoDoModuloPeloCatalogoSemCaixa) {
  Registra("EMP6", "ES", "/dados/es6");
  EXPECT_EQ(CZelCatalogoModulos::GetNumero("df"), 1);
  EXPECT_EQ(CZelCatalogoModulos::GetCodigo(1), "DF");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(std::string("es"), "EMP6"), "/dados/es6/");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(std::string("DF"), "EMP1"), m_sEmpresa);
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(std::string("XX"), "EMP6"), "");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(std::string(""), "EMP6"), "");
}

TEST_F(ZelPathDiretorios, ComZelSDataBaseOsDiretoriosVemDaBibliotecaDeConexao) {
  Registra("EMP7", "DF", "/registro/emp7/");
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kEmpresasConexao + "EMP7", "-11", "/conexao/vovi/"),
            ERROR_SUCCESS);
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kEmpresasConexao + "EMP7", "1", "/conexao/df"), ERROR_SUCCESS);
  // Read once: turning the switch on changes nothing until it is read again.
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(1, "EMP7"), "/registro/emp7/");
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "UtilizarZelSDataBase", 1), ERROR_SUCCESS);
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(1, "EMP7"), "/registro/emp7/");

  LigaConexao();
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(ZEL_ZELDATABASE_INFO_PLUS, "EMP7"), "/conexao/vovi/");
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(1, "EMP7"), "/conexao/df") << "the library's answer, as it gives it";
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(2, "EMP7"), "") << "a non-zero result";
  ZelLConxDefineAusente(true);
  EXPECT_EQ(CZelPath::GetDiretorioDadosModulo(1, "EMP7"), "") << "a missing library";
}

TEST_F(ZelPathDiretorios, EmpresaLogadaVemDaBibliotecaDeConexao) {
  EXPECT_EQ(CZelPath::GetNomeEmpresaLogada(), "");
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "EmpresaLogada", "EMP1"), ERROR_SUCCESS);
  EXPECT_EQ(CZelPath::GetNomeEmpresaLogada(), "EMP1");
  ZelLConxDefineAusente(true);
  EXPECT_EQ(CZelPath::GetNomeEmpresaLogada(), "");
}

TEST(ZelPathJunta, PartesAusentesOuVazias) {
  EXPECT_EQ(CZelPath::Junta(nullptr, "b"), "b");
  EXPECT_EQ(CZelPath::Junta("a", nullptr), "a");
  EXPECT_EQ(CZelPath::Junta("", "b"), "b");
  EXPECT_EQ(CZelPath::Junta("", "/b"), "/b");
  EXPECT_EQ(CZelPath::Junta(nullptr, nullptr), "");
  // Present but empty: the rule of the separators still applies.
  EXPECT_EQ(CZelPath::Junta("a", ""), "a/");
  EXPECT_EQ(CZelPath::Junta("a/", ""), "a/");
}

TEST(ZelPathJunta, UmSoSeparadorEntreAsPartes) {
  EXPECT_EQ(CZelPath::Junta("/d", "f.dat"), "/d/f.dat");
  EXPECT_EQ(CZelPath::Junta("/d/", "f.dat"), "/d/f.dat");
  EXPECT_EQ(CZelPath::Junta("/d", "/f.dat"), "/d/f.dat");
  EXPECT_EQ(CZelPath::Junta("/d/", "/f.dat"), "/d/f.dat");
  // Only one of a pair is dropped; doubled separators inside a part stay.
  EXPECT_EQ(CZelPath::Junta("/d//", "//f"), "/d///f");
  EXPECT_EQ(CZelPath::Junta(std::string("/"), std::string("x")), "/x");
}

TEST(ZelPathPartes, NomeEDiretorio) {
  EXPECT_EQ(CZelPath::GetNome("/d/e/f.dat"), "f.dat");
  EXPECT_EQ(CZelPath::GetNome("f.dat"), "f.dat");
  EXPECT_EQ(CZelPath::GetNome("/d/"), "");
  EXPECT_EQ(CZelPath::GetDiretorio("/d/e/f.dat"), "/d/e/");
  EXPECT_EQ(CZelPath::GetDiretorio("f.dat"), "");
  EXPECT_EQ(CZelPath::GetDiretorio("/f"), "/");
  EXPECT_EQ(CZelPath::GetDiretorio("/d//f"), "/d//");
}

TEST(ZelPathPartes, TituloCortaNoUltimoPonto) {
  EXPECT_EQ(CZelPath::GetTitulo("/d/DFIEHDR.DAT"), "DFIEHDR");
  EXPECT_EQ(CZelPath::GetTitulo("/d/copia.tar.gz"), "copia.tar");
  EXPECT_EQ(CZelPath::GetTitulo("/d/.profile"), "");
  EXPECT_EQ(CZelPath::GetTitulo("/d.x/semextensao"), "semextensao");
  EXPECT_EQ(CZelPath::GetTitulo("ponto."), "ponto");
}

TEST(ZelPathPartes, Raiz) {
  EXPECT_EQ(CZelPath::GetRaiz("/d/e"), "/");
  EXPECT_EQ(CZelPath::GetRaiz("/"), "/");
  EXPECT_EQ(CZelPath::GetRaiz("//servidor/compartilhado/x"), "//servidor/");
  EXPECT_EQ(CZelPath::GetRaiz("//servidor"), "//servidor");
  EXPECT_EQ(CZelPath::GetRaiz("C:/dados"), "C:/");
  EXPECT_EQ(CZelPath::GetRaiz("C:dados"), "C:");
  EXPECT_EQ(CZelPath::GetRaiz("relativo/x"), "");
  EXPECT_EQ(CZelPath::GetRaiz(""), "");
}

TEST(ZelPathPartes, PaiIgnoraSeparadorFinalEParaNaRaiz) {
  EXPECT_EQ(CZelPath::GetPai("/a/b/c"), "/a/b/");
  EXPECT_EQ(CZelPath::GetPai("/a/b/"), "/a/");
  EXPECT_EQ(CZelPath::GetPai("/a"), "/");
  EXPECT_EQ(CZelPath::GetPai("a/b"), "a/");
  EXPECT_EQ(CZelPath::GetPai("//srv/share/x"), "//srv/share/");
  EXPECT_EQ(CZelPath::GetPai("//srv/share"), "//srv/");
  EXPECT_EQ(CZelPath::GetPai("C:/x"), "C:/");
}

TEST(ZelPathPartes, PaiDaRaizOuDeNomeSoltoEhVazio) {
  EXPECT_EQ(CZelPath::GetPai("/"), "");
  EXPECT_EQ(CZelPath::GetPai("//srv/"), "");
  EXPECT_EQ(CZelPath::GetPai("C:/"), "");
  EXPECT_EQ(CZelPath::GetPai("nome"), "") << "no separator: the root, which is empty";
  EXPECT_EQ(CZelPath::GetPai(""), "");
}
