// Opening a company's Vovi Dadi store: the link file loaded, cleaned of empty
// links and indexed by origin, with the version check, the integration files
// and the long-lived files; beside a plain read of the same link file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "IExBase.h"
#include "ZelBench.h"
#include "ZelRegistro.h"

namespace {
// Company BENCHn with n links of distinct origins over 97 headers.
std::string Empresa(int64_t n) {
  static std::map<int64_t, std::string> prontas;
  std::string sEmpresa = "BENCH" + std::to_string(n);
  if (prontas.count(n) != 0) return sEmpresa;
  std::string sDir = ZelDiretorioBench() + sEmpresa + "/";
  std::string sVovi = sDir + "VOVIDADI/";
  ZelCriaDiretorio(sVovi, true);
  ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, std::string(kChaveZelSistemas) + "\\Empresas\\" + sEmpresa, "DF", sDir);
  std::vector<IE_VINCULO_ARQ_V0> a(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i)
    a[static_cast<size_t>(i)] = {static_cast<UI4>(i % 97 + 1), static_cast<UI4>(i), 3, static_cast<UI4>(3 * i + 1), 0, 0};
  CFile arq;
  if (!arq.Open(sVovi + "DFIEVINC.dat", CFile::modeWrite | CFile::modeCreate | CFile::shareDenyWrite)) std::abort();
  arq.Write(a.data(), static_cast<UINT>(a.size() * sizeof(IE_VINCULO_ARQ_V0)));
  arq.Close();
  std::string sConfig(4096, '\0');
  sConfig[0] = 9;
  if (!arq.Open(sVovi + "DFIECONFIG.DAT", CFile::modeWrite | CFile::modeCreate | CFile::shareDenyWrite)) std::abort();
  arq.Write(sConfig.data(), static_cast<UINT>(sConfig.size()));
  arq.Close();
  prontas[n] = sVovi;
  return sEmpresa;
}

void BM_AberturaEmpresa(benchmark::State& state) {
  const std::string sEmpresa = Empresa(state.range(0));
  for (auto _ : state) {
    CIExBase ie;
    if (ie.Inicializa(sEmpresa, 1, 1) != S_OK || ie.GetDataBase()->m_Vinculo.GetQtdRegistros() !=
                                                       static_cast<ZelUInt>(state.range(0))) {
      state.SkipWithError("start failed");
      return;
    }
    ie.Finaliza();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AberturaEmpresa)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_AberturaLeituraSimples(benchmark::State& state) {
  const std::string sPath = ZelDiretorioBench() + Empresa(state.range(0)) + "/VOVIDADI/DFIEVINC.dat";
  for (auto _ : state) {
    CFile arq;
    if (!arq.Open(sPath, CFile::modeRead | CFile::shareDenyNone)) {
      state.SkipWithError("open failed");
      return;
    }
    std::vector<IE_VINCULO_ARQ_V0> a(arq.GetLength() / sizeof(IE_VINCULO_ARQ_V0));
    UINT nLidos = 0;
    arq.LeEm(0, a.data(), static_cast<UINT>(a.size() * sizeof(IE_VINCULO_ARQ_V0)), &nLidos);
    benchmark::DoNotOptimize(a.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AberturaLeituraSimples)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
}  // namespace
