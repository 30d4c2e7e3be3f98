// lib/softrender/blit_runs.cpp - the plain blit's run-length path: the whole
// source walked along the run stream of its base. Transparent runs cost one
// control byte; opaque and translucent runs are drawn without per-pixel tests.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "lib/softrender/alpha_rows.h"
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

// The run streams of sources no wider than 64 pixels decoded into two bit
// masks a row (opaque, translucent). A decoding depends only on the stream
// bytes it read, so it is kept with a copy of them and used again while they
// are unchanged.
struct NarrowMasks {
  bool merged = false;  // translucent runs counted as opaque (a source without alpha)
  const uint8_t* table = nullptr;
  size_t table_size = 0;
  int width = 0, height = 0;
  std::vector<uint8_t> bytes;  // the stream bytes the decoding read
  std::vector<uint64_t> solid, with_alpha;
  int rows = 0;  // rows with masks; fewer than height when the stream ran out (its last row partial)
};

void DecodeNarrow(const PlainDraw& dr, bool merged, NarrowMasks* m) {
  m->merged = merged;
  m->table = dr.runs;
  m->table_size = dr.runs_size;
  m->width = dr.width;
  m->height = dr.height;
  m->solid.assign(static_cast<size_t>(dr.height), 0);
  m->with_alpha.assign(static_cast<size_t>(dr.height), 0);
  m->rows = dr.height;
  const uint8_t* run = dr.runs;
  const uint8_t* const end = dr.runs + dr.runs_size;
  for (int j = 0; j < dr.height; ++j) {
    uint64_t solid = 0, with_alpha = 0;
    int x = 0;
    bool stop = false;
    for (;;) {
      if (run == end) {  // a stream without its end bytes stops the draw
        stop = true;
        break;
      }
      const unsigned control = *run++;
      const unsigned kind = control >> 6;
      if (kind == kKindEnd) break;
      // Runs of a row add up to its width; one that would pass the row's end
      // is cut there rather than written into the next row. x + n <= 64.
      const int n = std::min(static_cast<int>(control & 63u) + 1, dr.width - x);
      const uint64_t bits = (n == 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1u) << x;
      solid |= kind == kKindOpaque || (merged && kind == kKindTranslucent) ? bits : 0;
      with_alpha |= !merged && kind == kKindTranslucent ? bits : 0;
      x += n;
    }
    m->solid[static_cast<size_t>(j)] = solid;
    m->with_alpha[static_cast<size_t>(j)] = with_alpha;
    if (stop) {
      m->rows = j + 1;
      break;
    }
  }
  m->bytes.assign(dr.runs, run);
}

const NarrowMasks& NarrowMasksOf(const PlainDraw& dr, bool merged) {
  thread_local std::array<NarrowMasks, 32> cache;
  NarrowMasks& m = cache[(reinterpret_cast<uintptr_t>(dr.runs) >> 4) % cache.size()];
  const bool same = m.merged == merged && m.table == dr.runs && m.table_size == dr.runs_size && m.width == dr.width &&
                    m.height == dr.height && std::memcmp(m.bytes.data(), dr.runs, m.bytes.size()) == 0;
  if (!same) DecodeNarrow(dr, merged, &m);
  return m;
}

// The vector form: a row's runs become two bit masks per 64 pixels (opaque,
// translucent), each window of 64 drawn by one masked vector row.
void VectorRunLoop(const PlainDraw& dr, alpharows::MaskedRowFn row, int dst_bytes, bool merged) {
  const uint8_t* run = dr.runs;
  const uint8_t* const end = dr.runs + dr.runs_size;
  for (int j = 0; j < dr.height; ++j) {
    const uint8_t* srow = dr.src + j * dr.src_pitch;
    uint8_t* drow = dr.dst + j * dr.dst_pitch;
    uint64_t solid = 0, with_alpha = 0;
    int window = 0;  // first pixel of the masks' window
    auto flush = [&] {
      if ((solid | with_alpha) != 0) {
        row(drow + static_cast<ptrdiff_t>(window) * dst_bytes, srow + static_cast<ptrdiff_t>(window) * 4,
            std::min(64, dr.width - window), solid, with_alpha, dr.rows.p);
      }
      solid = with_alpha = 0;
    };
    int x = 0;
    for (;;) {
      if (run == end) {  // a stream without its end bytes stops the draw
        flush();
        return;
      }
      const unsigned control = *run++;
      const unsigned kind = control >> 6;
      if (kind == kKindEnd) break;
      // Runs of a row add up to its width; one that would pass the row's end
      // is cut there rather than written into the next row.
      const int n = std::min(static_cast<int>(control & 63u) + 1, dr.width - x);
      if (kind != kKindTransparent) {
        for (int from = x, left = n; left > 0;) {
          if ((from & ~63) != window) {
            flush();
            window = from & ~63;
          }
          const int off = from - window, take = std::min(left, 64 - off);
          const uint64_t bits = (take == 64 ? ~uint64_t{0} : (uint64_t{1} << take) - 1u) << off;
          (kind == kKindOpaque || merged ? solid : with_alpha) |= bits;
          from += take;
          left -= take;
        }
      }
      x += n;
    }
    flush();
  }
}

}  // namespace

void DrawPlainRuns(const PlainDraw& draw, SrcKind kind, uint32_t mode, bool white) {
  // The vector forms: 32-bit sources in modes 0 to 2 (without alpha every
  // run drawn takes the form without the alpha factor), 16-bit ones with
  // alpha too.
  const bool wide = (kind == SrcKind::kAlpha32 || kind == SrcKind::kPlain32) && mode <= 2;
  if ((wide || (kind == SrcKind::kAlpha16 && mode <= 2)) && white && draw.blend == nullptr && draw.separate) {
    const int m = static_cast<int>(mode);
    const bool merged = kind == SrcKind::kPlain32;
    if (draw.width <= 64) {
      const alpharows::MaskedRowsFn rows = wide ? alpharows::AlphaMaskedRows(m) : alpharows::Alpha16MaskedRows(m);
      if (rows != nullptr) {
        const NarrowMasks& masks = NarrowMasksOf(draw, merged);
        rows(draw.dst, draw.dst_pitch, draw.src, draw.src_pitch, draw.width, masks.rows, masks.solid.data(),
             masks.with_alpha.data(), draw.rows.p);
        return;
      }
    } else {
      const alpharows::MaskedRowFn row = wide ? alpharows::AlphaMaskedRow(m) : alpharows::Alpha16MaskedRow(m);
      if (row != nullptr) {
        VectorRunLoop(draw, row, wide ? 4 : 2, merged);
        return;
      }
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
          RunLoop<K, M, W, B>(draw);
        });
      });
    });
  });
}

}  // namespace blitplain
