// The band workers and the vector spans give the picture of one thread with
// the reference spans, byte for byte: random primitives in every blend mode,
// drawn with every worker count, band split and span level, including draws
// into a texture that later draws sample, clears between the draws and reads
// in the middle of a frame, into 32-bit targets with and without alpha and
// 16-bit ones, with spans of every length.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/platform/d3d9/d3d9_test_support.h"

namespace {

using namespace d3dtest;

class ThreadedRasterBands : public DeviceTest {
 protected:
  void TearDown() override {
    plat::SetRasterWorkerCount(0);
    plat::SetRasterBandRows(0);
    plat::SetRasterFreeProcessorsProbe(nullptr);
    plat::SetSpanLevel(-1);
    DeviceTest::TearDown();
  }

  // Draws the scene of the seed into a 16- or 32-bit back buffer and returns
  // its pixels (and those of the texture it drew into).
  std::vector<uint32_t> Scene(uint32_t seed, plat::D3DFORMAT format) {
    std::mt19937 r(seed);
    const int w = 61, h = 53;
    MakeDevice(w, h, format);
    Fill(0xFF203040u);
    auto random_texel = [&](int, int) {
      const uint32_t v = r();
      return (v & 3) == 0 ? v & 0x00FFFFFFu : ((v & 3) == 1 ? v | 0xFF000000u : v);
    };
    plat::Direct3DTexture9* tex[3] = {MakeTexture(16, 16, plat::D3DFMT_A8R8G8B8, random_texel),
                                      MakeTexture(8, 32, plat::D3DFMT_A4R4G4B4, random_texel),
                                      MakeTexture(5, 7, plat::D3DFMT_X8R8G8B8, random_texel)};
    plat::Direct3DTexture9* target_tex = nullptr;
    EXPECT_EQ(device_->CreateTexture(32, 32, 1, plat::D3DUSAGE_RENDERTARGET, plat::D3DFMT_A8R8G8B8,
                                     plat::D3DPOOL_DEFAULT, &target_tex, nullptr),
              plat::D3D_OK);
    plat::Direct3DSurface9* back = BackBuffer();
    plat::Direct3DSurface9* into = nullptr;
    target_tex->GetSurfaceLevel(0, &into);
    const uint32_t factors[] = {plat::D3DBLEND_ZERO,         plat::D3DBLEND_ONE,         plat::D3DBLEND_SRCCOLOR,
                                plat::D3DBLEND_INVSRCCOLOR,  plat::D3DBLEND_SRCALPHA,    plat::D3DBLEND_INVSRCALPHA,
                                plat::D3DBLEND_DESTALPHA,    plat::D3DBLEND_INVDESTALPHA, plat::D3DBLEND_DESTCOLOR,
                                plat::D3DBLEND_INVDESTCOLOR, plat::D3DBLEND_SRCALPHASAT};
    const uint32_t ops[] = {plat::D3DBLENDOP_ADD, plat::D3DBLENDOP_SUBTRACT, plat::D3DBLENDOP_REVSUBTRACT,
                            plat::D3DBLENDOP_MIN, plat::D3DBLENDOP_MAX};
    EXPECT_EQ(device_->BeginScene(), plat::D3D_OK);
    for (int draw = 0; draw < 160; draw++) {
      // Now and then the (A8R8G8B8) texture target takes the draws, then is
      // sampled.
      const bool to_texture = draw % 40 >= 25;
      device_->SetRenderTarget(0, to_texture ? into : back);
      const uint32_t kind = r() % 8;
      if (kind < 3) {
        device_->SetRenderState(plat::D3DRS_ALPHABLENDENABLE, kind != 0);
        Blend(plat::D3DBLEND_SRCALPHA, kind == 1 ? plat::D3DBLEND_INVSRCALPHA : plat::D3DBLEND_ONE);
        device_->SetRenderState(plat::D3DRS_ALPHABLENDENABLE, kind != 0);
      } else {
        Blend(factors[r() % 11], factors[r() % 11], ops[r() % 5]);
      }
      device_->SetRenderState(plat::D3DRS_ALPHATESTENABLE, r() % 4 == 0);
      device_->SetRenderState(plat::D3DRS_ALPHAFUNC, 1 + r() % 8);
      device_->SetRenderState(plat::D3DRS_ALPHAREF, r() % 256);
      const uint32_t filter = (r() & 1) ? plat::D3DTEXF_LINEAR : plat::D3DTEXF_POINT;
      device_->SetSamplerState(0, plat::D3DSAMP_MAGFILTER, filter);
      device_->SetSamplerState(0, plat::D3DSAMP_MINFILTER, filter);
      ModulateStage();
      if (r() % 3 == 0) device_->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_SELECTARG1);
      if (r() % 3 == 0) device_->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_SELECTARG1);
      const uint32_t which = r() % 5;
      device_->SetTexture(0, which == 4 ? nullptr : which == 3 && !to_texture ? target_tex : tex[which % 3]);
      const int tex_width = which == 3 ? (to_texture ? 16 : 32) : which == 2 ? 5 : which == 1 ? 8 : 16;
      const uint32_t diffuse = (r() & 1) ? 0xFFFFFFFFu : uint32_t(r());
      device_->SetRenderState(plat::D3DRS_SHADEMODE, (r() & 3) ? plat::D3DSHADE_FLAT : plat::D3DSHADE_GOURAUD);
      std::vector<TexVertex> v;
      const int sprites = 1 + int(r() % 6);
      for (int s = 0; s < sprites; s++) {
        float cx = float(r() % 70) - 4, cy = float(r() % 62) - 4, ang = float(r() % 628) / 100.0f;
        // Spans of every length from one pixel; upright sprites on the pixel
        // grid sample the texture's last row and column exactly.
        float size = (r() & 1) ? 0.3f + float(r() % 50) / 10.0f : 2.0f + float(r() % 300) / 10.0f;
        if (r() % 3 == 0) {
          ang = 0;
          cx -= 0.5f;
          cy -= 0.5f;
          // Half of them one texel a pixel.
          size = (r() & 1) ? float(tex_width) / 2 : float(1 + r() % 32) / 2;
        }
        const float c = std::cos(ang) * size, sn = std::sin(ang) * size;
        const float u0 = (r() & 3) == 0 ? -0.3f : 0, u1 = (r() & 3) == 0 ? 1.2f : 1;
        // Now and then far down the wrapped texture, some rows' texel
        // positions past what the vector spans' lanes hold.
        const float far = r() % 8 == 0 ? 1023.5f : 0;
        Quad(&v, TV(cx - c + sn, cy - sn - c, u0, far + u0, diffuse),
             TV(cx + c + sn, cy + sn - c, u1, far + u0, uint32_t(r())),
             TV(cx - c - sn, cy - sn + c, u0, far + u1, diffuse), TV(cx + c - sn, cy + sn + c, u1, far + u1, diffuse));
      }
      device_->SetFVF(0x144);
      const uint32_t prim = r() % 10;
      const uint32_t type = prim == 0 ? plat::D3DPT_LINELIST : prim == 1 ? plat::D3DPT_POINTLIST : plat::D3DPT_TRIANGLELIST;
      const uint32_t count = uint32_t(v.size()) / (prim == 0 ? 2 : prim == 1 ? 1 : 3);
      EXPECT_EQ(device_->DrawPrimitiveUP(type, count, v.data(), sizeof(TexVertex)), plat::D3D_OK);
      // Clears of part of the target come in order with the draws.
      if (r() % 16 == 0) {
        const plat::RECT rc = {int32_t(r() % 40), int32_t(r() % 40), int32_t(20 + r() % 50), int32_t(20 + r() % 40)};
        EXPECT_EQ(device_->Clear(1, &rc, plat::D3DCLEAR_TARGET, uint32_t(r()), 1.0f, 0), plat::D3D_OK);
      }
      // A read in the middle of the frame sees every draw before it.
      if (draw == 77) read_mid_ = back->ReadPixel(30, 26);
    }
    EXPECT_EQ(device_->EndScene(), plat::D3D_OK);
    device_->SetRenderTarget(0, back);
    std::vector<uint32_t> out;
    for (plat::Direct3DSurface9* s : {back, into})
      for (uint32_t y = 0; y < s->height(); y++)
        for (uint32_t x = 0; x < s->width(); x++) out.push_back(s->ReadPixel(int(x), int(y)));
    device_->SetTexture(0, nullptr);
    into->Release();
    target_tex->Release();
    for (plat::Direct3DTexture9* t : tex) t->Release();
    return out;
  }

  uint32_t read_mid_ = 0;
};

