// platform/d3d9/d3d9_raster.cpp - the software rasteriser behind the device.
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
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/d3d9/d3d9_internal.h"
#include "platform/d3d9/d3d9_spans_simd.h"

namespace plat {

namespace {

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

inline bool Compare(uint32_t func, float a, float b) {
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

inline bool CompareInt(uint32_t func, uint32_t a, uint32_t b) {
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

// Classifies a stage-0 argument for the specialised path: 'T' texture,
// 'D' diffuse (current is diffuse at stage 0), 0 anything else.
char ArgKind(uint32_t arg) {
  if (arg == D3DTA_TEXTURE) return 'T';
  if (arg == D3DTA_DIFFUSE || arg == D3DTA_CURRENT) return 'D';
  return 0;
}

// Which of texture and diffuse a stage-0 operation combines: bit 1 texture,
// bit 2 diffuse; 0 when the operation is not one the specialised loops do.
int OpSources(uint32_t op, uint32_t a1, uint32_t a2) {
  char k1 = ArgKind(a1), k2 = ArgKind(a2);
  auto bit = [](char k) { return k == 'T' ? 1 : 2; };
  if (op == D3DTOP_SELECTARG1) return k1 ? bit(k1) : 0;
  if (op == D3DTOP_SELECTARG2) return k2 ? bit(k2) : 0;
  if (op == D3DTOP_MODULATE && k1 && k2 && k1 != k2) return 3;
  return 0;
}

void BuildConfig(const DeviceState& s, Direct3DSurface9* target, Direct3DSurface9* depth, int tex_sets,
                 DrawConfig* c) {
  c->format = target->format();
  c->bpp = FormatBytesPerPixel(c->format);
  c->bits = target->bits();
  c->pitch = target->pitch();
  c->tex_sets = tex_sets;
  const D3DVIEWPORT9& vp = s.viewport;
  RECT clip = {int32_t(vp.X), int32_t(vp.Y), int32_t(vp.X + vp.Width), int32_t(vp.Y + vp.Height)};
  clip.right = std::min(clip.right, int32_t(target->width()));
  clip.bottom = std::min(clip.bottom, int32_t(target->height()));
  if (s.rs[D3DRS_SCISSORTESTENABLE]) {
    clip.left = std::max(clip.left, s.scissor.left);
    clip.top = std::max(clip.top, s.scissor.top);
    clip.right = std::min(clip.right, s.scissor.right);
    clip.bottom = std::min(clip.bottom, s.scissor.bottom);
  }
  c->clip = clip;
  c->stages = 0;
  for (int i = 0; i < kMaxTextureStages; i++) {
    if (s.tss[i][D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
    StageCfg& st = c->st[i];
    st.cop = s.tss[i][D3DTSS_COLOROP];
    st.ca1 = s.tss[i][D3DTSS_COLORARG1];
    st.ca2 = s.tss[i][D3DTSS_COLORARG2];
    st.aop = s.tss[i][D3DTSS_ALPHAOP];
    st.aa1 = s.tss[i][D3DTSS_ALPHAARG1];
    st.aa2 = s.tss[i][D3DTSS_ALPHAARG2];
    st.result = s.tss[i][D3DTSS_RESULTARG];
    st.set = int(s.tss[i][D3DTSS_TEXCOORDINDEX] & 0xFFFF);
    Direct3DTexture9* tex = s.textures[i];
    st.has_tex = tex != nullptr && tex->GetLevelCount() > 0;
    if (st.has_tex) {
      st.smp.view = GetTexelView(tex->level(0));
      st.smp.addr_u = s.samp[i][D3DSAMP_ADDRESSU];
      st.smp.addr_v = s.samp[i][D3DSAMP_ADDRESSV];
      st.smp.border = s.samp[i][D3DSAMP_BORDERCOLOR];
      st.smp.mag = s.samp[i][D3DSAMP_MAGFILTER];
      st.smp.min = s.samp[i][D3DSAMP_MINFILTER];
    }
    c->stages++;
  }
  c->tfactor = s.rs[D3DRS_TEXTUREFACTOR];
  c->blend = s.rs[D3DRS_ALPHABLENDENABLE] != 0;
  c->src_blend = s.rs[D3DRS_SRCBLEND];
  c->dst_blend = s.rs[D3DRS_DESTBLEND];
  c->blend_op = s.rs[D3DRS_BLENDOP];
  c->alpha_test = s.rs[D3DRS_ALPHATESTENABLE] != 0;
  c->alpha_func = s.rs[D3DRS_ALPHAFUNC];
  c->alpha_ref = s.rs[D3DRS_ALPHAREF] & 255;
  c->z_test = s.rs[D3DRS_ZENABLE] != 0 && depth != nullptr;
  c->z_write = c->z_test && s.rs[D3DRS_ZWRITEENABLE] != 0;
  c->z_func = s.rs[D3DRS_ZFUNC];
  if (c->z_test) {
    c->depth = depth->depth();
    c->depth_w = int(depth->width());
    c->depth_h = int(depth->height());
  }
  c->specular_add = s.rs[D3DRS_SPECULARENABLE] != 0;
  c->flat = s.rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
  c->write_mask = s.rs[D3DRS_COLORWRITEENABLE] & 0xF;
  c->cull = s.rs[D3DRS_CULLMODE];

  // The specialised loops: one stage combining texture and diffuse by
  // select or modulate, clamped addressing, no depth, full colour writes, a
  // 32-bit or R5G6B5 target, and opaque, alpha or additive blending.
  c->fast = false;
  c->term_span = nullptr;
  c->terms = nullptr;
  if (g_force_generic_spans || c->stages > 1 || c->z_test || c->specular_add || c->write_mask != 0xF) return;
  if (c->format == D3DFMT_A8R8G8B8) c->fast_target = 0;
  else if (c->format == D3DFMT_X8R8G8B8) c->fast_target = 1;
  else if (c->format == D3DFMT_R5G6B5) c->fast_target = 2;
  else return;
  if (!c->blend) c->fast_blend = 0;
  else if (c->blend_op == D3DBLENDOP_ADD && c->src_blend == D3DBLEND_SRCALPHA && c->dst_blend == D3DBLEND_INVSRCALPHA)
    c->fast_blend = 1;
  else if (c->blend_op == D3DBLENDOP_ADD && c->src_blend == D3DBLEND_SRCALPHA && c->dst_blend == D3DBLEND_ONE)
    c->fast_blend = 2;
  else return;
  int csrc = 2, asrc = 2;  // no stage at all: diffuse passes through
  if (c->stages == 1) {
    const StageCfg& st = c->st[0];
    csrc = OpSources(st.cop, st.ca1, st.ca2);
    asrc = st.aop == D3DTOP_DISABLE ? 2 : OpSources(st.aop, st.aa1, st.aa2);
    if (!csrc || !asrc || st.result != D3DTA_CURRENT) return;
    if (st.has_tex && ((csrc | asrc) & 1)) {
      if (st.smp.addr_u != D3DTADDRESS_CLAMP || st.smp.addr_v != D3DTADDRESS_CLAMP) return;
      if (st.set >= tex_sets) return;
    }
  }
  c->fast_uses_tex = c->stages == 1 && c->st[0].has_tex && ((csrc | asrc) & 1);
  c->fast_tmask = ((csrc & 1) ? 0x00FFFFFFu : 0) | ((asrc & 1) ? 0xFF000000u : 0);
  c->fast_tfill = ~c->fast_tmask;
  c->fast_dmask = ((csrc & 2) ? 0x00FFFFFFu : 0) | ((asrc & 2) ? 0xFF000000u : 0);
  c->fast = true;
  // The vector spans hold texel positions and indices in 32-bit lanes.
  const int level = SpanLevelInUse();
  const TexelView& tv = c->st[0].smp.view;
  const bool lanes_fit = !c->fast_uses_tex || (tv.width < 32768 && tv.height < 32768 && tv.stride < 32768 &&
                                               int64_t(tv.stride) * tv.height < (int64_t(1) << 31));
  SpanDraw& sd = c->span_draw;
  sd = SpanDraw{};
  if (c->fast_uses_tex) {
    sd.texels = tv.texels;
    sd.stride = tv.stride;
    sd.width = tv.width;
    sd.height = tv.height;
    sd.alpha_or = tv.alpha_or;
  }
  sd.tmask = c->fast_tmask;
  sd.tfill = c->fast_tfill;
  // A texel of alpha 0 gives a source alpha of 0 (the product with any
  // diffuse alpha is 0 too), which a blended draw leaves out.
  sd.skip_clear = c->fast_blend != 0 && (c->fast_tmask >> 24) != 0 && sd.alpha_or == 0;
  if (c->alpha_test) {
    sd.pass_lt = CompareInt(c->alpha_func, 0, 1);
    sd.pass_eq = CompareInt(c->alpha_func, 1, 1);
    sd.pass_gt = CompareInt(c->alpha_func, 1, 0);
  }
  sd.alpha_ref = c->alpha_ref;
  const bool test = !(sd.pass_lt && sd.pass_eq && sd.pass_gt);
  for (int filter = 0; filter < 3; filter++)
    for (int modulate = 0; modulate < 2; modulate++)
      c->vec_span[filter][modulate] =
          (filter == 0 && modulate) || (filter != 0 && !lanes_fit)
              ? nullptr
              : VecSpanForLevel(level, filter, modulate != 0, c->fast_blend, c->fast_target, test);
  c->term_span = c->fast_blend == 2 && c->fast_uses_tex && lanes_fit ? VecTermSpanForLevel(level, c->fast_target)
                                                                      : nullptr;
}

// ---- Per-pixel pipeline ----

struct PixelInput {
  int64_t u[kMaxTextureStages], v[kMaxTextureStages];  // 16.16 texel units per stage
  bool bilinear[kMaxTextureStages];
  uint32_t diffuse, specular;
  float z;
};

inline uint32_t ReadArg(uint32_t arg, uint32_t diffuse, uint32_t current, uint32_t texel, uint32_t tfactor,
                        uint32_t specular, uint32_t temp) {
  uint32_t v;
  switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE: v = diffuse; break;
    case D3DTA_CURRENT: v = current; break;
    case D3DTA_TEXTURE: v = texel; break;
    case D3DTA_TFACTOR: v = tfactor; break;
    case D3DTA_SPECULAR: v = specular; break;
    case D3DTA_TEMP: v = temp; break;
    default: v = 0xFFFFFFFFu; break;
  }
  if (arg & D3DTA_COMPLEMENT) v = ~v;
  if (arg & D3DTA_ALPHAREPLICATE) {
    uint32_t a = v >> 24;
    v = Pack(a, a, a, a);
  }
  return v;
}

inline uint32_t Clamp255(int v) { return uint32_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// One channel of a texture-stage operation. blend_alpha is the alpha the
// BLEND* operations take.
inline uint32_t StageOp(uint32_t op, uint32_t a, uint32_t b, uint32_t blend_alpha) {
  switch (op) {
    case D3DTOP_SELECTARG1: return a;
    case D3DTOP_SELECTARG2: return b;
    case D3DTOP_MODULATE: return Mul(a, b);
    case D3DTOP_MODULATE2X: return std::min(255u, Div255(a * b * 2));
    case D3DTOP_MODULATE4X: return std::min(255u, Div255(a * b * 4));
    case D3DTOP_ADD: return std::min(255u, a + b);
    case D3DTOP_ADDSIGNED: return Clamp255(int(a) + int(b) - 128);
    case D3DTOP_ADDSIGNED2X: return Clamp255((int(a) + int(b) - 128) * 2);
    case D3DTOP_SUBTRACT: return a > b ? a - b : 0;
    case D3DTOP_ADDSMOOTH: return a + b - Mul(a, b);
    case D3DTOP_BLENDDIFFUSEALPHA:
    case D3DTOP_BLENDTEXTUREALPHA:
    case D3DTOP_BLENDFACTORALPHA:
    case D3DTOP_BLENDCURRENTALPHA:
      return Div255(a * blend_alpha + b * (255 - blend_alpha));
    case D3DTOP_BLENDTEXTUREALPHAPM: return std::min(255u, a + Mul(b, 255 - blend_alpha));
    default: return a;  // operations the device does not offer pass the first argument
  }
}

inline uint32_t BlendAlphaFor(uint32_t op, uint32_t diffuse, uint32_t texel, uint32_t tfactor, uint32_t current) {
  switch (op) {
    case D3DTOP_BLENDDIFFUSEALPHA: return diffuse >> 24;
    case D3DTOP_BLENDTEXTUREALPHA:
    case D3DTOP_BLENDTEXTUREALPHAPM: return texel >> 24;
    case D3DTOP_BLENDFACTORALPHA: return tfactor >> 24;
    case D3DTOP_BLENDCURRENTALPHA: return current >> 24;
    default: return 0;
  }
}

uint32_t RunStages(const DrawConfig& c, const PixelInput& in) {
  uint32_t current = in.diffuse, temp = 0;
  for (int i = 0; i < c.stages; i++) {
    const StageCfg& st = c.st[i];
    uint32_t texel = 0xFFFFFFFFu;
    if (st.has_tex)
      texel = in.bilinear[i] ? SampleBilinear(st.smp, in.u[i], in.v[i]) : SamplePoint(st.smp, in.u[i], in.v[i]);
    uint32_t c1 = ReadArg(st.ca1, in.diffuse, current, texel, c.tfactor, in.specular, temp);
    uint32_t c2 = ReadArg(st.ca2, in.diffuse, current, texel, c.tfactor, in.specular, temp);
    uint32_t ba = BlendAlphaFor(st.cop, in.diffuse, texel, c.tfactor, current);
    uint32_t rgb = Pack(StageOp(st.cop, Ch(c1, 0), Ch(c2, 0), ba), StageOp(st.cop, Ch(c1, 1), Ch(c2, 1), ba),
                        StageOp(st.cop, Ch(c1, 2), Ch(c2, 2), ba), 0);
    uint32_t alpha;
    if (st.aop == D3DTOP_DISABLE) {
      alpha = current >> 24;
    } else {
      uint32_t a1 = ReadArg(st.aa1, in.diffuse, current, texel, c.tfactor, in.specular, temp);
      uint32_t a2 = ReadArg(st.aa2, in.diffuse, current, texel, c.tfactor, in.specular, temp);
      alpha = StageOp(st.aop, a1 >> 24, a2 >> 24, BlendAlphaFor(st.aop, in.diffuse, texel, c.tfactor, current));
    }
    uint32_t out = rgb | (alpha << 24);
    if ((st.result & D3DTA_SELECTMASK) == D3DTA_TEMP) temp = out;
    else current = out;
  }
  if (c.specular_add)
    current = Pack(std::min(255u, Ch(current, 0) + Ch(in.specular, 0)), std::min(255u, Ch(current, 1) + Ch(in.specular, 1)),
                   std::min(255u, Ch(current, 2) + Ch(in.specular, 2)), current >> 24);
  return current;
}

inline uint32_t Factor(uint32_t f, int ch, uint32_t src, uint32_t dst) {
  uint32_t sa = src >> 24, da = dst >> 24;
  switch (f) {
    case D3DBLEND_ZERO: return 0;
    case D3DBLEND_ONE: return 255;
    case D3DBLEND_SRCCOLOR: return Ch(src, ch);
    case D3DBLEND_INVSRCCOLOR: return 255 - Ch(src, ch);
    case D3DBLEND_SRCALPHA: return sa;
    case D3DBLEND_INVSRCALPHA: return 255 - sa;
    case D3DBLEND_DESTALPHA: return da;
    case D3DBLEND_INVDESTALPHA: return 255 - da;
    case D3DBLEND_DESTCOLOR: return Ch(dst, ch);
    case D3DBLEND_INVDESTCOLOR: return 255 - Ch(dst, ch);
    case D3DBLEND_SRCALPHASAT: return ch == 3 ? 255 : std::min(sa, 255 - da);
    default: return 255;
  }
}

uint32_t BlendPixel(const DrawConfig& c, uint32_t src, uint32_t dst) {
  uint32_t sf = c.src_blend, df = c.dst_blend;
  // The "both" factors set the destination factor from the source one.
  if (sf == D3DBLEND_BOTHSRCALPHA) { sf = D3DBLEND_SRCALPHA; df = D3DBLEND_INVSRCALPHA; }
  else if (sf == D3DBLEND_BOTHINVSRCALPHA) { sf = D3DBLEND_INVSRCALPHA; df = D3DBLEND_SRCALPHA; }
  uint32_t out = 0;
  for (int i = 0; i < 4; i++) {
    uint32_t s = Ch(src, i), d = Ch(dst, i);
    uint32_t ts = s * Factor(sf, i, src, dst), td = d * Factor(df, i, src, dst);
    uint32_t r;
    switch (c.blend_op) {
      case D3DBLENDOP_SUBTRACT: r = ts > td ? Div255(ts - td) : 0; break;
      case D3DBLENDOP_REVSUBTRACT: r = td > ts ? Div255(td - ts) : 0; break;
      case D3DBLENDOP_MIN: r = std::min(s, d); break;
      case D3DBLENDOP_MAX: r = std::max(s, d); break;
      default: r = std::min(255u, Div255(ts + td)); break;
    }
    out |= r << (8 * i);
  }
  return out;
}

void ShadePixel(const DrawConfig& c, const PixelInput& in, int x, int y) {
  uint32_t src = RunStages(c, in);
  if (c.alpha_test && !CompareInt(c.alpha_func, src >> 24, c.alpha_ref)) return;
  float* zp = nullptr;
  if (c.z_test && x < c.depth_w && y < c.depth_h) {
    zp = c.depth + size_t(y) * c.depth_w + x;
    if (!Compare(c.z_func, in.z, *zp)) return;
  }
  uint8_t* px = c.bits + size_t(y) * c.pitch + size_t(x) * c.bpp;
  uint32_t out = src;
  if (c.blend || c.write_mask != 0xF) {
    uint32_t dst = DecodePixel(c.format, px);
    if (c.blend) out = BlendPixel(c, src, dst);
    if (c.write_mask != 0xF) {
      // Mask bits: 1 red, 2 green, 4 blue, 8 alpha.
      uint32_t keep = ((c.write_mask & 1) ? 0 : 0x00FF0000u) | ((c.write_mask & 2) ? 0 : 0x0000FF00u) |
                      ((c.write_mask & 4) ? 0 : 0x000000FFu) | ((c.write_mask & 8) ? 0 : 0xFF000000u);
      out = (out & ~keep) | (dst & keep);
    }
  }
  EncodePixel(c.format, out, px);
  if (zp && c.z_write) *zp = in.z;
}

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

void FillInput(const TriSetup& t, PixelInput* in, int x, int y) {
  const DrawConfig& c = *t.cfg;
  double w = t.affine ? 1.0 : t.w.At(x, y);
  double iw = t.affine ? 1.0 : 1.0 / w;
  for (int i = 0; i < c.stages; i++) {
    if (!c.st[i].has_tex) continue;
    in->bilinear[i] = t.bilinear[i];
    if (!t.affine) {
      in->u[i] = ToFixed(t.u[i].At(x, y) * iw);
      in->v[i] = ToFixed(t.v[i].At(x, y) * iw);
    }
  }
  if (t.flat) {
    in->diffuse = t.flat_diffuse;
    in->specular = t.flat_specular;
  } else if (!t.affine) {
    uint32_t ch[8];
    for (int k = 0; k < 8; k++) {
      double v = std::floor(t.col[k].At(x, y) * iw + 0.5);
      ch[k] = !(v > 0) ? 0 : v >= 255 ? 255 : uint32_t(v);
    }
    in->diffuse = Pack(ch[0], ch[1], ch[2], ch[3]);
    in->specular = Pack(ch[4], ch[5], ch[6], ch[7]);
  }
  in->z = c.z_test ? float(t.z.At(x, y)) : 0.0f;
}

void GenericSpan(const TriSetup& t, int y, int x0, int x1) {
  const DrawConfig& c = *t.cfg;
  PixelInput in;
  int64_t u[kMaxTextureStages] = {}, v[kMaxTextureStages] = {};
  int64_t col[8] = {};
  if (t.affine) {
    for (int i = 0; i < c.stages; i++) {
      if (!c.st[i].has_tex) continue;
      u[i] = ToFixed(t.u[i].At(x0, y));
      v[i] = ToFixed(t.v[i].At(x0, y));
    }
    if (!t.flat)
      for (int k = 0; k < 8; k++) col[k] = ToFixed(t.col[k].At(x0, y));
  }
  for (int x = x0; x < x1; x++) {
    FillInput(t, &in, x, y);
    if (t.affine) {
      for (int i = 0; i < c.stages; i++) {
        if (!c.st[i].has_tex) continue;
        in.u[i] = u[i];
        in.v[i] = v[i];
        u[i] += t.du[i];
        v[i] += t.dv[i];
      }
      if (!t.flat) {
        uint32_t ch[8];
        for (int k = 0; k < 8; k++) {
          ch[k] = Clamp255(int((col[k] + 32768) >> 16));
          col[k] += t.dcol[k];
        }
        in.diffuse = Pack(ch[0], ch[1], ch[2], ch[3]);
        in.specular = Pack(ch[4], ch[5], ch[6], ch[7]);
      }
    }
    ShadePixel(c, in, x, y);
  }
}

// ---- Specialised span loops ----

inline uint32_t Decode565(uint16_t v) {
  uint32_t r = v >> 11, g = (v >> 5) & 63, b = v & 31;
  return 0xFF000000u | (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
}
inline uint16_t Encode565(uint32_t c) {
  return uint16_t(((Ch(c, 2) >> 3) << 11) | ((Ch(c, 1) >> 2) << 5) | (Ch(c, 0) >> 3));
}

// Four channels in 16-bit lanes (B, G, R, A from the bottom).
constexpr uint64_t kLanes = 0x00FF00FF00FF00FFull;
inline uint64_t Expand(uint32_t c) {
  uint64_t x = c;
  x = (x | (x << 16)) & 0x0000FFFF0000FFFFull;
  return (x | (x << 8)) & kLanes;
}
inline uint32_t Compact(uint64_t x) {
  x &= kLanes;
  x = (x | (x >> 8)) & 0x0000FFFF0000FFFFull;
  return uint32_t(x | (x >> 16));
}
// x / 255 rounded, per lane, for lane values up to 255 * 255 (where
// (t + (t >> 8)) >> 8 with t = x + 128 equals the rounded quotient).
inline uint64_t Div255Lanes(uint64_t x) {
  uint64_t t = x + 0x0080008000800080ull;
  return ((t + ((t >> 8) & kLanes)) >> 8) & kLanes;
}

// The alpha and additive blends of BlendPixel for the factor pairs
// SRCALPHA / INVSRCALPHA and SRCALPHA / ONE, four channels at once.
template <int kBlend>
__attribute__((always_inline)) inline uint32_t FastBlend(uint32_t src, uint32_t dst) {
  uint32_t a = src >> 24;
  // Exact shortcuts: alpha 0 leaves the destination, and full alpha in the
  // alpha blend gives the source.
  if (a == 0) return dst;
  if (kBlend == 1 && a == 255) return src;
#if defined(__SSE2__)
  // 16-bit lanes: every product and sum stays below 65536.
  const __m128i z = _mm_setzero_si128();
  __m128i s16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(src)), z);
  __m128i d16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(dst)), z);
  __m128i x = _mm_mullo_epi16(s16, _mm_set1_epi16(short(a)));
  if (kBlend == 1) x = _mm_add_epi16(x, _mm_mullo_epi16(d16, _mm_set1_epi16(short(255 - a))));
  __m128i t = _mm_add_epi16(x, _mm_set1_epi16(128));
  __m128i q = _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
  if (kBlend == 2) q = _mm_add_epi16(q, d16);  // saturated by the pack
  return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(q, q)));
#else
  if (kBlend == 1) return Compact(Div255Lanes(Expand(src) * a + Expand(dst) * (255 - a)));
  // d + round(s * a / 255), saturated.
  uint64_t y = Div255Lanes(Expand(src) * a) + Expand(dst);
  y |= ((y >> 8) & 0x0001000100010001ull) * 0xFF;
  return Compact(y);
#endif
}

// kFilter: 0 no texture, 1 point, 2 bilinear.
// The rest of the pipeline for one pixel of a specialised span.
// The alpha test of a span, held in registers (stores into the target could
// otherwise alias the configuration and force reloads).
struct AlphaTest {
  bool on;
  uint32_t func, ref;
};

// Modulate with the rounded product of each channel pair, four channels at
// once: the same lane arithmetic as FastBlend, exact for products up to
// 255 * 255.
__attribute__((always_inline)) inline uint32_t FastModulate(uint32_t x, uint32_t y) {
#if defined(__SSE2__)
  const __m128i z = _mm_setzero_si128();
  __m128i p = _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(x)), z),
                              _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(y)), z));
  __m128i t = _mm_add_epi16(p, _mm_set1_epi16(128));
  __m128i q = _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
  return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(q, q)));
