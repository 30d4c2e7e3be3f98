// The graphics start on the software device: its log lines, the device calls
// it makes, the software fallback, screen modes, the flip's rectangles and
// pacing, the small settings and the render-state cache.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "lib/system/window_system.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "lib/graphics/model_tables.h"
#include "platform/window/backend.h"
#include "platform/d3d9/ddraw.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"

namespace {

using testsupport::LogCapture;
using testsupport::Sjis;
using testsupport::StripStamps;

class GraphicsStart : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::HeadlessReset(plat::VirtualDesktop{});
    ResetWindowSettings();
    ChangeWindowMode(1);
    plat::SetDeviceCapsOverride(nullptr);
    plat::SetDeviceCreationFails(false);
    ResetGraphicsDeviceForTest();
    ResetRenderStateCache();
    // Device creation measures the refresh period over many blanks: on the
    // virtual clock that takes no time.
    plat::EnableVirtualClock(true);
    GraphicsConfig().hardware_allowed = 1;
    GraphicsConfig().vblank_wait_off = 1;
    baseline_ = plat::LiveDirect3DObjectCount();
  }
  void TearDown() override {
    // The start makes the default font, whose glyph cache is a graphic.
    ShutdownGraphicsSystem();
    ResetGraphicsDeviceForTest();
    plat::SetDeviceCreationFails(false);
    plat::SetDeviceCapsOverride(nullptr);
    EXPECT_EQ(plat::LiveDirect3DObjectCount(), baseline_);
    ResetWindowSettings();
    plat::EnableVirtualClock(false);
  }
  static bool Has(const std::vector<std::string>& log, const std::string& call) {
    return std::find(log.begin(), log.end(), call) != log.end();
  }
  static size_t Index(const std::vector<std::string>& log, const std::string& call) {
    return size_t(std::find(log.begin(), log.end(), call) - log.begin());
  }
  int baseline_ = 0;
};

TEST_F(GraphicsStart, LogsTheDeviceAndItsFormats) {
  LogCapture log;
  ASSERT_EQ(ConfigureScreenMode(640, 480, 32, 60), 0);
  ASSERT_EQ(GraphicsSystemStart(), 0);
  EXPECT_EQ(GraphicsDevice().direct3d_mode, 1);
  EXPECT_EQ(GraphicsSystemStart(), 0);  // a second start does nothing
  std::string text = StripStamps(log.Debug());
  for (const char* line : {
           "DirectDraw オブジェクトの取得を行います....  成功\r\n",
           "IDirect3D9Ex オブジェクトを取得します.... 成功\r\n",
           "ソフトウエア頂点演算を使用します\r\n",
           "画面のフォーマットは D3DFMT_X8R8G8B8 です\r\n",
           "Ｚバッファのフォーマットは D3DFMT_D16 です\r\n",
           "16bit カラーフォーマットは D_D3DFMT_R5G6B5 です\r\n",
           "32bit カラーフォーマットは D_D3DFMT_X8R8G8B8 です\r\n",
           "アルファ付き 16bit カラーフォーマットは D_D3DFMT_A4R4G4B4 です\r\n",
           "アルファテスト用 16bit カラーフォーマットは D_D3DFMT_A1R5G5B5 です\r\n",
           "ＤＸＴ１テクスチャフォーマットは使えません\r\n",
           "描画用 16bit カラーフォーマットは D_D3DFMT_R5G5B5 です\r\n",
           "使用できる描画用ABGR浮動小数点16ビット型カラーフォーマットがありませんでした\r\n",
           "最大テクスチャサイズ　幅:2048 高さ:2048\r\n",
           "減算合成のハードウェア対応：ネイティブ\r\n",
           "Ｚバッファを作成します.... 成功\r\n",
       }) {
    EXPECT_NE(text.find(Sjis(line)), std::string::npos) << line;
  }
  const plat::D3DFORMAT* t = GraphicsDevice().texture_formats;
  EXPECT_EQ(t[kFormat16], plat::D3DFMT_R5G6B5);
  EXPECT_EQ(t[kFormatDxt1], t[kFormatAlphaTest16]);
  EXPECT_EQ(t[kFormatDrawableFloat16], 0u);
  EXPECT_EQ(t[kFormatScreen], t[kFormatDrawable32]);  // a 32-bit desktop makes a 32-bit screen
  EXPECT_EQ(GraphicsDevice().z_buffer_width, 1024);
  EXPECT_EQ(GraphicsDevice().z_buffer_height, 512);
}

