// Each refusal of a peer is one error line through the host's reporter, and
// the runtime's own counters come back to rest once the peer is gone.
#include "ZelLocalLimites.h"

#include <malloc.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "ZelLocalAtivacao.h"
#include "ZelLocalProcesso.h"
#include "ZelLocalSeguranca.h"
#include "ZelLocalTeste_test.h"
#include "ZelLocalTesteClasse.h"
#include "ZelSistema.h"
#include "ZelTesteAjudante.h"

namespace {

using Textos = std::vector<std::string>;
std::atomic<int> g_nChamadas{0};
std::mutex g_mutexLinhas;
Textos g_linhas;

std::string Linha(const char* szExpressao, HRESULT hr) {
  return ZelLinhaErroTeste("ZelLocalServidor", "ZelLocalAtivacao", szExpressao, "hr", hr);
}

void Relator(const char* szFuncao, const char* szArquivo, int, const char* szExpressao, const char* szVariavel,
             HRESULT hr) {
  std::lock_guard<std::mutex> trava(g_mutexLinhas);
  g_linhas.push_back(ZelLinhaErroTeste(szFuncao, szArquivo, szExpressao, szVariavel, hr));
}

const char* const kSemMetodo = "hr = pDescricao->Metodo(usSlot) ? S_OK : RPC_X_BAD_STUB_DATA";

Textos Linhas() {
  std::lock_guard<std::mutex> trava(g_mutexLinhas);
  return g_linhas;
}

const ZelLocalTipo kU8{"UI1", 1, ZelLocalTipoValor::U8, {}, {}};
const ZelLocalTipo kU32{"UI4", 4, ZelLocalTipoValor::U32, {}, {}};
// (UI4 n, UI1* a [eDirecao, n]): n bytes one way.
ZelLocalMetodo Bytes(uint16_t usSlot, const char* szNome, ZelLocalDirecao eDirecao) {
  return {usSlot,
          szNome,
          {{"n", ZelLocalDirecao::Entrada, ZelLocalForma::Valor, &kU32},
           {"a", eDirecao, ZelLocalForma::Array, &kU8, 0}}};
}
// Grande: a reply of n bytes.
const ZelLocalMetodo kGrande = Bytes(3, "Grande", ZelLocalDirecao::Saida);
// Enorme(Bloco** pp [out]): a block one byte over the largest frame, which no request count announced.
struct Bloco {
  uint32_t n;
  uint32_t ulPad;
  uint8_t* a;
};
const ZelLocalTipo kBloco{"Bloco", sizeof(Bloco), ZelLocalTipoValor::Registro,
                          {{"n", 0, ZelLocalTipoValor::U32, 4}, {"a", 8, ZelLocalTipoValor::Array, 8, &kU8, "n"}}, {}};
const ZelLocalMetodo kEnorme{4, "Enorme", {{"pp", ZelLocalDirecao::Saida, ZelLocalForma::PonteiroDuplo, &kBloco}}};

// Espera(): runs until the test lets it go, counting the calls running at once.
const ZelLocalMetodo kEspera{5, "Espera", {}};
// Envia: a request of n bytes.
const ZelLocalMetodo kEnvia = Bytes(6, "Envia", ZelLocalDirecao::Entrada);
// Aguarda(): returns once the server was refused a thread (E_FAIL if never).
const ZelLocalMetodo kAguarda{7, "Aguarda", {}};
// Curta(): two milliseconds' work, noting the server thread that ran it.
const ZelLocalMetodo kCurta{8, "Curta", {}};
std::mutex g_mutexEspera;
std::vector<std::thread::id> g_threadsCurtas;
std::condition_variable g_cvEspera;
int g_nRodando = 0, g_nMaxRodando = 0;
bool g_bSolta = false;

HRESULT Invoca(void*, uint16_t usSlot, void* const* ap) {
  ++g_nChamadas;
  if (usSlot == kEspera.usSlot) {
    std::unique_lock<std::mutex> trava(g_mutexEspera);
    g_nMaxRodando = std::max(g_nMaxRodando, ++g_nRodando);
    g_cvEspera.notify_all();
    g_cvEspera.wait_for(trava, std::chrono::seconds(20), [] { return g_bSolta; });
    --g_nRodando;
    return S_OK;
  }
  if (usSlot == kCurta.usSlot) {
    Sleep(2);
    std::lock_guard<std::mutex> trava(g_mutexEspera);
    g_threadsCurtas.push_back(std::this_thread::get_id());
    return S_OK;
  }
  if (usSlot == kAguarda.usSlot) {
    for (int i = 0; i < 10000 && ZelLocalThreadsRecusadasTeste() == 0; ++i) Sleep(1);
    return ZelLocalThreadsRecusadasTeste() > 0 ? S_OK : E_FAIL;
  }
  if (usSlot != kEnorme.usSlot) return S_OK;
  auto* p = static_cast<Bloco*>(CoTaskMemAlloc(sizeof(Bloco)));
  p->n = kZelLocalMaxQuadro + 1;
  p->a = static_cast<uint8_t*>(CoTaskMemAlloc(p->n));
  std::memset(p->a, 1, p->n);
  **static_cast<Bloco** const*>(ap[0]) = p;
  return S_OK;
}

void RegistraInterface() {
  static const ZelLocalInterface d{kIidTesteLocal,
                                   "ITesteLocal",
                                   {kGrande, kEnorme, kEspera, kEnvia, kAguarda, kCurta},
                                   &Invoca,
                                   [](std::shared_ptr<CZelLocalCanalCliente>) -> IUnknown* { return nullptr; }};
  ZelLocalRegistraInterface(&d);
}

class Limites : public ::testing::Test {
 protected:
  void SetUp() override {
    RegistraInterface();
    setenv("XDG_RUNTIME_DIR", ZelNovoDiretorio("limites").c_str(), 1);
    {
      std::lock_guard<std::mutex> trava(g_mutexLinhas);
      g_linhas.clear();
    }
    ZelLocalDefineRelatorErro(&Relator);
    Registra();
    m_sSocket = ZelLocalCaminhoSocket(kClsidTesteLocal);
  }
  void TearDown() override {
    CoRevokeClassObject(m_cookie);
    CoUninitialize();
    ZelLocalDefineRelatorErro(nullptr);
  }
  void Registra(DWORD dwFlags = REGCLS_MULTIPLEUSE) {
    static CZelFabricaTesteLocal fabrica;
    ASSERT_EQ(CoRegisterClassObject(kClsidTesteLocal, &fabrica, CLSCTX_LOCAL_SERVER, dwFlags, &m_cookie), S_OK);
  }
  CZelLocalSocket Conecta() {
    CZelLocalSocket s;
    EXPECT_EQ(ZelLocalConecta(m_sSocket, &s), S_OK);
    return s;
  }
  // Lines written once every connection of the runtime has ended.
  Textos LinhasAoFim() {
    for (int i = 0; i < 10000 && ZelLocalConexoesServidas() != 0; ++i) Sleep(2);
    EXPECT_EQ(ZelLocalConexoesServidas(), 0);
    return Linhas();
  }
  // The server closes the peer without an answer and writes one more line.
  void EncerraComLinha(CZelLocalSocket& s, Textos& esperadas, const char* szExpressao, HRESULT hr) {
    s.DefinePrazos(20000, 0);
    ZelLocalQuadro q;
    EXPECT_EQ(s.RecebeQuadro(&q), S_FALSE) << "closed without an answer";
    s.Fecha();
    esperadas.push_back(Linha(szExpressao, hr));
    EXPECT_EQ(LinhasAoFim(), esperadas);
  }
  DWORD m_cookie = 0;
  std::string m_sSocket;
};

// A peer with an object, activated by hand.
CZelLocalSocket Ativado(CZelLocalSocket s) {
  EXPECT_EQ(ZelAtivaTeste(s, kClsidTesteLocal, kIidTesteLocal), S_OK);
  return s;
}

// Lets the Espera calls go (or holds the next ones).
void Solta(bool bSolta) {
  std::lock_guard<std::mutex> trava(g_mutexEspera);
  g_bSolta = bSolta;
  g_cvEspera.notify_all();
}

bool EsperaRodando(int n) {
  std::unique_lock<std::mutex> trava(g_mutexEspera);
  return g_cvEspera.wait_for(trava, std::chrono::seconds(20), [n] { return g_nRodando == n; });
}

// Waits for an answer, freeing the callers through their socket should it never come.
template <class T>
void EsperaOuSolta(std::future<T>& f, int fd, const char* szFalha) {
  if (f.wait_for(std::chrono::seconds(60)) == std::future_status::ready) return;
  ADD_FAILURE() << szFalha;
  shutdown(fd, SHUT_RDWR);
}

// Quick calls on a channel are answered while a slow one waits, which still gets its own answer.
void RapidasPassamPelaLenta(CZelLocalCanalCliente& canal, int fd) {
  Solta(false);
  auto lenta = std::async(std::launch::async, [&] { return canal.Chama(kEspera, nullptr); });
  ASSERT_TRUE(EsperaRodando(1));
  std::vector<std::future<bool>> rapidas;
  for (uint32_t t = 1; t <= 4; ++t)
    rapidas.push_back(std::async(std::launch::async, [&, t] {
      for (uint32_t i = 0; i < 50; ++i) {
        uint32_t n = t * 100 + i;
        std::vector<uint8_t> buf(n, 0xEE);
        uint8_t* p = buf.data();
        void* ap[] = {&n, &p};
        if (canal.Chama(kGrande, ap) != S_OK || buf != std::vector<uint8_t>(n, 0)) return false;
      }
      return true;
    }));
  for (auto& f : rapidas) {
    EsperaOuSolta(f, fd, "the quick calls waited for the slow one");
    EXPECT_TRUE(f.get()) << "each caller got an answer of the size it asked for";
  }
  EXPECT_EQ(lenta.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  Solta(true);
  EsperaOuSolta(lenta, fd, "the slow call never got its answer");
  EXPECT_EQ(lenta.get(), S_OK);
}

}  // namespace

// A peer that sends garbage during its own call hears at once that it is cut off, not when the call ends.
TEST_F(Limites, ParComLixoOuveOFimSemEsperarAChamadaEmCurso) {
  Solta(false);
  CZelLocalSocket s = Ativado(Conecta());
  CZelLocalEscritor c;
  c.U16(kEspera.usSlot);
  ASSERT_EQ(s.EnviaQuadro(ZelLocalTipoQuadro::Chamada, 1, c.Dados()), S_OK);
  EXPECT_TRUE(EsperaRodando(1));
  EXPECT_EQ(s.EnviaQuadro(ZelLocalTipoQuadro::Chamada, 2, std::vector<uint8_t>{0xFF, 0xFF}), S_OK);
  pollfd p{s.Fd(), POLLRDHUP, 0};
  EXPECT_EQ(poll(&p, 1, 10000), 1) << "the server hung up while the call ran";
  Solta(true);
  // The call's reply then finds the connection gone.
  EXPECT_EQ(LinhasAoFim(), (Textos{Linha(kSemMetodo, RPC_X_BAD_STUB_DATA),
                                   Linha("hr = socket.EnviaQuadro(resposta)", RPC_E_DISCONNECTED)}));
}

// The second peer says nothing until the deadline.
TEST_F(Limites, AtivacaoGrandeDemaisOuQueNaoChegaEUmaLinhaCada) {
  Textos esperadas;
  const std::pair<std::string, HRESULT> casos[] = {
      {ZelCabecalhoTeste(kZelLocalTamanhoAtivacao + 1), RPC_X_BAD_STUB_DATA}, {"", HRESULT_FROM_WIN32(ERROR_TIMEOUT)}};
  for (const auto& [sCab, hr] : casos) {
    CZelLocalSocket s = Conecta();
    ASSERT_EQ(s.EnviaBytes(sCab.data(), sCab.size()), S_OK);
    EncerraComLinha(s, esperadas, "hr = socket.RecebeQuadro(&ativacao)", hr);
  }
}

// A query of the bound interface is answered. A query with a byte too many or
// too few, and a frame that names no method (a slot it lacks, cut short or
// missing, a kind only a server sends) end the peer with one line each.
TEST_F(Limites, QuadroSemMetodoDaInterfaceEncerraOParComUmaLinha) {
  CZelLocalEscritor e;
  e.Guid(kIidTesteLocal);
  {
    CZelLocalSocket s = Ativado(Conecta());
    ASSERT_EQ(s.EnviaQuadro(ZelLocalTipoQuadro::Consulta, 7, e.Dados()), S_OK);
    s.DefinePrazos(20000, 0);
    ZelLocalQuadro q;
    ASSERT_EQ(s.RecebeQuadro(&q), S_OK);
    EXPECT_EQ(q.usTipo, static_cast<uint16_t>(ZelLocalTipoQuadro::RespostaConsulta));
    EXPECT_EQ(q.dados, std::vector<uint8_t>(4, 0)) << "S_OK";
  }
  std::vector<uint8_t> longa = e.Dados(), curta = e.Dados();
  longa.push_back(0);
  curta.pop_back();
  const char* szConsulta = "hr = Consulta(conexao, quadro)";
  const std::tuple<ZelLocalTipoQuadro, std::vector<uint8_t>, const char*> casos[] = {
      {ZelLocalTipoQuadro::Consulta, longa, szConsulta},
      {ZelLocalTipoQuadro::Consulta, curta, szConsulta},
      {ZelLocalTipoQuadro::Chamada, {0xFF, 0xFF}, kSemMetodo},
      {ZelLocalTipoQuadro::Chamada, {3}, kSemMetodo},
      {ZelLocalTipoQuadro::Chamada, {}, kSemMetodo},
      {ZelLocalTipoQuadro::Resposta, {3, 0, 0, 0, 0, 0}, kSemMetodo}};
  const int nAntes = g_nChamadas.load();
  Textos esperadas;
  for (const auto& [eTipo, dados, szExpressao] : casos) {
    CZelLocalSocket s = Ativado(Conecta());
    ASSERT_EQ(s.EnviaQuadro(eTipo, 7, dados), S_OK);
    EncerraComLinha(s, esperadas, szExpressao, RPC_X_BAD_STUB_DATA);
  }
  EXPECT_EQ(g_nChamadas.load(), nAntes) << "nothing ran";
  Ativado(Conecta());
}

// Calls beyond the cap with replies far larger than a socket buffer, none
// read: one line. One such call, then silence: the server still ends it.
TEST_F(Limites, ParQueNaoLeEUmaLinhaEDeixaNadaParaTras) {
  const Textos kUma{Linha("hr = socket.EnviaQuadro(resposta)", RPC_E_DISCONNECTED)};
  CZelLocalEscritor c;
  c.U16(kGrande.usSlot);
  c.U32(4u << 20);
  CZelLocalSocket s = Ativado(Conecta());
  s.DefinePrazos(0, 2000);
  for (uint32_t i = 1; i <= 3 * kZelLocalMaxChamadasPorConexao; ++i)
    if (s.EnviaQuadro(ZelLocalTipoQuadro::Chamada, i, c.Dados()) != S_OK) break;
  pollfd p{s.Fd(), POLLRDHUP, 0};
  ASSERT_EQ(poll(&p, 1, 60000), 1);
  EXPECT_EQ(LinhasAoFim(), kUma) << "one line for the peer, not one per reply";
  // The calls still waiting in its socket were never run.
  EXPECT_LE(g_nChamadas.load(), 2 * kZelLocalMaxChamadasPorConexao);
  CZelLocalSocket calado = Ativado(Conecta());
  ASSERT_EQ(calado.EnviaQuadro(ZelLocalTipoQuadro::Chamada, 1, c.Dados()), S_OK);
  p = {calado.Fd(), POLLRDHUP, 0};
  EXPECT_EQ(poll(&p, 1, 20000), 1) << "the server hung up";
  EXPECT_EQ(LinhasAoFim(), (Textos{kUma[0], kUma[0]}));
}

// The cap is exact: the last connection allowed gets its object, the next hears at once that it is too busy.
TEST_F(Limites, ConexoesAteOTetoEntramEAProximaOuveQueEstaOcupado) {
  std::vector<CZelLocalSocket> pares;
  for (int i = 0; i < kZelLocalMaxConexoes; ++i) pares.push_back(Ativado(Conecta()));
  CZelLocalSocket alem = Conecta();
  alem.DefinePrazos(20000, 0);
  EXPECT_EQ(ZelAtivaTeste(alem, kClsidTesteLocal, kIidTesteLocal), HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY));
  pares.clear();
  alem.Fecha();
  EXPECT_EQ(LinhasAoFim(), Textos{Linha("hr = nConexoes < kZelLocalMaxConexoes ? S_OK : RPC_S_SERVER_TOO_BUSY",
                                        HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY))});
}

