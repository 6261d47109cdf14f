// The two checksums of the system, both reflected, register starting at 0 and
// without final inversion (so they chain: pass the previous result as crc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Polynomial 0xC96C5795D7870F42 (ECMA-182, reflected).
uint64_t ZelCrc64(const void* pDados, size_t nBytes, uint64_t crc = 0);
inline uint64_t ZelCrc64(std::string_view s) { return ZelCrc64(s.data(), s.size()); }

// Polynomial 0xEDB88320.
uint32_t ZelCrc32(const void* pDados, size_t nBytes, uint32_t crc = 0);
inline uint32_t ZelCrc32(std::string_view s) { return ZelCrc32(s.data(), s.size()); }
