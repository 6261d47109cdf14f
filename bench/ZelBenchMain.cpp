// One run: a temporary directory holds every file and both registry files,
// so benchmarks never touch the machine's real ones.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "ZelBench.h"

namespace {
std::string g_sDiretorio;
}

const std::string& ZelDiretorioBench() { return g_sDiretorio; }

int main(int argc, char** argv) {
  std::random_device rd;
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tolvan-bench-" + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  g_sDiretorio = dir.string() + "/";
  setenv("ZEL_REGISTRO_MAQUINA", (g_sDiretorio + "maquina.reg").c_str(), 0);
  setenv("ZEL_REGISTRO_USUARIO", (g_sDiretorio + "usuario.reg").c_str(), 0);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