TEST_F(GraphicsStart, FixedFunctionPathWithAndWithoutShaderCaps) {
  {
    LogCapture log;
    ASSERT_EQ(GraphicsSystemStart(), 0);
    EXPECT_EQ(GraphicsDevice().shaders_in_use, 0);
    EXPECT_EQ(GetShaderModelVersion(), 0);
    EXPECT_EQ(GraphicsDevice().vs20_usable, 0);
    EXPECT_NE(StripStamps(log.Debug()).find(Sjis("プログラマブルシェーダーを使用しません\r\n")), std::string::npos);
  }
  ResetGraphicsDeviceForTest();
  ChangeWindowMode(1);
  // A device with version 2.0 shaders gets hardware vertex processing and
  // takes the library's shader packs; drawing stays fixed-function.
  plat::SetShaderModel2Reported(true);
  LogCapture log;
  ASSERT_EQ(GraphicsSystemStart(), 0);
  plat::SetShaderModel2Reported(false);
  std::string text = StripStamps(log.Debug());
  EXPECT_NE(text.find(Sjis("ハードウエア頂点演算を使用します\r\n")), std::string::npos);
  EXPECT_NE(text.find(Sjis("プログラマブルシェーダーを使用します\r\n")), std::string::npos);
  EXPECT_EQ(GraphicsDevice().shaders_in_use, 1);
  EXPECT_NE(GraphicsDevice().brightness_volume, nullptr);
  EXPECT_EQ(StateCache().pixel_constants[0][3], 2.0f);
}

TEST_F(GraphicsStart, RecordedDeviceCallsFollowTheStartOrder) {
  plat::StartD3DRecording(true);
  ASSERT_EQ(GraphicsSystemStart(), 0);
  auto log = plat::StopD3DRecording();
  size_t load = Index(log, "LoadLibrary(d3d9.dll)");
  size_t ddraw = Index(log, "CreateDirectDraw7()");
  size_t ex = Index(log, "Direct3DCreate9Ex(32)");
  size_t latency = Index(log, "SetMaximumFrameLatency(1)");
  size_t zenable = Index(log, "SetRenderState(7, 1)");
  size_t depth = Index(log, "CreateDepthStencilSurface(1024, 512, 80, 0, 0, 1)");
  ASSERT_LT(depth, log.size());
  EXPECT_LT(load, ddraw);
  EXPECT_LT(ddraw, ex);
  EXPECT_LT(ex, latency);
  EXPECT_LT(latency, zenable);
  EXPECT_LT(zenable, depth);
  // Three clears with presents, then one more clear, before the back buffer is taken.
  size_t back = Index(log, "GetBackBuffer(0, 0, 0)");
  int clears = 0, presents = 0;
  for (size_t i = zenable; i < back; i++) {
    clears += log[i].rfind("Clear(", 0) == 0;
    presents += log[i].rfind("Present(", 0) == 0;
  }
  EXPECT_EQ(clears, 4);
  EXPECT_EQ(presents, 3);
  // The format table asks for 16-bit colour first, render targets last.
  EXPECT_TRUE(Has(log, "CheckDeviceFormat(0, 1, 22, 0, 3, 23)"));
  EXPECT_TRUE(Has(log, "CheckDeviceFormat(0, 1, 22, 1, 3, 116)"));
  EXPECT_TRUE(Has(log, "CheckDepthStencilMatch(0, 1, 22, 22, 80)"));
}

TEST_F(GraphicsStart, FallsBackToTheSoftwareScreen) {
  LogCapture log;
  plat::SetDeviceCreationFails(true);
  ASSERT_EQ(GraphicsSystemStart(), 0);
  EXPECT_EQ(GraphicsDevice().direct3d_mode, 0);
  EXPECT_EQ(GraphicsDevice().device, nullptr);
  EXPECT_NE(StripStamps(log.Debug()).find(Sjis("Direct3DDevice9Ex の作成に失敗しました\r\n")), std::string::npos);
  // Without hardware allowed no device is tried at all.
  ResetGraphicsDeviceForTest();
  plat::SetDeviceCreationFails(false);
  GraphicsConfig().hardware_allowed = 0;
  plat::StartD3DRecording(true);
  ASSERT_EQ(GraphicsSystemStart(), 0);
  auto calls = plat::StopD3DRecording();
  EXPECT_FALSE(Has(calls, "Direct3DCreate9Ex(32)"));
  EXPECT_EQ(GraphicsDevice().direct3d_mode, 0);
}

