// The suite's catalogue of modules: number and short code of each module
// whose data directories a company registers.
#pragma once

#include <cstdint>
#include <string>

// Database identifiers are module numbers, plus negative numbers for the
// suite's own databases.
using _ZelModulo = int32_t;
constexpr _ZelModulo ZEL_ZELDATABASE_INFO_PLUS = -11;  // the Vovi Dadi store

class CZelCatalogoModulos {
 public:
  static constexpr int kModuloDF = 1;
  static constexpr int kModuloNFe = 23;
  static constexpr int kModuloLivrosFiscais = 26;

  // The module's code ("DF" for 1); empty for a number outside the catalogue.
  static std::string GetCodigo(int nModulo);
  // The number of a code, compared without regard to case; 0 when unknown.
  static int GetNumero(const std::string& sCodigo);
};
