// platform/audio/mpeg_header.h - MPEG audio frame headers (layers I-III,
// MPEG-1, MPEG-2 and MPEG 2.5), read by the compression manager's MPEG codec
// and by the media graph's MPEG audio source.
#pragma once

#include <cstdint>

namespace plat {

// The fields of a frame header a stream's frames share, and the frame's size.
struct MpegHeader {
  int layer;    // 1, 2 or 3
  int mpeg1;    // 1 for MPEG-1, 0 for MPEG-2 and MPEG 2.5
  int channels;
  uint32_t rate;          // Hz; MPEG 2.5 has half MPEG-2's rates
  uint32_t frame_length;  // bytes, header included; 0 for the free-format bit rate
  uint32_t samples;       // per frame
};

// Any frame header: MPEG 2.5 and the free-format bit rate (frame_length 0)
// included. False without a sync or with a reserved field.
bool ParseAnyMpegHeader(const uint8_t* b, MpegHeader* header);
// A header the MPEG codec takes: MPEG-1 or MPEG-2 with a bit rate of its
// own. False otherwise.
bool ParseMpegHeader(const uint8_t* b, MpegHeader* header);
// Whether two headers are of one stream: the same version, layer and rate.
inline bool SameMpegStream(const MpegHeader& a, const MpegHeader& b) {
  return a.mpeg1 == b.mpeg1 && a.layer == b.layer && a.rate == b.rate;
}

}  // namespace plat
