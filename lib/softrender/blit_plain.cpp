// lib/softrender/blit_plain.cpp - the plain blit: a whole source MEMIMG drawn
// unscaled at an integer position under the software draw state. The frame
// refuses what no kernel draws, clips, prepares the table rows and chooses a
// loop; the per-pixel loops are here, the run-length ones in blit_runs.cpp.
#include <algorithm>
#include <cstring>

#include "lib/core/log.h"
#include "lib/softrender/alpha_rows.h"
#include "lib/softrender/blend_tables.h"
#include "lib/softrender/blit_plain_walk.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/softrender/soft_kernels.h"

namespace blitplain {
namespace {

// Where the white draw without a blend image of a source without alpha can
// avoid multiplications. The results are those of the general forms except
// where the form itself is what the draw asks for (halving, the six-bit mix,
// the add that drops the operands' lowest bits, the 16-bit pairs).
enum class Fast { kNone, kHalve, kMix, kAddFull, kPairAdd, kPairSub };

template <class K, Fast F>
inline void PutFast(uint8_t* d, uint32_t S, const blitops::OpRows& r) {
  if constexpr (K::kWide) {
    const uint32_t D = Load32(d);
    if constexpr (F == Fast::kHalve) Store32(d, blitops::Halve32(D, S));
    else Store32(d, blitops::PackedAdd32Full(D, S));
  } else {
    const uint32_t D = Load16(d);
    if constexpr (F == Fast::kHalve) Store16(d, blitops::Halve16(D, S));
    else if constexpr (F == Fast::kMix) Store16(d, blitops::Mix16(D, S, r));
    else if constexpr (F == Fast::kPairSub) Store16(d, blitops::PackedSub16(D, S));
    else Store16(d, blitops::PackedAdd16Full(D, S));
  }
}

// How a pixel of a source with an alpha channel is worked on the per-pixel path.
enum class AlphaClass { kSkip, kOpaque, kWithA };

template <class K, int Mode, bool White, bool Blend, bool Keyed>
inline AlphaClass ClassOf(uint32_t a) {
  if constexpr (Keyed) {
    // Under the transparency flag alpha 0 is skipped, except that 32-bit
    // modes 4, 10, 11 and 16-bit mode 4 run their formulas with it.
    constexpr bool kSkipsZero = K::kWide ? (Mode <= 3) : (Mode != 4);
    if (kSkipsZero && a == 0) return AlphaClass::kSkip;
    return a == 255 ? AlphaClass::kOpaque : AlphaClass::kWithA;
  } else {
    // Without the flag every pixel is blended by its alpha, except the white
    // copy without a blend image, which stores the colour word.
    if constexpr (Mode == 0 && White && !Blend) return AlphaClass::kOpaque;
    else return AlphaClass::kWithA;
  }
}

// Modes 2 and 3 at full strength on 16-bit pixels: two adjacent pixels per
// 32-bit word from the row's first drawn pixel on, then a last single pixel
// when the width is odd. Under the transparency flag a pair whose two halves
// are both transparent is skipped, and a pair with one transparent half works
// the other pixel alone.
template <class K, bool Keyed, Fast F>
void PairLoop(const PlainDraw& dr) {
  const blitops::OpRows& rows = dr.rows;
  const uint32_t key = dr.key;
  const uint8_t* srow = dr.src;
  uint8_t* drow = dr.dst;
  for (int j = 0; j < dr.height; ++j) {
    int i = 0;
    for (; i + 2 <= dr.width; i += 2) {
      const uint8_t* s = srow + static_cast<ptrdiff_t>(i) * K::kBpp;
      uint8_t* d = drow + static_cast<ptrdiff_t>(i) * 2;
      bool skip0 = false, skip1 = false;
      if constexpr (Keyed) {
        if constexpr (K::kPaletted) {
          skip0 = s[0] == key;
          skip1 = s[1] == key;
        } else {
          skip0 = Load16(s) == key;
          skip1 = Load16(s + 2) == key;
        }
      }
      if (skip0 && skip1) continue;
      const uint32_t S0 = K::Word(s, dr), S1 = K::Word(s + K::kBpp, dr);
      if (skip0) {
        PutFast<K, F>(d + 2, S1, rows);
      } else if (skip1) {
        PutFast<K, F>(d, S0, rows);
      } else {
        const uint32_t D = Load32(d), S = S0 | S1 << 16;
        Store32(d, F == Fast::kPairAdd ? blitops::PairAdd16Full(D, S) : blitops::PairSub16Full(D, S));
      }
    }
    if (i < dr.width) {
      const uint8_t* s = srow + static_cast<ptrdiff_t>(i) * K::kBpp;
      const bool skip = Keyed && (K::kPaletted ? s[0] == key : Load16(s) == key);
      if (!skip) PutFast<K, F>(drow + static_cast<ptrdiff_t>(i) * 2, K::Word(s, dr), rows);
    }
    srow += dr.src_pitch;
    drow += dr.dst_pitch;
  }
}

template <class K, int Mode, bool White, bool Blend, bool Keyed, Fast F>
void PixelLoop(const PlainDraw& dr) {
  if constexpr (F == Fast::kPairAdd || F == Fast::kPairSub) {
    PairLoop<K, Keyed, F>(dr);
    return;
  }
  constexpr int kDst = DstBpp<K>();
  const blitops::OpRows& rows = dr.rows;
  const uint32_t key = dr.key;
  const uint8_t* srow = dr.src;
  uint8_t* drow = dr.dst;
  const uint8_t* brow = dr.blend;
  for (int j = 0; j < dr.height; ++j) {
    if constexpr (Mode == 0 && White && !Blend && !Keyed && !K::kPaletted && !K::kAlpha) {
      // Whole rows of source words.
      std::memcpy(drow, srow, static_cast<size_t>(dr.width) * kDst);
    } else {
      for (int i = 0; i < dr.width; ++i) {
        const uint8_t* s = srow + static_cast<ptrdiff_t>(i) * K::kBpp;
        uint8_t* d = drow + static_cast<ptrdiff_t>(i) * kDst;
        uint32_t w = 0;
        if constexpr (Blend) w = rows.weight[brow[i]];
        if constexpr (K::kPaletted) {
          if (Keyed && s[0] == key) continue;
        }
        const uint32_t S = K::Word(s, dr);
        if constexpr (K::kAlpha) {
          const uint32_t a = K::Alpha(s);
          switch (ClassOf<K, Mode, White, Blend, Keyed>(a)) {
            case AlphaClass::kSkip: break;
            case AlphaClass::kOpaque: Put<K, Mode, White, Blend, false>(d, S, a, w, rows); break;
            case AlphaClass::kWithA: Put<K, Mode, White, Blend, true>(d, S, a, w, rows); break;
          }
        } else {
          if constexpr (!K::kPaletted) {
            if (Keyed && S == key) continue;
          }
          if constexpr (F == Fast::kNone) Put<K, Mode, White, Blend, false>(d, S, 0, w, rows);
          else PutFast<K, F>(d, S, rows);
        }
      }
    }
    srow += dr.src_pitch;
    drow += dr.dst_pitch;
    if constexpr (Blend) brow += dr.blend_pitch;
  }
}

}  // namespace

void DrawPlainPerPixel(const PlainDraw& draw, SrcKind kind, uint32_t mode, bool white, bool keyed) {
  const uint32_t p = draw.rows.p;
  if (kind == SrcKind::kAlpha32 && white && draw.blend == nullptr && mode <= 2 && draw.separate) {
    // Without the flag the white copy stores the source words as they are.
    if (mode == 0 && !keyed) {
      for (int j = 0; j < draw.height; ++j) {
        std::memcpy(draw.dst + j * draw.dst_pitch, draw.src + j * draw.src_pitch,
                    static_cast<size_t>(draw.width) * 4);
      }
      return;
    }
    const alpharows::RowFn row = alpharows::AlphaRow(
        static_cast<int>(mode), keyed ? alpharows::Classes::kFromAlpha : alpharows::Classes::kAllAlpha);
    if (row != nullptr) {
      for (int j = 0; j < draw.height; ++j) {
        row(draw.dst + j * draw.dst_pitch, draw.src + j * draw.src_pitch, draw.width, p, 0);
      }
      return;
    }
  }
  // A 32-bit source without alpha: the forms without the alpha factor, the
  // transparent colour skipped under the flag; not where the draw takes the
  // halving (mode 1 at 128) or the add without the operands' lowest bits
  // (mode 2 at 255), nor the white copy without the flag (whole rows copied).
  if (kind == SrcKind::kPlain32 && white && draw.blend == nullptr && mode <= 2 && draw.separate &&
      (keyed || mode != 0) && !(mode == 1 && p == 128) && !(mode == 2 && p == 255)) {
    const alpharows::RowFn row = alpharows::AlphaRow(
        static_cast<int>(mode), keyed ? alpharows::Classes::kFromKey : alpharows::Classes::kAllSolid);
    if (row != nullptr) {
      for (int j = 0; j < draw.height; ++j) {
        row(draw.dst + j * draw.dst_pitch, draw.src + j * draw.src_pitch, draw.width, p, draw.key);
      }
      return;
    }
  }
  // A 16-bit source with alpha; its white copy without the flag stores words.
  if (kind == SrcKind::kAlpha16 && white && draw.blend == nullptr && mode <= 2 && (keyed || mode != 0) &&
      draw.separate) {
    const alpharows::RowFn row = alpharows::Alpha16Row(
        static_cast<int>(mode), keyed ? alpharows::Classes::kFromAlpha : alpharows::Classes::kAllAlpha);
    if (row != nullptr) {
      for (int j = 0; j < draw.height; ++j) {
        row(draw.dst + j * draw.dst_pitch, draw.src + j * draw.src_pitch, draw.width, p, 0);
      }
      return;
    }
  }
  if (kind == SrcKind::kPlain16 && white && draw.blend == nullptr && (mode == 2 || mode == 3) && p == 255 &&
      draw.separate) {
    if (const alpharows::PairRowFn row = alpharows::PairRow(mode == 3, keyed)) {
      for (int j = 0; j < draw.height; ++j) {
        row(draw.dst + j * draw.dst_pitch, draw.src + j * draw.src_pitch, draw.width, draw.key);
      }
      return;
    }
  }
  WithKind(kind, [&](auto k) {
    using K = decltype(k);
    WithMode(mode, [&](auto m) {
      constexpr int M = decltype(m)::value;
      WithBool(white, [&](auto wt) {
        constexpr bool W = decltype(wt)::value;
        WithBool(draw.blend != nullptr, [&](auto bl) {
          constexpr bool B = decltype(bl)::value;
          WithBool(keyed, [&](auto ky) {
            constexpr bool KY = decltype(ky)::value;
            if constexpr (W && !B && !K::kAlpha && M == 1) {
              if (p == 128) PixelLoop<K, M, W, B, KY, Fast::kHalve>(draw);
              else if (!K::kWide) PixelLoop<K, M, W, B, KY, Fast::kMix>(draw);
              else PixelLoop<K, M, W, B, KY, Fast::kNone>(draw);
            } else if constexpr (W && !B && !K::kAlpha && M == 2 && !K::kWide) {
              if (p == 255) PixelLoop<K, M, W, B, KY, Fast::kPairAdd>(draw);
              else PixelLoop<K, M, W, B, KY, Fast::kNone>(draw);
            } else if constexpr (W && !B && !K::kAlpha && M == 3 && !K::kWide) {
              if (p == 255) PixelLoop<K, M, W, B, KY, Fast::kPairSub>(draw);
              else PixelLoop<K, M, W, B, KY, Fast::kNone>(draw);
            } else if constexpr (W && !B && !K::kAlpha && M == 2) {
              if (p == 255) PixelLoop<K, M, W, B, KY, Fast::kAddFull>(draw);
              else PixelLoop<K, M, W, B, KY, Fast::kNone>(draw);
            } else {
              PixelLoop<K, M, W, B, KY, Fast::kNone>(draw);
            }
          });
        });
      });
    });
  });
}

}  // namespace blitplain