#else
  return Modulate(x, y);
#endif
}

template <bool kModulate, int kBlend, int kTarget>
__attribute__((always_inline)) inline void FastPixel(uint8_t* row, int x, uint32_t src, uint32_t diffuse,
                                                     AlphaTest at) {
  if (kModulate) src = FastModulate(src, diffuse);
  if (at.on && !CompareInt(at.func, src >> 24, at.ref)) return;
  // Blending with alpha 0 leaves the pixel as it is.
  if (kBlend != 0 && (src >> 24) == 0) return;
  if (kTarget == 2) {
    uint16_t* p = reinterpret_cast<uint16_t*>(row) + x;
    uint32_t out = kBlend == 0 ? src : FastBlend<kBlend>(src, Decode565(*p));
    *p = Encode565(out);
  } else {
    uint32_t* p = reinterpret_cast<uint32_t*>(row) + x;
    uint32_t dst = kTarget == 1 ? (*p | 0xFF000000u) : *p;
    uint32_t out = kBlend == 0 ? src : FastBlend<kBlend>(src, dst);
    *p = kTarget == 1 ? (out | 0xFF000000u) : out;
  }
}

// One span by the reference loops, the first pixel sampling at (u, v).
template <int kFilter, bool kModulate, int kBlend, int kTarget>
void FastSpan(const TriSetup& t, int y, int x0, int x1, int64_t u, int64_t v) {
  const DrawConfig& c = *t.cfg;
  const Sampler& smp = c.st[0].smp;
  const uint32_t diffuse = t.fast_diffuse;
  const uint32_t tmask = c.fast_tmask, tfill = c.fast_tfill;
  const AlphaTest at = {c.alpha_test, c.alpha_func, c.alpha_ref};
  uint8_t* row = c.bits + size_t(y) * c.pitch;
  const TexelView& tv = smp.view;
  const int64_t du = kFilter != 0 ? t.du[0] : 0, dv = kFilter != 0 ? t.dv[0] : 0;
  if (kFilter == 0) {
    for (int x = x0; x < x1; x++) FastPixel<false, kBlend, kTarget>(row, x, diffuse, diffuse, at);
    return;
  }
  const uint32_t ao = tv.alpha_or;
  const size_t stride = size_t(tv.stride);
  // Where a pixel samples wholly inside the texture the clamping is left
  // out; the texels read are the same. Along a span the coordinates are
  // linear, so the inside pixels form one run: clamped pixels before and
  // after it, the run itself without clamping.
  const int64_t off = kFilter == 2 ? 32768 : 0, extra = kFilter == 2 ? 1 : 0;
  auto inside = [&](int64_t uu, int64_t vv) {
    uu -= off;
    vv -= off;
    return uu >= 0 && vv >= 0 && (uu >> 16) + extra < tv.width && (vv >> 16) + extra < tv.height;
  };
  auto clamped = [&](int x) {
    uint32_t tex = kFilter == 1 ? SamplePointClamp(smp, u, v) : SampleBilinearClamp(smp, u, v);
    u += du;
    v += dv;
    FastPixel<kModulate, kBlend, kTarget>(row, x, (tex & tmask) | tfill, diffuse, at);
  };
  int x = x0;
  while (x < x1 && !inside(u, v)) clamped(x++);
  if (x == x1) return;
  int last = x1 - 1;
  int64_t n = last - x;
  while (last > x && !inside(u + du * n, v + dv * n)) {
    last--;
    n--;
  }
  // A texel of alpha 0 gives a source alpha of 0 (the product with any
  // diffuse alpha is 0 too), which a blended draw leaves out whatever the
  // alpha test says.
  const bool skip_clear = kBlend != 0 && (tmask >> 24) != 0 && ao == 0;
  if (kFilter == 1) {
#if defined(__SSE2__)
    // Blended spans into a 32-bit target without alpha (the backgrounds,
    // sprites, sparks and explosions of play, heavily overdrawn) go two
    // pixels at a time through the same lane arithmetic as FastModulate and
    // FastBlend: every intermediate is the same, so is every pixel. The
    // shortcuts of FastBlend give what the arithmetic gives, and a pixel whose
    // source alpha is 0 is not written, as in FastPixel.
    if constexpr (kBlend != 0 && kTarget == 1) {
      if (!at.on) {
        const __m128i z = _mm_setzero_si128();
        const __m128i half = _mm_set1_epi16(128);
        const __m128i full = _mm_set1_epi16(255);
        const __m128i d16 = _mm_unpacklo_epi8(_mm_set1_epi32(int(diffuse)), z);
        uint32_t* out = reinterpret_cast<uint32_t*>(row);
        for (; x < last; x += 2) {
          const uint32_t t0 = tv.texels[size_t(v >> 16) * stride + size_t(u >> 16)] | ao;
          const uint32_t t1 = tv.texels[size_t((v + dv) >> 16) * stride + size_t((u + du) >> 16)] | ao;
          u += 2 * du;
          v += 2 * dv;
          if (skip_clear && ((t0 | t1) >> 24) == 0) continue;
          __m128i q = _mm_unpacklo_epi8(
              _mm_set_epi32(0, 0, int((t1 & tmask) | tfill), int((t0 & tmask) | tfill)), z);
          if (kModulate) {
            const __m128i m = _mm_add_epi16(_mm_mullo_epi16(q, d16), half);
            q = _mm_srli_epi16(_mm_add_epi16(m, _mm_srli_epi16(m, 8)), 8);
          }
          const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(q, 0xFF), 0xFF);
          const __m128i d = _mm_unpacklo_epi8(_mm_set_epi32(0, 0, int(out[x + 1]), int(out[x])), z);
          __m128i m = _mm_mullo_epi16(q, a);
          if (kBlend == 1) m = _mm_add_epi16(m, _mm_mullo_epi16(d, _mm_sub_epi16(full, a)));
          m = _mm_add_epi16(m, half);
          __m128i r = _mm_srli_epi16(_mm_add_epi16(m, _mm_srli_epi16(m, 8)), 8);
          if (kBlend == 2) r = _mm_add_epi16(r, d);  // saturated by the pack
          const __m128i res = _mm_packus_epi16(r, z);
          if (_mm_extract_epi16(q, 3) != 0) out[x] = uint32_t(_mm_cvtsi128_si32(res)) | 0xFF000000u;
          if (_mm_extract_epi16(q, 7) != 0) {
            out[x + 1] = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(res, 4))) | 0xFF000000u;
          }
        }
      }
    }
