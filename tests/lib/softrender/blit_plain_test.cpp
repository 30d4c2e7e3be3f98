// The plain blit: refusals, clipping, the choice between the per-pixel and
// the run-length path, and every mode and variant in both pixel formats
// against a per-pixel reference built on blit_reference.h.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "lib/softrender/blend_tables.h"
#include "lib/softrender/memimg.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/softrender/soft_kernels.h"
#include "tests/lib/softrender/blit_reference.h"
#include "tests/support/log_capture.h"

namespace {

enum Kind { kPlain, kAlpha, kPaletted };

// An owned MEMIMG.
struct Img {
  MEMIMG m{};
  Img() = default;
  Img(int w, int h, int format, Kind kind, uint32_t key = 0, bool runs = false) {
    EXPECT_EQ(InitMemImg(&m, w, h, -1, key, format, kind == kPaletted, kind == kAlpha, runs ? 1 : 0, nullptr),
              0);
  }
  ~Img() {
    if (m.check == kMemImgCheck) ReleaseMemImg(&m);
  }
  Img(const Img&) = delete;
  Img& operator=(const Img&) = delete;
  MemImgBase& B() const { return *m.base; }
  int Bpp() const { return MemImgBytesPerPixel(B().pixel_format, B().paletted, B().alpha); }
  uint8_t* At(int i, int j) const { return m.pixels + j * B().pitch + i * Bpp(); }
  std::vector<uint8_t> Bytes() const {  // the view's rows
    std::vector<uint8_t> v;
    for (int j = 0; j < m.height; ++j) v.insert(v.end(), At(0, j), At(0, j) + m.width * Bpp());
    return v;
  }
};

uint32_t Get(const uint8_t* p, int n) {
  uint32_t v = 0;
  std::memcpy(&v, p, n);
  return v;
}
void Set(uint8_t* p, uint32_t v, int n) { std::memcpy(p, &v, n); }

// Random pixels with the classes that matter frequent: the key, alpha 0 and 255.
void FillRandom(Img& img, std::mt19937& rng) {
  const MemImgBase& b = img.B();
  const bool wide = b.pixel_format == kMemImg32;
  if (b.paletted) {
    for (int k = 0; k < 256; ++k) {
      if (wide) Set(b.palette + 4 * k, rng(), 4);
      else Set(b.palette + 2 * k, rng() & 0xFFFF, 2);
    }
  }
  for (int j = 0; j < img.m.height; ++j) {
    for (int i = 0; i < img.m.width; ++i) {
      uint8_t* px = img.At(i, j);
      const uint32_t r = rng();
      if (b.pixel_format == kMemImgByte) {
        px[0] = uint8_t(r);
      } else if (b.paletted) {
        px[0] = rng() % 4 == 0 ? uint8_t(b.colour_key) : uint8_t(r);
      } else if (b.alpha) {
        const uint32_t a = rng() % 3 == 0 ? 0 : (rng() % 2 ? 255 : rng() & 0xFF);
        if (wide) Set(px, (r & 0xFFFFFF) | a << 24, 4);
        else Set(px, (r & 0xFFFF) | a << 16 | (rng() & 0xFF) << 24, 4);
      } else if (wide) {
        Set(px, rng() % 4 == 0 ? b.colour_key : r, 4);
      } else {
        Set(px, rng() % 4 == 0 ? (b.colour_key & 0xFFFF) : (r & 0xFFFF), 2);
      }
    }
  }
}

void FillDest(Img& img, std::mt19937& rng) {
  for (int j = 0; j < img.m.height; ++j)
    for (int i = 0; i < img.m.width; ++i) Set(img.At(i, j), rng(), img.Bpp());
}

// The weight table by its definition, for border position pos and range r.
std::vector<uint8_t> Weights(int pos, int r) {
  std::vector<uint8_t> w(256);
  const int step = 65536 / (r + 1);
  const int base = 256 - ((step + 256) * pos) / 256;
  for (int k = 0; k < 256; ++k) {
    int v = (k * 256) / (r + 1) + base;
    w[k] = uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
  return w;
}

// What the blit should leave in dst (before: its bytes before the draw).
std::vector<uint8_t> Reference(const Img& dst, const std::vector<uint8_t>& before, const Img& src, int x, int y,
                               int trans, const Img* blend, const SoftDrawState& st,
                               const std::vector<uint8_t>& weight) {
  std::vector<uint8_t> out = before;
  const MemImgBase& sb = src.B();
  const MemImgBase& db = dst.B();
  if (sb.pixel_format != db.pixel_format || db.paletted || db.alpha) return out;
  if (sb.pixel_format != 0 && sb.pixel_format != 1) return out;
  const bool wide = sb.pixel_format == 1;
  const bool pal = sb.paletted == 1;
  const bool alpha = !pal && sb.alpha == 1;
  uint32_t mode = st.blend_mode;
  const int64_t p = st.blend_param;
  if ((mode >= 5 && mode <= 9) || mode > 11) return out;
  if ((mode == 1 || mode == 2) && p == 0) return out;
  if (mode == 3 && p == 0 && !pal) return out;
  if (mode == 1 && p == 255) mode = 0;
  const bool white = (st.bright & 0xFFFFFF) == 0xFFFFFF;

  const int64_t left = std::max<int64_t>({int64_t(x), st.clip.left, 0});
  const int64_t top = std::max<int64_t>({int64_t(y), st.clip.top, 0});
  const int64_t right = std::min<int64_t>({int64_t(x) + src.m.width, st.clip.right, dst.m.width});
  const int64_t bottom = std::min<int64_t>({int64_t(y) + src.m.height, st.clip.bottom, dst.m.height});
  if (right <= left || bottom <= top) return out;
  const bool whole = right - left == src.m.width && bottom - top == src.m.height;
  const bool whole_base = src.m.pixels == sb.pixel_block && src.m.width == sb.width && src.m.height == sb.height;
  const bool runs = trans == 1 && sb.run_table_valid == 1 && whole && whole_base;
  const blitref::Draw dr{int(mode), p, st.bright, blend != nullptr};
  const int dbpp = wide ? 4 : 2;

  // 16-bit modes 2 and 3 at full strength go in pairs from the left.
  const bool pairs = !wide && !alpha && !runs && white && !blend && (mode == 2 || mode == 3) && p == 255;
  for (int64_t Y = top; Y < bottom && pairs; ++Y) {
    for (int64_t X = left; X < right; X += 2) {
      auto pixel = [&](int64_t XX, uint32_t* S, bool* key) {
        const uint8_t* sp = src.At(int(XX - x), int(Y - y));
        *S = pal ? Get(sb.palette + 2 * sp[0], 2) : Get(sp, 2);
        *key = trans != 0 && (pal ? sp[0] == (sb.colour_key & 0xFF) : *S == (sb.colour_key & 0xFFFF));
      };
      uint8_t* dl = out.data() + (Y * dst.m.width + X) * 2;
      uint32_t Sl, Sr;
      bool kl, kr = true;
      pixel(X, &Sl, &kl);
      if (X + 1 < right) pixel(X + 1, &Sr, &kr);
      const blitref::Draw single{int(mode), 255, 0xFFFFFF, false};
      const blitref::Form form = mode == 2 ? blitref::Form::AddFull : blitref::Form::NoA;
      if (!kl && !kr) {
        uint16_t l, r;
        blitref::Pair16(int(mode), Get(dl, 2), Sl, Get(dl + 2, 2), Sr, &l, &r);
        Set(dl, l, 2);
        Set(dl + 2, r, 2);
      } else if (!kl) {
        Set(dl, blitref::Pixel16(single, form, Get(dl, 2), Sl, 0, 0), 2);
      } else if (!kr) {
        Set(dl + 2, blitref::Pixel16(single, form, Get(dl + 2, 2), Sr, 0, 0), 2);
      }
    }
  }
  for (int64_t Y = top; Y < bottom && !pairs; ++Y) {
    for (int64_t X = left; X < right; ++X) {
      const int i = int(X - x), j = int(Y - y);
      const uint8_t* sp = src.At(i, j);
      uint32_t S = 0, a = 0;
      bool is_key = false;
      if (pal) {
        S = wide ? Get(sb.palette + 4 * sp[0], 4) : Get(sb.palette + 2 * sp[0], 2);
        is_key = sp[0] == (sb.colour_key & 0xFF);
      } else if (wide) {
        S = Get(sp, 4);
        a = S >> 24;
        is_key = S == sb.colour_key;
      } else {
        S = Get(sp, 2);
        a = alpha ? sp[2] : 0;
        is_key = S == (sb.colour_key & 0xFFFF);
      }
      const int64_t w = blend ? weight[blend->At(i, j)[0]] : 0;
      blitref::Form form = blitref::Form::NoA;
      bool skip = false;
      if (!alpha) {
        skip = (runs || trans != 0) && is_key;
        if (!runs && white && !blend) {
          if (mode == 1 && p == 128) form = blitref::Form::Halve;
          else if (mode == 1 && !wide) form = blitref::Form::Mix;
          else if (mode == 2 && p == 255) form = blitref::Form::AddFull;
        }
      } else if (runs) {
        skip = a == 0;
        form = a == 255 ? blitref::Form::NoA : blitref::Form::WithA;
      } else if (trans != 0) {
        const bool skips_zero = wide ? mode <= 3 : mode != 4;
        skip = skips_zero && a == 0;
        form = a == 255 ? blitref::Form::NoA : blitref::Form::WithA;
      } else {
        form = (mode == 0 && white && !blend) ? blitref::Form::NoA : blitref::Form::WithA;
      }
      if (skip) continue;
      uint8_t* dp = out.data() + (Y * dst.m.width + X) * dbpp;
      const uint32_t D = Get(dp, dbpp);
      const uint32_t v = wide ? blitref::Pixel32(dr, form, D, S, a, w) : blitref::Pixel16(dr, form, D, S, a, w);
      Set(dp, v, dbpp);
    }
  }
  return out;
}

class PlainBlit : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BuildSoftBlendTables(); }
  void SetUp() override {
    saved_ = SoftDraw();
    BuildBlendImageWeightTable(100, 90);
    weight_ = Weights(100, 90);
  }
  void TearDown() override { SoftDraw() = saved_; }

