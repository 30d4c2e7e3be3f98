// DXT block decoding against a reference decoder written here from the block
// layout, and the decompression of whole images.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "lib/core/memory.h"
#include "lib/image/base_image.h"
#include "lib/image/dxt_decode.h"

namespace {

// Reference: every pixel decoded on its own from the 64-bit words of the block.
uint32_t ReferencePixel(int compression, const uint8_t* block, int i) {
  auto word64 = [](const uint8_t* p) {
    uint64_t v = 0;
    for (int k = 7; k >= 0; --k) v = v << 8 | p[k];
    return v;
  };
  const uint8_t* colour = compression == 1 ? block : block + 8;
  uint64_t cw = word64(colour);
  unsigned c[2] = {static_cast<unsigned>(cw & 0xFFFF), static_cast<unsigned>((cw >> 16) & 0xFFFF)};
  unsigned rgb[2][3];
  for (int e = 0; e < 2; ++e) {
    rgb[e][0] = (c[e] >> 11) * 255 / 31;
    rgb[e][1] = ((c[e] >> 5) & 63) * 255 / 63;
    rgb[e][2] = (c[e] & 31) * 255 / 31;
  }
  unsigned index = static_cast<unsigned>((cw >> (32 + 2 * i)) & 3);
  unsigned out[3];
  unsigned alpha = 255;
  bool four = c[0] > c[1] || compression != 1;
  for (int ch = 0; ch < 3; ++ch) {
    unsigned a = rgb[0][ch], b = rgb[1][ch];
    switch (index) {
      case 0: out[ch] = a; break;
      case 1: out[ch] = b; break;
      case 2: out[ch] = four ? (2 * a + b) / 3 : (a + b) / 2; break;
      default: out[ch] = four ? (a + 2 * b) / 3 : (a + b) / 2; break;
    }
  }
  if (!four && index == 3) alpha = 0;
  if (compression == 2 || compression == 3) {
    uint64_t aw = word64(block);
    alpha = static_cast<unsigned>((aw >> (4 * i)) & 15) * 255 / 15;
  } else if (compression == 4 || compression == 5) {
    uint64_t aw = word64(block);
    unsigned a0 = aw & 255, a1 = (aw >> 8) & 255;
    unsigned k = static_cast<unsigned>((aw >> (16 + 3 * i)) & 7);
    if (k == 0) alpha = a0;
    else if (k == 1) alpha = a1;
    else if (a0 > a1) alpha = ((8 - k) * a0 + (k - 1) * a1) / 7;
    else if (k == 6) alpha = 0;
    else if (k == 7) alpha = 255;
    else alpha = ((6 - k) * a0 + (k - 1) * a1) / 5;
  }
  if ((compression == 2 || compression == 4) && alpha > 0) {
    for (unsigned& v : out) v = std::min(255u, v * 255 / alpha);
  }
  return alpha << 24 | out[0] << 16 | out[1] << 8 | out[2];
}

TEST(DxtDecode, RandomBlocksMatchTheReference) {
  std::mt19937 rng(99);
  for (int compression = 1; compression <= 5; ++compression) {
    for (int n = 0; n < 2000; ++n) {
      uint8_t block[16];
      for (uint8_t& b : block) b = static_cast<uint8_t>(rng());
      if (n % 4 == 0) {  // equal or swapped endpoints for the three-colour mode
        block[compression == 1 ? 2 : 10] = block[compression == 1 ? 0 : 8];
        block[compression == 1 ? 3 : 11] = block[compression == 1 ? 1 : 9];
      }
      if (n % 5 == 0) std::swap(block[0], block[1]);
      uint32_t out[16];
      DecodeDxtBlock(compression, block, out);
      for (int i = 0; i < 16; ++i) {
        ASSERT_EQ(out[i], ReferencePixel(compression, block, i))
            << "compression " << compression << " block " << n << " pixel " << i;
      }
    }
  }
}

TEST(DxtDecode, WorkedBlocks) {
  // c0 white, c1 black, indices 0, 1, 2, 3 along each row.
  const uint8_t block[8] = {0xFF, 0xFF, 0x00, 0x00, 0xE4, 0xE4, 0xE4, 0xE4};
  uint32_t out[16];
  DecodeDxtBlock(kCompressionDxt1, block, out);
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(out[row * 4 + 0], 0xFFFFFFFFu);
    EXPECT_EQ(out[row * 4 + 1], 0xFF000000u);
    EXPECT_EQ(out[row * 4 + 2], 0xFFAAAAAAu);
    EXPECT_EQ(out[row * 4 + 3], 0xFF555555u);
  }
  // Equal endpoints: three-colour mode, index 3 transparent.
  const uint8_t same[8] = {0x1F, 0x00, 0x1F, 0x00, 0xFF, 0x00, 0x00, 0x00};
  DecodeDxtBlock(kCompressionDxt1, same, out);
  EXPECT_EQ(out[0], 0x000000FFu);
  EXPECT_EQ(out[4], 0xFF0000FFu);