#endif
    for (; x <= last; x++) {
      uint32_t tex = tv.texels[size_t(v >> 16) * stride + size_t(u >> 16)] | ao;
      u += du;
      v += dv;
      if (skip_clear && (tex >> 24) == 0) continue;
      FastPixel<kModulate, kBlend, kTarget>(row, x, (tex & tmask) | tfill, diffuse, at);
    }
  } else {
    int64_t ua = u - 32768, va = v - 32768;
    // Four texels of alpha 0 blend to alpha 0: no need to filter them.
    for (; x <= last; x++) {
      const uint32_t* p = tv.texels + size_t(va >> 16) * stride + size_t(ua >> 16);
      uint32_t c00 = p[0], c10 = p[1], c01 = p[stride], c11 = p[stride + 1];
      uint32_t fx = uint32_t((ua >> 8) & 255), fy = uint32_t((va >> 8) & 255);
      ua += du;
      va += dv;
      if (skip_clear && ((c00 | c10 | c01 | c11) >> 24) == 0) continue;
      uint32_t tex = Bilerp(c00 | ao, c10 | ao, c01 | ao, c11 | ao, fx, fy);
      FastPixel<kModulate, kBlend, kTarget>(row, x, (tex & tmask) | tfill, diffuse, at);
    }
    u = ua + 32768;
    v = va + 32768;
  }
  for (; x < x1; x++) clamped(x);
}

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

