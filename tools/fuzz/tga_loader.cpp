// libFuzzer target: the TGA loader over a memory stream.
#include "tools/fuzz/image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzImageLoader(ReadTgaImage, data, size);
}
