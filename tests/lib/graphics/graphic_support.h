// Shared set-up of the graphic tests: a started graphics system on the
// software device (640 x 480, 32 bits, window mode), PNG files written with
// libpng, and reads of the back buffer.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "lib/system/window_system.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "platform/window/backend.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"

namespace gtest_graphic {

// Pixels as 0xAARRGGBB, row by row.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> argb;
  uint32_t& at(int x, int y) { return argb[size_t(y) * width + x]; }
  uint32_t at(int x, int y) const { return argb[size_t(y) * width + x]; }
};

// A deterministic picture: every pixel differs from its neighbours.
inline Picture Pattern(int w, int h, bool alpha, uint32_t seed = 1) {
  Picture p{w, h, std::vector<uint32_t>(size_t(w) * h)};
  uint32_t s = seed * 2654435761u;
  for (auto& v : p.argb) {
    s = s * 1664525u + 1013904223u;
    uint32_t a = alpha ? ((s >> 24) | 0x20) : 0xFF;
    v = (a << 24) | ((s >> 8) & 0xFFFFFF) | 0x010101;  // never pure black
  }
  return p;
}

// Writes an 8-bit RGB (alpha false) or RGBA PNG.
inline std::vector<uint8_t> EncodePng(const Picture& p, bool alpha) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = uint32_t(p.width);
  image.height = uint32_t(p.height);
  image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  int channels = alpha ? 4 : 3;
  std::vector<uint8_t> rows(size_t(p.width) * p.height * channels);
  for (size_t i = 0; i < p.argb.size(); i++) {
    uint32_t v = p.argb[i];
    rows[i * channels + 0] = uint8_t(v >> 16);
    rows[i * channels + 1] = uint8_t(v >> 8);
    rows[i * channels + 2] = uint8_t(v);
    if (alpha) rows[i * channels + 3] = uint8_t(v >> 24);
  }
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, rows.data(), 0, nullptr);
  std::vector<uint8_t> out(size);
  EXPECT_NE(png_image_write_to_memory(&image, out.data(), &size, 0, rows.data(), 0, nullptr), 0);
  out.resize(size);
  return out;
}

inline void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

class GraphicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::HeadlessReset(plat::VirtualDesktop{});
    ResetWindowSettings();
    ChangeWindowMode(1);
    plat::SetDeviceCapsOverride(nullptr);
    plat::SetDeviceCreationFails(false);
    ResetGraphicsDeviceForTest();
    ResetRenderStateCache();
    plat::EnableVirtualClock(true);
    GraphicsConfig().hardware_allowed = 1;
    GraphicsConfig().vblank_wait_off = 1;
    WindowState().active = 1;
    baseline_ = plat::LiveDirect3DObjectCount();
    ASSERT_EQ(ConfigureScreenMode(640, 480, 32, 60), 0);
    ASSERT_EQ(GraphicsSystemStart(), 0);
    ASSERT_EQ(GraphicsDevice().direct3d_mode, 1);
    ASSERT_EQ(SetDrawTarget(-2), 0);
    ASSERT_EQ(ClearDrawTarget(nullptr), 0);
  }
  void TearDown() override {
    ShutdownGraphicsSystem();
    ResetGraphicsDeviceForTest();
    EXPECT_EQ(plat::LiveDirect3DObjectCount(), baseline_);
    ResetWindowSettings();
    plat::EnableVirtualClock(false);
  }

 public:
  // The back buffer after the pending vertices were drawn.
  static Picture Screenshot() {
    FlushVertexBatch();
    EndDeviceScene();
    plat::Direct3DSurface9* bb = GraphicsDevice().back_buffer;
    Picture p{int(bb->width()), int(bb->height()), {}};
    p.argb.resize(size_t(p.width) * p.height);
    for (int y = 0; y < p.height; y++)
      for (int x = 0; x < p.width; x++) p.at(x, y) = bb->ReadPixel(x, y) | 0xFF000000u;
    return p;
  }
  int baseline_ = 0;
};

}  // namespace gtest_graphic