TEST_F(GraphicsStart, MissingRuntimeFailsTheStart) {
  LogCapture log;
  plat::SetDirect3DRuntimeAvailable(false);
  EXPECT_EQ(GraphicsSystemStart(), -1);
  plat::SetDirect3DRuntimeAvailable(true);
  EXPECT_NE(StripStamps(log.Debug()).find(Sjis("d3d9.dll の読み込みに失敗しました\r\n")), std::string::npos);
  EXPECT_EQ(GraphicsDevice().started, 0);
}

TEST_F(GraphicsStart, NonExPathAndBlendOpCaps) {
  plat::SetDirect3DExAvailable(false);
  plat::D3DCAPS9 caps = plat::DefaultDeviceCaps();
  caps.PrimitiveMiscCaps = 0;
  caps.MaxTextureWidth = 0;
  plat::SetDeviceCapsOverride(&caps);
  plat::StartD3DRecording(true);
  ASSERT_EQ(GraphicsSystemStart(), 0);
  auto log = plat::StopD3DRecording();
  plat::SetDirect3DExAvailable(true);
  EXPECT_TRUE(Has(log, "Direct3DCreate9(32)"));
  EXPECT_TRUE(Has(log, "CreateDevice(0, 1, null, 32)"));
  EXPECT_FALSE(Has(log, "CreateDeviceEx(0, 1, null, 32, null)"));
  EXPECT_FALSE(Has(log, "SetMaximumFrameLatency(1)"));
  EXPECT_EQ(GraphicsDevice().blend_op_capable, 0);
  EXPECT_EQ(GraphicsDevice().max_texture_width, 256u);  // 0 in the caps means 256
  EXPECT_EQ(GraphicsDevice().max_texture_size, 256u);
}

TEST_F(GraphicsStart, ReleaseAndRebuildLeavesNoObjects) {
  ASSERT_EQ(GraphicsSystemStart(), 0);
  ASSERT_EQ(CreateSubBackBuffer(), 0);
  EXPECT_GT(plat::LiveDirect3DObjectCount(), baseline_);
  GraphicsDevice().device->SimulateDeviceLoss();
  EXPECT_NE(GraphicsDevice().device->TestCooperativeLevel(), plat::D3D_OK);
  TerminateGraphics();
  EXPECT_EQ(plat::LiveDirect3DObjectCount(), baseline_);
  ASSERT_EQ(InitializeGraphicsDevice(), 0);
  EXPECT_EQ(GraphicsDevice().device->TestCooperativeLevel(), plat::D3D_OK);
  TerminateGraphics();
  EXPECT_EQ(plat::LiveDirect3DObjectCount(), baseline_);
}

TEST(GraphicsHelpers, MaxBrightnessAndFormatCodes) {
  struct Case {
    int r, g, b, er, eg, eb;
  } cases[] = {{0, 0, 0, 255, 255, 255},   {10, 10, 10, 255, 255, 255}, {255, 0, 0, 255, 0, 0},
               {100, 50, 0, 255, 127, 0}, {200, 100, 50, 255, 128, 64}, {254, 254, 0, 255, 255, 0}};
  for (const Case& c : cases) {
    uint8_t r, g, b;
    ComputeMaxBrightnessRgb(c.r, c.g, c.b, &r, &g, &b);
    EXPECT_EQ(r, c.er) << c.r << "," << c.g << "," << c.b;
    EXPECT_EQ(g, c.eg) << c.r << "," << c.g << "," << c.b;
    EXPECT_EQ(b, c.eb) << c.r << "," << c.g << "," << c.b;
  }
  GraphicFormatDescriptor d = {0, 0, 0, 0, 16};
  EXPECT_EQ(PixelFormatToCode(&d), 0);
  d.colour_bits = 32;
  EXPECT_EQ(PixelFormatToCode(&d), 1);
  d.alpha = 1;
  EXPECT_EQ(PixelFormatToCode(&d), 3);
  d.drawable = 1;
  EXPECT_EQ(PixelFormatToCode(&d), 13);
  d = {0, 1, 0, 0, 16};
  EXPECT_EQ(PixelFormatToCode(&d), 11);
  d = {0, 0, 0, 1, 16};
  EXPECT_EQ(PixelFormatToCode(&d), 4);
  d.special_kind = 3;
  EXPECT_EQ(PixelFormatToCode(&d), 8);
  d.special_kind = 7;
  EXPECT_EQ(PixelFormatToCode(&d), 15);
}

