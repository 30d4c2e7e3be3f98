// lib/image/image_load.cpp - the loader table, the common load with its
// after-treatment (mirror, alpha image, DIB form) and the DIB conversion.
#include "lib/image/image_load.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/image/convert_blit.h"
#include "lib/image/dxt_decode.h"
#include "platform/gdi/dib.h"
#include "rorud/rorud.h"

const ImageLoader ImageLoaderTable[] = {
    ReadBmpImage, ReadJpegImage, ReadPngImage, ReadBgraImage, ReadTgaImage, ReadDdsImage, nullptr,
};

int64_t StreamRemaining(StreamReader* reader) {
  const int64_t pos = reader->ops.tell(reader->handle);
  if (pos < 0 || reader->ops.seek(reader->handle, 0, 2) != 0) return -1;
  const int64_t end = reader->ops.tell(reader->handle);
  if (reader->ops.seek(reader->handle, pos, 0) != 0 || end < pos) return -1;
  return end - pos;
}

bool StreamReadExact(StreamReader* reader, void* buffer, uint64_t count) {
  if (count == 0) return true;
  // Counted in bytes, so a short read can never pass for a whole element.
  return reader->ops.read(buffer, 1, static_cast<size_t>(count), reader->handle) == count;
}

namespace {
thread_local const char* g_incomplete_note = nullptr;
// The file the calling thread is loading (null for data in memory).
thread_local const char* g_source_file = nullptr;
}  // namespace

int WriteImageLogLine(const char* line) {
  if (!g_source_file) return WriteLogLine(line);
  size_t length = std::strlen(line);
  if (length > 0 && line[length - 1] == '\n') --length;
  return WriteLogLineFmt("画像ファイル %s: %.*s", g_source_file, static_cast<int>(length), line);
}

int ImageDamaged(const char* line) {
  WriteImageLogLine(line);
  return kImageDamaged;
}

int ImageTooLarge(const char* line) {
  WriteImageLogLine(line);
  return kImageTooLarge;
}

void NoteImageIncomplete(const char* what) { g_incomplete_note = what; }

const char* ImageIncompleteNote() { return g_incomplete_note; }

int LoadBaseImageFromStream(StreamReader* reader, BaseImage* image) {
  std::memset(image, 0, sizeof(*image));
  for (const ImageLoader* loader = ImageLoaderTable; *loader; ++loader) {
    if (reader->ops.seek(reader->handle, 0, 0) != 0) return -1;
    std::memset(image, 0, sizeof(*image));
    // The note is read only after a load that succeeded.
    g_incomplete_note = nullptr;
    const int result = (*loader)(reader, image);
    if (result == 0) return 0;
    if (result == kImageDamaged || result == kImageTooLarge) {
      std::memset(image, 0, sizeof(*image));
      return result;
    }
  }
  std::memset(image, 0, sizeof(*image));
  return -1;
}

int ConvertBaseImageToDib(const BaseImage* image, void* info, void** pixels, int force_copy,
                          int no_palette) {
  if (!image->pixels || image->format.compression != kCompressionNone || image->width <= 0 ||
      image->height <= 0) {
    return -1;
  }
  std::memset(info, 0, sizeof(plat::BitmapInfoHeader) + 4);
  plat::BitmapInfoHeader h{};
  h.size = sizeof(plat::BitmapInfoHeader);
  h.width = image->width;
  h.height = -image->height;  // rows top down
  h.planes = 1;
  h.compression = plat::kBiRgb;
  const int64_t w = image->width, rows = image->height;
  uint8_t* src = image->pixels;
  if (image->format.bit_depth == 8 && image->format.bytes_per_pixel == 1 && !no_palette) {
    h.bit_count = 8;
    std::memcpy(info, &h, sizeof(h));
    std::memcpy(static_cast<uint8_t*>(info) + sizeof(h), image->format.palette, 1024);
    const int64_t pitch = (w + 3) / 4 * 4;
    if (force_copy != 1 && pitch == image->pitch) {
      *pixels = src;
      return 0;
    }
    auto* out = static_cast<uint8_t*>(RR_ALLOC(static_cast<size_t>(pitch * rows)));
    if (!out) return -1;
    for (int64_t y = 0; y < rows; ++y) std::memcpy(out + y * pitch, src + y * image->pitch, w);
    *pixels = out;
    return 1;
  }
  h.bit_count = 24;
  std::memcpy(info, &h, sizeof(h));
  const int64_t pitch = (w + 1) * 3 / 4 * 4;
  const PixelFormatInfo& f = image->format;
  const bool rgb24 = f.bit_depth == 24 && f.mask_r == 0xFF0000 && f.mask_g == 0xFF00 &&
                     f.mask_b == 0xFF;
  if (rgb24 && force_copy != 1 && pitch == image->pitch) {
    *pixels = src;
    return 0;
  }
  auto* out = static_cast<uint8_t*>(RR_ALLOC(static_cast<size_t>(pitch * rows)));
  if (!out) return -1;
  if (rgb24) {
    const int64_t bytes = std::min<int64_t>(pitch, image->pitch);
    for (int64_t y = 0; y < rows; ++y) std::memcpy(out + y * pitch, src + y * image->pitch, bytes);
  } else {
    PixelFormatInfo rgb;
    std::memset(&rgb, 0, sizeof(rgb));
    SetPixelFormatInfoRgb24(&rgb);
    ImageRect rect{0, 0, image->width, image->height};
    if (ConvertPixelFormatBlit(out, static_cast<int>(pitch), &rgb, src, image->pitch, &f, nullptr, 0,
                               nullptr, 0, 0, &rect, 0, 0, 0, 0, 0, 0, 0, 0) < 0) {
      RR_FREE(out);
      return -1;
    }
  }
  *pixels = out;
  return 1;
}

