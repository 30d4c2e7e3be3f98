// Graphic and box drawing: the batch's device calls, the blend states of
// every mode, and the drawn pixels against a per-pixel reference.
#include <algorithm>
#include <array>
#include <string>

#include "tests/lib/graphics/graphic_support.h"

namespace {

using gtest_graphic::EncodePng;
using gtest_graphic::GraphicTest;
using gtest_graphic::Pattern;
using gtest_graphic::Picture;

class GraphicDraw : public GraphicTest {
 protected:
  int Load(const Picture& p, bool alpha) {
    std::vector<uint8_t> png = EncodePng(p, alpha);
    int h = ImageToGraphicWithOptions(png.data(), int(png.size()), nullptr, 0, 0, 0);
    EXPECT_NE(h, -1);
    return h;
  }
  static uint32_t State(uint32_t rs) {
    uint32_t v = 0;
    GraphicsDevice().device->GetRenderState(rs, &v);
    return v;
  }
  static uint32_t StageState(uint32_t stage, uint32_t type) {
    uint32_t v = 0;
    GraphicsDevice().device->GetTextureStageState(stage, type, &v);
    return v;
  }
  static int Count(const std::vector<std::string>& log, const std::string& prefix) {
    return int(std::count_if(log.begin(), log.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; }));
  }
};

TEST_F(GraphicDraw, QuadsGoOutInRunsOfTheArraysCapacity) {
  int h = Load(Pattern(16, 16, false), false);
  DrawGraphicAt(0, 0, h, 0);
  FlushVertexBatch();
  plat::StartD3DRecording(true);
  for (int i = 0; i < 390; i++) DrawGraphicAt(i % 600, (i / 600) * 16, h, 0);
  FlushVertexBatch();
  auto log = plat::StopD3DRecording();
  std::vector<std::string> draws;
  for (auto& s : log)
    if (s.rfind("DrawPrimitiveUP", 0) == 0) draws.push_back(s);
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(draws[0], "DrawPrimitiveUP(4, 778, 28)");
  EXPECT_EQ(draws[1], "DrawPrimitiveUP(4, 2, 28)");
  DeleteGraphic(h);
}

TEST_F(GraphicDraw, AnUnchangedDrawSendsNoState) {
  int a = Load(Pattern(16, 16, false), false);
  int b = Load(Pattern(16, 16, false, 2), false);
  SetBlendModeParam(1, 200);
  DrawGraphicRotated(50, 50, 1.0, 0.3, a, 1, 0);
  FlushVertexBatch();
  plat::StartD3DRecording(true);
  DrawGraphicRotated(80, 50, 1.0, 0.3, a, 1, 0);
  DrawGraphicAt(120, 50, a, 1);
  FlushVertexBatch();
  auto log = plat::StopD3DRecording();
  EXPECT_EQ(Count(log, "DrawPrimitiveUP"), 1);
  for (const char* call : {"SetRenderState", "SetTextureStageState", "SetTexture", "SetSamplerState", "SetFVF"})
    EXPECT_EQ(Count(log, call), 0) << call;
  // Another texture: one texture change, a flush between.
  plat::StartD3DRecording(true);
  DrawGraphicAt(10, 10, a, 1);
  DrawGraphicAt(30, 10, b, 1);
  FlushVertexBatch();
  log = plat::StopD3DRecording();
  EXPECT_EQ(Count(log, "DrawPrimitiveUP"), 2);
  EXPECT_EQ(Count(log, "SetTexture("), 1);
  EXPECT_EQ(Count(log, "SetRenderState"), 0);
  // A box after a textured draw flushes it and changes the layout.
  plat::StartD3DRecording(true);
  DrawGraphicAt(10, 10, a, 1);
  DrawFilledBox(0, 0, 4, 4, GetColorCode(255, 255, 255));
  FlushVertexBatch();
  log = plat::StopD3DRecording();
  EXPECT_EQ(Count(log, "DrawPrimitiveUP(4, 2, 28)"), 1);
  EXPECT_EQ(Count(log, "DrawPrimitiveUP(4, 2, 20)"), 1);
  SetBlendModeParam(0, 0);
  DeleteGraphic(a);
  DeleteGraphic(b);
}

