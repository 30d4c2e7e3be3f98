// lib/sound/ogg_decoder.cpp - the Ogg Vorbis converter, to 16-bit (or 8-bit)
// PCM. vorbisfile opens and identifies the file through callbacks on the
// record's stream. A seekable file of one Vorbis stream (a sound file, or the
// sound of a movie among its pictures) is then decoded here from its packets
// with libogg and libvorbis: every audio packet, untrimmed, from the start
// trim its first audio page's granule position gives to the end of its
// packets, less the end trim of its last granule position, seeking through
// an index of its pages that grows as reading and seeking need it. Chained
// and non-seekable files are read through vorbisfile. One decoder build
// serves both sound files and movies. No
// packet is decoded before every link's headers have passed the check of
// lib/sound/vorbis_headers.h (through lib/sound/ogg_header_guard.h), where
// a seekable file's links are also walked before vorbisfile's open walks
// them. Every link's length follows its packets: no single granule position
// decides it.
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
// be decoded (said in a line). `places` gets where the walk of a seekable
// file's links found them.
int OpenVorbis(PcmDecoderRecord* r, OggLinkPlaces* places) {
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
                                                             vf->os.serialno, vf->dataoffsets[0]},
                                                places)
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

// A page of a Vorbis stream on which an audio packet ends, with the
// granule position the page gives that packet, and the samples the packets
// give up to its end, counted from a reading's first audio packet.
struct GranuleMark {
  int64_t granule;
  int64_t count;
  int64_t Offset() const { return granule - count; }
};

// Of a run of marks, one whose offset (granule position less count) the
// next mark or the one after it shares, so that no single granule position
// decides the mapping from positions to samples: looking from the end, the
// latest such mark; from the start, the earliest. -1 when none agree.
int AgreedMark(const std::vector<GranuleMark>& marks, bool from_end) {
  const int n = static_cast<int>(marks.size());
  for (int step = 0; step < n; ++step) {
    const int k = from_end ? n - 1 - step : step;
    for (int apart : {1, 2}) {
      const int other = from_end ? k - apart : k + apart;
      if (other >= 0 && other < n && marks[other].Offset() == marks[k].Offset()) return k;
    }
  }
  return -1;
}

// A link's last page as its packets and granule position read.
struct LastPage {
  bool ended = false;        // an audio packet ends on it
  int64_t granule = -1;      // the position it gives that packet
  int64_t last_samples = 0;  // the samples that packet adds
};

// Where a link's sound ends, in samples counted as `count_end` is (its
// packets' end), given the offset that the granule positions before its
// last page agree on: the packets' end, less the end trim of the last
// page's granule position where that trim lies within the last packet's
// samples, as the format has it. A position off that range, or none where
// a packet ends, disagrees with the packets: `odd`. The decoder library then
// still trims by up to the last packet's samples, which `library_trim`
// follows; otherwise the packets are given whole.
int64_t EndFromPackets(int64_t offset, int64_t count_end, const LastPage& last, bool library_trim, bool* odd) {
  if (!last.ended) return count_end;
  if (!GranuleSet(last.granule)) {
    *odd = true;
    return count_end;
  }
  const int64_t trim = offset + count_end - last.granule;
  if (trim >= 0 && trim <= last.last_samples) return count_end - trim;
  *odd = true;
  return library_trim ? count_end - std::clamp<int64_t>(trim, 0, last.last_samples) : count_end;
}

// Counts a Vorbis stream's samples from its packets' block sizes, page by
// page, as the decoder will give them, and keeps a mark for each page on
// which an audio packet ends with a granule position. A packet whose one
// before is unknown (the first read) counts a long block for that one; a
// hole among the packets is passed over, as the decoder overlaps the
// packets on either side of it.
class PacketCounter {
 public:
  PacketCounter(vorbis_info* info, long serial) : info_(info) {
    ogg_stream_init(&os_, static_cast<int>(serial));
    // The first page read need not be the stream's first: no hole before it.
    ogg_stream_reset_serialno(&os_, static_cast<int>(serial));
  }
  ~PacketCounter() { ogg_stream_clear(&os_); }
  PacketCounter(const PacketCounter&) = delete;
  PacketCounter& operator=(const PacketCounter&) = delete;

