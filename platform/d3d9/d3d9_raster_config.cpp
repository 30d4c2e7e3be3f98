// platform/d3d9/d3d9_raster_config.cpp - a draw's configuration: the device
// state a draw is taken with, and the choice of the specialised span loops
// and vector spans for it.
#include <algorithm>

#include "platform/d3d9/d3d9_raster_internal.h"

namespace plat::raster {

namespace {

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

}  // namespace

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

}  // namespace plat::raster
