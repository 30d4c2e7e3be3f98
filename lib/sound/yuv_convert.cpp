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

// The picture inside the coded frame: its offset and size, kept within the
// planes the decoder gave and the frame image made for it.
struct Picture {
  int x, y, w, h;
};

Picture PictureOf(const TheoraMovieRecord* r, const TheoraFrameSlot& s, int width, int height) {
  Picture p{static_cast<int>(r->info.offset_x), static_cast<int>(r->info.offset_y), width, height};
  p.x = std::clamp(p.x, 0, std::max(s.y_width, 0));
  p.y = std::clamp(p.y, 0, std::max(s.y_height, 0));
  p.w = std::clamp(p.w, 0, s.y_width - p.x);
  p.h = std::clamp(p.h, 0, s.y_height - p.y);
  return p;
}

// The mean of a chroma plane over the pixels [fx, fx + 2) x [fy, fy + rows)
// of the coded frame, each pixel counting the sample that covers it: the
// sample a surface of coarser chroma holds for them. Theora's chroma is
// whole or halved on each axis (shift 0 or 1).
uint8_t CoveringChroma(const TheoraFrameSlot& s, const uint8_t* plane, int shift_x, int shift_y, int fx, int fy,
                       int rows) {
  int sum = 0, count = 0;
  for (int dy = 0; dy < rows; ++dy) {
    const int cy = std::min(std::min(fy + dy, s.y_height - 1) >> shift_y, s.c_height - 1);
    const uint8_t* row = plane + static_cast<size_t>(cy) * s.c_stride;
    for (int dx = 0; dx < 2; ++dx, ++count)
      sum += row[std::min(std::min(fx + dx, s.y_width - 1) >> shift_x, s.c_width - 1)];
  }
  return static_cast<uint8_t>((sum + count / 2) / count);
}

// A pixel pair in the packed layouts' byte order: YUY2 puts luma first,
// UYVY chroma.
inline void PackPair(uint8_t* out, bool yuy2, uint8_t y0, uint8_t y1, uint8_t u, uint8_t v) {
  if (yuy2) {
    out[0] = y0, out[1] = u, out[2] = y1, out[3] = v;
  } else {
    out[0] = u, out[1] = y0, out[2] = v, out[3] = y1;
  }
}

// A frame whose chroma is not 4:2:0 (4:4:4, 4:2:2): its chroma brought to
// the surface's own sampling, a sample per 2 x 2 pixels for the planar
// layout and per pixel pair of each row for the packed ones.
void WriteSurfaceResampled(TheoraMovieRecord* r, const TheoraFrameSlot& s, const Picture& p, uint8_t* bits,
                           int pitch) {
  if (s.y_width <= 0 || s.y_height <= 0 || s.c_width <= 0 || s.c_height <= 0) return;
  const int sx = s.c_width < s.y_width ? 1 : 0, sy = s.c_height < s.y_height ? 1 : 0;
  const uint8_t* luma_top = s.y + static_cast<size_t>(p.y) * s.y_stride + p.x;
  switch (r->yuv_fourcc) {
    case kFourCcYv12: {
      const int cw = (p.w + 1) / 2, ch = (p.h + 1) / 2;
      for (int y = 0; y < p.h; ++y)
        memcpy(bits + static_cast<size_t>(y) * pitch, luma_top + static_cast<size_t>(y) * s.y_stride, p.w);
      uint8_t* v_plane = bits + static_cast<size_t>(p.h) * pitch;
      uint8_t* u_plane = v_plane + static_cast<size_t>(ch) * (pitch / 2);
      for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
          const size_t at = static_cast<size_t>(y) * (pitch / 2) + x;
          v_plane[at] = CoveringChroma(s, s.cr, sx, sy, p.x + 2 * x, p.y + 2 * y, 2);
          u_plane[at] = CoveringChroma(s, s.cb, sx, sy, p.x + 2 * x, p.y + 2 * y, 2);
        }
      break;
    }
    case kFourCcYuy2:
    case kFourCcUyvy: {
      const bool yuy2 = r->yuv_fourcc == kFourCcYuy2;
      for (int y = 0; y < p.h; ++y) {
        uint8_t* out = bits + static_cast<size_t>(y) * pitch;
        const uint8_t* luma = luma_top + static_cast<size_t>(y) * s.y_stride;
        for (int x = 0; x + 1 < p.w; x += 2, out += 4) {
          const uint8_t u = CoveringChroma(s, s.cb, sx, sy, p.x + x, p.y + y, 1);
          const uint8_t v = CoveringChroma(s, s.cr, sx, sy, p.x + x, p.y + y, 1);
          PackPair(out, yuy2, luma[x], luma[x + 1], u, v);
        }
      }
      break;
    }
    default:
      break;
  }
}

