// lib/core/pack_lz_vector.cpp - the LZ decoder's vector loop: literals found
// 32 at a time with a compare against the escape byte, long runs 128 at a
// time with escaped escapes kept inside the run; references copied as whole
// 32- or 16-byte blocks, or as a repeated pattern when they overlap their
// source. It works only where both buffers have room for whole blocks; the
// plain loop finishes near the ends.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "lib/core/pack_lz_stream.h"

// clang does not take the GCC target pragma; its own form marks every
// function of the file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,popcnt")
#endif
#include <immintrin.h>

namespace {

// Room kept at both ends: 32 bytes for the first literal step and 160 for the
// long-run steps (a step reads 129 stream bytes and writes 128 output bytes,
// and leaves room for a token: at most 6 stream bytes, its distance read as
// 4). A reference copy writes up to 31 bytes past its end; that is checked
// against its length apart from this room.
constexpr size_t kInputRoom = 192;
constexpr size_t kOutputRoom = 192;

__m256i Load32(const unsigned char* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
void Store32(unsigned char* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
void Store16(unsigned char* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
__m128i Load16(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

unsigned int EscapeMask32(__m256i bytes, __m256i escapes) {
  return static_cast<unsigned int>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, escapes)));
}

uint64_t EscapeMask64(__m256i low, __m256i high, __m256i escapes) {
  const uint32_t a = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, escapes)));
  const uint32_t b = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, escapes)));
  return a | static_cast<uint64_t>(b) << 32;
}

// For a reference nearer than 16 bytes: byte i of its output repeats byte
// i % distance of its source. kPattern[d] picks those bytes from a 16-byte
// load in each half of a 32-byte block (the upper half continues at 16);
// kPatternStep[d] is the largest multiple of d up to 32, the step at which the
// same block repeats.
struct PatternTable {
  alignas(32) unsigned char index[16][32];
  unsigned char step[16];
};

constexpr PatternTable MakePatternTable() {
  PatternTable t{};
  for (int d = 1; d < 16; ++d) {
    for (int i = 0; i < 32; ++i) t.index[d][i] = static_cast<unsigned char>(i % d);
    t.step[d] = static_cast<unsigned char>(32 - 32 % d);
  }
  return t;
}

constexpr PatternTable kPattern = MakePatternTable();

// Copies a reference at least kBlock bytes back (32, or 16 for distances of
// 16 to 31), block by block: each block's source is final before the block
// is written. Writes up to kBlock - 1 bytes past its end.
template <size_t kBlock>
unsigned char* CopyBlocks(unsigned char* out, size_t distance, size_t length) {
  const unsigned char* from = out - distance;
  size_t k = 0;
  do {
    if constexpr (kBlock == 32) {
      Store32(out + k, Load32(from + k));
    } else {
      Store16(out + k, Load16(from + k));
    }
    k += kBlock;
  } while (k < length);
  return out + length;
}

// Distances below 16: the first distance bytes of the source repeated.
// Writes up to 31 bytes past its end.
unsigned char* CopyNear(unsigned char* out, size_t distance, size_t length) {
  const __m128i source = Load16(out - distance);
  const __m256i pattern = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(source),
                                              Load32(kPattern.index[distance]));
  const size_t step = kPattern.step[distance];
  size_t k = 0;
  do {
    Store32(out + k, pattern);
    k += step;
  } while (k < length);
  return out + length;
}

// kAfter + 128 - first, read as 128 bytes, is 0xFF past the byte at "first"
// (0 to 128) and 0 up to it.
struct AfterTable {
  unsigned char bytes[256];
};

constexpr AfterTable MakeAfterTable() {
  AfterTable t{};
  for (int i = 0; i < 256; ++i) t.bytes[i] = i > 128 ? 0xFF : 0;
  return t;
}

constexpr AfterTable kAfter = MakeAfterTable();

// How a long literal run takes its steps. Where escaped escapes are sparse, a
// step without escapes is a plain copy behind a branch that is nearly always
// predicted; where they are dense (incompressible data meets one about every
// 256 bytes) that branch would be mispredicted at every pair, so every step
// takes the pair-dropping blend without a branch, 64 bytes at a time. The
// choice is made again every 32 KB from how many escapes the run met.
struct LiteralMode {
  unsigned int steps = 0;  // 64-byte units
  unsigned int escapes = 0;
  bool dense = false;
};

