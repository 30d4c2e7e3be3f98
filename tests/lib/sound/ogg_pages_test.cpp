// tests/lib/sound/ogg_pages_test.cpp - Ogg Vorbis files with pages cut off,
// damaged or trimmed at the start, made from oggenc's output, cut by the
// ffmpeg command, and a real one whose granule positions disagree with its
// packets: refused with a line when nothing decodes, loaded past a gap with
// a line, and decoded the same whole, as a stream and after seeks, checked
// against oggdec and a decode written from the format's rules; chains
// checked against libvorbisfile's own read.
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisfile.h>

#include <climits>
#include <cmath>

#include "lib/sound/ogg_header_guard.h"
#include "lib/sound/ogg_link_ends.h"
#include "lib/sound/ogg_packet_decoder.h"
#include "tests/lib/sound/sound_fixture.h"
#include "tests/lib/sound/ogg_page_edit.h"
#include "tests/lib/sound/vorbisfile_memory.h"

namespace {

using namespace soundtest;

void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

int64_t Granule(const std::vector<uint8_t>& file, size_t page) {
  int64_t g = 0;
  std::memcpy(&g, file.data() + page + 6, 8);
  return g;
}

// Where the pages of the file's first stream that a packet ends on start,
// past its three header packets (whatever granule positions they carry).
std::vector<size_t> GranulePages(const std::vector<uint8_t>& file) {
  std::vector<size_t> out;
  const std::vector<size_t> pages = PageStarts(file);
  int ends = 0;
  for (size_t i = 0; i + 1 < pages.size(); ++i) {
    const uint8_t* page = file.data() + pages[i];
    if (std::memcmp(page + 14, file.data() + pages[0] + 14, 4) != 0) continue;
    int here = 0;
    for (int s = 0; s < page[26]; ++s) here += page[27 + s] < 255 ? 1 : 0;
    if (ends >= 3 && here > 0) out.push_back(pages[i]);
    ends += here;
  }
  return out;
}

// What an Ogg's sound is, straight from the format's rules: libvorbis's
// decode of every audio packet with nothing trimmed (16-bit, rounded as
// oggdec rounds), from the start trim its first audio page's granule
// position gives (the samples that page completes less its granule
// position) up to the end of the packets, less the end trim its last
// granule position gives counted from the page before it. A first audio
// page that is also the last is cut at its end instead. `gaps` gets the
// samples after which pages are missing.
std::vector<uint8_t> Yardstick(const std::vector<uint8_t>& file, std::vector<int64_t>* gaps = nullptr) {
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  std::memcpy(ogg_sync_buffer(&sync, static_cast<long>(file.size())), file.data(), file.size());
  ogg_sync_wrote(&sync, static_cast<long>(file.size()));
  ogg_stream_state os{};
  bool found = false;
  vorbis_info info;
  vorbis_comment comment;
  vorbis_info_init(&info);
  vorbis_comment_init(&comment);
  vorbis_dsp_state dsp{};
  vorbis_block block{};
  int headers = 0;
  // offset: the first audio page's granule position less samples; before:
  // the page's before the last one
  int64_t decoded = 0, offset = INT64_MIN, before = INT64_MIN, last = -1, last_decoded = 0;
  std::vector<int16_t> pcm;
  ogg_page page;
  ogg_packet packet;
  for (int got; (got = ogg_sync_pageout(&sync, &page)) != 0;) {
    if (got < 0) continue;
    if (!found) {
      if (!ogg_page_bos(&page)) continue;
      ogg_stream_init(&os, ogg_page_serialno(&page));
      ogg_stream_pagein(&os, &page);
      if (ogg_stream_packetpeek(&os, &packet) == 1 && vorbis_synthesis_idheader(&packet)) {
        found = true;
      } else {
        ogg_stream_clear(&os);
        continue;
      }
    } else if (ogg_page_serialno(&page) != os.serialno || ogg_stream_pagein(&os, &page) != 0) {
      continue;
    }
    for (int next; (next = ogg_stream_packetout(&os, &packet)) != 0;) {
      if (next < 0) {
        if (gaps != nullptr) gaps->push_back(decoded);
        continue;
      }
      if (headers < 3) {
        EXPECT_EQ(vorbis_synthesis_headerin(&info, &comment, &packet), 0);
        if (++headers == 3) {
          vorbis_synthesis_init(&dsp, &info);
          vorbis_block_init(&dsp, &block);
        }
        continue;
      }
      const int64_t granule = packet.granulepos;
      const bool last_page = packet.e_o_s != 0;
      packet.granulepos = -1;
      packet.e_o_s = 0;
      if (vorbis_synthesis(&block, &packet) == 0) vorbis_synthesis_blockin(&dsp, &block);
      float** out;
      for (int n; (n = vorbis_synthesis_pcmout(&dsp, &out)) > 0; decoded += n) {
        for (int j = 0; j < n; ++j)
          for (int i = 0; i < info.channels; ++i)
            pcm.push_back(static_cast<int16_t>(std::clamp(std::lrint(out[i][j] * 32768.0f), -32768L, 32767L)));
        vorbis_synthesis_read(&dsp, n);
      }
      if (granule == -1) continue;
      if (offset == INT64_MIN) offset = last_page ? 0 : granule - decoded;
      if (last != -1) before = last - last_decoded;
      last = granule;
      last_decoded = decoded;
    }
  }
  const int channels = info.channels;
  if (headers == 3) {
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
  }
  if (found) ogg_stream_clear(&os);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  ogg_sync_clear(&sync);
  const int64_t start = std::max<int64_t>(0, -offset);
  const int64_t end = std::min(decoded, last - (before == INT64_MIN ? offset : before));
  if (gaps != nullptr)
    for (int64_t& gap : *gaps) gap = std::max<int64_t>(0, gap - start);
  if (offset == INT64_MIN || end <= start) return {};
  const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
  return std::vector<uint8_t>(bytes + start * channels * 2, bytes + end * channels * 2);
}

// The decoder library's own open and read of a file from its start: its
// 16-bit sound.
std::vector<uint8_t> LibraryDecode(const std::vector<uint8_t>& file) {
  MemorySource source{&file, 0};
  std::vector<uint8_t> sound;
  OggVorbis_File vf;
  if (ov_open_callbacks(&source, &vf, nullptr, 0, MemoryCallbacks()) != 0) return sound;
  char buffer[8192];
  int section = 0;
  for (long got; (got = ov_read(&vf, buffer, sizeof buffer, 0, 2, 1, &section)) != 0 && got != OV_EBADLINK;)
    if (got > 0) sound.insert(sound.end(), buffer, buffer + got);
  ov_clear(&vf);
  return sound;
}

class OggPagesTest : public SoundFixture {
 protected:
  // Makes `name`.ogg (stereo, 22050 Hz) and oggdec's decode of it.
  std::vector<uint8_t> Make(const std::string& name, double seconds, std::vector<uint8_t>* decoded) {
    EXPECT_TRUE(Sox("-n -r 22050 -c 2 -b 16 " + name + ".wav synth " + std::to_string(seconds) +
                    " sine 200-4000 vol 0.5"));
    EXPECT_TRUE(Shell("oggenc -Q -q 2 -o " + name + ".ogg " + name + ".wav"));
    EXPECT_TRUE(Shell("oggdec -Q -R -o " + name + ".raw " + name + ".ogg"));
    *decoded = ReadAll(name + ".raw");
    return ReadAll(name + ".ogg");
  }
  size_t Lines(const std::string& text) const { return log_.Count(text); }
  // The length in bytes a converter reports for a file, or -1 when none
  // opens it.
  int32_t ReportedLength(const std::vector<uint8_t>& file) {
    SoundStream stream{};
    stream.ops = *GetMemoryStreamTable();
    stream.handle = MemoryStreamOpen(file.data(), file.size());
    PcmDecoderRecord record{};
    int32_t length = -1;
    if (OpenPcmDecoder(&stream, &record) == 0) {
      length = GetPcmDecoderLength(&record);
      ClosePcmDecoder(&record);
    }
    stream.ops.close(stream.handle);
    return length;
  }
  // A file whose converter reports `expected`'s length and gives it, as a
  // stream and as a whole load.
  void ExpectDelivered(const std::vector<uint8_t>& file, const std::vector<uint8_t>& expected) {
    EXPECT_EQ(ReportedLength(file), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(Streamed(file), expected);
    const int handle = Load(file);
    EXPECT_NE(handle, -1);
    if (handle == -1) return;
    EXPECT_EQ(BufferBytes(handle), expected);
    DeleteSoundHandle(handle, 0);
  }
  // The whole decode of a file through a converter, from its start to its
  // end, as a stream sound reads it.
  std::vector<uint8_t> Streamed(const std::vector<uint8_t>& file, int32_t seek = 0) {
    SoundStream stream{};
    stream.ops = *GetMemoryStreamTable();
    stream.handle = MemoryStreamOpen(file.data(), file.size());
    PcmDecoderRecord record{};
    std::vector<uint8_t> out;
    if (OpenPcmDecoder(&stream, &record) == 0) {
      if (seek != 0) SeekPcmDecoder(&record, seek);
      std::vector<uint8_t> part(5000);
      int32_t got;
      while ((got = RunPcmDecoder(&record, part.data(), 5000)) > 0)
        out.insert(out.end(), part.begin(), part.begin() + got);
      ClosePcmDecoder(&record);
    }
    stream.ops.close(stream.handle);
    return out;
  }
};

// Headers with no whole audio page after them, or with the only audio page
// damaged, decode to nothing: refused whole and as a stream, with one line
// naming the file before the load's own two, and no converter after the Ogg
// one takes them.
TEST_F(OggPagesTest, HeadersWithoutAudioAreRefusedWithALine) {
  std::vector<uint8_t> decoded;
  const std::vector<uint8_t> one = Make("one", 1.5, &decoded);
  std::vector<size_t> pages = PageStarts(one);
  ASSERT_EQ(pages.size(), 4u);  // identification, comments and setup, one audio page, the end
  std::vector<uint8_t> damaged = one;
  damaged[(pages[2] + pages[3]) / 2] ^= 0x10;
  WriteFile("damaged.ogg", damaged);
  const std::vector<uint8_t> longer = Make("longer", 6, &decoded);
  pages = PageStarts(longer);
  ASSERT_GT(pages.size(), 4u);
  WriteFile("cut.ogg", std::vector<uint8_t>(longer.begin(), longer.begin() + static_cast<long>(pages[2] + 100)));
  for (const std::string name : {"damaged.ogg", "cut.ogg"}) {
    for (int mode : {0, 2}) {
      SCOPED_TRACE(name + " in mode " + std::to_string(mode));
      ASSERT_EQ(SetSoundCreateMode(mode), 0);
      log_.Clear();
      EXPECT_EQ(LoadSoundHandle(name.c_str(), 1, -1), -1);
      // The load's own two lines follow, and nothing else.
      const std::string load_lines =
          mode == 0 ? "音声ファイルのＰＣＭへの変換に失敗しました\n右記の音声ファイルのロードに失敗しました_2：" + name
                    : "音声データのオープンに失敗しました\n右記のＷＡＶファイルのセットアップに失敗しました：" + name +
                          " \n";
      EXPECT_EQ(testsupport::StripStamps(log_.Debug()),
                LogText("Sound file " + name + " has Vorbis headers but no audio page that decodes; refused\n" +
                        load_lines + "\n"));
    }
  }
}

// A changed byte in an audio page fails its check: the sound loads as
// oggdec decodes it, past the gap, with one line naming the file and where
// the gap falls (the first audio page, which the decoder library passes
// over without a word, included); whole, and as a stream sound played
// through, which reports the length it gives. A damaged or cut last page
// gets a line of its own.
TEST_F(OggPagesTest, ADamagedPageLoadsPastTheGapWithALine) {
  std::vector<uint8_t> decoded;
  std::vector<uint8_t> file = Make("gap", 9, &decoded);
  std::vector<uint8_t> last = file;
  const std::vector<size_t> pages = PageStarts(file);
  ASSERT_GT(pages.size(), 5u);
  std::vector<uint8_t> first = file;
  first[(pages[2] + pages[3]) / 2] ^= 0x10;
  WriteFile("first.ogg", first);
  ASSERT_TRUE(Shell("oggdec -Q -R -o first.raw first.ogg"));
  int handle = LoadSoundHandle("first.ogg", 1, -1);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(BufferBytes(handle), ReadAll("first.raw"));
  EXPECT_EQ(Lines("Sound file first.ogg has a damaged or missing Ogg page after sample 0; loading on past the gap"),
            1u)
      << log_.Debug();
  EXPECT_EQ(Lines("Sound file"), 1u) << log_.Debug();
  DeleteSoundHandle(handle, 0);
  log_.Clear();

  file[(pages[3] + pages[4]) / 2] ^= 0x10;
  WriteFile("gap.ogg", file);
  ASSERT_TRUE(Shell("oggdec -Q -R -o gap.raw gap.ogg"));
  const std::vector<uint8_t> reference = ReadAll("gap.raw");
  ASSERT_LT(reference.size(), decoded.size());
  handle = LoadSoundHandle("gap.ogg", 1, -1);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(BufferBytes(handle), reference);
  const std::string line = "Sound file gap.ogg has a damaged or missing Ogg page after sample " +
                           std::to_string(Granule(file, pages[2])) + "; loading on past the gap";
  EXPECT_EQ(Lines(line), 1u) << log_.Debug();
  EXPECT_EQ(Lines("Sound file"), 1u) << log_.Debug();
  DeleteSoundHandle(handle, 0);

  ASSERT_EQ(SetSoundCreateMode(2), 0);
  log_.Clear();
  const int stream = LoadSoundHandle("gap.ogg", 1, -1);
  ASSERT_NE(stream, -1);
  // The length it reports is what it gives: the gap's samples are counted out.
  EXPECT_EQ(GetSoundHandleSampleLength(stream), static_cast<int>(reference.size() / 4));
  // Played through (the output runs at twice the file's rate).
  ASSERT_EQ(PlaySoundHandle(stream, 1, 1), 0);
  for (size_t frames = 0; frames < reference.size() / 2 && IsSoundHandlePlaying(stream) == 1; frames += 735) {
    RefillAllStreamSounds();
    Render(735);
  }
  EXPECT_EQ(Lines(line), 1u) << log_.Debug();
  EXPECT_EQ(Streamed(file), reference);
  DeleteSoundHandle(stream, 0);

  // The last page damaged, or cut off, leaves no hole for the decoder to
  // report: the missing end of the stream gets the line.
  ASSERT_EQ(SetSoundCreateMode(0), 0);
  last[(pages[pages.size() - 2] + pages.back()) / 2] ^= 0x10;
  WriteFile("last.ogg", last);
  WriteFile("cut.ogg", std::vector<uint8_t>(last.begin(), last.end() - 10));
  ASSERT_TRUE(Shell("oggdec -Q -R -o last.raw last.ogg"));
  for (const std::string name : {"last.ogg", "cut.ogg"}) {
    log_.Clear();
    const int h = LoadSoundHandle(name.c_str(), 1, -1);
    ASSERT_NE(h, -1);
    EXPECT_EQ(BufferBytes(h), ReadAll("last.raw")) << name;
    EXPECT_EQ(Lines("Sound file " + name + " lacks the last page of its Ogg stream (damaged or cut off); "
                    "loading what decodes"), 1u) << log_.Debug();
    EXPECT_EQ(Lines("Sound file"), 1u) << log_.Debug();
  }
}

// A file too long for whole buffers is decoded whole, then opened again as
// a stream sound while it loads. Each of two damaged pages gets one line,
// none a second when the stream is read through twice after the load, nor
// when the file is loaded as a stream only and read through twice; a
// missing last page gets one line; a whole last page followed by more than
// 512 KiB of other bytes gets none.
TEST_F(OggPagesTest, ALongFileNamesEachGapAndItsMissingLastPageOnce) {
  ASSERT_TRUE(Sox("-n -r 8000 -c 1 -b 16 long.wav synth 10 sine 200-2000 vol 0.5 repeat 19"));
  ASSERT_TRUE(Shell("oggenc -Q -q 0 -o long.ogg long.wav"));
  const std::vector<uint8_t> whole = ReadAll("long.ogg");
  const std::vector<size_t> pages = PageStarts(whole);
  ASSERT_GT(pages.size(), 12u);
  std::vector<uint8_t> file = whole;
  const size_t damaged[] = {4, pages.size() - 5};
  for (size_t page : damaged) file[(pages[page] + pages[page + 1]) / 2] ^= 0x10;
  WriteFile("gaps.ogg", file);
  std::vector<int64_t> gaps;
  Yardstick(file, &gaps);
  ASSERT_EQ(gaps.size(), 2u);
  EXPECT_EQ(gaps[0], Granule(whole, pages[damaged[0] - 1]));
  // Loaded whole and then as a stream, and as a stream only.
  int handle = -1;
  for (int mode : {0, 2}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(SetSoundCreateMode(mode), 0);
    log_.Clear();
    handle = LoadSoundHandle("gaps.ogg", 1, -1);
    ASSERT_NE(handle, -1);
    ASSERT_EQ(FindSound(handle)->kind, kSoundStream);
    PcmDecoderRecord* stream = &FindSound(handle)->stream.files[0].decoder;
    std::vector<uint8_t> piece(8000);
    for (int pass = 0; pass < 2; ++pass) {
      SeekPcmDecoder(stream, 0);
      while (RunPcmDecoder(stream, piece.data(), 8000) > 0) {
      }
    }
    for (int64_t gap : gaps)
      EXPECT_EQ(Lines("Sound file gaps.ogg has a damaged or missing Ogg page after sample " + std::to_string(gap) + ";"),
                1u) << log_.Debug();
    EXPECT_EQ(Lines("Sound file"), 2u) << log_.Debug();
    DeleteSoundHandle(handle, 0);
  }
  ASSERT_EQ(SetSoundCreateMode(0), 0);

  file = whole;
  file[(pages[pages.size() - 2] + pages.back()) / 2] ^= 0x10;
  WriteFile("last.ogg", file);
  log_.Clear();
  handle = LoadSoundHandle("last.ogg", 1, -1);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(Lines("Sound file last.ogg lacks the last page of its Ogg stream"), 1u) << log_.Debug();
  DeleteSoundHandle(handle, 0);

  file = whole;
  file.resize(whole.size() + (600 << 10), 0x55);
  WriteFile("padded.ogg", file);
  log_.Clear();
  handle = LoadSoundHandle("padded.ogg", 1, -1);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(GetSoundHandleSampleLength(handle), static_cast<int>(Granule(whole, pages[pages.size() - 2])));
  EXPECT_EQ(Lines("Sound file"), 0u) << log_.Debug();
  DeleteSoundHandle(handle, 0);
}

// Ogg files whose first audio page's granule position gives a start trim,
// or whose granule positions disagree with their packets, give the
// yardstick's samples (above): loaded whole, read as a stream from the
// start, and after seeks (into the first page, far on, back, past the
// end), and report the length they give. The made file has every granule
// position 2,458 below oggenc's (the yardstick of the file before that is
// oggdec's decode); the stream copy by the ffmpeg command from 5.5 s starts
// with two pages of negative granule positions; the real voice's later
// pages sit 3,246 samples below its packets, its first 788. The ffmpeg
// command's copy of a sound of one audio page gives its last page a granule
// position 2^32 beyond its packets: its sound ends with them. A first audio
// page that is also the last is cut at its end, as oggdec cuts it. Bytes
// before the first page, and a damaged page, move every page after them:
// seeks there decode from the page they mean.
TEST_F(OggPagesTest, OggsGiveTheirPacketsFromTheStartTrimToTheLastGranulePosition) {
  std::vector<uint8_t> untrimmed;
  std::vector<uint8_t> made = Make("trim", 6, &untrimmed);
  EXPECT_EQ(Yardstick(made), untrimmed);
  const std::vector<size_t> pages = PageStarts(made);
  ASSERT_GT(pages.size(), 5u);
  std::vector<uint8_t> damaged = made;  // its second audio page, of three
  damaged[(pages[3] + pages[4]) / 2] ^= 0x10;
  for (size_t i = 2; i + 1 < pages.size(); ++i) SetGranule(&made, pages[i], Granule(made, pages[i]) - 2458);
  ASSERT_TRUE(Sox("-n -r 22050 -c 2 -b 16 sweep.wav synth 9 sine 100-8000 vol 0.5"));
  ASSERT_TRUE(Shell("oggenc -Q -q 0 -o sweep.ogg sweep.wav"));
  ASSERT_TRUE(Shell("ffmpeg -loglevel error -y -ss 5.5 -i sweep.ogg -c copy cut.ogg"));
  const std::vector<uint8_t> cut = ReadAll("cut.ogg");
  ASSERT_LT(Granule(cut, PageStarts(cut)[3]), 0);
  ASSERT_TRUE(Sox("-n -r 22050 -c 2 -b 16 one.wav synth 1 sine 300-3000"));
  ASSERT_TRUE(Shell("oggenc -Q -q 0 -o one.ogg one.wav"));
  ASSERT_TRUE(Shell("ffmpeg -loglevel error -y -ss 0.3 -i one.ogg -c copy copy.ogg"));
  const std::vector<uint8_t> copy = ReadAll("copy.ogg");
  ASSERT_GT(Granule(copy, PageStarts(copy).end()[-2]), int64_t{1} << 32);
  const std::vector<uint8_t> voice = ReadAll(RORUD_SOURCE_DIR "/tests/lib/sound/data/granule-start.ogg");
  const std::vector<uint8_t> one = Make("one", 0.4, &untrimmed);
  ASSERT_EQ(PageStarts(one).size(), 4u);
  EXPECT_EQ(Yardstick(one), untrimmed);
  // Followed by 1 MiB of other bytes, a file is too long to be scanned whole
  // when it opens: its pages are looked up as seeks need them.
  std::vector<uint8_t> long_cut = cut, long_voice = voice;
  long_cut.resize(cut.size() + (1 << 20), 0x55);
  long_voice.resize(voice.size() + (1 << 20), 0x55);
  std::vector<uint8_t> after_bytes(5000, 0x55);
  after_bytes.insert(after_bytes.end(), made.begin(), made.end());
  for (const auto& [name, file] :
       {std::pair{"made", made}, {"cut", cut}, {"voice", voice}, {"copy", copy}, {"one page", one},
        {"long cut", long_cut}, {"long voice", long_voice}, {"bytes before", after_bytes}, {"damaged", damaged}}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> expected = Yardstick(file);
    const auto frames = static_cast<int32_t>(expected.size() / 4);
    ASSERT_GT(frames, 8000);
    const int handle = Load(file);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(BufferBytes(handle), expected);
    DeleteSoundHandle(handle, 0);
    ASSERT_EQ(SetSoundCreateMode(2), 0);
    const int stream = Load(file);
    EXPECT_EQ(GetSoundHandleSampleLength(stream), frames);
    DeleteSoundHandle(stream, 0);
    ASSERT_EQ(SetSoundCreateMode(0), 0);
    EXPECT_EQ(Streamed(file), expected);

    SoundStream source{};
    source.ops = *GetMemoryStreamTable();
    source.handle = MemoryStreamOpen(file.data(), file.size());
    PcmDecoderRecord record{};
    ASSERT_EQ(OpenPcmDecoder(&source, &record), 0);
    EXPECT_EQ(GetPcmDecoderLength(&record), frames * 4);
    const auto page_end = static_cast<int32_t>(Granule(file, PageStarts(file)[2]));
    std::vector<uint8_t> got(3000 * 4);
    for (int32_t seek : {100, page_end - 10, page_end, page_end + 1, frames / 2, 7, frames - 1, frames - 1000,
                         1 << 30, 0, frames / 3}) {
      if (seek < 0) continue;
      SCOPED_TRACE(seek);
      ASSERT_EQ(SeekPcmDecoder(&record, seek), 0);
      got.resize(static_cast<size_t>(RunPcmDecoder(&record, got.data(), 3000 * 4)));
      const size_t from = std::min<size_t>(static_cast<size_t>(seek) * 4, expected.size());
      EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin() + static_cast<long>(from),
                             expected.begin() + static_cast<long>(std::min(from + 3000 * 4, expected.size()))));
      got.resize(3000 * 4);
    }
    ClosePcmDecoder(&record);
    source.ops.close(source.handle);
  }
}

