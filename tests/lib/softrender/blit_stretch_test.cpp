// tests/lib/softrender/blit_stretch_test.cpp - the stretched blit against an
// independent reference: which source pixel each destination pixel shows
// (scaled, mirrored, clipped, on both walks) and what every blend mode does
// to it in every source kind, with bright colour, blend image and the
// transparency flag; refusals leave the destination untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "lib/softrender/soft_kernels.h"
#include "tests/lib/softrender/fill_line_reference.h"

using softtest::Image;
using softtest::SetState;
namespace ref = reference;

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;

// A source kind: pixel format, paletted, alpha.
struct Kind {
  int format, paletted, alpha;
};
const Kind kKinds[] = {{1, 0, 0}, {1, 0, 1}, {1, 1, 0}, {0, 0, 0}, {0, 0, 1}, {0, 1, 0}};

// The source pixel as the formulas see it.
struct SrcPixel {
  uint32_t word;  // 32-bit word or palette entry; RGB565 word
  uint32_t index; // paletted: the index
  int64_t a;      // alpha (255 without an alpha channel)
};

SrcPixel ReadSource(Image& src, int x, int y) {
  const MemImgBase& b = *src.img.base;
  SrcPixel s{};
  const uint8_t* px = src.At(x, y);
  s.a = 255;
  if (b.paletted) {
    s.index = *px;
    std::memcpy(&s.word, b.palette + s.index * (b.pixel_format == 1 ? 4 : 2), b.pixel_format == 1 ? 4 : 2);
  } else if (b.pixel_format == 1) {
    std::memcpy(&s.word, px, 4);
    if (b.alpha) s.a = px[3];
  } else {
    std::memcpy(&s.word, px, 2);
    if (b.alpha) s.a = px[2];
  }
  return s;
}

struct Draw {
  uint32_t mode;
  int p;
  uint32_t bright;
  bool key;
  bool blend;
};

// Effective mode after the parameter tests, or -1 for nothing drawn.
int HeadMode(const Draw& dr, bool paletted) {
  switch (dr.mode) {
    case 0: return 0;
    case 1: return dr.p == 0 ? -1 : dr.p == 255 ? 0 : 1;
    case 2: return dr.p == 0 ? -1 : 2;
    case 3: return dr.p == 0 && !paletted ? -1 : 3;
    case 4: case 10: case 11: return static_cast<int>(dr.mode);
    default: return -1;
  }
}

// Whether the source pixel is transparent; otherwise whether it takes the
// form without alpha (*solid).
bool Transparent(const Draw& dr, const MemImgBase& b, const SrcPixel& s, bool* solid) {
  *solid = true;
  if (b.paletted) return dr.key && s.index == b.colour_key;
  if (b.alpha) {
    if (!dr.key) {
      *solid = false;
      return false;
    }
    if (s.a == 0) return true;
    *solid = s.a == 255;
    return false;
  }
  uint32_t key = b.pixel_format == 1 ? b.colour_key : (b.colour_key & 0xFFFF);
  return dr.key && s.word == key;
}

