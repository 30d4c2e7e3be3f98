// tests/lib/sound/ogg_headers_test.cpp - Ogg Vorbis files whose setup
// header the decoder library takes but cannot decode with (it divides by
// zero, or loops for ever, once a packet reaches it): refused with a line
// naming the file, before any packet is decoded, on every way in (a whole
// load, a stream sound, the converter over a stream that seeks and one that
// cannot, a chain), and a real file with such a damaged header page.
#include <ogg/ogg.h>

#include <tuple>

#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace soundtest;

// Bits in the format's order, the least significant bit of each byte first.
class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i, bit_ = (bit_ + 1) & 7) {
      if (bit_ == 0) bytes_.push_back(0);
      bytes_.back() |= static_cast<uint8_t>(((value >> i) & 1) << bit_);
    }
  }
  void Header(int type) {
    Put(static_cast<uint32_t>(type), 8);
    for (char c : std::string("vorbis")) Put(static_cast<uint8_t>(c), 8);
  }
  std::vector<uint8_t> bytes_;

 private:
  int bit_ = 0;
};

struct Book {
  uint32_t dimensions;
  std::vector<uint32_t> lengths;
  uint32_t lookup_type;
};

void PutBook(BitWriter* w, const Book& b) {
  w->Put(0x564342, 24);
  w->Put(b.dimensions, 16);
  w->Put(static_cast<uint32_t>(b.lengths.size()), 24);
  w->Put(0, 2);  // not ordered, not sparse
  for (uint32_t length : b.lengths) w->Put(length - 1, 5);
  w->Put(b.lookup_type, 4);
  if (b.lookup_type == 0) return;
  w->Put((788u << 21) | 1, 32);  // minimum value 1.0
  w->Put(0, 32);                  // delta 0
  w->Put(0, 4);   // one bit a value
  w->Put(0, 1);
  // One entry: one value for lookup type 1 (none with dimension 0).
  const uint32_t values = b.lookup_type == 1 ? (b.dimensions != 0 ? 1 : 0) : b.dimensions;
  w->Put(0, static_cast<int>(values));
}

// What a made stream's setup holds besides, in place of the plain floor 1
// and the residue's one class.
struct Shape {
  // 1: a floor 1 of one partition whose one value the last book codes;
  // 0: a floor 0 of order 2 that codes with the last book (amplitude of 6
  // bits, 50 dB) in every packet; otherwise a floor 1 without partitions.
  int floor = -1;
  uint32_t classifications = 1;  // each with book 1 at stage 0
  int masterbook = -1;           // floor 1: its class's masterbook, with two subclasses
  uint32_t classbook = 0;        // the residue's
};

// A mono 44.1 kHz Vorbis stream of 40 short blocks: one floor 1 without
// partitions, one residue of type 0 over the first 128 frequencies in
// partitions of 32 with one class, book 0 its classbook and book 1 its one
// stage book (and a book 2 that nothing uses, when given, or that a Shape's
// floor codes with), one mapping, one mode. Every packet decodes its
// residue.
std::vector<uint8_t> MakeStream(const Book& classbook, const Book& stagebook, int serial,
                                const Book* unused = nullptr, const Shape& shape = {}) {
  BitWriter id, comment, setup;
  id.Header(1);
  id.Put(0, 32);
  id.Put(1, 8);
  id.Put(44100, 32);
  id.Put(0, 32), id.Put(0, 32), id.Put(0, 32);
  id.Put(8, 4), id.Put(8, 4), id.Put(1, 1);
  comment.Header(3);
  comment.Put(0, 32), comment.Put(0, 32), comment.Put(1, 1);
  setup.Header(5);
  setup.Put(unused != nullptr ? 2 : 1, 8);
  PutBook(&setup, classbook);
  PutBook(&setup, stagebook);
  if (unused != nullptr) PutBook(&setup, *unused);
  const uint32_t last_book = unused != nullptr ? 2 : 1;
  setup.Put(0, 6), setup.Put(0, 16);  // time
  setup.Put(0, 6);
  if (shape.floor == 0) {
    setup.Put(0, 16), setup.Put(2, 8), setup.Put(44100, 16), setup.Put(64, 16);  // order, rate, bark map size
    setup.Put(6, 6), setup.Put(50, 8), setup.Put(0, 4), setup.Put(last_book, 8);  // amplitude, one book
  } else if (shape.floor == 1) {
    setup.Put(1, 16), setup.Put(1, 5), setup.Put(0, 4);  // one partition, of class 0
    if (shape.masterbook >= 0) {
      setup.Put(0, 3), setup.Put(1, 2), setup.Put(static_cast<uint32_t>(shape.masterbook), 8);
      setup.Put(0, 8), setup.Put(last_book + 1, 8);
    } else {
      setup.Put(0, 3), setup.Put(0, 2), setup.Put(last_book + 1, 8);  // one value, no subclasses
    }
    setup.Put(0, 2), setup.Put(8, 4), setup.Put(128, 8);     // multiplier 1, range 256, X 128
  } else {
    setup.Put(1, 16), setup.Put(0, 5);  // floor 1, no partitions
    setup.Put(0, 2), setup.Put(8, 4);   // multiplier 1, range 256
  }
  setup.Put(0, 6), setup.Put(0, 16);                                  // residue type 0
  setup.Put(0, 24), setup.Put(128, 24), setup.Put(31, 24);            // begin, end, partition size
  setup.Put(shape.classifications - 1, 6), setup.Put(shape.classbook, 8);
  for (uint32_t c = 0; c < shape.classifications; ++c) setup.Put(1, 3), setup.Put(0, 1);  // stage 0
  for (uint32_t c = 0; c < shape.classifications; ++c) setup.Put(1, 8);                   // stage book 1
  setup.Put(0, 6), setup.Put(0, 16), setup.Put(0, 4);                 // mapping 0, one submap
  setup.Put(0, 8), setup.Put(0, 8), setup.Put(0, 8);
  setup.Put(0, 6), setup.Put(0, 1), setup.Put(0, 16), setup.Put(0, 16), setup.Put(0, 8);  // mode
  setup.Put(1, 1);
  ogg_stream_state os;
  ogg_stream_init(&os, serial);
  std::vector<uint8_t> file;
  ogg_page page;
  auto flush = [&](bool all) {
    while (all ? ogg_stream_flush(&os, &page) : ogg_stream_pageout(&os, &page)) {
      file.insert(file.end(), page.header, page.header + page.header_len);
      file.insert(file.end(), page.body, page.body + page.body_len);
    }
  };
  std::vector<uint8_t>* headers[] = {&id.bytes_, &comment.bytes_, &setup.bytes_};
  for (int i = 0; i < 3; ++i) {
    ogg_packet p{headers[i]->data(), static_cast<long>(headers[i]->size()), i == 0, 0, 0, i};
    ogg_stream_packetin(&os, &p);
    if (i != 1) flush(true);
  }
  for (int i = 0; i < 40; ++i) {
    BitWriter audio;
    audio.Put(0, 1);
    if (shape.floor == 0) {
      audio.Put(40, 6), audio.Put(0, 1), audio.Put(0, 2);  // amplitude, book 0, two values
    } else {
      audio.Put(1, 1), audio.Put(100, 8), audio.Put(120, 8);
      if (shape.floor == 1) audio.Put(0, 1);
    }
    for (int k = 0; k < 8; ++k) audio.Put(0x5a5a5a5a, 32);
    ogg_packet p{audio.bytes_.data(), static_cast<long>(audio.bytes_.size()), 0, i == 39, 128 * i, 3 + i};
    ogg_stream_packetin(&os, &p);
    flush(i == 39);
  }
  ogg_stream_clear(&os);
  return file;
}

void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

int StreamNoSeek(StreamHandle, int64_t, int) { return -1; }

