// lib/softrender/xform_triangle.cpp - the textured triangle: one triangle of
// a source image mapped affinely onto a destination, or filled with one
// colour when no source is given.
//
// Positions are 14.18 fixed point (2^18 per pixel). Vertex x and y get half a
// pixel added so that truncation toward zero picks the nearest pixel; every
// conversion back to whole pixels truncates toward zero, not down, which the
// rows of triangles above the top edge show.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "lib/core/number_helpers.h"
#include "lib/softrender/soft_kernels.h"
#include "lib/softrender/xform_context.h"
#include "lib/softrender/xform_dispatch.h"
#include "lib/softrender/xform_vector_rows.h"

namespace {

using namespace softxform;

constexpr int32_t kOne = 1 << 18;
constexpr int32_t kHalf = 1 << 17;

// 14.18 arithmetic wraps in 32 bits.
inline int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline uint32_t WrapMul(int32_t a, int32_t b) { return static_cast<uint32_t>(a) * static_cast<uint32_t>(b); }

struct Edge {
  int32_t x = 0;
  int32_t slope = 0;
  int32_t rows = 0;
  // The lower segment, taken when rows first runs out.
  int32_t low_x = 0;
  int32_t low_slope = 0;
  int32_t low_rows = 0;
  int32_t low_start_row = 0;  // left edge only
  bool done = true;           // no lower segment, or already taken
};

// Steps both edges to the next row, taking each one's lower segment when its
// upper runs out; false when an edge has no rows left.
bool NextRow(Edge* left, Edge* right, int32_t* y) {
  left->x = WrapAdd(left->x, left->slope);
  right->x = WrapAdd(right->x, right->slope);
  ++*y;
  --left->rows;
  --right->rows;
  if (left->rows == 0) {
    if (left->done) return false;
    left->done = true;
    left->x = left->low_x;
    left->slope = left->low_slope;
    left->rows = left->low_rows;
    *y = left->low_start_row;
  }
  if (right->rows == 0) {
    if (right->done) return false;
    right->done = true;
    right->x = right->low_x;
    right->slope = right->low_slope;
    right->rows = right->low_rows;
  }
  return true;
}

struct Frame {
  // Texture gradients and their origin.
  int32_t origin_x = 0, origin_y = 0;
  uint32_t origin_u = 0, origin_v = 0;
  int32_t dudx = 0, dudy = 0, dvdx = 0, dvdy = 0;
  Edge left, right;
  int32_t y = 0;
  uint8_t* dst = nullptr;
  ptrdiff_t dst_pitch = 0;
  IntRect clip{};
  const uint8_t* src = nullptr;
  ptrdiff_t src_pitch = 0;
  uint32_t src_w = 0, src_h = 0;  // in 14.18
  const uint8_t* blend = nullptr;
  ptrdiff_t blend_pitch = 0;
};

// The first column and the pixel count of a row between the edges, its left
// end clipped; false when the row draws nothing. The walk stops early at the
// clip's right edge.
bool RowSpan(const Edge& left, const Edge& right, int32_t y, const IntRect& clip, int32_t* first, int32_t* count) {
  int32_t l = left.x / kOne;
  const int32_t r = right.x / kOne;
  int32_t n = r - l;
  if (l < clip.left) {
    n -= clip.left - l;
    l = clip.left;
  }
  n += 1;
  *first = l;
  *count = n;
  return y >= clip.top && y < clip.bottom && l < clip.right && n > 0;
}

// The row walk shared by every operation. Textured operations test and fetch
// a texel per pixel; fill operations take every visited pixel.
template <class Op, bool kTextured>
void WalkRows(const Frame& f, const OpContext& c) {
  constexpr int kBytes = Op::kDst;
  Edge left = f.left;
  Edge right = f.right;
  int32_t y = f.y;
  const IntRect clip = f.clip;
  for (;;) {
    int32_t l = 0, n = 0;
    if (RowSpan(left, right, y, clip, &l, &n)) {
      uint8_t* p = f.dst + static_cast<ptrdiff_t>(y) * f.dst_pitch + static_cast<ptrdiff_t>(l) * kBytes;
      int32_t x = l;
      if constexpr (kTextured) {
        // Evaluated afresh on every row, so nothing accumulates down the rows.
        uint32_t u = f.origin_u + WrapMul(l - f.origin_x, f.dudx) + WrapMul(y - f.origin_y, f.dudy);
        uint32_t v = f.origin_v + WrapMul(l - f.origin_x, f.dvdx) + WrapMul(y - f.origin_y, f.dvdy);
        const uint32_t du = static_cast<uint32_t>(f.dudx);
        const uint32_t dv = static_cast<uint32_t>(f.dvdx);
        do {
          if (u < f.src_w && v < f.src_h) {
            const uint32_t row = v >> 18;
            const uint8_t* blend_row = nullptr;
            if (f.blend != nullptr) blend_row = f.blend + static_cast<ptrdiff_t>(row) * f.blend_pitch;
            Op::Apply(c, p, f.src + static_cast<ptrdiff_t>(row) * f.src_pitch, blend_row, u >> 18);
          }
          u += du;
          v += dv;
          ++x;
          p += kBytes;
          --n;
        } while (n != 0 && x != clip.right);
      } else {
        do {
          Op::Apply(c, p);
          ++x;
          p += kBytes;
          --n;
        } while (n != 0 && x != clip.right);
      }
    }
    if (!NextRow(&left, &right, &y)) break;
  }
}

// WalkRows for the vector form: the same rows and spans, each span's texels
// drawn by one vector row.
void WalkRowsVector(const Frame& f, alpharows::RowFn row, uint32_t param, int dst_bytes) {
  Edge left = f.left;
  Edge right = f.right;
  int32_t y = f.y;
  const IntRect clip = f.clip;
  for (;;) {
    int32_t l = 0, n = 0;
    if (RowSpan(left, right, y, clip, &l, &n)) {
      // The scalar walk stops after n pixels or at the clip's right edge.
      const int32_t count = n < clip.right - l ? n : clip.right - l;
      uint8_t* p = f.dst + static_cast<ptrdiff_t>(y) * f.dst_pitch + static_cast<ptrdiff_t>(l) * dst_bytes;
      const uint32_t u = f.origin_u + WrapMul(l - f.origin_x, f.dudx) + WrapMul(y - f.origin_y, f.dudy);
      const uint32_t v = f.origin_v + WrapMul(l - f.origin_x, f.dvdx) + WrapMul(y - f.origin_y, f.dvdy);
      const uint8_t* src = f.src;
      const ptrdiff_t pitch = f.src_pitch;
      DrawTexelRow(row, param, p, dst_bytes, count, u, v, static_cast<uint32_t>(f.dudx), static_cast<uint32_t>(f.dvdx),
                   f.src_w, f.src_h, [src, pitch](uint32_t rr) { return src + static_cast<ptrdiff_t>(rr) * pitch; });
    }
    if (!NextRow(&left, &right, &y)) break;
  }
}

bool InRange(int32_t v) { return v >= -kMaxCoordinate && v <= kMaxCoordinate; }

// Exchange sort of three vertex indices by key; equal keys never swap.
void SortIndices(const int32_t key[3], int order[3]) {
  order[0] = 0;
  order[1] = 1;
  order[2] = 2;
  for (int i = 0; i < 2; ++i) {
    for (int j = i + 1; j < 3; ++j) {
      if (key[order[i]] > key[order[j]]) {
        const int t = order[i];
        order[i] = order[j];
        order[j] = t;
      }
    }
  }
}

// Geometry of the triangle: gradients and edges. false when nothing is drawn.
bool SetUpFrame(const TriangleVertex* verts, bool textured, Frame* f) {
  for (int i = 0; i < 3; ++i) {
    if (!InRange(verts[i].x) || !InRange(verts[i].y)) return false;
    if (textured && (!InRange(verts[i].u) || !InRange(verts[i].v))) return false;
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = i + 1; j < 3; ++j) {
      if (!InRange(verts[i].x - verts[j].x) || !InRange(verts[i].y - verts[j].y)) return false;
    }
  }
  int32_t xs[3], ys[3];
  for (int i = 0; i < 3; ++i) {
    xs[i] = verts[i].x * kOne + kHalf;
    ys[i] = verts[i].y * kOne + kHalf;
  }
  int by_x[3], by_y[3];
  SortIndices(xs, by_x);
  SortIndices(ys, by_y);

