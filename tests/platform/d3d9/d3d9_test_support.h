// Shared set-up of the Direct3D stand-in tests: a device on a headless
// desktop, vertex helpers, and the independent reference arithmetic the
// goldens are checked against.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/window/window.h"

namespace d3dtest {

struct TexVertex {  // FVF 0x144
  float x, y, z, rhw;
  uint32_t diffuse;
  float u, v;
};
struct ColorVertex {  // FVF 0x44
  float x, y, z, rhw;
  uint32_t diffuse;
};

inline TexVertex TV(float x, float y, float u, float v, uint32_t c = 0xFFFFFFFFu) {
  return {x, y, 0.0f, 1.0f, c, u, v};
}
inline ColorVertex CV(float x, float y, uint32_t c) { return {x, y, 0.0f, 1.0f, c}; }

// Six vertices of a quad in the library's order: TL, TR, BL, BR, BL, TR.
inline void Quad(std::vector<TexVertex>* out, const TexVertex& tl, const TexVertex& tr, const TexVertex& bl,
                 const TexVertex& br) {
  out->insert(out->end(), {tl, tr, bl, br, bl, tr});
}

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::HeadlessReset(plat::VirtualDesktop{});
    plat::SetDeviceCapsOverride(nullptr);
    plat::SetForceGenericSpans(false);
    baseline_ = plat::LiveDirect3DObjectCount();
    d3d_ = plat::Direct3DCreate9(32);
    ASSERT_NE(d3d_, nullptr);
  }
  void TearDown() override {
    if (device_) device_->Release();
    if (d3d_) d3d_->Release();
    plat::SetDeviceCapsOverride(nullptr);
    plat::SetForceGenericSpans(false);
    EXPECT_EQ(plat::LiveDirect3DObjectCount(), baseline_);
  }

  plat::Direct3DDevice9* MakeDevice(int w = 64, int h = 64, plat::D3DFORMAT fmt = plat::D3DFMT_X8R8G8B8,
                                    plat::WindowHandle window = nullptr) {
    plat::D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = uint32_t(w);
    p.BackBufferHeight = uint32_t(h);
    p.BackBufferFormat = fmt;
    p.BackBufferCount = 1;
    p.SwapEffect = plat::D3DSWAPEFFECT_COPY;
    p.hDeviceWindow = window;
    p.Windowed = 1;
    p.Flags = plat::D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    p.PresentationInterval = plat::D3DPRESENT_INTERVAL_IMMEDIATE;
    if (device_) device_->Release();
    device_ = nullptr;
    EXPECT_EQ(d3d_->CreateDevice(0, plat::D3DDEVTYPE_HAL, window, plat::D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                                 &device_),
              plat::D3D_OK);
    if (device_) {
      device_->SetRenderState(plat::D3DRS_CULLMODE, plat::D3DCULL_NONE);
      device_->SetRenderState(plat::D3DRS_LIGHTING, 0);
      device_->SetRenderState(plat::D3DRS_SHADEMODE, plat::D3DSHADE_FLAT);
    }
    return device_;
  }

  plat::Direct3DSurface9* BackBuffer() {
    plat::Direct3DSurface9* s = nullptr;
    device_->GetBackBuffer(0, 0, 0, &s);
    s->Release();  // the swap chain keeps it alive
    return s;
  }

  // A managed texture filled by fn(x, y) -> 0xAARRGGBB.
  template <typename F>
  plat::Direct3DTexture9* MakeTexture(int w, int h, plat::D3DFORMAT fmt, F fn) {
    plat::Direct3DTexture9* t = nullptr;
    EXPECT_EQ(device_->CreateTexture(w, h, 1, 0, fmt, plat::D3DPOOL_MANAGED, &t, nullptr), plat::D3D_OK);
    plat::D3DLOCKED_RECT lr;
    EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), plat::D3D_OK);
    int bpp = plat::FormatBytesPerPixel(fmt);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++)
        plat::EncodePixel(fmt, fn(x, y), static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * bpp);
    t->UnlockRect(0);
    return t;
  }

  // The pixels of rt (else of the back buffer), row by row; then tex and rt
  // are let go and the back buffer is the target again.
  std::vector<uint32_t> TakePixels(plat::Direct3DTexture9* tex, plat::Direct3DSurface9* rt, int w, int h) {
    plat::Direct3DSurface9* out = rt ? rt : BackBuffer();
    std::vector<uint32_t> pixels;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) pixels.push_back(out->ReadPixel(x, y));
    device_->SetTexture(0, nullptr);
    tex->Release();
    if (rt) {
      device_->SetRenderTarget(0, BackBuffer());
      rt->Release();
    }
    return pixels;
  }

  void Fill(uint32_t argb) {
    ASSERT_EQ(device_->Clear(0, nullptr, plat::D3DCLEAR_TARGET, argb, 1.0f, 0), plat::D3D_OK);
  }

  void DrawTex(const std::vector<TexVertex>& v) {
    device_->SetFVF(0x144);
    ASSERT_EQ(device_->BeginScene(), plat::D3D_OK);
    ASSERT_EQ(device_->DrawPrimitiveUP(plat::D3DPT_TRIANGLELIST, uint32_t(v.size() / 3), v.data(), sizeof(TexVertex)),
              plat::D3D_OK);
    ASSERT_EQ(device_->EndScene(), plat::D3D_OK);
  }
  void DrawColor(const std::vector<ColorVertex>& v) {
    device_->SetFVF(0x44);
    ASSERT_EQ(device_->BeginScene(), plat::D3D_OK);
    ASSERT_EQ(device_->DrawPrimitiveUP(plat::D3DPT_TRIANGLELIST, uint32_t(v.size() / 3), v.data(),
                                       sizeof(ColorVertex)),
              plat::D3D_OK);
    ASSERT_EQ(device_->EndScene(), plat::D3D_OK);
  }

  // Stage 0: colour and alpha from the texture modulated by the diffuse.
  void ModulateStage() {
    device_->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_MODULATE);
    device_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_TEXTURE);
    device_->SetTextureStageState(0, plat::D3DTSS_COLORARG2, plat::D3DTA_DIFFUSE);
    device_->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_MODULATE);
    device_->SetTextureStageState(0, plat::D3DTSS_ALPHAARG1, plat::D3DTA_TEXTURE);
    device_->SetTextureStageState(0, plat::D3DTSS_ALPHAARG2, plat::D3DTA_DIFFUSE);
    device_->SetSamplerState(0, plat::D3DSAMP_ADDRESSU, plat::D3DTADDRESS_CLAMP);
    device_->SetSamplerState(0, plat::D3DSAMP_ADDRESSV, plat::D3DTADDRESS_CLAMP);
  }
  void Blend(uint32_t src, uint32_t dst, uint32_t op = plat::D3DBLENDOP_ADD) {
    device_->SetRenderState(plat::D3DRS_ALPHABLENDENABLE, 1);
    device_->SetRenderState(plat::D3DRS_SRCBLEND, src);
    device_->SetRenderState(plat::D3DRS_DESTBLEND, dst);
    device_->SetRenderState(plat::D3DRS_BLENDOP, op);
  }

  plat::Direct3D9* d3d_ = nullptr;
  plat::Direct3DDevice9* device_ = nullptr;
  int baseline_ = 0;
};