  void State(uint32_t mode, int p, uint32_t bright, IntRect clip) {
    SoftDraw().blend_mode = mode;
    SoftDraw().blend_param = p;
    SoftDraw().bright = bright;
    SoftDraw().clip = clip;
  }
  // Draws and compares with the reference; returns whether anything changed.
  bool DrawAndCheck(Img& dst, const Img& src, int x, int y, int trans, const Img* blend,
                    const std::string& what) {
    const std::vector<uint8_t> before = dst.Bytes();
    const std::vector<uint8_t> want =
        Reference(dst, before, src, x, y, trans, blend, SoftDraw(), weight_);
    DrawMemImgBasic(&dst.m, &src.m, x, y, trans, blend ? &blend->m : nullptr);
    const std::vector<uint8_t> got = dst.Bytes();
    if (want != got) {
      size_t k = 0;
      while (want[k] == got[k]) ++k;
      ADD_FAILURE() << what << ": first difference at byte " << k << " (pixel " << k / dst.Bpp() << ")";
    }
    return before != got;
  }

  SoftDrawState saved_{};
  std::vector<uint8_t> weight_;
};

TEST_F(PlainBlit, EveryModeAndVariantMatchesTheReference) {
  std::mt19937 rng(2024);
  const uint32_t modes[] = {0, 1, 2, 3, 4, 5, 9, 10, 11, 12};
  const int params[] = {0, 1, 128, 200, 255};
  const uint32_t brights[] = {0xFFFFFF, 0xFF80C0FE};
  int drawn = 0;
  for (int format : {0, 1}) {
    for (Kind kind : {kPlain, kAlpha, kPaletted}) {
      const uint32_t key = format == 1 ? 0x00112233u : 0x1234u;
      Img src(13, 7, format, kind, kind == kPaletted ? 17 : key, true);
      FillRandom(src, rng);
      ASSERT_EQ(BuildMemImgRunTable(src.m.base), 0);
      Img blend(16, 9, 2, kPlain);
      FillRandom(blend, rng);
      Img dst(24, 16, format, kPlain);
      for (uint32_t mode : modes) {
        for (int p : params) {
          for (uint32_t bright : brights) {
            for (bool with_blend : {false, true}) {
              for (int trans : {0, 1, 2}) {
                // Whole source visible (run path with flag 1), and clipped on the left and bottom.
                for (int pos = 0; pos < 2; ++pos) {
                  FillDest(dst, rng);
                  State(mode, p, bright, IntRect{2, 1, 22, 12});
                  const int x = pos == 0 ? 4 : -1, y = pos == 0 ? 3 : 8;
                  std::string what = "format " + std::to_string(format) + " kind " + std::to_string(kind) +
                                     " mode " + std::to_string(mode) + " p " + std::to_string(p) +
                                     " bright " + std::to_string(bright) + " blend " +
                                     std::to_string(with_blend) + " trans " + std::to_string(trans) +
                                     " pos " + std::to_string(pos);
                  drawn += DrawAndCheck(dst, src, x, y, trans, with_blend ? &blend : nullptr, what);
                  if (HasFailure()) return;
                }
              }
            }
          }
        }
      }
    }
  }
  EXPECT_GT(drawn, 1000);  // the comparisons were not all of untouched images
}

