// lib/core/pack_lz.cpp - decoder and encoder of the library's LZ format.
#include "lib/core/pack_lz.h"

#include <algorithm>
#include <cstring>

#include "lib/core/pack_lz_stream.h"

namespace {

uint32_t Load32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void Store32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }

// The plain decoder: literal runs found with memchr, references copied as
// exact byte counts. It decodes a whole stream, and finishes the fast
// decoder's work near the ends of the buffers. False when the stream is
// corrupt; the output must be filled exactly.
bool DecodePlain(Cursor c, const unsigned char* in_end, unsigned char* out_start, unsigned char* out_end,
                 unsigned char escape) {
  const unsigned char* in = c.in;
  unsigned char* out = c.out;
  while (in < in_end) {
    if (*in != escape) {
      // A run of literals up to the next escape.
      const void* next = std::memchr(in, escape, static_cast<size_t>(in_end - in));
      const unsigned char* run_end = next ? static_cast<const unsigned char*>(next) : in_end;
      size_t n = static_cast<size_t>(run_end - in);
      if (n > static_cast<size_t>(out_end - out)) return false;
      std::memcpy(out, in, n);
      out += n;
      in = run_end;
      continue;
    }
    if (in_end - in < 2) return false;
    if (in[1] == escape) {
      if (out == out_end) return false;
      *out++ = escape;
      in += 2;
      continue;
    }
    size_t length, distance;
    if (!ReadReference(in, in_end, escape, &length, &distance, &in)) return false;
    if (distance > static_cast<size_t>(out - out_start)) return false;
    if (length > static_cast<size_t>(out_end - out)) return false;
    out = CopyReference(out, distance, length);
  }
  return out == out_end;
}

bool DecodeStream(const unsigned char* in, size_t in_size, unsigned char* out, size_t out_size,
                  unsigned char escape, bool plain) {
  static const bool vector =
      __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt");
  if (plain || !vector) return DecodePlain(Cursor{in, out}, in + in_size, out, out + out_size, escape);
  Cursor c = DecodeVector(in, in_size, out, out_size, escape);
  if (!c.in) return false;
  return DecodePlain(c, in + in_size, out, out + out_size, escape);
}

}  // namespace

int ReadPackHeader(const void* block, size_t block_size, uint32_t* decoded_size,
                   uint32_t* encoded_size, unsigned char* escape) {
  if (!block || block_size < kPackHeaderSize) return -1;
  auto* p = static_cast<const unsigned char*>(block);
  if (decoded_size) *decoded_size = Load32(p);
  if (encoded_size) *encoded_size = Load32(p + 4);
  if (escape) *escape = p[8];
  return 0;
}

int64_t DecodePackData(const void* block, void* destination) {
  if (!block) return -1;
  auto* p = static_cast<const unsigned char*>(block);
  uint32_t decoded = Load32(p);
  uint32_t encoded = Load32(p + 4);
  if (!destination || encoded == kPackHeaderSize) return decoded;
  if (encoded < kPackHeaderSize) return -1;
  if (!DecodeStream(p + kPackHeaderSize, encoded - kPackHeaderSize,
                    static_cast<unsigned char*>(destination), decoded, p[8], false)) {
    return -1;
  }
  return decoded;
}

namespace {

int64_t DecodeChecked(const void* block, size_t block_size, void* destination, size_t destination_size,
                      bool plain) {
  uint32_t decoded, encoded;
  unsigned char escape;
  if (ReadPackHeader(block, block_size, &decoded, &encoded, &escape) != 0) return -1;
  if (!destination) return decoded;
  if (encoded < kPackHeaderSize || encoded > block_size || decoded > destination_size) return -1;
  if (encoded == kPackHeaderSize) return decoded;
  auto* p = static_cast<const unsigned char*>(block);
  if (!DecodeStream(p + kPackHeaderSize, encoded - kPackHeaderSize,
                    static_cast<unsigned char*>(destination), decoded, escape, plain)) {
    return -1;
  }
  return decoded;
}

}  // namespace

int64_t DecodePackDataChecked(const void* block, size_t block_size, void* destination,
                              size_t destination_size) {
  return DecodeChecked(block, block_size, destination, destination_size, false);
}

int64_t DecodePackDataPlainChecked(const void* block, size_t block_size, void* destination,
                                   size_t destination_size) {
  return DecodeChecked(block, block_size, destination, destination_size, true);
}

namespace {

constexpr int kMaxHashBits = 16;
constexpr size_t kWindow = 1u << 22;  // distances the encoder looks back
constexpr int kChainDepth = 48;

size_t DistanceBytes(size_t distance) {
  size_t v = distance - 1;
  return v < 0x100 ? 1 : v < 0x10000 ? 2 : 3;
}

size_t ReferenceCost(size_t length, size_t distance) {
  return 2 + (length - 4 >= 32 ? 1 : 0) + DistanceBytes(distance);
}

class Encoder {
 public:
  Encoder(const unsigned char* data, size_t size) : data_(data), size_(size) {}