// A stream whose seeks to a place in [g_fail_from, g_fail_to) fail, as a
// read error would.
int64_t g_fail_from = 0, g_fail_to = 0;
int StreamSeekFailing(StreamHandle handle, int64_t offset, int origin) {
  if (origin == 0 && offset >= g_fail_from && offset < g_fail_to) return -1;
  return GetMemoryStreamTable()->seek(handle, offset, origin);
}

// Changes the bits `mask` of the byte at `at` and seals its page again.
std::vector<uint8_t> Flip(std::vector<uint8_t> file, size_t at, uint8_t mask) {
  size_t page = 0, size = 0;
  for (; page < file.size(); page += size) {
    size = 27 + file[page + 26];
    for (int s = 0; s < file[page + 26]; ++s) size += file[page + 27 + s];
    if (at < page + size) break;
  }
  file[at] ^= mask;
  ogg_page p{file.data() + page, 27 + file[page + 26], file.data() + page + 27 + file[page + 26],
             static_cast<long>(size) - 27 - file[page + 26]};
  ogg_page_checksum_set(&p);
  return file;
}

class OggHeadersTest : public SoundFixture {
 protected:
  // The converter over the file: its length in bytes and everything it
  // gives, or -1 when it refuses.
  int32_t Convert(const std::vector<uint8_t>& file, bool seekable, std::vector<uint8_t>* out = nullptr,
                  bool failing = false) {
    SoundStream stream{};
    stream.ops = *GetMemoryStreamTable();
    if (!seekable) stream.ops.seek = &StreamNoSeek;
    if (failing) stream.ops.seek = &StreamSeekFailing;
    stream.handle = MemoryStreamOpen(file.data(), file.size());
    PcmDecoderRecord record{};
    int32_t length = -1;
    if (OpenPcmDecoder(&stream, &record) == 0) {
      length = GetPcmDecoderLength(&record);
      std::vector<uint8_t> part(4000);
      for (int32_t got; (got = RunPcmDecoder(&record, part.data(), 4000)) > 0;)
        if (out != nullptr) out->insert(out->end(), part.begin(), part.begin() + got);
      if (seekable) {
        SeekPcmDecoder(&record, 1000);
        RunPcmDecoder(&record, part.data(), 4000);
      }
      ClosePcmDecoder(&record);
    }
    stream.ops.close(stream.handle);
    return length;
  }
  size_t Lines(const std::string& text) const { return log_.Count(text); }
  // Refused whole, as a stream sound and by the converter (seeking, and
  // unless its first link is good, not seeking), with the line naming the
  // file each time it is loaded.
  void ExpectRefused(const std::string& name, const std::vector<uint8_t>& file, bool first_link_good = false) {
    SCOPED_TRACE(name);
    WriteFile(name, file);
    log_.Clear();
    for (int mode : {0, 2}) {
      ASSERT_EQ(SetSoundCreateMode(mode), 0);
      EXPECT_EQ(LoadSoundHandle(name.c_str(), 1, -1), -1);
    }
    ASSERT_EQ(SetSoundCreateMode(0), 0);
    EXPECT_EQ(Lines("Sound file " + name + " has Vorbis headers but no audio page that decodes; refused"), 2u)
        << log_.Debug();
    EXPECT_EQ(Convert(file, true), -1);
    if (!first_link_good) {
      EXPECT_EQ(Convert(file, false), -1);
    }
  }
};

const Book kClassbook = {1, {1}, 0};
const Book kStagebook = {1, {1}, 1};
const Book kLookup1Dim0 = {0, {1}, 1};

