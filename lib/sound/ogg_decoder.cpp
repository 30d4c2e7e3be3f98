// lib/sound/ogg_decoder.cpp - the Ogg Vorbis converter, to 16-bit (or 8-bit)
// PCM. vorbisfile opens and identifies the file through callbacks on the
// record's stream. A seekable file of one Vorbis stream (a sound file, or the
// sound of a movie among its pictures) is then decoded here from its packets
// with libogg and libvorbis: every audio packet, untrimmed, from the start
// trim its first audio page's granule position gives up to its last granule
// position, seeking through an index of its pages that grows as reading and
// seeking need it. Chained and non-seekable files are read through
// vorbisfile. One decoder build serves both sound files and movies. No
// packet is decoded before every link's headers have passed the check of
// lib/sound/vorbis_headers.h (through lib/sound/ogg_header_guard.h), where
// a seekable file's links are also walked before vorbisfile's open walks
// them. Every link's length is bounded by what its last pages hold.
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisfile.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/sound/ogg_header_guard.h"
#include "lib/sound/pcm_decoder.h"
#include "lib/sound/sound_internal.h"

namespace {

OggHeaderGate* Gate(const PcmDecoderRecord* r) { return static_cast<OggHeaderGate*>(r->ogg.gate); }

// The library reads through the record: a stream that cannot seek passes
// its gate.
size_t OggRead(void* buffer, size_t size, size_t count, void* source) {
  auto* r = static_cast<PcmDecoderRecord*>(source);
  if (r == nullptr || size == 0) return 0;
  if (r->ogg.gate != nullptr && Gate(r)->Blocked()) return 0;
  const size_t got = r->stream.ops.read(buffer, size, count, r->stream.handle);
  if (r->ogg.gate == nullptr) return got;
  return Gate(r)->Pass(static_cast<const uint8_t*>(buffer), got * size) / size;
}

int OggSeek(void* source, ogg_int64_t offset, int origin) {
  auto* r = static_cast<PcmDecoderRecord*>(source);
  if (r == nullptr) return -1;
  return r->stream.ops.seek(r->stream.handle, static_cast<int32_t>(offset), origin);
}

// The stream belongs to the caller of the conversion.
int OggClose(void*) { return 0; }

long OggTell(void* source) {
  auto* r = static_cast<PcmDecoderRecord*>(source);
  if (r == nullptr) return -1;
  return static_cast<long>(r->stream.ops.tell(r->stream.handle));
}

OggVorbis_File* Vorbis(const PcmDecoderRecord* r) { return static_cast<OggVorbis_File*>(r->ogg.vorbis); }

// A run of holes in the data longer than this ends it.
constexpr int kMaxHoles = 64;

const char* LogName(const PcmDecoderRecord* r) { return SoundLineForLoad(r->ogg.log_name, kNameOnly, false).name; }

// Headers whose audio pages are cut off or all damaged, or that cannot be
// decoded.
void RefusedLine(const PcmDecoderRecord* r) {
  WriteLogLineFmt("Sound file %s has Vorbis headers but no audio page that decodes; refused", LogName(r));
}

void FreeGate(PcmDecoderRecord* r) {
  if (r->ogg.gate == nullptr) return;
  Gate(r)->~OggHeaderGate();
  TrackedFree(r->ogg.gate);
  r->ogg.gate = nullptr;
}

// Whether every link's headers can be decoded. A seekable file's are read
// again from where the library found them; a stream that cannot seek has
// had the first link's pass its gate, and a later link's are stopped there.
bool HeadersDecodable(PcmDecoderRecord* r) {
  OggVorbis_File* vf = Vorbis(r);
  if (!vf->seekable) return true;
  if (vf->offsets == nullptr || vf->dataoffsets == nullptr || vf->serialnos == nullptr) return false;
  const int64_t back = r->stream.ops.tell(r->stream.handle);
  bool decodable = true;
  for (int i = 0; i < vf->links && decodable; ++i)
    decodable = OggLinkHeadersDecodable(&r->stream, vf->offsets[i], vf->dataoffsets[i], vf->serialnos[i]);
  r->stream.ops.seek(r->stream.handle, back, 0);
  return decodable;
}

// 0 when open; -1 when the library does not take the file;
// kPcmDecoderRefusedForGood when it is a Vorbis file whose headers cannot
// be decoded (said in a line).
int OpenVorbis(PcmDecoderRecord* r) {
  r->ogg.vorbis_open = 0;
  r->ogg.vorbis = TrackedCalloc(sizeof(OggVorbis_File), "", 0);
  if (r->ogg.vorbis == nullptr) return -1;
  if (r->stream.ops.seek(r->stream.handle, 0, 1) != 0) {
    void* block = TrackedAlloc(sizeof(OggHeaderGate), "", 0);
    if (block == nullptr) return -1;
    r->ogg.gate = new (block) OggHeaderGate();
  }
  const ov_callbacks callbacks = {&OggRead, &OggSeek, &OggClose, &OggTell};
  OggVorbis_File* vf = Vorbis(r);
  const bool tested = ov_test_callbacks(r, vf, nullptr, 0, callbacks) == 0;
  // The library's second stage loses what it holds for a chain's earlier
  // links when a later link's headers fail, so such a chain never reaches it.
  const int failing = tested && vf->seekable
                          ? OggChainFailingLink(&r->stream, {vf->serialnos + 2, static_cast<int>(vf->serialnos[1]),
                                                             vf->os.serialno, vf->dataoffsets[0]})
                          : 0;
  if (failing != 0) {
    ov_clear(vf);
    WriteLogLineFmt("Sound file %s is a chained Ogg whose link %d cannot be opened (its headers are damaged, cut off "
                    "or missing); refused",
                    LogName(r), failing);
    return kPcmDecoderRefusedForGood;
  }
  const bool opened = tested && ov_test_open(vf) == 0;
  if (opened) r->ogg.vorbis_open = 1;
  const bool decodable = opened ? HeadersDecodable(r) : r->ogg.gate == nullptr || !Gate(r)->Blocked();
  if (opened && decodable) return 0;
  if (!decodable) RefusedLine(r);
  return decodable ? -1 : kPcmDecoderRefusedForGood;
}

void CloseVorbis(PcmDecoderRecord* r) {
  if (r->ogg.vorbis_open == 1) {
    ov_clear(Vorbis(r));
    r->ogg.vorbis_open = 0;
  }
  TrackedFree(r->ogg.vorbis);
  r->ogg.vorbis = nullptr;
  FreeGate(r);
}

// One line for each gap of a file, however often it is read over while it
// plays or is opened again while it loads (up to kOggGapLinesMax gaps).
void NameGap(PcmDecoderRecord* r, int64_t sample) {
  PcmDecoderOggState& o = r->ogg;
  const int32_t at = static_cast<int32_t>(std::clamp<int64_t>(sample, 0, INT32_MAX));
  if (o.gaps_quiet || o.gap_count >= kOggGapLinesMax || std::count(o.gaps, o.gaps + o.gap_count, at) != 0) return;
  o.gaps[o.gap_count++] = at;
  SoundLineForLoad(o.log_name, kOggGapLine, true);
  WriteLogLineFmt("Sound file %s has a damaged or missing Ogg page after sample %d; loading on past the gap",
                  LogName(r), at);
}

// The library's next piece of PCM into `out`: its size, or 0 at the end of
// the data. A hole in the data (a page that fails its check, or one
// missing) is passed over, once said; any other error ends the data.
long LibraryRead(PcmDecoderRecord* r, uint8_t* out, int size) {
  for (int holes = 0; holes < kMaxHoles; ++holes) {
    int section = 0;
    long got = ov_read(Vorbis(r), reinterpret_cast<char*>(out), size, 0, r->ogg.word_size, r->ogg.word_size != 1,
                       &section);
    if (got > 0) return got;
    if (got != OV_HOLE) {
      if (r->ogg.gate != nullptr && Gate(r)->TellOnce())
        WriteLogLineFmt("Sound file %s has a later link whose Vorbis headers cannot be decoded; the sound ends before it",
                        LogName(r));
      return 0;
    }
    NameGap(r, r->format.block_align != 0 ? r->position / r->format.block_align : 0);
  }
  return 0;
}

// A sample as the library's read rounds it: the value times 32768 (128 for
// 8 bits) in single precision, to nearest with ties to even. A value beyond
// the integer range, or not a number, gives the lowest integer, as the
// library's rounding instruction does (the clip then makes it the lowest
// sample).
inline int32_t RoundSample(float x) {
#if defined(__SSE2__)
  return _mm_cvtss_si32(_mm_set_ss(x));
#else
  if (!(x >= -2147483648.0f && x < 2147483648.0f)) return INT32_MIN;
  return static_cast<int32_t>(std::nearbyint(x));
#endif
}

// Interleaves `frames` frames of the decoder's channels into `out`: 16-bit
// signed little-endian, or 8-bit unsigned. Mono and stereo 16-bit go four
// frames at a time: the vector rounding and saturating pack give each
// sample as the scalar path does.
void StoreFrames(float* const* pcm, int frames, int channels, int word_size, uint8_t* out) {
  int j = 0;
  if (word_size == 1) {
    for (; j < frames; ++j)
      for (int i = 0; i < channels; ++i)
        *out++ = static_cast<uint8_t>(std::clamp(RoundSample(pcm[i][j] * 128.0f), -128, 127) + 128);
    return;
  }
#if defined(__SSE2__)
  const __m128 scale = _mm_set1_ps(32768.0f);
  if (channels == 2) {
    for (; j + 4 <= frames; j += 4, out += 16) {
      const __m128i left = _mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(pcm[0] + j), scale));
      const __m128i right = _mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(pcm[1] + j), scale));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                       _mm_packs_epi32(_mm_unpacklo_epi32(left, right), _mm_unpackhi_epi32(left, right)));
    }
  } else if (channels == 1) {
    for (; j + 8 <= frames; j += 8, out += 16) {
      const __m128i a = _mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(pcm[0] + j), scale));
      const __m128i b = _mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(pcm[0] + j + 4), scale));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(a, b));
    }
  }