  // Takes a page of the stream; false when it does not fit the stream.
  bool Take(ogg_page* page) {
    if (ogg_stream_pagein(&os_, page) != 0) return false;
    page_ = LastPage{};
    ogg_packet packet;
    for (int got; (got = ogg_stream_packetout(&os_, &packet)) != 0;) {
      if (got < 0) {
        holed_ = true;
        continue;
      }
      const long size = vorbis_packet_blocksize(info_, &packet);
      if (size <= 0) {
        // A header: the next audio packet is the stream's first.
        if (packet.bytes > 0 && (packet.packet[0] & 1) != 0) last_size_ = -1;
        continue;
      }
      const int64_t samples = last_size_ < 0 ? 0 : ((last_size_ != 0 ? last_size_ : Longest()) + size) / 4;
      count_ += samples;
      last_size_ = size;
      page_.ended = true;
      page_.last_samples = samples;
    }
    // A header page's granule position (0) is not a sample's.
    if (page_.ended) {
      page_.granule = ogg_page_granulepos(page);
      if (GranuleSet(page_.granule)) marks_.push_back({page_.granule, count_});
    }
    return true;
  }
  int64_t Count() const { return count_; }
  const std::vector<GranuleMark>& Marks() const { return marks_; }
  // The page taken last: whether an audio packet ended on it, and so on.
  const LastPage& Page() const { return page_; }
  // A page was missing or out of order: granule positions then map the
  // pages after it by samples read in another order, or lost.
  bool Holed() const { return holed_; }

 private:
  long Longest() const { return vorbis_info_blocksize(info_, 1); }

  vorbis_info* info_;
  ogg_stream_state os_;
  int64_t count_ = 0;
  long last_size_ = 0;  // block size of the packet before; 0: unknown, -1: a header
  std::vector<GranuleMark> marks_;
  LastPage page_;
  bool holed_ = false;
};

// Where a link's sound ends, read from its last pages.
struct LinkEnd {
  // true: in samples counted from the link's first audio packet (its pages
  // were read from its start); false: as a granule position, by the offset
  // its last pages agree on.
  bool counted = false;
  int64_t end = 0;
  bool odd = false;  // granule positions there disagree with the packets or each other
  // The offset the last pages agree on, where they do.
  bool agreed = false;
  int64_t offset = 0;
};

