// The device-input stand-in and the joystick functions on the headless back
// end: creation by class, devices and their refusals, axis range and dead
// zone, change events, effects and rumble.
#include "platform/input/dinput.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/window/backend.h"
#include "platform/kernel/com.h"
#include "platform/window/window.h"

namespace {

class DinputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetBackend(plat::Backend::kHeadless);
    plat::HeadlessReset(plat::VirtualDesktop{});
    plat::HeadlessRemoveJoypads();
    plat::ClearDinputFaults();
    live_ = plat::LiveDinputObjectCount();
  }
  void TearDown() override {
    if (di_ != nullptr) di_->Release();
    EXPECT_EQ(plat::LiveDinputObjectCount(), live_);
    plat::HeadlessRemoveJoypads();
    plat::ClearDinputFaults();
  }
  plat::DirectInput* Make(int version) {
    void* out = nullptr;
    const plat::Guid& clsid = version == 7 ? plat::kCLSID_DirectInput : plat::kCLSID_DirectInput8;
    const plat::Guid& iid = version == 7 ? plat::kIID_IDirectInput7A : plat::kIID_IDirectInput8A;
    EXPECT_EQ(plat::CoCreateInstance(clsid, nullptr, plat::kCLSCTX_INPROC_SERVER, iid, &out), plat::kS_OK);
    di_ = static_cast<plat::DirectInput*>(out);
    EXPECT_EQ(di_->Initialize(nullptr, version == 7 ? 0x0700 : 0x0800), plat::kDI_OK);
    return di_;
  }
  plat::DirectInputDevice* Pad(int index) {
    plat::DirectInputDevice* device = nullptr;
    struct Found {
      plat::Guid guids[20];
      int count = 0;
    } found;
    di_->EnumDevices(
        plat::kDIDEVTYPE_JOYSTICK,
        [](const plat::DiDeviceInstance* instance, void* context) {
          auto* f = static_cast<Found*>(context);
          f->guids[f->count++] = instance->guid_instance;
          return plat::kDIENUM_CONTINUE;
        },
        &found, plat::kDIEDFL_ATTACHEDONLY);
    EXPECT_GT(found.count, index);
    EXPECT_EQ(di_->CreateDevice(found.guids[index], &device, nullptr), plat::kDI_OK);
    return device;
  }
  plat::DirectInput* di_ = nullptr;
  int live_ = 0;
};

TEST_F(DinputTest, CreationFollowsClassInterfaceAndFaults) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(plat::CoCreateInstance(plat::kCLSID_DirectInput, nullptr, plat::kCLSCTX_INPROC_SERVER,
                                   plat::kIID_IDirectInput8A, &out),
            plat::kE_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  plat::DinputFaults faults;
  faults.fail_create_v7 = true;
  plat::SetDinputFaults(faults);
  EXPECT_LT(plat::CoCreateInstance(plat::kCLSID_DirectInput, nullptr, plat::kCLSCTX_INPROC_SERVER,
                                   plat::kIID_IDirectInput7A, &out),
            0);
  plat::ClearDinputFaults();
  plat::DirectInput* di = Make(8);
  // A version 8 object knows no version 7 devices and no older version.
  plat::DirectInputDevice* device = nullptr;
  EXPECT_EQ(di->CreateDeviceEx(plat::kGUID_SysKeyboard, plat::kIID_IDirectInputDevice7A, &device, nullptr),
            plat::kE_NOINTERFACE);
  EXPECT_EQ(di->Initialize(nullptr, 0x0700), plat::kDIERR_OLDDIRECTINPUTVERSION);
  EXPECT_EQ(di->CreateDevice(plat::kGUID_SysKeyboard, &device, nullptr), plat::kDI_OK);
  device->Release();
}