#endif
  for (; j < frames; ++j) {
    for (int i = 0; i < channels; ++i) {
      const int32_t v = std::clamp(RoundSample(pcm[i][j] * 32768.0f), -32768, 32767);
      out[0] = static_cast<uint8_t>(v & 0xFF);
      out[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
      out += 2;
    }
  }
}

// Granule positions this far from 0 are taken as unset, so that sums with
// sample counts stay in range.
constexpr int64_t kGranuleLimit = int64_t{1} << 60;

bool GranuleSet(int64_t granule) { return granule > -kGranuleLimit && granule < kGranuleLimit && granule != -1; }

// The pages of an Ogg file read through the record's stream from a given
// offset, with where each one starts. Two of them share the stream: each
// seeks back to its own place when the other read last.
class PageSource {
 public:
  PageSource(const SoundStream* stream, const void** last_reader) : stream_(stream), last_reader_(last_reader) {
    ogg_sync_init(&sync_);
  }
  ~PageSource() { ogg_sync_clear(&sync_); }
  PageSource(const PageSource&) = delete;
  PageSource& operator=(const PageSource&) = delete;

  void Start(int64_t offset) {
    ogg_sync_reset(&sync_);
    next_ = offset;
    read_at_ = offset;
    if (*last_reader_ == this) *last_reader_ = nullptr;
  }
  // The next whole page (bytes that hold none are passed over) and its
  // offset; false at the end of the file.
  bool Next(ogg_page* page, int64_t* at) {
    for (;;) {
      const long n = ogg_sync_pageseek(&sync_, page);
      if (n > 0) {
        *at = next_;
        next_ += n;
        return true;
      }
      if (n < 0) {
        next_ -= n;
      } else if (!Fill()) {
        return false;
      }
    }
  }

