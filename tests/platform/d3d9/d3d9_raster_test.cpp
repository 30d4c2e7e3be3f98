// Rasteriser goldens of the Direct3D stand-in, each checked against a
// per-pixel reference computed here from first principles (edge functions
// in double precision, barycentric texture coordinates, blending in floating
// point).
#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "tests/platform/d3d9/d3d9_test_support.h"

using namespace d3dtest;

namespace {

uint32_t Pattern(int x, int y) {
  return 0xFF000000u | (uint32_t(x * 13 + 7) & 255) << 16 | (uint32_t(y * 29 + 3) & 255) << 8 | uint32_t((x ^ y) * 17 & 255);
}

// Snaps a coordinate to the rasteriser's 1/256 grid (to the nearest, ties to even).
double Snap(float v) { return std::nearbyint(double(v) * 256.0) / 256.0; }

// Whether the pixel centre (px, py) is inside the triangle, with the top-left
// rule, evaluated in double precision on the snapped corners.
bool RefCovers(const double* x, const double* y, double px, double py) {
  double area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
  if (area == 0) return false;
  int order[3] = {0, 1, 2};
  if (area < 0) std::swap(order[1], order[2]);
  for (int e = 0; e < 3; e++) {
    int i = order[e], j = order[(e + 1) % 3];
    double dx = x[j] - x[i], dy = y[j] - y[i];
    double val = dx * (py - y[i]) - dy * (px - x[i]);
    bool top_left = (-dy > 0) || (dy == 0 && dx > 0);
    if (val < 0 || (val == 0 && !top_left)) return false;
  }
  return true;
}

}  // namespace

TEST_F(DeviceTest, TexturedQuadCoversExactlyItsPixels) {
  MakeDevice(64, 64);
  Fill(0xFF102030u);
  auto* tex = MakeTexture(16, 16, plat::D3DFMT_A8R8G8B8, Pattern);
  ModulateStage();
  device_->SetTexture(0, tex);
  std::vector<TexVertex> v;
  // A 16 x 16 graphic at (10, 20) placed half a pixel up and left.
  Quad(&v, TV(9.5f, 19.5f, 0, 0), TV(25.5f, 19.5f, 1, 0), TV(9.5f, 35.5f, 0, 1), TV(25.5f, 35.5f, 1, 1));
  for (bool generic : {false, true}) {
    plat::SetForceGenericSpans(generic);
    Fill(0xFF102030u);
    DrawTex(v);
    auto* bb = BackBuffer();
    for (int y = 0; y < 64; y++)
      for (int x = 0; x < 64; x++) {
        bool in = x >= 10 && x < 26 && y >= 20 && y < 36;
        uint32_t want = in ? Pattern(x - 10, y - 20) : 0xFF102030u;
        ASSERT_EQ(bb->ReadPixel(x, y), want) << x << "," << y << " generic " << generic;
      }
  }
  device_->SetTexture(0, nullptr);
  tex->Release();
}

TEST_F(DeviceTest, OutlineBoxAndSharedDiagonalsCoverEachPixelOnce) {
  MakeDevice(40, 40);
  Fill(0xFF000000u);
  // Adding a constant: a pixel drawn twice would show double the value.
  Blend(plat::D3DBLEND_ONE, plat::D3DBLEND_ONE);
  device_->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_DIFFUSE);
  device_->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, plat::D3DTSS_ALPHAARG1, plat::D3DTA_DIFFUSE);
  const uint32_t c = 0xFF101010u;
  std::vector<ColorVertex> v;
  auto strip = [&](float l, float t, float r, float b) {
    v.insert(v.end(), {CV(l, t, c), CV(r, t, c), CV(l, b, c), CV(r, b, c), CV(l, b, c), CV(r, t, c)});
  };
  // The outline of (10, 10, 20, 20) as four one-pixel strips.
  strip(10, 10, 20, 11);
  strip(19, 11, 20, 20);
  strip(10, 11, 11, 20);
  strip(11, 19, 19, 20);
  DrawColor(v);
  auto* bb = BackBuffer();
  int count = 0;
  for (int y = 0; y < 40; y++)
    for (int x = 0; x < 40; x++) {
      bool edge = x >= 10 && x < 20 && y >= 10 && y < 20 && (x == 10 || x == 19 || y == 10 || y == 19);
      ASSERT_EQ(bb->ReadPixel(x, y), edge ? 0xFF101010u : 0xFF000000u) << x << "," << y;
      count += edge;
    }
  EXPECT_EQ(count, 36);

  // Random quads split along a diagonal: every pixel inside exactly once.
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> pos(-5.0f, 45.0f);
  for (int round = 0; round < 50; round++) {
    Fill(0xFF000000u);
    float x[4], y[4];
    for (int i = 0; i < 4; i++) {
      x[i] = pos(rng);
      y[i] = pos(rng);
    }
    // A convex quad: a parallelogram from three points.
    x[3] = x[1] + x[2] - x[0];
    y[3] = y[1] + y[2] - y[0];
    std::vector<ColorVertex> q = {CV(x[0], y[0], c), CV(x[1], y[1], c), CV(x[2], y[2], c),
                                  CV(x[3], y[3], c), CV(x[2], y[2], c), CV(x[1], y[1], c)};
    DrawColor(q);
    double sx[4], sy[4];
    for (int i = 0; i < 4; i++) {
      sx[i] = Snap(x[i]);
      sy[i] = Snap(y[i]);
    }
    double t1x[3] = {sx[0], sx[1], sx[2]}, t1y[3] = {sy[0], sy[1], sy[2]};
    double t2x[3] = {sx[3], sx[2], sx[1]}, t2y[3] = {sy[3], sy[2], sy[1]};
    for (int py = 0; py < 40; py++)
      for (int px = 0; px < 40; px++) {
        int n = RefCovers(t1x, t1y, px, py) + RefCovers(t2x, t2y, px, py);
        ASSERT_EQ(bb->ReadPixel(px, py), 0xFF000000u | 0x101010u * uint32_t(n)) << round << ": " << px << "," << py;
      }
  }
}

