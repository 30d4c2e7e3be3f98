#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>

#include "lib/core/log.h"
#include "platform/kernel/kernel.h"

namespace testsupport {

namespace {
std::atomic<int> g_serial{0};
}

LogCapture::LogCapture() {
  previous_folder_ = std::filesystem::current_path();
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "log";
  folder_ = std::filesystem::temp_directory_path() /
            ("rorud-log-" + std::to_string(::getpid()) + "-" + std::to_string(g_serial++) + "-" + name);
  std::filesystem::remove_all(folder_);
  std::filesystem::create_directories(folder_);
  std::filesystem::current_path(folder_);
  plat::EnableVirtualClock(true);
  plat::SetVirtualClockAutoAdvance(0);
  plat::SetDebugOutputSink(&LogCapture::Sink, this);
  SetLogFileEnabled(1);
  SetLogDatedFileName(0);
  SetLogTimeStamps(1);
  SetLogFolder(".");
  LogFileStart();
}

LogCapture::~LogCapture() {
  plat::SetDebugOutputSink(nullptr, nullptr);
  SetLogFolder("");
  SetLogTimeStamps(1);
  SetLogDatedFileName(0);
  plat::EnableVirtualClock(false);
  std::filesystem::current_path(previous_folder_);
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void LogCapture::Sink(const char* text, void* context) { static_cast<LogCapture*>(context)->debug_ += text; }

std::string LogCapture::File() const { return ReadFile("Log.txt"); }

std::string LogCapture::ReadFile(const std::string& name) const {
  std::ifstream in(folder_ / name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string StripStamps(const std::string& text) {
  std::string out;
  bool line_start = true;
  for (size_t i = 0; i < text.size(); ++i) {
    if (line_start) {
      size_t j = i;
      while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
      if (j > i && j < text.size() && text[j] == ':') i = j + 1;
      if (i >= text.size()) break;
    }
    out += text[i];
    line_start = text[i] == '\n';
  }
  return out;
}

}  // namespace testsupport
