// platform/media/audio_renderer.cpp - the audio renderer: PCM samples on the
// graph's clock into a streaming buffer of the library's sound device, so
// they are heard through its mixer. Without a device set the samples are
// consumed in silence at their times.
#include <atomic>
#include <cstring>

#include "platform/audio/dsound.h"
#include "platform/media/base_classes.h"
#include "platform/media/graph.h"

namespace plat {

namespace {

constexpr Guid kCLSID_AudioRenderer = {0x52524D03, 0x0004, 0x4D45, {0x44, 0x49, 0x41, 0x41, 0x52, 0x45, 0x00, 0x01}};

std::atomic<DirectSound*> g_device{nullptr};

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
    WriteRing(data, static_cast<uint32_t>(sample->GetActualDataLength()));
    return kS_OK;
  }

  void OnStopStreaming() override {
    if (buffer_ != nullptr) buffer_->Stop();
    ReleaseBuffer();
  }

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
  // Half a second of ring, played looping; samples are written behind the
  // play cursor as they come due.
  bool MakeBuffer(DirectSound* device) {
    ring_bytes_ = format_.avg_bytes_per_sec / 2;
    ring_bytes_ -= ring_bytes_ % format_.block_align;
    if (ring_bytes_ == 0) return false;
    DsBufferDesc desc{};
    desc.size = sizeof(desc);
    desc.flags = kDSBCAPS_CTRLVOLUME | kDSBCAPS_GETCURRENTPOSITION2 | kDSBCAPS_GLOBALFOCUS;
    desc.buffer_bytes = ring_bytes_;
    desc.format = &format_;
    if (Failed(device->CreateSoundBuffer(&desc, &buffer_, nullptr)) || buffer_ == nullptr) {
      buffer_ = nullptr;
      return false;
    }
    buffer_->SetVolume(volume_.load());
    write_ = 0;
    buffer_->Play(0, 0, kDSBPLAY_LOOPING);
    return true;
  }

  void WriteRing(const uint8_t* data, uint32_t bytes) {
    while (bytes > 0) {
      const uint32_t n = bytes < ring_bytes_ ? bytes : ring_bytes_;
      void* p1 = nullptr;
      void* p2 = nullptr;
      uint32_t n1 = 0, n2 = 0;
      if (Failed(buffer_->Lock(write_, n, &p1, &n1, &p2, &n2, 0))) return;
      std::memcpy(p1, data, n1);
      if (p2 != nullptr && n2 > 0) std::memcpy(p2, data + n1, n2);
      buffer_->Unlock(p1, n1, p2, n2);
      write_ = (write_ + n) % ring_bytes_;
      data += n;
      bytes -= n;
    }
  }

  void ReleaseBuffer() {
    if (buffer_ != nullptr) {
      buffer_->Release();
      buffer_ = nullptr;
    }
  }

  WaveFormatEx format_{};
  DirectSoundBuffer* buffer_ = nullptr;
  uint32_t ring_bytes_ = 0;
  uint32_t write_ = 0;
  std::atomic<int32_t> volume_{0};
};

}  // namespace

void SetMediaAudioDevice(DirectSound* device) { g_device = device; }

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