// Alpha and additive blending of a translucent texture onto a patterned
// target, in a 32-bit and a 16-bit target.
TEST_F(DeviceTest, AlphaAndAdditiveBlendingIn32And16BitTargets) {
  for (plat::D3DFORMAT fmt : {plat::D3DFMT_X8R8G8B8, plat::D3DFMT_R5G6B5}) {
    for (int mode = 0; mode < 2; mode++) {
      MakeDevice(32, 32, fmt);
      auto src = [](int x, int y) { return (uint32_t(x * 16 + 8) << 24) | (uint32_t(y * 16) << 16) | 0x8040u | uint32_t(x * 3); };
      auto* tex = MakeTexture(16, 16, plat::D3DFMT_A8R8G8B8, src);
      auto* bb = BackBuffer();
      for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++) bb->WritePixel(x, y, Pattern(x, y));
      ModulateStage();
      device_->SetTexture(0, tex);
      if (mode == 0) Blend(plat::D3DBLEND_SRCALPHA, plat::D3DBLEND_INVSRCALPHA);
      else Blend(plat::D3DBLEND_SRCALPHA, plat::D3DBLEND_ONE);
      const uint32_t diffuse = 0xC0FF80FFu;
      std::vector<TexVertex> v;
      Quad(&v, TV(3.5f, 5.5f, 0, 0, diffuse), TV(19.5f, 5.5f, 1, 0), TV(3.5f, 21.5f, 0, 1), TV(19.5f, 21.5f, 1, 1, diffuse));
      DrawTex(v);
      for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++) {
          uint32_t dst = Pattern(x, y);
          if (fmt == plat::D3DFMT_R5G6B5) dst = Ref565Decode(Ref565Encode(dst));
          uint32_t want = dst;
          if (x >= 4 && x < 20 && y >= 6 && y < 22) {
            uint32_t s = src(x - 4, y - 6);
            double sc[4];
            for (int i = 0; i < 4; i++) sc[i] = double(RefCh(s, i)) * RefCh(diffuse, i) / 255.0;
            uint32_t sm[4];
            for (int i = 0; i < 4; i++) sm[i] = uint32_t(std::floor(sc[i] + 0.5));
            double a = sm[3];
            want = 0;
            for (int i = 0; i < 4; i++) {
              double d = RefCh(dst, i);
              double r = mode == 0 ? (sm[i] * a + d * (255 - a)) : (sm[i] * a + d * 255);
              want |= std::min<uint32_t>(255, RefDiv255(r)) << (8 * i);
            }
          }
          if (fmt == plat::D3DFMT_R5G6B5) want = Ref565Decode(Ref565Encode(want));
          else want |= 0xFF000000u;
          ASSERT_EQ(bb->ReadPixel(x, y), want) << "format " << fmt << " mode " << mode << " at " << x << "," << y;
        }
      device_->SetTexture(0, nullptr);
      tex->Release();
    }
  }
}

TEST_F(DeviceTest, BilinearRotationMatchesReference) {
  MakeDevice(64, 64);
  Fill(0xFF000000u);
  const int W = 16, H = 16;
  auto texel = [](int x, int y) { return 0xFF000000u | (uint32_t(x * 16) << 16) | (uint32_t(y * 16) << 8) | uint32_t(((x + y) & 1) * 255); };
  auto* tex = MakeTexture(W, H, plat::D3DFMT_X8R8G8B8, texel);
  ModulateStage();
  device_->SetSamplerState(0, plat::D3DSAMP_MAGFILTER, plat::D3DTEXF_LINEAR);
  device_->SetSamplerState(0, plat::D3DSAMP_MINFILTER, plat::D3DTEXF_LINEAR);
  device_->SetTexture(0, tex);
  const double ang = 30.0 * 3.14159265358979323846 / 180.0;
  const double cx = 31.3, cy = 30.7, scale = 2.5;
  float vx[4], vy[4];
  double cu[4] = {0, 1, 0, 1}, cv[4] = {0, 0, 1, 1};
  for (int i = 0; i < 4; i++) {
    double lx = (cu[i] - 0.5) * W * scale, ly = (cv[i] - 0.5) * H * scale;
    vx[i] = float(cx + std::cos(ang) * lx - std::sin(ang) * ly);
    vy[i] = float(cy + std::sin(ang) * lx + std::cos(ang) * ly);
  }
  std::vector<TexVertex> v;
  Quad(&v, TV(vx[0], vy[0], 0, 0), TV(vx[1], vy[1], 1, 0), TV(vx[2], vy[2], 0, 1), TV(vx[3], vy[3], 1, 1));
  DrawTex(v);
  auto* bb = BackBuffer();
  double sx[4], sy[4];
  for (int i = 0; i < 4; i++) {
    sx[i] = Snap(vx[i]);
    sy[i] = Snap(vy[i]);
  }
  int tris[2][3] = {{0, 1, 2}, {3, 2, 1}};
  int covered = 0;
  for (int py = 0; py < 64; py++)
    for (int px = 0; px < 64; px++) {
      uint32_t want = 0xFF000000u;
      for (auto& t : tris) {
        double tx[3] = {sx[t[0]], sx[t[1]], sx[t[2]]}, ty[3] = {sy[t[0]], sy[t[1]], sy[t[2]]};
        if (!RefCovers(tx, ty, px, py)) continue;
        covered++;
        // Barycentric texture coordinates at the pixel centre.
        double det = (tx[1] - tx[0]) * (ty[2] - ty[0]) - (tx[2] - tx[0]) * (ty[1] - ty[0]);
        double l1 = ((px - tx[0]) * (ty[2] - ty[0]) - (tx[2] - tx[0]) * (py - ty[0])) / det;
        double l2 = ((tx[1] - tx[0]) * (py - ty[0]) - (px - tx[0]) * (ty[1] - ty[0])) / det;
        double l0 = 1 - l1 - l2;
        double u = (l0 * cu[t[0]] + l1 * cu[t[1]] + l2 * cu[t[2]]) * W - 0.5;
        double vv = (l0 * cv[t[0]] + l1 * cv[t[1]] + l2 * cv[t[2]]) * H - 0.5;
        int x0 = int(std::floor(u)), y0 = int(std::floor(vv));
        // Weights in steps of 1/256, as the filter uses them.
        double fx = std::floor((u - x0) * 256) / 256, fy = std::floor((vv - y0) * 256) / 256;
        auto at = [&](int x, int y) { return texel(std::clamp(x, 0, W - 1), std::clamp(y, 0, H - 1)); };
        want = 0;
        for (int i = 0; i < 4; i++) {
          double c = RefCh(at(x0, y0), i) * (1 - fx) * (1 - fy) + RefCh(at(x0 + 1, y0), i) * fx * (1 - fy) +
                     RefCh(at(x0, y0 + 1), i) * (1 - fx) * fy + RefCh(at(x0 + 1, y0 + 1), i) * fx * fy;
          want |= uint32_t(std::floor(c + 0.5)) << (8 * i);
        }
        want |= 0xFF000000u;
      }
      uint32_t got = bb->ReadPixel(px, py);
      // Coverage must agree exactly; the 8-bit weights may move a channel by one level.
      ASSERT_EQ(got == 0xFF000000u && want != 0xFF000000u, false) << px << "," << py;
      ASSERT_TRUE(Near(got, want, 1)) << px << "," << py << " got " << std::hex << got << " want " << want;
    }
  EXPECT_GT(covered, 1000);
  device_->SetTexture(0, nullptr);
  tex->Release();
}

