// libFuzzer target: the textured triangle, the filled triangle and the
// rotated blit over arbitrary geometry, images, blend state and clip
// rectangles. Every write must stay inside the destination and every read
// inside the source, the blend image and the palette.
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
  static const bool built = (BuildSoftBlendTables(), BuildBlendImageWeightTable(100, 40), true);
  (void)built;
  Reader r{data, size};
  const uint32_t flags = r.Byte();
  const int format = (flags & 1) ? kMemImg32 : kMemImgRgb565;
  const int paletted = (flags >> 1) & 1;
  const int alpha = (flags >> 2) & 1;
  const bool with_blend = (flags >> 3) & 1;
  const int trans = (flags >> 4) & 1;
  const int turn = (flags >> 5) & 1;
  const int src_format = (flags >> 6) & 1 ? format : (r.Byte() & 3);

  MEMIMG dst, src, blend;
  std::memset(&dst, 0, sizeof(dst));
  std::memset(&src, 0, sizeof(src));
  std::memset(&blend, 0, sizeof(blend));
  const int dw = 1 + static_cast<int>(r.Byte() % 48), dh = 1 + static_cast<int>(r.Byte() % 48);
  const int sw = static_cast<int>(r.Byte() % 24), sh = static_cast<int>(r.Byte() % 24);
  const int bw = static_cast<int>(r.Byte() % 28), bh = static_cast<int>(r.Byte() % 28);
  if (InitMemImg(&dst, dw, dh, -1, 0, format, 0, 0, 0, nullptr) != 0) return 0;
  const bool have_src = InitMemImg(&src, sw, sh, -1, r.Word(), src_format, paletted, alpha, 0, nullptr) == 0;
  const bool have_blend = InitMemImg(&blend, bw, bh, -1, 0, kMemImgByte, 0, 0, 0, nullptr) == 0;

  SoftDrawState& state = SoftDraw();
  state.blend_mode = r.Byte() % 14;
  state.blend_param = static_cast<int32_t>(r.Byte());
  state.bright = r.Word() & 0xFFFFFF;
  state.clip = {r.Short() % 64, r.Short() % 64, r.Short() % 64, r.Short() % 64};
  const MEMIMG* blend_image = with_blend && have_blend ? &blend : nullptr;
  const MEMIMG* source = have_src ? &src : nullptr;

  // The geometry first, then the pixels, so short inputs still draw.
  TriangleVertex v[3];
  for (auto& t : v) t = {r.Short() % 200, r.Short() % 200, r.Short() % 64, r.Short() % 64};
  TriangleVertex w[3];
  for (auto& t : w) t = {static_cast<int32_t>(r.Word()), static_cast<int32_t>(r.Word()), r.Short(), r.Short()};
  const uint32_t fill_colour = r.Word();
  const int x = r.Short() % 100, y = r.Short() % 100;
  const float angle = r.Float(), scale = r.Float();
  const int32_t far_x = static_cast<int32_t>(r.Word()), far_y = static_cast<int32_t>(r.Word());
  const float angle2 = static_cast<float>(r.Short()) / 64.0f, scale2 = static_cast<float>(r.Short()) / 256.0f;
  if (have_src) {
    FillFrom(&src, r);
    if (src.base->palette != nullptr)
      for (int i = 0; i < 2048; ++i) src.base->palette[i] = static_cast<uint8_t>(i * 7);
  }
  if (have_blend) FillFrom(&blend, r);

  DrawMemImgTexturedTriangle(&dst, source, v, trans, blend_image, 0);
  DrawMemImgTexturedTriangle(&dst, nullptr, v, trans, nullptr, fill_colour);
  // Unbounded coordinates too: they must be refused or contained.
  DrawMemImgTexturedTriangle(&dst, source, w, trans, blend_image, 0);
  if (source != nullptr) {
    DrawMemImgRotation(&dst, source, x, y, angle, scale, trans, turn, blend_image);
    DrawMemImgRotation(&dst, source, far_x, far_y, angle2, scale2, trans, turn, blend_image);
  }
  ReleaseMemImg(&blend);
  ReleaseMemImg(&src);
  ReleaseMemImg(&dst);
  return 0;
}
