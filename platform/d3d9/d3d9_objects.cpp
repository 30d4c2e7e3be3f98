// platform/d3d9/d3d9_objects.cpp - reference counting, surfaces, textures,
// buffers, the factory, the test hooks and the call recorder of the
// Direct3D stand-in.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "platform/d3d9/d3d9_internal.h"
#include "platform/window/window.h"

namespace plat {

namespace {

std::atomic<int> g_live_objects{0};
bool g_runtime_available = true;
bool g_runtime_loaded = false;
bool g_ex_available = true;
bool g_creation_fails = false;
bool g_hardware_vp_fails = false;
bool g_caps_overridden = false;
D3DCAPS9 g_caps_override;
std::vector<D3DFORMAT> g_refused_formats;
bool g_recording_devices_draw = true;
std::vector<std::string> g_recording_log;

constexpr D3DFORMAT kFmtR8G8B8 = 20;

D3DFORMAT FormatForBits(int bits) {
  return bits == 32 ? D3DFMT_X8R8G8B8 : bits == 16 ? D3DFMT_R5G6B5 : bits == 24 ? kFmtR8G8B8 : D3DFMT_UNKNOWN;
}

D3DDISPLAYMODE Desktop() {
  int w = 0, h = 0;
  GetDesktopSize(&w, &h);
  return {uint32_t(w), uint32_t(h), 60, FormatForBits(GetDesktopColorBits())};
}

std::vector<D3DDISPLAYMODE> Modes() {
  std::vector<D3DDISPLAYMODE> out;
  for (const DisplayMode& m : GetDisplayModes()) {
    D3DFORMAT f = FormatForBits(m.bits);
    if (f == D3DFMT_X8R8G8B8 || f == D3DFMT_R5G6B5)
      out.push_back({uint32_t(m.width), uint32_t(m.height), uint32_t(m.refresh), f});
  }
  return out;
}

bool IsRefused(D3DFORMAT f) {
  return std::find(g_refused_formats.begin(), g_refused_formats.end(), f) != g_refused_formats.end();
}

bool IsDisplayFormat(D3DFORMAT f) {
  return f == D3DFMT_X8R8G8B8 || f == D3DFMT_R5G6B5 || f == D3DFMT_X1R5G5B5;
}

}  // namespace

bool g_d3d_recording = false;
bool g_force_generic_spans = false;

void RecordCall(const char* name, const std::string& args) {
  g_recording_log.push_back(std::string(name) + "(" + args + ")");
}

void StartD3DRecording(bool devices_draw) {
  g_recording_log.clear();
  g_recording_devices_draw = devices_draw;
  g_d3d_recording = true;
}

std::vector<std::string> StopD3DRecording() {
  g_d3d_recording = false;
  g_recording_devices_draw = true;
  std::vector<std::string> out;
  out.swap(g_recording_log);
  return out;
}

bool IsD3DRecording() { return g_d3d_recording; }
std::vector<std::string>& D3DRecordingLog() { return g_recording_log; }

// ---- Test hooks ----

D3DCAPS9 DefaultDeviceCaps() {
  D3DCAPS9 c{};
  c.DeviceType = D3DDEVTYPE_HAL;
  c.PresentationIntervals = D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_IMMEDIATE;
  c.PrimitiveMiscCaps = D3DPMISCCAPS_BLENDOP;
  c.RasterCaps = 0;
  c.ZCmpCaps = c.AlphaCmpCaps = 0xFF;
  c.SrcBlendCaps = c.DestBlendCaps = 0x1FFF;
  c.ShadeCaps = 0;
  c.TextureCaps = 0;
  c.TextureFilterCaps = 0;
  c.TextureAddressCaps = 0x1F;
  c.MaxTextureWidth = c.MaxTextureHeight = 2048;
  c.MaxTextureAspectRatio = 2048;
  c.MaxAnisotropy = 16;
  c.TextureOpCaps = 0x1FFFF;
  c.MaxTextureBlendStages = c.MaxSimultaneousTextures = kMaxTextureStages;
  c.MaxActiveLights = 8;
  c.MaxPrimitiveCount = 0xFFFFF;
  c.MaxVertexIndex = 0xFFFFFF;
  c.MaxStreams = 1;
  c.VertexShaderVersion = ShaderModel2Reported() ? 0xFFFE0200u : 0;
  c.PixelShaderVersion = ShaderModel2Reported() ? 0xFFFF0200u : 0;
  c.NumSimultaneousRTs = 1;
  return c;
}

void SetDeviceCapsOverride(const D3DCAPS9* caps) {
  g_caps_overridden = caps != nullptr;
  if (caps) g_caps_override = *caps;
}

D3DCAPS9 CurrentDeviceCaps() { return g_caps_overridden ? g_caps_override : DefaultDeviceCaps(); }

void SetDirect3DRuntimeAvailable(bool available) { g_runtime_available = available; }
void SetDirect3DExAvailable(bool available) { g_ex_available = available; }
void SetDeviceCreationFails(bool fails) { g_creation_fails = fails; }
void SetHardwareVertexProcessingFails(bool fails) { g_hardware_vp_fails = fails; }
void SetRefusedFormats(const std::vector<D3DFORMAT>& formats) { g_refused_formats = formats; }
int LiveDirect3DObjectCount() { return g_live_objects.load(); }
void SetForceGenericSpans(bool force) { g_force_generic_spans = force; }

// ---- Reference counting ----

Direct3DResource::Direct3DResource(std::shared_ptr<DeviceShared> shared, bool counted)
    : shared_(std::move(shared)), counted_(counted) {
  if (counted_) {
    if (shared_) shared_->live++;
    g_live_objects++;
  }
}

Direct3DResource::~Direct3DResource() {
  if (counted_) {
    if (shared_) shared_->live--;
    g_live_objects--;
  }
}

uint32_t Direct3DResource::AddRef() {
  if (container_) return container_->AddRef();
  return ++refs_;
}

uint32_t Direct3DResource::Release() {
  if (container_) return container_->Release();
  uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

// ---- Surfaces ----

Direct3DSurface9::Direct3DSurface9(std::shared_ptr<DeviceShared> shared, uint32_t w, uint32_t h,
                                   D3DFORMAT f, uint32_t usage, uint32_t pool, bool lockable,
                                   Direct3DResource* container)
    : Direct3DResource(std::move(shared), container == nullptr),
      width_(w), height_(h), format_(f), usage_(usage), pool_(pool), lockable_(lockable) {
  container_ = container;
  if (IsDepthFormat(f)) {
    depth_.assign(size_t(w) * h, 1.0f);
    pitch_ = static_cast<int>(w * 4);
  } else if (IsYuvFormat(f)) {
    // Packed pairs take 2 bytes a pixel; the planar layout has a plane of
    // luma rows followed by two half-size chroma planes at half the pitch.
    pitch_ = static_cast<int>(((f == D3DFMT_YV12 ? w : w * 2) + 15) & ~15u);
    pixels_.assign(size_t(pitch_) * (f == D3DFMT_YV12 ? h + (h + 1) / 2 : h), 0);
  } else {
    // Rows are padded to 16 bytes, as display memory usually is, so callers
    // must honour the pitch.
    pitch_ = static_cast<int>((w * FormatBytesPerPixel(f) + 15) & ~15u);
    pixels_.assign(size_t(pitch_) * h, 0);
  }
}

Direct3DSurface9* Direct3DSurface9::Make(std::shared_ptr<DeviceShared> shared, uint32_t w, uint32_t h,
                                         D3DFORMAT f, uint32_t usage, uint32_t pool, bool lockable,
                                         Direct3DResource* container) noexcept {
  try {
    return new Direct3DSurface9(std::move(shared), w, h, f, usage, pool, lockable, container);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// Queued draws may read or write the pixels.
Direct3DSurface9::~Direct3DSurface9() { WaitForRaster(); }

HRESULT Direct3DSurface9::GetDesc(D3DSURFACE_DESC* desc) const {
  if (!desc) return D3DERR_INVALIDCALL;
  *desc = {};
  desc->Format = format_;
  desc->Type = D3DRTYPE_SURFACE;
  desc->Usage = usage_;
  desc->Pool = pool_;
  desc->Width = width_;
  desc->Height = height_;
  return D3D_OK;
}

HRESULT Direct3DSurface9::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, uint32_t flags) {
  WaitForRaster();
  Record("Surface::LockRect", rect, flags);
  if (!locked || !lockable_ || locked_ || pixels_.empty()) return D3DERR_INVALIDCALL;
  RECT r = rect ? *rect : RECT{0, 0, int32_t(width_), int32_t(height_)};
  if (r.left < 0 || r.top < 0 || r.left >= r.right || r.top >= r.bottom ||
      r.right > int32_t(width_) || r.bottom > int32_t(height_))
    return D3DERR_INVALIDCALL;
  locked->Pitch = pitch_;
  locked->pBits = pixels_.data() + size_t(r.top) * pitch_ +
                  size_t(r.left) * (IsYuvFormat(format_) ? 0 : FormatBytesPerPixel(format_));
  locked_ = true;
  return D3D_OK;
}

HRESULT Direct3DSurface9::UnlockRect() {
  Record("Surface::UnlockRect");
  if (!locked_) return D3DERR_INVALIDCALL;
  locked_ = false;
  version_++;
  return D3D_OK;
}

uint32_t Direct3DSurface9::ReadPixel(int x, int y) const {
  WaitForRaster();
  if (x < 0 || y < 0 || x >= int(width_) || y >= int(height_) || pixels_.empty()) return 0;
  if (IsYuvFormat(format_)) return ReadYuvPixel(format_, pixels_.data(), pitch_, height_, x, y);
  return DecodePixel(format_, pixels_.data() + size_t(y) * pitch_ + size_t(x) * FormatBytesPerPixel(format_));
}

void Direct3DSurface9::WritePixel(int x, int y, uint32_t argb) {
  WaitForRaster();
  if (x < 0 || y < 0 || x >= int(width_) || y >= int(height_) || pixels_.empty()) return;
  EncodePixel(format_, argb, pixels_.data() + size_t(y) * pitch_ + size_t(x) * FormatBytesPerPixel(format_));
  version_++;
}

void MarkSurfaceChanged(Direct3DSurface9* surface) { surface->version_++; }

TexelView GetTexelView(Direct3DSurface9* s) {
  TexelView v;
  v.width = int(s->width_);
  v.height = int(s->height_);
  if (FormatBytesPerPixel(s->format_) == 4) {
    v.texels = reinterpret_cast<const uint32_t*>(s->pixels_.data());
    v.stride = s->pitch_ / 4;
    v.alpha_or = s->format_ == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0;
    return v;
  }
  if (s->cache_version_ != s->version_ || s->cache_.empty()) {
    // Queued draws may still read the decoded copy.
    WaitForRaster();
    s->cache_.resize(size_t(s->width_) * s->height_);
    for (uint32_t y = 0; y < s->height_; y++) {
      const uint8_t* row = s->pixels_.data() + size_t(y) * s->pitch_;
      for (uint32_t x = 0; x < s->width_; x++)
        s->cache_[size_t(y) * s->width_ + x] = DecodePixel(s->format_, row + x * 2);
    }
    s->cache_version_ = s->version_;
  }
  v.texels = s->cache_.data();
  v.stride = int(s->width_);
  return v;
}

// ---- Textures ----

Direct3DTexture9::~Direct3DTexture9() {
  for (auto* s : levels_) delete s;
}

HRESULT Direct3DTexture9::GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc) const {
  if (level >= levels_.size()) return D3DERR_INVALIDCALL;
  return levels_[level]->GetDesc(desc);
}

HRESULT Direct3DTexture9::GetSurfaceLevel(uint32_t level, Direct3DSurface9** surface) {
  Record("Texture::GetSurfaceLevel", level);
  if (!surface || level >= levels_.size()) return D3DERR_INVALIDCALL;
  *surface = levels_[level];
  AddRef();
  return D3D_OK;
}

HRESULT Direct3DTexture9::LockRect(uint32_t level, D3DLOCKED_RECT* locked, const RECT* rect,
                                   uint32_t flags) {
  if (level >= levels_.size()) return D3DERR_INVALIDCALL;
  return levels_[level]->LockRect(locked, rect, flags);
}

HRESULT Direct3DTexture9::UnlockRect(uint32_t level) {
  if (level >= levels_.size()) return D3DERR_INVALIDCALL;
  return levels_[level]->UnlockRect();
}

// ---- Buffers ----

HRESULT Direct3DVertexBuffer9::Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) {
  if (!data || locked_ || offset > bytes_.size()) return D3DERR_INVALIDCALL;
  if (size == 0) size = uint32_t(bytes_.size()) - offset;
  if (size > bytes_.size() - offset) return D3DERR_INVALIDCALL;
  *data = bytes_.data() + offset;
  locked_ = true;
  return D3D_OK;
}

HRESULT Direct3DVertexBuffer9::Unlock() {
  if (!locked_) return D3DERR_INVALIDCALL;
  locked_ = false;
  return D3D_OK;
}

HRESULT Direct3DVertexBuffer9::GetDesc(D3DVERTEXBUFFER_DESC* desc) const {
  if (!desc) return D3DERR_INVALIDCALL;
  *desc = desc_;
  return D3D_OK;
}

HRESULT Direct3DIndexBuffer9::Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) {
  if (!data || locked_ || offset > bytes_.size()) return D3DERR_INVALIDCALL;
  if (size == 0) size = uint32_t(bytes_.size()) - offset;
  if (size > bytes_.size() - offset) return D3DERR_INVALIDCALL;
  *data = bytes_.data() + offset;
  locked_ = true;
  return D3D_OK;
}

