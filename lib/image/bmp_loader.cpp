// lib/image/bmp_loader.cpp - Windows bitmap files. The common layouts (4-, 8-,
// 24- and 32-bit uncompressed, RLE8, RLE4) are decoded here; every other
// layout is rendered to 24 bits through a DIB section.
#include <algorithm>
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/image/image_load.h"
#include "platform/gdi/dib.h"

namespace {

uint32_t Le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
// The header block: the info header and 256 palette entries (or three masks),
// then four spare bytes.
constexpr size_t kHeaderBlockSize = kInfoHeaderSize + 256 * 4 + 4;

// Whether any pixel of a 32-bit image has a fourth byte other than 0. Most
// writers leave that byte 0, meaning no alpha at all.
bool AnyAlpha(const uint8_t* pixels, uint64_t pitch, int width, int height) {
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = pixels + y * pitch;
    for (int x = 0; x < width; ++x)
      if (row[4 * x + 3] != 0) return true;
  }
  return false;
}

struct BmpBlocks {
  uint8_t* header = nullptr;
  uint8_t* data = nullptr;
  uint8_t* out = nullptr;
  plat::DibSection* section = nullptr;
  ~BmpBlocks() {
    RR_FREE(header);
    RR_FREE(data);
    RR_FREE(out);
    plat::DeleteDibSection(section);
  }
};

// The palette of the header block as image palette entries (fourth byte 0).
void CopyPalette(PixelFormatInfo* f, const uint8_t* header, int entries) {
  for (int i = 0; i < 256; ++i) {
    if (i < entries) {
      const uint8_t* e = header + kInfoHeaderSize + i * 4;
      f->palette[i] = PaletteEntry{e[0], e[1], e[2], 0};
    } else {
      f->palette[i] = PaletteEntry{0, 0, 0, 0};
    }
  }
}

enum class RleResult { kWhole, kCutShort, kPastRow, kDataLeft };

// Run-length decoding into one byte per pixel. Rows are walked from the
// bottom when the image is stored bottom up; a move that leaves the picture
// writes nothing more. kCutShort when the data ends before the picture does
// (no end marker and rows still missing). A run past its row's end (padding
// included), or codes left once every row is done, mean the data is not
// run-length data at all (plain rows whose compression field is wrong, say).
// *marked tells whether the data ended with its end-of-bitmap marker.
RleResult DecodeRle(const uint8_t* data, uint64_t size, bool four_bit, int width, int height,
                    bool bottom_up, uint64_t pitch, uint8_t* out, bool* marked) {
  *marked = false;
  int64_t x = 0;
  int64_t row = 0;  // rows done in walking order
  uint64_t pos = 0;
  // Runs may cover a row's padding, as the stored rows of plain bitmaps
  // hold it (ImageMagick's writer codes it): a row ends at its 4-byte
  // boundary.
  const int64_t row_end = four_bit ? ((static_cast<int64_t>(width) + 1) / 2 + 3) / 4 * 8
                                   : (static_cast<int64_t>(width) + 3) / 4 * 4;
  // Data that ends on the last row's last pixel lacks only its end marker.
  auto cut = [&] { return row < height - 1 || (row == height - 1 && x < width); };
  auto put = [&](uint8_t value) {
    if (x < width && row < height) {
      int64_t y = bottom_up ? height - 1 - row : row;
      out[y * pitch + x] = value;
    }
    ++x;
  };
  while (pos + 2 <= size && row < height) {
    const uint8_t n = data[pos], v = data[pos + 1];
    pos += 2;
    if (n > 0) {
      if (x + n > row_end) return RleResult::kPastRow;
      for (int i = 0; i < n; ++i) put(four_bit ? ((i & 1) ? (v & 15) : (v >> 4)) : v);
      continue;
    }
    if (v == 0) {
      x = 0;
      ++row;
    } else if (v == 1) {
      *marked = true;
      return RleResult::kWhole;
    } else if (v == 2) {
      if (pos + 2 > size) return cut() ? RleResult::kCutShort : RleResult::kWhole;
      x += data[pos];
      row += data[pos + 1];
      pos += 2;
    } else {
      const uint64_t bytes = four_bit ? (v + 1u) / 2 : v;
      if (pos + bytes > size) return RleResult::kCutShort;
      if (x + v > row_end) return RleResult::kPastRow;
      for (int i = 0; i < v; ++i) {
        put(four_bit ? ((i & 1) ? (data[pos + i / 2] & 15) : (data[pos + i / 2] >> 4))
                     : data[pos + i]);
      }
      pos += (bytes + 1) & ~uint64_t{1};  // on to a two-byte boundary
    }
  }
  if (row < height) return cut() ? RleResult::kCutShort : RleResult::kWhole;
  // Every row is done: what may follow is more ends of line and the end
  // marker. Past the marker the picture is whole whatever follows (a profile
  // or appended data); without it, only zeros that pad the file may remain.
  while (pos + 2 <= size && data[pos] == 0 && data[pos + 1] == 0) pos += 2;
  if (pos + 2 <= size && data[pos] == 0 && data[pos + 1] == 1) {
    *marked = true;
    return RleResult::kWhole;
  }
  for (; pos < size; ++pos) {
    if (data[pos] != 0) return RleResult::kDataLeft;
  }
  return RleResult::kWhole;
}