TEST_F(GraphicsStart, ScreenModeRequests) {
  LogCapture log;
  EXPECT_EQ(ConfigureScreenMode(640, 480, 24, 60), -1);
  EXPECT_EQ(ConfigureScreenMode(0, 480, 16, 0), -1);
  EXPECT_EQ(ConfigureScreenMode(640, -1, 16, 0), -1);
  // Before the start the values are only stored.
  EXPECT_EQ(ConfigureScreenMode(800, 600, 32, 75), 0);
  int w, h, bits;
  GetScreenSize(&w, &h);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(GetScreenColorBits(), 32);
  EXPECT_EQ(Screen().refresh_rate, 75);
  // The mode in force again: nothing happens, nothing is logged.
  log.Clear();
  EXPECT_EQ(ChangeScreenMode(800, 600, 32, 0, 75), 0);
  EXPECT_EQ(log.Debug(), "");
  // The logical size of the 320 x 240 emulation.
  Screen().emulate_320x240 = 1;
  GetLogicalScreenSize(&w, &h, &bits);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  Screen() = ScreenSettings{0, 0, 0, 0, 0, 0, -1};
  // Full screen, 320 x 240 runs as 640 x 480.
  ChangeWindowMode(0);
  EXPECT_EQ(ChangeScreenMode(320, 240, 16, 0, 0), 0);
  EXPECT_EQ(Screen().width, 640);
  EXPECT_EQ(Screen().emulate_320x240, 1);
  GetLogicalScreenSize(&w, &h, &bits);
  EXPECT_EQ(w, 320);
  ChangeWindowMode(1);
  Screen() = ScreenSettings{0, 0, 0, 0, 0, 0, -1};
  GetScreenSize(&w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(GetScreenColorBits(), 16);
}

TEST_F(GraphicsStart, DisplayModeList) {
  plat::VirtualDesktop desk;
  desk.modes = {{640, 480, 32, 60}, {320, 240, 8, 60}, {1024, 768, 16, 75}};
  plat::HeadlessReset(desk);
  FreeDisplayModeList();
  EXPECT_EQ(GetDisplayModeCount(), 2);  // modes below 16 bits are left out
  DisplayModeRecord r;
  EXPECT_EQ(GetDisplayModeRecord(&r, 1), &r);
  EXPECT_EQ(r.width, 1024);
  EXPECT_EQ(r.refresh_rate, 75);
  GetDisplayModeRecord(&r, 2);
  EXPECT_EQ(r.width, -1);
  EXPECT_EQ(r.refresh_rate, -1);
  GetDisplayModeRecord(&r, -1);
  EXPECT_EQ(r.height, -1);
  EXPECT_EQ(IsDisplayModeAvailable(640, 480, 32), 1);
  EXPECT_EQ(IsDisplayModeAvailable(640, 480, 16), 0);
  FreeDisplayModeList();
}

TEST_F(GraphicsStart, FlipRectanglesOfTheEmulation) {
  plat::RECT src, dst;
  Screen() = ScreenSettings{640, 480, 32, 0, 1, 0, -1};
  ComputeFlipRects(&src, &dst);
  EXPECT_EQ(src.right, 320);
  EXPECT_EQ(src.bottom, 240);
  EXPECT_EQ(dst.right, 640);
  EXPECT_EQ(dst.bottom, 480);
  Screen() = ScreenSettings{640, 480, 32, 0, 0, 0, -1};
  ComputeFlipRects(&src, &dst);
  EXPECT_EQ(src.right, 640);
}

// The library start brings the graphics up; the flip presents into the
// main window.
class GraphicsLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetBackend(plat::Backend::kHeadless);
    plat::HeadlessReset(plat::VirtualDesktop{});
    // Other test runs on the machine start libraries of the same class name:
    // a folder of this run's own keeps their double-start checks apart.
    lock_folder_ = (std::filesystem::temp_directory_path() /
                    ("rorud-lock-graphics-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                     "-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
                       .string();
    std::filesystem::create_directories(lock_folder_);
    plat::SetWindowLockFolder(lock_folder_);
    ResetWindowSettings();
    ResetGraphicsDeviceForTest();
    ResetRenderStateCache();
    GraphicsConfig().hardware_allowed = 1;
    GraphicsConfig().vblank_wait_off = 1;
    capture_ = std::make_unique<LogCapture>();
    plat::SetVirtualClockAutoAdvance(10);
    baseline_ = plat::LiveDirect3DObjectCount();
    ChangeWindowMode(1);
  }
  void TearDown() override {
    LibraryEnd();
    EXPECT_EQ(plat::LiveDirect3DObjectCount(), baseline_);
    ResetGraphicsDeviceForTest();
    ResetWindowSettings();
    capture_.reset();
    plat::HeadlessReset(plat::VirtualDesktop{});
    std::error_code ignored;
    std::filesystem::remove_all(lock_folder_, ignored);
  }
  std::string lock_folder_;
  std::unique_ptr<LogCapture> capture_;
  int baseline_ = 0;
};

TEST_F(GraphicsLibrary, FlipPresentsTheBackBufferIntoTheWindow) {
  ASSERT_EQ(ConfigureScreenMode(640, 480, 32, 0), 0);
  ASSERT_EQ(LibraryStart(), 0) << testsupport::Utf8(StripStamps(capture_->Debug()));
  GraphicsDeviceState& d = GraphicsDevice();
  ASSERT_EQ(d.direct3d_mode, 1);
  d.back_buffer->WritePixel(3, 4, 0xFF123456u);
  ASSERT_EQ(FlipScreen(), 0);
  std::vector<uint32_t> frame;
  int w = 0, h = 0;
  ASSERT_TRUE(plat::HeadlessGetLastFrame(GetMainWindow(), &frame, &w, &h));
  EXPECT_EQ(frame[size_t(4) * w + 3] & 0xFFFFFF, 0x123456u);
  EXPECT_EQ(d.back_buffer->ReadPixel(3, 4), 0xFF123456u);
  // The same mode again changes nothing and logs nothing.
  capture_->Clear();
  EXPECT_EQ(ConfigureScreenMode(640, 480, 32, 0), 0);
  EXPECT_EQ(capture_->Debug(), "");
  EXPECT_EQ(ConfigureScreenMode(640, 480, 24, 0), -1);
  // The hardware setting cannot change while the library runs.
  EXPECT_EQ(SetHardwareRenderFlag(0), -1);
  EXPECT_EQ(GetHardwareRenderFlag(), 1);
  // A lost device makes the flip fail; the game goes on.
  d.device->SimulateDeviceLoss();
  EXPECT_EQ(FlipScreen(), -1);
}

TEST_F(GraphicsLibrary, LibraryStartAndEndBracketTheModelTables) {
  ASSERT_EQ(ConfigureScreenMode(640, 480, 32, 0), 0);
  ASSERT_EQ(LibraryStart(), 0);
  EXPECT_EQ(ModelSystem().initialised, 1);
  EXPECT_EQ(LibraryEnd(), 0);
  EXPECT_EQ(ModelSystem().initialised, 0);
}

TEST_F(GraphicsLibrary, FlipRectanglesFollowTheWindowScale) {
  SetWindowScale(1.5, 1.5);
  ASSERT_EQ(LibraryStart(), 0) << testsupport::Utf8(StripStamps(capture_->Debug()));
  plat::RECT src, dst;
  ComputeFlipRects(&src, &dst);
  EXPECT_EQ(src.right, 640);
  EXPECT_EQ(src.bottom, 480);
  EXPECT_EQ(dst.right, 960);
  EXPECT_EQ(dst.bottom, 720);
  ASSERT_EQ(FlipScreen(), 0);
  plat::Rect s2, d2;
  ASSERT_TRUE(plat::HeadlessGetLastPresentRects(GetMainWindow(), &s2, &d2));
  EXPECT_EQ(d2.right, 960);
  EXPECT_EQ(d2.bottom, 720);
}

TEST_F(GraphicsLibrary, MinimisedWindowSkipsThePresent) {
  ASSERT_EQ(LibraryStart(), 0) << testsupport::Utf8(StripStamps(capture_->Debug()));
  int before = GraphicsDevice().device->present_count();
  WindowState().minimised = 1;
  EXPECT_EQ(FlipScreen(), 0);
  EXPECT_EQ(GraphicsDevice().device->present_count(), before);
  WindowState().minimised = 0;
  EXPECT_EQ(FlipScreen(), 0);
  EXPECT_EQ(GraphicsDevice().device->present_count(), before + 1);
}

TEST_F(GraphicsLibrary, FrontScreenIsFlippedByItsTimerUntilAnotherTargetIsChosen) {
  ASSERT_EQ(LibraryStart(), 0) << testsupport::Utf8(StripStamps(capture_->Debug()));
  // The graphics start leaves the front screen as the draw target.
  ASSERT_EQ(GetDrawTarget(), -4);
  EXPECT_EQ(IsFrontScreenTimerRunning(), 1);
  plat::Direct3DDevice9* d = GraphicsDevice().device;
  int before = d->present_count();
  // Nothing is due before 32 ms have passed.
  ProcessWindowMessages();
  EXPECT_EQ(d->present_count(), before);
  for (int tick = 1; tick <= 3; tick++) {
    plat::Sleep(33);
    ProcessWindowMessages();
    EXPECT_EQ(d->present_count(), before + tick);
  }
  // Another target: the next tick finds it and the timer lapses.
  ASSERT_EQ(SetDrawTarget(-2), 0);
  plat::Sleep(33);
  ProcessWindowMessages();
  EXPECT_EQ(d->present_count(), before + 3);
  EXPECT_EQ(IsFrontScreenTimerRunning(), 0);
  plat::Sleep(100);
  ProcessWindowMessages();
  EXPECT_EQ(d->present_count(), before + 3);
}

TEST_F(GraphicsLibrary, ScreenModeChangeRebuildsTheDevice) {
  ASSERT_EQ(LibraryStart(), 0) << testsupport::Utf8(StripStamps(capture_->Debug()));
  plat::Direct3DDevice9* first = GraphicsDevice().device;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(ConfigureScreenMode(800, 600, 32, 0), 0);
  ASSERT_NE(GraphicsDevice().device, nullptr);
  EXPECT_EQ(GraphicsDevice().device->present_parameters().BackBufferWidth, 800u);
  int w = 0, h = 0;
  GetScreenSize(&w, &h);
  EXPECT_EQ(w, 800);
  EXPECT_NE(StripStamps(capture_->Debug()).find(Sjis("画面モード変更処理は正常に終了しました\r\n")), std::string::npos);
}

TEST_F(GraphicsStart, PacedWaitRunsAtSixtyHertzOnTheVirtualClock) {
  plat::EnableVirtualClock(true);
  plat::SetVirtualClockAutoAdvance(0);
  plat::SetVirtualClockMicros(0);
  ASSERT_EQ(CreateDirectDrawObject(), 0);
  ASSERT_EQ(MeasureRefreshPeriod(), 0);
  EXPECT_NEAR(double(Screen().refresh_period), 16667.0, 2.0);
  int64_t last = GetLastVerticalBlank();
  for (int i = 0; i < 30; i++) {
    plat::AdvanceVirtualClock(3000);  // a short frame of work
    WaitVBlankPaced();
    int64_t now = GetLastVerticalBlank();
    EXPECT_NEAR(double(now - last), 16667.0, 1.0) << i;
    last = now;
  }
}

TEST_F(GraphicsStart, SmallSettings) {
  EXPECT_EQ(SetDrawWorkerCount(3), 0);
  EXPECT_EQ(GetDrawWorkerCount(), 3);
  EXPECT_EQ(SetDrawWorkerCount(-1), -1);
  EXPECT_EQ(GetDrawWorkerCount(), 3);
  EXPECT_EQ(SetDrawWorkerCount(0), 0);
  EXPECT_GE(GetDrawWorkerCount(), 1);
  EXPECT_EQ(SetTransparentColor(255, 0, 255), 0);
  EXPECT_EQ(GraphicsConfig().transparent_colour, 0x00FF00FFu);
  Screen().colour_bits = 8;
  SetTransparentColor(1, 2, 3);
  EXPECT_EQ(GraphicsConfig().transparent_colour, 0x00FF00FFu);
  Screen().colour_bits = 0;
  SetVBlankWaitFlag(0);
  EXPECT_EQ(GetGraphicsFlagF(), 0);
  SetVBlankWaitFlag(5);
  EXPECT_EQ(GetGraphicsFlagF(), 1);
  SetGraphicsOptionFlag(0);
  EXPECT_EQ(GraphicsConfig().single_texture, 1);
  SetGraphicsOptionFlag(7);
  EXPECT_EQ(GraphicsConfig().single_texture, 0);
  EXPECT_EQ(SetHardwareRenderFlag(0), 0);
  EXPECT_EQ(GetHardwareRenderFlag(), 0);
  SetHardwareRenderFlag(1);
  EXPECT_EQ(CreateRawVertexBuffer(64, 0, 0x44, plat::D3DPOOL_MANAGED), nullptr);
  SetCreateGraphicDepth(32);
  SetCreateAlphaFlag(1);
  ResetGraphicsCreationSettings();
  EXPECT_EQ(GetCreateGraphicDepth(), 0);
  EXPECT_EQ(GetCreateGraphicFlagD(), 0);
  EXPECT_EQ(GetGraphicsFlagF(), 1);  // the vertical-blank setting survives
  char block[400];
  memset(block, 0x55, sizeof block);
  EXPECT_EQ(ClearGraphicsParamBlock(block), block);
  EXPECT_EQ(block[379], 0);
  EXPECT_EQ(block[380], 0x55);
}

TEST_F(GraphicsStart, RenderStateCacheReachesTheDeviceOnlyOnChange) {
  EXPECT_EQ(SetZWriteState(1), -1);  // no device
  ASSERT_EQ(GraphicsSystemStart(), 0);
  plat::StartD3DRecording(true);
  EXPECT_EQ(SetSamplerFilterMode(3), -1);
  EXPECT_EQ(SetSamplerFilterMode(1), 0);
  EXPECT_EQ(SetSamplerFilterMode(1), 0);
  EXPECT_EQ(SetMaxAnisotropy(0), 0);
  EXPECT_EQ(StateCache().max_anisotropy, 1);
  SetCullMode(1);
  SetCullMode(2);
  EXPECT_EQ(SetTextureAddressMode(3, 8), -1);
  plat::D3DVIEWPORT9 vp = {0, 0, 100, 100, 0.0f, 1.0f};
  SetViewportState(&vp);
  vp.MinZ = 0.5f;
  SetViewportState(&vp);
  auto log = plat::StopD3DRecording();
  int filters = 0, viewports = 0;
  for (auto& l : log) {
    filters += l.rfind("SetSamplerState(0, 5,", 0) == 0;
    viewports += l.rfind("SetViewport(", 0) == 0;
  }
  EXPECT_EQ(filters, 1);
  EXPECT_EQ(viewports, 1);
  EXPECT_TRUE(Has(log, "SetRenderState(22, 3)"));  // mode 1: counter-clockwise
  EXPECT_TRUE(Has(log, "SetRenderState(22, 2)"));  // mode 2: clockwise
  EXPECT_FALSE(Has(log, "SetSamplerState(0, 10, 0)"));
}

TEST_F(GraphicsStart, BatchGoesOutWhenThePrimitiveChanges) {
  // The batch's start, as the device start runs it, leaves one point in the
  // batch. A box's two triangles appended straight after, under the same
  // states, must go out as a draw of their own and come out whole.
  ASSERT_EQ(GraphicsSystemStart(), 0);
  ASSERT_EQ(InitVertexBatchBuffers(), 0);
  ASSERT_EQ(Batch().count, 1);
  plat::StartD3DRecording(true);
  auto* v = static_cast<Vertex20*>(AppendBatchVertices(0, plat::D3DPT_TRIANGLELIST, 6));
  const float l = 8, t = 8, r = 24, b = 24;
  const uint32_t white = 0xFFFFFFFFu;
  v[0] = {l, t, 0, 1, white}, v[1] = {r, t, 0, 1, white}, v[2] = {l, b, 0, 1, white};
  v[3] = {r, t, 0, 1, white}, v[4] = {r, b, 0, 1, white}, v[5] = {l, b, 0, 1, white};
  FlushVertexBatch();
  std::vector<std::string> draws;
  for (const std::string& call : plat::StopD3DRecording())
    if (call.rfind("DrawPrimitiveUP", 0) == 0) draws.push_back(call);
  EXPECT_EQ(draws, (std::vector<std::string>{"DrawPrimitiveUP(1, 1, 20)", "DrawPrimitiveUP(4, 2, 20)"}));
  EndDeviceScene();
  plat::Direct3DSurface9* bb = GraphicsDevice().back_buffer;
  int inside = 0;
  for (int y = 8; y < 24; y++)
    for (int x = 8; x < 24; x++) inside += (bb->ReadPixel(x, y) & 0xFFFFFFu) == 0xFFFFFFu;
  EXPECT_EQ(inside, 16 * 16);
}

TEST_F(GraphicsStart, IndexedGridJoinsRowsIntoOneStrip) {
  ASSERT_EQ(GraphicsSystemStart(), 0);
  struct V {
    float x, y, z, rhw;
    uint32_t c;
    float u, v;
  } grid[64];
  for (int i = 0; i < 64; i++) grid[i] = {float(i % 8) * 4, float(i / 8) * 4, 0, 1, 0xFFFFFFFFu, 0, 0};
  EXPECT_EQ(DrawIndexedGrid(1, 8, grid), -1);
  GraphicsDevice().device->BeginScene();
  plat::StartD3DRecording(true);
  EXPECT_EQ(DrawIndexedGrid(8, 8, grid), 0);
  auto log = plat::StopD3DRecording();
  GraphicsDevice().device->EndScene();
  int draws = 0;
  for (auto& l : log)
    if (l.rfind("DrawIndexedPrimitiveUP(", 0) == 0) {
      draws++;
      EXPECT_EQ(l, "DrawIndexedPrimitiveUP(5, 0, 64, 122, 101, 28)");
    }
  EXPECT_EQ(draws, 1);
}

}  // namespace

