// Killed while four clients write, or loaded by eight, the server loses no acknowledged
// write. The registered server command is this binary's helper, which records its pid:
// the test knows every server and reaps it. Two cannot hold one company's link database.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "IEInspeciona.h"
#include "IExTeste.h"
#include "ZelDF_IEx.h"
#include "ZelDataBaseDefs.h"
#include "ZelSessaoTeste.h"
#include "ZelLocalAtivacao.h"
#include "ZelRegistro.h"
#include "ZelSistema.h"
#include "ZelTesteAjudante.h"

namespace fs = std::filesystem;

namespace {
// Long runs set these (tools/falhas.sh); the defaults keep CI short.
int Parametro(const char* szNome, int nPadrao) {
  const char* sz = std::getenv(szNome);
  return sz != nullptr ? std::atoi(sz) : nPadrao;
}

// An initialised object in the server, or null (the creation's code in *phr).
IZelDF_IEx* CriaNoServidor(UI4 ulSessao, HRESULT* phr = nullptr) {
  IZelDF_IEx* p = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_ZelDF_IEx, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelDF_IEx, reinterpret_cast<void**>(&p));
  if (hr == S_OK && (hr = p->Inicializa_Padrao(ZelSessaoTeste(ulSessao, "falhas"))) != S_OK) {
    p->Release();
    p = nullptr;
  }
  if (phr != nullptr) *phr = hr;
  return p;
}

// Every byte of a write follows from (writer, key, sequence): a mix of two shows.
constexpr UI4 kHeader = 1;
std::string TextoDe(UI4 ulEscritor, UI4 lChave, UI4 ulSeq) {
  return "e" + std::to_string(ulEscritor) + "k" + std::to_string(lChave) + "s" + std::to_string(ulSeq) +
         std::string(ulSeq % 17, '.');
}
UINT QtdDe(UI4 ulSeq) { return 1 + ulSeq % 3; }
HRESULT GravaSeq(IZelDF_IEx* p, UI4 ulEscritor, UI4 lChave, UI4 ulSeq) {
  const std::string sTexto = TextoDe(ulEscritor, lChave, ulSeq);
  IE_CAMPO_DATA_PS a[3] = {IEValor(IE_CAMPO_LIVRE_TEXTO_0, 0, sTexto.c_str()), IEValor(IE_CAMPO_LIVRE_V4_0, ulSeq),
                           IEValor(IE_CAMPO_LIVRE_V8_0, (uint64_t{ulEscritor} << 32) | ulSeq)};
  return p->GravaCamposVinculo(IE_VINCULO_PS{{kHeader, lChave}, QtdDe(ulSeq), {}, a, nullptr});
}
// The sequence of the one write a link read back holds, or 0.
UI4 SeqLida(const IE_VINCULO_PS& v, UI4 ulEscritor, UI4 lChave) {
  if (v.nQtdCampos == 0 || v.pCampos == nullptr || v.pCampos[0].pcTexto == nullptr) return 0;
  const char* s = std::strrchr(v.pCampos[0].pcTexto, 's');
  const UI4 ulSeq = s != nullptr ? static_cast<UI4>(std::strtoul(s + 1, nullptr, 10)) : 0;
  const uint64_t ull = (uint64_t{ulEscritor} << 32) | ulSeq;
  if (ulSeq == 0 || v.nQtdCampos != QtdDe(ulSeq)) return 0;
  if (TextoDe(ulEscritor, lChave, ulSeq) != v.pCampos[0].pcTexto) return 0;
  if (v.nQtdCampos >= 2 && std::memcmp(v.pCampos[1].BinaryData, &ulSeq, 4) != 0) return 0;
  if (v.nQtdCampos == 3 && std::memcmp(v.pCampos[2].BinaryData, &ull, 8) != 0) return 0;
  return ulSeq;
}

// A writer's journal: "A key seq" before each write, "K key seq" after an S_OK.
struct Esperado {
  UI4 ulConfirmado = 0;     // last acknowledged sequence
  std::set<UI4> incertos;   // attempted after it, answer lost
};
std::map<UI4, Esperado> LeDiario(const std::string& sCaminho, size_t* pnConfirmadas) {
  std::map<UI4, Esperado> m;
  std::ifstream f(sCaminho);
  char c;
  UI4 lChave, ulSeq;
  while (f >> c >> lChave >> ulSeq) {
    Esperado& e = m[lChave];
    if (c == 'A') {
      e.incertos.insert(ulSeq);
    } else {
      e.ulConfirmado = ulSeq;
      e.incertos.clear();
      ++*pnConfirmadas;
    }
  }
  return m;
}

