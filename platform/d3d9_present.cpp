// platform/d3d9_present.cpp - the one place where a device frame leaves the
// device for the window.
#include "platform/d3d9_internal.h"

namespace plat {

namespace {
PresentedFrame g_last_frame;
}  // namespace

void PresentImageToWindow(WindowHandle window, const uint32_t* argb, int width, int height,
                          const RECT& dest) {
  g_last_frame.argb.assign(argb, argb + size_t(width) * height);
  g_last_frame.width = width;
  g_last_frame.height = height;
  g_last_frame.dest = dest;
  g_last_frame.window = window;
  g_last_frame.serial++;
}

const PresentedFrame& LastPresentedFrame() { return g_last_frame; }

}  // namespace plat
