// Cost of a frame of panel text (twelve strings in the game's fonts) laid out
// and written into a 640 x 480 32-bit image once the glyph caches are warm,
// and of laying the same strings out without drawing. Also the cost of a
// font creation (two platform fonts, the cache allocation).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "lib/system/window_system.h"
#include "lib/graphics/font.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "platform/window/backend.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"

namespace {

struct PanelText {
  int font;  // index into the fonts
  int x, y;
  const char* text;
};

// Code page 932 bytes of the game's Japanese panel words.
const char kHighScore[] = "\x83\x6e\x83\x43\x83\x58\x83\x52\x83\x41";  // high score (katakana)
const char kLife[] = "\x8e\x63\x8b\x40";                              // remaining lives

const PanelText kPanel[] = {
    {4, 430, 20, "HISCORE"},   {5, 430, 44, "0012345670"}, {4, 430, 90, "SCORE"},
    {5, 430, 114, "0000123450"}, {2, 430, 170, kLife},       {2, 500, 170, "3"},
    {2, 430, 200, "POWER"},    {2, 520, 200, "128"},       {3, 430, 240, kHighScore},
    {1, 550, 460, "FPS = 59.98"}, {0, 5, 30, "Stage 1 Boss"}, {1, 397, 457, "60"},
};

struct Fonts {
  Fonts() {
    Screen().colour_bits = 32;
    ResetFontSystem();
    const int sizes[][3] = {{13, 3, 3}, {16, 4, 2}, {20, 5, 3}, {21, 5, 3}, {24, 6, 3}, {32, 9, 3}};
    for (const auto& s : sizes) handles.push_back(CreateFontToHandle(nullptr, s[0], s[1], s[2], -1, -1, 0, -1, -1));
  }
  ~Fonts() { EndFontSystem(); }
  std::vector<int> handles;
};

void BM_PanelTextFrameWarm(benchmark::State& state) {
  Fonts fonts;
  std::vector<uint32_t> pixels(640 * 480);
  TextDrawTarget target = {reinterpret_cast<uint8_t*>(pixels.data()), 640 * 4, 640, 480, 32};
  const TextClipRect clip = {0, 0, 640, 480};
  const bool draw = state.range(0) != 0;
  for (const PanelText& p : kPanel) {
    FontTextCacheBuild(1, p.x, p.y, p.text, 0xFFFFFF, &target, &clip, 1, fonts.handles[p.font], 0x202020, -1, 0,
                       nullptr);
  }
  for (auto _ : state) {
    for (const PanelText& p : kPanel) {
      benchmark::DoNotOptimize(FontTextCacheBuild(draw ? 1 : 0, p.x, p.y, p.text, 0xFFFFFF, &target, &clip, 1,
                                                  fonts.handles[p.font], 0x202020, -1, 0, nullptr));
    }
  }
  state.SetLabel(draw ? "layout and pixels" : "layout only");
}
BENCHMARK(BM_PanelTextFrameWarm)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// The same panel drawn through the texture glyph caches on the software
// device: one graphic rectangle per glyph (two for edge fonts) into the back
// buffer, the batch flushed once a frame.
void BM_PanelTextFrameTexture(benchmark::State& state) {
  plat::SetBackend(plat::Backend::kHeadless);
  plat::HeadlessReset(plat::VirtualDesktop{});
  ChangeWindowMode(1);
  plat::EnableVirtualClock(true);
  GraphicsConfig().hardware_allowed = 1;
  GraphicsConfig().vblank_wait_off = 1;
  ConfigureScreenMode(640, 480, 32, 60);
  if (GraphicsSystemStart() != 0) {
    state.SkipWithError("no graphics");
    return;
  }
  SetDrawTarget(-2);
  SetBlendModeParam(1, 255);
  std::vector<int> handles;
  const int sizes[][3] = {{13, 3, 3}, {16, 4, 2}, {20, 5, 3}, {21, 5, 3}, {24, 6, 3}, {32, 9, 3}};
  for (const auto& s : sizes) handles.push_back(CreateFontToHandle(nullptr, s[0], s[1], s[2], -1, -1, 0, -1, -1));
  const uint32_t white = GetColorCode(255, 255, 255), edge = GetColorCode(32, 32, 32);
  for (const PanelText& p : kPanel) DrawTextWithFont(p.x, p.y, p.text, white, handles[p.font], edge, 0);
  FlushVertexBatch();
  for (auto _ : state) {
    for (const PanelText& p : kPanel) DrawTextWithFont(p.x, p.y, p.text, white, handles[p.font], edge, 0);
    FlushVertexBatch();
  }
  for (int h : handles) FontHandleDelete(h);
  ShutdownGraphicsSystem();
  ResetGraphicsDeviceForTest();
  plat::EnableVirtualClock(false);
}
BENCHMARK(BM_PanelTextFrameTexture)->Unit(benchmark::kMicrosecond);

void BM_CreateFont(benchmark::State& state) {
  Screen().colour_bits = 32;
  for (auto _ : state) {
    const int h = CreateFontToHandle(nullptr, 21, 5, 3, -1, -1, 0, -1, -1);
    benchmark::DoNotOptimize(h);
    FontHandleDelete(h);
  }
}
BENCHMARK(BM_CreateFont)->Unit(benchmark::kMicrosecond);

}  // namespace
