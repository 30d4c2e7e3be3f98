// platform/audio/acm_internal.h - the codec interface behind the compression
// manager's streams, shared by the built-in codecs and the MPEG audio codec.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/audio/acm.h"

namespace plat {

class AcmCodec {
 public:
  virtual ~AcmCodec() = default;
  // Converts whole source blocks while their output fits the destination.
  virtual void Convert(const uint8_t* source, uint32_t source_length, uint8_t* destination,
                       uint32_t destination_length, uint32_t* source_used, uint32_t* destination_used) = 0;
  // Forgets the decoding state (a new stream of data follows).
  virtual void Reset() {}
  // Destination bytes for whole source blocks in `source_bytes`, and back.
  virtual uint64_t DestinationFor(uint32_t source_bytes) const = 0;
  virtual uint64_t SourceFor(uint32_t destination_bytes) const = 0;
};

// The MPEG audio codec (layers I-III) over a validated source format; null
// when the decoder cannot be had.
std::unique_ptr<AcmCodec> MakeMpegCodec(const WaveFormatEx& source);

// The frame header fields the MPEG codec needs; false when the four bytes are
// no usable header (no sync, a reserved field, or a free-format bit rate).
struct MpegHeader {
  int layer;    // 1, 2 or 3
  int mpeg1;    // 1 for MPEG-1, 0 for MPEG-2
  int channels;
  uint32_t rate;
  uint32_t frame_length;
  uint32_t samples;
};
bool ParseMpegHeader(const uint8_t* b, MpegHeader* header);

}  // namespace plat
