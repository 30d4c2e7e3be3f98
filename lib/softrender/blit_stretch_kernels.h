// lib/softrender/blit_stretch_kernels.h - what the stretched blit's kernels
// share: the per-draw context and the expansion of the draw state's choices
// into one specialised loop per combination.
#pragma once

#include <cstdint>

#include "lib/softrender/blit_pixel_ops.h"
#include "lib/softrender/blit_stretch.h"

// Read once per draw.
struct StretchContext {
  const uint8_t* palette;  // the source's palette (4-byte or RGB565 entries), or null
  uint32_t key;            // transparent colour, or palette index
  blitops::OpRows rows;    // the table rows of the parameter and the bright colour
};

// Blend mode 3 at full strength with the white bright colour, no blend image
// and no source alpha: the source word itself is subtracted (the same result
// as through the Mul row), on the zero-stop walk.
constexpr int kStretchFullSub = 13;

inline StretchContext MakeStretchContext(const StretchSource& src) {
  const BlendTables& t = SoftBlendTables();
  StretchContext c;
  c.palette = src.base->paletted == 1 ? src.base->palette : nullptr;
  c.key = src.base->colour_key;
  c.rows.mul_p = t.mul[src.p];
  c.rows.mul_b = t.mul[src.bright & 0xFF];
  c.rows.mul_g = t.mul[(src.bright >> 8) & 0xFF];
  c.rows.mul_r = t.mul[(src.bright >> 16) & 0xFF];
  c.rows.diff_p = DiffRowCentre(src.p);
  c.rows.mix6_p = &t.mix6[src.p >> 2][0][0];
  c.rows.weight = t.weight;
  c.rows.p = static_cast<uint32_t>(src.p);
  return c;
}

// Turns the four run-time choices (blend image, white, source alpha,
// transparency flag) into template arguments of Run<Mode, Paletted, ...>.
template <template <int, bool, bool, bool, bool, bool> class Run, int Mode, bool Pal, bool... Flags>
inline void ExpandStretch(const StretchWalk& w, const StretchContext& c, const bool (&flags)[4]) {
  if constexpr (sizeof...(Flags) == 4) {
    Run<Mode, Pal, Flags...>::Go(w, c);
  } else {
    if (flags[sizeof...(Flags)]) {
      ExpandStretch<Run, Mode, Pal, Flags..., true>(w, c, flags);
    } else {
      ExpandStretch<Run, Mode, Pal, Flags..., false>(w, c, flags);
    }
  }
}

// The mode that a draw takes after the parameter tests of the kernel heads,
// or -1 when nothing is drawn. Mode 1 at full strength is mode 0; mode 3 on a
// paletted source has no exit at parameter 0.
inline int StretchKernelMode(const StretchSource& s, bool paletted, bool alpha) {
  switch (s.mode) {
    case 0: return 0;
    case 1: return s.p == 0 ? -1 : s.p == 255 ? 0 : 1;
    case 2: return s.p == 0 ? -1 : 2;
    case 3:
      if (s.p == 0 && !paletted) return -1;
      return (s.p == 255 && s.white && !s.blend && !alpha) ? kStretchFullSub : 3;
    case 4: return 4;
    case 10: return 10;
    case 11: return 11;
    default: return -1;
  }
}

// Runs the kernel of the mode, with Run<Mode, Pal, Blend, White, Alpha, Key>.
template <template <int, bool, bool, bool, bool, bool> class Run, bool Pal>
inline void DispatchStretch(const StretchWalk& w, const StretchSource& s) {
  const bool alpha = !Pal && s.base->alpha == 1;
  const int mode = StretchKernelMode(s, Pal, alpha);
  if (mode < 0) return;
  const StretchContext c = MakeStretchContext(s);
  const bool flags[4] = {s.blend, s.white, alpha, s.key};
  switch (mode) {
    case 0: ExpandStretch<Run, 0, Pal>(w, c, flags); break;
    case 1: ExpandStretch<Run, 1, Pal>(w, c, flags); break;
    case 2: ExpandStretch<Run, 2, Pal>(w, c, flags); break;
    case 3: ExpandStretch<Run, 3, Pal>(w, c, flags); break;
    case 4: ExpandStretch<Run, 4, Pal>(w, c, flags); break;
    case 10: ExpandStretch<Run, 10, Pal>(w, c, flags); break;
    case 11: ExpandStretch<Run, 11, Pal>(w, c, flags); break;
    case kStretchFullSub: ExpandStretch<Run, kStretchFullSub, Pal>(w, c, flags); break;
    default: break;
  }
}

// The zero-stop walk belongs to the copies and the full-strength subtraction.
template <int Mode, bool Blend, bool White, bool Alpha>
constexpr bool kStretchZeroStop = (Mode == 0 || Mode == kStretchFullSub) && White && !Blend && !Alpha;

// Combinations that cannot occur (a paletted source has no alpha; the
// full-strength subtraction exists only under its conditions) get no loop.
template <int Mode, bool Pal, bool Blend, bool White, bool Alpha>
constexpr bool kStretchExists =
    !(Pal && Alpha) && (Mode != kStretchFullSub || (White && !Blend && !Alpha));

// The pixel operation's mode for a kernel mode.
template <int Mode>
constexpr int kStretchOpMode = Mode == kStretchFullSub ? 3 : Mode;
