// lib/graphics/render_state_cache.cpp - every device state the library sets
// outside the blend and stage selection goes through a setter here, which
// reaches the device only when the value differs from the one it last gave
// (or a refresh is forced), and empties the vertex batch first so that
// pending vertices keep the states they were added under.
#include <cstring>

#include "lib/core/log.h"
#include "lib/graphics/graphics_device.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphics_links.h"

namespace {

RenderStateCache g_cache;
int g_stage_texcoord[8] = {-1, -1, -1, -1, -1, -1, -1, -1};

plat::Direct3DDevice9* Dev() { return GraphicsDevice().device; }
void Flush() {
  FlushVertexBatch();
}
bool Forced() { return g_cache.forced_refresh != 0; }
uint32_t Bits(float f) {
  uint32_t u;
  memcpy(&u, &f, 4);
  return u;
}

void Transpose(const plat::D3DMATRIX& m, float out[4][4]) {
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 4; j++) out[i][j] = m.m[j][i];
}

void UpdateFogRegister() {
  RenderStateCache& c = g_cache;
  float range = c.fog_end - c.fog_start;
  float v[4] = {c.fog_end / range, -1.0f / range, c.fog_density, 2.7182817f};
  SetLibraryVertexShaderConstants(10, v, 1);
}

// Sets one state of every stage in `stages`, each where it differs.
int SetAddress(int which, int mode, int stage) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return 0;
  if (stage > 7 || stage < -1) return -1;
  static const uint32_t kStates[3] = {plat::D3DSAMP_ADDRESSU, plat::D3DSAMP_ADDRESSV, plat::D3DSAMP_ADDRESSW};
  plat::HRESULT hr = 0;
  if (stage == -1) {
    bool differs = Forced();
    for (int s = 0; s < 8; s++) differs |= g_cache.address[which][s] != mode;
    if (!differs) return 0;
    Flush();
    for (int s = 7; s >= 0; s--) {
      hr = d->SetSamplerState(uint32_t(s), kStates[which], uint32_t(mode));
      g_cache.address[which][s] = mode;
    }
  } else {
    if (g_cache.address[which][stage] == mode && !Forced()) return 0;
    Flush();
    hr = d->SetSamplerState(uint32_t(stage), kStates[which], uint32_t(mode));
    g_cache.address[which][stage] = mode;
  }
  return hr == plat::D3D_OK ? 0 : -1;
}

}  // namespace

RenderStateCache& StateCache() { return g_cache; }
int* StageTexCoordIndexes() { return g_stage_texcoord; }

void ResetRenderStateCache() {
  g_cache = RenderStateCache{};
  g_cache.filter_mode = 3;
  g_cache.max_anisotropy = 1;
  g_cache.z_enable = 1;
  g_cache.z_write = 0;
  g_cache.z_function = plat::D3DCMP_LESSEQUAL;
  g_cache.stage_count = 1;
  for (int s = 0; s < 8; s++) {
    g_cache.stage_anisotropy[s] = 1;
    for (int k = 0; k < 3; k++) g_cache.stage_filters[s][k] = -1;
    for (int k = 0; k < 3; k++) g_cache.address[k][s] = plat::D3DTADDRESS_CLAMP;
  }
  g_cache.viewport = {0, 0, 0, 0, 0.0f, 1.0f};
  for (int& i : g_stage_texcoord) i = -1;
}

int SetLightingEnable(int on) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return 0;
  if (g_cache.lighting == on && !Forced()) return 0;
  g_cache.lighting = on;
  UpdateShaderIndex();
  return d->SetRenderState(plat::D3DRS_LIGHTING, uint32_t(on)) == plat::D3D_OK ? 0 : -1;
}

int ResetTexCoordIndexes() {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return -1;
  for (int s = 0; s < 8; s++) {
    if (g_stage_texcoord[s] == s && !Forced()) continue;
    d->SetTextureStageState(uint32_t(s), plat::D3DTSS_TEXCOORDINDEX, uint32_t(s));
    g_stage_texcoord[s] = s;
  }
  return 0;
}