constexpr unsigned int kModeSteps = 256;
constexpr unsigned int kDenseEscapes = 100;

// A long run of literals, 128 stream bytes a step. A step whose only escapes
// are one escaped escape stays in the loop: the output takes byte j of the
// step up to the pair's first byte and byte j + 1 after it, and moves 127.
// Any other escape ends the run there (true, with *in at it); the bytes
// stored past it are overwritten by what follows. False when the buffers'
// room runs out first. Needs 160 bytes of room in both.
bool LongLiterals(const unsigned char** in_at, unsigned char** out_at, const unsigned char* in_end,
                  unsigned char* out_end, __m256i escapes, LiteralMode* mode) {
  const unsigned char* in = *in_at;
  unsigned char* out = *out_at;
  unsigned int mode_steps = mode->steps, mode_escapes = mode->escapes;
  bool dense = mode->dense;
  bool at_escape = false;
  // A step reads 129 bytes, writes 128, and leaves room for a token after it.
  const size_t room = std::min(static_cast<size_t>(in_end - in), static_cast<size_t>(out_end - out));
  for (size_t steps = (room - 136) / 128 + 1; steps > 0; --steps) {
    const __m256i b0 = Load32(in), b1 = Load32(in + 32), b2 = Load32(in + 64), b3 = Load32(in + 96);
    const uint64_t low = EscapeMask64(b0, b1, escapes), high = EscapeMask64(b2, b3, escapes);
    if (!dense && (low | high) == 0) {
      Store32(out, b0);
      Store32(out + 32, b1);
      Store32(out + 64, b2);
      Store32(out + 96, b3);
      in += 128;
      out += 128;
    } else {
      // The first escape's place: 128 when there is none.
      const unsigned int first = low ? static_cast<unsigned int>(_tzcnt_u64(low))
                                     : 64 + static_cast<unsigned int>(_tzcnt_u64(high));
      // None, or two that are neighbours: no escape or one escaped escape;
      // one test, not a branch on each.
      const unsigned int count = static_cast<unsigned int>(_mm_popcnt_u64(low) + _mm_popcnt_u64(high));
      const uint64_t neighbours = (low & (low >> 1)) | (high & (high >> 1)) | (low >> 63 & high);
      if (count != 2 * static_cast<unsigned int>(neighbours != 0)) {
        Store32(out, b0);
        Store32(out + 32, b1);
        Store32(out + 64, b2);
        Store32(out + 96, b3);
        in += first;
        out += first;
        ++mode_escapes;
        at_escape = true;
        break;
      }
      const unsigned char* after = kAfter.bytes + 128 - first;
      Store32(out, _mm256_blendv_epi8(b0, Load32(in + 1), Load32(after)));
      Store32(out + 32, _mm256_blendv_epi8(b1, Load32(in + 33), Load32(after + 32)));
      Store32(out + 64, _mm256_blendv_epi8(b2, Load32(in + 65), Load32(after + 64)));
      Store32(out + 96, _mm256_blendv_epi8(b3, Load32(in + 97), Load32(after + 96)));
      in += 128;
      out += 128 - (count != 0);
      mode_escapes += count != 0;
    }
    if ((mode_steps += 2) >= 2 * kModeSteps) {
      dense = mode_escapes > kDenseEscapes;
      mode_steps = 0;
      mode_escapes = 0;
    }
  }
  *in_at = in;
  *out_at = out;
  mode->steps = mode_steps;
  mode->escapes = mode_escapes;
  mode->dense = dense;
  return at_escape;
}

