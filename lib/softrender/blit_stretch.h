// lib/softrender/blit_stretch.h - the walk state of a stretched blit and the
// walk itself, shared by the 32-bit and the 16-bit kernels. The frame
// (blit_stretch.cpp) orders, clips and sets the walk up; a kernel supplies
// the per-pixel operation.
#pragma once

#include <cstdint>

#include "lib/softrender/blend_tables.h"
#include "lib/softrender/memimg.h"

// Set up once per draw. Scales are 16.16 fixed point, destination pixels per
// source pixel; the accumulators are kept in 64 bits so that no extent the
// frame accepts can overflow them.
struct StretchWalk {
  int64_t x_scale, y_scale;
  int64_t x_acc_start;  // every row starts from it
  int64_t y_acc;        // carried from row to row
  const uint8_t* src_row;
  intptr_t src_step, src_row_step;
  const uint8_t* blend_row;  // null without a blend image
  intptr_t blend_step, blend_row_step;
  uint8_t* dst_row;
  intptr_t dst_pitch;
  int width, height;    // clipped destination extent, both at least 1
};

// What the kernels read of the source and the draw state.
struct StretchSource {
  const MemImgBase* base;
  uint32_t mode;
  int32_t p;            // 0..255
  uint32_t bright;      // low 24 bits
  bool white;
  bool blend;           // a blend image is given
  bool key;             // transparency flag
  bool separate;        // the images share no pixel byte (the vector rows may serve)
};

void DrawStretch32(const StretchWalk& walk, const StretchSource& src);
void DrawStretch16(const StretchWalk& walk, const StretchSource& src);

// Source pixel classes, decided once per source pixel.
enum : int {
  kStretchSkip = 0,    // leaves the destination unchanged
  kStretchSolid = 1,   // the form without the alpha factor
  kStretchAlpha = 2,   // the form with the pixel's alpha
};

// Walks the clipped destination, row by row, left to right. Destination
// column k (counted from the unclipped edge) shows source column
// floor(k * 65536 / x scale) from the walk's start edge. The zero-stop walk
// of the copies and the full-strength subtraction stops adding back when an
// accumulator reaches exactly 0, which leaves it one source pixel behind.
// Op::Classify(source) gives the class of a source pixel; Op::Apply(dest,
// source, blend byte pointer, class) draws one destination pixel.
template <class Op, int DstBytes, bool ZeroStop, bool Blend>
void RunStretchWalk(const StretchWalk& w, const Op& op) {
  const uint8_t* src_row = w.src_row;
  const uint8_t* blend_row = w.blend_row;
  uint8_t* dst_row = w.dst_row;
  int64_t y_acc = w.y_acc;
  for (int y = 0;;) {
    const uint8_t* s = src_row;
    const uint8_t* b = blend_row;
    uint8_t* d = dst_row;
    int64_t x_acc = w.x_acc_start;
    int cls = op.Classify(s);
    for (int x = 0;;) {
      if (cls != kStretchSkip) op.Apply(d, s, b, cls);
      // Nothing steps past the row's last pixel.
      if (++x == w.width) break;
      d += DstBytes;
      x_acc -= 0x10000;
      if (x_acc <= 0) {
        do {
          x_acc += w.x_scale;
          s += w.src_step;
          if constexpr (Blend) b += w.blend_step;
        } while (ZeroStop ? x_acc < 0 : x_acc <= 0);
        cls = op.Classify(s);
      }
    }
    if (++y == w.height) break;
    dst_row += w.dst_pitch;
    y_acc -= 0x10000;
    if (y_acc <= 0) {
      do {
        y_acc += w.y_scale;
        src_row += w.src_row_step;
        if constexpr (Blend) blend_row += w.blend_row_step;
      } while (ZeroStop ? y_acc < 0 : y_acc <= 0);
    }
  }
}
