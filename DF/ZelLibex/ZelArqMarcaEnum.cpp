#include "ZelArqMarcaEnum.h"

#include <array>
#include <cstddef>

namespace {
constexpr int kCodigoForaDaTabela = 3651;

// A kind's code is its own number, so the line names the queue that timed
// out; kind 0 would read as success and takes the code of an unknown kind.
constexpr std::array<int, IZelArqMarcaEnum::UltimoProcesso + 1> MontaTabela() {
  std::array<int, IZelArqMarcaEnum::UltimoProcesso + 1> a{};
  for (int i = 0; i < static_cast<int>(a.size()); ++i) a[static_cast<std::size_t>(i)] = i;
  a[IZelArqMarcaEnum::Nenhum] = kCodigoForaDaTabela;
  return a;
}
constexpr auto kCodigosFalha = MontaTabela();
static_assert(kCodigosFalha.size() == 311);
static_assert(kCodigosFalha[IZelArqMarcaEnum::VoviDadi] == 253);
}  // namespace

int IZelArqMarcaEnum::CodeFailed(unsigned long ulProcesso) {
  if (ulProcesso > UltimoProcesso) return kCodigoForaDaTabela;
  return kCodigosFalha[ulProcesso];
}
