// tests/lib/sound/ogg_chain_test.cpp - chained Ogg Vorbis files made here
// with libvorbisenc, checked against libvorbisfile's own read of the same
// bytes: links of other channel counts mixed to the sound's channels by
// their layout (against libswresample's mix of that read), a link whose
// first pages lie among the link's before, a first link whose only audio
// packet gives no sound, and a link whose granule positions are forged.
// Each reports what it plays, plays what the library reads, and seeks land
// on the sample.
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <climits>
#include <cmath>
#include <random>

#include "tests/lib/sound/sound_fixture.h"
#include "tests/lib/sound/ogg_page_edit.h"
#include "tests/lib/sound/vorbisfile_memory.h"

namespace {

using namespace soundtest;

// A Vorbis stream of `channels` channels of tones, `seconds` long, made by
// libvorbisenc: its bytes and where its first audio page starts. With
// `first_packet_only`, its one audio page holds only its first audio packet
// (which gives no sound), marked as the stream's end. With `noise`, noise
// at a high quality: a large stream.
struct MadeStream {
  std::vector<uint8_t> bytes;
  size_t audio_at = 0;
};

void Append(std::vector<uint8_t>* out, const ogg_page& page) {
  out->insert(out->end(), page.header, page.header + page.header_len);
  out->insert(out->end(), page.body, page.body + page.body_len);
}

MadeStream Encode(int channels, double seconds, int serial, bool first_packet_only = false, bool noise = false) {
  constexpr int kRate = 22050;
  MadeStream made;
  vorbis_info info;
  vorbis_info_init(&info);
  EXPECT_EQ(vorbis_encode_init_vbr(&info, channels, kRate, noise ? 0.9f : 0.3f), 0);
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_dsp_state dsp;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block block;
  vorbis_block_init(&dsp, &block);
  ogg_stream_state os;
  ogg_stream_init(&os, serial);
  ogg_packet id, comments, setup;
  vorbis_analysis_headerout(&dsp, &comment, &id, &comments, &setup);
  ogg_stream_packetin(&os, &id);
  ogg_stream_packetin(&os, &comments);
  ogg_stream_packetin(&os, &setup);
  ogg_page page;
  while (ogg_stream_flush(&os, &page) != 0) Append(&made.bytes, page);
  made.audio_at = made.bytes.size();
  const long frames = std::lround(seconds * kRate);
  bool done = false;
  uint32_t seed = static_cast<uint32_t>(serial);
  for (long at = 0; !done;) {
    const int n = static_cast<int>(std::min<long>(1024, frames - at));
    if (n > 0) {
      float** buffer = vorbis_analysis_buffer(&dsp, n);
      for (int c = 0; c < channels; ++c)
        for (int j = 0; j < n; ++j)
          buffer[c][j] = noise ? static_cast<float>((seed = seed * 1664525u + 1013904223u) >> 8) / 16777216.0f * 0.6f - 0.3f
                       : 0.3f * std::sin(2.0f * 3.14159265f * static_cast<float>(150 * (c + 1) + serial % 50) *
                                         static_cast<float>(at + j) / kRate);
      at += n;
    }
    vorbis_analysis_wrote(&dsp, n > 0 ? n : 0);
    while (!done && vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      ogg_packet packet;
      while (!done && vorbis_bitrate_flushpacket(&dsp, &packet) == 1) {
        if (first_packet_only) packet.e_o_s = 1;
        ogg_stream_packetin(&os, &packet);
        while (ogg_stream_pageout(&os, &page) != 0) Append(&made.bytes, page);
        done = packet.e_o_s != 0;
      }
    }
  }
  while (ogg_stream_flush(&os, &page) != 0) Append(&made.bytes, page);
  ogg_stream_clear(&os);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return made;
}

std::vector<uint8_t> Joined(std::initializer_list<const std::vector<uint8_t>*> parts) {
  std::vector<uint8_t> out;
  for (const std::vector<uint8_t>* p : parts) out.insert(out.end(), p->begin(), p->end());
  return out;
}

// Interleaved sound (16-bit signed, or with `word` 1 8-bit unsigned) of
// Vorbis's layout of `channels` channels mixed to `out` channels by
// libswresample: each Vorbis layout as FFmpeg's own Vorbis decoder names it,
// its channels put in that layout's order first.
std::vector<uint8_t> SwrMix(const std::vector<uint8_t>& in, int channels, int out, int word) {
  struct Layout {
    uint64_t mask;
    std::vector<int> place;  // each Vorbis channel's place in the layout's order
  };
  const Layout layouts[] = {
      {AV_CH_LAYOUT_MONO, {0}},
      {AV_CH_LAYOUT_STEREO, {0, 1}},
      {AV_CH_LAYOUT_SURROUND, {0, 2, 1}},
      {AV_CH_LAYOUT_QUAD, {0, 1, 2, 3}},
      {AV_CH_LAYOUT_5POINT0_BACK, {0, 2, 1, 3, 4}},
      {AV_CH_LAYOUT_5POINT1_BACK, {0, 2, 1, 4, 5, 3}},
  };
  EXPECT_LE(channels, 6);
  const Layout& layout = layouts[channels - 1];
  const size_t frames = in.size() / static_cast<size_t>(channels * word);
  std::vector<uint8_t> ordered(in.size());
  for (size_t f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c)
      std::memcpy(&ordered[(f * channels + layout.place[c]) * word], &in[(f * channels + c) * word], word);
  AVChannelLayout from{}, to{};
  av_channel_layout_from_mask(&from, layout.mask);
  av_channel_layout_from_mask(&to, out == 1 ? AV_CH_LAYOUT_MONO : AV_CH_LAYOUT_STEREO);
  const AVSampleFormat format = word == 1 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  SwrContext* swr = nullptr;
  EXPECT_GE(swr_alloc_set_opts2(&swr, &to, format, 22050, &from, format, 22050, 0, nullptr), 0);
  EXPECT_GE(swr_init(swr), 0);
  std::vector<uint8_t> mixed(frames * static_cast<size_t>(out * word));
  uint8_t* dst = mixed.data();
  const uint8_t* src = ordered.data();
  EXPECT_EQ(swr_convert(swr, &dst, static_cast<int>(frames), &src, static_cast<int>(frames)), static_cast<int>(frames));
  swr_free(&swr);
  return mixed;
}

// libvorbisfile's own read of a file from its start, each piece in its
// link's channels, mixed to `channels` where they differ: the sound's
// bytes (16-bit, or with `word` 1 8-bit unsigned), and the frame at which
// each new link's sound begins.
std::vector<uint8_t> LibraryRead(const std::vector<uint8_t>& file, int channels, std::vector<int64_t>* joins = nullptr,
                                 int word = 2) {
  MemorySource source{&file, 0};
  std::vector<uint8_t> sound;
  OggVorbis_File vf;
  if (ov_open_callbacks(&source, &vf, nullptr, 0, MemoryCallbacks()) != 0) return {};
  // The open of a chain may leave the read at a later link.
  EXPECT_EQ(ov_raw_seek(&vf, 0), 0);
  char buffer[8192];
  int section = 0, last = -1;
  for (long got; (got = ov_read(&vf, buffer, sizeof buffer, 0, word, word == 2, &section)) != 0 &&
                 got != OV_EBADLINK;) {
    if (got < 0) continue;
    const int link_channels = ov_info(&vf, -1)->channels;
    std::vector<uint8_t> piece(buffer, buffer + got);
    if (link_channels != channels) piece = SwrMix(piece, link_channels, channels, word);
    if (section != last && joins != nullptr)
      joins->push_back(static_cast<int64_t>(sound.size()) / (channels * word));
    last = section;
    sound.insert(sound.end(), piece.begin(), piece.end());
  }
  ov_clear(&vf);
  return sound;
}

class OggChainTest : public SoundFixture {
 protected:
  size_t Lines(const std::string& text) const { return log_.Count(text); }

