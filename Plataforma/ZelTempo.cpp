#include "ZelTempo.h"

#include <cmath>
#include <cstdlib>

double ZelEscalaTempo() {
  static const double escala = [] {
    const char* sz = std::getenv("ZEL_ESCALA_TEMPO");
    if (sz == nullptr || *sz == '\0') return 1.0;
    char* fim = nullptr;
    double v = std::strtod(sz, &fim);
    return (fim != sz && std::isfinite(v) && v > 0) ? v : 1.0;
  }();
  return escala;
}

uint32_t ZelTempoMs(uint32_t msNominal) {
  double v = std::round(msNominal * ZelEscalaTempo());
  if (v >= 4294967294.0) return 4294967294u;  // never INFINITE by accident
  return static_cast<uint32_t>(v);
}
