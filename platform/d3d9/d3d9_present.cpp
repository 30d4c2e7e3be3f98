// platform/d3d9/d3d9_present.cpp - the one place where a device frame leaves the
// device for the window.
#include <vector>

#include "platform/d3d9/d3d9_internal.h"
#include "platform/window/window.h"

namespace plat {

int PresentSurfaceToWindow(WindowHandle window, Direct3DSurface9* surface, const RECT& source,
                           const RECT& dest) {
  Rect src = {source.left, source.top, source.right, source.bottom};
  Rect dst = {dest.left, dest.top, dest.right, dest.bottom};
  if (FormatBytesPerPixel(surface->format()) == 4)
    return PresentToWindow(window, surface->bits(), int(surface->width()), int(surface->height()),
                           surface->pitch(), &src, &dst);
  // Only the shown rectangle is widened.
  int w = source.right - source.left, h = source.bottom - source.top;
  if (w <= 0 || h <= 0) return -1;
  std::vector<uint32_t> image(size_t(w) * h);
  const int bpp = FormatBytesPerPixel(surface->format());
  for (int y = 0; y < h; y++) {
    const uint8_t* in = surface->bits() + size_t(source.top + y) * surface->pitch() + size_t(source.left) * bpp;
    uint32_t* out = image.data() + size_t(y) * w;
    for (int x = 0; x < w; x++) out[x] = DecodePixel(surface->format(), in + size_t(x) * bpp);
  }
  Rect whole = {0, 0, w, h};
  return PresentToWindow(window, image.data(), w, h, w * 4, &whole, &dst);
}

}  // namespace plat