TEST_F(ThreadedRasterBands, EveryWorkerCountAndSpanLevelGivesTheSameBytes) {
  std::mt19937 rng(4242);
  for (plat::D3DFORMAT format : {plat::D3DFMT_X8R8G8B8, plat::D3DFMT_R5G6B5}) {
    for (int scene = 0; scene < 3; scene++) {
      const uint32_t seed = rng();
      plat::SetRasterWorkerCount(1);
      plat::SetSpanLevel(0);
      const std::vector<uint32_t> want = Scene(seed, format);
      const uint32_t want_mid = read_mid_;
      // The scene covers most of the picture.
      EXPECT_GT(std::count_if(want.begin(), want.end(), [&](uint32_t p) { return p != want[0]; }), 2000);
      for (int workers : {1, 2, 3, 8}) {
        for (int level = 0; level <= plat::MaxSpanLevel(); level++) {
          if (workers == 1 && level == 0) continue;
          plat::SetRasterWorkerCount(workers);
          // The usual bands, bands of an odd height, bands of one row.
          plat::SetRasterBandRows(workers == 2 ? 0 : workers == 3 ? 7 : 1);
          plat::SetSpanLevel(level);
          const std::vector<uint32_t> got = Scene(seed, format);
          size_t diff = 0;
          while (diff < got.size() && got[diff] == want[diff]) diff++;
          EXPECT_EQ(diff, got.size()) << "format " << format << " scene " << scene << " workers " << workers
                                      << " level " << level << " first difference at pixel " << diff;
          EXPECT_EQ(read_mid_, want_mid);
        }
      }
    }
  }
}

