// The frame of the device benchmark (a 640x480 background, 2000 rotated
// 16x16 sprites with bilinear filtering, half alpha-blended and half
// additive, 200 48x48 sprites and 60 translucent boxes) drawn through the
// library's graphic handles, draw calls and vertex batch, and the same frame
// drawn with raw device calls. The counter "overhead" is the library's frame
// time over the raw one, minus 1 (target: below 0.20).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "lib/system/window_system.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "platform/window/backend.h"
#include "platform/d3d9/d3d9.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"

namespace {

constexpr int kW = 640, kH = 480, kSmall = 2000, kLarge = 200, kBoxes = 60;

struct Sprite {
  float x, y, angle, spin;
};
struct Box {
  int x, y, w, h;
};
struct Scene {
  std::vector<Sprite> small, large;
  std::vector<Box> boxes;
  Scene() {
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> px(0, kW), py(0, kH), a(0, 6.2831853f), s(-0.05f, 0.05f);
    for (int i = 0; i < kSmall; i++) small.push_back({px(rng), py(rng), a(rng), s(rng)});
    for (int i = 0; i < kLarge; i++) large.push_back({px(rng), py(rng), 0, 0});
    for (int i = 0; i < kBoxes; i++) boxes.push_back({int(px(rng)), int(py(rng)), 20 + (i * 7) % 60, 10 + (i * 11) % 40});
  }
};

uint32_t SpriteTexel(int x, int y, int size) {
  float dx = (x + 0.5f) / size - 0.5f, dy = (y + 0.5f) / size - 0.5f;
  float r = std::sqrt(dx * dx + dy * dy) * 2;
  uint32_t a = r >= 1 ? 0 : uint32_t((1 - r) * 255);
  return (a << 24) | (uint32_t(x * 255 / size) << 16) | (uint32_t(y * 255 / size) << 8) | 0x80u;
}
uint32_t BackTexel(int x, int y) { return 0xFF000000u | uint32_t((x ^ y) & 255) << 8 | uint32_t(x & 255); }

template <typename F>
int MakeLibraryGraphic(int w, int h, F fn) {
  BaseImage image{};
  CreateArgb8BaseImage(w, h, &image);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) reinterpret_cast<uint32_t*>(image.pixels + y * image.pitch)[x] = fn(x, y);
  int handle = MakeGraphicFromImage(&image, nullptr, 0);
  FreeBaseImagePixels(&image);
  return handle;
}

struct Library {
  int back, small, large;
  Library() {
    setenv("RORUD_PLATFORM", "headless", 0);
    plat::HeadlessReset(plat::VirtualDesktop{});
    ChangeWindowMode(1);
    plat::EnableVirtualClock(true);
    GraphicsConfig().hardware_allowed = 1;
    GraphicsConfig().vblank_wait_off = 1;
    ConfigureScreenMode(kW, kH, 32, 60);
    GraphicsSystemStart();
    SetDrawTarget(-2);
    back = MakeLibraryGraphic(kW, kH, BackTexel);
    small = MakeLibraryGraphic(16, 16, [](int x, int y) { return SpriteTexel(x, y, 16); });
    large = MakeLibraryGraphic(48, 48, [](int x, int y) { return SpriteTexel(x, y, 48); });
  }
  ~Library() {
    ShutdownGraphicsSystem();
    ResetGraphicsDeviceForTest();
  }
  void Frame(const Scene& scene, int frame) {
    SetDrawFilterMode(0);
    SetBlendModeParam(0, 0);
    DrawGraphicAt(0, 0, back, 0);
    SetDrawFilterMode(1);
    for (int pass = 0; pass < 2; pass++) {
      SetBlendModeParam(pass == 0 ? 1 : 2, 255);
      for (int i = pass; i < kSmall; i += 2) {
        const Sprite& s = scene.small[i];
        DrawGraphicRotatedF(s.x, s.y, 1.0, s.angle + s.spin * frame, small, 1, 0);
      }
    }
    SetDrawFilterMode(0);
    SetBlendModeParam(1, 255);
    for (const Sprite& s : scene.large) DrawGraphicRotated(int(s.x), int(s.y), 1.0, 0.0, large, 1, 0);
    SetBlendModeParam(1, 128);
    for (const Box& b : scene.boxes) DrawFilledBox(b.x, b.y, b.x + b.w, b.y + b.h, GetColorCode(0x20, 0x40, 0x80));
    FlushVertexBatch();
    EndDeviceScene();
  }
};

