// lib/image/png_loader.cpp - PNG files through libpng, fed from the library's
// streams.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/image/image_load.h"

// The reading record: the reader, where the data ends, and whether a read
// asked for bytes past that end.
struct PngReadRecord {
  StreamReader* reader;
  int64_t end;
  bool ran_out;
};

namespace {

// Everything one decode holds, reached through a pointer so that the error
// path sees the current values after a long jump.
struct PngContext {
  PngReadRecord record;
  png_structp png;
  png_infop info;
  uint8_t* pixels;
  png_bytep* rows;
  bool logged;
  // What a failure returns: kImageDamaged unless a picture too large
  // (kImageTooLarge) or a failed allocation (-1) decided otherwise.
  int failure;
  // The image data failed its check (reported as a warning).
  bool data_failed;
  // Every row was read, the image data's check and checksum included.
  bool rows_done;
  // libpng passed over a damaged transparency chunk.
  bool trns_warned;
  // ... and the picture comes out without the transparency it would use.
  bool trns_dropped;
  png_uint_32 width, height;
  int colour_type;
  bool expanded;
  png_size_t rowbytes;
  int channels;
};

void LogPngFailure(PngContext* ctx, png_const_charp message) {
  if (ctx->logged) return;
  ctx->logged = true;
  char line[160];
  std::snprintf(line, sizeof(line), "PNGファイルの読み込みに失敗しました(%s)\n", message ? message : "");
  WriteImageLogLine(line);
}

void PngError(png_structp png, png_const_charp message) {
  auto* ctx = static_cast<PngContext*>(png_get_error_ptr(png));
  // Running out of data after the image is no failure (the load says so).
  if (ctx && !(ctx->rows_done && ctx->record.ran_out)) LogPngFailure(ctx, message);
  png_longjmp(png, 1);
}

constexpr png_uint_32 kIdat = 0x49444154;  // "IDAT"
constexpr png_uint_32 kTrns = 0x74524E53;  // "tRNS"

// libpng reports as warnings what it can read past: problems of ancillary
// chunks (a text chunk with a bad checksum), which are no concern of the
// picture unless the chunk is the transparency (the picture then comes out
// opaque, which the load says), and the image data's own check failing after
// its last row was inflated, which means wrong pixels: that makes the file
// damaged. Data left over after the complete image costs no pixel.
void PngWarning(png_structp png, png_const_charp message) {
  auto* ctx = static_cast<PngContext*>(png_get_error_ptr(png));
  if (!ctx) return;
  if (png_get_io_chunk_type(png) == kTrns) ctx->trns_warned = true;
  if (ctx->rows_done || png_get_io_chunk_type(png) != kIdat || !message) return;
  if (std::strstr(message, "Extra compressed data") || std::strstr(message, "Too much image data")) return;
  ctx->data_failed = true;
  LogPngFailure(ctx, message);
}

// Stops the decode with its own line for what is not damage: failure is
// what the load gives (-1 lets the walk go on as for a layout left to
// others).
[[noreturn]] void PngGiveUp(PngContext* ctx, const char* line, int failure) {
  WriteImageLogLine(line);
  ctx->logged = true;
  ctx->failure = failure;
  png_error(ctx->png, "given up");
}

constexpr const char* kNoTrns = "tRNSチャンクが壊れています(透明色を使わずに読み込みます)";
constexpr const char* kNoIend = "画像データの後で切れています(IENDチャンクがありません)";
constexpr const char* kNoIendNoTrns =
    "画像データの後で切れています(IENDチャンクがありません)。tRNSチャンクが壊れています(透明色を使わずに読み込"
    "みます)";

// libpng's own blocks (rows, chunk data, tables). A chunk length field can
// claim up to 2 GiB before the data is read; no real block comes near 64 MiB
// (the image itself is allocated outside libpng), so larger requests fail and
// libpng reports them as errors.
constexpr png_alloc_size_t kPngBlockLimit = png_alloc_size_t{64} << 20;

png_voidp PngMalloc(png_structp, png_alloc_size_t size) {
  return size > kPngBlockLimit ? nullptr : std::malloc(size);
}

void PngFree(png_structp, png_voidp block) { std::free(block); }

}  // namespace

