// platform/d3d9/d3d9_span_level.cpp - which spans the rasteriser uses: the
// widest vector spans the processor has, no wider than RORUD_SPAN_LEVEL (0
// the reference spans, 1 SSE4.1, 2 AVX2) or a test's setting.
#include <algorithm>
#include <cstdlib>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_spans_simd.h"

namespace plat {

namespace {

int g_setting = -1;

int ProcessorLevel() {
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("avx2")) return 2;
  if (__builtin_cpu_supports("sse4.1")) return 1;
#endif
  return 0;
}

}  // namespace

int MaxSpanLevel() {
  static const int level = [] {
    int l = ProcessorLevel();
    if (const char* env = std::getenv("RORUD_SPAN_LEVEL"); env != nullptr && *env != 0)
      l = std::min(l, std::max(0, std::atoi(env)));
    return l;
  }();
  return level;
}

void SetSpanLevel(int level) {
  WaitForRaster();  // queued draws keep the spans they were given
  g_setting = level < 0 ? -1 : std::min(level, MaxSpanLevel());
}

int SpanLevelInUse() { return g_setting >= 0 ? g_setting : MaxSpanLevel(); }

VecSpanFn VecSpanForLevel(int level, int filter, bool modulate, int blend, int target, bool test) {
  switch (level) {
    case 2: return VecSpanAvx2(filter, modulate, blend, target, test);
    case 1: return VecSpanSse41(filter, modulate, blend, target, test);
    default: return nullptr;
  }
}

}  // namespace plat