 private:
  static constexpr long kChunk = 8192;
  bool Fill() {
    if (*last_reader_ != this) {
      if (stream_->ops.seek(stream_->handle, read_at_, 0) != 0) return false;
      *last_reader_ = this;
    }
    char* space = ogg_sync_buffer(&sync_, kChunk);
    if (space == nullptr) return false;
    const size_t got = stream_->ops.read(space, 1, kChunk, stream_->handle);
    if (got == 0) return false;
    ogg_sync_wrote(&sync_, static_cast<long>(got));
    read_at_ += static_cast<int64_t>(got);
    return true;
  }

  const SoundStream* stream_;
  const void** last_reader_;
  ogg_sync_state sync_;
  int64_t next_ = 0;     // offset of the first byte the sync holds or will read
  int64_t read_at_ = 0;  // offset of the next byte to read from the stream
};

// The most that a link's last granule position can be, read from its last
// pages: the granule position of the stream's last page but one that has
// one, plus the samples of every packet that ends after it (block sizes
// only; a packet whose one before is unknown counts a long block for it).
// A last page without a granule position (no packet ends on it), or with
// one past any sum of samples, then counts for what its packets hold. Read
// up to `last_page_at` (the link's last page as the library found it, the
// stream's or, in a movie, another's) in growing windows before it, up to
// 256 KiB, none before `link_start`. A window that reaches the link's start
// and holds fewer than two such pages gives `start_granule` (where the
// decode's first sample lies) plus the samples of all its packets. -1 when
// neither is found.
int64_t TailBound(const SoundStream* stream, const void** last_reader, vorbis_info* info, long serial,
                  int64_t link_start, int64_t last_page_at, int64_t start_granule) {
  const long longest = vorbis_info_blocksize(info, 1);
  for (int64_t window = 16384; window <= (int64_t{1} << 18); window *= 4) {
    const int64_t from = std::max<int64_t>(link_start, last_page_at - window);
    PageSource source(stream, last_reader);
    source.Start(from);
    ogg_stream_state os;
    ogg_stream_init(&os, static_cast<int>(serial));
    int64_t count = 0;  // samples of the packets read
    int64_t granule[2] = {0, 0}, count_at[2] = {0, 0};  // the last two pages with one, and the count there
    int seen = 0;
    long last_size = 0;  // block size of the packet before; 0: unknown, -1: a header
    ogg_page page;
    int64_t at;
    while (source.Next(&page, &at) && at <= last_page_at) {
      if (ogg_page_serialno(&page) != serial || ogg_stream_pagein(&os, &page) != 0) continue;
      ogg_packet packet;
      bool audio = false;  // an audio packet ends on the page
      for (int got; (got = ogg_stream_packetout(&os, &packet)) != 0;) {
        const long size = got > 0 ? vorbis_packet_blocksize(info, &packet) : 0;
        if (size <= 0) {
          last_size = got > 0 && packet.bytes > 0 && (packet.packet[0] & 1) != 0 ? -1 : 0;
          continue;
        }
        if (last_size >= 0) count += ((last_size != 0 ? last_size : longest) + size) / 4;
        last_size = size;
        audio = true;
      }
      // A header page's granule position (0) is not a sample's.
      if (!audio || !GranuleSet(ogg_page_granulepos(&page))) continue;
      granule[0] = granule[1], count_at[0] = count_at[1];
      granule[1] = ogg_page_granulepos(&page), count_at[1] = count;
      ++seen;
    }
    ogg_stream_clear(&os);
    *last_reader = nullptr;
    if (seen >= 2) return granule[0] + (count - count_at[0]);
    if (from == link_start) return GranuleSet(start_granule) ? start_granule + count : -1;
  }
  return -1;
}

// A page of the sound's stream at which decoding can start again, and what
// the decode from the start knows at the first audio packet that begins on
// it. Samples are counted in the untrimmed decode of every packet from the
// first: decoding started at the page gives its first sample at `out_start`.
struct RestartPoint {
  int64_t offset;
  int64_t out_start;
  int64_t end;  // the decode's sample at which the sound ends, as known there
  bool resync;  // a gap came before, and no granule position since
};

