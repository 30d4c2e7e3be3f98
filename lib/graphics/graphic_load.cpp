// lib/graphics/graphic_load.cpp - how graphics come into being and get their
// pixels back: empty graphics, image files (on disk or in memory), derived
// graphics sharing another's textures, copies of the draw screen, the image
// sources kept for the restore, and the restore itself.
#include <cerrno>
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/core/plain_file.h"
#include "lib/system/window_system.h"
#include "lib/graphics/font.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "lib/graphics/soft_draw.h"
#include "lib/graphics/model_tables.h"
#include "lib/image/image_load.h"
#include "lib/sound/movie.h"


namespace {

int (*g_restore_callback)() = nullptr;
int g_restore_file_loads = 0;

// Room for an image record ahead of its pixels.
constexpr size_t kFormatBlockSize = (sizeof(BaseImage) + 15) / 16 * 16;

void ReleaseSource(ImageSourceRecord* s) {
  if (s && --s->reference_count <= 0) RR_FREE(s);
}

// A copy of a base image with its pixels placed at out_pixels.
void CopyBaseImage(BaseImage* out, const BaseImage* in, uint8_t* out_pixels, size_t size) {
  *out = *in;
  out->pixels = out_pixels;
  memcpy(out_pixels, in->pixels, size);
}

void FreeImages(BaseImage* image, BaseImage* alpha, bool* loaded, bool* alpha_loaded) {
  if (*loaded) FreeBaseImagePixels(image);
  if (*alpha_loaded) FreeBaseImagePixels(alpha);
  *loaded = *alpha_loaded = false;
}

}  // namespace

int GetRestoreFileLoadCount() { return g_restore_file_loads; }

int SetGraphicImageSource(int handle, const char* file_name, const void* memory_image, int memory_size,
                          const void* alpha_memory_image, int alpha_memory_size, const BaseImage* base_image,
                          const BaseImage* alpha_base_image, int mirror, int source_graphic) {
  GraphicRecord* r = GraphicHandleToRecord(handle);
  if (!r) return -1;
  GraphicRecord* from = source_graphic != -1 ? GraphicHandleToRecord(source_graphic) : nullptr;
  ImageSourceRecord* old = r->source;
  r->source = nullptr;
  if (!file_name && !memory_image && !base_image) {
    if (from && from->source) {
      r->source = from->source;
      r->source->reference_count++;
    }
    ReleaseSource(old);
    return 0;
  }
  if (from) {
    if (from->source) {
      r->source = from->source;
      r->source->reference_count++;
    }
    ReleaseSource(old);
    return 0;
  }
  ReleaseSource(old);
  ImageSourceRecord* s = nullptr;
  if (file_name) {
    char full[kMaxPath];
    if (MakeFullPath(file_name, full, nullptr) != 0) strncpy(full, file_name, sizeof(full) - 1), full[sizeof(full) - 1] = 0;
    size_t length = strlen(full);
    s = static_cast<ImageSourceRecord*>(RR_CALLOC(sizeof(ImageSourceRecord) + length + 1));
    if (!s) return WriteLogLine("転送する画像ファイルのファイル名を保存するメモリ領域の確保に失敗しました\n");
    s->file_name = reinterpret_cast<char*>(s + 1);
    memcpy(s->file_name, full, length + 1);
  } else if (memory_image) {
    if (memory_size < 0 || alpha_memory_size < 0) return -1;
    size_t alpha_size = alpha_memory_image ? size_t(alpha_memory_size) : 0;
    s = static_cast<ImageSourceRecord*>(RR_CALLOC(sizeof(ImageSourceRecord) + size_t(memory_size) + alpha_size));
    if (!s) return WriteLogLine("転送する画像データを保存するメモリ領域の確保に失敗しました\n");
    auto* data = reinterpret_cast<uint8_t*>(s + 1);
    memcpy(data, memory_image, size_t(memory_size));
    s->memory_image = data;
    s->memory_image_size = memory_size;
    if (alpha_memory_image) {
      memcpy(data + memory_size, alpha_memory_image, alpha_size);
      s->alpha_memory_image = data + memory_size;
      s->alpha_memory_image_size = alpha_memory_size;
    }
  } else {
    size_t size = size_t(GetBaseImageDataSize(base_image));
    size_t alpha_size = alpha_base_image ? size_t(GetBaseImageDataSize(alpha_base_image)) : 0;
    size_t total = sizeof(ImageSourceRecord) + kFormatBlockSize + size +
                   (alpha_base_image ? kFormatBlockSize + alpha_size : 0);
    s = static_cast<ImageSourceRecord*>(RR_CALLOC(total));
    if (!s) return WriteLogLine("転送する基本イメージを保存するメモリ領域の確保に失敗しました\n");
    auto* p = reinterpret_cast<uint8_t*>(s + 1);
    s->base_image = reinterpret_cast<BaseImage*>(p);
    CopyBaseImage(s->base_image, base_image, p + kFormatBlockSize, size);
    if (alpha_base_image) {
      p += kFormatBlockSize + size;
      s->alpha_base_image = reinterpret_cast<BaseImage*>(p);
      CopyBaseImage(s->alpha_base_image, alpha_base_image, p + kFormatBlockSize, alpha_size);
    }
  }
  s->mirror = mirror;
  s->reference_count = 1;
  r->source = s;
  return 0;
}

