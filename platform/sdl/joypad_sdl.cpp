// platform/sdl/joypad_sdl.cpp - joypads of the SDL2 back end: game
// controllers seen through SDL's controller mapping (sticks, triggers, the
// direction pad as a hat, the face and shoulder buttons), other joysticks
// with their raw axes, first hat and buttons; rumble through SDL.
#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/input/joypad_internal.h"

namespace plat::detail::joypad_sdl {
namespace {

struct OpenPad {
  SDL_JoystickID id;
  SDL_GameController* controller;  // null for a plain joystick
  SDL_Joystick* joystick;
  uint32_t serial;
  JoypadSnapshot last;
};

bool g_started = false;
bool g_failed = false;
std::vector<OpenPad> g_pads;
uint32_t g_serial = 0;

bool Start() {
  if (g_started) return true;
  if (g_failed) return false;
  // Pads are read on demand; the window layer's event pump keeps SDL's view
  // of them current.
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  if (SDL_InitSubSystem(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER) != 0) {
    g_failed = true;
    return false;
  }
  g_started = true;
  return true;
}

void Close(OpenPad& pad) {
  if (pad.controller != nullptr) {
    SDL_GameControllerClose(pad.controller);
  } else if (pad.joystick != nullptr) {
    SDL_JoystickClose(pad.joystick);
  }
  pad.controller = nullptr;
  pad.joystick = nullptr;
}

int32_t Axis(int value) { return std::clamp(value, -32768, 32767); }

int32_t HatHundredths(Uint8 hat) {
  switch (hat) {
    case SDL_HAT_UP: return 0;
    case SDL_HAT_RIGHTUP: return 4500;
    case SDL_HAT_RIGHT: return 9000;
    case SDL_HAT_RIGHTDOWN: return 13500;
    case SDL_HAT_DOWN: return 18000;
    case SDL_HAT_LEFTDOWN: return 22500;
    case SDL_HAT_LEFT: return 27000;
    case SDL_HAT_LEFTUP: return 31500;
    default: return -1;
  }
}

void Snapshot(OpenPad& pad, JoypadSnapshot* s) {
  std::fill(std::begin(s->axes), std::end(s->axes), 0);
  std::fill(std::begin(s->has_axis), std::end(s->has_axis), false);
  std::fill(std::begin(s->buttons), std::end(s->buttons), 0);
  s->hat = -1;
  s->has_hat = false;
  if (pad.controller != nullptr) {
    SDL_GameController* c = pad.controller;
    s->axes[0] = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTX);
    s->axes[1] = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTY);
    // The two triggers share one axis, as pads of this kind report them.
    s->axes[2] = Axis(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_TRIGGERLEFT) -
                      SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_TRIGGERRIGHT));
    s->axes[3] = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_RIGHTX);
    s->axes[4] = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_RIGHTY);
    for (int i = 0; i < 5; ++i) s->has_axis[i] = true;
    const SDL_GameControllerButton order[] = {
        SDL_CONTROLLER_BUTTON_A,         SDL_CONTROLLER_BUTTON_B,
        SDL_CONTROLLER_BUTTON_X,         SDL_CONTROLLER_BUTTON_Y,
        SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
        SDL_CONTROLLER_BUTTON_BACK,      SDL_CONTROLLER_BUTTON_START,
        SDL_CONTROLLER_BUTTON_LEFTSTICK, SDL_CONTROLLER_BUTTON_RIGHTSTICK,
        SDL_CONTROLLER_BUTTON_GUIDE};
    int n = 0;
    for (SDL_GameControllerButton b : order) s->buttons[n++] = SDL_GameControllerGetButton(c, b) ? 1 : 0;
    s->button_count = n;
    bool up = SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_UP);
    bool down = SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_DOWN);
    bool left = SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_LEFT);
    bool right = SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_RIGHT);
    Uint8 hat = static_cast<Uint8>((up ? SDL_HAT_UP : 0) | (down ? SDL_HAT_DOWN : 0) |
                                   (left ? SDL_HAT_LEFT : 0) | (right ? SDL_HAT_RIGHT : 0));
    s->hat = HatHundredths(hat);
    s->has_hat = true;
    const char* name = SDL_GameControllerName(c);
    s->name = name != nullptr ? name : "";
  } else {
    SDL_Joystick* j = pad.joystick;
    int axes = std::min(SDL_JoystickNumAxes(j), 6);
    for (int i = 0; i < axes; ++i) {
      s->axes[i] = SDL_JoystickGetAxis(j, i);
      s->has_axis[i] = true;
    }
    int buttons = std::min(SDL_JoystickNumButtons(j), 32);
    for (int i = 0; i < buttons; ++i) s->buttons[i] = SDL_JoystickGetButton(j, i) ? 1 : 0;
    s->button_count = std::max(buttons, 0);
    if (SDL_JoystickNumHats(j) > 0) {
      s->hat = HatHundredths(SDL_JoystickGetHat(j, 0));
      s->has_hat = true;
    }
    const char* name = SDL_JoystickName(j);
    s->name = name != nullptr ? name : "";
  }
  s->product = s->name;
  SDL_Joystick* j = pad.controller != nullptr ? SDL_GameControllerGetJoystick(pad.controller) : pad.joystick;
  s->rumble = SDL_JoystickHasRumble(j) == SDL_TRUE;
}

}  // namespace

