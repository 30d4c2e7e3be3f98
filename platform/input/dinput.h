// platform/input/dinput.h - input devices in the manner the library's input code was
// written for: a device-input object (version 7 or 8, made through
// CoCreateInstance) that enumerates joysticks and makes the system keyboard,
// the system mouse and joystick devices, each with a data format, a
// cooperative level, properties (buffer size, axis range, dead zone), a
// change event, acquisition and force-feedback effects; and the multimedia
// joystick functions (capabilities and position by joystick id) that serve
// as the fallback when no device-input object can be had.
//
// The keyboard device reads the window layer's key state (platform/window/window.h).
// Joysticks come from the back end: SDL2 game controllers and joysticks
// (this file's owner is the one place that starts SDL's joystick and
// game-controller subsystems; effects become SDL rumble), or headless pads
// whose axes, hat and buttons tests set.
#pragma once

#include <cstdint>

#include "platform/kernel/com.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"

namespace plat {

// ---- Identifiers ------------------------------------------------------------

extern const Guid kCLSID_DirectInput;
extern const Guid kCLSID_DirectInput8;
extern const Guid kIID_IDirectInput7A;
extern const Guid kIID_IDirectInput8A;
extern const Guid kIID_IDirectInputDevice7A;
extern const Guid kIID_IDirectInputDevice8A;
extern const Guid kGUID_SysMouse;
extern const Guid kGUID_SysKeyboard;
extern const Guid kGUID_ConstantForce;
extern const Guid kGUID_Sine;

// ---- Constants ----------------------------------------------------------------

constexpr HResult kDI_OK = 0;
constexpr HResult kDI_POLLEDDEVICE = 2;
constexpr HResult kDIERR_NOTACQUIRED = static_cast<HResult>(0x8007000Cu);
constexpr HResult kDIERR_INPUTLOST = static_cast<HResult>(0x8007001Eu);
constexpr HResult kDIERR_NOTINITIALIZED = static_cast<HResult>(0x80070015u);
constexpr HResult kDIERR_OLDDIRECTINPUTVERSION = static_cast<HResult>(0x8007047Eu);
constexpr HResult kDIERR_DEVICENOTREG = static_cast<HResult>(0x80040154u);
constexpr HResult kDIERR_UNSUPPORTED = static_cast<HResult>(0x80004001u);
constexpr HResult kDIERR_INVALIDPARAM = kE_INVALIDARG;

constexpr uint32_t kDISCL_EXCLUSIVE = 0x1;
constexpr uint32_t kDISCL_NONEXCLUSIVE = 0x2;
constexpr uint32_t kDISCL_FOREGROUND = 0x4;
constexpr uint32_t kDISCL_BACKGROUND = 0x8;

constexpr uint32_t kDIDEVTYPE_JOYSTICK = 4;  // the joystick class of EnumDevices
constexpr uint32_t kDIEDFL_ATTACHEDONLY = 0x1;
constexpr int kDIENUM_STOP = 0;
constexpr int kDIENUM_CONTINUE = 1;

constexpr uint32_t kDIPH_DEVICE = 0;
constexpr uint32_t kDIPH_BYOFFSET = 1;
// Property identifiers (small integers standing for the property GUIDs).
constexpr uintptr_t kDIPROP_BUFFERSIZE = 1;
constexpr uintptr_t kDIPROP_RANGE = 4;
constexpr uintptr_t kDIPROP_DEADZONE = 5;

constexpr uint32_t kDIEFF_OBJECTOFFSETS = 0x2;
constexpr uint32_t kDIEFF_CARTESIAN = 0x10;
constexpr uint32_t kDIEFF_POLAR = 0x20;
constexpr uint32_t kINFINITE = 0xFFFFFFFFu;
constexpr uint32_t kDIEB_NOTRIGGER = 0xFFFFFFFFu;

// Offsets of the axes in DiJoyState (for kDIPH_BYOFFSET and effect axes).
constexpr uint32_t kDIJOFS_X = 0, kDIJOFS_Y = 4, kDIJOFS_Z = 8, kDIJOFS_RX = 12,
                   kDIJOFS_RY = 16, kDIJOFS_RZ = 20;

// ---- Records ------------------------------------------------------------------------

// The joystick state: six axes, two sliders, four hats (hundredths of a degree
// clockwise from north, 0xFFFFFFFF centred) and 32 buttons (bit 7 = down).
struct DiJoyState {
  int32_t x, y, z, rx, ry, rz;
  int32_t slider[2];
  uint32_t pov[4];
  uint8_t buttons[32];
};
static_assert(sizeof(DiJoyState) == 80, "joystick state is 80 bytes");

// The mouse state: relative motion since the last read and eight buttons.
struct DiMouseState2 {
  int32_t x, y, z;
  uint8_t buttons[8];
};
static_assert(sizeof(DiMouseState2) == 20, "mouse state is 20 bytes");

struct DiDeviceInstance {
  uint32_t size;  // 580
  Guid guid_instance;
  Guid guid_product;
  uint32_t device_type;
  char instance_name[260];
  char product_name[260];
  Guid guid_ff_driver;
  uint16_t usage_page;
  uint16_t usage;
};
static_assert(sizeof(DiDeviceInstance) == 580, "device instance is 580 bytes");

// Data formats: which state a device hands out.
struct DiDataFormat {
  int kind;       // 1 keyboard, 2 mouse, 3 joystick
  uint32_t size;  // bytes of the state
};
extern const DiDataFormat kDfDIKeyboard;
extern const DiDataFormat kDfDIMouse2;
extern const DiDataFormat kDfDIJoystick;

struct DiPropHeader {
  uint32_t size;         // of the whole property record
  uint32_t header_size;  // 16
  uint32_t object;       // 0 for the device, else an axis offset
  uint32_t how;          // kDIPH_DEVICE or kDIPH_BYOFFSET
};
struct DiPropDword {
  DiPropHeader header;
  uint32_t data;
};
struct DiPropRange {
  DiPropHeader header;
  int32_t min, max;
};

struct DiEnvelope {
  uint32_t size;
  uint32_t attack_level, attack_time, fade_level, fade_time;
};
struct DiPeriodic {
  uint32_t magnitude;
  int32_t offset;
  uint32_t phase, period;
};
struct DiConstantForce {
  int32_t magnitude;
};
struct DiEffect {
  uint32_t size;
  uint32_t flags;
  uint32_t duration;
  uint32_t sample_period;
  uint32_t gain;
  uint32_t trigger_button;
  uint32_t trigger_repeat_interval;
  uint32_t axis_count;
  uint32_t* axes;
  int32_t* directions;
  DiEnvelope* envelope;
  uint32_t type_specific_size;
  void* type_specific;
  uint32_t start_delay;
};

class DirectInputDevice;
struct DiDeviceRecord;  // internal

// A force-feedback effect of a joystick: a constant force (strong, slow
// motor) or a periodic one (weak, fast motor). Starting plays it until it is
// stopped.
class DirectInputEffect {
 public:
  uint32_t AddRef();
  uint32_t Release();
  HResult Start(uint32_t iterations, uint32_t flags);
  HResult Stop();