// The workers that draw follow the free processors from draw to draw (all,
// none, one, then two); the picture stays that of one thread.
TEST_F(ThreadedRasterBands, WorkersThatComeAndGoMidFrameGiveTheSameBytes) {
  // The environment's settings, put back at the end.
  std::vector<std::pair<const char*, std::optional<std::string>>> env;
  for (const char* name : {"RORUD_RASTER_WORKERS", "RORUD_RASTER_ADAPT"})
    env.emplace_back(name, getenv(name) ? std::optional<std::string>(getenv(name)) : std::nullopt);
  plat::SetRasterWorkerCount(1);
  const std::vector<uint32_t> want = Scene(777, plat::D3DFMT_X8R8G8B8);
  setenv("RORUD_RASTER_WORKERS", "4", 1);
  setenv("RORUD_RASTER_ADAPT", "1", 1);
  plat::SetRasterWorkerCount(0);
  static int calls = 0;
  plat::SetRasterFreeProcessorsProbe([] { return std::array<double, 4>{8.0, 0.5, 2.0, 3.0}[calls++ / 3 % 4]; });
  EXPECT_EQ(plat::GetRasterWorkerCount(), 4);
  EXPECT_TRUE(Scene(777, plat::D3DFMT_X8R8G8B8) == want);
  EXPECT_GT(calls, 100);
  for (const auto& [name, value] : env) {
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
}

}  // namespace
