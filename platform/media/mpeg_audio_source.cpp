// platform/media/mpeg_audio_source.cpp - the MPEG audio source over
// libmpg123: a demultiplexer and decoder in one for streams said to be MPEG
// audio, free-format bit rates, MPEG 2.5 and damaged frames included. Reads
// through the upstream IAsyncReader and pushes 16-bit PCM.
#include <mpg123.h>

#include <cstring>
#include <mutex>

#include "platform/media/pull_source.h"

namespace plat {

namespace {

constexpr Guid kCLSID_MpegAudioSource = {0x52524D03, 0x0003, 0x4D45, {0x44, 0x49, 0x41, 0x4D, 0x50, 0x41, 0x00, 0x01}};
constexpr size_t kChunk = 16384;

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
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
    int error = MPG123_OK;
    handle_ = mpg123_new(nullptr, &error);
    if (handle_ == nullptr) return kE_OUTOFMEMORY;
    position_ = 0;
    mpg123_param(handle_, MPG123_FLAGS, MPG123_QUIET, 0);
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
  static ssize_t ReadInput(void* opaque, void* buffer, size_t bytes) {
    auto* self = static_cast<MpegAudioSource*>(opaque);
    const int64_t n = self->ReadAt(self->position_, static_cast<uint8_t*>(buffer), static_cast<int64_t>(bytes));
    if (n < 0) {
      self->read_failed_ = true;
      return -1;
    }
    self->position_ += n;
    return static_cast<ssize_t>(n);
  }

  static off_t SeekInput(void* opaque, off_t offset, int whence) {
    auto* self = static_cast<MpegAudioSource*>(opaque);
    const int64_t length = self->InputLength();
    if (length < 0) return -1;
    int64_t to = offset;
    if (whence == SEEK_CUR) to += self->position_;
    else if (whence == SEEK_END) to += length;
    else if (whence != SEEK_SET) return -1;
    if (to < 0) return -1;
    self->position_ = to;
    return static_cast<off_t>(to);
  }

  mpg123_handle* handle_ = nullptr;
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
