// lib/system/input.h - keyboard and joypads: the device-input devices (or the
// multimedia joystick functions when no device-input object can be had), the
// per-pad key map that lets keys stand in for pad bits, vibration timers.
// Internal to the library; the public queries are in rorud/rorud.h.
#pragma once

#include <cstdint>

#include "platform/input/dinput.h"
#include "rorud/rorud.h"

constexpr int kPadMax = 16;
constexpr int kPadBits = 32;
constexpr int kPadKeysPerBit = 4;
constexpr int kInputKeyboardFlag = 0x1000;

struct PadRecord {
  plat::DirectInputDevice* device;  // null: free record
  plat::DirectInputEffect* constant_force;
  plat::DirectInputEffect* sine;
  plat::Event* state_event;
  plat::DiJoyState state;
  int has_z_and_r;  // the multimedia joystick path only
  uint32_t refresh_time;
  int vibration_on;
  int vibration_power;       // 0..10000
  int vibration_time_limit;  // ms; negative: no limit
  int vibration_elapsed;
  int vibration_clock;
  int constant_playing;
  int sine_playing;
  char instance_name[260];
  char product_name[260];
};

struct InputDeviceState {
  // Settings, kept across a restart of input.
  int no_direct_input;
  int no_vibration;
  int direct_input_keyboard;

  int direct_input8;
  plat::DirectInput* direct_input;  // null: not started; kInputOnWinmm: joystick functions
  plat::DirectInputDevice* mouse;
  plat::DirectInputDevice* keyboard;
  plat::Event* keyboard_event;
  uint32_t keyboard_refresh_time;
  uint8_t key_state[256];
  int key_map_initialised;
  int32_t pad_key_map[kPadMax][kPadBits][kPadKeysPerBit];
  int pad_count;
  PadRecord pads[kPadMax];
};

// The object value that marks input started on the multimedia joystick functions.
inline plat::DirectInput* const kInputOnWinmm = reinterpret_cast<plat::DirectInput*>(static_cast<intptr_t>(-1));

InputDeviceState& GetInputDeviceState();

int PadSystemStart();
int ReleasePadDevices();
// 1 after a refresh of the key state, else 0.
int RefreshKeyboardState();
int RefreshPadState(int index);
int ReacquireInputDevices();
int ApplyPadVibration();
int RefreshInput();
// The two flags the keyboard-hook messages set (which 0 or 1).
int SetKeyboardHookFlag(int which, int value);
int GetKeyboardHookFlag(int which);
// Joystick-function axis conversion: raw 0..65535 to -1000..1000 with the
// middle half read as 0.
int32_t ConvertJoystickAxis(uint32_t raw);
// Test hook: the number of device reads of the key state so far.
int GetKeyboardRefreshCount();

// Key codes of the device-input keyboard.
constexpr int kDikEscape = 0x01, kDikQ = 0x10, kDikW = 0x11, kDikA = 0x1E, kDikS = 0x1F,
              kDikD = 0x20, kDikF = 0x21, kDikLShift = 0x2A, kDikZ = 0x2C, kDikX = 0x2D,
              kDikC = 0x2E, kDikV = 0x2F, kDikRShift = 0x36, kDikSpace = 0x39,
              kDikNumpad8 = 0x48, kDikNumpad4 = 0x4B, kDikNumpad6 = 0x4D, kDikNumpad2 = 0x50,
              kDikUp = 0xC8, kDikLeft = 0xCB, kDikRight = 0xCD, kDikDown = 0xD0;
