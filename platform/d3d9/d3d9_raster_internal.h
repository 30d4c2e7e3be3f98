// platform/d3d9/d3d9_raster_internal.h - what the software rasteriser's
// sources share: the fixed-point and colour arithmetic, texture sampling, a
// draw's configuration, a triangle's set-up and walk state, and the term
// tables. Not for use outside platform/d3d9/.
//
// Rules, chosen so that every image is reproducible bit for bit:
// - Vertex positions are snapped to 1/256 pixel; pixel centres lie on
//   integer coordinates; a pixel is covered when its centre is inside the
//   triangle or on a top or left edge (so two triangles sharing an edge never
//   both cover a pixel, and a quad from x - 0.5 to x + w - 0.5 covers w
//   columns).
// - Texture coordinates are stepped along a span in 16.16 fixed point (texel
//   units) from a start value computed per span; point sampling takes texel
//   floor(u * W), bilinear sampling blends the four texels around
//   u * W - 0.5 with 8-bit weights.
// - Colour arithmetic is on 0..255 channels; a product of two channels is
//   rounded to the nearest (a * b / 255).
// - Flat shading takes the colour of each triangle's first vertex.
// Common state combinations run through specialised span loops; everything
// else goes through the generic per-pixel pipeline. Both share the set-up
// and the arithmetic, so they give identical pixels.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/d3d9/d3d9_internal.h"
#include "platform/d3d9/d3d9_spans_simd.h"

namespace plat::raster {

constexpr double kGuardBand = 1048576.0;  // 2^20 pixels

inline uint32_t Div255(uint32_t x) { return (x + 127) / 255; }
inline uint32_t Mul(uint32_t a, uint32_t b) { return Div255(a * b); }

inline uint32_t Ch(uint32_t c, int i) { return (c >> (8 * i)) & 255; }
inline uint32_t Pack(uint32_t b, uint32_t g, uint32_t r, uint32_t a) {
  return b | (g << 8) | (r << 16) | (a << 24);
}

inline uint32_t Modulate(uint32_t x, uint32_t y) {
  return Pack(Mul(Ch(x, 0), Ch(y, 0)), Mul(Ch(x, 1), Ch(y, 1)), Mul(Ch(x, 2), Ch(y, 2)),
              Mul(Ch(x, 3), Ch(y, 3)));
}

inline int64_t FloorDiv(int64_t n, int64_t d) {  // d > 0
  return n >= 0 ? n / d : -((-n + d - 1) / d);
}
inline int64_t CeilDiv(int64_t n, int64_t d) { return -FloorDiv(-n, d); }

// 16.16 fixed point, held within +-2^50 so that stepping across any span
// stays far from overflow (such coordinates address the border anyway).
constexpr double kFixedLimit = 1125899906842624.0;  // 2^50, as 16.16

// A value already times 65536 to 16.16.
inline int64_t ScaledToFixed(double f) {
  if (!(f > -kFixedLimit)) return -int64_t(kFixedLimit);
  if (!(f < kFixedLimit)) return int64_t(kFixedLimit);
#if defined(__SSE2__)
  return _mm_cvtsd_si64(_mm_set_sd(f));  // to the nearest, ties to even
#else
  return std::llrint(f);
#endif
}

inline int64_t ToFixed(double v) { return ScaledToFixed(v * 65536.0); }

// A vertex coordinate in 1/256 pixel, to the nearest (ties to even); the
// guard band keeps it far inside the 64-bit range.
inline int64_t SnapToGrid(float v) {
#if defined(__SSE2__)
  return _mm_cvtsd_si64(_mm_set_sd(double(v) * 256.0));
#else
  return std::llrint(double(v) * 256.0);
#endif
}

inline uint32_t Clamp255(int v) { return uint32_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// ---- Sampling ----

struct Sampler {
  TexelView view;
  uint32_t addr_u = D3DTADDRESS_CLAMP, addr_v = D3DTADDRESS_CLAMP;
  uint32_t border = 0;
  uint32_t mag = D3DTEXF_POINT, min = D3DTEXF_POINT;
};

// Resolves a texel index under an address mode; -1 means the border colour.
inline int64_t Address(int64_t i, int64_t n, uint32_t mode) {
  switch (mode) {
    case D3DTADDRESS_WRAP: {
      int64_t r = i % n;
      return r < 0 ? r + n : r;
    }
    case D3DTADDRESS_MIRROR: {
      int64_t p = 2 * n, r = i % p;
      if (r < 0) r += p;
      return r < n ? r : p - 1 - r;
    }
    case D3DTADDRESS_BORDER:
      return (i < 0 || i >= n) ? -1 : i;
    default:
      return i < 0 ? 0 : (i >= n ? n - 1 : i);
  }
}

inline uint32_t Fetch(const Sampler& s, int64_t x, int64_t y) {
  if (x < 0 || y < 0) return s.border;
  return s.view.texels[size_t(y) * s.view.stride + size_t(x)] | s.view.alpha_or;
}

inline uint32_t SamplePoint(const Sampler& s, int64_t u, int64_t v) {
  int64_t x = Address(u >> 16, s.view.width, s.addr_u);
  int64_t y = Address(v >> 16, s.view.height, s.addr_v);
  if (x < 0 || y < 0) return s.border;
  return Fetch(s, x, y);
}

// Bilinear blend of four texels with 8-bit weights: per channel
// (top * (256 - fy) + bottom * fy + 32768) >> 16 with top and bottom the
// rows blended by fx. Computed two channels at a time in 32-bit lanes, which
// is exact.
inline uint64_t SpreadRB(uint32_t c) { return (c & 0xFFu) | (uint64_t(c & 0xFF0000u) << 16); }
inline uint64_t SpreadAG(uint32_t c) { return ((c >> 8) & 0xFFu) | (uint64_t(c >> 24) << 32); }

__attribute__((always_inline)) inline uint32_t Bilerp(uint32_t c00, uint32_t c10, uint32_t c01, uint32_t c11,
                                                      uint32_t fx, uint32_t fy) {
  uint32_t gx = 256 - fx, gy = 256 - fy;
#if defined(__SSE2__)
  // Rows: madd of (left, right) channel pairs with (gx, fx). The column
  // blend splits each row value (below 65536) into its high and low bytes so
  // that the pairs stay within 16 bits; the sum is the same exact integer.
  const __m128i z = _mm_setzero_si128();
  __m128i wx = _mm_set1_epi32(int(gx | (fx << 16)));
  __m128i wy = _mm_set1_epi32(int(gy | (fy << 16)));
  __m128i top = _mm_madd_epi16(
      _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(c00)), _mm_cvtsi32_si128(int(c10))), z), wx);
  __m128i bot = _mm_madd_epi16(
      _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(c01)), _mm_cvtsi32_si128(int(c11))), z), wx);
  const __m128i low = _mm_set1_epi32(0xFF);
  __m128i hi = _mm_or_si128(_mm_srli_epi32(top, 8), _mm_slli_epi32(_mm_srli_epi32(bot, 8), 16));
  __m128i lo = _mm_or_si128(_mm_and_si128(top, low), _mm_slli_epi32(_mm_and_si128(bot, low), 16));
  __m128i sum = _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(hi, wy), 8), _mm_madd_epi16(lo, wy)),
                              _mm_set1_epi32(32768));
  __m128i res = _mm_srli_epi32(sum, 16);
  res = _mm_packs_epi32(res, res);
  return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(res, res)));
