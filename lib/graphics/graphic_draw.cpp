// lib/graphics/graphic_draw.cpp - putting a graphic on the draw target: at a
// position, stretched, mirrored, as a part, rotated and scaled about its
// centre, onto four free points; and the clear of the draw target. Every
// texture tile of a graphic becomes two triangles of the vertex batch.
#include <cmath>
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/number_helpers.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "lib/graphics/soft_draw.h"
#include "lib/sound/movie.h"
#include "lib/softrender/soft_draw_state.h"


namespace {

constexpr int kDone = 1;

// The checks every public graphic draw makes first: 0 to go on, kDone when
// drawing is suspended (the draw returns 0), -1 for a refused draw.
int Prologue(int handle, GraphicRecord** out) {
  DrawSettings& ds = Draw();
  if (ds.suspended || ds.empty_clip) return kDone;
  GraphicRecord* r = GraphicHandleToRecord(handle);
  if (!r || !r->set) return -1;
  if (ds.blend_graphic != -1 && CheckBlendImageFits(r) != 0) return -1;
  WaitIfInactive();
  if (r->movie_handle != -1) UpdateMovieFrame(r->movie_handle, 0);
  // A graphic without textures goes to the memory-image kernels.
  if (!r->set->textured) {
    *out = r;
    return 0;
  }
  if (!GraphicsDevice().device) return -1;
  *out = r;
  return 0;
}

bool SubtractEmulated() { return Draw().blend_mode == 3 && !GraphicsDevice().blend_op_capable; }

// Clips one axis of a quad whose two edges lie at a0 and a1 with texture
// coordinates t0 and t1 (and blend-image coordinates b0 and b1) to lo..hi;
// false when nothing is left.
bool ClipAxis(float* a0, float* a1, float* t0, float* t1, float* b0, float* b1, float lo, float hi) {
  float A0 = *a0, A1 = *a1;
  if (A0 == A1) return false;
  float n0 = A0 < lo ? lo : (A0 > hi ? hi : A0);
  float n1 = A1 < lo ? lo : (A1 > hi ? hi : A1);
  if (n0 == n1) return false;
  float step = (*t1 - *t0) / (A1 - A0), bstep = (*b1 - *b0) / (A1 - A0);
  *t0 += (n0 - A0) * step;
  *t1 += (n1 - A1) * step;
  *b0 += (n0 - A0) * bstep;
  *b1 += (n1 - A1) * bstep;
  *a0 = n0;
  *a1 = n1;
  return true;
}

// While a blend image is set the draws write the layout with a second
// coordinate set: the blend image's, laid over the graphic from its
// top-left corner.
bool BlendLayout() { return Desired().blend_texture != nullptr; }

// One vertex of either textured layout; the diffuse colour only where given.
struct QuadVertex {
  float x, y, u, v, bu, bv;
};

void WriteVertices(const QuadVertex* q, int count_quads) {
  uint32_t c = Batch().diffuse;
  float z = Draw().draw_z;
  const int order[6] = {0, 1, 2, 3, 2, 1};
  for (int n = 0; n < count_quads; n++, q += 4) {
    if (BlendLayout()) {
      auto* v = static_cast<Vertex40*>(AppendBatchVertices(2, plat::D3DPT_TRIANGLELIST, 6));
      for (int k = 0; k < 6; k++) {
        const QuadVertex& s = q[order[k]];
        v[k].x = s.x, v[k].y = s.y, v[k].z = z;
        v[k].bu = s.bu, v[k].bv = s.bv, v[k].u = s.u, v[k].v = s.v;
      }
      v[0].diffuse = c;
      v[3].diffuse = c;
    } else {
      auto* v = static_cast<Vertex28*>(AppendBatchVertices(1, plat::D3DPT_TRIANGLELIST, 6));
      for (int k = 0; k < 6; k++) {
        const QuadVertex& s = q[order[k]];
        v[k].x = s.x, v[k].y = s.y, v[k].z = z;
        v[k].u = s.u, v[k].v = s.v;
      }
      v[0].diffuse = c;
      v[3].diffuse = c;
    }
  }
}

// Blend-image coordinates of a corner of a graphic (graphic pixels).
float BlendU(float x) { return x * Draw().blend_inv_width; }
float BlendV(float y) { return y * Draw().blend_inv_height; }

void SelectTexture(plat::Direct3DTexture9* texture) {
  if (Desired().texture != texture) SetDesiredTexture(texture);
  if (Desired().state_dirty || Desired().texture_dirty) SelectDrawBlendState(nullptr, 0, 0);
}


// A graphic placed by an axis-aligned map: vertex = (ox + corner x * sx,
// oy + corner y * sy); inside: no clipping needed.
int DrawAxisAligned(GraphicRecord* r, float ox, float oy, float sx, float sy, bool inside, int flags) {
  BeginDeviceScene();
  ApplyDrawSettings(r->set, r->entries[0].tile->texture, flags);
  const float* clip = Draw().clipf;
  for (int i = 0; i < r->entry_count; i++) {
    const GraphicDrawEntry& e = r->entries[i];
    SelectTexture(e.tile->texture);
    float x0 = ox + e.corners[0].x * sx, x1 = ox + e.corners[3].x * sx;
    float y0 = oy + e.corners[0].y * sy, y1 = oy + e.corners[3].y * sy;
    float u0 = e.corners[0].u, u1 = e.corners[3].u, v0 = e.corners[0].v, v1 = e.corners[3].v;
    float bu0 = BlendU(e.corners[0].x), bu1 = BlendU(e.corners[3].x);
    float bv0 = BlendV(e.corners[0].y), bv1 = BlendV(e.corners[3].y);
    if (!inside) {
      // Clipping happens in the texel-centred frame, the clip edges being
      // the pixel edges.
      if (!ClipAxis(&x0, &x1, &u0, &u1, &bu0, &bu1, clip[0] - 0.5f, clip[2] - 0.5f)) continue;
      if (!ClipAxis(&y0, &y1, &v0, &v1, &bv0, &bv1, clip[1] - 0.5f, clip[3] - 0.5f)) continue;
    }
    const QuadVertex q[4] = {{x0, y0, u0, v0, bu0, bv0}, {x1, y0, u1, v0, bu1, bv0},
                             {x0, y1, u0, v1, bu0, bv1}, {x1, y1, u1, v1, bu1, bv1}};
    WriteVertices(q, 1);
  }
  return 0;
}

int DrawStretchedWorker(GraphicRecord* r, int x1, int y1, int x2, int y2, float fx1, float fy1, float fx2, float fy2,
                        int transparent, int alpha) {
  if (x1 == x2 || y1 == y2) return -1;
  float sx = (fx2 - fx1) / float(r->width), sy = (fy2 - fy1) / float(r->height);
  const int* clip = Draw().clip;
  int lx = x1 < x2 ? x1 : x2, rx = x1 < x2 ? x2 : x1, ty = y1 < y2 ? y1 : y2, by = y1 < y2 ? y2 : y1;
  bool inside = lx >= clip[0] && ty >= clip[1] && rx <= clip[2] && by <= clip[3];
  int flags = transparent | ((alpha && Draw().filter_mode != 1) ? 2 : 0);
  return DrawAxisAligned(r, fx1 - 0.5f, fy1 - 0.5f, sx, sy, inside, flags);
}

struct Rect4 {
  IntRect rect;
};

IntRect Ordered(int x1, int y1, int x2, int y2) {
  return {x1 < x2 ? x1 : x2, y1 < y2 ? y1 : y2, x1 < x2 ? x2 : x1, y1 < y2 ? y2 : y1};
}

// Runs a draw between the two inversions of the subtract emulation when the
// device lacks reverse-subtract blending.
template <typename F>
int WithSubtract(const IntRect& rect, F draw) {
  if (!SubtractEmulated()) return draw();
  SubtractEmulationBegin(&rect);
  int result = draw();
  SubtractEmulationEnd(&rect);
  return result;
}

bool NearWhole(float v, float limit) { return std::fabs(v - float(FloatToInt(v))) < limit; }

int DrawRotatedWorker(GraphicRecord* r, float x, float y, double scale, double angle, int flags, int turn) {
  if (scale == 0.0) return -1;
  BeginDeviceScene();
  ApplyDrawSettings(r->set, r->entries[0].tile->texture, flags);
  float sn = 0.0f, cs = 1.0f;
  if (angle != 0.0) SinCosF(float(angle), &sn, &cs);
  int w = r->width, h = r->height;
  float fx = x - float(FloatToInt(x)), fy = y - float(FloatToInt(y));
  bool whole = !(std::fabs(fx) >= 0.00001f || std::fabs(fy) >= 0.00001f);
  float hw, hh, cx = x, cy = y;
  if (!whole) {
    hw = float(w) * 0.5f;
    hh = float(h) * 0.5f;
  } else if (scale == 1.0) {
    if (w % 2 == 0 && h % 2 == 0) {
      hw = float(w / 2);
      hh = float(h / 2);
      cx = x - 0.5f;
      cy = y - 0.5f;
    } else if (w % 2 == 1 && h % 2 == 1) {
      hw = float(w) * 0.5f;
      hh = float(h) * 0.5f;
    } else {
      hw = float(w) * 0.5f - (w % 2 == 0 ? 0.5f : 0.0f);
      hh = float(h) * 0.5f - (h % 2 == 0 ? 0.5f : 0.0f);
    }
  } else {
    hw = float(w) * 0.5f;
    hh = float(h) * 0.5f;
    cx = x - 0.5f;
    cy = y - 0.5f;
  }
  bool right_angle = false;
  if (whole && angle != 0.0 && (w % 2 == 1 || h % 2 == 1)) {
    double a = angle;
    right_angle = a < -0.06981317007977318 || a > 6.3529984772593595 || std::fabs(a) < 0.06981317007977318 ||
                  (a > 1.5009831567151235 && a < 1.6406094968746698) ||
                  (a > 3.07177948351002 && a < 3.2114058236695664) ||
                  (a > 4.642575810304916 && a < 4.782202150464463) || (a > 6.213372137099813 && a <= 6.3529984772593595);
  }
  bool snap_x = !whole || (right_angle && w % 2 == 1);
  bool snap_y = !whole || (right_angle && h % 2 == 1);
  bool blend = BlendLayout();
  // A single piece whose half sizes are exact halves is placed directly from
  // its centre; in the blend layout that form is not snapped.
  bool exact_halves = whole && ((scale == 1.0 && w % 2 == 1 && h % 2 == 1) || scale != 1.0);
  if (blend && r->entry_count == 1 && exact_halves) snap_x = snap_y = false;
  float near_whole = blend ? 0.0001f : 0.001f;
  float t = turn == 1 ? -1.0f : 1.0f;
  float s = float(scale);
  for (int i = 0; i < r->entry_count; i++) {
    const GraphicDrawEntry& e = r->entries[i];
    SelectTexture(e.tile->texture);
    float px[4], py[4];
    for (int k = 0; k < 4; k++) {
      float lx = t * s * (e.corners[k].x - hw), ly = s * (e.corners[k].y - hh);
      px[k] = cx + cs * lx - sn * ly;
      py[k] = cy + sn * lx + cs * ly;
    }
    if (snap_x && (std::fabs(px[0] - px[2]) < 0.01f || std::fabs(px[0] - px[1]) < 0.01f) &&
        NearWhole(px[0], near_whole))
      for (float& v : px) v -= 0.5f;
    if (snap_y && (std::fabs(py[0] - py[2]) < 0.01f || std::fabs(py[0] - py[1]) < 0.01f) &&
        NearWhole(py[0], near_whole))
      for (float& v : py) v -= 0.5f;
    QuadVertex q[4];
    for (int k = 0; k < 4; k++)
      q[k] = {px[k], py[k], e.corners[k].u, e.corners[k].v, BlendU(e.corners[k].x), BlendV(e.corners[k].y)};
    WriteVertices(q, 1);
  }
  return 0;
}

// The quad on whole-pixel points (1 top-left, 2 top-right, 3 bottom-left,
// 4 bottom-right of the image): an axis-aligned rectangle is a stretched
// draw; any other quad places each tile corner by the affine map of the
// image half it lies in (top-left half: the corners 1, 2, 3; the other
// half: 4, 3, 2).
int DrawQuadIntWorker(GraphicRecord* r, const int* x, const int* y, int transparent) {
  if (x[0] == x[2] && x[1] == x[3] && y[0] == y[1] && y[2] == y[3])
    return DrawStretchedWorker(r, x[0], y[0], x[3], y[3], float(x[0]), float(y[0]), float(x[3]), float(y[3]),
                               transparent, 1);
  BeginDeviceScene();
  ApplyDrawSettings(r->set, r->entries[0].tile->texture, transparent | 2);
  float W = float(r->width), H = float(r->height);
  float fx[4], fy[4];
  for (int k = 0; k < 4; k++) fx[k] = float(x[k]) - 0.5f, fy[k] = float(y[k]) - 0.5f;
  for (int i = 0; i < r->entry_count; i++) {
    const GraphicDrawEntry& e = r->entries[i];
    SelectTexture(e.tile->texture);
    QuadVertex q[4];
    for (int k = 0; k < 4; k++) {
      float cx = e.corners[k].x, cy = e.corners[k].y;
      float px, py;
      if (e.above_diagonal[k]) {
        px = fx[0] + (fx[1] - fx[0]) * cx / W + (fx[2] - fx[0]) * cy / H;
        py = fy[0] + (fy[1] - fy[0]) * cx / W + (fy[2] - fy[0]) * cy / H;
      } else {
        px = fx[3] + (fx[2] - fx[3]) * (W - cx) / W + (fx[1] - fx[3]) * (H - cy) / H;
        py = fy[3] + (fy[2] - fy[3]) * (W - cx) / W + (fy[1] - fy[3]) * (H - cy) / H;
      }
      q[k] = {px, py, e.corners[k].u, e.corners[k].v, BlendU(cx), BlendV(cy)};
    }
    WriteVertices(q, 1);
  }
  return 0;
}

void RotatedBounds(const GraphicRecord* r, float x, float y, double scale, double angle, IntRect* out) {
  double sn = std::sin(angle), cs = std::cos(angle);
  double hw = r->width * 0.5 * scale, hh = r->height * 0.5 * scale;
  double xs[4], ys[4];
  const double cx[4] = {-hw, hw, -hw, hw}, cy[4] = {-hh, -hh, hh, hh};
  for (int k = 0; k < 4; k++) {
    xs[k] = x + cs * cx[k] - sn * cy[k];
    ys[k] = y + sn * cx[k] + cs * cy[k];
  }
  double b[4] = {xs[0], ys[0], xs[0], ys[0]};
  for (int k = 1; k < 4; k++) {
    b[0] = std::fmin(b[0], xs[k]);
    b[1] = std::fmin(b[1], ys[k]);
    b[2] = std::fmax(b[2], xs[k]);
    b[3] = std::fmax(b[3], ys[k]);
  }
  double widened[4] = {b[0] - 5, b[1] - 5, b[2] + 5, b[3] + 5};
  int v[4];
  DoubleToInt4(widened, v);
  *out = {v[0], v[1], v[2], v[3]};
}

}  // namespace