uint32_t Ref32(uint32_t d, const MemImgBase& b, const SrcPixel& s, int64_t w, const Draw& dr) {
  int mode = HeadMode(dr, b.paletted);
  if (mode < 0) return d;
  bool solid;
  if (Transparent(dr, b, s, &solid)) return d;
  const bool white = dr.bright == kWhite;
  const int64_t a = s.a, p = dr.p;
  ref::Px32 sc = ref::Split32(s.word), dc = ref::Split32(d), out = dc;
  int64_t sp[3];
  for (int i = 0; i < 3; ++i) sp[i] = white ? sc.c[i] : ref::Mul((dr.bright >> (8 * i)) & 0xFF, sc.c[i]);
  if (mode == 0 && !dr.blend && white && (!b.alpha || solid)) return s.word;
  if (mode == 2 || mode == 3) {
    ref::Px32 t{};
    for (int i = 0; i < 3; ++i) {
      if (!dr.blend) t.c[i] = solid ? ref::Mul(p, sp[i]) : (sp[i] * a * p) >> 16;
      else t.c[i] = solid ? (sp[i] * w * p) >> 16 : (sp[i] * w * a * p) >> 24;
    }
    return mode == 2 ? ref::Add32(d, ref::Join32(t)) : ref::Sub32(d, ref::Join32(t));
  }
  for (int i = 0; i < 3; ++i) {
    const int64_t dd = dc.c[i];
    if (mode == 4) {
      if (!dr.blend) out.c[i] = solid ? (sp[i] * dd) >> 8 : (sp[i] * dd * a) >> 16;
      else out.c[i] = solid ? (w * dd * sp[i]) >> 16 : (w * a * dd * sp[i]) >> 24;
      continue;
    }
    if (mode == 0) {
      if (!dr.blend) out.c[i] = solid ? sp[i] : ref::Lerp(dd, sp[i], a, 8);
      else out.c[i] = solid ? ref::Lerp(dd, sp[i], w, 8) : ref::Lerp(dd, sp[i], w * a, 16);
      continue;
    }
    int64_t x = sp[i];
    if (mode == 10) x = white ? 255 - sc.c[i] : ref::Mul((dr.bright >> (8 * i)) & 0xFF, 255 - sc.c[i]);
    if (mode == 11) x = (sp[i] * dd) >> 8;
    if (!dr.blend) out.c[i] = solid ? ref::Lerp(dd, x, p, 8) : ref::Lerp(dd, x, a * p, 16);
    else out.c[i] = solid ? ref::Lerp(dd, x, w * p, 16) : ref::Lerp(dd, x, w * a * p, 24);
  }
  return ref::Join32(out);
}

uint32_t Ref16(uint32_t d, const MemImgBase& b, const SrcPixel& s, int64_t w, const Draw& dr) {
  int mode = HeadMode(dr, b.paletted);
  if (mode < 0) return d;
  bool solid;
  if (Transparent(dr, b, s, &solid)) return d;
  const bool white = dr.bright == kWhite;
  const int64_t a = s.a, p = dr.p;
  if (mode == 0 && !dr.blend && white && (!b.alpha || solid)) return s.word;
  ref::Px16 sf = ref::Split16(s.word), df = ref::Split16(d), out = df;
  if (mode == 10) {
    for (int i = 0; i < 3; ++i) sf.f[i] = ((1 << ref::kBits[i]) - 1) - sf.f[i];
  }
  int64_t sp[3];
  for (int i = 0; i < 3; ++i) sp[i] = white ? sf.f[i] : ref::Mul((dr.bright >> (8 * i)) & 0xFF, sf.f[i]);
  if (mode == 2 || mode == 3) {
    ref::Px16 t{};
    for (int i = 0; i < 3; ++i) {
      int64_t v;
      if (!dr.blend) v = solid ? sp[i] : (sp[i] * a) >> 8;
      else v = solid ? (sp[i] * w) >> 8 : (sp[i] * a * w) >> 16;
      t.f[i] = ref::Mul(p, v);
    }
    return mode == 2 ? ref::Add16(d, ref::Join16(t)) : ref::Sub16(d, ref::Join16(t));
  }
  for (int i = 0; i < 3; ++i) {
    const int64_t dd = df.f[i];
    const int n = ref::kBits[i];
    if (mode == 4) {
      if (!dr.blend) out.f[i] = solid ? (sp[i] * dd) >> n : (sp[i] * dd * a) >> (n + 8);
      else out.f[i] = solid ? (sp[i] * dd * w) >> (n + 8) : (sp[i] * dd * a * w) >> (n + 16);
      continue;
    }
    if (mode == 0) {
      if (!dr.blend) out.f[i] = solid ? sp[i] : ref::Lerp(dd, sp[i], a, 8);
      else out.f[i] = solid ? ref::Lerp(dd, sp[i], w, 8) : ref::Lerp(dd, sp[i], a * w, 16);
      continue;
    }
    int64_t x = mode == 11 ? (sp[i] * dd) >> n : sp[i];
    if (!dr.blend) out.f[i] = solid ? dd + ref::Diff(p, x - dd) : ref::Lerp(dd, x, a * p, 16);
    else out.f[i] = solid ? ref::Lerp(dd, x, w * p, 16) : ref::Lerp(dd, x, a * w * p, 24);
    if (mode == 11 && i == 1 && white && !dr.blend && !solid) {
      // Green keeps five more fractional bits of the product here.
      out.f[i] = ref::Lerp(dd * 32, sf.f[1] * dd / 2, a * p, 16) >> 5;
    }
  }
  return ref::Join16(out);
}