int SetGraphicImageSourceBasic(int handle, const char* file_name, int mirror, int source_graphic) {
  return SetGraphicImageSource(handle, file_name, nullptr, 0, nullptr, 0, nullptr, nullptr, mirror, source_graphic);
}

int MakeGraphic(int width, int height) {
  if (!GraphicsDevice().started) return -1;
  WaitIfInactive();
  int handle = AddGraphicHandle();
  if (SetupGraphicImages(-1, handle, width, height, GraphicsConfig().create_alpha, 0, 0) != 0) return -1;
  return handle;
}

int CreateGraphicFromImageData(BaseImage* image, BaseImage* alpha_image) {
  if (!GraphicsDevice().started || !image) return -1;
  WaitIfInactive();
  if (alpha_image && (alpha_image->width != image->width || alpha_image->height != image->height)) return -1;
  int handle = AddGraphicHandle();
  int alpha = (image->format.width_a > 0 || alpha_image) ? 1 : 0;
  int palette = (image->format.bytes_per_pixel == 1 && !alpha) ? 1 : 0;
  if (SetupGraphicImages(-1, handle, image->width, image->height, alpha, palette, 0) != 0) return -1;
  return handle;
}

int MakeGraphicFromImage(BaseImage* image, BaseImage* alpha_image, int flag) {
  (void)flag;
  if (!image) return -1;
  SetPixelFormatInfoUnusedMask(&image->format);
  if (alpha_image) SetPixelFormatInfoUnusedMask(&alpha_image->format);
  int handle = CreateGraphicFromImageData(image, alpha_image);
  if (handle != -1) BltImageToGraphic(image, alpha_image, 0, 0, handle);
  return handle;
}

int RewriteGraphicFromImage(BaseImage* image, BaseImage* alpha_image, int handle) {
  if (!image) return -1;
  SetPixelFormatInfoUnusedMask(&image->format);
  if (alpha_image) SetPixelFormatInfoUnusedMask(&alpha_image->format);
  int w = 0, h = 0;
  if (GetGraphicSize(handle, &w, &h) != 0 || handle < 0) return -1;
  if (w != image->width || h != image->height) return -1;
  if (alpha_image && (alpha_image->width != w || alpha_image->height != h)) return -1;
  BltImageToGraphic(image, alpha_image, 0, 0, handle);
  return 0;
}

int ImageToGraphicHelper(BaseImage* image, int handle) {
  if (RewriteGraphicFromImage(image, nullptr, handle) != 0) return -1;
  SetGraphicImageSource(handle, nullptr, nullptr, 0, nullptr, 0, image, nullptr, 0, -1);
  return 0;
}

