// Damaged files, a full disk and strange identities, through tolvan-cli's JSON
// lines in process: a code and an error line, never a crash, a hang or a lost
// whole record; a write that answered S_OK reads back after a restart.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <tuple>

#include "IEInspeciona.h"
#include "IExRoteiros.h"
#include "IExTeste.h"
#include "ZelCli.h"
#include "ZelDF_IExServico.h"
#include "ZelLocalAtivacao.h"

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {
constexpr HRESULT kNaoInicializado = static_cast<HRESULT>(0x81080A04);
constexpr HRESULT kDiscoCheio = static_cast<HRESULT>(0x80040000 | 16136);

// A crash the call frame caught and turned into a code, not an answer.
bool EhQuedaContida(HRESULT hr) {
  const auto u = static_cast<UI4>(hr);
  return (u >= 0x8004EA60 && u <= 0x8004EB02) || u == 0x8004EE47;
}

// One write of each kind, and the read that must find it after a restart.
struct Escrita {
  const char* szEscrita;
  const char* szLeitura;  // "%u": the position the write answered
  const char* szSaida;    // the write's output that the read takes
  const char* szCampo;    // the read's output that must hold what was written
  const char* szEsperado;
};
const Escrita kEscritas[] = {
    {R"({"metodo":"GravaIEHeader","pPos":0,"ps":{"eProcesso":"IE_PROCESSO_MM_GESTAO","pCampos":[{"id":"IE_CAMPO_LIVRE_V4_0","szNome":"Novo","pUsuarios":[5]}]}})",
     R"({"metodo":"LeIEHeader","pPos":[%u]})", "pPos", "pTipDoc",
     R"([{"dwFlags":0,"eProcesso":18,"nQtdCampos":1,"pCampos":[{"dwFlags":0,"iQtdUsuarios":1,"id":250,"lPtrExtra":0,"pUsuarios":[5],"szNome":"Novo"}]}])"},
    {R"({"metodo":"GravaCamposVinculo","vinculo":{"origem":{"lPosHeader":1,"lChave":20},"pCampos":[{"id":"IE_CAMPO_LIVRE_TEXTO_0","pcTexto":"novo texto"},{"id":"IE_CAMPO_LIVRE_V4_0","BinaryData":"6300000000000000"}]}})",
     R"({"metodo":"BuscaVinculosByOrigem","lPosHeader":1,"pChaves":[20]})", nullptr, "pVinculos",
     R"([{"nQtdCampos":2,"origem":{"lChave":20,"lPosHeader":1},"pCampos":[{"id":100,"pcTexto":"novo texto\u0000","ulTamanhoTexto":11},{"BinaryData":"6300000000000000","id":250,"pcTexto":null,"ulTamanhoTexto":0}]}])"},
    {R"({"metodo":"GravaCabecalhoIntegracao","ulPosicaoIn":0,"reg":{"eProcessoOrigem":"IE_PROCESSO_FT_NF","eProcessoDestino":"IE_PROCESSO_MM_GESTAO"}})",
     R"({"metodo":"LeCabecalhoIntegracao","ulPosicao":%u})", "pulPosicaoOut", "pRegCabecalho",
     R"({"cExcluido":0,"cInativo":0,"eProcessoDestino":18,"eProcessoOrigem":29,"ulPonteiroPrimeiroVinculoIntegracao":0,"ulQtdVinculosIntegracoes":0})"},
};

// A text value's place in its file depends on what the file held before.
json SemLugarDosTextos(json j) {
  for (json& v : j)
    for (json& c : v["pCampos"])
      if (c["id"] == 100) c.erase("BinaryData");
  return j;
}

struct Resposta {
  HRESULT hr;
  json j;
  bool bLinhaErro;  // the call added an error line
};

class ServicoTeste : public IExTeste {
 protected:
  void SetUp() override {
    IExTeste::SetUp();
    alarm(120);  // a hang ends the test process, with the test named as unfinished
    static DWORD dwCookie = 0;
    if (dwCookie == 0) {
      ASSERT_EQ(CoRegisterClassObject(CLSID_ZelDF_IEx, CZelDF_IEx::Fabrica(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                      &dwCookie),
                S_OK);
    }
  }
  void TearDown() override { alarm(0); }
  // Lines of every error file, wherever the company name put it.
  static size_t LinhasErro() {
    size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(ZelDiretorioTeste()))
      if (e.path().filename().string().rfind("ZelProfilerErros_", 0) == 0) n += Linhas(e.path().string()).size();
    return n;
  }
  Resposta Chama(CZelCli& cli, const std::string& sLinha) const {
    const size_t n = LinhasErro();
    std::string s;
    EXPECT_TRUE(cli.Processa(sLinha, &s)) << sLinha << " -> " << s;
    json j = json::parse(s);
    return {static_cast<HRESULT>(std::stoul(j["hr"].get<std::string>(), nullptr, 16)), j, LinhasErro() > n};
  }
  // A failure is a code with its error line (a call on an object whose
  // start failed answers "not initialised" without one), never a caught crash.
  Resposta ChamaConfere(CZelCli& cli, const std::string& sLinha) const {
    Resposta r = Chama(cli, sLinha);
    EXPECT_FALSE(EhQuedaContida(r.hr)) << sLinha << " -> " << r.j.dump();
    if (FAILED(r.hr) && r.hr != kNaoInicializado) {
      EXPECT_TRUE(r.bLinhaErro) << sLinha << " -> " << r.j.dump();
    }
    return r;
  }
  // What the company's whole records hold, read through the service.
  std::vector<json> Monta() {
    CZelCli cli(CLSCTX_INPROC_SERVER);
    for (const char* sz : kMontagem) EXPECT_EQ(Chama(cli, sz).hr, S_OK) << sz;
    std::vector<json> a;
    Chama(cli, "{\"metodo\":\"CoCreateInstance\"}");
    EXPECT_EQ(Chama(cli, kInicia).hr, S_OK);
    for (const char* sz : kLeituras) {
      a.push_back(Chama(cli, sz).j);
      EXPECT_EQ(a.back()["hr"], "0x00000000") << sz;
    }
    return a;
  }
  // Each write of kEscritas; those that answered S_OK read back after a restart
  // of the object (and of the company's database with it).
  void EscritasVoltam(CZelCli& cli) {
    std::vector<Resposta> aFeitas;
    for (const Escrita& e : kEscritas) aFeitas.push_back(ChamaConfere(cli, e.szEscrita));
    for (const char* sz : kReinicia) ChamaConfere(cli, sz);
    for (size_t i = 0; i < aFeitas.size(); ++i) {
      if (aFeitas[i].hr != S_OK) continue;
      const Escrita& e = kEscritas[i];
      char szLeitura[512];
      std::snprintf(szLeitura, sizeof szLeitura, e.szLeitura,
                    e.szSaida == nullptr ? 0u : aFeitas[i].j[e.szSaida].get<UI4>());
      Resposta r = ChamaConfere(cli, szLeitura);
      EXPECT_EQ(r.hr, S_OK) << "an acknowledged write does not read back: " << e.szEscrita << " -> " << r.j.dump();
      if (r.hr == S_OK) {
        json lido = r.j[e.szCampo];
        EXPECT_EQ(e.szSaida == nullptr ? SemLugarDosTextos(lido) : lido, json::parse(e.szEsperado)) << e.szEscrita;
      }
    }
  }
  // Problems tolvan-inspeciona's verifica finds in the company.
  static std::string Verifica() {
    std::ostringstream saida, erros;
    IEInspecionaExecuta({"EMP1", "verifica"}, saida, erros);
    return saida.str() + erros.str();
  }
};

// ---- Damaged files ----

enum class Dano { Truncado, Crescido, RegistrosLixo, Diretorio, Ilegivel };
struct ArquivoDanificado {
  const char* szNome;
  size_t nRegistro;
};
const ArquivoDanificado kArquivos[] = {
    {"DFIEHDR.DAT", 56},      {"DFIECMP.DAT", 80},     {"DFIEUSU.DAT", 8},        {"DFIEVINC.dat", 24},
    {"FTIEXNF.DAT", 48},      {"FTIEXNFText.DAT", 1},  {"DFIEINTCAB.DAT", 80},    {"DFIEINTVINC.DAT", 80},
    {"DFIECONFIG.DAT", 4096}, {"ZELCTLARQ.dat", 32},   {"ZELDATABASE_FILE_CTRL.dat", 0},
};

void PrintTo(const ArquivoDanificado& a, std::ostream* os) { *os << a.szNome; }
void PrintTo(Dano e, std::ostream* os) { *os << static_cast<int>(e); }

class DanoArquivo : public ServicoTeste, public ::testing::WithParamInterface<std::tuple<ArquivoDanificado, Dano>> {
 protected:
  void Danifica(const ArquivoDanificado& a, Dano eDano) {
    const std::string sCaminho = m_sVovi + a.szNome;
    std::string s = Bytes(a.szNome);
    ASSERT_FALSE(s.empty()) << a.szNome << " is not among the company's files";
    const size_t nMeio = std::max<size_t>(a.nRegistro / 2, 1);
    // Cut inside the last record, a piece of a record of garbage, or records of it.
    if (eDano == Dano::Truncado) Escreve(a.szNome, s.substr(0, s.size() - nMeio));
    if (eDano == Dano::Crescido) Escreve(a.szNome, s + std::string(std::max<size_t>(nMeio - 1, 1), '\xA5'));
    if (eDano == Dano::RegistrosLixo) Escreve(a.szNome, s + std::string(std::max<size_t>(a.nRegistro, 32) * 2, '\xA5'));
    if (eDano == Dano::Diretorio && fs::remove(sCaminho)) fs::create_directory(sCaminho);
    if (eDano == Dano::Ilegivel) chmod(sCaminho.c_str(), 0);
    // The owner bits do not bind root: a link to itself cannot be opened by anyone.
    if (eDano == Dano::Ilegivel && access(sCaminho.c_str(), R_OK) == 0) {
      fs::remove(sCaminho);
      fs::create_symlink(a.szNome, sCaminho);
    }
  }
};

// Whether the answer holds links, and whether none of them holds a value.
bool TemVinculos(const json& j) { return j.dump().find("\"origem\"") != std::string::npos; }
bool SemValores(const json& j) {
  if (j.is_object() && j.contains("origem") && j["nQtdCampos"] != 0) return false;
  if (j.is_structured())
    for (const auto& e : j)
      if (!SemValores(e)) return false;
  return true;
}

TEST_P(DanoArquivo, InicioEMetodosRespondemCodigoSemPerderRegistrosInteiros) {
  const auto& [arquivo, eDano] = GetParam();
  const std::vector<json> aSaudaveis = Monta();
  Danifica(arquivo, eDano);
  // The database takes a directory in its link file's place for no file: no
  // link, and a write that would create the file fails.
  const bool bSemVinculos = std::string(arquivo.szNome) == "DFIEVINC.dat" && eDano == Dano::Diretorio;

  CZelCli cli(CLSCTX_INPROC_SERVER);
  ChamaConfere(cli, kInicia);
  for (size_t i = 0; i < std::size(kLeituras); ++i) {
    Resposta r = ChamaConfere(cli, kLeituras[i]);
    if (r.hr == S_OK && bSemVinculos && TemVinculos(r.j)) {
      EXPECT_TRUE(SemValores(r.j)) << kLeituras[i] << " -> " << r.j.dump();
    } else if (r.hr == S_OK) {
      EXPECT_EQ(r.j, aSaudaveis[i]) << "a whole record reads differently: " << kLeituras[i];
    }
  }
  for (const char* sz : kOutros) ChamaConfere(cli, sz);
  EscritasVoltam(cli);
  Chama(cli, R"({"metodo":"Release"})");
}

std::string NomeDano(const ::testing::TestParamInfo<std::tuple<ArquivoDanificado, Dano>>& info) {
  static const char* const kNomes[] = {"Truncado", "Crescido", "RegistrosLixo", "Diretorio", "Ilegivel"};
  std::string s = std::get<0>(info.param).szNome;
  s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }),
          s.end());
  return s + "_" + kNomes[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Arquivos, DanoArquivo,
                         ::testing::Combine(::testing::ValuesIn(kArquivos),
                                            ::testing::Values(Dano::Truncado, Dano::Crescido, Dano::RegistrosLixo,
                                                              Dano::Diretorio, Dano::Ilegivel)),
                         NomeDano);

