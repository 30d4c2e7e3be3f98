// tests/lib/sound/ogg_pages_test.cpp - Ogg Vorbis files with pages cut off,
// damaged or trimmed at the start, made from oggenc's output: refused with a
// line when nothing decodes, loaded past a gap with a line, and decoded the
// same whole and as a stream, checked against oggdec.
#include <ogg/ogg.h>

#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace soundtest;

void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// Where each page of an Ogg file starts (and, last, the file's end).
std::vector<size_t> PageStarts(const std::vector<uint8_t>& file) {
  std::vector<size_t> starts;
  size_t at = 0;
  while (at + 27 <= file.size() && std::memcmp(file.data() + at, "OggS", 4) == 0) {
    starts.push_back(at);
    size_t body = 0;
    for (int s = 0; s < file[at + 26]; ++s) body += file[at + 27 + s];
    at += 27 + file[at + 26] + body;
  }
  starts.push_back(at);
  return starts;
}

int64_t Granule(const std::vector<uint8_t>& file, size_t page) {
  int64_t g = 0;
  std::memcpy(&g, file.data() + page + 6, 8);
  return g;
}

// Sets a page's granule position and seals the page again.
void SetGranule(std::vector<uint8_t>* file, size_t page, int64_t granule) {
  uint8_t* bytes = file->data() + page;
  std::memcpy(bytes + 6, &granule, 8);
  ogg_page p;
  p.header = bytes;
  p.header_len = 27 + bytes[26];
  p.body = bytes + p.header_len;
  p.body_len = 0;
  for (int s = 0; s < bytes[26]; ++s) p.body_len += bytes[27 + s];
  ogg_page_checksum_set(&p);
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
  size_t Lines(const std::string& text) const {
    size_t n = 0;
    const std::string& log = log_.Debug();
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
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
// through. A damaged or cut last page gets a line of its own.
TEST_F(OggPagesTest, ADamagedPageLoadsPastTheGapWithALine) {
  std::vector<uint8_t> decoded;
  std::vector<uint8_t> file = Make("gap", 6, &decoded);
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
// a stream sound while it loads: its missing last page still gets one line.
TEST_F(OggPagesTest, ALongFileWithoutItsLastPageGetsOneLine) {
  ASSERT_TRUE(Sox("-n -r 8000 -c 1 -b 16 long.wav synth 190 sine 200-2000 vol 0.5"));
  ASSERT_TRUE(Shell("oggenc -Q -q 0 -o long.ogg long.wav"));
  std::vector<uint8_t> file = ReadAll("long.ogg");
  const std::vector<size_t> pages = PageStarts(file);
  ASSERT_GT(pages.size(), 6u);
  file[(pages[pages.size() - 2] + pages.back()) / 2] ^= 0x10;
  WriteFile("long.ogg", file);
  ASSERT_EQ(SetSoundCreateMode(0), 0);
  const int handle = LoadSoundHandle("long.ogg", 1, -1);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(Lines("Sound file long.ogg lacks the last page of its Ogg stream"), 1u) << log_.Debug();
  EXPECT_EQ(FindSound(handle)->kind, kSoundStream);
  DeleteSoundHandle(handle, 0);
}

// A first audio page whose granule position is smaller than the samples it
// holds starts the sound that many samples in. Whole and as a stream, from
// the start and after seeks inside and past that page, the samples are
// oggdec's decode of the untrimmed file less the trimmed start, and the
// length is what the granule positions say.
TEST_F(OggPagesTest, AStartTrimmedFirstPageDecodesTheSameWholeAndStreamed) {
  std::vector<uint8_t> untrimmed;
  std::vector<uint8_t> file = Make("trim", 6, &untrimmed);
  const std::vector<size_t> pages = PageStarts(file);
  ASSERT_GT(pages.size(), 5u);
  constexpr int64_t kTrim = 2458;
  for (size_t i = 2; i + 1 < pages.size(); ++i) SetGranule(&file, pages[i], Granule(file, pages[i]) - kTrim);
  const std::vector<uint8_t> expected(untrimmed.begin() + kTrim * 4, untrimmed.end());
  const int handle = Load(file);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(BufferBytes(handle), expected);
  EXPECT_EQ(Streamed(file), expected);
  const int32_t first_page_end = static_cast<int32_t>(Granule(file, pages[2]));
  for (int32_t seek : {100, first_page_end - 10, first_page_end, first_page_end + 1, first_page_end + 5000}) {
    SCOPED_TRACE(seek);
    EXPECT_EQ(Streamed(file, seek), std::vector<uint8_t>(expected.begin() + seek * 4, expected.end()));
  }
}

}  // namespace
