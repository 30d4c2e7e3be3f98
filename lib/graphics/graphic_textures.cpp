// lib/graphics/graphic_textures.cpp - a graphic's texture set: the formats
// of its texture codes, the cut of an image side into texture sizes, the
// creation of the tiles' textures and the transfer of images into them
// through the pixel-format conversion.
#include <algorithm>
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/math3d.h"
#include "lib/core/memory.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "lib/image/convert_blit.h"
#include "lib/image/dxt_decode.h"

namespace {

struct FormatRow {
  int bits;
  uint32_t r, g, b, a;
  uint32_t compression;
};
constexpr FormatRow kCodeFormats[16] = {
    {16, 0xF800, 0x07E0, 0x001F, 0, 0},
    {32, 0xFF0000, 0xFF00, 0xFF, 0, 0},
    {16, 0x0F00, 0x00F0, 0x000F, 0xF000, 0},
    {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0},
    {16, 0x7C00, 0x03E0, 0x001F, 0x8000, 0},
    {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0},
    {4, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 1},
    {8, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 2},
    {8, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 3},
    {8, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 4},
    {8, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 5},
    {16, 0xF800, 0x07E0, 0x001F, 0, 0},
    {32, 0xFF0000, 0xFF00, 0xFF, 0, 0},
    {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0},
    {64, 0, 0, 0, 0, 6},
    {128, 0, 0, 0, 0, 7},
};

PixelFormatInfo g_code_infos[16];
bool g_code_infos_built = false;

void BuildInfo(PixelFormatInfo* info, int bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a,
               uint32_t compression) {
  memset(info, 0, sizeof(*info));
  if (bits == 16 || bits == 32 || bits == 8 || bits == 24) {
    CreatePixelFormatInfoFromMasks(info, bits, r, g, b, a);
  } else {
    info->bit_depth = uint16_t(bits);
    info->bytes_per_pixel = uint16_t(bits >= 8 ? bits / 8 : 0);
  }
  info->compression = compression;
}

bool IsDxtCode(uint32_t code) { return code >= 6 && code <= 10; }

// The Direct3D format number of a plain colour format (the device's format
// table holds the one chosen for each code).
plat::D3DFORMAT CodeFormat(uint32_t code) {
  return code < uint32_t(kTextureFormatCount) ? GraphicsDevice().texture_formats[code] : 0;
}

}  // namespace

const PixelFormatInfo* GetTextureFormatPixelFormatInfo(int code) {
  if (code < 0 || code >= 16) return nullptr;
  if (!g_code_infos_built) {
    for (int i = 0; i < 16; i++) {
      const FormatRow& f = kCodeFormats[i];
      BuildInfo(&g_code_infos[i], f.bits, f.r, f.g, f.b, f.a, f.compression);
    }
    g_code_infos_built = true;
  }
  return &g_code_infos[code];
}

const PixelFormatInfo* GetTextureSetFormatInfo(const GraphicTextureSet* set) {
  if (!set) return nullptr;
  if (set->special_format) {
    static const int kSpecial[8] = {-1, 6, 7, 8, 9, 10, 14, 15};
    return set->special_format <= 7 ? GetTextureFormatPixelFormatInfo(kSpecial[set->special_format]) : nullptr;
  }
  GraphicFormatDescriptor d{set->alpha, set->drawable, 0, set->alpha_test, set->bit_depth};
  return GetTextureFormatPixelFormatInfo(PixelFormatToCode(&d));
}

const PixelFormatInfo* MakeColorFormatRecord(int alpha, int special, int bits32, int drawable) {
  GraphicFormatDescriptor d{uint8_t(alpha), uint8_t(drawable), uint8_t(special), 0, uint8_t(bits32 ? 32 : 16)};
  return GetTextureFormatPixelFormatInfo(PixelFormatToCode(&d));
}

