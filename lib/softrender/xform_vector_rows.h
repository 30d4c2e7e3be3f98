// lib/softrender/xform_vector_rows.h - the vector form of the transformed
// kernels' commonest draw: a 32-bit source with alpha, the white bright
// colour, no blend image, blend modes 0, 1 and 2. A row of the walk gathers
// the texel of each pixel (0 where the position lies outside the source,
// which the vector row leaves alone like a transparent texel) and draws the
// row through the vector rows of alpha_rows.h.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lib/softrender/alpha_rows.h"

namespace softxform {

// The vector row for a transformed draw, or null where the draw has none.
// Without the transparency flag a texel of alpha 0 takes the form with alpha,
// which leaves the pixel as it is in modes 0 and 1 but not in mode 2.
inline alpharows::RowFn TexelRow(const MEMIMG* dst, const MEMIMG* src, bool blend, bool white, int mode,
                                 bool trans) {
  const MemImgBase& b = *src->base;
  if (b.paletted == 1 || b.alpha != 1 || blend || !white || mode < 0 || mode > 2) return nullptr;
  if (!alpharows::SeparateImages(dst, src)) return nullptr;
  if (!trans && mode == 2) return nullptr;
  const alpharows::Classes classes = trans ? alpharows::Classes::kFromAlpha : alpharows::Classes::kAllAlpha;
  if (b.pixel_format == kMemImgRgb565) return alpharows::Alpha16Row(mode, classes);
  if (b.pixel_format != kMemImg32) return nullptr;
  return alpharows::AlphaRow(mode, classes);
}

// The pixels j of 0..n-1 whose position s + j d (14.18, wrapping in 32 bits)
// passes the unsigned test below limit, as [*first, *last]; false when that
// cannot be told without the wrap (the row is then tested pixel by pixel).
inline bool InsideSpan(uint32_t s, uint32_t d, uint32_t limit, int n, int64_t* first, int64_t* last) {
  const int64_t s0 = static_cast<int32_t>(s), ds = static_cast<int32_t>(d);
  const int64_t end = s0 + ds * (n - 1);
  if (end < INT32_MIN || end > INT32_MAX) return false;
  // Without a wrap the test is 0 <= s0 + j ds <= hi, which holds on a span of j.
  const int64_t hi = static_cast<int64_t>(limit) - 1;
  auto in = [&](int64_t j) {
    const int64_t x = s0 + j * ds;
    return x >= 0 && x <= hi;
  };
  if (in(0) && in(n - 1)) {
    *first = 0;
    *last = n - 1;
    return true;
  }
  if (ds == 0) {
    *first = 0;
    *last = -1;  // neither end inside: none
    return true;
  }
  // The span's ends estimated in double precision (within a step or two),
  // then moved to the exact integer bounds. The span's low edge is where the position crosses 0 going
  // up (ds > 0) or hi going down (ds < 0), its high edge the other crossing.
  const double inv = 1.0 / static_cast<double>(ds);
  const int64_t a_edge = ds > 0 ? 0 : hi, b_edge = ds > 0 ? hi : 0;
  int64_t f = static_cast<int64_t>(static_cast<double>(a_edge - s0) * inv);
  int64_t l = static_cast<int64_t>(static_cast<double>(b_edge - s0) * inv);
  f = std::clamp<int64_t>(f, -1, n);
  l = std::clamp<int64_t>(l, -1, n);
  auto below = [&](int64_t j) { return ds > 0 ? s0 + j * ds < 0 : s0 + j * ds > hi; };  // before the span
  auto above = [&](int64_t j) { return ds > 0 ? s0 + j * ds > hi : s0 + j * ds < 0; };  // after it
  while (f > -1 && !below(f - 1)) --f;
  while (f < n && below(f)) ++f;
  while (l < n && !above(l + 1)) ++l;
  while (l > -1 && above(l)) --l;
  *first = f;
  *last = l;
  return true;
}

// Draws n pixels (dst_bytes each) from dst on, the texel (four bytes) of pixel j at (u + j du, v + j dv) in
// 14.18, wrapping in 32 bits; row_at(r) is the first byte of source row r.
template <class RowAt>
inline void DrawTexelRow(alpharows::RowFn row, uint32_t p, uint8_t* dst, int dst_bytes, int n, uint32_t u,
                         uint32_t v, uint32_t du, uint32_t dv, uint32_t src_w, uint32_t src_h, RowAt row_at) {
  thread_local std::vector<uint32_t> texels;
  if (texels.size() < static_cast<size_t>(n)) texels.resize(static_cast<size_t>(n));
  uint32_t* t = texels.data();
  int64_t u_first, u_last, v_first, v_last;
  if (InsideSpan(u, du, src_w, n, &u_first, &u_last) && InsideSpan(v, dv, src_h, n, &v_first, &v_last)) {
    // Every pixel of the span passes both tests, none outside it does.
    const int64_t first = std::max<int64_t>({u_first, v_first, 0});
    const int64_t last = std::min<int64_t>({u_last, v_last, n - 1});
    if (last < first) return;
    const int a = static_cast<int>(first), count = static_cast<int>(last - first + 1);
    u += static_cast<uint32_t>(a) * du;
    v += static_cast<uint32_t>(a) * dv;
    for (int j = 0; j < count; ++j, u += du, v += dv) {
      std::memcpy(&t[j], row_at(v >> 18) + 4 * static_cast<size_t>(u >> 18), 4);
    }
    row(dst + dst_bytes * static_cast<ptrdiff_t>(a), reinterpret_cast<const uint8_t*>(t), count, p, 0);
    return;
  }
  int first = n, last = -1;
  for (int j = 0; j < n; ++j, u += du, v += dv) {
    // Unsigned tests: a negative position fails as well.
    if (u < src_w && v < src_h) {
      std::memcpy(&t[j], row_at(v >> 18) + 4 * static_cast<size_t>(u >> 18), 4);
      if (first == n) first = j;
      last = j;
    } else {
      t[j] = 0;
    }
  }
  if (last < first) return;
  row(dst + dst_bytes * static_cast<ptrdiff_t>(first), reinterpret_cast<const uint8_t*>(t + first), last - first + 1,
      p, 0);
}

}  // namespace softxform
