// Keyboard and pads through the library's queries: the default and the
// game's key maps, pads with the dead zone, the joystick-function fallback,
// the refresh limit, the lazy start and vibration.
#include "tests/lib/system/input_fixture.h"

#include <cstring>
#include <vector>

#include "tests/support/sjis.h"

namespace {

using inputtest::InputFixture;
using testsupport::Sjis;

struct KeyBit {
  int virtual_key;
  int bits;
};

int PadStateAfter(int virtual_key, int input_type) {
  plat::HeadlessSetKey(virtual_key, true);
  InputFixture::NextMillisecond();
  int state = GetPadState(input_type);
  plat::HeadlessSetKey(virtual_key, false);
  InputFixture::NextMillisecond();
  return state;
}

TEST_F(InputFixture, DefaultMapGivesDirectionsAndTenButtons) {
  Start();
  const KeyBit keys[] = {{plat::kVkDown, 0x1},  {plat::kVkLeft, 0x2},  {plat::kVkRight, 0x4},
                         {plat::kVkUp, 0x8},    {0x62, 0x1},           {0x64, 0x2},
                         {0x66, 0x4},           {0x68, 0x8},           {'Z', 0x10},
                         {'X', 0x20},           {'C', 0x40},           {'A', 0x80},
                         {'S', 0x100},          {'D', 0x200},          {'Q', 0x400},
                         {'W', 0x800},          {plat::kVkEscape, 0x1000}, {plat::kVkSpace, 0x2000}};
  for (const KeyBit& k : keys) {
    EXPECT_EQ(PadStateAfter(k.virtual_key, 0x1000), k.bits) << "key " << k.virtual_key;
    EXPECT_EQ(PadStateAfter(k.virtual_key, 0x1001), k.bits) << "key " << k.virtual_key;
  }
  // Keys outside the map and the pad alone give nothing.
  EXPECT_EQ(PadStateAfter('V', 0x1000), 0);
  EXPECT_EQ(PadStateAfter('Z', 0x0001), 0);
  // Two keys at once.
  plat::HeadlessSetKey('Z', true);
  plat::HeadlessSetKey(plat::kVkLeft, true);
  NextMillisecond();
  EXPECT_EQ(GetPadState(0x1001), 0x12);
}

TEST_F(InputFixture, GameMapPutsEightKeysOnTheFirstEightButtons) {
  Start();
  const int codes[8] = {44, 45, 46, 47, 30, 31, 32, 33};  // Z X C V A S D F
  const int keys[8] = {'Z', 'X', 'C', 'V', 'A', 'S', 'D', 'F'};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(MapPadToKeys(0x1001, 16 << i, codes[i], -1, -1, -1), 0);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(PadStateAfter(keys[i], 0x1001), 16 << i) << "key " << keys[i];
  // Q and W gave way to D and F; Escape and Space keep buttons 9 and 10.
  EXPECT_EQ(PadStateAfter('Q', 0x1001), 0);
  EXPECT_EQ(PadStateAfter(plat::kVkEscape, 0x1001), 0x1000);
  // Several keys on one bit: any of them sets it.
  MapPadToKeys(0x1001, 0x1, 0x50, 0xD0, 0x1F, -1);
  EXPECT_EQ(PadStateAfter('S', 0x1001), 0x1 | (16 << 5));
}

TEST_F(InputFixture, EscapeIsKeyOneAndCodesOutsideTheTableReadNothing) {
  Start();
  plat::HeadlessSetKey(plat::kVkEscape, true);
  NextMillisecond();
  EXPECT_EQ(IsKeyPressed(1), 1);
  EXPECT_EQ(IsKeyPressed(256), 0);
  EXPECT_EQ(IsKeyPressed(-1), 0);
  EXPECT_EQ(IsKeyPressed(0x7FFFFFFF), 0);
  plat::HeadlessSetKey(plat::kVkEscape, false);
  NextMillisecond();
  EXPECT_EQ(IsKeyPressed(1), 0);
  // Enter sets both Enter codes; the right Shift its own code.
  plat::HeadlessSetKey(plat::kVkReturn, true);
  plat::HeadlessSetKey(plat::kVkRShift, true);
  NextMillisecond();
  EXPECT_EQ(IsKeyPressed(0x1C), 1);
  EXPECT_EQ(IsKeyPressed(0x9C), 1);
  EXPECT_EQ(IsKeyPressed(kDikRShift), 1);
  EXPECT_EQ(IsKeyPressed(kDikLShift), 0);
}

TEST_F(InputFixture, MapPadToKeysOutsidePadsOneToSixteenChangesNothing) {
  Start();
  std::vector<int32_t> before(&GetInputDeviceState().pad_key_map[0][0][0],
                              &GetInputDeviceState().pad_key_map[0][0][0] + kPadMax * kPadBits * kPadKeysPerBit);
  for (int type : {0, 17, 0x1000, 0x1011, -1, 0x7FFFFFFF}) {
    EXPECT_EQ(MapPadToKeys(type, -1, 0x2C, 0x2D, 0x2E, 0x2F), 0);
  }
  std::vector<int32_t> after(&GetInputDeviceState().pad_key_map[0][0][0],
                             &GetInputDeviceState().pad_key_map[0][0][0] + kPadMax * kPadBits * kPadKeysPerBit);
  EXPECT_EQ(before, after);
  // Pad 16 is the last one that can be mapped.
  EXPECT_EQ(MapPadToKeys(16, 0x1, 0x2C, -1, -1, -1), 0);
  EXPECT_EQ(GetInputDeviceState().pad_key_map[15][0][0], 0x2C);
}

TEST_F(InputFixture, PadTypesOutsideTheTableGiveNothing) {
  Start();
  plat::HeadlessSetKey('Z', true);
  NextMillisecond();
  EXPECT_EQ(GetPadState(0x1011), 0);  // pad 17 with the keyboard: no map row
  EXPECT_EQ(GetPadState(0x1000 | 0x7FF), 0);
  EXPECT_EQ(GetPadState(-1), 0);
  EXPECT_EQ(GetPadState(0x1002), 0);  // pad 2's row is empty
  EXPECT_EQ(GetPadState(0x1000), 0x10);
}

TEST_F(InputFixture, RefreshedAtMostOncePerMillisecond) {
  Start();
  plat::SetVirtualClockAutoAdvance(0);
  NextMillisecond();
  plat::HeadlessSetKey('Z', true);
  int reads = GetKeyboardRefreshCount();
  EXPECT_EQ(GetPadState(0x1000), 0x10);
  plat::HeadlessSetKey('Z', false);
  EXPECT_EQ(GetPadState(0x1000), 0x10);  // the same millisecond: the old state
  EXPECT_EQ(IsKeyPressed(0x2C), 1);
  EXPECT_EQ(GetKeyboardRefreshCount(), reads + 1);
  NextMillisecond();
  EXPECT_EQ(GetPadState(0x1000), 0);
  EXPECT_EQ(GetKeyboardRefreshCount(), reads + 2);
}

TEST_F(InputFixture, JoypadAxesUseTheDeadZoneAndButtonsAreBits) {
  int pad = plat::HeadlessAddJoypad("Pad One", 6, 12, false);
  Start();
  ASSERT_EQ(GetInputDeviceState().pad_count, 1);
  EXPECT_STREQ(GetInputDeviceState().pads[0].instance_name, "Pad One");
  EXPECT_EQ(GetPadState(1), 0);
  // 35 % of the travel is still the centre; a little beyond it counts.
  plat::HeadlessSetJoypadAxis(pad, 0, 32767 * 34 / 100);
  NextMillisecond();
  EXPECT_EQ(GetPadState(1), 0);
  plat::HeadlessSetJoypadAxis(pad, 0, 32767 * 36 / 100);
  NextMillisecond();
  EXPECT_EQ(GetPadState(1), 0x4);
  plat::HeadlessSetJoypadAxis(pad, 0, -32768);
  plat::HeadlessSetJoypadAxis(pad, 1, -20000);
  NextMillisecond();
  EXPECT_EQ(GetPadState(1), 0x2 | 0x8);
  EXPECT_EQ(GetInputDeviceState().pads[0].state.x, -1000);
  plat::HeadlessSetJoypadAxis(pad, 0, 0);
  plat::HeadlessSetJoypadAxis(pad, 1, 32767);
  plat::HeadlessSetJoypadButton(pad, 0, true);
  plat::HeadlessSetJoypadButton(pad, 11, true);
  NextMillisecond();
  EXPECT_EQ(GetPadState(1), 0x1 | 0x10 | (1 << 15));
  EXPECT_EQ(GetInputDeviceState().pads[0].state.y, 1000);
  // Pad and keyboard together; a pad that does not exist gives nothing.
  plat::HeadlessSetKey('X', true);
  NextMillisecond();
  EXPECT_EQ(GetPadState(0x1001), 0x1 | 0x10 | (1 << 15) | 0x20);
  EXPECT_EQ(GetPadState(2), 0);
  EXPECT_EQ(GetPadState(0), 0);
}

TEST_F(InputFixture, EnumerationStopsAtSixteenPads) {
  for (int i = 0; i < 17; ++i) plat::HeadlessAddJoypad("Pad", 2, 4, false);
  Start();
  EXPECT_EQ(GetInputDeviceState().pad_count, 16);
}

TEST_F(InputFixture, JoystickAxisConversion) {
  EXPECT_EQ(ConvertJoystickAxis(0), -1000);
  EXPECT_EQ(ConvertJoystickAxis(0x2000), -500);
  EXPECT_EQ(ConvertJoystickAxis(0x3FFF), 0);  // -1000 / 16384 truncates to 0
  EXPECT_EQ(ConvertJoystickAxis(0x4000), 0);
  EXPECT_EQ(ConvertJoystickAxis(0x7FFF), 0);
  EXPECT_EQ(ConvertJoystickAxis(0xC000), 0);
  EXPECT_EQ(ConvertJoystickAxis(0xC001), 0);
  EXPECT_EQ(ConvertJoystickAxis(0xE000), 500);
  EXPECT_EQ(ConvertJoystickAxis(0xFFFF), 999);
  for (uint32_t v = 0x4000; v <= 0xC000; v += 0x100) EXPECT_EQ(ConvertJoystickAxis(v), 0) << v;
}

TEST_F(InputFixture, WithoutTheDeviceObjectTheJoystickFunctionsServe) {
  int pad = plat::HeadlessAddJoypad("Stick", 6, 8, false);
  plat::DinputFaults faults;
  faults.fail_create_v7 = true;
  faults.fail_create_v8 = true;
  plat::SetDinputFaults(faults);
  Start();
  const InputDeviceState& s = GetInputDeviceState();
  EXPECT_EQ(s.direct_input, kInputOnWinmm);
  EXPECT_EQ(s.no_direct_input, 1);
  EXPECT_EQ(s.pad_count, 16);
  EXPECT_EQ(s.pads[0].has_z_and_r, 1);
  std::string log = Log();
  EXPECT_NE(log.find(Sjis("DirectInput を使用しません。\n")), std::string::npos);
  EXPECT_NE(log.find(Sjis("パッドの数は 1 個です\n")), std::string::npos);
  EXPECT_NE(log.find(Sjis("入力関連の初期化をしました\n")), std::string::npos);

  // Raw 0 is -1000; the middle half is 0.
  plat::HeadlessSetJoypadAxis(pad, 0, -32768);
  plat::HeadlessSetJoypadButton(pad, 2, true);
  NextMillisecond();
  EXPECT_EQ(GetPadState(1), 0x2 | 0x40);
  EXPECT_EQ(s.pads[0].state.x, -1000);
  plat::HeadlessSetJoypadAxis(pad, 0, 0x4000 - 32768);
  plat::HeadlessSetJoypadAxis(pad, 1, 32767);
  NextMillisecond();
  EXPECT_EQ(GetPadState(1), 0x1 | 0x40);
  EXPECT_EQ(s.pads[0].state.x, 0);
  EXPECT_EQ(s.pads[0].state.y, 999);
  // A missing joystick reads as all zero; the keyboard still works.
  EXPECT_EQ(GetPadState(5), 0);
  plat::HeadlessSetKey('Z', true);
  NextMillisecond();
  EXPECT_EQ(GetPadState(0x1005), 0);  // pad 5's row is empty
  EXPECT_EQ(GetPadState(0x1001), 0x1 | 0x40 | 0x10);
  // The end of input on the fallback.
  EXPECT_EQ(InputEnd(), 0);
  EXPECT_EQ(s.direct_input, nullptr);
  EXPECT_NE(Log().find(Sjis("入力関連の終了処理... 完了\n")), std::string::npos);
}

TEST_F(InputFixture, VersionEightServesWhenVersionSevenIsMissing) {
  plat::DinputFaults faults;
  faults.fail_create_v7 = true;
  plat::SetDinputFaults(faults);
  Start();
  EXPECT_EQ(GetInputDeviceState().direct_input8, 1);
  EXPECT_NE(GetInputDeviceState().keyboard, nullptr);
  EXPECT_NE(Log().find(Sjis("DirectInput8 の取得を試みます...成功\n")), std::string::npos);
}

TEST_F(InputFixture, FailedLazyStartReadsAsNothingPressed) {
  Start();
  InputEnd();
  plat::DinputFaults faults;
  faults.fail_keyboard_event = true;
  plat::SetDinputFaults(faults);
  for (int vk : {int{'Z'}, int{'X'}, plat::kVkEscape, plat::kVkLeft}) plat::HeadlessSetKey(vk, true);
  NextMillisecond();
  EXPECT_EQ(IsKeyPressed(1), 0);
  InputEnd();
  EXPECT_EQ(GetPadState(0x1001), 0);
  EXPECT_NE(Log().find(Sjis("キーボードイベントのセットアップが失敗しました\n")), std::string::npos);
}

TEST_F(InputFixture, LazyStartAndRestartKeepTheKeyMap) {
  Start();
  MapPadToKeys(0x1001, 0x10, 0x2F, -1, -1, -1);  // V on button 1
  InputEnd();
  EXPECT_EQ(GetInputDeviceState().direct_input, nullptr);
  plat::HeadlessSetKey('V', true);
  NextMillisecond();
  EXPECT_EQ(GetPadState(0x1001), 0);  // this call starts input
  EXPECT_NE(GetInputDeviceState().direct_input, nullptr);
  NextMillisecond();
  EXPECT_EQ(GetPadState(0x1001), 0x10);
}

TEST_F(InputFixture, KeyboardDevicePathReadsTheDeviceOnItsEvent) {
  GetInputDeviceState().direct_input_keyboard = 1;
  Start();
  plat::SetVirtualClockAutoAdvance(0);
  NextMillisecond();
  EXPECT_EQ(GetPadState(0x1000), 0);
  // Within the same millisecond a key change signals the device's event.
  plat::HeadlessSetKey('C', true);
  EXPECT_EQ(GetPadState(0x1000), 0x40);
  plat::HeadlessSetKey('C', false);
  EXPECT_EQ(GetPadState(0x1000), 0);
  plat::HeadlessSetKey(plat::kVkRShift, true);
  NextMillisecond();
  EXPECT_EQ(IsKeyPressed(kDikRShift), 1);
}

TEST_F(InputFixture, VibrationFollowsTheFlagsAndStops) {
  int pad = plat::HeadlessAddJoypad("Rumble", 2, 4, true);
  Start();
  PadRecord& record = GetInputDeviceState().pads[0];
  ASSERT_NE(record.constant_force, nullptr);
  ASSERT_NE(record.sine, nullptr);
  EXPECT_EQ(record.vibration_power, 10000);
  record.vibration_on = 1;
  record.vibration_time_limit = 50;
  record.vibration_clock = GetMilliClock();
  ApplyPadVibration();
  int strong = 0, weak = 0;
  plat::HeadlessGetJoypadRumble(pad, &strong, &weak);
  EXPECT_EQ(strong, 65535);
  EXPECT_EQ(weak, 65535);
  EXPECT_EQ(record.constant_playing, 1);
  EXPECT_EQ(record.sine_playing, 1);
  // The power at 5000 or below leaves the sine effect off.
  record.vibration_power = 5000;
  ApplyPadVibration();
  plat::HeadlessGetJoypadRumble(pad, &strong, &weak);
  EXPECT_EQ(strong, 65535);
  EXPECT_EQ(weak, 0);
  // The time limit runs out in the per-pass refresh.
  plat::AdvanceVirtualClock(60000);
  RefreshInput();
  EXPECT_EQ(record.vibration_on, 0);
  EXPECT_EQ(record.vibration_power, 10000);
  plat::HeadlessGetJoypadRumble(pad, &strong, &weak);
  EXPECT_EQ(strong, 0);
  // StopPadVibration sets the power back.
  record.vibration_on = 1;
  record.vibration_power = 7000;
  record.vibration_time_limit = -1;
  EXPECT_EQ(StopPadVibration(1), 0);
  EXPECT_EQ(record.vibration_power, 10000);
  EXPECT_EQ(StopPadVibration(99), 0);
}

TEST_F(InputFixture, NoVibrationSettingMakesNoEffects) {
  plat::HeadlessAddJoypad("Rumble", 2, 4, true);
  GetInputDeviceState().no_vibration = 1;
  Start();
  EXPECT_EQ(GetInputDeviceState().pads[0].constant_force, nullptr);
  EXPECT_EQ(GetInputDeviceState().pads[0].sine, nullptr);
}

TEST_F(InputFixture, EndReleasesEveryDeviceObject) {
  plat::HeadlessAddJoypad("Rumble", 2, 4, true);
  int before = plat::LiveDinputObjectCount();
  Start();
  EXPECT_GT(plat::LiveDinputObjectCount(), before);
  LibraryEnd();
  EXPECT_EQ(plat::LiveDinputObjectCount(), before);
  EXPECT_EQ(GetInputDeviceState().pad_count, 0);
}

}  // namespace

