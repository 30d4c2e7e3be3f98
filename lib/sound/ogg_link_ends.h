// lib/sound/ogg_link_ends.h - where a link of an Ogg Vorbis file starts and
// ends as its packets and granule positions read, from its first pages and a
// count of all its packets: the offsets (granule position less samples
// counted) they agree on, and the end the packets bear out.
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

// Where a chain link's sound ends as the decoder library reads it, in
// samples counted from its first audio packet: every packet of it is
// counted, as any number of last pages may agree on positions the packets
// do not bear out.
struct LinkEnd {
  int64_t end = 0;
  bool holed = false;   // a page is missing or out of order
  bool odd = false;  // granule positions there disagree with the packets or each other
  // The offset the last pages agree on, where they do, comparable with the
  // link's first pages' offset: a length set by granule positions needs the
  // two equal.
  bool agreed = false;
  int64_t offset = 0;
};

// Counts a link's packets from its start up to its last page (of its Vorbis
// stream, at `last_page_at`), from the pages' headers and the packets' first
// bytes (read through the pages' checks where bytes other than pages lie
// among them), and reads the end from the last page: the offset is taken
// from the last mark before the last page where that gives an end trim
// within the last packet, else from two that agree, else from `start` (or
// the offset 0 of a link whose one audio page is the last, null `start`).
LinkEnd TailEnd(const SoundStream* stream, const void** last_reader, vorbis_info* info, long serial,
                int64_t link_start, int64_t last_page_at, const GranuleMark* start);

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
                        int64_t link_start, int64_t link_end);

}  // namespace oggpcm
