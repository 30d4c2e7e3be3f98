// lib/softrender/soft_draw_state.h - the draw state the software kernels read
// at each call. The draw-state setters of the graphics keep it in step with
// the draw settings; the kernels never write it.
#pragma once

#include <cstdint>

#include "lib/core/math3d.h"
#include "lib/softrender/memimg.h"

struct SoftDrawState {
  uint32_t blend_mode;   // 0 to 4, 10 and 11 draw; 5 to 9 and above 11 draw nothing
  int32_t blend_param;   // 0..255
  uint32_t bright;       // 0x00RRGGBB: byte 0 scales blue, 1 green, 2 red; 0xFFFFFF no scaling
  IntRect clip;          // right and bottom exclusive; kept inside the draw target
  MEMIMG* target;        // the software draw target
  MEMIMG* blend_image;   // one byte a pixel, or null; the weights are BlendTables::weight
};

SoftDrawState& SoftDraw();