// The decoder of a seekable file of one Vorbis stream. A scan reads the
// pages in order without decoding, counting each packet's samples from its
// block size (as the decoder will give them), and keeps a restart point for
// each page; it goes only as far as opening (the first granule position, or
// the end of a short file) and seeking need. The read decodes from a
// restart point, dropping what lies before the sample sought: a packet's
// samples depend only on it and the packet before, so the samples match the
// decode from the start bit for bit.
//
// The sound is the untrimmed decode from the start trim (the samples the
// first audio page completes less its granule position) to the last granule
// position, counted from that first page's. A gap (a page missing or
// damaged) loses its samples: the count after it is set again by the next
// granule position, as the decoder library's own read does.
class OggPages {
 public:
  // `info`: the library's headers of the stream, which outlive this.
  OggPages(PcmDecoderRecord* r, vorbis_info* info)
      : r_(r), info_(info), scan_src_(&r->stream, &last_reader_), read_src_(&r->stream, &last_reader_) {
    ogg_stream_init(&scan_os_, 0);
    ogg_stream_init(&read_os_, 0);
  }
  ~OggPages() {
    if (dsp_ready_) {
      vorbis_block_clear(&scan_block_);
      vorbis_block_clear(&read_block_);
      vorbis_dsp_clear(&dsp_);
    }
    ogg_stream_clear(&scan_os_);
    ogg_stream_clear(&read_os_);
  }
  OggPages(const OggPages&) = delete;
  OggPages& operator=(const OggPages&) = delete;

  // Finds the stream and scans up to the first granule position, or to the
  // end in a file of up to kScanWholeBytes. False when the file is not to
  // be decoded this way.
  // `last_page_at`: where the library's last page of the file's link
  // starts (the stream's, or another stream's in a movie).
  // `last_granule`: the library's last granule position of the link, -1
  // when it could not read one; `start_granule`: where it found the
  // decode's first sample.
  bool Open(int64_t last_granule, long serial, int64_t last_page_at, int64_t start_granule) {
    // Unknown, the sound runs to the end of the packets.
    last_granule_ = GranuleSet(last_granule) ? last_granule : kGranuleLimit;
    const SoundStream& stream = r_->stream;
    bool whole = stream.ops.seek(stream.handle, 0, 2) == 0 && stream.ops.tell(stream.handle) <= kScanWholeBytes;
    last_reader_ = nullptr;
    scan_src_.Start(0);
    if (!FindStream() || serial_ != serial) return false;
    if (!whole) {
      const int64_t bound = TailBound(&r_->stream, &last_reader_, info_, serial_, 0, last_page_at, start_granule);
      if (bound >= 0) last_granule_ = std::min(last_granule_, bound);
      // Neither the granule position nor the last pages tell the end.
      whole = last_granule_ == kGranuleLimit;
    }
    while (!scan_done_ && !unusable_ && (!mapped_ || whole)) ScanPage();
    if (unusable_ || !dsp_ready_) return false;
    // Scanned to its end, the sound stops where its packets do if they end
    // before its last granule position, and a gap's samples are counted out.
    const int64_t end = scan_done_ ? std::min(scan_end_, count_) : scan_end_;
    length_ = mapped_ && end > trim_ ? end - trim_ : 0;
    return true;
  }
  // The sound's length in frames (0 when no audio packet holds a granule
  // position).
  int64_t Length() const { return length_; }
  bool HoleAtStart() const { return hole_at_start_; }

  // Moves the read to the sound's frame `frame` (0 .. the length).
  void Seek(int64_t frame) {
    const int64_t target = trim_ + frame;
    if (started_ && pos_ <= target && target - pos_ <= kNearSamples) {
      skip_to_ = target;
      return;
    }
    while (!scan_done_ && !unusable_ && (points_.empty() || points_.back().out_start <= target)) ScanPage();
    const auto after = std::upper_bound(points_.begin(), points_.end(), target,
                                        [](int64_t t, const RestartPoint& p) { return t < p.out_start; });
    if (after == points_.begin()) {
      started_ = true;
      finished_ = true;
      pos_ = skip_to_ = target;
      return;
    }
    const RestartPoint& point = *(after - 1);
    if (!started_ || pos_ > target || pos_ < point.out_start) Restart(point);
    skip_to_ = target;
  }

  // Whether a sample of the sound follows, decoding up to it.
  bool Ready() {
    for (;;) {
      const int n = vorbis_synthesis_pcmout(&dsp_, nullptr);
      if (n > 0) {
        if (pos_ >= skip_to_) return pos_ < read_end_;
        const int drop = static_cast<int>(std::min<int64_t>(n, skip_to_ - pos_));
        vorbis_synthesis_read(&dsp_, drop);
        pos_ += drop;
      } else if (finished_ || !NextPacket()) {
        finished_ = true;
        return false;
      }
    }
  }

  // Up to `frames` frames of the sound into `out`: how many.
  int Read(uint8_t* out, int frames, int word_size) {
    const int frame_bytes = info_->channels * word_size;
    int done = 0;
    while (done < frames && Ready()) {
      float** pcm = nullptr;
      const int n = vorbis_synthesis_pcmout(&dsp_, &pcm);
      const int take = static_cast<int>(std::min<int64_t>({n, frames - done, read_end_ - pos_}));
      StoreFrames(pcm, take, info_->channels, word_size, out + static_cast<size_t>(done) * frame_bytes);
      vorbis_synthesis_read(&dsp_, take);
      pos_ += take;
      done += take;
    }
    return done;
  }

 private:
  // A forward seek this short decodes on rather than looking the page up.
  static constexpr int64_t kNearSamples = 8192;
  // A file this short (a minute of music, a voice, a sound effect) is
  // scanned whole when it opens, in about a millisecond, so that its
  // length is what its packets give; a longer one (long music, a movie)
  // goes by its last granule position, and is scanned as far as seeks need.
  static constexpr int64_t kScanWholeBytes = int64_t{1} << 20;

