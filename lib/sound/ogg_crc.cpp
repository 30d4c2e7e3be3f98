// lib/sound/ogg_crc.cpp - the Ogg page checksum through tables, and the
// choice of the multiplying form (lib/sound/ogg_crc.h).
#include "lib/sound/ogg_crc.h"

#include <array>
#include <cstring>

#include "platform/kernel/kernel.h"

namespace oggpcm {

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7u;

// Table j gives a byte's effect eight times j bits further on.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 24;
    for (int bit = 0; bit < 8; ++bit) c = (c << 1) ^ ((c & 0x80000000u) != 0 ? kPolynomial : 0);
    t[0][i] = c;
  }
  for (size_t j = 1; j < 8; ++j)
    for (uint32_t i = 0; i < 256; ++i) t[j][i] = (t[j - 1][i] << 8) ^ t[0][t[j - 1][i] >> 24];
  return t;
}

constexpr Tables kTables = MakeTables();

}  // namespace

uint32_t OggCrcTables(uint32_t crc, const uint8_t* p, size_t n) {
  for (; n >= 8; n -= 8, p += 8) {
    crc ^= static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
    crc = kTables[7][crc >> 24] ^ kTables[6][(crc >> 16) & 0xFF] ^ kTables[5][(crc >> 8) & 0xFF] ^
          kTables[4][crc & 0xFF] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^ kTables[0][p[7]];
  }
  for (; n > 0; --n) crc = (crc << 8) ^ kTables[0][(crc >> 24) ^ *p++];
  return crc;
}

bool OggCrcCanMultiply() {
  static const bool can = [] {
#if defined(__x86_64__) || defined(__i386__)
    // The plain level (RORUD_SPAN_LEVEL=0) keeps to the tables too.
    return plat::VectorLevel() >= 1 && __builtin_cpu_supports("pclmul") != 0;
#else
    return false;
#endif
  }();
  return can;
}

uint32_t OggCrc(uint32_t crc, const uint8_t* bytes, size_t n) {
  return n >= 64 && OggCrcCanMultiply() ? OggCrcMultiply(crc, bytes, n) : OggCrcTables(crc, bytes, n);
}

bool OggPageChecksumHolds(const uint8_t* page, size_t header_len, size_t body_len) {
  // The header (27 to 282 bytes) with its checksum field as zero.
  uint8_t header[27 + 255];
  std::memcpy(header, page, header_len);
  std::memset(header + 22, 0, 4);
  const uint32_t crc = OggCrc(OggCrcTables(0, header, header_len), page + header_len, body_len);
  const uint32_t stored = static_cast<uint32_t>(page[22]) | static_cast<uint32_t>(page[23]) << 8 |
                          static_cast<uint32_t>(page[24]) << 16 | static_cast<uint32_t>(page[25]) << 24;
  return crc == stored;
}

}  // namespace oggpcm