HRESULT Direct3DIndexBuffer9::Unlock() {
  if (!locked_) return D3DERR_INVALIDCALL;
  locked_ = false;
  return D3D_OK;
}

HRESULT Direct3DIndexBuffer9::GetDesc(D3DINDEXBUFFER_DESC* desc) const {
  if (!desc) return D3DERR_INVALIDCALL;
  *desc = desc_;
  return D3D_OK;
}

// ---- Runtime module and factory ----

bool LoadDirect3DRuntime() {
  Record("LoadLibrary", "d3d9.dll");
  if (!g_runtime_available) return false;
  g_runtime_loaded = true;
  return true;
}

void FreeDirect3DRuntime() {
  Record("FreeLibrary", "d3d9.dll");
  g_runtime_loaded = false;
}

bool HasDirect3DCreate9Ex() { return g_runtime_available && g_ex_available; }

Direct3D9::Direct3D9(bool ex) : Direct3DResource(nullptr), ex_(ex) {}

Direct3D9* Direct3DCreate9(uint32_t sdk_version) {
  Record("Direct3DCreate9", sdk_version);
  if (!g_runtime_available) return nullptr;
  return new (std::nothrow) Direct3D9(false);
}

HRESULT Direct3DCreate9Ex(uint32_t sdk_version, Direct3D9** out) {
  Record("Direct3DCreate9Ex", sdk_version);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!HasDirect3DCreate9Ex()) return D3DERR_NOTAVAILABLE;
  *out = new (std::nothrow) Direct3D9(true);
  return *out ? D3D_OK : E_OUTOFMEMORY_RESULT;
}

