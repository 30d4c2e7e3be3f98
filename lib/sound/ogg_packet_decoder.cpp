// lib/sound/ogg_packet_decoder.cpp - the decoder of a seekable file of one
// Vorbis stream from its packets (lib/sound/ogg_packet_decoder.h).
#include "lib/sound/ogg_packet_decoder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace oggpcm {

namespace {

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

// A granule position of an audio packet, with the page it ends on and
// whether the packet is marked as the stream's last.
struct PageMark {
  GranuleMark mark;
  int64_t page;
  bool eos;
};

// Appends to `v`, growing it by a quarter at a time: what the walk keeps
// for each page stays within a small part of the file's size.
template <typename T>
void Append(std::vector<T>* v, const T& item) {
  if (v->size() == v->capacity()) v->reserve(v->capacity() + v->capacity() / 4 + 16);
  v->push_back(item);
}

// The walk of a single stream's pages at opening, as the packet decoder's
// read will take them: its headers, every audio packet's samples, a restart
// point for each page on which a packet begins (at most one every
// kPointSpacing bytes; the read passes over the packets between, counting
// them as the walk does, so a seek lands where it did), the first and last
// marks and the last page. What it holds never grows with the marks, and
// with the pages only by a point every kPointSpacing bytes and a cut per
// page marked last, so that a file of tiny pages costs less memory than
// its own size.
class OwnWalk final : public PacketWalk {
 public:
  // A restart point is kept at most once in this many bytes of the file;
  // after a hole, once in kHoleSpacing, so that a seek after it rarely
  // reads through it.
  static constexpr int64_t kPointSpacing = 256;
  static constexpr int64_t kHoleSpacing = 64;

  // `first_kept` and `last_kept`: how many of the first marks and of the
  // last ones are kept.
  OwnWalk(vorbis_info* info, long serial, size_t first_kept, size_t last_kept)
      : PacketWalk(info, serial, true), first_kept_(first_kept), last_kept_(last_kept) {}

  // The stream's first three packets are headers.
  bool HeadersOk() const { return headers_ == 3 && !bad_header_; }
  int64_t Count() const { return count_; }
  size_t MarkCount() const { return mark_count_; }
  const std::vector<PageMark>& FirstMarks() const { return first_marks_; }
  // The last marks since the last hole, up to the number kept, in order.
  std::vector<GranuleMark> LastMarks() const {
    const size_t n = std::min(mark_count_ - since_gap_, last_marks_.size());
    std::vector<GranuleMark> out;
    for (size_t i = last_marks_.size() - n; i < last_marks_.size(); ++i) out.push_back(last_marks_[i].mark);
    return out;
  }
  bool Holed() const { return holed_; }
  bool HoleAtStart() const { return hole_at_start_; }
  // The samples counted before the last hole (-1: none).
  int64_t LastHole() const { return last_hole_; }
  const LastPage& Last() const { return last_; }
  // The number of the last page taken, and whether it is marked last.
  int64_t FinalPage() const { return pages_ - 1; }
  bool FinalEos() const { return final_eos_; }
  bool EarlyEnd() const { return eos_pages_ > (final_eos_ ? 1 : 0); }
  std::vector<RestartPoint> TakePoints() { return std::move(points_); }
  // The end trims of pages marked last before the last page.
  std::vector<DecodeCut> TakeCuts() {
    if (!cuts_.empty() && last_cut_page_ == FinalPage()) cuts_.pop_back();
    return std::move(cuts_);
  }
  // The most memory the walk held for its index at once, in bytes.
  size_t PeakBytes() const { return peak_bytes_; }

 private:
  struct Pending {
    int64_t offset;
    int64_t page;
  };

  void AddMark(const PageMark& mark) {
    if (first_marks_.size() < first_kept_) first_marks_.push_back(mark);
    if (last_marks_.size() == last_kept_ && !last_marks_.empty()) last_marks_.erase(last_marks_.begin());
    if (last_kept_ > 0) last_marks_.push_back(mark);
    ++mark_count_;
  }

  void OnPage(const TakenPage& page, const WalkPacket* packets, size_t count) override {
    last_ = LastPage{};
    final_eos_ = page.eos;
    eos_pages_ += page.eos ? 1 : 0;
    hole_since_point_ = hole_since_point_ || page.hole;
    if (page.packet_begins &&
        (!pointed_ || page.at - last_point_at_ >= (hole_since_point_ ? kHoleSpacing : kPointSpacing))) {
      Append(&pending_, {page.at, pages_});
      pointed_ = true;
      last_point_at_ = page.at;
      hole_since_point_ = false;
    }
    if (page.hole) {
      holed_ = true;
      since_gap_ = mark_count_;
      if (!audio_seen_) hole_at_start_ = true;
      last_hole_ = count_;
    }
    const WalkPacket* p = packets;
    const WalkPacket* const end = packets + count;
    for (; p != end && headers_ < 3; ++p) {
      bad_header_ = bad_header_ || !p->header;
      ++headers_;
    }
    // The audio packets, in locals: the count's run does not go through memory.
    int64_t counted = count_;
    long last_size = last_size_;
    int64_t samples = 0;
    const WalkPacket* last_audio = nullptr;
    // The page a restart point waits at (none: past every page).
    int64_t wait_page = waiting_ < pending_.size() ? pending_[waiting_].page : INT64_MAX;
    for (; p != end; ++p) {
      if (p->size == 0) continue;
      samples = audio_seen_ ? (last_size + p->size) / 4 : 0;
      counted += samples;
      last_size = p->size;
      audio_seen_ = true;
      last_audio = p;
      // Each page waits for the first audio packet that begins on it or after.
      if (wait_page <= p->page) {
        for (; waiting_ < pending_.size() && pending_[waiting_].page <= p->page; ++waiting_)
          Append(&points_, {pending_[waiting_].offset, counted});
        if (waiting_ == pending_.size()) {
          pending_.clear();
          waiting_ = 0;
        }
        wait_page = waiting_ < pending_.size() ? pending_[waiting_].page : INT64_MAX;
      }
      if (p->granule == -1 || !GranuleSet(p->granule)) continue;
      // A packet marked last is trimmed at its end, as libvorbis trims it, by
      // what its position falls short of the samples counted from the
      // position before it, up to its own samples.
      if (p->eos && mark_count_ > since_gap_) {
        const int64_t trim = std::min(last_marks_.back().mark.Offset() + counted - p->granule, samples);
        if (trim > 0) {
          Append(&cuts_, {counted - trim, trim});
          last_cut_page_ = pages_;
        }
      }
      AddMark({{p->granule, counted}, pages_, p->eos});
    }
    count_ = counted;
    last_size_ = last_size;
    if (last_audio != nullptr) last_ = {true, last_audio->granule, samples};
    const size_t held = pending_.capacity() * sizeof(Pending) + points_.capacity() * sizeof(RestartPoint) +
                        cuts_.capacity() * sizeof(DecodeCut) +
                        (first_marks_.capacity() + last_marks_.capacity()) * sizeof(PageMark);
    peak_bytes_ = std::max(peak_bytes_, held);
  }

  const size_t first_kept_;
  const size_t last_kept_;
  int headers_ = 0;
  bool bad_header_ = false;
  int64_t count_ = 0;
  long last_size_ = 0;
  bool audio_seen_ = false;
  std::vector<PageMark> first_marks_;
  std::vector<PageMark> last_marks_;
  size_t mark_count_ = 0;
  size_t since_gap_ = 0;  // the marks before the last hole
  bool holed_ = false;
  bool hole_at_start_ = false;
  int64_t last_hole_ = -1;
  LastPage last_;
  bool final_eos_ = false;
  int64_t eos_pages_ = 0;
  std::vector<Pending> pending_;
  size_t waiting_ = 0;
  bool pointed_ = false;  // a page has been taken for a restart point
  int64_t last_point_at_ = 0;
  bool hole_since_point_ = false;
  std::vector<RestartPoint> points_;
  std::vector<DecodeCut> cuts_;
  int64_t last_cut_page_ = -1;
  size_t peak_bytes_ = 0;
};

}  // namespace

OggPages::~OggPages() {
  if (dsp_ready_) {
    vorbis_block_clear(&read_block_);
    vorbis_dsp_clear(&dsp_);
  }
  ogg_stream_clear(&read_os_);
}