  // Gradients, from the vertex with the least x. The 14.18 differences are
  // whole pixels, so the vertex differences serve directly.
  const TriangleVertex& a = verts[by_x[0]];
  const TriangleVertex& b = verts[by_x[1]];
  const TriangleVertex& cc = verts[by_x[2]];
  const int32_t dxb = b.x - a.x, dyb = b.y - a.y, dxc = cc.x - a.x, dyc = cc.y - a.y;
  const int32_t d = dyb * dxc - dyc * dxb;
  if (d == 0) return false;
  if (textured) {
    const int32_t dub = b.u - a.u, dvb = b.v - a.v, duc = cc.u - a.u, dvc = cc.v - a.v;
    const double dd = static_cast<double>(d);
    f->dudx = DoubleToInt(static_cast<double>(dyb * duc - dyc * dub) * 262144.0 / dd);
    f->dudy = DoubleToInt(static_cast<double>(dub * dxc - dxb * duc) * 262144.0 / dd);
    f->dvdx = DoubleToInt(static_cast<double>(dyb * dvc - dvb * dyc) * 262144.0 / dd);
    f->dvdy = DoubleToInt(static_cast<double>(dvb * dxc - dvc * dxb) * 262144.0 / dd);
    f->origin_u = static_cast<uint32_t>(a.u) << 18;
    f->origin_v = static_cast<uint32_t>(a.v) << 18;
  }
  f->origin_x = xs[by_x[0]] / kOne;
  f->origin_y = ys[by_x[0]] / kOne;

