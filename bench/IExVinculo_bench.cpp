// Writing and reading an origin's values with the company's link file holding
// 10k or 1M links: GravaCamposVinculo of 10 values (2 of them texts) and
// BuscaVinculosByOrigem of 1,000 keys, through the service class in process
// and through the Tolvan server in its own process.
#include <benchmark/benchmark.h>

#include <vector>

#include "ZelBenchVinculos.h"
#include "ZelLocalAtivacao.h"

namespace {
IZelDF_IEx* Cria(bool bServidor, int64_t n) {
  return ZelBenchCria(bServidor, ZelBenchEmpresaVinculos(n), ZEL_TOLVAN_SERVIDOR);
}

void BM_GravaCamposVinculo(benchmark::State& state) {
  const bool bServidor = state.range(1) != 0;
  IZelDF_IEx* p = Cria(bServidor, state.range(0));
  if (p == nullptr) {
    state.SkipWithError("start failed");
    return;
  }
  CZelBenchValores valores;
  UI4 lChave = static_cast<UI4>(state.range(0));
  for (auto _ : state) {
    // New origins: each write appends a link and its chain.
    IE_VINCULO_PS v = valores.Vinculo(++lChave);
    if (p->GravaCamposVinculo(v) != S_OK) {
      state.SkipWithError("write failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  p->Release();
}
BENCHMARK(BM_GravaCamposVinculo)
    ->ArgsProduct({{10000, 1000000}, {0, 1}})
    ->ArgNames({"vinculos", "servidor"})
    ->Unit(benchmark::kMicrosecond);

void BM_BuscaVinculosByOrigem1000(benchmark::State& state) {
  const bool bServidor = state.range(1) != 0;
  const int64_t n = state.range(0);
  IZelDF_IEx* p = Cria(bServidor, n);
  if (p == nullptr) {
    state.SkipWithError("start failed");
    return;
  }
  std::vector<UI4> aChaves(1000);
  std::vector<IE_VINCULO_PS> aVinculos(aChaves.size());
  UI4 ulInicio = 0;
  for (auto _ : state) {
    for (size_t i = 0; i < aChaves.size(); ++i) aChaves[i] = static_cast<UI4>((ulInicio + i * 7919) % n + 1);
    ulInicio += 13;
    if (p->BuscaVinculosByOrigem(1, static_cast<UINT>(aChaves.size()), aChaves.data(), aVinculos.data()) != S_OK) {
      state.SkipWithError("read failed");
      break;
    }
    for (auto& v : aVinculos) {
      for (UINT i = 0; i < v.nQtdCampos; ++i) CoTaskMemFree(v.pCampos[i].pcTexto);
      CoTaskMemFree(v.pCampos);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(aChaves.size()));
  p->Release();
}
BENCHMARK(BM_BuscaVinculosByOrigem1000)
    ->ArgsProduct({{10000, 1000000}, {0, 1}})
    ->ArgNames({"vinculos", "servidor"})
    ->Unit(benchmark::kMillisecond);
}  // namespace
