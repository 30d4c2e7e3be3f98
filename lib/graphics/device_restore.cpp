// lib/graphics/device_restore.cpp - the rebuild of a lost device with every
// resource made again from what the library kept, the draw target with the
// 2-D camera that maps the 3-D pipeline onto it, and the first set-up of the
// vertex batch and the device states after a device was made.
#include <cstring>

#include "lib/core/log.h"
#include "lib/system/window_system.h"
#include "lib/graphics/device_buffers.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "lib/graphics/soft_draw.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/graphics/mask.h"
#include "lib/graphics/model_tables.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"


namespace {

constexpr uintptr_t kFrontScreenTimerId = 32767;
constexpr uint32_t kFrontScreenTimerPeriod = 32;

int g_front_timer = 0;

void FrontScreenTimerCallback(plat::Window*, uint32_t, uintptr_t, uint32_t) { FrontScreenTimerProc(); }

void StartFrontScreenTimer() {
  plat::Window* w = GetMainWindow();
  g_front_timer = w && plat::SetTimer(w, kFrontScreenTimerId, kFrontScreenTimerPeriod, FrontScreenTimerCallback) != 0;
}

const plat::D3DMATRIX* D3D(const Matrix4* m) { return reinterpret_cast<const plat::D3DMATRIX*>(m); }

void ScreenOrGraphicSize(int target, int* w, int* h) {
  *w = *h = 0;
  if (GetGraphicSize(target, w, h) != 0) GetScreenSize(w, h);
}

}  // namespace

int GetDrawTarget() { return Draw().draw_target; }
int IsFrontScreenTimerRunning() { return g_front_timer; }

int SetDrawTarget(int handle) {
  GraphicsDeviceState& d = GraphicsDevice();
  if (!d.started) return -1;
  WaitIfInactive();
  GraphicRecord* r = GraphicHandleToRecord(handle);
  if (r) {
    if (!r->set || !r->set->drawable) return -1;
  } else if (handle != -2 && handle != -3 && handle != -4 && handle != -5) {
    return -1;
  }
  DrawSettings& ds = Draw();
  // Drawing leaves the mask screen while the target changes.
  const int mask_in_use = Mask().in_use;
  UpdateMaskDrawTarget(0);
  if (d.direct3d_mode && d.device) {
    FlushVertexBatch();
    EndDeviceScene();
    DesiredState& s = Desired();
    if (s.texture) {
      s.texture_dirty = 1;
      s.state_dirty = 1;
      s.texture = nullptr;
    }
    if (r && r->set->textured && r->set->tile_count > 0) {
      GraphicTile& t = r->set->tiles[0];
      plat::Direct3DSurface9* depth = t.depth_surface;
      if (!depth && r->width <= d.z_buffer_width && r->height <= d.z_buffer_height) depth = d.z_buffer;
      SetRenderTargetSurface(t.multisample_surface ? t.multisample_surface : t.surface, 0);
      d.device->SetDepthStencilSurface(depth);
    } else {
      SetRenderTargetSurface(d.sub_back_buffer ? d.sub_back_buffer : d.back_buffer, 0);
      d.device->SetDepthStencilSurface(d.z_buffer);
    }
  }
  if (!d.direct3d_mode) {
    MEMIMG* target = DrawTargetMemImg(handle);
    // The kernels draw into it from now on, so its run table and
    // premultiplied copy stop describing it.
    if (target && target->base && target != &SoftScreenImage()) {
      target->base->run_table_valid = 0;
      target->base->premultiplied_valid = 0;
    }
    SoftDraw().target = target;
  }
  int old_w = ds.area_width, old_h = ds.area_height;
  ds.draw_target = handle;
  if (handle == -4) StartFrontScreenTimer();
  int w, h;
  ScreenOrGraphicSize(handle, &w, &h);
  ds.area_width = w;
  ds.area_height = h;
  if (old_w == w && old_h == h) {
    SetDrawClipRect(ds.requested_clip[0], ds.requested_clip[1], ds.requested_clip[2], ds.requested_clip[3]);
  } else {
    SetDrawClipRect(0, 0, w, h);
  }
  Matrix4 identity;
  CreateIdentityMatrix(&identity);
  SetWorldMatrix(&identity);
  CreateViewportMatrix(&ds.viewport_matrix, float(w) * 0.5f, float(h) * 0.5f, float(w), float(h));
  if (InverseMatrix(&ds.viewport_inverse, &ds.viewport_matrix) != 0) CreateIdentityMatrix(&ds.viewport_inverse);
  SetProjectionCentre(float(w) * 0.5f, float(h) * 0.5f);
  float dist = float(double(h / 2) / 0.5773502588272095);
  Vector3 eye = {float(w) * 0.5f, float(h) * 0.5f, -dist};
  Vector3 at = {float(w) * 0.5f, float(h) * 0.5f, -dist + 1.0f};
  Vector3 up = {0.0f, 1.0f, 0.0f};
  Matrix4 view;
  CreateLookAtMatrix(&view, &eye, &at, &up);
  SetViewMatrix(&view);
  ds.proj_near = dist * 0.1f;
  ds.proj_far = dist + 20000.0f;
  SetViewFov(1.0471975803375244f);
  UpdateMaskDrawTarget(mask_in_use);
  return 0;
}