// The source index each visible destination coordinate c1..c2-1 shows, for
// an axis drawn from u1 with the given extent.
std::vector<int> SourceIndices(int64_t u1, int64_t extent, int src_extent, int64_t c1, int64_t c2, bool zero_stop,
                               bool mirrored) {
  const int64_t scale = (extent << 16) / src_extent;
  std::vector<int> out;
  const int64_t k0 = c1 - u1;
  int64_t idx = k0 * 65536 / scale;
  int64_t acc = scale - (k0 * 65536) % scale;
  for (int64_t c = c1; c < c2; ++c) {
    if (!zero_stop) idx = (c - u1) * 65536 / scale;  // the closed form of the standard walk
    out.push_back(static_cast<int>(mirrored ? src_extent - 1 - idx : idx));
    if (zero_stop) {
      acc -= 65536;
      if (acc <= 0) {
        do {
          acc += scale;
          ++idx;
        } while (acc < 0);
      }
    }
  }
  return out;
}

bool ZeroStop(const Draw& dr, const MemImgBase& b) {
  int mode = HeadMode(dr, b.paletted);
  bool plain = dr.bright == kWhite && !dr.blend && !b.alpha;
  return plain && (mode == 0 || (mode == 3 && dr.p == 255));
}

// Applies the reference draw to want.
void RefStretch(Image& want, Image& src, IntRect r, const Draw& dr, Image* blend, IntRect clip) {
  int64_t x1 = r.left, y1 = r.top, x2 = r.right, y2 = r.bottom;
  bool mx = x1 > x2, my = y1 > y2;
  if (mx) std::swap(x1, x2);
  if (my) std::swap(y1, y2);
  if (x1 == x2 || y1 == y2) return;
  int64_t cx1 = std::clamp<int64_t>(x1, clip.left, clip.right), cx2 = std::clamp<int64_t>(x2, clip.left, clip.right);
  int64_t cy1 = std::clamp<int64_t>(y1, clip.top, clip.bottom), cy2 = std::clamp<int64_t>(y2, clip.top, clip.bottom);
  if (cx1 >= cx2 || cy1 >= cy2) return;
  const MemImgBase& b = *src.img.base;
  bool zs = ZeroStop(dr, b);
  auto cols = SourceIndices(x1, x2 - x1, src.img.width, cx1, cx2, zs, mx);
  auto rows = SourceIndices(y1, y2 - y1, src.img.height, cy1, cy2, zs, my);
  const uint8_t* weight = SoftBlendTables().weight;
  for (int64_t y = cy1; y < cy2; ++y) {
    for (int64_t x = cx1; x < cx2; ++x) {
      int sx = cols[x - cx1], sy = rows[y - cy1];
      SrcPixel s = ReadSource(src, sx, sy);
      int64_t w = blend ? weight[*(blend->img.pixels + sy * blend->img.base->pitch + sx)] : 255;
      uint32_t d = want.Get(static_cast<int>(x), static_cast<int>(y));
      want.Set(static_cast<int>(x), static_cast<int>(y),
               b.pixel_format == 1 ? Ref32(d, b, s, w, dr) : Ref16(d, b, s, w, dr));
    }
  }
}

// A source whose pixels often hit the transparent colour and alphas 0 and 255.
void FillSource(Image& src, std::mt19937& rng) {
  MemImgBase& b = *src.img.base;
  src.Randomise(rng);
  if (b.paletted) {
    for (int i = 0; i < 1024; ++i) b.palette[i] = static_cast<uint8_t>(rng());
  }
  for (int y = 0; y < src.img.height; ++y) {
    for (int x = 0; x < src.img.width; ++x) {
      uint8_t* px = src.At(x, y);
      int pick = static_cast<int>(rng() % 4);
      if (b.paletted) {
        *px = pick == 0 ? static_cast<uint8_t>(b.colour_key) : static_cast<uint8_t>(rng() % 8);
      } else if (b.alpha) {
        int alpha_byte = b.pixel_format == 1 ? 3 : 2;
        px[alpha_byte] = pick == 0 ? 0 : pick == 1 ? 255 : static_cast<uint8_t>(rng());
      } else if (pick == 0) {
        std::memcpy(px, &b.colour_key, b.pixel_format == 1 ? 4 : 2);
      }
    }
  }
}

