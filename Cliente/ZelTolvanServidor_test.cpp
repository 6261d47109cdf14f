// The real service through tolvan-cli: a script of calls gives the same answers
// and files in process and through the Tolvan server started on demand, and
// the in-process run's whole trace (answers, file bytes, log lines, inspector
// listings) is the script's expected one. ZEL_ATUALIZA_ESPERADOS=1 rewrites it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "ZelDF_IEx.h"
#include "ZelEsperado_test.h"
#include "ZelLocalAtivacao.h"
#include "ZelLocalTransporte.h"
#include "ZelRegistro.h"
#include "ZelSessaoTeste.h"
#include "ZelSistema.h"
#include "ZelTesteAjudante.h"

namespace fs = std::filesystem;

namespace {
// The test's directory, which changes from run to run, as <dir>/.
void SemDiretorio(std::string& s, const std::string& sDir) {
  for (size_t i; (i = s.find(sDir)) != std::string::npos;) s.replace(i, sDir.size(), "<dir>/");
}

std::string HojeDDMMAAAA() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  char sz[16];
  std::strftime(sz, sizeof sz, "%d/%m/%Y", localtime_r(&t, &tm));
  return sz;
}

// Bytes 16 a line in hex and as text; a line like the one before is one "*".
std::string Hex(const std::string& s) {
  std::string sSaida, sAnterior;
  bool bRepetindo = false;
  char sz[24];
  for (size_t i = 0; i < s.size(); i += 16) {
    const std::string sBloco = s.substr(i, 16);
    if (sBloco == sAnterior && sBloco.size() == 16) {
      if (!bRepetindo) sSaida += "*\n";
      bRepetindo = true;
      continue;
    }
    bRepetindo = false;
    sAnterior = sBloco;
    std::snprintf(sz, sizeof sz, "%06zx", i);
    std::string sTexto;
    sSaida += sz;
    for (unsigned char c : sBloco) {
      std::snprintf(sz, sizeof sz, " %02X", c);
      sSaida += sz;
      sTexto += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
    }
    sSaida += std::string(3 * (16 - sBloco.size()), ' ') + "  " + sTexto + "\n";
  }
  std::snprintf(sz, sizeof sz, "%06zx\n", s.size());
  return sSaida + sz;
}