int Refresh() {
  if (!Start()) return 0;
  SDL_JoystickUpdate();
  // Forget pads that went away, then open the ones not yet open, keeping the
  // order in which they were found.
  for (OpenPad& pad : g_pads) {
    SDL_Joystick* j = pad.controller != nullptr ? SDL_GameControllerGetJoystick(pad.controller) : pad.joystick;
    if (j == nullptr || SDL_JoystickGetAttached(j) != SDL_TRUE) Close(pad);
  }
  g_pads.erase(std::remove_if(g_pads.begin(), g_pads.end(),
                              [](const OpenPad& p) { return p.controller == nullptr && p.joystick == nullptr; }),
               g_pads.end());
  int count = SDL_NumJoysticks();
  for (int i = 0; i < count; ++i) {
    SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(i);
    bool known = std::any_of(g_pads.begin(), g_pads.end(), [id](const OpenPad& p) { return p.id == id; });
    if (known) continue;
    OpenPad pad{id, nullptr, nullptr, 0, {}};
    if (SDL_IsGameController(i)) pad.controller = SDL_GameControllerOpen(i);
    if (pad.controller == nullptr) pad.joystick = SDL_JoystickOpen(i);
    if (pad.controller == nullptr && pad.joystick == nullptr) continue;
    pad.serial = ++g_serial;
    g_pads.push_back(pad);
  }
  return static_cast<int>(g_pads.size());
}

bool Read(int pad, JoypadSnapshot* out) {
  if (!g_started || pad < 0 || pad >= static_cast<int>(g_pads.size())) return false;
  OpenPad& p = g_pads[static_cast<size_t>(pad)];
  SDL_JoystickUpdate();
  JoypadSnapshot s;
  Snapshot(p, &s);
  bool changed = std::memcmp(s.axes, p.last.axes, sizeof s.axes) != 0 ||
                 std::memcmp(s.buttons, p.last.buttons, sizeof s.buttons) != 0 || s.hat != p.last.hat;
  if (changed) p.serial = ++g_serial;
  s.serial = p.serial;
  p.last = s;
  *out = s;
  return true;
}

void Rumble(int pad, uint16_t strong, uint16_t weak) {
  if (!g_started || pad < 0 || pad >= static_cast<int>(g_pads.size())) return;
  OpenPad& p = g_pads[static_cast<size_t>(pad)];
  // The longest rumble SDL plays; a started effect is meant to last until it
  // is stopped.
  const Uint32 duration = 0xFFFF;
  if (p.controller != nullptr) {
    SDL_GameControllerRumble(p.controller, strong, weak, strong == 0 && weak == 0 ? 0 : duration);
  } else if (p.joystick != nullptr) {
    SDL_JoystickRumble(p.joystick, strong, weak, strong == 0 && weak == 0 ? 0 : duration);
  }
}

}  // namespace plat::detail::joypad_sdl