  // The file's first Vorbis stream, among the first pages of its streams.
  bool FindStream() {
    ogg_page page;
    int64_t at;
    while (scan_src_.Next(&page, &at) && ogg_page_bos(&page)) {
      ogg_stream_reset_serialno(&scan_os_, ogg_page_serialno(&page));
      ogg_packet packet;
      if (ogg_stream_pagein(&scan_os_, &page) == 0 && ogg_stream_packetpeek(&scan_os_, &packet) == 1 &&
          vorbis_synthesis_idheader(&packet)) {
        serial_ = ogg_page_serialno(&page);
        ogg_stream_reset_serialno(&scan_os_, serial_);
        ScanTake(&page, at);
        return !unusable_;
      }
    }
    return false;
  }

  void ScanPage() {
    ogg_page page;
    int64_t at;
    do {
      if (!scan_src_.Next(&page, &at)) {
        scan_done_ = true;
        return;
      }
    } while (ogg_page_serialno(&page) != serial_);
    ScanTake(&page, at);
  }

  // Takes a page into the scan. Which packet is the first to begin on the
  // page follows the stream state's own rules: a page out of sequence
  // drops the packet left unfinished, and a continued page with nothing to
  // continue is passed over up to its first packet end.
  void ScanTake(ogg_page* page, int64_t at) {
    const long sequence = ogg_page_pageno(page);
    const bool gap = next_sequence_ != -1 && sequence != next_sequence_;
    if (ogg_stream_pagein(&scan_os_, page) != 0) return;
    next_sequence_ = sequence + 1;
    if (gap) unfinished_ = false;
    const int segments = page->header[26];
    const unsigned char* lacing = page->header + 27;
    int first = 0;
    int ends_earlier = 0;  // a packet begun on an earlier page ends here, before it
    bool closed = false;   // the page's first segments end a packet begun earlier, or are passed over
    if (unfinished_ || ogg_page_continued(page)) {
      while (first < segments && lacing[first] == 255) ++first;
      if (first < segments) {
        ++first;
        ends_earlier = unfinished_ ? 1 : 0;
        closed = true;
      }
    }
    if (first < segments) {
      waiting_.push_back({at, ends_earlier});
      unfinished_ = lacing[segments - 1] == 255;
    } else if (closed) {
      unfinished_ = false;
    }
    ogg_packet packet;
    for (int got; (got = ogg_stream_packetout(&scan_os_, &packet)) != 0;) {
      if (got > 0) {
        ScanPacket(&packet);
      } else {
        if (!audio_seen_) hole_at_start_ = true;
        if (mapped_) resync_ = true;
      }
    }
    if (ogg_page_eos(page)) scan_done_ = true;
  }

  void ScanPacket(ogg_packet* packet) {
    bool audio = false;
    // The library has read the three headers.
    if (headers_ < 3) {
      if (packet->bytes < 1 || (packet->packet[0] & 1) == 0) {
        unusable_ = true;
        return;
      }
      if (++headers_ == 3) InitDecoder();
    } else if (dsp_ready_ && vorbis_synthesis_trackonly(&scan_block_, packet) == 0) {
      audio = true;
      const long size = vorbis_info_blocksize(info_, scan_block_.W);
      if (audio_seen_) count_ += (last_size_ + size) / 4;
      last_size_ = size;
      audio_seen_ = true;
    }
    // Each page waits for the first audio packet from its first begun one.
    size_t kept = 0;
    for (Waiting& w : waiting_) {
      if (audio && w.before == 0) {
        points_.push_back({w.offset, count_, scan_end_, resync_});
        continue;
      }
      if (w.before > 0) --w.before;
      waiting_[kept++] = w;
    }
    waiting_.resize(kept);
    if (!audio || !GranuleSet(packet->granulepos)) return;
    if (!mapped_) {
      // A first page that is also the last is cut at its end instead.
      const int64_t base = packet->e_o_s ? 0 : packet->granulepos - count_;
      trim_ = base < 0 ? -base : 0;
      scan_end_ = last_granule_ - base;
      mapped_ = true;
      for (RestartPoint& p : points_) p.end = scan_end_;
    } else if (resync_) {
      scan_end_ = last_granule_ - packet->granulepos + count_;
      resync_ = false;
    }
  }

  void InitDecoder() {
    if (vorbis_synthesis_init(&dsp_, info_) != 0) {
      unusable_ = true;
      return;
    }
    vorbis_block_init(&dsp_, &scan_block_);
    vorbis_block_init(&dsp_, &read_block_);
    dsp_ready_ = true;
  }

  void Restart(const RestartPoint& point) {
    read_src_.Start(point.offset);
    ogg_stream_reset_serialno(&read_os_, serial_);
    vorbis_synthesis_restart(&dsp_);
    pos_ = point.out_start;
    read_end_ = point.end;
    read_resync_ = point.resync;
    started_ = true;
    finished_ = false;
    read_eos_ = false;
    passing_ = true;
    passed_size_ = 0;
  }

