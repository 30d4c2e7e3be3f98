// lib/sound/ogg_link_ends.h - where a link of an Ogg Vorbis file starts and
// ends as its packets and granule positions read, from its first pages and its
// last ones: the offsets (granule position less samples counted) they agree
// on, and the end the packets bear out.
#pragma once

#include <cstdint>

#include "lib/sound/ogg_pages.h"

namespace oggpcm {

// Where a link's sound ends, in samples counted as `count_end` is (its
// packets' end), given the offset that the granule positions before its
// last page agree on: the packets' end, less the end trim of the last
// page's granule position where that trim lies within the last packet's
// samples, as the format has it. A position off that range, or none where
// a packet ends, disagrees with the packets: `odd`. The decoder library then
// still trims by up to the last packet's samples, which `library_trim`
// follows; otherwise the packets are given whole.
int64_t EndFromPackets(int64_t offset, int64_t count_end, const LastPage& last, bool library_trim, bool* odd);

// Where a link's sound ends, read from its last pages.
struct LinkEnd {
  // true: in samples counted from the link's first audio packet (its pages
  // were read from its start); false: as a granule position, by the offset
  // its last pages agree on.
  bool counted = false;
  int64_t end = 0;
  int64_t count = 0;    // the samples the packets read give (counted: all of them)
  int64_t bytes = 0;    // the bytes read, from where the reading started to the last page
  bool holed = false;   // counted: a page is missing or out of order
  bool odd = false;  // granule positions there disagree with the packets or each other
  // The offset the last pages agree on, where they do. Counted from the
  // link's start, it is comparable with its first pages' offset, and a
  // length set by granule positions needs the two equal.
  bool agreed = false;
  int64_t offset = 0;
};

// Reads a link's last pages in growing windows before its last page (of its
// Vorbis stream, at `last_page_at`), none before `link_start`, until the
// granule positions of every page in the window before that one agree on the
// offset (two at least), with no page missing or out of order among them,
// and reads the end from the packets after them. A window that reaches the
// link's start counts all its packets and takes the offset from the last
// one before the last page where that gives an end trim within the last
// packet, else from two that agree, else from `start` (or the offset 0 of a
// link whose one audio page is the last, null `start`). `whole` reads from
// the start at once.
LinkEnd TailEnd(const SoundStream* stream, const void** last_reader, vorbis_info* info, long serial,
                int64_t link_start, int64_t last_page_at, const GranuleMark* start, bool library_trim,
                bool whole = false);

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
  int64_t count = 0;  // the samples the pages read give
  int64_t bytes = 0;  // the bytes read, from the link's start
};

LinkStart ReadLinkStart(const SoundStream* stream, const void** last_reader, vorbis_info* info, long serial,
                        int64_t link_start, int64_t link_end);

// Last pages that agree among themselves may all be forged. Whether the
// samples their end claims for the pages between a link's first pages read
// and its last ones read (`middle`, over `middle_bytes`) fit those bytes at
// no more than kDenserAtMost times the denser of the two readings' samples
// per byte, and are not fewer than none (give or take two of the longest
// blocks, as a reading's first packet is counted as if a long block came
// before it). Sound differs in density by far less from one stretch to
// another; a file that does not only has its packets counted.
constexpr double kDenserAtMost = 8.0;
bool EndFitsBetween(int64_t middle, int64_t middle_bytes, int64_t head_count, int64_t head_bytes, int64_t tail_count,
                    int64_t tail_bytes, long longest_block);
}  // namespace oggpcm