struct V {
  float x, y, z, rhw;
  uint32_t c;
  float u, v;
};
struct CVtx {
  float x, y, z, rhw;
  uint32_t c;
};

struct Raw {
  plat::Direct3D9* d3d = nullptr;
  plat::Direct3DDevice9* dev = nullptr;
  plat::Direct3DTexture9 *back, *small, *large;
  std::vector<V> verts;
  Raw() {
    d3d = plat::Direct3DCreate9(32);
    plat::D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = kW;
    p.BackBufferHeight = kH;
    p.BackBufferFormat = plat::D3DFMT_X8R8G8B8;
    p.SwapEffect = plat::D3DSWAPEFFECT_COPY;
    p.Windowed = 1;
    d3d->CreateDevice(0, plat::D3DDEVTYPE_HAL, nullptr, plat::D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &dev);
    back = Tex(kW, kH, BackTexel);
    small = Tex(16, 16, [](int x, int y) { return SpriteTexel(x, y, 16); });
    large = Tex(48, 48, [](int x, int y) { return SpriteTexel(x, y, 48); });
    dev->SetRenderState(plat::D3DRS_LIGHTING, 0);
    dev->SetRenderState(plat::D3DRS_CULLMODE, plat::D3DCULL_NONE);
    dev->SetRenderState(plat::D3DRS_SHADEMODE, plat::D3DSHADE_FLAT);
    dev->SetRenderState(plat::D3DRS_ZENABLE, 0);
    dev->SetSamplerState(0, plat::D3DSAMP_ADDRESSU, plat::D3DTADDRESS_CLAMP);
    dev->SetSamplerState(0, plat::D3DSAMP_ADDRESSV, plat::D3DTADDRESS_CLAMP);
  }
  ~Raw() {
    dev->SetTexture(0, nullptr);
    back->Release();
    small->Release();
    large->Release();
    dev->Release();
    d3d->Release();
  }
  template <typename F>
  plat::Direct3DTexture9* Tex(int w, int h, F fn) {
    plat::Direct3DTexture9* t = nullptr;
    dev->CreateTexture(w, h, 1, 0, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_MANAGED, &t, nullptr);
    plat::D3DLOCKED_RECT lr;
    t->LockRect(0, &lr, nullptr, 0);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch)[x] = fn(x, y);
    t->UnlockRect(0);
    return t;
  }
  void Filter(uint32_t f) {
    dev->SetSamplerState(0, plat::D3DSAMP_MAGFILTER, f);
    dev->SetSamplerState(0, plat::D3DSAMP_MINFILTER, f);
  }
  void Quad(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3, float um, float vm) {
    uint32_t c = 0xFFFFFFFFu;
    verts.insert(verts.end(), {{x0, y0, 0, 1, c, 0, 0}, {x1, y1, 0, 1, c, um, 0}, {x2, y2, 0, 1, c, 0, vm},
                               {x3, y3, 0, 1, c, um, vm}, {x2, y2, 0, 1, c, 0, vm}, {x1, y1, 0, 1, c, um, 0}});
  }
  void Flush() {
    if (!verts.empty()) dev->DrawPrimitiveUP(plat::D3DPT_TRIANGLELIST, uint32_t(verts.size() / 3), verts.data(), sizeof(V));
    verts.clear();
  }
  void Frame(const Scene& scene, int frame) {
    dev->BeginScene();
    dev->SetFVF(0x144);
    dev->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_SELECTARG1);
    dev->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_TEXTURE);
    dev->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_MODULATE);
    dev->SetTextureStageState(0, plat::D3DTSS_ALPHAARG1, plat::D3DTA_TEXTURE);
    dev->SetTextureStageState(0, plat::D3DTSS_ALPHAARG2, plat::D3DTA_DIFFUSE);
    dev->SetRenderState(plat::D3DRS_ALPHABLENDENABLE, 0);
    Filter(plat::D3DTEXF_POINT);
    dev->SetTexture(0, back);
    Quad(-0.5f, -0.5f, kW - 0.5f, -0.5f, -0.5f, kH - 0.5f, kW - 0.5f, kH - 0.5f, 1, 1);
    Flush();
    Filter(plat::D3DTEXF_LINEAR);
    dev->SetTexture(0, small);
    for (int pass = 0; pass < 2; pass++) {
      dev->SetRenderState(plat::D3DRS_ALPHABLENDENABLE, 1);
      dev->SetRenderState(plat::D3DRS_SRCBLEND, plat::D3DBLEND_SRCALPHA);
      dev->SetRenderState(plat::D3DRS_DESTBLEND, pass == 0 ? plat::D3DBLEND_INVSRCALPHA : plat::D3DBLEND_ONE);
      for (int i = pass; i < kSmall; i += 2) {
        const Sprite& s = scene.small[i];
        float a = s.angle + s.spin * frame, c = std::cos(a) * 8, sn = std::sin(a) * 8;
        Quad(s.x - c + sn, s.y - sn - c, s.x + c + sn, s.y + sn - c, s.x - c - sn, s.y - sn + c, s.x + c - sn,
             s.y + sn + c, 1, 1);
        if (verts.size() >= 2334) Flush();
      }
      Flush();
    }
    Filter(plat::D3DTEXF_POINT);
    dev->SetRenderState(plat::D3DRS_DESTBLEND, plat::D3DBLEND_INVSRCALPHA);
    dev->SetTexture(0, large);
    for (const Sprite& s : scene.large) {
      float x = std::floor(s.x) - 24.5f, y = std::floor(s.y) - 24.5f;
      Quad(x, y, x + 48, y, x, y + 48, x + 48, y + 48, 1, 1);
    }
    Flush();
    dev->SetTexture(0, nullptr);
    dev->SetFVF(0x44);
    dev->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_DIFFUSE);
    dev->SetTextureStageState(0, plat::D3DTSS_ALPHAARG1, plat::D3DTA_DIFFUSE);
    dev->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_SELECTARG1);
    std::vector<CVtx> boxes;
    for (const Box& b : scene.boxes) {
      float l = float(b.x), t = float(b.y), r = float(b.x + b.w), bo = float(b.y + b.h);
      uint32_t c = 0x80204080u;
      boxes.insert(boxes.end(), {{l, t, 0, 1, c}, {r, t, 0, 1, c}, {l, bo, 0, 1, c}, {r, bo, 0, 1, c}, {l, bo, 0, 1, c}, {r, t, 0, 1, c}});
    }
    dev->DrawPrimitiveUP(plat::D3DPT_TRIANGLELIST, uint32_t(boxes.size() / 3), boxes.data(), sizeof(CVtx));
    dev->EndScene();
  }
};