int LoadGraphicFile(const char* file_name, int flag, int mirror, int movie_option) {
  (void)flag;
  GraphicsDeviceState& d = GraphicsDevice();
  if (!d.started || !file_name) return -1;
  WaitIfInactive();
  BaseImage image{}, alpha{};
  int loaded = LoadBaseImageFile(file_name, nullptr, 0, 0, nullptr, 0, 0, &image, &alpha, mirror);
  if (loaded >= 0) {
    int handle = MakeGraphicFromImage(&image, loaded == 0 ? &alpha : nullptr, 0);
    if (handle != -1) SetGraphicImageSourceBasic(handle, file_name, mirror, -1);
    FreeBaseImagePixels(&image);
    if (loaded == 0) FreeBaseImagePixels(&alpha);
    return handle;
  }
  // An image file that a loader found damaged or too large (the load has
  // named it) is not offered to the movie path, which would show what it
  // could decode of it, or hold the whole picture anyway.
  if (loaded == kImageDamaged || loaded == kImageTooLarge) return -1;
  intptr_t file = FileOpenThunk(file_name, 0, 1, 0);
  if (file == 0) {
    WriteLogLineFmt("グラフィックファイル %s がありません", file_name);
    return -1;
  }
  FileCloseThunk(file);
  // Not an image: it may be a movie that plays into a graphic.
  GraphicsSettings saved = GraphicsConfig();
  int width = 0, height = 0;
  int movie = OpenMovie(file_name, &width, &height, movie_option);
  if (movie < 0) {
    // errno tells a picture too large to whoever explains the failure.
    const int error = errno;
    WriteLogLineFmt("右記のグラフィックファイルのロードに失敗しました：%s \n", file_name);
    errno = error;
    return -1;
  }
  const MovieRecord* movie_record = MovieHandleToRecord(movie);
  const int alpha_half = movie_record->right_alpha == 1 ? 1 : 0;
  if (alpha_half) width /= 2;
  GraphicsSettings& cfg = GraphicsConfig();
  cfg.creation_depth = Screen().colour_bits ? Screen().colour_bits : 16;
  cfg.alpha_test_transparency = 0;
  cfg.default_pool = 1;
  cfg.single_texture = 1;
  // A drawable texture can take the device's copy of a YUV frame surface.
  cfg.create_drawable = movie_record->theora && !alpha_half ? 1 : 0;
  int handle = AddGraphicHandle();
  int result = SetupGraphicImages(-1, handle, width, height, alpha_half, 0, 0);
  int single = 1;
  cfg = saved;
  cfg.single_texture = single;
  if (result != 0) {
    WriteLogLineFmt("右記のグラフィックファイルの格納用グラフィック領域の作成に失敗しました：%s", file_name);
    // The movie would otherwise play on with nothing showing it.
    CloseMovieHandle(movie);
    return -1;
  }
  GraphicHandleToRecord(handle)->movie_handle = movie;
  SetMovieFrameCallback(movie, UpdateMovieGraphic, reinterpret_cast<void*>(static_cast<intptr_t>(handle)));
  return handle;
}

int LoadGraphicFromFile(const char* file_name, int flag) { return LoadGraphicFile(file_name, flag == 0 ? 1 : 0, 0, 0); }

int ImageToGraphicWithOptions(const void* data, int size, const void* alpha_data, int alpha_size, int flag,
                              int mirror) {
  (void)flag;
  if (!GraphicsDevice().started || !data || size <= 0) return -1;
  BaseImage image{}, alpha{};
  int loaded = LoadBaseImageFile(nullptr, data, size_t(size), 1, alpha_data, alpha_data ? size_t(alpha_size) : 0,
                                 1, &image, &alpha, mirror);
  if (loaded < 0) return -1;
  int handle = MakeGraphicFromImage(&image, loaded == 0 ? &alpha : nullptr, 0);
  if (handle != -1)
    SetGraphicImageSource(handle, nullptr, data, size, alpha_data, alpha_data ? alpha_size : 0, nullptr, nullptr,
                          mirror, -1);
  FreeBaseImagePixels(&image);
  if (loaded == 0) FreeBaseImagePixels(&alpha);
  return handle;
}