TEST_F(PlainBlit, RefusalsLeaveTheDestinationUntouched) {
  std::mt19937 rng(5);
  Img src32(8, 8, 1, kPlain);
  Img src16(8, 8, 0, kPlain);
  FillRandom(src32, rng);
  FillRandom(src16, rng);
  Img dst16(16, 16, 0, kPlain);
  Img dst_pal(16, 16, 1, kPaletted);
  Img dst_alpha(16, 16, 1, kAlpha);
  Img dst_byte(16, 16, 2, kPlain);
  Img src_byte(8, 8, 2, kPlain);
  State(0, 255, 0xFFFFFF, IntRect{0, 0, 16, 16});
  struct Case {
    Img* dst;
    const Img* src;
  } cases[] = {{&dst16, &src32}, {&dst_pal, &src32}, {&dst_alpha, &src32}, {&dst_byte, &src_byte}};
  for (const Case& c : cases) {
    FillDest(*c.dst, rng);
    const auto before = c.dst->Bytes();
    DrawMemImgBasic(&c.dst->m, &c.src->m, 2, 2, 0, nullptr);
    EXPECT_EQ(before, c.dst->Bytes());
  }
  // Null and released images.
  Img dst32(16, 16, 1, kPlain);
  const auto before = dst32.Bytes();
  DrawMemImgBasic(nullptr, &src32.m, 0, 0, 0, nullptr);
  DrawMemImgBasic(&dst32.m, nullptr, 0, 0, 0, nullptr);
  MEMIMG released{};
  DrawMemImgBasic(&dst32.m, &released, 0, 0, 0, nullptr);
  EXPECT_EQ(before, dst32.Bytes());
  // A paletted 32-bit source onto a 32-bit destination is drawn.
  Img pal(4, 4, 1, kPaletted, 300);
  FillRandom(pal, rng);
  EXPECT_TRUE(DrawAndCheck(dst32, pal, 1, 1, 1, nullptr, "paletted"));
}