HRESULT Direct3D9::GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* mode) const {
  Record("GetAdapterDisplayMode", adapter);
  if (adapter != 0 || !mode) return D3DERR_INVALIDCALL;
  *mode = Desktop();
  return D3D_OK;
}

uint32_t Direct3D9::GetAdapterModeCount(uint32_t adapter, D3DFORMAT format) const {
  Record("GetAdapterModeCount", adapter, format);
  if (adapter != 0) return 0;
  uint32_t n = 0;
  for (auto& m : Modes()) n += m.Format == format;
  return n;
}

HRESULT Direct3D9::EnumAdapterModes(uint32_t adapter, D3DFORMAT format, uint32_t index,
                                    D3DDISPLAYMODE* mode) const {
  if (adapter != 0 || !mode) return D3DERR_INVALIDCALL;
  for (auto& m : Modes()) {
    if (m.Format != format) continue;
    if (index-- == 0) {
      *mode = m;
      return D3D_OK;
    }
  }
  return D3DERR_INVALIDCALL;
}

HRESULT Direct3D9::GetAdapterIdentifier(uint32_t adapter, uint32_t flags,
                                        D3DADAPTER_IDENTIFIER9* id) const {
  Record("GetAdapterIdentifier", adapter, flags);
  if (adapter != 0 || !id) return D3DERR_INVALIDCALL;
  *id = {};
  snprintf(id->Driver, sizeof id->Driver, "rorud-soft");
  snprintf(id->Description, sizeof id->Description, "RoRud software rasteriser");
  snprintf(id->DeviceName, sizeof id->DeviceName, "DISPLAY1");
  return D3D_OK;
}