using blitplain::PlainDraw;
using blitplain::SrcKind;

void DrawMemImgBasic(MEMIMG* dst, const MEMIMG* src, int x, int y, int trans, const MEMIMG* blend) {
  if (dst == nullptr || src == nullptr || !IsValidMemImg(dst) || !IsValidMemImg(src)) return;
  if (dst->pixels == nullptr || src->pixels == nullptr) return;
  const MemImgBase& sb = *src->base;
  const MemImgBase& db = *dst->base;
  // Refusals: differing formats, a paletted destination, a destination with alpha.
  if (sb.pixel_format != db.pixel_format) return;
  if (db.paletted == 1) return;
  if (db.alpha == 1) return;
  if (sb.pixel_format != kMemImgRgb565 && sb.pixel_format != kMemImg32) return;
  const bool wide = sb.pixel_format == kMemImg32;
  const bool paletted = sb.paletted == 1;
  if (paletted && sb.palette == nullptr) return;

  // Blend-mode exits, decided once per draw.
  const SoftDrawState& st = SoftDraw();
  uint32_t mode = st.blend_mode;
  const uint32_t p = static_cast<uint32_t>(std::clamp<int32_t>(st.blend_param, 0, 255));
  switch (mode) {
    case 0: case 4: case 10: case 11: break;
    case 1:
      if (p == 0) return;
      if (p == 255) mode = 0;
      break;
    case 2:
      if (p == 0) return;
      break;
    case 3:
      if (p == 0 && !paletted) return;
      break;
    default: return;  // 5 to 9 and anything above 11 draw nothing
  }

  // Clip {x, y, x + width, y + height} to the clip rectangle, itself kept
  // inside the destination so that a stale clip rectangle cannot write
  // outside it. 64-bit so that no position overflows.
  const int64_t cl = std::max<int64_t>(st.clip.left, 0);
  const int64_t ct = std::max<int64_t>(st.clip.top, 0);
  const int64_t cr = std::min<int64_t>(st.clip.right, dst->width);
  const int64_t cb = std::min<int64_t>(st.clip.bottom, dst->height);
  if (cr <= cl || cb <= ct) return;
  const int64_t x0 = x, y0 = y;
  const int64_t x1 = std::max<int64_t>(x0 + src->width, x0);
  const int64_t y1 = std::max<int64_t>(y0 + src->height, y0);
  const int64_t L = std::clamp(x0, cl, cr), R = std::clamp(x1, cl, cr);
  const int64_t T = std::clamp(y0, ct, cb), B = std::clamp(y1, ct, cb);
  const int W = static_cast<int>(R - L), H = static_cast<int>(B - T);
  if (W <= 0 || H <= 0) return;
  const int64_t sx = L - x0, sy = T - y0;

  // The blend image lies over the source, one byte per source pixel; a
  // smaller one would be read past its end.
  if (blend != nullptr) {
    if (!IsValidMemImg(blend) || blend->pixels == nullptr) {
      WriteLogLine("DrawMemImgBasic: the blend image is not a valid image\n");
      return;
    }
    const MemImgBase& mb = *blend->base;
    const int64_t row_bytes =
        static_cast<int64_t>(blend->width) * MemImgBytesPerPixel(mb.pixel_format, mb.paletted, mb.alpha);
    if (sx + W > row_bytes || sy + H > blend->height) {
      WriteLogLine("DrawMemImgBasic: the blend image is smaller than the drawn part of the source\n");
      return;
    }
  }

  const int sbpp = MemImgBytesPerPixel(sb.pixel_format, sb.paletted, sb.alpha);
  const int dbpp = wide ? 4 : 2;
  PlainDraw dr;
  dr.src_pitch = sb.pitch;
  dr.dst_pitch = db.pitch;
  dr.src = src->pixels + sy * dr.src_pitch + sx * sbpp;
  dr.dst = dst->pixels + T * dr.dst_pitch + L * dbpp;
  if (blend != nullptr) {
    dr.blend_pitch = blend->base->pitch;
    dr.blend = blend->pixels + sy * dr.blend_pitch + sx;
  }
  dr.width = W;
  dr.height = H;
  dr.separate = alpharows::SeparateImages(dst, src);
  dr.palette = paletted ? sb.palette : nullptr;
  dr.key = paletted ? (sb.colour_key & 0xFFu) : wide ? sb.colour_key : (sb.colour_key & 0xFFFFu);

  BlendTables& tb = SoftBlendTables();
  const uint32_t bright = st.bright;
  dr.rows.p = p;
  dr.rows.mul_p = tb.mul[p];
  dr.rows.mul_b = tb.mul[bright & 0xFFu];
  dr.rows.mul_g = tb.mul[(bright >> 8) & 0xFFu];
  dr.rows.mul_r = tb.mul[(bright >> 16) & 0xFFu];
  dr.rows.diff_p = &tb.diff[p][255];
  dr.rows.mix6_p = &tb.mix6[p >> 2][0][0];
  dr.rows.weight = tb.weight;

  SrcKind kind;
  if (paletted) kind = wide ? SrcKind::kPal32 : SrcKind::kPal16;
  else if (sb.alpha == 1) kind = wide ? SrcKind::kAlpha32 : SrcKind::kAlpha16;
  else kind = wide ? SrcKind::kPlain32 : SrcKind::kPlain16;
  const bool white = blitops::IsWhiteBright(bright);

  // The run stream describes the whole base image; a view of part of it
  // (or a clipped draw) takes the per-pixel path.
  const bool whole_base = src->pixels == sb.pixel_block && src->width == sb.width && src->height == sb.height;
  if (trans == 1 && sb.run_table_valid == 1 && sb.run_table != nullptr && whole_base && W == src->width &&
      H == src->height) {
    dr.runs = sb.run_table;
    dr.runs_size = static_cast<size_t>(sb.width + 5) * static_cast<size_t>(sb.height);
    blitplain::DrawPlainRuns(dr, kind, mode, white);
    return;
  }
  blitplain::DrawPlainPerPixel(dr, kind, mode, white, trans != 0);
}