TEST_F(PlainBlit, ClippingAndBlendImageAlignment) {
  std::mt19937 rng(9);
  Img src(10, 6, 1, kPlain);
  FillRandom(src, rng);
  Img dst(32, 20, 1, kPlain);
  Img blend(10, 6, 2, kPlain);
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 10; ++i) blend.At(i, j)[0] = uint8_t(i * 25 + j);
  State(0, 0, 0xFFFFFF, IntRect{5, 2, 30, 18});
  FillDest(dst, rng);
  // Wholly right of, below, left of the clip rectangle; a source of zero width.
  for (auto [x, y] : {std::pair{30, 4}, {6, 18}, {-5, 4}, {6, -6}}) {
    const auto before = dst.Bytes();
    DrawMemImgBasic(&dst.m, &src.m, x, y, 0, nullptr);
    EXPECT_EQ(before, dst.Bytes()) << x << "," << y;
  }
  Img empty(1, 5, 1, kPlain);
  empty.m.width = 0;
  {
    const auto before = dst.Bytes();
    DrawMemImgBasic(&dst.m, &empty.m, 6, 6, 0, nullptr);
    EXPECT_EQ(before, dst.Bytes());
  }
  // Half outside on the left: source column 3 lands on clip left, with blend column 3.
  FillDest(dst, rng);
  DrawAndCheck(dst, src, 5 - 3, 4, 0, &blend, "left clipped with blend image");
  // Positions that would overflow a 32-bit sum draw nothing.
  const auto before = dst.Bytes();
  DrawMemImgBasic(&dst.m, &src.m, INT_MAX - 3, INT_MAX - 2, 0, nullptr);
  DrawMemImgBasic(&dst.m, &src.m, INT_MIN, INT_MIN, 0, nullptr);
  EXPECT_EQ(before, dst.Bytes());
}

