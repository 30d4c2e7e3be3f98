// Library text is stored as code page 932: the window start's own "完了\n"
// reaches the log as the bytes 8a ae 97 b9 0a (written as 8a ae 97 b9 0d 0a).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "lib/system/window_system.h"
#include "platform/window/backend.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/support/log_capture.h"

namespace {

TEST(CodePageTest, JapaneseLiteralsOfTheLibraryAreCodePage932) {
  plat::SetBackend(plat::Backend::kHeadless);
  plat::VirtualDesktop desktop;
  desktop.width = 1280;
  desktop.height = 1024;
  desktop.bits = 32;
  plat::HeadlessReset(desktop);
  // A folder of this run's own, so that a run beside it (another build's
  // tests) does not see this window as a second copy.
  auto lock_folder = std::filesystem::temp_directory_path() /
                     ("rorud-lock-code-page-test-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(lock_folder);
  plat::SetWindowLockFolder(lock_folder.string());
  {
    testsupport::LogCapture log;
    plat::SetVirtualClockAutoAdvance(10);
    ChangeWindowMode(1);
    ASSERT_EQ(LibraryStart(), 0);
    LibraryEnd();
    const std::string done = "\x8a\xae\x97\xb9\r\n";
    EXPECT_NE(log.File().find(done), std::string::npos);
    EXPECT_EQ(log.File().find("\xe5\xae\x8c\xe4\xba\x86"), std::string::npos);  // no UTF-8 form
  }
  plat::HeadlessReset(plat::VirtualDesktop{});
  std::filesystem::remove_all(lock_folder);
}

}  // namespace