  // Edges by the shape of the y order.
  const int t = by_y[0], m = by_y[1], bt = by_y[2];
  const int32_t xt = xs[t], xm = xs[m], xb = xs[bt];
  const int32_t yt = ys[t], ym = ys[m], yb = ys[bt];
  Edge& left = f->left;
  Edge& right = f->right;
  left = Edge{};
  right = Edge{};
  if (yt == ym) {
    // Flat top: the top two vertices start the edges.
    const int32_t rows = (yb - yt) / kOne;
    const int32_t left_x = xt > xm ? xm : xt;
    const int32_t right_x = xt > xm ? xt : xm;
    left.x = left_x;
    left.slope = (xb - left_x) / rows;
    left.rows = rows;
    right.x = right_x;
    right.slope = (xb - right_x) / rows;
    right.rows = rows;
  } else if (ym == yb) {
    // Flat bottom: both edges start at the top vertex.
    const int32_t rows = (ym - yt) / kOne;
    const int32_t left_end = xm > xb ? xb : xm;
    const int32_t right_end = xm > xb ? xm : xb;
    left.x = xt;
    left.slope = (left_end - xt) / rows;
    left.rows = rows;
    right.x = xt;
    right.slope = (right_end - xt) / rows;
    right.rows = rows;
  } else {
    const double s_mid = static_cast<double>(xm - xt) / (static_cast<double>(ym - yt) * (1.0 / 262144.0));
    const double s_bot = static_cast<double>(xb - xt) / (static_cast<double>(yb - yt) * (1.0 / 262144.0));
    const int32_t rows1 = (ym - yt) / kOne;
    const int32_t rows2 = (yb - ym) / kOne;
    const int32_t rows3 = (yb - yt) / kOne;
    Edge& bent = s_mid < s_bot ? left : right;
    Edge& straight = s_mid < s_bot ? right : left;
    bent.x = xt;
    bent.slope = (xm - xt) / rows1;
    bent.rows = rows1;
    bent.done = false;
    if (s_mid < s_bot) {
      bent.low_x = xm;
      bent.low_start_row = ym / kOne;
    } else {
      // One 14.18 unit right of the middle vertex.
      bent.low_x = xm + 1;
    }
    bent.low_slope = (xb - bent.low_x) / rows2;
    bent.low_rows = rows2;
    straight.x = xt;
    straight.slope = (xb - xt) / rows3;
    straight.rows = rows3;
  }
  f->y = yt / kOne;
  return true;
}

