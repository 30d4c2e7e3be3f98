// lib/graphics/graphics_settings.cpp - the small graphics settings: how new
// graphics are created, hardware rendering, vertical-blank waiting, and two
// thin device operations.
#include <cstring>

#include "lib/graphics/graphics_device.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_links.h"

namespace {

GraphicsSettings g_settings = {1, 0, 0, 1, 0, 0, 0, 0, 0, 0x000000, 0};

}  // namespace

GraphicsSettings& GraphicsConfig() { return g_settings; }

void ResetGraphicsCreationSettings() {
  g_settings.creation_depth = 0;
  g_settings.create_drawable = 0;
  g_settings.alpha_test_transparency = 1;
  g_settings.create_alpha = 0;
  g_settings.default_pool = 0;
  g_settings.single_texture = 0;
  g_settings.image_convert = 0;
  g_settings.transparent_colour = 0x000000;
}

int SetDrawWorkerCount(int count) {
  if (count < 0) return -1;
  plat::SetRasterWorkerCount(count);
  return 0;
}
int GetDrawWorkerCount() { return plat::GetRasterWorkerCount(); }

int SetHardwareRenderFlag(int flag) {
  if (IsLibraryStarted()) return -1;
  g_settings.hardware_allowed = flag != 0;
  return 0;
}
int GetHardwareRenderFlag() { return g_settings.hardware_allowed; }

int SetCreateGraphicDepth(int bits) {
  g_settings.creation_depth = bits;
  return 0;
}
int GetCreateGraphicDepth() { return g_settings.creation_depth; }

int SetCreateDrawableFlag(int flag) {
  g_settings.create_drawable = flag;
  return 0;
}
int GetCreateGraphicFlagA() { return g_settings.create_drawable; }

int SetCreateAlphaTestFlag(int flag) {
  g_settings.alpha_test_transparency = flag;
  return 0;
}
int GetCreateAlphaTestFlag() { return g_settings.alpha_test_transparency; }

int SetCreateAlphaFlag(int flag) {
  g_settings.create_alpha = flag;
  return 0;
}
int GetCreateGraphicFlagD() { return g_settings.create_alpha; }

int SetCreateDefaultPoolFlag(int flag) {
  g_settings.default_pool = flag;
  return 0;
}
int GetCreateGraphicFlagE() { return g_settings.default_pool; }

int GetMovieTextureFlag() { return g_settings.movie_texture; }
void SetMovieTextureFlag(int flag) { g_settings.movie_texture = flag; }

int SetGraphicsOptionFlag(int flag) {
  g_settings.single_texture = flag == 0;
  return 0;
}

int SetImageConvertFlag(int flag) {
  g_settings.image_convert = flag == 0;
  return 0;
}

int SetTransparentColor(int r, int g, int b) {
  if (Screen().colour_bits == 8) return 0;
  g_settings.transparent_colour = (uint32_t(r & 255) << 16) | (uint32_t(g & 255) << 8) | uint32_t(b & 255);
  return 0;
}

int SetVBlankWaitFlag(int flag) {
  g_settings.vblank_wait_off = flag == 0;
  return 0;
}
int GetGraphicsFlagF() { return g_settings.vblank_wait_off ? 0 : 1; }

int GetDrawFilterMode() { return Draw().filter_mode; }

int DrawFloatRectHelper(int source, int x, int y, int width, int height, float x1, float y1, float x2, float y2,
                        int transparent) {
  int derived = DeriveGraphic(x, y, width, height, source);
  if (derived == -1) return -1;
  DrawGraphicStretchedF(x1, y1, x2, y2, derived, transparent);
  DeleteGraphic(derived);
  return 0;
}

void* ClearGraphicsParamBlock(void* block) {
  if (block) memset(block, 0, 380);
  return block;
}

plat::Direct3DVertexBuffer9* CreateRawVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool) {
  plat::Direct3DDevice9* device = GraphicsDevice().device;
  plat::Direct3DVertexBuffer9* out = nullptr;
  if (!device || device->CreateVertexBuffer(length, usage, fvf, pool, &out, nullptr) != plat::D3D_OK) return nullptr;
  return out;
}

plat::Direct3DIndexBuffer9* CreateRawIndexBuffer(uint32_t length, uint32_t usage, plat::D3DFORMAT format,
                                                 uint32_t pool) {
  plat::Direct3DDevice9* device = GraphicsDevice().device;
  plat::Direct3DIndexBuffer9* out = nullptr;
  if (!device || device->CreateIndexBuffer(length, usage, format, pool, &out, nullptr) != plat::D3D_OK) return nullptr;
  return out;
}
