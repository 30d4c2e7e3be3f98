// platform/media/audio_renderer.cpp - the audio renderer: PCM samples on the
// graph's clock into a streaming buffer of the library's sound device, each
// where its time falls ahead of the play cursor, so they are heard through
// its mixer at their times. Without a device set the samples are consumed in
// silence.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/audio/dsound.h"
#include "platform/media/base_classes.h"
#include "platform/media/graph.h"

namespace plat {

namespace {

constexpr Guid kCLSID_AudioRenderer = {0x52524D03, 0x0004, 0x4D45, {0x44, 0x49, 0x41, 0x41, 0x52, 0x45, 0x00, 0x01}};

std::atomic<DirectSound*> g_device{nullptr};
std::atomic<int64_t> g_rings_filled{0};

class AudioRenderer : public D_CBaseRenderer, public IBasicAudio {
 public:
  explicit AudioRenderer(HResult* result) : D_CBaseRenderer(kCLSID_AudioRenderer, "Audio Renderer", result) {}
  ~AudioRenderer() override { ReleaseBuffer(); }

  HResult QueryInterface(const Guid& iid, void** out) override { return NonDelegatingQueryInterface(iid, out); }
  uint32_t AddRef() override { return NonDelegatingAddRef(); }
  uint32_t Release() override { return NonDelegatingRelease(); }
  HResult NonDelegatingQueryInterface(const Guid& iid, void** out) override {
    if (out == nullptr) return kE_POINTER;
    if (iid == kIID_IBasicAudio) return GetInterface(static_cast<IBasicAudio*>(this), out);
    return D_CBaseRenderer::NonDelegatingQueryInterface(iid, out);
  }

  HResult CheckMediaType(const D_CMediaType* type) override {
    if (!(type->majortype == kMEDIATYPE_Audio) || !(type->subtype == kMEDIASUBTYPE_PCM) ||
        !(type->formattype == kFORMAT_WaveFormatEx) || type->format.size() < 16)
      return kS_FALSE;
    WaveFormatEx w{};
    std::memcpy(&w, type->format.data(), std::min<size_t>(sizeof(w), type->format.size()));
    if (w.format_tag != kWaveFormatPcm || w.channels < 1 || w.channels > 2 ||
        (w.bits_per_sample != 8 && w.bits_per_sample != 16) || w.samples_per_sec < 100 ||
        w.samples_per_sec > 200000)
      return kS_FALSE;
    return kS_OK;
  }

  HResult SetMediaType(const D_CMediaType* type) override {
    std::memcpy(&format_, type->format.data(), std::min<size_t>(sizeof(format_), type->format.size()));
    format_.extra_size = 0;
    format_.block_align = static_cast<uint16_t>(format_.channels * format_.bits_per_sample / 8);
    format_.avg_bytes_per_sec = format_.samples_per_sec * format_.block_align;
    return kS_OK;
  }

  HResult DoRenderSample(IMediaSample* sample) override {
    DirectSound* device = g_device.load();
    if (device == nullptr) return kS_OK;
    if (buffer_ == nullptr && !MakeBuffer(device)) return kS_OK;
    uint8_t* data = nullptr;
    sample->GetPointer(&data);
    const int32_t length = sample->GetActualDataLength();
    if (data == nullptr || length <= 0) return kS_OK;
    ReferenceTime start = 0, stop = 0;
    const bool timed = sample->GetTime(&start, &stop) != kVFW_E_SAMPLE_TIME_NOT_SET;
    const uint32_t bytes = static_cast<uint32_t>(length) - static_cast<uint32_t>(length) % format_.block_align;
    if (timed && clock_ != nullptr)
      Place(data, bytes, start);
    else
      Queue(data, bytes);
    return kS_OK;
  }

  // The buffer plays only while the graph runs, so that a pause holds what
  // is written ahead for the run that follows.
  HResult Pause() override {
    HResult r = D_CBaseRenderer::Pause();
    std::lock_guard<std::recursive_mutex> hold(render_lock_);
    if (buffer_ != nullptr) buffer_->Stop();
    return r;
  }
  // The buffer starts before the state says running: once it does, the
  // streaming thread may hold the render lock while it waits for room in
  // the ring, and only a playing buffer makes room.
  HResult Run(ReferenceTime start) override {
    {
      std::lock_guard<std::recursive_mutex> hold(render_lock_);
      if (buffer_ != nullptr) buffer_->Play(0, 0, kDSBPLAY_LOOPING);
    }
    HResult r = D_CBaseRenderer::Run(start);
    if (Failed(r)) {
      std::lock_guard<std::recursive_mutex> hold(render_lock_);
      if (buffer_ != nullptr && state_.load() != FilterState::kRunning) buffer_->Stop();
    }
    return r;
  }