namespace {

using inputtest::InputFixture;

TEST_F(InputFixture, PadIsReadOncePerMillisecondUnlessItsEventIsSet) {
  int pad = plat::HeadlessAddJoypad("Pad", 2, 4, false);
  Start();
  plat::SetVirtualClockAutoAdvance(0);
  NextMillisecond();
  plat::HeadlessSetJoypadButton(pad, 1, true);
  EXPECT_EQ(GetPadState(1), 0x20);
  plat::HeadlessSetJoypadButton(pad, 1, false);
  // The same millisecond and no signal yet: the state read before.
  EXPECT_EQ(GetPadState(1), 0x20);
  EXPECT_EQ(GetPadState(1), 0x20);
  NextMillisecond();
  EXPECT_EQ(GetPadState(1), 0);
  // A poll that saw a change sets the event, and the next query reads again.
  plat::HeadlessSetJoypadButton(pad, 1, true);
  GetInputDeviceState().pads[0].device->Poll();
  EXPECT_EQ(GetPadState(1), 0x20);
}

TEST_F(InputFixture, WithoutPadsOnlyTheKeyboardCounts) {
  Start();
  EXPECT_EQ(GetInputDeviceState().pad_count, 0);
  plat::HeadlessSetKey(plat::kVkDown, true);
  NextMillisecond();
  EXPECT_EQ(GetPadState(1), 0);
  EXPECT_EQ(GetPadState(16), 0);
  EXPECT_EQ(GetPadState(0x1001), 0x1);
  EXPECT_EQ(GetPadState(0x1000), 0x1);
}

}  // namespace