// Blend factors and operation of each mode as the mode table gives them
// (source, destination, operation; 0 = blending off).
struct BlendExpect {
  uint32_t src, dst, op;
};
BlendExpect Expected(int mode, bool blend_op) {
  using namespace plat;
  switch (mode) {
    case 1: case 10: case 12: return {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD};
    case 2: case 5: case 13: return {D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DBLENDOP_ADD};
    case 3: return blend_op ? BlendExpect{D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT}
                            : BlendExpect{D3DBLEND_INVDESTCOLOR, D3DBLEND_ZERO, D3DBLENDOP_ADD};
    case 4: case 11: return {D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, D3DBLENDOP_ADD};
    case 8: return {D3DBLEND_ZERO, D3DBLEND_ONE, D3DBLENDOP_ADD};
    case 9: return {D3DBLEND_INVDESTCOLOR, D3DBLEND_ZERO, D3DBLENDOP_ADD};
    case 14: return {D3DBLEND_ONE, D3DBLEND_ZERO, D3DBLENDOP_ADD};
    case 15: return {D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT};
    default: return {0, 0, 0};
  }
}

TEST_F(GraphicDraw, EveryBlendModeSetsItsStates) {
  int plain = Load(Pattern(16, 16, false), false);
  int alpha = Load(Pattern(16, 16, true), true);
  using namespace plat;
  for (int mode = 0; mode < 16; mode++) {
    for (int bright = 0; bright < 2; bright++) {
      for (int g : {plain, alpha}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode << " bright " << bright << " alpha " << (g == alpha));
        SetBlendModeParam(mode, 100);
        SetDrawBrightRGB(bright ? 128 : 255, 255, 255);
        DrawGraphicAt(10, 10, g, 1);
        FlushVertexBatch();
        BlendExpect e = Expected(mode, true);
        bool variant1 = g == plain || (mode != 0 && mode != 8);
        if ((mode == 0 || mode == 6) && variant1) e = {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD};
        if (e.src == 0) {
          EXPECT_EQ(State(D3DRS_ALPHABLENDENABLE), 0u);
        } else {
          EXPECT_EQ(State(D3DRS_ALPHABLENDENABLE), 1u);
          EXPECT_EQ(State(D3DRS_SRCBLEND), e.src);
          EXPECT_EQ(State(D3DRS_DESTBLEND), e.dst);
          EXPECT_EQ(State(D3DRS_BLENDOP), e.op);
        }
        // The alpha test: > 16 for a graphic's own alpha channel in modes 0 and 8.
        bool own_alpha = g == alpha && (mode == 0 || mode == 8);
        EXPECT_EQ(State(D3DRS_ALPHATESTENABLE), own_alpha ? 1u : 0u);
        if (own_alpha) { EXPECT_EQ(State(D3DRS_ALPHAREF), 16u); }
        // Stage 0 colour.
        uint32_t op = StageState(0, D3DTSS_COLOROP), arg1 = StageState(0, D3DTSS_COLORARG1);
        if (mode == 12 || mode == 13) {
          EXPECT_EQ(op, uint32_t(D3DTOP_MODULATE4X));
        } else {
          EXPECT_EQ(op, uint32_t(bright ? D3DTOP_MODULATE : D3DTOP_SELECTARG1));
          EXPECT_EQ(arg1, mode == 10 ? uint32_t(D3DTA_TEXTURE | D3DTA_COMPLEMENT) : uint32_t(D3DTA_TEXTURE));
        }
        EXPECT_EQ(StageState(1, D3DTSS_COLOROP), mode == 11 ? uint32_t(D3DTOP_BLENDCURRENTALPHA) : uint32_t(D3DTOP_DISABLE));
        // Alpha: the texture's, times the diffuse alpha once the mode blends.
        EXPECT_EQ(StageState(0, D3DTSS_ALPHAOP), uint32_t(mode != 0 ? D3DTOP_MODULATE : D3DTOP_SELECTARG1));
      }
    }
  }
  SetBlendModeParam(0, 0);
  SetDrawBrightRGB(255, 255, 255);
  DeleteGraphic(plain);
  DeleteGraphic(alpha);
}