  // Decodes the read's next packet; false when none is left.
  bool NextPacket() {
    ogg_packet packet;
    for (;;) {
      const int got = ogg_stream_packetout(&read_os_, &packet);
      if (got > 0) {
        ReadPacket(&packet);
        return true;
      }
      if (got < 0) {
        read_resync_ = true;
        NameGap(r_, pos_ - trim_);
        continue;
      }
      if (read_eos_) return false;
      ogg_page page;
      int64_t at;
      do {
        if (!read_src_.Next(&page, &at)) return false;
      } while (ogg_page_serialno(&page) != serial_);
      if (ogg_stream_pagein(&read_os_, &page) == 0 && ogg_page_eos(&page)) read_eos_ = true;
    }
  }

  void ReadPacket(ogg_packet* packet) {
    const int64_t granule = packet->granulepos;
    int64_t count;  // the samples given up to the end of this packet
    if (passing_) {
      // After a restart, packets whose samples (and the next one's, however
      // long) lie before the sample sought are counted, not decoded; the
      // last of them would be decoded only to be lapped.
      if (vorbis_synthesis_trackonly(&read_block_, packet) != 0) return;
      const long size = vorbis_info_blocksize(info_, read_block_.W);
      count = passed_size_ != 0 ? pos_ + (passed_size_ + size) / 4 : pos_;
      if (count + (size + vorbis_info_blocksize(info_, 1)) / 4 <= skip_to_) {
        pos_ = count;
        passed_size_ = size;
      } else {
        passing_ = false;
        pos_ = count;
      }
    }
    if (!passing_) {
      // Without these the decoder trims nothing.
      packet->granulepos = -1;
      packet->e_o_s = 0;
      if (vorbis_synthesis(&read_block_, packet) != 0 || vorbis_synthesis_blockin(&dsp_, &read_block_) != 0) return;
      count = pos_ + vorbis_synthesis_pcmout(&dsp_, nullptr);
    }
    if (read_resync_ && GranuleSet(granule)) {
      read_end_ = last_granule_ - granule + count;
      read_resync_ = false;
    }
  }

  struct Waiting {
    int64_t offset;
    int before;  // packets that end on the page before its first one (one begun earlier)
  };

  PcmDecoderRecord* r_;
  const void* last_reader_ = nullptr;
  vorbis_info* info_;
  vorbis_dsp_state dsp_{};
  vorbis_block scan_block_{};
  vorbis_block read_block_{};
  bool dsp_ready_ = false;
  bool unusable_ = false;
  long serial_ = 0;
  int headers_ = 0;
  int64_t last_granule_ = 0;
  int64_t trim_ = 0;
  int64_t length_ = 0;
  bool mapped_ = false;
  bool hole_at_start_ = false;

  // The scan.
  PageSource scan_src_;
  ogg_stream_state scan_os_;
  long next_sequence_ = -1;
  bool unfinished_ = false;  // the last page ended inside a packet
  std::vector<Waiting> waiting_;
  std::vector<RestartPoint> points_;
  int64_t count_ = 0;  // samples the packets scanned give
  long last_size_ = 0;
  bool audio_seen_ = false;
  bool resync_ = false;
  int64_t scan_end_ = 0;
  bool scan_done_ = false;

  // The read.
  PageSource read_src_;
  ogg_stream_state read_os_;
  int64_t pos_ = 0;      // the sample the decoder gives next
  int64_t skip_to_ = 0;  // samples before this one are dropped
  int64_t read_end_ = 0;
  bool read_resync_ = false;
  bool started_ = false;
  bool finished_ = false;
  bool read_eos_ = false;
  bool passing_ = false;   // packets before the sample sought are passed over
  long passed_size_ = 0;   // block size of the last packet passed over (0: none yet)
};

// Whether the last page of the sound's logical stream, the one marked as
// its end, is missing: damaged (it fails its check, and the library passes
// over it without a word) or cut off. Read from the tail of the file, in
// growing windows until a page of the stream is found (within the last
// 512 KiB). The stream is left where it was.
bool EndPageMissing(PcmDecoderRecord* r) {
  OggVorbis_File* vf = Vorbis(r);
  if (!vf->seekable || vf->serialnos == nullptr || vf->links < 1) return false;
  const long serial = vf->serialnos[vf->links - 1];
  const int64_t back = r->stream.ops.tell(r->stream.handle);
  if (r->stream.ops.seek(r->stream.handle, 0, 2) != 0) return false;
  const int64_t size = r->stream.ops.tell(r->stream.handle);
  int found = -1;  // -1: no page of the stream seen, else its end mark
  for (int64_t window = 8192; found < 0; window *= 8) {
    const int64_t start = size > window ? size - window : 0;
    if (r->stream.ops.seek(r->stream.handle, start, 0) != 0) break;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    for (int64_t left = size - start; left > 0;) {
      const long want = left > 65536 ? 65536 : static_cast<long>(left);
      char* space = ogg_sync_buffer(&sync, want);
      const size_t got = space != nullptr ? r->stream.ops.read(space, 1, static_cast<size_t>(want), r->stream.handle) : 0;
      if (got == 0) break;
      ogg_sync_wrote(&sync, static_cast<long>(got));
      left -= static_cast<int64_t>(got);
      // A window starts inside a page: the sync passes over bytes (-1, no
      // page given) before it finds the first whole one.
      ogg_page page;
      for (int got_page; (got_page = ogg_sync_pageout(&sync, &page)) != 0;)
        if (got_page > 0 && ogg_page_serialno(&page) == serial) found = ogg_page_eos(&page) ? 1 : 0;
    }
    ogg_sync_clear(&sync);
    if (start == 0 || window >= (int64_t{1} << 19)) break;
  }
  r->stream.ops.seek(r->stream.handle, back, 0);
  return found == 0;
}


