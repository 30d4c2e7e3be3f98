// tests/lib/system/network_fixture.h - the fixture of the network layer's
// tests: a started library on the headless desktop, in which a test starts
// the network (net_start.h) and accepts peers over 127.0.0.1, plus plain
// socket calls for peer threads.
#pragma once

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "lib/graphics/graphics_device.h"
#include "lib/system/network.h"
#include "lib/system/window_system.h"
#include "platform/kernel/kernel.h"
#include "platform/window/backend.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/lib/system/net_start.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"

namespace nettest {

// Plain blocking socket calls for peer threads; false once the socket fails.
inline bool ReadExactly(int fd, uint8_t* out, size_t n) {
  for (size_t have = 0; have < n;) {
    const ssize_t got = read(fd, out + have, n - have);
    if (got <= 0) return false;
    have += static_cast<size_t>(got);
  }
  return true;
}
inline bool WriteAll(int fd, const uint8_t* bytes, size_t n) {
  for (size_t done = 0; done < n;) {
    const ssize_t sent = send(fd, bytes + done, n - done, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

class NetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetBackend(plat::Backend::kHeadless);
    plat::HeadlessReset(plat::VirtualDesktop{});
    lock_folder_ = std::filesystem::temp_directory_path() /
                   ("rorud-net-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(lock_folder_);
    plat::SetWindowLockFolder(lock_folder_.string());
    ResetWindowSettings();
    ResetGraphicsDeviceForTest();
    capture_ = std::make_unique<testsupport::LogCapture>();
    plat::SetVirtualClockAutoAdvance(10);
    ChangeWindowMode(1);
    ASSERT_EQ(LibraryStart(), 0);
  }
  void TearDown() override {
    LibraryEnd();
    ResetWindowSettings();
    ResetGraphicsDeviceForTest();
    capture_.reset();
    plat::HeadlessReset(plat::VirtualDesktop{});
    std::error_code ignored;
    std::filesystem::remove_all(lock_folder_, ignored);
  }
  std::string Log() const {
    std::string out;
    for (char c : testsupport::StripStamps(capture_->File())) {
      if (c != '\r') out += c;
    }
    return out;
  }

  // Starts the network and makes one connected pair: a client record and
  // the record that accepted it.
  void StartPair() {
    port_ = StartNetwork();
    ASSERT_NE(port_, 0);
    client_ = ConnectRecord(port_);
    ASSERT_TRUE(PumpUntil([&] { return NewestAccepted() >= 0 && Record(client_)->open == 1; }));
    server_ = NewestAccepted();
    ASSERT_NE(server_, client_);
  }
  // Accepts one raw peer and returns the record's handle.
  int32_t AcceptRaw(plat::SocketHandle* peer) {
    const int32_t before = NewestAccepted();
    *peer = RawClient(port_);
    EXPECT_NE(*peer, plat::kInvalidSocket);
    int32_t h = -1;
    EXPECT_TRUE(PumpUntil([&] { return (h = NewestAccepted()) != before && h >= 0; }));
    return h;
  }

  // Accepts one peer connected with a plain POSIX socket (blocking), which a
  // peer thread may then use; returns the record's handle.
  int32_t AcceptPosix(int* fd) {
    const int32_t before = NewestAccepted();
    *fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(*fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)), 0);
    int32_t h = -1;
    EXPECT_TRUE(PumpUntil([&] { return (h = NewestAccepted()) != before && h >= 0; }));
    return h;
  }
  size_t CountInLog(const std::string& text) const {
    const std::string log = Log(), needle = testsupport::Sjis(text);
    size_t n = 0;
    for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) ++n;
    return n;
  }

  std::filesystem::path lock_folder_;
  std::unique_ptr<testsupport::LogCapture> capture_;
  uint16_t port_ = 0;
  int32_t client_ = -1, server_ = -1;
};

}  // namespace nettest
