// lib/sound/ogg_packet_decoder.h - the decoder of a seekable Ogg file of one
// Vorbis stream from its packets with libogg and libvorbis: the walk of its
// pages at opening, which gives the length and an index of restart points,
// its read and its seek. The library's own read (chains, streams that
// cannot seek) is the converter's, lib/sound/ogg_decoder.cpp.
#pragma once

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lib/sound/ogg_link_ends.h"
#include "lib/sound/ogg_pages.h"
#include "lib/sound/pcm_decoder.h"

namespace oggpcm {

// Says, once for each gap of a file, that a page is damaged or missing after
// its sample `sample` (the converter's line, lib/sound/ogg_decoder.cpp).
void NameOggGap(PcmDecoderRecord* r, int64_t sample);

// A page of the sound's stream at which decoding can start again: where it
// starts, and the samples the decode from the start has given at the end of
// the first audio packet that begins on it (or after it). Samples are
// counted in the untrimmed decode of every packet from the first: decoding
// started at the page gives its first sample at `out_start`.
struct RestartPoint {
  int64_t offset;
  int64_t out_start;
};

// Samples of the untrimmed decode that the sound leaves out: the end trim
// of a page marked as the stream's last that more of the stream follows,
// as the codec library makes it there.
struct DecodeCut {
  int64_t at;
  int64_t length;
};

// The decoder of a seekable file of one Vorbis stream. At opening, one walk
// of its pages (checked as the read checks them) counts each packet's
// samples from its block size, as the decoder will give them, keeps a
// restart point for each page a packet begins on (one in a few hundred
// bytes where pages are tiny), and reads the granule positions. The read
// decodes from a restart point, dropping what lies before the sample sought:
// a packet's samples depend only on it and the packet before, so the
// samples match the decode from the start bit for bit.
//
// The sound is the untrimmed decode from the start trim (the samples the
// first audio page completes less its granule position) to the packets'
// end, less the end trim of the last granule position; positions map to
// samples by the offset two of them agree on. A gap (a page missing or
// damaged) loses its samples, in the count as in the read. A page marked as
// the stream's last with more of the stream after it is read past, less
// the end trim its granule position gives there.
class OggPages {
 public:
  // `info`: the library's headers of the stream, which outlive this.
  OggPages(PcmDecoderRecord* r, vorbis_info* info) : r_(r), info_(info), read_src_(&r->stream, &last_reader_) {
    ogg_stream_init(&read_os_, 0);
  }
  ~OggPages();
  OggPages(const OggPages&) = delete;
  OggPages& operator=(const OggPages&) = delete;

  // Finds the stream and walks its pages up to the one at `last_page_at`
  // (where its last page starts). False when the file is not to be decoded
  // this way.
  bool Open(long serial, int64_t last_page_at);
  // Whether the granule positions disagree with the packets, or with each
  // other where they map positions to samples.
  bool Odd() const { return odd_; }
  // The sound's length in frames (0 when no audio packet holds a granule
  // position).
  int64_t Length() const { return length_; }
  bool HoleAtStart() const { return hole_at_start_; }
  // A page marked as the stream's last came before its last page.
  bool EarlyEnd() const { return early_end_; }
  // The stream's last page is not marked as its last (damaged or cut off).
  bool EndPageMissing() const { return end_page_missing_; }
  // The most memory the index (restart points, cuts, marks) took while the
  // walk made it, in bytes: a small part of the file's size.
  size_t IndexBytes() const { return index_bytes_; }

  // Moves the read to the sound's frame `frame` (0 .. the length).
  void Seek(int64_t frame);

  // Whether a sample of the sound follows, decoding up to it.
  bool Ready();

  // Up to `frames` frames of the sound into `out`: how many.
  int Read(uint8_t* out, int frames, int word_size);

 private:
  // A forward seek this short decodes on rather than looking the page up.
  static constexpr int64_t kNearSamples = 8192;
  static constexpr size_t kStartMarks = 8;
  static constexpr size_t kEndMarks = 4;

  // The file's first Vorbis stream, among the first pages of its streams.
  bool FindStream();

  // Maps granule positions to samples by the earliest offset two of the
  // first marks agree on (the first mark's where none do), so that one
  // wrong position cannot move the sound. Of the start trims the first
  // mark and that offset give, the shorter is taken: a wrong first
  // position neither cuts the sound's start nor pads it.
  void MapStart(const std::vector<GranuleMark>& start_marks);

  // Where the sound ends, every packet counted: the packets' end, less the
  // end trim of the last granule position by the offset the marks before
  // it agree on (the last marks since the last gap; whether a gap came
  // before them), given the last page and the count.
  int64_t EndOf(std::vector<GranuleMark> marks, bool after_gap, const LastPage& last, int64_t count);

  void InitDecoder();

  // The untrimmed decode's sample that is the sound's frame `frame`.
  int64_t DecodeSample(int64_t frame) const;
  // The first cut that ends after `sample` (cuts_.end() if none).
  std::vector<DecodeCut>::const_iterator CutAfter(int64_t sample) const;

  void Restart(const RestartPoint& point);

  // Decodes the read's next packet; false when none is left.
  bool NextPacket();

  void ReadPacket(ogg_packet* packet);

  PcmDecoderRecord* r_;
  const void* last_reader_ = nullptr;
  vorbis_info* info_;
  vorbis_dsp_state dsp_{};
  vorbis_block read_block_{};
  bool dsp_ready_ = false;
  long serial_ = 0;
  int64_t last_page_at_ = 0;
  int64_t base_ = 0;  // granule position less samples, as the first marks agree
  int64_t trim_ = 0;
  int64_t end_ = 0;   // the untrimmed decode's sample at which the sound ends
  bool odd_ = false;
  int64_t length_ = 0;
  bool hole_at_start_ = false;
  bool hole_at_end_ = false;  // a hole after the last sample kept, which the read does not reach
  bool early_end_ = false;
  bool end_page_missing_ = false;
  std::vector<RestartPoint> points_;
  std::vector<DecodeCut> cuts_;
  size_t index_bytes_ = 0;

  // The read.
  PageSource read_src_;
  ogg_stream_state read_os_;
  int64_t pos_ = 0;      // the sample the decoder gives next
  int64_t skip_to_ = 0;  // samples before this one are dropped
  RepeatedPages read_repeated_;
  bool started_ = false;
  bool finished_ = false;
  bool passing_ = false;   // packets before the sample sought are passed over
  long passed_size_ = 0;   // block size of the last packet passed over (0: none yet)
};
}  // namespace oggpcm
