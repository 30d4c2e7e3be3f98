// platform/audio/mci.cpp - the recorded media-control commands.
#include "platform/audio/mci.h"

#include <mutex>

namespace plat {

namespace {
std::mutex g_mutex;
std::vector<MciCall> g_calls;
}  // namespace

uint32_t MciSendCommand(uint32_t device, uint32_t message, uintptr_t flags, uintptr_t param) {
  MciCall call{device, message, flags, {}};
  if (message == kMciPlay && param != 0) call.play = *reinterpret_cast<const MciPlayParams*>(param);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_calls.push_back(call);
  return 0;
}

std::vector<MciCall> TakeMciCalls() {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<MciCall> out;
  out.swap(g_calls);
  return out;
}

}  // namespace plat