// Compressions of the format that this loader does not decode: JPEG or PNG
// data inside a bitmap, bit fields with alpha, and the CMYK layouts.
bool UnsupportedCompression(uint32_t compression) {
  return compression == 4 || compression == 5 || compression == 6 ||
         (compression >= 11 && compression <= 13);
}

}  // namespace

int ReadBmpImage(StreamReader* reader, BaseImage* image) {
  const int64_t length = StreamRemaining(reader);
  uint8_t fh[kFileHeaderSize];
  if (length < 0 || !StreamReadExact(reader, fh, sizeof(fh)) || fh[0] != 'B' || fh[1] != 'M') {
    return -1;
  }
  const uint64_t data_offset = Le32(fh + 10);
  uint8_t ih[kInfoHeaderSize];
  // From here the file is a bitmap: what is missing or impossible in it is
  // damage, while a layout left to others (a 12-byte header) is not.
  if (!StreamReadExact(reader, ih, sizeof(ih))) return ImageDamaged("BMPファイルのヘッダが途中で切れています\n");
  const uint32_t header_size = Le32(ih);
  const int32_t width = static_cast<int32_t>(Le32(ih + 4));
  const int32_t raw_height = static_cast<int32_t>(Le32(ih + 8));
  const int bits = static_cast<int>(Le16(ih + 14));
  const uint32_t compression = Le32(ih + 16);
  if (header_size < kInfoHeaderSize || header_size > 4096) {
    return WriteImageLogLine("BMPファイルの情報ヘッダが不正です\n");
  }
  if (width <= 0 || width > (1 << 24) || raw_height == 0 || raw_height < -(1 << 24) ||
      raw_height > (1 << 24) || bits == 0 || bits > 32) {
    return ImageDamaged("BMPファイルの画像サイズが不正です\n");
  }
  if (UnsupportedCompression(compression) || (compression == plat::kBiRgb && bits == 2)) {
    return WriteImageLogLine("BMPファイルの形式に対応していません\n");
  }
  if (compression > plat::kBiBitfields) return ImageDamaged("BMPファイルの圧縮形式が不正です\n");
  const bool bottom_up = raw_height > 0;
  const int height = bottom_up ? raw_height : -raw_height;
  const uint64_t palette_start = kFileHeaderSize + header_size;
  if (data_offset > static_cast<uint64_t>(length) || data_offset < kFileHeaderSize + kInfoHeaderSize) {
    return ImageDamaged("BMPファイルのデータ位置が不正です\n");
  }

  BmpBlocks blocks;
  blocks.header = static_cast<uint8_t*>(RR_CALLOC(kHeaderBlockSize));
  if (!blocks.header) return WriteImageLogLine("BMPファイルを読み込むメモリの確保に失敗しました\n");
  std::memcpy(blocks.header, ih, kInfoHeaderSize);
  // The block describes a 40-byte header with its table right after it.
  blocks.header[0] = kInfoHeaderSize;
  blocks.header[1] = blocks.header[2] = blocks.header[3] = 0;
  int palette_entries = 0;
  if (bits <= 8) {
    // The entries that lie between the header and the pixel data, at most 2^bits.
    uint64_t room = data_offset > palette_start ? (data_offset - palette_start) / 4 : 0;
    palette_entries = static_cast<int>(std::min<uint64_t>(room, uint64_t{1} << bits));
    if (palette_entries > 0) {
      if (reader->ops.seek(reader->handle, static_cast<int64_t>(palette_start), 0) != 0 ||
          !StreamReadExact(reader, blocks.header + kInfoHeaderSize,
                           static_cast<uint64_t>(palette_entries) * 4)) {
        return ImageDamaged("BMPファイルのパレットが途中で切れています\n");
      }
    }
  } else if (compression == plat::kBiBitfields) {
    // The three masks follow a 40-byte header, and sit at the same place
    // inside the longer headers. Other layouts have no use for them.
    if (!StreamReadExact(reader, blocks.header + kInfoHeaderSize, 12)) {
      return ImageDamaged("BMPファイルのヘッダが途中で切れています\n");
    }
  }

  if (reader->ops.seek(reader->handle, static_cast<int64_t>(data_offset), 0) != 0) return -1;
  const uint64_t pitch = ((static_cast<uint64_t>(bits) * width + 7) / 8 + 3) / 4 * 4;
  const uint64_t image_size = pitch * height;
  uint64_t data_size = static_cast<uint64_t>(length) - data_offset;
  if (data_size == 0) return ImageDamaged("BMPファイルの画素データがありません\n");
  // Rows stored plain that lack only the last row's padding bytes hold every
  // pixel: the padding is made up as zeros.
  const bool run_length = compression == plat::kBiRle8 || compression == plat::kBiRle4;
  const uint64_t padding = pitch - (static_cast<uint64_t>(bits) * width + 7) / 8;
  const bool unpadded = !run_length && data_size < image_size && image_size - data_size <= padding;
  const uint64_t block_size = unpadded ? image_size : data_size;
  blocks.data = static_cast<uint8_t*>(RR_ALLOC(block_size));
  if (!blocks.data) return WriteImageLogLine("BMPファイルを読み込むメモリの確保に失敗しました\n");
  if (!StreamReadExact(reader, blocks.data, data_size)) return -1;
  if (unpadded) {
    std::memset(blocks.data + data_size, 0, block_size - data_size);
    data_size = block_size;
    NoteImageIncomplete("最後の行の詰め物のバイトが欠けています");
  }

  PixelFormatInfo& f = image->format;
  uint8_t* pixels = nullptr;
  int32_t out_pitch = 0;
  const bool rle8 = compression == plat::kBiRle8 && bits == 8;
  const bool rle4 = compression == plat::kBiRle4 && bits == 4;
  const bool plain = compression == plat::kBiRgb && (bits == 4 || bits == 8 || bits == 24 || bits == 32);
  if (rle8 || rle4 || (plain && bits == 4)) {
    const uint64_t opitch = (static_cast<uint64_t>(width) + 3) / 4 * 4;
    if (plain && image_size > data_size) return ImageDamaged("BMPファイルのデータが足りません\n");
    if (opitch * height > kMaxImageBytes) return ImageTooLarge("BMPファイルの画像が大きすぎます\n");
    blocks.out = static_cast<uint8_t*>(RR_CALLOC(opitch * height));
    if (!blocks.out) return WriteImageLogLine("BMP画像のメモリ確保に失敗しました\n");
    if (plain) {
      for (int y = 0; y < height; ++y) {
        const uint8_t* src = blocks.data + (bottom_up ? height - 1 - y : y) * pitch;
        uint8_t* dst = blocks.out + y * opitch;
        for (int x = 0; x < width; ++x) dst[x] = (x & 1) ? (src[x / 2] & 15) : (src[x / 2] >> 4);
      }
    } else {
      bool marked = false;
      switch (DecodeRle(blocks.data, data_size, rle4, width, height, bottom_up, opitch, blocks.out,
                        &marked)) {
        case RleResult::kWhole:
          break;
        case RleResult::kCutShort:
          return ImageDamaged("BMPファイルの圧縮データが途中で切れています\n");
        case RleResult::kPastRow:
          return ImageDamaged("BMPファイルの圧縮データが行の端を越えています\n");
        case RleResult::kDataLeft:
          return ImageDamaged("BMPファイルの圧縮データが画像の後に残っています\n");
      }
      if (!marked) NoteImageIncomplete("圧縮データの終わりの印が欠けています");
    }
    SetPixelFormatInfoPal8(&f);
    CopyPalette(&f, blocks.header, rle8 ? 256 : 16);
    pixels = blocks.out;
    blocks.out = nullptr;
    out_pitch = static_cast<int32_t>(opitch);
  } else if (plain) {
    if (image_size > data_size) return ImageDamaged("BMPファイルのデータが足りません\n");
    if (image_size > kMaxImageBytes) return ImageTooLarge("BMPファイルの画像が大きすぎます\n");
    if (bottom_up) {
      blocks.out = static_cast<uint8_t*>(RR_ALLOC(image_size));
      if (!blocks.out) return WriteImageLogLine("BMP画像のメモリ確保に失敗しました\n");
      for (int y = 0; y < height; ++y) {
        std::memcpy(blocks.out + y * pitch, blocks.data + (height - 1 - y) * pitch, pitch);
      }
      pixels = blocks.out;
      blocks.out = nullptr;
    } else {
      pixels = blocks.data;
      blocks.data = nullptr;
    }
    out_pitch = static_cast<int32_t>(pitch);
    if (bits == 8) {
      SetPixelFormatInfoPal8(&f);
      CopyPalette(&f, blocks.header, 256);
    } else if (bits == 24) {
      SetPixelFormatInfoRgb24(&f);
    } else if (AnyAlpha(pixels, pitch, width, height)) {
      SetPixelFormatInfoArgb8(&f);
    } else {
      // Fourth bytes all 0: an opaque image, not one that draws invisible.
      SetPixelFormatInfoXrgb8(&f);
    }
  } else {
    // Every other layout goes through a 24-bit DIB section.
    const uint64_t row24 = (static_cast<uint64_t>(width) * 3 + 3) / 4 * 4;
    if (row24 * height > kMaxImageBytes) return ImageTooLarge("BMPファイルの画像が大きすぎます\n");
    blocks.section = plat::CreateDibSection24(width, height);
    if (!blocks.section) return WriteImageLogLine("ＤＩＢの作成に失敗しました3\n");
    int row_bytes = 0, rows = 0;
    uint8_t* section_bits = nullptr;
    plat::GetDibSectionInfo(blocks.section, &row_bytes, &rows, &section_bits);
    if (!section_bits) return WriteImageLogLine("ＤＩＢの作成に失敗しました3\n");
    // What the converter refuses (a compression that does not fit the bit
    // count, too few rows, an impossible bit count) is inconsistent.
    if (plat::SetDibBitsToSection(blocks.section, blocks.header, kHeaderBlockSize, blocks.data,
                                  data_size) != height) {
      return ImageDamaged("BMPファイルを24ビットカラーに変換できませんでした\n");
    }
    RR_FREE(blocks.data);
    blocks.data = nullptr;
    const uint64_t bytes = static_cast<uint64_t>(row_bytes) * rows;
    blocks.out = static_cast<uint8_t*>(RR_ALLOC(bytes));
    if (!blocks.out) {
      return WriteImageLogLine(
          "２４ビットカラー化したグラフィックを格納するメモリ領域の確保に失敗しました\n");
    }
    std::memcpy(blocks.out, section_bits, bytes);
    pixels = blocks.out;
    blocks.out = nullptr;
    out_pitch = row_bytes;
    SetPixelFormatInfoRgb24(&f);
  }
  image->width = width;
  image->height = height;
  image->pitch = out_pitch;
  image->pixels = pixels;
  image->mip_count = 0;
  return 0;
}