int SubtractEmulationBegin(const IntRect* rect) {
  DrawSettings& ds = Draw();
  int param = ds.blend_param;
  uint32_t bright = ds.bright;
  SetDrawBrightPacked(0xFFFFFF);
  if (!ds.suspended) {
    WaitIfInactive();
    ds.blend_mode = 3;
    ds.blend_param = 255;
    Batch().diffuse = ds.diffuse = uint32_t(GetDrawDiffuseColor());
  }
  DrawFilledBoxDevice(rect->left, rect->top, rect->right, rect->bottom, 0xFFFFFFFF);
  SetDrawBrightPacked(bright);
  SetBlendModeParam(5, param);
  return 0;
}

int SubtractEmulationEnd(const IntRect* rect) {
  DrawSettings& ds = Draw();
  int param = ds.blend_param;
  uint32_t bright = ds.bright;
  SetDrawBrightPacked(0xFFFFFF);
  if (!ds.suspended) {
    ds.blend_mode = 3;
    ds.blend_param = 255;
    Batch().diffuse = ds.diffuse = uint32_t(GetDrawDiffuseColor());
  }
  DrawFilledBoxDevice(rect->left, rect->top, rect->right, rect->bottom, 0xFFFFFFFF);
  SetDrawBrightPacked(bright);
  SetBlendModeParam(3, param);
  return 0;
}

