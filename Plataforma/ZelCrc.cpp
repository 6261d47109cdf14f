#include "ZelCrc.h"

#include <array>

namespace {
template <typename T, T Poly>
constexpr std::array<T, 256> Tabela() {
  std::array<T, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    T c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ Poly : c >> 1;
    t[i] = c;
  }
  return t;
}
constexpr auto kTabela64 = Tabela<uint64_t, 0xC96C5795D7870F42ull>();
constexpr auto kTabela32 = Tabela<uint32_t, 0xEDB88320u>();
}  // namespace

uint64_t ZelCrc64(const void* pDados, size_t nBytes, uint64_t crc) {
  auto p = static_cast<const uint8_t*>(pDados);
  for (size_t i = 0; i < nBytes; ++i) crc = kTabela64[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t ZelCrc32(const void* pDados, size_t nBytes, uint32_t crc) {
  auto p = static_cast<const uint8_t*>(pDados);
  for (size_t i = 0; i < nBytes; ++i) crc = kTabela32[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}