// The spans of a triangle (rows of their own, so in any order): the vector
// spans draw those whose texel positions fit their 32-bit lanes, all in one
// call, the reference loops the rest. The rows' u and v are filled in here.
template <int kFilter, bool kModulate, int kBlend, int kTarget>
void FastSpans(const TriSetup& t, SpanRow* rows, int n) {
  const DrawConfig& c = *t.cfg;
  const int64_t du = kFilter != 0 ? t.du[0] : 0, dv = kFilter != 0 ? t.dv[0] : 0;
  const VecSpanFn vec = c.vec_span[kFilter][kModulate];
  // Positions are linear along a span: every one within the limit when the
  // first and the last are.
  constexpr int64_t kLim = kLanePositionLimit;
  const bool steps_fit = du > -kLim && du < kLim && dv > -kLim && dv < kLim;
  auto fits = [&](int64_t p, int64_t d, int64_t last) {
    return p > -kLim && p < kLim && p + d * last > -kLim && p + d * last < kLim;
  };
#if defined(__SSE2__)
  const PlanePair planes(t);
  const __m128d lim = _mm_set1_pd(kFixedLimit), neg_lim = _mm_set1_pd(-kFixedLimit);
#endif
  int kept = 0;
  for (int i = 0; i < n; i++) {
    const SpanRow r = rows[i];
    int64_t u = 0, v = 0;
    if (kFilter != 0) {
#if defined(__SSE2__)
      const __m128d f = planes.Scaled(r.x0, r.y);
      const __m128d f_hi = _mm_unpackhi_pd(f, f);
      if (_mm_movemask_pd(_mm_and_pd(_mm_cmpgt_pd(f, neg_lim), _mm_cmplt_pd(f, lim))) == 3) {
        u = _mm_cvtsd_si64(f);
        v = _mm_cvtsd_si64(f_hi);
      } else {
        u = ScaledToFixed(_mm_cvtsd_f64(f));
        v = ScaledToFixed(_mm_cvtsd_f64(f_hi));
      }
#else
      u = ToFixed(t.u[0].At(r.x0, r.y));
      v = ToFixed(t.v[0].At(r.x0, r.y));
#endif
    }
    const int64_t last = r.x1 - r.x0 - 1;
    if (vec && (kFilter == 0 || (steps_fit && fits(u, du, last) && fits(v, dv, last))))
      rows[kept++] = {r.y, r.x0, r.x1, int32_t(u), int32_t(v)};
    else
      FastSpan<kFilter, kModulate, kBlend, kTarget>(t, r.y, r.x0, r.x1, u, v);
  }
  if (kept != 0)
    vec(SpanRows{&c.span_draw, t.fast_diffuse, c.bits, c.pitch, int32_t(du), int32_t(dv), rows, kept});
}

// Draws the spans of a triangle; the rows' u and v are scratch.
using SpanFn = void (*)(const TriSetup&, SpanRow* rows, int n);

void GenericSpans(const TriSetup& t, SpanRow* rows, int n) {
  for (int i = 0; i < n; i++) GenericSpan(t, rows[i].y, rows[i].x0, rows[i].x1);
}

template <int kFilter, bool kModulate, int kBlend>
SpanFn PickTarget(int target) {
  switch (target) {
    case 0: return FastSpans<kFilter, kModulate, kBlend, 0>;
    case 1: return FastSpans<kFilter, kModulate, kBlend, 1>;
    default: return FastSpans<kFilter, kModulate, kBlend, 2>;
  }
}

template <int kFilter, bool kModulate>
SpanFn PickBlend(int blend, int target) {
  switch (blend) {
    case 0: return PickTarget<kFilter, kModulate, 0>(target);
    case 1: return PickTarget<kFilter, kModulate, 1>(target);
    default: return PickTarget<kFilter, kModulate, 2>(target);
  }
}

SpanFn PickFast(int filter, bool modulate, int blend, int target) {
  if (filter == 0) return PickBlend<0, false>(blend, target);
  if (filter == 1) return modulate ? PickBlend<1, true>(blend, target) : PickBlend<1, false>(blend, target);
  return modulate ? PickBlend<2, true>(blend, target) : PickBlend<2, false>(blend, target);
}

// ---- Triangles ----

void RasterTriangle(const DrawConfig& c, const RasterVertex& a, const RasterVertex& b, const RasterVertex& d,
                    uint32_t provoking_diffuse, uint32_t provoking_specular);

bool InGuardBand(const RasterVertex& v) {
  return std::fabs(v.x) <= kGuardBand && std::fabs(v.y) <= kGuardBand;
}

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
  std::vector<RasterVertex> poly = {a, b, d}, next;
  for (int side = 0; side < 4; side++) {
    next.clear();
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
    for (size_t i = 0; i < poly.size(); i++) {
      const RasterVertex& p = poly[i];
      const RasterVertex& q = poly[(i + 1) % poly.size()];
      bool pin = inside(p), qin = inside(q);
      if (pin) next.push_back(p);
      if (pin != qin) next.push_back(LerpVertex(p, q, cross(p, q), c.tex_sets));
    }
    poly.swap(next);
    if (poly.size() < 3) return;
  }
  for (size_t i = 1; i + 1 < poly.size(); i++) RasterTriangle(c, poly[0], poly[i], poly[i + 1], a.diffuse, a.specular);
}

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
std::atomic<size_t> g_term_texels_held{0};

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

// ---- Lines and points ----

void ShadeAt(const DrawConfig& c, const RasterVertex& a, const RasterVertex& b, double t, uint32_t flat_diffuse,
             uint32_t flat_specular, int x, int y) {
  if (x < c.clip.left || x >= c.clip.right || y < c.clip.top || y >= c.clip.bottom) return;
  RasterVertex m = LerpVertex(a, b, t, c.tex_sets);
  PixelInput in;
  for (int s = 0; s < c.stages; s++) {
    const StageCfg& st = c.st[s];
    if (!st.has_tex) continue;
    int set = st.set < c.tex_sets ? st.set : -1;
    in.u[s] = ToFixed(set >= 0 ? double(m.tex[set][0]) * st.smp.view.width : 0.0);
    in.v[s] = ToFixed(set >= 0 ? double(m.tex[set][1]) * st.smp.view.height : 0.0);
    in.bilinear[s] = st.smp.mag == D3DTEXF_LINEAR || st.smp.mag == D3DTEXF_ANISOTROPIC;
  }
  in.diffuse = c.flat ? flat_diffuse : m.diffuse;
  in.specular = c.flat ? flat_specular : m.specular;
  in.z = m.z;
  ShadePixel(c, in, x, y);
}

void RasterLine(const DrawConfig& c, const RasterVertex& a, const RasterVertex& b) {
  double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
  if (!std::isfinite(dx) || !std::isfinite(dy)) return;
  bool xmajor = std::fabs(dx) >= std::fabs(dy);
  double len = xmajor ? dx : dy;
  if (len == 0) return;
  double s0 = xmajor ? a.x : a.y, s1 = xmajor ? b.x : b.y;
  // The pixels whose centres the major coordinate passes, the last excluded.
  int64_t i0 = int64_t(std::floor(std::min(s0, s1) + 0.5)), i1 = int64_t(std::floor(std::max(s0, s1) + 0.5));
  int64_t lim0 = xmajor ? c.clip.left : c.clip.top, lim1 = xmajor ? c.clip.right : c.clip.bottom;
  // Every pixel is worked on its own, so the order does not matter: the
  // major coordinates inside the clip rectangle (and one either side, whose
  // minor coordinate may still land inside).
  for (int64_t p = std::max(i0, lim0 - 1); p < std::min(i1, lim1 + 1); p++) {
    double t = (double(p) - s0) / len;
    if (t < 0) t = 0;
    if (t > 1) t = 1;
    double minor = xmajor ? a.y + dy * t : a.x + dx * t;
    int64_t m = int64_t(std::floor(minor + 0.5));
    int x = int(xmajor ? p : m), y = int(xmajor ? m : p);
    ShadeAt(c, a, b, t, a.diffuse, a.specular, x, y);
  }
}

}  // namespace

namespace {

void DrawPrimitive(const DrawConfig& c, int per, const RasterVertex* v) {
  bool finite = true;
  for (int k = 0; k < per; k++) finite &= std::isfinite(v[k].x) && std::isfinite(v[k].y);
  if (!finite) return;
  if (per == 3) {
    if (InGuardBand(v[0]) && InGuardBand(v[1]) && InGuardBand(v[2]))
      RasterTriangle(c, v[0], v[1], v[2], v[0].diffuse, v[0].specular);
    else
      ClipToGuardBand(c, v[0], v[1], v[2]);
  } else if (per == 2) {
    if (InGuardBand(v[0]) && InGuardBand(v[1])) RasterLine(c, v[0], v[1]);
  } else if (InGuardBand(v[0])) {
    int64_t x = int64_t(std::floor(double(v[0].x) + 0.5)), y = int64_t(std::floor(double(v[0].y) + 0.5));
    if (x >= c.clip.left && x < c.clip.right && y >= c.clip.top && y < c.clip.bottom)
      ShadeAt(c, v[0], v[0], 0.0, v[0].diffuse, v[0].specular, int(x), int(y));
  }
}

// Rows [*top, *bottom] that hold every pixel the primitive may draw inside
// the clip rectangle, found cheaply and never too few; false when it draws
// none.
bool PrimitiveRows(const DrawConfig& c, int per, const RasterVertex* v, int64_t* top, int64_t* bottom) {
  for (int k = 0; k < per; k++)
    if (!std::isfinite(v[k].x) || !std::isfinite(v[k].y)) return false;
  int64_t r0 = c.clip.top, r1 = int64_t(c.clip.bottom) - 1;
  if (per == 3) {
    if (InGuardBand(v[0]) && InGuardBand(v[1]) && InGuardBand(v[2])) {
      // The bounding box of the snapped corners, as the triangle walk has it.
      const int64_t y0 = SnapToGrid(v[0].y), y1 = SnapToGrid(v[1].y), y2 = SnapToGrid(v[2].y);
      const int64_t x0 = SnapToGrid(v[0].x), x1 = SnapToGrid(v[1].x), x2 = SnapToGrid(v[2].x);
      if (std::max(CeilDiv(std::min({x0, x1, x2}), 256), int64_t(c.clip.left)) >
          std::min(FloorDiv(std::max({x0, x1, x2}), 256), int64_t(c.clip.right) - 1))
        return false;
      r0 = std::max(r0, CeilDiv(std::min({y0, y1, y2}), 256));
      r1 = std::min(r1, FloorDiv(std::max({y0, y1, y2}), 256));
    }
  } else if (per == 2) {
    if (!InGuardBand(v[0]) || !InGuardBand(v[1])) return false;
    // A line's pixel rows round points between its ends: one row of margin.
    r0 = std::max(r0, int64_t(std::floor(std::min(double(v[0].y), double(v[1].y)))) - 1);
    r1 = std::min(r1, int64_t(std::floor(std::max(double(v[0].y), double(v[1].y)))) + 1);
  } else {
    if (!InGuardBand(v[0])) return false;
    const int64_t y = int64_t(std::floor(double(v[0].y) + 0.5));
    r0 = std::max(r0, y);
    r1 = std::min(r1, y);
  }
  *top = r0;
  *bottom = r1;
  return r0 <= r1;
}

void DrawPrimitives(const DrawConfig& c, int per, const std::vector<RasterVertex>& vertices) {
  for (size_t i = 0; i + per <= vertices.size(); i += per) DrawPrimitive(c, per, vertices.data() + i);
}

// A triangle set up once for every band it reaches, by the first band to
// come to it; a band that finds it being set up sets it up itself.
struct SharedPrep {
  std::atomic<uint8_t> state{0};  // kNone, kMaking, kReady
  bool draws = false;
  TriPrep prep;
};

// A band's entry for one primitive: the primitive and its shared set-up, if any.
struct BinEntry {
  uint32_t prim, prep;
};

// The lists of a draw, kept when it is done for the next draws, so that a
// draw neither allocates nor frees them each time. What is kept is bounded:
// no list above kMaxOneBytes, nor more than kMaxKeptBytes in all.
struct DrawLists {
  std::vector<RasterVertex> vertices;
  std::vector<uint32_t> bin_start, prep_of, fill;
  std::vector<BinEntry> bin_entries;
  std::vector<int32_t> range;
  std::unique_ptr<SharedPrep[]> preps;
  uint32_t prep_capacity = 0;
};

class DrawListStore {
 public:
  static constexpr size_t kMaxOneBytes = size_t(1) << 20;
  static constexpr size_t kMaxKeptBytes = size_t(16) << 20;

  std::vector<RasterVertex> TakeVertices() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<RasterVertex> v;
    if (!vertices_.empty()) {
      v = std::move(vertices_.back());
      vertices_.pop_back();
      bytes_ -= Bytes(v);
    }
    return v;
  }

  void GiveVertices(std::vector<RasterVertex>&& v) {
    v.clear();
    const size_t b = Bytes(v);
    if (b == 0 || b > kMaxOneBytes) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes_ + b > kMaxKeptBytes) return;
    bytes_ += b;
    vertices_.push_back(std::move(v));
  }

  // The bin lists of a finished draw, without its vertices.
  DrawLists TakeBins() {
    std::lock_guard<std::mutex> lock(mutex_);
    DrawLists l;
    if (!bins_.empty()) {
      l = std::move(bins_.back());
      bins_.pop_back();
      bytes_ -= Bytes(l);
    }
    return l;
  }

  void GiveBins(DrawLists&& l) {
    Trim(&l.bin_start);
    Trim(&l.bin_entries);
    Trim(&l.prep_of);
    Trim(&l.fill);
    Trim(&l.range);
    if (size_t(l.prep_capacity) * sizeof(SharedPrep) > kMaxOneBytes) {
      l.preps.reset();
      l.prep_capacity = 0;
    }
    const size_t b = Bytes(l);
    if (b == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes_ + b > kMaxKeptBytes) return;
    bytes_ += b;
    bins_.push_back(std::move(l));
  }

 private:
  template <typename T>
  static size_t Bytes(const std::vector<T>& v) { return v.capacity() * sizeof(T); }
  static size_t Bytes(const DrawLists& l) {
    return Bytes(l.bin_start) + Bytes(l.bin_entries) + Bytes(l.prep_of) + Bytes(l.fill) + Bytes(l.range) +
           size_t(l.prep_capacity) * sizeof(SharedPrep);
  }
  template <typename T>
  static void Trim(std::vector<T>* v) {
    v->clear();
    if (Bytes(*v) > kMaxOneBytes) std::vector<T>().swap(*v);
  }

  std::mutex mutex_;
  std::vector<std::vector<RasterVertex>> vertices_;
  std::vector<DrawLists> bins_;
  size_t bytes_ = 0;
};

// Never destroyed: draws still queued at exit hand their lists back to it.
DrawListStore& ListStore() {
  static DrawListStore* store = new DrawListStore;
  return *store;
}

// One draw call for the band workers: every pixel it writes lies in the
// rows of the band it is run for. Binned, each band keeps the list of the
// primitives that reach it, so a primitive is set up only in the bands it
// draws into.
struct DrawJob final : BandJob {
  DrawConfig config;
  int per = 3;
  std::vector<RasterVertex> vertices;
  // Band b's primitives: lists.bin_entries[lists.bin_start[b] .. lists.bin_start[b + 1]),
  // in call order within each band. Triangles share a set-up
  // (lists.preps[entry.prep], else kNoPrep) only inside the guard band (as
  // DrawPrimitive has them) and reaching more than one band, and at most
  // kMaxShared a draw, which bounds the memory a draw holds.
  static constexpr uint8_t kNone = 0, kMaking = 1, kReady = 2;
  static constexpr uint32_t kNoPrep = 0xFFFFFFFFu;
  static constexpr uint32_t kMaxShared = 4096;
  DrawLists lists;
  bool binned = false;
  std::unique_ptr<TermTables> terms;

  // At most this many term tables a draw, of at most kMaxTermTexels
  // entries in all (and kMaxHeldTermTexels for all the draws not yet done),
  // each for a box that the draw's triangles of its colour cover at least
  // kTermPixels times over (pixels against texels, as the triangles' areas
  // tell): making it costs about as much as drawing its box, and each pixel
  // it is used for saves more than that.
  static constexpr int kMaxTermTables = 64;
  static constexpr size_t kMaxTermTexels = size_t(1) << 22;
  static constexpr size_t kMaxHeldTermTexels = size_t(1) << 24;
  static constexpr double kTermPixels = 8.0;

  // Plans the term tables of an additive point-sampled draw of triangles;
  // they are made when first drawn from.
  void PlanTerms() {
    const DrawConfig& c = config;
    if (per != 3 || c.term_span == nullptr || !c.flat || c.stages != 1) return;
    const StageCfg& st = c.st[0];
    auto smooth = [](uint32_t f) { return f == D3DTEXF_LINEAR || f == D3DTEXF_ANISOTROPIC; };
    if (smooth(st.smp.mag) && smooth(st.smp.min)) return;
    const int w = st.smp.view.width, h = st.smp.view.height;
    // The box's texel positions, less its first, stay far inside the lanes.
    if (w < 1 || h < 1 || w > 8192 || h > 8192) return;
    struct Box {
      uint32_t diffuse;
      double u0, u1, v0, v1, pixels;
      bool bad;
    };
    Box boxes[kMaxTermTables];
    int count = 0, last = -1;
    const int set = st.set;
    for (size_t i = 0; i + 3 <= vertices.size(); i += 3) {
      const RasterVertex* v = vertices.data() + i;
      const uint32_t key = (v[0].diffuse & c.fast_dmask) | ~c.fast_dmask;
      if (last < 0 || boxes[last].diffuse != key) {
        last = -1;
        for (int k = 0; k < count && last < 0; k++)
          if (boxes[k].diffuse == key) last = k;
        if (last < 0) {
          if (count == kMaxTermTables) continue;
          boxes[count] = {key, HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL, 0.0, false};
          last = count++;
        }
      }
      Box& b = boxes[last];
      for (int j = 0; j < 3; j++) {
        // As the triangle's set-up scales them.
        const double u = double(v[j].tex[set][0]) * w, t = double(v[j].tex[set][1]) * h;
        b.bad |= !std::isfinite(u) || !std::isfinite(t);
        b.u0 = std::min(b.u0, u);
        b.u1 = std::max(b.u1, u);
        b.v0 = std::min(b.v0, t);
        b.v1 = std::max(b.v1, t);
      }
      const double area = (double(v[1].x) - v[0].x) * (double(v[2].y) - v[0].y) -
                          (double(v[2].x) - v[0].x) * (double(v[1].y) - v[0].y);
      if (std::isfinite(area)) b.pixels += std::fabs(area) * 0.5;
    }
    // Every position a triangle samples lies between its corners' (up to
    // the rounding of its steps, far below a texel), and clamped addresses
    // stay on the texture's sides: one texel more on each side covers them.
    const size_t held = g_term_texels_held.load(std::memory_order_relaxed);
    const size_t room = std::min(kMaxTermTexels, kMaxHeldTermTexels - std::min(held, kMaxHeldTermTexels));
    size_t total = 0;
    int used = 0;
    int32_t x0[kMaxTermTables], y0[kMaxTermTables], bw[kMaxTermTables], bh[kMaxTermTables];
    for (int k = 0; k < count; k++) {
      Box& b = boxes[k];
      if (b.bad) continue;
      const int32_t lx = int32_t(std::clamp(std::floor(b.u0) - 1.0, 0.0, double(w - 1)));
      const int32_t hx = int32_t(std::clamp(std::floor(b.u1) + 1.0, 0.0, double(w - 1)));
      const int32_t ly = int32_t(std::clamp(std::floor(b.v0) - 1.0, 0.0, double(h - 1)));
      const int32_t hy = int32_t(std::clamp(std::floor(b.v1) + 1.0, 0.0, double(h - 1)));
      const size_t n = size_t(hx - lx + 1) * size_t(hy - ly + 1);
      if (b.pixels < kTermPixels * double(n) || total + n > room) {
        b.bad = true;
        continue;
      }
      x0[k] = lx;
      y0[k] = ly;
      bw[k] = hx - lx + 1;
      bh[k] = hy - ly + 1;
      total += n;
      used++;
    }
    if (used == 0) return;
    terms = std::make_unique<TermTables>();
    terms->tables.reset(new TermTable[size_t(used)]);
    terms->texels.reset(new uint32_t[total]);
    terms->held = total;
    g_term_texels_held.fetch_add(total, std::memory_order_relaxed);
    size_t at = 0;
    for (int k = 0; k < count; k++) {
      if (boxes[k].bad) continue;
      TermTable& table = terms->tables[terms->count++];
      table.diffuse = boxes[k].diffuse;
      table.x0 = x0[k];
      table.y0 = y0[k];
      table.entries = terms->texels.get() + at;
      table.draw.texels = table.entries;
      table.draw.stride = table.draw.width = bw[k];
      table.draw.height = bh[k];
      table.draw.tmask = 0xFFFFFFFFu;
      at += size_t(bw[k]) * size_t(bh[k]);
    }
    config.terms = terms.get();
  }

