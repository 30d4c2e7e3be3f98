// lib/sound/ogg_pages.h - the pages of an Ogg file as the converter reads
// them apart from the decoder library: a page source over the record's
// stream for the read, the marks (a granule position beside the samples
// counted up to it) that the pages of a Vorbis stream give, and the walk of
// a stream's pages that gives its packets as libogg's stream state gives
// them, without copying a page: the checked pages of lib/sound/
// ogg_page_scan.h, taken as ogg_stream_pagein takes them.
#pragma once

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "lib/sound/ogg_page_scan.h"
#include "lib/sound/pcm_decoder.h"

namespace oggpcm {

// Granule positions this far from 0 are taken as unset, so that sums with
// sample counts stay in range.
constexpr int64_t kGranuleLimit = int64_t{1} << 60;

inline bool GranuleSet(int64_t granule) { return granule > -kGranuleLimit && granule < kGranuleLimit && granule != -1; }

// The pages of an Ogg file read through the record's stream from a given
// offset, with where each one starts. Two of them share the stream: each
// seeks back to its own place when the other read last.
class PageSource {
 public:
  PageSource(const SoundStream* stream, const void** last_reader);
  ~PageSource() { ogg_sync_clear(&sync_); }
  PageSource(const PageSource&) = delete;
  PageSource& operator=(const PageSource&) = delete;

  void Start(int64_t offset);
  // The next whole page (bytes that hold none are passed over) and its
  // offset; false at the end of the file.
  bool Next(ogg_page* page, int64_t* at);

 private:
  static constexpr long kChunk = 8192;
  bool Fill();

  const SoundStream* stream_;
  const void** last_reader_;
  ogg_sync_state sync_;
  int64_t next_ = 0;     // offset of the first byte the sync holds or will read
  int64_t read_at_ = 0;  // offset of the next byte to read from the stream
};

// Passes over a page of a stream given again right after itself (the same
// sequence number and checksum): its packets were taken once already, and
// taking them again would play them twice and move the end by as much.
class RepeatedPages {
 public:
  // Whether the page whose header is `header` is the one seen just before;
  // else it is remembered.
  bool Repeated(const uint8_t* header);
  void Reset() { taken_ = false; }

 private:
  bool taken_ = false;
  long sequence_ = 0;
  uint32_t checksum_ = 0;
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
int AgreedMark(const std::vector<GranuleMark>& marks, bool from_end);

// A stream's last page as its packets and granule position read.
struct LastPage {
  bool ended = false;        // an audio packet ends on it
  int64_t granule = -1;      // the position it gives the last of them
  int64_t last_samples = 0;  // the samples that packet adds
};

// One packet as libogg's stream state gives it, with what the counts need.
struct WalkPacket {
  long size = 0;         // an audio packet's block size; 0 for any other
  bool header = false;   // its first bit set: not audio (a header, before the first audio packet)
  int64_t granule = -1;  // the page's position where the packet is the last to end on it
  bool eos = false;      // a byte of it lies on a page marked as the stream's last
  int64_t page = 0;      // the number of the page it begins on, counted by the walk
  int64_t number = 0;    // its number in the stream state, holes counted
};

// Takes the pages of one logical stream, in a given stretch of the file, as
// ogg_stream_pagein takes them (a page out of sequence drops the packet left
// unfinished and makes a hole, but the first page taken; a continued page
// with nothing to continue is passed over up to its first packet end; a
// page whose version is not 0 is refused), and gives its packets in order.
// Each packet's kind comes from its first byte and length, as the codec
// library's decode tells an audio packet. What is done with them is a
// subclass's.
class PacketWalk {
 public:
  // `once`: a page given twice in a row is taken once (the packet decoder's
  // read passes over it), else twice (the decoder library's).
  PacketWalk(vorbis_info* info, long serial, bool once);
  virtual ~PacketWalk() = default;
  PacketWalk(const PacketWalk&) = delete;
  PacketWalk& operator=(const PacketWalk&) = delete;

  // Takes the pages that start at `from` and before `end`. Given `links`
  // (the serial numbers of a seekable file's links, as the decoder library
  // knows them), the pages are taken as that library's read takes them:
  // a stream's first page of another serial number, met after this stream's
  // first, ends its decoder, and the read goes on with the next page of a
  // link's stream: this one's starts its packets afresh; another link's
  // takes the read away (OnLeft), and the walk ends.
  void Walk(const SoundStream* stream, int64_t from, int64_t end, const std::vector<long>* links = nullptr);

 protected:
  // A page of the stream taken: where it starts, whether it is marked last,
  // whether a packet begins on it and whether a hole comes before its
  // packets; and the packets that end on it, in order.
  struct TakenPage {
    int64_t at;
    bool eos;
    bool packet_begins;
    bool hole;
  };
  virtual void OnPage(const TakenPage& page, const WalkPacket* packets, size_t count) = 0;
  // The stream starts afresh, or the read leaves it (see Walk) for the
  // stream `serial` at its page at `at`.
  virtual void OnRestart() {}
  virtual void OnLeft(int64_t /*at*/, int32_t /*serial*/) {}

  vorbis_info* info_;
  long serial_;
  int64_t pages_ = 0;  // pages taken, the next one's number

 private:
  void TakePage(const ScannedPage& page);
  // The packet of `bytes` bytes whose first byte is `first_byte` (-1: none),
  // begun on page `page`, numbered next.
  WalkPacket Classified(int first_byte, int64_t bytes, int64_t page, int64_t granule);
  void Segment(const uint8_t* body, unsigned value, bool last, int64_t granule, bool eos);

  // Whether a packet of this one byte, whose mode gives a long block, is
  // audio: the decode reads two more bits after the mode, which one byte
  // holds unless the mode takes six bits. Asked of the codec library itself
  // (real streams have no such packet).
  bool OneBytePacketIsAudio(uint8_t byte);

  bool once_;
  RepeatedPages repeated_;
  long sizes_[256];  // the block size each first byte gives an audio packet (0: none)
  long long_size_ = 0;
  int8_t one_byte_audio_[256];  // OneBytePacketIsAudio's answers (-1: not yet asked)
  std::vector<WalkPacket> ended_;  // the packets ending on the page being taken
  long expected_ = -1;     // the page number due next (-1: none yet)
  int64_t number_ = 0;     // the stream state's packet number
  // The packet begun on an earlier page, if any.
  bool open_ = false;
  WalkPacket pending_;
  int64_t pending_bytes_ = 0;
  int first_byte_ = -1;
};

}  // namespace oggpcm
