// platform/d3d9/d3d9_device.cpp - the Direct3D stand-in's device: state, resource
// creation, transfers between surfaces, presentation and the vertex
// pipeline in front of the rasteriser.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/d3d9/d3d9_internal.h"
#include "platform/d3d9/ddraw.h"

namespace plat {

namespace {

void Identity(D3DMATRIX* m) {
  memset(m, 0, sizeof *m);
  for (int i = 0; i < 4; i++) m->m[i][i] = 1.0f;
}

inline uint32_t FloatBits(float f) {
  uint32_t u;
  memcpy(&u, &f, 4);
  return u;
}

bool RectInside(const RECT& r, uint32_t w, uint32_t h) {
  return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && r.right <= int32_t(w) &&
         r.bottom <= int32_t(h);
}


template <typename T>
void Assign(T** slot, T* value) {
  if (value) value->AddRef();
  if (*slot) (*slot)->Release();
  *slot = value;
}

}  // namespace

void ResetDeviceState(DeviceState* s, uint32_t width, uint32_t height) {
  memset(s->rs, 0, sizeof s->rs);
  s->rs[D3DRS_ZENABLE] = 0;
  s->rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
  s->rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
  s->rs[D3DRS_ZWRITEENABLE] = 1;
  s->rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  s->rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  s->rs[D3DRS_CULLMODE] = D3DCULL_CCW;
  s->rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  s->rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  s->rs[D3DRS_FOGSTART] = FloatBits(0.0f);
  s->rs[D3DRS_FOGEND] = FloatBits(1.0f);
  s->rs[D3DRS_FOGDENSITY] = FloatBits(1.0f);
  s->rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFFu;
  s->rs[D3DRS_LIGHTING] = 1;
  s->rs[D3DRS_COLORVERTEX] = 1;
  s->rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  s->rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
  s->rs[D3DRS_COLORWRITEENABLE] = 0xF;
  s->rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
  for (int i = 0; i < kMaxTextureStages; i++) {
    memset(s->tss[i], 0, sizeof s->tss[i]);
    s->tss[i][D3DTSS_COLOROP] = i == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    s->tss[i][D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    s->tss[i][D3DTSS_COLORARG2] = D3DTA_CURRENT;
    s->tss[i][D3DTSS_ALPHAOP] = i == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    s->tss[i][D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    s->tss[i][D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    s->tss[i][D3DTSS_TEXCOORDINDEX] = uint32_t(i);
    s->tss[i][D3DTSS_RESULTARG] = D3DTA_CURRENT;
    memset(s->samp[i], 0, sizeof s->samp[i]);
    s->samp[i][D3DSAMP_ADDRESSU] = s->samp[i][D3DSAMP_ADDRESSV] = s->samp[i][D3DSAMP_ADDRESSW] =
        D3DTADDRESS_WRAP;
    s->samp[i][D3DSAMP_MAGFILTER] = s->samp[i][D3DSAMP_MINFILTER] = D3DTEXF_POINT;
    s->samp[i][D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    s->samp[i][D3DSAMP_MAXANISOTROPY] = 1;
    s->textures[i] = nullptr;
    Identity(&s->texture[i]);
  }
  s->fvf = 0;
  Identity(&s->world);
  Identity(&s->view);
  Identity(&s->projection);
  s->viewport = {0, 0, width, height, 0.0f, 1.0f};
  s->scissor = {0, 0, int32_t(width), int32_t(height)};
}

// ---- Swap chain ----

Direct3DSwapChain9::~Direct3DSwapChain9() { delete back_buffer_; }

HRESULT Direct3DSwapChain9::Present(const RECT* source, const RECT* dest, WindowHandle window,
                                    const void* dirty_region, uint32_t flags) {
  Record("SwapChain::Present", source, dest, window, flags);
  if (!device_) return D3DERR_INVALIDCALL;
  return device_->PresentFrom(back_buffer_, source, dest, window);
}

HRESULT Direct3DSwapChain9::GetBackBuffer(uint32_t index, uint32_t type, Direct3DSurface9** surface) {
  Record("SwapChain::GetBackBuffer", index, type);
  if (!surface || index != 0) return D3DERR_INVALIDCALL;
  *surface = back_buffer_;
  back_buffer_->AddRef();
  return D3D_OK;
}

// ---- Device ----

Direct3DDevice9::Direct3DDevice9(std::shared_ptr<DeviceShared> shared)
    : Direct3DResource(std::move(shared)), state_(new DeviceState) {}

Direct3DDevice9::~Direct3DDevice9() {
  for (auto*& t : state_->textures) Assign<Direct3DTexture9>(&t, nullptr);
  Assign<Direct3DSurface9>(&render_target_, nullptr);
  Assign<Direct3DSurface9>(&depth_stencil_, nullptr);
  Assign<Direct3DVertexBuffer9>(&stream_, nullptr);
  Assign<Direct3DIndexBuffer9>(&indices_, nullptr);
  ReleaseShaderBindings();
  if (swap_chain_) {
    swap_chain_->device_ = nullptr;
    swap_chain_->Release();
  }
}

HRESULT Direct3DDevice9::Init(const D3DPRESENT_PARAMETERS& params, uint32_t behaviour,
                              bool recording_only) {
  params_ = params;
  behaviour_ = behaviour;
  recording_only_ = recording_only;
  swap_chain_ = new (std::nothrow) Direct3DSwapChain9(shared_);
  if (!swap_chain_) return E_OUTOFMEMORY_RESULT;
  swap_chain_->device_ = this;
  swap_chain_->back_buffer_ = Direct3DSurface9::Make(
      shared_, params.BackBufferWidth, params.BackBufferHeight, params.BackBufferFormat,
      D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, (params.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0,
      swap_chain_);
  if (!swap_chain_->back_buffer_) return E_OUTOFMEMORY_RESULT;
  ResetDeviceState(state_.get(), params.BackBufferWidth, params.BackBufferHeight);
  Assign(&render_target_, swap_chain_->back_buffer_);
  if (params.EnableAutoDepthStencil) {
    if (!IsDepthFormat(params.AutoDepthStencilFormat)) return D3DERR_INVALIDCALL;
    auto* depth = Direct3DSurface9::Make(shared_, params.BackBufferWidth,
                                                      params.BackBufferHeight,
                                                      params.AutoDepthStencilFormat,
                                                      D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT, false, nullptr);
    if (!depth) return E_OUTOFMEMORY_RESULT;
    Assign(&depth_stencil_, depth);
    depth->Release();
    state_->rs[D3DRS_ZENABLE] = 1;
  }
  return D3D_OK;
}

void Direct3DDevice9::SimulateDeviceLoss() { shared_->lost = true; }
bool Direct3DDevice9::IsLost() const { return shared_->lost; }
int Direct3DDevice9::LiveObjectCount() const { return shared_->live; }

HRESULT Direct3DDevice9::TestCooperativeLevel() {
  Record("TestCooperativeLevel");
  return shared_->lost ? D3DERR_DEVICELOST : D3D_OK;
}

HRESULT Direct3DDevice9::GetDeviceCaps(D3DCAPS9* caps) const {
  Record("Device::GetDeviceCaps");
  if (!caps) return D3DERR_INVALIDCALL;
  *caps = CurrentDeviceCaps();
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetBackBuffer(uint32_t swap_chain, uint32_t index, uint32_t type,
                                       Direct3DSurface9** out) {
  Record("GetBackBuffer", swap_chain, index, type);
  if (swap_chain != 0) return D3DERR_INVALIDCALL;
  return swap_chain_->GetBackBuffer(index, type, out);
}

HRESULT Direct3DDevice9::GetSwapChain(uint32_t index, Direct3DSwapChain9** out) {
  Record("GetSwapChain", index);
  if (!out || index != 0) return D3DERR_INVALIDCALL;
  *out = swap_chain_;
  swap_chain_->AddRef();
  return D3D_OK;
}

HRESULT Direct3DDevice9::Present(const RECT* source, const RECT* dest, WindowHandle window,
                                 const void* dirty) {
  Record("Present", source, dest, window);
  return PresentFrom(swap_chain_->back_buffer_, source, dest, window);
}

HRESULT Direct3DDevice9::PresentFrom(Direct3DSurface9* back, const RECT* source, const RECT* dest,
                                     WindowHandle window) {
  WaitForRaster();
  if (shared_->lost) return D3DERR_DEVICELOST;
  if (in_scene_) return D3DERR_INVALIDCALL;
  RECT src = source ? *source : RECT{0, 0, int32_t(back->width_), int32_t(back->height_)};
  if (!RectInside(src, back->width_, back->height_)) return D3DERR_INVALIDCALL;
  RECT dst = dest ? *dest : RECT{0, 0, src.right - src.left, src.bottom - src.top};
  if (dst.right <= dst.left || dst.bottom <= dst.top) return D3DERR_INVALIDCALL;
  if (params_.PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE) WaitForVerticalBlankEmulated();
  present_count_++;
  if (!shared_->draws) return D3D_OK;
  // A window that is gone shows nothing; that is not the device's failure.
  PresentSurfaceToWindow(window ? window : params_.hDeviceWindow, back, src, dst);
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetDialogBoxMode(int32_t enable) {
  Record("SetDialogBoxMode", enable);
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetMaximumFrameLatency(uint32_t latency) {
  Record("SetMaximumFrameLatency", latency);
  return latency <= 16 ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT Direct3DDevice9::BeginScene() {
  Record("BeginScene");
  if (in_scene_) return D3DERR_INVALIDCALL;
  in_scene_ = true;
  return D3D_OK;
}

HRESULT Direct3DDevice9::EndScene() {
  Record("EndScene");
  if (!in_scene_) return D3DERR_INVALIDCALL;
  in_scene_ = false;
  return D3D_OK;
}

namespace {

// A clear for the band workers: rectangles of a target filled with one
// pixel value and rectangles of a depth buffer with one depth, each band
// filling its rows, in call order with the draws.
struct ClearJob final : BandJob {
  uint8_t* pixels = nullptr;
  int pitch = 0, bpp = 4;
  uint32_t px32 = 0;
  uint16_t px16 = 0;
  std::vector<RECT> target_rects;
  float* depth = nullptr;
  int depth_width = 0;
  float z = 0;
  std::vector<RECT> depth_rects;
  void Run(int top, int bottom) const override {
    for (const RECT& c : target_rects) {
      for (int y = std::max<int>(c.top, top); y < std::min<int>(c.bottom, bottom); y++) {
        uint8_t* row = pixels + size_t(y) * size_t(pitch);
        if (bpp == 4) std::fill_n(reinterpret_cast<uint32_t*>(row) + c.left, c.right - c.left, px32);
        else std::fill_n(reinterpret_cast<uint16_t*>(row) + c.left, c.right - c.left, px16);
      }
    }
    for (const RECT& c : depth_rects)
      for (int y = std::max<int>(c.top, top); y < std::min<int>(c.bottom, bottom); y++)
        std::fill_n(depth + size_t(y) * size_t(depth_width) + c.left, c.right - c.left, z);
  }
};

}  // namespace

HRESULT Direct3DDevice9::Clear(uint32_t count, const RECT* rects, uint32_t flags, uint32_t color,
                               float z, uint32_t stencil) {
  Record("Clear", count, rects, flags, color, z, stencil);
  if ((count != 0 && !rects) || flags == 0) return D3DERR_INVALIDCALL;
  if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !depth_stencil_) return D3DERR_INVALIDCALL;
  if (shared_->lost || !shared_->draws) return D3D_OK;
  const D3DVIEWPORT9& vp = state_->viewport;
  RECT area = {int32_t(vp.X), int32_t(vp.Y), int32_t(vp.X + vp.Width), int32_t(vp.Y + vp.Height)};
  if (state_->rs[D3DRS_SCISSORTESTENABLE]) {
    area.left = std::max(area.left, state_->scissor.left);
    area.top = std::max(area.top, state_->scissor.top);
    area.right = std::min(area.right, state_->scissor.right);
    area.bottom = std::min(area.bottom, state_->scissor.bottom);
  }
  // The fill is queued behind the draws, as a draw is; a queued draw that
  // samples the target sees it before the clear.
  try {
    return QueueClear(count, rects, flags, color, area);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "d3d9: out of memory clearing\n");
    return E_OUTOFMEMORY_RESULT;
  }
}

// Queues the fill of a Clear cut to area.
HRESULT Direct3DDevice9::QueueClear(uint32_t count, const RECT* rects, uint32_t flags, uint32_t color,
                                    const RECT& area) {
  auto job = std::make_unique<ClearJob>();
  Direct3DSurface9* t = render_target_;
  Direct3DSurface9* d = depth_stencil_;
  uint32_t n = count ? count : 1;
  for (uint32_t i = 0; i < n; i++) {
    RECT r = area;
    if (count) {
      r.left = std::max(r.left, rects[i].left);
      r.top = std::max(r.top, rects[i].top);
      r.right = std::min(r.right, rects[i].right);
      r.bottom = std::min(r.bottom, rects[i].bottom);
    }
    if (flags & D3DCLEAR_TARGET) {
      RECT c = {std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, int32_t(t->width_)),
                std::min(r.bottom, int32_t(t->height_))};
      if (c.left < c.right && c.top < c.bottom) job->target_rects.push_back(c);
    }
    if (flags & D3DCLEAR_ZBUFFER) {
      RECT c = {std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, int32_t(d->width_)),
                std::min(r.bottom, int32_t(d->height_))};
      if (c.left < c.right && c.top < c.bottom) job->depth_rects.push_back(c);
    }
  }
  if (flags & D3DCLEAR_TARGET) {
    job->bpp = FormatBytesPerPixel(t->format_);
    if (job->bpp == 4) EncodePixel(t->format_, color, &job->px32);
    else EncodePixel(t->format_, color, &job->px16);
    job->pixels = t->pixels_.data();
    job->pitch = int(t->pitch_);
    t->version_++;
  }
  if (job->target_rects.empty() && job->depth_rects.empty()) return D3D_OK;
  if ((t != nullptr && RasterReadPending(t)) || (d != nullptr && RasterReadPending(d))) WaitForRaster();
  job->target = t;
  if (!job->target_rects.empty()) job->rows = int(t->height_);
  if (!job->depth_rects.empty()) {
    job->depth = d->depth_.data();
    job->depth_width = int(d->width_);
    job->rows = std::max(job->rows, int(d->height_));
    if (job->target_rects.empty()) job->target = d;
  }
  SubmitBandJob(std::move(job));
  return D3D_OK;
}

HRESULT Direct3DDevice9::ColorFill(Direct3DSurface9* surface, const RECT* rect, uint32_t color) {
  WaitForRaster();
  Record("ColorFill", surface, rect, color);
  if (!surface || surface->pool_ != D3DPOOL_DEFAULT || surface->pixels_.empty())
    return D3DERR_INVALIDCALL;
  RECT r = rect ? *rect : RECT{0, 0, int32_t(surface->width_), int32_t(surface->height_)};
  if (!RectInside(r, surface->width_, surface->height_)) return D3DERR_INVALIDCALL;
  if (shared_->lost || !shared_->draws) return D3D_OK;
  for (int y = r.top; y < r.bottom; y++)
    for (int x = r.left; x < r.right; x++)
      EncodePixel(surface->format_, color,
                  surface->pixels_.data() + size_t(y) * surface->pitch_ + size_t(x) * FormatBytesPerPixel(surface->format_));
  surface->version_++;
  return D3D_OK;
}

HRESULT Direct3DDevice9::StretchRect(Direct3DSurface9* source, const RECT* source_rect,
                                     Direct3DSurface9* dest, const RECT* dest_rect, uint32_t filter) {
  WaitForRaster();
  Record("StretchRect", source, source_rect, dest, dest_rect, filter);
  if (!source || !dest || source == dest) return D3DERR_INVALIDCALL;
  if (source->pool_ != D3DPOOL_DEFAULT || dest->pool_ != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
  if (!(dest->usage_ & D3DUSAGE_RENDERTARGET) && dest->container_) return D3DERR_INVALIDCALL;
  if (source->pixels_.empty() || dest->pixels_.empty()) return D3DERR_INVALIDCALL;
  RECT s = source_rect ? *source_rect : RECT{0, 0, int32_t(source->width_), int32_t(source->height_)};
  RECT d = dest_rect ? *dest_rect : RECT{0, 0, int32_t(dest->width_), int32_t(dest->height_)};
  if (!RectInside(s, source->width_, source->height_) || !RectInside(d, dest->width_, dest->height_))
    return D3DERR_INVALIDCALL;
  if (shared_->lost || !shared_->draws) return D3D_OK;
  int sw = s.right - s.left, sh = s.bottom - s.top, dw = d.right - d.left, dh = d.bottom - d.top;
  if (sw == dw && sh == dh && source->format_ == dest->format_) {
    // An unscaled copy in one format is a copy of rows.
    int bpp = FormatBytesPerPixel(source->format_);
    for (int y = 0; y < sh; y++)
      memcpy(dest->pixels_.data() + size_t(d.top + y) * dest->pitch_ + size_t(d.left) * bpp,
             source->pixels_.data() + size_t(s.top + y) * source->pitch_ + size_t(s.left) * bpp, size_t(sw) * bpp);
    dest->version_++;
    return D3D_OK;
  }
  // Source pixel for a destination pixel: its centre mapped back; a linear
  // filter blends the four nearest source pixels with 8-bit weights.
  for (int y = 0; y < dh; y++) {
    for (int x = 0; x < dw; x++) {
      uint32_t c;
      if (filter == D3DTEXF_LINEAR && (sw != dw || sh != dh)) {
        int64_t fx = ((int64_t(2 * x + 1) * sw * 256) / (2 * dw)) - 128;
        int64_t fy = ((int64_t(2 * y + 1) * sh * 256) / (2 * dh)) - 128;
        int x0 = int(fx >> 8), y0 = int(fy >> 8);
        uint32_t wx = uint32_t(fx & 255), wy = uint32_t(fy & 255);
        auto at = [&](int xx, int yy) {
          xx = std::clamp(xx, 0, sw - 1);
          yy = std::clamp(yy, 0, sh - 1);
          return source->ReadPixel(s.left + xx, s.top + yy);
        };
        uint32_t c00 = at(x0, y0), c10 = at(x0 + 1, y0), c01 = at(x0, y0 + 1), c11 = at(x0 + 1, y0 + 1);
        c = 0;
        for (int sh2 = 0; sh2 < 32; sh2 += 8) {
          uint32_t top = ((c00 >> sh2) & 255) * (256 - wx) + ((c10 >> sh2) & 255) * wx;
          uint32_t bot = ((c01 >> sh2) & 255) * (256 - wx) + ((c11 >> sh2) & 255) * wx;
          c |= ((top * (256 - wy) + bot * wy + 32768) >> 16) << sh2;
        }
      } else {
        int sx = int((int64_t(2 * x + 1) * sw) / (2 * dw));
        int sy = int((int64_t(2 * y + 1) * sh) / (2 * dh));
        c = source->ReadPixel(s.left + sx, s.top + sy);
      }
      EncodePixel(dest->format_, c,
                  dest->pixels_.data() + size_t(d.top + y) * dest->pitch_ +
                      size_t(d.left + x) * FormatBytesPerPixel(dest->format_));
    }
  }
  dest->version_++;
  return D3D_OK;
}

HRESULT Direct3DDevice9::UpdateSurface(Direct3DSurface9* source, const RECT* source_rect,
                                       Direct3DSurface9* dest, const POINT* dest_point) {
  WaitForRaster();
  Record("UpdateSurface", source, source_rect, dest);
  if (!source || !dest || source->pool_ != D3DPOOL_SYSTEMMEM || dest->pool_ != D3DPOOL_DEFAULT ||
      source->format_ != dest->format_ || source->pixels_.empty())
    return D3DERR_INVALIDCALL;
  RECT s = source_rect ? *source_rect : RECT{0, 0, int32_t(source->width_), int32_t(source->height_)};
  POINT p = dest_point ? *dest_point : POINT{0, 0};
  RECT d = {p.x, p.y, p.x + (s.right - s.left), p.y + (s.bottom - s.top)};
  if (!RectInside(s, source->width_, source->height_) || !RectInside(d, dest->width_, dest->height_))
    return D3DERR_INVALIDCALL;
  if (shared_->lost || !shared_->draws) return D3D_OK;
  int bpp = FormatBytesPerPixel(source->format_);
  for (int y = 0; y < s.bottom - s.top; y++)
    memcpy(dest->pixels_.data() + size_t(d.top + y) * dest->pitch_ + size_t(d.left) * bpp,
           source->pixels_.data() + size_t(s.top + y) * source->pitch_ + size_t(s.left) * bpp,
           size_t(s.right - s.left) * bpp);
  dest->version_++;
  return D3D_OK;
}

HRESULT Direct3DDevice9::UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* dest) {
  WaitForRaster();
  Record("UpdateTexture", source, dest);
  if (!source || !dest || source->pool_ != D3DPOOL_SYSTEMMEM || dest->pool_ != D3DPOOL_DEFAULT)
    return D3DERR_INVALIDCALL;
  if (dest->levels_.size() > source->levels_.size()) return D3DERR_INVALIDCALL;
  size_t skip = source->levels_.size() - dest->levels_.size();
  for (size_t i = 0; i < dest->levels_.size(); i++) {
    auto* s = source->levels_[i + skip];
    auto* d = dest->levels_[i];
    if (s->format_ != d->format_ || s->width_ != d->width_ || s->height_ != d->height_)
      return D3DERR_INVALIDCALL;
  }
  if (shared_->lost || !shared_->draws) return D3D_OK;
  for (size_t i = 0; i < dest->levels_.size(); i++) {
    auto* s = source->levels_[i + skip];
    auto* d = dest->levels_[i];
    size_t row = size_t(s->width_) * FormatBytesPerPixel(s->format_);
    for (uint32_t y = 0; y < s->height_; y++)
      memcpy(d->pixels_.data() + size_t(y) * d->pitch_, s->pixels_.data() + size_t(y) * s->pitch_, row);
    d->version_++;
  }
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetRenderTargetData(Direct3DSurface9* render_target, Direct3DSurface9* dest) {
  WaitForRaster();
  Record("GetRenderTargetData", render_target, dest);
  if (!render_target || !dest || !(render_target->usage_ & D3DUSAGE_RENDERTARGET) ||
      dest->pool_ != D3DPOOL_SYSTEMMEM || render_target->format_ != dest->format_ ||
      render_target->width_ != dest->width_ || render_target->height_ != dest->height_)
    return D3DERR_INVALIDCALL;
  if (shared_->lost) return D3DERR_DEVICELOST;
  if (!shared_->draws) return D3D_OK;
  size_t row = size_t(dest->width_) * FormatBytesPerPixel(dest->format_);
  for (uint32_t y = 0; y < dest->height_; y++)
    memcpy(dest->pixels_.data() + size_t(y) * dest->pitch_,
           render_target->pixels_.data() + size_t(y) * render_target->pitch_, row);
  dest->version_++;
  return D3D_OK;
}

// ---- Resource creation ----

static HRESULT CheckTextureSize(uint32_t w, uint32_t h) {
  D3DCAPS9 caps = CurrentDeviceCaps();
  if (w == 0 || h == 0 || w > caps.MaxTextureWidth || h > caps.MaxTextureHeight) return D3DERR_INVALIDCALL;
  if ((caps.TextureCaps & D3DPTEXTURECAPS_POW2) && ((w & (w - 1)) || (h & (h - 1))))
    return D3DERR_INVALIDCALL;
  if ((caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) && w != h) return D3DERR_INVALIDCALL;
  return D3D_OK;
}

namespace {

// Containers of a new object grown without throwing: false when there is no
// memory for them.
bool PushLevel(std::vector<Direct3DSurface9*>* levels, Direct3DSurface9* level) {
  try {
    levels->push_back(level);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool FillBytes(std::vector<uint8_t>* bytes, uint32_t length) {
  try {
    bytes->assign(length, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

HRESULT Direct3DDevice9::CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                       D3DFORMAT format, uint32_t pool, Direct3DTexture9** out, void*) {
  HRESULT size_ok = CheckTextureSize(width, height);
  Record("CreateTexture", width, height, levels, usage, format, pool);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (size_ok != D3D_OK || !IsColorFormat(format) || pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
  if ((usage & D3DUSAGE_RENDERTARGET) && pool != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
  if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
  uint32_t full = 1;
  for (uint32_t w = width, h = height; w > 1 || h > 1; w = std::max(1u, w / 2), h = std::max(1u, h / 2)) full++;
  if (levels == 0 || levels > full) levels = full;
  auto* t = new (std::nothrow) Direct3DTexture9(shared_);
  if (!t) return E_OUTOFMEMORY_RESULT;
  t->usage_ = usage;
  t->pool_ = pool;
  bool lockable = pool != D3DPOOL_DEFAULT || (usage & D3DUSAGE_DYNAMIC);
  uint32_t w = width, h = height;
  for (uint32_t i = 0; i < levels; i++) {
    auto* s = Direct3DSurface9::Make(shared_, w, h, format, usage, pool, lockable, t);
    if (!s) {
      t->Release();
      return E_OUTOFMEMORY_RESULT;
    }
    if (!PushLevel(&t->levels_, s)) {
      delete s;
      t->Release();
      return E_OUTOFMEMORY_RESULT;
    }
    w = std::max(1u, w / 2);
    h = std::max(1u, h / 2);
  }
  *out = t;
  return D3D_OK;
}

HRESULT Direct3DDevice9::CreateRenderTarget(uint32_t width, uint32_t height, D3DFORMAT format,
                                            uint32_t ms_type, uint32_t ms_quality, int32_t lockable,
                                            Direct3DSurface9** out, void*) {
  Record("CreateRenderTarget", width, height, format, ms_type, ms_quality, lockable);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!IsColorFormat(format) || width == 0 || height == 0 || width > 16384 || height > 16384 ||
      ms_type != D3DMULTISAMPLE_NONE)
    return D3DERR_INVALIDCALL;
  *out = Direct3DSurface9::Make(shared_, width, height, format, D3DUSAGE_RENDERTARGET,
                                             D3DPOOL_DEFAULT, lockable != 0, nullptr);
  return *out ? D3D_OK : E_OUTOFMEMORY_RESULT;
}

HRESULT Direct3DDevice9::CreateDepthStencilSurface(uint32_t width, uint32_t height, D3DFORMAT format,
                                                   uint32_t ms_type, uint32_t ms_quality, int32_t discard,
                                                   Direct3DSurface9** out, void*) {
  Record("CreateDepthStencilSurface", width, height, format, ms_type, ms_quality, discard);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!IsDepthFormat(format) || width == 0 || height == 0 || width > 16384 || height > 16384 ||
      ms_type != D3DMULTISAMPLE_NONE)
    return D3DERR_INVALIDCALL;
  *out = Direct3DSurface9::Make(shared_, width, height, format, D3DUSAGE_DEPTHSTENCIL,
                                             D3DPOOL_DEFAULT, false, nullptr);
  return *out ? D3D_OK : E_OUTOFMEMORY_RESULT;
}

HRESULT Direct3DDevice9::CreateOffscreenPlainSurface(uint32_t width, uint32_t height, D3DFORMAT format,
                                                     uint32_t pool, Direct3DSurface9** out, void*) {
  Record("CreateOffscreenPlainSurface", width, height, format, pool);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if ((!IsColorFormat(format) && !IsYuvFormat(format)) || width == 0 || height == 0 || width > 16384 ||
      height > 16384 || pool == D3DPOOL_MANAGED || pool > D3DPOOL_SCRATCH)
    return D3DERR_INVALIDCALL;
  *out = Direct3DSurface9::Make(shared_, width, height, format, 0, pool, true, nullptr);
  return *out ? D3D_OK : E_OUTOFMEMORY_RESULT;
}

HRESULT Direct3DDevice9::CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                                            Direct3DVertexBuffer9** out, void*) {
  Record("CreateVertexBuffer", length, usage, fvf, pool);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (length == 0 || length > (1u << 28) || pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
  auto* b = new (std::nothrow) Direct3DVertexBuffer9(shared_);
  if (!b) return E_OUTOFMEMORY_RESULT;
  if (!FillBytes(&b->bytes_, length)) {
    b->Release();
    return E_OUTOFMEMORY_RESULT;
  }
  b->desc_ = {0, D3DRTYPE_VERTEXBUFFER, usage, pool, length, fvf};
  *out = b;
  return D3D_OK;
}

HRESULT Direct3DDevice9::CreateIndexBuffer(uint32_t length, uint32_t usage, D3DFORMAT format, uint32_t pool,
                                           Direct3DIndexBuffer9** out, void*) {
  Record("CreateIndexBuffer", length, usage, format, pool);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (length == 0 || length > (1u << 28) || pool > D3DPOOL_SCRATCH ||
      (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32))
    return D3DERR_INVALIDCALL;
  auto* b = new (std::nothrow) Direct3DIndexBuffer9(shared_);
  if (!b) return E_OUTOFMEMORY_RESULT;
  if (!FillBytes(&b->bytes_, length)) {
    b->Release();
    return E_OUTOFMEMORY_RESULT;
  }
  b->desc_ = {format, D3DRTYPE_INDEXBUFFER, usage, pool, length};
  *out = b;
  return D3D_OK;
}

// ---- Targets and states ----

HRESULT Direct3DDevice9::SetRenderTarget(uint32_t index, Direct3DSurface9* surface) {
  Record("SetRenderTarget", index, surface);
  if (index != 0 || !surface || !(surface->usage_ & D3DUSAGE_RENDERTARGET) || surface->pixels_.empty())
    return D3DERR_INVALIDCALL;
  Assign(&render_target_, surface);
  // Setting a render target resets the viewport to the whole target.
  state_->viewport = {0, 0, surface->width_, surface->height_, 0.0f, 1.0f};
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetRenderTarget(uint32_t index, Direct3DSurface9** out) {
  Record("GetRenderTarget", index);
  if (index != 0 || !out) return D3DERR_INVALIDCALL;
  *out = render_target_;
  render_target_->AddRef();
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetDepthStencilSurface(Direct3DSurface9* surface) {
  Record("SetDepthStencilSurface", surface);
  if (surface && !IsDepthFormat(surface->format_)) return D3DERR_INVALIDCALL;
  Assign(&depth_stencil_, surface);
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetDepthStencilSurface(Direct3DSurface9** out) {
  Record("GetDepthStencilSurface");
  if (!out) return D3DERR_INVALIDCALL;
  *out = depth_stencil_;
  if (!depth_stencil_) return D3DERR_NOTFOUND;
  depth_stencil_->AddRef();
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetRenderState(uint32_t state, uint32_t value) {
  Record("SetRenderState", state, value);
  if (state >= kRenderStateCount) return D3DERR_INVALIDCALL;
  state_->rs[state] = value;
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetRenderState(uint32_t state, uint32_t* value) const {
  if (state >= kRenderStateCount || !value) return D3DERR_INVALIDCALL;
  *value = state_->rs[state];
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetTextureStageState(uint32_t stage, uint32_t type, uint32_t value) {
  Record("SetTextureStageState", stage, type, value);
  if (stage >= kMaxTextureStages || type >= kTextureStageStateCount) return D3DERR_INVALIDCALL;
  state_->tss[stage][type] = value;
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetTextureStageState(uint32_t stage, uint32_t type, uint32_t* value) const {
  if (stage >= kMaxTextureStages || type >= kTextureStageStateCount || !value) return D3DERR_INVALIDCALL;
  *value = state_->tss[stage][type];
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetSamplerState(uint32_t sampler, uint32_t type, uint32_t value) {
  Record("SetSamplerState", sampler, type, value);
  if (sampler >= kMaxTextureStages || type >= kSamplerStateCount) return D3DERR_INVALIDCALL;
  state_->samp[sampler][type] = value;
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetSamplerState(uint32_t sampler, uint32_t type, uint32_t* value) const {
  if (sampler >= kMaxTextureStages || type >= kSamplerStateCount || !value) return D3DERR_INVALIDCALL;
  *value = state_->samp[sampler][type];
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetTexture(uint32_t stage, Direct3DTexture9* texture) {
  Record("SetTexture", stage, texture);
  if (stage >= kMaxTextureStages) return D3DERR_INVALIDCALL;
  Assign(&state_->textures[stage], texture);
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetTexture(uint32_t stage, Direct3DTexture9** out) {
  if (stage >= kMaxTextureStages || !out) return D3DERR_INVALIDCALL;
  *out = state_->textures[stage];
  if (*out) (*out)->AddRef();
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetFVF(uint32_t fvf) {
  Record("SetFVF", fvf);
  state_->fvf = fvf;
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetFVF(uint32_t* fvf) const {
  if (!fvf) return D3DERR_INVALIDCALL;
  *fvf = state_->fvf;
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetTransform(uint32_t state, const D3DMATRIX* matrix) {
  Record("SetTransform", state);
  if (!matrix) return D3DERR_INVALIDCALL;
  if (state == D3DTS_WORLD) state_->world = *matrix;
  else if (state == D3DTS_VIEW) state_->view = *matrix;
  else if (state == D3DTS_PROJECTION) state_->projection = *matrix;
  else if (state >= D3DTS_TEXTURE0 && state < D3DTS_TEXTURE0 + kMaxTextureStages)
    state_->texture[state - D3DTS_TEXTURE0] = *matrix;
  else return D3DERR_INVALIDCALL;
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetTransform(uint32_t state, D3DMATRIX* matrix) const {
  if (!matrix) return D3DERR_INVALIDCALL;
  if (state == D3DTS_WORLD) *matrix = state_->world;
  else if (state == D3DTS_VIEW) *matrix = state_->view;
  else if (state == D3DTS_PROJECTION) *matrix = state_->projection;
  else if (state >= D3DTS_TEXTURE0 && state < D3DTS_TEXTURE0 + kMaxTextureStages)
    *matrix = state_->texture[state - D3DTS_TEXTURE0];
  else return D3DERR_INVALIDCALL;
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetMaterial(const D3DMATERIAL9* material) {
  Record("SetMaterial");
  if (!material) return D3DERR_INVALIDCALL;
  state_->material = *material;
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetLight(uint32_t index, const D3DLIGHT9* light) {
  Record("SetLight", index);
  if (!light || index >= kMaxLights || light->Type < 1 || light->Type > 3) return D3DERR_INVALIDCALL;
  state_->lights[index] = *light;
  state_->light_set[index] = true;
  return D3D_OK;
}

HRESULT Direct3DDevice9::LightEnable(uint32_t index, int32_t enable) {
  Record("LightEnable", index, enable);
  if (index >= kMaxLights) return D3DERR_INVALIDCALL;
  if (!state_->light_set[index]) {
    // Enabling a light never set gives it the default white directional light.
    D3DLIGHT9 l{};
    l.Type = 3;
    l.Diffuse = {1, 1, 1, 0};
    l.Direction = {0, 0, 1};
    state_->lights[index] = l;
    state_->light_set[index] = true;
  }
  state_->light_on[index] = enable != 0;
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetViewport(const D3DVIEWPORT9* viewport) {
  Record("SetViewport", viewport ? viewport->X : 0, viewport ? viewport->Y : 0,
         viewport ? viewport->Width : 0, viewport ? viewport->Height : 0);
  if (!viewport || viewport->Width == 0 || viewport->Height == 0 ||
      uint64_t(viewport->X) + viewport->Width > render_target_->width_ ||
      uint64_t(viewport->Y) + viewport->Height > render_target_->height_)
    return D3DERR_INVALIDCALL;
  state_->viewport = *viewport;
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetViewport(D3DVIEWPORT9* viewport) const {
  if (!viewport) return D3DERR_INVALIDCALL;
  *viewport = state_->viewport;
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetScissorRect(const RECT* rect) {
  Record("SetScissorRect", rect);
  if (!rect) return D3DERR_INVALIDCALL;
  state_->scissor = *rect;
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetScissorRect(RECT* rect) const {
  if (!rect) return D3DERR_INVALIDCALL;
  *rect = state_->scissor;
  return D3D_OK;
}

// ---- Drawing ----

HRESULT Direct3DDevice9::DrawPrimitiveUP(uint32_t type, uint32_t primitive_count, const void* vertices,
                                         uint32_t stride) {
  Record("DrawPrimitiveUP", type, primitive_count, stride);
  if (!vertices || stride == 0) return D3DERR_INVALIDCALL;
  Assign<Direct3DVertexBuffer9>(&stream_, nullptr);
  return DrawVertices(type, primitive_count, static_cast<const uint8_t*>(vertices), stride, nullptr, 0, 0,
                      UINT32_MAX);
}

HRESULT Direct3DDevice9::DrawIndexedPrimitiveUP(uint32_t type, uint32_t min_index, uint32_t vertex_count,
                                                uint32_t primitive_count, const void* indices,
                                                D3DFORMAT index_format, const void* vertices,
                                                uint32_t stride) {
  Record("DrawIndexedPrimitiveUP", type, min_index, vertex_count, primitive_count, index_format, stride);
  if (!vertices || !indices || stride == 0 ||
      (index_format != D3DFMT_INDEX16 && index_format != D3DFMT_INDEX32))
    return D3DERR_INVALIDCALL;
  Assign<Direct3DVertexBuffer9>(&stream_, nullptr);
  Assign<Direct3DIndexBuffer9>(&indices_, nullptr);
  return DrawVertices(type, primitive_count, static_cast<const uint8_t*>(vertices), stride, indices,
                      index_format, 0, min_index + vertex_count);
}

HRESULT Direct3DDevice9::SetStreamSource(uint32_t stream, Direct3DVertexBuffer9* buffer, uint32_t offset,
                                         uint32_t stride) {
  Record("SetStreamSource", stream, buffer, offset, stride);
  if (stream != 0) return D3DERR_INVALIDCALL;
  Assign(&stream_, buffer);
  stream_offset_ = offset;
  stream_stride_ = stride;
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetIndices(Direct3DIndexBuffer9* buffer) {
  Record("SetIndices", buffer);
  Assign(&indices_, buffer);
  return D3D_OK;
}

HRESULT Direct3DDevice9::DrawPrimitive(uint32_t type, uint32_t start_vertex, uint32_t primitive_count) {
  Record("DrawPrimitive", type, start_vertex, primitive_count);
  if (!stream_ || stream_stride_ == 0) return D3DERR_INVALIDCALL;
  uint64_t start = stream_offset_ + uint64_t(start_vertex) * stream_stride_;
  if (start > stream_->bytes_.size()) return D3DERR_INVALIDCALL;
  uint32_t limit = uint32_t((stream_->bytes_.size() - start) / stream_stride_);
  return DrawVertices(type, primitive_count, stream_->bytes_.data() + start, stream_stride_, nullptr, 0, 0,
                      limit);
}

HRESULT Direct3DDevice9::DrawIndexedPrimitive(uint32_t type, int32_t base_vertex, uint32_t min_index,
                                              uint32_t vertex_count, uint32_t start_index,
                                              uint32_t primitive_count) {
  Record("DrawIndexedPrimitive", type, base_vertex, min_index, vertex_count, start_index, primitive_count);
  if (!stream_ || !indices_ || stream_stride_ == 0) return D3DERR_INVALIDCALL;
  uint32_t isize = indices_->desc_.Format == D3DFMT_INDEX16 ? 2 : 4;
  if (uint64_t(start_index) * isize > indices_->bytes_.size()) return D3DERR_INVALIDCALL;
  if (stream_offset_ > stream_->bytes_.size()) return D3DERR_INVALIDCALL;
  uint32_t limit = uint32_t((stream_->bytes_.size() - stream_offset_) / stream_stride_);
  // Indices are read from the buffer's remaining part; their count is checked
  // inside against the primitive count.
  size_t index_bytes = indices_->bytes_.size() - size_t(start_index) * isize;
  uint32_t needed;
  switch (type) {
    case D3DPT_TRIANGLELIST: needed = primitive_count * 3; break;
    case D3DPT_TRIANGLESTRIP: case D3DPT_TRIANGLEFAN: needed = primitive_count + 2; break;
    case D3DPT_LINELIST: needed = primitive_count * 2; break;
    case D3DPT_LINESTRIP: needed = primitive_count + 1; break;
    default: needed = primitive_count; break;
  }
  if (uint64_t(needed) * isize > index_bytes) return D3DERR_INVALIDCALL;
  return DrawVertices(type, primitive_count, stream_->bytes_.data() + stream_offset_, stream_stride_,
                      indices_->bytes_.data() + size_t(start_index) * isize, indices_->desc_.Format,
                      base_vertex, limit);
}

namespace {

struct FvfLayout {
  bool rhw = false;
  int normal = -1, diffuse = -1, specular = -1, tex = -1;
  int tex_count = 0;
  uint32_t size = 0;
};

bool ParseFvf(uint32_t fvf, FvfLayout* l) {
  uint32_t pos = fvf & D3DFVF_POSITION_MASK;
  if (pos == D3DFVF_XYZRHW) {
    l->rhw = true;
    l->size = 16;
  } else if (pos == D3DFVF_XYZ) {
    l->size = 12;
  } else {
    return false;
  }
  if (fvf & D3DFVF_NORMAL) { l->normal = int(l->size); l->size += 12; }
  if (fvf & D3DFVF_PSIZE) l->size += 4;
  if (fvf & D3DFVF_DIFFUSE) { l->diffuse = int(l->size); l->size += 4; }
  if (fvf & D3DFVF_SPECULAR) { l->specular = int(l->size); l->size += 4; }
  l->tex_count = int((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
  if (l->tex_count > 8) return false;
  l->tex = int(l->size);
  l->size += 8 * l->tex_count;
  return true;
}

void Multiply(const D3DMATRIX& a, const D3DMATRIX& b, D3DMATRIX* out) {
  D3DMATRIX r;
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 4; j++) {
      float s = 0;
      for (int k = 0; k < 4; k++) s += a.m[i][k] * b.m[k][j];
      r.m[i][j] = s;
    }
  *out = r;
}

uint8_t ToByte(float f) {
  if (!(f > 0.0f)) return 0;
  if (f >= 1.0f) return 255;
  return uint8_t(f * 255.0f + 0.5f);
}

struct ClipVertex {
  float p[4];  // clip-space position
  RasterVertex v;
};

ClipVertex Lerp(const ClipVertex& a, const ClipVertex& b, float t, int tex_sets) {
  ClipVertex r = a;
  for (int i = 0; i < 4; i++) r.p[i] = a.p[i] + (b.p[i] - a.p[i]) * t;
  for (int s = 0; s < tex_sets; s++)
    for (int k = 0; k < 2; k++) r.v.tex[s][k] = a.v.tex[s][k] + (b.v.tex[s][k] - a.v.tex[s][k]) * t;
  auto mix = [t](uint32_t x, uint32_t y) {
    uint32_t out = 0;
    for (int sh = 0; sh < 32; sh += 8) {
      float c = float((x >> sh) & 255) + (float((y >> sh) & 255) - float((x >> sh) & 255)) * t;
      out |= uint32_t(std::clamp(int(c + 0.5f), 0, 255)) << sh;
    }
    return out;
  };
  r.v.diffuse = mix(a.v.diffuse, b.v.diffuse);
  r.v.specular = mix(a.v.specular, b.v.specular);
  return r;
}

}  // namespace

HRESULT Direct3DDevice9::DrawVertices(uint32_t type, uint32_t primitive_count, const uint8_t* vertices,
                                      uint32_t stride, const void* indices, D3DFORMAT index_format,
                                      int32_t base_vertex, uint32_t vertex_limit) {
  if (!in_scene_) return D3DERR_INVALIDCALL;
  if (type < D3DPT_POINTLIST || type > D3DPT_TRIANGLEFAN) return D3DERR_INVALIDCALL;
  FvfLayout layout;
  if (!ParseFvf(state_->fvf, &layout) || stride < layout.size) return D3DERR_INVALIDCALL;
  if (primitive_count == 0) return D3D_OK;
  uint64_t n;
  switch (type) {
    case D3DPT_POINTLIST: n = primitive_count; break;
    case D3DPT_LINELIST: n = uint64_t(primitive_count) * 2; break;
    case D3DPT_LINESTRIP: n = uint64_t(primitive_count) + 1; break;
    case D3DPT_TRIANGLELIST: n = uint64_t(primitive_count) * 3; break;
    default: n = uint64_t(primitive_count) + 2; break;
  }
  if (n > (1u << 24)) return D3DERR_INVALIDCALL;
  draw_calls_++;
  if (shared_->lost || !shared_->draws) return D3D_OK;

  auto index_at = [&](uint64_t i) -> int64_t {
    int64_t idx;
    if (!indices) idx = int64_t(i);
    else if (index_format == D3DFMT_INDEX16) idx = static_cast<const uint16_t*>(indices)[i];
    else idx = static_cast<const uint32_t*>(indices)[i];
    return idx + base_vertex;
  };

  D3DMATRIX wvp, wv;
  Multiply(state_->world, state_->view, &wv);
  Multiply(wv, state_->projection, &wvp);
  const D3DVIEWPORT9& vp = state_->viewport;
  bool lighting = !layout.rhw && state_->rs[D3DRS_LIGHTING] && layout.normal >= 0;

  auto fetch = [&](int64_t idx, ClipVertex* out) -> bool {
    if (idx < 0 || uint64_t(idx) >= vertex_limit) return false;
    const uint8_t* p = vertices + size_t(idx) * stride;
    float pos[4] = {0, 0, 0, 1};
    memcpy(pos, p, layout.rhw ? 16 : 12);
    RasterVertex& v = out->v;
    v.diffuse = 0xFFFFFFFFu;
    v.specular = 0;
    if (layout.diffuse >= 0) memcpy(&v.diffuse, p + layout.diffuse, 4);
    if (layout.specular >= 0) memcpy(&v.specular, p + layout.specular, 4);
    for (int s = 0; s < layout.tex_count; s++) memcpy(v.tex[s], p + layout.tex + 8 * s, 8);
    if (layout.rhw) {
      v.x = pos[0];
      v.y = pos[1];
      v.z = pos[2];
      v.rhw = pos[3];
      out->p[0] = out->p[1] = out->p[2] = 0;
      out->p[3] = 1;
      return true;
    }
    for (int j = 0; j < 4; j++)
      out->p[j] = pos[0] * wvp.m[0][j] + pos[1] * wvp.m[1][j] + pos[2] * wvp.m[2][j] + wvp.m[3][j];
    if (lighting) {
      // Directional lights and the ambient term; the colour sources follow
      // the material-source states.
      float nrm[3];
      memcpy(nrm, p + layout.normal, 12);
      float n2[3];
      for (int j = 0; j < 3; j++) n2[j] = nrm[0] * state_->world.m[0][j] + nrm[1] * state_->world.m[1][j] + nrm[2] * state_->world.m[2][j];
      float len = std::sqrt(n2[0] * n2[0] + n2[1] * n2[1] + n2[2] * n2[2]);
      if (len > 0) for (float& c : n2) c /= len;
      const D3DMATERIAL9& m = state_->material;
      D3DCOLORVALUE md = m.Diffuse;
      if (state_->rs[D3DRS_DIFFUSEMATERIALSOURCE] == D3DMCS_COLOR1 && layout.diffuse >= 0)
        md = {((v.diffuse >> 16) & 255) / 255.0f, ((v.diffuse >> 8) & 255) / 255.0f, (v.diffuse & 255) / 255.0f,
              (v.diffuse >> 24) / 255.0f};
      uint32_t amb = state_->rs[D3DRS_AMBIENT];
      float acc[3] = {m.Emissive.r + m.Ambient.r * ((amb >> 16) & 255) / 255.0f,
                      m.Emissive.g + m.Ambient.g * ((amb >> 8) & 255) / 255.0f,
                      m.Emissive.b + m.Ambient.b * (amb & 255) / 255.0f};
      for (int li = 0; li < kMaxLights; li++) {
        if (!state_->light_on[li] || state_->lights[li].Type != 3) continue;
        const D3DLIGHT9& L = state_->lights[li];
        float d[3] = {-L.Direction.x, -L.Direction.y, -L.Direction.z};
        float dl = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        if (dl <= 0) continue;
        float k = (n2[0] * d[0] + n2[1] * d[1] + n2[2] * d[2]) / dl;
        if (k <= 0) continue;
        acc[0] += k * L.Diffuse.r * md.r + L.Ambient.r * m.Ambient.r;
        acc[1] += k * L.Diffuse.g * md.g + L.Ambient.g * m.Ambient.g;
        acc[2] += k * L.Diffuse.b * md.b + L.Ambient.b * m.Ambient.b;
      }
      v.diffuse = (uint32_t(ToByte(md.a)) << 24) | (uint32_t(ToByte(acc[0])) << 16) |
                  (uint32_t(ToByte(acc[1])) << 8) | ToByte(acc[2]);
    }
    return true;
  };

  auto project = [&](ClipVertex* c) {
    if (layout.rhw) return;
    float w = c->p[3];
    float iw = 1.0f / w;
    c->v.x = float(vp.X) + (c->p[0] * iw + 1.0f) * float(vp.Width) * 0.5f;
    c->v.y = float(vp.Y) + (1.0f - c->p[1] * iw) * float(vp.Height) * 0.5f;
    c->v.z = vp.MinZ + c->p[2] * iw * (vp.MaxZ - vp.MinZ);
    c->v.rhw = iw;
  };

  uint32_t per = type == D3DPT_POINTLIST ? 1 : (type <= D3DPT_LINESTRIP ? 2 : 3);
  // Without memory for the draw's vertices or its queue entries the call is
  // refused, the picture left as it was.
  try {
  std::vector<RasterVertex> out = TakeVertexList();
  out.reserve(size_t(primitive_count) * per);
  ClipVertex c[3];
  for (uint32_t i = 0; i < primitive_count; i++) {
    uint64_t ids[3];
    switch (type) {
      case D3DPT_POINTLIST: ids[0] = i; break;
      case D3DPT_LINELIST: ids[0] = 2ull * i; ids[1] = 2ull * i + 1; break;
      case D3DPT_LINESTRIP: ids[0] = i; ids[1] = i + 1; break;
      case D3DPT_TRIANGLELIST: ids[0] = 3ull * i; ids[1] = 3ull * i + 1; ids[2] = 3ull * i + 2; break;
      case D3DPT_TRIANGLESTRIP:
        // Odd triangles of a strip swap their last two vertices to keep the winding;
        // the first vertex stays first so flat shading takes its colour.
        if (i & 1) { ids[0] = i; ids[1] = i + 2; ids[2] = i + 1; }
        else { ids[0] = i; ids[1] = i + 1; ids[2] = i + 2; }
        break;
      default: ids[0] = i + 1; ids[1] = i + 2; ids[2] = 0; break;
    }
    bool ok = true;
    for (uint32_t k = 0; k < per && ok; k++) ok = fetch(index_at(ids[k]), &c[k]);
    if (!ok) return D3DERR_INVALIDCALL;
    if (layout.rhw) {
      for (uint32_t k = 0; k < per; k++) out.push_back(c[k].v);
      continue;
    }
    // Near-plane clipping (z >= 0 in clip space) before the divide.
    if (per < 3) {
      bool visible = true;
      for (uint32_t k = 0; k < per; k++) visible &= c[k].p[2] >= 0 && c[k].p[3] > 0;
      if (!visible) continue;
      for (uint32_t k = 0; k < per; k++) { project(&c[k]); out.push_back(c[k].v); }
      continue;
    }
    ClipVertex poly[4];
    int np = 0;
    for (int k = 0; k < 3; k++) {
      const ClipVertex& a = c[k];
      const ClipVertex& b = c[(k + 1) % 3];
      bool ain = a.p[2] >= 0 && a.p[3] > 0, bin = b.p[2] >= 0 && b.p[3] > 0;
      if (ain) poly[np++] = a;
      if (ain != bin) {
        float t = a.p[2] / (a.p[2] - b.p[2]);
        poly[np++] = Lerp(a, b, t, layout.tex_count);
      }
    }
    if (np < 3) continue;
    // Flat shading takes the first vertex's colour; keep it on every piece.
    for (int k = 0; k < np; k++) project(&poly[k]);
    for (int k = 1; k + 1 < np; k++) {
      out.push_back(poly[0].v);
      out.push_back(poly[k].v);
      out.push_back(poly[k + 1].v);
      if (k > 1) out[out.size() - 3].diffuse = c[0].v.diffuse;
    }
  }
  RasterizePrimitives(*state_, render_target_, depth_stencil_, int(per), std::move(out), layout.tex_count);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "d3d9: out of memory drawing %u primitives\n", primitive_count);
    return E_OUTOFMEMORY_RESULT;
  }
  MarkSurfaceChanged(render_target_);
  return D3D_OK;
}

}  // namespace plat