// The dense way, 64 stream bytes a step: a step holds fewer pairs than one of
// 128 bytes, so fewer of them end the run. Otherwise as LongLiterals; needs
// the same room.
bool DenseLiterals(const unsigned char** in_at, unsigned char** out_at, const unsigned char* in_end,
                   unsigned char* out_end, __m256i escapes, LiteralMode* mode) {
  const unsigned char* in = *in_at;
  unsigned char* out = *out_at;
  unsigned int mode_steps = mode->steps, mode_escapes = mode->escapes;
  bool at_escape = false;
  const __m256i index_low = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                                             20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
  const __m256i index_high = _mm256_add_epi8(index_low, _mm256_set1_epi8(32));
  // A step reads 65 bytes, writes 64, and leaves room for a token after it.
  const size_t room = std::min(static_cast<size_t>(in_end - in), static_cast<size_t>(out_end - out));
  for (size_t steps = (room - 72) / 64 + 1; steps > 0; --steps) {
    const __m256i b0 = Load32(in), b1 = Load32(in + 32);
    const uint64_t bits = EscapeMask64(b0, b1, escapes);
    // No escape, or one escaped escape within the step: bits is 0 or 3 << i
    // with i below 63.
    const uint64_t lowest = bits & (0 - bits);
    if (((bits ^ (lowest * 3)) | (lowest >> 63)) != 0) {
      const size_t first = _tzcnt_u64(bits);
      Store32(out, b0);
      Store32(out + 32, b1);
      in += first;
      out += first;
      ++mode_escapes;
      at_escape = true;
      break;
    }
    // Past the pair's first byte (64 for none) the output takes the next
    // stream byte.
    const __m256i at = _mm256_set1_epi8(static_cast<char>(_tzcnt_u64(bits)));
    Store32(out, _mm256_blendv_epi8(b0, Load32(in + 1), _mm256_cmpgt_epi8(index_low, at)));
    Store32(out + 32, _mm256_blendv_epi8(b1, Load32(in + 33), _mm256_cmpgt_epi8(index_high, at)));
    in += 64;
    out += 64 - (bits != 0);
    mode_escapes += bits != 0;
    if (++mode_steps >= 2 * kModeSteps) {
      if (mode_escapes <= kDenseEscapes) {
        mode->dense = false;
        mode_steps = 0;
        mode_escapes = 0;
        break;
      }
      mode_steps = 0;
      mode_escapes = 0;
    }
  }
  *in_at = in;
  *out_at = out;
  mode->steps = mode_steps;
  mode->escapes = mode_escapes;
  return at_escape;
}

}  // namespace

Cursor DecodeVector(const unsigned char* in, size_t in_size, unsigned char* out, size_t out_size,
                    unsigned char escape) {
  const unsigned char* const in_end = in + in_size;
  unsigned char* const out_start = out;
  unsigned char* const out_end = out + out_size;
  const __m256i escapes = _mm256_set1_epi8(static_cast<char>(escape));
  LiteralMode mode;
  while (static_cast<size_t>(in_end - in) >= kInputRoom && static_cast<size_t>(out_end - out) >= kOutputRoom) {
    // Literals up to the next escape. Short runs (most of them, in code and
    // text) end within the first 32 bytes; the bytes stored past the escape
    // are overwritten by what follows.
    if (*in != escape) {
      const __m256i head = Load32(in);
      Store32(out, head);
      const unsigned int hits = EscapeMask32(head, escapes);
      if (hits != 0) {
        in += _tzcnt_u32(hits);
        out += _tzcnt_u32(hits);
      } else {
        in += 32;
        out += 32;
        if (!(mode.dense ? DenseLiterals(&in, &out, in_end, out_end, escapes, &mode)
                         : LongLiterals(&in, &out, in_end, out_end, escapes, &mode))) {
          continue;
        }
      }
    }
    // in is at an escape.
    unsigned int code = in[1];
    if (code == escape) {
      *out++ = escape;
      in += 2;
      continue;
    }
    if (code > escape) --code;
    const unsigned char* p = in + 2;
    size_t length = code >> 3;
    if (code & 4) length |= static_cast<size_t>(*p++) << 5;
    length += 4;
    const size_t form = code & 3;
    if (form == 3) return Cursor{nullptr, out};
    uint32_t v;
    std::memcpy(&v, p, 4);
    const size_t distance = (v & (0xFFFFFFu >> (8 * (2 - form)))) + 1;
    in = p + form + 1;
    const size_t room = static_cast<size_t>(out_end - out);
    if (distance > static_cast<size_t>(out - out_start)) return Cursor{nullptr, out};
    if (length + 32 > room) {
      // Long references near the end: exact copies.
      if (length > room) return Cursor{nullptr, out};
      out = CopyReference(out, distance, length);
    } else if (distance >= 32) {
      out = CopyBlocks<32>(out, distance, length);
    } else if (distance >= 16) {
      out = CopyBlocks<16>(out, distance, length);
    } else {
      out = CopyNear(out, distance, length);
    }
  }
  return Cursor{in, out};
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
