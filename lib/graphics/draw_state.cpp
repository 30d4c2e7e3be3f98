// lib/graphics/draw_state.cpp - the setters of the draw settings every later
// draw uses (blend mode, bright colour, filter, blend image, clip rectangle,
// fog, matrices), the screen colour conversions, and the operations that
// push the settings to the device again after it was rebuilt.
#include <cmath>
#include <cstring>

#include "lib/core/log.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "lib/graphics/soft_draw.h"
#include "lib/softrender/blend_tables.h"
#include "lib/softrender/soft_draw_state.h"

int ReapplyLastDraw();

namespace {

DrawSettings g_draw;

plat::Direct3DDevice9* Dev() { return GraphicsDevice().device; }

void UpdateDiffuse() {
  g_draw.diffuse = uint32_t(GetDrawDiffuseColor());
  Batch().diffuse = g_draw.diffuse;
}

int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

const PixelFormatInfo* ScreenFormat() {
  static PixelFormatInfo f16, f32;
  static bool built = false;
  if (!built) {
    CreatePixelFormatInfoFromMasks(&f16, 16, 0xF800, 0x07E0, 0x001F, 0);
    CreatePixelFormatInfoFromMasks(&f32, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    built = true;
  }
  return Screen().colour_bits == 16 ? &f16 : &f32;
}

const plat::D3DMATRIX* D3D(const Matrix4* m) { return reinterpret_cast<const plat::D3DMATRIX*>(m); }

// projection x second x inverse clip viewport.
void UpdateDeviceProjection() {
  if (!Dev()) return;
  Matrix4 m;
  MultiplyMatrix(&m, &g_draw.projection, &g_draw.second);
  MultiplyMatrix(&m, &m, &g_draw.clip_viewport_inverse);
  SetProjectionTransform(D3D(&m));
}

}  // namespace

DrawSettings& Draw() { return g_draw; }

void SyncSoftDrawState() {
  SoftDrawState& s = SoftDraw();
  s.blend_mode = uint32_t(g_draw.blend_mode);
  s.blend_param = g_draw.blend_param;
  s.bright = g_draw.bright & 0xFFFFFF;
  s.clip = IntRect{g_draw.clip[0], g_draw.clip[1], g_draw.clip[2], g_draw.clip[3]};
}

int GetDrawDiffuseColor() {
  uint32_t alpha = g_draw.blend_mode != 0 ? uint32_t(g_draw.blend_param) : 255u;
  return int((alpha << 24) | (g_draw.bright & 0xFFFFFF));
}

int SetBlendModeParam(int mode, int param) {
  if (g_draw.suspended) return 0;
  param = Clamp255(param);
  if (mode == g_draw.blend_mode && param == g_draw.blend_param) return 0;
  WaitIfInactive();
  g_draw.blend_mode = mode;
  g_draw.blend_param = param;
  UpdateDiffuse();
  SyncSoftDrawState();
  return 0;
}

int SetDrawBrightRGB(int r, int g, int b) {
  uint32_t rgb = (uint32_t(Clamp255(r)) << 16) | (uint32_t(Clamp255(g)) << 8) | uint32_t(Clamp255(b));
  if (rgb == g_draw.bright) return 0;
  g_draw.bright = rgb;
  UpdateDiffuse();
  SyncSoftDrawState();
  return 0;
}

int SetDrawBrightPacked(uint32_t rgb) {
  rgb &= 0xFFFFFF;
  if (rgb == g_draw.bright) return 0;
  g_draw.bright = rgb;
  UpdateDiffuse();
  SyncSoftDrawState();
  return 0;
}

int SetDrawFilterMode(int mode) {
  if (g_draw.suspended || mode == g_draw.filter_mode) return 0;
  g_draw.filter_mode = mode;
  if (GraphicsDevice().direct3d_mode && Dev()) SetSamplerFilterMode(mode);
  return 0;
}

int SetDrawBlendImage(int handle, int border_param, int border_range) {
  if (g_draw.suspended) return 0;
  if (handle == g_draw.blend_graphic && border_param == g_draw.border_param && border_range == g_draw.border_range)
    return 0;
  GraphicRecord* r = nullptr;
  if (handle != -1) {
    r = GraphicHandleToRecord(handle);
    if (!r) return -1;
  }
  WaitIfInactive();
  border_param = Clamp255(border_param);
  border_range = Clamp255(border_range);
  if (!GraphicsDevice().direct3d_mode) {
    g_draw.blend_graphic = handle;
    g_draw.border_param = border_param;
    g_draw.border_range = border_range;
    SoftDraw().blend_image = handle == -1 ? nullptr : GraphicMemImg(r);
    BuildBlendImageWeightTable(border_param, border_range);
    return 0;
  }
  if (handle == -1) {
    g_draw.blend_graphic = -1;
    g_draw.border_param = border_param;
    g_draw.border_range = border_range;
    g_draw.blend_texture = nullptr;
    SetDesiredBlendTexture(nullptr, -1, -1);
    return 0;
  }
  if (!Dev() || !r->set || !r->set->textured || r->entry_count < 1) return -1;
  GraphicTile* t = r->entries[0].tile;
  g_draw.blend_graphic = handle;
  g_draw.border_param = border_param;
  g_draw.border_range = border_range;
  g_draw.blend_texture = t->texture;
  SetDesiredBlendTexture(t->texture, border_param, border_range);
  g_draw.blend_width = float(t->texture_width);
  g_draw.blend_height = float(t->texture_height);
  g_draw.blend_inv_width = 1.0f / g_draw.blend_width;
  g_draw.blend_inv_height = 1.0f / g_draw.blend_height;
  return 0;
}

int GetGraphicSize(int handle, int* width, int* height) {
  int w, h;
  if (handle == -2 || handle == -4) {
    GetScreenSize(&w, &h);
  } else {
    GraphicRecord* r = GraphicHandleToRecord(handle);
    if (!r) return -1;
    w = r->width;
    h = r->height;
  }
  if (width) *width = w;
  if (height) *height = h;
  return 0;
}

int SetDrawClipRect(int x1, int y1, int x2, int y2) {
  if (g_draw.suspended) return 0;
  int limit_w, limit_h;
  int target = g_draw.draw_target;
  if (target == -2 || target == -3 || target == -4 || target == -5) {
    GetScreenSize(&limit_w, &limit_h);
  } else if (GetGraphicSize(target, &limit_w, &limit_h) != 0) {
    return -1;
  }
  g_draw.requested_clip[0] = x1;
  g_draw.requested_clip[1] = y1;
  g_draw.requested_clip[2] = x2;
  g_draw.requested_clip[3] = y2;
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  auto clamp = [](int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); };
  x1 = clamp(x1, limit_w);
  x2 = clamp(x2, limit_w);
  y1 = clamp(y1, limit_h);
  y2 = clamp(y2, limit_h);
  int c[4] = {x1, y1, x2, y2};
  for (int i = 0; i < 4; i++) {
    g_draw.clip[i] = c[i];
    g_draw.clipf[i] = float(c[i]);
  }
  SyncSoftDrawState();
  if (x1 == x2 || y1 == y2) {
    g_draw.empty_clip = 1;
    return 0;
  }
  g_draw.empty_clip = 0;
  if (!GraphicsDevice().direct3d_mode) return 0;
  if (!Dev()) return -1;
  SetViewportFromRect(x1, y1, x2, y2);
  plat::RECT scissor = {x1, y1, x2, y2};
  SetScissorRectState(&scissor);
  Matrix4 vp;
  CreateViewportMatrix(&vp, float(x1) + float(x2 - x1) * 0.5f, float(y1) + float(y2 - y1) * 0.5f, float(x2 - x1),
                       float(y2 - y1));
  if (InverseMatrix(&g_draw.clip_viewport_inverse, &vp) != 0) CreateIdentityMatrix(&g_draw.clip_viewport_inverse);
  UpdateDeviceProjection();
  return 0;
}