int LoadGraphicFromMemoryFile(const void* data, int size, int handle, const void* alpha_data, int alpha_size,
                              int unused, int mirror) {
  (void)unused;
  if (!GraphicsDevice().started || !data || size <= 0) return -1;
  BaseImage image{}, alpha{};
  int loaded = LoadBaseImageFile(nullptr, data, size_t(size), 1, alpha_data, alpha_data ? size_t(alpha_size) : 0,
                                 1, &image, &alpha, mirror);
  if (loaded < 0) return -1;
  int result = RewriteGraphicFromImage(&image, loaded == 0 ? &alpha : nullptr, handle);
  if (result == 0)
    SetGraphicImageSource(handle, nullptr, data, size, alpha_data, alpha_data ? alpha_size : 0, nullptr, nullptr,
                          mirror, -1);
  FreeBaseImagePixels(&image);
  if (loaded == 0) FreeBaseImagePixels(&alpha);
  return result;
}

int DeriveGraphic(int x, int y, int width, int height, int source) {
  GraphicRecord* src = GraphicHandleToRecord(source);
  if (!src || !src->set) return -1;
  if (x < 0 || y < 0 || x >= src->width || y >= src->height) return -1;
  // An empty rectangle names no pixels.
  if (width < 1 || height < 1) return -1;
  if (width > src->width - x) width = src->width - x;
  if (height > src->height - y) height = src->height - y;
  int handle = AddGraphicHandle();
  GraphicRecord* r = GraphicHandleToRecord(handle);
  src = GraphicHandleToRecord(source);
  r->set = src->set;
  r->set->reference_count++;
  if (src->source) {
    r->source = src->source;
    r->source->reference_count++;
  }
  r->source_x = src->source_x + x;
  r->source_y = src->source_y + y;
  r->set_x = src->set_x + x;
  r->set_y = src->set_y + y;
  r->width = width;
  r->height = height;
  if (CreateGraphicDrawInfo(handle) != 0) {
    // No half-made handle is left behind.
    DeleteGraphic(handle);
    return -1;
  }
  return handle;
}

int CopyDrawScreenToGraphic(int source, int x1, int y1, int x2, int y2, int dx, int dy, int handle) {
  GraphicsDeviceState& d = GraphicsDevice();
  GraphicRecord* r = GraphicHandleToRecord(handle);
  if (!r || !r->set) return -1;
  FlushVertexBatch();
  EndDeviceScene();
  GraphicRecord* src = GraphicHandleToRecord(source);
  // The rectangle is checked against the source it is read from.
  int sw = 0, sh = 0;
  if (src) {
    sw = src->width;
    sh = src->height;
  } else {
    GetScreenSize(&sw, &sh);
  }
  if (!(0 <= x1 && x1 < x2 && x2 <= sw && 0 <= y1 && y1 < y2 && y2 <= sh)) return -1;
  int w = x2 - x1, h = y2 - y1;
  if (dx < 0 || dy < 0 || dx + w > r->width || dy + h > r->height) return -1;
  if (!r->set->textured) {
    MEMIMG* to = GraphicMemImg(r);
    MEMIMG* from = src ? GraphicMemImg(src) : &SoftScreenImage();
    if (!to || !IsValidMemImg(from)) return -1;
    const IntRect rect{x1, y1, x2, y2};
    CopyMemImgRect(to, from, &rect, dx, dy);
    return 0;
  }
  if (!d.device) return -1;
  plat::Direct3DSurface9* from = nullptr;
  int ox = 0, oy = 0;
  if (src && src->set && src->set->textured) {
    GraphicTile& t = src->set->tiles[0];
    from = t.multisample_surface ? t.multisample_surface : t.surface;
    ox = src->set_x;
    oy = src->set_y;
  } else {
    from = d.sub_back_buffer ? d.sub_back_buffer : d.back_buffer;
  }
  if (!from) return -1;
  if (r->set->drawable) {
    plat::RECT s = {x1 + ox, y1 + oy, x2 + ox, y2 + oy};
    plat::RECT t = {r->set_x + dx, r->set_y + dy, r->set_x + dx + w, r->set_y + dy + h};
    d.device->StretchRect(from, &s, r->set->tiles[0].surface, &t, plat::D3DTEXF_NONE);
    return 0;
  }
  if (src) return -1;
  int32_t rect[4] = {x1, y1, x2, y2};
  BaseImage image{};
  if (CreateBackBufferLockSurfaces(rect, &image, -2, 1) != 0) return -1;
  ImageRect all = {0, 0, w, h};
  int result = TransferImageToTexture(handle, &all, dx, dy, &image, nullptr, 0, 0, 0);
  ReleaseBackBufferLockSurfaces();
  return result;
}

