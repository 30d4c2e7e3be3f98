// platform/audio/acm_mpeg.cpp - the MPEG audio codec of the compression manager:
// libmpg123 in feed mode, handed one whole frame at a time. Every frame comes
// out as exactly its samples-per-frame of 16-bit PCM at the stream's rate and
// channel count (no gapless trimming, info frames decoded as plain frames), so
// the output of a conversion is the frames it consumed times their length.
#include <mpg123.h>

#include <cstring>
#include <mutex>

#include "platform/audio/acm_internal.h"

namespace plat {

namespace {

// Bit rates in kbit/s by [MPEG-2][layer - 1][index].
const uint16_t kBitrates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
const uint32_t kRates[2][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}};

class MpegCodec : public AcmCodec {
 public:
  explicit MpegCodec(const WaveFormatEx& source) : channels_(source.channels), rate_(source.samples_per_sec) {
    const auto* l3 = reinterpret_cast<const MpegLayer3WaveFormat*>(&source);
    block_size_ = source.extra_size >= 12 && l3->block_size > 0 ? l3->block_size : 1;
  }
  ~MpegCodec() override { Close(); }

  bool Open() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
    int error = MPG123_OK;
    handle_ = mpg123_new(nullptr, &error);
    if (handle_ == nullptr) return false;
    // Whole frames are fed, so no read-ahead is needed to confirm the sync;
    // nothing is trimmed or resampled.
    const long flags = MPG123_QUIET | MPG123_NO_READAHEAD | MPG123_IGNORE_INFOFRAME | MPG123_SKIP_ID3V2;
    if (mpg123_param(handle_, MPG123_FLAGS, flags, 0) != MPG123_OK ||
        mpg123_param(handle_, MPG123_REMOVE_FLAGS, MPG123_GAPLESS | MPG123_AUTO_RESAMPLE, 0) != MPG123_OK ||
        mpg123_format_none(handle_) != MPG123_OK ||
        mpg123_format(handle_, static_cast<long>(rate_), channels_ == 1 ? MPG123_MONO : MPG123_STEREO,
                      MPG123_ENC_SIGNED_16) != MPG123_OK ||
        mpg123_open_feed(handle_) != MPG123_OK) {
      Close();
      return false;
    }
    return true;
  }

  void Reset() override {
    if (handle_ == nullptr) return;
    mpg123_close(handle_);
    if (mpg123_open_feed(handle_) != MPG123_OK) Close();
  }

  void Convert(const uint8_t* source, uint32_t source_length, uint8_t* destination, uint32_t destination_length,
               uint32_t* source_used, uint32_t* destination_used) override {
    uint32_t pos = 0, out = 0;
    while (source_length - pos >= 4) {
      const uint8_t* p = source + pos;
      if (p[0] != 0xFF || (p[1] & 0xF0) != 0xF0) {
        // Bytes between frames are passed over, as the frame scan does.
        ++pos;
        continue;
      }
      MpegHeader h;
      if (!ParseMpegHeader(p, &h)) break;       // a damaged frame ends the data
      if (h.frame_length > source_length - pos) break;  // the rest comes next time
      const uint32_t bytes = h.samples * channels_ * 2;
      if (bytes > destination_length - out) break;
      uint8_t* o = destination + out;
      if (h.rate != rate_ || h.channels != channels_ || handle_ == nullptr)
        std::memset(o, 0, bytes);  // a frame of another format keeps only its length
      else
        DecodeFrame(p, h.frame_length, o, bytes);
      out += bytes;
      pos += h.frame_length;
    }
    *source_used = pos;
    *destination_used = out;
  }

  uint64_t DestinationFor(uint32_t source_bytes) const override {
    return (static_cast<uint64_t>(source_bytes) / block_size_ + 1) * 1152 * channels_ * 2;
  }
  uint64_t SourceFor(uint32_t destination_bytes) const override {
    return static_cast<uint64_t>(destination_bytes) / (1152u * channels_ * 2) * block_size_;
  }

 private:
  void Close() {
    if (handle_ != nullptr) {
      mpg123_delete(handle_);
      handle_ = nullptr;
    }
  }

  // Decodes one frame into exactly `bytes` bytes: what the decoder gives,
  // silence for any part it does not.
  void DecodeFrame(const uint8_t* frame, uint32_t length, uint8_t* out, uint32_t bytes) {
    uint32_t produced = 0;
    if (mpg123_feed(handle_, frame, length) == MPG123_OK) {
      for (int guard = 0; guard < 8; ++guard) {
        off_t number = 0;
        unsigned char* audio = nullptr;
        size_t got = 0;
        int r = mpg123_decode_frame(handle_, &number, &audio, &got);
        if (r == MPG123_NEW_FORMAT) continue;
        if (r == MPG123_OK) {
          if (audio != nullptr && got > 0 && produced < bytes) {
            size_t n = got < bytes - produced ? got : bytes - produced;
            std::memcpy(out + produced, audio, n);
            produced += static_cast<uint32_t>(n);
          }
          continue;
        }
        if (r == MPG123_NEED_MORE || r == MPG123_DONE) break;
        // The decoder refused the data: start it afresh for the next frame.
        Reset();
        break;
      }
    }
    if (produced < bytes) std::memset(out + produced, 0, bytes - produced);
  }

  mpg123_handle* handle_ = nullptr;
  int channels_;
  uint32_t rate_;
  uint32_t block_size_;
};

}  // namespace

bool ParseAnyMpegHeader(const uint8_t* b, MpegHeader* h) {
  if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return false;
  const int version_bits = (b[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG 2.5
  const int layer_bits = (b[1] >> 1) & 3;
  if (version_bits == 1 || layer_bits == 0) return false;
  const int v = version_bits == 3 ? 0 : 1;
  const int layer = 4 - layer_bits;
  const int bitrate_index = b[2] >> 4;
  const int rate_index = (b[2] >> 2) & 3;
  if (bitrate_index == 15 || rate_index == 3) return false;
  const uint32_t bitrate = kBitrates[v][layer - 1][bitrate_index];
  const uint32_t rate = kRates[v][rate_index] >> (version_bits == 0 ? 1 : 0);
  const uint32_t padding = (b[2] >> 1) & 1;
  h->layer = layer;
  h->mpeg1 = v == 0;
  h->channels = (b[3] & 0xC0) == 0xC0 ? 1 : 2;
  h->rate = rate;
  if (layer == 1) {
    h->frame_length = (12000 * bitrate / rate + padding) * 4;
    h->samples = 384;
  } else if (layer == 2 || v == 0) {
    h->frame_length = 144000 * bitrate / rate + padding;
    h->samples = 1152;
  } else {
    h->frame_length = 72000 * bitrate / rate + padding;
    h->samples = 576;
  }
  if (bitrate == 0) h->frame_length = 0;
  return true;
}

bool ParseMpegHeader(const uint8_t* b, MpegHeader* h) {
  if ((b[1] & 0x10) == 0 || (b[2] >> 4) == 0) return false;
  return ParseAnyMpegHeader(b, h) && h->frame_length >= 4;
}

std::unique_ptr<AcmCodec> MakeMpegCodec(const WaveFormatEx& source) {
  auto codec = std::make_unique<MpegCodec>(source);
  if (!codec->Open()) return nullptr;
  return codec;
}

}  // namespace plat
