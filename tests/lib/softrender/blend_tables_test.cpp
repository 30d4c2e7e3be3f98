// The software blend tables against their defining formulas and worked values.
#include "lib/softrender/blend_tables.h"

#include <gtest/gtest.h>

namespace {

TEST(BlendTables, WorkedValues) {
  BuildSoftBlendTables();
  const BlendTables& t = SoftBlendTables();
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(t.mul[255][c], uint32_t(c));
    EXPECT_EQ(t.mul[c][255], uint32_t(c));
  }
  EXPECT_EQ(t.mul[128][255], 128u);
  EXPECT_EQ(t.mul[128][1], 0u);
  EXPECT_EQ(t.mul[200][100], 78u);  // 20000 / 255 = 78.4
  EXPECT_EQ(t.mul[17][254], 16u);   // 4318 / 255 = 16.9
  EXPECT_EQ(DiffRowCentre(255)[-255], -255);
  EXPECT_EQ(DiffRowCentre(128)[-1], 0);
  EXPECT_EQ(DiffRowCentre(128)[-2], -1);
  EXPECT_EQ(DiffRowCentre(128)[2], 1);
  EXPECT_EQ(t.mix6[31][63][0], 31);
  EXPECT_EQ(t.mix6[32][0][63], 31);
  EXPECT_EQ(t.mix6[63][17][40], 17);
  EXPECT_EQ(t.mix6[0][17][40], 40);
  EXPECT_EQ(t.mix6[40][50][10], 35);  // (2000 + 230) / 63 = 35.4
  EXPECT_EQ(t.mix6[10][7][8], 7);     // (70 + 424) / 63 = 7.8
  EXPECT_EQ(t.mix6[21][30][60], 50);  // 3150 / 63, exact
  // Rows are 2048 bytes apart.
  EXPECT_EQ(reinterpret_cast<const char*>(&t.diff[1][0]) - reinterpret_cast<const char*>(&t.diff[0][0]), 2048);
}

TEST(BlendTables, AgainstFloorAndTruncation) {
  BuildSoftBlendTables();
  const BlendTables& t = SoftBlendTables();
  for (int p = 0; p < 256; p += 7)
    for (int d = -255; d <= 255; ++d) {
      const double exact = double(d) * p / 255.0;
      const int want = exact < 0 ? -int(-exact + 1e-9) : int(exact + 1e-9);
      ASSERT_EQ(DiffRowCentre(p)[d], want) << p << " " << d;
    }
  for (int w = 0; w < 64; w += 5)
    for (int a = 0; a < 64; a += 3)
      for (int b = 0; b < 64; b += 3) {
        const double exact = (double(a) * w / 63.0) + (double(b) * (63 - w) / 63.0);
        ASSERT_EQ(t.mix6[w][a][b], int(exact + 1e-9)) << w << " " << a << " " << b;
      }
  for (int p = 0; p < 256; p += 3)
    for (int c = 0; c < 256; ++c) ASSERT_EQ(t.mul[p][c], uint32_t(double(c) / 255.0 * p + 1e-9)) << p << " " << c;
}

TEST(BlendImageWeights, BorderPositionAndRange) {
  const BlendTables& t = SoftBlendTables();
  BuildBlendImageWeightTable(0, 255);
  for (int k = 0; k < 256; ++k) EXPECT_EQ(t.weight[k], 255);
  BuildBlendImageWeightTable(128, 0);
  for (int k = 0; k < 256; ++k) EXPECT_EQ(t.weight[k], k <= 127 ? 0 : (k == 128 ? 128 : 255)) << k;
  BuildBlendImageWeightTable(128, 255);
  for (int k = 0; k < 256; ++k) EXPECT_EQ(t.weight[k], k);
}

}  // namespace