TEST_F(PlainBlit, LeftClippedPixelsComeFromSourceColumnThree) {
  Img src(6, 1, 1, kPlain);
  for (int i = 0; i < 6; ++i) Set(src.At(i, 0), 0x00010101u * (i + 1), 4);
  Img blend(6, 1, 2, kPlain);
  for (int i = 0; i < 6; ++i) blend.At(i, 0)[0] = uint8_t(i == 3 ? 255 : 0);
  Img dst(8, 1, 1, kPlain);
  FillMemImgRawRect(&dst.m, nullptr, 0);
  State(0, 0, 0xFFFFFF, IntRect{2, 0, 8, 1});
  DrawMemImgBasic(&dst.m, &src.m, -1, 0, 0, nullptr);
  EXPECT_EQ(Get(dst.At(2, 0), 4), 0x00040404u);  // source column 3
  EXPECT_EQ(Get(dst.At(1, 0), 4), 0u);
  // With the blend image (weights of 0 and 255 by a sharp border), only the
  // pixel over blend column 3 moves toward the source: 4 * 255 / 256 = 3.
  BuildBlendImageWeightTable(128, 0);
  FillMemImgRawRect(&dst.m, nullptr, 0);
  DrawMemImgBasic(&dst.m, &src.m, -1, 0, 0, &blend.m);
  EXPECT_EQ(Get(dst.At(2, 0), 4), 0x00030303u);
  EXPECT_EQ(Get(dst.At(3, 0), 4), 0u);
}


TEST_F(PlainBlit, PathChoiceShowsInMode4OnAlphaZero) {
  // Mode 4 on a 32-bit alpha source: the run path skips alpha-0 pixels, the
  // per-pixel path with the flag multiplies them to black.
  Img src(4, 2, 1, kAlpha, 0, true);
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 4; ++i) Set(src.At(i, j), 0x00808080u, 4);
  ASSERT_EQ(BuildMemImgRunTable(src.m.base), 0);
  ASSERT_EQ(src.B().run_table_valid, 1);
  Img dst(8, 4, 1, kPlain);
  State(4, 0, 0xFFFFFF, IntRect{0, 0, 8, 4});
  auto draw = [&](int x, int trans) {
    FillMemImgRawRect(&dst.m, nullptr, 0x7FFFFFFFu);
    DrawMemImgBasic(&dst.m, &src.m, x, 1, trans, nullptr);
    return Get(dst.At(2, 1), 4);
  };
  EXPECT_EQ(draw(1, 1), 0x7FFFFFFFu);  // run path
  EXPECT_EQ(draw(1, 2), 0x7F000000u);  // flag 2: per-pixel
  EXPECT_EQ(draw(-1, 1), 0x7F000000u); // one column clipped: per-pixel
  src.B().run_table_valid = 0;
  EXPECT_EQ(draw(1, 1), 0x7F000000u);  // stale run table: per-pixel
}

