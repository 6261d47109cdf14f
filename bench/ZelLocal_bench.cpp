// Local-server round trips: KeepAlive through the runtime's endpoint against a
// plain framed ping-pong of the same sizes over a socket pair, and calls per
// second from 1, 2 and 4 client threads sharing one object.
//
// The benchmark process serves the fake object on the class's endpoint
// itself (registered as a local server in a temporary directory), so each
// call takes the whole client path: proxy, socket, stub, worker thread and
// back. The ...OutroProcesso pair puts the server in a process of its own:
// the test server started by the runtime, against an echo child answering
// the same frames over a socket pair.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ZelBenchEco.h"
#include "ZelFalsoIEx.h"
#include "ZelLocalAtivacao.h"
#include "ZelRegistro.h"

namespace {

// Registry files and socket directory of this run, in a temporary directory
// removed at exit.
std::vector<std::string> g_diretorios;

void AmbienteTemporario(const char* szPrefixo) {
  const std::string d = std::filesystem::temp_directory_path().string() + "/" + szPrefixo + std::to_string(std::rand()) + "/";
  std::filesystem::create_directories(d + "r");
  if (g_diretorios.empty())
    std::atexit([] {
      std::error_code ec;
      for (const auto& s : g_diretorios) std::filesystem::remove_all(s, ec);
    });
  g_diretorios.push_back(d);
  setenv("XDG_RUNTIME_DIR", (d + "r").c_str(), 1);
  setenv("ZEL_REGISTRO_MAQUINA", (d + "maquina.reg").c_str(), 1);
  setenv("ZEL_REGISTRO_USUARIO", (d + "usuario.reg").c_str(), 1);
}

IZelDF_IEx* CriaObjeto() {
  IZelDF_IEx* q = nullptr;
  CoCreateInstance(CLSID_ZelDF_IEx, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelDF_IEx, reinterpret_cast<void**>(&q));
  return q;
}

// One object, served on the endpoint by this process, shared by all threads.
IZelDF_IEx* Objeto() {
  static IZelDF_IEx* p = [] {
    AmbienteTemporario("zelbench-");
    ZelRegistro::GravaTexto(HKEY_CLASSES_ROOT, "CLSID\\" + GuidParaTexto(CLSID_ZelDF_IEx) + "\\LocalServer32", "",
                            "/nonexistent/served-by-the-benchmark");
    DWORD cookie = 0;
    CoRegisterClassObject(CLSID_ZelDF_IEx, CZelFalsoIEx::Fabrica(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    return CriaObjeto();
  }();
  return p;
}

void MedeKeepAlive(benchmark::State& state, IZelDF_IEx* p) {
  if (p == nullptr) {
    state.SkipWithError("activation failed");
    return;
  }
  I4 b = 0;
  for (auto _ : state) {
    if (p->KeepAlive(&b) != S_OK) state.SkipWithError("call failed");
    benchmark::DoNotOptimize(b);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_KeepAliveServidorLocal(benchmark::State& state) { MedeKeepAlive(state, Objeto()); }
BENCHMARK(BM_KeepAliveServidorLocal)->UseRealTime();
BENCHMARK(BM_KeepAliveServidorLocal)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

// The same request and reply sizes as a KeepAlive, answered by a thread
// that does nothing else.
void BM_PingPongSocketPuro(benchmark::State& state) {
  CZelLocalSocket a, b;
  ZelLocalParSockets(&a, &b);
  std::thread eco([&] {
    ZelLocalQuadro q;
    const uint8_t resposta[9] = {0, 0, 0, 0, 1, 1, 0, 0, 0};
    while (b.RecebeQuadro(&q) == S_OK) b.EnviaQuadro(ZelLocalTipoQuadro::Resposta, q.ulId, resposta, sizeof resposta);
  });
  const uint8_t pedido[2] = {5, 0};
  ZelLocalQuadro q;
  for (auto _ : state) {
    a.EnviaQuadro(ZelLocalTipoQuadro::Chamada, 1, pedido, sizeof pedido);
    a.RecebeQuadro(&q);
    benchmark::DoNotOptimize(q.dados.data());
  }
  a.Interrompe();
  eco.join();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PingPongSocketPuro)->UseRealTime();

// An object of the test server, in its own process, started on demand.
IZelDF_IEx* ObjetoOutroProcesso() {
  static IZelDF_IEx* p = [] {
    AmbienteTemporario("zelbench2-");
    setenv("ZEL_ESCALA_TEMPO", "0.01", 1);  // the server ends soon after the run
    if (std::system(ZEL_SERVIDOR_TESTE " -RegServer >/dev/null 2>&1") != 0) return static_cast<IZelDF_IEx*>(nullptr);
    return CriaObjeto();
  }();
  return p;
}

void BM_KeepAliveServidorOutroProcesso(benchmark::State& state) { MedeKeepAlive(state, ObjetoOutroProcesso()); }
BENCHMARK(BM_KeepAliveServidorOutroProcesso)->UseRealTime();

// The same frames as a KeepAlive, answered by a child process that does
// nothing else.
void BM_PingPongDoisProcessos(benchmark::State& state) {
  CZelBenchEco eco;
  if (!eco.Inicia()) {
    state.SkipWithError("socketpair failed");
    return;
  }
  for (auto _ : state)
    if (!eco.IdaEVolta()) state.SkipWithError("round trip failed");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PingPongDoisProcessos)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