  // The file's converter gives `channels` channels, reports `expected`'s
  // length and plays it, as a stream and as a whole load; and a seek to
  // each frame of `frames` (from half the sound away) reads what `expected`
  // holds there.
  void ExpectPlays(const std::vector<uint8_t>& file, const std::vector<uint8_t>& expected, int channels,
                   const std::vector<int64_t>& frames) {
    SoundStream stream{};
    stream.ops = *GetMemoryStreamTable();
    stream.handle = MemoryStreamOpen(file.data(), file.size());
    PcmDecoderRecord record{};
    ASSERT_EQ(OpenPcmDecoder(&stream, &record), 0);
    EXPECT_EQ(record.format.channels, channels);
    EXPECT_EQ(GetPcmDecoderLength(&record), static_cast<int32_t>(expected.size()));
    std::vector<uint8_t> whole, part(5000);
    for (int32_t got; (got = RunPcmDecoder(&record, part.data(), 5000)) > 0;)
      whole.insert(whole.end(), part.begin(), part.begin() + got);
    EXPECT_EQ(whole.size(), expected.size());
    EXPECT_TRUE(whole == expected) << "the sound differs from the library's read";
    const size_t frame_bytes = static_cast<size_t>(channels) * 2;
    const int64_t length = static_cast<int64_t>(expected.size() / frame_bytes);
    std::vector<uint8_t> got(3000 * frame_bytes);
    int bad = 0;
    for (int64_t frame : frames) {
      if (frame < 0 || frame >= length) continue;
      SeekPcmDecoder(&record, static_cast<int32_t>((frame + length / 2) % length));
      SeekPcmDecoder(&record, static_cast<int32_t>(frame));
      const int32_t n = RunPcmDecoder(&record, got.data(), static_cast<int32_t>(got.size()));
      const size_t at = static_cast<size_t>(frame) * frame_bytes;
      const size_t want = std::min(got.size(), expected.size() - at);
      const bool landed = static_cast<size_t>(n) == want && std::equal(got.begin(), got.begin() + n, expected.begin() + at);
      if (!landed && ++bad <= 3) ADD_FAILURE() << "a seek to frame " << frame << " does not land";
    }
    EXPECT_EQ(bad, 0) << "of " << frames.size() << " seeks";
    ClosePcmDecoder(&record);
    stream.ops.close(stream.handle);
    const int handle = Load(file);
    ASSERT_NE(handle, -1);
    EXPECT_TRUE(BufferBytes(handle) == expected) << "a whole load differs from the library's read";
    DeleteSoundHandle(handle, 0);
  }

