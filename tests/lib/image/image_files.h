// Test image files built in memory: BMP, TGA, DDS and raw BGRA writers, and
// loading through the loader table from a memory stream.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "lib/image/image_load.h"

// jpeglib.h wants size_t and FILE first.
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <png.h>

namespace imgtest {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// Loads through the whole loader table; the image is the caller's to free.
inline int LoadBytes(const Bytes& data, BaseImage* image) {
  StreamReader reader;
  reader.ops = *GetMemoryStreamTable();
  reader.handle = MemoryStreamOpen(data.data(), data.size());
  int result = LoadBaseImageFromStream(&reader, image);
  reader.ops.close(reader.handle);
  return result;
}

// Runs one loader on its own; an image already in the record is freed first.
inline int LoadWith(ImageLoader loader, const Bytes& data, BaseImage* image) {
  StreamReader reader;
  reader.ops = *GetMemoryStreamTable();
  reader.handle = MemoryStreamOpen(data.data(), data.size());
  FreeBaseImagePixels(image);
  int result = loader(&reader, image);
  reader.ops.close(reader.handle);
  return result;
}

struct Rgba {
  int r, g, b, a;
  bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

inline Rgba PixelAt(BaseImage* image, int x, int y) {
  Rgba c{-1, -1, -1, 255};
  GetBaseImagePixelColor(image, x, y, &c.r, &c.g, &c.b, &c.a);
  return c;
}

// A BMP file: rows are given top row first, already packed at `bits` per
// pixel without padding; the writer pads and orders them.
struct BmpSpec {
  int width = 0;
  int height = 0;
  int bits = 24;
  uint32_t compression = 0;
  bool top_down = false;
  uint32_t header_size = 40;
  std::vector<uint32_t> palette;  // 0x00RRGGBB
  uint32_t masks[3] = {0, 0, 0};
  std::vector<Bytes> rows;        // uncompressed rows, top first
  Bytes rle;                      // compressed data as stored
};

inline Bytes MakeBmp(const BmpSpec& s) {
  Bytes table;
  for (uint32_t c : s.palette) Put32(table, c);
  if (s.compression == 3) {
    // In a 40-byte header the masks follow it; longer headers hold them.
    if (s.header_size == 40) {
      for (uint32_t m : s.masks) Put32(table, m);
    }
  }
  Bytes pixels;
  const size_t pitch = ((static_cast<size_t>(s.bits) * s.width + 7) / 8 + 3) / 4 * 4;
  if (!s.rle.empty()) {
    pixels = s.rle;
  } else {
    for (int i = 0; i < s.height; ++i) {
      const Bytes& row = s.rows[s.top_down ? i : s.height - 1 - i];
      Bytes padded(pitch, 0);
      std::memcpy(padded.data(), row.data(), std::min(row.size(), pitch));
      pixels.insert(pixels.end(), padded.begin(), padded.end());
    }
  }
  Bytes header;
  Put32(header, s.header_size);
  Put32(header, static_cast<uint32_t>(s.width));
  Put32(header, static_cast<uint32_t>(s.top_down ? -s.height : s.height));
  Put16(header, 1);
  Put16(header, static_cast<uint32_t>(s.bits));
  Put32(header, s.compression);
  Put32(header, static_cast<uint32_t>(pixels.size()));
  Put32(header, 2835);
  Put32(header, 2835);
  Put32(header, static_cast<uint32_t>(s.palette.size()));
  Put32(header, 0);
  if (s.header_size > 40) {
    for (uint32_t m : s.masks) Put32(header, m);
    while (header.size() < s.header_size) header.push_back(0);
  }
  const uint32_t offset = static_cast<uint32_t>(14 + header.size() + table.size());
  Bytes file{'B', 'M'};
  Put32(file, static_cast<uint32_t>(offset + pixels.size()));
  Put32(file, 0);
  Put32(file, offset);
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), table.begin(), table.end());
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

// A TGA file around the given data (image ID "id", optional footer).
inline Bytes MakeTga(int type, int width, int height, int depth, int descriptor,
                     const Bytes& colour_map, int map_entry_bits, int map_length,
                     const Bytes& data, bool footer, int map_first = 0) {
  Bytes f;
  f.push_back(2);  // ID length
  f.push_back(map_length ? 1 : 0);
  f.push_back(static_cast<uint8_t>(type));
  Put16(f, static_cast<uint32_t>(map_first));
  Put16(f, static_cast<uint32_t>(map_length));
  f.push_back(static_cast<uint8_t>(map_entry_bits));
  Put16(f, 0);
  Put16(f, 0);
  Put16(f, static_cast<uint32_t>(width));
  Put16(f, static_cast<uint32_t>(height));
  f.push_back(static_cast<uint8_t>(depth));
  f.push_back(static_cast<uint8_t>(descriptor));
  f.push_back('i');
  f.push_back('d');
  f.insert(f.end(), colour_map.begin(), colour_map.end());
  f.insert(f.end(), data.begin(), data.end());
  if (footer) {
    Put32(f, 0);
    Put32(f, 0);
    const char sig[] = "TRUEVISION-XFILE.";
    f.insert(f.end(), sig, sig + 18);  // with the terminating NUL
  }
  return f;
}

// A DDS file: the header fields the loader reads, then the data.
inline Bytes MakeDds(uint32_t width, uint32_t height, uint32_t flags, uint32_t pitch,
                     uint32_t mips, uint32_t pf_flags, const char* four_cc, uint32_t code,
                     uint32_t bits, const uint32_t masks[4], uint32_t caps, const Bytes& data,
                     char fourth_magic = ' ') {
  Bytes f{'D', 'D', 'S', static_cast<uint8_t>(fourth_magic)};
  Bytes h(124, 0);
  auto set = [&](int off, uint32_t v) {
    for (int i = 0; i < 4; ++i) h[off + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  set(0, 124);
  set(4, flags);
  set(8, height);
  set(12, width);
  set(16, pitch);
  set(24, mips);
  set(72, 32);
  set(76, pf_flags);
  if (four_cc) {
    std::memcpy(&h[80], four_cc, 4);
  } else {
    set(80, code);
  }
  set(84, bits);
  for (int i = 0; i < 4; ++i) set(88 + 4 * i, masks ? masks[i] : 0);
  set(104, caps);
  f.insert(f.end(), h.begin(), h.end());
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

inline Bytes MakeBgra(uint32_t samples, uint32_t width, uint32_t height, const Bytes& data) {
  Bytes f{'B', 'G', 'R', 'A'};
  Put32(f, samples);
  Put32(f, width);
  Put32(f, height);
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

// ---- PNG and JPEG written with libpng and libjpeg ------------------------------

inline void PngWriteToBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

struct PngSpec {
  int width = 5;
  int height = 4;
  int colour_type = PNG_COLOR_TYPE_RGB;
  int bit_depth = 8;
  bool interlace = false;
  std::vector<png_color> palette;
  Bytes trns;           // alpha per palette entry
  png_color_16 trns_colour{};
  bool has_trns_colour = false;
  int compression_level = -1;  // 0: stored deflate blocks, the rows as they are
};

inline int Channels(int colour_type) {
  switch (colour_type) {
    case PNG_COLOR_TYPE_GRAY: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
  }
}

// Sample value of channel c of pixel (x, y) at the given bit depth.
inline uint32_t Sample(int x, int y, int c, int depth) {
  uint32_t v = static_cast<uint32_t>(x * 97 + y * 61 + c * 45 + x * y * 13);
  if (depth == 16) return (v * 257 + 1234) & 0xFFFF;
  return v & ((1u << depth) - 1);
}

inline Bytes WritePng(const PngSpec& s) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, PngWriteToBytes, nullptr);
  if (s.compression_level >= 0) png_set_compression_level(png, s.compression_level);
  png_set_IHDR(png, info, s.width, s.height, s.bit_depth, s.colour_type,
               s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
  if (!s.trns.empty()) png_set_tRNS(png, info, s.trns.data(), static_cast<int>(s.trns.size()), nullptr);
  if (s.has_trns_colour) png_set_tRNS(png, info, nullptr, 0, const_cast<png_color_16*>(&s.trns_colour));
  png_write_info(png, info);
  const int channels = Channels(s.colour_type);
  const size_t rowbytes = (static_cast<size_t>(s.width) * channels * s.bit_depth + 7) / 8;
  std::vector<Bytes> rows(s.height, Bytes(rowbytes, 0));
  std::vector<png_bytep> pointers;
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      for (int c = 0; c < channels; ++c) {
        uint32_t v = Sample(x, y, c, s.bit_depth);
        if (s.colour_type == PNG_COLOR_TYPE_PALETTE) v %= s.palette.size();
        size_t bit = (static_cast<size_t>(x) * channels + c) * s.bit_depth;
        if (s.bit_depth == 16) {
          rows[y][bit / 8] = static_cast<uint8_t>(v >> 8);
          rows[y][bit / 8 + 1] = static_cast<uint8_t>(v);
        } else {
          rows[y][bit / 8] |= static_cast<uint8_t>(v << (8 - s.bit_depth - bit % 8));
        }
      }
    }
    pointers.push_back(rows[y].data());
  }
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

inline Bytes WriteJpeg(int width, int height, int components, J_COLOR_SPACE space, bool progressive) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = width;
  c.image_height = height;
  c.input_components = components;
  c.in_color_space = space;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  Bytes row(static_cast<size_t>(width) * components);
  while (c.next_scanline < c.image_height) {
    int y = static_cast<int>(c.next_scanline);
    for (int x = 0; x < width; ++x)
      for (int k = 0; k < components; ++k)
        row[x * components + k] = static_cast<uint8_t>((x * 8 + y * 3 + k * 60) & 255);
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  Bytes out(mem, mem + size);
  std::free(mem);
  jpeg_destroy_compress(&c);
  return out;
}

// libjpeg's own decoding with its default output (RGB or grey). Data that
// ends early gets an end marker put in, as the loader's source does.
inline Bytes ReferenceJpeg(const Bytes& file, int* components) {
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  err.emit_message = [](j_common_ptr, int) {};
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file.data(), file.size());
  jpeg_read_header(&d, TRUE);
  jpeg_start_decompress(&d);
  *components = d.output_components;
  Bytes out(static_cast<size_t>(d.output_width) * d.output_height * d.output_components);
  while (d.output_scanline < d.output_height) {
    JSAMPROW p = out.data() + static_cast<size_t>(d.output_scanline) * d.output_width * d.output_components;
    jpeg_read_scanlines(&d, &p, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return out;
}

}  // namespace imgtest