TEST_F(PlainBlit, Mode1AtFullStrengthIsMode0OnBothPaths) {
  std::mt19937 rng(11);
  for (int format : {0, 1}) {
    for (Kind kind : {kPlain, kAlpha, kPaletted}) {
      Img src(9, 5, format, kind, 3, true);
      FillRandom(src, rng);
      ASSERT_EQ(BuildMemImgRunTable(src.m.base), 0);
      for (int trans : {0, 1, 2}) {
        for (uint32_t bright : {0xFFFFFFu, 0x40FF80u}) {
          Img a(12, 8, format, kPlain), b(12, 8, format, kPlain);
          FillDest(a, rng);
          std::memcpy(b.m.pixels, a.m.pixels, size_t(a.B().pitch) * 8);
          State(0, 17, bright, IntRect{0, 0, 12, 8});
          DrawMemImgBasic(&a.m, &src.m, 2, 1, trans, nullptr);
          State(1, 255, bright, IntRect{0, 0, 12, 8});
          DrawMemImgBasic(&b.m, &src.m, 2, 1, trans, nullptr);
          EXPECT_EQ(a.Bytes(), b.Bytes()) << format << " " << kind << " " << trans;
        }
      }
    }
  }
}

TEST_F(PlainBlit, WorkedValues) {
  // 16-bit halving: 0xFFFF over 0xFFFF gives 0xF7DE.
  Img s16(2, 1, 0, kPlain), d16(2, 1, 0, kPlain);
  Set(s16.At(0, 0), 0xFFFF, 2);
  Set(s16.At(1, 0), 0xFFFF, 2);
  FillMemImgRawRect(&d16.m, nullptr, 0xFFFF);
  State(1, 128, 0xFFFFFF, IntRect{0, 0, 2, 1});
  DrawMemImgBasic(&d16.m, &s16.m, 0, 0, 0, nullptr);
  EXPECT_EQ(Get(d16.At(0, 0), 2), 0xF7DEu);
  // Full-strength add works in pairs: a red that saturates on the left
  // carries into the black pixel on its right; at p = 254 it does not.
  for (int p : {255, 254}) {
    Set(s16.At(0, 0), 0xF800, 2);
    Set(s16.At(1, 0), 0x0000, 2);
    Set(d16.At(0, 0), 0xF800, 2);
    Set(d16.At(1, 0), 0x0000, 2);
    State(2, p, 0xFFFFFF, IntRect{0, 0, 2, 1});
    DrawMemImgBasic(&d16.m, &s16.m, 0, 0, 0, nullptr);
    EXPECT_EQ(Get(d16.At(0, 0), 2), 0xF800u);
    EXPECT_EQ(Get(d16.At(1, 0), 2), p == 255 ? 0x0001u : 0x0000u);
  }
  // The full-strength subtract of a pair: 0 - 0 beside 0 - 0 gives 0x0800
  // and 0x0801 (the left red did not borrow).
  Set(s16.At(0, 0), 0, 2);
  Set(s16.At(1, 0), 0, 2);
  FillMemImgRawRect(&d16.m, nullptr, 0);
  State(3, 255, 0xFFFFFF, IntRect{0, 0, 2, 1});
  DrawMemImgBasic(&d16.m, &s16.m, 0, 0, 0, nullptr);
  EXPECT_EQ(Get(d16.At(0, 0), 2), 0x0800u);
  EXPECT_EQ(Get(d16.At(1, 0), 2), 0x0801u);
  // 32-bit mode 0, alpha source, flag set, white: alpha 255 copies the alpha
  // byte, alpha 128 leaves byte 3 of the destination.
  Img s32(2, 1, 1, kAlpha), d32(2, 1, 1, kPlain);
  Set(s32.At(0, 0), 0xFF102030u, 4);
  Set(s32.At(1, 0), 0x80102030u, 4);
  FillMemImgRawRect(&d32.m, nullptr, 0x55000000u);
  State(0, 0, 0xFFFFFF, IntRect{0, 0, 2, 1});
  DrawMemImgBasic(&d32.m, &s32.m, 0, 0, 1, nullptr);
  EXPECT_EQ(Get(d32.At(0, 0), 4), 0xFF102030u);
  EXPECT_EQ(Get(d32.At(1, 0), 4) >> 24, 0x55u);
  // Run path, 16-bit alpha source: an alpha-255 pixel inside a translucent
  // run takes the form with alpha: floor(31 * 255 * 200 / 65536) = 24.
  Img a16(1, 1, 0, kAlpha, 0, true), t16(1, 1, 0, kPlain);
  Set(a16.At(0, 0), 0x00FFFFFFu, 4);
  a16.B().run_table[0] = 0x80;
  a16.B().run_table[1] = 0xC0;
  a16.B().run_table_valid = 1;
  FillMemImgRawRect(&t16.m, nullptr, 0);
  State(1, 200, 0xFFFFFF, IntRect{0, 0, 1, 1});
  DrawMemImgBasic(&t16.m, &a16.m, 0, 0, 1, nullptr);
  EXPECT_EQ(Get(t16.At(0, 0), 2), (24u << 11) | (49u << 5) | 24u);
}