uint32_t GetColorCode(uint8_t r, uint8_t g, uint8_t b) {
  const PixelFormatInfo* f = ScreenFormat();
  return ((uint32_t(r) >> (8 - f->width_r)) << f->shift_r) + ((uint32_t(g) >> (8 - f->width_g)) << f->shift_g) +
         ((uint32_t(b) >> (8 - f->width_b)) << f->shift_b) + f->unused_mask;
}

int SplitColorCode(uint32_t colour, int* r, int* g, int* b) {
  const PixelFormatInfo* f = ScreenFormat();
  auto channel = [&](uint32_t mask, int shift, int width) {
    return int(((colour & mask) >> shift) * 255u / ((1u << width) - 1u));
  };
  if (r) *r = channel(f->mask_r, f->shift_r, f->width_r);
  if (g) *g = channel(f->mask_g, f->shift_g, f->width_g);
  if (b) *b = channel(f->mask_b, f->shift_b, f->width_b);
  return 0;
}

float* SetFloat4(float* out, float a, float b, float c, float d) {
  out[0] = a;
  out[1] = b;
  out[2] = c;
  out[3] = d;
  return out;
}

int SetFogMode(int mode) {
  if (mode == g_draw.fog_mode && (!Dev() || StateCache().fog_mode == mode)) return 0;
  FlushVertexBatch();
  g_draw.fog_mode = mode;
  if (Dev()) SetFogModeState(mode);
  return 0;
}