constexpr UI4 kChavesPorEscritor = 25;
UI4 ChaveDe(UI4 ulEscritor, UI4 i) { return ulEscritor * 1000 + 1 + i % kChavesPorEscritor; }

// A client process: rewrites its own keys in turn, with changing value counts,
// until the stop file or nLimite writes; a lost server is met with a new
// object. With bMisto, reads, integration look-ups, releases and new objects
// go between the writes. Exit 0, or the step that failed.
int Cliente(const std::vector<std::string>& args, bool bMisto) {
  const UI4 ulEscritor = static_cast<UI4>(std::stoul(args[0]));
  const std::string sBase = args[1];
  const int nLimite = std::stoi(args[2]);
  FILE* pDiario = std::fopen((sBase + ".diario").c_str(), "w");
  if (pDiario == nullptr) return 2;
  IZelDF_IEx* p = nullptr;
  auto Conecta = [&] {
    for (int i = 0; i < 500 && p == nullptr; ++i) {
      p = CriaNoServidor(ulEscritor);
      if (p == nullptr) Sleep(5);
    }
    return p != nullptr;
  };
  int r = 0;
  // A file another call holds past the service's retries: on a loaded machine (and with the
  // tests' shortened waits) an answer, not a fault, as long as it stays rare.
  UI4 nVoltas = 0, nOcupados = 0;
  auto Ocupado = [&](HRESULT hr) {
    const bool b = hr == eSharingViolation || hr == eLockViolation;
    nOcupados += b ? 1 : 0;
    return b;
  };
  std::mt19937 aleatorio(ulEscritor);
  for (UI4 ulSeq = 1; r == 0 && static_cast<int>(ulSeq) <= nLimite && !fs::exists(sBase + ".pare"); ++ulSeq) {
    if (p == nullptr && !Conecta()) {
      r = 3;
      break;
    }
    if (ulSeq == 2) ZelCriaMarcador(sBase + ".pronto");
    if (static_cast<int>(ulSeq) == nLimite / 2) ZelCriaMarcador(sBase + ".passo1");
    const UI4 lChave = ChaveDe(ulEscritor, ulSeq);
    ++nVoltas;
    if (bMisto) {
      const auto nVez = aleatorio() % 6;
      if (nVez == 0) {  // a read of some of its keys
        UI4 aChaves[3] = {ChaveDe(ulEscritor, ulSeq + 1), 0, ChaveDe(ulEscritor, ulSeq + 7)};
        IE_VINCULO_PS aV[3] = {};
        const HRESULT hr = p->BuscaVinculosByOrigem(kHeader, 3, aChaves, aV);
        if (hr != S_OK && !Ocupado(hr)) r = 4;
        for (auto& v : aV) IELiberaItens(v.pCampos, v.nQtdCampos);
      } else if (nVez == 1) {  // the integration of its header
        IE_VINCULO_PS v{};
        const IE_HEADER_FILTRO_PS nf{0, IE_PROCESSO_FT_NF, 0, {}}, ped{0, IE_PROCESSO_FT_PED, 0, {}};
        const HRESULT hr = p->GetVinculoByIntegracao(nf, lChave, ped, &v);
        if (FAILED(hr) && !Ocupado(hr)) r = 5;
        IELiberaItens(v.pCampos, v.nQtdCampos);
      } else if (nVez == 2) {  // a release and a new object
        p->Release();
        p = nullptr;
        if (!Conecta()) r = 6;
      }
      if (r != 0) break;
    }
    std::fprintf(pDiario, "A %u %u\n", lChave, ulSeq);
    std::fflush(pDiario);
    HRESULT hr = GravaSeq(p, ulEscritor, lChave, ulSeq);
    if (hr == S_OK) {
      std::fprintf(pDiario, "K %u %u\n", lChave, ulSeq);
      std::fflush(pDiario);
    } else if (hr == RPC_E_DISCONNECTED && !bMisto) {
      p->Release();
      p = nullptr;
    } else if (!Ocupado(hr)) {
      std::fprintf(stderr, "writer %u: GravaCamposVinculo answered 0x%08X\n", ulEscritor, static_cast<UI4>(hr));
      r = 7;
    }
  }
  if (r == 0 && nOcupados * 10 > nVoltas) {
    std::fprintf(stderr, "client %u: %u of %u rounds met a busy file\n", ulEscritor, nOcupados, nVoltas);
    r = 8;
  }
  if (p != nullptr) p->Release();
  std::fclose(pDiario);
  ZelCriaMarcador(sBase + ".pronto");
  return r;
}
ZEL_AJUDANTE(EscritorInterrompido) { return Cliente(args, false); }
ZEL_AJUDANTE(ClienteMisto) { return Cliente(args, true); }

