// lib/softrender/soft_simd_level.cpp - the vector level of the memory-image
// kernels: the processor's, capped by RORUD_SPAN_LEVEL and by a setting.
#include "lib/softrender/soft_simd_level.h"

#include <algorithm>
#include <atomic>

#include "platform/kernel/kernel.h"

namespace {

std::atomic<int> g_setting{-1};

}  // namespace

int MaxSoftKernelLevel() { return plat::VectorLevel(); }

void SetSoftKernelLevel(int level) {
  g_setting.store(level < 0 ? -1 : std::min(level, MaxSoftKernelLevel()), std::memory_order_relaxed);
}

int SoftKernelLevel() {
  const int s = g_setting.load(std::memory_order_relaxed);
  return s >= 0 ? s : MaxSoftKernelLevel();
}