const PixelFormatInfo* GetColorFormatRecord(plat::D3DFORMAT format) {
  struct Row {
    plat::D3DFORMAT format;
    int bits;
    uint32_t r, g, b, a, compression;
  };
  static const Row kRows[] = {
      {20, 24, 0xFF0000, 0xFF00, 0xFF, 0, 0},
      {21, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0},
      {22, 32, 0xFF0000, 0xFF00, 0xFF, 0, 0},
      {23, 16, 0xF800, 0x07E0, 0x1F, 0, 0},
      {24, 16, 0x7C00, 0x03E0, 0x1F, 0, 0},
      {25, 16, 0x7C00, 0x03E0, 0x1F, 0x8000, 0},
      {26, 16, 0x0F00, 0x00F0, 0x0F, 0xF000, 0},
      {27, 8, 0xE0, 0x1C, 0x03, 0, 0},
      {29, 16, 0xE0, 0x1C, 0x03, 0xFF00, 0},
      {30, 16, 0x0F00, 0x00F0, 0x0F, 0, 0},
      {31, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000u, 0},
      {32, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u, 0},
      {33, 32, 0xFF, 0xFF00, 0xFF0000, 0, 0},
      {113, 64, 0, 0, 0, 0, 6},
      {116, 128, 0, 0, 0, 0, 7},
  };
  static PixelFormatInfo infos[sizeof(kRows) / sizeof(kRows[0])];
  static bool built = false;
  if (!built) {
    for (size_t i = 0; i < sizeof(kRows) / sizeof(kRows[0]); i++)
      BuildInfo(&infos[i], kRows[i].bits, kRows[i].r, kRows[i].g, kRows[i].b, kRows[i].a, kRows[i].compression);
    built = true;
  }
  for (size_t i = 0; i < sizeof(kRows) / sizeof(kRows[0]); i++)
    if (kRows[i].format == format) return &infos[i];
  return nullptr;
}

int SplitTextureSide(int n, int* out, int one_texture, int exact_size_refused) {
  const GraphicsDeviceState& d = GraphicsDevice();
  int m = int(d.max_texture_size ? d.max_texture_size : 256);
  int sizes[300];
  int count = 0;
  auto finish = [&]() {
    if (out)
      for (int i = 0; i < count; i++) out[i] = sizes[i];
    return count;
  };
  if (!exact_size_refused && (!d.pow2_only || d.nonpow2_conditional) && n <= m) {
    sizes[count++] = n;
    return finish();
  }
  if (n <= 8) {
    sizes[count++] = 8;
    return finish();
  }
  int t = m;
  while (t > 8 && t > n) t /= 2;
  if ((one_texture == 1 || GraphicsConfig().single_texture) ? 2 * t <= m : (n < Screen().width && 2 * t <= m)) {
    sizes[count++] = t >= n ? t : 2 * t;
    return finish();
  }
  for (;;) {
    if (count >= 299) break;  // the caller refuses sets of more than 256 tiles
    sizes[count] = t;
    n -= t;
    if (n <= 0) {
      count++;
      break;
    }
    if (n > 3 * t / 4 && t < m) {
      sizes[count++] = 2 * t;
      break;
    }
    while (n < t && t > 8) t /= 2;
    count++;
  }
  if (count >= 2 && sizes[count - 1] == sizes[count - 2] && 2 * sizes[count - 1] <= m) {
    sizes[count - 2] *= 2;
    count--;
  }
  return finish();
}