namespace {

TEST_F(GraphicsStart, LockRectangleOfTheScreen) {
  ASSERT_EQ(ConfigureScreenMode(320, 200, 32, 0), 0);
  ASSERT_EQ(GraphicsSystemStart(), 0);
  GraphicsDeviceState& d = GraphicsDevice();
  d.back_buffer->WritePixel(10, 20, 0xFF336699u);
  for (int direct = 0; direct < 2; direct++) {
    d.use_back_buffer_lock = direct;
    int32_t rect[4] = {10, 20, 30, 25};
    BaseImage view{};
    ASSERT_EQ(CreateBackBufferLockSurfaces(rect, &view, -1, 1), 0);
    EXPECT_EQ(view.width, 20);
    EXPECT_EQ(view.height, 5);
    EXPECT_EQ(GetBaseImagePixel(&view, 0, 0) & 0xFFFFFF, 0x336699u);
    // One lock at a time.
    EXPECT_EQ(CreateBackBufferLockSurfaces(rect, &view, -1, 1), -1);
    EXPECT_EQ(ReleaseBackBufferLockSurfaces(), 0);
  }
  // A rectangle reaching past the screen locks nothing.
  int32_t outside[4] = {300, 0, 321, 10};
  BaseImage view{};
  EXPECT_EQ(CreateBackBufferLockSurfaces(outside, &view, -1, 1), -1);
  int32_t empty[4] = {5, 5, 5, 10};
  EXPECT_EQ(CreateBackBufferLockSurfaces(empty, &view, -1, 1), -1);
  EXPECT_EQ(ReleaseBackBufferLockSurfaces(), 0);
}

}  // namespace

