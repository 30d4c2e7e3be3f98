// lib/system/input.cpp - keyboard and joypads through the device-input object,
// with the multimedia joystick functions as the fallback, the pad key map,
// and the vibration of pads with force feedback.
#include "lib/system/input.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "lib/core/log.h"
#include "lib/system/window_system.h"
#include "platform/kernel/kernel.h"

namespace {

InputDeviceState g_input;
int g_start_in_progress = 0;
int g_keyboard_refreshing = 0;
int g_hook_flags[2] = {0, 0};
int g_keyboard_refresh_count = 0;

// Virtual key -> key code, for the key state read from the system's keyboard
// state. Enter stands in two rows: it sets the main and the keypad Enter.
struct VkToKeyCode {
  uint16_t virtual_key, key_code;
};
const VkToKeyCode kVirtualKeyToKeyCodeTable[] = {
    {0x41, 0x1E}, {0x42, 0x30}, {0x43, 0x2E}, {0x44, 0x20}, {0x45, 0x12}, {0x46, 0x21}, {0x47, 0x22},
    {0x48, 0x23}, {0x49, 0x17}, {0x4A, 0x24}, {0x4B, 0x25}, {0x4C, 0x26}, {0x4D, 0x32}, {0x4E, 0x31},
    {0x4F, 0x18}, {0x50, 0x19}, {0x51, 0x10}, {0x52, 0x13}, {0x53, 0x1F}, {0x54, 0x14}, {0x55, 0x16},
    {0x56, 0x2F}, {0x57, 0x11}, {0x58, 0x2D}, {0x59, 0x15}, {0x5A, 0x2C}, {0x30, 0x0B}, {0x31, 0x02},
    {0x32, 0x03}, {0x33, 0x04}, {0x34, 0x05}, {0x35, 0x06}, {0x36, 0x07}, {0x37, 0x08}, {0x38, 0x09},
    {0x39, 0x0A}, {0x25, 0xCB}, {0x26, 0xC8}, {0x27, 0xCD}, {0x28, 0xD0}, {0xBB, 0x27}, {0xBA, 0x92},
    {0xDB, 0x1A}, {0xDD, 0x1B}, {0xC0, 0x91}, {0xE2, 0x2B}, {0xBC, 0x33}, {0xDE, 0x90}, {0xBD, 0x0C},
    {0xDC, 0x7D}, {0xBE, 0x34}, {0xBF, 0x35}, {0x2E, 0xD3}, {0x1B, 0x01}, {0x20, 0x39}, {0x08, 0x0E},
    {0x09, 0x0F}, {0x0D, 0x1C}, {0x60, 0x52}, {0x61, 0x4F}, {0x62, 0x50}, {0x63, 0x51}, {0x64, 0x4B},
    {0x65, 0x4C}, {0x66, 0x4D}, {0x67, 0x47}, {0x68, 0x48}, {0x69, 0x49}, {0x6A, 0x37}, {0x6B, 0x4E},
    {0x6D, 0x4A}, {0x6E, 0x53}, {0x6F, 0xB5}, {0x0D, 0x9C}, {0xA0, 0x2A}, {0xA1, 0x36}, {0xA2, 0x1D},
    {0xA3, 0x9D}, {0x21, 0xC9}, {0x22, 0xD1}, {0x23, 0xCF}, {0x24, 0xC7}, {0x2D, 0xD2}, {0xA4, 0x38},
    {0xA5, 0xB8}, {0x91, 0x46}, {0x14, 0x3A}, {0x13, 0xC5}, {0x70, 0x3B}, {0x71, 0x3C}, {0x72, 0x3D},
    {0x73, 0x3E}, {0x74, 0x3F}, {0x75, 0x40}, {0x76, 0x41}, {0x77, 0x42}, {0x78, 0x43}, {0x79, 0x44},
    {0x7A, 0x57}, {0x7B, 0x58}, {0xFFFF, 0}};

constexpr uint32_t kWindowsXpVersionCode = 0x107;

void LogF(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogF(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  WriteLogLine(buffer);
}

bool OnDirectInput() { return g_input.direct_input != nullptr && g_input.direct_input != kInputOnWinmm; }

void ReleaseEffect(plat::DirectInputEffect** effect) {
  if (*effect == nullptr) return;
  (*effect)->Stop();
  (*effect)->Release();
  *effect = nullptr;
}

void DefaultKeyMap() {
  for (auto& pad : g_input.pad_key_map)
    for (auto& bit : pad)
      for (int32_t& key : bit) key = -1;
  const int32_t defaults[][2] = {{0x50, 0xD0}, {0x4B, 0xCB}, {0x4D, 0xCD}, {0x48, 0xC8}, {0x2C, -1},
                                 {0x2D, -1},   {0x2E, -1},   {0x1E, -1},   {0x1F, -1},   {0x20, -1},
                                 {0x10, -1},   {0x11, -1},   {0x01, -1},   {0x39, -1}};
  for (int bit = 0; bit < 14; ++bit) {
    g_input.pad_key_map[0][bit][0] = defaults[bit][0];
    g_input.pad_key_map[0][bit][1] = defaults[bit][1];
  }
  g_input.key_map_initialised = 1;
}

plat::HResult CreateDeviceFor(const plat::Guid& guid, plat::DirectInputDevice** out) {
  plat::DirectInput* di = g_input.direct_input;
  if (g_input.direct_input8 == 0) return di->CreateDeviceEx(guid, plat::kIID_IDirectInputDevice7A, out, nullptr);
  return di->CreateDevice(guid, out, nullptr);
}

void ReleaseDevice(plat::DirectInputDevice** device) {
  if (*device == nullptr) return;
  (*device)->Unacquire();
  (*device)->Release();
  *device = nullptr;
}

// Ends the start on a device failure it cannot survive: what was made is
// released first.
[[noreturn]] void FatalDeviceFailure(const char* message) {
  ReleasePadDevices();
  ReleaseDevice(&g_input.keyboard);
  if (g_input.keyboard_event != nullptr) {
    plat::CloseEvent(g_input.keyboard_event);
    g_input.keyboard_event = nullptr;
  }
  ReleaseDevice(&g_input.mouse);
  if (OnDirectInput()) g_input.direct_input->Release();
  g_input.direct_input = nullptr;
  g_start_in_progress = 0;
  FatalErrorExit(message);
}

// Makes the version 7 object, else the version 8 one. False when neither can
// be had (the log says why).
bool CreateDirectInputObject() {
  void* module = nullptr;
  WriteLogLine("DirectInput関係初期化処理\n");
  LogIndentIn();
  WriteLogLine("DirectInput7 の取得中... ");
  void* object = nullptr;
  plat::HResult r = plat::CoCreateInstance(plat::kCLSID_DirectInput, nullptr, plat::kCLSCTX_INPROC_SERVER,
                                           plat::kIID_IDirectInput7A, &object);
  if (r >= 0) {
    WriteLogLine("成功\n");
    LogIndentIn();
    WriteLogLine("引き続き初期化処理... ");
    auto* di = static_cast<plat::DirectInput*>(object);
    if (di->Initialize(module, 0x0700) >= 0) {
      WriteLogLine("初期化成功\n");
      g_input.direct_input = di;
      g_input.direct_input8 = 0;
      return true;
    }
    WriteLogLine("初期化に失敗。");
    di->Release();
    LogIndentOut();
  } else {
    WriteLogLine("取得に失敗。\n");
    LogF("エラーコード 0x%x\n", static_cast<unsigned>(r));
  }

  WriteLogLine("DirectInput8 の取得を試みます...");
  object = nullptr;
  r = plat::CoCreateInstance(plat::kCLSID_DirectInput8, nullptr, plat::kCLSCTX_INPROC_SERVER,
                             plat::kIID_IDirectInput8A, &object);
  if (r >= 0) {
    WriteLogLine("成功\n");
    LogIndentIn();
    WriteLogLine("引き続き初期化処理... ");
    auto* di = static_cast<plat::DirectInput*>(object);
    if (di->Initialize(module, 0x0800) >= 0) {
      WriteLogLine("初期化成功\n");
      g_input.direct_input = di;
      g_input.direct_input8 = 1;
      return true;
    }
    WriteLogLine("初期化に失敗。");
    di->Release();
    LogIndentOut();
  } else {
    WriteLogLine("取得に失敗。");
  }
  WriteLogLine("DirectInput を使用しません。\n");
  LogIndentOut();
  g_input.direct_input = nullptr;
  g_input.no_direct_input = 1;
  return false;
}

void StartMouseAndKeyboard() {
  plat::Window* window = GetMainWindow();
  const uint32_t shared = plat::kDISCL_NONEXCLUSIVE | plat::kDISCL_BACKGROUND;

  WriteLogLine("マウスデバイスの初期化... ");
  if (CreateDeviceFor(plat::kGUID_SysMouse, &g_input.mouse) < 0) FatalDeviceFailure("マウスデバイスの取得に失敗しました");
  if (g_input.mouse->SetDataFormat(&plat::kDfDIMouse2) < 0) {
    FatalDeviceFailure("マウスデバイスのデータ形式の設定に失敗しました");
  }
  if (g_input.mouse->SetCooperativeLevel(window, shared) < 0) {
    FatalDeviceFailure("マウスデバイスの協調レベルの設定に失敗しました");
  }
  WriteLogLine("初期化成功\n");
  g_input.keyboard_refresh_time = plat::TimeGetTime();

  WriteLogLine("キーボードデバイスの初期化... ");
  if (CreateDeviceFor(plat::kGUID_SysKeyboard, &g_input.keyboard) < 0) {
    FatalDeviceFailure("キーボードデバイスの取得に失敗しました");
  }
  if (g_input.keyboard->SetDataFormat(&plat::kDfDIKeyboard) < 0) {
    FatalDeviceFailure("キーボードデバイスのデータ形式の設定に失敗しました");
  }
  if (g_input.keyboard->SetCooperativeLevel(window, shared) < 0) {
    FatalDeviceFailure("キーボードデバイスの協調レベルの設定に失敗しました");
  }
  plat::DiPropDword buffer = {{sizeof(plat::DiPropDword), sizeof(plat::DiPropHeader), 0, plat::kDIPH_DEVICE}, 100};
  if (g_input.keyboard->SetProperty(plat::kDIPROP_BUFFERSIZE, &buffer.header) < 0) {
    WriteLogLine("キーボードのプロパティ設定に失敗しました\n");
  }
}

}  // namespace

InputDeviceState& GetInputDeviceState() { return g_input; }

int32_t ConvertJoystickAxis(uint32_t raw) {
  int32_t v = static_cast<int32_t>(raw & 0xFFFF);
  if (v < 0x4000) return ((v - 0x4000) * 1000) / 16384;
  if (v <= 0xC000) return 0;
  return ((v - 0xC000) * 1000) / 16384;
}

int InputStart() {
  if (g_input.direct_input != nullptr || g_start_in_progress != 0) return 0;
  g_start_in_progress = 1;

  // Settings and the key map outlive a restart of input.
  int no_direct_input = g_input.no_direct_input, no_vibration = g_input.no_vibration;
  int direct_input_keyboard = g_input.direct_input_keyboard, map_initialised = g_input.key_map_initialised;
  static int32_t saved_map[kPadMax][kPadBits][kPadKeysPerBit];
  std::memcpy(saved_map, g_input.pad_key_map, sizeof saved_map);
  std::memset(&g_input, 0, sizeof g_input);
  g_input.no_direct_input = no_direct_input;
  g_input.no_vibration = no_vibration;
  g_input.direct_input_keyboard = direct_input_keyboard;
  g_input.key_map_initialised = map_initialised;
  std::memcpy(g_input.pad_key_map, saved_map, sizeof saved_map);

  bool direct = g_input.no_direct_input != 1 && CreateDirectInputObject();
  if (direct) {
    LogIndentOut();
    plat::Window* window = GetMainWindow();
    if (window != nullptr) {
      plat::SetWindowPos(window, plat::ZOrder::kTop, 0, 0, 0, 0, plat::kSwpNoMove | plat::kSwpNoSize);
    }
    PumpWindowMessages();
    PadSystemStart();
    StartMouseAndKeyboard();
    g_input.keyboard_event = plat::CreateEvent(true, false);
    plat::HResult r = g_input.keyboard_event != nullptr
                          ? g_input.keyboard->SetEventNotification(g_input.keyboard_event)
                          : plat::kE_FAIL;
    if (r != plat::kDI_OK && r != plat::kDI_POLLEDDEVICE) {
      g_start_in_progress = 0;
      return WriteLogLine("キーボードイベントのセットアップが失敗しました\n");
    }
    if (g_input.keyboard->Acquire() < 0 && g_input.keyboard->Acquire() < 0) {
      FatalDeviceFailure("キーボードデバイスの取得に失敗しました");
    }
    WriteLogLine("初期化成功\n");
    g_input.keyboard_refresh_time = plat::TimeGetTime();
    LogIndentOut();
    WriteLogLine("DirectInput 関連の初期化は正常に終了しました\n");
  } else {
    LogIndentIn();
    int found = 0;
    for (int id = 0; id < kPadMax; ++id) {
      plat::JoyCaps caps;
      std::memset(&caps, 0, sizeof caps);
      if (plat::JoyGetDevCapsA(static_cast<uintptr_t>(id), &caps, sizeof caps) != plat::kJOYERR_NOERROR) break;
      ++found;
      if ((caps.caps & plat::kJOYCAPS_HASZ) && (caps.caps & plat::kJOYCAPS_HASR)) g_input.pads[id].has_z_and_r = 1;
    }
    LogF("パッドの数は %d 個です\n", found);
    LogIndentOut();
    g_input.direct_input = kInputOnWinmm;
    WriteLogLine("入力関連の初期化をしました\n");
    // Every id is polled: a joystick plugged in later answers.
    g_input.pad_count = kPadMax;
  }

  if (g_input.key_map_initialised == 0) DefaultKeyMap();
  g_start_in_progress = 0;
  return 0;
}

namespace {

int OnInputDeviceFound(const plat::DiDeviceInstance* instance, void* /*context*/) {
  WriteLogLine("入力装置を見つけました\n");
  if (g_input.pad_count >= kPadMax) return plat::kDIENUM_STOP;
  PadRecord& pad = g_input.pads[g_input.pad_count];
  plat::DirectInputDevice* device = nullptr;
  if (CreateDeviceFor(instance->guid_instance, &device) < 0) {
    WriteLogLine("入力装置の取得に失敗しました\n");
    return plat::kDIENUM_CONTINUE;
  }
  plat::DiDeviceInstance info;
  std::memset(&info, 0, sizeof info);
  info.size = sizeof info;
  device->GetDeviceInfo(&info);
  std::memcpy(pad.instance_name, info.instance_name, sizeof pad.instance_name);
  std::memcpy(pad.product_name, info.product_name, sizeof pad.product_name);
  pad.instance_name[sizeof pad.instance_name - 1] = '\0';
  pad.product_name[sizeof pad.product_name - 1] = '\0';
  LogIndentIn();
  WriteLogLineFmt("デバイスの登録名:%s", pad.instance_name);
  WriteLogLineFmt("デバイスの製品登録名:%s", pad.product_name);
  LogIndentOut();

  if (device->SetDataFormat(&plat::kDfDIJoystick) < 0) {
    device->Release();
    WriteLogLine("ジョイパッドデバイスではありませんでした、又は設定に失敗しました\n");
    return plat::kDIENUM_CONTINUE;
  }
  if (device->SetCooperativeLevel(GetMainWindow(), plat::kDISCL_EXCLUSIVE | plat::kDISCL_FOREGROUND) < 0) {
    WriteLogLine("ジョイパッドデバイスの協調レベルの設定に失敗しました\n");
  }
  const uint32_t axes[6] = {plat::kDIJOFS_X,  plat::kDIJOFS_Y,  plat::kDIJOFS_Z,
                            plat::kDIJOFS_RX, plat::kDIJOFS_RY, plat::kDIJOFS_RZ};
  for (int i = 0; i < 6; ++i) {
    plat::DiPropRange range = {{sizeof(plat::DiPropRange), sizeof(plat::DiPropHeader), axes[i], plat::kDIPH_BYOFFSET},
                               -1000, 1000};
    if (device->SetProperty(plat::kDIPROP_RANGE, &range.header) < 0 && i < 2) {
      device->Release();
      WriteLogLine(i == 0 ? "ジョイパッドデバイスのＸ軸関係の設定に失敗しました\n"
                          : "ジョイパッドデバイスのＹ軸関係の設定に失敗しました\n");
      return plat::kDIENUM_CONTINUE;
    }
  }
  for (int i = 0; i < 6; ++i) {
    plat::DiPropDword dead = {{sizeof(plat::DiPropDword), sizeof(plat::DiPropHeader), axes[i], plat::kDIPH_BYOFFSET},
                              3500};
    if (device->SetProperty(plat::kDIPROP_DEADZONE, &dead.header) < 0 && i < 2) {
      device->Release();
      WriteLogLine(i == 0 ? "ジョイパッドデバイスのＸ軸の無効ゾーンの設定に失敗しました\n"
                          : "ジョイパッドデバイスのＹ軸の無効ゾーンの設定に失敗しました\n");
      return plat::kDIENUM_CONTINUE;
    }
  }

  if (g_input.no_vibration != 1) {
    uint32_t effect_axes[2] = {plat::kDIJOFS_X, plat::kDIJOFS_Y};
    int32_t directions[2] = {0, 0};
    plat::DiEnvelope envelope = {sizeof(plat::DiEnvelope), 0, 500000, 0, 1000000};
    plat::DiPeriodic periodic = {10000, 0, 0, 1500000};
    plat::DiEffect sine = {sizeof(plat::DiEffect), plat::kDIEFF_OBJECTOFFSETS | plat::kDIEFF_POLAR,
                           plat::kINFINITE, 0, 10000, plat::kDIEB_NOTRIGGER, 0, 2, effect_axes, directions,
                           &envelope, sizeof periodic, &periodic, 0};
    if (device->CreateEffect(plat::kGUID_Sine, &sine, &pad.sine, nullptr) < 0) pad.sine = nullptr;
    plat::DiConstantForce force = {10000};
    plat::DiEffect constant = {sizeof(plat::DiEffect), plat::kDIEFF_OBJECTOFFSETS | plat::kDIEFF_CARTESIAN,
                               plat::kINFINITE, 0, 10000, plat::kDIEB_NOTRIGGER, 0, 2, effect_axes, directions,
                               nullptr, sizeof force, &force, 0};
    if (device->CreateEffect(plat::kGUID_ConstantForce, &constant, &pad.constant_force, nullptr) < 0) {
      pad.constant_force = nullptr;
      WriteLogLine("周期的エフェクトの作成に失敗しました。\n");
    }
  }
  pad.vibration_on = 0;
  pad.vibration_power = 10000;
  pad.constant_playing = 0;
  pad.sine_playing = 0;

  plat::Event* event = plat::CreateEvent(true, false);
  plat::HResult r = event != nullptr ? device->SetEventNotification(event) : plat::kE_FAIL;
  if (r != plat::kDI_OK && r != plat::kDI_POLLEDDEVICE) {
    WriteLogLine("ジョイパッドイベントのセットアップが失敗しました\n");
    // The pad is not added: what was made for it goes again.
    ReleaseEffect(&pad.sine);
    ReleaseEffect(&pad.constant_force);
    device->Release();
    if (event != nullptr) plat::CloseEvent(event);
    std::memset(&pad, 0, sizeof pad);
    return plat::kDIENUM_CONTINUE;
  }
  device->Acquire();
  pad.device = device;
  pad.state_event = event;
  std::memset(&pad.state, 0, sizeof pad.state);
  ++g_input.pad_count;
  WriteLogLine("ジョイパッドの追加は正常に終了しました\n");
  return g_input.pad_count >= kPadMax ? plat::kDIENUM_STOP : plat::kDIENUM_CONTINUE;
}

}  // namespace

int PadSystemStart() {
  if (!OnDirectInput()) return -1;
  ReleasePadDevices();
  WriteLogLine("ジョイパッドの初期化... \n");
  g_input.pad_count = 0;
  g_input.direct_input->EnumDevices(plat::kDIDEVTYPE_JOYSTICK, &OnInputDeviceFound, nullptr,
                                    plat::kDIEDFL_ATTACHEDONLY);
  WriteLogLine("ジョイパッドの初期化は正常に終了しました\n");
  return 0;
}

int ReleasePadDevices() {
  if (!OnDirectInput()) return -1;
  for (PadRecord& pad : g_input.pads) {
    if (pad.device != nullptr) {
      pad.device->Unacquire();
      pad.device->SetEventNotification(nullptr);
    }
    ReleaseEffect(&pad.constant_force);
    ReleaseEffect(&pad.sine);
    if (pad.device != nullptr) pad.device->Release();
    if (pad.state_event != nullptr) plat::CloseEvent(pad.state_event);
    std::memset(&pad, 0, sizeof pad);
  }
  g_input.pad_count = 0;
  return 0;
}

int InputEnd() {
  if (g_input.direct_input == nullptr) return 0;
  if (g_input.direct_input == kInputOnWinmm) {
    WriteLogLine("入力関連の終了処理... 完了\n");
    g_input.direct_input = nullptr;
    return 0;
  }
  WriteLogLine("DirectInput 関連の終了処理... 完了\n");
  ReleasePadDevices();
  if (g_input.keyboard != nullptr) {
    g_input.keyboard->Unacquire();
    g_input.keyboard->SetEventNotification(nullptr);
    g_input.keyboard->Release();
    g_input.keyboard = nullptr;
  }
  if (g_input.keyboard_event != nullptr) {
    plat::CloseEvent(g_input.keyboard_event);
    g_input.keyboard_event = nullptr;
  }
  ReleaseDevice(&g_input.mouse);
  g_input.direct_input->Release();
  g_input.direct_input = nullptr;
  return 0;
}

// ---- Refreshing -------------------------------------------------------------------------------

namespace {

// Clears the re-entry mark on every way out.
class KeyboardRefreshGuard {
 public:
  KeyboardRefreshGuard() { g_keyboard_refreshing = 1; }
  ~KeyboardRefreshGuard() { g_keyboard_refreshing = 0; }
};

// Reads pass the window messages on first, except when the pump itself is
// refreshing: a pump inside the pump would wait there while the application
// is inactive, before the pump that found it inactive could return.
int PumpFromInput() {
  const WindowSystemState& s = WindowState();
  if (s.inside_pump != 0) return s.window_destroyed == 1 ? -1 : 0;
  return PumpWindowMessages();
}

int RefreshFromSystemKeyboard() {
  if (plat::GetCurrentThreadId() != WindowState().main_thread_id) return 0;
  uint32_t now = plat::TimeGetTime();
  if (now == g_input.keyboard_refresh_time) return 0;
  g_input.keyboard_refresh_time = now;
  if (PumpFromInput() == -1) return 0;
  uint8_t keys[256];
  plat::GetKeyboardState(keys);
  std::memset(g_input.key_state, 0, sizeof g_input.key_state);
  for (const VkToKeyCode* row = kVirtualKeyToKeyCodeTable; row->virtual_key != 0xFFFF; ++row) {
    g_input.key_state[row->key_code] = keys[row->virtual_key];
  }
  ++g_keyboard_refresh_count;
  return 1;
}

int RefreshFromKeyboardDevice() {
  uint32_t now = plat::TimeGetTime();
  if (now == g_input.keyboard_refresh_time && plat::WaitEvent(g_input.keyboard_event, 0) != 0) return 0;
  if (PumpFromInput() == -1 || !OnDirectInput() || g_input.keyboard == nullptr) return 0;
  if (g_input.keyboard->GetDeviceState(256, g_input.key_state) < 0) {
    g_input.keyboard->Acquire();
    if (g_input.keyboard->GetDeviceState(256, g_input.key_state) < 0) return 0;
  }
  g_input.keyboard_refresh_time = now;
  if (plat::WaitEvent(g_input.keyboard_event, 0) == 0) plat::ResetEvent(g_input.keyboard_event);
  // The device does not tell the right Shift key apart; the system does.
  uint8_t keys[256];
  plat::GetKeyboardState(keys);
  g_input.key_state[kDikRShift] = keys[plat::kVkRShift];
  ++g_keyboard_refresh_count;
  return 1;
}

}  // namespace

int GetKeyboardRefreshCount() { return g_keyboard_refresh_count; }

int RefreshKeyboardState() {
  if (g_keyboard_refreshing != 0) return 0;
  KeyboardRefreshGuard guard;
  bool system_path = g_input.no_direct_input == 1 || g_input.keyboard == nullptr ||
                     (g_input.direct_input_keyboard == 0 &&
                      static_cast<uint32_t>(GetSystemFindings().os_version_code) > kWindowsXpVersionCode);
  return system_path ? RefreshFromSystemKeyboard() : RefreshFromKeyboardDevice();
}

int RefreshPadState(int index) {
  if (index < 0 || index >= kPadMax) return -1;
  PadRecord& pad = g_input.pads[index];
  uint32_t now = plat::TimeGetTime();
  if (OnDirectInput()) {
    if (pad.device == nullptr) return 0;
    if (now == pad.refresh_time && plat::WaitEvent(pad.state_event, 0) != 0) return 0;
    pad.refresh_time = now;
    pad.device->Poll();
    plat::DiJoyState state;
    bool read = pad.device->GetDeviceState(sizeof state, &state) >= 0;
    if (!read) {
      if (PumpFromInput() == -1 || !OnDirectInput()) return -1;
      if (pad.device->Acquire() >= 0) {
        if (PumpFromInput() == -1 || !OnDirectInput()) return -1;
        read = pad.device->GetDeviceState(sizeof state, &state) >= 0;
      }
    }
    if (read) pad.state = state;
    if (plat::WaitEvent(pad.state_event, 0) == 0) plat::ResetEvent(pad.state_event);
    return 0;
  }
  if (g_input.direct_input != kInputOnWinmm) return 0;
  if (now == pad.refresh_time) return 0;
  pad.refresh_time = now;
  plat::JoyInfoEx info;
  std::memset(&info, 0, sizeof info);
  info.size = sizeof info;
  info.flags = plat::kJOY_RETURNALL;
  if (plat::JoyGetPosEx(static_cast<uint32_t>(index), &info) != plat::kJOYERR_NOERROR) {
    std::memset(&pad.state, 0, sizeof pad.state);
    return 0;
  }
  pad.state.x = ConvertJoystickAxis(info.x);
  pad.state.y = ConvertJoystickAxis(info.y);
  pad.state.z = pad.has_z_and_r ? ConvertJoystickAxis(info.z) : 0;
  pad.state.rz = pad.has_z_and_r ? ConvertJoystickAxis(info.r) : 0;
  for (int n = 0; n < 24; ++n) pad.state.buttons[n] = (info.buttons >> n) & 1 ? 0x80 : 0;
  return 0;
}

// ---- Queries ---------------------------------------------------------------------------------------

int IsKeyPressed(int key_code) {
  WaitWhileInactive();
  if (g_input.direct_input == nullptr) {
    if (IsQuitRequested() != 0) return 0;
    // A failed start must not read as every key down.
    InputStart();
    return 0;
  }
  if (key_code < 0 || key_code > 255) return 0;
  RefreshKeyboardState();
  return (g_input.key_state[key_code] & 0x80) != 0 ? 1 : 0;
}

int GetPadState(int input_type) {
  WaitWhileInactive();
  if (g_input.direct_input == nullptr && IsQuitRequested() == 0) {
    InputStart();
    return 0;
  }
  int p = (input_type & ~kInputKeyboardFlag) - 1;
  bool keyboard = (input_type & kInputKeyboardFlag) != 0;
  int result = 0;
  int count = g_input.pad_count;
  if ((p < -1 || p >= count) && count != 0 && !keyboard) return 0;
  // The key map has a row for pads 1 to 16 only.
  if (keyboard && (p < -1 || p >= kPadMax)) return 0;
  if (p >= 0 && count != 0 && p < count) {
    RefreshPadState(p);
    const plat::DiJoyState& s = g_input.pads[p].state;
    if (s.x < 0) result |= 0x2;
    if (s.x > 0) result |= 0x4;
    if (s.y < 0) result |= 0x8;
    if (s.y > 0) result |= 0x1;
    for (int n = 0; n < 24; ++n) {
      if (s.buttons[n] & 0x80) result |= 1 << (n + 4);
    }
  }
  if (keyboard) {
    RefreshKeyboardState();
    const auto& row = g_input.pad_key_map[p == -1 ? 0 : p];
    for (int bit = 0; bit < kPadBits; ++bit) {
      for (int32_t key : row[bit]) {
        if (key >= 0 && key <= 255 && (g_input.key_state[key] & 0x80) != 0) {
          result |= static_cast<int>(1u << bit);
          break;
        }
      }
    }
  }
  return result;
}

int MapPadToKeys(int input_type, int bits, int key1, int key2, int key3, int key4) {
  int p = (input_type & ~kInputKeyboardFlag) - 1;
  if (p < 0 || p >= kPadMax) return 0;
  for (int bit = 0; bit < kPadBits; ++bit) {
    if ((static_cast<uint32_t>(bits) >> bit) & 1) {
      g_input.pad_key_map[p][bit][0] = key1;
      g_input.pad_key_map[p][bit][1] = key2;
      g_input.pad_key_map[p][bit][2] = key3;
      g_input.pad_key_map[p][bit][3] = key4;
    }
  }
  return 0;
}

// ---- Vibration ----------------------------------------------------------------------------------

int ApplyPadVibration() {
  if (!OnDirectInput()) return 0;
  if (IsAppActive() == 1) {
    for (PadRecord& pad : g_input.pads) {
      if (pad.device == nullptr) continue;
      if (pad.constant_force != nullptr && pad.vibration_on != pad.constant_playing) {
        if (pad.vibration_on == 1) {
          pad.constant_force->Start(1, 0);
        } else {
          pad.constant_force->Stop();
        }
        pad.constant_playing = pad.vibration_on;
      }
      int sine_wanted = pad.vibration_on == 1 && pad.vibration_power > 5000 ? 1 : 0;
      if (pad.sine != nullptr && sine_wanted != pad.sine_playing) {
        if (sine_wanted == 1) {
          pad.sine->Start(1, 0);
        } else {
          pad.sine->Stop();
        }
        pad.sine_playing = sine_wanted;
      }
    }
  } else {
    for (PadRecord& pad : g_input.pads) {
      if (pad.device == nullptr) continue;
      if (pad.constant_playing && pad.constant_force != nullptr) pad.constant_force->Stop();
      if (pad.sine_playing && pad.sine != nullptr) pad.sine->Stop();
      pad.constant_playing = 0;
      pad.sine_playing = 0;
    }
  }
  return 0;
}

namespace {

int StopVibration(int input_type) {
  int p = (input_type & ~kInputKeyboardFlag) - 1;
  if (p < 0 || p >= g_input.pad_count || p >= kPadMax) return 0;
  PadRecord& pad = g_input.pads[p];
  if (pad.device == nullptr || pad.constant_force == nullptr || pad.vibration_on == 0) return 0;
  pad.vibration_on = 0;
  pad.vibration_power = 10000;
  ApplyPadVibration();
  return 0;
}

}  // namespace

int StopPadVibration(int input_type) {
  WaitWhileInactive();
  if (g_input.direct_input == nullptr && IsQuitRequested() == 0) {
    InputStart();
    return 0;
  }
  return StopVibration(input_type);
}

int RefreshInput() {
  if (!OnDirectInput()) return 0;
  int clock = GetMilliClock();
  for (int i = 0; i < kPadMax; ++i) {
    PadRecord& pad = g_input.pads[i];
    if (pad.vibration_on == 0 || pad.device == nullptr || pad.vibration_time_limit < 0) continue;
    if (clock == pad.vibration_clock) continue;
    // The clock wrapped: count from here.
    if (clock < pad.vibration_clock) pad.vibration_clock = clock;
    pad.vibration_elapsed += clock - pad.vibration_clock;
    pad.vibration_clock = clock;
    // The timer runs inside the pump, which must not wait here.
    if (pad.vibration_elapsed >= pad.vibration_time_limit) StopVibration(i + 1);
  }
  ApplyPadVibration();
  return 0;
}

int ReacquireInputDevices() {
  if (!OnDirectInput()) return 0;
  uint32_t level = IsAppActive() == 1 ? plat::kDISCL_EXCLUSIVE | plat::kDISCL_FOREGROUND
                                      : plat::kDISCL_NONEXCLUSIVE | plat::kDISCL_BACKGROUND;
  for (PadRecord& pad : g_input.pads) {
    if (pad.device == nullptr) continue;
    pad.device->Unacquire();
    pad.device->SetCooperativeLevel(GetMainWindow(), level);
    pad.device->Acquire();
  }
  if (g_input.keyboard != nullptr) {
    g_input.keyboard->Unacquire();
    g_input.keyboard->Acquire();
  }
  return 0;
}

int SetKeyboardHookFlag(int which, int value) {
  if (which < 0 || which > 1) return -1;
  g_hook_flags[which] = value;
  return 0;
}

int GetKeyboardHookFlag(int which) { return which < 0 || which > 1 ? 0 : g_hook_flags[which]; }