 private:
  friend class DirectInputDevice;
  DirectInputEffect() = default;
  uint32_t refs_ = 1;
  DirectInputDevice* device_ = nullptr;
  bool periodic_ = false;
  bool playing_ = false;
  uint16_t strength_ = 0;
};

class DirectInputDevice {
 public:
  uint32_t AddRef();
  uint32_t Release();
  HResult SetDataFormat(const DiDataFormat* format);
  HResult SetCooperativeLevel(Window* window, uint32_t flags);
  // property: kDIPROP_*; header points at a DiPropDword or DiPropRange.
  HResult SetProperty(uintptr_t property, const DiPropHeader* header);
  // The event is set whenever the device's state changes (null: none).
  HResult SetEventNotification(Event* event);
  HResult Acquire();
  HResult Unacquire();
  // Copies the state in the set data format; size must be the format's size.
  HResult GetDeviceState(uint32_t size, void* data);
  HResult Poll();
  HResult GetDeviceInfo(DiDeviceInstance* out);
  HResult CreateEffect(const Guid& effect, const DiEffect* params, DirectInputEffect** out,
                       void* outer);

  DiDeviceRecord* state() { return state_; }

 private:
  friend class DirectInput;
  friend class DirectInputEffect;
  explicit DirectInputDevice(DiDeviceRecord* state) : state_(state) {}
  ~DirectInputDevice() = default;
  // Gives the pad's motors the strongest started effect of each kind.
  void ReapplyRumble();
  DiDeviceRecord* state_;
};

using DiEnumDevicesCallback = int (*)(const DiDeviceInstance* instance, void* context);

// The device-input object, version 7 or 8 by the interface it was made for.
class DirectInput {
 public:
  uint32_t AddRef();
  uint32_t Release();
  // version: 0x0700 for the version 7 object, 0x0800 for version 8.
  HResult Initialize(void* module, uint32_t version);
  // Version 7: CreateDeviceEx with kIID_IDirectInputDevice7A; version 8:
  // CreateDevice. guid: kGUID_SysKeyboard, kGUID_SysMouse or the instance
  // GUID of an enumerated joystick.
  HResult CreateDeviceEx(const Guid& guid, const Guid& iid, DirectInputDevice** out, void* outer);
  HResult CreateDevice(const Guid& guid, DirectInputDevice** out, void* outer);
  // Calls back for each attached joystick (device type kDIDEVTYPE_JOYSTICK)
  // until the callback returns kDIENUM_STOP.
  HResult EnumDevices(uint32_t device_type, DiEnumDevicesCallback callback, void* context,
                      uint32_t flags);
  int version() const { return version_; }

