// lib/softrender/blend_tables.cpp - building the software blend tables.
#include "lib/softrender/blend_tables.h"

#include <atomic>

namespace {
BlendTables g_tables;
std::atomic<bool> g_built{false};
}

BlendTables& SoftBlendTables() { return g_tables; }

int BuildSoftBlendTables() {
  for (int p = 0; p < 256; ++p) {
    for (int k = 0; k < 511; ++k) g_tables.diff[p][k] = (p * (k - 255)) / 255;  // C++ division truncates toward zero
    g_tables.diff[p][511] = 0;
    for (int c = 0; c < 256; ++c) g_tables.mul[p][c] = uint32_t(c * p / 255);
  }
  for (int w = 0; w < 64; ++w)
    for (int a = 0; a < 64; ++a)
      for (int b = 0; b < 64; ++b) g_tables.mix6[w][a][b] = uint8_t((a * w + b * (63 - w)) / 63);
  g_built.store(true, std::memory_order_release);
  return 0;
}

bool SoftBlendTablesBuilt() { return g_built.load(std::memory_order_acquire); }

void BuildBlendImageWeightTable(int border_position, int border_range) {
  const int pos = border_position < 0 ? 0 : (border_position > 255 ? 255 : border_position);
  const int r = border_range < 0 ? 0 : (border_range > 255 ? 255 : border_range);
  const int step = 65536 / (r + 1);
  const int base = 256 - ((step + 256) * pos) / 256;
  for (int k = 0; k < 256; ++k) {
    int w = (k * 256) / (r + 1) + base;
    g_tables.weight[k] = uint8_t(w < 0 ? 0 : (w > 255 ? 255 : w));
  }
}
