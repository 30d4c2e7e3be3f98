// platform/d3d9/d3d9_span_level.cpp - which spans the rasteriser uses: the
// widest vector spans the processor has, no wider than RORUD_SPAN_LEVEL (0
// the reference spans, 1 SSE4.1, 2 AVX2, 3 AVX-512) or a test's setting.
#include <algorithm>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_spans_simd.h"
#include "platform/kernel/kernel.h"

namespace plat {

namespace {

int g_setting = -1;

}  // namespace

int MaxSpanLevel() { return VectorLevel(); }

void SetSpanLevel(int level) {
  WaitForRaster();  // queued draws keep the spans they were given
  g_setting = level < 0 ? -1 : std::min(level, MaxSpanLevel());
}

int SpanLevelInUse() { return g_setting >= 0 ? g_setting : MaxSpanLevel(); }

VecSpanFn VecSpanForLevel(int level, int filter, bool modulate, int blend, int target, bool test) {
  switch (level) {
    case 3: return VecSpanAvx512(filter, modulate, blend, target, test);
    case 2: return VecSpanAvx2(filter, modulate, blend, target, test);
    case 1: return VecSpanSse41(filter, modulate, blend, target, test);
    default: return nullptr;
  }
}

VecSpanFn VecTermSpanForLevel(int level, int target) {
  switch (level) {
    case 3: return VecTermSpanAvx512(target);
    case 2: return VecTermSpanAvx2(target);
    case 1: return VecTermSpanSse41(target);
    default: return nullptr;
  }
}

}  // namespace plat