int GetDrawScreenToGraphic(int x1, int y1, int x2, int y2, int handle, int unused) {
  (void)unused;
  GraphicRecord* r = GraphicHandleToRecord(handle);
  if (!r || r->width != x2 - x1 || r->height != y2 - y1) return -1;
  return CopyDrawScreenToGraphic(GetDrawTarget(), x1, y1, x2, y2, 0, 0, handle);
}

int RestoreAllGraphics() {
  WriteLogLine("グラフィックを復帰します\n");
  BaseImage file_image{}, file_alpha{}, mem_image{}, mem_alpha{};
  bool file_loaded = false, file_alpha_loaded = false, mem_loaded = false, mem_alpha_loaded = false;
  const char* last_file = nullptr;
  int last_file_mirror = 0;
  const void *last_mem = nullptr, *last_mem_alpha = nullptr;
  int last_mem_mirror = 0;
  for (int i = 0; i < GetGraphicHighWater(); i++) {
    GraphicRecord* r = GraphicRecordAt(i);
    if (!r || !r->source) continue;
    ImageSourceRecord* s = r->source;
    if (s->file_name) {
      if (!(file_loaded && last_file && strcmp(last_file, s->file_name) == 0 && last_file_mirror == s->mirror)) {
        FreeImages(&file_image, &file_alpha, &file_loaded, &file_alpha_loaded);
        last_file = nullptr;
        g_restore_file_loads++;
        int res = LoadBaseImageFile(s->file_name, nullptr, 0, 0, nullptr, 0, 0, &file_image, &file_alpha, s->mirror);
        if (res < 0) {
          WriteLogLineFmt("ファイル:%s がロードできませんでした", s->file_name);
          continue;
        }
        file_loaded = true;
        file_alpha_loaded = res == 0;
        last_file = s->file_name;
        last_file_mirror = s->mirror;
      }
      BltImageToGraphic(&file_image, file_alpha_loaded ? &file_alpha : nullptr, r->source_x, r->source_y, r->handle);
    } else if (s->memory_image) {
      if (!(mem_loaded && last_mem == s->memory_image && last_mem_alpha == s->alpha_memory_image &&
            last_mem_mirror == s->mirror)) {
        FreeImages(&mem_image, &mem_alpha, &mem_loaded, &mem_alpha_loaded);
        last_mem = nullptr;
        int res = LoadBaseImageFile(nullptr, s->memory_image, size_t(s->memory_image_size), 1, s->alpha_memory_image,
                                    size_t(s->alpha_memory_image_size), 1, &mem_image, &mem_alpha, s->mirror);
        if (res < 0) {
          WriteLogLine("メモリからの画像データのローができませんでした");
          continue;
        }
        mem_loaded = true;
        mem_alpha_loaded = res == 0;
        last_mem = s->memory_image;
        last_mem_alpha = s->alpha_memory_image;
        last_mem_mirror = s->mirror;
      }
      BltImageToGraphic(&mem_image, mem_alpha_loaded ? &mem_alpha : nullptr, r->source_x, r->source_y, r->handle);
    } else if (s->base_image) {
      BltImageToGraphic(s->base_image, s->alpha_base_image, r->source_x, r->source_y, r->handle);
    }
  }
  FreeImages(&file_image, &file_alpha, &file_loaded, &file_alpha_loaded);
  FreeImages(&mem_image, &mem_alpha, &mem_loaded, &mem_alpha_loaded);
  WriteLogLine("グラフィックの復帰が完了しました\n");
  return 0;
}

int IsRestoreCallbackSet() { return g_restore_callback ? 1 : 0; }

int SetGraphicsRestoreCallback(int (*callback)()) {
  g_restore_callback = callback ? callback : RestoreAllGraphics;
  return 0;
}

int RunRestoreCallback() {
  if (g_restore_callback) g_restore_callback();
  else RestoreAllGraphics();
  RestoreModelTextures();
  RebuildAllFonts();
  return 0;
}