#else
  const uint64_t half = 0x0000800000008000ull, mask = 0x000000FF000000FFull;
  uint64_t rb_top = SpreadRB(c00) * gx + SpreadRB(c10) * fx, rb_bot = SpreadRB(c01) * gx + SpreadRB(c11) * fx;
  uint64_t ag_top = SpreadAG(c00) * gx + SpreadAG(c10) * fx, ag_bot = SpreadAG(c01) * gx + SpreadAG(c11) * fx;
  uint64_t rb = ((rb_top * gy + rb_bot * fy + half) >> 16) & mask;
  uint64_t ag = ((ag_top * gy + ag_bot * fy + half) >> 16) & mask;
  return uint32_t(rb & 0xFF) | (uint32_t(ag & 0xFF) << 8) | (uint32_t(rb >> 32) << 16) | (uint32_t(ag >> 32) << 24);
#endif
}

inline uint32_t SampleBilinear(const Sampler& s, int64_t u, int64_t v) {
  u -= 32768;
  v -= 32768;
  int64_t xi = u >> 16, yi = v >> 16;
  uint32_t fx = uint32_t((u >> 8) & 255), fy = uint32_t((v >> 8) & 255);
  int64_t x0 = Address(xi, s.view.width, s.addr_u), x1 = Address(xi + 1, s.view.width, s.addr_u);
  int64_t y0 = Address(yi, s.view.height, s.addr_v), y1 = Address(yi + 1, s.view.height, s.addr_v);
  auto at = [&](int64_t x, int64_t y) { return (x < 0 || y < 0) ? s.border : Fetch(s, x, y); };
  return Bilerp(at(x0, y0), at(x1, y0), at(x0, y1), at(x1, y1), fx, fy);
}