int DrawGraphicAt(int x, int y, int handle, int transparent) {
  if (!GraphicsDevice().started) return -1;
  GraphicRecord* r = nullptr;
  int p = Prologue(handle, &r);
  if (p != 0) return p == kDone ? 0 : -1;
  if (!r->set->textured) return DrawGraphicAtSoft(x, y, r, transparent);
  const int* clip = Draw().clip;
  bool inside = x >= clip[0] && y >= clip[1] && x + r->width <= clip[2] && y + r->height <= clip[3];
  return WithSubtract(Ordered(x, y, x + r->width, y + r->height), [&] {
    return DrawAxisAligned(r, float(x) - 0.5f, float(y) - 0.5f, 1.0f, 1.0f, inside, transparent | 2);
  });
}

int DrawGraphicStretched(int x1, int y1, int x2, int y2, int handle, int transparent) {
  GraphicRecord* r = nullptr;
  int p = Prologue(handle, &r);
  if (p != 0) return p == kDone ? 0 : -1;
  if (!r->set->textured) return DrawGraphicStretchedSoft(x1, y1, x2, y2, r, transparent);
  return WithSubtract(Ordered(x1, y1, x2, y2), [&] {
    return DrawStretchedWorker(r, x1, y1, x2, y2, float(x1), float(y1), float(x2), float(y2), transparent, 1);
  });
}

