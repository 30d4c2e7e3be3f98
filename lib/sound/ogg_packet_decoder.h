// lib/sound/ogg_packet_decoder.h - the decoder of a seekable Ogg file of one
// Vorbis stream from its packets with libogg and libvorbis: its scan of the
// pages for restart points and the length, its read and its seek. The
// library's own read (chains, streams that cannot seek) is the converter's,
// lib/sound/ogg_decoder.cpp.
#pragma once

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "lib/sound/ogg_link_ends.h"
#include "lib/sound/ogg_pages.h"
#include "lib/sound/pcm_decoder.h"

namespace oggpcm {

// Says, once for each gap of a file, that a page is damaged or missing after
// its sample `sample` (the converter's line, lib/sound/ogg_decoder.cpp).
void NameOggGap(PcmDecoderRecord* r, int64_t sample);

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
  ~OggPages();
  OggPages(const OggPages&) = delete;
  OggPages& operator=(const OggPages&) = delete;

  // Finds the stream and scans up to where its first granule positions
  // agree, or to the end in a file of up to kScanWholeBytes; a longer one's
  // packets up to `last_page_at` (where the stream's last page starts) are
  // counted by a walk of its pages' headers. False when the file is not to
  // be decoded this way.
  bool Open(long serial, int64_t last_page_at);
  // Whether the granule positions disagree with the packets, or with each
  // other where they map positions to samples.
  bool Odd() const { return odd_; }
  // The sound's length in frames (0 when no audio packet holds a granule
  // position).
  int64_t Length() const { return length_; }
  bool HoleAtStart() const { return hole_at_start_; }

  // Moves the read to the sound's frame `frame` (0 .. the length).
  void Seek(int64_t frame);

  // Whether a sample of the sound follows, decoding up to it.
  bool Ready();

  // Up to `frames` frames of the sound into `out`: how many.
  int Read(uint8_t* out, int frames, int word_size);

 private:
  // A forward seek this short decodes on rather than looking the page up.
  static constexpr int64_t kNearSamples = 8192;
  // After a gap the count is set again by granule positions, but only by two
  // in a row that agree on the offset, so that one forged position after a
  // hole cannot cut the sound; `*last` is the offset of the one before (or
  // kNoOffset).
  static constexpr int64_t kNoOffset = INT64_MIN;
  static bool Agrees(int64_t* last, int64_t offset) {
    const bool agrees = *last == offset;
    *last = offset;
    return agrees;
  }
  // A file this short (a minute of music, a voice, a sound effect) is
  // scanned whole when it opens, in about a millisecond; a longer one (long
  // music, a movie) has its packets counted by the cheaper walk of its
  // pages' headers, and is scanned as far as seeks need.
  static constexpr int64_t kScanWholeBytes = int64_t{1} << 20;

  // The file's first Vorbis stream, among the first pages of its streams.
  bool FindStream();

  void ScanPage();

  // Takes a page into the scan. Which packet is the first to begin on the
  // page follows the stream state's own rules: a page out of sequence
  // drops the packet left unfinished, and a continued page with nothing to
  // continue is passed over up to its first packet end.
  void ScanTake(ogg_page* page, int64_t at);

  void ScanPacket(ogg_packet* packet);

  // Maps granule positions to samples by the earliest offset two of the
  // first marks agree on (the first mark's where none do), so that one
  // wrong position cannot move the sound. Of the start trims the first
  // mark and that offset give, the shorter is taken: a wrong first
  // position neither cuts the sound's start nor pads it.
  void MapStart();

  // The sound's end as the scan knows it, for the restart points made so far.
  void SetEnd(int64_t end);
  // An end counted from the packets: a gap no longer moves it.
  void SetExactEnd(int64_t end);

  // Where the sound ends, every packet scanned: the packets' end, less the
  // end trim of the last granule position by the offset the marks before
  // it agree on (those after the last gap).
  int64_t EndOfScan() { return EndOf(end_marks_, end_after_gap_, last_page_, count_); }
  // The same from a count of every packet: the last marks (since the last
  // gap), whether a gap came before them, the last page and the count.
  int64_t EndOf(std::vector<GranuleMark> marks, bool after_gap, const LastPage& last, int64_t count);

  void InitDecoder();

  void Restart(const RestartPoint& point);

  // Decodes the read's next packet; false when none is left.
  bool NextPacket();

  void ReadPacket(ogg_packet* packet);

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
  // The sound's end as a granule position, where a gap the count did not
  // meet sets the end again (gap_resyncs_).
  int64_t end_granule_ = kGranuleLimit;
  int64_t base_ = 0;  // granule position less samples, as the first marks agree
  int64_t trim_ = 0;
  bool odd_ = false;
  // A gap the count of the packets did not meet (a page that fails its
  // check) sets the end again by the granule positions after it.
  bool gap_resyncs_ = false;
  bool first_eos_ = false;  // the first audio page is also the last
  int64_t length_ = 0;
  bool mapped_ = false;
  bool hole_at_start_ = false;

  // The scan.
  PageSource scan_src_;
  ogg_stream_state scan_os_;
  long next_sequence_ = -1;
  RepeatedPages scan_repeated_;
  bool unfinished_ = false;  // the last page ended inside a packet
  std::vector<Waiting> waiting_;
  std::vector<RestartPoint> points_;
  int64_t count_ = 0;  // samples the packets scanned give
  long last_size_ = 0;
  bool audio_seen_ = false;
  bool resync_ = false;
  int64_t resync_offset_ = kNoOffset;
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
  RepeatedPages read_repeated_;
  int64_t read_resync_offset_ = kNoOffset;
  bool started_ = false;
  bool finished_ = false;
  bool read_eos_ = false;
  bool passing_ = false;   // packets before the sample sought are passed over
  long passed_size_ = 0;   // block size of the last packet passed over (0: none yet)
};
}  // namespace oggpcm