// The checker takes the made stream's headers as they are, and each class
// of damage it refuses is one the library would crash or hang on: a
// classbook whose codeword lengths leave the code space part empty (the
// library's set-up fails, and the next one decodes with the classbook's
// dimension left 0), a lookup type 1 book of dimension 0 (even one that
// nothing uses), a stage book of dimension 0. The sound of the sound stream decodes, whole and as a
// stream; a chain of it and a damaged stream is refused where the file can
// seek, and where it cannot gives the first link and says why it stops.
TEST_F(OggHeadersTest, UndecodableSetupHeadersAreRefusedBeforeAnyPacketIsDecoded) {
  const std::vector<uint8_t> good = MakeStream(kClassbook, kStagebook, 1);
  std::vector<uint8_t> sound;
  const int32_t length = Convert(good, true, &sound);
  ASSERT_EQ(length, 39 * 128 * 2);
  EXPECT_EQ(static_cast<int32_t>(sound.size()), length);
  EXPECT_TRUE(std::any_of(sound.begin(), sound.end(), [](uint8_t b) { return b != 0; }));
  std::vector<uint8_t> streamed;
  Convert(good, false, &streamed);
  EXPECT_EQ(streamed, sound);

  const std::vector<std::pair<std::string, std::vector<uint8_t>>> damaged = {
      {"underfull.ogg", MakeStream({1, {1, 2}, 0}, kStagebook, 2)},
      {"lookup1-dim0.ogg", MakeStream(kClassbook, kStagebook, 3, &kLookup1Dim0)},
      {"stage-dim0.ogg", MakeStream(kClassbook, {0, {1}, 2}, 4)},
  };
  for (const auto& [name, file] : damaged) ExpectRefused(name, file);
  // A real voice with one bit of a codebook's lengths changed in its setup
  // header page.
  const std::vector<uint8_t> voice = ReadAll(RORUD_SOURCE_DIR "/tests/lib/sound/data/granule-start.ogg");
  ExpectRefused("voice.ogg", Flip(voice, 0xf73, 0x04));

  std::vector<uint8_t> chain = good;
  chain.insert(chain.end(), damaged[0].second.begin(), damaged[0].second.end());
  ExpectRefused("chain.ogg", chain, true);
  log_.Clear();
  SetSoundFileNameForLog("chain.ogg");
  streamed.clear();
  Convert(chain, false, &streamed);
  SetSoundFileNameForLog(nullptr);
  EXPECT_EQ(streamed, sound);
  EXPECT_EQ(Lines("Sound file chain.ogg has a later link whose Vorbis headers cannot be decoded; "
                  "the sound ends before it"), 1u) << log_.Debug();
}

// The books a floor or a residue names are checked against what it does
// with them. Each stream below differs from a good one in that alone.
// Good, and decoded as oggdec decodes them: a floor 1 whose subclass codes
// with the setup's last book (numbered one past it in the header, 0 being
// none); a floor 0 whose one book is the last; a residue of two classes whose
// classbook has two entries of one class each. Damaged: the same floor 0
// with a book of dimension 0 (the library's floor 0 steps through its
// coefficients by it), the same residue with a classbook of one entry
// (two classes to an entry need 2^1 of them), and a floor 1 class's
// masterbook or a residue's classbook numbered one past the last book. The
// decoder library refuses
// those itself when it opens a file that can seek, and the load fails; where
// the file cannot seek, the check holds back the page that completes the
// headers before the library reads them, and says why: alone the stream is
// refused, after a good link it ends with that link's sound.
TEST_F(OggHeadersTest, FloorBooksAndResidueClassbooksMustFitWhatTheyCode) {
  const Book scalar = {1, {1}, 0}, vector = {1, {1}, 1}, two_classes = {1, {1, 1}, 0};
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> good = {
      {"floor0.ogg", MakeStream(kClassbook, kStagebook, 5, &vector, {0, 1})},
      {"floor1-last-book.ogg", MakeStream(kClassbook, kStagebook, 6, &scalar, {1, 1})},
      {"two-classes.ogg", MakeStream(two_classes, kStagebook, 7, nullptr, {-1, 2})},
  };
  std::vector<uint8_t> floor0_sound;
  for (const auto& [name, file] : good) {
    SCOPED_TRACE(name);
    WriteFile(name, file);
    ASSERT_TRUE(Shell("oggdec -Q -R -o " + name + ".raw " + name));
    const std::vector<uint8_t> reference = ReadAll(name + ".raw");
    ASSERT_EQ(reference.size(), 39u * 128 * 2);
    std::vector<uint8_t> sound;
    EXPECT_EQ(Convert(file, true, &sound), 39 * 128 * 2);
    EXPECT_EQ(sound, reference);
    if (floor0_sound.empty()) floor0_sound = sound;
  }
  const Book flat = {0, {1}, 2};
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> damaged = {
      {"floor0-dim0.ogg", MakeStream(kClassbook, kStagebook, 8, &flat, {0, 1})},
      {"classbook-short.ogg", MakeStream(kClassbook, kStagebook, 9, nullptr, {-1, 2})},
      {"masterbook-past.ogg", MakeStream(kClassbook, kStagebook, 10, &scalar, {1, 1, 3})},
      {"classbook-past.ogg", MakeStream(kClassbook, kStagebook, 11, nullptr, {-1, 1, -1, 2})},
  };
  for (const auto& [name, file] : damaged) {
    SCOPED_TRACE(name);
    WriteFile(name, file);
    EXPECT_EQ(LoadSoundHandle(name.c_str(), 1, -1), -1);
    log_.Clear();
    SetSoundFileNameForLog(name.c_str());
    EXPECT_EQ(Convert(file, false), -1);
    std::vector<uint8_t> chain = good[0].second, streamed;
    chain.insert(chain.end(), file.begin(), file.end());
    Convert(chain, false, &streamed);
    SetSoundFileNameForLog(nullptr);
    EXPECT_EQ(streamed, floor0_sound);
    EXPECT_EQ(Lines("Sound file " + name + " has Vorbis headers but no audio page that decodes; refused"), 1u)
        << log_.Debug();
    EXPECT_EQ(Lines("Sound file " + name + " has a later link whose Vorbis headers cannot be decoded; "
                    "the sound ends before it"), 1u) << log_.Debug();
  }
}

}  // namespace

namespace {

// A chain of 40 links plays every one of them. One whose last link is cut
// off after its first page, whose second link has lost its header page,
// has a comment or setup header the codec library refuses (also after a
// link of the same headers but that), or meets two
// pages that begin other links before its headers are whole, is refused
// with a line naming the file and the link, on every way in, and no later
// converter takes it: the decoder library's open, which would fail there,
// loses what it holds for the links before (under the leak check, such an
// open fails the test). So is a chain of 160 links where the file cannot be
// read (a seek fails) near its end, where the walk looks for the last page,
// or halfway, where it looks for the first link's end.
TEST_F(OggHeadersTest, AChainWhoseLaterLinkCannotBeOpenedIsRefusedWithALine) {
  std::vector<uint8_t> chain;
  for (int link = 0; link < 40; ++link) {
    const std::vector<uint8_t> stream = MakeStream(kClassbook, kStagebook, 100 + link);
    chain.insert(chain.end(), stream.begin(), stream.end());
  }
  std::vector<uint8_t> sound;
  EXPECT_EQ(Convert(chain, true, &sound), 40 * 39 * 128 * 2);
  EXPECT_EQ(sound.size(), 40u * 39 * 128 * 2);

  const std::vector<uint8_t> next = MakeStream(kClassbook, kStagebook, 140);
  auto page_end = [&next](size_t at) {
    size_t end = at + 27 + next[at + 26];
    for (int s = 0; s < next[at + 26]; ++s) end += next[at + 27 + s];
    return end;
  };
  const size_t first_page = page_end(0);
  const size_t second_page = page_end(first_page);
  std::vector<uint8_t> cut = chain;
  cut.insert(cut.end(), next.begin(), next.begin() + static_cast<std::ptrdiff_t>(first_page));
  std::vector<uint8_t> headless = MakeStream(kClassbook, kStagebook, 1);
  headless.insert(headless.end(), next.begin(), next.begin() + static_cast<std::ptrdiff_t>(first_page));
  headless.insert(headless.end(), next.begin() + static_cast<std::ptrdiff_t>(second_page), next.end());
  // The comment header's vendor length, and the last byte of the setup
  // header, the one with its framing bit.
  const std::vector<uint8_t> good = MakeStream(kClassbook, kStagebook, 1);
  auto after_good = [&good](const std::vector<uint8_t>& link) {
    std::vector<uint8_t> file = good;
    file.insert(file.end(), link.begin(), link.end());
    return file;
  };
  std::vector<uint8_t> comment = after_good(Flip(next, first_page + 27 + next[first_page + 26] + 7, 0x80));
  std::vector<uint8_t> setup = after_good(Flip(next, second_page - 1, 0xff));
  // The same damaged link after a good link whose headers are byte for
  // byte the damaged one's but for that byte: the walk does not take its
  // setup for the one it read before.
  std::vector<uint8_t> setup_third = after_good(MakeStream(kClassbook, kStagebook, 143));
  const std::vector<uint8_t> damaged_setup = Flip(next, second_page - 1, 0xff);
  setup_third.insert(setup_third.end(), damaged_setup.begin(), damaged_setup.end());
  // The second link's first page, two other links' first pages among
  // other pages, then the rest of the second link.
  const std::vector<uint8_t> third = MakeStream(kClassbook, kStagebook, 141);
  const std::vector<uint8_t> fourth = MakeStream(kClassbook, kStagebook, 142);
  std::vector<uint8_t> between = good;
  for (const auto& [from, to] : {std::pair{next.begin(), next.begin() + static_cast<std::ptrdiff_t>(first_page)},
                                 {third.begin() + static_cast<std::ptrdiff_t>(first_page), third.end()},
                                 {third.begin(), third.begin() + static_cast<std::ptrdiff_t>(first_page)},
                                 {fourth.begin(), fourth.begin() + static_cast<std::ptrdiff_t>(first_page)},
                                 {next.begin() + static_cast<std::ptrdiff_t>(first_page), next.end()}})
    between.insert(between.end(), from, to);
  for (const auto& [name, file, link] : {std::tuple{"cut-chain.ogg", &cut, 41}, {"headless.ogg", &headless, 2},
                                         {"comment.ogg", &comment, 2}, {"setup.ogg", &setup, 2},
                                         {"setup-third.ogg", &setup_third, 3}, {"between.ogg", &between, 2}}) {
    SCOPED_TRACE(name);
    WriteFile(name, *file);
    log_.Clear();
    for (int mode : {0, 2}) {
      ASSERT_EQ(SetSoundCreateMode(mode), 0);
      EXPECT_EQ(LoadSoundHandle(name, 1, -1), -1);
    }
    ASSERT_EQ(SetSoundCreateMode(0), 0);
    EXPECT_EQ(Lines(std::string("Sound file ") + name + " is a chained Ogg whose link " + std::to_string(link) +
                    " cannot be opened (its headers are damaged, cut off or missing); refused"),
              2u)
        << log_.Debug();
    EXPECT_EQ(Convert(*file, true), -1);
  }

  std::vector<uint8_t> long_chain;
  for (int link = 0; link < 160; ++link) {
    const std::vector<uint8_t> stream = MakeStream(kClassbook, kStagebook, 200 + link);
    long_chain.insert(long_chain.end(), stream.begin(), stream.end());
  }
  const auto size = static_cast<int64_t>(long_chain.size());
  ASSERT_GT(size, 200 << 10);
  for (const auto& [from, to] : {std::pair{size - (70 << 10), size}, {size / 2 - (20 << 10), size / 2 + (20 << 10)}}) {
    SCOPED_TRACE(from);
    g_fail_from = from, g_fail_to = to;
    log_.Clear();
    SetSoundFileNameForLog("long-chain.ogg");
    EXPECT_EQ(Convert(long_chain, true, nullptr, true), -1);
    SetSoundFileNameForLog(nullptr);
    EXPECT_EQ(Lines("Sound file long-chain.ogg is a chained Ogg whose link 2 cannot be opened"), 1u) << log_.Debug();
  }
}

}  // namespace