  ~DrawJob() override {
    ListStore().GiveVertices(std::move(vertices));
    if (binned) ListStore().GiveBins(std::move(lists));
  }

  DrawConfig Clipped(int top, int bottom) const {
    DrawConfig c = config;
    c.clip.top = std::max<int32_t>(c.clip.top, top);
    c.clip.bottom = std::min<int32_t>(c.clip.bottom, bottom);
    return c;
  }

  void Run(int top, int bottom) const override {
    DrawConfig c = Clipped(top, bottom);
    if (c.clip.top < c.clip.bottom) DrawPrimitives(c, per, vertices);
  }

  void Bin(int band_rows) override {
    const size_t prims = vertices.size() / size_t(per);
    const int bands = (rows + band_rows - 1) / band_rows;
    auto band_of = [&](int64_t r) { return int(r / band_rows); };
    lists = ListStore().TakeBins();
    binned = true;
    std::vector<uint32_t>& bin_start = lists.bin_start;
    std::vector<int32_t>& range = lists.range;
    range.resize(prims * 2);  // every entry is written below
    bin_start.assign(size_t(bands) + 1, 0);
    for (size_t i = 0; i < prims; i++) {
      int64_t top, bottom;
      int b0 = 0, b1 = -1;
      if (PrimitiveRows(config, per, vertices.data() + i * per, &top, &bottom)) {
        top = std::max<int64_t>(top, 0);
        bottom = std::min<int64_t>(bottom, rows - 1);
        if (top <= bottom) {
          b0 = band_of(top);
          b1 = band_of(bottom);
        }
      }
      range[2 * i] = b0;
      range[2 * i + 1] = b1;
      for (int b = b0; b <= b1; b++) bin_start[size_t(b) + 1]++;
    }
    if (per == 3) {
      uint32_t shared = 0;
      std::vector<uint32_t>& prep_of = lists.prep_of;
      prep_of.assign(prims, kNoPrep);
      for (size_t i = 0; i < prims && shared < kMaxShared; i++) {
        const RasterVertex* v = vertices.data() + i * 3;
        if (range[2 * i + 1] > range[2 * i] && std::isfinite(v[0].x) && std::isfinite(v[0].y) &&
            std::isfinite(v[1].x) && std::isfinite(v[1].y) && std::isfinite(v[2].x) && std::isfinite(v[2].y) &&
            InGuardBand(v[0]) && InGuardBand(v[1]) && InGuardBand(v[2]))
          prep_of[i] = shared++;
      }
      if (shared > lists.prep_capacity) {
        lists.preps.reset(new SharedPrep[shared]);
        lists.prep_capacity = shared;
      } else {
        for (uint32_t k = 0; k < shared; k++) lists.preps[k].state.store(kNone, std::memory_order_relaxed);
      }
    } else {
      lists.prep_of.assign(prims, kNoPrep);
    }
    for (int b = 0; b < bands; b++) bin_start[size_t(b) + 1] += bin_start[size_t(b)];
    std::vector<BinEntry>& entries = lists.bin_entries;
    entries.resize(bin_start[size_t(bands)]);  // every entry is written below
    std::vector<uint32_t>& fill = lists.fill;
    fill.assign(bin_start.begin(), bin_start.end() - 1);
    const std::vector<uint32_t>& prep_of = lists.prep_of;
    for (size_t i = 0; i < prims; i++)
      for (int b = range[2 * i]; b <= range[2 * i + 1]; b++) entries[fill[size_t(b)]++] = {uint32_t(i), prep_of[i]};
  }

  bool Reaches(int band) const override {
    return lists.bin_start[size_t(band) + 1] > lists.bin_start[size_t(band)];
  }

  // Each primitive is drawn into all the bands before the next, so that a
  // triangle reaching several of them is walked down their rows at once.
  void RunBands(int first, int last, int top, int bottom) const override {
    top = std::max<int>(config.clip.top, top);
    bottom = std::min<int>(config.clip.bottom, bottom);
    if (top >= bottom) return;
    // The bands' lists, merged in call order below: a primitive is in the
    // lists of every band it reaches.
    const BinEntry* at[kMaxBandRun];
    const BinEntry* end[kMaxBandRun];
    int lists_left = 0;
    for (int b = first; b <= last; b++) {
      const BinEntry* const from = lists.bin_entries.data() + lists.bin_start[size_t(b)];
      const BinEntry* const to = lists.bin_entries.data() + lists.bin_start[size_t(b) + 1];
      if (from == to) continue;
      at[lists_left] = from;
      end[lists_left] = to;
      lists_left++;
    }
    // The draw's set-up clipped to the bands, made only for primitives that
    // do not share a triangle's set-up.
    std::optional<DrawConfig> c;
    while (lists_left != 0) {
      const BinEntry* e = at[0];
      for (int g = 1; g < lists_left; g++)
        if (at[g]->prim < e->prim) e = at[g];
      const uint32_t i = e->prim;
      for (int g = 0; g < lists_left;) {
        if (at[g]->prim == i && ++at[g] == end[g]) {
          lists_left--;
          at[g] = at[lists_left];
          end[g] = end[lists_left];
        } else {
          g++;
        }
      }
      // A shared set-up is made for the draw's whole clip rectangle.
      if (e->prep != kNoPrep) {
        SharedPrep& shared = lists.preps[e->prep];
        uint8_t state = shared.state.load(std::memory_order_acquire);
        if (state == kNone && shared.state.compare_exchange_strong(state, kMaking, std::memory_order_acq_rel)) {
          const RasterVertex* v = vertices.data() + size_t(i) * 3;
          shared.draws = PrepareTriangle(config, v[0], v[1], v[2], v[0].diffuse, v[0].specular, &shared.prep);
          shared.state.store(kReady, std::memory_order_release);
          state = kReady;
        }
        if (state == kReady) {
          if (shared.draws) WalkTriangle(shared.prep, top, bottom - 1);
          continue;
        }
      }
      if (!c) c = Clipped(top, bottom);
      DrawPrimitive(*c, per, vertices.data() + size_t(i) * size_t(per));
    }
  }
};

}  // namespace

std::vector<RasterVertex> TakeVertexList() { return ListStore().TakeVertices(); }

void RasterizePrimitives(const DeviceState& state, Direct3DSurface9* target, Direct3DSurface9* depth, int per,
                         std::vector<RasterVertex> vertices, int tex_sets) {
  if (!target || target->bits() == nullptr || !IsColorFormat(target->format())) return;
  // A texture drawn into by a queued draw is sampled once that draw is done.
  // A draw that samples its own target sees its earlier pixels in the order
  // of one thread, so it is drawn whole here, after the queue.
  // A surface that queued draws read is drawn into once they are done.
  auto job = std::make_unique<DrawJob>();
  bool samples_target = false;
  for (int i = 0; i < kMaxTextureStages; i++) {
    if (state.tss[i][D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
    Direct3DTexture9* tex = state.textures[i];
    if (tex == nullptr || tex->GetLevelCount() == 0) continue;
    if (RasterPendingOn(tex->level(0))) WaitForRaster();
    samples_target |= tex->level(0) == target;
    job->sources.push_back(tex->level(0));
  }
  if (RasterReadPending(target)) WaitForRaster();
  BuildConfig(state, target, depth, tex_sets, &job->config);
  if (job->config.clip.left >= job->config.clip.right || job->config.clip.top >= job->config.clip.bottom) return;
  job->per = per;
  job->vertices = std::move(vertices);
  job->rows = int(target->height());
  job->target = target;
  if (samples_target) {
    WaitForRaster();
    job->Run(0, job->rows);
    return;
  }
  // Not for a draw that samples its target: a table keeps the texels it was
  // made from.
  job->PlanTerms();
  SubmitBandJob(std::move(job));
}

}  // namespace plat