// Calls beyond a connection's share wait; none is lost and never more than the share run at once.
TEST_F(Limites, ChamadasAlemDaCotaEsperamSemSePerder) {
  Solta(false);
  CZelLocalSocket s = Ativado(Conecta());
  CZelLocalEscritor c;
  c.U16(kEspera.usSlot);
  const uint32_t nChamadas = 2 * kZelLocalMaxChamadasPorConexao;
  const int nAntes = g_nChamadas.load();
  for (uint32_t i = 1; i <= nChamadas; ++i) ASSERT_EQ(s.EnviaQuadro(ZelLocalTipoQuadro::Chamada, i, c.Dados()), S_OK);
  EXPECT_TRUE(EsperaRodando(kZelLocalMaxChamadasPorConexao));
  Sleep(50);  // room for a call over the share to start, were it let in
  {
    std::lock_guard<std::mutex> trava(g_mutexEspera);
    EXPECT_EQ(g_nMaxRodando, kZelLocalMaxChamadasPorConexao);
  }
  Solta(true);
  s.DefinePrazos(20000, 0);
  ZelLocalQuadro q;
  for (uint32_t i = 0; i < nChamadas; ++i) ASSERT_EQ(s.RecebeQuadro(&q), S_OK) << i;
  EXPECT_EQ(g_nChamadas.load() - nAntes, static_cast<int>(nChamadas));
}