int CreateGraphicTexture(GraphicTextureSet* set) {
  GraphicsDeviceState& d = GraphicsDevice();
  if (!d.device) return -1;
  if (!set->textured) return 0;
  plat::D3DFORMAT format = CodeFormat(set->format_code);
  if (format == 0) return WriteLogLine("指定のフォーマットで作成できるテクスチャフォーマットがありませんでした\n");
  for (int i = 0; i < set->tile_count; i++) {
    if (d.d3d_ex) set->default_pool = 1;
    GraphicTile& t = set->tiles[i];
    if (t.depth_surface) {
      t.depth_surface->Release();
      t.depth_surface = nullptr;
    }
    uint32_t levels = uint32_t(set->mip_level_count < 1 ? 1 : set->mip_level_count);
    if (!t.texture) {
      uint32_t pool = (!set->default_pool && !set->drawable) ? plat::D3DPOOL_MANAGED : plat::D3DPOOL_DEFAULT;
      if (d.device->CreateTexture(uint32_t(t.texture_width), uint32_t(t.texture_height), levels,
                                  set->drawable ? plat::D3DUSAGE_RENDERTARGET : 0u, format, pool, &t.texture,
                                  nullptr) != plat::D3D_OK) {
        t.texture = nullptr;
        return WriteLogLine("書き込み専用テクスチャの作成に失敗しました\n");
      }
    }
    if (set->default_pool && !set->drawable && !t.system_texture) {
      if (d.device->CreateTexture(uint32_t(t.texture_width), uint32_t(t.texture_height), levels,
                                  plat::D3DUSAGE_DYNAMIC, format, plat::D3DPOOL_SYSTEMMEM, &t.system_texture,
                                  nullptr) != plat::D3D_OK) {
        t.system_texture = nullptr;
        t.texture->Release();
        t.texture = nullptr;
        return WriteLogLine("メモリテクスチャの作成に失敗しました\n");
      }
    }
    if (!t.surface && t.texture->GetSurfaceLevel(0, &t.surface) != plat::D3D_OK) {
      t.surface = nullptr;
      return WriteLogLine("テクスチャのサーフェスアドレスの取得に失敗しました\n");
    }
    if (set->drawable) {
      d.device->ColorFill(t.surface, nullptr, 0);
    } else if (!IsDxtCode(set->format_code)) {
      plat::Direct3DTexture9* fill = set->default_pool ? t.system_texture : t.texture;
      for (uint32_t level = 0; level < fill->GetLevelCount(); level++) {
        plat::D3DLOCKED_RECT lr;
        plat::D3DSURFACE_DESC desc;
        fill->GetLevelDesc(level, &desc);
        if (fill->LockRect(level, &lr, nullptr, 0) != plat::D3D_OK) continue;
        memset(lr.pBits, 0, size_t(lr.Pitch) * desc.Height);
        fill->UnlockRect(level);
      }
      if (set->default_pool) d.device->UpdateTexture(t.system_texture, t.texture);
    }
  }
  return 0;
}

namespace {

// A set without textures: one MEMIMG of the graphic's size in the screen's
// (or the creation setting's) depth.
int SetupSoftwareImages(GraphicRecord* r, int handle, int width, int height, int alpha, int palette) {
  const GraphicsSettings& cfg = GraphicsConfig();
  auto* set = static_cast<GraphicTextureSet*>(RR_CALLOC(sizeof(GraphicTextureSet)));
  if (!set) {
    WriteLogLine("グラフィックのオリジナル画像データ保存用メモリの確保に失敗しました\n");
    DeleteGraphic(handle);
    return -1;
  }
  set->textured = 0;
  set->special_format = 0;
  set->alpha = uint8_t(cfg.create_drawable ? 0 : alpha != 0);
  set->bit_depth = uint8_t(cfg.creation_depth ? cfg.creation_depth : Screen().colour_bits);
  set->palette = uint8_t(palette != 0);
  set->software = 1;
  set->default_pool = 0;
  set->drawable = 1;
  set->mip_levels = 0;
  set->alpha_test = 0;
  set->transparent_colour = cfg.transparent_colour;
  set->width = width;
  set->height = height;
  set->reference_count = 1;
  r->set = set;
  r->set_x = r->set_y = 0;
  r->width = width;
  r->height = height;
  const int format = set->bit_depth == 16 ? kMemImgRgb565 : kMemImg32;
  set->format_code = uint32_t(format == kMemImgRgb565 ? (set->alpha ? 19 : 18) : (set->alpha ? 21 : 20));
  uint32_t key = 0xFFFF;
  if (!set->palette) {
    const uint32_t c = set->transparent_colour;
    key = GetPixelFormatInfoPixelCode(GetDefaultPixelFormatInfo(format, 0, 0), int((c >> 16) & 255),
                                      int((c >> 8) & 255), int(c & 255), 0);
  }
  // The extra blocks give the kernels the run table and premultiplied copy
  // of loaded images.
  if (InitMemImg(&set->soft_image, width, height, -1, key, format, set->palette, set->alpha, 1, nullptr) != 0) {
    WriteLogLine("メモリイメージの作成に失敗しました\n");
    DeleteGraphic(handle);
    return -1;
  }
  FillMemImgRawRect(&set->soft_image, nullptr, 0);
  if (CreateGraphicDrawInfo(handle) != 0) {
    DeleteGraphic(handle);
    return -1;
  }
  return 0;
}

}  // namespace