// The registered server command: records its pid, then becomes the server.
ZEL_AJUDANTE(ServidorVigiado) {
  ZelCriaMarcador(args[0] + "servidor." + std::to_string(getpid()));
  execl(ZEL_TOLVAN_SERVIDOR, "Tolvan", "-Embedding", static_cast<char*>(nullptr));
  return 127;
}

class TolvanFalhas : public ::testing::Test {
 protected:
  void SetUp() override {
    // Servers the runtime starts are orphaned on purpose: this process inherits them.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    static int nTeste = 0;
    m_sDir = ZelNovoDiretorio("f" + std::to_string(++nTeste));  // short: the socket's path has a limit
    ASSERT_TRUE(ZelAmbienteServidorTeste(m_sDir));
    fs::create_directories(m_sDir + "emp");
    ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, std::string(kChaveZelSistemas) + "\\Empresas\\EMP", "DF",
                                      m_sDir + "emp/"),
              ERROR_SUCCESS);
    ASSERT_EQ(std::system((std::string(ZEL_TOLVAN_SERVIDOR) + " -RegServerPerUser").c_str()), 0);
    ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_CURRENT_USER,
                                      "Software\\Classes\\CLSID\\" + GuidParaTexto(CLSID_ZelDF_IEx) + "\\LocalServer32",
                                      "", "\"" + fs::read_symlink("/proc/self/exe").string() +
                                              "\" --zel-ajudante ServidorVigiado " + m_sDir),
              ERROR_SUCCESS);
  }
  // Whatever failed, no helper and no server outlives the test.
  void TearDown() override {
    for (pid_t pid : m_aClientes) ZelMataAjudante(pid);
    for (pid_t pid : Servidores()) ZelMataAjudante(pid);
  }

  // Servers started so far and not yet reaped.
  std::vector<pid_t> Servidores() {
    std::vector<pid_t> a;
    for (const auto& e : fs::directory_iterator(m_sDir)) {
      const std::string s = e.path().filename().string();
      if (s.rfind("servidor.", 0) != 0) continue;
      pid_t pid = std::stoi(s.substr(9));
      if (m_reaped.count(pid) == 0) a.push_back(pid);
    }
    return a;
  }
  // A server's exit code (killed after the limit). It is this process's child
  // only once its starter's middle process ended, maybe after it announced itself.
  int EsperaServidor(pid_t pid, uint32_t ms) {
    m_reaped.insert(pid);
    siginfo_t info{};
    for (int i = 0; i < 5000 && waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 &&
                    errno == ECHILD;
         ++i)
      Sleep(1);
    return ZelEsperaAjudante(pid, ms);
  }

  void CriaHeader() {
    HRESULT hr = S_OK;
    IZelDF_IEx* p = CriaNoServidor(99, &hr);
    ASSERT_NE(p, nullptr) << std::hex << hr;
    IE_CAMPO_PS aCampos[3] = {IECampo(IE_CAMPO_LIVRE_TEXTO_0, ""), IECampo(IE_CAMPO_LIVRE_V4_0, ""),
                              IECampo(IE_CAMPO_LIVRE_V8_0, "")};
    UI4 ulPos = 0;
    ASSERT_EQ(p->GravaIEHeader(&ulPos, IE_HDR_PS{0, IE_PROCESSO_FT_NF, 3, {}, aCampos, nullptr}), S_OK);
    ASSERT_EQ(ulPos, kHeader);
    // The integration the mixed clients look up: origin's number to the destination's only field.
    ulPos = 0;
    ASSERT_EQ(p->GravaIEHeader(&ulPos, IE_HDR_PS{0, IE_PROCESSO_FT_PED, 1, {}, &aCampos[1], nullptr}), S_OK);
    _REG_IE_CABECALHO_INTEGRACAO_PS cab{0, 0, IE_PROCESSO_FT_NF, IE_PROCESSO_FT_PED, 0, 0, {}};
    _REG_IE_VINCULO_INTEGRACAO_PS link{1, 1, 0, 0, 0, {}};
    _REG_LISTA_IE_VINCULO_INTEGRACAO_PS lista{1, {}, &link, nullptr};
    UI4 ulCab = 0;
    ASSERT_EQ(p->GravaCabecalhoIntegracao(0, cab, &ulCab), S_OK);
    ASSERT_EQ(p->GravaVinculosCabecalhosIntegracao(&cab, &lista), S_OK);
    ASSERT_EQ(p->GravaCabecalhoIntegracao(ulCab, cab, &ulCab), S_OK);
    p->Release();
  }
  // Resident memory of a live server, in kB.
  static long MemoriaKb(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string s; std::getline(f, s);)
      if (s.rfind("VmRSS:", 0) == 0) return std::stol(s.substr(6));
    return -1;
  }

  void IniciaClientes(const char* szAjudante, UI4 nClientes, int nLimite) {
    for (UI4 e = 1; e <= nClientes; ++e)
      m_aClientes.push_back(ZelIniciaAjudante(szAjudante, {std::to_string(e), Base(e), std::to_string(nLimite)}));
  }
  std::string Base(UI4 e) const { return m_sDir + "cliente" + std::to_string(e); }
  // Client e's mark: false at the limit, or as soon as the client ended without making it.
  bool EsperaMarca(UI4 e, const char* szMarca, uint32_t msLimite) {
    return ZelEsperaArquivo(Base(e) + szMarca, msLimite, m_aClientes[e - 1]);
  }
  void EsperaClientes() {
    for (pid_t pid : m_aClientes) EXPECT_EQ(ZelEsperaAjudante(pid, 600000), 0);
    m_aClientes.clear();
  }

  // Reads every journal's keys through a new object: the last acknowledged
  // write, or one attempted after it. A rewrite whose answer was lost may have
  // stopped between its value records (overwritten in place): *pnMisturas.
  void ConfereDiarios(UI4 nClientes, size_t* pnConfirmadas, size_t* pnIncertas, size_t* pnMisturas = nullptr) {
    IZelDF_IEx* p = CriaNoServidor(98);
    ASSERT_NE(p, nullptr);
    for (UI4 e = 1; e <= nClientes; ++e) {
      for (const auto& [lChave, esperado] : LeDiario(Base(e) + ".diario", pnConfirmadas)) {
        UI4 ulChave = lChave;
        IE_VINCULO_PS v{};
        ASSERT_EQ(p->BuscaVinculosByOrigem(kHeader, 1, &ulChave, &v), S_OK);
        const UI4 ulSeq = SeqLida(v, e, lChave);
        const bool bNada = v.nQtdCampos == 0;
        IELiberaItens(v.pCampos, v.nQtdCampos);
        *pnIncertas += esperado.incertos.size();
        if (esperado.incertos.count(ulSeq) != 0) continue;
        if (esperado.ulConfirmado == 0 && bNada) continue;
        if (pnMisturas != nullptr && !esperado.incertos.empty() && ulSeq == 0 && !bNada) {
          ++*pnMisturas;
          continue;
        }
        EXPECT_EQ(ulSeq, esperado.ulConfirmado) << "key " << lChave << ": the acknowledged write was lost or mixed";
      }
    }
    EXPECT_EQ(p->Release(), 0u);
  }
  // tolvan-inspeciona's verifica: whole records, chains inside their files, one link per origin.
  std::string Verifica() const {
    std::ostringstream saida, erros;
    IEInspecionaExecuta({m_sDir + "emp/VOVIDADI/", "verifica"}, saida, erros);
    return saida.str() + erros.str();
  }

  std::string m_sDir;
  std::vector<pid_t> m_aClientes;
  std::set<pid_t> m_reaped;
};

