// The real service through tolvan-cli: one script of calls covering every
// method, run in process and through the Tolvan server started on demand,
// must give the same answers and leave the same files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <vector>
#include <string>

#include "ZelCrc.h"
#include "ZelDF_IEx.h"
#include "ZelSessaoTeste.h"
#include "ZelLocalAtivacao.h"
#include "ZelLocalTransporte.h"
#include "ZelRegistro.h"
#include "ZelSistema.h"
#include "ZelTesteAjudante.h"

namespace fs = std::filesystem;

namespace {
_REG_DF_INICIALIZAPS Sessao(UI4 ulSessao) { return ZelSessaoTeste(ulSessao, "teste"); }

IZelDF_IEx* CriaNoServidor(UI4 ulSessao) {
  IZelDF_IEx* p = nullptr;
  if (CoCreateInstance(CLSID_ZelDF_IEx, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelDF_IEx, reinterpret_cast<void**>(&p)) !=
      S_OK)
    return nullptr;
  if (p->Inicializa_Padrao(Sessao(ulSessao)) != S_OK) {
    p->Release();
    return nullptr;
  }
  return p;
}

constexpr UI4 kOrigensProprias = 40;
constexpr UI4 kOrigensComuns = 5;
// The value a writer gives an origin.
uint64_t ValorDe(UI4 ulEscritor, UI4 lChave) { return (uint64_t{ulEscritor} << 32) | lChave; }

// One writer process: its own origins and the shared ones, interleaved.
ZEL_AJUDANTE(EscritorDeValores) {
  const UI4 ulEscritor = static_cast<UI4>(std::stoul(args[0]));
  ZelCriaMarcador(args[1] + ".pronto");
  if (!ZelEsperaArquivo(args[2], 20000)) return 2;
  IZelDF_IEx* p = CriaNoServidor(ulEscritor);
  if (p == nullptr) return 3;
  int r = 0;
  for (UI4 i = 1; i <= kOrigensProprias && r == 0; ++i)
    for (UI4 lChave : {ulEscritor * 1000 + i, i % kOrigensComuns + 1}) {
      IE_CAMPO_DATA_PS valor{};
      valor.id = IE_CAMPO_LIVRE_V8_0;
      const uint64_t ull = ValorDe(ulEscritor, lChave);
      std::memcpy(valor.BinaryData, &ull, 8);
      IE_VINCULO_PS v{{1, lChave}, 1, {}, &valor, nullptr};
      if (p->GravaCamposVinculo(v) != S_OK) r = 4;
    }
  p->Release();
  return r;
}

class TolvanServidor : public ::testing::Test {
 protected:
  void SetUp() override {
    static int nTeste = 0;  // each test its own files; short, for the socket path
    m_sDir = ZelNovoDiretorio("tolvan" + std::to_string(++nTeste));
    fs::create_directories(m_sDir + "r");
    fs::permissions(m_sDir + "r", fs::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (m_sDir + "r").c_str(), 1);
    setenv("ZEL_REGISTRO_MAQUINA", (m_sDir + "maquina.reg").c_str(), 1);
    setenv("ZEL_REGISTRO_USUARIO", (m_sDir + "usuario.reg").c_str(), 1);
    ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "DiretorioModulos", m_sDir), ERROR_SUCCESS);
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
  std::string Executa(const std::string& sArgs, const std::string& sRoteiro = "todos_os_metodos") {
    const std::string sSaida = m_sDir + "saida";
    int r = std::system((std::string(ZEL_TOLVAN_CLI) + " " + sArgs + " <" + ZEL_ROTEIROS + "/" + sRoteiro +
                         ".jsonl >" + sSaida)
                            .c_str());
    EXPECT_EQ(WIFEXITED(r) ? WEXITSTATUS(r) : -1, 0);
    return ZelLeArquivoInteiro(sSaida);
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
  EmpresaEm("emProcesso");
  const std::string sEmProcesso = Executa("--inproc");
  EmpresaEm("peloServidor");
  ASSERT_EQ(std::system((std::string(ZEL_TOLVAN_SERVIDOR) + " -RegServerPerUser").c_str()), 0);
  const std::string sPeloServidor = Executa("");

  EXPECT_EQ(std::count(sEmProcesso.begin(), sEmProcesso.end(), '\n'), 29);
  EXPECT_NE(sEmProcesso.find(R"({"hr":"0x00000000","pVinculo":{"origem":{"lPosHeader":2,"lChave":0},"nQtdCampos":2)"),
            std::string::npos);
  EXPECT_EQ(sEmProcesso, sPeloServidor);
  const auto arquivos = Arquivos("emProcesso");
  EXPECT_EQ(arquivos.count("FTIEXNFText.DAT"), 1u);
  EXPECT_EQ(arquivos.count("DFIEVINC.dat"), 1u);
  EXPECT_EQ(arquivos, Arquivos("peloServidor"));
}

TEST_F(TolvanServidor, EntradasRuinsDaoOsMesmosCodigosSemMudarArquivos) {
  EmpresaEm("emProcesso");
  const std::string sEmProcesso = Executa("--inproc", "entradas_ruins");
  EmpresaEm("peloServidor");
  ASSERT_EQ(std::system((std::string(ZEL_TOLVAN_SERVIDOR) + " -RegServerPerUser").c_str()), 0);
  const std::string sPeloServidor = Executa("", "entradas_ruins");
  EXPECT_EQ(sEmProcesso, sPeloServidor);
  // Every call but the start, the one good header and the release fails.
  size_t nFalhas = 0;
  for (size_t i = sEmProcesso.find("{\"hr\":\"0x8"); i != std::string::npos; i = sEmProcesso.find("{\"hr\":\"0x8", i + 1))
    ++nFalhas;
  EXPECT_EQ(nFalhas, 25u);
  EXPECT_EQ(sEmProcesso.find("\"erro\""), std::string::npos);
  // Only the good header was written: no value, text or link file.
  const auto arquivos = Arquivos("peloServidor");
  EXPECT_EQ(arquivos.count("DFIEVINC.dat"), 0u);
  EXPECT_EQ(arquivos.count("FTIEXNF.DAT"), 0u);
  EXPECT_EQ(arquivos.at("DFIEHDR.DAT").size(), 2u * 56);
  EXPECT_EQ(arquivos.at("DFIEINTCAB.DAT").size(), 80u);
  EXPECT_EQ(arquivos, Arquivos("emProcesso"));
}

TEST_F(TolvanServidor, QuatroClientesEscrevendoPeloMesmoServidorNaoPerdemNada) {
  EmpresaEm("concorrente");
  ASSERT_EQ(std::system((std::string(ZEL_TOLVAN_SERVIDOR) + " -RegServerPerUser").c_str()), 0);
  IZelDF_IEx* p = CriaNoServidor(99);
  ASSERT_NE(p, nullptr);
  IE_CAMPO_PS campo{};
  campo.id = IE_CAMPO_LIVRE_V8_0;
  IE_HDR_PS hdr{0, IE_PROCESSO_FT_NF, 1, {}, &campo, nullptr};
  UI4 ulHeader = 0;
  ASSERT_EQ(p->GravaIEHeader(&ulHeader, hdr), S_OK);
  ASSERT_EQ(ulHeader, 1u);

  const std::string sLargada = m_sDir + "largada";
  std::vector<pid_t> aPids;
  for (UI4 e = 1; e <= 4; ++e) {
    const std::string sNome = m_sDir + "escritor" + std::to_string(e);
    aPids.push_back(ZelIniciaAjudante("EscritorDeValores", {std::to_string(e), sNome, sLargada}));
    ASSERT_TRUE(ZelEsperaArquivo(sNome + ".pronto"));
  }
  ZelCriaMarcador(sLargada);
  for (pid_t pid : aPids) EXPECT_EQ(ZelEsperaAjudante(pid, 60000), 0);

  std::vector<UI4> aChaves;
  for (UI4 e = 1; e <= 4; ++e)
    for (UI4 i = 1; i <= kOrigensProprias; ++i) aChaves.push_back(e * 1000 + i);
  for (UI4 c = 1; c <= kOrigensComuns; ++c) aChaves.push_back(c);
  std::vector<IE_VINCULO_PS> aVinculos(aChaves.size());
  ASSERT_EQ(p->BuscaVinculosByOrigem(1, static_cast<UINT>(aChaves.size()), aChaves.data(), aVinculos.data()), S_OK);
  for (size_t i = 0; i < aChaves.size(); ++i) {
    const UI4 lChave = aChaves[i];
    ASSERT_EQ(aVinculos[i].nQtdCampos, 1u) << lChave;
    uint64_t ull = 0;
    std::memcpy(&ull, aVinculos[i].pCampos[0].BinaryData, 8);
    if (lChave > kOrigensComuns)
      EXPECT_EQ(ull, ValorDe(lChave / 1000, lChave)) << "a write of its own origin was lost";
    else
      EXPECT_TRUE(ull >> 32 >= 1 && ull >> 32 <= 4 && (ull & 0xFFFFFFFF) == lChave) << "a shared origin holds a whole write";
    CoTaskMemFree(aVinculos[i].pCampos);
  }
  EXPECT_EQ(p->Release(), 0u);

  // One link per origin in the file, and each one is the one the index finds.
  const std::string sVinculos = ZelLeArquivoInteiro(m_sDir + "concorrente/VOVIDADI/DFIEVINC.dat");
  ASSERT_EQ(sVinculos.size(), aChaves.size() * 24);
  std::set<UI4> chaves;
  for (size_t i = 0; i < sVinculos.size(); i += 24) {
    UI4 a[2];
    std::memcpy(a, sVinculos.data() + i, 8);
    EXPECT_EQ(a[0], 1u);
    EXPECT_TRUE(chaves.insert(a[1]).second) << "origin " << a[1] << " has two links";
  }
}
