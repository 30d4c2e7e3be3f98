// platform/d3d9/d3d9_raster_pixel.cpp - the generic per-pixel pipeline
// (texture stages, alpha test, depth test, blending, write mask), the
// generic spans that feed it, and lines and points.
#include <algorithm>
#include <cmath>

#include "platform/d3d9/d3d9_raster_internal.h"

namespace plat::raster {

namespace {

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

}  // namespace

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

namespace {

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

}  // namespace

void GenericSpans(const TriSetup& t, SpanRow* rows, int n) {
  for (int i = 0; i < n; i++) GenericSpan(t, rows[i].y, rows[i].x0, rows[i].x1);
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

}  // namespace plat::raster
