// lib/sound/ogg_header_guard.cpp - the Vorbis header check where the file
// can be read again, the walk of a seekable file's links, and the gate for
// streams that cannot seek.
#include "lib/sound/ogg_header_guard.h"

#include <vorbis/codec.h>

#include <algorithm>
#include <cstring>

#include "lib/sound/ogg_page_scan.h"
#include "lib/sound/vorbis_headers.h"

namespace {

bool Decodable(const std::vector<uint8_t> (&h)[3]) {
  return VorbisHeadersDecodable({h[0].data(), h[0].size(), h[1].data(), h[1].size(), h[2].data(), h[2].size()});
}

// Adds the stream's next packets to `headers` (up to three): false on a
// hole among them.
bool GatherHeaders(ogg_stream_state* os, std::vector<uint8_t> (&headers)[3], int* got) {
  ogg_packet packet;
  for (int n; *got < 3 && (n = ogg_stream_packetout(os, &packet)) != 0;) {
    if (n < 0) return false;
    headers[(*got)++].assign(packet.packet, packet.packet + packet.bytes);
  }
  return true;
}

// The library's open of a seekable file (libvorbisfile 1.3.7), walked
// without it: the same page searches (a forward search within a bound, a
// search back in 64 KiB steps that prefers one stream's pages), the same
// bisection for the end of each link and the same reading of the next
// link's headers, with the codec library's own parse of them. Which page
// each search finds does not depend on how much is read at a time, so the
// walk meets every link where the library will.
class LinkWalk {
 public:
  explicit LinkWalk(const SoundStream* stream) : stream_(stream) {
    ogg_sync_init(&sync_);
    ogg_stream_init(&os_, 0);
  }
  ~LinkWalk() {
    ogg_stream_clear(&os_);
    ogg_sync_clear(&sync_);
  }
  LinkWalk(const LinkWalk&) = delete;
  LinkWalk& operator=(const LinkWalk&) = delete;

  // As the header says; `size` is the file's.
  int FailingLink(const OggFirstLink& first, int64_t size, OggLinkPlaces* places) {
    places->starts.push_back(0);
    std::vector<long> list(first.serials, first.serials + first.serial_count);
    long serial = first.vorbis_serial;
    long end_serial = serial;
    int64_t end_granule = -1;
    const int64_t end = PrevPageSerial(size, list, &end_serial, &end_granule);
    if (end < 0) return 2;
    int64_t searched = first.data_at;
    for (int link = 1;; ++link) {
      if (Listed(end_serial, list)) {
        // The last link: the library looks back for its Vorbis stream's
        // last page.
        int64_t at = end;
        while (end_serial != serial && at >= 0) {
          end_serial = serial;
          at = PrevPageSerial(at, list, &end_serial, &end_granule);
          if (at == kEndless) return link + 1;
        }
        places->last_pages.push_back(at);
        return 0;
      }
      const int64_t next = LinkEnd(searched, end, list);
      if (next < 0) return link + 1;
      long last_serial = serial + 1;
      int64_t granule = -1;
      int64_t at = next;
      while (last_serial != serial && at >= 0) {
        last_serial = serial;
        at = PrevPageSerial(at, list, &last_serial, &granule);
        if (at == kEndless) return link + 1;
      }
      places->last_pages.push_back(at);
      places->starts.push_back(next);
      if (!Seek(next) || !FetchHeaders(&list, &serial)) return link + 1;
      PassFirstGranulePage(serial);
      searched = offset_;
    }
  }

 private:
  static constexpr int64_t kChunk = 65536;
  static constexpr long kReadSize = 8192;
  static constexpr int64_t kNone = -1;
  static constexpr int64_t kReadError = -2;
  static constexpr int64_t kEndless = -3;

  static bool Listed(long serial, const std::vector<long>& list) {
    return std::find(list.begin(), list.end(), serial) != list.end();
  }

  // The library seeks only when it is elsewhere.
  bool Seek(int64_t at) {
    if (at == offset_) return true;
    if (stream_->ops.seek(stream_->handle, at, 0) != 0) return false;
    offset_ = at;
    ogg_sync_reset(&sync_);
    return true;
  }