TEST_F(GraphicDraw, SubtractWithoutReverseSubtractInvertsAroundTheDraw) {
  ShutdownGraphicsSystem();
  ResetGraphicsDeviceForTest();
  plat::D3DCAPS9 caps = plat::DefaultDeviceCaps();
  caps.PrimitiveMiscCaps = 0;
  plat::SetDeviceCapsOverride(&caps);
  ChangeWindowMode(1);
  ASSERT_EQ(ConfigureScreenMode(640, 480, 32, 60), 0);
  ASSERT_EQ(GraphicsSystemStart(), 0);
  ASSERT_EQ(GraphicsDevice().blend_op_capable, 0);
  SetDrawTarget(-2);
  Picture p{4, 4, std::vector<uint32_t>(16, 0xFF303030u)};
  int g = Load(p, false);
  DrawFilledBox(0, 0, 20, 20, GetColorCode(0x80, 0x80, 0x80));
  SetBlendModeParam(3, 255);
  DrawGraphicAt(2, 2, g, 0);
  Picture shot = Screenshot();
  SetBlendModeParam(0, 0);
  // 0x80 - 0x30 = 0x50, outside the graphic the box is untouched.
  EXPECT_EQ(shot.at(3, 3), 0xFF505050u);
  EXPECT_EQ(shot.at(10, 10), 0xFF808080u);
  DeleteGraphic(g);
  plat::SetDeviceCapsOverride(nullptr);
}

TEST_F(GraphicDraw, PositionStretchAndRotationMatchTheReference) {
  Picture p = Pattern(64, 48, false, 21);
  int g = Load(p, false);
  auto check = [&](const Picture& shot, auto expected) {
    int wrong = 0;
    for (int y = 0; y < 480; y++)
      for (int x = 0; x < 640; x++) wrong += shot.at(x, y) != expected(x, y);
    return wrong;
  };
  auto image_or_black = [&](int ix, int iy) {
    return (ix >= 0 && iy >= 0 && ix < 64 && iy < 48) ? p.at(ix, iy) : 0xFF000000u;
  };
  // Partly outside the clip rectangle.
  SetDrawClipRect(50, 50, 150, 150);
  DrawGraphicAt(30, 40, g, 0);
  EXPECT_EQ(check(Screenshot(), [&](int x, int y) {
              bool in = x >= 50 && y >= 50 && x < 150 && y < 150;
              return in ? image_or_black(x - 30, y - 40) : 0xFF000000u;
            }),
            0);
  SetDrawClipRect(0, 0, 640, 480);
  ClearDrawTarget(nullptr);
  // Wholly inside.
  DrawGraphicAt(100, 120, g, 0);
  EXPECT_EQ(check(Screenshot(), [&](int x, int y) { return image_or_black(x - 100, y - 120); }), 0);
  ClearDrawTarget(nullptr);
  // Mirrored on x, then on y.
  DrawGraphicStretched(200 + 64, 100, 200, 100 + 48, g, 0);
  EXPECT_EQ(check(Screenshot(), [&](int x, int y) {
              int ix = x - 200, iy = y - 100;
              return (ix >= 0 && ix < 64 && iy >= 0 && iy < 48) ? p.at(63 - ix, iy) : 0xFF000000u;
            }),
            0);
  ClearDrawTarget(nullptr);
  DrawGraphicStretched(200, 100 + 48, 200 + 64, 100, g, 0);
  EXPECT_EQ(check(Screenshot(), [&](int x, int y) {
              int ix = x - 200, iy = y - 100;
              return (ix >= 0 && ix < 64 && iy >= 0 && iy < 48) ? p.at(ix, 47 - iy) : 0xFF000000u;
            }),
            0);
  ClearDrawTarget(nullptr);
  // A stretch to zero width draws nothing and is refused.
  EXPECT_EQ(DrawGraphicStretched(10, 10, 10, 50, g, 0), -1);
  // Rotation by 0 at whole pixels lands on the same pixels as a plain draw
  // with the top-left corner at centre - size / 2.
  DrawGraphicRotated(300, 200, 1.0, 0.0, g, 0, 0);
  EXPECT_EQ(check(Screenshot(), [&](int x, int y) { return image_or_black(x - 268, y - 176); }), 0);
  ClearDrawTarget(nullptr);
  DeleteGraphic(g);
  Picture odd = Pattern(31, 31, false, 8);
  int h = Load(odd, false);
  for (float at : {100.0f, 100.5f}) {
    SCOPED_TRACE(at);
    DrawGraphicRotatedF(at, at, 1.0, 0.0, h, 0, 0);
    EXPECT_EQ(check(Screenshot(), [&](int x, int y) {
                int ix = x - 85, iy = y - 85;
                return (ix >= 0 && ix < 31 && iy >= 0 && iy < 31) ? odd.at(ix, iy) : 0xFF000000u;
              }),
              0);
    ClearDrawTarget(nullptr);
  }
  // Turned: mirrored about the centre.
  DrawGraphicRotated(100, 100, 1.0, 0.0, h, 0, 1);
  EXPECT_EQ(check(Screenshot(), [&](int x, int y) {
              int ix = x - 85, iy = y - 85;
              return (ix >= 0 && ix < 31 && iy >= 0 && iy < 31) ? odd.at(30 - ix, iy) : 0xFF000000u;
            }),
            0);
  EXPECT_EQ(DrawGraphicRotated(100, 100, 0.0, 0.0, h, 0, 0), -1);
  DeleteGraphic(h);
}

