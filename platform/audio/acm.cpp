// platform/audio/acm.cpp - the compression manager's streams and the built-in codecs:
// Microsoft ADPCM, IMA ADPCM, A-law and mu-law, each to 16-bit PCM.
#include "platform/audio/acm.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/audio/acm_internal.h"

namespace plat {

namespace {

inline int16_t Get16(const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }
inline void Put16(uint8_t* p, int32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline int32_t Clamp16(int32_t v) { return v > 32767 ? 32767 : (v < -32768 ? -32768 : v); }

// A codec that turns fixed source blocks into fixed runs of 16-bit samples.
class BlockCodec : public AcmCodec {
 public:
  BlockCodec(uint32_t source_block, uint32_t output_block) : source_block_(source_block), output_block_(output_block) {}
  void Convert(const uint8_t* source, uint32_t source_length, uint8_t* destination, uint32_t destination_length,
               uint32_t* source_used, uint32_t* destination_used) override {
    uint32_t blocks = source_length / source_block_;
    uint32_t room = destination_length / output_block_;
    if (blocks > room) blocks = room;
    for (uint32_t i = 0; i < blocks; ++i)
      DecodeBlock(source + static_cast<size_t>(i) * source_block_, destination + static_cast<size_t>(i) * output_block_);
    *source_used = blocks * source_block_;
    *destination_used = blocks * output_block_;
  }
  uint64_t DestinationFor(uint32_t source_bytes) const override {
    return static_cast<uint64_t>(source_bytes / source_block_) * output_block_;
  }
  uint64_t SourceFor(uint32_t destination_bytes) const override {
    return static_cast<uint64_t>(destination_bytes / output_block_) * source_block_;
  }

 protected:
  virtual void DecodeBlock(const uint8_t* in, uint8_t* out) = 0;
  uint32_t source_block_;
  uint32_t output_block_;
};

// ---- G.711 ---------------------------------------------------------------------------

class G711Codec : public BlockCodec {
 public:
  G711Codec(int channels, bool alaw) : BlockCodec(static_cast<uint32_t>(channels), static_cast<uint32_t>(channels) * 2) {
    for (int i = 0; i < 256; ++i)
      table_[i] = alaw ? AlawToLinear(static_cast<uint8_t>(i)) : MulawToLinear(static_cast<uint8_t>(i));
  }

 protected:
  void DecodeBlock(const uint8_t* in, uint8_t* out) override {
    for (uint32_t c = 0; c < source_block_; ++c) Put16(out + 2 * c, table_[in[c]]);
  }

 private:
  int16_t table_[256];
};

// ---- IMA ADPCM --------------------------------------------------------------------------

const int16_t kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int8_t kImaIndexStep[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

class ImaCodec : public BlockCodec {
 public:
  ImaCodec(int channels, uint32_t block_align, uint32_t samples)
      : BlockCodec(block_align, samples * static_cast<uint32_t>(channels) * 2), channels_(channels), samples_(samples) {}

 protected:
  void DecodeBlock(const uint8_t* in, uint8_t* out) override {
    const int ch = channels_;
    for (int c = 0; c < ch; ++c) {
      const uint8_t* head = in + 4 * c;
      int32_t predictor = Get16(head);
      int32_t index = head[2];
      if (index > 88) index = 88;
      Put16(out + 2 * c, predictor);
      // Data follows in words of four bytes per channel, eight samples each,
      // low nibble first.
      uint32_t produced = 1;
      const uint8_t* data = in + 4 * ch + 4 * c;
      while (produced < samples_) {
        for (int k = 0; k < 8 && produced < samples_; ++k) {
          int nibble = (data[k >> 1] >> ((k & 1) * 4)) & 0x0F;
          int32_t step = kImaSteps[index];
          int32_t diff = step >> 3;
          if (nibble & 4) diff += step;
          if (nibble & 2) diff += step >> 1;
          if (nibble & 1) diff += step >> 2;
          predictor = Clamp16((nibble & 8) ? predictor - diff : predictor + diff);
          index += kImaIndexStep[nibble];
          index = index < 0 ? 0 : (index > 88 ? 88 : index);
          Put16(out + 2 * (static_cast<size_t>(produced) * ch + c), predictor);
          ++produced;
        }
        data += 4 * ch;
      }
    }
  }

 private:
  int channels_;
  uint32_t samples_;
};

// ---- Microsoft ADPCM -------------------------------------------------------------------

const int32_t kMsAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                   768, 614, 512, 409, 307, 230, 230, 230};
// The largest adaptive step: eight times it still fits 32 bits, and the
// adaptation product (at most 768 times the step) too.
constexpr int32_t kMaxMsDelta = 1 << 21;

class MsAdpcmCodec : public BlockCodec {
 public:
  MsAdpcmCodec(int channels, uint32_t block_align, uint32_t samples, std::vector<int32_t> coefficients)
      : BlockCodec(block_align, samples * static_cast<uint32_t>(channels) * 2),
        channels_(channels),
        samples_(samples),
        coefficients_(std::move(coefficients)) {}

 protected:
  void DecodeBlock(const uint8_t* in, uint8_t* out) override {
    const int ch = channels_;
    int32_t c1[2], c2[2], delta[2], s1[2], s2[2];
    const size_t pairs = coefficients_.size() / 2;
    for (int c = 0; c < ch; ++c) {
      size_t predictor = in[c];
      // A predictor the format does not define takes the first pair.
      if (predictor >= pairs) predictor = 0;
      c1[c] = coefficients_[2 * predictor];
      c2[c] = coefficients_[2 * predictor + 1];
      delta[c] = Get16(in + ch + 2 * c);
      s1[c] = Get16(in + 3 * ch + 2 * c);
      s2[c] = Get16(in + 5 * ch + 2 * c);
      // The older sample comes out first.
      Put16(out + 2 * c, s2[c]);
      if (samples_ > 1) Put16(out + 2 * (ch + c), s1[c]);
    }
    const uint8_t* data = in + 7 * ch;
    const uint32_t nibbles = (samples_ > 2 ? samples_ - 2 : 0) * static_cast<uint32_t>(ch);
    uint8_t* o = out + 2 * 2 * ch;
    for (uint32_t i = 0; i < nibbles; ++i) {
      const int c = static_cast<int>(i % static_cast<uint32_t>(ch));
      int nibble = (i & 1) ? (data[i >> 1] & 0x0F) : (data[i >> 1] >> 4);
      int32_t signed_nibble = nibble >= 8 ? nibble - 16 : nibble;
      // The prediction is an arithmetic right shift of the weighted sum; two
      // full-scale products overflow 32 bits, so the sum is taken in 64.
      const int64_t predicted = (int64_t{s1[c]} * c1[c] + int64_t{s2[c]} * c2[c]) >> 8;
      const int64_t unclamped = predicted + int64_t{signed_nibble} * delta[c];
      const int32_t sample = unclamped > 32767 ? 32767 : (unclamped < -32768 ? -32768 : static_cast<int32_t>(unclamped));
      s2[c] = s1[c];
      s1[c] = sample;
      // A run of large nibbles triples the step each time; it stops at
      // kMaxMsDelta, far beyond any step that a 16-bit signal needs.
      const int32_t next = (kMsAdaptation[nibble] * delta[c]) >> 8;
      delta[c] = next < 16 ? 16 : (next > kMaxMsDelta ? kMaxMsDelta : next);
      Put16(o, sample);
      o += 2;
    }
  }

 private:
  int channels_;
  uint32_t samples_;
  std::vector<int32_t> coefficients_;
};

// ---- Format checks ----------------------------------------------------------------------

const uint8_t* ExtraBytes(const WaveFormatEx* f) { return reinterpret_cast<const uint8_t*>(f) + sizeof(WaveFormatEx); }

bool IsMpegRate(uint32_t rate) {
  return rate == 44100 || rate == 48000 || rate == 32000 || rate == 22050 || rate == 24000 || rate == 16000;
}

// The codec for a source format, or null when the format is not supported or
// not consistent.
std::unique_ptr<AcmCodec> MakeCodec(const WaveFormatEx* f) {
  if (f == nullptr || f->channels == 0 || f->samples_per_sec == 0 || f->block_align == 0) return nullptr;
  // Rates beyond any real device would overflow the PCM byte rate.
  if (f->samples_per_sec > 384000) return nullptr;
  const int ch = f->channels;
  const uint32_t ba = f->block_align;
  switch (f->format_tag) {
    case kWaveFormatAlaw:
    case kWaveFormatMulaw:
      if (f->bits_per_sample != 8 || ba != static_cast<uint32_t>(ch) || ch > 8) return nullptr;
      return std::make_unique<G711Codec>(ch, f->format_tag == kWaveFormatAlaw);
    case kWaveFormatImaAdpcm: {
      if (f->bits_per_sample != 4 || ch > 2) return nullptr;
      if (ba <= 4u * ch || (ba - 4u * ch) % (4u * ch) != 0) return nullptr;
      uint32_t samples = (ba - 4u * ch) * 2 / ch + 1;
      return std::make_unique<ImaCodec>(ch, ba, samples);
    }
    case kWaveFormatAdpcm: {
      if (f->bits_per_sample != 4 || ch > 2 || ba < 7u * ch || f->extra_size < 4) return nullptr;
      const uint8_t* extra = ExtraBytes(f);
      uint32_t samples = static_cast<uint16_t>(Get16(extra));
      uint32_t count = static_cast<uint16_t>(Get16(extra + 2));
      if (count == 0 || f->extra_size < 4 + 4 * count) return nullptr;
      uint32_t most = (ba - 7u * ch) * 2 / ch + 2;
      if (samples < 2 || samples > most) return nullptr;
      std::vector<int32_t> coefficients(2 * count);
      for (uint32_t i = 0; i < 2 * count; ++i) coefficients[i] = Get16(extra + 4 + 2 * i);
      return std::make_unique<MsAdpcmCodec>(ch, ba, samples, std::move(coefficients));
    }
    case kWaveFormatMpegLayer3:
      if (ch > 2 || !IsMpegRate(f->samples_per_sec)) return nullptr;
      return MakeMpegCodec(*f);
    default:
      return nullptr;
  }
}

WaveFormatEx PcmFor(const WaveFormatEx& source) {
  WaveFormatEx pcm{};
  pcm.format_tag = kWaveFormatPcm;
  pcm.channels = source.channels;
  pcm.samples_per_sec = source.samples_per_sec;
  pcm.bits_per_sample = 16;
  pcm.block_align = static_cast<uint16_t>(2 * source.channels);
  pcm.avg_bytes_per_sec = pcm.block_align * source.samples_per_sec;
  pcm.extra_size = 0;
  return pcm;
}

}  // namespace

struct AcmStream {
  std::unique_ptr<AcmCodec> codec;
  WaveFormatEx destination;
};

int16_t AlawToLinear(uint8_t code) {
  code ^= 0x55;
  int32_t mantissa = (code & 0x0F) << 4;
  int32_t segment = (code & 0x70) >> 4;
  int32_t value;
  if (segment == 0)
    value = mantissa + 8;
  else
    value = (mantissa + 0x108) << (segment - 1);
  return static_cast<int16_t>((code & 0x80) ? value : -value);
}

int16_t MulawToLinear(uint8_t code) {
  code = static_cast<uint8_t>(~code);
  int32_t value = (((code & 0x0F) << 3) + 0x84) << ((code & 0x70) >> 4);
  return static_cast<int16_t>((code & 0x80) ? 0x84 - value : value - 0x84);
}

AcmResult AcmFormatSuggest(void*, const WaveFormatEx* source, WaveFormatEx* destination, uint32_t destination_size,
                           uint32_t flags) {
  if (source == nullptr || destination == nullptr || destination_size < sizeof(WaveFormatEx))
    return kMMSYSERR_INVALPARAM;
  if (MakeCodec(source) == nullptr) return kACMERR_NOTPOSSIBLE;
  WaveFormatEx pcm = PcmFor(*source);
  if ((flags & kACM_FORMATSUGGESTF_WFORMATTAG) && destination->format_tag != kWaveFormatPcm) return kACMERR_NOTPOSSIBLE;
  if ((flags & kACM_FORMATSUGGESTF_NCHANNELS) && destination->channels != pcm.channels) return kACMERR_NOTPOSSIBLE;
  if ((flags & kACM_FORMATSUGGESTF_NSAMPLESPERSEC) && destination->samples_per_sec != pcm.samples_per_sec)
    return kACMERR_NOTPOSSIBLE;
  if ((flags & kACM_FORMATSUGGESTF_WBITSPERSAMPLE) && destination->bits_per_sample != 16) return kACMERR_NOTPOSSIBLE;
  *destination = pcm;
  return kMMSYSERR_NOERROR;
}

AcmResult AcmStreamOpen(AcmStream** stream, void*, const WaveFormatEx* source, const WaveFormatEx* destination,
                        void* filter, uintptr_t, uintptr_t, uint32_t flags) {
  if (stream != nullptr) *stream = nullptr;
  if (source == nullptr || destination == nullptr || filter != nullptr) return kMMSYSERR_INVALPARAM;
  if (stream == nullptr && !(flags & kACM_STREAMOPENF_QUERY)) return kMMSYSERR_INVALPARAM;
  // Only the conversion to the PCM format the codec would suggest is offered.
  WaveFormatEx pcm = PcmFor(*source);
  if (destination->format_tag != kWaveFormatPcm || destination->channels != pcm.channels ||
      destination->samples_per_sec != pcm.samples_per_sec || destination->bits_per_sample != 16 ||
      destination->block_align != pcm.block_align)
    return kACMERR_NOTPOSSIBLE;
  std::unique_ptr<AcmCodec> codec = MakeCodec(source);
  if (codec == nullptr) return kACMERR_NOTPOSSIBLE;
  if (flags & kACM_STREAMOPENF_QUERY) return kMMSYSERR_NOERROR;
  auto* s = new (std::nothrow) AcmStream;
  if (s == nullptr) return kMMSYSERR_NOMEM;
  s->codec = std::move(codec);
  s->destination = pcm;
  *stream = s;
  return kMMSYSERR_NOERROR;
}

AcmResult AcmStreamClose(AcmStream* stream, uint32_t flags) {
  if (stream == nullptr) return kMMSYSERR_INVALHANDLE;
  if (flags != 0) return kMMSYSERR_INVALFLAG;
  delete stream;
  return kMMSYSERR_NOERROR;
}

AcmResult AcmMetrics(void*, uint32_t metric, void* out) {
  if (out == nullptr) return kMMSYSERR_INVALPARAM;
  if (metric != kACM_METRIC_MAX_SIZE_FORMAT) return kACMERR_NOTPOSSIBLE;
  // The largest record: Microsoft ADPCM with its seven coefficient pairs.
  *static_cast<uint32_t*>(out) = 50;
  return kMMSYSERR_NOERROR;
}

namespace {
// The prepared buffers are remembered in the driver words, so that a header
// changed after its preparation is refused.
enum { kPreparedSource, kPreparedSourceLength, kPreparedDestination, kPreparedDestinationLength };

AcmResult CheckHeader(AcmStream* stream, AcmStreamHeader* header) {
  if (stream == nullptr) return kMMSYSERR_INVALHANDLE;
  if (header == nullptr || header->cb_struct != sizeof(AcmStreamHeader)) return kMMSYSERR_INVALPARAM;
  return kMMSYSERR_NOERROR;
}
}  // namespace

AcmResult AcmStreamPrepareHeader(AcmStream* stream, AcmStreamHeader* header, uint32_t flags) {
  if (AcmResult r = CheckHeader(stream, header)) return r;
  if (flags != 0) return kMMSYSERR_INVALFLAG;
  if (header->source == nullptr || header->destination == nullptr) return kMMSYSERR_INVALPARAM;
  if (header->status & kACMSTREAMHEADER_STATUSF_PREPARED) return kMMSYSERR_NOERROR;
  header->reserved_driver[kPreparedSource] = reinterpret_cast<uintptr_t>(header->source);
  header->reserved_driver[kPreparedSourceLength] = header->source_length;
  header->reserved_driver[kPreparedDestination] = reinterpret_cast<uintptr_t>(header->destination);
  header->reserved_driver[kPreparedDestinationLength] = header->destination_length;
  header->status = kACMSTREAMHEADER_STATUSF_PREPARED;
  return kMMSYSERR_NOERROR;
}

AcmResult AcmStreamConvert(AcmStream* stream, AcmStreamHeader* header, uint32_t flags) {
  if (AcmResult r = CheckHeader(stream, header)) return r;
  if (!(header->status & kACMSTREAMHEADER_STATUSF_PREPARED)) return kACMERR_UNPREPARED;
  if (header->reserved_driver[kPreparedSource] != reinterpret_cast<uintptr_t>(header->source) ||
      header->reserved_driver[kPreparedDestination] != reinterpret_cast<uintptr_t>(header->destination) ||
      header->source_length > header->reserved_driver[kPreparedSourceLength] ||
      header->destination_length > header->reserved_driver[kPreparedDestinationLength])
    return kMMSYSERR_INVALPARAM;
  if (flags & kACM_STREAMCONVERTF_START) stream->codec->Reset();
  uint32_t used_source = 0, used_destination = 0;
  stream->codec->Convert(header->source, header->source_length, header->destination, header->destination_length,
                         &used_source, &used_destination);
  header->source_length_used = used_source;
  header->destination_length_used = used_destination;
  header->status |= kACMSTREAMHEADER_STATUSF_DONE;
  return kMMSYSERR_NOERROR;
}

AcmResult AcmStreamUnprepareHeader(AcmStream* stream, AcmStreamHeader* header, uint32_t flags) {
  if (AcmResult r = CheckHeader(stream, header)) return r;
  if (flags != 0) return kMMSYSERR_INVALFLAG;
  if (!(header->status & kACMSTREAMHEADER_STATUSF_PREPARED)) return kACMERR_UNPREPARED;
  header->status &= ~(kACMSTREAMHEADER_STATUSF_PREPARED | kACMSTREAMHEADER_STATUSF_DONE);
  return kMMSYSERR_NOERROR;
}

AcmResult AcmStreamSize(AcmStream* stream, uint32_t input, uint32_t* output, uint32_t flags) {
  if (stream == nullptr) return kMMSYSERR_INVALHANDLE;
  if (output == nullptr) return kMMSYSERR_INVALPARAM;
  if (flags != kACM_STREAMSIZEF_SOURCE && flags != kACM_STREAMSIZEF_DESTINATION) return kMMSYSERR_INVALFLAG;
  uint64_t n = flags == kACM_STREAMSIZEF_SOURCE ? stream->codec->DestinationFor(input) : stream->codec->SourceFor(input);
  if (n > 0xFFFFFFFFu) return kACMERR_NOTPOSSIBLE;
  *output = static_cast<uint32_t>(n);
  return kMMSYSERR_NOERROR;
}

void* AcmFindEntryPoint(const char* name) {
  if (name == nullptr) return nullptr;
  struct Entry {
    const char* name;
    void* function;
  };
  const Entry entries[] = {
      {"acmFormatSuggest", reinterpret_cast<void*>(&AcmFormatSuggest)},
      {"acmStreamOpen", reinterpret_cast<void*>(&AcmStreamOpen)},
      {"acmStreamClose", reinterpret_cast<void*>(&AcmStreamClose)},
      {"acmMetrics", reinterpret_cast<void*>(&AcmMetrics)},
      {"acmStreamPrepareHeader", reinterpret_cast<void*>(&AcmStreamPrepareHeader)},
      {"acmStreamConvert", reinterpret_cast<void*>(&AcmStreamConvert)},
      {"acmStreamUnprepareHeader", reinterpret_cast<void*>(&AcmStreamUnprepareHeader)},
      {"acmStreamSize", reinterpret_cast<void*>(&AcmStreamSize)},
  };
  for (const Entry& e : entries)
    if (std::strcmp(e.name, name) == 0) return e.function;
  return nullptr;
}

}  // namespace plat