  // The next page from the offset, one that starts within `bound` bytes of
  // it (-1: any): its offset, kNone, or kReadError.
  int64_t NextPage(ogg_page* page, int64_t bound) {
    const int64_t limit = bound > 0 ? offset_ + bound : bound;
    for (;;) {
      if (limit > 0 && offset_ >= limit) return kNone;
      const long more = ogg_sync_pageseek(&sync_, page);
      if (more < 0) {
        offset_ -= more;
      } else if (more > 0) {
        const int64_t at = offset_;
        offset_ += more;
        return at;
      } else {
        char* space = ogg_sync_buffer(&sync_, kReadSize);
        if (space == nullptr) return kReadError;
        const size_t got = stream_->ops.read(space, 1, kReadSize, stream_->handle);
        if (got == 0) return kNone;
        ogg_sync_wrote(&sync_, static_cast<long>(got));
      }
    }
  }

  // The last page that starts before `before`, preferring `*serial`'s
  // unless a page of no listed stream follows it; *serial and *granule are
  // set from the page taken. kEndless where the library would search
  // back for ever (nothing before the start of the file).
  int64_t PrevPageSerial(int64_t before, const std::vector<long>& list, long* serial, int64_t* granule) {
    int64_t begin = before, preferred = -1, found = -1, found_granule = -1;
    long found_serial = -1;
    while (found == -1) {
      if (begin == 0) return kEndless;
      begin = std::max<int64_t>(0, begin - kChunk);
      offset_ = -1;
      if (stream_->ops.seek(stream_->handle, begin, 0) != 0) return kReadError;
      for (const ChainPage& page : ChunkPages(begin, before)) {
        found_serial = page.serial;
        found_granule = page.granule;
        found = page.at;
        if (found_serial == *serial) {
          preferred = page.at;
          *granule = found_granule;
        }
        if (!Listed(found_serial, list)) preferred = -1;
      }
    }
    if (preferred >= 0) return preferred;
    *serial = found_serial;
    *granule = found_granule;
    return found;
  }

  // A page the library's sync finds, where it ends, and what the search
  // back reads of it.
  struct ChainPage {
    int64_t at;
    int64_t end;
    long serial;
    int64_t granule;
  };

  // The pages the library's sync finds from `begin` that start before
  // `before`, found as it finds them (lib/sound/ogg_page_scan.h) but
  // without copying each and checking it through tables. The search back
  // for a stream's last page steps back one page at a time and reads each
  // step's 64 KiB again, through every page of another stream after the
  // sound: once the scan meets a page the step before found, the pages
  // after it are those that step found (from a page, the sync's next page
  // is always the same), up to where that step stopped.
  const std::vector<ChainPage>& ChunkPages(int64_t begin, int64_t before) {
    // The two lists keep their room from step to step: a step holds up to
    // a page for every 28 bytes.
    std::vector<ChainPage>& pages = spare_;
    pages.clear();
    pages.reserve(static_cast<size_t>(kChunk / 28 + 1));
    int64_t from = begin;
    bool met = false;  // a page of the step before has been met
    for (bool more = true; more;) {
      more = false;
      oggpcm::PageScan scan(stream_, from, kChunk);
      scan.StopAt(before);
      for (oggpcm::ScannedPage found; scan.Next(&found);) {
        ogg_page page{};
        page.header = const_cast<unsigned char*>(found.bytes);
        page.header_len = static_cast<long>(found.header_len);
        pages.push_back({found.at, found.at + static_cast<int64_t>(found.Length()), ogg_page_serialno(&page),
                         ogg_page_granulepos(&page)});
        if (met) continue;
        auto known = std::lower_bound(chain_.begin(), chain_.end(), found.at,
                                      [](const ChainPage& p, int64_t at) { return p.at < at; });
        if (known == chain_.end() || known->at != found.at) continue;
        met = true;
        for (++known; known != chain_.end() && known->at < before; ++known) pages.push_back(*known);
        // The step before stopped short of `before`: the scan goes on after
        // its last page.
        more = known == chain_.end() && pages.back().end < before;
        from = pages.back().end;
        break;
      }
    }
    chain_.swap(pages);
    return chain_;
  }

