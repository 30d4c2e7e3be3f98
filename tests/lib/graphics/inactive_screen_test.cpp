// The inactive-screen image: shown through a flip while the application is
// inactive, with the game's own picture put back afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "lib/system/window_system.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "lib/image/base_image.h"
#include "platform/window/backend.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"

namespace {

class InactiveScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetBackend(plat::Backend::kHeadless);
    plat::HeadlessReset(plat::VirtualDesktop{});
    lock_folder_ = (std::filesystem::temp_directory_path() /
                    ("rorud-lock-inactive-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                     "-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
                       .string();
    std::filesystem::create_directories(lock_folder_);
    plat::SetWindowLockFolder(lock_folder_);
    ResetWindowSettings();
    ResetGraphicsDeviceForTest();
    ResetRenderStateCache();
    GraphicsConfig().hardware_allowed = 1;
    GraphicsConfig().vblank_wait_off = 1;
    plat::SetVirtualClockAutoAdvance(10);
    baseline_ = plat::LiveDirect3DObjectCount();
    ChangeWindowMode(1);
    ASSERT_EQ(ConfigureScreenMode(640, 480, 32, 0), 0);
    ASSERT_EQ(LibraryStart(), 0);
    ASSERT_EQ(SetDrawTarget(-2), 0);
  }
  void TearDown() override {
    LibraryEnd();
    EXPECT_EQ(IsInactiveScreenImageSet(), 0);
    EXPECT_EQ(plat::LiveDirect3DObjectCount(), baseline_);
    ResetGraphicsDeviceForTest();
    ResetWindowSettings();
    plat::HeadlessReset(plat::VirtualDesktop{});
    std::error_code ignored;
    std::filesystem::remove_all(lock_folder_, ignored);
  }
  static uint32_t FramePixel(int x, int y) {
    std::vector<uint32_t> frame;
    int w = 0, h = 0;
    if (!plat::HeadlessGetLastFrame(GetMainWindow(), &frame, &w, &h)) return 0xDEADBEEF;
    return frame[size_t(y) * w + x] & 0xFFFFFF;
  }
  std::string lock_folder_;
  int baseline_ = 0;
};

TEST_F(InactiveScreen, ImageIsShownAndTheGamesPictureComesBack) {
  EXPECT_EQ(DrawInactiveScreenImage(nullptr), -1);  // no image yet
  // The game's picture: a white box on black.
  DrawFilledBox(100, 100, 200, 200, GetColorCode(255, 255, 255));
  FlushVertexBatch();
  // A 64 x 48 two-colour image: left half red, right half blue.
  BaseImage image{};
  ASSERT_EQ(CreateXrgb8BaseImage(64, 48, &image), 0);
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) SetBaseImagePixel(&image, x, y, x < 32 ? 255 : 0, 0, x < 32 ? 0 : 255, 255);
  ASSERT_EQ(SetInactiveScreenImage(&image), 0);
  FreeBaseImagePixels(&image);  // a copy is kept
  SetDrawFilterMode(0);
  int presents = GraphicsDevice().device->present_count();
  ASSERT_EQ(DrawInactiveScreenImage(nullptr), 0);
  EXPECT_EQ(GraphicsDevice().device->present_count(), presents + 1);
  // Stretched over the whole screen.
  EXPECT_EQ(FramePixel(10, 10), 0xFF0000u);
  EXPECT_EQ(FramePixel(150, 150), 0xFF0000u);
  EXPECT_EQ(FramePixel(630, 470), 0x0000FFu);
  // The settings and the back screen are the game's again.
  EXPECT_EQ(GetDrawTarget(), -2);
  EXPECT_EQ(GetDrawFilterMode(), 0);
  EXPECT_EQ(GetRunInactiveFlag(), 0);
  FlushVertexBatch();
  EndDeviceScene();
  plat::Direct3DSurface9* bb = GraphicsDevice().back_buffer;
  EXPECT_EQ(bb->ReadPixel(150, 150) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(bb->ReadPixel(10, 10) & 0xFFFFFF, 0u);
  // Deactivation shows it too.
  presents = GraphicsDevice().device->present_count();
  OnActivateApp(0);
  EXPECT_EQ(GraphicsDevice().device->present_count(), presents + 1);
  OnActivateApp(1);
  // While the library ends nothing is drawn.
  WindowState().ending = 1;
  EXPECT_EQ(DrawInactiveScreenImage(nullptr), 0);
  WindowState().ending = 0;
  EXPECT_EQ(SetInactiveScreenImage(nullptr), 0);
  EXPECT_EQ(IsInactiveScreenImageSet(), 0);
  // Set again: the library end frees it.
  ASSERT_EQ(CreateXrgb8BaseImage(8, 8, &image), 0);
  ASSERT_EQ(SetInactiveScreenImage(&image), 0);
  FreeBaseImagePixels(&image);
}

}  // namespace
