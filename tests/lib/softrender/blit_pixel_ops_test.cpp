// The per-pixel operations of the plain blit against the independent model in
// blit_reference.h, and the worked values of the operations.
#include "lib/softrender/blit_pixel_ops.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/lib/softrender/blit_reference.h"

namespace {

using blitops::OpRows;

// Blend tables built here from their definitions, so these tests do not
// depend on the library's own tables.
struct LocalTables {
  std::vector<uint32_t> mul = std::vector<uint32_t>(256 * 256);
  std::vector<int32_t> diff = std::vector<int32_t>(256 * 512);
  std::vector<uint8_t> mix6 = std::vector<uint8_t>(64 * 64 * 64);
  std::vector<uint8_t> weight = std::vector<uint8_t>(256);
  LocalTables() {
    for (int p = 0; p < 256; ++p)
      for (int v = 0; v < 256; ++v) mul[p * 256 + v] = uint32_t(v * p / 255);
    for (int p = 0; p < 256; ++p)
      for (int e = -255; e <= 255; ++e) diff[p * 512 + 255 + e] = e * p / 255;
    for (int k = 0; k < 64; ++k)
      for (int a = 0; a < 64; ++a)
        for (int b = 0; b < 64; ++b) mix6[(k * 64 + a) * 64 + b] = uint8_t((a * k + b * (63 - k)) / 63);
    for (int k = 0; k < 256; ++k) weight[k] = uint8_t(k);
  }
  OpRows Rows(uint32_t p, uint32_t bright) const {
    OpRows r;
    r.p = p;
    r.mul_p = &mul[p * 256];
    r.mul_b = &mul[(bright & 0xFF) * 256];
    r.mul_g = &mul[((bright >> 8) & 0xFF) * 256];
    r.mul_r = &mul[((bright >> 16) & 0xFF) * 256];
    r.diff_p = &diff[p * 512 + 255];
    r.mix6_p = &mix6[(p >> 2) * 4096];
    r.weight = weight.data();
    return r;
  }
};

const LocalTables& Tables() {
  static const LocalTables t;
  return t;
}

uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b, uint32_t x = 0) { return x << 24 | r << 16 | g << 8 | b; }

// Interesting channel values come up more often than uniform draws give them.
uint32_t Channel(std::mt19937& rng) {
  static const uint32_t kEdges[] = {0, 1, 2, 127, 128, 129, 254, 255};
  if (rng() % 3 == 0) return kEdges[rng() % 8];
  return rng() % 256;
}
uint32_t Word32(std::mt19937& rng) {
  return Channel(rng) | Channel(rng) << 8 | Channel(rng) << 16 | Channel(rng) << 24;
}
uint32_t Word16(std::mt19937& rng) {
  if (rng() % 4 == 0) {
    static const uint32_t kEdges[] = {0x0000, 0xFFFF, 0x8410, 0x0841, 0xF800, 0x07E0, 0x001F, 0x0020};
    return kEdges[rng() % 8];
  }
  return rng() & 0xFFFF;
}

template <int M, bool W, bool B, bool A>
void Compare32(std::mt19937& rng, int rounds) {
  for (int i = 0; i < rounds; ++i) {
    const uint32_t p = Channel(rng);
    const uint32_t bright = W ? (0xFFFFFF | (rng() & 0xFF000000u)) : (Word32(rng) & 0xFFFFFF);
    if (!W && bright == 0xFFFFFF) continue;
    const uint32_t D = Word32(rng), S = Word32(rng), a = Channel(rng), w = Channel(rng);
    const OpRows rows = Tables().Rows(p, bright);
    blitref::Draw dr{M, p, bright, B};
    const uint32_t want = blitref::Pixel32(dr, A ? blitref::Form::WithA : blitref::Form::NoA, D, S, a, w);
    const uint32_t got = blitops::Op32<M, W, B, A>(D, S, a, w, rows);
    ASSERT_EQ(want, got) << "mode " << M << " white " << W << " blend " << B << " alpha " << A
                         << " D " << std::hex << D << " S " << S << " a " << std::dec << a << " w " << w
                         << " p " << p << " bright " << std::hex << bright;
  }
}