  // Where the link whose streams are `list` ends, bisecting from
  // `searched` (inside it) to `end` (the file's last page, of another
  // link): the first page of another link found, or `end`.
  int64_t LinkEnd(int64_t searched, int64_t end, const std::vector<long>& list) {
    int64_t end_searched = end, next = end;
    while (searched < end_searched) {
      const int64_t bisect = end_searched - searched < kChunk ? searched : (searched + end_searched) / 2;
      if (!Seek(bisect)) return kReadError;
      ogg_page page;
      const int64_t at = NextPage(&page, -1);
      if (at == kReadError) return kReadError;
      if (at < 0 || !Listed(ogg_page_serialno(&page), list)) {
        end_searched = bisect;
        if (at >= 0) next = at;
      } else {
        searched = offset_;
      }
    }
    return next;
  }

  // Reads a link's first pages as the library does: the serial numbers of
  // its streams into `list`, and the three headers of its first Vorbis
  // stream, whose serial goes to `serial`. False where the library fails.
  bool FetchHeaders(std::vector<long>* list, long* serial) {
    ogg_page page;
    if (NextPage(&page, kChunk) < 0) return false;
    list->clear();
    vorbis_info info;
    vorbis_comment comment;
    vorbis_info_init(&info);
    vorbis_comment_init(&comment);
    const bool ok = ReadHeaders(&page, list, &info, &comment);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    *serial = os_.serialno;
    return ok;
  }

  bool ReadHeaders(ogg_page* page, std::vector<long>* list, vorbis_info* info, vorbis_comment* comment) {
    bool vorbis = false;
    ogg_packet packet;
    while (ogg_page_bos(page)) {
      if (Listed(ogg_page_serialno(page), *list)) return false;
      list->push_back(ogg_page_serialno(page));
      if (!vorbis) {
        ogg_stream_reset_serialno(&os_, ogg_page_serialno(page));
        ogg_stream_pagein(&os_, page);
        if (ogg_stream_packetout(&os_, &packet) > 0 && vorbis_synthesis_idheader(&packet)) {
          vorbis = true;
          if (vorbis_synthesis_headerin(info, comment, &packet) != 0) return false;
          id_.assign(packet.packet, packet.packet + packet.bytes);
        }
      }
      if (NextPage(page, kChunk) < 0) return false;
      if (vorbis && os_.serialno == ogg_page_serialno(page)) {
        ogg_stream_pagein(&os_, page);
        break;
      }
    }
    if (!vorbis) return false;
    bool other_link = false;
    for (int got = 0; got < 2;) {
      const int n = ogg_stream_packetout(&os_, &packet);
      if (n < 0) return false;
      if (n > 0) {
        // A setup that the codec library took after the same identification
        // and a comment is taken again: the unpacking of its codebooks is
        // most of a link's reading.
        const bool known = got == 1 && Same(known_id_, id_) && Same(known_setup_, packet);
        if (!known && vorbis_synthesis_headerin(info, comment, &packet) != 0) return false;
        if (got == 1 && !known) {
          known_id_ = id_;
          known_setup_.assign(packet.packet, packet.packet + packet.bytes);
        }
        ++got;
        continue;
      }
      for (;;) {
        if (NextPage(page, kChunk) < 0) return false;
        if (os_.serialno == ogg_page_serialno(page)) {
          ogg_stream_pagein(&os_, page);
          break;
        }
        if (ogg_page_bos(page)) {
          if (other_link) return false;
          other_link = true;
        }
      }
    }
    return true;
  }

  // The library next reads on to the stream's first page with a granule
  // position (or a link's first page, or the end); the next bisection
  // starts after it.
  void PassFirstGranulePage(long serial) {
    for (ogg_page page; NextPage(&page, -1) >= 0;) {
      if (ogg_page_bos(&page)) return;
      if (ogg_page_serialno(&page) == serial && ogg_page_granulepos(&page) != -1) return;
    }
  }

  static bool Same(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& other) { return bytes == other; }
  static bool Same(const std::vector<uint8_t>& bytes, const ogg_packet& packet) {
    return !bytes.empty() && bytes.size() == static_cast<size_t>(packet.bytes) &&
           std::equal(bytes.begin(), bytes.end(), packet.packet);
  }

  const SoundStream* stream_;
  ogg_sync_state sync_;
  ogg_stream_state os_;
  int64_t offset_ = -1;
  // The pages the last step of a search back found, in order, and the
  // list the next step fills.
  std::vector<ChainPage> chain_;
  std::vector<ChainPage> spare_;
  // The identification header of the link being read, and the last setup
  // the codec library took, with the identification it followed.
  std::vector<uint8_t> id_;
  std::vector<uint8_t> known_id_;
  std::vector<uint8_t> known_setup_;
};

}  // namespace