int SetupGraphicImages(int mip_levels, int handle, int width, int height, int alpha, int palette, int special) {
  GraphicRecord* r = GraphicHandleToRecord(handle);
  if (!r) return -1;
  GraphicsDeviceState& d = GraphicsDevice();
  const GraphicsSettings& cfg = GraphicsConfig();
  auto fail = [&]() {
    DeleteGraphic(handle);
    return -1;
  };
  if (width < 1 || height < 1) return fail();
  if (!d.direct3d_mode) return SetupSoftwareImages(r, handle, width, height, alpha, palette);
  GraphicTextureSet h{};
  h.textured = 1;
  h.default_pool = uint8_t(cfg.default_pool != 0);
  h.special_format = uint8_t(special);
  h.mip_levels = uint8_t(mip_levels != -1 ? mip_levels : 1);
  if (cfg.create_drawable) {
    h.alpha = 0;
    h.drawable = 1;
    h.default_pool = 1;
    h.special_format = 0;
    h.mip_levels = 1;
  } else {
    h.alpha_test = uint8_t(cfg.alpha_test_transparency != 0);
    h.alpha = uint8_t(alpha != 0);
    h.drawable = 0;
  }
  h.bit_depth = uint8_t(cfg.creation_depth ? cfg.creation_depth : (alpha == 1 ? 32 : Screen().colour_bits));
  if (h.alpha) h.alpha_test = 0;

  int widths[300], heights[300];
  int nw = SplitTextureSide(width, widths, h.drawable, !h.drawable);
  int nh = SplitTextureSide(height, heights, h.drawable, !h.drawable);
  // A set larger than 256 textures is refused rather than overrunning the
  // tile bookkeeping.
  int tiles = nw * nh;
  bool square = (d.caps.TextureCaps & plat::D3DPTEXTURECAPS_SQUAREONLY) != 0;
  if (square) {
    tiles = 0;
    for (int j = 0; j < nh; j++)
      for (int i = 0; i < nw; i++) tiles += std::max(widths[i], heights[j]) / std::min(widths[i], heights[j]);
  }
  if (tiles > kMaxTilesPerSet) {
    WriteLogLineFmt("グラフィックのテクスチャ数が上限の %d を越えています", kMaxTilesPerSet);
    return fail();
  }
  size_t bytes = sizeof(GraphicTextureSet) + sizeof(GraphicTile) * size_t(tiles);
  auto* set = static_cast<GraphicTextureSet*>(RR_CALLOC(bytes));
  if (!set) {
    WriteLogLine("グラフィックのオリジナル画像データ保存用メモリの確保に失敗しました\n");
    return fail();
  }
  *set = h;
  memset(set->tiles, 0, sizeof(GraphicTile));
  set->transparent_colour = cfg.transparent_colour;
  set->width = width;
  set->height = height;
  set->reference_count = 1;
  r->set = set;
  r->set_x = r->set_y = 0;
  r->width = width;
  r->height = height;
  GraphicFormatDescriptor fd{set->alpha, set->drawable, set->special_format, set->alpha_test, set->bit_depth};
  set->format_code = uint32_t(PixelFormatToCode(&fd));
  set->mip_level_count = set->mip_levels;
  int n = 0, extra = nw * nh;
  int y = 0;
  for (int j = 0; j < nh; j++) {
    int x = 0;
    for (int i = 0; i < nw; i++) {
      GraphicTile& t = set->tiles[n++];
      t.x = x;
      t.y = y;
      t.texture_width = widths[i];
      t.texture_height = heights[j];
      x += widths[i];
    }
    y += heights[j];
  }
  if (square) {
    for (int i = 0; i < nw * nh; i++) {
      GraphicTile& t = set->tiles[i];
      if (t.texture_width == t.texture_height) continue;
      bool wide = t.texture_width > t.texture_height;
      int s = std::min(t.texture_width, t.texture_height);
      int k = std::max(t.texture_width, t.texture_height) / s;
      t.texture_width = t.texture_height = s;
      for (int q = 1; q < k; q++) {
        GraphicTile& u = set->tiles[extra++];
        u = t;
        (wide ? u.x : u.y) += q * s;
      }
    }
  }
  set->tile_count = square ? extra : nw * nh;
  for (int i = 0; i < set->tile_count; i++) {
    GraphicTile& t = set->tiles[i];
    t.used_width = std::max(0, std::min(t.texture_width, width - t.x));
    t.used_height = std::max(0, std::min(t.texture_height, height - t.y));
  }
  if (CreateGraphicTexture(set) != 0) return fail();
  if (CreateGraphicDrawInfo(handle) != 0) return fail();
  return 0;
}

