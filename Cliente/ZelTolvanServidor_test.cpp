// The real service through tolvan-cli: one script of calls covering every
// method, run in process and through the Tolvan server started on demand,
// must give the same answers and leave the same files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>

#include "ZelDF_IEx.h"
#include "ZelLocalAtivacao.h"
#include "ZelLocalTransporte.h"
#include "ZelRegistro.h"
#include "ZelSessaoTeste.h"
#include "ZelSistema.h"
#include "ZelTesteAjudante.h"

namespace fs = std::filesystem;

namespace {
class TolvanServidor : public ::testing::Test {
 protected:
  void SetUp() override {
    static int nTeste = 0;  // each test its own files; short, for the socket path
    m_sDir = ZelNovoDiretorio("tolvan" + std::to_string(++nTeste));
    ASSERT_TRUE(ZelAmbienteServidorTeste(m_sDir));
  }
  void TearDown() override {
    // The server ends by itself once idle; the test waits for it, bounded.
    const std::string sSocket = ZelLocalCaminhoSocket(CLSID_ZelDF_IEx);
    for (int i = 0; i < 10000 && fs::exists(sSocket); ++i) Sleep(2);
    if (!fs::exists(sSocket)) return;
    ADD_FAILURE() << "the server did not end by itself";
    // A failed test leaves no server behind: the one listening there goes.
    CZelLocalSocket s;
    int32_t pid = 0;
    if (ZelLocalConecta(sSocket, &s) == S_OK && s.CredenciaisPar(nullptr, &pid) && pid > 0) ZelMataAjudante(pid);
  }
  void EmpresaEm(const std::string& sDiretorio) {
    fs::create_directories(m_sDir + sDiretorio);
    ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, std::string(kChaveZelSistemas) + "\\Empresas\\EMP", "DF",
                                      m_sDir + sDiretorio + "/"),
              ERROR_SUCCESS);
  }
  std::string Executa(const std::string& sArgs, const std::string& sRoteiro) {
    const std::string sSaida = m_sDir + "saida";
    int r = std::system((std::string(ZEL_TOLVAN_CLI) + " " + sArgs + " <" + ZEL_ROTEIROS + "/" + sRoteiro +
                         ".jsonl >" + sSaida)
                            .c_str());
    EXPECT_EQ(WIFEXITED(r) ? WEXITSTATUS(r) : -1, 0);
    return ZelLeArquivoInteiro(sSaida);
  }
  // Runs the script in process and through the server, each on its own
  // company, expecting the same answers and files; returns the answers.
  std::string EmProcessoEPeloServidor(const std::string& sRoteiro) {
    EmpresaEm("emProcesso");
    const std::string sEmProcesso = Executa("--inproc", sRoteiro);
    EmpresaEm("peloServidor");
    EXPECT_EQ(std::system((std::string(ZEL_TOLVAN_SERVIDOR) + " -RegServerPerUser").c_str()), 0);
    EXPECT_EQ(sEmProcesso, Executa("", sRoteiro));
    EXPECT_EQ(Arquivos("emProcesso"), Arquivos("peloServidor"));
    return sEmProcesso;
  }
  // Every file of a Vovi Dadi directory; the header stamps (the time of each
  // write) left out.
  std::map<std::string, std::string> Arquivos(const std::string& sDiretorio) {
    std::map<std::string, std::string> m;
    for (const auto& e : fs::directory_iterator(m_sDir + sDiretorio + "/VOVIDADI")) {
      std::string s = ZelLeArquivoInteiro(e.path().string());
      if (e.path().filename() == "DFIEHDR.DAT")
        for (size_t i = 56; i + 56 <= s.size(); i += 56) std::memset(s.data() + i + 16, 0, 8);
      m[e.path().filename().string()] = s;
    }
    return m;
  }
  std::string m_sDir;
};
}  // namespace

TEST_F(TolvanServidor, RoteiroDeTodosOsMetodosDaOMesmoEmProcessoEPeloServidor) {
  const std::string sEmProcesso = EmProcessoEPeloServidor("todos_os_metodos");
  EXPECT_EQ(std::count(sEmProcesso.begin(), sEmProcesso.end(), '\n'), 29);
  EXPECT_NE(sEmProcesso.find(R"({"hr":"0x00000000","pVinculo":{"origem":{"lPosHeader":2,"lChave":0},"nQtdCampos":2)"),
            std::string::npos);
  const auto arquivos = Arquivos("emProcesso");
  EXPECT_EQ(arquivos.count("FTIEXNFText.DAT"), 1u);
  EXPECT_EQ(arquivos.count("DFIEVINC.dat"), 1u);

  // The user's registration names the class by both its names, and the name without a version leads to the other.
  const std::string kClasses = "Software\\Classes\\";
  const std::string kClsid = kClasses + "CLSID\\{AEDCC5AC-C54A-410A-AC6D-B6B7B7BAFD6A}";
  for (const auto& [sChave, sNome, sValor] :
       {std::tuple{kClsid, "ProgID", "Tolvan.ZelDF_IEx.1"}, {kClsid, "VersionIndependentProgID", "Tolvan.ZelDF_IEx"},
        {kClasses + "Tolvan.ZelDF_IEx", "CurVer", "Tolvan.ZelDF_IEx.1"}}) {
    std::string s;
    EXPECT_EQ(ZelRegistro::LeTexto(HKEY_CURRENT_USER, sChave + "\\" + sNome, "", &s), ERROR_SUCCESS) << sNome;
    EXPECT_EQ(s, sValor) << sNome;
  }
}

TEST_F(TolvanServidor, EntradasRuinsDaoOsMesmosCodigosSemMudarArquivos) {
  const std::string sEmProcesso = EmProcessoEPeloServidor("entradas_ruins");
  // Every call but the start, the one good header and the release fails.
  size_t nFalhas = 0;
  for (size_t i = sEmProcesso.find("{\"hr\":\"0x8"); i != std::string::npos; i = sEmProcesso.find("{\"hr\":\"0x8", i + 1))
    ++nFalhas;
  EXPECT_EQ(nFalhas, 25u);
  EXPECT_EQ(sEmProcesso.find("\"erro\""), std::string::npos);
  // Only the good header was written, and the value files that the write of
  // an unknown field opened before refusing it: no value, text or link.
  const auto arquivos = Arquivos("peloServidor");
  EXPECT_EQ(arquivos.count("DFIEVINC.dat"), 0u);
  EXPECT_EQ(arquivos.at("FTIEXNF.DAT"), std::string(48, '\0'));
  EXPECT_EQ(arquivos.at("FTIEXNFText.DAT"), std::string(1, '\0'));
  EXPECT_EQ(arquivos.at("DFIEHDR.DAT").size(), 2u * 56);
  EXPECT_EQ(arquivos.at("DFIEINTCAB.DAT").size(), 80u);

  // An option the client does not know is a usage error, told apart from a failed call.
  const int r = std::system((std::string(ZEL_TOLVAN_CLI) + " --desconhecida </dev/null 2>/dev/null").c_str());
  EXPECT_EQ(WIFEXITED(r) ? WEXITSTATUS(r) : -1, 2);
}
