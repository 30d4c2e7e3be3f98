#include "lib/core/pack_lz.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Block(uint32_t decoded, unsigned char escape, const Bytes& stream) {
  Bytes b(9 + stream.size());
  uint32_t encoded = static_cast<uint32_t>(b.size());
  std::memcpy(b.data(), &decoded, 4);
  std::memcpy(b.data() + 4, &encoded, 4);
  b[8] = escape;
  for (size_t i = 0; i < stream.size(); ++i) b[9 + i] = stream[i];
  return b;
}

// A plain reading of the format, one byte at a time, as an independent check.
bool ReferenceDecode(const Bytes& block, Bytes* out) {
  uint32_t decoded, encoded;
  std::memcpy(&decoded, block.data(), 4);
  std::memcpy(&encoded, block.data() + 4, 4);
  unsigned char esc = block[8];
  size_t i = 9;
  out->clear();
  while (i < encoded) {
    unsigned char b = block[i++];
    if (b != esc) {
      out->push_back(b);
      continue;
    }
    if (i >= encoded) return false;
    unsigned int c = block[i++];
    if (c == esc) {
      out->push_back(esc);
      continue;
    }
    if (c > esc) c -= 1;
    size_t length = c >> 3;
    if (c & 4) {
      if (i >= encoded) return false;
      length |= static_cast<size_t>(block[i++]) << 5;
    }
    length += 4;
    size_t form = c & 3, v = 0;
    if (form == 3 || i + form + 1 > encoded) return false;
    for (size_t k = 0; k <= form; ++k) v |= static_cast<size_t>(block[i++]) << (8 * k);
    size_t distance = v + 1;
    if (distance > out->size()) return false;
    for (size_t k = 0; k < length; ++k) out->push_back((*out)[out->size() - distance]);
  }
  return out->size() == decoded;
}

Bytes Decode(const Bytes& block) {
  int64_t size = DecodePackData(block.data(), nullptr);
  EXPECT_GE(size, 0);
  Bytes out(static_cast<size_t>(size) + 1, 0xEE);
  EXPECT_EQ(DecodePackDataChecked(block.data(), block.size(), out.data(), out.size() - 1), size);
  EXPECT_EQ(out.back(), 0xEE);  // nothing written past the decoded size
  out.pop_back();
  return out;
}

void RoundTrip(const Bytes& data) {
  Bytes block = EncodePackData(data.data(), data.size());
  ASSERT_GE(block.size(), 9u);
  Bytes out(data.size());
  ASSERT_EQ(DecodePackData(block.data(), out.data()), static_cast<int64_t>(data.size()));
  ASSERT_EQ(out, data);
  Bytes reference;
  ASSERT_TRUE(ReferenceDecode(block, &reference));
  ASSERT_EQ(reference, data);
}

TEST(PackLzDecode, FormatExamples) {
  // An empty stream: only the size, nothing written.
  Bytes empty = Block(5, 0x80, {});
  Bytes out(5, 0x11);
  EXPECT_EQ(DecodePackData(empty.data(), out.data()), 5);
  EXPECT_EQ(out, Bytes(5, 0x11));
  // Escape, escape: one escape byte.
  EXPECT_EQ(Decode(Block(2, 0x80, {0x41, 0x80, 0x80})), (Bytes{0x41, 0x80}));
  // Distance 1, length 10 after 0x41: code 6 << 3, one-byte distance 0.
  EXPECT_EQ(Decode(Block(11, 0x80, {0x41, 0x80, 6 << 3, 0x00})), Bytes(11, 0x41));
  // A code above the escape is one lower: 0x81 means 0x80 (length 20, one-byte distance).
  EXPECT_EQ(Decode(Block(21, 0x80, {0x41, 0x80, 0x81, 0x00})), Bytes(21, 0x41));
  // Bit 2 with the length byte 0xFF: ((c >> 3) | 0x1FE0) + 4.
  unsigned char c = (3 << 3) | 4;
  size_t length = ((c >> 3) | 0x1FE0) + 4;
  EXPECT_EQ(Decode(Block(static_cast<uint32_t>(1 + length), 0xF0, {0x41, 0xF0, c, 0xFF, 0x00})),
            Bytes(1 + length, 0x41));
  // Two- and three-byte distances.
  Bytes text = {'a', 'b', 'c', 'd', 'e'};
  Bytes two = text;
  two.insert(two.end(), {0xFF, (0 << 3) | 1, 0x04, 0x00});
  EXPECT_EQ(Decode(Block(9, 0xFF, two)), (Bytes{'a', 'b', 'c', 'd', 'e', 'a', 'b', 'c', 'd'}));
  Bytes three = text;
  three.insert(three.end(), {0xFF, (0 << 3) | 2, 0x01, 0x00, 0x00});
  EXPECT_EQ(Decode(Block(9, 0xFF, three)), (Bytes{'a', 'b', 'c', 'd', 'e', 'd', 'e', 'd', 'e'}));
  // The size query.
  EXPECT_EQ(DecodePackData(Block(123456, 0, {1, 2}).data(), nullptr), 123456);
}

