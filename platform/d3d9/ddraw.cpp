// platform/d3d9/ddraw.cpp - emulated vertical blanks on the platform clock, and
// overlay surfaces that record their updates.
#include "platform/d3d9/ddraw.h"

#include <new>
#include <thread>

#include "platform/d3d9/d3d9_internal.h"
#include "platform/kernel/kernel.h"

namespace plat {

namespace {
int g_refresh_rate = 60;
bool g_ddraw_available = true;
DDCAPS g_driver_caps{};
}  // namespace

void GetDisplayDriverCaps(DDCAPS* out) {
  if (out) *out = g_driver_caps;
}
void SetDisplayDriverCaps(const DDCAPS& caps) { g_driver_caps = caps; }

HRESULT CreateOverlaySurface(int width, int height, DirectDrawSurface7** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (width <= 0 || height <= 0) return D3DERR_INVALIDCALL;
  DirectDrawSurface7* surface = new (std::nothrow) DirectDrawSurface7();
  if (!surface) return E_OUTOFMEMORY_RESULT;
  surface->width_ = width;
  surface->height_ = height;
  *out = surface;
  return D3D_OK;
}

// Exactly one of show and hide; a shown overlay needs a source inside the
// surface and a destination that is not empty.
bool DirectDrawSurface7::Acceptable(const OverlayUpdate& u) const {
  const bool show = (u.flags & DDOVER_SHOW) != 0, hide = (u.flags & DDOVER_HIDE) != 0;
  if (show == hide) return false;
  if (hide) return true;
  const RECT& s = u.source;
  const RECT& d = u.destination;
  return u.has_source && u.has_destination && s.left >= 0 && s.top >= 0 && s.right <= width_ &&
         s.bottom <= height_ && s.left < s.right && s.top < s.bottom && d.left < d.right && d.top < d.bottom;
}

uint32_t DirectDrawSurface7::Release() {
  uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT DirectDrawSurface7::UpdateOverlay(const RECT* source, DirectDrawSurface7* target, const RECT* destination,
                                          uint32_t flags, const void* effects) {
  (void)target;
  (void)effects;
  OverlayUpdate u{};
  u.has_source = source != nullptr;
  u.has_destination = destination != nullptr;
  if (source) u.source = *source;
  if (destination) u.destination = *destination;
  u.flags = flags;
  u.accepted = Acceptable(u);
  updates_.push_back(u);
  return u.accepted ? D3D_OK : D3DERR_INVALIDCALL;
}

void SetEmulatedRefreshRate(int hertz) { g_refresh_rate = hertz > 0 ? hertz : 60; }
int GetEmulatedRefreshRate() { return g_refresh_rate; }
void SetDirectDrawAvailable(bool available) { g_ddraw_available = available; }

uint64_t VerticalBlankClockMicros() {
  int64_t counter = QueryPerformanceCounter();
  int64_t frequency = QueryPerformanceFrequency();
  if (frequency <= 0) return 0;
  return static_cast<uint64_t>((static_cast<__int128>(counter) * 1000000) / frequency);
}

void WaitForVerticalBlankEmulated() {
  uint64_t now = VerticalBlankClockMicros();
  uint64_t rate = static_cast<uint64_t>(g_refresh_rate);
  uint64_t k = (now * rate) / 1000000 + 1;
  uint64_t next = (k * 1000000) / rate;
  while (next <= now) next = (++k * 1000000) / rate;
  if (IsVirtualClock()) {
    AdvanceVirtualClock(next - now);
    return;
  }
  // A sleep never ends early, so sleeping up to the edge (again, should the
  // clock read short of it) catches it without spinning.
  while (now < next) {
    std::this_thread::sleep_for(std::chrono::microseconds(next - now));
    now = VerticalBlankClockMicros();
  }
}

HRESULT CreateDirectDraw7(DirectDraw7** out) {
  Record("CreateDirectDraw7");
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!g_ddraw_available) return D3DERR_NOTAVAILABLE;
  *out = new (std::nothrow) DirectDraw7();
  return *out ? D3D_OK : E_OUTOFMEMORY_RESULT;
}

uint32_t DirectDraw7::Release() {
  uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT DirectDraw7::Initialize(const void* guid) {
  Record("DirectDraw::Initialize", guid);
  initialized_ = true;
  return D3D_OK;
}

HRESULT DirectDraw7::SetCooperativeLevel(WindowHandle window, uint32_t flags) {
  Record("DirectDraw::SetCooperativeLevel", window, flags);
  return initialized_ ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT DirectDraw7::WaitForVerticalBlank(uint32_t flags, void* event) {
  if (!initialized_ || flags != DDWAITVB_BLOCKBEGIN) return D3DERR_INVALIDCALL;
  waits_++;
  WaitForVerticalBlankEmulated();
  return D3D_OK;
}

}  // namespace plat
