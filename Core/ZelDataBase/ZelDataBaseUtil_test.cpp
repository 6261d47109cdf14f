#include "ZelDataBaseUtil.h"

#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "ZelArqMarcaFila.h"
#include "ZelDataBaseControleCriacaoArquivos.h"
#include "ZelDataBaseTeste.h"
#include "ZelDataBaseUtilT.h"
#include "ZelTextFile.h"

namespace {
using ZelDataBaseUtilTeste = ZelDataBaseTeste;

std::string Registro(const std::string& s) {
  uint32_t n = static_cast<uint32_t>(s.size());
  return std::string(reinterpret_cast<const char*>(&n), 4) + s;
}
const std::string kLista = ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS;
}  // namespace

TEST_F(ZelDataBaseUtilTeste, FormatoDosNomesModosECaminhosDosDados) {
  const std::tuple<const char*, bool, const char*> nomes[] = {
      {"dfievinc.DAT", false, "DFIEVINC.dat"}, {"/d/Emp/dfievinc.DAT", true, "/d/Emp/DFIEVINC.dat"},
      {"/d/Emp/dfievinc.DAT", false, "DFIEVINC.dat"}, {"a.b.C", false, "A.B.c"}, {"semext", false, "SEMEXT"}};
  for (const auto& [sz, b, szFeito] : nomes) EXPECT_EQ(CZelDataBaseUtil::FormataNomeArquivo(sz, b), szFeito) << sz;
  using enum EZelDataBase_ModoAbertura;
  const std::pair<EZelDataBase_ModoAbertura, const char*> modos[] = {
      {eModoInvalido, "Invalido"}, {eModoLeituraGravacao, "LeituraGravacao"},
      {eModoLeituraSemBloqueio, "LeituraSemBloqueio"}, {eModoLeituraGravacaoCriacao, "LeituraGravacaoCriacao"},
      {static_cast<EZelDataBase_ModoAbertura>(7), "Desconhecido"}};
  for (const auto& [eModo, szNome] : modos) EXPECT_EQ(CZelDataBaseUtil::ModoAberturaToString(eModo), szNome);
  std::string s;
  EXPECT_EQ(CZelDataBaseUtil::GetPathArquivo(kModuloTeste, "EMP1", "X.dat", &s), S_OK);
  EXPECT_EQ(s, m_sEmpresa + "X.dat");
  EXPECT_EQ(CZelDataBaseUtil::GetPathDados(ZEL_ZELDATABASE_INFO_PLUS, "EMP1", &s), S_OK);
  EXPECT_EQ(s, m_sEmpresa + "VOVIDADI/");
  EXPECT_EQ(CZelDataBaseUtil::GetPathDados(kModuloTeste, "NINGUEM", &s), HR(0x81080A5F));
}

// Frees what a 50-attempt retry waits on halfway through its 49th wait.
template <class F>
std::thread LiberaNoMeioDaPenultimaEspera(F libera) {
  return std::thread([libera] {
    Sleep(ZelTempoMs(ZelTempo::kIntervaloRetentativaZelDataBase) * 97 / 2);
    libera();
  });
}

// args: the path of EMP1's X.dat, read-only. 0 when its deletion waited until the file was freed, halfway
// through the 49th interval.
ZEL_AJUDANTE(ApagaOQueDemoraASerLiberado) {
  std::thread libera = LiberaNoMeioDaPenultimaEspera([&args] { chmod(args.at(0).c_str(), 0644); });
  CZelProfilerEmpresa maria("EMP1", 3, 1);
  const HRESULT hr = CZelDataBaseUtil::DeletaArquivo(&maria, kModuloTeste, "X.dat", 0, false);
  libera.join();
  return hr == S_OK && !ZelExisteArquivo(args.at(0)) ? 0 : 1;
}

// args: the path of EMP1's R.dat, a directory. 0 when R.tra's rename over it waited until the directory went,
// halfway through the 49th interval.
ZEL_AJUDANTE(RenomeiaQuandoODiretorioSai) {
  std::thread libera = LiberaNoMeioDaPenultimaEspera([&args] { rmdir(args.at(0).c_str()); });
  CZelProfilerEmpresa emp("EMP1");
  const HRESULT hr = CZelDataBaseUtil::RenomeiaArquivoTRA(&emp, kModuloTeste, "R.dat");
  libera.join();
  return hr == S_OK ? 0 : 1;
}

