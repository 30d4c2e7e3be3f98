// lib/softrender/blit_plain_walk.h - what the plain blit's two paths (per
// pixel and run-length) share: the prepared draw, the source kinds, the
// store of one operation, and the switches that turn the draw state into
// template arguments once per draw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "lib/softrender/blit_pixel_ops.h"

namespace blitplain {

// One draw after the checks and the clipping: start addresses of the first
// drawn pixel, row pitches, the drawn size and the per-draw values.
struct PlainDraw {
  const uint8_t* src = nullptr;
  ptrdiff_t src_pitch = 0;
  uint8_t* dst = nullptr;
  ptrdiff_t dst_pitch = 0;
  const uint8_t* blend = nullptr;  // null without a blend image
  ptrdiff_t blend_pitch = 0;
  int width = 0;
  int height = 0;
  const uint8_t* palette = nullptr;  // the source's palette (paletted sources)
  uint32_t key = 0;                  // transparent colour, cut to the source's pixel size
  const uint8_t* runs = nullptr;     // run-length stream (run path only)
  size_t runs_size = 0;
  blitops::OpRows rows;
  bool separate = false;  // the images share no pixel byte (the vector rows may serve)
};

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint32_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void Store16(uint8_t* p, uint32_t v) {
  const uint16_t h = static_cast<uint16_t>(v);
  std::memcpy(p, &h, 2);
}

// Source kinds. wide: a 32-bit image (4-byte destination pixels), else RGB565
// (2-byte destination pixels). Word gives the source pixel as the operations
// take it: the pixel word, or for a paletted source its palette entry.
struct Plain32 {
  static constexpr int kBpp = 4;
  static constexpr bool kWide = true, kPaletted = false, kAlpha = false;
  static uint32_t Word(const uint8_t* s, const PlainDraw&) { return Load32(s); }
};
struct Alpha32 {
  static constexpr int kBpp = 4;
  static constexpr bool kWide = true, kPaletted = false, kAlpha = true;
  static uint32_t Word(const uint8_t* s, const PlainDraw&) { return Load32(s); }
  static uint32_t Alpha(const uint8_t* s) { return s[3]; }
};
struct Pal32 {
  static constexpr int kBpp = 1;
  static constexpr bool kWide = true, kPaletted = true, kAlpha = false;
  static uint32_t Word(const uint8_t* s, const PlainDraw& d) { return Load32(d.palette + 4u * s[0]); }
};
struct Plain16 {
  static constexpr int kBpp = 2;
  static constexpr bool kWide = false, kPaletted = false, kAlpha = false;
  static uint32_t Word(const uint8_t* s, const PlainDraw&) { return Load16(s); }
};
// The RGB565 word, the alpha byte, one byte that is not read.
struct Alpha16 {
  static constexpr int kBpp = 4;
  static constexpr bool kWide = false, kPaletted = false, kAlpha = true;
  static uint32_t Word(const uint8_t* s, const PlainDraw&) { return Load16(s); }
  static uint32_t Alpha(const uint8_t* s) { return s[2]; }
};
struct Pal16 {
  static constexpr int kBpp = 1;
  static constexpr bool kWide = false, kPaletted = true, kAlpha = false;
  static uint32_t Word(const uint8_t* s, const PlainDraw& d) { return Load16(d.palette + 2u * s[0]); }
};

enum class SrcKind { kPlain32, kAlpha32, kPal32, kPlain16, kAlpha16, kPal16 };

// Destination pixel size of a kind.
template <class K>
constexpr int DstBpp() {
  return K::kWide ? 4 : 2;
}

// Reads the destination pixel, applies the operation, stores the result.
template <class K, int Mode, bool White, bool Blend, bool WithA>
inline void Put(uint8_t* d, uint32_t S, uint32_t a, uint32_t w, const blitops::OpRows& r) {
  if constexpr (K::kWide)
    Store32(d, blitops::Op32<Mode, White, Blend, WithA>(Load32(d), S, a, w, r));
  else
    Store16(d, blitops::Op16<Mode, White, Blend, WithA>(Load16(d), S, a, w, r));
}

template <class F>
void WithKind(SrcKind k, F&& f) {
  switch (k) {
    case SrcKind::kPlain32: f(Plain32{}); break;
    case SrcKind::kAlpha32: f(Alpha32{}); break;
    case SrcKind::kPal32: f(Pal32{}); break;
    case SrcKind::kPlain16: f(Plain16{}); break;
    case SrcKind::kAlpha16: f(Alpha16{}); break;
    case SrcKind::kPal16: f(Pal16{}); break;
  }
}

// Modes that draw: 0, 1, 2, 3, 4, 10, 11. Others do nothing.
template <class F>
void WithMode(uint32_t mode, F&& f) {
  switch (mode) {
    case 0: f(std::integral_constant<int, 0>{}); break;
    case 1: f(std::integral_constant<int, 1>{}); break;
    case 2: f(std::integral_constant<int, 2>{}); break;
    case 3: f(std::integral_constant<int, 3>{}); break;
    case 4: f(std::integral_constant<int, 4>{}); break;
    case 10: f(std::integral_constant<int, 10>{}); break;
    case 11: f(std::integral_constant<int, 11>{}); break;
    default: break;
  }
}

template <class F>
void WithBool(bool b, F&& f) {
  if (b) f(std::true_type{});
  else f(std::false_type{});
}

// The per-pixel path: every pixel of the clipped rectangle, transparency
// tested per pixel by the flag. mode is 0..4, 10 or 11 (the exits of the
// parameter have been taken).
void DrawPlainPerPixel(const PlainDraw& draw, SrcKind kind, uint32_t mode, bool white, bool keyed);
// The run-length path: the whole source, walked along its run stream.
void DrawPlainRuns(const PlainDraw& draw, SrcKind kind, uint32_t mode, bool white);

}  // namespace blitplain
