// The data file's read path against plain positioned reads of the same file,
// and its append rate. Files and registry live in a temporary directory of
// the run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "ZelArqEx.h"
#include "ZelBench.h"

namespace {
constexpr LONG kTamanhoRegistro = 48;
constexpr LONG kRegistros = 100000;


// Header record plus kRegistros records, each filled with its own number.
const std::string& ArquivoLeitura() {
  static const std::string sPath = [] {
    std::string s = ZelDiretorioBench() + "LEITURA.DAT";
    CZelArqEx arq;
    if (arq.Abre(s, 'C', kTamanhoRegistro, 0, TRUE) != 0) std::abort();
    std::vector<char> aBytes(static_cast<size_t>(kRegistros + 1) * kTamanhoRegistro, 0);
    for (LONG l = 1; l <= kRegistros; ++l) aBytes[static_cast<size_t>(l) * kTamanhoRegistro] = static_cast<char>(l);
    if (arq.GravaSequencial(static_cast<LONG>(aBytes.size()), aBytes.data()) != 0) std::abort();
    return s;
  }();
  return sPath;
}

void BM_LeZelArqEx(benchmark::State& state) {
  CZelArqEx arq;
  if (arq.Abre(ArquivoLeitura(), 'L', kTamanhoRegistro, 0, TRUE) != 0) {
    state.SkipWithError("open failed");
    return;
  }
  char reg[kTamanhoRegistro];
  for (auto _ : state) {
    for (LONG l = 1; l <= kRegistros; ++l) {
      if (arq.Le(l, reg) != 0) {
        state.SkipWithError("read failed");
        return;
      }
      benchmark::DoNotOptimize(reg);
    }
  }
  state.SetItemsProcessed(state.iterations() * kRegistros);
  state.SetBytesProcessed(state.iterations() * kRegistros * kTamanhoRegistro);
}
BENCHMARK(BM_LeZelArqEx)->Unit(benchmark::kMillisecond);

// The same records through one positioned system read each.
void BM_LePread(benchmark::State& state) {
  CFile arq;
  if (!arq.Open(ArquivoLeitura(), CFile::modeRead | CFile::shareDenyNone)) {
    state.SkipWithError("open failed");
    return;
  }
  char reg[kTamanhoRegistro];
  for (auto _ : state) {
    for (LONG l = 1; l <= kRegistros; ++l) {
      UINT nLidos = 0;
      if (arq.LeEm(static_cast<ULONGLONG>(l) * kTamanhoRegistro, reg, kTamanhoRegistro, &nLidos) != ERROR_SUCCESS ||
          nLidos != kTamanhoRegistro) {
        state.SkipWithError("read failed");
        return;
      }
      benchmark::DoNotOptimize(reg);
    }
  }
  state.SetItemsProcessed(state.iterations() * kRegistros);
  state.SetBytesProcessed(state.iterations() * kRegistros * kTamanhoRegistro);
}
BENCHMARK(BM_LePread)->Unit(benchmark::kMillisecond);

void BM_GravaAcrescenta(benchmark::State& state) {
  CZelArqEx arq;
  if (arq.Abre(ZelDiretorioBench() + "ACRESCENTA.DAT", 'C', kTamanhoRegistro, 0, TRUE) != 0) {
    state.SkipWithError("open failed");
    return;
  }
  char reg[kTamanhoRegistro] = {1};
  for (auto _ : state) {
    LONG lPosicao = 0;
    if (arq.Grava(reg, &lPosicao) != 0) {
      state.SkipWithError("write failed");
      return;
    }
    benchmark::DoNotOptimize(lPosicao);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GravaAcrescenta);
}  // namespace