void BM_GraphicsScene(benchmark::State& state) {
  Scene scene;
  Library lib;
  Raw raw;
  double lib_ms = 0, raw_ms = 0;
  int frame = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    lib.Frame(scene, frame);
    auto t1 = std::chrono::steady_clock::now();
    raw.Frame(scene, frame);
    auto t2 = std::chrono::steady_clock::now();
    lib_ms += std::chrono::duration<double, std::milli>(t1 - t0).count();
    raw_ms += std::chrono::duration<double, std::milli>(t2 - t1).count();
    frame++;
  }
  state.counters["library_ms"] = lib_ms / frame;
  state.counters["raw_ms"] = raw_ms / frame;
  state.counters["overhead"] = raw_ms > 0 ? lib_ms / raw_ms - 1.0 : 0.0;
  // How far the two frames agree (the same scene, drawn twice).
  plat::Direct3DSurface9* raw_back = nullptr;
  raw.dev->GetBackBuffer(0, 0, plat::D3DBACKBUFFER_TYPE_MONO, &raw_back);
  plat::Direct3DSurface9* lib_back = GraphicsDevice().back_buffer;
  int differing = 0;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) differing += (raw_back->ReadPixel(x, y) & 0xFFFFFF) != (lib_back->ReadPixel(x, y) & 0xFFFFFF);
  raw_back->Release();
  state.counters["differing_pixels"] = differing;
}
BENCHMARK(BM_GraphicsScene)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace
