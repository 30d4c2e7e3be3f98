// platform/input/dinput.cpp - the device-input object with its keyboard, mouse and
// joystick devices and their effects, and the multimedia joystick functions.
#include "platform/input/dinput.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/window/backend.h"
#include "platform/input/joypad_internal.h"
#include "platform/window/window_internal.h"

namespace plat {

const Guid kCLSID_DirectInput = {0x25E609E0, 0xB259, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const Guid kCLSID_DirectInput8 = {0x25E609E4, 0xB259, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const Guid kIID_IDirectInput7A = {0x9A4CB684, 0x236D, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};
const Guid kIID_IDirectInput8A = {0xBF798030, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};
const Guid kIID_IDirectInputDevice7A = {0x57D7C6BC, 0x2356, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};
const Guid kIID_IDirectInputDevice8A = {0x54D41080, 0xDC15, 0x4833, {0xA4, 0x1B, 0x74, 0x8F, 0x73, 0xA3, 0x81, 0x79}};
const Guid kGUID_SysMouse = {0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const Guid kGUID_SysKeyboard = {0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const Guid kGUID_ConstantForce = {0x13541C20, 0x8E33, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};
const Guid kGUID_Sine = {0x13541C23, 0x8E33, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};

const DiDataFormat kDfDIKeyboard = {1, 256};
const DiDataFormat kDfDIMouse2 = {2, sizeof(DiMouseState2)};
const DiDataFormat kDfDIJoystick = {3, sizeof(DiJoyState)};

void SignalKeyboard(DiDeviceRecord* k);

namespace {

constexpr int kKeyboard = 1, kMouse = 2, kJoystick = 3;

// Joystick instance GUIDs carry the pad number in the first word's low byte.
constexpr uint32_t kJoystickGuidBase = 0x4A4F5900;
const Guid kJoystickProduct = {0x4A4F5000, 0x0000, 0x0000, {'R', 'R', 'P', 'A', 'D', 0, 0, 0}};

Guid JoystickGuid(int pad) {
  Guid g = kJoystickProduct;
  g.data1 = kJoystickGuidBase + static_cast<uint32_t>(pad);
  return g;
}

int PadOfGuid(const Guid& guid) {
  Guid base = JoystickGuid(0);
  base.data1 = guid.data1;
  if (!(base == guid) || guid.data1 < kJoystickGuidBase || guid.data1 >= kJoystickGuidBase + 256) return -1;
  return static_cast<int>(guid.data1 - kJoystickGuidBase);
}

std::mutex g_faults_lock;
DinputFaults g_faults;

DinputFaults Faults() {
  std::lock_guard<std::mutex> guard(g_faults_lock);
  return g_faults;
}

std::atomic<int> g_live{0};

// Keyboard devices that want their event set on a key change.
std::mutex g_keyboards_lock;
std::vector<DiDeviceRecord*> g_keyboards;

// Virtual key -> key code (the keyboard's scan code, extended keys with bit 7).
struct VkCode {
  uint8_t vk, code;
};
constexpr VkCode kVkCodes[] = {
    {0x1B, 0x01}, {'1', 0x02}, {'2', 0x03}, {'3', 0x04}, {'4', 0x05}, {'5', 0x06}, {'6', 0x07},
    {'7', 0x08}, {'8', 0x09}, {'9', 0x0A}, {'0', 0x0B}, {0xBD, 0x0C}, {0xDE, 0x0D}, {0x08, 0x0E},
    {0x09, 0x0F}, {'Q', 0x10}, {'W', 0x11}, {'E', 0x12}, {'R', 0x13}, {'T', 0x14}, {'Y', 0x15},
    {'U', 0x16}, {'I', 0x17}, {'O', 0x18}, {'P', 0x19}, {0xC0, 0x1A}, {0xDB, 0x1B}, {0x0D, 0x1C},
    {0xA2, 0x1D}, {'A', 0x1E}, {'S', 0x1F}, {'D', 0x20}, {'F', 0x21}, {'G', 0x22}, {'H', 0x23},
    {'J', 0x24}, {'K', 0x25}, {'L', 0x26}, {0xBB, 0x27}, {0xBA, 0x28}, {0xA0, 0x2A}, {0xDD, 0x2B},
    {'Z', 0x2C}, {'X', 0x2D}, {'C', 0x2E}, {'V', 0x2F}, {'B', 0x30}, {'N', 0x31}, {'M', 0x32},
    {0xBC, 0x33}, {0xBE, 0x34}, {0xBF, 0x35}, {0xA1, 0x36}, {0x6A, 0x37}, {0xA4, 0x38},
    {0x20, 0x39}, {0x14, 0x3A}, {0x70, 0x3B}, {0x71, 0x3C}, {0x72, 0x3D}, {0x73, 0x3E},
    {0x74, 0x3F}, {0x75, 0x40}, {0x76, 0x41}, {0x77, 0x42}, {0x78, 0x43}, {0x79, 0x44},
    {0x90, 0x45}, {0x91, 0x46}, {0x67, 0x47}, {0x68, 0x48}, {0x69, 0x49}, {0x6D, 0x4A},
    {0x64, 0x4B}, {0x65, 0x4C}, {0x66, 0x4D}, {0x6B, 0x4E}, {0x61, 0x4F}, {0x62, 0x50},
    {0x63, 0x51}, {0x60, 0x52}, {0x6E, 0x53}, {0x7A, 0x57}, {0x7B, 0x58}, {0xE2, 0x73},
    {0xDC, 0x7D}, {0xA3, 0x9D}, {0x6F, 0xB5}, {0xA5, 0xB8}, {0x13, 0xC5}, {0x24, 0xC7},
    {0x26, 0xC8}, {0x21, 0xC9}, {0x25, 0xCB}, {0x27, 0xCD}, {0x23, 0xCF}, {0x28, 0xD0},
    {0x22, 0xD1}, {0x2D, 0xD2}, {0x2E, 0xD3}, {0x5B, 0xDB}, {0x5C, 0xDC}};

void OnKeyChange() {
  std::lock_guard<std::mutex> guard(g_keyboards_lock);
  for (DiDeviceRecord* k : g_keyboards) {
    // Devices leave the list under the same lock, so the record is alive.
    SignalKeyboard(k);
  }
}

// An axis value in -32768..32767 put through the dead zone (0..10000 of half
// the physical range) and onto the range: inside the dead zone the centre,
// beyond it the rest of the travel stretched over the whole half range.
int32_t ScaleAxis(int32_t raw, int32_t min, int32_t max, uint32_t dead_zone) {
  int64_t lo = min, hi = max;
  int64_t centre = (lo + hi) / 2;
  int64_t magnitude = raw < 0 ? -static_cast<int64_t>(raw) : raw;
  if (magnitude > 32767) magnitude = 32767;
  int64_t dead = 32767 * static_cast<int64_t>(std::min<uint32_t>(dead_zone, 10000)) / 10000;
  if (magnitude <= dead) return static_cast<int32_t>(centre);
  int64_t span = raw < 0 ? centre - lo : hi - centre;
  int64_t moved = (magnitude - dead) * span / (32767 - dead);
  return static_cast<int32_t>(raw < 0 ? centre - moved : centre + moved);
}

}  // namespace

struct DiDeviceRecord {
  uint32_t refs = 1;
  int kind = 0;
  int pad = -1;
  int version = 7;
  const DiDataFormat* format = nullptr;
  uint32_t cooperative = kDISCL_NONEXCLUSIVE | kDISCL_BACKGROUND;
  bool acquired = false;
  Event* event = nullptr;
  int32_t range_min[6] = {0, 0, 0, 0, 0, 0};
  int32_t range_max[6] = {65535, 65535, 65535, 65535, 65535, 65535};
  uint32_t dead_zone[6] = {0, 0, 0, 0, 0, 0};
  uint32_t buffer_size = 0;
  uint32_t serial = 0;
  std::vector<DirectInputEffect*> effects;
  DirectInputDevice* device = nullptr;
};

void SignalKeyboard(DiDeviceRecord* k) {
  if (k->acquired && k->event != nullptr) SetEvent(k->event);
}

namespace {

void Unregister(DiDeviceRecord* s) {
  std::lock_guard<std::mutex> guard(g_keyboards_lock);
  g_keyboards.erase(std::remove(g_keyboards.begin(), g_keyboards.end(), s), g_keyboards.end());
}

void Register(DiDeviceRecord* s) {
  std::lock_guard<std::mutex> guard(g_keyboards_lock);
  if (std::find(g_keyboards.begin(), g_keyboards.end(), s) == g_keyboards.end()) g_keyboards.push_back(s);
  detail::SetKeyChangeObserver(&OnKeyChange);
}

}  // namespace

namespace detail {

int JoypadRefresh() { return IsHeadless() ? joypad_headless::Refresh() : joypad_sdl::Refresh(); }
bool JoypadRead(int pad, JoypadSnapshot* out) {
  return IsHeadless() ? joypad_headless::Read(pad, out) : joypad_sdl::Read(pad, out);
}
void JoypadRumble(int pad, uint16_t strong, uint16_t weak) {
  if (IsHeadless()) {
    joypad_headless::Rumble(pad, strong, weak);
  } else {
    joypad_sdl::Rumble(pad, strong, weak);
  }
}

}  // namespace detail

// ---- Effects -----------------------------------------------------------------------------

uint32_t DirectInputEffect::AddRef() { return ++refs_; }

uint32_t DirectInputEffect::Release() {
  if (--refs_ != 0) return refs_;
  DirectInputDevice* device = device_;
  if (device != nullptr) {
    DiDeviceRecord* s = device->state();
    playing_ = false;
    s->effects.erase(std::remove(s->effects.begin(), s->effects.end(), this), s->effects.end());
    device->ReapplyRumble();
    device->Release();
  }
  --g_live;
  delete this;
  return 0;
}

HResult DirectInputEffect::Start(uint32_t iterations, uint32_t flags) {
  (void)flags;
  if (iterations == 0) return kDIERR_INVALIDPARAM;
  if (device_ == nullptr) return kDIERR_NOTINITIALIZED;
  if (!device_->state()->acquired) return kDIERR_NOTACQUIRED;
  playing_ = true;
  device_->ReapplyRumble();
  return kDI_OK;
}

HResult DirectInputEffect::Stop() {
  if (device_ == nullptr) return kDIERR_NOTINITIALIZED;
  playing_ = false;
  device_->ReapplyRumble();
  return kDI_OK;
}

// ---- Devices -------------------------------------------------------------------------------

uint32_t DirectInputDevice::AddRef() { return ++state_->refs; }

uint32_t DirectInputDevice::Release() {
  if (--state_->refs != 0) return state_->refs;
  Unregister(state_);
  if (state_->kind == kJoystick && state_->pad >= 0) detail::JoypadRumble(state_->pad, 0, 0);
  delete state_;
  --g_live;
  delete this;
  return 0;
}

void DirectInputDevice::ReapplyRumble() {
  DiDeviceRecord* s = state_;
  if (s->kind != kJoystick) return;
  uint16_t strong = 0, weak = 0;
  if (s->acquired) {
    for (DirectInputEffect* e : s->effects) {
      if (!e->playing_) continue;
      uint16_t& motor = e->periodic_ ? weak : strong;
      motor = std::max(motor, e->strength_);
    }
  }
  detail::JoypadRumble(s->pad, strong, weak);
}

HResult DirectInputDevice::SetDataFormat(const DiDataFormat* format) {
  if (format == nullptr || format->kind != state_->kind) return kDIERR_INVALIDPARAM;
  if (state_->acquired) return static_cast<HResult>(0x8007000Au);  // acquired: no change
  state_->format = format;
  return kDI_OK;
}

HResult DirectInputDevice::SetCooperativeLevel(Window* window, uint32_t flags) {
  bool exclusive = (flags & kDISCL_EXCLUSIVE) != 0, nonexclusive = (flags & kDISCL_NONEXCLUSIVE) != 0;
  bool foreground = (flags & kDISCL_FOREGROUND) != 0, background = (flags & kDISCL_BACKGROUND) != 0;
  if (exclusive == nonexclusive || foreground == background) return kDIERR_INVALIDPARAM;
  // A foreground or exclusive device belongs to a window; a background
  // non-exclusive one needs none.
  if ((foreground || exclusive) && !IsWindow(window)) return static_cast<HResult>(0x80070006u);
  state_->cooperative = flags;
  return kDI_OK;
}

HResult DirectInputDevice::SetProperty(uintptr_t property, const DiPropHeader* header) {
  if (header == nullptr || header->header_size != sizeof(DiPropHeader)) return kDIERR_INVALIDPARAM;
  DiDeviceRecord* s = state_;
  auto axis_of = [&](int* axis) {
    if (header->how != kDIPH_BYOFFSET || header->object % 4 != 0 || header->object > kDIJOFS_RZ) return false;
    *axis = static_cast<int>(header->object / 4);
    return true;
  };
  switch (property) {
    case kDIPROP_BUFFERSIZE: {
      if (header->size != sizeof(DiPropDword) || header->how != kDIPH_DEVICE) return kDIERR_INVALIDPARAM;
      s->buffer_size = reinterpret_cast<const DiPropDword*>(header)->data;
      return kDI_OK;
    }
    case kDIPROP_RANGE: {
      int axis;
      if (s->kind != kJoystick || header->size != sizeof(DiPropRange) || !axis_of(&axis)) return kDIERR_INVALIDPARAM;
      const auto* r = reinterpret_cast<const DiPropRange*>(header);
      if (r->min >= r->max) return kDIERR_INVALIDPARAM;
      detail::JoypadSnapshot snap;
      if (!detail::JoypadRead(s->pad, &snap) || !snap.has_axis[axis]) return kDIERR_UNSUPPORTED;
      s->range_min[axis] = r->min;
      s->range_max[axis] = r->max;
      return kDI_OK;
    }
    case kDIPROP_DEADZONE: {
      int axis;
      if (s->kind != kJoystick || header->size != sizeof(DiPropDword) || !axis_of(&axis)) return kDIERR_INVALIDPARAM;
      uint32_t value = reinterpret_cast<const DiPropDword*>(header)->data;
      if (value > 10000) return kDIERR_INVALIDPARAM;
      detail::JoypadSnapshot snap;
      if (!detail::JoypadRead(s->pad, &snap) || !snap.has_axis[axis]) return kDIERR_UNSUPPORTED;
      s->dead_zone[axis] = value;
      return kDI_OK;
    }
    default:
      return kDIERR_UNSUPPORTED;
  }
}

HResult DirectInputDevice::SetEventNotification(Event* event) {
  if (state_->acquired) return static_cast<HResult>(0x8007000Au);
  if (state_->kind == kKeyboard && event != nullptr && Faults().fail_keyboard_event) return kE_FAIL;
  state_->event = event;
  if (state_->kind == kKeyboard) {
    if (event != nullptr) {
      Register(state_);
    } else {
      Unregister(state_);
    }
  }
  return kDI_OK;
}

HResult DirectInputDevice::Acquire() {
  if (state_->format == nullptr) return kDIERR_INVALIDPARAM;
  if (state_->kind == kJoystick) {
    detail::JoypadSnapshot snap;
    if (!detail::JoypadRead(state_->pad, &snap)) return kDIERR_INPUTLOST;
  }
  if (state_->acquired) return kS_FALSE;
  std::lock_guard<std::mutex> guard(g_keyboards_lock);
  state_->acquired = true;
  return kDI_OK;
}

HResult DirectInputDevice::Unacquire() {
  if (!state_->acquired) return kS_FALSE;
  {
    std::lock_guard<std::mutex> guard(g_keyboards_lock);
    state_->acquired = false;
  }
  // A device that is let go stops its effects.
  for (DirectInputEffect* e : state_->effects) e->playing_ = false;
  ReapplyRumble();
  return kDI_OK;
}

HResult DirectInputDevice::Poll() {
  DiDeviceRecord* s = state_;
  if (!s->acquired) return kDIERR_NOTACQUIRED;
  if (s->kind != kJoystick) return kS_FALSE;
  detail::JoypadSnapshot snap;
  if (!detail::JoypadRead(s->pad, &snap)) return kDIERR_INPUTLOST;
  if (snap.serial != s->serial && s->event != nullptr) SetEvent(s->event);
  return kDI_OK;
}

HResult DirectInputDevice::GetDeviceState(uint32_t size, void* data) {
  DiDeviceRecord* s = state_;
  if (data == nullptr || s->format == nullptr || size != s->format->size) return kDIERR_INVALIDPARAM;
  if (!s->acquired) return kDIERR_NOTACQUIRED;
  if (s->kind == kKeyboard) {
    if (Faults().fail_keyboard_read) return kDIERR_INPUTLOST;
    uint8_t vk[256];
    GetKeyboardState(vk);
    auto* out = static_cast<uint8_t*>(data);
    std::memset(out, 0, 256);
    for (const VkCode& k : kVkCodes) out[k.code] |= vk[k.vk] & 0x80;
    return kDI_OK;
  }
  if (s->kind == kMouse) {
    DiMouseState2 m = {};
    uint8_t vk[256];
    GetKeyboardState(vk);
    m.buttons[0] = vk[kVkLButton] & 0x80;
    m.buttons[1] = vk[kVkRButton] & 0x80;
    m.buttons[2] = vk[kVkMButton] & 0x80;
    std::memcpy(data, &m, sizeof m);
    return kDI_OK;
  }
  detail::JoypadSnapshot snap;
  if (!detail::JoypadRead(s->pad, &snap)) return kDIERR_INPUTLOST;
  DiJoyState j;
  std::memset(&j, 0, sizeof j);
  int32_t* axes[6] = {&j.x, &j.y, &j.z, &j.rx, &j.ry, &j.rz};
  for (int i = 0; i < 6; ++i) {
    *axes[i] = snap.has_axis[i] ? ScaleAxis(snap.axes[i], s->range_min[i], s->range_max[i], s->dead_zone[i]) : 0;
  }
  for (uint32_t& pov : j.pov) pov = 0xFFFFFFFFu;
  if (snap.has_hat && snap.hat >= 0) j.pov[0] = static_cast<uint32_t>(snap.hat);
  for (int i = 0; i < 32; ++i) j.buttons[i] = snap.buttons[i] ? 0x80 : 0;
  s->serial = snap.serial;
  std::memcpy(data, &j, sizeof j);
  return kDI_OK;
}

HResult DirectInputDevice::GetDeviceInfo(DiDeviceInstance* out) {
  if (out == nullptr || out->size != sizeof(DiDeviceInstance)) return kDIERR_INVALIDPARAM;
  std::memset(reinterpret_cast<char*>(out) + sizeof(uint32_t), 0, sizeof *out - sizeof(uint32_t));
  const char* name = "";
  std::string pad_name, pad_product;
  if (state_->kind == kKeyboard) {
    out->guid_instance = kGUID_SysKeyboard;
    name = "Keyboard";
    pad_name = pad_product = name;
  } else if (state_->kind == kMouse) {
    out->guid_instance = kGUID_SysMouse;
    pad_name = pad_product = "Mouse";
  } else {
    detail::JoypadSnapshot snap;
    if (!detail::JoypadRead(state_->pad, &snap)) return kDIERR_INPUTLOST;
    out->guid_instance = JoystickGuid(state_->pad);
    out->guid_product = kJoystickProduct;
    out->device_type = kDIDEVTYPE_JOYSTICK;
    pad_name = snap.name;
    pad_product = snap.product;
  }
  std::strncpy(out->instance_name, pad_name.c_str(), sizeof out->instance_name - 1);
  std::strncpy(out->product_name, pad_product.c_str(), sizeof out->product_name - 1);
  return kDI_OK;
}

HResult DirectInputDevice::CreateEffect(const Guid& effect, const DiEffect* params, DirectInputEffect** out,
                                        void* outer) {
  if (out == nullptr) return kE_POINTER;
  *out = nullptr;
  if (outer != nullptr) return kCLASS_E_NOAGGREGATION;
  if (params == nullptr || params->size != sizeof(DiEffect)) return kDIERR_INVALIDPARAM;
  if (state_->kind != kJoystick) return kDIERR_UNSUPPORTED;
  detail::JoypadSnapshot snap;
  if (!detail::JoypadRead(state_->pad, &snap)) return kDIERR_INPUTLOST;
  if (!snap.rumble) return kDIERR_UNSUPPORTED;
  bool periodic = effect == kGUID_Sine;
  if (!periodic && !(effect == kGUID_ConstantForce)) return kDIERR_UNSUPPORTED;
  int64_t magnitude = 0;
  if (periodic) {
    if (params->type_specific_size != sizeof(DiPeriodic) || params->type_specific == nullptr) return kDIERR_INVALIDPARAM;
    magnitude = static_cast<const DiPeriodic*>(params->type_specific)->magnitude;
  } else {
    if (params->type_specific_size != sizeof(DiConstantForce) || params->type_specific == nullptr)
      return kDIERR_INVALIDPARAM;
    magnitude = static_cast<const DiConstantForce*>(params->type_specific)->magnitude;
  }
  if (magnitude < 0) magnitude = -magnitude;
  int64_t level = std::min<int64_t>(magnitude, 10000) * std::min<uint32_t>(params->gain, 10000) / 10000;
  auto* e = new DirectInputEffect();
  ++g_live;
  e->device_ = this;
  e->periodic_ = periodic;
  e->strength_ = static_cast<uint16_t>(level * 65535 / 10000);
  AddRef();
  state_->effects.push_back(e);
  *out = e;
  return kDI_OK;
}

// ---- The device-input object ------------------------------------------------------------------

uint32_t DirectInput::AddRef() { return ++refs_; }

uint32_t DirectInput::Release() {
  if (--refs_ != 0) return refs_;
  --g_live;
  delete this;
  return 0;
}

HResult DirectInput::Initialize(void* module, uint32_t version) {
  (void)module;
  if (Faults().fail_initialize) return kDIERR_NOTINITIALIZED;
  if (version_ == 7 && (version < 0x0300 || version > 0x0700)) return kDIERR_OLDDIRECTINPUTVERSION;
  if (version_ == 8 && version != 0x0800) return kDIERR_OLDDIRECTINPUTVERSION;
  initialized_ = true;
  return kDI_OK;
}

HResult DirectInput::MakeDevice(const Guid& guid, DirectInputDevice** out) {
  if (!initialized_) return kDIERR_NOTINITIALIZED;
  int kind = 0, pad = -1;
  if (guid == kGUID_SysKeyboard) {
    kind = kKeyboard;
  } else if (guid == kGUID_SysMouse) {
    kind = kMouse;
  } else {
    pad = PadOfGuid(guid);
    detail::JoypadSnapshot snap;
    if (pad < 0 || !detail::JoypadRead(pad, &snap)) return kDIERR_DEVICENOTREG;
    kind = kJoystick;
  }
  auto* s = new DiDeviceRecord();
  s->kind = kind;
  s->pad = pad;
  s->version = version_;
  auto* d = new DirectInputDevice(s);
  s->device = d;
  ++g_live;
  *out = d;
  return kDI_OK;
}

HResult DirectInput::CreateDeviceEx(const Guid& guid, const Guid& iid, DirectInputDevice** out, void* outer) {
  if (out == nullptr) return kE_POINTER;
  *out = nullptr;
  if (outer != nullptr) return kCLASS_E_NOAGGREGATION;
  if (version_ != 7 || !(iid == kIID_IDirectInputDevice7A)) return kE_NOINTERFACE;
  return MakeDevice(guid, out);
}

HResult DirectInput::CreateDevice(const Guid& guid, DirectInputDevice** out, void* outer) {
  if (out == nullptr) return kE_POINTER;
  *out = nullptr;
  if (outer != nullptr) return kCLASS_E_NOAGGREGATION;
  return MakeDevice(guid, out);
}

HResult DirectInput::EnumDevices(uint32_t device_type, DiEnumDevicesCallback callback, void* context,
                                 uint32_t flags) {
  (void)flags;
  if (callback == nullptr) return kDIERR_INVALIDPARAM;
  if (!initialized_) return kDIERR_NOTINITIALIZED;
  if (device_type != kDIDEVTYPE_JOYSTICK) return kDI_OK;
  int count = detail::JoypadRefresh();
  for (int i = 0; i < count; ++i) {
    detail::JoypadSnapshot snap;
    if (!detail::JoypadRead(i, &snap)) continue;
    DiDeviceInstance instance;
    std::memset(&instance, 0, sizeof instance);
    instance.size = sizeof instance;
    instance.guid_instance = JoystickGuid(i);
    instance.guid_product = kJoystickProduct;
    instance.device_type = kDIDEVTYPE_JOYSTICK;
    std::strncpy(instance.instance_name, snap.name.c_str(), sizeof instance.instance_name - 1);
    std::strncpy(instance.product_name, snap.product.c_str(), sizeof instance.product_name - 1);
    if (callback(&instance, context) == kDIENUM_STOP) break;
  }
  return kDI_OK;
}

namespace {

HResult CreateInstance(int version, void* outer, const Guid& iid, void** out) {
  if (out == nullptr) return kE_POINTER;
  *out = nullptr;
  DinputFaults faults = Faults();
  if (version == 7 && faults.fail_create_v7) return kREGDB_E_CLASSNOTREG;
  if (version == 8 && faults.fail_create_v8) return kREGDB_E_CLASSNOTREG;
  if (outer != nullptr) return kCLASS_E_NOAGGREGATION;
  if (!(iid == (version == 7 ? kIID_IDirectInput7A : kIID_IDirectInput8A))) return kE_NOINTERFACE;
  return kS_OK;
}

}  // namespace

HResult CreateDirectInputInstance7(void* outer, const Guid& iid, void** out) {
  HResult r = CreateInstance(7, outer, iid, out);
  if (r < 0) return r;
  ++g_live;
  *out = new DirectInput(7);
  return kS_OK;
}

HResult CreateDirectInputInstance8(void* outer, const Guid& iid, void** out) {
  HResult r = CreateInstance(8, outer, iid, out);
  if (r < 0) return r;
  ++g_live;
  *out = new DirectInput(8);
  return kS_OK;
}

// ---- Multimedia joystick functions ------------------------------------------------------------

namespace {

// winmm's R axis: the rudder where the pad has one, else the second stick's
// vertical axis.
int RAxisOf(const detail::JoypadSnapshot& s) { return s.has_axis[5] ? 5 : (s.has_axis[4] ? 4 : -1); }

uint32_t Raw16(int32_t axis) { return static_cast<uint32_t>(axis + 32768); }

}  // namespace

uint32_t JoyGetDevCapsA(uintptr_t id, JoyCaps* caps, uint32_t size) {
  if (caps == nullptr || size != sizeof(JoyCaps)) return kJOYERR_PARMS;
  int count = detail::JoypadRefresh();
  if (id >= 16) return kJOYERR_PARMS;
  detail::JoypadSnapshot s;
  if (static_cast<int>(id) >= count || !detail::JoypadRead(static_cast<int>(id), &s)) return kJOYERR_PARMS;
  std::memset(caps, 0, sizeof *caps);
  std::strncpy(caps->name, s.product.c_str(), sizeof caps->name - 1);
  caps->x_max = caps->y_max = caps->z_max = caps->r_max = caps->u_max = caps->v_max = 65535;
  caps->button_count = static_cast<uint32_t>(s.button_count);
  caps->max_buttons = 32;
  caps->period_min = 10;
  caps->period_max = 1000;
  caps->max_axes = 6;
  uint32_t axes = 2;
  if (s.has_axis[2]) {
    caps->caps |= kJOYCAPS_HASZ;
    ++axes;
  }
  if (RAxisOf(s) >= 0) {
    caps->caps |= kJOYCAPS_HASR;
    ++axes;
  }
  if (s.has_axis[3]) {
    caps->caps |= kJOYCAPS_HASU;
    ++axes;
  }
  if (s.has_hat) caps->caps |= kJOYCAPS_HASPOV;
  caps->axis_count = axes;
  return kJOYERR_NOERROR;
}

uint32_t JoyGetPosEx(uint32_t id, JoyInfoEx* info) {
  if (info == nullptr || info->size != sizeof(JoyInfoEx) || id >= 16) return kJOYERR_PARMS;
  detail::JoypadSnapshot s;
  if (!detail::JoypadRead(static_cast<int>(id), &s)) return kJOYERR_UNPLUGGED;
  uint32_t flags = info->flags;
  std::memset(info, 0, sizeof *info);
  info->size = sizeof *info;
  info->flags = flags;
  info->x = Raw16(s.axes[0]);
  info->y = Raw16(s.axes[1]);
  info->z = s.has_axis[2] ? Raw16(s.axes[2]) : 0x7FFF;
  int r = RAxisOf(s);
  info->r = r >= 0 ? Raw16(s.axes[r]) : 0x7FFF;
  info->u = s.has_axis[3] ? Raw16(s.axes[3]) : 0x7FFF;
  info->v = 0x7FFF;
  for (int i = 0; i < 32; ++i) {
    if (s.buttons[i]) {
      info->buttons |= 1u << i;
      ++info->button_number;
    }
  }
  info->pov = s.has_hat && s.hat >= 0 ? static_cast<uint32_t>(s.hat) : 0xFFFF;
  return kJOYERR_NOERROR;
}

// ---- Test hooks ------------------------------------------------------------------------------------

void SetDinputFaults(const DinputFaults& faults) {
  std::lock_guard<std::mutex> guard(g_faults_lock);
  g_faults = faults;
}

void ClearDinputFaults() { SetDinputFaults(DinputFaults{}); }

int LiveDinputObjectCount() { return g_live.load(); }

}  // namespace plat