// Arguments too large to travel are the caller's fault, not a dead server's;
// a reply larger than any frame is one line. The channel goes on either way.
TEST_F(Limites, RespostaAlemDoTetoEChamadaLentaNaoPrendemOCanal) {
  CZelLocalSocket s = Conecta();
  const int fd = dup(s.Fd());
  auto canal = std::make_shared<CZelLocalCanalCliente>(std::move(s));
  ASSERT_EQ(canal->Ativa(kClsidTesteLocal, kIidTesteLocal), S_OK);
  const int nAntes = g_nChamadas;
  for (uint32_t n : {kZelLocalMaxQuadro, 16u}) {
    std::vector<uint8_t> buf(n, 7);
    uint8_t* p = buf.data();
    void* ap[] = {&n, &p};
    EXPECT_EQ(canal->Chama(kEnvia, ap), n == 16 ? S_OK : E_INVALIDARG) << n;
  }
  EXPECT_EQ(g_nChamadas, nAntes + 1) << "only the call that fits reaches the object";
  Bloco* pBloco = reinterpret_cast<Bloco*>(1);
  Bloco** ppBloco = &pBloco;
  void* ap[] = {&ppBloco};
  auto resposta = std::async(std::launch::async, [&] { return canal->Chama(kEnorme, ap); });
  EsperaOuSolta(resposta, fd, "no answer");
  EXPECT_EQ(resposta.get(), RPC_X_BAD_STUB_DATA);
  EXPECT_EQ(pBloco, nullptr);
  EXPECT_EQ(Linhas(), Textos{Linha("hr = EnviaQuadro(resposta)", RPC_X_BAD_STUB_DATA)});
  RapidasPassamPelaLenta(*canal, fd);
  close(fd);
}

