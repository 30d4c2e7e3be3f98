// lib/graphics/draw_defaults.cpp - light handles, the projection built from
// its parameters, and the defaults that every graphics start gives the draw
// settings.
#include <cstring>

#include "lib/core/handle_table.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"

namespace {

constexpr int kLightCapacity = 4096;
constinit HandleTable<LightRecord, kLightCapacity> g_lights(kHandleKindLight);
int g_lights_changed = 1;
int g_default_light = -1;
float g_material[17] = {0.8f, 0.8f, 0.8f, 1.0f, 0, 0, 0, 0, 0.8f, 0.8f, 0.8f, 0.0f, 0, 0, 0, 0, 20.0f};
int g_material_changed = 1;

}  // namespace

int& LightsChangedFlag() { return g_lights_changed; }
float* DrawMaterial() { return g_material; }
int& MaterialChangedFlag() { return g_material_changed; }
LightRecord* LightHandleToRecord(int handle) { return g_lights.Find(handle); }
LightRecord* LightRecordAt(int slot) { return g_lights.At(slot); }
int GetLightHighWater() { return g_lights.HighWater(); }
int GetLightCount() { return g_lights.Count(); }
int GetDefaultLightHandle() { return g_default_light; }

int NewLightHandle() {
  // The table holds 4096 lights; one more is refused rather than written
  // past the table.
  if (g_lights.IsFull()) return WriteLogLine("ライトの数が許容量を越えました\n");
  auto* l = static_cast<LightRecord*>(RR_CALLOC(sizeof(LightRecord)));
  if (!l) FatalErrorExit("ライト用のメモリの確保に失敗しました");
  int handle = g_lights.Add(l);
  l->check = uint32_t(HandleCheck(handle));
  l->handle = handle;
  l->light.Type = 0;
  l->light.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
  l->light.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
  l->light.Ambient = {0.33f, 0.33f, 0.33f, 0.33f};
  l->light.Range = 2000.0f;
  l->light.Falloff = 1.0f;
  l->light.Attenuation0 = 0.1f;
  l->light.Theta = 2.0f;
  l->light.Phi = 2.0f;
  l->device_index = -1;
  l->enabled = 1;
  l->changed = 1;
  g_lights_changed = 1;
  return handle;
}

int CreateDirectionalLight(float x, float y, float z) {
  int handle = NewLightHandle();
  LightRecord* l = g_lights.Find(handle);
  if (!l) return -1;
  l->light.Type = 3;
  Vector3 v = {x, y, z};
  NormalizeVector(&v, &v);
  l->light.Direction = {v.x, v.y, v.z};
  return handle;
}

int FreeLightHandle(int handle) {
  LightRecord* l = g_lights.Remove(handle);
  if (!l) return -1;
  if (handle == g_default_light) g_default_light = -1;
  RR_FREE(l);
  g_lights_changed = 1;
  return 0;
}

int FreeAllLightHandles() {
  for (int i = 0; i < g_lights.HighWater(); i++) {
    int handle = g_lights.HandleAt(i);
    if (handle != -1 && handle != g_default_light) FreeLightHandle(handle);
  }
  return 0;
}

int SetupProjection() {
  DrawSettings& ds = Draw();
  if (ds.projection_mode == 0) {
    int w = ds.area_width, h = ds.area_height;
    float aspect = (w > 0 && h > 0) ? float(h) / float(w) : 480.0f / 640.0f;
    CreatePerspectiveMatrix(&ds.proj_matrix, ds.proj_fov, ds.proj_near, ds.proj_far, aspect);
  }
  return SetTransformMatrixFirst(&ds.proj_matrix);
}

int SetViewNearFar(float near_z, float far_z) {
  Draw().proj_near = near_z;
  Draw().proj_far = far_z;
  return SetupProjection();
}

int SetViewFov(float fov) {
  Draw().projection_mode = 0;
  Draw().proj_fov = fov;
  return SetupProjection();
}

int SetProjectionMatrix(const Matrix4* m) {
  Draw().projection_mode = 2;
  Draw().proj_matrix = *m;
  return SetupProjection();
}

int SetProjectionCentre(float x, float y) {
  DrawSettings& ds = Draw();
  ds.centre_x = x;
  ds.centre_y = y;
  Matrix4 m;
  CreateViewportMatrix(&m, x, y, float(ds.area_width), float(ds.area_height));
  return SetTransformMatrixSecond(&m);
}

int UpdateViewProjection() { return 0; }

int ResetDrawSettings() {
  DrawSettings& ds = Draw();
  DrawSettings kept = ds;
  memset(&ds, 0, sizeof(ds));
  ds.blend_graphic = -1;
  for (auto& stage : ds.address)
    for (int& a : stage) a = plat::D3DTADDRESS_CLAMP;
  ds.draw_z = 0.2f;
  ds.depth2d = {0, 0, 4, 0};
  ds.depth3d = {0, 0, 4, 0};
  ds.fill_mode = 3;
  ds.shade_state_a = 1;
  ds.shade_state_b = -1;
  ds.lighting_on = 1;
  ds.specular_on = 1;
  ds.diffuse_from_vertex = 1;
  ds.specular_from_vertex = 1;
  ds.max_anisotropy = 1;
  ds.transparent_create = 1;
  ds.filter_mode = 0;
  ds.blend_mode = 0;
  ds.bright = 0;  // differs from white, so the setter below takes effect
  ds.ambient = kept.ambient;
  CreateIdentityMatrix(&ds.world);
  CreateIdentityMatrix(&ds.view);
  CreateIdentityMatrix(&ds.projection);
  CreateIdentityMatrix(&ds.second);
  CreateIdentityMatrix(&ds.clip_viewport_inverse);
  Desired().blend_texture = nullptr;
  SetDrawBrightRGB(255, 255, 255);
  ds.fog_mode = -1;
  ds.fog_colour = 0;
  ds.fog_start = ds.fog_end = -1.0f;
  SetFogMode(3);
  SetFogRgb(255, 255, 255);
  SetFogRange(0.0f, 1500.0f);
  ds.draw_target = -2;
  int w = 0, h = 0;
  GetScreenSize(&w, &h);
  ds.area_width = w;
  ds.area_height = h;
  ds.proj_near = 10.0f;
  ds.proj_far = 10000.0f;
  ds.proj_fov = 1.0471976f;
  SetDrawTarget(-4);
  GetGraphicSize(ds.draw_target, &w, &h);
  SetDrawClipRect(0, 0, w, h);
  g_lights_changed = 1;
  g_default_light = CreateDirectionalLight(1.0f, -1.0f, 1.0f);
  ds.projection_mode = 0;
  ds.proj_near = 10.0f;
  ds.proj_far = 10000.0f;
  ds.proj_fov = 1.0471976f;
  CreateIdentityMatrix(&ds.proj_matrix);
  static const float kMaterial[17] = {0.8f, 0.8f, 0.8f, 1.0f, 0, 0, 0, 0, 0.8f, 0.8f, 0.8f, 0.0f, 0, 0, 0, 0, 20.0f};
  memcpy(g_material, kMaterial, sizeof(g_material));
  g_material_changed = 1;
  SyncSoftDrawState();
  return 0;
}