int DrawGraphicStretchedF(float x1, float y1, float x2, float y2, int handle, int transparent) {
  GraphicRecord* r = nullptr;
  int p = Prologue(handle, &r);
  if (p != 0) return p == kDone ? 0 : -1;
  int ix1 = FloatToInt(x1), iy1 = FloatToInt(y1), ix2 = FloatToInt(x2), iy2 = FloatToInt(y2);
  if (!r->set->textured) return DrawGraphicStretchedSoft(ix1, iy1, ix2, iy2, r, transparent);
  return WithSubtract(Ordered(ix1, iy1, ix2, iy2), [&] {
    return DrawStretchedWorker(r, ix1, iy1, ix2, iy2, x1, y1, x2, y2, transparent, 0);
  });
}

int DrawGraphicTurned(int x, int y, int handle, int transparent) {
  GraphicRecord* r = GraphicHandleToRecord(handle);
  if (!r) return -1;
  return DrawGraphicStretched(x + r->width, y, x, y + r->height, handle, transparent);
}

int DrawGraphicRect(int dx, int dy, int sx, int sy, int width, int height, int handle, int transparent, int turn) {
  GraphicRecord* r = GraphicHandleToRecord(handle);
  if (!r) return -1;
  DrawSettings& ds = Draw();
  if (ds.suspended || ds.empty_clip) return 0;
  int kept[4];
  float keptf[4];
  memcpy(kept, ds.clip, sizeof(kept));
  memcpy(keptf, ds.clipf, sizeof(keptf));
  IntRect rect = {dx, dy, dx + width, dy + height};
  IntRect limit = {kept[0], kept[1], kept[2], kept[3]};
  ClipRect(&rect, &limit);
  int result = 0;
  if (rect.right > rect.left && rect.bottom > rect.top) {
    // The pending vertices were made under the old rectangle.
    FlushVertexBatch();
    ds.clip[0] = rect.left, ds.clip[1] = rect.top, ds.clip[2] = rect.right, ds.clip[3] = rect.bottom;
    for (int i = 0; i < 4; i++) ds.clipf[i] = float(ds.clip[i]);
    SyncSoftDrawState();
    if (turn)
      result = DrawGraphicTurned(dx - r->width + sx + width, dy - sy, handle, transparent);
    else
      result = DrawGraphicAt(dx - sx, dy - sy, handle, transparent);
    FlushVertexBatch();
    memcpy(ds.clip, kept, sizeof(kept));
    memcpy(ds.clipf, keptf, sizeof(keptf));
    SyncSoftDrawState();
  }
  return result;
}

