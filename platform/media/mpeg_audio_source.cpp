// platform/media/mpeg_audio_source.cpp - the MPEG audio source over
// libmpg123: a demultiplexer and decoder in one for streams said to be MPEG
// audio, free-format bit rates, MPEG 2.5 and damaged frames included, bare or
// in a WAVE file. It takes a stream only when a run of frames starts where
// the frames should start. Reads through the upstream IAsyncReader and
// pushes 16-bit PCM.
#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/audio/mpeg_header.h"
#include "platform/media/pull_source.h"

namespace plat {

namespace {

constexpr Guid kCLSID_MpegAudioSource = {0x52524D03, 0x0003, 0x4D45, {0x44, 0x49, 0x41, 0x4D, 0x50, 0x41, 0x00, 0x01}};
constexpr size_t kChunk = 16384;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

class MpegAudioSource : public PullSourceFilter {
 public:
  MpegAudioSource() : PullSourceFilter("MPEG Audio Source", kCLSID_MpegAudioSource) {}
  ~MpegAudioSource() override {
    Stop();
    Close();
  }

  bool AcceptsInput(const D_CMediaType& type) override {
    return type.majortype == kMEDIATYPE_Stream && type.subtype == kMEDIASUBTYPE_MPEG1Audio;
  }

  HResult Open(const D_CMediaType&) override {
    Close();
    // Only MPEG audio with frames where they should be: a WAVE file of any
    // other format, or bytes that merely hold something like a frame header
    // somewhere, would decode to noise at a rate of their own choosing.
    if (!FindFrames()) return kVFW_E_UNSUPPORTED_STREAM;
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
    int error = MPG123_OK;
    handle_ = mpg123_new(nullptr, &error);
    if (handle_ == nullptr) return kE_OUTOFMEMORY;
    position_ = 0;
    // Gapless: the encoder delay and padding a LAME or Xing header gives are
    // cut, as FFmpeg's own decode cuts them.
    mpg123_param(handle_, MPG123_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
    mpg123_format_none(handle_);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i) mpg123_format(handle_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_replace_reader_handle(handle_, &ReadInput, &SeekInput, nullptr) != MPG123_OK ||
        mpg123_open_handle(handle_, this) != MPG123_OK ||
        mpg123_getformat(handle_, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || channels < 1 ||
        channels > 2 || encoding != MPG123_ENC_SIGNED_16) {
      Close();
      return kVFW_E_UNSUPPORTED_STREAM;
    }
    rate_ = static_cast<uint32_t>(rate);
    channels_ = channels;
    samples_out_ = 0;
    AddOutput(Pcm16MediaType(rate_, channels_), 65536, 4, u"Audio");
    return kS_OK;
  }

  void Close() override {
    if (handle_ != nullptr) {
      mpg123_close(handle_);
      mpg123_delete(handle_);
      handle_ = nullptr;
    }
  }

  HResult StreamStep() override {
    uint8_t buffer[kChunk];
    size_t done = 0;
    const int r = mpg123_read(handle_, buffer, sizeof(buffer), &done);
    const int block = channels_ * 2;
    done -= done % static_cast<size_t>(block);
    if (done > 0) {
      const int64_t frames = static_cast<int64_t>(done) / block;
      const ReferenceTime start = samples_out_ * kUnitsPerSecond / rate_;
      const ReferenceTime stop = (samples_out_ + frames) * kUnitsPerSecond / rate_;
      samples_out_ += frames;
      HResult sent = Send(0, buffer, static_cast<int64_t>(done), start, stop, true, true);
      if (sent != kS_OK) return sent;
    }
    if (r == MPG123_OK || r == MPG123_NEW_FORMAT) return kS_OK;
    if (r == MPG123_DONE) return kS_FALSE;
    // The decoder gives up on data it cannot follow: the stream ends there.
    return read_failed_ ? kE_FAIL : kS_FALSE;
  }

  HResult SeekTo(int64_t position) override {
    if (handle_ == nullptr) return kE_UNEXPECTED;
    const off_t sample = static_cast<off_t>(position * rate_ / kUnitsPerSecond);
    const off_t at = mpg123_seek(handle_, sample, SEEK_SET);
    if (at < 0) return kE_FAIL;
    samples_out_ = 0;
    return kS_OK;
  }

  int64_t Duration() override {
    if (handle_ == nullptr || rate_ == 0) return 0;
    const off_t length = mpg123_length(handle_);
    return length < 0 ? 0 : static_cast<int64_t>(length) * kUnitsPerSecond / rate_;
  }

 private:
  // Sets the part of the input the decoder reads: the data chunk of a WAVE
  // file of MPEG audio, or what follows a leading ID3v2 tag. A run of frames
  // must start right there.
  bool FindFrames() {
    const int64_t length = PullSourceFilter::InputLength();
    uint8_t head[12];
    if (length < 4 || ReadAt(0, head, 12) < 4) return false;
    start_ = 0;
    end_ = length;
    if (length >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0) {
      if (!FindWaveData(length)) return false;
    } else if (length >= 10 && std::memcmp(head, "ID3", 3) == 0) {
      uint8_t tag[10];
      if (ReadAt(0, tag, 10) != 10) return false;
      start_ = (((static_cast<int64_t>(tag[6] & 0x7F) * 128 + (tag[7] & 0x7F)) * 128 + (tag[8] & 0x7F)) * 128 +
                (tag[9] & 0x7F)) + 10;
      if (tag[3] == 4 && (tag[5] & 0x10)) start_ += 10;
    }
    // A trailing ID3v1 block is no frame.
    int64_t frames_end = end_;
    uint8_t tail[3];
    if (end_ - start_ > 128 && ReadAt(end_ - 128, tail, 3) == 3 && std::memcmp(tail, "TAG", 3) == 0)
      frames_end = end_ - 128;
    return FramesRunFrom(start_, frames_end);
  }

  // The data chunk of a WAVE file whose format is MPEG audio (Layer I/II or
  // Layer III); false for any other WAVE file.
  bool FindWaveData(int64_t length) {
    bool mpeg = false;
    int64_t at = 12;
    uint8_t chunk[8];
    while (at + 8 <= length && ReadAt(at, chunk, 8) == 8) {
      const uint32_t size = Le32(chunk + 4);
      if (std::memcmp(chunk, "fmt ", 4) == 0) {
        uint8_t tag[2];
        if (size < 2 || ReadAt(at + 8, tag, 2) != 2) return false;
        const uint16_t format = static_cast<uint16_t>(tag[0] | tag[1] << 8);
        mpeg = format == 0x0050 || format == 0x0055;
        if (!mpeg) return false;
      } else if (std::memcmp(chunk, "data", 4) == 0) {
        start_ = at + 8;
        end_ = std::min<int64_t>(length, start_ + size);
        return mpeg;
      }
      at += 8 + static_cast<int64_t>(size) + (size & 1);
    }
    return false;
  }

  // Whether three frames of one stream follow each other from `from` (fewer
  // when the data ends first, the last one may be cut).
  bool FramesRunFrom(int64_t from, int64_t limit) {
    constexpr int kRun = 3;
    // The longest frame of the free-format bit rate, whose length is found
    // by looking for the next header.
    constexpr int64_t kLongestFrame = 8192;
    MpegHeader first{}, h{};
    int64_t at = from;
    for (int n = 0; n < kRun; ++n) {
      if (n > 0 && at + 4 > limit) return true;
      uint8_t b[4];
      if (ReadAt(at, b, 4) != 4 || !ParseAnyMpegHeader(b, &h) || (n > 0 && !SameMpegStream(first, h))) return false;
      if (n == 0) first = h;
      if (h.frame_length >= 4) {
        at += h.frame_length;
        continue;
      }
      if (h.frame_length != 0) return false;
      // Free format: the next header of the same stream, also free format.
      std::vector<uint8_t> ahead(static_cast<size_t>(std::min<int64_t>(kLongestFrame, limit - at)));
      if (ahead.size() < 8 || ReadAt(at, ahead.data(), static_cast<int64_t>(ahead.size())) !=
                                  static_cast<int64_t>(ahead.size()))
        return false;
      size_t next = 4;
      MpegHeader g{};
      while (next + 4 <= ahead.size() &&
             !(ahead[next] == 0xFF && ahead[next + 1] == b[1] && (ahead[next + 2] & 0xFC) == (b[2] & 0xFC) &&
               ParseAnyMpegHeader(&ahead[next], &g) && SameMpegStream(first, g)))
        ++next;
      if (next + 4 > ahead.size()) return at + static_cast<int64_t>(ahead.size()) >= limit;
      at += static_cast<int64_t>(next);
    }
    return true;
  }

  static ssize_t ReadInput(void* opaque, void* buffer, size_t bytes) {
    auto* self = static_cast<MpegAudioSource*>(opaque);
    const int64_t left = std::max<int64_t>(0, self->end_ - self->start_ - self->position_);
    const int64_t n = self->ReadAt(self->start_ + self->position_, static_cast<uint8_t*>(buffer),
                                   std::min(left, static_cast<int64_t>(bytes)));
    if (n < 0) {
      self->read_failed_ = true;
      return -1;
    }
    self->position_ += n;
    return static_cast<ssize_t>(n);
  }

  static off_t SeekInput(void* opaque, off_t offset, int whence) {
    auto* self = static_cast<MpegAudioSource*>(opaque);
    const int64_t length = self->end_ - self->start_;
    int64_t to = offset;
    if (whence == SEEK_CUR) to += self->position_;
    else if (whence == SEEK_END) to += length;
    else if (whence != SEEK_SET) return -1;
    if (to < 0) return -1;
    self->position_ = to;
    return static_cast<off_t>(to);
  }

  mpg123_handle* handle_ = nullptr;
  // The part of the input that holds the frames, and the decoder's position
  // inside it.
  int64_t start_ = 0;
  int64_t end_ = 0;
  int64_t position_ = 0;
  bool read_failed_ = false;
  uint32_t rate_ = 0;
  int channels_ = 0;
  int64_t samples_out_ = 0;
};

}  // namespace

HResult CreateMpegAudioSource(IBaseFilter** filter) {
  auto* f = new (std::nothrow) MpegAudioSource();
  if (f == nullptr) return kE_OUTOFMEMORY;
  return GetInterface(static_cast<IBaseFilter*>(f), reinterpret_cast<void**>(filter));
}

}  // namespace plat
