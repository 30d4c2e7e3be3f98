// lib/graphics/graphic_handles.cpp - graphic handles: adding, checking and
// deleting graphic records, their shared texture sets and the draw entries
// that map a graphic's rectangle onto the tiles of its set; and the end of
// the graphics system.
#include <cstring>

#include "lib/core/handle_table.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/system/window_system.h"
#include "lib/graphics/shader_packs.h"
#include "lib/graphics/device_buffers.h"
#include "lib/graphics/font.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "lib/graphics/mask.h"
#include "lib/graphics/soft_draw.h"
#include "lib/sound/movie.h"
#include "lib/softrender/soft_draw_state.h"


namespace {

constinit HandleTable<GraphicRecord, kGraphicCapacity> g_graphics(kHandleKindGraphic);

void FreeTextureSet(GraphicTextureSet* set) {
  if (set->textured) ReleaseTextureSetTiles(set);
  else ReleaseMemImg(&set->soft_image);
  RR_FREE(set);
}

}  // namespace

int WaitIfInactive() { return IsLibraryStarted() ? WaitWhileInactive() : 0; }

int AddGraphicHandle() {
  if (g_graphics.IsFull()) FatalErrorExit("グラフィックの数が許容量を越えました終了します");
  auto* record = static_cast<GraphicRecord*>(RR_CALLOC(sizeof(GraphicRecord)));
  if (!record) FatalErrorExit("メモリの確保に失敗しました");
  int handle = g_graphics.Add(record);
  record->check = uint32_t(HandleCheck(handle));
  record->handle = handle;
  record->movie_handle = -1;
  return handle;
}

GraphicRecord* GraphicHandleToRecord(int handle) { return g_graphics.Find(handle); }
GraphicRecord* GraphicRecordAt(int slot) { return g_graphics.At(slot); }
int GetGraphicHighWater() { return g_graphics.HighWater(); }
int GetGraphicCount() { return g_graphics.Count(); }
int GetGraphicCheckCounter() { return g_graphics.CheckCounter(); }

// The table's count and level fall to 0 with its last record, so after the
// previous graphics system ended both are 0 already; records still held
// (none in a normal run) stay valid rather than being orphaned.
int ResetGraphicHandleCount() { return 0; }

int IsGraphicHandleValid(int handle) { return g_graphics.Find(handle) ? 1 : 0; }

int SetGraphicLostFlag(int handle, int* flag) {
  GraphicRecord* r = g_graphics.Find(handle);
  if (!r) return -1;
  r->lost_flag = flag;
  if (flag) *flag = 0;
  return 0;
}

int CreateGraphicDrawInfo(int handle) {
  GraphicRecord* r = g_graphics.Find(handle);
  if (!r || !r->set) return -1;
  GraphicTextureSet* set = r->set;
  if (!set->textured) {
    // A view of the graphic's rectangle of the set's image.
    ReleaseMemImg(&r->soft_view);
    DeriveMemImg(&r->soft_view, &set->soft_image, r->set_x, r->set_y, r->width, r->height);
    return IsValidMemImg(&r->soft_view) ? 0 : WriteLogLine("テクスチャ描画情報の作成に失敗しました\n");
  }
  int gx1 = r->set_x, gy1 = r->set_y, gx2 = r->set_x + r->width, gy2 = r->set_y + r->height;
  int overlapping = 0;
  for (int i = 0; i < set->tile_count; i++) {
    const GraphicTile& t = set->tiles[i];
    if (t.x < gx2 && t.x + t.used_width > gx1 && t.y < gy2 && t.y + t.used_height > gy1) overlapping++;
  }
  if (overlapping == 0) return WriteLogLine("テクスチャ描画情報の作成に失敗しました\n");
  auto* entries = static_cast<GraphicDrawEntry*>(RR_CALLOC(sizeof(GraphicDrawEntry) * size_t(overlapping)));
  if (!entries) return WriteLogLine("画像描画情報格納用メモリの確保に失敗しました\n");
  int n = 0;
  double slope = double(r->height) / double(r->width);
  for (int i = 0; i < set->tile_count; i++) {
    GraphicTile& t = set->tiles[i];
    if (!(t.x < gx2 && t.x + t.used_width > gx1 && t.y < gy2 && t.y + t.used_height > gy1)) continue;
    GraphicDrawEntry& e = entries[n++];
    e.tile = &t;
    e.draw_x = t.x > gx1 ? t.x - gx1 : 0;
    e.draw_y = t.y > gy1 ? t.y - gy1 : 0;
    e.texture_x = gx1 > t.x ? gx1 - t.x : 0;
    e.texture_y = gy1 > t.y ? gy1 - t.y : 0;
    int right = t.x + t.used_width < gx2 ? t.x + t.used_width : gx2;
    int bottom = t.y + t.used_height < gy2 ? t.y + t.used_height : gy2;
    e.width = right - (gx1 + e.draw_x);
    e.height = bottom - (gy1 + e.draw_y);
    float x0 = float(e.draw_x), x1 = float(e.draw_x + e.width);
    float y0 = float(e.draw_y), y1 = float(e.draw_y + e.height);
    float u0 = float(e.texture_x) / float(t.texture_width);
    float u1 = float(e.texture_x + e.width) / float(t.texture_width);
    float v0 = float(e.texture_y) / float(t.texture_height);
    float v1 = float(e.texture_y + e.height) / float(t.texture_height);
    e.corners[0] = {x0, y0, u0, v0};
    e.corners[1] = {x1, y0, u1, v0};
    e.corners[2] = {x0, y1, u0, v1};
    e.corners[3] = {x1, y1, u1, v1};
    for (int k = 0; k < 4; k++)
      e.above_diagonal[k] = double(e.corners[k].y) <= double(r->height) - double(e.corners[k].x) * slope;
  }
  RR_FREE(r->entries);
  r->entries = entries;
  r->entry_count = n;
  return 0;
}