void WriteSurface(TheoraMovieRecord* r, const TheoraFrameSlot& s, uint8_t* bits, int pitch) {
  // The surface has the picture's size; its rows start at the picture's
  // offset in the coded frame.
  const Picture p = PictureOf(r, s, static_cast<int>(r->info.frame_width), static_cast<int>(r->info.frame_height));
  if (!Is420(s)) {
    WriteSurfaceResampled(r, s, p, bits, pitch);
    return;
  }
  const int w = p.w, h = p.h, cw = (w + 1) / 2, ch = (h + 1) / 2;
  const uint8_t* luma_top = s.y + static_cast<size_t>(p.y) * s.y_stride + p.x;
  const size_t chroma_at = static_cast<size_t>(p.y / 2) * s.c_stride + p.x / 2;
  const int c_rows = std::min(ch, s.c_height - p.y / 2), c_cols = std::min(cw, s.c_width - p.x / 2);
  switch (r->yuv_fourcc) {
    case kFourCcYv12: {
      for (int y = 0; y < h; ++y)
        memcpy(bits + static_cast<size_t>(y) * pitch, luma_top + static_cast<size_t>(y) * s.y_stride, w);
      uint8_t* v_plane = bits + static_cast<size_t>(h) * pitch;
      uint8_t* u_plane = v_plane + static_cast<size_t>(ch) * (pitch / 2);
      for (int y = 0; y < c_rows; ++y) {
        memcpy(v_plane + static_cast<size_t>(y) * (pitch / 2), s.cr + chroma_at + static_cast<size_t>(y) * s.c_stride,
               c_cols);
        memcpy(u_plane + static_cast<size_t>(y) * (pitch / 2), s.cb + chroma_at + static_cast<size_t>(y) * s.c_stride,
               c_cols);
      }
      break;
    }
    case kFourCcYuy2:
    case kFourCcUyvy: {
      const bool yuy2 = r->yuv_fourcc == kFourCcYuy2;
      for (int y = 0; y + 1 < h; y += 2) {
        for (int half = 0; half < 2; ++half) {
          uint8_t* out = bits + static_cast<size_t>(y + half) * pitch;
          const uint8_t* luma = luma_top + static_cast<size_t>(y + half) * s.y_stride;
          const uint8_t* cb = s.cb + chroma_at + static_cast<size_t>(y / 2) * s.c_stride;
          const uint8_t* cr = s.cr + chroma_at + static_cast<size_t>(y / 2) * s.c_stride;
          for (int x = 0; x + 1 < w; x += 2, out += 4) {
            const uint8_t u = cb[x / 2], v = cr[x / 2];
            PackPair(out, yuy2, luma[x], luma[x + 1], u, v);
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

void PutYuv420Pixel(int luma, int cb, int cr, uint8_t* p) {
  const uint8_t* clamp = g_tables.clamp + kClampOffset;
  const int yy = g_tables.y[luma];
  p[0] = clamp[(yy + g_tables.cb_blue[cb]) / 16384];
  p[1] = clamp[(yy + g_tables.cb_green[cb] + g_tables.cr_green[cr]) / 16384];
  p[2] = clamp[(yy + g_tables.cr_red[cr]) / 16384];
  p[3] = 255;
}

// Pixels [x0, w) of row y in the tables' arithmetic: the plain loop, which
// the vector rows are held to, and the vector rows' last pixels.
void ConvertYuv420Tail(const TheoraFrameSlot& s, BaseImage* image, int y, int x0, int w) {
  const uint8_t* luma = s.y + static_cast<size_t>(y) * s.y_stride;
  const uint8_t* cb_row = s.cb + static_cast<size_t>(y / 2) * s.c_stride;
  const uint8_t* cr_row = s.cr + static_cast<size_t>(y / 2) * s.c_stride;
  uint8_t* out = image->pixels + static_cast<size_t>(y) * image->pitch;
  for (int x = x0; x < w; ++x) PutYuv420Pixel(luma[x], cb_row[x / 2], cr_row[x / 2], out + static_cast<size_t>(x) * 4);
}

// A 4:2:0 picture that starts on an odd row or column: its pixels do not
// pair up with the chroma samples as the rows expect, so each takes the
// sample that covers it in the coded frame.
void ConvertYuv420Shifted(const TheoraFrameSlot& s, BaseImage* image, const Picture& p) {
  for (int y = 0; y < p.h; ++y) {
    const int fy = p.y + y;
    const uint8_t* luma = s.y + static_cast<size_t>(fy) * s.y_stride + p.x;
    const uint8_t* cb_row = s.cb + static_cast<size_t>(fy / 2) * s.c_stride;
    const uint8_t* cr_row = s.cr + static_cast<size_t>(fy / 2) * s.c_stride;
    uint8_t* out = image->pixels + static_cast<size_t>(y) * image->pitch;
    for (int x = 0; x < p.w; ++x) {
      const int fx = p.x + x;
      PutYuv420Pixel(luma[x], cb_row[fx / 2], cr_row[fx / 2], out + static_cast<size_t>(x) * 4);
    }
  }
}

void WriteImage(TheoraMovieRecord* r, const TheoraFrameSlot& s) {
  BaseImage& image = r->frame_image;
  if (!image.pixels) return;
  // The image has the picture's size; the coded frame around it is padding.
  const Picture p = PictureOf(r, s, image.width, image.height);
  if (Is420(s)) {
    if ((p.x | p.y) & 1) {
      ConvertYuv420Shifted(s, &image, p);
      return;
    }
    TheoraFrameSlot picture{};
    picture.y = s.y + static_cast<size_t>(p.y) * s.y_stride + p.x;
    picture.cb = s.cb + static_cast<size_t>(p.y / 2) * s.c_stride + p.x / 2;
    picture.cr = s.cr + static_cast<size_t>(p.y / 2) * s.c_stride + p.x / 2;
    picture.y_width = p.w, picture.y_height = p.h, picture.y_stride = s.y_stride;
    picture.c_width = (p.w + 1) / 2, picture.c_height = (p.h + 1) / 2, picture.c_stride = s.c_stride;
    ConvertYuv420(picture, &image, p.w, p.h, Yuv420Level());
    return;
  }
  // Other chroma layouts: each pixel takes the chroma sample that covers it.
  for (int y = 0; y < p.h; ++y) {
    const int fy = p.y + y;
    const int cy = s.y_height > 0 ? static_cast<int>(static_cast<int64_t>(fy) * s.c_height / s.y_height) : 0;
    const uint8_t* luma = s.y + static_cast<size_t>(fy) * s.y_stride + p.x;
    const uint8_t* cb_row = s.cb + static_cast<size_t>(cy) * s.c_stride;
    const uint8_t* cr_row = s.cr + static_cast<size_t>(cy) * s.c_stride;
    uint8_t* out = image.pixels + static_cast<size_t>(y) * image.pitch;
    for (int x = 0; x < p.w; ++x) {
      const int fx = p.x + x;
      const int cx = s.y_width > 0 ? static_cast<int>(static_cast<int64_t>(fx) * s.c_width / s.y_width) : 0;
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
    if (d.device->CreateOffscreenPlainSurface(r->info.frame_width, r->info.frame_height, fourcc, plat::D3DPOOL_DEFAULT,
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
