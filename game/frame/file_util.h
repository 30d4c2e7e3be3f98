// game/frame/file_util.h - little-endian words on the runtime's buffered
// files, for the game's own files.
#pragma once

#include <cstdint>
#include <cstdio>

inline bool ReadU32(std::FILE* f, uint32_t& value) {
  unsigned char b[4];
  if (std::fread(b, 1, 4, f) != 4) return false;
  value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
          static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
  return true;
}

inline bool WriteU32(std::FILE* f, uint32_t value) {
  const unsigned char b[4] = {static_cast<unsigned char>(value),
                              static_cast<unsigned char>(value >> 8),
                              static_cast<unsigned char>(value >> 16),
                              static_cast<unsigned char>(value >> 24)};
  return std::fwrite(b, 1, 4, f) == 4;
}
