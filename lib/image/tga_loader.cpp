// lib/image/tga_loader.cpp - TGA files: colour-mapped and true colour, raw or
// run-length encoded, 16, 24 or 32 bits, turned into top-down rows.
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/image/image_load.h"

namespace {

constexpr int kFooterSize = 26;
constexpr int kMaxSide = 8192;

uint32_t Le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }

// Owns the blocks of one load; whatever is still held is freed on return.
struct TgaBlocks {
  uint8_t* pixels = nullptr;
  uint8_t* palette = nullptr;
  uint8_t* data = nullptr;
  uint8_t* turned = nullptr;
  ~TgaBlocks() {
    RR_FREE(pixels);
    RR_FREE(palette);
    RR_FREE(data);
    RR_FREE(turned);
  }
};

enum class PacketResult { kWhole, kCutShort, kPastPicture };

// Decodes run-length packets of units of unit_bytes from data into count units
// of out; each unit goes through emit. A packet that runs past the picture's
// last pixel means the counts are wrong, so the pixels before it may be too.
template <typename Emit>
PacketResult DecodePackets(const uint8_t* data, uint64_t size, uint64_t count, int unit_bytes, Emit emit) {
  uint64_t pos = 0, written = 0;
  while (written < count) {
    if (pos >= size) return PacketResult::kCutShort;
    const uint8_t h = data[pos++];
    const uint64_t n = (h & 0x7F) + 1;
    if (n > count - written) return PacketResult::kPastPicture;
    if (h & 0x80) {
      if (size - pos < static_cast<uint64_t>(unit_bytes)) return PacketResult::kCutShort;
      for (uint64_t i = 0; i < n; ++i) emit(written++, data + pos);
      pos += unit_bytes;
    } else {
      if ((size - pos) / unit_bytes < n) return PacketResult::kCutShort;
      for (uint64_t i = 0; i < n; ++i, pos += unit_bytes) emit(written++, data + pos);
    }
  }
  return PacketResult::kWhole;
}

int PacketDamage(PacketResult result) {
  return result == PacketResult::kPastPicture
             ? ImageDamaged("TGAファイルの圧縮データが画像の外まで続いています\n")
             : ImageDamaged("TGAファイルのデータが足りません\n");
}

}  // namespace

