// lib/softrender/xform_rotation.cpp - the rotated and scaled blit: the whole
// source turned by an angle and scaled about a destination point, walked over
// the destination and mapped back into the source in 14.18 fixed point; and
// its mirrored form, drawn as two textured triangles.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lib/core/math3d.h"
#include "lib/core/number_helpers.h"
#include "lib/softrender/soft_kernels.h"
#include "lib/softrender/xform_context.h"
#include "lib/softrender/xform_dispatch.h"
#include "lib/softrender/xform_vector_rows.h"

namespace {

using namespace softxform;

constexpr int32_t kOne = 1 << 18;

inline int32_t Wrap(uint32_t v) { return static_cast<int32_t>(v); }
inline int32_t WrapAdd(int32_t a, int32_t b) { return Wrap(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline int32_t WrapSub(int32_t a, int32_t b) { return Wrap(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
inline int32_t WrapMul(int32_t a, int32_t b) { return Wrap(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }

// Row tables: the first pixel of every source row and every blend-image row,
// so the walk finds a texel's row without a multiplication. Rewritten by each
// call that reaches the walk; they grow with the tallest image drawn.
std::vector<const uint8_t*> g_source_rows;
std::vector<const uint8_t*> g_blend_rows;

void FillRows(std::vector<const uint8_t*>* rows, const MEMIMG* image) {
  const size_t height = static_cast<size_t>(image->height);
  if (rows->size() < height) rows->resize(height);
  const uint8_t* row = image->pixels;
  const ptrdiff_t pitch = image->base->pitch;
  for (size_t i = 0; i < height; ++i, row += pitch) (*rows)[i] = row;
}

struct Walk {
  uint8_t* dst = nullptr;  // first pixel of the box's top row
  ptrdiff_t dst_pitch = 0;
  int32_t rows = 0, cols = 0;
  uint32_t u = 0, v = 0;    // source position of the box's top-left pixel
  uint32_t du = 0, dv = 0;  // per pixel
  uint32_t u_corr = 0, v_corr = 0;  // at the end of a row
  uint32_t src_w = 0, src_h = 0;    // in 14.18
  const uint8_t* const* src_rows = nullptr;
  const uint8_t* const* blend_rows = nullptr;
};

template <class Op>
void WalkBox(const Walk& w, const OpContext& c) {
  constexpr int kBytes = Op::kDst;
  uint32_t u = w.u, v = w.v;
  for (int32_t i = 0; i < w.rows; ++i) {
    uint8_t* p = w.dst + static_cast<ptrdiff_t>(i) * w.dst_pitch;
    for (int32_t j = 0; j < w.cols; ++j, p += kBytes) {
      // Unsigned tests: a negative position fails as well.
      if (u < w.src_w && v < w.src_h) {
        const uint32_t row = v >> 18;
        Op::Apply(c, p, w.src_rows[row], w.blend_rows != nullptr ? w.blend_rows[row] : nullptr, u >> 18);
      }
      u += w.du;
      v += w.dv;
    }
    u += w.u_corr;
    v += w.v_corr;
  }
}

inline int32_t ToPixel(int32_t v) { return v / kOne; }

// num / scale rounded once to single precision. A 14.18 product needs more
// bits than a float holds, so it is divided in double precision, where both
// operands are exact; the double quotient, rounded to single precision, is
// then the quotient rounded once (a double carries more than twice the
// float's bits, so the second rounding cannot move it).
inline float SingleQuotient(int32_t num, float scale) {
  return static_cast<float>(static_cast<double>(num) / static_cast<double>(scale));
}

// Clamps before the margin is added so that no corner can overflow it.
inline int32_t Tame(int32_t v) { return v < -(1 << 30) ? -(1 << 30) : (v > (1 << 30) ? (1 << 30) : v); }

}  // namespace

void DrawMemImgRotation(MEMIMG* dst, const MEMIMG* src, int x, int y, float angle, float scale, int trans,
                        int turn, const MEMIMG* blend) {
  if (!UsableDestination(dst) || !UsableImage(src)) return;
  const MemImgBase* sbase = src->base;
  if (sbase->pixel_format != dst->base->pixel_format) return;
  // Sizes and the centre must fit 14.18; a turn or scale that is not a number
  // has no image to draw.
  if (src->width > kMaxCoordinate || src->height > kMaxCoordinate) return;
  if (x < -kMaxCoordinate || x > kMaxCoordinate || y < -kMaxCoordinate || y > kMaxCoordinate) return;
  if (!std::isfinite(angle) || !std::isfinite(scale)) return;

  float sin_neg, cos_neg, sin_pos, cos_pos;
  SinCosF(-angle, &sin_neg, &cos_neg);
  SinCosF(angle, &sin_pos, &cos_pos);
  const int32_t sb = FloatToInt(sin_neg * 262144.0f);
  const int32_t cb = FloatToInt(cos_neg * 262144.0f);
  const int32_t sa = FloatToInt(sin_pos * 262144.0f);
  const int32_t ca = FloatToInt(cos_pos * 262144.0f);

  const uint32_t width = static_cast<uint32_t>(src->width);
  const uint32_t height = static_cast<uint32_t>(src->height);
  const float hw = static_cast<float>(width) * scale * 0.5f;
  const float hh = static_cast<float>(height) * scale * 0.5f;
  const float fa = static_cast<float>(ca) * hw;
  const float fb = static_cast<float>(sa) * hw;
  const float fd = static_cast<float>(ca) * hh;
  const float fe = static_cast<float>(sa) * hh;

  const int32_t cx = x * kOne;
  const int32_t cy = y * kOne;
  const float neg_a = -fa;
  const float neg_d = -fd;
  // Top-left, bottom-left, bottom-right, top-right.
  const int32_t px[4] = {WrapAdd(cx, FloatToInt(fe - fa)), WrapAdd(cx, FloatToInt(neg_a - fe)),
                         WrapAdd(cx, FloatToInt(fa - fe)), WrapAdd(cx, FloatToInt(fa + fe))};
  const int32_t py[4] = {WrapAdd(cy, FloatToInt(neg_d - fb)), WrapAdd(cy, FloatToInt(fd - fb)),
                         WrapAdd(cy, FloatToInt(fd + fb)), WrapAdd(cy, FloatToInt(fb - fd))};

  if (turn != 0) {
    // Mirrored: the source's left edge goes to the turned right edge.
    const int32_t corners[8] = {ToPixel(px[3]), ToPixel(py[3]), ToPixel(px[0]), ToPixel(py[0]),
                                ToPixel(px[2]), ToPixel(py[2]), ToPixel(px[1]), ToPixel(py[1])};
    DrawMemImgRotaSetup(dst, src, corners, trans, blend);
    return;
  }

  const Family family = SourceFamily(src);
  const bool paletted = family == Family::kPal32 || family == Family::kPal16;
  if (paletted && sbase->palette == nullptr) return;
  if (blend != nullptr && !BlendImageCovers(blend, src)) return;
  const SoftDrawState& state = SoftDraw();
  const int mode = EffectiveMode(state.blend_mode, ClampedParam(state), paletted);
  if (mode < 0) return;

  const int32_t du = FloatToInt(static_cast<float>(ca) / scale);
  const int32_t dv = FloatToInt(static_cast<float>(sb) / scale);

  int32_t min_x = ToPixel(px[0]), max_x = min_x, min_y = ToPixel(py[0]), max_y = min_y;
  for (int i = 1; i < 4; ++i) {
    const int32_t cxp = ToPixel(px[i]), cyp = ToPixel(py[i]);
    if (cxp < min_x) min_x = cxp;
    if (cxp > max_x) max_x = cxp;
    if (cyp < min_y) min_y = cyp;
    if (cyp > max_y) max_y = cyp;
  }
  IntRect box{min_x - 2, min_y - 2, max_x + 4, max_y + 4};
  const IntRect clip = ClipInside(state, dst);
  ClipRect(&box, &clip);
  if (box.right == box.left || box.bottom == box.top) return;
  const bool flat = py[0] == py[1] && py[1] == py[2] && py[2] == py[3];
  const int32_t rows = flat ? 0 : box.bottom - box.top;
  if (rows <= 0) return;
  const int32_t cols = box.right - box.left;

  // Source position of the box's left column on its top and (exclusive)
  // bottom row; the rows in between step evenly.
  const int32_t dx = box.left - x;
  const int32_t u_centre = static_cast<int32_t>((width >> 1) << 18);
  const int32_t v_centre = static_cast<int32_t>((height >> 1) << 18);
  auto u_at = [&](int32_t r) {
    const int32_t dy = r - y;
    const int32_t num = WrapSub(WrapMul(dx, cb), WrapMul(dy, sb));
    return WrapAdd(FloatToInt(SingleQuotient(num, scale)), u_centre);
  };
  auto v_at = [&](int32_t r) {
    const int32_t dy = r - y;
    const int32_t num = WrapAdd(WrapMul(dy, cb), WrapMul(dx, sb));
    return WrapAdd(FloatToInt(SingleQuotient(num, scale)), v_centre);
  };
  const int32_t u_top = u_at(box.top), v_top = v_at(box.top);
  const int32_t du_row = WrapSub(u_at(box.bottom), u_top) / rows;
  const int32_t dv_row = WrapSub(v_at(box.bottom), v_top) / rows;

  Walk w;
  w.dst_pitch = dst->base->pitch;
  w.dst = dst->pixels + static_cast<ptrdiff_t>(box.top) * w.dst_pitch +
          static_cast<ptrdiff_t>(box.left) * (dst->base->pixel_format == kMemImg32 ? 4 : 2);
  w.rows = rows;
  w.cols = cols;
  w.u = static_cast<uint32_t>(u_top);
  w.v = static_cast<uint32_t>(v_top);
  w.du = static_cast<uint32_t>(du);
  w.dv = static_cast<uint32_t>(dv);
  w.u_corr = static_cast<uint32_t>(WrapSub(du_row, WrapMul(cols, du)));
  w.v_corr = static_cast<uint32_t>(WrapSub(dv_row, WrapMul(cols, dv)));
  w.src_w = width << 18;
  w.src_h = height << 18;

  FillRows(&g_source_rows, src);
  w.src_rows = g_source_rows.data();
  if (blend != nullptr) {
    FillRows(&g_blend_rows, blend);
    w.blend_rows = g_blend_rows.data();
  }
  const OpContext c = MakeOpContext(state, src);
  if (const alpharows::RowFn row = TexelRow(dst, src, blend != nullptr, BrightIsWhite(state), mode, trans != 0)) {
    uint32_t u = w.u, v = w.v;
    const uint8_t* const* rows_at = w.src_rows;
    const int dst_bytes = dst->base->pixel_format == kMemImg32 ? 4 : 2;
    for (int32_t i = 0; i < w.rows; ++i) {
      DrawTexelRow(row, c.p, w.dst + static_cast<ptrdiff_t>(i) * w.dst_pitch, dst_bytes, w.cols, u, v, w.du, w.dv,
                   w.src_w, w.src_h, [rows_at](uint32_t r) { return rows_at[r]; });
      // The walk's position after the row: cols steps, then the correction.
      u += static_cast<uint32_t>(w.cols) * w.du + w.u_corr;
      v += static_cast<uint32_t>(w.cols) * w.dv + w.v_corr;
    }
    return;
  }
  VisitPixelOp(family, mode, blend != nullptr, BrightIsWhite(state), sbase->alpha == 1, trans != 0,
               [&]<class Op>() { WalkBox<Op>(w, c); });
}

void DrawMemImgRotaSetup(MEMIMG* dst, const MEMIMG* src, const int32_t* corners, int trans, const MEMIMG* blend) {
  if (!UsableDestination(dst) || !UsableImage(src) || corners == nullptr) return;
  int32_t min_x = Tame(corners[0]), max_x = min_x, min_y = Tame(corners[1]), max_y = min_y;
  for (int i = 1; i < 4; ++i) {
    const int32_t cx = Tame(corners[2 * i]), cy = Tame(corners[2 * i + 1]);
    if (cx < min_x) min_x = cx;
    if (cx > max_x) max_x = cx;
    if (cy < min_y) min_y = cy;
    if (cy > max_y) max_y = cy;
  }
  IntRect box{min_x - 2, min_y - 2, max_x + 4, max_y + 4};
  const IntRect clip = ClipInside(SoftDraw(), dst);
  ClipRect(&box, &clip);
  if (box.right == box.left || box.bottom == box.top) return;
  // The triangles clip by themselves; the box only tells an empty draw.
  const TriangleVertex v[4] = {{corners[0], corners[1], 0, 0},
                               {corners[2], corners[3], src->width, 0},
                               {corners[4], corners[5], 0, src->height},
                               {corners[6], corners[7], src->width, src->height}};
  DrawMemImgTexturedTriangle(dst, src, &v[0], trans, blend, 0);
  DrawMemImgTexturedTriangle(dst, src, &v[1], trans, blend, 0);
}