void DrawFilled(MEMIMG* dst, const TriangleVertex* verts, uint32_t colour) {
  const SoftDrawState& state = SoftDraw();
  const bool is32 = dst->base->pixel_format == kMemImg32;
  const int mode = EffectiveFillMode(state.blend_mode, ClampedParam(state));
  if (mode < 0) return;
  Frame f;
  if (!SetUpFrame(verts, false, &f)) return;
  f.dst = dst->pixels;
  f.dst_pitch = dst->base->pitch;
  f.clip = ClipInside(state, dst);
  if (f.clip.right <= f.clip.left || f.clip.bottom <= f.clip.top) return;

  OpContext c = MakeOpContext(state, nullptr);
  if (is32) {
    c.fill = c.mul_b[colour & 0xFF] | (c.mul_g[(colour >> 8) & 0xFF] << 8) | (c.mul_r[(colour >> 16) & 0xFF] << 16) |
             (colour & 0xFF000000u);
    c.fill_s = c.mul_p[c.fill & 0xFF] | (c.mul_p[(c.fill >> 8) & 0xFF] << 8) | (c.mul_p[(c.fill >> 16) & 0xFF] << 16);
  } else {
    // Only the low 16 bits are an RGB565 colour; higher bits would run into
    // the red field's table index.
    const uint32_t c16 = colour & 0xFFFFu;
    const uint32_t r = c.mul_r[c16 >> 11], g = c.mul_g[(c16 >> 5) & 63], b = c.mul_b[c16 & 31];
    c.fill = (r << 11) | (g << 5) | b;
    c.fill_s = (c.mul_p[r] << 11) | (c.mul_p[g] << 5) | c.mul_p[b];
  }
  VisitFillOp(is32 ? Family::kFill32 : Family::kFill16, mode,
              [&]<class Op>() { WalkRows<Op, false>(f, c); });
}

}  // namespace

void DrawMemImgTexturedTriangle(MEMIMG* dst, const MEMIMG* src, const TriangleVertex* verts, int trans,
                                const MEMIMG* blend, uint32_t colour) {
  if (!UsableDestination(dst) || verts == nullptr) return;
  if (src == nullptr) {
    DrawFilled(dst, verts, colour);
    return;
  }
  if (!UsableImage(src)) return;
  const MemImgBase* sb = src->base;
  if (sb->pixel_format != dst->base->pixel_format) return;
  if (src->width > kMaxCoordinate || src->height > kMaxCoordinate) return;
  const Family family = SourceFamily(src);
  const bool paletted = family == Family::kPal32 || family == Family::kPal16;
  if (paletted && sb->palette == nullptr) return;
  if (blend != nullptr && !BlendImageCovers(blend, src)) return;

  const SoftDrawState& state = SoftDraw();
  const int mode = EffectiveMode(state.blend_mode, ClampedParam(state), paletted);
  if (mode < 0) return;

  Frame f;
  if (!SetUpFrame(verts, true, &f)) return;
  f.dst = dst->pixels;
  f.dst_pitch = dst->base->pitch;
  f.clip = ClipInside(state, dst);
  if (f.clip.right <= f.clip.left || f.clip.bottom <= f.clip.top) return;
  f.src = src->pixels;
  f.src_pitch = sb->pitch;
  f.src_w = static_cast<uint32_t>(src->width) << 18;
  f.src_h = static_cast<uint32_t>(src->height) << 18;
  if (blend != nullptr) {
    f.blend = blend->pixels;
    f.blend_pitch = blend->base->pitch;
  }
  const OpContext c = MakeOpContext(state, src);
  if (const alpharows::RowFn row = TexelRow(dst, src, blend != nullptr, BrightIsWhite(state), mode, trans != 0)) {
    WalkRowsVector(f, row, c.p, dst->base->pixel_format == kMemImg32 ? 4 : 2);
    return;
  }
  VisitPixelOp(family, mode, blend != nullptr, BrightIsWhite(state), sb->alpha == 1, trans != 0,
               [&]<class Op>() { WalkRows<Op, true>(f, c); });
}