TEST(PackLzDecode, RefusesBlocksThatBreakTheirBounds) {
  Bytes out(64);
  auto refused = [&](const Bytes& block, size_t capacity) {
    return DecodePackDataChecked(block.data(), block.size(), out.data(), capacity) == -1;
  };
  EXPECT_TRUE(refused(Block(4, 0x80, {0x80, 0x00, 0x00}), 64));         // reaches before the start
  EXPECT_TRUE(refused(Block(1, 0x80, {0x41, 0x80}), 64));               // cut after the escape
  EXPECT_TRUE(refused(Block(20, 0x80, {0x41, 0x80, 0x04}), 64));        // cut before the length byte
  EXPECT_TRUE(refused(Block(20, 0x80, {0x41, 0x80, 0x01, 0x00}), 64));  // cut inside the distance
  EXPECT_TRUE(refused(Block(20, 0x80, {0x41, 0x80, 0x03, 0x00}), 64));  // distance form 3
  EXPECT_TRUE(refused(Block(2, 0x80, {0x41, 0x80, 0x00, 0x00}), 64));   // writes past the size
  EXPECT_TRUE(refused(Block(5, 0x80, {0x41}), 64));                     // leaves bytes unwritten
  EXPECT_TRUE(refused(Block(100, 0x80, {0x41}), 64));                   // more than the room
  Bytes cut = Block(3, 0x80, {1, 2, 3});
  EXPECT_EQ(DecodePackDataChecked(cut.data(), cut.size() - 1, out.data(), 64), -1);
  Bytes small = {1, 2, 3};
  EXPECT_EQ(DecodePackDataChecked(small.data(), small.size(), out.data(), 64), -1);
  Bytes wrong = Block(3, 0x80, {1, 2, 3});
  wrong[4] = 3;  // an encoded size below the header
  EXPECT_EQ(DecodePackData(wrong.data(), out.data()), -1);
}

TEST(PackLzRoundTrip, DataOfEveryKind) {
  std::mt19937 rng(1234);
  RoundTrip({});
  RoundTrip({7});
  Bytes random(200000);
  for (auto& b : random) b = static_cast<unsigned char>(rng());
  RoundTrip(random);
  RoundTrip(Bytes(300000, 0));  // long runs: maximum lengths, distance 1
  std::string text;
  while (text.size() < 100000) text += "The quick brown fox jumps over the lazy dog " + std::to_string(rng() % 1000) + "\n";
  RoundTrip(Bytes(text.begin(), text.end()));
  // Every byte value equally often: the escape is as common as any other byte.
  Bytes all;
  for (int r = 0; r < 300; ++r)
    for (int v = 0; v < 256; ++v) all.push_back(static_cast<unsigned char>((v * 37 + r) & 0xFF));
  RoundTrip(all);
  // Repeats at distances needing one, two and three bytes, with lengths needing
  // the extra length byte.
  Bytes far(1 << 20);
  for (auto& b : far) b = static_cast<unsigned char>(rng());
  Bytes piece(far.begin(), far.begin() + 5000);
  far.insert(far.end(), piece.begin(), piece.end());               // distance ~1 MB
  far.insert(far.end(), far.end() - 40000, far.end() - 39000);     // distance 40000
  far.insert(far.end(), far.end() - 200, far.end() - 100);         // distance 200
  RoundTrip(far);
}

