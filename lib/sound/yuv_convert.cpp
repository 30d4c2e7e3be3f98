// lib/sound/yuv_convert.cpp - a decoded Theora frame to 32-bit RGB in the
// movie's frame image, or as YUV into a device surface whose colours the
// device converts. Studio-range coefficients in 14-bit fixed point; 4:2:0
// frames go through the vector rows where the processor has them.
#include <algorithm>
#include <cstring>

#include "lib/graphics/graphics_device.h"
#include "lib/sound/movie.h"
#include "lib/sound/yuv_rows.h"
#include "platform/kernel/kernel.h"

namespace {

YuvTables g_tables;
constexpr int kClampOffset = 512;

// The stock slot of the current frame, waiting for the thread while it seeks
// or has not stored the frame yet; null when it cannot come.
const TheoraFrameSlot* WaitForCurrentSlot(TheoraMovieRecord* r) {
  for (;;) {
    const int state = r->state.load(std::memory_order_acquire);
    if (state == kTheoraSeeking) {
      WaitForTheoraThread(r);
      continue;
    }
    if (state == kTheoraEnded) return nullptr;
    const int cur = r->current_frame.load(std::memory_order_acquire);
    for (int i = 0; i < r->stock_size; ++i) {
      const TheoraFrameSlot& slot = r->stock[i];
      if (slot.in_use.load(std::memory_order_acquire) && slot.frame.load(std::memory_order_relaxed) == cur)
        return &slot;
    }
    if (r->end_of_file.load(std::memory_order_acquire)) return nullptr;
    WaitForTheoraThread(r);
  }
}

bool Is420(const TheoraFrameSlot& s) { return s.y_width == 2 * s.c_width && s.y_height == 2 * s.c_height; }

void WriteSurface(TheoraMovieRecord* r, const TheoraFrameSlot& s, uint8_t* bits, int pitch) {
  if (!Is420(s)) return;
  const int w = s.y_width, h = s.y_height, cw = s.c_width, ch = s.c_height;
  switch (r->yuv_fourcc) {
    case kFourCcYv12: {
      for (int y = 0; y < h; ++y) memcpy(bits + static_cast<size_t>(y) * pitch, s.y + static_cast<size_t>(y) * s.y_stride, w);
      uint8_t* v_plane = bits + static_cast<size_t>(h) * pitch;
      uint8_t* u_plane = v_plane + static_cast<size_t>(ch) * (pitch / 2);
      for (int y = 0; y < ch; ++y) {
        memcpy(v_plane + static_cast<size_t>(y) * (pitch / 2), s.cr + static_cast<size_t>(y) * s.c_stride, cw);
        memcpy(u_plane + static_cast<size_t>(y) * (pitch / 2), s.cb + static_cast<size_t>(y) * s.c_stride, cw);
      }
      break;
    }
    case kFourCcYuy2:
    case kFourCcUyvy: {
      const bool yuy2 = r->yuv_fourcc == kFourCcYuy2;
      for (int y = 0; y + 1 < h; y += 2) {
        for (int half = 0; half < 2; ++half) {
          uint8_t* out = bits + static_cast<size_t>(y + half) * pitch;
          const uint8_t* luma = s.y + static_cast<size_t>(y + half) * s.y_stride;
          const uint8_t* cb = s.cb + static_cast<size_t>(y / 2) * s.c_stride;
          const uint8_t* cr = s.cr + static_cast<size_t>(y / 2) * s.c_stride;
          for (int x = 0; x + 1 < w; x += 2, out += 4) {
            const uint8_t u = cb[x / 2], v = cr[x / 2];
            if (yuy2) {
              out[0] = luma[x], out[1] = u, out[2] = luma[x + 1], out[3] = v;
            } else {
              out[0] = u, out[1] = luma[x], out[2] = v, out[3] = luma[x + 1];
            }
          }
        }
      }
      break;
    }
    default:
      break;
  }
}

uint8_t ClampFloat(float value) {
  const int v = static_cast<int>(value);
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Pixels [x0, w) of row y in the tables' arithmetic: the plain loop, which
// the vector rows are held to, and the vector rows' last pixels.
void ConvertYuv420Tail(const TheoraFrameSlot& s, BaseImage* image, int y, int x0, int w) {
  const uint8_t* clamp = g_tables.clamp + kClampOffset;
  const uint8_t* luma = s.y + static_cast<size_t>(y) * s.y_stride;
  const uint8_t* cb_row = s.cb + static_cast<size_t>(y / 2) * s.c_stride;
  const uint8_t* cr_row = s.cr + static_cast<size_t>(y / 2) * s.c_stride;
  uint8_t* out = image->pixels + static_cast<size_t>(y) * image->pitch;
  for (int x = x0; x < w; ++x) {
    const int cb = cb_row[x / 2], cr = cr_row[x / 2];
    const int yy = g_tables.y[luma[x]];
    uint8_t* p = out + static_cast<size_t>(x) * 4;
    p[0] = clamp[(yy + g_tables.cb_blue[cb]) / 16384];
    p[1] = clamp[(yy + g_tables.cb_green[cb] + g_tables.cr_green[cr]) / 16384];
    p[2] = clamp[(yy + g_tables.cr_red[cr]) / 16384];
    p[3] = 255;
  }
}

void WriteImage(TheoraMovieRecord* r, const TheoraFrameSlot& s) {
  BaseImage& image = r->frame_image;
  if (!image.pixels) return;
  const int w = image.width < s.y_width ? image.width : s.y_width;
  const int h = image.height < s.y_height ? image.height : s.y_height;
  if (Is420(s)) {
    ConvertYuv420(s, &image, w, h, Yuv420Level());
    return;
  }
  // Other chroma layouts: each pixel takes the chroma sample that covers it.
  for (int y = 0; y < h; ++y) {
    const int cy = s.y_height > 0 ? static_cast<int>(static_cast<int64_t>(y) * s.c_height / s.y_height) : 0;
    const uint8_t* luma = s.y + static_cast<size_t>(y) * s.y_stride;
    const uint8_t* cb_row = s.cb + static_cast<size_t>(cy) * s.c_stride;
    const uint8_t* cr_row = s.cr + static_cast<size_t>(cy) * s.c_stride;
    uint8_t* out = image.pixels + static_cast<size_t>(y) * image.pitch;
    for (int x = 0; x < w; ++x) {
      const int cx = s.y_width > 0 ? static_cast<int>(static_cast<int64_t>(x) * s.c_width / s.y_width) : 0;
      const float yy = (luma[x] - 16) * 1.164f;
      const float cb = static_cast<float>(cb_row[cx] - 128), cr = static_cast<float>(cr_row[cx] - 128);
      out[x * 4 + 2] = ClampFloat(yy + 1.596f * cr);
      out[x * 4 + 1] = ClampFloat(yy - 0.391f * cb - 0.813f * cr);
      out[x * 4 + 0] = ClampFloat(yy + 2.018f * cb);
      out[x * 4 + 3] = 255;
    }
  }
}

}  // namespace

int Yuv420Level() {
  static const int level = std::min(plat::VectorLevel(), 2);
  return level;
}

void ConvertYuv420(const TheoraFrameSlot& frame, BaseImage* image, int width, int height, int level) {
  level = std::min(level, Yuv420Level());
  for (int y = 0; y < height; ++y) {
    const uint8_t* luma = frame.y + static_cast<size_t>(y) * frame.y_stride;
    const uint8_t* cb = frame.cb + static_cast<size_t>(y / 2) * frame.c_stride;
    const uint8_t* cr = frame.cr + static_cast<size_t>(y / 2) * frame.c_stride;
    uint8_t* out = image->pixels + static_cast<size_t>(y) * image->pitch;
    const int done = level >= 2   ? Yuv420RowAvx2(luma, cb, cr, out, width)
                     : level == 1 ? Yuv420RowSse41(luma, cb, cr, out, width)
                                  : 0;
    ConvertYuv420Tail(frame, image, y, done, width);
  }
}

int InitializeYuvTables() {
  for (int i = -512; i < 768; ++i)
    g_tables.clamp[i + kClampOffset] = static_cast<uint8_t>(i < 0 ? 0 : (i > 255 ? 255 : i));
  for (int v = 0; v < 256; ++v) {
    g_tables.y[v] = kYuvLuma * (v - 16);
    g_tables.cr_red[v] = kYuvCrRed * (v - 128);
    g_tables.cb_green[v] = kYuvCbGreen * (v - 128);
    g_tables.cr_green[v] = kYuvCrGreen * (v - 128) + kYuvGreenBias;
    g_tables.cb_blue[v] = kYuvCbBlue * (v - 128);
  }
  return 0;
}

const YuvTables& GetYuvTables() { return g_tables; }

int CreateTheoraYuvSurface(TheoraMovieRecord* r) {
  if (r->yuv_surface) {
    r->yuv_surface->Release();
    r->yuv_surface = nullptr;
  }
  r->yuv_fourcc = 0;
  const GraphicsDeviceState& d = GraphicsDevice();
  if (!d.started || !d.direct3d_mode || !d.device) return 0;
  for (uint32_t fourcc : {kFourCcYv12, kFourCcYuy2, kFourCcUyvy}) {
    r->yuv_fourcc = fourcc;
    if (d.device->CreateOffscreenPlainSurface(r->info.width, r->info.height, fourcc, plat::D3DPOOL_DEFAULT,
                                              &r->yuv_surface, nullptr) == plat::D3D_OK &&
        r->yuv_surface)
      return 0;
    r->yuv_surface = nullptr;
  }
  r->yuv_fourcc = 0;
  return 0;
}

plat::Direct3DSurface9* GetTheoraYuvSurface(TheoraMovieRecord* r) { return r ? r->yuv_surface : nullptr; }

int ConvertTheoraFrame(TheoraMovieRecord* r, int to_image, int to_surface) {
  if (!r || !r->stock) return 0;
  const bool surface_work = to_surface && !r->surface_converted && r->yuv_surface;
  const bool image_work = to_image && !r->image_converted;
  if (!surface_work && !image_work) return 0;
  const TheoraFrameSlot* slot = WaitForCurrentSlot(r);
  if (!slot) return 0;
  if (surface_work) {
    for (int attempt = 0; attempt < 3 && r->yuv_surface; ++attempt) {
      plat::D3DLOCKED_RECT locked{};
      if (r->yuv_surface->LockRect(&locked, nullptr, 0) == plat::D3D_OK) {
        WriteSurface(r, *slot, static_cast<uint8_t*>(locked.pBits), locked.Pitch);
        r->yuv_surface->UnlockRect();
        r->surface_converted = 1;
        break;
      }
      CreateTheoraYuvSurface(r);
    }
  }
  if (image_work) {
    WriteImage(r, *slot);
    r->image_converted = 1;
  }
  return 1;
}