// Reads a link's last pages in growing windows before its last page (of its
// Vorbis stream, at `last_page_at`), none before `link_start`, until two
// granule positions agree on the offset, with no page missing or out of
// order among them: two before that page, or the last one before it and the
// last page's, where that gives an end trim within the last packet (any one
// of them may be wrong), and reads the end from the packets after them. A
// window that reaches the link's start counts all its packets, and takes the
// offset from `start` where the last pages give none (or the offset 0 of a
// link whose one audio page is the last, null `start`); `whole` reads from
// there at once.
LinkEnd TailEnd(const SoundStream* stream, const void** last_reader, vorbis_info* info, long serial,
                int64_t link_start, int64_t last_page_at, const GranuleMark* start, bool library_trim,
                bool whole = false) {
  LinkEnd result;
  for (int64_t window = whole ? std::max<int64_t>(16384, last_page_at - link_start) : 16384;; window *= 4) {
    const int64_t from = std::max<int64_t>(link_start, last_page_at - window);
    PageSource source(stream, last_reader);
    source.Start(from);
    PacketCounter counter(info, serial);
    ogg_page page;
    int64_t at;
    bool any = false;
    while (source.Next(&page, &at) && at <= last_page_at)
      if (ogg_page_serialno(&page) == serial) any = counter.Take(&page) || any;
    *last_reader = nullptr;
    std::vector<GranuleMark> marks = counter.Marks();
    const LastPage last = any ? counter.Page() : LastPage{};
    // The last page's mark is the end's, not a reference for it.
    const bool last_marked = last.ended && GranuleSet(last.granule) && !marks.empty();
    if (last_marked) marks.pop_back();
    int ref = -1;
    if (last_marked && !marks.empty()) {
      const int64_t trim = marks.back().Offset() + counter.Count() - last.granule;
      if (trim >= 0 && trim <= last.last_samples) ref = static_cast<int>(marks.size()) - 1;
    }
    if (ref < 0) ref = AgreedMark(marks, true);
    if (ref >= 0 && ref + 1 != static_cast<int>(marks.size())) result.odd = true;
    if ((ref < 0 || counter.Holed()) && from != link_start) continue;
    if (ref < 0 && start == nullptr && marks.size() > 1) result.odd = true;
    const int64_t offset = ref >= 0 ? marks[ref].Offset() : start != nullptr ? start->Offset() : 0;
    // The library's trim goes by the position just before the last page,
    // whatever it says.
    const int64_t trim_offset = library_trim && !marks.empty() ? marks.back().Offset() : offset;
    if (trim_offset != offset) result.odd = true;
    const int64_t end = EndFromPackets(trim_offset, counter.Count(), last, library_trim, &result.odd);
    result.counted = from == link_start;
    result.end = result.counted ? end : offset + end;
    result.agreed = ref >= 0;
    result.offset = offset;
    return result;
  }
}

// What a link's first pages say of its start: the mark whose offset two of
// its first marks agree on (the first mark where none do), and the start
// trim the decoder library makes, which it takes from the first mark only
// and only within the samples of the packet that ends there.
struct LinkStart {
  bool found = false;
  bool one_page = false;  // its first audio page with a granule position is its last
  GranuleMark agreed{};
  int64_t library_trim = 0;
  bool odd = false;
  // A page missing or out of order among them: the positions after it map
  // samples lost, or read in another order.
  bool holed = false;
};