TEST_F(GraphicDraw, BoxesClearsAndBright) {
  auto count = [](const Picture& s, uint32_t v) { return int(std::count(s.argb.begin(), s.argb.end(), v)); };
  // A full-screen additive box reaches every pixel exactly once.
  SetBlendModeParam(2, 255);
  DrawRectBox(0, 0, 640, 480, GetColorCode(16, 16, 16), 1);
  SetBlendModeParam(0, 0);
  EXPECT_EQ(count(Screenshot(), 0xFF101010u), 640 * 480);
  ClearDrawTarget(nullptr);
  // Reversed corners draw the same pixels; an empty box draws nothing.
  DrawFilledBox(20, 20, 10, 10, GetColorCode(255, 255, 255));
  EXPECT_EQ(count(Screenshot(), 0xFFFFFFFFu), 100);
  EXPECT_EQ(DrawFilledBox(30, 30, 30, 40, GetColorCode(255, 255, 255)), 0);
  EXPECT_EQ(count(Screenshot(), 0xFFFFFFFFu), 100);
  // Clear of a rectangle, then of everything (a negative left: all).
  int32_t rect[4] = {12, 12, 15, 15};
  ClearDrawTarget(rect);
  EXPECT_EQ(count(Screenshot(), 0xFFFFFFFFu), 91);
  int32_t all[4] = {-1, 0, 5, 5};
  ClearDrawTarget(all);
  EXPECT_EQ(count(Screenshot(), 0xFFFFFFFFu), 0);
  // An outline covers its border once; reversing one axis changes nothing.
  for (auto box : {std::array<int, 4>{10, 10, 20, 20}, std::array<int, 4>{20, 10, 10, 20},
                   std::array<int, 4>{10, 20, 20, 10}}) {
    ClearDrawTarget(nullptr);
    SetBlendModeParam(2, 255);
    DrawBoxOutline(box[0], box[1], box[2], box[3], GetColorCode(16, 16, 16));
    SetBlendModeParam(0, 0);
    Picture s = Screenshot();
    EXPECT_EQ(count(s, 0xFF101010u), 36);
    EXPECT_EQ(s.at(10, 10), 0xFF101010u);
    EXPECT_EQ(s.at(19, 19), 0xFF101010u);
    EXPECT_EQ(s.at(15, 15), 0xFF000000u);
  }
  ClearDrawTarget(nullptr);
  // Bright 128 on a white box.
  SetDrawBrightRGB(128, 128, 128);
  DrawFilledBox(0, 0, 8, 8, GetColorCode(255, 255, 255));
  SetDrawBrightRGB(255, 255, 255);
  EXPECT_EQ(Screenshot().at(3, 3), 0xFF808080u);
}

