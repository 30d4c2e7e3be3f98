// lib/sound/ogg_link_ends.h - where a stream's sound ends as its packets and
// granule positions read: the packet decoder's end trim, and a link of an
// Ogg Vorbis file as the decoder library's read delivers it. The library
// decodes every packet and trims by granule positions as libvorbis does;
// one walk of the link's pages follows that decode packet by packet, and
// gives the link's length and an index of the pages from which the
// library's read, started there, delivers what its read from the link's
// start delivers.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/sound/ogg_pages.h"

namespace oggpcm {

// Where a stream's sound ends, in samples counted as `count_end` is (its
// packets' end), given the offset that the granule positions before its
// last page agree on: the packets' end, less the end trim of the last
// page's granule position where that trim lies within the last packet's
// samples, as the format has it. A position off that range, or none where
// a packet ends, disagrees with the packets (`odd`), and the packets are
// given whole.
int64_t EndFromPackets(int64_t offset, int64_t count_end, const LastPage& last, bool* odd);

// A page of a link from which the library's read (a raw seek to `offset`)
// delivers the link's frames from `frame` on, as its read from the link's
// start delivers them.
struct LibraryPoint {
  int64_t offset;
  int64_t frame;
};

struct LibraryLink {
  int64_t start = 0;   // where the walk, and the library's read of the link, start
  int64_t frames = 0;  // what the library's read of the link delivers
  std::vector<LibraryPoint> points;
  bool odd = false;    // granule positions disagree with the packets
  bool holed = false;  // a page is missing or out of order
  // A page marked as the stream's last came before its last page (the
  // library reads on past it).
  bool early_end = false;
  bool end_page_missing = false;  // the stream's last page is not marked last
  // The library's read leaves the link's stream for another link's before
  // the link ends (its pages lie among the link's): `frames` is what it
  // reads up to there.
  bool left = false;
  // Where it does so: the page at which its read takes up the stream
  // `left_serial`.
  int64_t left_at = -1;
  int32_t left_serial = 0;
  // A granule position whose difference with the samples counted
  // overflows libvorbis's 64-bit arithmetic, which gives no defined trim:
  // `frames` and `points` cannot be relied on.
  bool unmodelled = false;
};

// Walks the link whose pages start at `start` and end before `end` (the
// next link's first page; INT64_MAX for the last link), its Vorbis stream
// being `serial` with the headers `info`, in a file whose links' streams
// have the serial numbers `links`.
LibraryLink WalkLibraryLink(const SoundStream* stream, vorbis_info* info, long serial, int64_t start, int64_t end,
                            const std::vector<long>& links);

}  // namespace oggpcm