// The same samples under clamped addressing, without the address switch.
__attribute__((always_inline)) inline uint32_t SamplePointClamp(const Sampler& s, int64_t u, int64_t v) {
  int64_t x = u >> 16, y = v >> 16;
  x = x < 0 ? 0 : (x >= s.view.width ? s.view.width - 1 : x);
  y = y < 0 ? 0 : (y >= s.view.height ? s.view.height - 1 : y);
  return s.view.texels[size_t(y) * s.view.stride + size_t(x)] | s.view.alpha_or;
}

__attribute__((always_inline)) inline uint32_t SampleBilinearClamp(const Sampler& s, int64_t u, int64_t v) {
  u -= 32768;
  v -= 32768;
  int64_t xi = u >> 16, yi = v >> 16;
  uint32_t fx = uint32_t((u >> 8) & 255), fy = uint32_t((v >> 8) & 255);
  const TexelView& t = s.view;
  const uint32_t ao = t.alpha_or;
  if (xi >= 0 && yi >= 0 && xi + 1 < t.width && yi + 1 < t.height) {
    const uint32_t* p = t.texels + size_t(yi) * t.stride + size_t(xi);
    return Bilerp(p[0] | ao, p[1] | ao, p[t.stride] | ao, p[t.stride + 1] | ao, fx, fy);
  }
  int64_t x0 = xi < 0 ? 0 : (xi >= t.width ? t.width - 1 : xi);
  int64_t x1 = xi + 1 < 0 ? 0 : (xi + 1 >= t.width ? t.width - 1 : xi + 1);
  int64_t y0 = yi < 0 ? 0 : (yi >= t.height ? t.height - 1 : yi);
  int64_t y1 = yi + 1 < 0 ? 0 : (yi + 1 >= t.height ? t.height - 1 : yi + 1);
  const uint32_t* r0 = t.texels + size_t(y0) * t.stride;
  const uint32_t* r1 = t.texels + size_t(y1) * t.stride;
  return Bilerp(r0[x0] | ao, r0[x1] | ao, r1[x0] | ao, r1[x1] | ao, fx, fy);
}

// ---- Draw configuration ----

struct StageCfg {
  uint32_t cop, ca1, ca2, aop, aa1, aa2, result;
  int set;
  bool has_tex;
  Sampler smp;
};

struct TermTables;

struct DrawConfig {
  int stages = 0;
  StageCfg st[kMaxTextureStages];
  uint32_t tfactor = 0xFFFFFFFFu;
  bool blend = false;
  uint32_t src_blend = D3DBLEND_ONE, dst_blend = D3DBLEND_ZERO, blend_op = D3DBLENDOP_ADD;
  bool alpha_test = false;
  uint32_t alpha_func = D3DCMP_ALWAYS, alpha_ref = 0;
  bool z_test = false, z_write = false;
  uint32_t z_func = D3DCMP_LESSEQUAL;
  bool specular_add = false;
  bool flat = false;
  uint32_t write_mask = 0xF;
  uint32_t cull = D3DCULL_CCW;
  D3DFORMAT format = 0;
  int bpp = 0;
  uint8_t* bits = nullptr;
  int pitch = 0;
  float* depth = nullptr;
  int depth_w = 0, depth_h = 0;
  RECT clip{};
  int tex_sets = 0;
  // Specialised path: which loop and its constants.
  bool fast = false;
  int fast_target = 0;  // 0 A8R8G8B8, 1 X8R8G8B8, 2 R5G6B5
  int fast_blend = 0;   // 0 opaque, 1 alpha, 2 additive
  bool fast_uses_tex = false;
  uint32_t fast_tmask = 0, fast_tfill = 0;  // texture channels kept / forced to 255
  uint32_t fast_dmask = 0;                  // diffuse channels used
  VecSpanFn vec_span[3][2] = {};            // vector spans by filter and modulation, if any
  SpanDraw span_draw;                       // what they share
  VecSpanFn term_span = nullptr;            // additive point-sampled spans from term tables, if any
  TermTables* terms = nullptr;              // the draw's term tables, if it has any
};

// The device's comparison functions, for depths (float) and alpha (integer).
template <typename T>
inline bool CompareWith(uint32_t func, T a, T b) {
  switch (func) {
    case D3DCMP_NEVER: return false;
    case D3DCMP_LESS: return a < b;
    case D3DCMP_EQUAL: return a == b;
    case D3DCMP_LESSEQUAL: return a <= b;
    case D3DCMP_GREATER: return a > b;
    case D3DCMP_NOTEQUAL: return a != b;
    case D3DCMP_GREATEREQUAL: return a >= b;
    default: return true;
  }
}
inline bool Compare(uint32_t func, float a, float b) { return CompareWith(func, a, b); }
inline bool CompareInt(uint32_t func, uint32_t a, uint32_t b) { return CompareWith(func, a, b); }