// ---- A full disk ----

// The record size of a fixed-record file of the company (0: bytes or lines).
size_t RegistroDe(const std::string& sNome) {
  for (const ArquivoDanificado& a : kArquivos)
    if (sNome == a.szNome) return a.nRegistro > 1 ? a.nRegistro : 0;
  const bool bTexto = sNome.size() > 8 && sNome.compare(sNome.size() - 8, 8, "Text.DAT") == 0;
  return !bTexto && sNome.size() > 4 && sNome.compare(sNome.size() - 4, 4, ".DAT") == 0 ? 48 : 0;
}

// Writes of every kind, each growing its files: a header with a field and a
// user, values with a text and their link, an integration and its links.
std::vector<std::string> EscritasNovas(int i) {
  const std::string n = std::to_string(i);
  return {R"({"metodo":"GravaIEHeader","pPos":0,"ps":{"eProcesso":"IE_PROCESSO_MM_GESTAO","pCampos":[{"id":"IE_CAMPO_LIVRE_V4_0","szNome":"N)" + n + R"(","pUsuarios":[5]}]}})",
          R"({"metodo":"GravaCamposVinculo","vinculo":{"origem":{"lPosHeader":1,"lChave":)" + std::to_string(100 + i) +
              R"(},"pCampos":[{"id":"IE_CAMPO_LIVRE_TEXTO_0","pcTexto":"texto )" + n + R"("},{"id":"IE_CAMPO_LIVRE_V4_0","BinaryData":"6300000000000000"}]}})",
          R"({"metodo":"GravaCabecalhoIntegracao","ulPosicaoIn":0,"reg":{"eProcessoOrigem":"IE_PROCESSO_FT_NF","eProcessoDestino":"IE_PROCESSO_MM_GESTAO"}})",
          R"({"metodo":"GravaVinculosCabecalhosIntegracao","pRegCabecalho":{"eProcessoOrigem":"IE_PROCESSO_FT_NF","eProcessoDestino":"IE_PROCESSO_FT_PED"},"pRegLista":{"pRegListaVinculos":[{"ulPosicaoCabecalhoIntegracao":1,"ulPosicaoCampoOrigem":0,"ulPosicaoCampoDestino":)" + std::to_string(i % 2) + R"(}]}})"};
}

