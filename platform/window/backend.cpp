// platform/window/backend.cpp - back-end choice from the environment.
#include "platform/window/backend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace plat {
namespace {

// -1 not chosen yet, else the Backend value.
std::atomic<int> g_backend{-1};

Backend FromEnvironment() {
  const char* value = std::getenv("RORUD_PLATFORM");
  if (value != nullptr && std::strcmp(value, "headless") == 0) return Backend::kHeadless;
  return Backend::kSdl;
}

}  // namespace

Backend GetBackend() {
  int current = g_backend.load(std::memory_order_acquire);
  if (current < 0) {
    int chosen = static_cast<int>(FromEnvironment());
    g_backend.compare_exchange_strong(current, chosen, std::memory_order_acq_rel);
    return static_cast<Backend>(g_backend.load(std::memory_order_acquire));
  }
  return static_cast<Backend>(current);
}

void SetBackend(Backend backend) { g_backend.store(static_cast<int>(backend), std::memory_order_release); }

}  // namespace plat
