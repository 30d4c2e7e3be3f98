// lib/sound/vorbis_headers.cpp - reads a Vorbis stream's identification,
// comment and setup headers by their layout (codebooks, time placeholders,
// floors 0 and 1, residues 0 to 2, mappings, modes) and says whether the
// decoder library can decode the stream without harm. It refuses what the
// layout forbids, and besides what the library takes but cannot survive:
// - a codebook whose codeword lengths are not a whole prefix code (more or
//   fewer codewords than the lengths fill, one codeword of length 1 aside).
//   The library's decoder set-up fails on it, and a second set-up of the
//   same headers (after a seek, or the next read) then decodes with the
//   codebooks it left half built: a residue divides by a dimension of 0;
//   a floor 0 loops for ever.
// - a codebook of value lookup type 1 with dimension 0 and codewords: the
//   set-up's count of its values never ends.
// - a residue stage codebook of dimension 0: a residue of type 0 divides
//   by it, the others loop over it until the packet runs out.
// It does not decode audio; what the library checks in the audio packets
// themselves is left to it.
#include "lib/sound/vorbis_headers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// The format's bit order: the least significant bit of each byte first.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data_(data), total_(data != nullptr ? uint64_t{size} * 8 : 0) {}

  // The next `n` (0 to 32) bits; 0 once the packet has run out.
  uint32_t Bits(int n) {
    if (n == 0 || failed_) return 0;
    if (total_ - pos_ < static_cast<uint64_t>(n)) {
      failed_ = true;
      return 0;
    }
    const size_t byte = static_cast<size_t>(pos_ >> 3);
    const int shift = static_cast<int>(pos_ & 7);
    uint64_t word = 0;
    for (int i = 0; i < (shift + n + 7) >> 3; ++i) word |= uint64_t{data_[byte + i]} << (8 * i);
    pos_ += static_cast<uint64_t>(n);
    return static_cast<uint32_t>((word >> shift) & ((uint64_t{1} << n) - 1));
  }
  bool Flag() { return Bits(1) != 0; }
  // Passes over `n` bits.
  void Skip(uint64_t n) {
    if (failed_ || total_ - pos_ < n) {
      failed_ = true;
      return;
    }
    pos_ += n;
  }
  bool Failed() const { return failed_; }

 private:
  const uint8_t* data_;
  uint64_t total_;
  uint64_t pos_ = 0;
  bool failed_ = false;
};

// Bits needed to write `v`: 0 for 0.
int ILog(uint32_t v) {
  int n = 0;
  for (; v != 0; v >>= 1) ++n;
  return n;
}

// A header packet's type byte and the word that follows it.
bool HeaderStart(BitReader* in, uint32_t type) {
  if (in->Bits(8) != type) return false;
  for (const char c : {'v', 'o', 'r', 'b', 'i', 's'})
    if (in->Bits(8) != static_cast<uint8_t>(c)) return false;
  return !in->Failed();
}

struct Book {
  uint32_t dimensions;
  uint32_t entries;
  uint32_t lookup_type;
};

// r^dim <= limit.
bool PowerAtMost(uint64_t r, uint32_t dim, uint64_t limit) {
  uint64_t acc = 1;
  for (uint32_t i = 0; i < dim; ++i) {
    acc *= r;
    if (acc > limit) return false;
  }
  return true;
}

// The greatest r with r^dim <= entries (dim >= 1).
uint64_t Lookup1Values(uint32_t entries, uint32_t dim) {
  auto r = static_cast<uint64_t>(std::floor(std::pow(static_cast<double>(entries), 1.0 / dim)));
  while (r > 0 && !PowerAtMost(r, dim, entries)) --r;
  while (PowerAtMost(r + 1, dim, entries)) ++r;
  return r;
}

// One codebook; false when it is damaged or unusable.
bool ReadBook(BitReader* in, Book* book) {
  if (in->Bits(24) != 0x564342) return false;
  book->dimensions = in->Bits(16);
  book->entries = in->Bits(24);
  if (in->Failed() || ILog(book->dimensions) + ILog(book->entries) > 24) return false;
  // The codeword lengths, as the share of the code space each takes
  // (2^-length, scaled by 2^32).
  uint64_t space = 0;
  uint64_t used = 0;
  bool one_of_length_one = false;
  if (!in->Flag()) {
    const bool sparse = in->Flag();
    for (uint32_t i = 0; i < book->entries && !in->Failed(); ++i) {
      if (sparse && !in->Flag()) continue;
      const uint32_t length = in->Bits(5) + 1;
      space += uint64_t{1} << (32 - length);
      ++used;
      one_of_length_one = length == 1;
    }
  } else {
    uint32_t length = in->Bits(5) + 1;
    for (uint32_t entry = 0; entry < book->entries && !in->Failed(); ++length) {
      const uint32_t count = in->Bits(ILog(book->entries - entry));
      if (length > 32 || count > book->entries - entry) return false;
      space += uint64_t{count} << (32 - length);
      used += count;
      if (count != 0) one_of_length_one = length == 1;
      entry += count;
    }
  }
  if (in->Failed()) return false;
  // A prefix code fills the code space exactly; one codeword alone is the
  // one-bit codeword 0.
  if (used != 0 && space != uint64_t{1} << 32 && !(used == 1 && one_of_length_one)) return false;
  book->lookup_type = in->Bits(4);
  if (book->lookup_type == 0) return !in->Failed();
  if (book->lookup_type > 2) return false;
  in->Skip(64);  // minimum value and delta
  const uint32_t value_bits = in->Bits(4) + 1;
  in->Skip(1);  // sequence flag
  uint64_t values = 0;
  if (book->lookup_type == 1) {
    if (book->dimensions == 0 && used != 0) return false;
    values = book->dimensions == 0 ? 0 : Lookup1Values(book->entries, book->dimensions);
  } else {
    values = uint64_t{book->entries} * book->dimensions;
  }
  in->Skip(values * value_bits);
  return !in->Failed();
}

bool ReadFloor0(BitReader* in, const std::vector<Book>& books) {
  const uint32_t order = in->Bits(8);
  const uint32_t rate = in->Bits(16);
  const uint32_t bark_map_size = in->Bits(16);
  in->Skip(6 + 8);  // amplitude bits and offset
  const uint32_t book_count = in->Bits(4) + 1;
  if (in->Failed() || order < 1 || rate < 1 || bark_map_size < 1) return false;
  for (uint32_t i = 0; i < book_count; ++i) {
    const uint32_t b = in->Bits(8);
    if (in->Failed() || b >= books.size() || books[b].lookup_type == 0 || books[b].dimensions < 1) return false;
  }
  return true;
}

bool ReadFloor1(BitReader* in, const std::vector<Book>& books) {
  const uint32_t partitions = in->Bits(5);
  uint32_t partition_class[32];
  int max_class = -1;
  for (uint32_t i = 0; i < partitions; ++i) {
    partition_class[i] = in->Bits(4);
    max_class = std::max(max_class, static_cast<int>(partition_class[i]));
  }
  uint32_t class_dimensions[16] = {};
  for (int c = 0; c <= max_class; ++c) {
    class_dimensions[c] = in->Bits(3) + 1;
    const uint32_t subclasses = in->Bits(2);
    if (subclasses != 0 && in->Bits(8) >= books.size()) return false;
    for (uint32_t k = 0; k < (1u << subclasses); ++k)
      if (in->Bits(8) > books.size()) return false;  // the book number plus 1; 0 for none
  }
  in->Skip(2);  // multiplier
  const int range_bits = static_cast<int>(in->Bits(4));
  if (in->Failed()) return false;
  // The X list: 0, the range, and the partitions' values, all different.
  std::vector<uint32_t> xs = {0, 1u << range_bits};
  for (uint32_t i = 0; i < partitions; ++i) {
    for (uint32_t k = 0; k < class_dimensions[partition_class[i]]; ++k) {
      if (xs.size() >= 65) return false;
      xs.push_back(in->Bits(range_bits));
    }
  }
  std::sort(xs.begin(), xs.end());
  return !in->Failed() && std::adjacent_find(xs.begin(), xs.end()) == xs.end();
}

bool ReadResidue(BitReader* in, const std::vector<Book>& books) {
  in->Skip(24 + 24 + 24);  // begin, end, partition size less 1
  const uint32_t classifications = in->Bits(6) + 1;
  const uint32_t classbook = in->Bits(8);
  uint32_t cascade[64];
  for (uint32_t i = 0; i < classifications; ++i) {
    const uint32_t low = in->Bits(3);
    cascade[i] = in->Flag() ? (in->Bits(5) << 3) | low : low;
  }
  if (in->Failed() || classbook >= books.size()) return false;
  for (uint32_t i = 0; i < classifications; ++i) {
    for (int stage = 0; stage < 8; ++stage) {
      if ((cascade[i] & (1u << stage)) == 0) continue;
      const uint32_t b = in->Bits(8);
      // A stage book's dimension divides the partition in a type 0
      // residue and steps through it in the others.
      if (in->Failed() || b >= books.size() || books[b].lookup_type == 0 || books[b].dimensions < 1) return false;
    }
  }
  // The classbook's entries number the partitions' classes, as many
  // digits to an entry as its dimension.
  const Book& c = books[classbook];
  return c.dimensions >= 1 && PowerAtMost(classifications, c.dimensions, c.entries);
}

bool ReadMapping(BitReader* in, uint32_t channels, uint32_t floors, uint32_t residues) {
  if (in->Bits(16) != 0) return false;
  const uint32_t submaps = in->Flag() ? in->Bits(4) + 1 : 1;
  if (in->Flag()) {
    const uint32_t steps = in->Bits(8) + 1;
    const int bits = ILog(channels - 1);
    for (uint32_t i = 0; i < steps; ++i) {
      const uint32_t magnitude = in->Bits(bits);
      const uint32_t angle = in->Bits(bits);
      if (in->Failed() || magnitude == angle || magnitude >= channels || angle >= channels) return false;
    }
  }
  if (in->Bits(2) != 0) return false;
  if (submaps > 1) {
    for (uint32_t i = 0; i < channels; ++i)
      if (in->Bits(4) >= submaps) return false;
  }
  for (uint32_t i = 0; i < submaps; ++i) {
    in->Skip(8);
    if (in->Bits(8) >= floors || in->Bits(8) >= residues) return false;
  }
  return !in->Failed();
}

// The identification header; `channels` gets its channel count.
bool ReadIdentification(const uint8_t* data, size_t size, uint32_t* channels) {
  BitReader in(data, size);
  if (!HeaderStart(&in, 1) || in.Bits(32) != 0) return false;
  *channels = in.Bits(8);
  const uint32_t rate = in.Bits(32);
  in.Skip(96);  // bit rates
  const uint32_t small = 1u << in.Bits(4);
  const uint32_t large = 1u << in.Bits(4);
  return in.Flag() && !in.Failed() && *channels >= 1 && rate >= 1 && small >= 64 && small <= large && large <= 8192;
}

bool ReadComment(const uint8_t* data, size_t size) {
  BitReader in(data, size);
  if (!HeaderStart(&in, 3)) return false;
  in.Skip(uint64_t{in.Bits(32)} * 8);  // vendor
  const uint32_t count = in.Bits(32);
  for (uint32_t i = 0; i < count && !in.Failed(); ++i) in.Skip(uint64_t{in.Bits(32)} * 8);
  return in.Flag() && !in.Failed();
}

bool ReadSetup(const uint8_t* data, size_t size, uint32_t channels) {
  BitReader in(data, size);
  if (!HeaderStart(&in, 5)) return false;
  std::vector<Book> books(in.Bits(8) + 1);
  for (Book& book : books)
    if (!ReadBook(&in, &book)) return false;
  const uint32_t times = in.Bits(6) + 1;
  for (uint32_t i = 0; i < times; ++i)
    if (in.Bits(16) != 0) return false;
  const uint32_t floors = in.Bits(6) + 1;
  for (uint32_t i = 0; i < floors; ++i) {
    const uint32_t type = in.Bits(16);
    if (type > 1 || !(type == 0 ? ReadFloor0(&in, books) : ReadFloor1(&in, books))) return false;
  }
  const uint32_t residues = in.Bits(6) + 1;
  for (uint32_t i = 0; i < residues; ++i)
    if (in.Bits(16) > 2 || !ReadResidue(&in, books)) return false;
  const uint32_t mappings = in.Bits(6) + 1;
  for (uint32_t i = 0; i < mappings; ++i)
    if (!ReadMapping(&in, channels, floors, residues)) return false;
  const uint32_t modes = in.Bits(6) + 1;
  for (uint32_t i = 0; i < modes; ++i) {
    in.Skip(1);  // block flag
    if (in.Bits(16) != 0 || in.Bits(16) != 0 || in.Bits(8) >= mappings) return false;
  }
  return in.Flag() && !in.Failed();
}

}  // namespace

bool VorbisHeadersDecodable(const VorbisHeaderPackets& p) {
  uint32_t channels = 0;
  return ReadIdentification(p.id, p.id_size, &channels) && ReadComment(p.comment, p.comment_size) &&
         ReadSetup(p.setup, p.setup_size, channels);
}