TEST_F(ServicoTeste, DiscoCheioNoMeioDeCadaEscritaNaoDeixaRegistroParcialEAEscritaVoltaDepois) {
  Monta();
  CZelCli cli(CLSCTX_INPROC_SERVER);
  ASSERT_EQ(Chama(cli, kInicia).hr, S_OK);
  auto InteirosTodos = [&](const std::string& sDepois) {
    for (const auto& f : fs::directory_iterator(m_sVovi)) {
      const size_t n = RegistroDe(f.path().filename().string());
      EXPECT_EQ(n == 0 ? 0 : fs::file_size(f.path()) % n, 0u)
          << f.path() << " holds a partial record after " << sDepois;
    }
  };
  std::vector<std::string> aNomes;
  for (const auto& f : fs::directory_iterator(m_sVovi)) aNomes.push_back(f.path().filename().string());
  int nFalhas = 0, i = 0;
  for (size_t k = 0; k < EscritasNovas(0).size(); ++k) {
    // Room for half a record more than one file holds: the write fails in
    // that file midway through a record, or earlier in a larger one.
    for (const std::string& sNome : aNomes) {
      const std::string sEscrita = EscritasNovas(++i)[k];
      const Resposta r = [&] {
        ZelLimiteTamanhoArquivos limite(fs::file_size(m_sVovi + sNome) + std::max<size_t>(RegistroDe(sNome) / 2, 1));
        return Chama(cli, sEscrita);
      }();
      EXPECT_TRUE(r.hr == S_OK || r.hr == kDiscoCheio) << sEscrita << " short of room in " << sNome << " -> " << r.j.dump();
      nFalhas += r.hr == kDiscoCheio;
      InteirosTodos(sEscrita);
      EXPECT_EQ(Chama(cli, sEscrita).hr, S_OK) << "once space returns: " << sEscrita;
      InteirosTodos(sEscrita);
    }
  }
  EXPECT_GT(nFalhas, 16);
  EscritasVoltam(cli);
  EXPECT_EQ(Verifica(), "no problems found\n");
}