int FrontScreenTimerProc() {
  if (plat::Window* w = GetMainWindow()) plat::KillTimer(w, kFrontScreenTimerId);
  g_front_timer = 0;
  // Another draw target was chosen since: the timer lapses here.
  if (Draw().draw_target != -4) return 0;
  if (IsAppActive()) {
    if (!IsWindowMode() && GraphicsDevice().direct3d_mode) BeginSubBackBuffer();
    FlipScreenCore();
  }
  StartFrontScreenTimer();
  return 0;
}

int InitVertexBatchBuffers() {
  GraphicsDeviceState& d = GraphicsDevice();
  plat::Direct3DDevice9* dev = d.device;
  if (!dev) return -1;
  VertexBatch& b = Batch();
  auto* v20 = reinterpret_cast<Vertex20*>(b.arrays[0]);
  for (int i = 0; i < 3225; i++) v20[i] = {0, 0, 0.0f, 1.0f, 0};
  auto* v28 = reinterpret_cast<Vertex28*>(b.arrays[1]);
  for (int i = 0; i < 2340; i++) v28[i] = {0, 0, 0.0f, 1.0f, 0, 0, 0};
  auto* v40 = reinterpret_cast<Vertex40*>(b.arrays[2]);
  for (int i = 0; i < 1638; i++) v40[i] = {0, 0, 0.0f, 1.0f, 0, 0xFFFFFFFFu, 0, 0, 0, 0};
  RenderStateCache& c = StateCache();
  for (int stage = 0; stage < 8; stage++) {
    for (int k = 0; k < 3; k++) {
      if (c.address[k][stage] == 0) c.address[k][stage] = plat::D3DTADDRESS_CLAMP;
      dev->SetSamplerState(uint32_t(stage), uint32_t(plat::D3DSAMP_ADDRESSU + k), uint32_t(c.address[k][stage]));
    }
    int mode = c.filter_mode == 1 ? 2 : (c.filter_mode == 2 ? 3 : 1);
    for (int k = 0; k < 3; k++) dev->SetSamplerState(uint32_t(stage), uint32_t(plat::D3DSAMP_MAGFILTER + k), uint32_t(mode));
  }
  using namespace plat;
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  dev->SetRenderState(D3DRS_LIGHTING, 1);
  dev->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
  dev->SetRenderState(D3DRS_DITHERENABLE, 0);
  dev->SetRenderState(D3DRS_SPECULARENABLE, 1);
  dev->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, 0);
  dev->SetRenderState(D3DRS_NORMALIZENORMALS, 1);
  dev->SetRenderState(D3DRS_FOGENABLE, 0);
  dev->SetRenderState(D3DRS_FOGVERTEXMODE, 0);
  dev->SetRenderState(D3DRS_FOGCOLOR, 0);
  float zero = 0.0f, one = 1.0f;
  uint32_t bits;
  memcpy(&bits, &zero, 4);
  dev->SetRenderState(D3DRS_FOGSTART, bits);
  memcpy(&bits, &one, 4);
  dev->SetRenderState(D3DRS_FOGEND, bits);
  c.lighting = 1;
  c.cull_mode = 0;
  c.fog_enable = 0;
  c.fog_mode = 0;
  c.fog_colour = 0;
  c.fog_start = 0.0f;
  c.fog_end = 1.0f;
  int w = 0, h = 0;
  GetScreenSize(&w, &h);
  c.viewport = {0, 0, uint32_t(w), uint32_t(h), 0.0f, 1.0f};
  c.filter_mode = 3;
  ResetBlendStateShadow();
  ForgetRenderTargetSurface();
  EndDeviceScene();
  b.count = 0;
  b.kind = 0;
  b.layout = 0;
  b.write = b.arrays[0];
  RefreshDrawStates();
  EndDeviceScene();
  ApplyDrawSettings(nullptr, nullptr, 0);
  if (Desired().state_dirty || Desired().texture_dirty) SelectDrawBlendState(nullptr, 0, 0);
  auto* p = static_cast<Vertex20*>(AppendBatchVertices(0, D3DPT_POINTLIST, 1));
  *p = {0.0f, 0.0f, 0.0f, 1.0f, Batch().diffuse};
  return 0;
}