// A server thread keeps its reply buffer only up to a size: a large one does not stay for good.
TEST_F(Limites, RespostaGrandeNaoFicaComAThreadDoServidor) {
  const auto EmUso = [] {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
  };
  const size_t nAntes = EmUso();
  {
    CZelLocalCanalCliente canal(Conecta());
    ASSERT_EQ(canal.Ativa(kClsidTesteLocal, kIidTesteLocal), S_OK);
    uint32_t n = 3u << 20;
    std::vector<uint8_t> buf(n, 0xEE);
    uint8_t* p = buf.data();
    void* ap[] = {&n, &p};
    ASSERT_EQ(canal.Chama(kGrande, ap), S_OK);
    EXPECT_EQ(buf, std::vector<uint8_t>(n, 0));
  }
  EXPECT_EQ(LinhasAoFim(), Textos{});
  EXPECT_LT(EmUso(), nAntes + (size_t{1} << 20));
}

// A runtime started again in one process hands a slow call's reading on as the
// first start did; a reader with no thread to hand it to reads on itself.
TEST_F(Limites, ChamadaLentaNaoPrendeOCanalDepoisDeReiniciarOuSemThread) {
  ASSERT_EQ(CoRevokeClassObject(m_cookie), S_OK);
  CoUninitialize();
  Registra();
  CZelLocalSocket s = Conecta();
  const int fd = dup(s.Fd());
  CZelLocalCanalCliente canal(std::move(s));
  ASSERT_EQ(canal.Ativa(kClsidTesteLocal, kIidTesteLocal), S_OK);
  RapidasPassamPelaLenta(canal, fd);
  close(fd);
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("LeitorSemThreadParaPassar", {ZelNovoDiretorio("sem threads")})), 0)
      << "2: set-up, 3: activation, 4: no refused thread, 5: the next call never answered, 6: it failed, "
         "7: a later connection got a thread";
}

