// platform/d3d9/ddraw.h - the DirectDraw stand-in, kept only for what the library
// uses it for: waiting for the vertical blank, and overlay surfaces that
// record where they are asked to show. The display refreshes at an emulated
// 60 Hz on the platform clock (the virtual clock in headless runs, where a
// wait advances the clock to the next blank instead of sleeping).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace plat {

enum : uint32_t {
  DDSCL_NORMAL = 0x8,
  DDWAITVB_BLOCKBEGIN = 0x1,
};

// Overlay update flags.
enum : uint32_t {
  DDOVER_HIDE = 0x200,
  DDOVER_SHOW = 0x4000,
};

// The display driver's overlay alignment rules: which apply (dwCaps bits)
// and their units in pixels.
enum : uint32_t {
  DDCAPS_ALIGNBOUNDARYDEST = 0x2,
  DDCAPS_ALIGNSIZEDEST = 0x4,
  DDCAPS_ALIGNBOUNDARYSRC = 0x8,
  DDCAPS_ALIGNSIZESRC = 0x10,
};
struct DDCAPS {
  uint32_t dwCaps;
  uint32_t dwAlignBoundarySrc, dwAlignSizeSrc;
  uint32_t dwAlignBoundaryDest, dwAlignSizeDest;
};
// The emulated driver asks for no alignment unless a test sets some.
void GetDisplayDriverCaps(DDCAPS* out);
void SetDisplayDriverCaps(const DDCAPS& caps);

// One UpdateOverlay call as the surface received it.
struct OverlayUpdate {
  bool has_source, has_destination;
  RECT source, destination;
  uint32_t flags;
  bool accepted;  // false: refused as invalid, nothing changed
};

// An overlay surface. It draws nothing; it keeps every UpdateOverlay call so
// that a test can see where the overlay was shown or that it was hidden.
class DirectDrawSurface7 {
 public:
  uint32_t AddRef() { return ++refs_; }
  uint32_t Release();
  // Shows (DDOVER_SHOW, both rectangles given) or hides (DDOVER_HIDE) the
  // overlay on the target surface (null: the primary surface).
  HRESULT UpdateOverlay(const RECT* source, DirectDrawSurface7* target, const RECT* destination, uint32_t flags,
                        const void* effects);
  const std::vector<OverlayUpdate>& overlay_updates() const { return updates_; }

 private:
  friend HRESULT CreateOverlaySurface(int width, int height, DirectDrawSurface7** out);
  DirectDrawSurface7() = default;
  ~DirectDrawSurface7() = default;
  bool Acceptable(const OverlayUpdate& u) const;
  uint32_t refs_ = 1;
  int width_ = 0, height_ = 0;
  std::vector<OverlayUpdate> updates_;
};

// An overlay surface of the given size.
HRESULT CreateOverlaySurface(int width, int height, DirectDrawSurface7** out);

// Blocks until the next emulated vertical blank begins: the first time t_k =
// floor(k * 1000000 / rate) microseconds of the platform clock that lies after
// now.
void WaitForVerticalBlankEmulated();
// The emulated refresh rate in hertz (60 unless a test changes it).
void SetEmulatedRefreshRate(int hertz);
int GetEmulatedRefreshRate();
// Microseconds on the clock the blanks are counted on.
uint64_t VerticalBlankClockMicros();

class DirectDraw7 {
 public:
  uint32_t AddRef() { return ++refs_; }
  uint32_t Release();
  HRESULT Initialize(const void* guid);
  HRESULT SetCooperativeLevel(WindowHandle window, uint32_t flags);
  HRESULT WaitForVerticalBlank(uint32_t flags, void* event);
  // Number of waits so far (for tests of pacing).
  int wait_count() const { return waits_; }

 private:
  friend HRESULT CreateDirectDraw7(DirectDraw7** out);
  DirectDraw7() = default;
  ~DirectDraw7() = default;
  uint32_t refs_ = 1;
  bool initialized_ = false;
  int waits_ = 0;
};

// The COM creation of the DirectDraw 7 object. Fails while switched off by
// SetDirectDrawAvailable(false).
HRESULT CreateDirectDraw7(DirectDraw7** out);
void SetDirectDrawAvailable(bool available);

}  // namespace plat
