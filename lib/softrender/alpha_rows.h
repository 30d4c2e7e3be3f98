// lib/softrender/alpha_rows.h - vector rows of the kernels' commonest draw: a
// 32-bit source with an alpha channel, the white bright colour and no blend
// image, in blend modes 0 (copy, with alpha), 1 (alpha at a parameter of 1 to
// 254) and 2 (add). A row takes n source pixels laid side by side (the plain
// blit's source row, or the texels a stretched or rotated walk picked) and
// draws them onto n adjacent destination pixels exactly as the scalar pixel
// operations do. Every pixel is of one of three classes: left alone, drawn by
// the form without the alpha factor, or drawn by the form with it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/softrender/memimg.h"

namespace alpharows {

// Where the classes come from.
enum class Classes {
  kFromAlpha,  // the transparency flag: alpha 0 skips, 255 is solid, others take alpha
  kAllAlpha,   // every pixel takes the form with alpha (no flag, or a translucent run)
  kAllSolid,   // every pixel takes the form without it (an opaque run, or a source without alpha)
  kFromKey,    // a source without alpha under the flag: the transparent colour skips, others are solid
  kMasked,     // two bit masks a row (MaskedRowFn)
};

// dst: the first destination pixel; src: n 4-byte pixels; p: the blend
// parameter (modes 1 and 2); key: the transparent colour (kFromKey).
using RowFn = void (*)(uint8_t* dst, const uint8_t* src, int n, uint32_t p, uint32_t key);

// Up to 64 pixels whose classes are bits: bit i of solid or with_alpha puts
// pixel i in that class; a pixel in neither is skipped (and not read).
using MaskedRowFn = void (*)(uint8_t* dst, const uint8_t* src, int n, uint64_t solid, uint64_t with_alpha,
                             uint32_t p);

// rows rows of n (at most 64) pixels, row j taking solid[j] and with_alpha[j].
using MaskedRowsFn = void (*)(uint8_t* dst, ptrdiff_t dst_pitch, const uint8_t* src, ptrdiff_t src_pitch, int n,
                              int rows, const uint64_t* solid, const uint64_t* with_alpha, uint32_t p);

// The row of a blend mode (0, 1 or 2) and class source at a vector level (1
// SSE4.1, 2 AVX2), or null where there is none. Mode 2 reads the multiply
// table's values as they are after the tables are built: null before that.
RowFn AlphaRowFor(int level, int mode, Classes classes);

// The row of the kernels' current level (see soft_simd_level.h), or null.
RowFn AlphaRow(int mode, Classes classes);

// The same for rows of bit masks.
MaskedRowFn AlphaMaskedRowFor(int level, int mode);
MaskedRowFn AlphaMaskedRow(int mode);
MaskedRowsFn AlphaMaskedRowsFor(int level, int mode);
MaskedRowsFn AlphaMaskedRows(int mode);

// The same for an RGB565 source with alpha (four bytes a pixel) onto RGB565
// pixels (see alpha16_rows_body.h); classes kFromAlpha or kAllAlpha for the
// rows, the masks for the masked ones. Modes 1 and 2 compute the blend
// tables' entries: null before the tables are built.
RowFn Alpha16RowFor(int level, int mode, Classes classes);
RowFn Alpha16Row(int mode, Classes classes);
MaskedRowFn Alpha16MaskedRow(int mode);
MaskedRowsFn Alpha16MaskedRows(int mode);
RowFn Alpha16RowSse41(int mode, Classes classes);
RowFn Alpha16RowAvx2(int mode, Classes classes);
MaskedRowFn Alpha16MaskedRowSse41(int mode);
MaskedRowFn Alpha16MaskedRowAvx2(int mode);
MaskedRowsFn Alpha16MaskedRowsSse41(int mode);
MaskedRowsFn Alpha16MaskedRowsAvx2(int mode);

// A row of n RGB565 pixels in the 16-bit pair forms of the full-strength add
// or subtract (see pair_rows_body.h); key: the transparent colour, pixels of
// which are skipped when the row was picked with the transparency flag.
using PairRowFn = void (*)(uint8_t* dst, const uint8_t* src, int n, uint32_t key);
PairRowFn PairRowFor(int level, bool sub, bool keyed);
PairRowFn PairRow(bool sub, bool keyed);
PairRowFn PairRowSse41(bool sub, bool keyed);
PairRowFn PairRowAvx2(bool sub, bool keyed);

// Whether two images' pixel blocks share no byte. The vector rows read a step
// of source pixels before writing any, so they serve only such pairs.
inline bool SeparateImages(const MEMIMG* a, const MEMIMG* b) {
  const MemImgBase& x = *a->base;
  const MemImgBase& y = *b->base;
  if (x.pixel_block == nullptr || y.pixel_block == nullptr) return false;
  const uint8_t* x1 = x.pixel_block + static_cast<size_t>(x.pitch) * static_cast<size_t>(x.height);
  const uint8_t* y1 = y.pixel_block + static_cast<size_t>(y.pitch) * static_cast<size_t>(y.height);
  return x1 <= y.pixel_block || y1 <= x.pixel_block;
}

// Per level.
RowFn AlphaRowSse41(int mode, Classes classes);
RowFn AlphaRowAvx2(int mode, Classes classes);
MaskedRowFn AlphaMaskedRowSse41(int mode);
MaskedRowFn AlphaMaskedRowAvx2(int mode);
MaskedRowsFn AlphaMaskedRowsSse41(int mode);
MaskedRowsFn AlphaMaskedRowsAvx2(int mode);

}  // namespace alpharows
