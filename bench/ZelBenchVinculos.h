// A company whose one header (process FT_NF, 10 fields, the first 2 of them
// texts) has n origins with their values, written as the service writes
// them; the session record that opens it; the service object in process or
// in the Tolvan server. Shared by the benchmarks and tolvan-comparacao.
#pragma once

#include <string>
#include <vector>

#include "ZelDF_IEx.h"

constexpr UI4 kZelBenchCampos = 10;
constexpr UI2 kZelBenchTamanhoTexto = 20;

IE_E_CAMPO ZelBenchIdDoCampo(UI4 i);
// Company "BENCHVn" (keys 1 to n) in the run's directory, made once.
std::string ZelBenchEmpresaVinculos(int64_t n);
_REG_DF_INICIALIZAPS ZelBenchSessao(const std::string& sEmpresa);
// Null when the object cannot be made or initialised. The server is
// registered per user in the run's own registry and runtime directory.
IZelDF_IEx* ZelBenchCria(bool bServidor, const std::string& sEmpresa, const char* szServidor);

// The 10 values of one origin (the texts point at static strings).
class CZelBenchValores {
 public:
  CZelBenchValores() : m_aValores(kZelBenchCampos) {}
  IE_VINCULO_PS Vinculo(UI4 lChave);

 private:
  std::vector<IE_CAMPO_DATA_PS> m_aValores;
};