namespace {

// Copies the last used column / row of a locked part into the one extra
// column / row beyond it, so that filtering at the edge repeats the edge.
void RepeatEdges(uint8_t* bits, int pitch, int bpp, int w, int h, bool col, bool row) {
  if (col)
    for (int y = 0; y < h; y++) memcpy(bits + y * pitch + w * bpp, bits + y * pitch + (w - 1) * bpp, size_t(bpp));
  if (row) memcpy(bits + h * pitch, bits + (h - 1) * pitch, size_t(w) * bpp);
  if (col && row) memcpy(bits + h * pitch + w * bpp, bits + (h - 1) * pitch + (w - 1) * bpp, size_t(bpp));
}

struct Transfer {
  const BaseImage* image;
  const BaseImage* alpha;
  const PixelFormatInfo* dst_format;
  uint32_t key;
  int key_to_alpha;
};

int Convert(const Transfer& tr, void* dst, int pitch, const ImageRect& src) {
  const BaseImage* a = tr.alpha;
  return ConvertPixelFormatBlit(dst, pitch, tr.dst_format, tr.image->pixels, tr.image->pitch, &tr.image->format,
                                a ? a->pixels : nullptr, a ? a->pitch : 0, a ? &a->format : nullptr, 0, 0, &src, 0,
                                tr.key_to_alpha, tr.key, kDitherNone, 0, 0, 0, 0);
}

}  // namespace

namespace {

// The transfer into a set without textures: the destination rectangle is
// clipped to the set (whole_set) or to the graphic, and the image written
// into the set's MEMIMG.
int TransferImageToSoftImage(GraphicRecord* r, const ImageRect* source_rect, int dx, int dy, const BaseImage* image,
                             const BaseImage* alpha_image, int use_transparent, int whole_set) {
  GraphicTextureSet* set = r->set;
  MEMIMG* target = &set->soft_image;
  if (!IsValidMemImg(target)) return -1;
  const int w = source_rect->right - source_rect->left, h = source_rect->bottom - source_rect->top;
  IntRect dst{whole_set ? dx : r->set_x + dx, whole_set ? dy : r->set_y + dy, 0, 0};
  dst.right = dst.left + w;
  dst.bottom = dst.top + h;
  const IntRect limit = whole_set ? IntRect{0, 0, set->width, set->height}
                                  : IntRect{r->set_x, r->set_y, r->set_x + r->width, r->set_y + r->height};
  IntRect clipped = dst;
  ClipRect(&clipped, &limit);
  if (clipped.right <= clipped.left || clipped.bottom <= clipped.top) return -1;
  const int sx = source_rect->left + (clipped.left - dst.left), sy = source_rect->top + (clipped.top - dst.top);
  // DXT data is turned into plain pixels first.
  BaseImage plain{}, plain_alpha{};
  auto expand = [](const BaseImage* in, BaseImage* out) -> const BaseImage* {
    if (!in || in->format.compression == kCompressionNone) return in;
    *out = *in;
    const uint64_t size = GetBaseImageDataSize(in);
    out->pixels = static_cast<uint8_t*>(RR_ALLOC(size_t(size)));
    if (!out->pixels) return nullptr;
    memcpy(out->pixels, in->pixels, size_t(size));
    if (DecompressDxtBaseImage(out) != 0) {
      RR_FREE(out->pixels);
      out->pixels = nullptr;
      return nullptr;
    }
    return out;
  };
  const BaseImage* src = expand(image, &plain);
  const BaseImage* src_alpha = expand(alpha_image, &plain_alpha);
  int result = -1;
  if (!src || (alpha_image && !src_alpha)) {
    WriteLogLine("標準イメージ用のメモリ確保に失敗しました\n");
  } else {
    result = ConvertBaseImageToMemImg(src, src_alpha, target, sx, sy, clipped.right - clipped.left,
                                      clipped.bottom - clipped.top, clipped.left, clipped.top, use_transparent);
  }
  RR_FREE(plain.pixels);
  RR_FREE(plain_alpha.pixels);
  if (result < 0) return -1;
  MemImgBase* base = target->base;
  if (set->palette && base->palette) {
    // The transparent colour becomes the index of the first palette entry
    // that holds it (0 when none does).
    const uint32_t c = set->transparent_colour;
    uint32_t want;
    if (base->pixel_format == kMemImg32) {
      want = c & 0xFFFFFF;
    } else {
      want = GetPixelFormatInfoPixelCode(GetDefaultPixelFormatInfo(kMemImgRgb565, 0, 0), int((c >> 16) & 255),
                                         int((c >> 8) & 255), int(c & 255), 0) & 0xFFFF;
    }
    uint32_t index = 0;
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t entry = 0;
      if (base->pixel_format == kMemImg32) {
        memcpy(&entry, base->palette + 4 * i, 4);
        entry &= 0xFFFFFF;
      } else {
        uint16_t e16;
        memcpy(&e16, base->palette + 2 * i, 2);
        entry = e16;
      }
      if (entry == want) {
        index = i;
        break;
      }
    }
    base->colour_key = index;
    // The run table was built under the old key.
    if (base->run_table_valid) BuildMemImgRunTable(base);
  }
  return 0;
}

}  // namespace