int SetFogRgb(int r, int g, int b) {
  uint32_t c = 0xFF000000u | (uint32_t(r & 255) << 16) | (uint32_t(g & 255) << 8) | uint32_t(b & 255);
  if (c == g_draw.fog_colour && (!Dev() || StateCache().fog_colour == c)) return 0;
  FlushVertexBatch();
  g_draw.fog_colour = c;
  if (Dev()) SetFogColorState(c);
  return 0;
}

int SetFogRange(float start, float end) {
  if (start == g_draw.fog_start && end == g_draw.fog_end &&
      (!Dev() || (StateCache().fog_start == start && StateCache().fog_end == end)))
    return 0;
  FlushVertexBatch();
  g_draw.fog_start = start;
  g_draw.fog_end = end;
  if (Dev()) SetFogRangeState(start, end);
  return 0;
}

int SetWorldMatrix(const Matrix4* m) {
  FlushVertexBatch();
  g_draw.world = *m;
  UpdateViewProjection();
  SetWorldTransformDevice(m);
  return 0;
}

int SetViewMatrix(const Matrix4* m) {
  FlushVertexBatch();
  g_draw.view = *m;
  UpdateViewProjection();
  if (Dev()) SetViewTransform(D3D(m));
  return 0;
}

int SetTransformMatrixFirst(const Matrix4* m) {
  FlushVertexBatch();
  g_draw.projection = *m;
  UpdateViewProjection();
  UpdateDeviceProjection();
  return 0;
}

int SetTransformMatrixSecond(const Matrix4* m) {
  FlushVertexBatch();
  g_draw.second = *m;
  UpdateViewProjection();
  UpdateDeviceProjection();
  return 0;
}

namespace {
plat::Direct3DSurface9* g_current_target = nullptr;
}

void ForgetRenderTargetSurface() { g_current_target = nullptr; }

int SetRenderTargetSurface(void* surface_pointer, int internal_switch) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return -1;
  auto* surface = static_cast<plat::Direct3DSurface9*>(surface_pointer);
  if (!surface) return -1;
  if (surface == g_current_target && !internal_switch && !StateCache().forced_refresh) return 0;
  FlushVertexBatch();
  d->SetRenderTarget(0, surface);
  g_current_target = surface;
  plat::D3DSURFACE_DESC desc{};
  surface->GetDesc(&desc);
  plat::D3DVIEWPORT9 vp = {0, 0, desc.Width, desc.Height, 0.0f, 1.0f};
  SetViewportState(&vp);
  return 0;
}

int SetUserBlendTable(const int32_t* table, int textures_only) {
  FlushVertexBatch();
  if (!table) {
    g_draw.user_table_on = 0;
    Desired().state_dirty = Desired().texture_dirty = 1;
    return 0;
  }
  memcpy(g_draw.user_table, table, sizeof(g_draw.user_table));
  g_draw.user_table_on = 1;
  g_draw.user_textures_only = textures_only;
  Desired().state_dirty = Desired().texture_dirty = 1;
  if (Dev()) SelectDrawBlendState(nullptr, 1, textures_only);
  return 0;
}

int SetCustomDrawState(const int32_t* block, int textures_only, int handles) {
  FlushVertexBatch();
  int r = SelectDrawBlendState(block, handles, textures_only);
  Desired().state_dirty = Desired().texture_dirty = 1;
  return r;
}

