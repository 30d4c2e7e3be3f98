// lib/graphics/box_draw.cpp - filled and outlined axis-aligned boxes in one
// colour, as untextured triangles of the vertex batch. Right and bottom
// edges are exclusive; vertices sit on the integer edges.
#include <utility>

#include "lib/system/window_system.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "lib/graphics/soft_draw.h"

namespace {

// The box colour under the bright colour, with the diffuse alpha.
uint32_t BoxVertexColour(uint32_t colour) {
  int r, g, b;
  SplitColorCode(colour, &r, &g, &b);
  uint32_t d = uint32_t(GetDrawDiffuseColor());
  uint32_t dr = (d >> 16) & 255, dg = (d >> 8) & 255, db = d & 255;
  return ((dr * uint32_t(r) / 255) << 16) | ((dg * uint32_t(g) / 255) << 8) | (db * uint32_t(b) / 255) |
         (d & 0xFF000000u);
}

void ClearTexture() {
  if (Desired().texture) SetDesiredTexture(nullptr);
}

void WriteRect(Vertex20* v, float l, float t, float r, float b, uint32_t c, bool all_coloured) {
  float z = Draw().draw_z;
  v[0] = {l, t, z, 1.0f, c};
  v[1] = {r, t, z, 1.0f, c};
  v[2] = {l, b, z, 1.0f, c};
  v[3] = {r, b, z, 1.0f, c};
  v[4] = {l, b, z, 1.0f, c};
  v[5] = {r, t, z, 1.0f, c};
  (void)all_coloured;
}

template <typename F, typename S>
int BoxPrologue(int x1, int y1, int x2, int y2, F worker, S soft_worker) {
  DrawSettings& ds = Draw();
  if (ds.suspended || ds.empty_clip) return 0;
  WaitIfInactive();
  if (!GraphicsDevice().direct3d_mode) return soft_worker();
  if (ds.blend_mode == 3 && !GraphicsDevice().blend_op_capable) {
    IntRect rect = {x1 < x2 ? x1 : x2, y1 < y2 ? y1 : y2, x1 < x2 ? x2 : x1, y1 < y2 ? y2 : y1};
    SubtractEmulationBegin(&rect);
    int result = worker();
    SubtractEmulationEnd(&rect);
    return result;
  }
  return worker();
}

int OutlineDevice(int x1, int y1, int x2, int y2, uint32_t colour) {
  if (!GraphicsDevice().device) return -1;
  BeginDeviceScene();
  ClearTexture();
  ApplyDrawSettings(nullptr, nullptr, 0x20);
  uint32_t c = BoxVertexColour(colour);
  // Each axis is put in order on its own, so a box given with one axis
  // reversed draws the same outline as its ordered form.
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  if (Desired().state_dirty || Desired().texture_dirty) SelectDrawBlendState(nullptr, 0, 0);
  auto* v = static_cast<Vertex20*>(AppendBatchVertices(0, plat::D3DPT_TRIANGLELIST, 24));
  float L = float(x1), T = float(y1), R = float(x2), B = float(y2);
  WriteRect(v, L, T, R, T + 1, c, true);
  WriteRect(v + 6, R - 1, T + 1, R, B, c, true);
  WriteRect(v + 12, L, T + 1, L + 1, B, c, true);
  WriteRect(v + 18, L + 1, B - 1, R - 1, B, c, true);
  return 0;
}

}  // namespace

int DrawFilledBoxDevice(int x1, int y1, int x2, int y2, uint32_t colour) {
  if (!GraphicsDevice().device) return -1;
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  IntRect rect = {x1, y1, x2, y2};
  const int* c = Draw().clip;
  IntRect clip = {c[0], c[1], c[2], c[3]};
  ClipRect(&rect, &clip);
  if (rect.right <= rect.left || rect.bottom <= rect.top) return 0;
  BeginDeviceScene();
  ClearTexture();
  ApplyDrawSettings(nullptr, nullptr, 0x20);
  uint32_t vc = BoxVertexColour(colour);
  if (Desired().state_dirty || Desired().texture_dirty) SelectDrawBlendState(nullptr, 0, 0);
  auto* v = static_cast<Vertex20*>(AppendBatchVertices(0, plat::D3DPT_TRIANGLELIST, 6));
  WriteRect(v, float(rect.left), float(rect.top), float(rect.right), float(rect.bottom), vc, false);
  return 0;
}

int DrawFilledBox(int x1, int y1, int x2, int y2, uint32_t colour) {
  return BoxPrologue(x1, y1, x2, y2, [&] { return DrawFilledBoxDevice(x1, y1, x2, y2, colour); },
                     [&] { return FillBoxSoft(x1, y1, x2, y2, colour); });
}

int DrawBoxOutline(int x1, int y1, int x2, int y2, uint32_t colour) {
  return BoxPrologue(x1, y1, x2, y2, [&] { return OutlineDevice(x1, y1, x2, y2, colour); },
                     [&] { return DrawBoxOutlineSoft(x1, y1, x2, y2, colour); });
}

int DrawRectBox(int x1, int y1, int x2, int y2, uint32_t colour, int fill) {
  return fill ? DrawFilledBox(x1, y1, x2, y2, colour) : DrawBoxOutline(x1, y1, x2, y2, colour);
}
