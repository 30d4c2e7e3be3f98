// libFuzzer target: the plain blit over arbitrary positions, images (whole
// images and views of part of one), blend state, clip rectangles (also ones
// reaching past the destination), blend images of any size and run streams
// that are built from the pixels or taken from the input as they stand. Every
// write must stay inside the destination and every read inside the source,
// its run stream, the blend image and the palette.
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
  fuzzsoft::FillFrom(m, r, MemImgBytesPerPixel(m->base->pixel_format, m->base->paletted, m->base->alpha));
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
  const uint32_t more = r.Byte();
  const int dst_paletted = more & 1;
  const int dst_alpha = (more >> 1) & 1;
  const bool use_view = (more >> 2) & 1;
  const int runs = static_cast<int>((more >> 3) & 3);  // 0 none, 1 built, 2 taken from the input

  MEMIMG dst, src, blend, view;
  std::memset(&dst, 0, sizeof(dst));
  std::memset(&src, 0, sizeof(src));
  std::memset(&blend, 0, sizeof(blend));
  std::memset(&view, 0, sizeof(view));
  const int dw = 1 + static_cast<int>(r.Byte() % 48), dh = 1 + static_cast<int>(r.Byte() % 48);
  const int sw = 1 + static_cast<int>(r.Byte() % 80), sh = 1 + static_cast<int>(r.Byte() % 24);
  const int bw = 1 + static_cast<int>(r.Byte() % 90), bh = 1 + static_cast<int>(r.Byte() % 28);
  if (InitMemImg(&dst, dw, dh, -1, 0, dst_format, dst_paletted, dst_alpha, 0, nullptr) != 0) return 0;
  const bool have_src = InitMemImg(&src, sw, sh, -1, r.Word() & 0x1FFFF, format, paletted, alpha,
                                   runs != 0 ? 1 : 0, nullptr) == 0;
  const bool have_blend = InitMemImg(&blend, bw, bh, -1, 0, kMemImgByte, 0, 0, 0, nullptr) == 0;

  SoftDrawState& state = SoftDraw();
  state.blend_mode = r.Byte() % 14;
  state.blend_param = static_cast<int32_t>(r.Byte());
  state.bright = r.Word() & 0xFFFFFF;
  state.clip = {r.Short() % 64, r.Short() % 64, r.Short() % 64, r.Short() % 64};
  const MEMIMG* blend_image = with_blend && have_blend ? &blend : nullptr;

  // The geometry first, then the pixels, so short inputs still draw.
  int32_t xs[3], ys[3];
  for (int k = 0; k < 3; ++k) {
    xs[k] = r.Coord();
    ys[k] = r.Coord();
  }
  const int vx = static_cast<int>(r.Byte() % 8), vy = static_cast<int>(r.Byte() % 8);
  if (have_src) {
    FillFrom(&src, r);
    if (src.base->palette != nullptr)
      for (int i = 0; i < 2048; ++i) src.base->palette[i] = static_cast<uint8_t>(i * 7);
    if (runs == 1) {
      BuildMemImgRunTable(src.base);
    } else if (runs == 2 && src.base->run_table != nullptr) {
      const size_t n = static_cast<size_t>(sw + 5) * static_cast<size_t>(sh);
      for (size_t i = 0; i < n; ++i) src.base->run_table[i] = static_cast<uint8_t>(r.Byte());
      src.base->run_table_valid = 1;
    }
    if (use_view) DeriveMemImg(&view, &src, vx, vy, sw - vx, sh - vy);
  }
  if (have_blend) FillFrom(&blend, r);

  if (have_src) {
    const MEMIMG* source = use_view && IsValidMemImg(&view) ? &view : &src;
    for (int k = 0; k < 3; ++k) DrawMemImgBasic(&dst, source, xs[k], ys[k], trans, blend_image);
  }
  ReleaseMemImg(&view);
  ReleaseMemImg(&blend);
  ReleaseMemImg(&src);
  ReleaseMemImg(&dst);
  return 0;
}