void PngReadFromStream(png_structp png, png_bytep data, png_size_t length) {
  auto* record = static_cast<PngReadRecord*>(png_get_io_ptr(png));
  StreamReader* reader = record->reader;
  int64_t pos = reader->ops.tell(reader->handle);
  if (pos >= 0 && record->end - pos < static_cast<int64_t>(length)) record->ran_out = true;
  if (pos < 0 || record->end - pos < static_cast<int64_t>(length) ||
      !StreamReadExact(reader, data, length)) {
    png_error(png, "Read Error");
  }
}

void PngSetStreamSource(png_structp png, PngReadRecord* record, StreamReader* reader) {
  record->reader = reader;
  record->ran_out = false;
  const int64_t pos = reader->ops.tell(reader->handle);
  const int64_t remaining = StreamRemaining(reader);
  record->end = pos + (remaining < 0 ? 0 : remaining);
  png_set_read_fn(png, record, PngReadFromStream);
}

namespace {

// The decode proper, from the signature to the end of the file; any failure
// jumps back to ReadPngImage.
void DecodePng(PngContext* ctx, StreamReader* reader) {
  PngSetStreamSource(ctx->png, &ctx->record, reader);
  png_set_sig_bytes(ctx->png, 0);
  png_read_info(ctx->png, ctx->info);
  png_uint_32 width = 0, height = 0;
  int bit_depth = 0, colour_type = 0, interlace = 0;
  png_get_IHDR(ctx->png, ctx->info, &width, &height, &bit_depth, &colour_type, &interlace, nullptr,
               nullptr);
  // Only palette and RGB pictures take their transparency from tRNS: grey ones
  // keep none anyway, and those with an alpha channel lose nothing when a
  // stray tRNS is refused.
  ctx->trns_dropped = ctx->trns_warned &&
                      (colour_type == PNG_COLOR_TYPE_PALETTE || colour_type == PNG_COLOR_TYPE_RGB) &&
                      !png_get_valid(ctx->png, ctx->info, PNG_INFO_tRNS);
  // Deflate cannot expand data more than 1032 times, so a header whose rows need
  // more than that from what is left of the file cannot be decoded; refusing it
  // here keeps a few bytes of header from claiming a gigabyte of pixels.
  const uint64_t packed_row =
      (static_cast<uint64_t>(width) * bit_depth * png_get_channels(ctx->png, ctx->info) + 7) / 8;
  const int64_t data_left = ctx->record.end - reader->ops.tell(reader->handle);
  if ((packed_row + 1) * height > 1032 * static_cast<uint64_t>(data_left > 0 ? data_left : 0)) {
    png_error(ctx->png, "image data too short");
  }
  png_set_strip_16(ctx->png);
  png_set_packing(ctx->png);
  png_set_packswap(ctx->png);
  bool expanded = false;
  if ((colour_type == PNG_COLOR_TYPE_GRAY && bit_depth <= 8) ||
      png_get_valid(ctx->png, ctx->info, PNG_INFO_tRNS)) {
    png_set_expand(ctx->png);
    expanded = true;
  }
  png_set_bgr(ctx->png);
  if (interlace != PNG_INTERLACE_NONE) png_set_interlace_handling(ctx->png);
  png_read_update_info(ctx->png, ctx->info);
  const png_size_t rowbytes = png_get_rowbytes(ctx->png, ctx->info);
  if (width == 0 || height == 0 || rowbytes == 0) png_error(ctx->png, "no pixels");
  if (rowbytes > 0x7FFFFFFF || static_cast<uint64_t>(rowbytes) * height > kMaxImageBytes) {
    PngGiveUp(ctx, "PNGファイルの画像が大きすぎます\n", kImageTooLarge);
  }
  ctx->width = width;
  ctx->height = height;
  ctx->colour_type = colour_type;
  ctx->expanded = expanded;
  ctx->rowbytes = rowbytes;
  ctx->channels = png_get_channels(ctx->png, ctx->info);

  ctx->rows = static_cast<png_bytep*>(RR_ALLOC(sizeof(png_bytep) * height));
  ctx->pixels = static_cast<uint8_t*>(RR_ALLOC(static_cast<uint64_t>(rowbytes) * height));
  if (!ctx->rows || !ctx->pixels) PngGiveUp(ctx, "PNG画像のメモリ確保に失敗しました\n", -1);
  for (png_uint_32 y = 0; y < height; ++y) ctx->rows[y] = ctx->pixels + static_cast<uint64_t>(y) * rowbytes;
  png_read_image(ctx->png, ctx->rows);
  // The last row's read has checked the image data and its chunk's checksum.
  if (ctx->data_failed) png_error(ctx->png, "image data check failed");
  ctx->rows_done = true;
  png_read_end(ctx->png, nullptr);
}

}  // namespace

