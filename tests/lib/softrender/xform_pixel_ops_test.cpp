// Pixel operations of the transformed kernels, in every source family, blend
// mode, parameter shortcut and variant, drawn through both kernels and
// compared pixel by pixel with the wide-arithmetic reference; then the
// worked values of the blend modes and the packed add and subtract.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "lib/softrender/xform_pixel_ops.h"
#include "tests/lib/softrender/xform_support.h"

namespace {

using namespace xformtest;

constexpr int kN = 12;     // source size
constexpr int kDst = 24;   // destination size
constexpr int kOff = 4;    // where the source's top-left lands

enum class Kind { kPal32, kDirect32, kAlpha32, kPal16, kDirect16, kAlpha16 };

struct Source {
  Kind kind;
  Image img;
  Image blend;
  explicit Source(Kind k)
      : kind(k),
        img(kN, kN, Is16(k) ? kMemImgRgb565 : kMemImg32, IsPal(k) ? 1 : 0, HasAlpha(k) ? 1 : 0),
        blend(kN + 3, kN + 2, kMemImgByte) {}
  static bool Is16(Kind k) { return k == Kind::kPal16 || k == Kind::kDirect16 || k == Kind::kAlpha16; }
  static bool IsPal(Kind k) { return k == Kind::kPal32 || k == Kind::kPal16; }
  static bool HasAlpha(Kind k) { return k == Kind::kAlpha32 || k == Kind::kAlpha16; }
};

uint32_t AlphaPick(std::mt19937& rng) {
  const uint32_t r = rng() % 6;
  return r == 0 ? 0 : (r == 1 ? 255 : rng() & 0xFF);
}

void Randomise(Source* s, std::mt19937& rng) {
  Image& im = s->img;
  const bool is16 = Source::Is16(s->kind);
  if (Source::IsPal(s->kind)) {
    for (int i = 0; i < 256; ++i) im.SetPalette(i, is16 ? (rng() & 0xFFFF) : rng());
    for (int y = 0; y < kN; ++y)
      for (int x = 0; x < kN; ++x) im.Set(x, y, rng() % 8 == 0 ? 7 : (rng() & 0xFF));
    // Index 7 is the key; index 9 holds the same colour and must still draw.
    im.m.base->colour_key = 7;
    im.SetPalette(9, im.Palette(7));
    im.Set(2, 0, 9);
  } else if (s->kind == Kind::kAlpha32) {
    for (int y = 0; y < kN; ++y)
      for (int x = 0; x < kN; ++x) im.Set(x, y, (rng() & 0xFFFFFF) | AlphaPick(rng) << 24);
    im.m.base->colour_key = im.Get(0, 0);  // never consulted with an alpha channel
  } else if (s->kind == Kind::kAlpha16) {
    for (int y = 0; y < kN; ++y)
      for (int x = 0; x < kN; ++x) im.Set(x, y, (rng() & 0xFFFF) | AlphaPick(rng) << 16 | (rng() & 0xFF) << 24);
    im.m.base->colour_key = im.Get(0, 0) & 0xFFFF;
  } else {
    const uint32_t mask = is16 ? 0xFFFF : 0xFFFFFFFF;
    for (int y = 0; y < kN; ++y)
      for (int x = 0; x < kN; ++x) im.Set(x, y, rng() & mask);
    const uint32_t key = rng() & mask;
    im.m.base->colour_key = key;
    for (int i = 0; i < 10; ++i) im.Set(rng() % kN, rng() % kN, key);
    // The key's colour with another fourth byte is not the key.
    if (!is16) im.Set(3, 3, key ^ 0x01000000u);
  }
  for (int y = 0; y < s->blend.m.height; ++y)
    for (int x = 0; x < s->blend.m.width; ++x) s->blend.Set(x, y, rng() & 0xFF);
}

RefPixel RefFor(Source& s, int tx, int ty, uint32_t dst, int mode, int p, uint32_t bright, bool blend, bool trans) {
  RefPixel r;
  r.is16 = Source::Is16(s.kind);
  r.paletted = Source::IsPal(s.kind);
  r.has_alpha = Source::HasAlpha(s.kind);
  r.trans = trans;
  r.blend = blend;
  r.mode = mode;
  r.p = p;
  r.bright = bright;
  r.key = s.img.m.base->colour_key;
  const uint32_t raw = s.img.Get(tx, ty);
  if (r.paletted) {
    r.index = raw;
    r.colour = s.img.Palette(raw);
  } else if (s.kind == Kind::kAlpha16) {
    r.colour = raw & 0xFFFF;
    r.a = (raw >> 16) & 0xFF;
  } else {
    r.colour = raw;
    r.a = raw >> 24;
  }
  r.w = SoftBlendTables().weight[s.blend.Get(tx, ty)];
  r.dst = dst;
  return r;
}

// Draws one setting through the rotated blit (angle 0, scale 1) and both
// triangles of the quad, each on its own copy of the destination, and checks
// every destination pixel.
void CheckSetting(Source& s, const std::vector<uint32_t>& before, int mode, int p, uint32_t bright, bool blend,
                  bool trans, const std::string& label) {
  const bool is16 = Source::Is16(s.kind);
  const int format = is16 ? kMemImgRgb565 : kMemImg32;
  Image rot(kDst, kDst, format), tri1(kDst, kDst, format), tri2(kDst, kDst, format);
  for (int y = 0; y < kDst; ++y)
    for (int x = 0; x < kDst; ++x) {
      rot.Set(x, y, before[y * kDst + x]);
      tri1.Set(x, y, before[y * kDst + x]);
      tri2.Set(x, y, before[y * kDst + x]);
    }
  SetState(static_cast<uint32_t>(mode), p, bright, {0, 0, kDst, kDst});
  const MEMIMG* bl = blend ? &s.blend.m : nullptr;
  DrawMemImgRotation(&rot.m, &s.img.m, kOff + kN / 2, kOff + kN / 2, 0.0f, 1.0f, trans, 0, bl);
  const TriangleVertex first[3] = {{kOff, kOff, 0, 0}, {kOff + kN, kOff, kN, 0}, {kOff, kOff + kN, 0, kN}};
  const TriangleVertex second[3] = {{kOff + kN, kOff, kN, 0}, {kOff, kOff + kN, 0, kN}, {kOff + kN, kOff + kN, kN, kN}};
  DrawMemImgTexturedTriangle(&tri1.m, &s.img.m, first, trans, bl, 0);
  DrawMemImgTexturedTriangle(&tri2.m, &s.img.m, second, trans, bl, 0);

  const bool draws = RefCallDraws(mode, p, Source::IsPal(s.kind));
  int failures = 0;
  for (int y = 0; y < kDst && failures < 3; ++y) {
    for (int x = 0; x < kDst && failures < 3; ++x) {
      const uint32_t old = before[y * kDst + x];
      const int tx = x - kOff, ty = y - kOff;
      const bool inside = tx >= 0 && ty >= 0 && tx < kN && ty < kN;
      uint32_t expect = old;
      if (draws && inside) {
        const auto r = Reference(RefFor(s, tx, ty, old, mode, p, bright, blend, trans));
        if (r) expect = *r;
      }
      const uint32_t e1 = inside && tx + ty <= kN ? expect : old;
      const uint32_t e2 = inside && tx + ty >= kN ? expect : old;
      if (rot.Get(x, y) != expect || tri1.Get(x, y) != e1 || tri2.Get(x, y) != e2) {
        ++failures;
        ADD_FAILURE() << label << " pixel " << x << "," << y << std::hex << " old " << old << " expect " << expect
                      << " rotation " << rot.Get(x, y) << " triangle1 " << tri1.Get(x, y) << " (" << e1
                      << ") triangle2 " << tri2.Get(x, y) << " (" << e2 << ")";
      }
    }
  }
}

class PixelOpsMatrix : public ::testing::TestWithParam<Kind> {};

TEST_P(PixelOpsMatrix, EveryModeAndVariantMatchesTheReference) {
  const Kind kind = GetParam();
  std::mt19937 rng(1234 + static_cast<int>(kind));
  BuildSoftBlendTables();
  // A weight table with a ramp, so a weight is not just the blend byte.
  BuildBlendImageWeightTable(100, 60);
  Source s(kind);
  Randomise(&s, rng);
  std::vector<uint32_t> before(kDst * kDst);
  const uint32_t mask = Source::Is16(kind) ? 0xFFFF : 0xFFFFFFFF;
  const int modes[] = {0, 1, 2, 3, 4, 10, 11};
  const int params[] = {0, 1, 128, 255, 77};
  const uint32_t brights[] = {0xFFFFFF, 0xC87FFE};
  for (int mode : modes) {
    for (int p : params) {
      for (int bi = 0; bi < 2; ++bi) {
        for (int blend = 0; blend < 2; ++blend) {
          for (int trans = 0; trans < 2; ++trans) {
            for (auto& v : before) v = rng() & mask;
            const std::string label = "mode " + std::to_string(mode) + " p " + std::to_string(p) + " bright " +
                                      std::to_string(bi) + " blend " + std::to_string(blend) + " trans " +
                                      std::to_string(trans);
            CheckSetting(s, before, mode, p, brights[bi], blend != 0, trans != 0, label);
          }
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Families, PixelOpsMatrix,
                         ::testing::Values(Kind::kPal32, Kind::kDirect32, Kind::kAlpha32, Kind::kPal16,
                                           Kind::kDirect16, Kind::kAlpha16));

// ---- Worked values ----------------------------------------------------------------

// One texel drawn onto one destination pixel through the rotated blit;
// returns the destination pixel afterwards.
struct One {
  int format = kMemImg32;
  bool alpha = false;
  bool paletted = false;
  uint32_t texel = 0;  // raw texel (palette index when paletted)
  uint32_t entry = 0;  // palette entry
  uint32_t key = 0;
  int blend_byte = -1;  // -1: no blend image
  int trans = 0;

  uint32_t Draw(uint32_t mode, int p, uint32_t bright, uint32_t dst) const {
    Image src(1, 1, format, paletted ? 1 : 0, alpha ? 1 : 0, key);
    src.Set(0, 0, texel);
    if (paletted) src.SetPalette(static_cast<int>(texel), entry);
    Image blend(1, 1, kMemImgByte);
    if (blend_byte >= 0) blend.Set(0, 0, static_cast<uint32_t>(blend_byte));
    Image d(4, 4, format);
    d.Fill(dst);
    SetState(mode, p, bright, {0, 0, 4, 4});
    DrawMemImgRotation(&d.m, &src.m, 1, 1, 0.0f, 1.0f, trans, 0, blend_byte >= 0 ? &blend.m : nullptr);
    return d.Get(1, 1);
  }
};

class WorkedValues : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildSoftBlendTables();
    BuildBlendImageWeightTable(128, 255);  // weight = blend byte
  }
};

TEST_F(WorkedValues, CopyAndAlpha32) {
  One o;
  o.texel = 0x00FF00FF;
  // p = 128: 255 over 0 gives 127; p = 254: 253; 0 over 255 gives 1.
  EXPECT_EQ(o.Draw(1, 128, 0xFFFFFF, 0xAA000000) & 0xFF, 127u);
  EXPECT_EQ(o.Draw(1, 254, 0xFFFFFF, 0xAA000000) & 0xFF, 253u);
  EXPECT_EQ((o.Draw(1, 254, 0xFFFFFF, 0xAA00FFFF) >> 8) & 0xFF, 1u);
  // The fourth byte is kept by the blend.
  EXPECT_EQ(o.Draw(1, 128, 0xFFFFFF, 0xAA000000) >> 24, 0xAAu);
  // p = 0 draws nothing; p = 255 is the plain copy, fourth byte included.
  EXPECT_EQ(o.Draw(1, 0, 0xFFFFFF, 0xAA123456), 0xAA123456u);
  EXPECT_EQ(o.Draw(1, 255, 0xFFFFFF, 0xAA123456), 0x00FF00FFu);
  // Mode 0 ignores p.
  EXPECT_EQ(o.Draw(0, 0, 0xFFFFFF, 0xAA123456), 0x00FF00FFu);
  // A bright colour of blue 255, green 255, red 254 is not white: red 255
  // becomes 254, 128 becomes 127, the fourth byte stays.
  o.texel = 0x33FF1020;
  EXPECT_EQ(o.Draw(0, 0, 0xFEFFFF, 0xAA000000), 0xAAFE1020u);
  o.texel = 0x33801020;
  EXPECT_EQ(o.Draw(0, 0, 0xFEFFFF, 0xAA000000), 0xAA7F1020u);
}

TEST_F(WorkedValues, SourceAlpha32) {
  One o;
  o.alpha = true;
  o.texel = 0xFFFFFFFF;
  // a = 255 is a factor without the transparency flag (254), dropped with it
  // (255 and the fourth byte 255).
  EXPECT_EQ(o.Draw(0, 0, 0xFFFFFF, 0x00000000) & 0xFF, 254u);
  o.trans = 1;
  EXPECT_EQ(o.Draw(0, 0, 0xFFFFFF, 0x00000000), 0xFFFFFFFFu);
  // a = 0 leaves the destination either way.
  o.texel = 0x00FFFFFF;
  EXPECT_EQ(o.Draw(0, 0, 0xFFFFFF, 0x11223344), 0x11223344u);
  o.trans = 0;
  EXPECT_EQ(o.Draw(0, 0, 0xFFFFFF, 0x11223344), 0x11223344u);
  // w = 255 does not copy exactly: 254 with w alone, 253 with a = 255 too.
  One b;
  b.texel = 0x000000FF;
  b.blend_byte = 255;
  EXPECT_EQ(b.Draw(0, 0, 0xFFFFFF, 0) & 0xFF, 254u);
  b.alpha = true;
  b.texel = 0xFF0000FF;
  EXPECT_EQ(b.Draw(0, 0, 0xFFFFFF, 0) & 0xFF, 253u);
}

TEST_F(WorkedValues, ColourKeys) {
  One d;
  d.trans = 1;
  d.key = 0x00102030;
  d.texel = 0x00102030;
  EXPECT_EQ(d.Draw(0, 0, 0xFFFFFF, 0x55), 0x55u);
  // Same colour, other fourth byte: drawn.
  d.texel = 0x01102030;
  EXPECT_EQ(d.Draw(0, 0, 0xFFFFFF, 0x55), 0x01102030u);
  // Paletted: the index is compared; a key above 255 never matches.
  One p;
  p.paletted = true;
  p.trans = 1;
  p.texel = 5;
  p.entry = 0x00ABCDEF;
  p.key = 5;
  EXPECT_EQ(p.Draw(0, 0, 0xFFFFFF, 0x55), 0x55u);
  p.key = 5 + 256;
  EXPECT_EQ(p.Draw(0, 0, 0xFFFFFF, 0x55), 0x00ABCDEFu);
  // 16-bit: a key above 0xFFFF skips nothing.
  One s;
  s.format = kMemImgRgb565;
  s.trans = 1;
  s.texel = 0x1234;
  s.key = 0x11234;
  EXPECT_EQ(s.Draw(0, 0, 0xFFFFFF, 0x5555), 0x1234u);
  s.key = 0x1234;
  EXPECT_EQ(s.Draw(0, 0, 0xFFFFFF, 0x5555), 0x5555u);
}

TEST_F(WorkedValues, CopyAndAlpha16) {
  One o;
  o.format = kMemImgRgb565;
  o.alpha = true;
  o.texel = 0x00FFFFFF;  // white, alpha 255
  // Without the flag alpha 255 still weighs: 0xF7DE.
  EXPECT_EQ(o.Draw(0, 0, 0xFFFFFF, 0), 0xF7DEu);
  o.trans = 1;
  EXPECT_EQ(o.Draw(0, 0, 0xFFFFFF, 0), 0xFFFFu);
  One m;
  m.format = kMemImgRgb565;
  m.texel = 0xFFFF;
  // p = 128: white over black 0x7BEF; black over white R16 G32 B16.
  EXPECT_EQ(m.Draw(1, 128, 0xFFFFFF, 0), 0x7BEFu);
  m.texel = 0;
  EXPECT_EQ(m.Draw(1, 128, 0xFFFFFF, 0xFFFF), (16u << 11) | (32u << 5) | 16u);
  // Mode 0 with weight 128: black over white rounds down to 0x7BEF.
  m.blend_byte = 128;
  EXPECT_EQ(m.Draw(0, 0, 0xFFFFFF, 0xFFFF), 0x7BEFu);
  // Weight 200 and p 100: white over black 0x4A69; mode 0 R24 G49 B24.
  m.texel = 0xFFFF;
  m.blend_byte = 200;
  EXPECT_EQ(m.Draw(1, 100, 0xFFFFFF, 0), 0x4A69u);
  EXPECT_EQ(m.Draw(0, 0, 0xFFFFFF, 0), (24u << 11) | (49u << 5) | 24u);
  // Bright blue 254 is not white: blue 31 becomes 30; 128 grey gives R15 G31 B15.
  m.blend_byte = -1;
  EXPECT_EQ(m.Draw(0, 0, 0xFFFFFE, 0), 0xFFFEu);
  EXPECT_EQ(m.Draw(0, 0, 0x808080, 0), (15u << 11) | (31u << 5) | 15u);
}

TEST_F(WorkedValues, AddAndSubtract) {
  using softxform::PackedAdd16;
  using softxform::PackedAdd32;
  using softxform::PackedSubtract16;
  using softxform::PackedSubtract32;
  EXPECT_EQ(PackedAdd32(0x808080, 0x808080), 0x01FFFFFFu);
  EXPECT_EQ(PackedAdd32(0x0000FF, 0x000001), 0x0001FFu);
  EXPECT_EQ(PackedAdd32(0x000100, 0x000100), 0x000100u);
  EXPECT_EQ(PackedAdd32(0x000001, 0x000001), 0x000002u);
  EXPECT_EQ(PackedAdd32(0xFF0000, 0x010000), 0x00FF0000u);
  EXPECT_EQ(PackedAdd32(0xAB123456, 0), 0x00123456u);
  EXPECT_EQ(PackedAdd16((16u << 11) | (32u << 5) | 16u, (16u << 11) | (32u << 5) | 16u), 0xFFFFu);
  EXPECT_EQ(PackedAdd16(0x001F, 0x0001), 0x003Fu);
  EXPECT_EQ(PackedAdd16(62u << 5, 2u << 5), (1u << 11) | (62u << 5));
  EXPECT_EQ(PackedSubtract32(0xFF102030, 0), 0x00112130u);
  EXPECT_EQ(PackedSubtract32(0x123456, 0x123456), 0x00010100u);
  EXPECT_EQ(PackedSubtract32(0, 0), 0x00010100u);
  EXPECT_EQ(PackedSubtract32(0x003010, 0x002020), 0x011000u);
  EXPECT_EQ(PackedSubtract16(0xFFFF, 0), (31u << 11) | (62u << 5) | 31u);
  EXPECT_EQ(PackedSubtract16(0x1234, 0x1234), 0x0800u);
  // Exhaustive agreement of the packed forms with the per-channel rules.
  std::mt19937 rng(7);
  for (int i = 0; i < 200000; ++i) {
    const uint32_t d = rng(), s = rng();
    ASSERT_EQ(PackedAdd32(d, s & 0xFFFFFF), RefAdd32(d, s & 0xFFFFFF)) << std::hex << d << " " << s;
    ASSERT_EQ(PackedSubtract32(d, s), RefSub32(d, s)) << std::hex << d << " " << s;
    ASSERT_EQ(PackedAdd16(d & 0xFFFF, s & 0xFFFF), RefAdd16(d & 0xFFFF, s & 0xFFFF));
    ASSERT_EQ(PackedSubtract16(d & 0xFFFF, s & 0xFFFF), RefSub16(d & 0xFFFF, s & 0xFFFF));
  }
  // Through the kernel: p = 255 adds the texel; S = 0 still rewrites guards.
  One o;
  o.texel = 0x00808080;
  EXPECT_EQ(o.Draw(2, 255, 0xFFFFFF, 0x00808080), 0x01FFFFFFu);
  EXPECT_EQ(o.Draw(2, 0, 0xFFFFFF, 0x00808080), 0x00808080u);
  // Paletted subtract at p = 0 still rewrites; direct draws nothing.
  One pal;
  pal.paletted = true;
  pal.texel = 3;
  pal.entry = 0x00FFFFFF;
  EXPECT_EQ(pal.Draw(3, 0, 0xFFFFFF, 0xFF102030), 0x00112130u);
  EXPECT_EQ(o.Draw(3, 0, 0xFFFFFF, 0xFF102030), 0xFF102030u);
  // Alpha source, s = 255, p = 255: 255 with the flag and a = 255, 253 without.
  One a;
  a.alpha = true;
  a.texel = 0xFF0000FF;
  EXPECT_EQ(a.Draw(2, 255, 0xFFFFFF, 0) & 0xFF, 253u);
  a.trans = 1;
  EXPECT_EQ(a.Draw(2, 255, 0xFFFFFF, 0) & 0xFF, 255u);
  // 16-bit alpha source, red 31, a = 128, bright red 200: index 11, not 12.
  One r;
  r.format = kMemImgRgb565;
  r.alpha = true;
  r.texel = (128u << 16) | (31u << 11);
  EXPECT_EQ(r.Draw(2, 255, 0xC8FFFF, 0) >> 11, 11u);
}

TEST_F(WorkedValues, MultiplyInverseAndMultiplyBlend) {
  One o;
  o.texel = 0x00FFFFFF;
  EXPECT_EQ(o.Draw(4, 0, 0xFFFFFF, 0x5500C8FF), 0x5500C7FEu);
  EXPECT_EQ(o.Draw(4, 255, 0xFFFFFF, 0x5500C8FF), 0x5500C7FEu);
  One g;
  g.format = kMemImgRgb565;
  g.texel = 0xFFFF;
  EXPECT_EQ(g.Draw(4, 0, 0xFFFFFF, 0xFFFF), 0xF7DEu);
  // Alpha 0 multiplies to black even with the flag; A byte kept.
  One a;
  a.alpha = true;
  a.trans = 1;
  a.texel = 0x00FFFFFF;
  EXPECT_EQ(a.Draw(4, 0, 0xFFFFFF, 0x77FFFFFF), 0x77000000u);
  a.texel = 0xFFFFFFFF;
  EXPECT_EQ(a.Draw(4, 0, 0xFFFFFF, 0x77FFFFFF) & 0xFF, 254u);
  a.trans = 0;
  EXPECT_EQ(a.Draw(4, 0, 0xFFFFFF, 0x77FFFFFF) & 0xFF, 253u);

  // Inverse: p = 255 is no copy: inverted 255 over 0 gives 254.
  One i;
  i.texel = 0x00000000;
  EXPECT_EQ(i.Draw(10, 255, 0xFFFFFF, 0x99000000), 0x99FEFEFEu);
  i.texel = 0x00C8C8C8;  // inverted 55 over 100 at p = 128 gives 77
  EXPECT_EQ(i.Draw(10, 128, 0xFFFFFF, 0x00646464), 0x004D4D4Du);
  EXPECT_EQ(i.Draw(10, 0, 0xFFFFFF, 0x12345678), 0x12345678u);
  One i16;
  i16.format = kMemImgRgb565;
  i16.texel = 0xF800;
  EXPECT_EQ(i16.Draw(10, 255, 0xFFFFFF, 0), 0x07FFu);
  i16.texel = 0xFFFF;  // inverted 0 over 31 at p = 128: 16
  EXPECT_EQ(i16.Draw(10, 128, 0xFFFFFF, 31) & 31, 16u);
  i16.texel = 0;
  EXPECT_EQ(i16.Draw(10, 128, 0xFFFFFF, 0) & 31, 15u);

  // Multiply-then-blend.
  One m;
  m.texel = 0x00FFFFFF;
  EXPECT_EQ(m.Draw(11, 255, 0xFFFFFF, 0x00FFFFFF) & 0xFF, 254u);
  One m16;
  m16.format = kMemImgRgb565;
  m16.texel = 0xFFFF;
  EXPECT_EQ(m16.Draw(11, 255, 0xFFFFFF, 0xFFFF), 0xF7DEu);
  One mb;
  mb.texel = 0;
  mb.blend_byte = 255;
  EXPECT_EQ(mb.Draw(11, 255, 0xFFFFFF, 0xFF) & 0xFF, 1u);
  One ma;
  ma.alpha = true;
  ma.blend_byte = 255;
  ma.texel = 0xFF000000;
  EXPECT_EQ(ma.Draw(11, 255, 0xFFFFFF, 0xFF) & 0xFF, 2u);
  ma.trans = 1;
  EXPECT_EQ(ma.Draw(11, 255, 0xFFFFFF, 0xFF) & 0xFF, 1u);
  // The extra green precision of the white alpha variant.
  One g3;
  g3.format = kMemImgRgb565;
  g3.alpha = true;
  g3.texel = (128u << 16) | 0x0020;
  EXPECT_EQ(g3.Draw(11, 255, 0xFFFFFF, 0x07E0), 0x0400u);
  EXPECT_EQ(g3.Draw(11, 255, 0xFFFFFE, 0x07E0), 0x03E0u);
}

TEST_F(WorkedValues, ModesThatDrawNothing) {
  One o;
  o.texel = 0x00FFFFFF;
  for (uint32_t mode : {5u, 6u, 7u, 8u, 9u, 12u, 100u, 0x80000000u}) {
    EXPECT_EQ(o.Draw(mode, 128, 0xFFFFFF, 0x12345678), 0x12345678u) << mode;
  }
}

}  // namespace
