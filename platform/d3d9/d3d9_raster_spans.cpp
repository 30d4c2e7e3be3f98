// platform/d3d9/d3d9_raster_spans.cpp - the specialised span loops for the
// common state combinations (one stage of texture and diffuse, clamped
// addressing, opaque, alpha or additive blending into 32-bit or R5G6B5
// targets), and their hand-over to the vector spans.
#include "platform/d3d9/d3d9_raster_internal.h"

namespace plat::raster {

namespace {

// ---- Specialised span loops ----

inline uint32_t Decode565(uint16_t v) {
  uint32_t r = v >> 11, g = (v >> 5) & 63, b = v & 31;
  return 0xFF000000u | (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
}
inline uint16_t Encode565(uint32_t c) {
  return uint16_t(((Ch(c, 2) >> 3) << 11) | ((Ch(c, 1) >> 2) << 5) | (Ch(c, 0) >> 3));
}

#if !defined(__SSE2__)
// Four channels in 16-bit lanes (B, G, R, A from the bottom), for the blends
// where no vector unit is at hand.
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
#endif

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

}  // namespace

SpanFn PickFast(int filter, bool modulate, int blend, int target) {
  if (filter == 0) return PickBlend<0, false>(blend, target);
  if (filter == 1) return modulate ? PickBlend<1, true>(blend, target) : PickBlend<1, false>(blend, target);
  return modulate ? PickBlend<2, true>(blend, target) : PickBlend<2, false>(blend, target);
}

}  // namespace plat::raster
