// lib/softrender/soft_simd_level.cpp - the vector level of the memory-image
// kernels: the processor's, capped by RORUD_SPAN_LEVEL and by a setting.
#include "lib/softrender/soft_simd_level.h"

#include <algorithm>
#include <atomic>

#include "platform/kernel/kernel.h"

namespace {

std::atomic<int> g_setting{-1};

}  // namespace

// The kernels come in SSE4.1 and AVX2 forms: a processor with more uses AVX2.
int MaxSoftKernelLevel() { return std::min(plat::VectorLevel(), 2); }

void SetSoftKernelLevel(int level) {
  g_setting.store(level < 0 ? -1 : std::min(level, MaxSoftKernelLevel()), std::memory_order_relaxed);
}

int SoftKernelLevel() {
  const int s = g_setting.load(std::memory_order_relaxed);
  return s >= 0 ? s : MaxSoftKernelLevel();
}
