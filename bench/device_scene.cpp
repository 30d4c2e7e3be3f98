// A frame of the kind the game draws, through the software device, on one
// core: a 640x480 background, 2000 rotated 16x16 sprites with bilinear
// filtering (half alpha-blended, half additive), 200 48x48 sprites and 60
// translucent boxes. The same scene is then drawn by SDL2's software renderer
// (SDL_RenderCopyEx) in the same run; the counters report both frame times
// and the ratio (above 1: the device is faster).
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace {

constexpr int kW = 640, kH = 480;
constexpr int kSmall = 2000, kLarge = 200, kBoxes = 60;

struct Sprite {
  float x, y, angle, spin;
};

struct Scene {
  std::vector<Sprite> small, large;
  std::vector<SDL_Rect> boxes;
  Scene() {
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> px(0, kW), py(0, kH), a(0, 6.2831853f), s(-0.05f, 0.05f);
    for (int i = 0; i < kSmall; i++) small.push_back({px(rng), py(rng), a(rng), s(rng)});
    for (int i = 0; i < kLarge; i++) large.push_back({px(rng), py(rng), 0, 0});
    for (int i = 0; i < kBoxes; i++) {
      int x = int(px(rng)), y = int(py(rng));
      boxes.push_back({x, y, 20 + (i * 7) % 60, 10 + (i * 11) % 40});
    }
  }
};

uint32_t SpriteTexel(int x, int y, int size) {
  float dx = (x + 0.5f) / size - 0.5f, dy = (y + 0.5f) / size - 0.5f;
  float r = std::sqrt(dx * dx + dy * dy) * 2;
  uint32_t a = r >= 1 ? 0 : uint32_t((1 - r) * 255);
  return (a << 24) | (uint32_t(x * 255 / size) << 16) | (uint32_t(y * 255 / size) << 8) | 0x80u;
}
uint32_t BackTexel(int x, int y) { return 0xFF000000u | uint32_t((x ^ y) & 255) << 8 | uint32_t(x & 255); }

struct V {
  float x, y, z, rhw;
  uint32_t c;
  float u, v;
};
struct CVtx {
  float x, y, z, rhw;
  uint32_t c;
};

class DeviceScene {
 public:
  DeviceScene() {
    d3d_ = plat::Direct3DCreate9(32);
    plat::D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = kW;
    p.BackBufferHeight = kH;
    p.BackBufferFormat = plat::D3DFMT_X8R8G8B8;
    p.SwapEffect = plat::D3DSWAPEFFECT_COPY;
    p.Windowed = 1;
    p.PresentationInterval = plat::D3DPRESENT_INTERVAL_IMMEDIATE;
    d3d_->CreateDevice(0, plat::D3DDEVTYPE_HAL, nullptr, plat::D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &dev_);
    back_ = MakeTex(kW, kH, [](int x, int y) { return BackTexel(x, y); });
    small_ = MakeTex(16, 16, [](int x, int y) { return SpriteTexel(x, y, 16); });
    large_ = MakeTex(48, 48, [](int x, int y) { return SpriteTexel(x, y, 48); });
    dev_->SetRenderState(plat::D3DRS_LIGHTING, 0);
    dev_->SetRenderState(plat::D3DRS_CULLMODE, plat::D3DCULL_NONE);
    dev_->SetRenderState(plat::D3DRS_SHADEMODE, plat::D3DSHADE_FLAT);
    for (int s = 0; s < 1; s++) {
      dev_->SetSamplerState(s, plat::D3DSAMP_ADDRESSU, plat::D3DTADDRESS_CLAMP);
      dev_->SetSamplerState(s, plat::D3DSAMP_ADDRESSV, plat::D3DTADDRESS_CLAMP);
    }
    dev_->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_MODULATE);
    dev_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_TEXTURE);
    dev_->SetTextureStageState(0, plat::D3DTSS_COLORARG2, plat::D3DTA_DIFFUSE);
    dev_->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_MODULATE);
    dev_->SetTextureStageState(0, plat::D3DTSS_ALPHAARG1, plat::D3DTA_TEXTURE);
    dev_->SetTextureStageState(0, plat::D3DTSS_ALPHAARG2, plat::D3DTA_DIFFUSE);
  }
  ~DeviceScene() {
    dev_->SetTexture(0, nullptr);
    back_->Release();
    small_->Release();
    large_->Release();
    dev_->Release();
    d3d_->Release();
  }

  // Time spent per part of the frame, summed over frames (milliseconds).
  double part_ms[4] = {};

  void Frame(const Scene& scene, int frame) {
    auto mark = std::chrono::steady_clock::now();
    auto lap = [&](int part) {
      auto now = std::chrono::steady_clock::now();
      part_ms[part] += std::chrono::duration<double, std::milli>(now - mark).count();
      mark = now;
    };
    dev_->BeginScene();
    dev_->SetFVF(0x144);
    // Background: opaque, point-sampled.
    dev_->SetRenderState(plat::D3DRS_ALPHABLENDENABLE, 0);
    Filter(plat::D3DTEXF_POINT);
    dev_->SetTexture(0, back_);
    verts_.clear();
    Quad(-0.5f, -0.5f, kW - 0.5f, -0.5f, -0.5f, kH - 0.5f, kW - 0.5f, kH - 0.5f, 0xFFFFFFFFu);
    Flush();
    lap(0);
    // Small sprites, rotated, bilinear; alpha then additive.
    Filter(plat::D3DTEXF_LINEAR);
    dev_->SetTexture(0, small_);
    for (int pass = 0; pass < 2; pass++) {
      dev_->SetRenderState(plat::D3DRS_ALPHABLENDENABLE, 1);
      dev_->SetRenderState(plat::D3DRS_SRCBLEND, plat::D3DBLEND_SRCALPHA);
      dev_->SetRenderState(plat::D3DRS_DESTBLEND, pass == 0 ? plat::D3DBLEND_INVSRCALPHA : plat::D3DBLEND_ONE);
      for (int i = pass; i < kSmall; i += 2) {
        const Sprite& s = scene.small[i];
        float a = s.angle + s.spin * frame, c = std::cos(a) * 8, sn = std::sin(a) * 8;
        Quad(s.x - c + sn, s.y - sn - c, s.x + c + sn, s.y + sn - c, s.x - c - sn, s.y - sn + c, s.x + c - sn,
             s.y + sn + c, 0xFFFFFFFFu);
        if (verts_.size() >= 2334) Flush();
      }
      Flush();
    }
    lap(1);
    // Large sprites, alpha, unrotated.
    Filter(plat::D3DTEXF_POINT);
    dev_->SetRenderState(plat::D3DRS_DESTBLEND, plat::D3DBLEND_INVSRCALPHA);
    dev_->SetTexture(0, large_);
    for (const Sprite& s : scene.large) {
      float x = std::floor(s.x) - 24.5f, y = std::floor(s.y) - 24.5f;
      Quad(x, y, x + 48, y, x, y + 48, x + 48, y + 48, 0xFFFFFFFFu);
    }
    Flush();
    lap(2);
    // Translucent boxes, untextured.
    dev_->SetTexture(0, nullptr);
    dev_->SetFVF(0x44);
    dev_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_DIFFUSE);
    dev_->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_SELECTARG1);
    dev_->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_SELECTARG1);
    dev_->SetTextureStageState(0, plat::D3DTSS_ALPHAARG1, plat::D3DTA_DIFFUSE);
    std::vector<CVtx> boxes;
    for (const SDL_Rect& b : scene.boxes) {
      float l = float(b.x), t = float(b.y), r = float(b.x + b.w), bo = float(b.y + b.h);
      uint32_t c = 0x80204080u;
      boxes.insert(boxes.end(), {{l, t, 0, 1, c}, {r, t, 0, 1, c}, {l, bo, 0, 1, c}, {r, bo, 0, 1, c}, {l, bo, 0, 1, c}, {r, t, 0, 1, c}});
    }
    dev_->DrawPrimitiveUP(plat::D3DPT_TRIANGLELIST, uint32_t(boxes.size() / 3), boxes.data(), sizeof(CVtx));
    dev_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_TEXTURE);
    dev_->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_MODULATE);
    dev_->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_MODULATE);
    dev_->SetTextureStageState(0, plat::D3DTSS_ALPHAARG1, plat::D3DTA_TEXTURE);
    dev_->EndScene();
    // The frame is done when the band workers are.
    plat::WaitForRaster();
    lap(3);
  }

 private:
  template <typename F>
  plat::Direct3DTexture9* MakeTex(int w, int h, F fn) {
    plat::Direct3DTexture9* t = nullptr;
    dev_->CreateTexture(w, h, 1, 0, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_MANAGED, &t, nullptr);
    plat::D3DLOCKED_RECT lr;
    t->LockRect(0, &lr, nullptr, 0);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch)[x] = fn(x, y);
    t->UnlockRect(0);
    return t;
  }
  void Filter(uint32_t f) {
    dev_->SetSamplerState(0, plat::D3DSAMP_MAGFILTER, f);
    dev_->SetSamplerState(0, plat::D3DSAMP_MINFILTER, f);
  }
  void Quad(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3, uint32_t c) {
    verts_.insert(verts_.end(), {{x0, y0, 0, 1, c, 0, 0}, {x1, y1, 0, 1, c, 1, 0}, {x2, y2, 0, 1, c, 0, 1},
                                 {x3, y3, 0, 1, c, 1, 1}, {x2, y2, 0, 1, c, 0, 1}, {x1, y1, 0, 1, c, 1, 0}});
  }
  void Flush() {
    if (!verts_.empty())
      dev_->DrawPrimitiveUP(plat::D3DPT_TRIANGLELIST, uint32_t(verts_.size() / 3), verts_.data(), sizeof(V));
    verts_.clear();
  }

  plat::Direct3D9* d3d_ = nullptr;
  plat::Direct3DDevice9* dev_ = nullptr;
  plat::Direct3DTexture9 *back_, *small_, *large_;
  std::vector<V> verts_;
};