TEST(PackLzRoundTrip, EncoderUsesEveryTokenFormAndCompresses) {
  std::mt19937 rng(5);
  Bytes data(300000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(rng() % 4 == 0 ? rng() : i / 3000);
  for (int k = 0; k < 50; ++k) {
    size_t from = rng() % 100000, length = 4 + rng() % 9000;
    size_t to = 100000 + rng() % 190000;
    for (size_t i = 0; i < length && to + i < data.size(); ++i) data[to + i] = data[from + i];
  }
  Bytes block = EncodePackData(data.data(), data.size());
  EXPECT_LT(block.size(), data.size());
  // Walk the tokens and note which forms occur.
  unsigned char esc = block[8];
  bool forms[3] = {}, extended = false, literal_escape = false;
  for (size_t i = 9; i < block.size();) {
    if (block[i] != esc) {
      ++i;
      continue;
    }
    unsigned int c = block[i + 1];
    i += 2;
    if (c == esc) {
      literal_escape = true;
      continue;
    }
    if (c > esc) --c;
    ASSERT_NE(c & 3, 3u);
    forms[c & 3] = true;
    if (c & 4) {
      extended = true;
      ++i;
    }
    i += (c & 3) + 1;
  }
  EXPECT_TRUE(forms[0] && forms[1] && forms[2]);
  EXPECT_TRUE(extended);
  (void)literal_escape;
  Bytes out(data.size());
  ASSERT_EQ(DecodePackData(block.data(), out.data()), static_cast<int64_t>(data.size()));
  EXPECT_EQ(out, data);
}

TEST(PackLzDecode, CorruptedBlocksAreRefusedOrDecodedInBounds) {
  std::mt19937 rng(77);
  std::string text;
  while (text.size() < 20000) text += "abcabcabd" + std::to_string(rng() % 50);
  Bytes block = EncodePackData(text.data(), text.size());
  for (int trial = 0; trial < 2000; ++trial) {
    Bytes bad = block;
    int flips = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < flips; ++k) bad[9 + rng() % (bad.size() - 9)] = static_cast<unsigned char>(rng());
    if (rng() % 8 == 0) bad.resize(9 + rng() % (bad.size() - 9));
    Bytes out(text.size());
    int64_t r = DecodePackDataChecked(bad.data(), bad.size(), out.data(), out.size());
    Bytes reference;
    bool reference_ok = bad.size() >= 9 && [&] {
      uint32_t enc;
      std::memcpy(&enc, bad.data() + 4, 4);
      return enc <= bad.size();
    }() && ReferenceDecode(bad, &reference);
    if (r >= 0) {
      ASSERT_TRUE(reference_ok);
      ASSERT_EQ(Bytes(out.begin(), out.begin() + r), reference);
    } else {
      ASSERT_TRUE(!reference_ok || reference.size() > out.size());
    }
  }
}

// Random token streams over every form (literals, escaped escapes, codes
// below and above the escape, short and extended lengths, one- to three-byte
// distances) decode as the plain reading of the format says.
TEST(PackLzDecode, RandomTokenStreamsMatchThePlainReading) {
  std::mt19937 rng(31);
  for (int trial = 0; trial < 300; ++trial) {
    unsigned char esc = static_cast<unsigned char>(rng());
    Bytes stream;
    size_t produced = 0;
    for (int t = 0; t < 200; ++t) {
      uint32_t kind = rng() % 4;
      if (kind == 0 || produced == 0) {
        unsigned char b = static_cast<unsigned char>(rng());
        stream.push_back(b);
        if (b == esc) stream.push_back(b);  // the escape as a literal
        ++produced;
      } else if (kind == 1) {
        stream.insert(stream.end(), {esc, esc});
        ++produced;
      } else {
        size_t max_distance = std::min<size_t>(produced, 1u << 24);
        size_t distance = 1 + rng() % max_distance;
        size_t v = distance - 1;
        unsigned int form = v < 0x100 ? (rng() % 3) : v < 0x10000 ? 1 + rng() % 2 : 2;
        bool extended = rng() % 3 == 0;
        size_t l = extended ? rng() % 8192 : rng() % 32;
        unsigned int code = static_cast<unsigned int>(((l & 31) << 3) | (extended ? 4 : 0) | form);
        stream.push_back(esc);
        stream.push_back(static_cast<unsigned char>(code < esc ? code : code + 1));
        if (extended) stream.push_back(static_cast<unsigned char>(l >> 5));
        for (unsigned int k = 0; k <= form; ++k) stream.push_back(static_cast<unsigned char>(v >> (8 * k)));
        produced += l + 4;
      }
    }
    Bytes block = Block(static_cast<uint32_t>(produced), esc, stream);
    Bytes reference;
    ASSERT_TRUE(ReferenceDecode(block, &reference));
    ASSERT_EQ(reference.size(), produced);
    ASSERT_EQ(Decode(block), reference);
  }
}