TEST_F(ZelDataBaseUtilTeste, DelecaoAuditoriaNomesNumeradosEControle) {
  CZelProfilerEmpresa maria("EMP1", 3, 1);
  ChaveTexto("\\Usuarios", "3", "Maria");
  EXPECT_EQ(CZelDataBaseUtil::DeletaArquivo(&maria, kModuloTeste, "AUSENTE.dat", 0, true), S_OK);
  EXPECT_EQ(CZelDataBaseUtil::DeletaArquivo(&maria, kModuloTeste, "FALTA/AUSENTE.dat", 0, true), S_OK)
      << "a file in a missing directory is absent too";
  EXPECT_FALSE(Existe("ZelLogAuditoria.log")) << "an absent file is no deletion";
  // Nor do the internal company (its name spelled out: the suite's, not ours to change) and the module that asks
  // for no audit (found through the key's default value).
  const char* szInterna = "ZelDataBase-C37543B5-8F6A-4B3E-9216-AF78C8AC031F";
  CZelProfilerEmpresa interna(szInterna, 3, 1);
  RegistraEmpresa(szInterna, m_sEmpresa);
  ChaveTexto("\\Empresas\\EMP1", "", m_sEmpresa);
  for (auto [p, modulo] : {std::pair<CZelProfilerEmpresa*, _ZelModulo>{&interna, kModuloTeste},
                           {&maria, ZEL_ZELDATABASE_SEM_AUDITORIA}}) {
    Escreve("X.dat", "x");
    EXPECT_EQ(CZelDataBaseUtil::DeletaArquivo(p, modulo, "X.dat", 0, true), S_OK);
    EXPECT_FALSE(Existe("X.dat"));
    EXPECT_FALSE(Existe("ZelLogAuditoria.log"));
  }

  for (unsigned short usUsuario : {3, 0, 65535}) {
    Escreve("X.dat", "x");
    CZelProfilerEmpresa quem("EMP1", usUsuario, 1);
    EXPECT_EQ(CZelDataBaseUtil::DeletaArquivo(&quem, kModuloTeste, "X.dat", 0, true), S_OK);
  }
  std::string sPath = Caminho("X.dat");
  EXPECT_EQ(ZelLeArquivoInteiro(Caminho("ZelLogAuditoria.log")),
            "1\t1\t0\tU003\tArquivo \"" + sPath + "\" removido pelo usu\xE1rio \"Maria\"\n" +
                "1\t1\t0\tU000\tArquivo \"" + sPath + "\" removido sem informa\xE7\xE3o de usu\xE1rio logado\n" +
                "1\t1\t0\tU65535\tArquivo \"" + sPath + "\" removido durante a convers\xE3o da base de dados\n");
  // Numbered names delete each file; flag 1 deletes the data file's control too.
  for (const char* sz : {"LOTE01.dat", "LOTE02.dat", "LOTEAB.dat"}) Escreve(sz, "x");
  ASSERT_EQ(CZelDataBaseUtil::DeletaArquivo(&maria, kModuloTeste, "LOTE??.dat", 0, false), S_OK);
  EXPECT_EQ(ZelListaArquivos(m_sEmpresa, "LOTE*"), std::vector<std::string>{"LOTEAB.dat"})
      << "placeholders stand for digits";
  Escreve("ZELCTLARQ.dat", std::string(32, '\0'));
  for (int nFlag : {0, 1}) {
    Escreve("X.dat", "x");
    ASSERT_EQ(CZelDataBaseUtil::DeletaArquivo(&maria, kModuloTeste, "X.dat", nFlag, false), S_OK);
    EXPECT_FALSE(Existe("X.dat"));
    EXPECT_EQ(Existe("ZELCTLARQ.dat"), nFlag == 0) << nFlag;
  }
  // One that never gives way stays, is reported once and leaves no audit line.
  Escreve("X.dat", "x");
  ASSERT_EQ(chmod(Caminho("X.dat").c_str(), 0444), 0);
  const std::string sAuditoria = ZelLeArquivoInteiro(Caminho("ZelLogAuditoria.log"));
  const size_t nErros = Linhas(ArquivoErrosEmpresa()).size();
  EXPECT_EQ(CZelDataBaseUtil::DeletaArquivo(&maria, kModuloTeste, "X.dat", 0, true), HR(0x810809F2));
  EXPECT_EQ(Bytes("X.dat"), "x");
  EXPECT_EQ(ZelLeArquivoInteiro(Caminho("ZelLogAuditoria.log")), sAuditoria);
  const auto erros = Linhas(ArquivoErrosEmpresa());
  ASSERT_EQ(erros.size(), nErros + 1);
  EXPECT_TRUE(erros.back().ends_with("\tErro ao deletar arquivo " + sPath + " DW: 5.\t")) << erros.back();
  // A file that refuses deletion for a while goes once it can, even halfway through the 49th wait before the
  // 50th attempt. At a tenth of real speed, that half interval dwarfs the drift of the waits.
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudanteEmEscala("ApagaOQueDemoraASerLiberado", "10", {Caminho("X.dat")})), 0);
  EXPECT_FALSE(Existe("X.dat"));
}

