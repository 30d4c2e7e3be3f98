// lib/sound/movie_overlay.cpp - a movie shown on an overlay surface: its
// frame rectangle is clipped to the visible client area, the source cut by
// what was clipped, both aligned as the display driver asks, and handed to
// the surface only when something changed; a hidden overlay keeps no
// rectangles.
#include <cstdint>

#include "lib/core/math3d.h"
#include "lib/sound/movie.h"
#include "lib/system/window_system.h"

namespace {

using plat::RECT;

IntRect ToIntRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
RECT ToRect(const IntRect& r) { return {r.left, r.top, r.right, r.bottom}; }

void ClipTo(RECT* r, const RECT& box) {
  IntRect cut = ToIntRect(*r);
  const IntRect limit = ToIntRect(box);
  ClipRect(&cut, &limit);
  *r = ToRect(cut);
}

bool IsEmpty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }
bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

int32_t Clamp32(int64_t v) { return int32_t(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v); }

// v rounded down to a multiple of unit (also below 0).
int32_t AlignDown(int32_t v, uint32_t unit) {
  const int64_t u = unit, m = ((int64_t(v) % u) + u) % u;
  return int32_t(v - m);
}

// In window mode only the visible part of the client area can show the
// overlay (client coordinates): none while the window is hidden or
// minimised. False when nothing of it is visible.
bool ClipToVisibleClient(RECT* clip) {
  if (!IsWindowMode()) return true;
  plat::Window* w = WindowState().main_window;
  if (w == nullptr) return true;
  if (!plat::IsWindowVisible(w) || plat::IsIconic(w)) return false;
  plat::Rect client{};
  plat::GetClientRect(w, &client);
  ClipTo(clip, {client.left, client.top, client.right, client.bottom});
  return true;
}

// Applies the driver's alignment: the source and destination lefts move
// down to their boundaries and the widths (taken from the rectangles) are
// cut to whole units.
void AlignToDriver(RECT* source, RECT* destination) {
  plat::DDCAPS caps{};
  plat::GetDisplayDriverCaps(&caps);
  if ((caps.dwCaps & plat::DDCAPS_ALIGNBOUNDARYSRC) && caps.dwAlignBoundarySrc)
    source->left = AlignDown(source->left, caps.dwAlignBoundarySrc);
  if ((caps.dwCaps & plat::DDCAPS_ALIGNSIZESRC) && caps.dwAlignSizeSrc)
    source->right -= (source->right - source->left) % int32_t(caps.dwAlignSizeSrc);
  if ((caps.dwCaps & plat::DDCAPS_ALIGNBOUNDARYDEST) && caps.dwAlignBoundaryDest)
    destination->left = AlignDown(destination->left, caps.dwAlignBoundaryDest);
  if ((caps.dwCaps & plat::DDCAPS_ALIGNSIZEDEST) && caps.dwAlignSizeDest)
    destination->right -= (destination->right - destination->left) % int32_t(caps.dwAlignSizeDest);
}

// Works out where the frame shows: false when no part of it can.
bool OverlayRectangles(const MovieRecord* r, int x, int y, int scale, RECT* source, RECT* destination) {
  // A scale below 1 leaves nothing to show (and must not divide below).
  if (scale < 1) return false;
  *source = {0, 0, r->width, r->height};
  RECT dest = {x, y, Clamp32(int64_t(x) + int64_t(r->width) * scale),
               Clamp32(int64_t(y) + int64_t(r->height) * scale)};
  RECT clip = dest;
  if (!ClipToVisibleClient(&clip)) return false;
  const plat::Rect& client = WindowState().client_rect_on_screen;
  for (RECT* p : {&dest, &clip})
    *p = {Clamp32(int64_t(p->left) + client.left), Clamp32(int64_t(p->top) + client.top),
          Clamp32(int64_t(p->right) + client.left), Clamp32(int64_t(p->bottom) + client.top)};
  ClipTo(&clip, {client.left, client.top, client.right, client.bottom});
  if (IsEmpty(clip)) return false;
  // What was cut off each side, in source pixels.
  auto cut = [scale](int32_t outer, int32_t inner) { return int32_t((int64_t(inner) - outer) / scale); };
  source->left += cut(dest.left, clip.left);
  source->right -= cut(clip.right, dest.right);
  source->top += cut(dest.top, clip.top);
  source->bottom -= cut(clip.bottom, dest.bottom);
  *destination = clip;
  AlignToDriver(source, destination);
  return !IsEmpty(*source) && destination->right - destination->left >= 1;
}

}  // namespace

void PlaceMovieOverlay(MovieRecord* r, int x, int y, int scale, int show) {
  RECT source{}, destination{};
  const bool shown = show && OverlayRectangles(r, x, y, scale, &source, &destination);
  if (shown) {
    const bool unchanged = r->last_show && !IsEmpty(r->last_destination) && SameRect(source, r->last_source) &&
                           SameRect(destination, r->last_destination);
    if (!unchanged && r->overlay)
      r->overlay->UpdateOverlay(&source, nullptr, &destination, plat::DDOVER_SHOW, nullptr);
  } else {
    HideMovieOverlay(r);
    source = destination = RECT{};
  }
  r->last_x = x;
  r->last_y = y;
  r->last_scale = scale;
  // The caller's wish, not the outcome: a refresh after the window is shown
  // again brings the overlay back.
  r->last_show = show;
  r->last_source = source;
  r->last_destination = destination;
}

void HideMovieOverlay(MovieRecord* r) {
  if (r->overlay) r->overlay->UpdateOverlay(nullptr, nullptr, nullptr, plat::DDOVER_HIDE, nullptr);
  r->last_source = {};
  r->last_destination = {};
}
