// lib/softrender/blit_runs.cpp - the plain blit's run-length path: the whole
// source walked along the run stream of its base. Transparent runs cost one
// control byte; opaque and translucent runs are drawn without per-pixel tests.
#include <algorithm>
#include <cstring>

#include "lib/softrender/blit_plain_walk.h"

namespace blitplain {
namespace {

// Control byte: kind in bits 7-6, run length - 1 in bits 5-0.
constexpr unsigned kKindTransparent = 0;
constexpr unsigned kKindOpaque = 1;
constexpr unsigned kKindTranslucent = 2;
constexpr unsigned kKindEnd = 3;

template <class K, int Mode, bool White, bool Blend>
void RunLoop(const PlainDraw& dr) {
  constexpr int kDst = DstBpp<K>();
  const blitops::OpRows& rows = dr.rows;
  const uint8_t* run = dr.runs;
  const uint8_t* const end = dr.runs + dr.runs_size;
  for (int j = 0; j < dr.height; ++j) {
    const uint8_t* srow = dr.src + j * dr.src_pitch;
    uint8_t* drow = dr.dst + j * dr.dst_pitch;
    const uint8_t* brow = Blend ? dr.blend + j * dr.blend_pitch : nullptr;
    int x = 0;
    for (;;) {
      if (run == end) return;  // a stream without its end bytes stops the draw
      const unsigned control = *run++;
      const unsigned kind = control >> 6;
      if (kind == kKindEnd) break;
      // Runs of a row add up to its width; one that would pass the row's end
      // is cut there rather than written into the next row.
      const int n = std::min(static_cast<int>(control & 63u) + 1, dr.width - x);
      if constexpr (Mode == 0 && White && !Blend && K::kBpp == kDst && !K::kPaletted) {
        // The white copy stores an opaque run's source words as they are.
        if (kind == kKindOpaque) {
          std::memcpy(drow + static_cast<ptrdiff_t>(x) * kDst, srow + static_cast<ptrdiff_t>(x) * K::kBpp,
                      static_cast<size_t>(n) * kDst);
          x += n;
          continue;
        }
      }
      if (kind != kKindTransparent) {
        for (int i = x; i < x + n; ++i) {
          const uint8_t* s = srow + static_cast<ptrdiff_t>(i) * K::kBpp;
          uint8_t* d = drow + static_cast<ptrdiff_t>(i) * kDst;
          uint32_t w = 0;
          if constexpr (Blend) w = rows.weight[brow[i]];
          const uint32_t S = K::Word(s, dr);
          if constexpr (K::kAlpha) {
            if (kind == kKindTranslucent) Put<K, Mode, White, Blend, true>(d, S, K::Alpha(s), w, rows);
            else Put<K, Mode, White, Blend, false>(d, S, 255, w, rows);
          } else {
            Put<K, Mode, White, Blend, false>(d, S, 0, w, rows);
          }
        }
      }
      x += n;
    }
  }
}

}  // namespace

void DrawPlainRuns(const PlainDraw& draw, SrcKind kind, uint32_t mode, bool white) {
  WithKind(kind, [&](auto k) {
    using K = decltype(k);
    WithMode(mode, [&](auto m) {
      constexpr int M = decltype(m)::value;
      WithBool(white, [&](auto wt) {
        constexpr bool W = decltype(wt)::value;
        WithBool(draw.blend != nullptr, [&](auto bl) {
          constexpr bool B = decltype(bl)::value;
          RunLoop<K, M, W, B>(draw);
        });
      });
    });
  });
}

}  // namespace blitplain