int SetSamplerFilterMode(int mode) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return -1;
  // This setter empties the batch before it looks at the mode.
  Flush();
  if (mode < 0 || mode > 2) return -1;
  if (g_cache.filter_mode == mode && !Forced()) return 0;
  static const int kModes[3][3] = {{plat::D3DTEXF_POINT, plat::D3DTEXF_POINT, plat::D3DTEXF_NONE},
                                   {plat::D3DTEXF_LINEAR, plat::D3DTEXF_LINEAR, plat::D3DTEXF_NONE},
                                   {plat::D3DTEXF_LINEAR, plat::D3DTEXF_ANISOTROPIC, plat::D3DTEXF_LINEAR}};
  static const uint32_t kStates[3] = {plat::D3DSAMP_MAGFILTER, plat::D3DSAMP_MINFILTER, plat::D3DSAMP_MIPFILTER};
  for (int s = 0; s < g_cache.stage_count && s < 8; s++)
    for (int k = 0; k < 3; k++) {
      if (g_cache.stage_filters[s][k] == kModes[mode][k] && !Forced()) continue;
      d->SetSamplerState(uint32_t(s), kStates[k], uint32_t(kModes[mode][k]));
      g_cache.stage_filters[s][k] = kModes[mode][k];
    }
  g_cache.filter_mode = mode;
  return 0;
}

int SetMaxAnisotropy(int value) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return -1;
  if (g_cache.max_anisotropy == value && !Forced()) return 0;
  Flush();
  if (value < 1) value = 1;
  for (int s = 0; s < g_cache.stage_count && s < 8; s++) {
    if (g_cache.stage_anisotropy[s] == value) continue;
    d->SetSamplerState(uint32_t(s), plat::D3DSAMP_MAXANISOTROPY, uint32_t(value));
    g_cache.stage_anisotropy[s] = value;
  }
  g_cache.max_anisotropy = value;
  return 0;
}

namespace {
int SetCachedRenderState(int* slot, int value, uint32_t state, uint32_t device_value) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return -1;
  if (*slot == value && !Forced()) return 0;
  Flush();
  plat::HRESULT hr = d->SetRenderState(state, device_value);
  *slot = value;
  return hr == plat::D3D_OK ? 0 : -1;
}
}  // namespace

int SetZBufferEnable(int on) { return SetCachedRenderState(&g_cache.z_enable, on, plat::D3DRS_ZENABLE, on == 1 ? 1 : 0); }
int SetMaskZBufferEnable(int on) { return SetZBufferEnable(on); }
int SetZWriteState(int on) { return SetCachedRenderState(&g_cache.z_write, on, plat::D3DRS_ZWRITEENABLE, uint32_t(on)); }
int SetZFunctionState(int f) { return SetCachedRenderState(&g_cache.z_function, f, plat::D3DRS_ZFUNC, uint32_t(f)); }
int SetDepthBiasState(int bias) {
  return SetCachedRenderState(&g_cache.depth_bias, bias, plat::D3DRS_DEPTHBIAS, uint32_t(bias));
}

int SetDiffuseFromVertex(int on) {
  if (!Dev()) return 0;
  return SetCachedRenderState(&g_cache.diffuse_from_vertex, on, plat::D3DRS_DIFFUSEMATERIALSOURCE,
                              on ? plat::D3DMCS_COLOR1 : plat::D3DMCS_MATERIAL);
}

int SetSpecularFromVertex(int on) {
  if (!Dev()) return 0;
  return SetCachedRenderState(&g_cache.specular_from_vertex, on, plat::D3DRS_SPECULARMATERIALSOURCE,
                              on ? plat::D3DMCS_COLOR2 : plat::D3DMCS_MATERIAL);
}

int SetCullMode(int mode) {
  if (!Dev()) return 0;
  uint32_t v = mode == 2 ? uint32_t(plat::D3DCULL_CW) : mode == 0 ? uint32_t(plat::D3DCULL_NONE) : uint32_t(plat::D3DCULL_CCW);
  SetCachedRenderState(&g_cache.cull_mode, mode, plat::D3DRS_CULLMODE, v);
  return 0;
}

int SetTextureAddressMode(int mode, int stage) {
  int r = 0;
  for (int which = 0; which < 3; which++) r = SetAddress(which, mode, stage);
  return r;
}
int SetTextureAddressU(int mode, int stage) { return SetAddress(0, mode, stage); }
int SetTextureAddressV(int mode, int stage) { return SetAddress(1, mode, stage); }
int SetTextureAddressW(int mode, int stage) { return SetAddress(2, mode, stage); }