int DrawGraphicRotatedF(float x, float y, double scale, double angle, int handle, int transparent, int turn) {
  GraphicRecord* r = nullptr;
  int p = Prologue(handle, &r);
  if (p != 0) return p == kDone ? 0 : -1;
  if (scale == 0.0) return -1;
  if (!r->set->textured) return DrawGraphicRotatedSoft(x, y, scale, angle, r, transparent, turn);
  if (!SubtractEmulated()) return DrawRotatedWorker(r, x, y, scale, angle, transparent, turn);
  IntRect bounds;
  RotatedBounds(r, x, y, scale, angle, &bounds);
  return WithSubtract(bounds, [&] { return DrawRotatedWorker(r, x, y, scale, angle, transparent, turn); });
}

int DrawGraphicRotated(int x, int y, double scale, double angle, int handle, int transparent, int turn) {
  return DrawGraphicRotatedF(float(x), float(y), scale, angle, handle, transparent, turn);
}

int DrawGraphicQuadF(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int handle,
                     int transparent) {
  GraphicRecord* r = nullptr;
  int p = Prologue(handle, &r);
  if (p != 0) return p == kDone ? 0 : -1;
  if (!r->set->textured) return DrawGraphicQuadSoftF(x1, y1, x2, y2, x3, y3, x4, y4, r, transparent);
  int bx[4] = {FloatToInt(x1), FloatToInt(x2), FloatToInt(x3), FloatToInt(x4)};
  int by[4] = {FloatToInt(y1), FloatToInt(y2), FloatToInt(y3), FloatToInt(y4)};
  IntRect bounds = {0xFFFFFF, 0xFFFFFF, 0, 0};
  for (int k = 0; k < 4; k++) {
    bounds.left = bx[k] < bounds.left ? bx[k] : bounds.left;
    bounds.top = by[k] < bounds.top ? by[k] : bounds.top;
    bounds.right = bx[k] > bounds.right ? bx[k] : bounds.right;
    bounds.bottom = by[k] > bounds.bottom ? by[k] : bounds.bottom;
  }
  if (Draw().blend_graphic != -1) {
    return WithSubtract(bounds, [&]() -> int { return DrawQuadIntWorker(r, bx, by, transparent); });
  }
  return WithSubtract(bounds, [&]() -> int {
    BeginDeviceScene();
    ApplyDrawSettings(r->set, r->entries[0].tile->texture, transparent);
    float W = float(r->width), H = float(r->height);
    for (int i = 0; i < r->entry_count; i++) {
      const GraphicDrawEntry& e = r->entries[i];
      SelectTexture(e.tile->texture);
      float qx[4], qy[4];
      for (int k = 0; k < 4; k++) {
        float cx = e.corners[k].x, cy = e.corners[k].y;
        float v = cy / H;
        float lx = x1 + v * (x3 - x1), rx = x2 + v * (x4 - x2);
        float ly = y1 + v * (y3 - y1), ry = y2 + v * (y4 - y2);
        qx[k] = lx + (rx - lx) * cx / W;
        qy[k] = ly + (ry - ly) * cx / W;
      }
      float u0 = e.corners[0].u, u1 = e.corners[3].u, v0 = e.corners[0].v, v1 = e.corners[3].v;
      bool parallelogram = std::fabs((qx[1] - qx[0]) - (qx[3] - qx[2])) < 1 && std::fabs((qy[1] - qy[0]) - (qy[3] - qy[2])) < 1 &&
                           std::fabs((qx[2] - qx[0]) - (qx[3] - qx[1])) < 1 && std::fabs((qy[2] - qy[0]) - (qy[3] - qy[1])) < 1;
      uint32_t c = Batch().diffuse;
      float z = Draw().draw_z;
      if (parallelogram) {
        auto* v = static_cast<Vertex28*>(AppendBatchVertices(1, plat::D3DPT_TRIANGLELIST, 6));
        const int order[6] = {0, 1, 2, 3, 2, 1};
        for (int k = 0; k < 6; k++) {
          int q = order[k];
          v[k] = {qx[q], qy[q], z, 1.0f, c, e.corners[q].u, e.corners[q].v};
        }
        float a1 = (qy[2] - qy[0]) * (qx[1] - qx[0]) - (qx[2] - qx[0]) * (qy[1] - qy[0]);
        float a2 = (qy[1] - qy[3]) * (qx[2] - qx[3]) - (qx[1] - qx[3]) * (qy[2] - qy[3]);
        if (a1 <= 0 && a2 <= 0) {
          std::swap(v[1], v[2]);
          std::swap(v[4], v[5]);
          v[0].diffuse = v[3].diffuse = c;
        }
        continue;
      }
      // Any other quad: an 8 x 8 grid interpolated along its edges, the
      // texture coordinates pulled in slightly at inner tile edges.
      float du = (u1 - u0) / float(e.width) * 0.001f, dv = (v1 - v0) / float(e.height) * 0.001f;
      float gu0 = u0 >= 0.000001f ? u0 + du : u0, gu1 = u1 <= 0.99999f ? u1 - du : u1;
      float gv0 = v0 >= 0.000001f ? v0 + dv : v0, gv1 = v1 <= 0.99999f ? v1 - dv : v1;
      Vertex28 grid[64];
      for (int gy = 0; gy < 8; gy++) {
        float fy = float(gy) / 7.0f;
        for (int gx = 0; gx < 8; gx++) {
          float fx = float(gx) / 7.0f;
          float topx = qx[0] + (qx[1] - qx[0]) * fx, topy = qy[0] + (qy[1] - qy[0]) * fx;
          float botx = qx[2] + (qx[3] - qx[2]) * fx, boty = qy[2] + (qy[3] - qy[2]) * fx;
          grid[gy * 8 + gx] = {topx + (botx - topx) * fy - 0.5f, topy + (boty - topy) * fy - 0.5f, z, 1.0f, c,
                               gu0 + (gu1 - gu0) * fx, gv0 + (gv1 - gv0) * fy};
        }
      }
      DrawIndexedGrid(8, 8, grid);
      // The grid set its own vertex format.
      Batch().cached_fvf = 0;
    }
    return 0;
  });
}

