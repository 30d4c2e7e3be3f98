// tests/lib/sound/ogg_counts_test.cpp - Ogg Vorbis sounds at the ends of the
// converter's counts: streams and chains longer than an int32_t counts in
// bytes (made of the reference encoder's one-byte packets of silence, so that
// hours of sound take a few megabytes and no decode of them), clamped to
// what it counts with one line and read up to there and no further; and
// seeks back from the end a read has met, checked against libvorbisfile.
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <climits>

#include "lib/core/stream.h"
#include "tests/lib/sound/sound_fixture.h"
#include "tests/lib/sound/vorbisfile_memory.h"

namespace {

using namespace soundtest;

void AppendPage(std::vector<uint8_t>* out, const ogg_page& page) {
  out->insert(out->end(), page.header, page.header + page.header_len);
  out->insert(out->end(), page.body, page.body + page.body_len);
}

// The frames of a silent link of `packets` audio packets.
int64_t SilentFrames(int64_t packets) { return 1152 + 2048 * (packets - 2); }

// A Vorbis stream of digital silence at 44100 Hz as the reference encoder
// writes it at its lowest quality: its headers, then `packets` audio
// packets (at least 3) of one byte, a short block and then long blocks of
// 2048 frames each, 50 to a page, each page's granule position counting
// the frames its packets complete (the first, a short block, completes
// none). SilentFrames(packets) frames in all.
std::vector<uint8_t> SilentLink(int channels, int64_t packets, int serial) {
  vorbis_info vi;
  vorbis_info_init(&vi);
  EXPECT_EQ(vorbis_encode_init_vbr(&vi, channels, 44100, -0.1f), 0);
  EXPECT_EQ(vorbis_info_blocksize(&vi, 1), 4096);
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, serial);
  ogg_packet header, comments, setup;
  vorbis_analysis_headerout(&vd, &vc, &header, &comments, &setup);
  std::vector<uint8_t> out;
  ogg_page page;
  ogg_stream_packetin(&os, &header);
  while (ogg_stream_flush(&os, &page) > 0) AppendPage(&out, page);
  ogg_stream_packetin(&os, &comments);
  ogg_stream_packetin(&os, &setup);
  while (ogg_stream_flush(&os, &page) > 0) AppendPage(&out, page);
  // The encoder's first three packets of a second of silence: the short
  // block, the first long one, and the long block every later one repeats.
  constexpr int kSecond = 44100;
  float** buffer = vorbis_analysis_buffer(&vd, kSecond);
  for (int c = 0; c < channels; ++c) std::fill(buffer[c], buffer[c] + kSecond, 0.0f);
  vorbis_analysis_wrote(&vd, kSecond);
  vorbis_analysis_wrote(&vd, 0);
  std::vector<uint8_t> made;
  ogg_packet packet;
  while (made.size() < 3 && vorbis_analysis_blockout(&vd, &vb) == 1) {
    vorbis_analysis(&vb, nullptr);
    vorbis_bitrate_addblock(&vb);
    while (made.size() < 3 && vorbis_bitrate_flushpacket(&vd, &packet) != 0) {
      EXPECT_EQ(packet.bytes, 1);
      made.push_back(packet.packet[0]);
    }
  }
  // The audio pages, sealed here: libogg's paging takes seconds for the
  // millions of packets.
  constexpr int kPerPage = 50;  // a seek starts at a page within a chain's links
  int64_t sequence = os.pageno;
  for (int64_t first = 0; made.size() == 3 && first < packets; first += kPerPage) {
    const int n = static_cast<int>(std::min<int64_t>(kPerPage, packets - first));
    std::vector<uint8_t> bytes(27 + 2 * static_cast<size_t>(n), 1);
    std::memcpy(bytes.data(), "OggS\0", 5);
    bytes[5] = first + n == packets ? 4 : 0;
    const int64_t granule = first + n == 1 ? 0 : SilentFrames(first + n);
    std::memcpy(bytes.data() + 6, &granule, 8);
    std::memcpy(bytes.data() + 14, &serial, 4);
    const uint32_t number = static_cast<uint32_t>(sequence++);
    std::memcpy(bytes.data() + 18, &number, 4);
    bytes[26] = static_cast<uint8_t>(n);
    for (int i = 0; i < n; ++i) bytes[27 + n + i] = made[static_cast<size_t>(std::min<int64_t>(first + i, 2))];
    ogg_page sealed{bytes.data(), 27 + n, bytes.data() + 27 + n, n};
    ogg_page_checksum_set(&sealed);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  EXPECT_EQ(made.size(), 3u);
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return out;
}

class OggCountsTest : public SoundFixture {
 protected:
  void TearDown() override {
    if (open_) ClosePcmDecoder(&record_);
    if (stream_open_) stream_.ops.close(stream_.handle);
    SetSoundFileNameForLog(nullptr);
    SoundFixture::TearDown();
  }
  // Opens a converter on `file`, named for the log as a load names it
  // until the test ends.
  bool Open(const std::vector<uint8_t>& file, const char* name, bool seekable = true) {
    file_ = file;
    stream_.ops = *GetMemoryStreamTable();
    if (!seekable) stream_.ops.seek = [](StreamHandle, int64_t, int) { return -1; };
    stream_.handle = MemoryStreamOpen(file_.data(), file_.size());
    stream_open_ = true;
    SetSoundFileNameForLog(name);
    open_ = OpenPcmDecoder(&stream_, &record_) == 0;
    return open_;
  }
  // What a read from frame `frame` on delivers, up to 1 MiB: its size, and
  // whether every byte of it is silence; the position never wraps below 0.
  int64_t ReadFrom(int32_t frame, bool* silent) {
    EXPECT_EQ(SeekPcmDecoder(&record_, frame), 0);
    std::vector<uint8_t> part(5000);
    int64_t delivered = 0;
    int32_t lowest = INT32_MAX;
    *silent = true;
    for (int32_t got; delivered < (1 << 20) && (got = RunPcmDecoder(&record_, part.data(), 5000)) > 0;) {
      delivered += got;
      *silent = *silent && std::all_of(part.begin(), part.begin() + got, [](uint8_t b) { return b == 0; });
      lowest = std::min(lowest, record_.position);
    }
    EXPECT_GE(lowest, 0);
    return delivered;
  }
  size_t Lines(const std::string& text) const { return log_.Count(text); }
  std::vector<uint8_t> file_;
  SoundStream stream_{};
  PcmDecoderRecord record_{};
  bool stream_open_ = false;
  bool open_ = false;
};

// A chain of three mono links of 1.5 G frames each (27 hours; more than
// 2^32 frames in all) reports the whole frames an int32_t counts in bytes,
// with one line, opened twice in one load; not its length modulo 2^32. A
// read from 1,000 frames before that end delivers those 1,000 frames of
// silence and stops.
TEST_F(OggCountsTest, AChainLongerThanTheCountsIsClampedToThemWithALine) {
  constexpr int64_t kPackets = 730000;
  std::vector<uint8_t> chain;
  for (int serial : {11, 12, 13}) {
    const std::vector<uint8_t> link = SilentLink(1, kPackets, serial);
    chain.insert(chain.end(), link.begin(), link.end());
  }
  ASSERT_GT(3 * SilentFrames(kPackets), int64_t{1} << 32);
  ASSERT_TRUE(Open(chain, "long-chain.ogg"));
  ASSERT_EQ(record_.kind, kPcmDecoderOgg);
  ASSERT_NE(record_.ogg.links, nullptr);  // read as a chain, link by link
  const int32_t clamped = INT32_MAX - 1;
  EXPECT_EQ(GetPcmDecoderLength(&record_), clamped);
  bool silent = false;
  EXPECT_EQ(ReadFrom(clamped / 2 - 1000, &silent), 2000);
  EXPECT_TRUE(silent);
  // Opened again while it loads (a stream sound): the line is not repeated.
  PcmDecoderRecord again{};
  SoundStream stream{*GetMemoryStreamTable(), MemoryStreamOpen(chain.data(), chain.size())};
  ASSERT_EQ(OpenPcmDecoder(&stream, &again), 0);
  EXPECT_EQ(GetPcmDecoderLength(&again), clamped);
  ClosePcmDecoder(&again);
  stream.ops.close(stream.handle);
  EXPECT_EQ(Lines("Sound file long-chain.ogg holds " + std::to_string(3 * SilentFrames(kPackets)) +
                  " frames, more than a sound counts; it ends after its first " + std::to_string(clamped / 2) + "\r\n"),
            1u);
}

// One stereo stream of 548 M frames (more bytes than an int32_t counts)
// reports the whole frames it counts, with the line, and a read from 1,000
// frames before that end delivers those frames and stops there, its
// position never past the count.
TEST_F(OggCountsTest, AStreamLongerThanTheCountsStopsAtItsClampedLength) {
  constexpr int64_t kPackets = 268000;
  const std::vector<uint8_t> file = SilentLink(2, kPackets, 21);
  ASSERT_GT(SilentFrames(kPackets) * 4, int64_t{INT32_MAX});
  ASSERT_TRUE(Open(file, "long-stream.ogg"));
  ASSERT_EQ(record_.kind, kPcmDecoderOgg);
  ASSERT_NE(record_.ogg.pages, nullptr);  // decoded from its packets
  const int32_t clamped = INT32_MAX - 3;
  EXPECT_EQ(GetPcmDecoderLength(&record_), clamped);
  bool silent = false;
  EXPECT_EQ(ReadFrom(clamped / 4 - 1000, &silent), 4000);
  EXPECT_TRUE(silent);
  EXPECT_EQ(record_.position, clamped);
  EXPECT_EQ(Lines("Sound file long-stream.ogg holds " + std::to_string(SilentFrames(kPackets)) +
                  " frames, more than a sound counts; it ends after its first " + std::to_string(clamped / 4) + "\r\n"),
            1u);
}

// A stream that cannot seek has no length to stop at: moved to 1,000
// frames before the last whole frame an int32_t counts in bytes (its
// position alone moves), it delivers those frames and ends there, its
// position never past the count.
TEST_F(OggCountsTest, AStreamWithoutALengthEndsAtTheLastFrameTheCountsHold) {
  ASSERT_TRUE(Open(SilentLink(2, 3000, 31), "unseekable.ogg", false));
  ASSERT_EQ(record_.kind, kPcmDecoderOgg);
  ASSERT_EQ(record_.ogg.pages, nullptr);  // read by the library as it comes
  bool silent = false;
  EXPECT_EQ(ReadFrom(INT32_MAX / 4 - 1000, &silent), 4000);
  EXPECT_TRUE(silent);
  EXPECT_EQ(record_.position, INT32_MAX - 3);
}

}  // namespace

