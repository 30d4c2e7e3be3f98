// tools/fuzz/image_fuzz.h - the body every image-loader fuzz target shares: the
// loader runs over a memory stream, and a decoded image's pixel block is read
// (and DXT data decompressed) so that a size mismatch shows. A small block is
// read whole; of a large one, a spread of bytes and its last byte, so that a
// legal huge image does not spend seconds here and hide the slow paths of
// the loaders themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/image/dxt_decode.h"
#include "lib/image/image_load.h"

using ImageLoaderFn = int (*)(StreamReader* reader, BaseImage* image);

inline int FuzzImageLoader(ImageLoaderFn loader, const uint8_t* data, size_t size) {
  StreamReader reader;
  reader.ops = *GetMemoryStreamTable();
  reader.handle = MemoryStreamOpen(data, size);
  if (!reader.handle) return 0;
  BaseImage image;
  std::memset(&image, 0, sizeof(image));
  if (loader(&reader, &image) == 0) {
    volatile uint8_t sum = 0;
    const uint64_t bytes = GetBaseImageDataSize(&image);
    constexpr uint64_t kWholeUpTo = uint64_t{1} << 20;
    constexpr uint64_t kSamples = 65536;
    const uint64_t step = bytes <= kWholeUpTo ? 1 : bytes / kSamples;
    for (uint64_t i = 0; i < bytes; i += step) sum = static_cast<uint8_t>(sum + image.pixels[i]);
    if (bytes > 0) sum = static_cast<uint8_t>(sum + image.pixels[bytes - 1]);
    if (DecompressDxtBaseImage(&image) == 0 && image.width > 0 && image.height > 0) {
      sum = static_cast<uint8_t>(sum + GetBaseImagePixel(&image, image.width - 1, image.height - 1));
    }
    FreeBaseImagePixels(&image);
  }
  reader.ops.close(reader.handle);
  return 0;
}