bool OggPages::Open(long serial, int64_t last_page_at) {
  if (!FindStream() || serial_ != serial) return false;
  last_page_at_ = last_page_at;
  OwnWalk walk(info_, serial_, kStartMarks, kEndMarks);
  walk.Walk(&r_->stream, 0, last_page_at == INT64_MAX ? INT64_MAX : last_page_at + 1);
  last_reader_ = nullptr;
  index_bytes_ = walk.PeakBytes();
  if (!walk.HeadersOk()) return false;
  InitDecoder();
  if (!dsp_ready_) return false;
  points_ = walk.TakePoints();
  cuts_ = walk.TakeCuts();
  hole_at_start_ = walk.HoleAtStart();
  early_end_ = walk.EarlyEnd();
  end_page_missing_ = !walk.FinalEos();
  if (walk.MarkCount() == 0) return true;
  const std::vector<PageMark>& first = walk.FirstMarks();
  // Only the last page's mark ends the sound: a page marked last before it
  // is read past.
  const auto at_end = [&](const PageMark& m) { return m.eos && m.page == walk.FinalPage(); };
  if (at_end(first.front())) {
    // A first audio page that is also the last is cut at its granule
    // position, as the format has that page.
    base_ = 0;
    trim_ = 0;
    end_ = std::min(walk.Count(), first.front().mark.granule);
  } else {
    std::vector<GranuleMark> start;
    for (const PageMark& m : first) {
      if (at_end(m)) break;
      start.push_back(m.mark);
      if (start.size() == kStartMarks || AgreedMark(start, false) >= 0) break;
    }
    MapStart(start);
    end_ = EndOf(walk.LastMarks(), walk.Holed(), walk.Last(), walk.Count());
  }
  int64_t left_out = 0;
  for (const DecodeCut& c : cuts_)
    left_out += std::max<int64_t>(0, std::min(c.at + c.length, end_) - std::max(c.at, trim_));
  length_ = std::max<int64_t>(0, end_ - trim_ - left_out);
  // A hole after every sample the sound keeps is past where the read stops.
  hole_at_end_ = walk.LastHole() >= end_;
  return true;
}

int64_t OggPages::DecodeSample(int64_t frame) const {
  int64_t sample = trim_ + frame;
  for (const DecodeCut& c : cuts_)
    if (c.at <= sample && c.at >= trim_) sample += c.length;
  return sample;
}

std::vector<DecodeCut>::const_iterator OggPages::CutAfter(int64_t sample) const {
  return std::upper_bound(cuts_.begin(), cuts_.end(), sample,
                          [](int64_t s, const DecodeCut& c) { return s < c.at + c.length; });
}