int ReapplyBasicDeviceStates() {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return -1;
  FlushVertexBatch();
  RenderStateCache& c = StateCache();
  for (int i = 0; i < 4; i++) {
    d->SetSamplerState(uint32_t(i), plat::D3DSAMP_ADDRESSU, uint32_t(c.address[0][i]));
    d->SetSamplerState(uint32_t(i), plat::D3DSAMP_ADDRESSV, uint32_t(c.address[1][i]));
  }
  int* texcoord = StageTexCoordIndexes();
  for (int i = 0; i < 4; i++) {
    int index = (i == 1 || i == 2) ? 1 : 0;
    d->SetTextureStageState(uint32_t(i), plat::D3DTSS_TEXCOORDINDEX, uint32_t(index));
    texcoord[i] = index;
    if (GraphicsDevice().temp_register_capable)
      d->SetTextureStageState(uint32_t(i), plat::D3DTSS_RESULTARG, plat::D3DTA_CURRENT);
  }
  d->SetRenderState(plat::D3DRS_LIGHTING, uint32_t(c.lighting));
  d->SetRenderState(plat::D3DRS_CULLMODE, plat::D3DCULL_NONE);
  d->SetRenderState(plat::D3DRS_DITHERENABLE, 0);
  d->SetVertexShader(nullptr);
  d->SetPixelShader(nullptr);
  Batch().cached_fvf = 0;
  return 0;
}

int RefreshDrawStates() {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return -1;
  RenderStateCache& c = StateCache();
  c.forced_refresh = 1;
  SetViewportState(&c.viewport);
  SetScissorRectState(&c.scissor);
  ReapplyBasicDeviceStates();
  SetSamplerFilterMode(g_draw.filter_mode);
  Desired().state_dirty = Desired().texture_dirty = 1;
  ReapplyLastDraw();
  SelectDrawBlendState(nullptr, 0, 0);
  SetZBufferEnable(c.z_enable);
  SetZWriteState(c.z_write);
  SetZFunctionState(c.z_function);
  SetDepthBiasState(c.depth_bias);
  SetFogEnableState(c.fog_enable);
  SetFogModeState(c.fog_mode);
  SetFogColorState(c.fog_colour);
  SetFogRangeState(c.fog_start, c.fog_end);
  SetDeviceMaterial(DrawMaterial());
  c.forced_refresh = 0;
  return 0;
}

namespace {

// The lights as last sent to each device index, which lights are on, and the
// highest index that is on (-1: none).
plat::D3DLIGHT9 g_device_lights[plat::kMaxLights];
uint8_t g_device_light_on[plat::kMaxLights];
int g_highest_enabled_light = -1;

float g_material[17];
bool g_material_known = false;

const Vector3& AsVector(const plat::D3DVECTOR& v) { return *reinterpret_cast<const Vector3*>(&v); }

}  // namespace

int UpdateLightShaderConstants() {
  const float* m = g_material;
  for (int i = 0; i <= g_highest_enabled_light; i++) {
    if (!g_device_light_on[i]) continue;
    const plat::D3DCOLORVALUE& c = g_device_lights[i].Diffuse;
    float v[4] = {c.r * m[0], c.g * m[1], c.b * m[2], c.a * m[3]};
    SetLibraryVertexShaderConstants(18 + 7 * i, v, 1);
    SetLibraryPixelShaderConstants(11 + 3 * i, v, 1);
  }
  uint32_t a = g_draw.ambient;
  float ambient[4] = {float((a >> 16) & 255) / 255.0f, float((a >> 8) & 255) / 255.0f, float(a & 255) / 255.0f,
                      float(a >> 24) / 255.0f};
  float global[4];
  for (int k = 0; k < 4; k++) global[k] = ambient[k] * m[4 + k] + m[12 + k];
  SetLibraryVertexShaderConstants(1, global, 1);
  SetLibraryPixelShaderConstants(1, global, 1);
  return 0;
}

int SetDeviceMaterial(const float values[17]) {
  plat::Direct3DDevice9* d = Dev();
  if (d && g_material_known && memcmp(g_material, values, sizeof(g_material)) == 0 && !StateCache().forced_refresh)
    return 0;
  if (values != g_material) memcpy(g_material, values, sizeof(g_material));
  g_material_known = true;
  MaterialChangedFlag() = 0;
  if (!d) return 0;
  FlushVertexBatch();
  // Diffuse, ambient and specular for the shaders, as the light constants
  // combine them.
  SetLibraryVertexShaderConstants(11, g_material, 3);
  SetLibraryPixelShaderConstants(2, g_material, 3);
  plat::D3DMATERIAL9 mat;
  memcpy(&mat, g_material, sizeof(mat));
  d->SetMaterial(&mat);
  UpdateLightShaderConstants();
  return 0;
}

