// platform/d3d9/ddraw.h - the DirectDraw stand-in, kept only for what the library
// uses it for: waiting for the vertical blank. The display refreshes at an
// emulated 60 Hz on the platform clock (the virtual clock in headless runs,
// where a wait advances the clock to the next blank instead of sleeping).
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

namespace plat {

enum : uint32_t {
  DDSCL_NORMAL = 0x8,
  DDWAITVB_BLOCKBEGIN = 0x1,
};

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
