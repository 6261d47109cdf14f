#include "ZelCatalogoModulos.h"

#include "ZelArquivo.h"

namespace {
struct Modulo {
  int nNumero;
  const char* szCodigo;
};
constexpr Modulo kModulos[] = {
    {1, "DF"},  {2, "CB"},  {3, "ES"},  {4, "FN"},  {5, "FP"},  {6, "FT"},
    {7, "CM"},  {8, "AT"},  {9, "CP"},  {10, "VD"}, {23, "NE"}, {26, "LF"},
};
}  // namespace

std::string CZelCatalogoModulos::GetCodigo(int nModulo) {
  for (const Modulo& m : kModulos)
    if (m.nNumero == nModulo) return m.szCodigo;
  return {};
}

int CZelCatalogoModulos::GetNumero(const std::string& sCodigo) {
  for (const Modulo& m : kModulos)
    if (ZelNomesIguais(sCodigo, m.szCodigo)) return m.nNumero;
  return 0;
}