namespace {

using namespace soundtest;

// libvorbisfile's read of `file` from frame `frame` on (a sample seek, then
// ov_read to the end), 16-bit.
std::vector<uint8_t> LibraryFrom(const std::vector<uint8_t>& file, int64_t frame) {
  const ov_callbacks callbacks = MemoryCallbacks();
  MemorySource source{&file, 0};
  std::vector<uint8_t> sound;
  OggVorbis_File vf;
  if (ov_open_callbacks(&source, &vf, nullptr, 0, callbacks) != 0) return sound;
  EXPECT_EQ(ov_pcm_seek(&vf, frame), 0);
  char buffer[8192];
  int section = 0;
  for (long got; (got = ov_read(&vf, buffer, sizeof buffer, 0, 2, 1, &section)) > 0;)
    sound.insert(sound.end(), buffer, buffer + got);
  ov_clear(&vf);
  return sound;
}

class OggSeekEndTest : public SoundFixture {};

// Short real files (oggenc's, mono and stereo, 22050 and 44100 Hz, one
// stream or a chain of two) read to their end and then moved, in a shuffled
// order, to their last frame, the one before, a few before, their middle,
// their start and their second frame (each read to the end again): every
// read delivers what libvorbisfile's seek and read deliver from there. A
// seek within a few frames of the position is left out while the read goes
// on; one back from the end the read has met is not.
TEST_F(OggSeekEndTest, ASeekBackFromTheEndReadsItsFramesAsTheLibraryDoes) {
  std::vector<std::vector<uint8_t>> files;
  for (int i = 0; i < 6; ++i) {
    const std::string name = "short" + std::to_string(i);
    ASSERT_TRUE(Sox("-n -r " + std::string(i % 3 == 0 ? "22050" : "44100") + " -c " + std::to_string(1 + i % 2) +
                    " -b 16 " + name + ".wav synth " + std::to_string(0.05 + 0.3 * i) + " sine 300-3000 vol 0.5"));
    ASSERT_TRUE(Shell("oggenc -Q -q " + std::to_string(i) + " -o " + name + ".ogg " + name + ".wav"));
    files.push_back(ReadAll(name + ".ogg"));
  }
  std::vector<uint8_t> chain = files[3];
  chain.insert(chain.end(), files[5].begin(), files[5].end());
  files.push_back(chain);
  std::mt19937 random(99);
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    const std::vector<uint8_t>& file = files[i];
    SoundStream stream{*GetMemoryStreamTable(), MemoryStreamOpen(file.data(), file.size())};
    PcmDecoderRecord record{};
    ASSERT_EQ(OpenPcmDecoder(&stream, &record), 0);
    const int ba = record.format.block_align;
    std::vector<uint8_t> part(5000);
    auto read_to_end = [&]() {
      std::vector<uint8_t> got;
      for (int32_t n; (n = RunPcmDecoder(&record, part.data(), 5000)) > 0;)
        got.insert(got.end(), part.begin(), part.begin() + n);
      return got;
    };
    const std::vector<uint8_t> whole = read_to_end();
    EXPECT_EQ(whole, LibraryFrom(file, 0));
    const int32_t frames = static_cast<int32_t>(whole.size()) / ba;
    std::vector<int32_t> targets = {frames - 1, frames - 2, frames - 3, frames - 6, frames / 2, 0, 1,
                                    frames - 1, frames - 2};
    std::shuffle(targets.begin(), targets.end(), random);
    for (int32_t target : targets) {
      SCOPED_TRACE(target);
      EXPECT_EQ(SeekPcmDecoder(&record, target), 0);
      EXPECT_EQ(read_to_end(), LibraryFrom(file, target));
    }
    // So does one after a read that stopped exactly at the end, before any
    // read has found nothing more.
    for (int32_t back : {1, 2, 3}) {
      SCOPED_TRACE(back);
      std::vector<uint8_t> all(whole.size());
      ASSERT_EQ(SeekPcmDecoder(&record, 0), 0);
      ASSERT_EQ(RunPcmDecoder(&record, all.data(), static_cast<int32_t>(all.size())), static_cast<int32_t>(all.size()));
      EXPECT_EQ(SeekPcmDecoder(&record, frames - back), 0);
      EXPECT_EQ(read_to_end(), LibraryFrom(file, frames - back));
    }
    ClosePcmDecoder(&record);
    stream.ops.close(stream.handle);
  }
}

}  // namespace
