#include "Pardak.h"

#include <atomic>

namespace {
#define ZEL_IE_PROCESSO_NOME(nome) #nome,
constexpr const char* kNomes[] = {ZEL_IE_PROCESSOS(ZEL_IE_PROCESSO_NOME)};
#undef ZEL_IE_PROCESSO_NOME
static_assert(sizeof(kNomes) / sizeof(kNomes[0]) == IE_PROCESSO_COUNT);
std::atomic<int> g_nConsultasNome{0};
}  // namespace

int IEConsultasNomeProcesso() { return g_nConsultasNome.load(); }

const char* IEGetNomeProcesso(IE_E_PROCESSO eProcesso) {
  ++g_nConsultasNome;
  if (eProcesso < 0 || eProcesso >= IE_PROCESSO_COUNT) return "?";
  return kNomes[eProcesso];
}

bool IEAlteraCampoParaPrimeiro(IE_E_CAMPO& eCampo) {
  if (eCampo < 0 || eCampo >= IE_CAMPO_COUNT) return false;
  eCampo = static_cast<IE_E_CAMPO>(eCampo / kTamanhoFaixaCampo * kTamanhoFaixaCampo);
  return true;
}