TEST_F(DinputTest, KeyboardReadsScanCodesAndSignalsChanges) {
  Make(7);
  plat::DirectInputDevice* k = nullptr;
  ASSERT_EQ(di_->CreateDeviceEx(plat::kGUID_SysKeyboard, plat::kIID_IDirectInputDevice7A, &k, nullptr), plat::kDI_OK);
  uint8_t state[256];
  EXPECT_EQ(k->GetDeviceState(256, state), plat::kDIERR_INVALIDPARAM);  // no data format yet
  EXPECT_EQ(k->SetDataFormat(&plat::kDfDIJoystick), plat::kDIERR_INVALIDPARAM);
  ASSERT_EQ(k->SetDataFormat(&plat::kDfDIKeyboard), plat::kDI_OK);
  EXPECT_EQ(k->SetCooperativeLevel(nullptr, plat::kDISCL_EXCLUSIVE | plat::kDISCL_FOREGROUND), static_cast<plat::HResult>(0x80070006u));
  EXPECT_EQ(k->SetCooperativeLevel(nullptr, plat::kDISCL_NONEXCLUSIVE | plat::kDISCL_BACKGROUND), plat::kDI_OK);
  EXPECT_EQ(k->SetCooperativeLevel(nullptr, plat::kDISCL_NONEXCLUSIVE | plat::kDISCL_EXCLUSIVE), plat::kDIERR_INVALIDPARAM);
  plat::Event* event = plat::CreateEvent(true, false);
  ASSERT_EQ(k->SetEventNotification(event), plat::kDI_OK);
  EXPECT_EQ(k->GetDeviceState(256, state), plat::kDIERR_NOTACQUIRED);
  ASSERT_EQ(k->Acquire(), plat::kDI_OK);
  plat::HeadlessSetKey('Z', true);
  plat::HeadlessSetKey(plat::kVkUp, true);
  EXPECT_EQ(plat::WaitEvent(event, 0), 0);
  ASSERT_EQ(k->GetDeviceState(256, state), plat::kDI_OK);
  EXPECT_EQ(state[0x2C], 0x80);
  EXPECT_EQ(state[0xC8], 0x80);
  EXPECT_EQ(state[0x2D], 0);
  plat::ResetEvent(event);
  plat::HeadlessSetKey('Z', true);  // no change: no signal
  EXPECT_EQ(plat::WaitEvent(event, 0), 1);
  k->Unacquire();
  k->Release();
  plat::HeadlessSetKey('Z', false);  // a released device is not signalled
  plat::CloseEvent(event);
}

TEST_F(DinputTest, JoystickRangeDeadZoneHatAndButtons) {
  int pad = plat::HeadlessAddJoypad("P", 4, 10, false);
  Make(7);
  plat::DirectInputDevice* d = Pad(0);
  plat::DiDeviceInstance info;
  info.size = sizeof info;
  ASSERT_EQ(d->GetDeviceInfo(&info), plat::kDI_OK);
  EXPECT_STREQ(info.instance_name, "P");
  ASSERT_EQ(d->SetDataFormat(&plat::kDfDIJoystick), plat::kDI_OK);
  plat::DiPropRange range = {{sizeof range, sizeof(plat::DiPropHeader), plat::kDIJOFS_X, plat::kDIPH_BYOFFSET},
                             -1000, 1000};
  EXPECT_EQ(d->SetProperty(plat::kDIPROP_RANGE, &range.header), plat::kDI_OK);
  range.header.object = plat::kDIJOFS_RZ;  // the pad has four axes
  EXPECT_EQ(d->SetProperty(plat::kDIPROP_RANGE, &range.header), plat::kDIERR_UNSUPPORTED);
  range.header.object = 3;  // not an axis offset
  EXPECT_EQ(d->SetProperty(plat::kDIPROP_RANGE, &range.header), plat::kDIERR_INVALIDPARAM);
  plat::DiPropDword dead = {{sizeof dead, sizeof(plat::DiPropHeader), plat::kDIJOFS_X, plat::kDIPH_BYOFFSET}, 3500};
  EXPECT_EQ(d->SetProperty(plat::kDIPROP_DEADZONE, &dead.header), plat::kDI_OK);
  dead.data = 10001;
  EXPECT_EQ(d->SetProperty(plat::kDIPROP_DEADZONE, &dead.header), plat::kDIERR_INVALIDPARAM);
  ASSERT_EQ(d->Acquire(), plat::kDI_OK);
  plat::DiJoyState s;
  struct Case {
    int raw, x;
  } cases[] = {{0, 0}, {11468, 0}, {-11468, 0}, {32767, 1000}, {-32768, -1000}, {22118, 500}, {-22118, -500}};
  for (const Case& c : cases) {
    plat::HeadlessSetJoypadAxis(pad, 0, c.raw);
    ASSERT_EQ(d->GetDeviceState(sizeof s, &s), plat::kDI_OK);
    EXPECT_NEAR(s.x, c.x, 1) << c.raw;
  }
  // Y keeps the default range 0..65535 without a dead zone.
  plat::HeadlessSetJoypadAxis(pad, 1, 0);
  plat::HeadlessSetJoypadHat(pad, 9000);
  plat::HeadlessSetJoypadButton(pad, 3, true);
  ASSERT_EQ(d->GetDeviceState(sizeof s, &s), plat::kDI_OK);
  EXPECT_EQ(s.y, 32767);
  EXPECT_EQ(s.pov[0], 9000u);
  EXPECT_EQ(s.pov[1], 0xFFFFFFFFu);
  EXPECT_EQ(s.buttons[3], 0x80);
  EXPECT_EQ(s.buttons[2], 0);
  // A removed pad is lost.
  plat::HeadlessRemoveJoypads();
  EXPECT_EQ(d->GetDeviceState(sizeof s, &s), plat::kDIERR_INPUTLOST);
  d->Release();
}