  void OnStopStreaming() override {
    if (buffer_ != nullptr) buffer_->Stop();
    ReleaseBuffer();
  }

  // What was written for the old position is not played after a seek.
  void OnBeginFlush() override {
    if (buffer_ != nullptr) Silence(0, ring_bytes_);
    placed_ = false;
    queued_ = 0;
  }

  ReferenceTime RenderAhead() const override { return kWriteAhead; }

  HResult put_Volume(int32_t volume) override {
    if (volume < kDSBVOLUME_MIN || volume > kDSBVOLUME_MAX) return kE_INVALIDARG;
    volume_ = volume;
    std::lock_guard<std::recursive_mutex> hold(render_lock_);
    if (buffer_ != nullptr) buffer_->SetVolume(volume);
    return kS_OK;
  }
  HResult get_Volume(int32_t* volume) override {
    if (volume == nullptr) return kE_POINTER;
    *volume = volume_.load();
    return kS_OK;
  }

 private:
  // Samples are taken this long before their time and written that far
  // ahead of the play cursor.
  static constexpr ReferenceTime kWriteAhead = kUnitsPerSecond / 4;
  // Sample times this close to the end of the one before count as following
  // it straight on (containers stamp in milliseconds).
  static constexpr ReferenceTime kJoin = kUnitsPerSecond / 50;
  // Where the samples written so far and the clock disagree by more than
  // this (the sound device's clock drifting from the graph's, a writer that
  // fell behind), the samples are placed by the clock again.
  static constexpr ReferenceTime kDrift = kUnitsPerSecond / 10;

  // A ring of a second, played looping; the device turns what it has played
  // to silence, so nothing is heard twice however late the writes come.
  bool MakeBuffer(DirectSound* device) {
    ring_bytes_ = format_.avg_bytes_per_sec;
    ring_bytes_ -= ring_bytes_ % format_.block_align;
    if (ring_bytes_ == 0) return false;
    DsBufferDesc desc{};
    desc.size = sizeof(desc);
    desc.flags =
        kDSBCAPS_CTRLVOLUME | kDSBCAPS_GETCURRENTPOSITION2 | kDSBCAPS_GLOBALFOCUS | kDSBCAPS_SILENCEPLAYED;
    desc.buffer_bytes = ring_bytes_;
    desc.format = &format_;
    if (Failed(device->CreateSoundBuffer(&desc, &buffer_, nullptr)) || buffer_ == nullptr) {
      buffer_ = nullptr;
      return false;
    }
    buffer_->SetVolume(volume_.load());
    Silence(0, ring_bytes_);
    placed_ = false;
    queued_ = 0;
    if (state_.load() == FilterState::kRunning) buffer_->Play(0, 0, kDSBPLAY_LOOPING);
    return true;
  }

  // Whole blocks for a time span, rounded to the nearest.
  int64_t BytesFor(ReferenceTime span) const {
    const int64_t frames = (span * format_.samples_per_sec + (span >= 0 ? 1 : -1) * kUnitsPerSecond / 2) /
                           kUnitsPerSecond;
    return frames * format_.block_align;
  }
  ReferenceTime TimeOf(uint32_t bytes) const {
    return static_cast<ReferenceTime>(bytes / format_.block_align) * kUnitsPerSecond / format_.samples_per_sec;
  }
  // Bytes from the play cursor forward to a ring offset.
  uint32_t AheadOf(uint32_t cursor, uint32_t offset) const {
    return (offset + ring_bytes_ - cursor) % ring_bytes_;
  }

  // Writes a sample where its time falls relative to the play cursor: right
  // after the one before while the two agree with the clock, else where the
  // clock puts it, less any part already past.
  void Place(const uint8_t* data, uint32_t bytes, ReferenceTime start) {
    ReferenceTime now = 0;
    uint32_t cursor = 0;
    if (bytes == 0 || StreamTime(&now) != kS_OK || Failed(buffer_->GetCurrentPosition(&cursor, nullptr))) return;
    const int64_t lead = BytesFor(start - now);  // where the clock puts it
    const int64_t limit = static_cast<int64_t>(ring_bytes_) - format_.block_align;
    int64_t ahead = -1;
    if (placed_) {
      const int64_t written = AheadOf(cursor, next_);
      // A cursor past the end of what was written has wrapped the count.
      const bool underrun = written > BytesFor(kWriteAhead + kDrift) + last_bytes_;
      const ReferenceTime gap = start - next_time_;
      if (!underrun && gap >= -kJoin) {
        ahead = written + (gap > kJoin ? BytesFor(gap) : 0);
        if (std::abs(ahead - lead) > BytesFor(kDrift)) ahead = -1;
      }
      if (ahead < 0 && !underrun) Silence(cursor, ring_bytes_);  // what was ahead no longer fits the times
    }
    if (ahead < 0) {
      ahead = lead;
      if (ahead < 0) {
        // The part whose time has passed is left out.
        const int64_t late = std::min<int64_t>(-ahead, bytes);
        data += late;
        bytes -= static_cast<uint32_t>(late);
        start += TimeOf(static_cast<uint32_t>(late));
        ahead = 0;
      }
    }
    if (ahead + bytes > limit) bytes = ahead >= limit ? 0 : static_cast<uint32_t>(limit - ahead);
    const uint32_t at = static_cast<uint32_t>((cursor + ahead) % ring_bytes_);
    Write(at, data, bytes);
    placed_ = true;
    next_ = (at + bytes) % ring_bytes_;
    next_time_ = start + TimeOf(bytes);
    last_bytes_ = bytes;
  }