// A log to compare: columns that change from run to run become their names when
// their value has the right shape (a zero stays); code-page bytes become \xNN.
std::string LogNormalizado(const std::string& sCaminho, const std::string& sDir,
                           const std::vector<std::string>& aHoje) {
  static const std::map<std::string, std::regex> kVariaveis = {
      {"Data", std::regex("\\d\\d/\\d\\d/\\d{4}")},   {"Hora", std::regex("\\d\\d:\\d\\d:\\d\\d\\.\\d{3}")},
      {"Guid", std::regex("\\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\}")},
      {"ThreadID", std::regex("T\\d{8}")},            {"UsuarioLocal", std::regex(".+")},
      {"MemoriaDisponivel", std::regex("\\d+")},      {"MemoriaTotal", std::regex("\\d+")},
      {"MemoriaComponente", std::regex("[1-9]\\d*")}, {"Duracao", std::regex("[1-9]\\d*")},
      {"DeltaMemoria", std::regex("-?[1-9]\\d*")},    {"VersaoSO", std::regex("\\d+\\.\\d+\\.\\d+\\.\\d+")},
      {"Linha", std::regex("\\d+")}};
  std::vector<std::string> aLinhas = Partes(ZelLeArquivoInteiro(sCaminho), '\n');
  const std::vector<std::string> aColunas = Partes(aLinhas.at(0), '\t');
  std::string sSaida;
  for (size_t l = 0; l < aLinhas.size(); ++l) {
    std::vector<std::string> aCampos = Partes(aLinhas[l], '\t');
    for (size_t c = 0; l > 0 && c < aCampos.size() && c < aColunas.size(); ++c) {
      auto it = kVariaveis.find(aColunas[c]);
      // The first of a repeated column name is the one meant.
      if (it == kVariaveis.end() || std::find(aColunas.begin(), aColunas.end(), aColunas[c]) != aColunas.begin() + c)
        continue;
      const bool bForma = std::regex_match(aCampos[c], it->second);
      const bool bValor = (aColunas[c] != "Data" || std::count(aHoje.begin(), aHoje.end(), aCampos[c]) > 0) &&
                          (aColunas[c] != "UsuarioLocal" || aCampos[c] == ZelNomeUsuario());
      if (bForma && bValor) aCampos[c] = "<" + aColunas[c] + ">";
    }
    std::string sLinha;
    for (size_t c = 0; c < aCampos.size(); ++c) sLinha += (c ? "\t" : "") + aCampos[c];
    SemDiretorio(sLinha, sDir);
    for (unsigned char ch : sLinha) {
      char sz[8];
      std::snprintf(sz, sizeof sz, "\\x%02X", ch);
      sSaida += ch < 0x80 ? std::string(1, static_cast<char>(ch)) : std::string(sz);
    }
    if (l + 1 < aLinhas.size()) sSaida += "\n";
  }
  return sSaida;
}

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
  // company, expecting the same answers and files. Only the client writes a
  // call log: log.ini names it, quoted and in capitals.
  void EmProcessoEPeloServidor(const std::string& sRoteiro) {
    std::ofstream(m_sDir + "log.ini") << "[Log]\nEntrada=1\nSaida=1\nProcessos=\"TOLVAN-CLI\"\nZelDataBase=todos\n";
    EmpresaEm("emProcesso");
    const std::string sHoje = HojeDDMMAAAA();  // the run may cross midnight
    const std::string sEmProcesso = Executa("--inproc", sRoteiro);
    ZelConfereEsperado(sRoteiro, Rastro(sEmProcesso, {sHoje, HojeDDMMAAAA()}));
    EmpresaEm("peloServidor");
    EXPECT_EQ(std::system((std::string(ZEL_TOLVAN_SERVIDOR) + " -RegServerPerUser").c_str()), 0);
    EXPECT_EQ(sEmProcesso, Executa("", sRoteiro));
    EXPECT_EQ(Arquivos("emProcesso"), Arquivos("peloServidor"));
    // The server writes the company's logs as the client did in process.
    for (const auto& e : fs::directory_iterator(m_sDir + "emProcesso")) {
      if (!e.is_regular_file()) continue;
      const std::string sNome = e.path().filename().string();
      auto Log = [&](const std::string& sEmpresa) {
        std::string s =
            LogNormalizado(m_sDir + sEmpresa + "/" + sNome, m_sDir + sEmpresa + "/", {sHoje, HojeDDMMAAAA()});
        return std::regex_replace(s, std::regex("(^|\n)(<Data>\t<Hora>\t)(tolvan-cli|tolvan)\t"), "$1$2<Processo>\t");
      };
      EXPECT_EQ(Log("emProcesso"), Log("peloServidor")) << sNome;
    }
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
  std::string Inspeciona(const std::string& sArgs) {
    const std::string sSaida = m_sDir + "inspecao";
    int r = std::system((std::string(ZEL_TOLVAN_INSPECIONA) + " " + sArgs + " >" + sSaida + " 2>&1").c_str());
    return "== tolvan-inspeciona " + sArgs + " (" + std::to_string(WIFEXITED(r) ? WEXITSTATUS(r) : -1) + ")\n" +
           std::regex_replace(ZelLeArquivoInteiro(sSaida), std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d"),
                              "<carimbo>");
  }
  // What the in-process run left, in one text: its answers, every file of the
  // company's Vovi Dadi directory, every log line and the inspector's view.
  std::string Rastro(const std::string& sRespostas, const std::vector<std::string>& aHoje) {
    std::string s = "== respostas\n" + sRespostas;
    for (const auto& [sNome, sBytes] : Arquivos("emProcesso")) s += "== " + sNome + "\n" + Hex(sBytes);
    std::vector<std::string> aLogs;
    for (const char* szDir : {"", "emProcesso/"})
      for (const auto& e : fs::directory_iterator(m_sDir + szDir))
        if (e.is_regular_file() && e.path().filename().string().rfind("Zel", 0) == 0)
          aLogs.push_back(szDir + e.path().filename().string());
    std::sort(aLogs.begin(), aLogs.end());
    for (const std::string& sLog : aLogs) {
      std::string sNome = std::regex_replace(sLog, std::regex("_\\d{6}\\.log$"), "_AAAAMM.log");
      s += "== " + sNome + "\n" + LogNormalizado(m_sDir + sLog, m_sDir, aHoje) + "\n";
    }
    const std::string sVovi = m_sDir + "emProcesso/VOVIDADI";
    for (const char* szArgs : {" cabecalhos", " integracoes", " verifica", " valores FT_NF 1001 1002 1003"})
      s += Inspeciona(sVovi + szArgs);
    SemDiretorio(s, m_sDir);
    return s;
  }
  std::string m_sDir;
};
}  // namespace

TEST_F(TolvanServidor, RoteiroDeTodosOsMetodosDaOMesmoEmProcessoEPeloServidor) {
  EmProcessoEPeloServidor("todos_os_metodos");

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
  // Unregistering takes back every key but the roots that others share.
  ASSERT_EQ(std::system((std::string(ZEL_TOLVAN_SERVIDOR) + " -UnregServerPerUser").c_str()), 0);
  EXPECT_EQ(ZelLeArquivoInteiro(m_sDir + "usuario.reg"),
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Classes\\AppID]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Classes\\CLSID]\n\n[HKEY_CURRENT_USER\\Software\\Classes\\TypeLib]\n\n");
}

TEST_F(TolvanServidor, EntradasRuinsDaoOsMesmosCodigosSemMudarArquivos) {
  // Every call but the start, the one good header and the release fails, and
  // only that header and the value files a refused write opened are written.
  EmProcessoEPeloServidor("entradas_ruins");

  // An option the client does not know is a usage error, told apart from a failed call.
  const int r = std::system((std::string(ZEL_TOLVAN_CLI) + " --desconhecida </dev/null 2>/dev/null").c_str());
  EXPECT_EQ(WIFEXITED(r) ? WEXITSTATUS(r) : -1, 2);
}