  // DXT5 alpha a0 = 255, a1 = 0: entries 255, 0, 218, 182, 145, 109, 72, 36,
  // indices 0..7 for pixels 0..7.
  uint8_t b5[16] = {255, 0};
  uint32_t bits = 0;
  for (uint32_t k = 0; k < 8; ++k) bits |= k << (3 * k);
  b5[2] = static_cast<uint8_t>(bits);
  b5[3] = static_cast<uint8_t>(bits >> 8);
  b5[4] = static_cast<uint8_t>(bits >> 16);
  DecodeDxtBlock(kCompressionDxt5, b5, out);
  const uint32_t want[8] = {255, 0, 218, 182, 145, 109, 72, 36};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i] >> 24, want[i]) << i;
}

TEST(DxtDecode, PremultipliedColourIsDivided) {
  // DXT2: alpha nibble 8 (136) on a colour of 68: 68 * 255 / 136 = 127.
  uint8_t block[16] = {};
  std::memset(block, 0x88, 8);
  const uint16_t c = static_cast<uint16_t>((8 << 11) | (16 << 5) | 8);  // about 68 in each
  block[8] = static_cast<uint8_t>(c);
  block[9] = static_cast<uint8_t>(c >> 8);
  block[10] = static_cast<uint8_t>(c);
  block[11] = static_cast<uint8_t>(c >> 8);
  uint32_t out[16];
  DecodeDxtBlock(kCompressionDxt2, block, out);
  unsigned r = 8 * 255 / 31, g = 16 * 255 / 63;
  EXPECT_EQ(out[0] >> 24, 136u);
  EXPECT_EQ((out[0] >> 16) & 255, r * 255 / 136);
  EXPECT_EQ((out[0] >> 8) & 255, g * 255 / 136);
}

TEST(DxtDecode, ImageWithPartialBlocksIsFullyDecoded) {
  // 6 x 5 pixels: 2 x 2 blocks of DXT1, each a solid colour.
  BaseImage image;
  std::memset(&image, 0, sizeof(image));
  SetPixelFormatInfoArgb8(&image.format);
  image.format.compression = kCompressionDxt1;
  image.format.bit_depth = 4;
  image.width = 6;
  image.height = 5;
  image.mip_count = 3;
  image.pixels = static_cast<uint8_t*>(RR_ALLOC(32));
  const uint16_t colours[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
  for (int b = 0; b < 4; ++b) {
    uint8_t* p = image.pixels + b * 8;
    p[0] = p[2] = static_cast<uint8_t>(colours[b]);
    p[1] = p[3] = static_cast<uint8_t>(colours[b] >> 8);
    p[4] = p[5] = p[6] = p[7] = 0;
  }
  ASSERT_EQ(DecompressDxtBaseImage(&image), 0);
  EXPECT_EQ(image.format.compression, 0u);
  EXPECT_EQ(image.pitch, 24);
  EXPECT_EQ(image.format.bit_depth, 32);
  EXPECT_LE(image.mip_count, 1);
  const uint32_t want[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(GetBaseImagePixel(&image, x, y), want[(y / 4) * 2 + x / 4]) << x << "," << y;
  EXPECT_EQ(DecompressDxtBaseImage(&image), 0);  // plain: nothing to do
  FreeBaseImagePixels(&image);
}

}  // namespace