  // Without times to place them by, samples follow each other from the
  // play cursor on, waiting for room while the ring is full.
  void Queue(const uint8_t* data, uint32_t bytes) {
    const uint32_t limit = ring_bytes_ - format_.block_align;
    placed_ = false;  // what follows is placed by its time again
    for (bool first = true;; first = false) {
      uint32_t cursor = 0;
      if (Failed(buffer_->GetCurrentPosition(&cursor, nullptr))) return;
      const uint32_t played = AheadOf(queue_cursor_, cursor);
      queue_cursor_ = cursor;
      queued_ = queued_ > played ? queued_ - played : 0;
      if (queued_ == 0) queue_end_ = cursor;
      const uint32_t n = std::min(bytes, limit - queued_);
      Write(queue_end_, data, n);
      queue_end_ = (queue_end_ + n) % ring_bytes_;
      queued_ += n;
      data += n;
      bytes -= n;
      if (bytes == 0) return;
      // A stop, a flush or a pause (which holds the cursor) drops the rest.
      if (state_.load() != FilterState::kRunning || flushing_.load()) return;
      // Counted once a fill: on the pass that filled the ring, or on the
      // first when a sample before filled it to the brim.
      if (n > 0 || first) g_rings_filled.fetch_add(1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  // Writes `bytes` of the ring from an offset (wrapping): the data, or
  // silence without it.
  void Write(uint32_t at, const uint8_t* data, uint32_t bytes) {
    void* p[2] = {nullptr, nullptr};
    uint32_t n[2] = {0, 0};
    if (bytes == 0 || Failed(buffer_->Lock(at, bytes, &p[0], &n[0], &p[1], &n[1], 0))) return;
    const int silence = format_.bits_per_sample == 8 ? 0x80 : 0;
    for (int i = 0; i < 2 && p[i] != nullptr && n[i] > 0; ++i) {
      if (data != nullptr)
        std::memcpy(p[i], data + (i == 0 ? 0 : n[0]), n[i]);
      else
        std::memset(p[i], silence, n[i]);
    }
    buffer_->Unlock(p[0], n[0], p[1], n[1]);
  }
  void Silence(uint32_t at, uint32_t bytes) { Write(at, nullptr, bytes); }

  void ReleaseBuffer() {
    if (buffer_ != nullptr) {
      buffer_->Release();
      buffer_ = nullptr;
    }
    placed_ = false;
  }

  WaveFormatEx format_{};
  DirectSoundBuffer* buffer_ = nullptr;
  uint32_t ring_bytes_ = 0;
  bool placed_ = false;         // next_ and next_time_ hold
  uint32_t next_ = 0;           // ring offset after the last sample written
  ReferenceTime next_time_ = 0;  // the stream time there
  uint32_t last_bytes_ = 0;     // the last sample's size
  uint32_t queued_ = 0;         // untimed samples: bytes ahead of the cursor,
  uint32_t queue_cursor_ = 0;   // the cursor when last looked at,
  uint32_t queue_end_ = 0;      // and where the next one goes
  std::atomic<int32_t> volume_{0};
};

}  // namespace

void SetMediaAudioDevice(DirectSound* device) { g_device = device; }

int64_t MediaAudioRingsFilled() { return g_rings_filled.load(); }

HResult CreateAudioRenderer(IBaseFilter** filter) {
  HResult r = kS_OK;
  auto* f = new (std::nothrow) AudioRenderer(&r);
  if (f == nullptr) return kE_OUTOFMEMORY;
  f->NonDelegatingAddRef();
  if (Succeeded(r)) r = GetInterface(static_cast<IBaseFilter*>(f), reinterpret_cast<void**>(filter));
  f->NonDelegatingRelease();
  return r;
}


}  // namespace plat
