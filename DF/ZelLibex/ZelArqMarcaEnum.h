// The kinds of change marker. A kind names the set of files a marker
// protects; each has the code its time-out is reported with.
#pragma once

#include <cstdint>

class IZelArqMarcaEnum {
 public:
  enum EZelArqMarca : uint32_t {
    Nenhum = 0,
    ZelDataBaseInfoPlus = 188,  // the engine's changes to the Vovi Dadi record database
    VoviDadi = 253,             // the Vovi Dadi files of a company
    ControleCriacaoArquivosInMemory = 310,
    UltimoProcesso = 310,
  };
  // The time-out code of a kind; 3651 for a kind beyond the table.
  static int CodeFailed(unsigned long ulProcesso);
};
