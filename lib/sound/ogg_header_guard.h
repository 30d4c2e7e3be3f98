// lib/sound/ogg_header_guard.h - keeps Vorbis streams whose headers the
// decoder library cannot survive (lib/sound/vorbis_headers.h) from being
// decoded: a check of a link's headers where the file can be read again,
// a walk of a seekable file's links as the library's open will walk them,
// and a gate on the bytes the library reads from a stream that cannot seek,
// which holds back the page that would complete such headers.
#pragma once

#include <ogg/ogg.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lib/sound/pcm_decoder.h"

// The last headers found decodable, kept by the caller across a file's
// links: a chain's links of one encoder often carry the same headers, whose
// check is then not made again.
struct OggHeaderMemo {
  std::vector<uint8_t> headers[3];
};

// Whether the three headers of the logical stream `serial`, on the pages
// that start from `start` up to `end`, are there and decodable. The
// stream's position is left where the read ends.
bool OggLinkHeadersDecodable(const SoundStream* stream, int64_t start, int64_t end, long serial,
                             OggHeaderMemo* memo = nullptr);

// The first link of a seekable file as the decoder library's first stage
// of opening leaves it.
struct OggFirstLink {
  const long* serials;  // the serial numbers of the link's streams
  int serial_count;
  long vorbis_serial;  // its Vorbis stream's
  int64_t data_at;     // where the pages after its headers start
};

// Whether the library's second stage of opening (the walk that finds every
// later link of a chain and reads its headers) will succeed. It is walked
// here first, page for page as the library walks it, because the library,
// when a later link's headers fail there, returns without freeing what it
// holds for the links before it. 0: it will succeed; else the number (from
// 2) of the link that fails, or the walk would never end. On success
// `places` (if not null) gets where the library will find each link. The
// stream's position is left where it was.
struct OggLinkPlaces {
  std::vector<int64_t> starts;      // each link's first page
  std::vector<int64_t> last_pages;  // the last page of each link's Vorbis stream
};
int OggChainFailingLink(const SoundStream* stream, const OggFirstLink& first, OggLinkPlaces* places);

// Watches the bytes read in order from a stream, from its start.
class OggHeaderGate {
 public:
  OggHeaderGate();
  ~OggHeaderGate();
  OggHeaderGate(const OggHeaderGate&) = delete;
  OggHeaderGate& operator=(const OggHeaderGate&) = delete;

  // Takes the `got` bytes just read into `bytes`: how many of them may be
  // handed on. None from the page that completes undecodable headers on.
  size_t Pass(const uint8_t* bytes, size_t got);
  bool Blocked() const { return block_at_ >= 0; }
  // True the first time it is asked once blocked.
  bool TellOnce() {
    const bool tell = Blocked() && !told_;
    told_ = told_ || tell;
    return tell;
  }

 private:
  void Take(ogg_page* page, int64_t at);

  ogg_sync_state sync_;
  ogg_stream_state os_;
  int64_t next_ = 0;       // offset of the next byte the sync gives as a page
  int64_t passed_ = 0;     // bytes handed on
  int64_t block_at_ = -1;  // nothing from this offset on is handed on
  bool watching_ = false;  // a Vorbis stream's headers are being gathered
  std::vector<uint8_t> headers_[3];
  int headers_got_ = 0;
  bool told_ = false;
};