HRESULT Direct3D9::GetDeviceCaps(uint32_t adapter, uint32_t type, D3DCAPS9* caps) const {
  Record("GetDeviceCaps", adapter, type);
  if (adapter != 0 || !caps || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
  *caps = CurrentDeviceCaps();
  return D3D_OK;
}

HRESULT Direct3D9::CheckDeviceFormat(uint32_t adapter, uint32_t type, D3DFORMAT adapter_format,
                                     uint32_t usage, uint32_t resource_type, D3DFORMAT format) const {
  Record("CheckDeviceFormat", adapter, type, adapter_format, usage, resource_type, format);
  if (adapter != 0 || type != D3DDEVTYPE_HAL || !IsDisplayFormat(adapter_format))
    return D3DERR_INVALIDCALL;
  if (IsRefused(format)) return D3DERR_NOTAVAILABLE;
  if (usage & D3DUSAGE_DEPTHSTENCIL)
    return IsDepthFormat(format) && resource_type == D3DRTYPE_SURFACE ? D3D_OK : D3DERR_NOTAVAILABLE;
  if (resource_type != D3DRTYPE_TEXTURE && resource_type != D3DRTYPE_SURFACE)
    return D3DERR_NOTAVAILABLE;
  return IsColorFormat(format) ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D9::CheckDepthStencilMatch(uint32_t adapter, uint32_t type, D3DFORMAT adapter_format,
                                          D3DFORMAT render_target_format,
                                          D3DFORMAT depth_format) const {
  Record("CheckDepthStencilMatch", adapter, type, adapter_format, render_target_format, depth_format);
  if (adapter != 0 || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
  if (!IsDepthFormat(depth_format) || IsRefused(depth_format) || !IsColorFormat(render_target_format))
    return D3DERR_NOTAVAILABLE;
  return D3D_OK;
}

HRESULT Direct3D9::CheckDeviceMultiSampleType(uint32_t adapter, uint32_t type, D3DFORMAT format,
                                              int32_t windowed, uint32_t ms_type,
                                              uint32_t* quality_levels) const {
  Record("CheckDeviceMultiSampleType", adapter, type, format, windowed, ms_type);
  if (adapter != 0 || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
  if (ms_type != D3DMULTISAMPLE_NONE || (!IsColorFormat(format) && !IsDepthFormat(format)))
    return D3DERR_NOTAVAILABLE;
  if (quality_levels) *quality_levels = 1;
  return D3D_OK;
}

HRESULT Direct3D9::CreateDevice(uint32_t adapter, uint32_t type, WindowHandle focus,
                                uint32_t behaviour, D3DPRESENT_PARAMETERS* params,
                                Direct3DDevice9** out) {
  Record("CreateDevice", adapter, type, focus, behaviour);
  return CreateDeviceCommon(adapter, type, behaviour, params, out);
}

HRESULT Direct3D9::CreateDeviceEx(uint32_t adapter, uint32_t type, WindowHandle focus,
                                  uint32_t behaviour, D3DPRESENT_PARAMETERS* params,
                                  const D3DDISPLAYMODEEX* mode, Direct3DDevice9** out) {
  Record("CreateDeviceEx", adapter, type, focus, behaviour, mode);
  if (!ex_) return D3DERR_INVALIDCALL;
  return CreateDeviceCommon(adapter, type, behaviour, params, out);
}

HRESULT Direct3D9::CreateDeviceCommon(uint32_t adapter, uint32_t type, uint32_t behaviour,
                                      D3DPRESENT_PARAMETERS* params, Direct3DDevice9** out) {
  if (!out || !params || adapter != 0 || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (g_creation_fails) return D3DERR_NOTAVAILABLE;
  uint32_t vp = behaviour & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                             D3DCREATE_MIXED_VERTEXPROCESSING);
  if (vp != D3DCREATE_SOFTWARE_VERTEXPROCESSING && vp != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
      vp != D3DCREATE_MIXED_VERTEXPROCESSING)
    return D3DERR_INVALIDCALL;
  if (g_hardware_vp_fails && vp != D3DCREATE_SOFTWARE_VERTEXPROCESSING) return D3DERR_NOTAVAILABLE;
  D3DPRESENT_PARAMETERS p = *params;
  if (p.BackBufferFormat == D3DFMT_UNKNOWN && p.Windowed) p.BackBufferFormat = Desktop().Format;
  if (!IsDisplayFormat(p.BackBufferFormat) || IsRefused(p.BackBufferFormat)) return D3DERR_INVALIDCALL;
  if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0 || p.BackBufferWidth > 16384 ||
      p.BackBufferHeight > 16384)
    return D3DERR_INVALIDCALL;
  if (p.MultiSampleType != D3DMULTISAMPLE_NONE) return D3DERR_INVALIDCALL;
  if (!p.Windowed) {
    bool found = false;
    for (auto& m : Modes())
      found |= m.Width == p.BackBufferWidth && m.Height == p.BackBufferHeight && m.Format == p.BackBufferFormat;
    if (!found) return D3DERR_INVALIDCALL;
  }
  if (p.BackBufferCount == 0) p.BackBufferCount = 1;
  const bool draws = !(g_d3d_recording && !g_recording_devices_draw);
  Direct3DDevice9* device = nullptr;
  try {
    auto shared = std::make_shared<DeviceShared>();
    shared->draws = draws;
    device = new Direct3DDevice9(shared);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY_RESULT;
  }
  HRESULT hr = device->Init(p, behaviour, !draws);
  if (hr != D3D_OK) {
    device->Release();
    return hr;
  }
  *params = p;
  *out = device;
  return D3D_OK;
}

}  // namespace plat