// Subtracting the source from the destination natively (reverse subtract)
// and by the inversion emulation the library uses without it.
TEST_F(DeviceTest, SubtractWithAndWithoutBlendOpAgreeWithinOneLevel) {
  auto draw_scene = [&](bool native) {
    MakeDevice(32, 32);
    auto* bb = BackBuffer();
    for (int y = 0; y < 32; y++)
      for (int x = 0; x < 32; x++) bb->WritePixel(x, y, Pattern(x, y));
    auto* tex = MakeTexture(16, 16, plat::D3DFMT_A8R8G8B8,
                            [](int x, int y) { return (uint32_t(255 - x * 8) << 24) | (uint32_t(y * 15) << 16) | (uint32_t(x * 15) << 8) | 0x60u; });
    std::vector<TexVertex> v;
    Quad(&v, TV(3.5f, 3.5f, 0, 0), TV(19.5f, 3.5f, 1, 0), TV(3.5f, 19.5f, 0, 1), TV(19.5f, 19.5f, 1, 1));
    ModulateStage();
    auto white_box = [&] {
      device_->SetTexture(0, nullptr);
      device_->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_SELECTARG1);
      device_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_DIFFUSE);
      device_->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_SELECTARG1);
      device_->SetTextureStageState(0, plat::D3DTSS_ALPHAARG1, plat::D3DTA_DIFFUSE);
      Blend(plat::D3DBLEND_INVDESTCOLOR, plat::D3DBLEND_ZERO);
      const uint32_t w = 0xFFFFFFFFu;
      DrawColor({CV(4, 4, w), CV(20, 4, w), CV(4, 20, w), CV(20, 20, w), CV(4, 20, w), CV(20, 4, w)});
      ModulateStage();
    };
    if (native) {
      Blend(plat::D3DBLEND_SRCALPHA, plat::D3DBLEND_ONE, plat::D3DBLENDOP_REVSUBTRACT);
      device_->SetTexture(0, tex);
      DrawTex(v);
    } else {
      white_box();
      Blend(plat::D3DBLEND_SRCALPHA, plat::D3DBLEND_ONE);
      device_->SetTexture(0, tex);
      DrawTex(v);
      white_box();
    }
    std::vector<uint32_t> out;
    for (int y = 0; y < 32; y++)
      for (int x = 0; x < 32; x++) out.push_back(bb->ReadPixel(x, y));
    device_->SetTexture(0, nullptr);
    tex->Release();
    return out;
  };
  auto a = draw_scene(true), b = draw_scene(false);
  int changed = 0;
  for (size_t i = 0; i < a.size(); i++) {
    ASSERT_TRUE(Near(a[i], b[i], 1)) << i % 32 << "," << i / 32;
    changed += a[i] != Pattern(int(i % 32), int(i / 32));
  }
  EXPECT_GT(changed, 100);
}

TEST_F(DeviceTest, FlatShadingTakesTheFirstVertexColour) {
  MakeDevice(16, 16);
  Fill(0);
  device_->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_DIFFUSE);
  DrawColor({CV(0, 0, 0xFF112233u), CV(16, 0, 0xFFFFFFFFu), CV(0, 16, 0xFF000000u),
             CV(16, 16, 0xFF445566u), CV(0, 16, 0xFFFFFFFFu), CV(16, 0, 0xFF000000u)});
  auto* bb = BackBuffer();
  EXPECT_EQ(bb->ReadPixel(2, 2), 0xFF112233u);
  EXPECT_EQ(bb->ReadPixel(13, 13), 0xFF445566u);
  // Gouraud shading interpolates: the middle of an edge from black to white is grey.
  device_->SetRenderState(plat::D3DRS_SHADEMODE, plat::D3DSHADE_GOURAUD);
  DrawColor({CV(-0.5f, 0, 0xFF000000u), CV(15.5f, 0, 0xFFFFFFFFu), CV(-0.5f, 16, 0xFF000000u),
             CV(15.5f, 16, 0xFFFFFFFFu), CV(-0.5f, 16, 0xFF000000u), CV(15.5f, 0, 0xFFFFFFFFu)});
  EXPECT_TRUE(Near(bb->ReadPixel(8, 5), 0xFF888888u, 1)) << std::hex << bb->ReadPixel(8, 5);
  EXPECT_TRUE(Near(bb->ReadPixel(0, 5), 0xFF080808u, 1)) << std::hex << bb->ReadPixel(0, 5);
}

// One pixel drawn with a texture stage set-up, against the operation's formula.
TEST_F(DeviceTest, TextureStageOperations) {
  MakeDevice(4, 4);
  const uint32_t texel = 0x80C04020u, diffuse = 0x40306090u, factor = 0xA0102030u;
  auto* tex = MakeTexture(1, 1, plat::D3DFMT_A8R8G8B8, [&](int, int) { return texel; });
  device_->SetTexture(0, tex);
  device_->SetRenderState(plat::D3DRS_TEXTUREFACTOR, factor);
  struct Case {
    uint32_t op, a1, a2;
    double (*f)(double t, double d, double k, double ta, double da, double ka);
  };
  auto clamp = [](double v) { return std::clamp(v, 0.0, 255.0); };
  (void)clamp;
  std::vector<Case> cases = {
      {plat::D3DTOP_MODULATE2X, plat::D3DTA_TEXTURE, plat::D3DTA_DIFFUSE,
       [](double t, double d, double, double, double, double) { return std::min(255.0, std::floor(t * d * 2 / 255 + 0.5)); }},
      {plat::D3DTOP_MODULATE4X, plat::D3DTA_TEXTURE, plat::D3DTA_DIFFUSE,
       [](double t, double d, double, double, double, double) { return std::min(255.0, std::floor(t * d * 4 / 255 + 0.5)); }},
      {plat::D3DTOP_ADD, plat::D3DTA_TEXTURE, plat::D3DTA_DIFFUSE,
       [](double t, double d, double, double, double, double) { return std::min(255.0, t + d); }},
      {plat::D3DTOP_SUBTRACT, plat::D3DTA_TEXTURE, plat::D3DTA_DIFFUSE,
       [](double t, double d, double, double, double, double) { return std::max(0.0, t - d); }},
      {plat::D3DTOP_SUBTRACT, plat::D3DTA_TEXTURE | plat::D3DTA_COMPLEMENT, plat::D3DTA_DIFFUSE,
       [](double t, double d, double, double, double, double) { return std::max(0.0, 255 - t - d); }},
      {plat::D3DTOP_BLENDDIFFUSEALPHA, plat::D3DTA_TEXTURE, plat::D3DTA_TFACTOR,
       [](double t, double, double k, double, double da, double) { return std::floor((t * da + k * (255 - da)) / 255 + 0.5); }},
      {plat::D3DTOP_BLENDTEXTUREALPHA, plat::D3DTA_DIFFUSE, plat::D3DTA_TFACTOR,
       [](double, double d, double k, double ta, double, double) { return std::floor((d * ta + k * (255 - ta)) / 255 + 0.5); }},
      {plat::D3DTOP_BLENDFACTORALPHA, plat::D3DTA_TEXTURE, plat::D3DTA_DIFFUSE,
       [](double t, double d, double, double, double, double ka) { return std::floor((t * ka + d * (255 - ka)) / 255 + 0.5); }},
      {plat::D3DTOP_SELECTARG2, plat::D3DTA_TEXTURE, plat::D3DTA_TFACTOR | plat::D3DTA_ALPHAREPLICATE,
       [](double, double, double, double, double, double ka) { return ka; }},
  };
  for (const Case& cs : cases) {
    Fill(0);
    device_->SetTextureStageState(0, plat::D3DTSS_COLOROP, cs.op);
    device_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, cs.a1);
    device_->SetTextureStageState(0, plat::D3DTSS_COLORARG2, cs.a2);
    device_->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_SELECTARG1);
    device_->SetTextureStageState(0, plat::D3DTSS_ALPHAARG1, plat::D3DTA_TEXTURE);
    std::vector<TexVertex> v;
    Quad(&v, TV(-0.5f, -0.5f, 0, 0, diffuse), TV(3.5f, -0.5f, 1, 0), TV(-0.5f, 3.5f, 0, 1), TV(3.5f, 3.5f, 1, 1, diffuse));
    DrawTex(v);
    uint32_t got = BackBuffer()->ReadPixel(1, 1);
    for (int i = 0; i < 3; i++) {
      double want = cs.f(RefCh(texel, i), RefCh(diffuse, i), RefCh(factor, i), texel >> 24, diffuse >> 24, factor >> 24);
      EXPECT_EQ(RefCh(got, i), uint32_t(want)) << "op " << cs.op << " channel " << i;
    }
  }
  // A second stage that blends toward the texture factor by the current alpha.
  Fill(0);
  device_->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_DIFFUSE);
  device_->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, plat::D3DTSS_ALPHAARG1, plat::D3DTA_DIFFUSE);
  device_->SetTextureStageState(1, plat::D3DTSS_COLOROP, plat::D3DTOP_BLENDCURRENTALPHA);
  device_->SetTextureStageState(1, plat::D3DTSS_COLORARG1, plat::D3DTA_CURRENT);
  device_->SetTextureStageState(1, plat::D3DTSS_COLORARG2, plat::D3DTA_TFACTOR);
  device_->SetTextureStageState(1, plat::D3DTSS_ALPHAOP, plat::D3DTOP_SELECTARG1);
  device_->SetTextureStageState(1, plat::D3DTSS_ALPHAARG1, plat::D3DTA_CURRENT);
  std::vector<TexVertex> v;
  Quad(&v, TV(-0.5f, -0.5f, 0, 0, diffuse), TV(3.5f, -0.5f, 1, 0), TV(-0.5f, 3.5f, 0, 1), TV(3.5f, 3.5f, 1, 1, diffuse));
  DrawTex(v);
  uint32_t got = BackBuffer()->ReadPixel(2, 2);
  for (int i = 0; i < 3; i++) {
    double da = diffuse >> 24;
    EXPECT_EQ(RefCh(got, i), RefDiv255(RefCh(diffuse, i) * da + RefCh(factor, i) * (255 - da))) << i;
  }
  device_->SetTextureStageState(1, plat::D3DTSS_COLOROP, plat::D3DTOP_DISABLE);
  device_->SetTexture(0, nullptr);
  tex->Release();
}