TEST_F(TolvanFalhas, ServidorMortoNoMeioDasGravacoesNaoPerdeOQueConfirmou) {
  const int nRodadas = Parametro("ZEL_FALHAS_RODADAS", 6);
  constexpr UI4 kEscritores = 4;
  CriaHeader();
  IniciaClientes("EscritorInterrompido", kEscritores, 1 << 30);
  for (UI4 e = 1; e <= kEscritores; ++e) ASSERT_TRUE(EsperaMarca(e, ".pronto", 60000)) << e;

  const int nSemente = Parametro("ZEL_FALHAS_SEMENTE", 12);
  std::mt19937 aleatorio(static_cast<unsigned>(nSemente));
  int nMortos = 0;
  for (int i = 0; i < nRodadas; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + aleatorio() % 120));
    for (pid_t pid : Servidores()) {
      kill(pid, SIGKILL);
      const int r = EsperaServidor(pid, 20000);
      EXPECT_TRUE(r == 128 + SIGKILL || r == 0) << "a server ended with " << r;
      ++nMortos;
    }
    // The next round kills the server the clients start again.
    for (int n = 0; n < 5000 && Servidores().empty(); ++n) Sleep(1);
  }
  for (UI4 e = 1; e <= kEscritores; ++e) ZelCriaMarcador(Base(e) + ".pare");
  EsperaClientes();

  size_t nConfirmadas = 0, nIncertas = 0, nMisturas = 0;
  ConfereDiarios(kEscritores, &nConfirmadas, &nIncertas, &nMisturas);
  EXPECT_GE(nMortos, nRodadas);
  EXPECT_GT(nConfirmadas, 0u);
  for (pid_t pid : Servidores()) EXPECT_EQ(EsperaServidor(pid, 60000), 0) << "the last server did not end by itself";
  EXPECT_EQ(Verifica(), "no problems found\n");
  std::printf("[ falhas ] %d rounds (seed %d): %d servers killed, %zu writes acknowledged and read back, %zu answers "
              "lost (either outcome accepted), %zu of them stopped midway\n",
              nRodadas, nSemente, nMortos, nConfirmadas, nIncertas, nMisturas);
}