template <int M, bool W, bool B, bool A>
void Compare16(std::mt19937& rng, int rounds) {
  for (int i = 0; i < rounds; ++i) {
    const uint32_t p = Channel(rng);
    const uint32_t bright = W ? 0xFFFFFF : (Word32(rng) & 0xFFFFFF);
    if (!W && bright == 0xFFFFFF) continue;
    const uint32_t D = Word16(rng), S = Word16(rng), a = Channel(rng), w = Channel(rng);
    const OpRows rows = Tables().Rows(p, bright);
    blitref::Draw dr{M, p, bright, B};
    const uint32_t want = blitref::Pixel16(dr, A ? blitref::Form::WithA : blitref::Form::NoA, D, S, a, w);
    const uint32_t got = blitops::Op16<M, W, B, A>(D, S, a, w, rows);
    ASSERT_EQ(want, got) << "mode " << M << " white " << W << " blend " << B << " alpha " << A
                         << " D " << std::hex << D << " S " << S << " a " << std::dec << a << " w " << w
                         << " p " << p << " bright " << std::hex << bright;
  }
}

template <int M>
void CompareMode(int rounds) {
  std::mt19937 rng(1234 + M);
  Compare32<M, true, false, false>(rng, rounds);
  Compare32<M, true, false, true>(rng, rounds);
  Compare32<M, true, true, false>(rng, rounds);
  Compare32<M, true, true, true>(rng, rounds);
  Compare32<M, false, false, false>(rng, rounds);
  Compare32<M, false, false, true>(rng, rounds);
  Compare32<M, false, true, false>(rng, rounds);
  Compare32<M, false, true, true>(rng, rounds);
  Compare16<M, true, false, false>(rng, rounds);
  Compare16<M, true, false, true>(rng, rounds);
  Compare16<M, true, true, false>(rng, rounds);
  Compare16<M, true, true, true>(rng, rounds);
  Compare16<M, false, false, false>(rng, rounds);
  Compare16<M, false, false, true>(rng, rounds);
  Compare16<M, false, true, false>(rng, rounds);
  Compare16<M, false, true, true>(rng, rounds);
}

TEST(BlitPixelOps, EveryModeAndVariantMatchesTheModel) {
  constexpr int kRounds = 6000;
  CompareMode<0>(kRounds);
  CompareMode<1>(kRounds);
  CompareMode<2>(kRounds);
  CompareMode<3>(kRounds);
  CompareMode<4>(kRounds);
  CompareMode<10>(kRounds);
  CompareMode<11>(kRounds);
}

TEST(BlitPixelOps, FastFormsMatchTheModelExhaustivelyOverFields) {
  // Every pair of 16-bit words on a sparse grid, every parameter plane for the mix.
  const blitref::Draw add{2, 255, 0xFFFFFF, false};
  const blitref::Draw half{1, 128, 0xFFFFFF, false};
  for (uint32_t D = 0; D < 0x10000; D += 97) {
    for (uint32_t S = 0; S < 0x10000; S += 89) {
      ASSERT_EQ(blitref::Pixel16(add, blitref::Form::AddFull, D, S, 0, 0), blitops::PackedAdd16Full(D, S));
      ASSERT_EQ(blitref::Pixel16(half, blitref::Form::Halve, D, S, 0, 0), blitops::Halve16(D, S));
    }
  }
  std::mt19937 rng(77);
  for (uint32_t p = 0; p < 256; ++p) {
    const OpRows rows = Tables().Rows(p, 0xFFFFFF);
    const blitref::Draw mix{1, p, 0xFFFFFF, false};
    for (int i = 0; i < 400; ++i) {
      const uint32_t D = Word16(rng), S = Word16(rng);
      ASSERT_EQ(blitref::Pixel16(mix, blitref::Form::Mix, D, S, 0, 0), blitops::Mix16(D, S, rows));
    }
  }
  const blitref::Draw add32{2, 255, 0xFFFFFF, false};
  const blitref::Draw half32{1, 128, 0xFFFFFF, false};
  for (int i = 0; i < 200000; ++i) {
    const uint32_t D = Word32(rng), S = Word32(rng);
    ASSERT_EQ(blitref::Pixel32(add32, blitref::Form::AddFull, D, S, 0, 0), blitops::PackedAdd32Full(D, S));
    ASSERT_EQ(blitref::Pixel32(half32, blitref::Form::Halve, D, S, 0, 0), blitops::Halve32(D, S));
  }
}