int ClearDrawTarget(const int32_t* rect) {
  GraphicsDeviceState& d = GraphicsDevice();
  if (!d.started) return -1;
  DrawSettings& ds = Draw();
  if (!d.direct3d_mode) {
    MEMIMG* target = DrawTargetMemImg(ds.draw_target);
    if (!target) return -1;
    // The clear colour is black in every pixel format.
    const bool whole_image = !rect || rect[0] < 0 || rect[1] < 0;
    const IntRect area = whole_image ? IntRect{0, 0, target->width, target->height}
                                     : IntRect{rect[0], rect[1], rect[2], rect[3]};
    FillMemImgRawRect(target, &area, 0);
    return 0;
  }
  if (!d.device) return -1;
  FlushVertexBatch();
  EndDeviceScene();
  int w = ds.area_width, h = ds.area_height;
  SetViewportFromRect(0, 0, w, h);
  bool whole = !rect || rect[0] < 0 || rect[1] < 0;
  plat::RECT r{};
  if (!whole) r = {rect[0], rect[1], rect[2], rect[3]};
  d.device->Clear(whole ? 0 : 1, whole ? nullptr : &r, plat::D3DCLEAR_TARGET, 0x000000, 1.0f, 0);
  if (d.z_buffer) d.device->Clear(whole ? 0 : 1, whole ? nullptr : &r, plat::D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  if (!ds.empty_clip) SetViewportFromRect(ds.clip[0], ds.clip[1], ds.clip[2], ds.clip[3]);
  return 0;
}