TEST_F(DinputTest, PollSignalsAChangedPad) {
  int pad = plat::HeadlessAddJoypad("P", 2, 4, false);
  Make(8);
  plat::DirectInputDevice* d = Pad(0);
  d->SetDataFormat(&plat::kDfDIJoystick);
  plat::Event* event = plat::CreateEvent(true, false);
  d->SetEventNotification(event);
  d->Acquire();
  plat::DiJoyState s;
  d->GetDeviceState(sizeof s, &s);
  EXPECT_EQ(d->Poll(), plat::kDI_OK);
  EXPECT_EQ(plat::WaitEvent(event, 0), 1);
  plat::HeadlessSetJoypadButton(pad, 0, true);
  EXPECT_EQ(d->Poll(), plat::kDI_OK);
  EXPECT_EQ(plat::WaitEvent(event, 0), 0);
  d->Release();
  plat::CloseEvent(event);
}

TEST_F(DinputTest, EffectsDriveTheMotorsWhileAcquired) {
  int pad = plat::HeadlessAddJoypad("R", 2, 4, true);
  int quiet = plat::HeadlessAddJoypad("Q", 2, 4, false);
  (void)quiet;
  Make(7);
  plat::DirectInputDevice* d = Pad(0);
  d->SetDataFormat(&plat::kDfDIJoystick);
  plat::DiConstantForce force = {5000};
  plat::DiEffect params = {};
  params.size = sizeof params;
  params.gain = 10000;
  params.type_specific_size = sizeof force;
  params.type_specific = &force;
  plat::DirectInputEffect* effect = nullptr;
  ASSERT_EQ(d->CreateEffect(plat::kGUID_ConstantForce, &params, &effect, nullptr), plat::kDI_OK);
  EXPECT_EQ(effect->Start(1, 0), plat::kDIERR_NOTACQUIRED);
  d->Acquire();
  EXPECT_EQ(effect->Start(1, 0), plat::kDI_OK);
  int strong = 0, weak = 0;
  plat::HeadlessGetJoypadRumble(pad, &strong, &weak);
  EXPECT_EQ(strong, 32767);
  EXPECT_EQ(weak, 0);
  d->Unacquire();  // letting go stops it
  plat::HeadlessGetJoypadRumble(pad, &strong, &weak);
  EXPECT_EQ(strong, 0);
  // The periodic effect needs its own parameters.
  plat::DirectInputEffect* sine = nullptr;
  EXPECT_EQ(d->CreateEffect(plat::kGUID_Sine, &params, &sine, nullptr), plat::kDIERR_INVALIDPARAM);
  effect->Release();
  d->Release();
  // A pad without motors has no effects.
  plat::DirectInputDevice* q = Pad(1);
  q->SetDataFormat(&plat::kDfDIJoystick);
  EXPECT_EQ(q->CreateEffect(plat::kGUID_ConstantForce, &params, &effect, nullptr), plat::kDIERR_UNSUPPORTED);
  EXPECT_EQ(effect, nullptr);
  q->Release();
}

TEST_F(DinputTest, JoystickFunctionsReportCapabilitiesAndRawPositions) {
  int pad = plat::HeadlessAddJoypad("Stick", 6, 5, false);
  plat::JoyCaps caps;
  EXPECT_EQ(plat::JoyGetDevCapsA(0, &caps, 100), plat::kJOYERR_PARMS);
  ASSERT_EQ(plat::JoyGetDevCapsA(0, &caps, sizeof caps), plat::kJOYERR_NOERROR);
  EXPECT_EQ(caps.caps & (plat::kJOYCAPS_HASZ | plat::kJOYCAPS_HASR), plat::kJOYCAPS_HASZ | plat::kJOYCAPS_HASR);
  EXPECT_EQ(caps.button_count, 5u);
  EXPECT_NE(plat::JoyGetDevCapsA(1, &caps, sizeof caps), plat::kJOYERR_NOERROR);
  EXPECT_NE(plat::JoyGetDevCapsA(16, &caps, sizeof caps), plat::kJOYERR_NOERROR);
  plat::HeadlessSetJoypadAxis(pad, 0, -32768);
  plat::HeadlessSetJoypadAxis(pad, 1, 32767);
  plat::HeadlessSetJoypadButton(pad, 0, true);
  plat::HeadlessSetJoypadButton(pad, 4, true);
  plat::JoyInfoEx info = {};
  info.size = sizeof info;
  info.flags = plat::kJOY_RETURNALL;
  ASSERT_EQ(plat::JoyGetPosEx(0, &info), plat::kJOYERR_NOERROR);
  EXPECT_EQ(info.x, 0u);
  EXPECT_EQ(info.y, 0xFFFFu);
  EXPECT_EQ(info.z, 0x8000u);
  EXPECT_EQ(info.buttons, 0x11u);
  EXPECT_EQ(info.button_number, 2u);
  EXPECT_EQ(info.pov, 0xFFFFu);
  EXPECT_NE(plat::JoyGetPosEx(1, &info), plat::kJOYERR_NOERROR);
  info.size = 40;
  EXPECT_EQ(plat::JoyGetPosEx(0, &info), plat::kJOYERR_PARMS);
}

}  // namespace
