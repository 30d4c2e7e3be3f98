// platform/input/joypad_internal.h - what the input devices (platform/input/dinput.cpp)
// read from a back end's joypads: a list of attached pads, each with raw
// axes, a hat and buttons, and a rumble output.
#pragma once

#include <cstdint>
#include <string>

namespace plat::detail {

struct JoypadSnapshot {
  int32_t axes[6];      // X, Y, Z, Rx, Ry, Rz; -32768..32767, 0 centred
  bool has_axis[6];
  int32_t hat;          // hundredths of a degree, -1 centred
  bool has_hat;
  uint8_t buttons[32];  // 1 = down
  int button_count;
  bool rumble;          // can vibrate
  std::string name;     // instance name
  std::string product;  // product name
  uint32_t serial;      // changes whenever the state changes
};

// A back end's joypads. Pads are numbered from 0 in the order found;
// Refresh looks for pads attached or removed since the last call (so a
// number can change only there).
namespace joypad_headless {
int Refresh();
bool Read(int pad, JoypadSnapshot* out);
void Rumble(int pad, uint16_t strong, uint16_t weak);
}  // namespace joypad_headless

namespace joypad_sdl {
// Starts SDL's joystick and game-controller subsystems on first use; the
// number of pads (0 when SDL cannot start them).
int Refresh();
bool Read(int pad, JoypadSnapshot* out);
void Rumble(int pad, uint16_t strong, uint16_t weak);
}  // namespace joypad_sdl

// The one of the current back end.
int JoypadRefresh();
bool JoypadRead(int pad, JoypadSnapshot* out);
void JoypadRumble(int pad, uint16_t strong, uint16_t weak);

}  // namespace plat::detail