int OggChainFailingLink(const SoundStream* stream, const OggFirstLink& first, OggLinkPlaces* places) {
  OggLinkPlaces found;
  const int64_t back = stream->ops.tell(stream->handle);
  if (stream->ops.seek(stream->handle, 0, 2) != 0) return 0;
  const int64_t size = stream->ops.tell(stream->handle);
  int failing = 0;
  {
    LinkWalk walk(stream);
    failing = walk.FailingLink(first, size, &found);
  }
  if (failing == 0 && places != nullptr) *places = std::move(found);
  stream->ops.seek(stream->handle, back, 0);
  return failing;
}

bool OggLinkHeadersDecodable(const SoundStream* stream, int64_t start, int64_t end, long serial,
                             OggHeaderMemo* memo) {
  if (stream->ops.seek(stream->handle, start, 0) != 0) return false;
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  ogg_stream_state os;
  ogg_stream_init(&os, static_cast<int>(serial));
  std::vector<uint8_t> headers[3];
  int got = 0;
  bool whole = true;
  for (int64_t at = start; got < 3 && whole && at < end;) {
    ogg_page page;
    const long n = ogg_sync_pageseek(&sync, &page);
    if (n < 0) {
      at -= n;
    } else if (n > 0) {
      at += n;
      if (ogg_page_serialno(&page) == serial && ogg_stream_pagein(&os, &page) == 0)
        whole = GatherHeaders(&os, headers, &got);
    } else {
      char* space = ogg_sync_buffer(&sync, 8192);
      const size_t read = space != nullptr ? stream->ops.read(space, 1, 8192, stream->handle) : 0;
      if (read == 0) break;
      ogg_sync_wrote(&sync, static_cast<long>(read));
    }
  }
  ogg_stream_clear(&os);
  ogg_sync_clear(&sync);
  if (!whole || got != 3) return false;
  if (memo != nullptr && std::equal(headers, headers + 3, memo->headers)) return true;
  if (!Decodable(headers)) return false;
  if (memo != nullptr) std::move(headers, headers + 3, memo->headers);
  return true;
}

OggHeaderGate::OggHeaderGate() {
  ogg_sync_init(&sync_);
  ogg_stream_init(&os_, 0);
}

OggHeaderGate::~OggHeaderGate() {
  ogg_stream_clear(&os_);
  ogg_sync_clear(&sync_);
}

size_t OggHeaderGate::Pass(const uint8_t* bytes, size_t got) {
  if (!Blocked() && got > 0) {
    char* space = ogg_sync_buffer(&sync_, static_cast<long>(got));
    if (space != nullptr) {
      std::copy(bytes, bytes + got, space);
      ogg_sync_wrote(&sync_, static_cast<long>(got));
    }
    ogg_page page;
    for (long n; !Blocked() && (n = ogg_sync_pageseek(&sync_, &page)) != 0;) {
      if (n < 0) {
        next_ -= n;
        continue;
      }
      Take(&page, next_);
      next_ += n;
    }
  }
  int64_t allowed = static_cast<int64_t>(got);
  if (Blocked()) allowed = std::clamp<int64_t>(block_at_ - passed_, 0, allowed);
  passed_ += allowed;
  return static_cast<size_t>(allowed);
}

// A link starts with the first pages of its streams; the first Vorbis one
// among them is watched until its three headers are in.
void OggHeaderGate::Take(ogg_page* page, int64_t at) {
  if (ogg_page_bos(page) && (!watching_ || headers_got_ == 3)) {
    ogg_stream_reset_serialno(&os_, ogg_page_serialno(page));
    ogg_packet packet;
    if (ogg_stream_pagein(&os_, page) == 0 && ogg_stream_packetpeek(&os_, &packet) == 1 &&
        vorbis_synthesis_idheader(&packet)) {
      watching_ = true;
      headers_got_ = 0;
    } else {
      watching_ = false;
      return;
    }
  } else if (!watching_ || headers_got_ == 3 || ogg_page_serialno(page) != os_.serialno ||
             ogg_stream_pagein(&os_, page) != 0) {
    return;
  }
  // Headers with a hole among them are refused by the library itself.
  if (!GatherHeaders(&os_, headers_, &headers_got_)) {
    watching_ = false;
    return;
  }
  if (headers_got_ == 3 && !Decodable(headers_)) block_at_ = at;
}