TEST(BlitPixelOps, LerpFormsAreExactNearTheirLimits) {
  // L24 at the largest factor: the partial product leaves the signed range.
  const uint32_t f = 255u * 255u * 255u;
  EXPECT_EQ(blitops::L24(0, 255, f), uint32_t((255ull * f) >> 24));
  EXPECT_EQ(blitops::L24(255, 0, f), uint32_t((255ull * 16777216ull - 255ull * f) >> 24));
  EXPECT_EQ(blitops::L16(200, 0, 255 * 255), uint32_t((200ull * 65536 - 200ull * 65025) >> 16));
  EXPECT_EQ(blitops::L8(5, 11, 127), 7u);
  EXPECT_EQ(blitops::L8(5, 11, 129), 8u);
  EXPECT_EQ(blitops::L8(0, 255, 255), 254u);
}

TEST(BlitPixelOps, PackedAddAndSubtract16WorkedValues) {
  EXPECT_EQ(blitops::PackedAdd16(0x8410, 0x8410), 0xFFFF);
  EXPECT_EQ(blitops::PackedAdd16(0x0841, 0x0841), 0x0882);
  EXPECT_EQ(blitops::PackedAdd16(0x0020, 0x0020), 0x0020);
  for (uint32_t t = 0; t < 0x10000; t += 7) EXPECT_EQ(blitops::PackedAdd16(0xFFFF, t), 0xFFFF);
  EXPECT_EQ(blitops::PackedSub16(0x8410, 0x8410), 0x0800);
  EXPECT_EQ(blitops::PackedSub16(0x07E0, 0x0020), 0x0FC0);
  EXPECT_EQ(blitops::PackedSub16(0xFFFF, 0), 0xFFDF);
  // The full-strength single add drops the operands' lowest bits.
  EXPECT_EQ(blitops::PackedAdd16Full(0xF800, 0xF800), 0xF800);
  EXPECT_EQ(blitops::PackedAdd16Full(0x0000, 0x0000), 0x0000);
  EXPECT_EQ(blitops::PackedAdd16Full(0x0841, 0x0841), 0x0082);
}

TEST(BlitPixelOps, Mode1At128And16BitMixPlanes) {
  EXPECT_EQ(blitops::Halve16(0xFFFF, 0xFFFF), 0xF7DE);
  for (uint32_t p : {1u, 2u, 3u}) {
    const OpRows rows = Tables().Rows(p, 0xFFFFFF);
    EXPECT_EQ(blitops::Mix16(0x1234, 0xFEDC, rows), 0x1234) << p;
  }
  for (uint32_t p : {252u, 253u, 254u}) {
    const OpRows rows = Tables().Rows(p, 0xFFFFFF);
    EXPECT_EQ(blitops::Mix16(0x1234, 0xFEDC, rows), 0xFEDC) << p;
  }
  // The coloured draw of mode 1 takes the Diff blend.
  const OpRows rows = Tables().Rows(128, 0xFFFFFE);
  EXPECT_EQ((blitops::Op16<1, false, false, false>(0xFFFF, 0x0000, 0, 0, rows)), 0x8410);
}

