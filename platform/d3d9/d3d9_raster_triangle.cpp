// platform/d3d9/d3d9_raster_triangle.cpp - triangles: the guard-band clip,
// the set-up of edges and planes, and the walk down the rows that hands
// spans to the span loops.
#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/d3d9/d3d9_raster_internal.h"

namespace plat::raster {

namespace {

// The plane through three values at the corners; inv_det is the reciprocal
// of the corners' doubled signed area, shared by the planes of a triangle.
Plane MakePlane(const double* x, const double* y, const double* f, double inv_det) {
  double x10 = x[1] - x[0], y10 = y[1] - y[0], x20 = x[2] - x[0], y20 = y[2] - y[0];
  Plane p;
  double f10 = f[1] - f[0], f20 = f[2] - f[0];
  p.a = (f10 * y20 - f20 * y10) * inv_det;
  p.b = (f20 * x10 - f10 * x20) * inv_det;
  p.c = f[0] - p.a * x[0] - p.b * y[0];
  return p;
}

// Whether every span inside the rows and columns given keeps the positions
// of plane p (stepped by d per pixel) within the lanes' limit. A plane is
// at its extremes at the box's corners; the margin covers a span start's
// rounding to 16.16 and the rounding of the corners' sums.
bool SpanPositionsFit(const Plane& p, int64_t d, int64_t col0, int64_t col1, int64_t row0, int64_t row1) {
  const double lim = double(kLanePositionLimit), ad = std::fabs(double(d));
  if (!(ad < lim)) return false;
  const double reach = ad * double(col1 - col0) + 4.0;
  for (int64_t y : {row0, row1}) {
    for (int64_t x : {col0, col1}) {
      if (!(std::fabs(p.At(double(x), double(y)) * 65536.0) + reach < lim)) return false;  // NaN too
    }
  }
  return true;
}

}  // namespace

RasterVertex LerpVertex(const RasterVertex& a, const RasterVertex& b, double t, int sets) {
  RasterVertex r = a;
  r.x = float(a.x + (b.x - a.x) * t);
  r.y = float(a.y + (b.y - a.y) * t);
  r.z = float(a.z + (b.z - a.z) * t);
  r.rhw = float(a.rhw + (b.rhw - a.rhw) * t);
  for (int s = 0; s < sets; s++)
    for (int k = 0; k < 2; k++) r.tex[s][k] = float(a.tex[s][k] + (b.tex[s][k] - a.tex[s][k]) * t);
  uint32_t dc = 0, sc = 0;
  for (int i = 0; i < 4; i++) {
    dc |= Clamp255(int(std::lround(Ch(a.diffuse, i) + (double(Ch(b.diffuse, i)) - Ch(a.diffuse, i)) * t))) << (8 * i);
    sc |= Clamp255(int(std::lround(Ch(a.specular, i) + (double(Ch(b.specular, i)) - Ch(a.specular, i)) * t))) << (8 * i);
  }
  r.diffuse = dc;
  r.specular = sc;
  return r;
}

// Cuts a triangle that reaches beyond the guard band down to it, so that
// the fixed-point edge functions cannot overflow.
void ClipToGuardBand(const DrawConfig& c, const RasterVertex& a, const RasterVertex& b, const RasterVertex& d) {
  // Each side adds one corner to a convex polygon: seven at most, with room
  // to spare for rounding; held without allocating (this runs on the band
  // workers).
  constexpr size_t kMaxCorners = 16;
  RasterVertex poly[kMaxCorners] = {a, b, d}, next[kMaxCorners];
  size_t size = 3;
  for (int side = 0; side < 4; side++) {
    size_t made = 0;
    auto inside = [side](const RasterVertex& v) {
      switch (side) {
        case 0: return v.x >= -kGuardBand;
        case 1: return v.x <= kGuardBand;
        case 2: return v.y >= -kGuardBand;
        default: return v.y <= kGuardBand;
      }
    };
    auto cross = [side](const RasterVertex& p, const RasterVertex& q) {
      double bound = (side & 1) ? kGuardBand : -kGuardBand;
      double pv = side < 2 ? p.x : p.y, qv = side < 2 ? q.x : q.y;
      return (bound - pv) / (qv - pv);
    };
    for (size_t i = 0; i < size && made + 2 <= kMaxCorners; i++) {
      const RasterVertex& p = poly[i];
      const RasterVertex& q = poly[(i + 1) % size];
      bool pin = inside(p), qin = inside(q);
      if (pin) next[made++] = p;
      if (pin != qin) next[made++] = LerpVertex(p, q, cross(p, q), c.tex_sets);
    }
    std::copy(next, next + made, poly);
    size = made;
    if (size < 3) return;
  }
  for (size_t i = 1; i + 1 < size; i++) RasterTriangle(c, poly[0], poly[i], poly[i + 1], a.diffuse, a.specular);
}

// Sets a triangle up for the rows of c's clip rectangle; false when it
// draws nothing there. The set-up keeps a pointer to c.
bool PrepareTriangle(const DrawConfig& c, const RasterVertex& v0, const RasterVertex& v1, const RasterVertex& v2,
                     uint32_t provoking_diffuse, uint32_t provoking_specular, TriPrep* p) {
  const RasterVertex* v[3] = {&v0, &v1, &v2};
  int64_t X[3], Y[3];
  for (int i = 0; i < 3; i++) {
    X[i] = SnapToGrid(v[i]->x);
    Y[i] = SnapToGrid(v[i]->y);
  }
  int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
  if (area == 0) return false;
  // Positive area is clockwise on screen (y grows downwards).
  if (c.cull == D3DCULL_CW && area > 0) return false;
  if (c.cull == D3DCULL_CCW && area < 0) return false;
  if (area < 0) {
    std::swap(v[1], v[2]);
    std::swap(X[1], X[2]);
    std::swap(Y[1], Y[2]);
  }
  // Edge i runs from vertex i to vertex i+1; inside is A*X + B*Y + C >= bias.
  int64_t A[3], B[3], C[3], bias[3];
  for (int i = 0; i < 3; i++) {
    int j = (i + 1) % 3;
    A[i] = -(Y[j] - Y[i]);
    B[i] = X[j] - X[i];
    C[i] = -(A[i] * X[i] + B[i] * Y[i]);
    bool top_left = A[i] > 0 || (A[i] == 0 && B[i] > 0);
    bias[i] = top_left ? 0 : 1;
  }
  int64_t minY = std::min({Y[0], Y[1], Y[2]}), maxY = std::max({Y[0], Y[1], Y[2]});
  int64_t minX = std::min({X[0], X[1], X[2]}), maxX = std::max({X[0], X[1], X[2]});
  int64_t row0 = std::max<int64_t>(CeilDiv(minY, 256), c.clip.top);
  int64_t row1 = std::min<int64_t>(FloorDiv(maxY, 256), c.clip.bottom - 1);
  int64_t col0 = std::max<int64_t>(CeilDiv(minX, 256), c.clip.left);
  int64_t col1 = std::min<int64_t>(FloorDiv(maxX, 256), c.clip.right - 1);
  if (row0 > row1 || col0 > col1) return false;

  // Each row's span is the columns inside all three edges. An edge with
  // A > 0 bounds it from the left at the least x with a * x + K >= 0 (a =
  // 256 A, K = B * 256 * row + C - bias), that is floor((a - 1 - K) / a); an
  // edge with A < 0 from the right at the greatest, floor(K / -a); a
  // horizontal edge keeps the run of rows where K >= 0. The bounds are
  // walked from row to row exactly: the quotient and remainder of the
  // numerator, which moves by a fixed step per row. A triangle has one or
  // two edges on each side; a missing one never binds.
  const int64_t box_row0 = row0;
  for (int i = 0; i < 3; i++) {
    if (A[i] != 0) continue;
    const int64_t K = B[i] * (box_row0 * 256) + C[i] - bias[i], step = B[i] * 256;
    if (step > 0) row0 = std::max(row0, box_row0 - FloorDiv(K, step));
    else if (step < 0) row1 = std::min(row1, box_row0 + FloorDiv(K, -step));
    else if (K < 0) return false;
  }
  if (row0 > row1) return false;
  EdgeStep* left = p->left;
  EdgeStep* right = p->right;
  left[0] = left[1] = EdgeStep::Never(col0 - 1);
  right[0] = right[1] = EdgeStep::Never(col1 + 1);
  int lefts = 0, rights = 0;
  for (int i = 0; i < 3; i++) {
    const int64_t a = A[i] * 256, K = B[i] * (row0 * 256) + C[i] - bias[i], step = B[i] * 256;
    if (a > 0) left[lefts++] = EdgeStep::Make(a - 1 - K, -step, a);
    else if (a < 0) right[rights++] = EdgeStep::Make(K, step, -a);
  }
  p->two_left = lefts == 2;
  p->two_right = rights == 2;

  TriSetup& t = p->t;
  t.cfg = &c;
  t.flat = c.flat;
  t.flat_diffuse = provoking_diffuse;
  t.flat_specular = provoking_specular;
  t.affine = v[0]->rhw == v[1]->rhw && v[0]->rhw == v[2]->rhw;
  double px[3], py[3];
  for (int i = 0; i < 3; i++) {
    px[i] = double(X[i]) / 256.0;
    py[i] = double(Y[i]) / 256.0;
  }
  double rhw[3] = {v[0]->rhw, v[1]->rhw, v[2]->rhw};
  double inv_det = 1.0 / ((px[1] - px[0]) * (py[2] - py[0]) - (px[2] - px[0]) * (py[1] - py[0]));
  double f[3];
  if (c.z_test) {
    for (int i = 0; i < 3; i++) f[i] = v[i]->z;
    t.z = MakePlane(px, py, f, inv_det);
  }
  if (!t.affine) t.w = MakePlane(px, py, rhw, inv_det);
  for (int s = 0; s < c.stages; s++) {
    const StageCfg& st = c.st[s];
    if (!st.has_tex) continue;
    int set = st.set < c.tex_sets ? st.set : -1;
    double fu[3], fv[3];
    for (int i = 0; i < 3; i++) {
      double uu = set >= 0 ? v[i]->tex[set][0] : 0.0, vv = set >= 0 ? v[i]->tex[set][1] : 0.0;
      fu[i] = uu * st.smp.view.width * (t.affine ? 1.0 : rhw[i]);
      fv[i] = vv * st.smp.view.height * (t.affine ? 1.0 : rhw[i]);
    }
    t.u[s] = MakePlane(px, py, fu, inv_det);
    t.v[s] = MakePlane(px, py, fv, inv_det);
    t.du[s] = ToFixed(t.u[s].a);
    t.dv[s] = ToFixed(t.v[s].a);
    // Magnification or minification from the texel area one pixel covers.
    double jac = std::fabs(t.u[s].a * t.v[s].b - t.u[s].b * t.v[s].a);
    if (!t.affine) {
      double ww = t.w.At((px[0] + px[1] + px[2]) / 3, (py[0] + py[1] + py[2]) / 3);
      jac = ww != 0 ? jac / (ww * ww) : jac;
    }
    uint32_t filter = jac > 1.0 ? st.smp.min : st.smp.mag;
    t.bilinear[s] = filter == D3DTEXF_LINEAR || filter == D3DTEXF_ANISOTROPIC;
  }
  if (!t.flat) {
    for (int k = 0; k < 8; k++) {
      for (int i = 0; i < 3; i++) {
        uint32_t col = k < 4 ? v[i]->diffuse : v[i]->specular;
        f[i] = double(Ch(col, k & 3)) * (t.affine ? 1.0 : rhw[i]);
      }
      t.col[k] = MakePlane(px, py, f, inv_det);
      t.dcol[k] = ToFixed(t.col[k].a);
    }
  }

  SpanFn& span = p->span;
  span = GenericSpans;
  p->vec = nullptr;
  p->terms = nullptr;
  if (c.fast && t.flat && t.affine) {
    int filter = 0;
    if (c.fast_uses_tex) filter = t.bilinear[0] ? 2 : 1;
    // Diffuse channels the stage does not read count as white, which the
    // rounded product leaves unchanged; without a texture the texel is white
    // too, so the colour is this constant.
    t.fast_diffuse = (provoking_diffuse & c.fast_dmask) | ~c.fast_dmask;
    const bool modulate = t.fast_diffuse != 0xFFFFFFFFu;
    span = PickFast(filter, modulate, c.fast_blend, c.fast_target);
    // When every row fits the vector spans' lanes, the walk hands them over
    // itself, their texel positions filled in, without a check a row.
    const VecSpanFn vec = c.vec_span[filter][modulate];
    if (vec && (filter == 0 || (SpanPositionsFit(t.u[0], t.du[0], col0, col1, row0, row1) &&
                                SpanPositionsFit(t.v[0], t.dv[0], col0, col1, row0, row1))))
      p->vec = vec;
    if (p->vec != nullptr && filter == 1 && c.terms != nullptr) p->terms = c.terms->Find(t.fast_diffuse);
  }
  p->row0 = row0;
  p->row1 = row1;
  p->col0 = col0;
  p->col1 = col1;
  return true;
}

namespace {

// How the walk hands its rows over: to the triangle's span function, or
// straight to the vector spans, with or without texel positions, or to the
// term spans, with positions in the term table.
enum class Handover { kSpans, kVector, kVectorTextured, kTerms };

// Draws rows row0 .. row1 of a set-up triangle, all of them its own. Only
// the sides with two edges step a second one: a missing edge never binds.
template <bool kTwoLeft, bool kTwoRight, Handover kTo>
void WalkRows(const TriPrep& p, int64_t row0, int64_t row1) {
  const int64_t col0 = p.col0, col1 = p.col1;
  // Copies of their own, so that the edges stay in registers.
  EdgeStep left0 = p.left[0], left1 = p.left[1], right0 = p.right[0], right1 = p.right[1];
  left0.Advance(row0 - p.row0);
  right0.Advance(row0 - p.row0);
  if (kTwoLeft) left1.Advance(row0 - p.row0);
  if (kTwoRight) right1.Advance(row0 - p.row0);
  const TriSetup& t = p.t;
  const DrawConfig& c = *t.cfg;
  const SpanFn span = p.span;
  const VecSpanFn vec = p.vec;
  constexpr bool kTextured = kTo == Handover::kVectorTextured || kTo == Handover::kTerms;
  const int32_t du = kTextured ? int32_t(t.du[0]) : 0, dv = kTextured ? int32_t(t.dv[0]) : 0;
  // The term table's box starts at texel (x0, y0); its positions are the
  // texture's less that, exactly (the box lies far inside the lanes' range).
  const int32_t u_off = kTo == Handover::kTerms ? p.terms->x0 * 65536 : 0;
  const int32_t v_off = kTo == Handover::kTerms ? p.terms->y0 * 65536 : 0;
#if defined(__SSE2__)
  const PlanePair planes(t);
#endif
  // The spans go to the span loops a batch at a time.
  constexpr int kBatch = 64;
  SpanRow rows[kBatch];
  int batched = 0;
  auto hand_over = [&] {
    if constexpr (kTo == Handover::kSpans) span(t, rows, batched);
    else if constexpr (kTo == Handover::kTerms)
      c.term_span(SpanRows{&p.terms->draw, 0, c.bits, c.pitch, du, dv, rows, batched});
    else vec(SpanRows{&c.span_draw, t.fast_diffuse, c.bits, c.pitch, du, dv, rows, batched});
    batched = 0;
  };
  for (int64_t r = row0; r <= row1; r++) {
    const int64_t lo = std::max(col0, kTwoLeft ? std::max(left0.x, left1.x) : left0.x);
    const int64_t hi = std::min(col1, kTwoRight ? std::min(right0.x, right1.x) : right0.x);
    if (lo <= hi) {
      SpanRow& row = rows[batched++];
      row.y = int32_t(r);
      row.x0 = int32_t(lo);
      row.x1 = int32_t(hi + 1);
      if constexpr (kTextured) {
        // The set-up has seen that they fit the lanes.
#if defined(__SSE2__)
        const __m128d f = planes.Scaled(row.x0, row.y);
        row.u = int32_t(_mm_cvtsd_si64(f)) - u_off;
        row.v = int32_t(_mm_cvtsd_si64(_mm_unpackhi_pd(f, f))) - v_off;
#else
        row.u = int32_t(ToFixed(t.u[0].At(double(lo), double(r)))) - u_off;
        row.v = int32_t(ToFixed(t.v[0].At(double(lo), double(r)))) - v_off;
#endif
      } else {
        row.u = row.v = 0;
      }
      if (batched == kBatch) hand_over();
    }
    left0.Next();
    if (kTwoLeft) left1.Next();
    right0.Next();
    if (kTwoRight) right1.Next();
  }
  if (batched != 0) hand_over();
}

template <Handover kTo>
void WalkRowsOf(const TriPrep& p, int64_t row0, int64_t row1) {
  // Three edges: no side has two when the other has.
  if (p.two_left) WalkRows<true, false, kTo>(p, row0, row1);
  else if (p.two_right) WalkRows<false, true, kTo>(p, row0, row1);
  else WalkRows<false, false, kTo>(p, row0, row1);
}

}  // namespace

// Draws the rows top .. bottom of a set-up triangle (those it has).
void WalkTriangle(const TriPrep& p, int64_t top, int64_t bottom) {
  const int64_t row0 = std::max(p.row0, top), row1 = std::min(p.row1, bottom);
  if (row0 > row1) return;
  if (p.vec == nullptr) WalkRowsOf<Handover::kSpans>(p, row0, row1);
  else if (p.terms != nullptr && p.terms->Ready(*p.t.cfg)) WalkRowsOf<Handover::kTerms>(p, row0, row1);
  else if (p.t.cfg->fast_uses_tex) WalkRowsOf<Handover::kVectorTextured>(p, row0, row1);
  else WalkRowsOf<Handover::kVector>(p, row0, row1);
}

void RasterTriangle(const DrawConfig& c, const RasterVertex& v0, const RasterVertex& v1, const RasterVertex& v2,
                    uint32_t provoking_diffuse, uint32_t provoking_specular) {
  TriPrep p;
  if (PrepareTriangle(c, v0, v1, v2, provoking_diffuse, provoking_specular, &p)) WalkTriangle(p, p.row0, p.row1);
}

}  // namespace plat::raster