OggPages* Pages(const PcmDecoderRecord* r) { return static_cast<OggPages*>(r->ogg.pages); }

void ClosePages(PcmDecoderRecord* r) {
  if (r->ogg.pages == nullptr) return;
  Pages(r)->~OggPages();
  TrackedFree(r->ogg.pages);
  r->ogg.pages = nullptr;
}

// Decodes a seekable file of one Vorbis stream from its packets with the
// library's headers of it: 1 with sound to play, 0 when none decodes, -1
// when the file is left to the library (the stream is put back where the
// library left it).
int OpenPages(PcmDecoderRecord* r) {
  OggVorbis_File* vf = Vorbis(r);
  if (!vf->seekable || vf->links != 1 || vf->pcmlengths == nullptr || vf->serialnos == nullptr ||
      vf->offsets == nullptr)
    return -1;
  void* block = TrackedAlloc(sizeof(OggPages), "", 0);
  if (block == nullptr) return -1;
  const int64_t back = r->stream.ops.tell(r->stream.handle);
  r->ogg.pages = new (block) OggPages(r, ov_info(vf, -1));
  // The library gives a link whose last page has no granule position (or
  // one before its start) the length 0.
  const int64_t last_granule = vf->pcmlengths[1] > 0 ? vf->pcmlengths[0] + vf->pcmlengths[1] : -1;
  if (!Pages(r)->Open(last_granule, vf->serialnos[0], vf->offsets[1], vf->pcmlengths[0])) {
    ClosePages(r);
    r->stream.ops.seek(r->stream.handle, back, 0);
    return -1;
  }
  OggPages* pages = Pages(r);
  if (pages->Length() <= 0) return 0;
  pages->Seek(0);
  if (!pages->Ready()) return 0;
  // A page missing or damaged before the first audio packet.
  if (pages->HoleAtStart()) NameGap(r, 0);
  return 1;
}

// A chain is read by the library, which takes each link's length from its
// last granule position: a position the link's packets do not reach is
// brought down to what its last pages hold, and a link whose last page has
// none (length 0 there) is given that too, so that the length, the
// allocation a whole load makes and the link a seek picks follow the
// packets. The stream is put back where it was.
void BoundLinks(PcmDecoderRecord* r) {
  OggVorbis_File* vf = Vorbis(r);
  if (!vf->seekable || vf->links < 2 || vf->pcmlengths == nullptr || vf->offsets == nullptr ||
      vf->serialnos == nullptr || vf->dataoffsets == nullptr)
    return;
  const int64_t back = r->stream.ops.tell(r->stream.handle);
  const void* last_reader = nullptr;
  for (int i = 0; i < vf->links; ++i) {
    vorbis_info* info = ov_info(vf, i);
    if (info == nullptr || vf->dataoffsets[i] < 0) continue;
    const int64_t start = vf->pcmlengths[2 * i];
    const int64_t length = vf->pcmlengths[2 * i + 1];
    // A link before the last ends before the next one's first page; the
    // last one's last page is where the library found it.
    const int64_t last_page_at = i + 1 < vf->links ? vf->offsets[i + 1] - 1 : vf->offsets[i + 1];
    const int64_t bound =
        TailBound(&r->stream, &last_reader, info, vf->serialnos[i], vf->offsets[i], last_page_at, start);
    if (bound < 0 || !GranuleSet(start)) continue;
    const bool written = length > 0 && GranuleSet(start + length);
    vf->pcmlengths[2 * i + 1] = std::max<int64_t>(0, written ? std::min(length, bound - start) : bound - start);
  }
  r->stream.ops.seek(r->stream.handle, back, 0);
}

// Reads the library's first piece of sound as the head: 1 with sound, 0
// when none decodes, -1 when the head cannot be had.
int OpenLibraryHead(PcmDecoderRecord* r) {
  r->ogg.head = static_cast<uint8_t*>(TrackedAlloc(4096, "", 0));
  if (r->ogg.head == nullptr) return -1;
  OggVorbis_File* vf = Vorbis(r);
  // The library's open of a seekable chained file leaves its read at the
  // last link: without this seek the first links would never be heard.
  if (ov_seekable(vf)) ov_pcm_seek(vf, 0);
  const bool has_audio = !ov_seekable(vf) || ov_pcm_total(vf, -1) > 0;
  const long first = has_audio ? LibraryRead(r, r->ogg.head, 4096) : 0;
  if (first <= 0) return 0;
  r->ogg.head_frames = static_cast<int32_t>(first / r->format.block_align);
  r->ogg.library_after_head = 1;
  return 1;
}

}  // namespace