TEST_F(PlainBlit, AViewOfASheetIsDrawnFromItsOwnPixels) {
  // The run stream describes the whole sheet; a view of part of it must not
  // be walked along it.
  std::mt19937 rng(3);
  for (int format : {0, 1}) {
    Img sheet(16, 8, format, kAlpha, 0, true);
    FillRandom(sheet, rng);
    ASSERT_EQ(BuildMemImgRunTable(sheet.m.base), 0);
    Img view;
    DeriveMemImg(&view.m, &sheet.m, 5, 2, 6, 4);
    ASSERT_EQ(IsValidMemImg(&view.m), 1);
    Img dst(12, 10, format, kPlain);
    FillDest(dst, rng);
    State(1, 100, 0xFFFFFF, IntRect{0, 0, 12, 10});
    EXPECT_TRUE(DrawAndCheck(dst, view, 3, 3, 1, nullptr, "view"));
  }
}

TEST_F(PlainBlit, AMalformedRunStreamStaysInsideTheSourceRows) {
  Img src(4, 2, 1, kPlain, 0, true);
  FillMemImgRawRect(&src.m, nullptr, 0x00ABCDEFu);
  Img dst(10, 6, 1, kPlain);
  State(0, 0, 0xFFFFFF, IntRect{0, 0, 10, 6});
  auto check = [&](const char* what) {
    for (int j = 0; j < 6; ++j)
      for (int i = 0; i < 10; ++i) {
        const bool inside = i >= 3 && i < 7 && j >= 2 && j < 4;
        const uint32_t v = Get(dst.At(i, j), 4);
        if (!inside) {
          EXPECT_EQ(v, 0x11111111u) << what << " " << i << "," << j;
        }
      }
  };
  // Runs of 64 in rows of 4.
  uint8_t* rt = src.B().run_table;
  const uint8_t longer[] = {0x7F, 0xC0, 0x7F, 0x7F, 0xC0};
  std::memcpy(rt, longer, sizeof longer);
  src.B().run_table_valid = 1;
  FillMemImgRawRect(&dst.m, nullptr, 0x11111111u);
  DrawMemImgBasic(&dst.m, &src.m, 3, 2, 1, nullptr);
  check("long runs");
  EXPECT_EQ(Get(dst.At(6, 3), 4), 0x00ABCDEFu);
  // No end bytes at all: the walk stops at the end of the stream.
  std::memset(rt, 0x41, (4 + 5) * 2);
  FillMemImgRawRect(&dst.m, nullptr, 0x11111111u);
  DrawMemImgBasic(&dst.m, &src.m, 3, 2, 1, nullptr);
  check("no end bytes");
}