struct Scene {
  Image src, dst, want, blend;
  Scene(const Kind& k, int sw, int sh, int dw, int dh, uint32_t key)
      : src(sw, sh, k.format, k.paletted, k.alpha, key),
        dst(dw, dh, k.format),
        want(dw, dh, k.format),
        blend(sw + 2, sh + 1, 2) {}
  void Prepare(std::mt19937& rng) {
    FillSource(src, rng);
    dst.Randomise(rng);
    std::memcpy(want.img.base->pixel_block, dst.Bytes().data(), dst.Bytes().size());
    blend.Randomise(rng);
  }
};

void EnsureWeights() {
  static const bool done = (BuildBlendImageWeightTable(100, 60), true);
  (void)done;
}

TEST(DrawMemImgStretch, EveryKindModeAndVariantMatchesReference) {
  EnsureWeights();
  const IntRect rects[] = {
      {2, 3, 19, 16},    // enlarged
      {1, 1, 5, 4},      // halved: the zero-stop walk falls behind the standard one
      {20, 2, 3, 12},    // mirrored left to right
      {20, 15, 3, 2},    // mirrored both ways
      {-5, -4, 25, 18},  // cut by the clip rectangle on every side
      {10, 1, 2, 7},     // the source's size, mirrored
      {4, 14, 18, 1},    // mirrored top to bottom, enlarged by a fraction
      {0, 16, 3, 4},     // shrunk to 3 of 8 columns, mirrored top to bottom
  };
  const IntRect clip{1, 2, 21, 17};
  std::mt19937 rng(2024);
  int count = 0;
  for (const Kind& k : kKinds) {
    uint32_t key = k.paletted ? 3 : k.format == 1 ? 0x00405060u : 0x1234u;
    for (uint32_t mode : {0u, 1u, 2u, 3u, 4u, 7u, 10u, 11u, 12u}) {
      for (int p : {0, 1, 77, 128, 255}) {
        for (uint32_t bright : {kWhite, 0x80C0FFu}) {
          for (int flags = 0; flags < 4; ++flags) {
            Draw dr{mode, p, bright, (flags & 1) != 0, (flags & 2) != 0};
            const IntRect& r = rects[count++ % 8];
            Scene sc(k, 8, 6, 23, 19, key);
            sc.Prepare(rng);
            RefStretch(sc.want, sc.src, r, dr, dr.blend ? &sc.blend : nullptr, clip);
            SetState(&sc.dst.img, mode, p, bright, clip);
            DrawMemImgStretch(&sc.dst.img, &sc.src.img, &r, dr.key ? 1 : 0, dr.blend ? &sc.blend.img : nullptr);
            ASSERT_EQ(sc.dst.Bytes(), sc.want.Bytes())
                << "kind " << k.format << k.paletted << k.alpha << " mode " << mode << " p " << p << " bright "
                << std::hex << bright << std::dec << " key " << dr.key << " blend " << dr.blend << " rect "
                << r.left << "," << r.top << "," << r.right << "," << r.bottom;
          }
        }
      }
    }
  }
}

// One row of four source pixels 10, 20, 30, 40 drawn into a row of n pixels.
std::vector<uint32_t> DrawRow(int n, uint32_t bright, int format = kMemImg32, int x_from = 0) {
  Image src(4, 1, format), dst(16, 1, format);
  for (int i = 0; i < 4; ++i) src.Set(i, 0, 10 * (i + 1));
  for (int i = 0; i < 16; ++i) dst.Set(i, 0, 0);
  SetState(&dst.img, 0, 0, bright, {0, 0, 16, 1});
  IntRect r{x_from, 0, x_from + n, 1};
  if (n < 0) r = {-n, 0, 0, 1};
  DrawMemImgStretch(&dst.img, &src.img, &r, 0, nullptr);
  std::vector<uint32_t> out;
  for (int i = 0; i < 16; ++i) out.push_back(dst.Get(i, 0));
  return out;
}