int OpenPcmDecoderOgg(PcmDecoderRecord* r) {
  r->ogg = {};
  const char* name = SoundFileNameForLog();
  if (name != nullptr) {
    const size_t length = std::strlen(name);
    r->ogg.log_name = static_cast<char*>(TrackedAlloc(length + 1, "", 0));
    if (r->ogg.log_name != nullptr) std::memcpy(r->ogg.log_name, name, length + 1);
  }
  const int opened = OpenVorbis(r);
  if (opened != 0) {
    ClosePcmDecoderOgg(r);
    return opened;
  }
  r->ogg.word_size = OggPcmWordSize == 1 ? 1 : 2;
  vorbis_info* info = ov_info(Vorbis(r), -1);
  if (info == nullptr || info->channels <= 0 || info->channels > 255 || info->rate <= 0 || info->rate > 1000000) {
    ClosePcmDecoderOgg(r);
    return -1;
  }
  // Opened again while the file loads (a long sound played as a stream):
  // its gaps were told of by the first opening.
  r->ogg.gaps_quiet = SoundLineForLoad(r->ogg.log_name, kOggGapLine, false).said ? 1 : 0;
  plat::WaveFormatEx& f = r->format;
  std::memset(&f, 0, sizeof(f));
  f.format_tag = plat::kWaveFormatPcm;
  f.channels = static_cast<uint16_t>(info->channels);
  f.samples_per_sec = static_cast<uint32_t>(info->rate);
  f.block_align = static_cast<uint16_t>(info->channels * r->ogg.word_size);
  f.avg_bytes_per_sec = f.block_align * f.samples_per_sec;
  f.bits_per_sample = static_cast<uint16_t>(r->ogg.word_size * 8);
  f.extra_size = 0;
  r->position = 0;
  const bool end_missing = EndPageMissing(r);
  int sound = OpenPages(r);
  if (sound < 0) {
    BoundLinks(r);
    sound = OpenLibraryHead(r);
  }
  if (sound <= 0) {
    // Headers whose audio pages are cut off or all damaged.
    if (sound == 0) RefusedLine(r);
    ClosePcmDecoderOgg(r);
    return sound == 0 ? kPcmDecoderRefusedForGood : -1;
  }
  if (end_missing && !SoundLineForLoad(r->ogg.log_name, kOggEndPageLine, true).said)
    WriteLogLineFmt("Sound file %s lacks the last page of its Ogg stream (damaged or cut off); loading what decodes",
                    LogName(r));
  r->buffer_size = 4096;
  r->data_size = GetPcmDecoderOggLength(r);
  r->kind = kPcmDecoderOgg;
  return 0;
}

int ReadPcmDecoderOgg(PcmDecoderRecord* r) {
  PcmDecoderOggState& o = r->ogg;
  const int32_t ba = r->format.block_align;
  if (o.pages != nullptr) {
    const int frames = Pages(r)->Read(r->buffer, r->buffer_size / ba, o.word_size);
    if (frames <= 0) return -1;
    r->buffer_valid = frames * ba;
    return 0;
  }
  if (!o.vorbis_open) return -1;
  if (o.head != nullptr && o.head_pos < o.head_frames) {
    int32_t frames = r->buffer_size / ba;
    if (frames > o.head_frames - o.head_pos) frames = o.head_frames - o.head_pos;
    std::memcpy(r->buffer, o.head + static_cast<size_t>(o.head_pos) * ba, static_cast<size_t>(frames) * ba);
    o.head_pos += frames;
    r->buffer_valid = frames * ba;
    return 0;
  }
  if (!o.library_after_head) {
    o.library_after_head = 1;
    ov_pcm_seek(Vorbis(r), static_cast<ogg_int64_t>(o.head_frames));
  }
  // A seekable file stops at the length it reports, whatever its links'
  // packets hold beyond it.
  int32_t want = r->buffer_size;
  if (ov_seekable(Vorbis(r))) want = std::min(want, r->data_size - r->position);
  if (want < r->format.block_align) return -1;
  const long got = LibraryRead(r, r->buffer, want - want % r->format.block_align);
  if (got <= 0) return -1;
  r->buffer_valid = static_cast<int32_t>(got);
  return 0;
}

// A sample beyond the sound (past the end, or before its start) is taken
// as its end (or start): the byte position stays in range.
int SeekPcmDecoderOgg(PcmDecoderRecord* r, int32_t sample) {
  PcmDecoderOggState& o = r->ogg;
  const int32_t ba = r->format.block_align > 0 ? r->format.block_align : 1;
  const bool known = o.pages != nullptr || (o.vorbis_open && ov_seekable(Vorbis(r)));
  const int32_t last = known ? GetPcmDecoderOggLength(r) / ba : INT32_MAX / ba;
  const int32_t frame = std::clamp(sample, 0, last);
  if (o.pages != nullptr) {
    Pages(r)->Seek(frame);
  } else if (o.vorbis_open) {
    if (frame < o.head_frames) {
      o.head_pos = frame;
      o.library_after_head = 0;
    } else {
      o.head_pos = o.head_frames;
      o.library_after_head = 1;
      ov_pcm_seek(Vorbis(r), static_cast<ogg_int64_t>(frame));
    }
  }
  r->buffer_valid = 0;
  r->buffer_offset = 0;
  r->position = frame * ba;
  return 0;
}

int32_t GetPcmDecoderOggLength(const PcmDecoderRecord* r) {
  int64_t frames = 0;
  if (r->ogg.pages != nullptr) {
    frames = Pages(r)->Length();
  } else if (r->ogg.vorbis_open) {
    const ogg_int64_t total = ov_pcm_total(Vorbis(r), -1);
    if (total < 0) return 0;
    frames = static_cast<uint32_t>(total);
  }
  const int64_t bytes = std::min<int64_t>(frames, INT32_MAX) * r->format.channels * r->ogg.word_size;
  return bytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(bytes);
}

int ClosePcmDecoderOgg(PcmDecoderRecord* r) {
  ClosePages(r);
  CloseVorbis(r);
  TrackedFree(r->ogg.head);
  r->ogg.head = nullptr;
  r->ogg.head_frames = 0;
  TrackedFree(r->ogg.log_name);
  r->ogg.log_name = nullptr;
  return 0;
}