TEST(BlitPixelOps, WorkedValues32) {
  const OpRows white128 = Tables().Rows(128, 0xFFFFFF);
  // Halving: blue 11 over 5 gives 7 and byte 3 becomes 0; the general form at 127 and 129.
  EXPECT_EQ(blitops::Halve32(Rgb(0, 0, 5, 0xAA), Rgb(0, 0, 11)), Rgb(0, 0, 7, 0));
  EXPECT_EQ((blitops::Op32<1, true, false, false>(Rgb(0, 0, 5, 0xAA), Rgb(0, 0, 11), 0, 0,
                                                  Tables().Rows(127, 0xFFFFFF))),
            Rgb(0, 0, 7, 0xAA));
  EXPECT_EQ((blitops::Op32<1, true, false, false>(Rgb(0, 0, 5, 0xAA), Rgb(0, 0, 11), 0, 0,
                                                  Tables().Rows(129, 0xFFFFFF))),
            Rgb(0, 0, 8, 0xAA));
  // Full-strength add: blue carry sets green bit 0; both bit-0s of green dropped.
  EXPECT_EQ(blitops::PackedAdd32Full(Rgb(0, 0, 200), Rgb(0, 0, 100)), Rgb(0, 1, 255));
  EXPECT_EQ(blitops::PackedAdd32Full(Rgb(0, 3, 0), Rgb(0, 1, 0)), Rgb(0, 2, 0));
  EXPECT_EQ(blitops::PackedAdd32(Rgb(0, 3, 0), Rgb(0, 1, 0)), Rgb(0, 3, 0));
  // Subtract at full strength.
  EXPECT_EQ(blitops::PackedSub32(Rgb(0, 0, 10, 0x77), Rgb(0, 0, 20)), Rgb(1, 0, 0, 0));
  EXPECT_EQ(blitops::PackedSub32(Rgb(4, 4, 4), Rgb(1, 1, 1)), Rgb(5, 5, 3));
  // Paletted mode 3 at p = 0: T = 0.
  EXPECT_EQ((blitops::Op32<3, true, false, false>(Rgb(8, 6, 10, 200), Rgb(1, 2, 3), 0, 0,
                                                  Tables().Rows(0, 0xFFFFFF))),
            Rgb(9, 7, 10, 0));
  // Mode 10 with bright 128: blue 0 inverts to 255 and scales to the target
  // 128; at p = 255, L8 from 0 gives 127 and from 129 gives 128 only for it.
  const OpRows grey = Tables().Rows(255, 0x808080);
  EXPECT_EQ(blitops::ChB(blitops::Op32<10, false, false, false>(0, Rgb(0, 0, 0), 0, 0, grey)), 127u);
  EXPECT_EQ(blitops::ChB(blitops::Op32<10, false, false, false>(129, Rgb(0, 0, 0), 0, 0, grey)), 128u);
  // Mode 4 with alpha 0 (the form with alpha) turns the channels black, byte 3 kept.
  EXPECT_EQ((blitops::Op32<4, true, false, true>(Rgb(9, 9, 9, 5), Rgb(200, 200, 200), 0, 0, white128)),
            Rgb(0, 0, 0, 5));
  // Mode 0 word write keeps the source alpha byte.
  EXPECT_EQ((blitops::Op32<0, true, false, false>(Rgb(1, 1, 1, 1), Rgb(9, 8, 7, 255), 0, 0, white128)),
            Rgb(9, 8, 7, 255));
}


TEST(BlitPixelOps, WorkedValues16BrightAndModes) {
  // Bright (255, 255, 254): blue 31 becomes 30, red and green unchanged.
  const OpRows rows = Tables().Rows(255, 0xFFFFFE);
  EXPECT_EQ((blitops::Op16<0, false, false, false>(0, 0xFFFF, 0, 0, rows)), 0xFFFE);
  // Paletted mode 3 at p = 0 turns 0xFFFF into 0xFFDF.
  EXPECT_EQ((blitops::Op16<3, true, false, false>(0xFFFF, 0x1234, 0, 0, Tables().Rows(0, 0xFFFFFF))), 0xFFDF);
  // Mode 10 at p = 255 stores the inverted source (Diff[255][e] = e).
  EXPECT_EQ((blitops::Op16<10, true, false, false>(0x1234, 0x0F0F, 0, 0, Tables().Rows(255, 0xFFFFFF))),
            0xF0F0);
  // Mode 1 with alpha, opaque pixel without the flag: the form with alpha.
  const OpRows p200 = Tables().Rows(200, 0xFFFFFF);
  const uint32_t got = blitops::Op16<1, true, false, true>(0x0000, 0xFFFF, 255, 0, p200);
  EXPECT_EQ(blitops::F5B(got), (31u * 255u * 200u) >> 16);
}

}  // namespace