namespace {

// Files up to this size are read whole before they are decoded.
constexpr int64_t kWholeReadLimit = int64_t{64} << 20;

// Reads an open file stream whole into a block and closes the file, so that
// the loaders' many small reads are taken from memory rather than each going
// to the file system. Null (the stream left open and at its start) when the
// file is larger than the limit or its size or a read fails.
void* ReadWholeFile(StreamReader* reader, size_t* size) {
  const int64_t bytes = StreamRemaining(reader);
  if (bytes <= 0 || bytes > kWholeReadLimit) return nullptr;
  void* block = RR_ALLOC(static_cast<size_t>(bytes));
  if (!block) return nullptr;
  if (!StreamReadExact(reader, block, static_cast<uint64_t>(bytes))) {
    RR_FREE(block);
    reader->ops.seek(reader->handle, 0, 0);
    return nullptr;
  }
  reader->ops.close(reader->handle);
  *size = static_cast<size_t>(bytes);
  return block;
}

}  // namespace

int LoadBaseImageCore(const char* file_name, const void* mem_data, size_t mem_size,
                      int from_memory, int want_dib, int mirror, BaseImage* image,
                      void** dib_info, void** dib_pixels) {
  StreamReader reader;
  bool file = false;
  void* whole = nullptr;
  if (from_memory) {
    reader.ops = *GetMemoryStreamTable();
    reader.handle = MemoryStreamOpen(mem_data, mem_size);
  } else {
    if (!file_name) return -1;
    reader.ops = *GetFileStreamTable();
    reader.handle = FileOpenThunk(file_name, 0, 1, 0);
    if (reader.handle == 0) return -1;
    size_t size = 0;
    whole = ReadWholeFile(&reader, &size);
    if (whole) {
      reader.ops = *GetMemoryStreamTable();
      reader.handle = MemoryStreamOpen(whole, size);
    } else {
      file = true;
    }
  }
  if (reader.handle == 0) {
    RR_FREE(whole);
    return -1;
  }

  BaseImage local;
  // The loaders' lines name the file (decoder libraries report through them).
  g_source_file = from_memory ? nullptr : file_name;
  int loaded = LoadBaseImageFromStream(&reader, &local);
  g_source_file = nullptr;
  if (!file) reader.ops.close(reader.handle);
  // The loaders copy what they read: the file's bytes are not needed after.
  RR_FREE(whole);
  if (loaded != 0) {
    if (file) reader.ops.close(reader.handle);
    if (loaded == kImageTooLarge) {
      if (file_name && !from_memory) WriteLogLineFmt("画像ファイル %s は大きすぎます", file_name);
      // Set after the log write, which may touch errno itself.
      errno = EFBIG;
      return kImageTooLarge;
    }
    if (loaded != kImageDamaged) return -1;
    if (file_name && !from_memory) WriteLogLineFmt("画像ファイル %s は壊れています", file_name);
    return kImageDamaged;
  }
  auto finish = [&](int result) {
    if (file) reader.ops.close(reader.handle);
    return result;
  };
  if (const char* missing = g_incomplete_note) {
    if (file_name && !from_memory) {
      WriteLogLineFmt("画像ファイル %s は%s", file_name, missing);
    } else {
      WriteLogLineFmt("メモリ上の画像ファイルは%s", missing);
    }
  }

  if (mirror == 1) {
    if (DecompressDxtBaseImage(&local) != 0) {
      FreeBaseImagePixels(&local);
      return finish(-1);
    }
    FlipBaseImageHorizontal(&local);
  }
  if (want_dib) {
    if (DecompressDxtBaseImage(&local) != 0) {
      FreeBaseImagePixels(&local);
      return finish(-1);
    }
    void* info = RR_ALLOC(sizeof(plat::BitmapInfoHeader) + 256 * 4 + 4);
    if (!info) {
      FreeBaseImagePixels(&local);
      return finish(-1);
    }
    void* pixels = nullptr;
    int result = ConvertBaseImageToDib(&local, info, &pixels, 0, 0);
    if (result < 0) {
      FreeBaseImagePixels(&local);
      RR_FREE(info);
      return finish(-1);
    }
    // A converted copy replaces the image's own block; otherwise the block
    // now belongs to the caller as the DIB's rows.
    if (result == 1) RR_FREE(local.pixels);
    if (dib_info) {
      *dib_info = info;
    } else {
      RR_FREE(info);
    }
    if (dib_pixels) {
      *dib_pixels = pixels;
    } else {
      RR_FREE(pixels);
    }
    return finish(0);
  }
  *image = local;
  return finish(0);
}