int SetDeviceAmbient(uint32_t argb) {
  g_draw.ambient = argb;
  UpdateLightShaderConstants();
  if (Dev()) Dev()->SetRenderState(plat::D3DRS_AMBIENT, argb);
  return 0;
}

namespace {

// Light n's shader registers start at 14 + 7n: view-space position (w 1),
// view-space direction (w 0), then the range and attenuation, then the cone;
// 18 + 7n holds its diffuse term (UpdateLightShaderConstants).
int LightRegister(int index) { return 14 + 7 * index; }

void WriteLightViewPair(int index, const Matrix4& view) {
  const plat::D3DLIGHT9& light = g_device_lights[index];
  Vector3 position, direction;
  TransformPointByMatrix(&position, &AsVector(light.Position), &view);
  TransformVectorByMatrix(&direction, &AsVector(light.Direction), &view);
  const float pair[2][4] = {{position.x, position.y, position.z, 1.0f}, {direction.x, direction.y, direction.z, 0.0f}};
  SetLibraryVertexShaderConstants(LightRegister(index), pair[0], 2);
}

void WriteLightShape(int index) {
  const plat::D3DLIGHT9& light = g_device_lights[index];
  const float cos_theta = std::cos(light.Theta * 0.5f), cos_phi = std::cos(light.Phi * 0.5f);
  const float cone = cos_theta - cos_phi;
  const float shape[2][4] = {
      {light.Range * light.Range, light.Attenuation0, light.Attenuation1, light.Attenuation2},
      {cos_theta, cos_phi, cone != 0.0f ? 1.0f / cone : 0.0f, light.Falloff},
  };
  SetLibraryVertexShaderConstants(LightRegister(index) + 2, shape[0], 2);
}

}  // namespace

void UpdateLightViewConstants(const plat::D3DMATRIX* view) {
  if (!view) return;
  static_assert(sizeof(Matrix4) == sizeof(plat::D3DMATRIX));
  Matrix4 m;
  memcpy(&m, view, sizeof(m));
  for (int i = 0; i < 4; i++) WriteLightViewPair(i, m);
}

int SetDeviceLight(int index, const plat::D3DLIGHT9* light) {
  if (!light || index < 0 || index >= plat::kMaxLights) return -1;
  FlushVertexBatch();
  const bool type_changed = g_device_lights[index].Type != light->Type;
  g_device_lights[index] = *light;
  // An enabled light that changes type changes the shaders that draw it.
  if (type_changed && g_device_light_on[index]) UpdateShaderIndex();
  if (index < 4) {
    // The shaders light in view space; the view setter rewrites the pair.
    WriteLightViewPair(index, g_draw.view);
    WriteLightShape(index);
  }
  if (Dev()) Dev()->SetLight(uint32_t(index), light);
  return 0;
}

int SetDeviceLightEnable(int index, int on) {
  if (!Dev() || index < 0 || index >= plat::kMaxLights) return -1;
  FlushVertexBatch();
  g_device_light_on[index] = on ? 1 : 0;
  if (on && index > g_highest_enabled_light) g_highest_enabled_light = index;
  if (!on && index == g_highest_enabled_light) {
    while (g_highest_enabled_light >= 0 && !g_device_light_on[g_highest_enabled_light]) g_highest_enabled_light--;
  }
  UpdateLightShaderConstants();
  UpdateShaderIndex();
  Dev()->LightEnable(uint32_t(index), on);
  return 0;
}

int GetHighestEnabledDeviceLight() { return g_highest_enabled_light; }

int CountEnabledDeviceLights(int type) {
  int n = 0;
  for (int i = 0; i <= g_highest_enabled_light; i++)
    if (g_device_light_on[i] && int(g_device_lights[i].Type) == type) n++;
  return n;
}

int SetDeviceLightAndEnable(int index, int enable, const plat::D3DLIGHT9* light) {
  if (!Dev() || index < 0 || index >= plat::kMaxLights) return -1;
  if (enable) SetDeviceLight(index, light);
  return SetDeviceLightEnable(index, enable);
}