namespace {

TEST_F(GraphicsStart, FullScreenDevicesTrueAndEmulated) {
  ChangeWindowMode(0);
  ASSERT_EQ(ConfigureScreenMode(640, 480, 16, 0), 0);
  ASSERT_EQ(GraphicsSystemStart(), 0);
  const plat::D3DPRESENT_PARAMETERS& p = GraphicsDevice().device->present_parameters();
  EXPECT_EQ(p.Windowed, 0);
  EXPECT_EQ(p.BackBufferFormat, plat::D3DFMT_R5G6B5);
  ResetGraphicsDeviceForTest();

  // 320 x 240 in full screen: the display runs 640 x 480, the device is a
  // window on it, the flip doubles the top-left quarter.
  ChangeWindowMode(0);
  ASSERT_EQ(ConfigureScreenMode(320, 240, 32, 0), 0);
  ASSERT_EQ(GraphicsSystemStart(), 0);
  int w, h, bits;
  GetScreenSize(&w, &h);
  EXPECT_EQ(w, 640);
  GetLogicalScreenSize(&w, &h, &bits);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  EXPECT_EQ(GraphicsDevice().device->present_parameters().Windowed, 1);
  plat::RECT src, dst;
  ComputeFlipRects(&src, &dst);
  EXPECT_EQ(src.right, 320);
  EXPECT_EQ(dst.right, 640);
  EXPECT_EQ(dst.bottom, 480);
}

}  // namespace

namespace {

TEST_F(GraphicsLibrary, FullScreenModeOutsideTheDisplayListIsRefused) {
  ChangeWindowMode(0);
  ASSERT_EQ(ConfigureScreenMode(640, 480, 32, 0), 0);
  ASSERT_EQ(LibraryStart(), 0) << testsupport::Utf8(StripStamps(capture_->Debug()));
  ASSERT_EQ(IsFullScreenMode(), 1);
  plat::Direct3DDevice9* device = GraphicsDevice().device;
  EXPECT_EQ(ConfigureScreenMode(123, 45, 32, 0), -1);
  int w = 0, h = 0;
  GetScreenSize(&w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(GraphicsDevice().device, device);  // nothing was rebuilt
  EXPECT_EQ(FlipScreen(), 0);
}

}  // namespace