int LoadBaseImageNoAlpha(const char* file_name, const void* mem_data, size_t mem_size,
                         int from_memory, BaseImage* image, int mirror) {
  return LoadBaseImageCore(file_name, mem_data, mem_size, from_memory, 0, mirror, image, nullptr,
                           nullptr);
}

int MakeAlphaImageFileName(const char* source, char* destination) {
  const size_t length = std::strlen(source);
  // The second byte of a double-byte character is never below 0x40 in any of
  // the library's character sets, so a "." byte always starts a character and
  // the characters before it are copied whole.
  const char* last_dot = std::strrchr(source, '.');
  const size_t dot = last_dot ? static_cast<size_t>(last_dot - source) : length;
  std::memcpy(destination, source, dot);
  std::memcpy(destination + dot, "_a", 2);
  std::memcpy(destination + dot + 2, source + dot, length - dot + 1);
  return 0;
}

int LoadBaseImageFile(const char* file_name, const void* mem_data, size_t mem_size,
                      int from_memory, const void* alpha_data, size_t alpha_size, int alpha_mode,
                      BaseImage* image, BaseImage* alpha_image, int mirror) {
  const int main = LoadBaseImageNoAlpha(file_name, mem_data, mem_size, from_memory, image, mirror);
  if (main != 0) return main == kImageDamaged || main == kImageTooLarge ? main : -1;
  // An alpha image that fails, damaged or not, leaves the main image loaded:
  // the caller decides what the picture is without it. A damaged or too
  // large alpha file was named in the log by its load.
  auto alpha_result = [&](int result, const char* alpha_name) {
    if (result == 0) return 0;
    if (result == kImageDamaged || result == kImageTooLarge) {
      if (alpha_name) {
        WriteLogLineFmt("アルファ画像 %s は使わずに読み込みます", alpha_name);
      } else {
        WriteLogLine(result == kImageTooLarge ? "アルファ画像のデータは大きすぎるため使わずに読み込みます\n"
                                              : "アルファ画像のデータは壊れているため使わずに読み込みます\n");
      }
    }
    return 1;
  };
  if (!alpha_image) return 1;
  if (alpha_mode == 0) {
    if (!file_name) return 1;
    const size_t length = std::strlen(file_name);
    char* alpha_name = static_cast<char*>(RR_ALLOC(length + 3));
    if (!alpha_name) return 1;
    MakeAlphaImageFileName(file_name, alpha_name);
    int result = alpha_result(LoadBaseImageNoAlpha(alpha_name, nullptr, 0, 0, alpha_image, mirror),
                              alpha_name);
    RR_FREE(alpha_name);
    return result;
  }
  if (alpha_mode == 1) {
    return alpha_result(LoadBaseImageNoAlpha(nullptr, alpha_data, alpha_size, 1, alpha_image, mirror),
                        nullptr);
  }
  return 1;
}