TEST_F(ZelDataBaseUtilTeste, ArquivosEDiretoriosTratadosForaDeUmaBase) {
  CZelProfilerEmpresa emp("EMP1");
  EXPECT_EQ(CZelDataBaseUtil::RenomeiaArquivoTRA(&emp, kModuloTeste, "T.dat"), S_OK);
  CZelProfilerEmpresa semDiretorio("SEMDIR");
  EXPECT_EQ(CZelDataBaseUtil::RenomeiaArquivoTRA(&semDiretorio, kModuloTeste, "T.dat"),
            E_ZELCR_DIRETORIO_DADOS_NAO_ENCONTRADO);
  Escreve("T.dat", "antigo");
  ASSERT_EQ(CZelDataBaseUtil::RenomeiaArquivoTRA(&emp, kModuloTeste, "T.dat"), S_OK);
  EXPECT_FALSE(Existe("T.dat")) << "without a sibling the result is empty";
  EXPECT_EQ(ZelLeArquivoInteiro(Caminho("ZelLogAuditoria.log")),
            "1\t1\t0\tU000\tArquivo \"" + Caminho("T.dat") + "\" removido sem informa\xE7\xE3o de usu\xE1rio logado\n");
  Escreve({{"T.dat", "antigo"}, {"T.tra", "novo"}});
  ASSERT_EQ(CZelDataBaseUtil::RenomeiaArquivoTRA(&emp, kModuloTeste, "T.dat"), S_OK);
  EXPECT_EQ(Bytes("T.dat"), "novo");
  EXPECT_FALSE(Existe("T.tra"));
  EXPECT_EQ(Bytes(kLista), Registro("T.dat")) << "the file taken over is registered";
  // Numbered names take over every number with a sibling, whether its file is there or not.
  for (const char* sz : {"LOTE01.dat", "LOTE01.tra", "LOTE02.tra", "LOTE03.dat"}) Escreve(sz, sz);
  ASSERT_EQ(CZelDataBaseUtil::RenomeiaArquivoTRA(&emp, kModuloTeste, "LOTE??.dat"), S_OK);
  EXPECT_EQ(Bytes("LOTE01.dat"), "LOTE01.tra");
  EXPECT_EQ(Bytes("LOTE02.dat"), "LOTE02.tra");
  EXPECT_EQ(ZelListaArquivos(m_sEmpresa, "LOTE*"), (std::vector<std::string>{"LOTE01.dat", "LOTE02.dat"}));
  // A shrunk copy takes the place registered; a header rewrite's copy without registering.
  const std::string sLista = Bytes(kLista);
  Escreve({{"S.dat", "antigo"}, {"S.srk", "encolhido"}, {"C.cab", "novo cabecalho"}});
  ASSERT_EQ(CZelDataBaseUtil::RenomeiaArquivoSRK(&emp, kModuloTeste, "S.dat"), S_OK);
  ASSERT_EQ(CZelDataBaseUtil::RenomeiaArquivoCAB(&emp, kModuloTeste, "C.dat"), S_OK);
  EXPECT_EQ(Bytes("S.dat"), "encolhido");
  EXPECT_EQ(Bytes("C.dat"), "novo cabecalho");
  EXPECT_FALSE(Existe("S.srk") || Existe("C.cab"));
  EXPECT_EQ(Bytes(kLista), sLista + Registro("S.dat"));
  // A sibling that cannot take the place (a directory holds it) stays, reported.
  ZelCriaDiretorio(Caminho("P.dat"), true);
  Escreve("P.tra", "novo");
  EXPECT_EQ(CZelDataBaseUtil::RenomeiaArquivoTRA(&emp, kModuloTeste, "P.dat"), HR(0x810809D6));
  EXPECT_EQ(Bytes("P.tra"), "novo");
  EXPECT_TRUE(ZelLeArquivoInteiro(ArquivoErrosEmpresa())
                  .ends_with("\tErro ao renomear arquivo " + Caminho("P.tra") + " DW: 5.\t\n"));
  // One that goes halfway through the 49th wait still lets the 50th attempt through.
  ZelCriaDiretorio(Caminho("R.dat"), true);
  Escreve("R.tra", "novo");
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudanteEmEscala("RenomeiaQuandoODiretorioSai", "10", {Caminho("R.dat")})), 0);
  EXPECT_EQ(Bytes("R.dat"), "novo");
  // Among numbered names, the first that fails stops the others.
  ZelCriaDiretorio(Caminho("NUM01.dat"), true);
  Escreve({{"NUM01.tra", "um"}, {"NUM02.tra", "dois"}});
  EXPECT_EQ(CZelDataBaseUtil::RenomeiaArquivoTRA(&emp, kModuloTeste, "NUM??.dat"), HR(0x810809D6));
  EXPECT_EQ(Bytes("NUM02.tra"), "dois");
  EXPECT_FALSE(Existe("NUM02.dat"));

  Escreve("UM.dat", BytesDe({Reg(1, 1)}));
  ASSERT_EQ(CZelDataBaseUtil::RemoveRegistroZero<REG_TESTE>(&emp, kModuloTeste, "UM.dat"), S_OK);
  EXPECT_FALSE(Existe("UM.dat"));
  Escreve("DOIS.dat", BytesDe({Reg(0, 0), Reg(2, 2)}));
  ASSERT_EQ(CZelDataBaseUtil::RemoveRegistroZero<REG_TESTE>(&emp, kModuloTeste, "DOIS.dat"), S_OK);
  EXPECT_EQ(Bytes("DOIS.dat"), BytesDe({Reg(2, 2)})) << "one record after the header is kept";
  Escreve("TRES.dat", BytesDe({Reg(0, 0), Reg(2, 2), Reg(3, 3)}));
  ASSERT_EQ(CZelDataBaseUtil::RemoveRegistroZero<REG_TESTE>(&emp, kModuloTeste, "TRES.dat"), S_OK);
  EXPECT_EQ(Bytes("TRES.dat"), BytesDe({Reg(2, 2), Reg(3, 3)}));
  EXPECT_FALSE(Existe("TRES.tra"));
  // One that cannot be loaded is reported and kept, not taken for an empty file and deleted.
  Escreve("DANO.dat", std::string(25, 'x'));
  EXPECT_EQ(CZelDataBaseUtil::RemoveRegistroZero<REG_TESTE>(&emp, kModuloTeste, "DANO.dat"), HR(0x810809D8));
  EXPECT_EQ(Bytes("DANO.dat"), std::string(25, 'x'));
  REG_TESTE r = Reg(9, 9);
  ASSERT_EQ(CZelDataBaseUtil::LeSingleReg(&emp, kModuloTeste, &r, "UNICO.dat"), S_OK);
  EXPECT_EQ(r.ulChave, 9u) << "an absent file leaves the record as it was";
  ASSERT_EQ(CZelDataBaseUtil::GravaSingleReg(&emp, kModuloTeste, Reg(4, 5), "UNICO.dat"), S_OK);
  EXPECT_EQ(Bytes("UNICO.dat"), BytesDe({Reg(4, 5)}));
  ASSERT_EQ(CZelDataBaseUtil::LeSingleReg(&emp, kModuloTeste, &r, "UNICO.dat"), S_OK);
  EXPECT_EQ(r.ulValor, 5u);

  std::string sDir = ZelNovoDiretorio("apagar");
  ZelCriaDiretorio(sDir + "sub", true);
  std::ofstream(sDir + "a.txt") << "a";
  std::ofstream(sDir + "sub/b.txt") << "b";
  EXPECT_EQ(CZelDataBaseUtil::DeletaDiretorio(sDir, "*.*"), S_OK);
  EXPECT_FALSE(ZelExisteDiretorio(sDir));
  EXPECT_EQ(CZelDataBaseUtil::DeletaDiretorio(sDir, "*.*"), S_OK);
  // A directory the mask names goes whole, whatever its files are called.
  ZelCriaDiretorio(sDir + "sub", true);
  std::ofstream(sDir + "sub/b.txt") << "b";
  EXPECT_EQ(CZelDataBaseUtil::DeletaDiretorio(sDir, "su?"), S_OK);
  EXPECT_FALSE(ZelExisteDiretorio(sDir));
  // A file that stays stops the deletion there, and keeps its directory.
  ZelCriaDiretorio(sDir, true);
  std::ofstream(sDir + "preso.txt") << "p";
  ASSERT_EQ(chmod((sDir + "preso.txt").c_str(), 0444), 0);
  EXPECT_EQ(CZelDataBaseUtil::DeletaDiretorio(sDir, "*.*"), HR(0x810809F2));
  EXPECT_TRUE(ZelExisteArquivo(sDir + "preso.txt"));
  const auto erros = Linhas(ArquivoErrosProgramas());
  ASSERT_FALSE(erros.empty());
  EXPECT_TRUE(erros.back().ends_with("\tErro ao deletar arquivo " + sDir + "preso.txt DW: 5.\t")) << erros.back();
}