int ReadTgaImage(StreamReader* reader, BaseImage* image) {
  // A footer counts when its signature matches and it names no extension area.
  bool footer = false;
  const int64_t length = StreamRemaining(reader);
  if (length < 18) return -1;
  if (length >= 18 + kFooterSize) {
    uint8_t tail[kFooterSize];
    if (reader->ops.seek(reader->handle, -kFooterSize, 2) == 0 &&
        StreamReadExact(reader, tail, sizeof(tail))) {
      footer = std::memcmp(tail + 8, "TRUEVISION-XFILE", 16) == 0 &&
               tail[0] == 0 && tail[1] == 0 && tail[2] == 0 && tail[3] == 0;
    }
  }
  if (reader->ops.seek(reader->handle, 0, 0) != 0) return -1;

  uint8_t h[18];
  if (!StreamReadExact(reader, h, sizeof(h))) return -1;
  const int id_length = h[0], map_type = h[1], type = h[2];
  const uint32_t map_first = Le16(h + 3), map_length = Le16(h + 5);
  const int map_entry_bits = h[7];
  const uint32_t x_origin = Le16(h + 8), y_origin = Le16(h + 10);
  const int width = static_cast<int>(Le16(h + 12)), height = static_cast<int>(Le16(h + 14));
  const int depth = h[16], descriptor = h[17];
  if (type != 1 && type != 2 && type != 9 && type != 10) return -1;
  if (x_origin != 0 || y_origin != 0) return -1;
  if (width > kMaxSide || height > kMaxSide || width == 0 || height == 0) return -1;
  const bool mapped = type == 1 || type == 9;
  const int pixel_bits = mapped ? map_entry_bits : depth;
  if (pixel_bits != 16 && pixel_bits != 24 && pixel_bits != 32) return -1;
  // Indices are one byte each.
  if (mapped && (depth != 8 || map_type != 1 || map_first + map_length > 256)) {
    return WriteImageLogLine("TGAファイルのカラーマップが不正です\n");
  }

  const int bpp = pixel_bits / 8;
  const uint64_t pitch = static_cast<uint64_t>(width) * bpp;
  const uint64_t pixel_count = static_cast<uint64_t>(width) * height;
  const uint64_t size = pitch * height;

  // A header that passed the checks above is taken for a TGA file: data
  // missing behind it is damage, not another format.
  // Skip the image ID and, for true-colour images, a colour map they declare.
  uint64_t skip = id_length;
  if (!mapped && map_type != 0) skip += (static_cast<uint64_t>(map_length) * map_entry_bits + 7) / 8;
  if (18 + skip > static_cast<uint64_t>(length)) return ImageDamaged("TGAファイルのデータが足りません\n");
  if (reader->ops.seek(reader->handle, static_cast<int64_t>(18 + skip), 0) != 0) return -1;
  int64_t remaining = StreamRemaining(reader);
  if (remaining < 0) return -1;

  TgaBlocks blocks;
  blocks.pixels = static_cast<uint8_t*>(RR_ALLOC(size));
  if (!blocks.pixels) return WriteImageLogLine("TGA画像のメモリ確保に失敗しました\n");

  if (mapped) {
    blocks.palette = static_cast<uint8_t*>(RR_CALLOC(256 * static_cast<size_t>(bpp)));
    if (!blocks.palette) return -1;
    if (!StreamReadExact(reader, blocks.palette + map_first * bpp,
                         static_cast<uint64_t>(map_length) * bpp)) {
      return ImageDamaged("TGAファイルのカラーマップが途中で切れています\n");
    }
    remaining = StreamRemaining(reader);
    if (remaining < 0) return -1;
    uint64_t data_size = static_cast<uint64_t>(remaining);
    if (type == 1) {
      data_size = pixel_count;
    } else if (footer && data_size >= kFooterSize) {
      data_size -= kFooterSize;
    }
    if (data_size > static_cast<uint64_t>(remaining)) return ImageDamaged("TGAファイルのデータが足りません\n");
    blocks.data = static_cast<uint8_t*>(RR_ALLOC(data_size ? data_size : 1));
    if (!blocks.data || !StreamReadExact(reader, blocks.data, data_size)) return -1;
    auto emit = [&](uint64_t i, const uint8_t* index) {
      std::memcpy(blocks.pixels + i * bpp, blocks.palette + *index * bpp, bpp);
    };
    if (type == 1) {
      for (uint64_t i = 0; i < pixel_count; ++i) emit(i, blocks.data + i);
    } else if (const PacketResult r = DecodePackets(blocks.data, data_size, pixel_count, 1, emit);
               r != PacketResult::kWhole) {
      return PacketDamage(r);
    }
  } else if (type == 2) {
    if (static_cast<uint64_t>(remaining) < size || !StreamReadExact(reader, blocks.pixels, size)) {
      return ImageDamaged("TGAファイルのデータが足りません\n");
    }
  } else {
    uint64_t data_size = static_cast<uint64_t>(remaining);
    if (footer && data_size >= kFooterSize) data_size -= kFooterSize;
    blocks.data = static_cast<uint8_t*>(RR_ALLOC(data_size ? data_size : 1));
    if (!blocks.data || !StreamReadExact(reader, blocks.data, data_size)) return -1;
    auto emit = [&](uint64_t i, const uint8_t* px) {
      std::memcpy(blocks.pixels + i * bpp, px, bpp);
    };
    if (const PacketResult r = DecodePackets(blocks.data, data_size, pixel_count, bpp, emit);
        r != PacketResult::kWhole) {
      return PacketDamage(r);
    }
  }

  // Stored rows run bottom to top unless bit 5 is set, and right to left when
  // bit 4 is set.
  const bool bottom_up = !(descriptor & 0x20);
  const bool right_to_left = (descriptor & 0x10) != 0;
  if (bottom_up || right_to_left) {
    blocks.turned = static_cast<uint8_t*>(RR_ALLOC(size));
    if (!blocks.turned) return WriteImageLogLine("TGA画像のメモリ確保に失敗しました\n");
    for (int r = 0; r < height; ++r) {
      const uint8_t* src = blocks.pixels + r * pitch;
      uint8_t* dst = blocks.turned + (bottom_up ? height - 1 - r : r) * pitch;
      if (!right_to_left) {
        std::memcpy(dst, src, pitch);
      } else {
        for (int c = 0; c < width; ++c) std::memcpy(dst + (width - 1 - c) * bpp, src + c * bpp, bpp);
      }
    }
    RR_FREE(blocks.pixels);
    blocks.pixels = blocks.turned;
    blocks.turned = nullptr;
  }

  PixelFormatInfo& f = image->format;
  if (pixel_bits == 16) {
    CreatePixelFormatInfoFromMasks(&f, 16, 0x7C00, 0x03E0, 0x001F, 0);
  } else if (pixel_bits == 24) {
    SetPixelFormatInfoRgb24(&f);
  } else {
    SetPixelFormatInfoArgb8(&f);
  }
  image->width = width;
  image->height = height;
  image->pitch = static_cast<int32_t>(pitch);
  image->pixels = blocks.pixels;
  image->mip_count = 0;
  blocks.pixels = nullptr;
  return 0;
}