// A file long enough to be read by its last granule position (a voice
// whose first page trims its start), whose last granule position lies
// 3 x 2^29 frames past its packets: its length in bytes is past 32 bits, yet
// it reports and delivers what its last pages hold, the length and the sound
// it had before the granule position was raised, and as a stream sound it
// plays. With the start's 8-bit setting a file decodes to oggdec's unsigned
// 8-bit samples.
TEST_F(OggPagesTest, AFarLastGranuleStillPlaysAndEightBitOutputIsUnsigned) {
  std::vector<uint8_t> file = ReadAll(RORUD_SOURCE_DIR "/tests/lib/sound/data/granule-start.ogg");
  const size_t last = PageStarts(file).end()[-2];
  file.resize(file.size() + (1 << 20), 0x55);
  const std::vector<uint8_t> expected = Yardstick(file);
  SetGranule(&file, last, Granule(file, last) + 3 * (int64_t{1} << 29));
  ASSERT_GT(expected.size(), 40000u * 4);
  EXPECT_EQ(Streamed(file), expected);
  ASSERT_EQ(SetSoundCreateMode(2), 0);
  const int stream = Load(file);
  ASSERT_NE(stream, -1);
  EXPECT_GE(GetSoundHandleSampleLength(stream), static_cast<int>(expected.size() / 4));
  EXPECT_LE(GetSoundHandleSampleLength(stream), static_cast<int>(expected.size() / 4) + 4096);
  ASSERT_EQ(PlaySoundHandle(stream, 1, 1), 0);
  int peak = 0;
  for (int period = 0; period < 40; ++period) {
    RefillAllStreamSounds();
    for (int16_t s : Render(735)) peak = std::max(peak, std::abs(static_cast<int>(s)));
  }
  EXPECT_GT(peak, 1000);
  DeleteSoundHandle(stream, 0);
  ASSERT_EQ(SetSoundCreateMode(0), 0);

  std::vector<uint8_t> decoded;
  const std::vector<uint8_t> made = Make("eight", 1, &decoded);
  ASSERT_TRUE(Shell("oggdec -Q -R -b 8 -s 0 -o eight.u8 eight.ogg"));
  OggPcmWordSize = 1;
  const std::vector<uint8_t> eight = Streamed(made);
  OggPcmWordSize = 2;
  EXPECT_EQ(eight, ReadAll("eight.u8"));
}

