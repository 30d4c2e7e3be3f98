// The vector rows of the 4:2:0 conversion against the plain loop: random
// planes of odd and even sizes, padded strides and pitches, at every level
// the processor has; every byte of the image, padding included, must agree.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "lib/image/base_image.h"
#include "lib/sound/movie.h"
#include "lib/sound/yuv_rows.h"

namespace {

struct Planes {
  std::vector<uint8_t> y, cb, cr;
  TheoraFrameSlot slot{};
};

void MakePlanes(std::mt19937& rng, int cw, int ch, Planes* p) {
  const int yw = 2 * cw, yh = 2 * ch;
  const int y_stride = yw + int(rng() % 9), c_stride = cw + int(rng() % 9);
  p->y.resize(size_t(y_stride) * yh);
  p->cb.resize(size_t(c_stride) * ch);
  p->cr.resize(p->cb.size());
  for (auto* plane : {&p->y, &p->cb, &p->cr})
    for (uint8_t& v : *plane) v = uint8_t(rng());
  p->slot.y = p->y.data(), p->slot.cb = p->cb.data(), p->slot.cr = p->cr.data();
  p->slot.y_width = yw, p->slot.y_height = yh, p->slot.y_stride = y_stride;
  p->slot.c_width = cw, p->slot.c_height = ch, p->slot.c_stride = c_stride;
}

std::vector<uint8_t> Convert(const Planes& p, int w, int h, int pitch, int level) {
  std::vector<uint8_t> bytes(size_t(pitch) * h, 0xA5);
  BaseImage image{};
  image.width = w, image.height = h, image.pitch = pitch, image.pixels = bytes.data();
  ConvertYuv420(p.slot, &image, w, h, level);
  return bytes;
}

TEST(YuvRowsTest, EveryLevelWritesThePlainLoopsBytes) {
  InitializeYuvTables();
  std::mt19937 rng(4201);
  for (int trial = 0; trial < 300; ++trial) {
    Planes p;
    MakePlanes(rng, 1 + int(rng() % 40), 1 + int(rng() % 6), &p);
    // The converted part may be narrower or shorter than the planes: odd
    // sizes, and the vector rows' tails, come from there.
    const int w = 1 + int(rng() % p.slot.y_width), h = 1 + int(rng() % p.slot.y_height);
    const int pitch = 4 * w + 4 * int(rng() % 3);
    const std::vector<uint8_t> want = Convert(p, w, h, pitch, 0);
    for (int level = 1; level <= Yuv420Level(); ++level)
      ASSERT_EQ(Convert(p, w, h, pitch, level), want) << "level " << level << ", " << w << " x " << h;
  }
}

// The extremes of every channel: each Y with each Cb and Cr in a row, so
// the clamps at both ends and the rounding of negative sums are met.
TEST(YuvRowsTest, EveryLevelAgreesOnTheExtremes) {
  InitializeYuvTables();
  Planes p;
  std::mt19937 rng(1);
  MakePlanes(rng, 64, 1, &p);
  const uint8_t values[] = {0, 1, 15, 16, 17, 127, 128, 129, 235, 240, 254, 255};
  for (uint8_t cb : values)
    for (uint8_t cr : values) {
      for (int x = 0; x < 64; ++x) p.slot.cb[x] = cb, p.slot.cr[x] = cr;
      for (int x = 0; x < 128; ++x) p.slot.y[x] = p.slot.y[p.slot.y_stride + x] = values[x % 12];
      const std::vector<uint8_t> want = Convert(p, 128, 2, 512, 0);
      for (int level = 1; level <= Yuv420Level(); ++level)
        ASSERT_EQ(Convert(p, 128, 2, 512, level), want) << int(cb) << " " << int(cr) << " level " << level;
    }
}

}  // namespace