int TransferImageToTexture(int handle, const ImageRect* source_rect, int dx, int dy, const BaseImage* image,
                           const BaseImage* alpha_image, int blend_image, int use_transparent, int whole_set) {
  (void)blend_image;
  GraphicsDeviceState& d = GraphicsDevice();
  GraphicRecord* r = GraphicHandleToRecord(handle);
  if (!d.started || !r || !r->set || !image || !source_rect) return -1;
  FlushVertexBatch();
  int w = source_rect->right - source_rect->left, h = source_rect->bottom - source_rect->top;
  if (w < 1 || h < 1) return 0;
  // The source rectangle must lie inside the image (and its alpha image).
  if (source_rect->left < 0 || source_rect->top < 0 || source_rect->right > image->width ||
      source_rect->bottom > image->height)
    return -1;
  if (alpha_image && (alpha_image->width < source_rect->right || alpha_image->height < source_rect->bottom))
    return -1;
  GraphicTextureSet* set = r->set;
  if (!set->textured) return TransferImageToSoftImage(r, source_rect, dx, dy, image, alpha_image, use_transparent,
                                                      whole_set);
  if (!d.device) return -1;
  const PixelFormatInfo* dst_format = GetColorFormatRecord(CodeFormat(set->format_code));
  if (!dst_format) return -1;
  // DXT sources are turned into plain pixels first (the device keeps no DXT
  // textures of its own, so no pass-through applies).
  BaseImage plain{}, plain_alpha{};
  if (image->format.compression != kCompressionNone) {
    plain = *image;
    uint64_t size = GetBaseImageDataSize(image);
    plain.pixels = static_cast<uint8_t*>(RR_ALLOC(size_t(size)));
    if (!plain.pixels) return WriteLogLine("標準イメージ用のメモリ確保に失敗しました\n");
    memcpy(plain.pixels, image->pixels, size_t(size));
    if (DecompressDxtBaseImage(&plain) != 0) {
      RR_FREE(plain.pixels);
      return WriteLogLine("標準イメージ用のメモリ確保に失敗しました\n");
    }
    image = &plain;
  }
  if (alpha_image && alpha_image->format.compression != kCompressionNone) {
    plain_alpha = *alpha_image;
    uint64_t size = GetBaseImageDataSize(alpha_image);
    plain_alpha.pixels = static_cast<uint8_t*>(RR_ALLOC(size_t(size)));
    if (!plain_alpha.pixels || (memcpy(plain_alpha.pixels, alpha_image->pixels, size_t(size)),
                                DecompressDxtBaseImage(&plain_alpha) != 0)) {
      RR_FREE(plain_alpha.pixels);
      RR_FREE(plain.pixels);
      return WriteLogLine("標準イメージ用のメモリ確保に失敗しました\n");
    }
    alpha_image = &plain_alpha;
  }
  struct Cleanup {
    BaseImage *a, *b;
    ~Cleanup() {
      RR_FREE(a->pixels);
      RR_FREE(b->pixels);
    }
  } cleanup{&plain, &plain_alpha};

  Transfer tr{image, alpha_image, dst_format, set->transparent_colour,
              (use_transparent && dst_format->width_a > 0 && !alpha_image) ? 1 : 0};
  int bpp = dst_format->bytes_per_pixel;
  // The destination rectangle in the set's coordinates.
  int ox = whole_set ? dx : r->set_x + dx, oy = whole_set ? dy : r->set_y + dy;
  int rx1 = ox, ry1 = oy, rx2 = ox + w, ry2 = oy + h;
  if (!whole_set) {
    // Only the graphic's own rectangle is written.
    rx1 = std::max(rx1, r->set_x);
    ry1 = std::max(ry1, r->set_y);
    rx2 = std::min(rx2, r->set_x + r->width);
    ry2 = std::min(ry2, r->set_y + r->height);
  }
  if (set->drawable) {
    plat::Direct3DSurface9* staging = nullptr;
    if (d.device->CreateOffscreenPlainSurface(uint32_t(w), uint32_t(h), CodeFormat(set->format_code),
                                              plat::D3DPOOL_SYSTEMMEM, &staging, nullptr) != plat::D3D_OK)
      return WriteLogLine("画像転送用のシステムメモリテクスチャの作成に失敗しました\n");
    plat::D3DLOCKED_RECT lr;
    if (staging->LockRect(&lr, nullptr, plat::D3DLOCK_DISCARD) != plat::D3D_OK) {
      staging->Release();
      return WriteLogLine("テクスチャのロックに失敗しました\n");
    }
    Convert(tr, lr.pBits, lr.Pitch, *source_rect);
    staging->UnlockRect();
    int result = 0;
    for (int i = 0; i < set->tile_count; i++) {
      GraphicTile& t = set->tiles[i];
      int x1 = std::max(rx1, t.x), y1 = std::max(ry1, t.y);
      int x2 = std::min(rx2, t.x + t.used_width), y2 = std::min(ry2, t.y + t.used_height);
      if (x1 >= x2 || y1 >= y2) continue;
      plat::RECT src = {x1 - ox, y1 - oy, x2 - ox, y2 - oy};
      plat::POINT at = {x1 - t.x, y1 - t.y};
      if (d.device->UpdateSurface(staging, &src, t.surface, &at) != plat::D3D_OK ||
          (t.multisample_surface && d.device->UpdateSurface(staging, &src, t.multisample_surface, &at) != plat::D3D_OK)) {
        result = WriteLogLine("描画可能テクスチャへの画像の転送に失敗しました\n");
        break;
      }
    }
    staging->Release();
    return result;
  }
  if (IsDxtCode(set->format_code) && dst_format->compression != kCompressionNone) {
    WriteLogLine("DXTフォーマットのテクスチャに標準形式のイメージを転送することはできません\n");
    return 0;
  }
  for (int i = 0; i < set->tile_count; i++) {
    GraphicTile& t = set->tiles[i];
    int x1 = std::max(rx1, t.x), y1 = std::max(ry1, t.y);
    int x2 = std::min(rx2, t.x + t.used_width), y2 = std::min(ry2, t.y + t.used_height);
    if (x1 >= x2 || y1 >= y2) continue;
    plat::Direct3DTexture9* tex = set->default_pool ? t.system_texture : t.texture;
    if (!tex) return -1;
    ImageRect src = {source_rect->left + (x1 - ox), source_rect->top + (y1 - oy), source_rect->left + (x2 - ox),
                     source_rect->top + (y2 - oy)};
    int pw = x2 - x1, ph = y2 - y1;
    bool col = t.used_width < t.texture_width && x2 == t.x + t.used_width;
    bool row = t.used_height < t.texture_height && y2 == t.y + t.used_height;
    if (set->mip_level_count < 2) {
      plat::RECT lock = {x1 - t.x, y1 - t.y, x2 - t.x + (col ? 1 : 0), y2 - t.y + (row ? 1 : 0)};
      plat::D3DLOCKED_RECT lr;
      if (tex->LockRect(0, &lr, &lock, 0) != plat::D3D_OK) return WriteLogLine("テクスチャのロックに失敗しました\n");
      Convert(tr, lr.pBits, lr.Pitch, src);
      RepeatEdges(static_cast<uint8_t*>(lr.pBits), lr.Pitch, bpp, pw, ph, col, row);
      tex->UnlockRect(0);
    } else {
      // Every level is converted into the texture's format and written with
      // the pitch its lock gives: level 0 from the image, the others halved
      // from the level before.
      int W = 1, H = 1;
      while (W < pw) W *= 2;
      while (H < ph) H *= 2;
      size_t area = size_t(bpp) * W * H;
      auto* work = static_cast<uint8_t*>(RR_CALLOC(area * 2));
      if (!work) return WriteLogLine("テクスチャへ転送する画像を一時的に格納するメモリ領域の確保に失敗しました\n");
      uint8_t* cur = work;
      uint8_t* next = work + area;
      int cw = pw, ch = ph;
      Convert(tr, cur, cw * bpp, src);
      int lx = x1 - t.x, ly = y1 - t.y;
      for (int level = 0; level < set->mip_level_count && level < int(tex->GetLevelCount()); level++) {
        plat::D3DLOCKED_RECT lr;
        plat::RECT lock = {lx, ly, lx + cw, ly + ch};
        if (tex->LockRect(uint32_t(level), &lr, &lock, 0) != plat::D3D_OK) {
          RR_FREE(work);
          return WriteLogLine("ミップマップテクスチャのロックに失敗しました\n");
        }
        for (int yy = 0; yy < ch; yy++)
          memcpy(static_cast<uint8_t*>(lr.pBits) + yy * lr.Pitch, cur + size_t(yy) * cw * bpp, size_t(cw) * bpp);
        tex->UnlockRect(uint32_t(level));
        int nw = std::max(1, cw / 2), nh = std::max(1, ch / 2);
        if ((cw == 1 || cw % 2 == 0) && (ch == 1 || ch % 2 == 0) && (dst_format->bit_depth == 16 || dst_format->bit_depth == 32))
          HalveImageForMipMap(dst_format, next, nw * bpp, cur, cw * bpp, cw, ch);
        else
          for (int yy = 0; yy < nh; yy++)
            for (int xx = 0; xx < nw; xx++)
              memcpy(next + (size_t(yy) * nw + xx) * bpp, cur + (size_t(yy * 2) * cw + xx * 2) * bpp, size_t(bpp));
        std::swap(cur, next);
        cw = nw;
        ch = nh;
        lx /= 2;
        ly /= 2;
      }
      RR_FREE(work);
    }
    if (set->default_pool) d.device->UpdateTexture(t.system_texture, t.texture);
  }
  return 0;
}