void OggPages::Seek(int64_t frame) {
  const int64_t target = DecodeSample(frame);
  if (started_ && pos_ <= target && target - pos_ <= kNearSamples) {
    skip_to_ = target;
    return;
  }
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

bool OggPages::Ready() {
  for (;;) {
    const int n = vorbis_synthesis_pcmout(&dsp_, nullptr);
    if (n > 0) {
      // Samples the sound leaves out are dropped as those before a seek's.
      if (pos_ >= skip_to_ && !cuts_.empty()) {
        const auto cut = CutAfter(pos_);
        if (cut != cuts_.end() && cut->at <= pos_) skip_to_ = cut->at + cut->length;
      }
      if (pos_ >= skip_to_) return pos_ < end_;
      const int drop = static_cast<int>(std::min<int64_t>(n, skip_to_ - pos_));
      vorbis_synthesis_read(&dsp_, drop);
      pos_ += drop;
    } else if (pos_ >= end_ || finished_ || !NextPacket()) {
      finished_ = finished_ || pos_ < end_;
      if (hole_at_end_) NameOggGap(r_, length_);
      return false;
    }
  }
}

int OggPages::Read(uint8_t* out, int frames, int word_size) {
  const int frame_bytes = info_->channels * word_size;
  int done = 0;
  while (done < frames && Ready()) {
    float** pcm = nullptr;
    const int n = vorbis_synthesis_pcmout(&dsp_, &pcm);
    const auto cut = CutAfter(pos_);
    const int64_t until = cut != cuts_.end() ? std::min(cut->at, end_) : end_;
    const int take = static_cast<int>(std::min<int64_t>({n, frames - done, until - pos_}));
    StoreFrames(pcm, take, info_->channels, word_size, out + static_cast<size_t>(done) * frame_bytes);
    vorbis_synthesis_read(&dsp_, take);
    pos_ += take;
    done += take;
  }
  return done;
}

bool OggPages::FindStream() {
  PageScan scan(&r_->stream, 0);
  ScannedPage found;
  ogg_stream_state os;
  ogg_stream_init(&os, 0);
  bool vorbis = false;
  while (!vorbis && scan.Next(&found) && (found.bytes[5] & 2) != 0) {
    ogg_page page{};
    page.header = const_cast<unsigned char*>(found.bytes);
    page.header_len = static_cast<long>(found.header_len);
    page.body = const_cast<unsigned char*>(found.Body());
    page.body_len = static_cast<long>(found.body_len);
    ogg_stream_reset_serialno(&os, ogg_page_serialno(&page));
    ogg_packet packet;
    vorbis = ogg_stream_pagein(&os, &page) == 0 && ogg_stream_packetpeek(&os, &packet) == 1 &&
             vorbis_synthesis_idheader(&packet);
    if (vorbis) serial_ = ogg_page_serialno(&page);
  }
  ogg_stream_clear(&os);
  return vorbis;
}

void OggPages::MapStart(const std::vector<GranuleMark>& start_marks) {
  const int agreed = AgreedMark(start_marks, false);
  const int64_t first = start_marks.front().Offset();
  base_ = agreed >= 0 ? start_marks[agreed].Offset() : first;
  odd_ = odd_ || base_ != first;
  const int64_t trim_base = std::max(first, base_);
  trim_ = trim_base < 0 ? -trim_base : 0;
}

int64_t OggPages::EndOf(std::vector<GranuleMark> marks, bool after_gap, const LastPage& last, int64_t count) {
  const bool last_marked = last.ended && GranuleSet(last.granule) && !marks.empty();
  if (last_marked) marks.pop_back();
  const int ref = AgreedMark(marks, true);
  if (ref >= 0 && ref + 1 != static_cast<int>(marks.size())) odd_ = true;
  if (marks.empty() && after_gap) return count;
  const int64_t offset = ref >= 0 ? marks[ref].Offset() : !marks.empty() ? marks.back().Offset() : base_;
  // Every packet is counted: the end trim cuts no more than the last
  // packet, by positions off the start's mapping too, but they are said.
  // The trims of pages marked last before it move the mapping by as much.
  int64_t cut = 0;
  for (const DecodeCut& c : cuts_) cut += c.length;
  if (!after_gap && offset != base_ - cut) odd_ = true;
  return EndFromPackets(offset, count, last, &odd_);
}

void OggPages::InitDecoder() {
  if (vorbis_synthesis_init(&dsp_, info_) != 0) return;
  vorbis_block_init(&dsp_, &read_block_);
  dsp_ready_ = true;
}

void OggPages::Restart(const RestartPoint& point) {
  read_src_.Start(point.offset);
  ogg_stream_reset_serialno(&read_os_, serial_);
  vorbis_synthesis_restart(&dsp_);
  pos_ = point.out_start;
  read_repeated_.Reset();
  started_ = true;
  finished_ = false;
  passing_ = true;
  passed_size_ = 0;
}

bool OggPages::NextPacket() {
  ogg_packet packet;
  for (;;) {
    const int got = ogg_stream_packetout(&read_os_, &packet);
    if (got > 0) {
      ReadPacket(&packet);
      return true;
    }
    if (got < 0) {
      NameOggGap(r_, pos_ - trim_);
      continue;
    }
    // The read takes the pages the walk took: none after the stream's last.
    ogg_page page;
    int64_t at;
    do {
      if (!read_src_.Next(&page, &at) || at > last_page_at_) return false;
    } while (ogg_page_serialno(&page) != serial_);
    // A page given again right after itself is taken once, and said.
    if (read_repeated_.Repeated(page.header)) {
      NameOggGap(r_, pos_ - trim_);
      continue;
    }
    ogg_stream_pagein(&read_os_, &page);
  }
}

void OggPages::ReadPacket(ogg_packet* packet) {
  if (passing_) {
    // After a restart, packets whose samples (and the next one's, however
    // long) lie before the sample sought are counted, not decoded; the
    // last of them would be decoded only to be lapped.
    if (vorbis_synthesis_trackonly(&read_block_, packet) != 0) return;
    const long size = vorbis_info_blocksize(info_, read_block_.W);
    const int64_t count = passed_size_ != 0 ? pos_ + (passed_size_ + size) / 4 : pos_;
    pos_ = count;
    if (count + (size + vorbis_info_blocksize(info_, 1)) / 4 <= skip_to_) {
      passed_size_ = size;
      return;
    }
    passing_ = false;
  }
  // Without these the decoder trims nothing.
  packet->granulepos = -1;
  packet->e_o_s = 0;
  if (vorbis_synthesis(&read_block_, packet) != 0) return;
  vorbis_synthesis_blockin(&dsp_, &read_block_);
}

}  // namespace oggpcm