// ---- Independent reference arithmetic ----

// x / 255 rounded to the nearest, in floating point.
inline uint32_t RefDiv255(double x) { return uint32_t(std::floor(x / 255.0 + 0.5)); }
inline uint32_t RefCh(uint32_t c, int i) { return (c >> (8 * i)) & 255; }

// R5G6B5 through floating point: a field widens by repeating its high bits
// below itself (f * 8.25 for five bits, f * 4.0625 for six, rounded down) and
// narrows to its high bits.
inline uint32_t Ref565Decode(uint16_t v) {
  auto w5 = [](uint32_t f) { return uint32_t(std::floor(f * 8.25)); };
  auto w6 = [](uint32_t f) { return uint32_t(std::floor(f * 4.0625)); };
  return 0xFF000000u | (w5(v >> 11) << 16) | (w6((v >> 5) & 63) << 8) | w5(v & 31);
}
inline uint16_t Ref565Encode(uint32_t c) {
  auto n = [](uint32_t v, double levels) { return uint32_t(std::floor(v * levels / 256.0)); };
  return uint16_t((n(RefCh(c, 2), 32) << 11) | (n(RefCh(c, 1), 64) << 5) | n(RefCh(c, 0), 32));
}

// Channel-wise difference at most tol.
inline bool Near(uint32_t a, uint32_t b, int tol) {
  for (int i = 0; i < 4; i++)
    if (std::abs(int(RefCh(a, i)) - int(RefCh(b, i))) > tol) return false;
  return true;
}

}  // namespace d3dtest