// The vector decoder and the plain one, which stays as the reference, agree on
// every stream: the encoder's blocks of mixed data of many sizes (so that
// tokens fall on every position near the buffer ends), and the same blocks
// damaged. On success the outputs are equal byte for byte.
TEST(PackLzDecode, VectorDecoderMatchesThePlainOne) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 400; ++trial) {
    Bytes data(rng() % 3000);
    size_t i = 0;
    while (i < data.size()) {
      size_t run = 1 + rng() % 80;
      int kind = static_cast<int>(rng() % 4);
      for (size_t k = 0; k < run && i < data.size(); ++k, ++i) {
        data[i] = kind == 0   ? static_cast<unsigned char>(rng())
                  : kind == 1 ? static_cast<unsigned char>(i % (1 + trial % 40))
                  : kind == 2 ? data[i >= 17 ? i - 17 : 0]
                              : static_cast<unsigned char>(rng() % 3);
      }
    }
    Bytes block = EncodePackData(data.data(), data.size());
    if (trial % 2) {
      for (int k = 0; k < 3 && block.size() > 9; ++k) {
        block[9 + rng() % (block.size() - 9)] = static_cast<unsigned char>(rng());
      }
    }
    Bytes fast(data.size() + 64, 0xAB), plain(data.size() + 64, 0xAB);
    size_t room = data.size() + rng() % 64;
    int64_t r_fast = DecodePackDataChecked(block.data(), block.size(), fast.data(), room);
    int64_t r_plain = DecodePackDataPlainChecked(block.data(), block.size(), plain.data(), room);
    ASSERT_EQ(r_fast, r_plain) << "trial " << trial;
    if (r_fast >= 0) {
      ASSERT_TRUE(std::equal(fast.begin(), fast.begin() + r_fast, plain.begin())) << "trial " << trial;
      if (trial % 2 == 0) { ASSERT_TRUE(std::equal(data.begin(), data.end(), fast.begin())); }
    }
    // Nothing is written past the decoded size the header claims.
    ASSERT_TRUE(std::all_of(fast.begin() + room, fast.end(), [](unsigned char b) { return b == 0xAB; }));
  }
}

// Long literal runs with escaped escapes at every density (none, sparse, about
// one in 256 bytes as in incompressible data, dense, and two to four in a row),
// broken now and then by a reference: the vector decoder switches between its
// ways of taking such runs and must match the plain one throughout.
TEST(PackLzDecode, LongLiteralRunsWithEscapedEscapesMatchThePlainOne) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 6; ++trial) {
    const unsigned char esc = static_cast<unsigned char>(rng());
    Bytes stream;
    size_t produced = 0;
    while (produced < 600000) {
      const uint32_t one_in = std::vector<uint32_t>{100000, 600, 256, 160, 40, 8}[rng() % 6];
      for (size_t k = 0, n = 2000 + rng() % 80000; k < n; ++k) {
        unsigned char b = static_cast<unsigned char>(rng());
        if (b == esc) ++b;
        size_t pairs = rng() % one_in == 0 ? 1 + (rng() % 16 == 0 ? rng() % 3 : 0) : 0;
        for (size_t i = 0; i < pairs; ++i) stream.insert(stream.end(), {esc, esc});
        produced += pairs;
        stream.push_back(b);
        ++produced;
      }
      // A short reference ends the run.
      unsigned int code = ((rng() % 32) << 3) | 1;
      size_t v = rng() % std::min<size_t>(produced, 60000);
      stream.insert(stream.end(), {esc, static_cast<unsigned char>(code < esc ? code : code + 1),
                                   static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)});
      produced += (code >> 3) + 4;
    }
    Bytes block = Block(static_cast<uint32_t>(produced), esc, stream);
    Bytes fast(produced), plain(produced);
    ASSERT_EQ(DecodePackDataChecked(block.data(), block.size(), fast.data(), fast.size()),
              static_cast<int64_t>(produced));
    ASSERT_EQ(DecodePackDataPlainChecked(block.data(), block.size(), plain.data(), plain.size()),
              static_cast<int64_t>(produced));
    ASSERT_EQ(fast, plain) << "trial " << trial;
  }
}

}  // namespace