int BltImageToGraphic(const BaseImage* image, const BaseImage* alpha_image, int source_x, int source_y,
                      int handle) {
  GraphicRecord* r = GraphicHandleToRecord(handle);
  if (!GraphicsDevice().started || !r) return -1;
  r->source_x = source_x;
  r->source_y = source_y;
  ImageRect rect = {source_x, source_y, source_x + r->width, source_y + r->height};
  return TransferImageToTexture(handle, &rect, 0, 0, image, alpha_image, r->set ? r->set->blend_image : 0,
                                Draw().transparent_create, 0);
}

int BltMemImageToGraphic(const BaseImage* image, const BaseImage* alpha_image, const ImageRect* source_rect,
                         int dx, int dy, int handle) {
  GraphicRecord* r = GraphicHandleToRecord(handle);
  if (!GraphicsDevice().started || !r || !source_rect) return -1;
  r->source_x = source_rect->left - dx;
  r->source_y = source_rect->top - dy;
  return TransferImageToTexture(handle, source_rect, dx, dy, image, alpha_image, r->set ? r->set->blend_image : 0,
                                Draw().transparent_create, 0);
}

int ChooseMultiSampleType(int* type, plat::D3DFORMAT format, int* quality) {
  GraphicsDeviceState& d = GraphicsDevice();
  int32_t windowed = IsWindowMode() ? 1 : 0;
  // The highest type not above the requested one that the format takes,
  // with its quality-level count; 0 when only no multisampling is left.
  auto lower_until_accepted = [&](plat::D3DFORMAT f, uint32_t* levels) {
    *levels = 0;
    while (*type > 0) {
      if (d.d3d && d.d3d->CheckDeviceMultiSampleType(0, plat::D3DDEVTYPE_HAL, f, windowed, uint32_t(*type), levels) ==
                       plat::D3D_OK)
        return true;
      --*type;
    }
    return false;
  };
  uint32_t colour_levels = 0, depth_levels = 0;
  if (!lower_until_accepted(format, &colour_levels) || !lower_until_accepted(plat::D3DFMT_D16, &depth_levels)) {
    *type = 0;
    *quality = 0;
    return 0;
  }
  int most = int(std::min(colour_levels, depth_levels)) - 1;
  if (most < 0) most = 0;
  if (*quality > most) *quality = most;
  if (*quality < 0) *quality = 0;
  return 0;
}
