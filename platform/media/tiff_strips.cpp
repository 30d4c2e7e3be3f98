// platform/media/tiff_strips.cpp - inflates the deflate strips of a TIFF
// file's first picture and counts what comes out. The decoder of the movie
// path takes a strip whose data ends early as whole and fills the rest of its
// rows from whatever its buffer held before.
#include "platform/media/tiff_strips.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

namespace plat {

namespace {

class TiffReader {
 public:
  TiffReader(const uint8_t* data, size_t size, bool little) : data_(data), size_(size), little_(little) {}

  bool Has(uint64_t at, uint64_t bytes) const { return at <= size_ && bytes <= size_ - at; }
  uint32_t U16(uint64_t at) const {
    const uint8_t* p = data_ + at;
    return little_ ? uint32_t(p[0] | p[1] << 8) : uint32_t(p[0] << 8 | p[1]);
  }
  uint32_t U32(uint64_t at) const {
    const uint8_t* p = data_ + at;
    return little_ ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
                   : uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
  }

  // The values of an entry of SHORT or LONG type; false when they lie
  // outside the data or the type is another.
  bool Values(uint64_t entry, std::vector<uint32_t>* out) const {
    const uint32_t type = U16(entry + 2), count = U32(entry + 4);
    const uint32_t width = type == 3 ? 2 : type == 4 ? 4 : 0;
    if (width == 0 || count == 0 || count > (1u << 24)) return false;
    const uint64_t at = uint64_t{count} * width <= 4 ? entry + 8 : U32(entry + 8);
    if (!Has(at, uint64_t{count} * width)) return false;
    out->resize(count);
    for (uint32_t i = 0; i < count; ++i) (*out)[i] = width == 2 ? U16(at + 2 * i) : U32(at + 4 * i);
    return true;
  }

  const uint8_t* data() const { return data_; }

 private:
  const uint8_t* data_;
  size_t size_;
  bool little_;
};

// Inflates the strip and says whether it gives at least `want` bytes.
bool InflatesTo(const uint8_t* strip, uint64_t bytes, uint64_t want) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  uint8_t out[65536];
  uint64_t got = 0;
  const uint8_t* in = strip;
  uint64_t left = bytes;
  int r = Z_OK;
  while (got < want && r == Z_OK) {
    if (z.avail_in == 0 && left > 0) {
      const uint32_t feed = static_cast<uint32_t>(std::min<uint64_t>(left, 1u << 30));
      z.next_in = const_cast<Bytef*>(in);
      z.avail_in = feed;
      in += feed;
      left -= feed;
    }
    z.next_out = out;
    z.avail_out = sizeof out;
    r = inflate(&z, Z_NO_FLUSH);
    got += sizeof out - z.avail_out;
    // Input used up with nothing more to come: the stream ends early.
    if (r == Z_BUF_ERROR || (r == Z_OK && z.avail_in == 0 && left == 0 && z.avail_out != 0)) break;
  }
  inflateEnd(&z);
  return got >= want;
}

}  // namespace

bool TiffDeflateStripsWhole(const uint8_t* data, size_t size) {
  if (data == nullptr || size < 8) return true;
  const bool little = data[0] == 'I' && data[1] == 'I';
  if (!little && !(data[0] == 'M' && data[1] == 'M')) return true;
  const TiffReader f(data, size, little);
  if (f.U16(2) != 42) return true;  // BigTIFF and others: the decoder's to judge
  const uint64_t ifd = f.U32(4);
  if (!f.Has(ifd, 2)) return true;
  const uint32_t entries = f.U16(ifd);
  if (!f.Has(ifd + 2, uint64_t{entries} * 12)) return true;

  uint32_t width = 0, height = 0, compression = 1, samples = 1, rows_per_strip = 0xFFFFFFFF, planar = 1;
  uint32_t photometric = 0;
  std::vector<uint32_t> bits{1}, offsets, counts, v;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint64_t e = ifd + 2 + uint64_t{i} * 12;
    const uint32_t tag = f.U16(e);
    if (tag >= 322 && tag <= 325) return true;  // tiles
    std::vector<uint32_t>* into = tag == 258 ? &bits : tag == 273 ? &offsets : tag == 279 ? &counts : &v;
    if (tag != 258 && tag != 273 && tag != 279 && tag != 256 && tag != 257 && tag != 259 && tag != 262 &&
        tag != 277 && tag != 278 && tag != 284) {
      continue;
    }
    if (!f.Values(e, into)) return true;
    if (tag == 256) width = v[0];
    if (tag == 257) height = v[0];
    if (tag == 259) compression = v[0];
    if (tag == 262) photometric = v[0];
    if (tag == 277) samples = v[0];
    if (tag == 278) rows_per_strip = v[0];
    if (tag == 284) planar = v[0];
  }
  if (compression != 8 && compression != 32946) return true;
  if (photometric == 6) return true;  // colour that may be subsampled
  if (width == 0 || height == 0 || samples == 0 || samples > 16 || offsets.empty() ||
      offsets.size() != counts.size()) {
    return true;
  }
  // The bits a strip row holds for each pixel: every sample's, or one
  // sample's when the samples lie in planes of their own.
  uint64_t pixel_bits = 0;
  for (uint32_t i = 0; i < samples; ++i) pixel_bits += bits[std::min<size_t>(i, bits.size() - 1)];
  if (planar == 2) pixel_bits = bits[0];
  const uint64_t row_bytes = (uint64_t{width} * pixel_bits + 7) / 8;
  const uint64_t rows = std::min<uint64_t>(rows_per_strip == 0 ? height : rows_per_strip, height);
  const uint64_t strips_per_plane = (uint64_t{height} + rows - 1) / rows;
  for (size_t i = 0; i < offsets.size(); ++i) {
    const uint64_t first_row = (i % strips_per_plane) * rows;
    if (first_row >= height) continue;
    const uint64_t want = std::min<uint64_t>(rows, height - first_row) * row_bytes;
    if (!f.Has(offsets[i], counts[i])) return false;
    if (!InflatesTo(f.data() + offsets[i], counts[i], want)) return false;
  }
  return true;
}

}  // namespace plat