// ---- Strange identities ----

// Every file under the test's directory but those in aDentro.
std::set<std::string> ArquivosFora(const std::vector<std::string>& aDentro) {
  std::set<std::string> s;
  for (const auto& e : fs::recursive_directory_iterator(ZelDiretorioTeste())) {
    const std::string sCaminho = e.path().string();
    bool bDentro = false;
    for (const std::string& d : aDentro) bDentro = bDentro || sCaminho.rfind(d, 0) == 0 || sCaminho + "/" == d;
    if (!bDentro) s.insert(sCaminho);
  }
  return s;
}

TEST_F(ServicoTeste, EmpresasUsuariosESessoesEstranhosDaoOsCodigosSemEscreverForaDaEmpresa) {
  constexpr HRESULT kSemDiretorio = static_cast<HRESULT>(0x80043F59);
  // The profiler directory puts each company's error file in a subdirectory
  // named after it: a name with path parts must not lead elsewhere.
  const std::string sPerfil = ZelNovoDiretorio("perfil");
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "DiretorioZelProfiler", sPerfil + "a/"),
            ERROR_SUCCESS);
  ZelInvalidaLogConfig();
  // Company, user, session, and the start's code.
  const std::tuple<std::string, UI4, UI4, HRESULT> kCasos[] = {
      {"../EMP1", 3, 9, kSemDiretorio},        {"../../fora", 3, 9, kSemDiretorio},
      {"EMP1/../EMP1", 3, 9, kSemDiretorio},   {"EMP1\\..\\EMP1", 3, 9, kSemDiretorio},
      {"..", 3, 9, kSemDiretorio},             {"/tmp", 3, 9, kSemDiretorio},
      {"EMP\x01\n\t1", 3, 9, kSemDiretorio},   {"", 3, 9, kSemDiretorio},
      {"emp1", 3, 9, S_OK},                    {"EMP1", 0, 0, S_OK},
      {"EMP1", 65535, 0xFFFFFFFF, S_OK},       {"Emp1", 0x7FFFFFFF, 1, S_OK},
  };
  const std::vector<std::string> aDentro = {m_sEmpresa, m_sModulos, sPerfil + "a/"};
  const std::set<std::string> antes = ArquivosFora(aDentro);
  UI4 lChave = 100;
  for (const auto& [sEmpresa, ulUsuario, ulSessao, hr] : kCasos) {
    json regps = {{"ulUsuario", ulUsuario}, {"ulNumeroSessao", ulSessao}, {"szEmpresa", sEmpresa}};
    CZelCli cli(CLSCTX_INPROC_SERVER);
    Resposta r = ChamaConfere(cli, json{{"metodo", "Inicializa_Padrao"}, {"regps", regps}}.dump());
    EXPECT_EQ(r.hr, hr) << r.j.dump();
    // A company that opened is EMP1 itself, whatever the letter case.
    const std::string sGrava =
        R"({"metodo":"GravaCamposVinculo","vinculo":{"origem":{"lPosHeader":1,"lChave":)" + std::to_string(++lChave) +
        R"(},"pCampos":[{"id":"IE_CAMPO_LIVRE_V4_0","BinaryData":"0100000000000000"}]}})";
    EXPECT_EQ(ChamaConfere(cli, R"({"metodo":"GravaIEHeader","pPos":0,"ps":{"eProcesso":"IE_PROCESSO_FT_NF","pCampos":[{"id":"IE_CAMPO_LIVRE_V4_0","szNome":"V"}]}})").hr,
              hr == S_OK ? S_OK : kNaoInicializado);
    EXPECT_EQ(ChamaConfere(cli, sGrava).hr, hr == S_OK ? S_OK : kNaoInicializado);
    // After the release nothing reaches the old object; a new one is not initialised.
    Chama(cli, R"({"metodo":"Release"})");
    EXPECT_EQ(Chama(cli, sGrava).hr, CO_E_OBJNOTCONNECTED);
    Chama(cli, R"({"metodo":"CoCreateInstance"})");
    EXPECT_EQ(Chama(cli, sGrava).hr, kNaoInicializado);
  }
  EXPECT_EQ(ArquivosFora(aDentro), antes);
  EXPECT_EQ(Bytes("DFIEVINC.dat").size(), 4u * 24) << "the four sessions that opened wrote EMP1's own link file";
}

