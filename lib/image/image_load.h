// lib/image/image_load.h - turning image files (or image files held in
// memory) into base images: the stream reader every loader reads through, the
// loader table, the common load with its after-treatment, the alpha image and
// the DIB form of a base image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/core/stream.h"
#include "lib/image/base_image.h"

// The six stream operations followed by the stream handle, built on the
// caller's stack.
struct StreamReader {
  StreamTable ops;
  StreamHandle handle;
};

using ImageLoader = int (*)(StreamReader* reader, BaseImage* image);
// A loader's answer for a file that carries its format's signature but cannot
// be decoded whole: the walk stops there instead of offering the file to the
// others, so that nothing else (the movie path above all) makes part of a
// picture out of it.
constexpr int kImageDamaged = -2;
// Writes a loader's log line (a text ending in a line feed), naming the file
// when the load is of a file; returns -1.
int WriteImageLogLine(const char* line);
// Writes the log line that says what is wrong and gives kImageDamaged.
int ImageDamaged(const char* line);
// A loader's answer for a picture of its format whose pixels would pass
// kMaxImageBytes: the walk stops there too, as no other decoder (the movie
// path's least of all) may take it either, and the load says too large.
constexpr int kImageTooLarge = -3;
// Writes the loader's log line and gives kImageTooLarge.
int ImageTooLarge(const char* line);
// A loader that takes a file lacking only what its format lets a reader do
// without (an end marker, the last row's padding bytes), or cut short where
// its format says what fills the rest, notes what is missing here and
// returns 0; the common load then names the file and what is missing in one
// log line. The note belongs to the calling thread and is cleared before
// each loader runs.
void NoteImageIncomplete(const char* what);
// The note of the last load on this thread that succeeded (null when it
// was whole).
const char* ImageIncompleteNote();
// Null-terminated, in the order BMP, JPEG, PNG, raw BGRA, TGA, DDS.
extern const ImageLoader ImageLoaderTable[];

// The loaders: 0 with the image filled, -1 for data of another format, a
// layout of theirs they leave to others, or out of memory (each with its own
// log line), kImageTooLarge for a picture of theirs too large to hold,
// kImageDamaged for data of their own format that is damaged, or cut short
// where the format does not say what fills the rest.
int ReadBmpImage(StreamReader* reader, BaseImage* image);
int ReadJpegImage(StreamReader* reader, BaseImage* image);
int ReadPngImage(StreamReader* reader, BaseImage* image);
int ReadBgraImage(StreamReader* reader, BaseImage* image);
int ReadTgaImage(StreamReader* reader, BaseImage* image);
int ReadDdsImage(StreamReader* reader, BaseImage* image);

// Offers the stream (from offset 0) to each loader in turn: 0, -1 when none
// took it, kImageDamaged or kImageTooLarge when one found its format damaged
// or its picture too large.
int LoadBaseImageFromStream(StreamReader* reader, BaseImage* image);

// The common load. With want_dib the result is a DIB instead: *dib_info gets a
// 1068-byte block (40-byte header, 256 palette entries, 4 spare bytes) and
// *dib_pixels the top-down rows, both the caller's to free with TrackedFree.
// 0, -1, kImageDamaged or kImageTooLarge (each of these two with a log line
// naming a file; too large also sets errno to EFBIG, which callers that
// explain a failed load read). A file that loads with something missing
// gets a log line naming it and what is missing.
int LoadBaseImageCore(const char* file_name, const void* mem_data, size_t mem_size,
                      int from_memory, int want_dib, int mirror, BaseImage* image,
                      void** dib_info, void** dib_pixels);
// Loads an image and its alpha image (alpha_mode 0: the "_a" file beside it,
// 1: from alpha_data). -1 when the main image fails, kImageDamaged or
// kImageTooLarge (nothing kept) when it is damaged or too large, 0 when both
// loaded, 1 when the main image loaded and the alpha image did not (none
// there, or damaged or too large: a log line names it).
int LoadBaseImageFile(const char* file_name, const void* mem_data, size_t mem_size,
                      int from_memory, const void* alpha_data, size_t alpha_size, int alpha_mode,
                      BaseImage* image, BaseImage* alpha_image, int mirror);
int LoadBaseImageNoAlpha(const char* file_name, const void* mem_data, size_t mem_size,
                         int from_memory, BaseImage* image, int mirror);
// "dir/name.png" gives "dir/name_a.png". destination holds at least
// strlen(source) + 3 bytes.
int MakeAlphaImageFileName(const char* source, char* destination);
// Fills info (1068 bytes) and returns the rows in DIB form in *pixels:
// 0 when the image's own pixel block serves, 1 when a converted copy was
// made (the caller frees it), -1 on failure.
int ConvertBaseImageToDib(const BaseImage* image, void* info, void** pixels, int force_copy,
                          int no_palette);

// ---- Helpers shared by the loaders --------------------------------------------

// Largest pixel block a loader makes (1 GiB): larger claims are refused as bad
// headers before anything is allocated.
constexpr uint64_t kMaxImageBytes = uint64_t{1} << 30;
// Largest side of a movie frame (the largest texture side devices offer).
constexpr int64_t kMaxFrameSide = 16384;
// True when a width x height frame has sides from 1 to kMaxFrameSide and
// its 32-bit pixels keep within kMaxImageBytes: movie players refuse larger
// headers before they ask for any frame memory.
constexpr bool FrameSizeAllowed(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= kMaxFrameSide && height <= kMaxFrameSide &&
         uint64_t(width) * uint64_t(height) * 4 <= kMaxImageBytes;
}

// Bytes from the current position to the end; the position is kept. -1 when
// the stream cannot seek.
int64_t StreamRemaining(StreamReader* reader);
// Reads exactly count bytes; false (and a partial buffer) otherwise.
bool StreamReadExact(StreamReader* reader, void* buffer, uint64_t count);
