// platform/d3d9/d3d9_formats.cpp - the colour formats of the Direct3D stand-in:
// one decode to and one encode from 0xAARRGGBB per format.
//
// Channel widening replicates the high bits into the low ones (so 0x1F
// becomes 0xFF and 0 stays 0); narrowing keeps the high bits. Decoding an
// encoded value gives it back, so a copy through any format is stable.
#include <cstring>

#include "platform/d3d9/d3d9.h"

namespace plat {

int FormatBytesPerPixel(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
      return 4;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
      return 2;
    default:
      return 0;
  }
}

bool IsColorFormat(D3DFORMAT format) { return FormatBytesPerPixel(format) != 0; }

bool IsYuvFormat(D3DFORMAT format) {
  return format == D3DFMT_YV12 || format == D3DFMT_YUY2 || format == D3DFMT_UYVY;
}

uint32_t ReadYuvPixel(D3DFORMAT format, const uint8_t* bits, int pitch, uint32_t height, int x, int y) {
  int luma, cb, cr;
  if (format == D3DFMT_YV12) {
    const uint8_t* v_plane = bits + size_t(height) * pitch;
    const uint8_t* u_plane = v_plane + size_t((height + 1) / 2) * (pitch / 2);
    luma = bits[size_t(y) * pitch + x];
    cr = v_plane[size_t(y / 2) * (pitch / 2) + x / 2];
    cb = u_plane[size_t(y / 2) * (pitch / 2) + x / 2];
  } else {
    const uint8_t* pair = bits + size_t(y) * pitch + size_t(x / 2) * 4;
    const bool yuy2 = format == D3DFMT_YUY2;
    luma = yuy2 ? pair[(x & 1) * 2] : pair[1 + (x & 1) * 2];
    cb = yuy2 ? pair[1] : pair[0];
    cr = yuy2 ? pair[3] : pair[2];
  }
  // Studio-range BT.601, as display hardware converts these layouts.
  const float yy = 1.164f * float(luma - 16);
  auto channel = [](float v) {
    int i = int(v + 0.5f);
    return uint32_t(i < 0 ? 0 : (i > 255 ? 255 : i));
  };
  const uint32_t r = channel(yy + 1.596f * float(cr - 128));
  const uint32_t g = channel(yy - 0.391f * float(cb - 128) - 0.813f * float(cr - 128));
  const uint32_t b = channel(yy + 2.018f * float(cb - 128));
  return 0xFF000000u | r << 16 | g << 8 | b;
}

bool IsDepthFormat(D3DFORMAT format) {
  return format == D3DFMT_D16 || format == D3DFMT_D24X8 || format == D3DFMT_D32 ||
         format == D3DFMT_D24S8;
}

bool FormatHasAlpha(D3DFORMAT format) {
  return format == D3DFMT_A8R8G8B8 || format == D3DFMT_A1R5G5B5 || format == D3DFMT_A4R4G4B4;
}

static inline uint32_t Widen5(uint32_t v) { return (v << 3) | (v >> 2); }
static inline uint32_t Widen6(uint32_t v) { return (v << 2) | (v >> 4); }
static inline uint32_t Widen4(uint32_t v) { return v * 17; }

uint32_t DecodePixel(D3DFORMAT format, const void* pixel) {
  uint32_t v32;
  uint16_t v16;
  switch (format) {
    case D3DFMT_A8R8G8B8:
      memcpy(&v32, pixel, 4);
      return v32;
    case D3DFMT_X8R8G8B8:
      memcpy(&v32, pixel, 4);
      return v32 | 0xFF000000u;
    case D3DFMT_R5G6B5:
      memcpy(&v16, pixel, 2);
      return 0xFF000000u | (Widen5(v16 >> 11) << 16) | (Widen6((v16 >> 5) & 63) << 8) |
             Widen5(v16 & 31);
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
      memcpy(&v16, pixel, 2);
      return ((format == D3DFMT_X1R5G5B5 || (v16 & 0x8000)) ? 0xFF000000u : 0) |
             (Widen5((v16 >> 10) & 31) << 16) | (Widen5((v16 >> 5) & 31) << 8) |
             Widen5(v16 & 31);
    case D3DFMT_A4R4G4B4:
      memcpy(&v16, pixel, 2);
      return (Widen4(v16 >> 12) << 24) | (Widen4((v16 >> 8) & 15) << 16) |
             (Widen4((v16 >> 4) & 15) << 8) | Widen4(v16 & 15);
    default:
      return 0;
  }
}

void EncodePixel(D3DFORMAT format, uint32_t argb, void* pixel) {
  uint32_t a = argb >> 24, r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
  uint32_t v32;
  uint16_t v16;
  switch (format) {
    case D3DFMT_A8R8G8B8:
      memcpy(pixel, &argb, 4);
      return;
    case D3DFMT_X8R8G8B8:
      v32 = argb | 0xFF000000u;
      memcpy(pixel, &v32, 4);
      return;
    case D3DFMT_R5G6B5:
      v16 = static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
      memcpy(pixel, &v16, 2);
      return;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
      // The single alpha bit is set from half coverage up; the X variant
      // always writes it set.
      v16 = static_cast<uint16_t>(((format == D3DFMT_X1R5G5B5 || a >= 128) ? 0x8000 : 0) |
                                  ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
      memcpy(pixel, &v16, 2);
      return;
    case D3DFMT_A4R4G4B4:
      v16 = static_cast<uint16_t>(((a >> 4) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4));
      memcpy(pixel, &v16, 2);
      return;
    default:
      return;
  }
}

const char* FormatName(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8: return "A8R8G8B8";
    case D3DFMT_X8R8G8B8: return "X8R8G8B8";
    case D3DFMT_R5G6B5: return "R5G6B5";
    case D3DFMT_X1R5G5B5: return "X1R5G5B5";
    case D3DFMT_A1R5G5B5: return "A1R5G5B5";
    case D3DFMT_A4R4G4B4: return "A4R4G4B4";
    case D3DFMT_A2R10G10B10: return "A2R10G10B10";
    case D3DFMT_D16: return "D16";
    case D3DFMT_D24X8: return "D24X8";
    case D3DFMT_D24S8: return "D24S8";
    case D3DFMT_D32: return "D32";
    case D3DFMT_A16B16G16R16F: return "A16B16G16R16F";
    case D3DFMT_A32B32G32R32F: return "A32B32G32R32F";
    case D3DFMT_DXT1: return "DXT1";
    case D3DFMT_DXT2: return "DXT2";
    case D3DFMT_DXT3: return "DXT3";
    case D3DFMT_DXT4: return "DXT4";
    case D3DFMT_DXT5: return "DXT5";
    default: return "UNKNOWN";
  }
}

}  // namespace plat
