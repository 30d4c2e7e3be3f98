// lib/core/pack_lz_vector.cpp - the LZ decoder's vector loop: literals found
// 32 at a time with a compare against the escape byte and stored as whole
// blocks, references clear of their source copied as 16- or 32-byte blocks.
// It works only where both buffers have room for whole blocks; the plain loop
// finishes near the ends.
#include <cstdint>
#include <cstring>

#include "lib/core/pack_lz_stream.h"

#pragma GCC push_options
#pragma GCC target("avx2")
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#endif
#include <immintrin.h>

namespace {

// Room kept at both ends: a step reads 32 stream bytes and writes 32 output
// bytes; a token takes at most 6 stream bytes.
constexpr size_t kInputRoom = 32;
constexpr size_t kOutputRoom = 32;

__m256i Load32(const unsigned char* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
void Store32(unsigned char* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

unsigned int EscapeMask(__m256i bytes, __m256i escapes) {
  return static_cast<unsigned int>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, escapes)));
}

// Copies a reference whose source lies at least the block size back, block by
// block: each block's source is final before the block is written. Bytes past
// the reference's end fall within the room the caller checked.
unsigned char* CopyBlocks32(unsigned char* out, size_t distance, size_t length) {
  const unsigned char* from = out - distance;
  for (size_t k = 0; k < length; k += 32) Store32(out + k, Load32(from + k));
  return out + length;
}

unsigned char* CopyBlocks16(unsigned char* out, size_t distance, size_t length) {
  const unsigned char* from = out - distance;
  for (size_t k = 0; k < length; k += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + k)));
  }
  return out + length;
}

}  // namespace

Cursor DecodeVector(const unsigned char* in, size_t in_size, unsigned char* out, size_t out_size,
                    unsigned char escape) {
  const unsigned char* const in_end = in + in_size;
  unsigned char* const out_start = out;
  unsigned char* const out_end = out + out_size;
  const __m256i escapes = _mm256_set1_epi8(static_cast<char>(escape));
  while (static_cast<size_t>(in_end - in) >= kInputRoom && static_cast<size_t>(out_end - out) >= kOutputRoom) {
    // Literals up to the next escape, 32 bytes a step; the bytes stored past
    // the escape are overwritten by what follows.
    if (*in != escape) {
      // Runs go 128 bytes a step where both buffers have room for it, else
      // 32; all four blocks are stored, and the step ends at the first escape.
      size_t literals = 0;
      for (;;) {
        if (static_cast<size_t>(in_end - in) >= 128 && static_cast<size_t>(out_end - out) >= 128) {
          const __m256i b0 = Load32(in), b1 = Load32(in + 32), b2 = Load32(in + 64), b3 = Load32(in + 96);
          Store32(out, b0);
          Store32(out + 32, b1);
          Store32(out + 64, b2);
          Store32(out + 96, b3);
          const uint64_t low = EscapeMask(b0, escapes) | static_cast<uint64_t>(EscapeMask(b1, escapes)) << 32;
          const uint64_t high = EscapeMask(b2, escapes) | static_cast<uint64_t>(EscapeMask(b3, escapes)) << 32;
          if ((low | high) != 0) {
            literals = low ? static_cast<size_t>(__builtin_ctzll(low)) : 64 + static_cast<size_t>(__builtin_ctzll(high));
            break;
          }
          in += 128;
          out += 128;
          continue;
        }
        if (static_cast<size_t>(in_end - in) < kInputRoom || static_cast<size_t>(out_end - out) < kOutputRoom) {
          return Cursor{in, out};
        }
        const __m256i bytes = Load32(in);
        Store32(out, bytes);
        const unsigned int hits = EscapeMask(bytes, escapes);
        if (hits != 0) {
          literals = static_cast<size_t>(__builtin_ctz(hits));
          break;
        }
        in += 32;
        out += 32;
      }
      in += literals;
      out += literals;
    }
    // in is at an escape. A token takes at most 6 bytes and its distance is
    // read as 4; the plain loop reads those near the stream's end.
    if (in_end - in < 8) break;
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
    size_t room = static_cast<size_t>(out_end - out);
    if (distance > static_cast<size_t>(out - out_start) || length > room) return Cursor{nullptr, out};
    if (distance >= 32 && ((length + 31) & ~size_t{31}) <= room) {
      out = CopyBlocks32(out, distance, length);
    } else if (distance >= 16 && ((length + 15) & ~size_t{15}) <= room) {
      out = CopyBlocks16(out, distance, length);
    } else {
      out = CopyReference(out, distance, length);
    }
  }
  return Cursor{in, out};
}

#if defined(__clang__)
#pragma clang attribute pop
#endif
#pragma GCC pop_options
