// ALSA's own error lines: once routed, an ALSA failure writes nothing to the
// terminal and its line reaches the debugger output.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/kernel/kernel.h"
#include "platform/sdl/alsa_messages.h"

namespace {

void Collect(const char* text, void* context) { *static_cast<std::string*>(context) += text; }

TEST(AlsaMessages, GoToTheDebuggerOutputNotTheTerminal) {
  void* alsa = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
  if (alsa == nullptr) GTEST_SKIP() << "no ALSA library";
  using PcmOpen = int (*)(void**, const char*, int, int);
  auto pcm_open = reinterpret_cast<PcmOpen>(::dlsym(alsa, "snd_pcm_open"));
  ASSERT_NE(pcm_open, nullptr);
  plat::RouteAlsaMessagesToDebugOutput();
  std::string debug;
  plat::SetDebugOutputSink(&Collect, &debug);
  ::testing::internal::CaptureStderr();
  void* pcm = nullptr;
  // A device name ALSA does not know: it reports "Unknown PCM".
  EXPECT_LT(pcm_open(&pcm, "no_such_device_here", 0, 0), 0);
  const std::string err = ::testing::internal::GetCapturedStderr();
  plat::SetDebugOutputSink(nullptr, nullptr);
  // ALSA keeps the configuration it parsed for the rest of the process;
  // freeing it keeps the leak check to leaks of our own.
  if (auto free_config = reinterpret_cast<int (*)()>(::dlsym(alsa, "snd_config_update_free_global"))) {
    free_config();
  }
  EXPECT_EQ(err, "");
  EXPECT_NE(debug.find("Unknown PCM no_such_device_here"), std::string::npos) << debug;
  EXPECT_EQ(debug.rfind("ALSA ", 0), 0u) << debug;
}

}  // namespace