TEST_F(Limites, FabricaSemObjetoERegistroSemServidorSaoRecusados) {
  constexpr CLSID kClsidVazia = {0x5E1F0C2C, 0x7B3D, 0x4E55, {0x9A, 0x01, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}};
  // A factory that answers S_OK without an object.
  CZelFabricaTesteLocal fabrica([](REFIID, void** ppv) {
    *ppv = nullptr;
    return S_OK;
  });
  static CZelFabricaTesteLocal boa;
  DWORD cookie = 0, cookieDentro = 0;
  EXPECT_EQ(CoRegisterClassObject(kClsidVazia, &fabrica, 0, REGCLS_MULTIPLEUSE, &cookie), E_INVALIDARG)
      << "a class offered to no kind of server";
  // Offered in this process only, it is not what other processes activate.
  ASSERT_EQ(CoRegisterClassObject(kClsidVazia, &fabrica, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookieDentro),
            S_OK);
  CZelLocalSocket alheio = Conecta();
  EXPECT_EQ(ZelAtivaTeste(alheio, kClsidVazia, kIidTesteLocal), REGDB_E_CLASSNOTREG)
      << "a peer asking another class's endpoint for it";
  alheio.Fecha();
  for (CZelFabricaTesteLocal* pFabrica : {&boa, &fabrica}) {
    ASSERT_EQ(CoRegisterClassObject(kClsidVazia, pFabrica, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    CZelLocalSocket s;
    ASSERT_EQ(ZelLocalConecta(ZelLocalCaminhoSocket(kClsidVazia), &s), S_OK);
    EXPECT_EQ(ZelAtivaTeste(s, kClsidVazia, kIidTesteLocal), pFabrica == &boa ? S_OK : E_UNEXPECTED)
        << "S_OK without an object is no object";
    s.Fecha();
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  }
  EXPECT_EQ(CoRevokeClassObject(cookieDentro), S_OK);
  // Offered to other processes only, it is not made in this one.
  ASSERT_EQ(CoRegisterClassObject(kClsidVazia, &boa, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
  void* pv = nullptr;
  EXPECT_EQ(CoCreateInstance(kClsidVazia, nullptr, CLSCTX_INPROC_SERVER, kIidTesteLocal, &pv), REGDB_E_CLASSNOTREG);
  if (pv != nullptr) static_cast<IUnknown*>(pv)->Release();
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
}

// The runtime holds a class object once, not once per object made: after
// revocation, or a registration refused, nothing is held.
TEST_F(Limites, AtivacoesNaoPrendemAFabricaDepoisDeRevogada) {
  class CFabricaContada final : public IClassFactory {
   public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
      *ppv = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
      if (*ppv == nullptr) return E_NOINTERFACE;
      AddRef();
      return S_OK;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++m_nRefs); }
    ULONG Release() override { return static_cast<ULONG>(--m_nRefs); }
    HRESULT CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
      return CZelObjetoTesteLocal::CriaInstancia(riid, ppv);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
    std::atomic<long> m_nRefs{0};
  } fabrica;
  constexpr CLSID kClsidContada = {0x5E1F0C2D, 0x7B3D, 0x4E55, {0x9A, 0x01, 0x33, 0x44, 0x55, 0x66, 0x77, 0x89}};
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kClsidContada, &fabrica, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
  for (int i = 0; i < 3; ++i) {
    CZelLocalSocket s;
    ASSERT_EQ(ZelLocalConecta(ZelLocalCaminhoSocket(kClsidContada), &s), S_OK);
    EXPECT_EQ(ZelAtivaTeste(s, kClsidContada, kIidTesteLocal), S_OK);
  }
  for (int i = 0; i < 10000 && ZelLocalConexoesServidas() != 0; ++i) Sleep(2);
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(fabrica.m_nRefs, 0);

  // A server still ending holds the endpoint: the registration is refused and not kept.
  CZelLocalTravaArquivo outro;
  ASSERT_EQ(outro.Trava(ZelLocalDiretorioSockets() + GuidParaTexto(kClsidContada) + ".servidor", 0), S_OK);
  EXPECT_EQ(CoRegisterClassObject(kClsidContada, &fabrica, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie),
            CO_E_SERVER_STOPPING);
  EXPECT_EQ(fabrica.m_nRefs, 0);
}

// A suspended class has no endpoint, and a peer connected just before hears
// that the server is stopping. A class registered suspended waits to resume.
TEST_F(Limites, ClasseSuspensaSemEndpointEAtivacaoOuveQueOServidorPara) {
  CZelLocalSocket s = Conecta();
  for (int i = 0; i < 10000 && ZelLocalConexoesServidas() == 0; ++i) Sleep(2);
  ASSERT_EQ(ZelLocalConexoesServidas(), 1);
  ASSERT_EQ(CoSuspendClassObjects(), S_OK);
  EXPECT_FALSE(std::filesystem::exists(m_sSocket));
  EXPECT_EQ(ZelAtivaTeste(s, kClsidTesteLocal, kIidTesteLocal), CO_E_SERVER_STOPPING);
  ASSERT_EQ(CoResumeClassObjects(), S_OK);
  Ativado(Conecta());

  ASSERT_EQ(CoRevokeClassObject(m_cookie), S_OK);
  Registra(REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED);
  EXPECT_FALSE(std::filesystem::exists(m_sSocket));
  ASSERT_EQ(CoResumeClassObjects(), S_OK);
  Ativado(Conecta());
}

TEST_F(Limites, RespostaDeOutroTipoDerrubaOCanal) {
  CZelLocalSocket cliente, servidor;
  ASSERT_EQ(ZelLocalParSockets(&cliente, &servidor), S_OK);
  CZelLocalCanalCliente canal{std::move(cliente)};
  // The peer answers the call with the same id and the kind of another request's answer.
  auto par = std::async(std::launch::async, [&] {
    ZelLocalQuadro q;
    servidor.DefinePrazos(20000, 20000);
    if (servidor.RecebeQuadro(&q) != S_OK || q.usTipo != static_cast<uint16_t>(ZelLocalTipoQuadro::Chamada)) return false;
    const std::vector<uint8_t> hrOk(4, 0);
    return servidor.EnviaQuadro(ZelLocalTipoQuadro::RespostaConsulta, q.ulId, hrOk) == S_OK;
  });
  EXPECT_EQ(canal.Chama(kEspera, nullptr), RPC_E_DISCONNECTED);
  EXPECT_TRUE(par.get());
  EXPECT_EQ(canal.Chama(kEspera, nullptr), RPC_E_DISCONNECTED) << "the channel stays down";
}

// An activation left unanswered past its wait drops the connection: the server sees the hang-up at once, and
// no later answer is taken for a call.
TEST_F(Limites, AtivacaoSemRespostaNoPrazoDerrubaOCanal) {
  CZelLocalSocket cliente, servidor;
  ASSERT_EQ(ZelLocalParSockets(&cliente, &servidor), S_OK);
  CZelLocalCanalCliente canal{std::move(cliente)};
  EXPECT_EQ(canal.Ativa(kClsidTesteLocal, kIidTesteLocal), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  ZelLocalQuadro q;
  servidor.DefinePrazos(20000, 20000);
  ASSERT_EQ(servidor.RecebeQuadro(&q), S_OK);
  EXPECT_EQ(q.usTipo, static_cast<uint16_t>(ZelLocalTipoQuadro::Ativa));
  ASSERT_EQ(servidor.RecebeQuadro(&q), S_FALSE) << "the client hung up while its channel lives";
  EXPECT_EQ(canal.Chama(kEspera, nullptr), RPC_E_DISCONNECTED) << "the channel stays down";
}

// A helper's own server of the test class in sDir, limited to nThreads server
// threads when given, and a peer connected to it.
bool ServidorNoAjudante(const std::string& sDir, CZelLocalSocket* pSocket, int nThreads = 0) {
  RegistraInterface();
  setenv("XDG_RUNTIME_DIR", sDir.c_str(), 1);
  static CZelFabricaTesteLocal fabrica;
  DWORD cookie = 0;
  if (CoRegisterClassObject(kClsidTesteLocal, &fabrica, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie) != S_OK)
    return false;
  if (nThreads > 0) ZelLocalLimitaThreadsTeste(nThreads);
  return ZelLocalConecta(ZelLocalCaminhoSocket(kClsidTesteLocal), pSocket) == S_OK;
}

// A call well within the hand-off time is run by the reader, which then reads
// the next one itself: no other thread is woken to take the reading on.
ZEL_AJUDANTE(LeitorDeChamadasCurtasSegueLendo) {
  CZelLocalSocket s;
  if (!ServidorNoAjudante(args.at(0), &s)) return 2;
  CZelLocalCanalCliente canal(std::move(s));
  if (canal.Ativa(kClsidTesteLocal, kIidTesteLocal) != S_OK) return 3;
  for (int i = 0; i < 20; ++i)
    if (canal.Chama(kCurta, nullptr) != S_OK) return 4;
  std::lock_guard<std::mutex> trava(g_mutexEspera);
  int nTrocas = 0;
  for (size_t i = 1; i < g_threadsCurtas.size(); ++i) nTrocas += g_threadsCurtas[i] != g_threadsCurtas[i - 1];
  // A call held up by the machine now and then may still be handed on.
  return nTrocas < 5 ? 0 : 5;
}

TEST_F(Limites, ChamadasCurtasNaoPassamALeituraAdiante) {
  // At full time, so that the hand-off waits its real 20 ms.
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudanteEmEscala("LeitorDeChamadasCurtasSegueLendo", "1",
                                                        {ZelNovoDiretorio("curtas")})),
            0)
      << "2: set-up, 3: activation, 4: a call failed, 5: the reading changed threads between calls";
}

// A server that may add only the reader's thread: its hand-off finds none, so the reader reads on.
ZEL_AJUDANTE(LeitorSemThreadParaPassar) {
  CZelLocalSocket s;
  if (!ServidorNoAjudante(args.at(0), &s, 1)) return 2;
  auto canal = std::make_shared<CZelLocalCanalCliente>(std::move(s));
  if (canal->Ativa(kClsidTesteLocal, kIidTesteLocal) != S_OK) return 3;
  if (canal->Chama(kAguarda, nullptr) != S_OK) return 4;
  auto seguinte = std::async(std::launch::async, [&] { return canal->Chama(kAguarda, nullptr); });
  // Nobody reading the connection would leave this call unanswered.
  if (seguinte.wait_for(std::chrono::seconds(10)) != std::future_status::ready) _exit(5);
  if (seguinte.get() != S_OK) return 6;
  // Still out of threads: a second connection is refused too.
  const int nRecusadas = ZelLocalThreadsRecusadasTeste();
  CZelLocalSocket outro;
  if (ZelLocalConecta(ZelLocalCaminhoSocket(kClsidTesteLocal), &outro) != S_OK) return 2;
  for (int i = 0; i < 10000 && ZelLocalThreadsRecusadasTeste() == nRecusadas; ++i) Sleep(1);
  return ZelLocalThreadsRecusadasTeste() > nRecusadas ? 0 : 7;
}