TEST_F(TolvanFalhas, OitoClientesComChamadasMistasNaoPerdemNemDobramEOServidorTerminaSozinho) {
  const int nChamadas = Parametro("ZEL_FALHAS_CHAMADAS", 300);
  constexpr UI4 kClientes = 8;
  CriaHeader();
  // This object keeps the one server alive between the passes.
  IZelDF_IEx* p = CriaNoServidor(97);
  ASSERT_NE(p, nullptr);
  const std::vector<pid_t> aServidor = Servidores();
  ASSERT_EQ(aServidor.size(), 1u);
  IniciaClientes("ClienteMisto", kClientes, nChamadas);
  for (UI4 e = 1; e <= kClientes; ++e) ASSERT_TRUE(EsperaMarca(e, ".passo1", 600000)) << e;
  const long nDepoisDoPrimeiro = MemoriaKb(aServidor[0]);
  EsperaClientes();
  const long nNoFim = MemoriaKb(aServidor[0]);

  // A writer after them all finds no lock left behind: a leaked marker or
  // write lock would fail its write (short waits) or hold it past the limit.
  m_aClientes.push_back(ZelIniciaAjudante("EscritorInterrompido", {"9", Base(9), "1"}));
  EXPECT_EQ(ZelEsperaAjudante(m_aClientes.back(), 20000), 0);
  m_aClientes.clear();

  size_t nConfirmadas = 0, nIncertas = 0;
  ConfereDiarios(kClientes, &nConfirmadas, &nIncertas);
  EXPECT_EQ(nIncertas, 0u);
  // One link per origin: the keys each client wrote, and the late writer's.
  EXPECT_EQ(fs::file_size(m_sDir + "emp/VOVIDADI/DFIEVINC.dat"), (kClientes * kChavesPorEscritor + 1) * 24);
  EXPECT_EQ(p->Release(), 0u);
  EXPECT_EQ(EsperaServidor(aServidor[0], 60000), 0) << "the server did not end by itself once idle";
  EXPECT_EQ(Servidores(), std::vector<pid_t>{}) << "another server was started";
  EXPECT_EQ(Verifica(), "no problems found\n");
#if !defined(__SANITIZE_ADDRESS__)
  // Freed memory goes back to the allocator, not to the system: a bound, not equality.
  EXPECT_LE(nNoFim, nDepoisDoPrimeiro + std::max(nDepoisDoPrimeiro / 4, 4096L)) << "the server's memory grew";
#endif
  std::printf("[ falhas ] %u clients x %d calls: %zu writes read back; server memory %ld kB after the first half, "
              "%ld kB at the end\n", kClientes, nChamadas, nConfirmadas, nDepoisDoPrimeiro, nNoFim);
}

}  // namespace
