// Fuzz target: text layout on arbitrary bytes (stray lead bytes, lead bytes
// at the end, any code), in every font type with and without edges, drawn
// into a small image partly outside its clip rectangle; the pen must match
// the measured width and no write may leave the image.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lib/graphics/font.h"
#include "lib/graphics/graphics_device.h"

namespace {

int FontFor(int type, int edge, int large) {
  static int fonts[4][4][2];
  static bool made = false;
  if (!made) {
    Screen().colour_bits = 32;
    ResetFontSystem();
    for (auto& a : fonts)
      for (auto& b : a)
        for (int& h : b) h = -1;
    made = true;
  }
  int& h = fonts[type][edge][large];
  if (h == -1) h = CreateFontToHandle(nullptr, large ? 64 : 16, 4, type, -1, edge == 0 ? -1 : edge, 0, -1, -1);
  return h;
}

}  // namespace

// Every font the inputs can pick is made before the first input, so that
// the blocks the fonts keep are not counted against it.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (int type = 0; type < 4; ++type)
    for (int edge = 0; edge < 4; ++edge)
      for (int large = 0; large < 2; ++large) FontFor(type, edge, large);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int type = data[0] & 3;
  const int edge = (data[0] >> 2) & 3;
  const int large = (data[0] >> 4) & 1;
  const int depth = (data[0] & 0x20) ? 16 : 32;
  const int x = static_cast<int8_t>(data[1]);
  const int y = static_cast<int8_t>(data[2]);
  const std::string text(reinterpret_cast<const char*>(data + 3), size - 3);  // stops at a 0 byte
  const int font = FontFor(type, edge, large);
  if (font < 0) __builtin_trap();

  Screen().colour_bits = depth;
  const int bits = (depth == 16 && type < 2) ? 16 : 32;
  const int w = 96, h = 48;
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * bits / 8 + 64, 0);
  const std::vector<uint8_t> guard(pixels.end() - 64, pixels.end());
  TextDrawTarget target = {pixels.data(), w * bits / 8, w, h, bits};
  const TextClipRect clip = {-20, -20, 200, 30};  // partly outside the image
  int measured[2] = {0, 0};
  const int width = FontTextCacheBuild(0, x, y, text.c_str(), 0, nullptr, nullptr, 1, font, 0, -1, 0, measured);
  const int pen = FontTextCacheBuild(1, x, y, text.c_str(), 0xFFFFFF, &target, &clip, 1, font, 0x102030, -1, 0,
                                     nullptr);
  if (width != pen || width != measured[0] || width < 0) __builtin_trap();
  if (!std::equal(guard.begin(), guard.end(), pixels.end() - 64)) __builtin_trap();

  // Byte kinds agree with a walk of the same string.
  const int index = data[1] % (text.size() + 1);
  const int kind = GetByteKindInString(text.c_str(), index, 1);
  if (index >= static_cast<int>(std::strlen(text.c_str())) && kind != -1) __builtin_trap();
  return 0;
}