TEST(DrawMemImgStretch, WalksShowTheDescribedSourcePixels) {
  using V = std::vector<uint32_t>;
  // Halving: the copy's zero-stop walk shows 0 and 1, the standard walk 0 and 2.
  V halved_copy = DrawRow(2, kWhite), halved_std = DrawRow(2, 0xFFFFFE);
  EXPECT_EQ(halved_copy[0], 10u);
  EXPECT_EQ(halved_copy[1], 20u);
  EXPECT_EQ(halved_std[0] & 0xFF, 9u);   // 10 through Mul[254]
  EXPECT_EQ(halved_std[1] & 0xFF, 29u);  // 30 through Mul[254]
  // Doubling: both walks show each pixel twice.
  V doubled = DrawRow(8, kWhite);
  EXPECT_EQ(V(doubled.begin(), doubled.begin() + 9), (V{10, 10, 20, 20, 30, 30, 40, 40, 0}));
  // The source's width, mirrored: each column once, in reverse.
  V mirrored = DrawRow(-4, kWhite);
  EXPECT_EQ(V(mirrored.begin(), mirrored.begin() + 5), (V{40, 30, 20, 10, 0}));
  // 16-bit halving of eight pixels on the zero-stop walk: 0, 1, 3, 5.
  Image src(8, 1, kMemImgRgb565), dst(4, 1, kMemImgRgb565);
  for (int i = 0; i < 8; ++i) src.Set(i, 0, 100 + i);
  SetState(&dst.img, 0, 0, kWhite, {0, 0, 4, 1});
  IntRect r{0, 0, 4, 1};
  DrawMemImgStretch(&dst.img, &src.img, &r, 0, nullptr);
  EXPECT_EQ((V{dst.Get(0, 0), dst.Get(1, 0), dst.Get(2, 0), dst.Get(3, 0)}), (V{100, 101, 103, 105}));
}

TEST(DrawMemImgStretch, DoublingCoversTwoByTwoBlocksAndKeepsTransparentBlocks) {
  for (uint32_t bright : {kWhite, 0xFFFFFEu}) {
    Image src(3, 2, kMemImgRgb565, 0, 0, 0x0F0F), dst(8, 6, kMemImgRgb565);
    const uint32_t words[6] = {0x1111, 0x0F0F, 0x3333, 0x4444, 0x5555, 0x0F0F};
    for (int i = 0; i < 6; ++i) src.Set(i % 3, i / 3, words[i]);
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 8; ++x) dst.Set(x, y, 0xAAAA);
    }
    SetState(&dst.img, 0, 0, bright, {0, 0, 8, 6});
    IntRect r{1, 1, 7, 5};
    DrawMemImgStretch(&dst.img, &src.img, &r, 1, nullptr);
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 8; ++x) {
        uint32_t want = 0xAAAA;
        if (x >= 1 && x < 7 && y >= 1 && y < 5) {
          uint32_t s = words[(y - 1) / 2 * 3 + (x - 1) / 2];
          if (s != 0x0F0F) want = bright == kWhite ? s : ref::Join16({{ref::Mul(254, s & 31), (s >> 5) & 63, s >> 11}});
        }
        EXPECT_EQ(dst.Get(x, y), want) << x << "," << y << " bright " << std::hex << bright;
      }
    }
  }
}