TEST_F(PlainBlit, ABlendImageSmallerThanTheDrawIsRefusedWithALogLine) {
  testsupport::LogCapture log;
  std::mt19937 rng(8);
  Img src(8, 8, 1, kPlain);
  FillRandom(src, rng);
  Img small(8, 7, 2, kPlain);
  FillMemImgRawRect(&small.m, nullptr, 255);
  Img dst(16, 16, 1, kPlain);
  FillDest(dst, rng);
  State(0, 0, 0xFFFFFF, IntRect{0, 0, 16, 16});
  const auto before = dst.Bytes();
  DrawMemImgBasic(&dst.m, &src.m, 2, 2, 0, &small.m);
  EXPECT_EQ(before, dst.Bytes());
  EXPECT_NE(log.Debug().find("blend image"), std::string::npos);
  // Clipped so that only its first seven rows are drawn, it is enough.
  State(0, 0, 0xFFFFFF, IntRect{0, 0, 16, 9});
  EXPECT_TRUE(DrawAndCheck(dst, src, 2, 2, 0, &small, "clipped to the blend image"));
}

TEST_F(PlainBlit, AClipRectangleLargerThanTheDestinationWritesOnlyInside) {
  std::mt19937 rng(4);
  Img big(20, 20, 0, kPlain);
  FillMemImgRawRect(&big.m, nullptr, 0x5A5A);
  Img view;
  DeriveMemImg(&view.m, &big.m, 5, 5, 8, 8);
  Img src(12, 12, 0, kPlain);
  FillRandom(src, rng);
  State(0, 0, 0xFFFFFF, IntRect{-5, -5, 100, 100});
  DrawMemImgBasic(&view.m, &src.m, -2, -2, 0, nullptr);
  for (int j = 0; j < 20; ++j)
    for (int i = 0; i < 20; ++i) {
      const bool inside = i >= 5 && i < 13 && j >= 5 && j < 13;
      const uint32_t v = Get(big.At(i, j), 2);
      if (inside) EXPECT_EQ(v, Get(src.At(i - 5 + 2, j - 5 + 2), 2));
      else EXPECT_EQ(v, 0x5A5Au) << i << "," << j;
    }
}

TEST_F(PlainBlit, RunPathEqualsPerPixelPathWhereTheirFormsAgree) {
  // Flag 1 walks the run stream, flag 2 tests each pixel. They agree except
  // for the fast forms of the white draw (halving, the six-bit mix, the add
  // at 255) and for alpha-0 pixels where the per-pixel path does not skip
  // them (32-bit modes 4, 10, 11; 16-bit mode 4).
  std::mt19937 rng(21);
  int compared = 0;
  for (int format : {0, 1}) {
    for (Kind kind : {kPlain, kAlpha, kPaletted}) {
      Img src(70, 5, format, kind, kind == kPaletted ? 9 : 0x0F0F, true);  // rows longer than one run
      FillRandom(src, rng);
      ASSERT_EQ(BuildMemImgRunTable(src.m.base), 0);
      Img blend(70, 5, 2, kPlain);
      FillRandom(blend, rng);
      for (uint32_t mode : {0u, 1u, 2u, 3u, 4u, 10u, 11u}) {
        const bool alpha_zero_differs =
            kind == kAlpha && (format == 1 ? (mode == 4 || mode == 10 || mode == 11) : mode == 4);
        if (alpha_zero_differs) continue;
        for (uint32_t bright : {0xFFFFFFu, 0x20FF90u}) {
          for (bool with_blend : {false, true}) {
            const bool white = bright == 0xFFFFFFu;
            if (white && !with_blend && kind != kAlpha && (mode == 1 || mode == 2)) continue;
            Img a(72, 7, format, kPlain), b(72, 7, format, kPlain);
            FillDest(a, rng);
            std::memcpy(b.m.pixels, a.m.pixels, size_t(a.B().pitch) * 7);
            State(mode, 77, bright, IntRect{0, 0, 72, 7});
            DrawMemImgBasic(&a.m, &src.m, 1, 1, 1, with_blend ? &blend.m : nullptr);
            DrawMemImgBasic(&b.m, &src.m, 1, 1, 2, with_blend ? &blend.m : nullptr);
            EXPECT_EQ(a.Bytes(), b.Bytes()) << format << " " << kind << " mode " << mode << " " << bright << " "
                                            << with_blend;
            ++compared;
          }
        }
      }
    }
  }
  EXPECT_GT(compared, 100);
}

}  // namespace
