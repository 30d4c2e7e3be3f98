// libFuzzer target: the stretched blit, the rectangle fill and lines over
// arbitrary rectangles, end points, images, blend state and clip rectangles
// (also clip rectangles reaching past the destination). Every write must
// stay inside the destination and every read inside the source, the blend
// image and the palette.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/softrender/blend_tables.h"
#include "lib/softrender/memimg.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/softrender/soft_kernels.h"
#include "tools/fuzz/memimg_fuzz.h"

namespace {

using fuzzsoft::Reader;

void FillFrom(MEMIMG* m, Reader& r) {
  fuzzsoft::FillFrom(m, r, m->base->format_info->bytes_per_pixel);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool built = (BuildSoftBlendTables(), BuildBlendImageWeightTable(90, 30), true);
  (void)built;
  Reader r{data, size};
  const uint32_t flags = r.Byte();
  const int format = (flags & 1) ? kMemImg32 : kMemImgRgb565;
  const int paletted = (flags >> 1) & 1;
  const int alpha = (flags >> 2) & 1;
  const bool with_blend = (flags >> 3) & 1;
  const int trans = static_cast<int>((flags >> 4) & 3);
  const int dst_format = (flags >> 6) & 1 ? format : static_cast<int>(r.Byte() & 3);
  const int dst_paletted = (flags >> 7) & 1;

  MEMIMG dst, src, blend;
  std::memset(&dst, 0, sizeof(dst));
  std::memset(&src, 0, sizeof(src));
  std::memset(&blend, 0, sizeof(blend));
  const int dw = 1 + static_cast<int>(r.Byte() % 48), dh = 1 + static_cast<int>(r.Byte() % 48);
  const int sw = static_cast<int>(r.Byte() % 24), sh = static_cast<int>(r.Byte() % 24);
  const int bw = static_cast<int>(r.Byte() % 28), bh = static_cast<int>(r.Byte() % 28);
  if (InitMemImg(&dst, dw, dh, -1, 0, dst_format, dst_paletted, 0, 0, nullptr) != 0) return 0;
  const bool have_src = InitMemImg(&src, sw, sh, -1, r.Word(), format, paletted, alpha, 0, nullptr) == 0;
  const bool have_blend = InitMemImg(&blend, bw, bh, -1, 0, kMemImgByte, 0, 0, 0, nullptr) == 0;

  SoftDrawState& state = SoftDraw();
  state.blend_mode = r.Byte() % 14;
  state.blend_param = static_cast<int32_t>(r.Byte());
  state.bright = r.Word() & 0xFFFFFF;
  state.clip = {r.Short() % 64, r.Short() % 64, r.Short() % 64, r.Short() % 64};
  const MEMIMG* blend_image = with_blend && have_blend ? &blend : nullptr;

  // The geometry first, then the pixels, so short inputs still draw.
  IntRect rects[3];
  for (auto& rc : rects) rc = {r.Coord(), r.Coord(), r.Coord(), r.Coord()};
  MemImgLineRecord lines[3];
  for (auto& ln : lines) ln = {r.Coord(), r.Coord(), r.Coord(), r.Coord(), r.Word(), r.Word()};
  const uint32_t colour = r.Word();
  if (have_src) {
    FillFrom(&src, r);
    if (src.base->palette != nullptr)
      for (int i = 0; i < 2048; ++i) src.base->palette[i] = static_cast<uint8_t>(i * 7);
  }
  if (have_blend) FillFrom(&blend, r);

  if (have_src) {
    for (const IntRect& rc : rects) {
      // An unscaled, unmirrored draw belongs to the plain blit, which has its
      // own target.
      if (int64_t{rc.right} - rc.left == sw && int64_t{rc.bottom} - rc.top == sh) continue;
      DrawMemImgStretch(&dst, &src, &rc, trans, blend_image);
    }
  }
  FillMemImgRect(&dst, &rects[0], colour);
  FillMemImgRect(&dst, nullptr, colour);
  DrawMemImgLineList(&dst, lines, 3);
  ReleaseMemImg(&blend);
  ReleaseMemImg(&src);
  ReleaseMemImg(&dst);
  return 0;
}