class SdlScene {
 public:
  SdlScene() {
    surface_ = SDL_CreateRGBSurfaceWithFormat(0, kW, kH, 32, SDL_PIXELFORMAT_ARGB8888);
    renderer_ = SDL_CreateSoftwareRenderer(surface_);
    back_ = MakeTex(kW, kH, [](int x, int y) { return BackTexel(x, y); }, SDL_BLENDMODE_NONE);
    small_ = MakeTex(16, 16, [](int x, int y) { return SpriteTexel(x, y, 16); }, SDL_BLENDMODE_BLEND);
    large_ = MakeTex(48, 48, [](int x, int y) { return SpriteTexel(x, y, 48); }, SDL_BLENDMODE_BLEND);
    SDL_SetTextureScaleMode(small_, SDL_ScaleModeLinear);
  }
  ~SdlScene() {
    SDL_DestroyTexture(back_);
    SDL_DestroyTexture(small_);
    SDL_DestroyTexture(large_);
    SDL_DestroyRenderer(renderer_);
    SDL_FreeSurface(surface_);
  }
  bool ok() const { return renderer_ != nullptr; }

  void Frame(const Scene& scene, int frame) {
    SDL_RenderCopy(renderer_, back_, nullptr, nullptr);
    for (int pass = 0; pass < 2; pass++) {
      SDL_SetTextureBlendMode(small_, pass == 0 ? SDL_BLENDMODE_BLEND : SDL_BLENDMODE_ADD);
      for (int i = pass; i < kSmall; i += 2) {
        const Sprite& s = scene.small[i];
        SDL_FRect dst = {s.x - 8, s.y - 8, 16, 16};
        double deg = (s.angle + s.spin * frame) * 57.29577951308232;
        SDL_RenderCopyExF(renderer_, small_, nullptr, &dst, deg, nullptr, SDL_FLIP_NONE);
      }
    }
    for (const Sprite& s : scene.large) {
      SDL_Rect dst = {int(s.x) - 24, int(s.y) - 24, 48, 48};
      SDL_RenderCopy(renderer_, large_, nullptr, &dst);
    }
    SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_BLEND);
    SDL_SetRenderDrawColor(renderer_, 0x20, 0x40, 0x80, 0x80);
    SDL_RenderFillRects(renderer_, scene.boxes.data(), int(scene.boxes.size()));
    SDL_RenderFlush(renderer_);
  }

 private:
  template <typename F>
  SDL_Texture* MakeTex(int w, int h, F fn, SDL_BlendMode mode) {
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(s->pixels) + y * s->pitch)[x] = fn(x, y);
    SDL_Texture* t = SDL_CreateTextureFromSurface(renderer_, s);
    SDL_FreeSurface(s);
    SDL_SetTextureBlendMode(t, mode);
    return t;
  }
  SDL_Surface* surface_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture *back_ = nullptr, *small_ = nullptr, *large_ = nullptr;
};

void BM_DeviceScene(benchmark::State& state) {
  Scene scene;
  DeviceScene device;
  int frame = 0;
  auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) device.Frame(scene, frame++);
  double device_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / frame;
  state.counters["device_ms"] = device_ms;
  state.counters["device_fps"] = 1000.0 / device_ms;
  const char* parts[] = {"background_ms", "small_ms", "large_ms", "boxes_ms"};
  for (int i = 0; i < 4; i++) state.counters[parts[i]] = device.part_ms[i] / frame;

  // The comparison, in the same run: as many SDL frames (at least 10).
  SdlScene sdl;
  if (!sdl.ok()) {
    state.SkipWithError("SDL software renderer unavailable");
    return;
  }
  int frames = std::max(frame, 10);
  auto t1 = std::chrono::steady_clock::now();
  for (int f = 0; f < frames; f++) sdl.Frame(scene, f);
  double sdl_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t1).count() / frames;
  state.counters["sdl_ms"] = sdl_ms;
  state.counters["sdl_fps"] = 1000.0 / sdl_ms;
  state.counters["speed_ratio"] = sdl_ms / device_ms;
}
BENCHMARK(BM_DeviceScene)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace
