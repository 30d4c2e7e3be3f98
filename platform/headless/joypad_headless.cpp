// platform/headless/joypad_headless.cpp - joypads of the headless back end:
// pads that tests attach and move, and the rumble the devices give them.
#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/input/dinput.h"
#include "platform/input/joypad_internal.h"

namespace plat {
namespace {

struct HeadlessPad {
  detail::JoypadSnapshot state;
  int strong = 0, weak = 0;
};

std::mutex g_pads_lock;
std::vector<HeadlessPad> g_pads;
uint32_t g_serial = 0;

HeadlessPad* PadLocked(int pad) {
  if (pad < 0 || pad >= static_cast<int>(g_pads.size())) return nullptr;
  return &g_pads[static_cast<size_t>(pad)];
}

}  // namespace

int HeadlessAddJoypad(const char* name, int axes, int buttons, bool rumble) {
  std::lock_guard<std::mutex> guard(g_pads_lock);
  HeadlessPad pad;
  detail::JoypadSnapshot& s = pad.state;
  for (int i = 0; i < kJoypadAxisCount; ++i) {
    s.axes[i] = 0;
    s.has_axis[i] = i < std::max(2, axes);
  }
  s.hat = -1;
  s.has_hat = true;
  std::fill(std::begin(s.buttons), std::end(s.buttons), 0);
  s.button_count = std::clamp(buttons, 0, 32);
  s.rumble = rumble;
  s.name = name != nullptr ? name : "";
  s.product = s.name;
  s.serial = ++g_serial;
  g_pads.push_back(pad);
  return static_cast<int>(g_pads.size()) - 1;
}

void HeadlessSetJoypadAxis(int pad, int axis, int value) {
  std::lock_guard<std::mutex> guard(g_pads_lock);
  HeadlessPad* p = PadLocked(pad);
  if (p == nullptr || axis < 0 || axis >= kJoypadAxisCount) return;
  p->state.axes[axis] = std::clamp(value, -32768, 32767);
  p->state.serial = ++g_serial;
}

void HeadlessSetJoypadButton(int pad, int button, bool down) {
  std::lock_guard<std::mutex> guard(g_pads_lock);
  HeadlessPad* p = PadLocked(pad);
  if (p == nullptr || button < 0 || button >= 32) return;
  p->state.buttons[button] = down ? 1 : 0;
  p->state.serial = ++g_serial;
}

void HeadlessSetJoypadHat(int pad, int hundredths) {
  std::lock_guard<std::mutex> guard(g_pads_lock);
  HeadlessPad* p = PadLocked(pad);
  if (p == nullptr) return;
  p->state.hat = hundredths < 0 ? -1 : hundredths % 36000;
  p->state.serial = ++g_serial;
}

void HeadlessGetJoypadRumble(int pad, int* strong, int* weak) {
  std::lock_guard<std::mutex> guard(g_pads_lock);
  HeadlessPad* p = PadLocked(pad);
  if (strong != nullptr) *strong = p != nullptr ? p->strong : 0;
  if (weak != nullptr) *weak = p != nullptr ? p->weak : 0;
}

void HeadlessRemoveJoypads() {
  std::lock_guard<std::mutex> guard(g_pads_lock);
  g_pads.clear();
}

namespace detail::joypad_headless {

int Refresh() {
  std::lock_guard<std::mutex> guard(g_pads_lock);
  return static_cast<int>(g_pads.size());
}

bool Read(int pad, JoypadSnapshot* out) {
  std::lock_guard<std::mutex> guard(g_pads_lock);
  HeadlessPad* p = PadLocked(pad);
  if (p == nullptr) return false;
  *out = p->state;
  return true;
}

void Rumble(int pad, uint16_t strong, uint16_t weak) {
  std::lock_guard<std::mutex> guard(g_pads_lock);
  HeadlessPad* p = PadLocked(pad);
  if (p == nullptr || !p->state.rumble) return;
  p->strong = strong;
  p->weak = weak;
}

}  // namespace detail::joypad_headless
}  // namespace plat