// ---- Per-pixel pipeline ----

struct PixelInput {
  int64_t u[kMaxTextureStages], v[kMaxTextureStages];  // 16.16 texel units per stage
  bool bilinear[kMaxTextureStages];
  uint32_t diffuse, specular;
  float z;
};

// ---- Triangle set-up ----

// Left uninitialised on purpose: a triangle fills only the planes its draw
// reads, and every triangle sets one up.
struct Plane {
  double a, b, c;
  double At(double x, double y) const { return a * x + b * y + c; }
};

struct TriSetup {
  const DrawConfig* cfg;
  bool affine;
  bool flat;
  uint32_t flat_diffuse, flat_specular;
  Plane u[kMaxTextureStages], v[kMaxTextureStages];
  int64_t du[kMaxTextureStages], dv[kMaxTextureStages];
  bool bilinear[kMaxTextureStages];
  Plane col[8];  // diffuse b g r a, specular b g r a (times rhw when not affine)
  int64_t dcol[8];
  Plane z, w;
  uint32_t fast_diffuse;
};

#if defined(__SSE2__)
// Stage 0's u and v planes side by side: a row start's two texel positions
// by the steps of Plane::At and of ToFixed's scaling at once.
struct PlanePair {
  __m128d a, b, c;
  explicit PlanePair(const TriSetup& t)
      : a(_mm_setr_pd(t.u[0].a, t.v[0].a)), b(_mm_setr_pd(t.u[0].b, t.v[0].b)), c(_mm_setr_pd(t.u[0].c, t.v[0].c)) {}
  // u and v at pixel (x, y) times 65536, not yet rounded.
  __m128d Scaled(int32_t x, int32_t y) const {
    const __m128d at =
        _mm_add_pd(_mm_add_pd(_mm_mul_pd(a, _mm_set1_pd(double(x))), _mm_mul_pd(b, _mm_set1_pd(double(y)))), c);
    return _mm_mul_pd(at, _mm_set1_pd(65536.0));
  }
};
#endif

// The vector spans step texel positions in 32-bit lanes: every position of
// a span within +-2^30 leaves room for the steps past its end.
constexpr int64_t kLanePositionLimit = int64_t(1) << 30;

// Draws the spans of a triangle; the rows' u and v are scratch.
using SpanFn = void (*)(const TriSetup&, SpanRow* rows, int n);

// One edge's bound walked down the rows: x = floor(num / den) with num
// moving by step each row, kept as quotient and remainder.
struct EdgeStep {
  int64_t x, rem, den, q, m;  // num = den * x + rem and step = den * q + m, 0 <= rem, m < den
  static EdgeStep Make(int64_t num, int64_t step, int64_t den) {
    EdgeStep e;
    e.den = den;
    e.x = FloorDiv(num, den);
    e.rem = num - e.x * den;
    e.q = step == 0 ? 0 : FloorDiv(step, den);
    e.m = step - e.q * den;
    return e;
  }
  static EdgeStep Never(int64_t x) { return {x, 0, 1, 0, 0}; }
  // Without a branch: whether the remainder carries follows the edge's
  // slope, which the processor cannot foresee.
  void Next() {
    x += q;
    rem += m;
    const int64_t carry = -int64_t(rem >= den);
    x -= carry;
    rem -= den & carry;
  }
  // n rows on (n >= 0), as n calls of Next; m * n stays far inside 64 bits
  // (m is below den, which the guard band bounds, and n below the height of
  // the clip rectangle).
  void Advance(int64_t n) {
    if (n <= 0) return;
    if (m == 0) {  // upright edges and missing ones: no division
      x += q * n;
      return;
    }
    const int64_t r = rem + m * n;
    x += q * n + r / den;
    rem = r % den;
  }
};

// A draw's term tables. For its additive point-sampled triangles of one
// flat colour, a table holds what each texel of the box they sample adds to
// a pixel: the draw's own spans draw the box one texel a pixel into a table
// of zeros. Their rows then only add their texels' entries (see
// VecTermSpanForLevel), to the same pixels. A table is made once for all
// bands, by the first to need it; a band that finds it being made draws as
// without it.
struct TermTable {
  static constexpr uint8_t kNone = 0, kMaking = 1, kReady = 2;
  uint32_t diffuse = 0;            // the colour its texels are modulated by
  int32_t x0 = 0, y0 = 0;          // the box's first texel
  uint32_t* entries = nullptr;     // its rows, draw.width entries each
  SpanDraw draw;                   // the table as the term spans' texture
  std::atomic<uint8_t> state{kNone};

