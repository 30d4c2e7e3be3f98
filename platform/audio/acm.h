// platform/audio/acm.h - the audio compression manager the sound code converts coded
// WAVE data and MPEG audio frames through: format suggestion, conversion
// streams with prepared headers, metrics and stream sizes.
//
// Codecs: Microsoft ADPCM (tag 0x0002), IMA ADPCM (0x0011), A-law (0x0006) and
// mu-law (0x0007), written here; MPEG audio (0x0055; layers I, II and III)
// through libmpg123, fed whole frames. Each decodes to 16-bit PCM at the
// source's rate and channel count. Every other format is refused.
//
// A conversion takes whole source blocks only (for MPEG audio: whole frames,
// a partial trailing frame stays unconsumed for the next call), never writes
// more than the destination holds, reports the bytes it used on both sides and
// keeps the decoder's state from one call to the next. A conversion that
// produces nothing means the stream has no more to give.
#pragma once

#include <cstdint>

#include "platform/audio/dsound.h"

namespace plat {

using AcmResult = uint32_t;  // 0 = success

constexpr AcmResult kMMSYSERR_NOERROR = 0;
constexpr AcmResult kMMSYSERR_INVALHANDLE = 5;
constexpr AcmResult kMMSYSERR_NOMEM = 7;
constexpr AcmResult kMMSYSERR_INVALFLAG = 10;
constexpr AcmResult kMMSYSERR_INVALPARAM = 11;
constexpr AcmResult kACMERR_NOTPOSSIBLE = 512;
constexpr AcmResult kACMERR_BUSY = 513;
constexpr AcmResult kACMERR_UNPREPARED = 514;

constexpr uint16_t kWaveFormatAdpcm = 0x0002;
constexpr uint16_t kWaveFormatAlaw = 0x0006;
constexpr uint16_t kWaveFormatMulaw = 0x0007;
constexpr uint16_t kWaveFormatImaAdpcm = 0x0011;
constexpr uint16_t kWaveFormatMpegLayer3 = 0x0055;

constexpr uint32_t kACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
constexpr uint32_t kACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
constexpr uint32_t kACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
constexpr uint32_t kACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;
constexpr uint32_t kACM_STREAMOPENF_QUERY = 0x00000001;
constexpr uint32_t kACM_STREAMOPENF_NONREALTIME = 0x00000004;
constexpr uint32_t kACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr uint32_t kACM_STREAMCONVERTF_START = 0x00000010;
constexpr uint32_t kACM_STREAMCONVERTF_END = 0x00000020;
constexpr uint32_t kACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr uint32_t kACM_STREAMSIZEF_DESTINATION = 0x00000001;
constexpr uint32_t kACM_METRIC_MAX_SIZE_FORMAT = 50;

constexpr uint32_t kACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr uint32_t kACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr uint32_t kACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

// The MPEG Layer-3 format record (30 bytes) as WAVE files and the MP3
// converter carry it.
constexpr uint16_t kMpegLayer3IdMpeg = 1;
#pragma pack(push, 2)
struct MpegLayer3WaveFormat {
  WaveFormatEx wfx;
  uint16_t id;
  uint32_t flags;
  uint16_t block_size;
  uint16_t frames_per_block;
  uint16_t codec_delay;
};
#pragma pack(pop)
static_assert(sizeof(MpegLayer3WaveFormat) == 30, "MPEG Layer-3 format is 30 bytes");

// One conversion request. cb_struct must be sizeof(AcmStreamHeader).
struct AcmStreamHeader {
  uint32_t cb_struct;
  uint32_t status;
  uintptr_t user;
  uint8_t* source;
  uint32_t source_length;
  uint32_t source_length_used;
  uintptr_t source_user;
  uint8_t* destination;
  uint32_t destination_length;
  uint32_t destination_length_used;
  uintptr_t destination_user;
  uintptr_t reserved_driver[10];
};

struct AcmStream;  // opaque conversion stream

// Fills *destination (destination_size bytes, at least the 18 of a wave
// format) with the PCM format the source converts to. Flags pick the fields
// of *destination that are fixed by the caller (the tag must then be PCM).
AcmResult AcmFormatSuggest(void* driver, const WaveFormatEx* source, WaveFormatEx* destination,
                           uint32_t destination_size, uint32_t flags);
// Opens a conversion from source to destination (a PCM format as suggested).
// A source format must carry the extra bytes its extra-size field names.
AcmResult AcmStreamOpen(AcmStream** stream, void* driver, const WaveFormatEx* source,
                        const WaveFormatEx* destination, void* filter, uintptr_t callback,
                        uintptr_t instance, uint32_t flags);
AcmResult AcmStreamClose(AcmStream* stream, uint32_t flags);
// The one metric the sound code asks for: the largest format record size.
AcmResult AcmMetrics(void* object, uint32_t metric, void* out);
AcmResult AcmStreamPrepareHeader(AcmStream* stream, AcmStreamHeader* header, uint32_t flags);
AcmResult AcmStreamConvert(AcmStream* stream, AcmStreamHeader* header, uint32_t flags);
AcmResult AcmStreamUnprepareHeader(AcmStream* stream, AcmStreamHeader* header, uint32_t flags);
// Destination bytes for `input` source bytes (flag SOURCE) or source bytes
// for `input` destination bytes (flag DESTINATION), whole blocks only.
AcmResult AcmStreamSize(AcmStream* stream, uint32_t input, uint32_t* output, uint32_t flags);

// The eight entry points by name, as the sound system looks them up
// ("acmFormatSuggest", "acmStreamOpen", ...); null for any other name.
void* AcmFindEntryPoint(const char* name);

// G.711 expansions to 16-bit samples.
int16_t AlawToLinear(uint8_t code);
int16_t MulawToLinear(uint8_t code);

}  // namespace plat