int SetTextureTransform(int stage, int on, const plat::D3DMATRIX* matrix) {
  plat::Direct3DDevice9* d = Dev();
  if (!d || !matrix || stage < -1 || stage > 7) return -1;
  if (stage == -1) {
    Flush();
    for (int s = 0; s < 4; s++)
      d->SetTextureStageState(uint32_t(s), plat::D3DTSS_TEXTURETRANSFORMFLAGS, on == 1 ? uint32_t(plat::D3DTTFF_COUNT3) : 0u);
    if (on == 1)
      for (int s = 0; s < 4; s++) d->SetTransform(plat::D3DTS_TEXTURE0 + uint32_t(s), matrix);
    for (int s = 0; s < 4; s++) {
      g_cache.texture_transform_on[s] = on;
      g_cache.texture_matrices[s] = *matrix;
    }
    return 0;
  }
  if (g_cache.texture_transform_on[stage] == 0 && on == 0) return 0;
  Flush();
  if (on == 1) {
    if (g_cache.texture_transform_on[stage] == 0)
      d->SetTextureStageState(uint32_t(stage), plat::D3DTSS_TEXTURETRANSFORMFLAGS, plat::D3DTTFF_COUNT3);
    d->SetTransform(plat::D3DTS_TEXTURE0 + uint32_t(stage), matrix);
  } else {
    d->SetTextureStageState(uint32_t(stage), plat::D3DTSS_TEXTURETRANSFORMFLAGS, 0);
  }
  g_cache.texture_transform_on[stage] = on;
  g_cache.texture_matrices[stage] = *matrix;
  return 0;
}

int SetFogEnableState(int on) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return 0;
  if (g_cache.fog_enable == on && !Forced()) return 0;
  Flush();
  g_cache.fog_enable = on;
  UpdateShaderIndex();
  return d->SetRenderState(plat::D3DRS_FOGENABLE, uint32_t(on)) == plat::D3D_OK ? 0 : -1;
}

int SetFogModeState(int mode) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return 0;
  if (g_cache.fog_mode == mode && !Forced()) return 0;
  Flush();
  if (GraphicsDevice().shaders_in_use) {
    // The vertex shaders branch on these: linear, exponential, squared, any.
    const int32_t branches[4] = {mode == 3, mode == 1, mode == 2, mode != 0};
    d->SetVertexShaderConstantB(0, branches, 4);
  }
  g_cache.fog_mode = mode;
  UpdateShaderIndex();
  return d->SetRenderState(plat::D3DRS_FOGVERTEXMODE, uint32_t(mode)) == plat::D3D_OK ? 0 : -1;
}

int SetFogColorState(uint32_t colour) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return 0;
  if (g_cache.fog_colour == colour && !Forced()) return 0;
  Flush();
  g_cache.fog_colour = colour;
  return d->SetRenderState(plat::D3DRS_FOGCOLOR, colour) == plat::D3D_OK ? 0 : -1;
}

int SetFogRangeState(float start, float end) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return 0;
  Flush();
  if (!(g_cache.fog_start == start) || Forced()) {
    d->SetRenderState(plat::D3DRS_FOGSTART, Bits(start));
    g_cache.fog_start = start;
    UpdateFogRegister();
  }
  if (!(g_cache.fog_end == end) || Forced()) {
    d->SetRenderState(plat::D3DRS_FOGEND, Bits(end));
    g_cache.fog_end = end;
    UpdateFogRegister();
  }
  return 0;
}

int SetFogDensityState(float density) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return 0;
  if (g_cache.fog_density == density && !Forced()) return 0;
  Flush();
  g_cache.fog_density = density;
  UpdateFogRegister();
  return d->SetRenderState(plat::D3DRS_FOGDENSITY, Bits(density)) == plat::D3D_OK ? 0 : -1;
}

int SetViewportState(const plat::D3DVIEWPORT9* vp) {
  plat::Direct3DDevice9* d = Dev();
  if (!d || !vp) return -1;
  const plat::D3DVIEWPORT9& c = g_cache.viewport;
  if (c.X == vp->X && c.Y == vp->Y && c.Width == vp->Width && c.Height == vp->Height && !Forced()) return 0;
  Flush();
  EndDeviceScene();
  plat::HRESULT hr = d->SetViewport(vp);
  if (hr != plat::D3D_OK) {
    WriteLogLineFmt("ビューポートのセットに失敗しました ErrorCode %x\n", uint32_t(hr));
    return 0;
  }
  g_cache.viewport = *vp;
  return 0;
}

int SetViewportFromRect(int x1, int y1, int x2, int y2) {
  plat::D3DVIEWPORT9 vp = {uint32_t(x1), uint32_t(y1), uint32_t(x2 - x1), uint32_t(y2 - y1), 0.0f, 1.0f};
  return SetViewportState(&vp);
}

