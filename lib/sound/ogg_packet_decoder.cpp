// lib/sound/ogg_packet_decoder.cpp - the decoder of a seekable file of one
// Vorbis stream from its packets (lib/sound/ogg_packet_decoder.h).
#include "lib/sound/ogg_packet_decoder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cmath>

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

}  // namespace

OggPages::~OggPages() {
  if (dsp_ready_) {
    vorbis_block_clear(&scan_block_);
    vorbis_block_clear(&read_block_);
    vorbis_dsp_clear(&dsp_);
  }
  ogg_stream_clear(&scan_os_);
  ogg_stream_clear(&read_os_);
}

bool OggPages::Open(long serial, int64_t last_page_at) {
  const SoundStream& stream = r_->stream;
  const bool whole =
      stream.ops.seek(stream.handle, 0, 2) == 0 && stream.ops.tell(stream.handle) <= kScanWholeBytes;
  last_reader_ = nullptr;
  scan_src_.Start(0);
  if (!FindStream() || serial_ != serial) return false;
  // A longer file is scanned up to its first granule position here, and
  // on to where its first positions agree below.
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
    // Every packet is counted, from the pages' headers where they follow
    // one another (else through the scan): the end is what a scan of every
    // page gives.
    PacketCounter walk(info_, serial_, true);
    const bool walked = walk.Walk(&stream, &last_reader_, 0, last_page_at, true);
    while (!scan_done_ && !unusable_ && (!walked || !mapped_)) ScanPage();
    if (unusable_) return false;
    if (!mapped_) MapStart();
    if (walked) {
      const std::vector<GranuleMark>& marks = walk.Marks();
      const size_t from = std::max(walk.MarksBeforeGap(), marks.size() - std::min(marks.size(), kEndMarks));
      SetExactEnd(EndOf({marks.begin() + static_cast<long>(from), marks.end()}, walk.Holed(), walk.Page(),
                        walk.Count()));
      // The walk does not check the pages: one that fails its check when
      // read loses its samples, and the granule positions after it then
      // map the rest to the end the count gives.
      gap_resyncs_ = !walk.Holed();
      end_granule_ = scan_end_ + base_;
    } else {
      SetExactEnd(EndOfScan());
    }
  }
  length_ = scan_end_ > trim_ ? scan_end_ - trim_ : 0;
  return true;
}

void OggPages::Seek(int64_t frame) {
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

bool OggPages::Ready() {
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

int OggPages::Read(uint8_t* out, int frames, int word_size) {
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

bool OggPages::FindStream() {
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

void OggPages::ScanPage() {
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

void OggPages::ScanTake(ogg_page* page, int64_t at) {
  if (scan_repeated_.Repeated(page)) return;
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
      if (mapped_ && gap_resyncs_) resync_ = true;
      resync_offset_ = kNoOffset;
      // Positions before a gap map samples the gap has lost.
      end_marks_.clear();
      end_after_gap_ = true;
    }
  }
  if (ogg_page_eos(page)) scan_done_ = true;
}

void OggPages::ScanPacket(ogg_packet* packet) {
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
  } else if (resync_ && Agrees(&resync_offset_, mark.Offset())) {
    scan_end_ = end_granule_ - packet->granulepos + count_;
    resync_ = false;
  }
}

void OggPages::MapStart() {
  const int agreed = AgreedMark(start_marks_, false);
  const int64_t first = start_marks_.front().Offset();
  base_ = agreed >= 0 ? start_marks_[agreed].Offset() : first;
  odd_ = odd_ || base_ != first;
  const int64_t trim_base = std::max(first, base_);
  trim_ = trim_base < 0 ? -trim_base : 0;
  mapped_ = true;
  SetEnd(end_granule_ - base_);
}

void OggPages::SetEnd(int64_t end) {
  scan_end_ = end;
  for (RestartPoint& p : points_) p.end = scan_end_;
}

void OggPages::SetExactEnd(int64_t end) {
  resync_ = false;
  for (RestartPoint& p : points_) p.resync = false;
  SetEnd(end);
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
  if (!after_gap && offset != base_) odd_ = true;
  return EndFromPackets(offset, count, last, false, &odd_);
}

void OggPages::InitDecoder() {
  if (vorbis_synthesis_init(&dsp_, info_) != 0) {
    unusable_ = true;
    return;
  }
  vorbis_block_init(&dsp_, &scan_block_);
  vorbis_block_init(&dsp_, &read_block_);
  dsp_ready_ = true;
}

void OggPages::Restart(const RestartPoint& point) {
  read_src_.Start(point.offset);
  ogg_stream_reset_serialno(&read_os_, serial_);
  vorbis_synthesis_restart(&dsp_);
  pos_ = point.out_start;
  read_end_ = point.end;
  read_resync_ = point.resync;
  read_resync_offset_ = kNoOffset;
  read_repeated_.Reset();
  started_ = true;
  finished_ = false;
  read_eos_ = false;
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
      read_resync_ = gap_resyncs_;
      read_resync_offset_ = kNoOffset;
      NameOggGap(r_, pos_ - trim_);
      continue;
    }
    if (read_eos_) return false;
    ogg_page page;
    int64_t at;
    do {
      if (!read_src_.Next(&page, &at)) return false;
    } while (ogg_page_serialno(&page) != serial_);
    if (read_repeated_.Repeated(&page)) continue;
    if (ogg_stream_pagein(&read_os_, &page) == 0 && ogg_page_eos(&page)) read_eos_ = true;
  }
}

void OggPages::ReadPacket(ogg_packet* packet) {
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
  if (read_resync_ && GranuleSet(granule) && Agrees(&read_resync_offset_, granule - count)) {
    read_end_ = end_granule_ - granule + count;
    read_resync_ = false;
  }
}

}  // namespace oggpcm