  std::vector<unsigned char> Run() {
    size_t counts[256] = {};
    for (size_t i = 0; i < size_; ++i) ++counts[data_[i]];
    escape_ = 0;
    for (int b = 1; b < 256; ++b) {
      if (counts[b] < counts[escape_]) escape_ = static_cast<unsigned char>(b);
    }
    out_.reserve(size_ + size_ / 64 + 16);
    out_.resize(kPackHeaderSize);
    // Small inputs get a small hash table, so packing many small files stays cheap.
    hash_bits_ = 10;
    while (hash_bits_ < kMaxHashBits && (size_t{1} << hash_bits_) < size_) ++hash_bits_;
    head_.assign(size_t{1} << hash_bits_, kEmpty);
    chain_.assign(std::min(size_, kWindow), kEmpty);

    size_t i = 0;
    while (i < size_) {
      size_t best_length = 0, best_distance = 0;
      if (size_ - i >= 4) {
        FindMatch(i, &best_length, &best_distance);
      }
      if (best_length >= 4 && ReferenceCost(best_length, best_distance) < LiteralCost(i, best_length)) {
        EmitReference(best_length, best_distance);
        for (size_t k = 0; k < best_length; ++k) Insert(i + k);
        i += best_length;
      } else {
        EmitLiteral(data_[i]);
        Insert(i);
        ++i;
      }
    }
    Store32(out_.data(), static_cast<uint32_t>(size_));
    Store32(out_.data() + 4, static_cast<uint32_t>(out_.size()));
    out_[8] = escape_;
    return std::move(out_);
  }

 private:
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;

  uint32_t Hash4(const unsigned char* p) const { return (Load32(p) * 2654435761u) >> (32 - hash_bits_); }

  size_t LiteralCost(size_t at, size_t length) const {
    size_t cost = length;
    for (size_t k = 0; k < length; ++k) cost += data_[at + k] == escape_;
    return cost;
  }

  void Insert(size_t at) {
    if (size_ - at < 4) return;
    uint32_t h = Hash4(data_ + at);
    chain_[at % chain_.size()] = head_[h];
    head_[h] = static_cast<uint32_t>(at);
  }

  void FindMatch(size_t at, size_t* best_length, size_t* best_distance) const {
    size_t limit = std::min(size_ - at, kPackMaxMatch);
    uint32_t candidate = head_[Hash4(data_ + at)];
    for (int depth = 0; depth < kChainDepth && candidate != kEmpty; ++depth) {
      size_t from = candidate;
      if (from >= at || at - from > std::min(kWindow, kPackMaxDistance)) break;
      if (data_[from + *best_length] == data_[at + *best_length] || *best_length == 0) {
        size_t n = 0;
        while (n < limit && data_[from + n] == data_[at + n]) ++n;
        if (n > *best_length) {
          *best_length = n;
          *best_distance = at - from;
          if (n == limit) break;
        }
      }
      uint32_t next = chain_[from % chain_.size()];
      if (next != kEmpty && next >= from) break;  // the ring slot was reused
      candidate = next;
    }
  }

  void EmitLiteral(unsigned char b) {
    out_.push_back(b);
    if (b == escape_) out_.push_back(b);
  }

  void EmitReference(size_t length, size_t distance) {
    size_t l = length - 4;
    size_t v = distance - 1;
    unsigned int form = v < 0x100 ? 0 : v < 0x10000 ? 1 : 2;
    unsigned int code;
    bool extended = l >= 32;
    code = static_cast<unsigned int>(((l & 31) << 3) | (extended ? 4 : 0) | form);
    // The escape value itself never serves as a code: codes from it upwards
    // are written one higher.
    out_.push_back(escape_);
    out_.push_back(static_cast<unsigned char>(code < escape_ ? code : code + 1));
    if (extended) out_.push_back(static_cast<unsigned char>(l >> 5));
    out_.push_back(static_cast<unsigned char>(v));
    if (form >= 1) out_.push_back(static_cast<unsigned char>(v >> 8));
    if (form == 2) out_.push_back(static_cast<unsigned char>(v >> 16));
  }

  const unsigned char* data_;
  size_t size_;
  unsigned char escape_ = 0;
  int hash_bits_ = kMaxHashBits;
  std::vector<unsigned char> out_;
  std::vector<uint32_t> head_;
  std::vector<uint32_t> chain_;
};

}  // namespace

std::vector<unsigned char> EncodePackData(const void* data, size_t size) {
  if (size >= 0xFFFFFFFFu || (size > 0 && !data)) return {};
  std::vector<unsigned char> block = Encoder(static_cast<const unsigned char*>(data), size).Run();
  if (block.size() > 0xFFFFFFFFu) return {};
  return block;
}
