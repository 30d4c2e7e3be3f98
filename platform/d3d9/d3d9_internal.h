// platform/d3d9/d3d9_internal.h - what the Direct3D stand-in's sources share: the
// per-device bookkeeping, the pipeline state, the call recorder and the
// rasteriser entry points. Not for use outside platform/.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace plat {

// Held by a device and every object it made, so that counts and the lost
// flag outlive whichever is released last.
struct DeviceShared {
  int live = 0;
  bool lost = false;
  bool draws = true;  // false for a recording-only device
};

struct DeviceState {
  uint32_t rs[kRenderStateCount];
  uint32_t tss[kMaxTextureStages][kTextureStageStateCount];
  uint32_t samp[kMaxTextureStages][kSamplerStateCount];
  Direct3DTexture9* textures[kMaxTextureStages];  // referenced
  uint32_t fvf = 0;
  D3DMATRIX world, view, projection, texture[kMaxTextureStages];
  D3DMATERIAL9 material{};
  D3DLIGHT9 lights[kMaxLights]{};
  bool light_set[kMaxLights]{};
  bool light_on[kMaxLights]{};
  D3DVIEWPORT9 viewport{};
  RECT scissor{};
};

void ResetDeviceState(DeviceState* state, uint32_t width, uint32_t height);
// The capabilities every device reports (the test override or the defaults).
D3DCAPS9 CurrentDeviceCaps();

// ---- Recorder ----

extern bool g_d3d_recording;
void RecordCall(const char* name, const std::string& args);

inline void AppendArg(std::string* out, const void* p) { *out += p ? "obj" : "null"; }
inline void AppendArg(std::string* out, const char* s) { *out += s ? s : "null"; }
inline void AppendArg(std::string* out, float f) {
  char b[32];
  snprintf(b, sizeof b, "%g", static_cast<double>(f));
  *out += b;
}
inline void AppendArg(std::string* out, const RECT* r) {
  if (!r) { *out += "null"; return; }
  char b[80];
  snprintf(b, sizeof b, "{%d,%d,%d,%d}", r->left, r->top, r->right, r->bottom);
  *out += b;
}
template <typename T>
  requires std::is_integral_v<T>
inline void AppendArg(std::string* out, T v) {
  char b[32];
  if constexpr (std::is_signed_v<T>) snprintf(b, sizeof b, "%lld", static_cast<long long>(v));
  else snprintf(b, sizeof b, "%llu", static_cast<unsigned long long>(v));
  *out += b;
}
template <typename T>
  requires std::is_pointer_v<T> && (!std::is_same_v<T, const char*>) && (!std::is_same_v<T, const RECT*>) && (!std::is_same_v<T, RECT*>)
inline void AppendArg(std::string* out, T p) { AppendArg(out, static_cast<const void*>(p)); }

template <typename... A>
inline void Record(const char* name, A... args) {
  if (!g_d3d_recording) return;
  std::string s;
  bool first = true;
  ((s += first ? "" : ", ", first = false, AppendArg(&s, args)), ...);
  RecordCall(name, s);
}

// ---- Surfaces as sampling sources ----

// A texture level seen as 0xAARRGGBB texels: 32-bit formats are read in
// place, 16-bit ones through a decoded copy refreshed when the level changed.
struct TexelView {
  const uint32_t* texels = nullptr;
  int stride = 0;  // in texels
  int width = 0, height = 0;
  uint32_t alpha_or = 0;  // 0xFF000000 for formats without alpha
};

// ---- Rasteriser ----

// A vertex after transformation: screen position, z, 1/w, colours and the
// texture-coordinate sets.
struct RasterVertex {
  float x, y, z, rhw;
  uint32_t diffuse, specular;
  float tex[8][2];
};

// Draws a batch of assembled primitives into the device's render target:
// points (per 1), lines (per 2) or triangles (per 3), vertices in order. The
// draw is taken as it stands (state, textures) and may finish later, on the
// band workers.
void RasterizePrimitives(const DeviceState& state, Direct3DSurface9* target,
                         Direct3DSurface9* depth, int per, std::vector<RasterVertex> vertices,
                         int tex_sets);

// An empty list, with room kept from an earlier draw where there is some,
// for the vertices of a draw to come.
std::vector<RasterVertex> TakeVertexList();

extern bool g_force_generic_spans;

// ---- Band workers ----

// A job of the band workers: Run draws the rows [top, bottom) of the job's
// target (rows high) and nothing else. The workers cut every surface into
// bands of band_rows rows (band b holds rows [b * band_rows, (b + 1) *
// band_rows)); Bin may sort the job's work by band first, so that RunBands
// draws only what reaches the bands it is given (adjacent ones, at most
// kMaxBandRun, rows [top, bottom)) and Reaches skips bands it leaves alone.
constexpr int kMaxBandRun = 4;
struct BandJob {
  virtual ~BandJob() = default;
  virtual void Run(int top, int bottom) const = 0;
  virtual void Bin(int /*band_rows*/) {}
  virtual bool Reaches(int /*band*/) const { return true; }
  virtual void RunBands(int /*first*/, int /*last*/, int top, int bottom) const { Run(top, bottom); }
  int rows = 0;
  const void* target = nullptr;
  std::vector<const void*> sources;  // surfaces it reads
};
// Queues a job behind the others; with one worker it runs at once.
void SubmitBandJob(std::unique_ptr<BandJob> job);
// Whether a queued job draws into, or reads, this surface.
bool RasterPendingOn(const void* surface);
bool RasterReadPending(const void* surface);

// Surface bookkeeping shared between the sources.
void MarkSurfaceChanged(Direct3DSurface9* surface);
TexelView GetTexelView(Direct3DSurface9* surface);

}  // namespace plat