// A 4 x 3 texture drawn over 16 x 12 pixels with u and v from -1 to 3, so
// that pixel (x, y) samples texel (x - 4, y - 3) before addressing: each mode
// meets both edges and the far side of its period. The texel each pixel
// takes was worked out by hand from each mode's rule (-1: the border colour).
TEST_F(DeviceTest, WrapMirrorBorderAndClampAddressingAtTheEdges) {
  constexpr int kB = -1;
  const int wrap_u[16] = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3};
  const int mirror_u[16] = {3, 2, 1, 0, 0, 1, 2, 3, 3, 2, 1, 0, 0, 1, 2, 3};
  const int border_u[16] = {kB, kB, kB, kB, 0, 1, 2, 3, kB, kB, kB, kB, kB, kB, kB, kB};
  const int clamp_u[16] = {0, 0, 0, 0, 0, 1, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3};
  const int wrap_v[12] = {0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2};
  const int mirror_v[12] = {2, 1, 0, 0, 1, 2, 2, 1, 0, 0, 1, 2};
  const int border_v[12] = {kB, kB, kB, 0, 1, 2, kB, kB, kB, kB, kB, kB};
  const int clamp_v[12] = {0, 0, 0, 0, 1, 2, 2, 2, 2, 2, 2, 2};
  struct Case {
    uint32_t mode_u, mode_v;
    const int *u, *v;  // the texel column of each pixel column, the row of each row
  };
  const Case cases[] = {
      {plat::D3DTADDRESS_WRAP, plat::D3DTADDRESS_MIRROR, wrap_u, mirror_v},
      {plat::D3DTADDRESS_MIRROR, plat::D3DTADDRESS_BORDER, mirror_u, border_v},
      {plat::D3DTADDRESS_BORDER, plat::D3DTADDRESS_CLAMP, border_u, clamp_v},
      {plat::D3DTADDRESS_CLAMP, plat::D3DTADDRESS_WRAP, clamp_u, wrap_v},
  };
  auto texel = [](int x, int y) {
    return 0xFF000000u | uint32_t(x * 0x40 + 0x20) << 16 | uint32_t(y * 0x50 + 0x10) << 8 | 0x33u;
  };
  const uint32_t border = 0xFF00FF00u;
  MakeDevice(16, 12);
  auto* tex = MakeTexture(4, 3, plat::D3DFMT_A8R8G8B8, texel);
  ModulateStage();
  device_->SetTexture(0, tex);
  device_->SetSamplerState(0, plat::D3DSAMP_BORDERCOLOR, border);
  std::vector<TexVertex> v;
  Quad(&v, TV(-0.5f, -0.5f, -1, -1), TV(15.5f, -0.5f, 3, -1), TV(-0.5f, 11.5f, -1, 3), TV(15.5f, 11.5f, 3, 3));
  for (const Case& c : cases) {
    device_->SetSamplerState(0, plat::D3DSAMP_ADDRESSU, c.mode_u);
    device_->SetSamplerState(0, plat::D3DSAMP_ADDRESSV, c.mode_v);
    for (bool generic : {false, true}) {
      plat::SetForceGenericSpans(generic);
      Fill(0xFF102030u);
      DrawTex(v);
      auto* bb = BackBuffer();
      for (int y = 0; y < 12; y++) {
        for (int x = 0; x < 16; x++) {
          const int tu = c.u[x], tv = c.v[y];
          const uint32_t want = (tu == kB || tv == kB) ? border : texel(tu, tv);
          ASSERT_EQ(bb->ReadPixel(x, y), want)
              << x << "," << y << " modes " << c.mode_u << "/" << c.mode_v << " generic " << generic;
        }
      }
    }
  }
  plat::SetForceGenericSpans(false);
  device_->SetTexture(0, nullptr);
  tex->Release();
}

TEST_F(DeviceTest, AlphaTestBlendFactorsAndOps) {
  MakeDevice(4, 4);
  device_->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_DIFFUSE);
  device_->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, plat::D3DTSS_ALPHAARG1, plat::D3DTA_DIFFUSE);
  const uint32_t dst = 0xFF60A020u, src = 0x40C03090u;
  auto draw = [&] {
    Fill(dst);
    DrawColor({CV(0, 0, src), CV(4, 0, src), CV(0, 4, src), CV(4, 4, src), CV(0, 4, src), CV(4, 0, src)});
    return BackBuffer()->ReadPixel(1, 1);
  };
  // Alpha test: 0x40 passes GREATER 0x3F, fails GREATER 0x40.
  device_->SetRenderState(plat::D3DRS_ALPHATESTENABLE, 1);
  device_->SetRenderState(plat::D3DRS_ALPHAFUNC, plat::D3DCMP_GREATER);
  device_->SetRenderState(plat::D3DRS_ALPHAREF, 0x3F);
  EXPECT_EQ(draw(), src | 0xFF000000u);
  device_->SetRenderState(plat::D3DRS_ALPHAREF, 0x40);
  EXPECT_EQ(draw(), dst);
  device_->SetRenderState(plat::D3DRS_ALPHATESTENABLE, 0);

  double sa = src >> 24;
  auto factor = [&](uint32_t f, int ch) -> double {
    double s = RefCh(src, ch), d = RefCh(dst, ch);
    switch (f) {
      case plat::D3DBLEND_ZERO: return 0;
      case plat::D3DBLEND_ONE: return 255;
      case plat::D3DBLEND_SRCCOLOR: return s;
      case plat::D3DBLEND_INVSRCCOLOR: return 255 - s;
      case plat::D3DBLEND_SRCALPHA: return sa;
      case plat::D3DBLEND_INVSRCALPHA: return 255 - sa;
      case plat::D3DBLEND_DESTALPHA: return 255;
      case plat::D3DBLEND_INVDESTALPHA: return 0;
      case plat::D3DBLEND_DESTCOLOR: return d;
      case plat::D3DBLEND_INVDESTCOLOR: return 255 - d;
      case plat::D3DBLEND_SRCALPHASAT: return std::min(sa, 0.0);
      default: return -1;
    }
  };
  for (uint32_t op = plat::D3DBLENDOP_ADD; op <= plat::D3DBLENDOP_MAX; op++)
    for (uint32_t sf = plat::D3DBLEND_ZERO; sf <= plat::D3DBLEND_BOTHINVSRCALPHA; sf++)
      for (uint32_t df : {plat::D3DBLEND_ZERO, plat::D3DBLEND_ONE, plat::D3DBLEND_SRCCOLOR, plat::D3DBLEND_INVSRCALPHA,
                          plat::D3DBLEND_DESTCOLOR}) {
        Blend(sf, df, op);
        uint32_t got = draw();
        for (int i = 0; i < 3; i++) {
          double fs = factor(sf, i), fd = factor(df, i);
          if (sf == plat::D3DBLEND_BOTHSRCALPHA) { fs = sa; fd = 255 - sa; }
          if (sf == plat::D3DBLEND_BOTHINVSRCALPHA) { fs = 255 - sa; fd = sa; }
          double s = RefCh(src, i) * fs, d = RefCh(dst, i) * fd;
          double r;
          switch (op) {
            case plat::D3DBLENDOP_SUBTRACT: r = std::max(0.0, s - d); break;
            case plat::D3DBLENDOP_REVSUBTRACT: r = std::max(0.0, d - s); break;
            case plat::D3DBLENDOP_MIN: r = std::min(RefCh(src, i), RefCh(dst, i)) * 255.0; break;
            case plat::D3DBLENDOP_MAX: r = std::max(RefCh(src, i), RefCh(dst, i)) * 255.0; break;
            default: r = s + d; break;
          }
          EXPECT_EQ(RefCh(got, i), std::min<uint32_t>(255, RefDiv255(r))) << "op " << op << " src " << sf << " dst " << df;
        }
      }
}

TEST_F(DeviceTest, ViewportLimitsDrawingAndClearingScissorOnlyWhenEnabled) {
  MakeDevice(32, 32);
  Fill(0xFF000000u);
  plat::D3DVIEWPORT9 vp = {4, 6, 10, 8, 0.0f, 1.0f};
  ASSERT_EQ(device_->SetViewport(&vp), plat::D3D_OK);
  ASSERT_EQ(device_->Clear(0, nullptr, plat::D3DCLEAR_TARGET, 0xFF0000FFu, 1.0f, 0), plat::D3D_OK);
  auto* bb = BackBuffer();
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 32; x++)
      ASSERT_EQ(bb->ReadPixel(x, y), (x >= 4 && x < 14 && y >= 6 && y < 14) ? 0xFF0000FFu : 0xFF000000u);
  device_->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_DIFFUSE);
  const uint32_t c = 0xFF00FF00u;
  std::vector<ColorVertex> all = {CV(0, 0, c), CV(32, 0, c), CV(0, 32, c), CV(32, 32, c), CV(0, 32, c), CV(32, 0, c)};
  DrawColor(all);
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 32; x++)
      ASSERT_EQ(bb->ReadPixel(x, y), (x >= 4 && x < 14 && y >= 6 && y < 14) ? c : 0xFF000000u);
  // A scissor rectangle set but not enabled changes nothing.
  vp = {0, 0, 32, 32, 0.0f, 1.0f};
  device_->SetViewport(&vp);
  plat::RECT sc = {20, 20, 24, 22};
  device_->SetScissorRect(&sc);
  Fill(0xFF000000u);
  DrawColor(all);
  EXPECT_EQ(bb->ReadPixel(0, 0), c);
  Fill(0xFF000000u);
  // Enabled, it limits drawing and clearing alike.
  device_->SetRenderState(plat::D3DRS_SCISSORTESTENABLE, 1);
  ASSERT_EQ(device_->Clear(0, nullptr, plat::D3DCLEAR_TARGET, 0xFF0000FFu, 1.0f, 0), plat::D3D_OK);
  EXPECT_EQ(bb->ReadPixel(0, 0), 0xFF000000u);
  EXPECT_EQ(bb->ReadPixel(20, 20), 0xFF0000FFu);
  DrawColor(all);
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 32; x++)
      ASSERT_EQ(bb->ReadPixel(x, y), (x >= 20 && x < 24 && y >= 20 && y < 22) ? c : 0xFF000000u);
  // A viewport reaching past the target is refused.
  vp = {30, 0, 4, 4, 0.0f, 1.0f};
  EXPECT_EQ(device_->SetViewport(&vp), plat::D3DERR_INVALIDCALL);
}

// The specialised span loops against the generic pipeline on random scenes.
TEST_F(DeviceTest, SpecialisedSpansMatchTheGenericPath) {
  std::mt19937 rng(12345);
  for (plat::D3DFORMAT target : {plat::D3DFMT_X8R8G8B8, plat::D3DFMT_A8R8G8B8, plat::D3DFMT_R5G6B5}) {
    for (int scene = 0; scene < 12; scene++) {
      std::vector<uint32_t> images[2];
      uint32_t seed = rng();
      for (int pass = 0; pass < 2; pass++) {
        std::mt19937 r(seed);
        plat::SetForceGenericSpans(pass == 1);
        MakeDevice(48, 48, target == plat::D3DFMT_A8R8G8B8 ? plat::D3DFMT_X8R8G8B8 : target);
        plat::Direct3DSurface9* rt = nullptr;
        if (target == plat::D3DFMT_A8R8G8B8) {
          ASSERT_EQ(device_->CreateRenderTarget(48, 48, target, 0, 0, 1, &rt, nullptr), plat::D3D_OK);
          device_->SetRenderTarget(0, rt);
        }
        Fill(0x80406080u);
        plat::D3DFORMAT tf = (r() & 1) ? plat::D3DFMT_A8R8G8B8 : plat::D3DFMT_A4R4G4B4;
        // Sides of one and two texels too, where clamping meets both edges.
        auto side = [&] { const int k = int(r() % 11); return k < 2 ? k + 1 : k + 6; };
        const int tw = side(), th = side();
        auto* tex = MakeTexture(tw, th, tf, [&](int, int) { return uint32_t(r()); });
        for (int draw = 0; draw < 8; draw++) {
          uint32_t blend = r() % 3;
          if (blend == 0) device_->SetRenderState(plat::D3DRS_ALPHABLENDENABLE, 0);
          else Blend(plat::D3DBLEND_SRCALPHA, blend == 1 ? plat::D3DBLEND_INVSRCALPHA : plat::D3DBLEND_ONE);
          device_->SetRenderState(plat::D3DRS_ALPHATESTENABLE, r() % 2);
          device_->SetRenderState(plat::D3DRS_ALPHAFUNC, plat::D3DCMP_GREATER);
          device_->SetRenderState(plat::D3DRS_ALPHAREF, r() % 256);
          uint32_t filter = (r() & 1) ? plat::D3DTEXF_LINEAR : plat::D3DTEXF_POINT;
          device_->SetSamplerState(0, plat::D3DSAMP_MAGFILTER, filter);
          device_->SetSamplerState(0, plat::D3DSAMP_MINFILTER, filter);
          ModulateStage();
          uint32_t kinds[] = {plat::D3DTA_TEXTURE, plat::D3DTA_DIFFUSE};
          device_->SetTextureStageState(0, plat::D3DTSS_COLOROP, (r() & 1) ? plat::D3DTOP_MODULATE : plat::D3DTOP_SELECTARG1);
          device_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, kinds[r() % 2]);
          device_->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, (r() & 1) ? plat::D3DTOP_MODULATE : plat::D3DTOP_SELECTARG2);
          device_->SetTextureStageState(0, plat::D3DTSS_ALPHAARG2, kinds[r() % 2]);
          bool textured = r() % 4 != 0;
          device_->SetTexture(0, textured ? tex : nullptr);
          uint32_t diffuse = (r() & 1) ? 0xFFFFFFFFu : uint32_t(r());
          float cx = float(r() % 48), cy = float(r() % 48), ang = float(r() % 628) / 100.0f, s = 4.0f + float(r() % 200) / 10.0f;
          float c = std::cos(ang) * s, sn = std::sin(ang) * s;
          std::vector<TexVertex> v;
          Quad(&v, TV(cx - c + sn, cy - sn - c, 0, 0, diffuse), TV(cx + c + sn, cy + sn - c, 1, 0),
               TV(cx - c - sn, cy - sn + c, 0, 1), TV(cx + c - sn, cy + sn + c, 1, 1, diffuse));
          DrawTex(v);
        }
        images[pass] = TakePixels(tex, rt, 48, 48);
      }
      for (size_t i = 0; i < images[0].size(); i++)
        ASSERT_EQ(images[0][i], images[1][i]) << "target " << target << " scene " << scene << " at " << i % 48 << ","
                                              << i / 48;
    }
  }
}

// The heaviest cases of play, backgrounds and sprites blended and sparks
// added onto the screen: point-sampled, with and without a diffuse colour,
// into a target without alpha, over spans of every length and texels with
// and without alpha, turned and upright, inside the texture and past it.
TEST_F(DeviceTest, BlendedPointSpansMatchTheGenericPath) {
  std::mt19937 rng(777);
  for (int scene = 0; scene < 48; scene++) {
    const bool additive = scene % 2 == 0;
    const bool modulated = scene % 4 < 2;
    std::vector<uint32_t> images[2];
    const uint32_t seed = rng();
    for (int pass = 0; pass < 2; pass++) {
      std::mt19937 r(seed);
      plat::SetForceGenericSpans(pass == 1);
      MakeDevice(40, 40, plat::D3DFMT_X8R8G8B8);
      Fill(0x10406080u);
      auto* tex = MakeTexture(5 + int(r() % 28), 5 + int(r() % 28), plat::D3DFMT_A8R8G8B8, [&](int, int) {
        const uint32_t t = uint32_t(r());
        return r() % 3 == 0 ? t & 0x00FFFFFFu : t;  // a third of the texels clear
      });
      Blend(plat::D3DBLEND_SRCALPHA, additive ? plat::D3DBLEND_ONE : plat::D3DBLEND_INVSRCALPHA);
      device_->SetRenderState(plat::D3DRS_ALPHATESTENABLE, 0);
      device_->SetSamplerState(0, plat::D3DSAMP_MAGFILTER, plat::D3DTEXF_POINT);
      device_->SetSamplerState(0, plat::D3DSAMP_MINFILTER, plat::D3DTEXF_POINT);
      ModulateStage();
      device_->SetTexture(0, tex);
      for (int draw = 0; draw < 10; draw++) {
        const uint32_t diffuse = modulated ? uint32_t(r()) | (r() % 4 == 0 ? 0xFF000000u : 0u) : 0xFFFFFFFFu;
        float cx = float(r() % 40), cy = float(r() % 40), ang = float(r() % 628) / 100.0f;
        float sc = 1.0f + float(r() % 220) / 10.0f;
        // Upright ones too, some reaching past the texture's sides.
        const bool upright = r() % 3 == 0, past = upright && r() % 2 == 0;
        if (upright) ang = 0;
        const float t0 = past ? -0.4f : 0, t1 = past ? 1.3f : 1;
        float c = std::cos(ang) * sc, sn = std::sin(ang) * sc;
        std::vector<TexVertex> v;
        Quad(&v, TV(cx - c + sn, cy - sn - c, t0, t0, diffuse), TV(cx + c + sn, cy + sn - c, t1, t0, diffuse),
             TV(cx - c - sn, cy - sn + c, t0, t1, diffuse), TV(cx + c - sn, cy + sn + c, t1, t1, diffuse));
        DrawTex(v);
      }
      images[pass] = TakePixels(tex, nullptr, 40, 40);
    }
    plat::SetForceGenericSpans(false);
    for (size_t i = 0; i < images[0].size(); i++)
      ASSERT_EQ(images[0][i], images[1][i]) << "scene " << scene << " at " << i % 40 << "," << i / 40;
  }
}

// Sparks cut from parts of a sheet and added magnified, several colours a
// draw, turned and upright, some reaching past the sheet's sides, into
// targets with and without alpha: the draws that take their sums from term
// tables, whose boxes must hold every texel a row samples.
TEST_F(DeviceTest, AdditiveSheetSpritesMatchTheGenericPath) {
  std::mt19937 rng(4242);
  for (int scene = 0; scene < 24; scene++) {
    const bool alpha_target = scene % 2 == 1;
    std::vector<uint32_t> images[2];
    const uint32_t seed = rng();
    for (int pass = 0; pass < 2; pass++) {
      std::mt19937 r(seed);
      plat::SetForceGenericSpans(pass == 1);
      MakeDevice(64, 64, plat::D3DFMT_X8R8G8B8);
      plat::Direct3DSurface9* rt = nullptr;
      if (alpha_target) {
        ASSERT_EQ(device_->CreateRenderTarget(64, 64, plat::D3DFMT_A8R8G8B8, 0, 0, 1, &rt, nullptr), plat::D3D_OK);
        device_->SetRenderTarget(0, rt);
      }
      Fill(0x30406080u);
      const int tw = 40 + int(r() % 30), th = 30 + int(r() % 30);
      auto* tex = MakeTexture(tw, th, plat::D3DFMT_A8R8G8B8, [&](int, int) {
        const uint32_t t = uint32_t(r());
        return r() % 5 == 0 ? t & 0x00FFFFFFu : t;
      });
      Blend(plat::D3DBLEND_SRCALPHA, plat::D3DBLEND_ONE);
      device_->SetSamplerState(0, plat::D3DSAMP_MAGFILTER, plat::D3DTEXF_POINT);
      device_->SetSamplerState(0, plat::D3DSAMP_MINFILTER, plat::D3DTEXF_POINT);
      ModulateStage();
      device_->SetTexture(0, tex);
      for (int draw = 0; draw < 4; draw++) {
        device_->SetRenderState(plat::D3DRS_ALPHATESTENABLE, r() % 4 == 0);
        device_->SetRenderState(plat::D3DRS_ALPHAFUNC, plat::D3DCMP_GREATER);
        device_->SetRenderState(plat::D3DRS_ALPHAREF, r() % 256);
        // Each colour of the draw takes its own part of the sheet.
        uint32_t colours[3];
        float part[3][4];
        for (int k = 0; k < 3; k++) {
          colours[k] = k == 0 ? 0x00FFFFFFu | (r() << 24) : uint32_t(r());
          const float pw = float(3 + r() % 10), ph = float(3 + r() % 10);
          const float px = float(int(r() % uint32_t(tw + 8)) - 4), py = float(int(r() % uint32_t(th + 8)) - 4);
          part[k][0] = px / float(tw);
          part[k][1] = py / float(th);
          part[k][2] = (px + pw) / float(tw);
          part[k][3] = (py + ph) / float(th);
        }
        std::vector<TexVertex> v;
        for (int q = 0; q < 8; q++) {
          const int k = int(r() % 3);
          const uint32_t d = colours[k];
          const float* t = part[k];
          const float cx = float(r() % 64), cy = float(r() % 64), s = 6.0f + float(r() % 200) / 10.0f;
          const float ang = r() % 2 ? 0.0f : float(r() % 628) / 100.0f;
          const float c = std::cos(ang) * s, sn = std::sin(ang) * s;
          Quad(&v, TV(cx - c + sn, cy - sn - c, t[0], t[1], d), TV(cx + c + sn, cy + sn - c, t[2], t[1], d),
               TV(cx - c - sn, cy - sn + c, t[0], t[3], d), TV(cx + c - sn, cy + sn + c, t[2], t[3], d));
        }
        DrawTex(v);
      }
      images[pass] = TakePixels(tex, rt, 64, 64);
    }
    plat::SetForceGenericSpans(false);
    for (size_t i = 0; i < images[0].size(); i++)
      ASSERT_EQ(images[0][i], images[1][i]) << "scene " << scene << " at " << i % 64 << "," << i / 64;
  }
}

TEST_F(DeviceTest, PixelFormatsDecodeAndEncode) {
  // Every 16-bit value decodes to widened channels and encodes back to itself.
  for (plat::D3DFORMAT f : {plat::D3DFMT_R5G6B5, plat::D3DFMT_X1R5G5B5, plat::D3DFMT_A1R5G5B5, plat::D3DFMT_A4R4G4B4}) {
    for (uint32_t v = 0; v < 65536; v++) {
      uint16_t px = uint16_t(v);
      uint32_t argb = plat::DecodePixel(f, &px);
      uint16_t back = 0;
      plat::EncodePixel(f, argb, &back);
      uint16_t expect = f == plat::D3DFMT_X1R5G5B5 ? uint16_t(px | 0x8000) : px;
      ASSERT_EQ(back, expect) << plat::FormatName(f) << " " << v;
      if (f == plat::D3DFMT_R5G6B5) {
        ASSERT_EQ(argb, Ref565Decode(px));
      }
    }
  }
  uint16_t px = 0;
  plat::EncodePixel(plat::D3DFMT_A4R4G4B4, 0x7F10FF80u, &px);
  EXPECT_EQ(px, 0x71F8);
  EXPECT_EQ(plat::DecodePixel(plat::D3DFMT_A4R4G4B4, &px), 0x7711FF88u);
  plat::EncodePixel(plat::D3DFMT_A1R5G5B5, 0x7FFFFFFFu, &px);
  EXPECT_EQ(px, 0x7FFF);
  uint32_t x8 = 0;
  plat::EncodePixel(plat::D3DFMT_X8R8G8B8, 0x00123456u, &x8);
  EXPECT_EQ(x8, 0xFF123456u);
  EXPECT_EQ(plat::FormatBytesPerPixel(plat::D3DFMT_A16B16G16R16F), 0);
}

TEST_F(DeviceTest, LinesDrawnRightToLeftKeepEveryPixelInsideTheTarget) {
  // Both directions of a line reaching past both sides draw the same pixels.
  for (bool backward : {false, true}) {
    MakeDevice(40, 20);
    Fill(0xFF000000u);
    device_->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_SELECTARG1);
    device_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_DIFFUSE);
    std::vector<ColorVertex> v = {CV(-20.0f, 10.0f, 0xFFFFFFFFu), CV(60.0f, 10.0f, 0xFFFFFFFFu)};
    if (backward) std::swap(v[0], v[1]);
    device_->SetFVF(0x44);
    ASSERT_EQ(device_->BeginScene(), plat::D3D_OK);
    ASSERT_EQ(device_->DrawPrimitiveUP(plat::D3DPT_LINELIST, 1, v.data(), sizeof(ColorVertex)), plat::D3D_OK);
    ASSERT_EQ(device_->EndScene(), plat::D3D_OK);
    for (int x = 0; x < 40; x++) EXPECT_EQ(BackBuffer()->ReadPixel(x, 10), 0xFFFFFFFFu) << x << " " << backward;
  }
}