int SetDefaultRenderStates() {
  GraphicsDeviceState& d = GraphicsDevice();
  plat::Direct3DDevice9* dev = d.device;
  if (!dev) return -1;
  dev->SetRenderState(plat::D3DRS_DITHERENABLE, 0);
  DrawSettings& ds = Draw();
  RenderStateCache& c = StateCache();
  ForgetRenderTargetSurface();
  Desired().texture = nullptr;
  FlushVertexBatch();
  c.forced_refresh = 1;
  Desired().state_dirty = Desired().texture_dirty = 1;
  SetCullMode(c.cull_mode);
  SetSamplerFilterMode(ds.filter_mode);
  dev->SetRenderState(plat::D3DRS_SHADEMODE, plat::D3DSHADE_FLAT);
  SetMaxAnisotropy(c.max_anisotropy);
  for (int stage = 0; stage < 8; stage++) {
    SetTextureAddressU(c.address[0][stage], stage);
    SetTextureAddressV(c.address[1][stage], stage);
    SetTextureAddressW(c.address[2][stage], stage);
  }
  SetFogEnableState(c.fog_enable);
  SetFogModeState(c.fog_mode);
  SetFogColorState(c.fog_colour);
  SetFogRangeState(c.fog_start, c.fog_end);
  SetZBufferEnable(c.z_enable);
  SetZWriteState(c.z_write);
  SetZFunctionState(c.z_function);
  SetDepthBiasState(c.depth_bias);
  dev->SetRenderState(plat::D3DRS_FILLMODE, uint32_t(ds.fill_mode));
  SetWorldTransformDevice(&ds.world);
  SetViewTransform(D3D(&ds.view));
  SetTransformMatrixFirst(&ds.projection);
  SetDeviceMaterial(DrawMaterial());
  SetLightingEnable(c.lighting);
  UpdateLights(1);
  SetViewportState(&c.viewport);
  SetScissorRectState(&c.scissor);
  ResetTexCoordIndexes();
  SelectDrawBlendState(nullptr, 0, 0);
  c.forced_refresh = 0;
  RefreshDrawStates();
  return 0;
}

int RecreateDeviceResources() {
  for (int i = 0; i < GetGraphicHighWater(); i++) {
    GraphicRecord* r = GraphicRecordAt(i);
    if (r && r->set) CreateGraphicTexture(r->set);
  }
  RecreateDeviceBufferObjects();
  return 0;
}

int RestoreGraphicsDevice(int width, int height, int colour_bits, int refresh_rate, int mode) {
  (void)width;
  (void)height;
  (void)colour_bits;
  (void)refresh_rate;
  (void)mode;
  GraphicsDeviceState& d = GraphicsDevice();
  if (d.started) {
    if (d.direct3d_mode) {
      ReleaseMaskScreen();
      ReleaseAllTextures();
    }
    ReleaseDirect3DDevice();
  }
  InputEnd();
  InputStart();
  if (!d.started) return 0;
  InitializeGraphicsDevice();
  if (!d.direct3d_mode || !d.device) return 0;
  // Every shadow of the old device is void on the new one.
  ResetBlendStateShadow();
  ForgetRenderTargetSurface();
  Batch().count = 0;
  Batch().write = Batch().arrays[Batch().kind * 3 + Batch().layout];
  RecreateDeviceResources();
  RestoreMaskScreen();
  DrawSettings& ds = Draw();
  Matrix4 view = ds.view, projection = ds.proj_matrix, second = ds.second, world = ds.world;
  int projection_mode = ds.projection_mode;
  float fov = ds.proj_fov, near_z = ds.proj_near, far_z = ds.proj_far;
  int clip[4] = {ds.requested_clip[0], ds.requested_clip[1], ds.requested_clip[2], ds.requested_clip[3]};
  SetDrawTarget(ds.draw_target);
  SetDefaultRenderStates();
  for (int i = 0; i < 2; i++) {
    ClearDrawTarget(nullptr);
    FlipScreenCore();
  }
  RunRestoreCallback();
  // The blend image's texture went with the old device: take the new one.
  if (ds.blend_graphic != -1) {
    int blend = ds.blend_graphic;
    ds.blend_graphic = -1;
    if (SetDrawBlendImage(blend, ds.border_param, ds.border_range) != 0) SetDrawBlendImage(-1, 0, 0);
  }
  RefreshDrawStates();
  SetupAllModelMeshBuffers();
  LightsChangedFlag() = 1;
  SetDrawClipRect(clip[0], clip[1], clip[2], clip[3]);
  SetWorldMatrix(&world);
  SetViewMatrix(&view);
  ds.proj_fov = fov;
  ds.proj_near = near_z;
  ds.proj_far = far_z;
  if (projection_mode == 2) {
    SetProjectionMatrix(&projection);
  } else {
    SetupProjection();
  }
  SetTransformMatrixSecond(&second);
  return 0;
}

int RestoreGraphicsDeviceDefault() { return RestoreGraphicsDevice(-1, -1, -1, -1, 0); }