  // Frames on either side of each join, every tenth and the last of a
  // sound of `length` frames, and 40 frames picked at random.
  static std::vector<int64_t> SeekFrames(int64_t length, const std::vector<int64_t>& joins) {
    std::vector<int64_t> frames = {length - 1, length - 2};
    for (int64_t j : joins)
      for (int64_t d : {-1, 0, 1}) frames.push_back(j + d);
    for (int k = 1; k < 10; ++k) frames.push_back(length * k / 10);
    std::mt19937 random(99);
    for (int k = 0; k < 40; ++k) frames.push_back(static_cast<int64_t>(random() % static_cast<uint32_t>(length)));
    return frames;
  }
};

// Links of other channel counts than the first link's play, in order, each
// mixed to the sound's channels by its layout: stereo, mono and stereo links
// play all 6 seconds in stereo, a mono sound takes a stereo and a 5.1 link
// mixed to mono, and a stereo one a 5.1 link mixed to stereo, in 16 and 8
// bits, and from a stream that cannot seek. No line is written: nothing is
// lost. A link of channels that have no mix ends the sound before it, with a
// line.
TEST_F(OggChainTest, LinksOfOtherChannelCountsPlayMixedByTheirLayout) {
  const std::vector<uint8_t> stereo = Encode(2, 2, 11).bytes, mono = Encode(1, 2, 12).bytes,
                             stereo_again = Encode(2, 2, 13).bytes, surround = Encode(6, 1.5, 14).bytes;
  const struct {
    const char* name;
    std::vector<uint8_t> file;
    int channels;
  } chains[] = {
      {"stereo, mono, stereo", Joined({&stereo, &mono, &stereo_again}), 2},
      {"mono, stereo, 5.1", Joined({&mono, &stereo, &surround}), 1},
      {"stereo, 5.1, mono", Joined({&stereo, &surround, &mono}), 2},
  };
  for (const auto& chain : chains) {
    SCOPED_TRACE(chain.name);
    std::vector<int64_t> joins;
    const std::vector<uint8_t> expected = LibraryRead(chain.file, chain.channels, &joins);
    ASSERT_EQ(joins.size(), 3u);
    const int64_t length = static_cast<int64_t>(expected.size()) / (2 * chain.channels);
    EXPECT_GT(length, 22050 * 5);
    log_.Clear();
    ExpectPlays(chain.file, expected, chain.channels, SeekFrames(length, joins));
    EXPECT_EQ(Lines("Sound file"), 0u) << log_.Debug();
    // 8-bit output is mixed in its own words.
    const std::vector<uint8_t> bytes = LibraryRead(chain.file, chain.channels, nullptr, 1);
    ASSERT_EQ(static_cast<int64_t>(bytes.size()), length * chain.channels);
    OggPcmWordSize = 1;
    SoundStream stream{};
    stream.ops = *GetMemoryStreamTable();
    stream.handle = MemoryStreamOpen(chain.file.data(), chain.file.size());
    PcmDecoderRecord record{};
    EXPECT_EQ(OpenPcmDecoder(&stream, &record), 0);
    OggPcmWordSize = 2;
    EXPECT_EQ(GetPcmDecoderLength(&record), static_cast<int32_t>(bytes.size()));
    std::vector<uint8_t> whole(bytes.size() + 100);
    whole.resize(static_cast<size_t>(std::max(0, RunPcmDecoder(&record, whole.data(), static_cast<int32_t>(whole.size())))));
    EXPECT_TRUE(whole == bytes) << "8-bit output differs from the library's";
    ClosePcmDecoder(&record);
    stream.ops.close(stream.handle);
    // So is a stream that cannot seek, link by link as the library reads it.
    stream.ops = *GetMemoryStreamTable();
    stream.ops.seek = [](StreamHandle, int64_t, int) { return -1; };
    stream.handle = MemoryStreamOpen(chain.file.data(), chain.file.size());
    record = PcmDecoderRecord{};
    ASSERT_EQ(OpenPcmDecoder(&stream, &record), 0);
    whole.clear();
    std::vector<uint8_t> part(5000);
    for (int32_t got; (got = RunPcmDecoder(&record, part.data(), 5000)) > 0;)
      whole.insert(whole.end(), part.begin(), part.begin() + got);
    EXPECT_TRUE(whole == expected) << "a stream that cannot seek differs from the library's read";
    ClosePcmDecoder(&record);
    stream.ops.close(stream.handle);
  }
  // A link of 11 channels, which have no layout and so no mix, ends the
  // sound before it, with a line.
  const std::vector<uint8_t> eleven = Encode(11, 1, 15).bytes;
  const std::vector<uint8_t> file = Joined({&stereo, &eleven, &stereo_again});
  SetSoundFileNameForLog("eleven.ogg");
  log_.Clear();
  ExpectPlays(file, LibraryRead(stereo, 2), 2, {0, 22050, 44099});
  EXPECT_EQ(Lines("Sound file eleven.ogg is a chained Ogg whose link 2 has sound of 11 channels after sound of 2; the "
                  "sound ends before it"), 1u) << log_.Debug();
  SetSoundFileNameForLog(nullptr);
}


// The next link's first pages among a link's pages (its headers alone, or
// with its first audio page): the library's read leaves the link at the
// first of them and plays the whole next link, and so does the sound, with a
// line saying so.
TEST_F(OggChainTest, ALinkWhoseFirstPagesLieAmongTheLinkBeforePlaysAsTheLibraryReadsIt) {
  // A long link, so that the library's search for the next link's start
  // passes over the pages among it.
  const MadeStream first = Encode(2, 10, 21, false, true);
  for (const int channels : {2, 1}) {
    const MadeStream next = Encode(channels, 2, 22 + channels);
    const std::vector<size_t> pages = PageStarts(first.bytes);
    const std::vector<size_t> next_pages = PageStarts(next.bytes);
    const size_t audio_page = static_cast<size_t>(
        std::find(next_pages.begin(), next_pages.end(), next.audio_at) - next_pages.begin());
    for (const size_t among : {audio_page, audio_page + 1}) {
      SCOPED_TRACE(testing::Message() << channels << " channels, " << among << " pages among the link before");
      const auto cut = static_cast<long>(pages[4]);
      std::vector<uint8_t> file(first.bytes.begin(), first.bytes.begin() + cut);
      file.insert(file.end(), next.bytes.begin(), next.bytes.begin() + static_cast<long>(next_pages[among]));
      file.insert(file.end(), first.bytes.begin() + cut, first.bytes.end());
      file.insert(file.end(), next.bytes.begin(), next.bytes.end());
      std::vector<int64_t> joins;
      const std::vector<uint8_t> expected = LibraryRead(file, 2, &joins);
      ASSERT_EQ(joins.size(), 2u);
      ASSERT_GT(expected.size(), LibraryRead(next.bytes, 2).size());
      SetSoundFileNameForLog("tangled.ogg");
      log_.Clear();
      ExpectPlays(file, expected, 2, SeekFrames(static_cast<int64_t>(expected.size() / 4), joins));
      EXPECT_EQ(Lines("Sound file tangled.ogg is a chained Ogg whose link 1 holds pages of the next link among its "
                      "own; the sound goes on with the next link from there"), 1u) << log_.Debug();
      SetSoundFileNameForLog(nullptr);
    }
  }
}

// A stereo link whose one audio page holds only its first packet gives no
// sound: the sound takes the format of the mono link after it, whatever the
// library's open leaves as its current link, and reports what it plays.
TEST_F(OggChainTest, TheSoundTakesTheFormatOfTheFirstLinkWithSound) {
  const std::vector<uint8_t> silent = Encode(2, 1, 31, true).bytes, mono = Encode(1, 2, 32).bytes;
  const std::vector<uint8_t> file = Joined({&silent, &mono});
  const std::vector<uint8_t> expected = LibraryRead(file, 1);
  ASSERT_EQ(expected, LibraryRead(mono, 1));
  ExpectPlays(file, expected, 1, SeekFrames(static_cast<int64_t>(expected.size() / 2), {}));
}

// A link whose granule positions libvorbis takes in a sum or difference
// that overflows: its first audio page's at INT64_MIN (the start trim) or
// INT64_MAX (the next page's sum), a middle page's at INT64_MAX, its last
// page's at INT64_MIN (the end trim). The sound is what the library reads,
// and seeks land on the sample, in that link too.
TEST_F(OggChainTest, AForgedGranulePositionGivesNoWrongSeek) {
  const std::vector<uint8_t> first = Encode(2, 2, 41).bytes, last = Encode(2, 2, 43).bytes;
  const MadeStream middle = Encode(2, 3, 42);
  const std::vector<size_t> pages = PageStarts(middle.bytes);
  const size_t middle_page = pages[pages.size() / 2], last_page = pages.end()[-2];
  for (const auto& [name, page, granule] : {std::tuple{"first at INT64_MIN", middle.audio_at, INT64_MIN},
                                            {"first at INT64_MAX", middle.audio_at, INT64_MAX},
                                            {"middle at INT64_MAX", middle_page, INT64_MAX},
                                            {"last at INT64_MIN", last_page, INT64_MIN}}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> forged = middle.bytes;
    SetGranule(&forged, page, granule);
    const std::vector<uint8_t> file = Joined({&first, &forged, &last});
    std::vector<int64_t> joins;
    const std::vector<uint8_t> expected = LibraryRead(file, 2, &joins);
    ASSERT_EQ(joins.size(), 3u);
    std::vector<int64_t> frames = SeekFrames(static_cast<int64_t>(expected.size() / 4), joins);
    for (int64_t f = joins[1]; f < joins[2]; f += 997) frames.push_back(f);
    ExpectPlays(file, expected, 2, frames);
  }
}

}  // namespace