// A rectangle of the source's size, not mirrored, is the plain blit's draw:
// its halving at 128 and its run-length path included.
TEST(DrawMemImgStretch, UnscaledDrawIsThePlainBlit) {
  EnsureWeights();
  std::mt19937 rng(31);
  int count = 0;
  for (const Kind& k : kKinds) {
    uint32_t key = k.paletted ? 3 : k.format == 1 ? 0x00405060u : 0x1234u;
    for (uint32_t mode : {0u, 1u, 2u, 3u, 4u, 10u, 11u}) {
      for (int p : {128, 255}) {
        for (int flags = 0; flags < 4; ++flags) {
          const bool key_on = flags & 1, blend_on = flags & 2;
          const IntRect r = (count++ % 2) ? IntRect{3, 2, 11, 8} : IntRect{-2, 14, 6, 20};
          Scene a(k, 8, 6, 23, 19, key), b(k, 8, 6, 23, 19, key);
          a.Prepare(rng);
          std::memcpy(b.src.img.base->pixel_block, a.src.Bytes().data(), a.src.Bytes().size());
          std::memcpy(b.dst.img.base->pixel_block, a.dst.Bytes().data(), a.dst.Bytes().size());
          std::memcpy(b.blend.img.base->pixel_block, a.blend.Bytes().data(), a.blend.Bytes().size());
          if (k.paletted) std::memcpy(b.src.img.base->palette, a.src.img.base->palette, 2048);
          const IntRect clip{1, 2, 21, 17};
          SetState(&a.dst.img, mode, p, kWhite, clip);
          DrawMemImgStretch(&a.dst.img, &a.src.img, &r, key_on ? 1 : 0, blend_on ? &a.blend.img : nullptr);
          SetState(&b.dst.img, mode, p, kWhite, clip);
          DrawMemImgBasic(&b.dst.img, &b.src.img, r.left, r.top, key_on ? 1 : 0, blend_on ? &b.blend.img : nullptr);
          ASSERT_EQ(a.dst.Bytes(), b.dst.Bytes()) << "kind " << k.format << k.paletted << k.alpha << " mode " << mode;
        }
      }
    }
  }
}

// On the standard walk a clipped draw shows the same pixels as the visible
// part of the whole draw.
TEST(DrawMemImgStretch, ClippedDrawEqualsVisiblePartOfWholeDraw) {
  std::mt19937 rng(5);
  for (uint32_t mode : {0u, 2u}) {
    for (auto r : {IntRect{3, 2, 40, 33}, IntRect{40, 33, 3, 2}, IntRect{5, 30, 38, 4}, IntRect{1, 1, 44, 37}}) {
      Image src(9, 7, kMemImg32), whole(48, 40, kMemImg32), cut(48, 40, kMemImg32);
      src.Randomise(rng);
      whole.Randomise(rng);
      const std::vector<uint8_t> before = whole.Bytes();
      std::memcpy(cut.img.base->pixel_block, before.data(), before.size());
      SetState(&whole.img, mode, 200, 0xF0E0D0, {0, 0, 48, 40});
      DrawMemImgStretch(&whole.img, &src.img, &r, 0, nullptr);
      const IntRect clip{11, 9, 30, 25};
      SetState(&cut.img, mode, 200, 0xF0E0D0, clip);
      DrawMemImgStretch(&cut.img, &src.img, &r, 0, nullptr);
      for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 48; ++x) {
          bool in = x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
          uint32_t expect;
          std::memcpy(&expect, in ? whole.At(x, y) : before.data() + y * whole.img.base->pitch + x * 4, 4);
          ASSERT_EQ(cut.Get(x, y), expect) << x << "," << y;
        }
      }
    }
  }
}

