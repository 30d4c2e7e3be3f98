// lib/softrender/blend_tables.h - the look-up tables the software kernels
// blend with instead of multiplying and dividing per pixel.
#pragma once

#include <cstdint>

struct BlendTables {
  // mul[p][c] = c * p / 255 truncated; p is the blend parameter or a bright
  // channel, c a colour channel.
  uint32_t mul[256][256];
  // diff[p][255 + d] = d * p / 255 truncated toward zero, d = -255..255; a
  // kernel indexes a row around its centre (slot 255, d = 0). Slot 511 is 0.
  int32_t diff[256][512];
  // mix6[w][a][b] = (a * w + b * (63 - w)) / 63 truncated; w is the 8-bit
  // parameter divided by 4, a and b 6-bit (or 5-bit) channel values.
  uint8_t mix6[64][64][64];
  // Blend-image byte to the weight used for that pixel.
  uint8_t weight[256];
};

// The one set of tables, with static storage.
BlendTables& SoftBlendTables();
// The centre (d = 0) of diff row p.
inline const int32_t* DiffRowCentre(int p) { return &SoftBlendTables().diff[p][255]; }

// Fills mul, diff and mix6; returns 0. Called once by the graphics start.
int BuildSoftBlendTables();
// Whether BuildSoftBlendTables has filled them.
bool SoftBlendTablesBuilt();
// Fills weight from the border position and range (both 0..255).
void BuildBlendImageWeightTable(int border_position, int border_range);