// A file too long to be scanned whole when it opens (here followed by
// 1 MiB of other bytes) reports at most what its last pages hold: with its
// last granule position raised by 2 s, 30 s or 2^32 (the page sealed again)
// it gives the length and the sound of its packets, through the converter and in a
// whole load: what its packets give, the end trim lost. A first audio page
// that is also the last keeps its granule position as the end.
TEST_F(OggPagesTest, ALongFileReportsNoMoreThanItsLastPagesHold) {
  std::vector<uint8_t> decoded;
  std::vector<uint8_t> file = Make("raised", 6, &decoded);
  const std::vector<uint8_t> one = Make("one", 0.4, &decoded);
  const std::vector<uint8_t> one_expected = Yardstick(one);
  const size_t last = PageStarts(file).end()[-2];
  const size_t trimmed = Yardstick(file).size();
  file.resize(file.size() + (1 << 20), 0x55);
  for (int64_t raise : {int64_t{2 * 22050}, int64_t{30 * 22050}, int64_t{1} << 32}) {
    SCOPED_TRACE(raise);
    std::vector<uint8_t> forged = file;
    SetGranule(&forged, last, Granule(file, last) + raise);
    // The sound runs to the end of the packets, past the end trim it had.
    const std::vector<uint8_t> expected = Yardstick(forged);
    ASSERT_GT(expected.size(), trimmed);
    ASSERT_LT(expected.size(), trimmed + 4096);
    ExpectDelivered(forged, expected);
  }
  std::vector<uint8_t> padded = one;
  padded.resize(one.size() + (1 << 20), 0x55);
  ASSERT_EQ(PageStarts(one).size(), 4u);
  ASSERT_EQ(one_expected.size() / 4, static_cast<size_t>(Granule(one, PageStarts(one)[2])));
  EXPECT_EQ(Streamed(padded), one_expected);
}