TEST(DrawMemImgStretch, RefusalsLeaveTheDestinationUntouched) {
  std::mt19937 rng(8);
  auto untouched = [&](MEMIMG* dst, const MEMIMG* src, IntRect r, int trans, const MEMIMG* blend, Image& d) {
    std::vector<uint8_t> before = d.Bytes();
    SetState(dst, 0, 255, kWhite, {0, 0, dst->width, dst->height});
    DrawMemImgStretch(dst, src, &r, trans, blend);
    return d.Bytes() == before;
  };
  Image src32(6, 6, kMemImg32), src16(6, 6, kMemImgRgb565);
  src32.Randomise(rng);
  src16.Randomise(rng);
  Image d16(20, 20, kMemImgRgb565), dpal(20, 20, kMemImg32, 1, 0), dalpha(20, 20, kMemImg32, 0, 1),
      d32(20, 20, kMemImg32), small_blend(5, 6, 2);
  d16.Randomise(rng);
  dpal.Randomise(rng);
  dalpha.Randomise(rng);
  d32.Randomise(rng);
  EXPECT_TRUE(untouched(&d16.img, &src32.img, {0, 0, 12, 12}, 0, nullptr, d16));      // formats differ
  EXPECT_TRUE(untouched(&d32.img, &src16.img, {0, 0, 12, 12}, 0, nullptr, d32));
  EXPECT_TRUE(untouched(&dpal.img, &src32.img, {0, 0, 12, 12}, 0, nullptr, dpal));    // paletted destination
  EXPECT_TRUE(untouched(&dalpha.img, &src32.img, {0, 0, 12, 12}, 0, nullptr, dalpha));  // alpha destination
  EXPECT_TRUE(untouched(&d32.img, &src32.img, {0, 0, 12, 0}, 0, nullptr, d32));       // empty rectangles
  EXPECT_TRUE(untouched(&d32.img, &src32.img, {5, 3, 5, 12}, 0, nullptr, d32));
  EXPECT_TRUE(untouched(&d32.img, &src32.img, {30, 0, 50, 10}, 0, nullptr, d32));     // wholly outside
  EXPECT_TRUE(untouched(&d32.img, &src32.img, {0, 0, 12, 12}, 0, &small_blend.img, d32));  // blend image too small
  EXPECT_TRUE(untouched(&d32.img, &src32.img, {0, 0, 12, 12}, 0, nullptr, d32) == false);
  for (uint32_t mode : {5u, 6u, 9u, 12u, 0x80000000u}) {
    std::vector<uint8_t> before = d32.Bytes();
    SetState(&d32.img, mode, 255, kWhite, {0, 0, 20, 20});
    IntRect r{0, 0, 13, 11};
    DrawMemImgStretch(&d32.img, &src32.img, &r, 0, nullptr);
    EXPECT_EQ(d32.Bytes(), before) << mode;
  }
}

TEST(DrawMemImgStretch, ExtremeRectanglesStayInsideTheClip) {
  std::mt19937 rng(9);
  Image src(5, 4, kMemImgRgb565), dst(30, 30, kMemImgRgb565);
  src.Randomise(rng);
  for (auto r : {IntRect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, IntRect{INT32_MAX, 3, INT32_MIN, 20},
                 IntRect{-70000, 5, 70000, 6}, IntRect{10, 10, 11, 11}}) {
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 30; ++x) dst.Set(x, y, 0);
    }
    SetState(&dst.img, 0, 0, kWhite, {4, 4, 26, 26});
    DrawMemImgStretch(&dst.img, &src.img, &r, 0, nullptr);
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 30; ++x) {
        if (x < 4 || x >= 26 || y < 4 || y >= 26) {
          ASSERT_EQ(dst.Get(x, y), 0u) << x << "," << y;
        }
      }
    }
  }
}

