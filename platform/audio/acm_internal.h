// platform/audio/acm_internal.h - the codec interface behind the compression
// manager's streams, shared by the built-in codecs and the MPEG audio codec.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/audio/acm.h"
#include "platform/audio/mpeg_header.h"

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

}  // namespace plat