// ---- creation control ----

ZEL_AJUDANTE(AbreParaGravacao) {
  CBaseTeste db;
  CZelFile<REG_TESTE> arq("DFIEVINC.dat", &db);
  return db.Inicializa("EMP1", 1, 1) == S_OK ? 0 : 1;
}

TEST_F(ZelDataBaseUtilTeste, AbrirDuasVezesOuEmDoisProcessosRegistraUmaVez) {
  Escreve("DFIEVINC.dat", "");
  for (pid_t pid : {ZelIniciaAjudante("AbreParaGravacao"), ZelIniciaAjudante("AbreParaGravacao")})
    EXPECT_EQ(ZelEsperaAjudante(pid), 0);
  EXPECT_EQ(Bytes(kLista), Registro("DFIEVINC.dat"));
  for (int i = 0; i < 2; ++i) {
    CBaseTeste db;
    CZelFile<REG_TESTE> arq("DFIEVINC.dat", &db);
    ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
    EXPECT_EQ(Bytes(kLista), Registro("DFIEVINC.dat")) << i;
    if (i == 1) {
      // Deleting through the engine takes the name off the list.
      ASSERT_EQ(arq.DeletaArquivo(false), S_OK);
      EXPECT_FALSE(Existe(kLista)) << "the last name gone, the list goes";
    }
  }
  // A name another program listed in another case is the same name.
  Escreve({{"DFIEVINC.dat", ""}, {kLista, Registro("dfievinc.DAT")}});
  CBaseTeste db;
  CZelFile<REG_TESTE> arq("DFIEVINC.dat", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(Bytes(kLista), Registro("dfievinc.DAT"));
  ASSERT_EQ(arq.DeletaArquivo(false), S_OK);
  EXPECT_FALSE(Existe(kLista));
}

TEST_F(ZelDataBaseUtilTeste, ListaSemNomesEApagadaComSuaAuditoriaESemElaOuDanificadaFalha) {
  for (const char* sz : {"A.dat", "B.dat"}) Escreve(sz, "");
  CBaseTeste db;
  CZelFile<REG_TESTE> a("A.dat", &db), b("B.dat", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  ASSERT_EQ(Bytes(kLista), Registro("A.dat") + Registro("B.dat"));
  ASSERT_EQ(a.DeletaArquivo(false), S_OK);
  EXPECT_EQ(Bytes(kLista), Registro("B.dat"));
  EXPECT_FALSE(Existe("ZELDATABASE_FILE_CTRL.tra"));
  ASSERT_EQ(b.DeletaArquivo(false), S_OK);
  EXPECT_FALSE(Existe(kLista));
  EXPECT_FALSE(Existe("ZELDATABASE_FILE_CTRL.tra"));
  const std::string sAuditoria = ZelLeArquivoInteiro(Caminho("ZelLogAuditoria.log"));
  EXPECT_NE(sAuditoria.find("Arquivo \"" + Caminho(kLista) + "\" removido"), std::string::npos) << sAuditoria;
  EXPECT_EQ(sAuditoria.find("A.dat"), std::string::npos) << "the data files were deleted without a log";
  // An empty list that lacks the name goes too; a list with other names stays.
  Escreve(kLista, "");
  CZelDataBaseControleCriacaoArquivos controle(kModuloTeste, "NADA.dat");
  ASSERT_EQ(controle.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(controle.RemoveControleCriacaoArquivos(), S_OK);
  EXPECT_FALSE(Existe(kLista));
  Escreve(kLista, Registro("C.dat"));
  EXPECT_EQ(controle.RemoveControleCriacaoArquivos(), S_OK);
  EXPECT_EQ(Bytes(kLista), Registro("C.dat"));
  CZelDataBaseControleCriacaoArquivos semDiretorio(kModuloTeste, "C.dat");
  ASSERT_EQ(semDiretorio.Inicializa("SEMDIR", 1, 1), S_OK);
  EXPECT_EQ(semDiretorio.RemoveControleCriacaoArquivos(), E_ZELCR_DIRETORIO_DADOS_NAO_ENCONTRADO)
      << "a company without a data directory removes nothing";
  CZelArqMarcaFila marca(&semDiretorio);
  EXPECT_EQ(semDiretorio.ExecutaMarcaDiretorio(marca), E_ZELCR_DIRETORIO_DADOS_NAO_ENCONTRADO) << "nor marks anything";
  Escreve("ZELDATABASE_FILE_CTRL.tra", "");  // a transfer left unfinished stops any removal
  EXPECT_EQ(controle.RemoveControleCriacaoArquivos(), HR(0x810809CB));
  EXPECT_EQ(LinhasCom("::RemoveControleCriacaoArquivos\t"), 1) << "found before opening the list";
  EXPECT_EQ(Bytes(kLista), Registro("C.dat"));
  // Deleting a listed file then fails too: the file goes, its name stays listed.
  Escreve("C.dat", "c");
  EXPECT_EQ(CZelDataBaseUtil::DeletaArquivo(&controle, kModuloTeste, "C.dat", 2, false), HR(0x810809CB));
  EXPECT_FALSE(Existe("C.dat"));
  EXPECT_EQ(Bytes(kLista), Registro("C.dat"));
  // A transfer that cannot be written: the name stays listed and the caller hears why.
  std::remove(Caminho("ZELDATABASE_FILE_CTRL.tra").c_str());
  ZelCriaDiretorio(Caminho("ZELDATABASE_FILE_CTRL.tra"));
  Escreve(kLista, Registro("C.dat") + Registro("E.dat"));
  CZelDataBaseControleCriacaoArquivos listado(kModuloTeste, "C.dat");
  ASSERT_EQ(listado.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(listado.RemoveControleCriacaoArquivos(), HR(0x80043ED0)) << "eAccessDenied";
  EXPECT_EQ(Bytes(kLista), Registro("C.dat") + Registro("E.dat"));
  std::remove(Caminho("ZELDATABASE_FILE_CTRL.tra").c_str());
  std::remove(Caminho(kLista).c_str());
  EXPECT_EQ(controle.CriaControleCriacaoArquivos(), HR(0x81080A50));
  // Index, rewrite and transfer files, and the list itself, are never listed.
  for (const char* sz : {"A.cab", "A.SRK", "a.Tra", kLista.c_str()})
    EXPECT_TRUE(CZelDataBaseControleCriacaoArquivos::NomeSemControle(sz)) << sz;
  EXPECT_FALSE(CZelDataBaseControleCriacaoArquivos::NomeSemControle("A.dat"));
  // A damaged list: a text longer than what follows it, and a length prefix cut short.
  for (const std::string& sCauda : {std::string("\x05\0\0\0abc", 7), std::string("\x01\0\0", 3)}) {
    Escreve(kLista, Registro("A.dat") + sCauda);
    CBaseTeste dbLista;
    CZelTextFile lista(kLista, &dbLista);
    EXPECT_EQ(dbLista.Inicializa("EMP1", 1, 1), HR(0x81080C5E)) << sCauda.size();
  }
}

TEST_F(ZelDataBaseUtilTeste, ArquivoDeTextoSobrescreveEPreservaORestoComAsRegrasDoArquivoIndexado) {
  CBaseTeste db;
  CZelTextFile txt("LISTA.txt", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  auto Grava = [&](ZelUInt uiPos, const char* sz) { return txt.Grava(uiPos, sz); };
  std::string s = "x";
  EXPECT_EQ(txt.Le(1, &s), HR(0x810809E3)) << "absent file";
  EXPECT_EQ(s, "");
  ZelUInt uiPos = 0;
  ASSERT_EQ(txt.GravaColecao(uiPos, {"um", "dois", "tres"}), S_OK);
  EXPECT_EQ(uiPos, 1u) << "where the new records begin";
  std::vector<std::string> v{"velho"};
  EXPECT_EQ(txt.Le(0, &s), HR(0x810809D9));
  EXPECT_EQ(txt.Le(4, &s), HR(0x810809DA));
  EXPECT_EQ(txt.LeColecao(0, 2, v), HR(0x810809CA));
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(txt.LeColecao(2, 3, v), HR(0x810809DA));
  EXPECT_EQ(txt.LeColecao(0, 0, v), S_OK);
  ASSERT_EQ(txt.LeColecao(2, 2, v), S_OK);
  EXPECT_EQ(v, (std::vector<std::string>{"dois", "tres"}));
  int nLinhas = 0;
  for (const auto& l : Linhas(ArquivoErrosEmpresa()))
    nLinhas += l.find("\tCZelTextFile::Le\t") != std::string::npos || l.find("::LeColecao\t") != std::string::npos;
  EXPECT_EQ(nLinhas, 5) << "every refused read is traced";
  EXPECT_EQ(LinhasCom("\tArquivo = LISTA.txt\tPosi\xE7\xE3o = 4\t"), 1);

  ASSERT_EQ(Grava(2, "DOIS!"), S_OK);
  EXPECT_EQ(Bytes("LISTA.txt"), Registro("um") + Registro("DOIS!") + Registro("tres"));
  ASSERT_EQ(Grava(3, "3"), S_OK);
  EXPECT_EQ(Bytes("LISTA.txt"), Registro("um") + Registro("DOIS!") + Registro("3")) << "a shorter text leaves no tail";
  ASSERT_EQ(Grava(3, nullptr), S_OK) << "no text is an empty one";
  ASSERT_EQ(txt.Le(3, &s), S_OK);
  EXPECT_EQ(s, "");
  ASSERT_EQ(Grava(3, "tres"), S_OK);
  ASSERT_EQ(txt.Le(3, &s), S_OK);
  EXPECT_EQ(s, "tres");
  EXPECT_EQ(Grava(4, "x"), HR(0x810809DB));
  const std::string sUltima = Linhas(ArquivoErrosEmpresa()).back();
  EXPECT_NE(sUltima.find("\tCZelTextFile::Grava\t"), std::string::npos) << sUltima;
  EXPECT_NE(sUltima.find("\thr = GravaColecao(uiPosicao, aTextos)\thr = 0X810809DB "), std::string::npos) << sUltima;
  // The same texts again, up to the last one, never reach the disk.
  txt.FechaArquivo();
  ASSERT_EQ(ZelDefineSomenteLeitura(Caminho("LISTA.txt"), true), ERROR_SUCCESS);
  uiPos = 2;
  EXPECT_EQ(txt.GravaColecao(uiPos, {"DOIS!", "tres"}), S_OK);
  EXPECT_EQ(Grava(3, "tres"), S_OK);
  ZelDefineSomenteLeitura(Caminho("LISTA.txt"), false);
  // A writer holds the file until its database finishes.
  ASSERT_EQ(Grava(3, "TRES"), S_OK);
  CFile outro;
  EXPECT_FALSE(outro.Open(Caminho("LISTA.txt"), CFile::modeReadWrite | CFile::shareDenyWrite));
  ASSERT_EQ(db.Finaliza(), S_OK);
  EXPECT_TRUE(outro.Open(Caminho("LISTA.txt"), CFile::modeReadWrite | CFile::shareDenyWrite));
}

// args: company directory, signal directory, optional marker kind (0). Holds the marker from "pronto" until "fim".
ZEL_AJUDANTE(SeguraMarcaDoDiretorio) {
  CZelProfilerEmpresa emp("EMP1");
  CZelArqMarcaFila marca(&emp);
  if (marca.Marca(args.at(0), args.size() > 2 ? std::stoul(args[2]) : 0) != 0) return 1;
  ZelCriaMarcador(args.at(1) + "pronto");
  return ZelEsperaArquivo(args.at(1) + "fim") ? 0 : 2;
}

// Adding or removing a listed name waits the long marker time. Past it neither touches the list, and the caller
// hears why; a directory held only past the short wait still gets its list.
TEST_F(ZelDataBaseUtilTeste, RemocaoDoControleEsperaAMarcaLonga) {
  Escreve(kLista, Registro("C.dat"));
  Escreve("D.dat", "");
  CZelDataBaseControleCriacaoArquivos controle(kModuloTeste, "C.dat");
  ASSERT_EQ(controle.Inicializa("EMP1", 1, 1), S_OK);
  CBaseTeste db;
  CZelFileBase entra("D.dat", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  std::string sDados;
  ASSERT_EQ(CZelDataBaseUtil::GetPathDados(kModuloTeste, "EMP1", &sDados), S_OK);
  const std::string sSinais = ZelNovoDiretorio("longa");
  pid_t pid = ZelIniciaAjudante("SeguraMarcaDoDiretorio",
                                {sDados, sSinais, std::to_string(IZelArqMarcaEnum::ControleCriacaoArquivosInMemory)});
  ASSERT_TRUE(ZelEsperaArquivo(sSinais + "pronto"));
  EXPECT_EQ(controle.RemoveControleCriacaoArquivos(), HR(0x80040136));
  EXPECT_EQ(entra.AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacao), HR(0x80040136));
  EXPECT_FALSE(entra.ExisteArquivo()) << "an unlisted file is not opened";
  EXPECT_EQ(Bytes(kLista), Registro("C.dat"));
  const DWORD msSolta = (ZelTempoMs(ZelTempo::kEsperaMarcaFila) + ZelTempoMs(ZelTempo::kEsperaMarcaFilaLonga)) / 2;
  std::thread solta([&] {
    Sleep(msSolta);
    ZelCriaMarcador(sSinais + "fim");
  });
  EXPECT_EQ(controle.RemoveControleCriacaoArquivos(), S_OK);
  solta.join();
  EXPECT_EQ(ZelEsperaAjudante(pid), 0);
  EXPECT_FALSE(Existe(kLista));
}

TEST_F(ZelDataBaseUtilTeste, GravacoesEsperamAMarcaDoDiretorioQuandoPedida) {
  ChaveDword(kMarcadorMarcaSempre, 1);
  CZelDataBaseUtil::ReleCondicaoMarca();
  CBaseTeste db;
  CZelFile<REG_TESTE> arq("DADOS.dat", &db);
  CZelTextFile txt("LISTA.txt", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  ZelUInt uiPos = 0;
  ASSERT_EQ(arq.GravaColecao(uiPos, {Reg(1, 1), Reg(2, 2)}), S_OK);
  uiPos = 0;
  ASSERT_EQ(txt.GravaColecao(uiPos, {"um", "dois"}), S_OK);
  const std::string sSinais = ZelNovoDiretorio("sinais");
  pid_t pid = ZelIniciaAjudante("SeguraMarcaDoDiretorio", {m_sEmpresa, sSinais});
  ASSERT_TRUE(ZelEsperaArquivo(sSinais + "pronto"));
  uiPos = 0;
  EXPECT_EQ(arq.Grava(uiPos, Reg(3, 3)), HR(0x80040E43));
  EXPECT_EQ(arq.SetConteudo({Reg(3, 3)}), HR(0x80040E43));
  EXPECT_EQ(txt.SetConteudo({"tres"}), HR(0x80040E43));
  EXPECT_EQ(arq.DeletaArquivo(false), HR(0x80040E43));
  EXPECT_EQ(CZelDataBaseUtil::GravaSingleReg(&db, kModuloTeste, Reg(4, 4), "UNICO.dat"), HR(0x80040E43));
  EXPECT_FALSE(Existe("UNICO.dat"));
  EXPECT_EQ(Bytes("DADOS.dat"), BytesDe({Reg(1, 1), Reg(2, 2)})) << "nothing reached the files";
  EXPECT_EQ(Bytes("LISTA.txt"), Registro("um") + Registro("dois"));
  ZelCriaMarcador(sSinais + "fim");
  EXPECT_EQ(ZelEsperaAjudante(pid), 0);
  EXPECT_EQ(arq.SetConteudo({Reg(3, 3)}), S_OK);
  EXPECT_EQ(Bytes("DADOS.dat"), BytesDe({Reg(3, 3)}));
  ASSERT_EQ(txt.SetConteudo({"tres"}), S_OK);
  EXPECT_EQ(Bytes("LISTA.txt"), Registro("tres"));
  // The same texts again leave the file alone: no removal, so no audit line.
  const std::string sAuditoria = ZelLeArquivoInteiro(Caminho("ZelLogAuditoria.log"));
  EXPECT_NE(sAuditoria.find("LISTA.txt"), std::string::npos);
  ASSERT_EQ(txt.SetConteudo({"tres"}), S_OK);
  EXPECT_EQ(ZelLeArquivoInteiro(Caminho("ZelLogAuditoria.log")), sAuditoria);
  // A beginning of what the file holds is not the same texts, nor is all of it with another last text.
  uiPos = 0;
  ASSERT_EQ(txt.GravaColecao(uiPos, {"quatro"}), S_OK);
  ASSERT_EQ(txt.SetConteudo({"tres", "QUATRO"}), S_OK);
  EXPECT_EQ(Bytes("LISTA.txt"), Registro("tres") + Registro("QUATRO"));
  ASSERT_EQ(txt.SetConteudo({"tres"}), S_OK);
  EXPECT_EQ(Bytes("LISTA.txt"), Registro("tres"));
}

// A database marks under its own kind: only that kind's holder holds its writes back; the time-out names the kind.
TEST_F(ZelDataBaseUtilTeste, GravacaoMarcaComOTipoDaBase) {
  class CBaseInfoPlus : public CBaseTeste {
   public:
    int OnGetEnumMarca() override { return IZelArqMarcaEnum::ZelDataBaseInfoPlus; }
  };
  ChaveDword(kMarcadorMarcaSempre, 1);
  CZelDataBaseUtil::ReleCondicaoMarca();
  CBaseInfoPlus db;
  CZelFile<REG_TESTE> arq("DADOS.dat", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  ZelUInt uiPos = 0;
  ASSERT_EQ(arq.GravaColecao(uiPos, {Reg(1, 1)}), S_OK);
  const std::string sSinais = ZelNovoDiretorio("tipo");
  pid_t pid = ZelIniciaAjudante("SeguraMarcaDoDiretorio",
                                {m_sEmpresa, sSinais, std::to_string(IZelArqMarcaEnum::ZelDataBaseInfoPlus)});
  ASSERT_TRUE(ZelEsperaArquivo(sSinais + "pronto"));
  uiPos = 0;
  EXPECT_EQ(arq.Grava(uiPos, Reg(2, 2)), HR(0x800400BC));
  EXPECT_EQ(Bytes("DADOS.dat"), BytesDe({Reg(1, 1)}));
  ZelCriaMarcador(sSinais + "fim");
  EXPECT_EQ(ZelEsperaAjudante(pid), 0);
}

// Changes are marked while a backup runs with marking on (both switches), or always if asked; one alone marks nothing.
TEST_F(ZelDataBaseUtilTeste, MudancasSoSaoMarcadasComAsDuasChavesDoBackupOuASempre) {
  const std::tuple<DWORD, DWORD, DWORD, bool> casos[] = {
      {0, 0, 0, false}, {1, 0, 0, false}, {0, 1, 0, false}, {1, 1, 0, true}, {0, 0, 1, true}};
  for (const auto& [dwHabilita, dwBackup, dwSempre, bMarca] : casos) {
    ChaveDword("HabilitaMarcaMutexZelBackup", dwHabilita);
    ChaveDword(kMarcadorBackupZel, dwBackup);
    ChaveDword(kMarcadorMarcaSempre, dwSempre);
    CZelDataBaseUtil::ReleCondicaoMarca();
    EXPECT_EQ(CZelDataBaseUtil::DeveMarcarMudancas(), bMarca) << dwHabilita << dwBackup << dwSempre;
  }
  CZelDataBaseUtil::ReleCondicaoMarca();
}