TEST(DrawMemImgStretch, WorkedValues) {
  auto one = [](Kind k, uint32_t src_word, uint32_t dst_word, uint32_t mode, int p, int trans = 0,
                uint8_t alpha = 255) {
    Image src(1, 1, k.format, k.paletted, k.alpha), dst(4, 4, k.format);
    if (k.paletted) {
      std::memcpy(src.img.base->palette + 4 * 2, &src_word, k.format == 1 ? 4 : 2);
      *src.At(0, 0) = 2;
    } else {
      src.Set(0, 0, src_word);
      if (k.alpha) src.At(0, 0)[k.format == 1 ? 3 : 2] = alpha;
    }
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 4; ++x) dst.Set(x, y, dst_word);
    }
    SetState(&dst.img, mode, p, kWhite, {0, 0, 4, 4});
    IntRect r{0, 0, 2, 2};
    DrawMemImgStretch(&dst.img, &src.img, &r, trans, nullptr);
    return dst.Get(1, 1);
  };
  const Kind k32{1, 0, 0}, k32a{1, 0, 1}, kpal{1, 1, 0}, k16{0, 0, 0}, k16a{0, 0, 1}, kpal16{0, 1, 0};
  // 32-bit: no halving at 128, keeps byte 3; the full-strength add keeps its lowest-bit OR.
  EXPECT_EQ(one(k32, 0x0B, 0x77000005, 1, 128), 0x77000008u);
  EXPECT_EQ(one(k32, 0x0100, 0x0300, 2, 255), 0x0300u);
  // A paletted source subtracts at p = 0: blue kept, green and red bit 0 set, byte 3 cleared.
  EXPECT_EQ(one(kpal, 0x00FFFFFF, 0xC8080604, 3, 0), 0x00090704u);
  // Alpha source, no flag: alpha 255 is still a blend, never the word copy.
  EXPECT_EQ(one(k32a, 0xFF0000FF, 0x00000000, 0, 0, 0, 255), 0x000000FEu);
  EXPECT_EQ(one(k32a, 0xFF0000FF, 0x11000000, 0, 0, 1, 255), 0xFF0000FFu);
  // Mode 4, 10, 11 worked values.
  EXPECT_EQ(one(k32, 0x80, 0x80, 4, 0), 0x40u);
  EXPECT_EQ(one(k32, 0x00, 0x00, 10, 255) & 0xFF, 254u);
  EXPECT_EQ(one(k32, 0xFF, 0xFF, 11, 255) & 0xFF, 254u);
  // Mode 4 with alpha 0 under the flag stays unchanged.
  EXPECT_EQ(one(k32a, 0x00000000, 0x00808080, 4, 0, 1, 0), 0x00808080u);
  // 16-bit.
  EXPECT_EQ(one(k16, 0x0000, 0xFFFF, 1, 128), 0x8410u);
  EXPECT_EQ(one(k16, 0xFFFF, 0xFFFF, 1, 128), 0xFFFFu);
  EXPECT_EQ(one(k16, 0xF800, 0xF800, 2, 255), 0xF800u);
  EXPECT_EQ(one(k16, 0x0000, 0x0000, 2, 255), 0x0000u);
  EXPECT_EQ(one(kpal16, 0x0000, 0xFFFF, 3, 0), 0xFFDFu);
  EXPECT_EQ(one(k16, 0x0000, 0xFFFF, 3, 0), 0xFFFFu);
  EXPECT_EQ(one(k16, 0x8410, 0x8410, 3, 255), 0x0800u);
  EXPECT_EQ(one(k16a, 0xFFFF, 0x1234, 0, 0, 0, 0), 0x1234u);
  EXPECT_EQ(one(k16a, 0xFFFF, 0x1234, 0, 0, 1, 255), 0xFFFFu);
  EXPECT_EQ(one(k16a, 0xFFFF, 0x1234, 4, 0, 1, 0), 0x1234u);
  // Mode 10 with the flag tests the source before inverting it.
  Image src(1, 1, kMemImgRgb565, 0, 0, 0x07E0), dst(2, 2, kMemImgRgb565);
  src.Set(0, 0, 0x07E0);
  for (int i = 0; i < 4; ++i) dst.Set(i % 2, i / 2, 0x1111);
  SetState(&dst.img, 10, 255, kWhite, {0, 0, 2, 2});
  IntRect r{0, 0, 2, 2};
  DrawMemImgStretch(&dst.img, &src.img, &r, 1, nullptr);
  EXPECT_EQ(dst.Get(1, 1), 0x1111u);
}

TEST(DrawMemImgStretch, BlendByteIsTheOneAtTheShownSourcePixel) {
  // Weight 0 leaves modes 0, 1, 10, 11 unchanged and turns mode 4 black;
  // the blend image is mirrored with the source.
  BuildBlendImageWeightTable(128, 255);  // weight[k] = k
  ASSERT_EQ(SoftBlendTables().weight[77], 77);
  Image src(2, 1, kMemImg32), dst(4, 1, kMemImg32), blend(2, 1, 2);
  src.Set(0, 0, 0x00FFFFFF);
  src.Set(1, 0, 0x00FFFFFF);
  blend.At(0, 0)[0] = 0;
  blend.At(1, 0)[0] = 255;
  for (uint32_t mode : {0u, 1u, 10u, 11u, 4u}) {
    for (int i = 0; i < 4; ++i) dst.Set(i, 0, 0x00404040);
    SetState(&dst.img, mode, 200, kWhite, {0, 0, 4, 1});
    IntRect r{4, 0, 0, 1};  // mirrored: columns 0, 1 show source 1, columns 2, 3 source 0
    DrawMemImgStretch(&dst.img, &src.img, &r, 0, &blend.img);
    uint32_t weight0 = dst.Get(3, 0);
    EXPECT_EQ(weight0, mode == 4 ? 0u : 0x00404040u) << mode;
    EXPECT_NE(dst.Get(0, 0), 0x00404040u) << mode;
  }
  EnsureWeights();
}

}  // namespace