int ReleaseTextureSetTiles(GraphicTextureSet* set) {
  if (!set || !set->textured) return 0;
  for (int i = 0; i < set->tile_count; i++) {
    GraphicTile& t = set->tiles[i];
    if (t.texture) t.texture->Release();
    if (t.system_texture) t.system_texture->Release();
    if (t.surface) t.surface->Release();
    if (t.multisample_surface) t.multisample_surface->Release();
    if (t.depth_surface) t.depth_surface->Release();
    t.texture = t.system_texture = nullptr;
    t.surface = t.multisample_surface = t.depth_surface = nullptr;
  }
  return 0;
}

int ReleaseAllTextures() {
  FlushVertexBatch();
  for (int i = 0; i < g_graphics.HighWater(); i++) {
    GraphicRecord* r = g_graphics.At(i);
    if (r && r->set) ReleaseTextureSetTiles(r->set);
  }
  ReleaseDeviceBufferObjects();
  // The state selection must not hand a released texture to the next device.
  Desired().texture = nullptr;
  Desired().blend_texture = nullptr;
  Draw().blend_texture = nullptr;
  return 0;
}

int DeleteGraphic(int handle) {
  GraphicRecord* r = g_graphics.Find(handle);
  if (!r) return -1;
  if (r->movie_handle != -1) CloseMovieHandle(r->movie_handle);
  if (r->set) {
    // Pending vertices may still name this set's textures.
    FlushVertexBatch();
    for (int i = 0; i < r->set->tile_count && r->set->textured; i++) {
      if (Desired().texture == r->set->tiles[i].texture) Desired().texture = nullptr;
    }
    if (!r->set->textured) {
      // Software draws must not keep pointing at the pixels about to go.
      SoftDrawState& soft = SoftDraw();
      if (soft.target == &r->soft_view) soft.target = DrawTargetMemImg(-2);
      if (soft.blend_image == &r->soft_view) soft.blend_image = nullptr;
      ReleaseMemImg(&r->soft_view);
    }
    if (--r->set->reference_count == 0) FreeTextureSet(r->set);
    r->set = nullptr;
  }
  SetGraphicImageSource(handle, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, 0, -1);
  if (Draw().blend_graphic == handle) SetDrawBlendImage(-1, 0, 0);
  g_graphics.Remove(handle);
  if (r->lost_flag) *r->lost_flag = 1;
  RR_FREE(r->entries);
  RR_FREE(r);
  return 0;
}

int DeleteAllGraphics() {
  if (!GraphicsDevice().started || g_graphics.HighWater() < 1) return 0;
  for (int i = 0; i < g_graphics.HighWater(); i++) {
    if (g_graphics.At(i)) DeleteGraphic(g_graphics.HandleAt(i));
  }
  return 0;
}

int TerminateGraphicsSystem() {
  EndFontSystem();
  GraphicsDeviceState& d = GraphicsDevice();
  if (!d.started) return 0;
  DeleteAllGraphics();
  DeleteAllVertexBufferHandles();
  DeleteAllIndexBufferHandles();
  DeleteAllShaderHandles();
  EndMaskScreen();
  DeleteAllMaskHandles();
  FreeAllLightHandles();
  FreeLightHandle(GetDefaultLightHandle());
  ReleaseDirect3DDevice();
  ReleaseScreenMemImgs();
  FreeShaderPacks();
  d.started = 0;
  return 0;
}