// A company name is a registry key, not a path.
TEST_F(ServicoTeste, EmpresaComBarraOuPontosNoNomeAbreNoSeuDiretorio) {
  int n = 0;
  for (const std::string sEmpresa : {"Zel Ind. S/A", "Cia.. Ltda", "..", "/"}) {
    const std::string sDir = ZelNovoDiretorio("nome" + std::to_string(++n));
    RegistraEmpresa(sEmpresa, sDir);
    CZelCli cli(CLSCTX_INPROC_SERVER);
    const json regps = {{"ulUsuario", 3}, {"szEmpresa", sEmpresa}};
    EXPECT_EQ(ChamaConfere(cli, json{{"metodo", "Inicializa_Padrao"}, {"regps", regps}}.dump()).hr, S_OK) << sEmpresa;
    const char* szCabecalho = R"({"metodo":"GravaIEHeader","pPos":0,"ps":{"eProcesso":"IE_PROCESSO_FT_NF"}})";
    EXPECT_EQ(ChamaConfere(cli, szCabecalho).hr, S_OK);
    EXPECT_EQ(ZelLeArquivoInteiro(sDir + "VOVIDADI/DFIEHDR.DAT").size(), 2u * sizeof(IE_HDR_ARQ_V0)) << sEmpresa;
  }
}

}  // namespace