// A movie's sound, in the way a movie holds it: the Vorbis stream's pages
// of `sound`, each audio page but the last followed by pages of another
// stream (standing in for the pictures) holding a packet of `gap` bytes,
// and the last by pictures of `after` bytes.
std::vector<uint8_t> WithPicturesBetween(const std::vector<uint8_t>& sound, long gap, long after = 0) {
  const std::vector<size_t> pages = PageStarts(sound);
  int32_t serial = 0;
  std::memcpy(&serial, sound.data() + pages[0] + 14, 4);
  ogg_stream_state pictures;
  ogg_stream_init(&pictures, serial + 1);
  std::vector<uint8_t> out;
  ogg_page page;
  int64_t number = 0;
  auto put_pictures = [&](long bytes, bool first) {
    std::vector<uint8_t> data(static_cast<size_t>(bytes), 0x33);
    ogg_packet packet{data.data(), bytes, first ? 1 : 0, 0, number, number};
    ++number;
    ogg_stream_packetin(&pictures, &packet);
    while (ogg_stream_flush(&pictures, &page) != 0) {
      out.insert(out.end(), page.header, page.header + page.header_len);
      out.insert(out.end(), page.body, page.body + page.body_len);
    }
  };
  for (size_t i = 0; i + 1 < pages.size(); ++i) {
    out.insert(out.end(), sound.begin() + static_cast<long>(pages[i]), sound.begin() + static_cast<long>(pages[i + 1]));
    if (i == 0) put_pictures(30, true);  // the first pages of every stream come first
    if (i >= 2 && i + 2 < pages.size()) put_pictures(gap, false);
  }
  if (after > 0) put_pictures(after, false);
  ogg_stream_clear(&pictures);
  return out;
}

// A movie whose sound pages lie 70 KB apart among its pictures (12 s of
// sound; followed by 1 MiB of other bytes, too long to be scanned whole
// when it opens) reports
// and gives the sound its packets hold: as written, the sound up to its
// last granule position, not cut short; with its last granule position
// raised by 30 s, the sound up to the end of its packets, not 30 s longer.
// Near its end, 16 or 64 KiB before its last page hold no audio page but
// that one; 256 KiB hold the ones before. The same holds where its sound
// ends 2 MiB of pictures before the file does.
TEST_F(OggPagesTest, AMoviesSparseSoundPagesGiveTheSoundItsPacketsHold) {
  std::vector<uint8_t> decoded;
  const std::vector<uint8_t> sound = Make("sparse", 12, &decoded);
  ASSERT_EQ(PageStarts(sound).size(), 8u);  // 5 audio pages after the headers
  std::vector<uint8_t> padded = WithPicturesBetween(sound, 70000);
  padded.resize(padded.size() + (1 << 20), 0x55);
  for (const auto& [raise, movie] : {std::pair{int64_t{0}, padded}, {int64_t{30 * 22050}, padded},
                                     {int64_t{30 * 22050}, WithPicturesBetween(sound, 70000, 2 << 20)}}) {
    SCOPED_TRACE(testing::Message() << raise << " " << movie.size());
    const size_t last = GranulePages(movie).back();
    std::vector<uint8_t> forged = movie;
    SetGranule(&forged, last, Granule(movie, last) + raise);
    const std::vector<uint8_t> expected = Yardstick(forged);
    if (raise == 0) {
      EXPECT_EQ(expected, decoded);
    }
    ASSERT_GT(expected.size(), 11u * 22050 * 4);
    ASSERT_LT(expected.size(), 13u * 22050 * 4);
    EXPECT_EQ(ReportedLength(forged), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(Streamed(forged), expected);
  }
}

}  // namespace

// A chained file (two files one after the other) plays every link, as
// oggdec decodes each, and a stream of it stops at the length it reports.
TEST_F(OggPagesTest, AChainedFilePlaysEveryLinkAndStopsAtItsLength) {
  std::vector<uint8_t> a, b;
  std::vector<uint8_t> file = Make("link_a", 0.6, &a);
  const std::vector<uint8_t> second = Make("link_b", 0.9, &b);
  file.insert(file.end(), second.begin(), second.end());
  std::vector<uint8_t> both = a;
  both.insert(both.end(), b.begin(), b.end());
  EXPECT_EQ(Streamed(file), both);
  const int32_t second_start = static_cast<int32_t>(a.size() / 4);
  EXPECT_EQ(Streamed(file, second_start), b);
  WriteFile("chain.ogg", file);
  const int handle = LoadSoundHandle("chain.ogg", 1, -1);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(BufferBytes(handle), both);
  DeleteSoundHandle(handle, 0);

  // The fuzz seed's second link ends on a last granule position 2^32 past
  // its packets: the length is what its packets hold, and the stream stops
  // there.
  const std::vector<uint8_t> odd = ReadAll(RORUD_SOURCE_DIR "/tools/fuzz/corpus/wave/ogg-chained.ogg");
  const int odd_handle = Load(odd);
  ASSERT_NE(odd_handle, -1);
  EXPECT_EQ(Streamed(odd).size(), BufferBytes(odd_handle).size());
  DeleteSoundHandle(odd_handle, 0);
}