 private:
  friend HResult CreateDirectInputInstance7(void*, const Guid&, void**);
  friend HResult CreateDirectInputInstance8(void*, const Guid&, void**);
  explicit DirectInput(int version) : version_(version) {}
  ~DirectInput() = default;
  HResult MakeDevice(const Guid& guid, DirectInputDevice** out);
  uint32_t refs_ = 1;
  int version_;  // 7 or 8
  bool initialized_ = false;
};

// The class factories that CoCreateInstance uses.
HResult CreateDirectInputInstance7(void* outer, const Guid& iid, void** out);
HResult CreateDirectInputInstance8(void* outer, const Guid& iid, void** out);

// ---- Multimedia joystick functions --------------------------------------------------

struct JoyCaps {
  uint16_t mid, pid;
  char name[32];
  uint32_t x_min, x_max, y_min, y_max, z_min, z_max;
  uint32_t button_count, period_min, period_max;
  uint32_t r_min, r_max, u_min, u_max, v_min, v_max;
  uint32_t caps, max_axes, axis_count, max_buttons;
  char reg_key[32];
  char oem_vxd[260];
};
static_assert(sizeof(JoyCaps) == 404, "joystick capabilities are 404 bytes");

struct JoyInfoEx {
  uint32_t size;  // 52
  uint32_t flags;
  uint32_t x, y, z, r, u, v;  // 0..65535, centre 0x7FFF
  uint32_t buttons;           // bit n = button n + 1
  uint32_t button_number;
  uint32_t pov;               // hundredths of a degree, 0xFFFF centred
  uint32_t reserved1, reserved2;
};
static_assert(sizeof(JoyInfoEx) == 52, "joystick position is 52 bytes");

constexpr uint32_t kJOYCAPS_HASZ = 0x1;
constexpr uint32_t kJOYCAPS_HASR = 0x2;
constexpr uint32_t kJOYCAPS_HASU = 0x4;
constexpr uint32_t kJOYCAPS_HASV = 0x8;
constexpr uint32_t kJOYCAPS_HASPOV = 0x10;
constexpr uint32_t kJOY_RETURNALL = 0xFF;
constexpr uint32_t kJOYERR_NOERROR = 0;
constexpr uint32_t kJOYERR_PARMS = 165;
constexpr uint32_t kJOYERR_UNPLUGGED = 167;

// 0, or an error for an id without a joystick (or a size that is not 404).
uint32_t JoyGetDevCapsA(uintptr_t id, JoyCaps* caps, uint32_t size);
// 0, or an error for an id without a joystick (or a record of another size).
uint32_t JoyGetPosEx(uint32_t id, JoyInfoEx* info);

// ---- Headless joypads and test hooks ----------------------------------------------------

// Axes in state order: 0 X, 1 Y, 2 Z, 3 Rx, 4 Ry, 5 Rz; values -32768..32767.
constexpr int kJoypadAxisCount = 6;
// Adds a pad to the headless back end (attached from now on); returns its
// index. axes: how many of the six axes it has (at least X and Y).
int HeadlessAddJoypad(const char* name, int axes, int buttons, bool rumble);
void HeadlessSetJoypadAxis(int pad, int axis, int value);
void HeadlessSetJoypadButton(int pad, int button, bool down);
// Hundredths of a degree clockwise from north; -1 centres the hat.
void HeadlessSetJoypadHat(int pad, int hundredths);
// The rumble the pad is given now (0..65535 each motor).
void HeadlessGetJoypadRumble(int pad, int* strong, int* weak);
void HeadlessRemoveJoypads();

// Fault injection for the callers' failure paths; each flag stays until
// cleared.
struct DinputFaults {
  bool fail_create_v7 = false;       // CoCreateInstance of the version 7 class
  bool fail_create_v8 = false;       // ... and of the version 8 class
  bool fail_initialize = false;      // Initialize of either version
  bool fail_keyboard_event = false;  // SetEventNotification of the keyboard
  bool fail_keyboard_read = false;   // GetDeviceState of the keyboard
};
void SetDinputFaults(const DinputFaults& faults);
void ClearDinputFaults();
// Objects and devices that live now (leak checks in tests).
int LiveDinputObjectCount();

}  // namespace plat