int ReadPngImage(StreamReader* reader, BaseImage* image) {
  // Data that does not begin with the signature is not offered to libpng.
  const int64_t start = reader->ops.tell(reader->handle);
  uint8_t signature[8];
  if (!StreamReadExact(reader, signature, sizeof(signature)) ||
      png_sig_cmp(signature, 0, sizeof(signature)) != 0 ||
      reader->ops.seek(reader->handle, start, 0) != 0) {
    return -1;
  }

  PngContext storage{};
  PngContext* const ctx = &storage;
  ctx->failure = kImageDamaged;
  ctx->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, ctx, PngError, PngWarning, nullptr,
                                      PngMalloc, PngFree);
  if (!ctx->png) return -1;
  ctx->info = png_create_info_struct(ctx->png);
  if (!ctx->info) {
    png_destroy_read_struct(&ctx->png, nullptr, nullptr);
    return -1;
  }
  // Past the signature every failure is this file's own: cut short, a
  // failed checksum or check, a damaged stream. A file that ends after its
  // checked image data (without its end chunk) holds every pixel.
  if (setjmp(png_jmpbuf(ctx->png))) {
    if (!(ctx->rows_done && ctx->record.ran_out && !ctx->data_failed)) {
      RR_FREE(ctx->rows);
      RR_FREE(ctx->pixels);
      png_destroy_read_struct(&ctx->png, &ctx->info, nullptr);
      return ctx->failure;
    }
    NoteImageIncomplete(ctx->trns_dropped ? kNoIendNoTrns : kNoIend);
  } else {
    DecodePng(ctx, reader);
    if (ctx->trns_dropped) NoteImageIncomplete(kNoTrns);
  }
  RR_FREE(ctx->rows);
  ctx->rows = nullptr;

  const png_uint_32 width = ctx->width;
  const png_size_t rowbytes = ctx->rowbytes;
  PixelFormatInfo& f = image->format;
  if (ctx->colour_type == PNG_COLOR_TYPE_PALETTE && !ctx->expanded) {
    SetPixelFormatInfoPal8(&f);
    png_colorp palette = nullptr;
    int count = 0;
    if (png_get_PLTE(ctx->png, ctx->info, &palette, &count) == 0) count = 0;
    for (int i = 0; i < 256; ++i) {
      f.palette[i] = i < count ? PaletteEntry{palette[i].blue, palette[i].green, palette[i].red, 0}
                               : PaletteEntry{0, 0, 0, 0};
    }
  } else if (ctx->colour_type == PNG_COLOR_TYPE_RGB || ctx->colour_type == PNG_COLOR_TYPE_RGB_ALPHA ||
             ctx->colour_type == PNG_COLOR_TYPE_PALETTE) {
    if (ctx->channels == 4) {
      SetPixelFormatInfoArgb8(&f);
    } else {
      SetPixelFormatInfoRgb24(&f);
    }
  } else if (rowbytes / 2 >= width) {
    // Grey and alpha: the grey level is kept, the alpha byte goes unused.
    std::memset(&f, 0, sizeof(f));
    f.bit_depth = 16;
    f.bytes_per_pixel = 2;
    f.width_r = f.width_g = f.width_b = 8;
    f.mask_r = f.mask_g = f.mask_b = 0xFF;
    f.unused_mask = 0xFF00;
    f.unused_shift = 8;
    f.unused_width = 8;
  } else {
    SetPixelFormatInfoGray8(&f);
  }
  image->width = static_cast<int32_t>(width);
  image->height = static_cast<int32_t>(ctx->height);
  image->pitch = static_cast<int32_t>(rowbytes);
  image->pixels = ctx->pixels;
  image->mip_count = 0;
  ctx->pixels = nullptr;
  png_destroy_read_struct(&ctx->png, &ctx->info, nullptr);
  return 0;
}