int SetScissorRectState(const plat::RECT* r) {
  plat::Direct3DDevice9* d = Dev();
  if (!d || !r) return -1;
  const plat::RECT& c = g_cache.scissor;
  if (c.left == r->left && c.top == r->top && c.right == r->right && c.bottom == r->bottom && !Forced()) return 0;
  Flush();
  EndDeviceScene();
  d->SetScissorRect(r);
  g_cache.scissor = *r;
  return 0;
}

void SetLibraryVertexShaderConstants(int first, const float* values, int count) {
  if (!values || first < 0 || count < 0 || first + count > 256) return;
  plat::Direct3DDevice9* d = Dev();
  if (d && GraphicsDevice().shaders_in_use) {
    if (g_cache.user_constants_selected) SelectShaderConstantSet(0);
    d->SetVertexShaderConstantF(uint32_t(first), values, uint32_t(count));
  }
  memcpy(g_cache.vertex_constants[first], values, sizeof(float) * 4 * size_t(count));
}

void SetLibraryPixelShaderConstants(int first, const float* values, int count) {
  if (!values || first < 0 || count < 0 || first + count > 32) return;
  plat::Direct3DDevice9* d = Dev();
  if (d && GraphicsDevice().shaders_in_use) {
    if (g_cache.user_constants_selected) SelectShaderConstantSet(0);
    d->SetPixelShaderConstantF(uint32_t(first), values, uint32_t(count));
  }
  memcpy(g_cache.pixel_constants[first], values, sizeof(float) * 4 * size_t(count));
}

int SelectShaderConstantSet(int use_user_set) {
  plat::Direct3DDevice9* d = Dev();
  if (!d || !GraphicsDevice().shaders_in_use || g_cache.user_constants_selected == use_user_set) return 0;
  // Nothing in this system fills the user's constants, so only the library
  // set is ever sent back.
  if (!use_user_set) {
    d->SetVertexShaderConstantF(0, &g_cache.vertex_constants[0][0], 256);
    d->SetPixelShaderConstantF(0, &g_cache.pixel_constants[0][0], 32);
  }
  g_cache.user_constants_selected = use_user_set;
  return 0;
}

int SetViewTransform(const plat::D3DMATRIX* m) {
  plat::Direct3DDevice9* d = Dev();
  if (!d || !m) return 0;
  d->SetTransform(plat::D3DTS_VIEW, m);
  if (GraphicsDevice().shaders_in_use) {
    float t[4][4];
    Transpose(*m, t);
    SetLibraryVertexShaderConstants(6, &t[0][0], 4);
    // The shaders light in view space, so the lights move with the view.
    UpdateLightViewConstants(m);
  }
  g_cache.view = *m;
  return 0;
}

int SetProjectionTransform(const plat::D3DMATRIX* m) {
  plat::Direct3DDevice9* d = Dev();
  if (!d || !m) return 0;
  d->SetTransform(plat::D3DTS_PROJECTION, m);
  if (GraphicsDevice().shaders_in_use) {
    float t[4][4];
    Transpose(*m, t);
    SetLibraryVertexShaderConstants(2, &t[0][0], 4);
  }
  g_cache.projection = *m;
  return 0;
}

int DrawIndexedGrid(int w, int h, const void* vertices) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return 0;
  if (w < 2 || h < 2 || !vertices || 2 * w + 2 > 1000) return -1;
  Flush();
  uint16_t idx[1000];
  int n = 0;
  uint32_t fvf = 0;
  auto draw = [&]() {
    if (n < 3) {
      n = 0;
      return;
    }
    d->GetFVF(&fvf);
    if (fvf != 0x144) d->SetFVF(0x144);
    d->DrawIndexedPrimitiveUP(plat::D3DPT_TRIANGLESTRIP, 0, uint32_t(w * h), uint32_t(n - 2), idx,
                              plat::D3DFMT_INDEX16, vertices, 28);
    n = 0;
  };
  for (int r = 0; r <= h - 2; r++) {
    int base = r * w;
    if (n + 2 * w + 2 > 1000) draw();
    else if (n > 0) idx[n++] = uint16_t(base + w);
    for (int c = 0; c < w; c++) {
      idx[n++] = uint16_t(base + w + c);
      idx[n++] = uint16_t(base + c);
    }
    if (r != h - 2) {
      idx[n] = idx[n - 1];
      n++;
    }
  }
  draw();
  return 0;
}
