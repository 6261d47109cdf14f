// The engine's table: loading a million 24-byte records and indexing them,
// against a plain read of the same file into memory; index look-ups; and
// appends through Grava.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "ZelBench.h"
#include "ZelDataBase.h"
#include "ZelFile.h"
#include "ZelRegistro.h"

namespace {
struct REG_BENCH {
  uint32_t ulPosHeader;
  uint32_t ulChave;
  uint64_t ullA;
  uint64_t ullB;
};
static_assert(sizeof(REG_BENCH) == 24);

constexpr ZelUInt kRegistros = 1000000;
constexpr _ZelModulo kModulo = 1;

class CBaseBench : public CZelDataBase {
 public:
  CBaseBench() : CZelDataBase(kModulo) {}
  static ZelUInt GetChaveIndex(const REG_BENCH* p, ZelUInt) { return (ZelUInt{p->ulPosHeader} << 32) | p->ulChave; }
};

// Company BENCH and its file of kRegistros records with distinct keys.
const std::string& DiretorioEmpresa() {
  static const std::string s = [] {
    std::string sDir = ZelDiretorioBench() + "BENCH/";
    ZelCriaDiretorio(sDir, true);
    ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, std::string(kChaveZelSistemas) + "\\Empresas\\BENCH", "DF", sDir);
    std::vector<REG_BENCH> a(kRegistros);
    for (ZelUInt i = 0; i < kRegistros; ++i) a[i] = {static_cast<uint32_t>(i % 97 + 1), static_cast<uint32_t>(i), i, 0};
    CFile arq;
    if (!arq.Open(sDir + "CARGA.dat", CFile::modeWrite | CFile::modeCreate | CFile::shareDenyWrite)) std::abort();
    arq.Write(a.data(), static_cast<UINT>(a.size() * sizeof(REG_BENCH)));
    return sDir;
  }();
  return s;
}

void BM_CargaEIndiceZelFile(benchmark::State& state) {
  DiretorioEmpresa();
  for (auto _ : state) {
    CBaseBench db;
    CZelFile<REG_BENCH> arq("CARGA.dat", &db);
    db.DesabilitaControleCriacaoArquivos();
    if (db.Inicializa("BENCH", 1, 1) != S_OK || arq.IncluiIndex(&db, 0) != S_OK) {
      state.SkipWithError("load failed");
      return;
    }
    benchmark::DoNotOptimize(arq.GetQtdRegistros());
  }
  state.SetItemsProcessed(state.iterations() * kRegistros);
}
BENCHMARK(BM_CargaEIndiceZelFile)->Unit(benchmark::kMillisecond);

// The floor: the same bytes read into memory, no index.
void BM_CargaLeituraSimples(benchmark::State& state) {
  std::string sPath = DiretorioEmpresa() + "CARGA.dat";
  for (auto _ : state) {
    CFile arq;
    if (!arq.Open(sPath, CFile::modeRead | CFile::shareDenyNone)) {
      state.SkipWithError("open failed");
      return;
    }
    std::vector<REG_BENCH> a(arq.GetLength() / sizeof(REG_BENCH));
    UINT nLidos = 0;
    arq.LeEm(0, a.data(), static_cast<UINT>(a.size() * sizeof(REG_BENCH)), &nLidos);
    benchmark::DoNotOptimize(a.data());
  }
  state.SetItemsProcessed(state.iterations() * kRegistros);
}
BENCHMARK(BM_CargaLeituraSimples)->Unit(benchmark::kMillisecond);

void BM_ExisteIndex(benchmark::State& state) {
  DiretorioEmpresa();
  CBaseBench db;
  CZelFile<REG_BENCH> arq("CARGA.dat", &db);
  db.DesabilitaControleCriacaoArquivos();
  if (db.Inicializa("BENCH", 1, 1) != S_OK || arq.IncluiIndex(&db, 0) != S_OK) {
    state.SkipWithError("load failed");
    return;
  }
  std::mt19937_64 gerador(7);
  for (auto _ : state) {
    ZelUInt i = gerador() % kRegistros;
    ZelUInt uiPos = 0;
    arq.ExisteIndex((ZelUInt{i % 97 + 1} << 32) | i, &uiPos, 0);
    benchmark::DoNotOptimize(uiPos);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExisteIndex);

void BM_AnexaGrava(benchmark::State& state) {
  std::string sDir = DiretorioEmpresa();
  ZelExcluiArquivo(sDir + "ANEXA.dat");
  CBaseBench db;
  CZelFile<REG_BENCH> arq("ANEXA.dat", &db);
  db.DesabilitaControleCriacaoArquivos();
  if (db.Inicializa("BENCH", 1, 1) != S_OK || arq.IncluiIndex(&db, 0) != S_OK) {
    state.SkipWithError("start failed");
    return;
  }
  uint32_t ulChave = 0;
  for (auto _ : state) {
    ZelUInt uiPos = 0;
    if (arq.Grava(uiPos, REG_BENCH{1, ++ulChave, 0, 0}) != S_OK) {
      state.SkipWithError("write failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AnexaGrava);
}  // namespace

namespace {
// 20,000 appends through Grava, all to one key of an index that allows
// repeats (argument 1) or each to a key of its own (argument 0): a key's
// position list takes each new, largest position at its end.
void BM_AnexaUmaChave(benchmark::State& state) {
  constexpr uint32_t kAnexos = 20000;
  const std::string sDir = DiretorioEmpresa();
  const bool bMesmaChave = state.range(0) == 1;
  for (auto _ : state) {
    state.PauseTiming();
    ZelExcluiArquivo(sDir + "REPETE.dat");
    CBaseBench db;
    CZelFile<REG_BENCH> arq("REPETE.dat", &db);
    db.DesabilitaControleCriacaoArquivos();
    if (db.Inicializa("BENCH", 1, 1) != S_OK || arq.IncluiIndex(&db, 0, false, true) != S_OK) {
      state.SkipWithError("start failed");
      return;
    }
    state.ResumeTiming();
    for (uint32_t i = 1; i <= kAnexos; ++i) {
      ZelUInt uiPos = 0;
      if (arq.Grava(uiPos, REG_BENCH{1, bMesmaChave ? 1 : i, 0, 0}) != S_OK) {
        state.SkipWithError("write failed");
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kAnexos);
}
BENCHMARK(BM_AnexaUmaChave)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);
}  // namespace
