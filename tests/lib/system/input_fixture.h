// A started library on the headless desktop with the virtual clock, for the
// tests of input, text input and the IME.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "lib/system/input.h"
#include "lib/system/text_input.h"
#include "lib/system/window_system.h"
#include "platform/window/backend.h"
#include "platform/input/dinput.h"
#include "platform/window/imm.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/support/log_capture.h"

namespace inputtest {

class InputFixture : public ::testing::Test {
 public:
  // Moves the clock to the next millisecond, so that the next read refreshes.
  static void NextMillisecond() { plat::AdvanceVirtualClock(1000); }

 protected:
  void SetUp() override {
    plat::SetBackend(plat::Backend::kHeadless);
    plat::HeadlessReset(plat::VirtualDesktop{});
    plat::HeadlessRemoveJoypads();
    plat::ClearDinputFaults();
    plat::ImeReset();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    lock_folder_ = (std::filesystem::temp_directory_path() /
                    ("rorud-input-" + std::string(info->test_suite_name()) + "." + info->name() + "-" +
                     std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id()))))
                       .string();
    std::filesystem::create_directories(lock_folder_);
    plat::SetWindowLockFolder(lock_folder_);
    ResetWindowSettings();
    capture_ = std::make_unique<testsupport::LogCapture>();
    plat::SetVirtualClockAutoAdvance(10);
    // Settings and the key map live for the process: every test starts from
    // the defaults.
    InputDeviceState& s = GetInputDeviceState();
    s.no_direct_input = 0;
    s.no_vibration = 0;
    s.direct_input_keyboard = 0;
    s.key_map_initialised = 0;
  }
  void TearDown() override {
    LibraryEnd();
    InputEnd();
    plat::ClearDinputFaults();
    plat::HeadlessRemoveJoypads();
    ResetWindowSettings();
    capture_.reset();
    plat::HeadlessReset(plat::VirtualDesktop{});
    std::error_code ignored;
    std::filesystem::remove_all(lock_folder_, ignored);
  }
  void Start() {
    ChangeWindowMode(1);
    ASSERT_EQ(LibraryStart(), 0);
    for (int i = 0; i < 20 && ProcessWindowMessages() == 0; ++i) {
    }
  }
  // The log text without carriage returns.
  std::string Log() const {
    std::string out;
    for (char c : capture_->File())
      if (c != '\r') out += c;
    return out;
  }

  std::string lock_folder_;
  std::unique_ptr<testsupport::LogCapture> capture_;
};

}  // namespace inputtest