LinkStart ReadLinkStart(const SoundStream* stream, const void** last_reader, vorbis_info* info, long serial,
                        int64_t link_start, int64_t link_end) {
  constexpr size_t kMarks = 8;
  LinkStart result;
  PageSource source(stream, last_reader);
  source.Start(link_start);
  PacketCounter counter(info, serial);
  ogg_page page;
  int64_t at;
  int64_t first_samples = 0;
  while (source.Next(&page, &at) && at < link_end) {
    if (ogg_page_serialno(&page) != serial || !counter.Take(&page)) continue;
    const std::vector<GranuleMark>& marks = counter.Marks();
    if (marks.size() == 1 && !result.found) {
      result.found = true;
      first_samples = counter.Page().last_samples;
      result.one_page = ogg_page_eos(&page) != 0;
    }
    if (result.one_page || marks.size() >= kMarks || AgreedMark(marks, false) >= 0 || ogg_page_eos(&page)) break;
  }
  *last_reader = nullptr;
  if (!result.found) return result;
  const std::vector<GranuleMark>& marks = counter.Marks();
  const int agreed = AgreedMark(marks, false);
  result.agreed = marks[agreed >= 0 ? agreed : 0];
  result.odd = agreed > 0;
  result.holed = counter.Holed();
  if (!result.one_page)
    result.library_trim = std::clamp<int64_t>(-marks.front().Offset(), 0, first_samples);
  return result;
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
// first audio page completes less its granule position) to the packets'
// end, less the end trim of the last granule position; positions map to
// samples by the offset two of them agree on. A gap (a page missing or
// damaged) loses its samples: where the end is not counted from the packets,
// the count after it is set again by the next granule position, as the
// decoder library's own read does.
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

  // Finds the stream and scans up to where its first granule positions
  // agree, or to the end in a file of up to kScanWholeBytes; a longer one's
  // end is read from its last pages, before `last_page_at` (where the
  // stream's last page starts). False when the file is not to be decoded
  // this way.
  bool Open(long serial, int64_t last_page_at) {
    const SoundStream& stream = r_->stream;
    const bool whole =
        stream.ops.seek(stream.handle, 0, 2) == 0 && stream.ops.tell(stream.handle) <= kScanWholeBytes;
    last_reader_ = nullptr;
    scan_src_.Start(0);
    if (!FindStream() || serial_ != serial) return false;
    // A longer file is scanned up to its first granule position: where the
    // last pages agree with it, it maps positions to samples; else the
    // first positions vote.
    while (!scan_done_ && !unusable_ && !mapped_ && (whole || start_marks_.empty())) ScanPage();
    while (whole && !scan_done_ && !unusable_) ScanPage();
    if (unusable_ || !dsp_ready_) return false;
    if (!mapped_ && start_marks_.empty()) return true;
    if (scan_done_ || first_eos_) {
      if (!mapped_) MapStart();
      // Every packet is counted: a first audio page that is also the last
      // is cut at its granule position, as the format has that page.
      SetExactEnd(first_eos_ ? std::min(count_, scan_end_) : EndOfScan());
    } else {
      const GranuleMark first = start_marks_.front();
      const LinkEnd tail = TailEnd(&stream, &last_reader_, info_, serial_, 0, last_page_at, &first, false);
      if (!mapped_ && !(tail.agreed && tail.offset == first.Offset()))
        while (!scan_done_ && !unusable_ && !mapped_) ScanPage();
      if (unusable_) return false;
      if (!mapped_) MapStart();
      odd_ = odd_ || tail.odd;
      if (tail.counted) {
        SetExactEnd(tail.end);
      } else {
        end_granule_ = tail.end;
        SetEnd(end_granule_ - base_);
      }
    }
    length_ = scan_end_ > trim_ ? scan_end_ - trim_ : 0;
    return true;
  }
  // Whether the granule positions disagree with the packets, or with each
  // other where they map positions to samples.
  bool Odd() const { return odd_; }
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
    last_page_ = LastPage{};
    for (int got; (got = ogg_stream_packetout(&scan_os_, &packet)) != 0;) {
      if (got > 0) {
        ScanPacket(&packet);
      } else {
        if (!audio_seen_) hole_at_start_ = true;
        if (mapped_ && !exact_end_) resync_ = true;
        // Positions before a gap map samples the gap has lost.
        end_marks_.clear();
        end_after_gap_ = true;
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
      const int64_t samples = audio_seen_ ? (last_size_ + size) / 4 : 0;
      count_ += samples;
      last_size_ = size;
      audio_seen_ = true;
      last_page_.ended = true;
      last_page_.last_samples = samples;
      last_page_.granule = packet->granulepos;
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
    const GranuleMark mark{packet->granulepos, count_};
    if (end_marks_.size() == kEndMarks) end_marks_.erase(end_marks_.begin());
    end_marks_.push_back(mark);
    if (!mapped_) {
      if (packet->e_o_s && start_marks_.empty()) {
        // A first page that is also the last is cut at its end instead.
        first_eos_ = true;
        base_ = 0;
        trim_ = 0;
        mapped_ = true;
        SetEnd(packet->granulepos);
        return;
      }
      if (!packet->e_o_s) start_marks_.push_back(mark);
      if (packet->e_o_s || start_marks_.size() == kStartMarks || AgreedMark(start_marks_, false) >= 0) MapStart();
    } else if (resync_) {
      scan_end_ = end_granule_ - packet->granulepos + count_;
      resync_ = false;
    }
  }

  // Maps granule positions to samples by the earliest offset two of the
  // first marks agree on (the first mark's where none do), so that one
  // wrong position cannot move the sound. Of the start trims the first
  // mark and that offset give, the shorter is taken: a wrong first
  // position neither cuts the sound's start nor pads it.
  void MapStart() {
    const int agreed = AgreedMark(start_marks_, false);
    const int64_t first = start_marks_.front().Offset();
    base_ = agreed >= 0 ? start_marks_[agreed].Offset() : first;
    odd_ = odd_ || base_ != first;
    const int64_t trim_base = std::max(first, base_);
    trim_ = trim_base < 0 ? -trim_base : 0;
    mapped_ = true;
    SetEnd(end_granule_ - base_);
  }

  // The sound's end as the scan knows it, for the restart points made so far.
  void SetEnd(int64_t end) {
    scan_end_ = end;
    for (RestartPoint& p : points_) p.end = scan_end_;
  }
  // An end counted from the packets: a gap no longer moves it.
  void SetExactEnd(int64_t end) {
    exact_end_ = true;
    resync_ = false;
    for (RestartPoint& p : points_) p.resync = false;
    SetEnd(end);
  }

  // Where the sound ends, every packet scanned: the packets' end, less the
  // end trim of the last granule position by the offset the marks before
  // it agree on (those after the last gap).
  int64_t EndOfScan() {
    std::vector<GranuleMark> marks = end_marks_;
    const bool last_marked = last_page_.ended && GranuleSet(last_page_.granule) && !marks.empty();
    if (last_marked) marks.pop_back();
    const int ref = AgreedMark(marks, true);
    if (ref >= 0 && ref + 1 != static_cast<int>(marks.size())) odd_ = true;
    if (marks.empty() && end_after_gap_) return count_;
    const int64_t offset = ref >= 0 ? marks[ref].Offset() : !marks.empty() ? marks.back().Offset() : base_;
    return EndFromPackets(offset, count_, last_page_, false, &odd_);
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
        read_resync_ = !exact_end_;
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
      read_end_ = end_granule_ - granule + count;
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
  // The sound's end as a granule position, by the offset its last pages
  // agree on; unknown (or counted) until those are read.
  int64_t end_granule_ = kGranuleLimit;
  int64_t base_ = 0;  // granule position less samples, as the first marks agree
  int64_t trim_ = 0;
  bool odd_ = false;
  bool exact_end_ = false;  // the end is counted from the packets
  bool first_eos_ = false;  // the first audio page is also the last
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
  static constexpr size_t kStartMarks = 8;
  static constexpr size_t kEndMarks = 4;
  std::vector<GranuleMark> start_marks_;  // the first marks, up to where two agree
  std::vector<GranuleMark> end_marks_;    // the last marks scanned, since the last gap
  bool end_after_gap_ = false;
  LastPage last_page_;                    // the page scanned last
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
int OpenPages(PcmDecoderRecord* r, const std::vector<int64_t>& last_pages) {
  OggVorbis_File* vf = Vorbis(r);
  if (!vf->seekable || vf->links != 1 || vf->pcmlengths == nullptr || vf->serialnos == nullptr ||
      vf->offsets == nullptr)
    return -1;
  void* block = TrackedAlloc(sizeof(OggPages), "", 0);
  if (block == nullptr) return -1;
  const int64_t back = r->stream.ops.tell(r->stream.handle);
  r->ogg.pages = new (block) OggPages(r, ov_info(vf, -1));
  // The library's last page of the file may be another stream's, far past
  // the sound's last one in a movie whose sound ends first.
  const int64_t last_page_at = last_pages.size() == 1 && last_pages[0] >= 0 ? last_pages[0] : vf->offsets[1];
  if (!Pages(r)->Open(vf->serialnos[0], last_page_at)) {
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
// last granule position. Each is set to what the library's read of the
// link delivers, its packets less the trims the library makes, read from
// the link's first and last pages where their granule positions agree (a
// link's pages read whole where they do not), so that the length, the
// allocation a whole load makes and the link a seek picks follow the
// packets. True when a granule position disagreed with them. The stream is
// put back where it was.
bool BoundLinks(PcmDecoderRecord* r, const std::vector<int64_t>& last_pages) {
  OggVorbis_File* vf = Vorbis(r);
  if (!vf->seekable || vf->links < 2 || vf->pcmlengths == nullptr || vf->offsets == nullptr ||
      vf->serialnos == nullptr || vf->dataoffsets == nullptr)
    return false;
  const int64_t back = r->stream.ops.tell(r->stream.handle);
  const void* last_reader = nullptr;
  bool odd = false;
  for (int i = 0; i < vf->links; ++i) {
    vorbis_info* info = ov_info(vf, i);
    if (info == nullptr || vf->dataoffsets[i] < 0) continue;
    const bool last = i + 1 == vf->links;
    const int64_t link_end = last ? INT64_MAX : vf->offsets[i + 1];
    // Where the link's Vorbis stream has its last page, as the library
    // found it; else before the next link's first page, or the file's last.
    const bool walked = last_pages.size() == static_cast<size_t>(vf->links) && last_pages[i] >= vf->offsets[i];
    const int64_t last_page_at = walked ? last_pages[i] : last ? vf->offsets[i + 1] : vf->offsets[i + 1] - 1;
    const LinkStart head = ReadLinkStart(&r->stream, &last_reader, info, vf->serialnos[i], vf->offsets[i], link_end);
    if (!head.found) continue;
    // Pages missing or out of order near its start leave its positions
    // mapping samples lost, or read in another order: its packets are
    // counted.
    const LinkEnd tail = TailEnd(&r->stream, &last_reader, info, vf->serialnos[i], vf->offsets[i], last_page_at,
                                 head.one_page ? nullptr : &head.agreed, true, head.holed);
    const int64_t end = tail.counted ? tail.end : tail.end - head.agreed.Offset();
    vf->pcmlengths[2 * i + 1] = std::max<int64_t>(0, end - head.library_trim);
    odd = odd || head.odd || tail.odd;
  }
  r->stream.ops.seek(r->stream.handle, back, 0);
  return odd;
}

// Reads the library's first piece of sound as the head: 1 with sound, 0
// when none decodes, -1 when the head cannot be had.
int OpenLibraryHead(PcmDecoderRecord* r) {
  r->ogg.head = static_cast<uint8_t*>(TrackedAlloc(4096, "", 0));
  if (r->ogg.head == nullptr) return -1;
  OggVorbis_File* vf = Vorbis(r);
  // The library's open of a seekable chained file leaves its read at the
  // last link: without this seek the first links would never be heard. It
  // goes to the first page by its place, as a granule position the packets
  // do not bear out would send a seek to sample 0 past the first pages.
  if (ov_seekable(vf)) ov_raw_seek(vf, 0);
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
  OggLinkPlaces places;
  const int opened = OpenVorbis(r, &places);
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
  const std::vector<int64_t>& last_pages = places.last_pages;
  int sound = OpenPages(r, last_pages);
  bool odd = sound >= 0 && Pages(r)->Odd();
  if (sound < 0) {
    odd = BoundLinks(r, last_pages);
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
  if (odd && !SoundLineForLoad(r->ogg.log_name, kOggGranuleLine, true).said)
    WriteLogLineFmt("Sound file %s has Ogg granule positions that disagree with its packets; its length follows the "
                    "packets", LogName(r));
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
    // Read again from the start past the head, as the head was read.
    o.library_after_head = 1;
    ov_raw_seek(Vorbis(r), 0);
    for (int32_t left = o.head_frames * ba; left > 0;) {
      const long got = LibraryRead(r, r->buffer, std::min(left, r->buffer_size));
      if (got <= 0) return -1;
      left -= static_cast<int32_t>(got);
    }
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
