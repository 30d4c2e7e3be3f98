// lib/sound/ogg_crc.h - the checksum of an Ogg page (CRC-32, polynomial
// 0x04C11DB7, most significant bit first, no initial or final inversion),
// with which a page is told apart from damaged bytes: eight bytes a step
// through tables, or sixteen a step by carry-less multiplication where the
// processor has it. Both give the same value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oggpcm {

// The checksum of `n` more bytes after `crc` (0 at the start).
uint32_t OggCrc(uint32_t crc, const uint8_t* bytes, size_t n);
// The same through the tables alone, and by multiplication (only called
// where the processor has it; the tables' value for fewer than 64 bytes).
uint32_t OggCrcTables(uint32_t crc, const uint8_t* bytes, size_t n);
uint32_t OggCrcMultiply(uint32_t crc, const uint8_t* bytes, size_t n);
bool OggCrcCanMultiply();

// Whether a whole page (its header of `header_len` bytes and the body right
// after it) holds the checksum of its bytes, taken with the checksum's four
// bytes as zero.
bool OggPageChecksumHolds(const uint8_t* page, size_t header_len, size_t body_len);

}  // namespace oggpcm