namespace {

// A last granule position no sum of samples reaches (2^60, 2^62 past the
// real one, the largest there is) or none (-1, as on a last page where no
// packet ends) reads to the last packet, whether the file is scanned whole
// when it opens or (followed by 1 MiB of other bytes) read from its last
// pages: the length, the stream and a whole load are what its packets hold.
TEST_F(OggPagesTest, ALastGranuleNoSumReachesOrNoneReadsToTheLastPacket) {
  std::vector<uint8_t> decoded;
  const std::vector<uint8_t> made = Make("unset", 3, &decoded);
  const size_t last = PageStarts(made).end()[-2];
  for (size_t padding : {size_t{0}, size_t{1} << 20}) {
    std::vector<uint8_t> file = made;
    file.resize(made.size() + padding, 0x55);
    std::vector<uint8_t> every = file;
    SetGranule(&every, last, INT64_MAX);
    const std::vector<uint8_t> expected = Yardstick(every);
    ASSERT_GT(expected.size(), Yardstick(file).size());
    for (int64_t granule : {int64_t{1} << 60, Granule(made, last) + (int64_t{1} << 62), INT64_MAX, int64_t{-1}}) {
      SCOPED_TRACE(testing::Message() << padding << " " << granule);
      std::vector<uint8_t> forged = file;
      SetGranule(&forged, last, granule);
      ExpectDelivered(forged, expected);
    }
  }
}

// Each link of a chain is bounded as a file is: a first link's last
// granule position raised by 30 s, or a second link's raised by 2^31 or
// none (-1), gives the length and the sound of the packets, and a seek
// 1000 frames before the end gives the last 1000 frames.
TEST_F(OggPagesTest, EachLinkOfAChainHoldsNoMoreThanItsPackets) {
  std::vector<uint8_t> a_decoded, b_decoded;
  const std::vector<uint8_t> a = Make("bound_a", 4, &a_decoded);
  const std::vector<uint8_t> b = Make("bound_b", 5, &b_decoded);
  const size_t a_last = PageStarts(a).end()[-2], b_last = PageStarts(b).end()[-2];
  struct Forge {
    bool first;
    int64_t granule;
  };
  for (const Forge& forge : {Forge{true, Granule(a, a_last) + 30 * 22050}, Forge{false, Granule(b, b_last) + (int64_t{1} << 31)},
                             Forge{false, -1}}) {
    SCOPED_TRACE(testing::Message() << forge.first << " " << forge.granule);
    std::vector<uint8_t> first = a, second = b;
    SetGranule(forge.first ? &first : &second, forge.first ? a_last : b_last, forge.granule);
    std::vector<uint8_t> every = forge.first ? first : second;
    SetGranule(&every, forge.first ? a_last : b_last, INT64_MAX);
    std::vector<uint8_t> expected = forge.first ? Yardstick(every) : a_decoded;
    const std::vector<uint8_t> tail = forge.first ? b_decoded : Yardstick(every);
    expected.insert(expected.end(), tail.begin(), tail.end());
    std::vector<uint8_t> file = first;
    file.insert(file.end(), second.begin(), second.end());
    EXPECT_EQ(ReportedLength(file), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(Streamed(file), expected);
    const int32_t frames = static_cast<int32_t>(expected.size() / 4);
    EXPECT_EQ(Streamed(file, frames - 1000), std::vector<uint8_t>(expected.end() - 4000, expected.end()));
  }
}

}  // namespace

namespace {

// One granule position wrong, wherever it is, neither cuts a file's sound
// nor pads it, scanned whole or (followed by 1 MiB of other bytes) read
// from its first and last pages: the page before the last at 0, the first
// at 0, -3000 or 30 s on give the sound as written; the last lowered by 2 s
// gives every packet, and so does a last one raised by 2^31 or unset (-1)
// after 300 KiB of pages without a position. Each says so in one line.
TEST_F(OggPagesTest, OneWrongGranulePositionNeitherCutsNorPadsTheSound) {
  ASSERT_TRUE(Sox("-n -r 22050 -c 2 -b 16 wrong.wav synth 40 pinknoise vol 0.3"));
  ASSERT_TRUE(Shell("oggenc -Q -q 8 -o wrong.ogg wrong.wav"));
  const std::vector<uint8_t> made = ReadAll("wrong.ogg");
  const std::vector<size_t> marks = GranulePages(made);
  ASSERT_GT(made.size(), 400u << 10);
  std::vector<uint8_t> every = made;
  SetGranule(&every, marks.back(), INT64_MAX);
  const std::vector<uint8_t> as_written = Yardstick(made), packets = Yardstick(every);
  ASSERT_GT(packets.size(), as_written.size());
  struct Forge {
    const char* name;
    size_t page;
    int64_t granule;
    bool whole;  // every packet
  };
  const Forge forges[] = {{"before the last at 0", marks.end()[-2], 0, false},
                          {"the first at 0", marks[0], 0, false},
                          {"the first at -3000", marks[0], -3000, false},
                          {"the first 30 s on", marks[0], Granule(made, marks[0]) + 30 * 22050, false},
                          {"the last 2 s back", marks.back(), Granule(made, marks.back()) - 2 * 22050, true},
                          {"the last past 2^31 after 300 KiB without", marks.back(), int64_t{1} << 31, true},
                          {"the last unset after 300 KiB without", marks.back(), -1, true}};
  for (size_t padding : {size_t{0}, size_t{1} << 20}) {
    for (const Forge& forge : forges) {
      SCOPED_TRACE(testing::Message() << forge.name << ", padding " << padding);
      std::vector<uint8_t> file = made;
      SetGranule(&file, forge.page, forge.granule);
      if (std::string(forge.name).find("300 KiB") != std::string::npos)
        for (size_t page : marks)
          if (page != marks.back() && made.size() - page < (300u << 10)) SetGranule(&file, page, -1);
      file.resize(file.size() + padding, 0x55);
      WriteFile("wrong.ogg", file);
      log_.Clear();
      ExpectDelivered(file, forge.whole ? packets : as_written);
      const int handle = LoadSoundHandle("wrong.ogg", 1, -1);
      DeleteSoundHandle(handle, 0);
      EXPECT_EQ(Lines("Sound file wrong.ogg has Ogg granule positions that disagree with its packets; its length "
                      "follows the packets"), 1u) << log_.Debug();
    }
  }
}

// A chain's length and sound are what the decoder library's own read of it
// delivers, and a seek into its first page, or 1000 frames into a later
// link, gives what that read gives there, with one granule position of a
// link wrong: the first link's last lowered by 2 s (its packets still play,
// up to their last), or its page before the last at 0 (the library then
// keeps no end trim), or its first at -3000 (a seek to sample 0 by granule
// positions would pass its first page), or its page before the last, or its
// second, swapped with one three pages away; the third's first at 0. The
// second link, a real voice, maps its granule positions to samples with an
// offset and trims its start; its first page's offset is not its later
// pages', of which the line speaks.
TEST_F(OggPagesTest, AChainDeliversWhatTheLibraryReadsWhateverOneGranulePositionSays) {
  std::vector<uint8_t> a_decoded, c_decoded;
  const std::vector<uint8_t> a = Make("link_a", 60, &a_decoded);
  ASSERT_GT(GranulePages(a).size(), 4u);
  const std::vector<uint8_t> c = Make("link_c", 3, &c_decoded);
  const std::vector<uint8_t> voice = ReadAll(RORUD_SOURCE_DIR "/tests/lib/sound/data/granule-start.ogg");
  const std::vector<size_t> a_marks = GranulePages(a), c_marks = GranulePages(c);
  for (int forged = -1; forged < 6; ++forged) {
    SCOPED_TRACE(forged);
    std::vector<uint8_t> links[3] = {a, voice, c};
    if (forged == 0) SetGranule(&links[0], a_marks.back(), Granule(a, a_marks.back()) - 2 * 22050);
    if (forged == 1) SetGranule(&links[0], a_marks.end()[-2], 0);
    if (forged == 2) SetGranule(&links[2], c_marks[0], 0);
    if (forged == 3) SetGranule(&links[0], a_marks[0], -3000);
    if (forged >= 4) {
      // A page swapped with one three pages on that ends another number of
      // packets, the page before the last or the second: the pages between
      // map one page's samples in the other's place.
      auto ends = [&a](size_t page) {
        return std::count_if(&a[page + 27], &a[page + 27 + a[page + 26]], [](uint8_t l) { return l < 255; });
      };
      const size_t k = forged == 4 ? a_marks.size() - 5 : 1;
      const size_t far = a_marks[k], after_far = a_marks[k + 1], near = a_marks[k + 3], after = a_marks[k + 4];
      ASSERT_NE(ends(far), ends(near));
      links[0] = std::vector<uint8_t>(a.begin(), a.begin() + static_cast<long>(far));
      for (const auto& [from, to] : {std::pair{near, after}, {after_far, near}, {far, after_far}, {after, a.size()}})
        links[0].insert(links[0].end(), a.begin() + static_cast<long>(from), a.begin() + static_cast<long>(to));
    }
    std::vector<uint8_t> file;
    for (const std::vector<uint8_t>& link : links) file.insert(file.end(), link.begin(), link.end());
    const std::vector<uint8_t> expected = LibraryDecode(file);
    ASSERT_GT(expected.size(), a_decoded.size() + c_decoded.size());
    WriteFile("chain.ogg", file);
    log_.Clear();
    ExpectDelivered(file, expected);
    const int handle = LoadSoundHandle("chain.ogg", 1, -1);
    DeleteSoundHandle(handle, 0);
    EXPECT_EQ(Lines("Sound file chain.ogg has Ogg granule positions that disagree with its packets"), 1u)
        << log_.Debug();
    // A seek inside a link goes by that link's granule positions.
    const int32_t second = static_cast<int32_t>(LibraryDecode(links[0]).size() / 4) + 1000;
    const int32_t third = static_cast<int32_t>((expected.size() - LibraryDecode(links[2]).size()) / 4) + 1000;
    for (int32_t seek : {100, second, forged == 2 ? second : third}) {
      const std::vector<uint8_t> from = Streamed(file, seek);
      ASSERT_GE(from.size(), 4000u);
      EXPECT_TRUE(std::equal(from.begin(), from.begin() + 4000, expected.begin() + seek * 4)) << seek;
    }
  }
}

}  // namespace

namespace {

// The walk of a chain's links before the decoder library opens it is that
// library's open, page for page: where a file's links start, and whether it
// opens at all, are what the library finds, on chains of links long and
// short, with bytes between them, with a link of two streams, cut, and with
// granule positions unset or wrong. A library that walks otherwise fails
// here by name.
TEST_F(OggPagesTest, TheLinkWalkFindsTheLinksTheLibraryFinds) {
  // Noise, so that a link is long enough for the walk to halve the stretch
  // where it looks for the link's end.
  for (const char* name : {"walk_a", "walk_b"}) {
    ASSERT_TRUE(Sox(std::string("-n -r 22050 -c 2 -b 16 ") + name + ".wav synth 20 pinknoise vol 0.3"));
    ASSERT_TRUE(Shell(std::string("oggenc -Q -q 2 -o ") + name + ".ogg " + name + ".wav"));
  }
  const std::vector<uint8_t> a = ReadAll("walk_a.ogg"), b = ReadAll("walk_b.ogg");
  ASSERT_GT(a.size() + b.size(), 3u << 16);
  const std::vector<uint8_t> voice = ReadAll(RORUD_SOURCE_DIR "/tests/lib/sound/data/granule-start.ogg");
  auto chain = [](std::initializer_list<std::vector<uint8_t>> links) {
    std::vector<uint8_t> file;
    for (const std::vector<uint8_t>& link : links) file.insert(file.end(), link.begin(), link.end());
    return file;
  };
  std::vector<uint8_t> forged_a = a, forged_b = b;
  SetGranule(&forged_a, GranulePages(a).back(), -1);
  SetGranule(&forged_b, GranulePages(b)[0], 0);
  const std::vector<uint8_t> junk(70000, 0x55);
  const std::vector<uint8_t> ab = chain({a, b});
  const std::pair<const char*, std::vector<uint8_t>> files[] = {
      {"two long links", ab},
      {"a voice between", chain({a, voice, b})},
      {"bytes between", chain({a, junk, b})},
      {"a link of two streams", chain({voice, WithPicturesBetween(b, 3000), voice})},
      {"cut inside a page", std::vector<uint8_t>(ab.begin(), ab.end() - 1000)},
      {"one serial twice", chain({a, a, voice})},
      {"granule positions unset and wrong", chain({forged_a, forged_b, voice})},
  };
  for (const auto& [name, file] : files) {
    SCOPED_TRACE(name);
    MemorySource source{&file, 0};
    OggVorbis_File vf;
    ASSERT_EQ(ov_test_callbacks(&source, &vf, nullptr, 0, MemoryCallbacks()), 0);
    SoundStream stream{};
    stream.ops = *GetMemoryStreamTable();
    stream.handle = MemoryStreamOpen(file.data(), file.size());
    OggLinkPlaces places;
    const int failing = OggChainFailingLink(
        &stream, {vf.serialnos + 2, static_cast<int>(vf.serialnos[1]), vf.os.serialno, vf.dataoffsets[0]}, &places);
    stream.ops.close(stream.handle);
    const bool opened = ov_test_open(&vf) == 0;
    EXPECT_EQ(failing == 0, opened) << "the link walk no longer matches the decoder library's open";
    if (opened) {
      EXPECT_EQ(places.starts, std::vector<int64_t>(vf.offsets, vf.offsets + vf.links))
          << "the link walk no longer finds the links where the decoder library does";
      EXPECT_EQ(places.last_pages.size(), static_cast<size_t>(vf.links));
    }
    ov_clear(&vf);
  }
}

}  // namespace

namespace {

// The file with the page starting at `page` left out, or (with `twice`)
// given twice in a row.
std::vector<uint8_t> WithPage(const std::vector<uint8_t>& file, size_t page, bool twice) {
  const std::vector<size_t> starts = PageStarts(file);
  const size_t end = *std::upper_bound(starts.begin(), starts.end(), page);
  std::vector<uint8_t> out(file.begin(), file.begin() + static_cast<long>(page));
  if (twice) out.insert(out.end(), file.begin() + static_cast<long>(page), file.begin() + static_cast<long>(end));
  out.insert(out.end(), file.begin() + static_cast<long>(twice ? page : end), file.end());
  return out;
}

// The samples the last audio packet of the file's first stream adds, from
// its block size and the one before it.
int64_t LastPacketSamples(const std::vector<uint8_t>& file) {
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  std::memcpy(ogg_sync_buffer(&sync, static_cast<long>(file.size())), file.data(), file.size());
  ogg_sync_wrote(&sync, static_cast<long>(file.size()));
  vorbis_info info;
  vorbis_comment comment;
  vorbis_info_init(&info);
  vorbis_comment_init(&comment);
  ogg_stream_state os;
  ogg_stream_init(&os, 0);
  int headers = 0;
  long before = 0, last = 0;
  ogg_page page;
  ogg_packet packet;
  while (ogg_sync_pageout(&sync, &page) == 1) {
    if (headers == 0) ogg_stream_reset_serialno(&os, ogg_page_serialno(&page));
    if (ogg_stream_pagein(&os, &page) != 0) continue;
    while (ogg_stream_packetout(&os, &packet) == 1) {
      if (headers < 3) {
        vorbis_synthesis_headerin(&info, &comment, &packet);
        ++headers;
      } else {
        before = last;
        last = vorbis_packet_blocksize(&info, &packet);
      }
    }
  }
  ogg_stream_clear(&os);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  ogg_sync_clear(&sync);
  return (before + last) / 4;
}

constexpr const char* kGranuleLine =
    "Sound file forged.ogg has Ogg granule positions that disagree with its packets; its length follows the packets";

// Granule positions set a length only where they agree with the packets.
// The last two audio pages raised by 2^31 together agree with each other,
// not with the packets: the length is what the packets hold, with the line,
// in a file scanned whole, in one read from its last pages (followed by
// 1 MiB of other bytes), and in a chain's second link; so with the last six
// raised. A chain's second link with its page before the last at 0 gives
// its last 2.1 s after a seek into them. A file's first position wrong in a link of
// three audio pages changes nothing, and is said too.
TEST_F(OggPagesTest, PagesThatAgreeOnALieSetNoLength) {
  std::vector<uint8_t> decoded, short_decoded;
  const std::vector<uint8_t> made = Make("lie", 120, &decoded);
  const std::vector<size_t> marks = GranulePages(made);
  std::vector<uint8_t> raised = made;
  for (size_t page : {marks.end()[-2], marks.back()}) SetGranule(&raised, page, Granule(made, page) + (int64_t{1} << 31));
  const std::vector<uint8_t> three = Make("three", 7, &short_decoded);
  ASSERT_EQ(GranulePages(three).size(), 3u);
  std::vector<uint8_t> first_wrong = three;
  SetGranule(&first_wrong, GranulePages(three)[0], Granule(three, GranulePages(three)[0]) + 30 * 22050);
  std::vector<uint8_t> padded = raised, every = made;
  padded.resize(padded.size() + (1 << 20), 0x55);
  SetGranule(&every, marks.back(), INT64_MAX);
  const std::vector<uint8_t> packets = Yardstick(every);
  ASSERT_GT(packets.size(), decoded.size());
  // Raised together, the last six fill the window read before the last
  // page: what their end claims for the pages before does not fit those
  // pages' bytes.
  std::vector<uint8_t> six = made;
  for (auto page = marks.end() - 6; page != marks.end(); ++page)
    SetGranule(&six, *page, Granule(made, *page) + (int64_t{1} << 31));
  std::vector<uint8_t> six_padded = six;
  six_padded.resize(six.size() + (1 << 20), 0x55);
  // Raised by only 30 s, six pages claim an end the bytes before them could
  // hold: only a count of the packets tells.
  std::vector<uint8_t> six_30s = made;
  for (auto page = marks.end() - 6; page != marks.end(); ++page)
    SetGranule(&six_30s, *page, Granule(made, *page) + 30 * 22050);
  std::vector<uint8_t> six_30s_padded = six_30s;
  six_30s_padded.resize(six_30s.size() + (1 << 20), 0x55);
  for (const auto& [file, expected] : {std::pair{raised, packets}, {padded, packets}, {six_padded, decoded},
                                       {six_30s_padded, decoded}, {first_wrong, short_decoded}}) {
    SCOPED_TRACE(file.size());
    WriteFile("forged.ogg", file);
    log_.Clear();
    ExpectDelivered(file, expected);
    DeleteSoundHandle(LoadSoundHandle("forged.ogg", 1, -1), 0);
    EXPECT_EQ(Lines(kGranuleLine), 1u) << log_.Debug();
  }
  std::vector<uint8_t> chain;
  for (const std::vector<uint8_t>& link : {raised, six, six_30s}) {
    chain = three;
    chain.insert(chain.end(), link.begin(), link.end());
    EXPECT_EQ(ReportedLength(chain), static_cast<int32_t>(LibraryDecode(chain).size()));
  }
  std::vector<uint8_t> zero = made;
  SetGranule(&zero, marks.end()[-2], 0);
  chain.resize(three.size());
  chain.insert(chain.end(), zero.begin(), zero.end());
  const std::vector<uint8_t> expected = LibraryDecode(chain);
  const int32_t frames = static_cast<int32_t>(expected.size() / 4);
  for (int32_t back : {22050 / 3, 22050, 2 * 22050}) {
    SCOPED_TRACE(back);
    EXPECT_EQ(Streamed(chain, frames - back), std::vector<uint8_t>(expected.end() - back * 4, expected.end()));
  }
}

// A hole costs only the hole: the audio page at half a file read from its
// last pages dropped or damaged, and the next page's granule position
// raised by 2^31 or 30 s, gives every other packet, with the gap line. Its
// last two pages swapped report what plays, followed by other bytes or not;
// so does a page given twice.
TEST_F(OggPagesTest, AHoleCostsOnlyTheHoleAndPagesOutOfOrderReportWhatPlays) {
  std::vector<uint8_t> decoded;
  const std::vector<uint8_t> made = Make("hole", 120, &decoded);
  std::vector<uint8_t> short_decoded;
  const std::vector<uint8_t> link = Make("twice", 7, &short_decoded);
  const std::vector<size_t> marks = GranulePages(made);
  const size_t half = marks[marks.size() / 2], next = marks[marks.size() / 2 + 1];
  for (int64_t raise : {int64_t{1} << 31, int64_t{30 * 22050}}) {
    for (bool damaged : {false, true}) {
      SCOPED_TRACE(testing::Message() << raise << " " << damaged);
      std::vector<uint8_t> file = made;
      SetGranule(&file, next, Granule(made, next) + raise);
      if (damaged) {
        file[half + 200] ^= 0x10;
      } else {
        file = WithPage(file, half, false);
      }
      const std::vector<uint8_t> expected = Yardstick(file);
      ASSERT_GT(expected.size(), decoded.size() * 3 / 4);
      if (!damaged) {
        // A chain link's length counts what the library plays of it too.
        std::vector<uint8_t> chain = file;
        chain.insert(chain.end(), link.begin(), link.end());
        EXPECT_EQ(ReportedLength(chain), static_cast<int32_t>(LibraryDecode(chain).size()));
      }
      file.resize(file.size() + (1 << 20), 0x55);
      WriteFile("forged.ogg", file);
      log_.Clear();
      if (!damaged) {
        EXPECT_EQ(ReportedLength(file), static_cast<int32_t>(expected.size()));
      }
      EXPECT_EQ(Streamed(file), expected);
      const int handle = LoadSoundHandle("forged.ogg", 1, -1);
      EXPECT_EQ(BufferBytes(handle), expected);
      DeleteSoundHandle(handle, 0);
      EXPECT_EQ(Lines("Sound file forged.ogg has a damaged or missing Ogg page after sample"), 1u) << log_.Debug();
    }
  }
  const std::vector<size_t> pages = PageStarts(made);
  std::vector<uint8_t> swapped(made.begin(), made.begin() + static_cast<long>(pages.end()[-3]));
  swapped.insert(swapped.end(), made.begin() + static_cast<long>(pages.end()[-2]), made.end());
  swapped.insert(swapped.end(), made.begin() + static_cast<long>(pages.end()[-3]),
                 made.begin() + static_cast<long>(pages.end()[-2]));
  for (const std::vector<uint8_t>& forged : {swapped, WithPage(made, half, true)}) {
    for (size_t padding : {size_t{0}, size_t{1} << 20}) {
      SCOPED_TRACE(padding);
      std::vector<uint8_t> file = forged;
      file.resize(file.size() + padding, 0x55);
      EXPECT_EQ(Streamed(file).size(), static_cast<size_t>(ReportedLength(file)));
    }
  }
  // The decoder library plays a chain link's page given twice twice: the
  // link's length counts it, short or long, and the last link keeps its end.
  for (const auto& [first, second] : {std::pair{WithPage(link, GranulePages(link)[1], true), made},
                                      {WithPage(made, half, true), link}}) {
    std::vector<uint8_t> chain = first;
    chain.insert(chain.end(), second.begin(), second.end());
    const std::vector<uint8_t> expected = LibraryDecode(chain);
    ASSERT_GT(expected.size(), short_decoded.size() + decoded.size());
    EXPECT_EQ(ReportedLength(chain), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(Streamed(chain), expected);
  }
}

// `made`'s headers, then `pages` pages of 29 bytes, each one audio packet
// of one byte (a short block) with its granule position; the page in the
// middle is left out where `drop`. Its packets' samples go to `step`.
std::vector<uint8_t> TinyPaged(const std::vector<uint8_t>& made, int pages, bool drop, long* step) {
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  std::memcpy(ogg_sync_buffer(&sync, static_cast<long>(made.size())), made.data(), made.size());
  ogg_sync_wrote(&sync, static_cast<long>(made.size()));
  ogg_page page;
  std::vector<uint8_t> file;
  if (ogg_sync_pageout(&sync, &page) != 1) return file;
  ogg_stream_state in;
  ogg_stream_init(&in, ogg_page_serialno(&page));
  ogg_stream_state out;
  ogg_stream_init(&out, ogg_page_serialno(&page));
  const auto flush = [&] {
    while (ogg_stream_flush(&out, &page) != 0) {
      file.insert(file.end(), page.header, page.header + page.header_len);
      file.insert(file.end(), page.body, page.body + page.body_len);
    }
  };
  vorbis_info info;
  vorbis_comment comment;
  vorbis_info_init(&info);
  vorbis_comment_init(&comment);
  ogg_packet packet;
  for (int headers = 0; headers < 3 && ogg_stream_pagein(&in, &page) == 0;) {
    while (headers < 3 && ogg_stream_packetout(&in, &packet) == 1) {
      EXPECT_EQ(vorbis_synthesis_headerin(&info, &comment, &packet), 0);
      ogg_stream_packetin(&out, &packet);
      if (++headers != 2) flush();
    }
    if (headers < 3 && ogg_sync_pageout(&sync, &page) != 1) break;
  }
  uint8_t audio = 0;
  packet = ogg_packet{};
  packet.packet = &audio;
  packet.bytes = 1;
  *step = std::max(0L, vorbis_packet_blocksize(&info, &packet) / 2);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  ogg_stream_clear(&in);
  ogg_sync_clear(&sync);
  for (int i = 0; i < pages; ++i) {
    packet.packetno = 3 + i;
    packet.granulepos = int64_t{i} * *step;
    packet.e_o_s = i + 1 == pages;
    ogg_stream_packetin(&out, &packet);
    const size_t at = file.size();
    flush();
    EXPECT_EQ(file.size() - at, 29u);
    if (drop && i == pages / 2) file.resize(at);
  }
  ogg_stream_clear(&out);
  return file;
}

// Files of 29-byte pages, each one audio packet of one byte with its
// granule position (a page missing in the middle), alone and as a chain's
// first link: the index the open keeps (restart points, the marks that map
// positions to samples) takes a quarter of the file's size at most, and
// every seek, whichever restart point it starts from, reads what the whole
// read gives there.
// A whole link followed by a second link's first pages and damaged bytes
// (an input of the fuzz corpus): libvorbisfile is given the whole file, as
// it reads it, and the sound is what its read delivers.
TEST_F(OggPagesTest, AWholeLinkBeforeABrokenOnePlaysAsTheLibraryReadsIt) {
  const std::vector<uint8_t> file =
      ReadAll(RORUD_SOURCE_DIR "/tools/fuzz/corpus/wave/de5e107831078dc52ce43fec976950ab075606dd");
  ASSERT_FALSE(file.empty());
  const std::vector<uint8_t> read = LibraryDecode(file);
  ASSERT_FALSE(read.empty());
  ExpectDelivered(file, read);
}

TEST_F(OggPagesTest, TinyPagesKeepAnIndexWellUnderTheFilesSizeAndSeekExactly) {
  std::vector<uint8_t> decoded;
  const std::vector<uint8_t> made = Make("tiny", 1, &decoded);
  const std::vector<uint8_t> next = Make("tinynext", 1, &decoded);
  constexpr int kPages = 40000;
  long step = 0;
  const std::vector<uint8_t> tiny = TinyPaged(made, kPages, true, &step);
  ASSERT_GT(step, 0);
  std::vector<uint8_t> chain = TinyPaged(made, kPages, false, &step);
  chain.insert(chain.end(), next.begin(), next.end());
  for (bool chained : {false, true}) {
    SCOPED_TRACE(chained);
    const std::vector<uint8_t>& file = chained ? chain : tiny;
    const std::vector<uint8_t> expected = chained ? LibraryDecode(file) : Yardstick(file);
    ASSERT_GE(expected.size(), size_t{kPages - 2} * step * 2 * 2);
    EXPECT_EQ(Streamed(file), expected);
    SoundStream stream{};
    stream.ops = *GetMemoryStreamTable();
    stream.handle = MemoryStreamOpen(file.data(), file.size());
    PcmDecoderRecord record{};
    ASSERT_EQ(OpenPcmDecoder(&stream, &record), 0);
    size_t index = 0;
    if (chained) {
      ASSERT_NE(record.ogg.links, nullptr);
      for (const oggpcm::LibraryLink& link : *static_cast<const std::vector<oggpcm::LibraryLink>*>(record.ogg.links))
        index += link.points.capacity() * sizeof(oggpcm::LibraryPoint);
    } else {
      ASSERT_NE(record.ogg.pages, nullptr);
      index = static_cast<const oggpcm::OggPages*>(record.ogg.pages)->IndexBytes();
    }
    EXPECT_GT(index, 0u);
    EXPECT_LE(index * 4, file.size()) << index << " bytes of index for " << file.size() << " bytes of file";
    EXPECT_EQ(GetPcmDecoderLength(&record), static_cast<int32_t>(expected.size()));
    const int32_t frames = static_cast<int32_t>(expected.size() / 4);
    std::vector<uint8_t> part(4000);
    uint32_t x = 99;
    for (int i = 0; i < 40; ++i) {
      x = x * 1103515245u + 12345u;
      const int32_t frame =
          i == 0 ? frames / 2 - 3 : static_cast<int32_t>((x >> 8) % static_cast<uint32_t>(frames - 1000));
      SeekPcmDecoder(&record, frame);
      ASSERT_EQ(RunPcmDecoder(&record, part.data(), 4000), 4000) << frame;
      EXPECT_TRUE(std::equal(part.begin(), part.end(), expected.begin() + int64_t{frame} * 4)) << frame;
    }
    ClosePcmDecoder(&record);
    stream.ops.close(stream.handle);
  }
}

// A last granule position that trims exactly the whole last packet is
// within the format's range: the length is one packet short of the packets'
// end, without the line. A gap just before the page before the last leaves
// only that page to map the end by: the marks before the gap map samples
// the gap lost, and give no end.
TEST_F(OggPagesTest, AnEndTrimOfTheWholeLastPacketAndAGapBeforeTheEndKeepTheFormatsEnd) {
  std::vector<uint8_t> decoded;
  const std::vector<uint8_t> made = Make("edge", 20, &decoded);
  const std::vector<size_t> marks = GranulePages(made);
  std::vector<uint8_t> every = made;
  SetGranule(&every, marks.back(), INT64_MAX);
  const int64_t packets = static_cast<int64_t>(Yardstick(every).size() / 4);
  std::vector<uint8_t> whole_packet = made;
  SetGranule(&whole_packet, marks.back(), packets - LastPacketSamples(made));
  const std::vector<uint8_t> gap = WithPage(made, marks.end()[-3], false);
  for (const std::vector<uint8_t>& file : {whole_packet, gap}) {
    SCOPED_TRACE(file.size());
    const std::vector<uint8_t> expected = Yardstick(file);
    WriteFile("forged.ogg", file);
    log_.Clear();
    ExpectDelivered(file, expected);
    EXPECT_EQ(Lines(kGranuleLine), 0u) << log_.Debug();
  }
  ASSERT_EQ(Yardstick(whole_packet).size() / 4, static_cast<size_t>(packets - LastPacketSamples(made)));
}

}  // namespace

namespace {

// The file with a byte of the body of the page at `page` changed, its
// checksum left as it was.
std::vector<uint8_t> Damaged(std::vector<uint8_t> file, size_t page) {
  file[page + 27 + file[page + 26] + 10] ^= 0x10;
  return file;
}

// The file with the page at `page` marked as its stream's last, and sealed
// again.
std::vector<uint8_t> MarkedLast(std::vector<uint8_t> file, size_t page) {
  file[page + 5] |= 4;
  SetGranule(&file, page, Granule(file, page));
  return file;
}

// The first page after `from` that continues a packet begun before it.
size_t ContinuedPageAfter(const std::vector<uint8_t>& file, size_t from) {
  for (size_t page : PageStarts(file))
    if (page > from && page < file.size() && (file[page + 5] & 1) != 0) return page;
  return 0;
}

// The file with its last page replaced by one numbered a page later that
// holds only the end of a packet (its start, on the page left out, lost).
std::vector<uint8_t> LastPacketStartLost(const std::vector<uint8_t>& file) {
  const size_t last = PageStarts(file).end()[-2];
  std::vector<uint8_t> out(file.begin(), file.begin() + static_cast<long>(last + 27));
  uint8_t* page = out.data() + last;
  page[5] = 5;  // continued, and the stream's last
  uint32_t sequence = 0;
  std::memcpy(&sequence, page + 18, 4);
  ++sequence;
  std::memcpy(page + 18, &sequence, 4);
  page[26] = 1;
  out.push_back(10);
  out.resize(out.size() + 10, 0x5A);
  SetGranule(&out, last, Granule(file, last));
  return out;
}

class OggWalkTest : public OggPagesTest {
 protected:
  // Noise (stereo, 44.1 kHz) as oggenc makes it: a long stream of large
  // packets. With `full_pages`, the ffmpeg command's copy of it in pages of
  // 255 segments, which leave packets unfinished for the next.
  std::vector<uint8_t> MakeNoise(const std::string& name, double seconds, bool full_pages = false) {
    EXPECT_TRUE(Sox("-R -n -r 44100 -c 2 -b 16 " + name + ".wav synth " + std::to_string(seconds) +
                    " whitenoise vol 0.3"));
    EXPECT_TRUE(Shell("oggenc -Q -q 6 -o " + name + ".ogg " + name + ".wav"));
    if (full_pages) {
      EXPECT_TRUE(Shell("ffmpeg -loglevel error -y -i " + name + ".ogg -c copy -page_duration 60000000 " + name +
                        "_full.ogg"));
    }
    return ReadAll(name + (full_pages ? "_full.ogg" : ".ogg"));
  }
  // Seeks to each frame (from half the sound away, so that none is a near
  // one) and reads 3000 frames: what the sound `whole` holds there.
  void ExpectSeeksLand(const std::vector<uint8_t>& file, const std::vector<uint8_t>& whole,
                       const std::vector<int64_t>& frames) {
    SoundStream stream{};
    stream.ops = *GetMemoryStreamTable();
    stream.handle = MemoryStreamOpen(file.data(), file.size());
    PcmDecoderRecord record{};
    ASSERT_EQ(OpenPcmDecoder(&stream, &record), 0);
    const size_t frame_bytes = record.format.block_align;
    const int64_t length = static_cast<int64_t>(whole.size() / frame_bytes);
    std::vector<uint8_t> got(3000 * frame_bytes);
    for (int64_t frame : frames) {
      SeekPcmDecoder(&record, static_cast<int32_t>((frame + length / 2) % length));
      SeekPcmDecoder(&record, static_cast<int32_t>(frame));
      const int32_t n = RunPcmDecoder(&record, got.data(), static_cast<int32_t>(got.size()));
      const size_t at = static_cast<size_t>(frame) * frame_bytes;
      const size_t want = std::min(got.size(), whole.size() - at);
      EXPECT_EQ(static_cast<size_t>(n), want) << "frame " << frame;
      EXPECT_TRUE(n >= 0 && std::equal(got.begin(), got.begin() + std::min<size_t>(n, want), whole.begin() + at))
          << "frame " << frame;
    }
    ClosePcmDecoder(&record);
    stream.ops.close(stream.handle);
  }
  // Frames on either side of each of `edges`, the last one and every tenth
  // of the sound.
  static std::vector<int64_t> Edges(int64_t length, std::vector<int64_t> edges) {
    std::vector<int64_t> frames = {length - 1};
    for (int64_t e : edges)
      for (int64_t d : {-1, 0, 1})
        if (e + d >= 0 && e + d < length) frames.push_back(e + d);
    for (int k = 1; k < 10; ++k) frames.push_back(length * k / 10);
    return frames;
  }
};

// A long file (followed by 1 MiB of other bytes) with a page that fails its
// check, wherever it lies (the last page but one or two, one in the
// middle), one left out, or one left out before a page that continues a
// packet from it (the last page too, which then holds nothing else): the
// length it reports is what it plays, the format's sound past the gap, with
// the gap's line, and seeks land on the sample.
TEST_F(OggWalkTest, AGapAnywhereInALongFileIsCountedAsItPlays) {
  const std::vector<uint8_t> made = MakeNoise("walk", 60, true);
  ASSERT_GT(made.size(), size_t{1} << 20);
  const std::vector<uint8_t> decoded = Yardstick(made);
  const std::vector<size_t> pages = PageStarts(made);
  const size_t mid = pages[pages.size() / 2];
  const size_t continued = ContinuedPageAfter(made, mid);
  ASSERT_NE(continued, 0u);
  const size_t before_continued = *(std::find(pages.begin(), pages.end(), continued) - 1);
  for (const auto& [name, file] : {std::pair{"last but one", Damaged(made, pages.end()[-3])},
                                   {"last but two", Damaged(made, pages.end()[-4])},
                                   {"middle", Damaged(made, mid)},
                                   {"left out", WithPage(made, mid, false)},
                                   {"left out before a continued page", WithPage(made, before_continued, false)},
                                   {"last packet's start left out", LastPacketStartLost(made)}}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> padded = file;
    padded.resize(file.size() + (1 << 20), 0x55);
    const std::vector<uint8_t> expected = Yardstick(file);
    ASSERT_LT(expected.size(), decoded.size());
    log_.Clear();
    ExpectDelivered(padded, expected);
    EXPECT_GE(Lines("has a damaged or missing Ogg page after sample"), 1u) << log_.Debug();
    ExpectSeeksLand(padded, expected, Edges(static_cast<int64_t>(expected.size() / 4), {}));
  }
}

// A chain of three links, the second (over 1 MiB) whole or with a page
// damaged, left out, given twice, marked last in its middle, or its last
// two swapped: the chain reports and plays what the decoder library reads
// of it, a seek lands on the sample at every link's edges and after the
// damage, and a whole chain writes no line.
TEST_F(OggWalkTest, AChainReportsAndSeeksWhatTheLibraryReads) {
  std::vector<uint8_t> decoded;
  const std::vector<uint8_t> first = Make("chain_a", 3, &decoded);
  const std::vector<uint8_t> middle = MakeNoise("chain_b", 60);
  const std::vector<uint8_t> last = Make("chain_c", 4, &decoded);
  ASSERT_GT(middle.size(), size_t{1} << 20);
  const std::vector<size_t> pages = PageStarts(middle);
  const size_t mid = pages[pages.size() / 2];
  std::vector<uint8_t> swapped(middle.begin(), middle.begin() + static_cast<long>(pages.end()[-3]));
  swapped.insert(swapped.end(), middle.begin() + static_cast<long>(pages.end()[-2]), middle.end());
  swapped.insert(swapped.end(), middle.begin() + static_cast<long>(pages.end()[-3]),
                 middle.begin() + static_cast<long>(pages.end()[-2]));
  const int64_t first_frames = static_cast<int64_t>(LibraryDecode(first).size() / 4);
  for (const auto& [name, link] : {std::pair{"whole", middle},
                                   {"damaged last but one", Damaged(middle, pages.end()[-3])},
                                   {"damaged in the middle", Damaged(middle, mid)},
                                   {"left out", WithPage(middle, mid, false)},
                                   {"given twice", WithPage(middle, mid, true)},
                                   {"marked last", MarkedLast(middle, mid)},
                                   {"last two swapped", swapped}}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> chain = first;
    chain.insert(chain.end(), link.begin(), link.end());
    chain.insert(chain.end(), last.begin(), last.end());
    const std::vector<uint8_t> expected = LibraryDecode(chain);
    WriteFile("chain.ogg", chain);
    log_.Clear();
    ExpectDelivered(chain, expected);
    if (link == middle) {
      EXPECT_EQ(Lines("Sound file"), 0u) << log_.Debug();
    }
    const int64_t second_end = static_cast<int64_t>(expected.size() / 4) - static_cast<int64_t>(LibraryDecode(last).size() / 4);
    ExpectSeeksLand(chain, expected, Edges(static_cast<int64_t>(expected.size() / 4), {first_frames, second_end}));
  }
  ASSERT_TRUE(Sox("-n -r 22050 -c 1 -b 16 mono.wav synth 2 sine 300 vol 0.5"));
  ASSERT_TRUE(Shell("oggenc -Q -o mono.ogg mono.wav"));
  const std::vector<uint8_t> mono = ReadAll("mono.ogg");
  // A first link of headers alone gives the sound no format: the mono link
  // after it plays as mono.
  const std::vector<size_t> first_pages = PageStarts(first);
  std::vector<uint8_t> headers_first(first.begin(), first.begin() + static_cast<long>(first_pages[2]));
  headers_first.insert(headers_first.end(), mono.begin(), mono.end());
  ExpectDelivered(headers_first, LibraryDecode(mono));
  // The second link's first pages among the first link's: the library's
  // read leaves the first link's stream there for the second's, and so does
  // the sound, with a line.
  const std::vector<size_t> mono_pages = PageStarts(mono);
  const size_t cut = pages[6];
  std::vector<uint8_t> tangled(middle.begin(), middle.begin() + static_cast<long>(cut));
  tangled.insert(tangled.end(), mono.begin(), mono.begin() + static_cast<long>(mono_pages[2]));
  tangled.insert(tangled.end(), middle.begin() + static_cast<long>(cut), middle.end());
  tangled.insert(tangled.end(), mono.begin(), mono.end());
  WriteFile("tangled.ogg", tangled);
  log_.Clear();
  const std::vector<uint8_t> played = Streamed(tangled);
  ASSERT_GT(played.size(), 0u);
  EXPECT_EQ(ReportedLength(tangled), static_cast<int32_t>(played.size()));
  ExpectSeeksLand(tangled, played, Edges(static_cast<int64_t>(played.size() / 4), {}));
  DeleteSoundHandle(LoadSoundHandle("tangled.ogg", 1, -1), 0);
  EXPECT_EQ(Lines("Sound file tangled.ogg is a chained Ogg whose link 1 holds pages of the next link among its own; "
                  "the sound goes on with the next link from there"), 1u) << log_.Debug();
}

// A page marked as the stream's last with more of the stream after it is
// read past with one line, in a long file (followed by 1 MiB of other
// bytes): as written, the sound is the file's; with the granule position of
// the page before it, libvorbis trims the packet there as the decoder
// library does. A page given twice in a row plays once, with the gap line.
TEST_F(OggWalkTest, PagesMarkedLastOrGivenTwiceInTheMiddlePlayOnAndAreSaid) {
  const std::vector<uint8_t> made = MakeNoise("early", 20);
  const std::vector<uint8_t> decoded = Yardstick(made);
  const std::vector<size_t> marks = GranulePages(made);
  const size_t third = marks[marks.size() / 3];
  std::vector<uint8_t> repeated = made;
  SetGranule(&repeated, third, Granule(made, marks[marks.size() / 3 - 1]));
  repeated = MarkedLast(repeated, third);
  for (const auto& [file, expected] : {std::pair{MarkedLast(made, third), decoded},
                                       {repeated, LibraryDecode(repeated)},
                                       {WithPage(made, third, true), decoded}}) {
    std::vector<uint8_t> padded = file;
    padded.resize(file.size() + (1 << 20), 0x55);
    ASSERT_GT(expected.size(), decoded.size() * 9 / 10);
    WriteFile("early.ogg", padded);
    log_.Clear();
    ExpectDelivered(padded, expected);
    DeleteSoundHandle(LoadSoundHandle("early.ogg", 1, -1), 0);
    const bool twice = file.size() > made.size();
    EXPECT_EQ(Lines(twice ? "Sound file early.ogg has a damaged or missing Ogg page after sample"
                          : "Sound file early.ogg has an Ogg page marked as the end of its stream before the stream "
                            "ends; playing on past it"), 1u) << log_.Debug();
  }
}

}  // namespace
