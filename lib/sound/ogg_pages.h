// lib/sound/ogg_pages.h - the pages of an Ogg file as the converter reads them
// apart from the decoder library: a page source over the record's stream, the
// marks (a granule position beside the samples counted up to it) that the
// pages of a Vorbis stream give, and a count of a stream's samples from its
// packets' block sizes, through the checked pages or a walk of their
// headers. What a link's ends are is lib/sound/ogg_link_ends.h's.
#pragma once

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <climits>
#include <cstdint>
#include <vector>

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
  // Whether `page` is the one taken just before; else it is remembered.
  bool Repeated(const ogg_page* page);
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

// A link's last page as its packets and granule position read.
struct LastPage {
  bool ended = false;        // an audio packet ends on it
  int64_t granule = -1;      // the position it gives that packet
  int64_t last_samples = 0;  // the samples that packet adds
};

// Counts a Vorbis stream's samples from its packets' block sizes, page by
// page, as the decoder will give them, and keeps a mark for each page on
// which an audio packet ends with a granule position. A packet whose one
// before is unknown (the first read) counts a long block for that one; a
// hole among the packets is passed over, as the decoder overlaps the
// packets on either side of it. A page given twice in a row is counted
// once where `once` (the packet decoder takes it once), twice otherwise
// (the decoder library decodes it again).
class PacketCounter {
 public:
  PacketCounter(vorbis_info* info, long serial, bool once);
  ~PacketCounter() { ogg_stream_clear(&os_); }
  PacketCounter(const PacketCounter&) = delete;
  PacketCounter& operator=(const PacketCounter&) = delete;

  // Takes a page of the stream; false when it does not fit the stream.
  bool Take(ogg_page* page);
  // Counts the pages from `from` up to the one at `last_page_at` (or, with
  // `stop_at_eos`, the one marked last) as Take would, from their headers
  // and each packet's first byte only, without their checksums or copying
  // their packets: a walk of a link costs a small part of a checked one.
  // False when the bytes are not pages one right after another (damaged or
  // foreign bytes between them): the count is then to be made again by Take
  // on a new counter, whose reading passes over what fails its check.
  bool Walk(const SoundStream* stream, const void** last_reader, int64_t from, int64_t last_page_at,
            bool stop_at_eos);
  int64_t Count() const { return count_; }
  const std::vector<GranuleMark>& Marks() const { return marks_; }
  // The page taken last: whether an audio packet ended on it, and so on.
  const LastPage& Page() const { return page_; }
  // A page was missing or out of order: granule positions then map the
  // pages after it by samples read in another order, or lost.
  bool Holed() const { return holed_; }
  // How many of the marks came before the last such hole.
  size_t MarksBeforeGap() const { return since_gap_; }

 private:
  long Longest() const { return vorbis_info_blocksize(info_, 1); }
  // The samples a packet of block size `size` adds after one of `before`
  // (-1: a header, none yet; 0: unknown, taken as the longest).
  static int64_t Samples(long before, long size, long longest) {
    return before < 0 ? 0 : static_cast<int64_t>(static_cast<uint64_t>((before != 0 ? before : longest) + size) >> 2);
  }
  // A page as Walk frames it: what Take does with it, from its lacing and
  // its packets' first bytes (`sizes`: each first byte's block size).
  bool TakeFramed(const uint8_t* page, const long* sizes);
  // The packets from `lace` (their lacing values) and `body` (their bytes)
  // on, counted in one run; false, with nothing changed, at a header.
  bool TakeRun(const uint8_t* lace, const uint8_t* lace_end, const uint8_t* body, const long* sizes);
  void CountPacket(long size);

  vorbis_info* info_;
  long serial_;
  ogg_stream_state os_;
  int64_t count_ = 0;
  long last_size_ = 0;  // block size of the packet before; 0: unknown, -1: a header
  std::vector<GranuleMark> marks_;
  LastPage page_;
  bool holed_ = false;
  size_t since_gap_ = 0;
  RepeatedPages repeated_;
  bool once_;
  // Walk's packet assembly, as the stream state's: the page expected next
  // (-1: none yet), and the packet begun on an earlier page, if any, with
  // the block size its first byte gives (kNoByte: none).
  static constexpr long kNoByte = LONG_MIN;
  long expected_ = -1;
  bool open_ = false;
  long open_size_ = kNoByte;
};

}  // namespace oggpcm