TEST_F(GraphicDraw, AlphaTestPassesOnlyTexelsAboveSixteen) {
  // White texels of alpha 15, 16 and 17 on black: the alpha test keeps only
  // alpha above 16, so the first two leave black and the third blends in.
  Picture p{3, 1, {0x0FFFFFFFu, 0x10FFFFFFu, 0x11FFFFFFu}};
  int h = Load(p, true);
  DrawGraphicAt(0, 0, h, 1);
  Picture s = Screenshot();
  EXPECT_EQ(s.at(0, 0), 0xFF000000u);
  EXPECT_EQ(s.at(1, 0), 0xFF000000u);
  EXPECT_NE(s.at(2, 0), 0xFF000000u);
  DeleteGraphic(h);
}

TEST_F(GraphicDraw, SetterEdgeCases) {
  SetBlendModeParam(1, 300);
  EXPECT_EQ(Draw().blend_param, 255);
  SetBlendModeParam(1, -5);
  EXPECT_EQ(Draw().blend_param, 0);
  EXPECT_EQ(uint32_t(GetDrawDiffuseColor()) >> 24, 0u);
  SetBlendModeParam(0, 0);
  EXPECT_EQ(uint32_t(GetDrawDiffuseColor()) >> 24, 255u);
  SetDrawBrightRGB(256, -1, 128);
  EXPECT_EQ(Draw().bright, 0xFF0080u);
  SetDrawBrightRGB(255, 255, 255);
  SetDrawClipRect(640, 480, 0, 0);
  EXPECT_EQ(Draw().clip[0], 0);
  EXPECT_EQ(Draw().clip[2], 640);
  EXPECT_EQ(Draw().clip[3], 480);
  int g = Load(Pattern(8, 8, false), false);
  SetDrawClipRect(100, 50, 100, 90);
  EXPECT_EQ(Draw().empty_clip, 1);
  EXPECT_EQ(DrawGraphicAt(100, 60, g, 0), 0);
  SetDrawClipRect(0, 0, 640, 480);
  Picture shot = Screenshot();
  EXPECT_EQ(std::count(shot.argb.begin(), shot.argb.end(), 0xFF000000u), 640 * 480);
  EXPECT_EQ(GetColorCode(255, 255, 255), 0xFFFFFFFFu);
  int r = 0, gg = 0, b = 0;
  SplitColorCode(GetColorCode(255, 0, 128), &r, &gg, &b);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(gg, 0);
  EXPECT_EQ(b, 128);
  int w = 0, h = 0;
  EXPECT_EQ(GetGraphicSize(-2, &w, &h), 0);
  EXPECT_EQ(w, 640);
  // A blend image must cover the graphic.
  int small = Load(Pattern(4, 4, false), false);
  EXPECT_EQ(SetDrawBlendImage(small, 0, 0), 0);
  EXPECT_EQ(DrawGraphicAt(0, 0, g, 0), -1);
  EXPECT_EQ(SetDrawBlendImage(-1, 0, 0), 0);
  EXPECT_EQ(SetDrawBlendImage(0x0800FFFF, 0, 0), -1);
  DeleteGraphic(small);
  DeleteGraphic(g);
}

}  // namespace
