// lib/sound/ogg_header_guard.cpp - the Vorbis header check where the file
// can be read again, and the gate for streams that cannot seek.
#include "lib/sound/ogg_header_guard.h"

#include <vorbis/codec.h>

#include <algorithm>

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

}  // namespace

bool OggLinkHeadersDecodable(const SoundStream* stream, int64_t start, int64_t end, long serial) {
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
  return whole && got == 3 && Decodable(headers);
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