  bool Ready(const DrawConfig& c) {
    uint8_t now = state.load(std::memory_order_acquire);
    if (now == kReady) return true;
    if (now != kNone || !state.compare_exchange_strong(now, kMaking, std::memory_order_acq_rel)) return false;
    const int w = draw.width, h = draw.height;
    std::fill_n(entries, size_t(w) * size_t(h), 0u);
    const VecSpanFn fill = c.vec_span[1][diffuse != 0xFFFFFFFFu];
    constexpr int kBatch = 64;
    SpanRow rows[kBatch];
    for (int y = 0; y < h; y += kBatch) {
      const int n = std::min(kBatch, h - y);
      for (int i = 0; i < n; i++) rows[i] = {y + i, 0, w, x0 * 65536, (y0 + y + i) * 65536};
      fill(SpanRows{&c.span_draw, diffuse, reinterpret_cast<uint8_t*>(entries), intptr_t(w) * 4, 65536, 0, rows, n});
    }
    state.store(kReady, std::memory_order_release);
    return true;
  }
};

// The entries of the term tables of every draw not yet done.
extern std::atomic<size_t> g_term_texels_held;

struct TermTables {
  std::unique_ptr<TermTable[]> tables;
  int count = 0;
  std::unique_ptr<uint32_t[]> texels;  // each table's, written when it is made
  size_t held = 0;                     // their count, in g_term_texels_held

  ~TermTables() { g_term_texels_held.fetch_sub(held, std::memory_order_relaxed); }

  TermTable* Find(uint32_t diffuse) const {
    for (int k = 0; k < count; k++)
      if (tables[k].diffuse == diffuse) return &tables[k];
    return nullptr;
  }
};

// A triangle set up for its walk down the rows: all that does not depend
// on which of its rows are drawn, so that the bands it reaches can share it.
// What a band's walk reads first comes first, in the fewest cache lines.
struct TriPrep {
  int64_t row0, row1;              // its rows inside the draw's clip rectangle
  int64_t col0, col1;              // the clip's columns, narrowed to its box
  SpanFn span;
  VecSpanFn vec;                   // the vector spans, when they take every row as it is
  TermTable* terms;                // its term table, if it has one
  bool two_left, two_right;        // whether left[1], right[1] are edges of its own
  EdgeStep left[2], right[2];      // the row's bounds at row0
  TriSetup t;
};

inline bool InGuardBand(const RasterVertex& v) {
  return std::fabs(v.x) <= kGuardBand && std::fabs(v.y) <= kGuardBand;
}

// ---- Entry points of the rasteriser's sources ----

// Draw configuration (d3d9_raster_config.cpp): the draw's state as the
// pipeline and the specialised loops read it.
void BuildConfig(const DeviceState& s, Direct3DSurface9* target, Direct3DSurface9* depth, int tex_sets,
                 DrawConfig* c);

// Per-pixel pipeline, lines and points (d3d9_raster_pixel.cpp).
void ShadePixel(const DrawConfig& c, const PixelInput& in, int x, int y);
void GenericSpans(const TriSetup& t, SpanRow* rows, int n);
void ShadeAt(const DrawConfig& c, const RasterVertex& a, const RasterVertex& b, double t, uint32_t flat_diffuse,
             uint32_t flat_specular, int x, int y);
void RasterLine(const DrawConfig& c, const RasterVertex& a, const RasterVertex& b);

// Specialised span loops (d3d9_raster_spans.cpp).
SpanFn PickFast(int filter, bool modulate, int blend, int target);

// Triangles (d3d9_raster_triangle.cpp).
RasterVertex LerpVertex(const RasterVertex& a, const RasterVertex& b, double t, int sets);
void ClipToGuardBand(const DrawConfig& c, const RasterVertex& a, const RasterVertex& b, const RasterVertex& d);
bool PrepareTriangle(const DrawConfig& c, const RasterVertex& v0, const RasterVertex& v1, const RasterVertex& v2,
                     uint32_t provoking_diffuse, uint32_t provoking_specular, TriPrep* p);
void WalkTriangle(const TriPrep& p, int64_t top, int64_t bottom);
void RasterTriangle(const DrawConfig& c, const RasterVertex& v0, const RasterVertex& v1, const RasterVertex& v2,
                    uint32_t provoking_diffuse, uint32_t provoking_specular);

}  // namespace plat::raster
