// lib/softrender/soft_simd_level.cpp - the vector level of the memory-image
// kernels: the processor's, capped by RORUD_SPAN_LEVEL and by a setting.
#include "lib/softrender/soft_simd_level.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace {

std::atomic<int> g_setting{-1};

int ProcessorLevel() {
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("avx2")) return 2;
  if (__builtin_cpu_supports("sse4.1")) return 1;
#endif
  return 0;
}

}  // namespace

int MaxSoftKernelLevel() {
  static const int level = [] {
    int l = ProcessorLevel();
    if (const char* env = std::getenv("RORUD_SPAN_LEVEL"); env != nullptr && *env != 0)
      l = std::min(l, std::max(0, std::atoi(env)));
    return l;
  }();
  return level;
}

void SetSoftKernelLevel(int level) {
  g_setting.store(level < 0 ? -1 : std::min(level, MaxSoftKernelLevel()), std::memory_order_relaxed);
}

int SoftKernelLevel() {
  const int s = g_setting.load(std::memory_order_relaxed);
  return s >= 0 ? s : MaxSoftKernelLevel();
}
