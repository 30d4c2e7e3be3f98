// platform/audio/dsound.cpp - the sound device: buffers, cursors, the mixer and the
// null output with its manual clock.
#include "platform/audio/dsound.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/window/backend.h"
#include "platform/audio/dsound_internal.h"

namespace plat {

const Guid kCLSID_DirectSound = {0x52f1c0a1, 0x7e3d, 0x4c55, {0x9a, 0x11, 0x21, 0x6b, 0x0d, 0x33, 0x80, 0x01}};
const Guid kIID_IDirectSound = {0x52f1c0a2, 0x7e3d, 0x4c55, {0x9a, 0x11, 0x21, 0x6b, 0x0d, 0x33, 0x80, 0x02}};
const Guid kIID_IDirectSound8 = {0x52f1c0a3, 0x7e3d, 0x4c55, {0x9a, 0x11, 0x21, 0x6b, 0x0d, 0x33, 0x80, 0x03}};
namespace {
const Guid kDefaultDeviceGuid = {0x52f1c0a4, 0x7e3d, 0x4c55, {0x9a, 0x11, 0x21, 0x6b, 0x0d, 0x33, 0x80, 0x04}};
}  // namespace

struct SoundBufferState {
  AudioDevice* device = nullptr;
  DirectSoundBuffer* iface = nullptr;
  std::atomic<uint32_t> refs{1};
  bool primary = false;
  uint32_t flags = 0;
  WaveFormatEx format{};
  std::shared_ptr<std::vector<uint8_t>> data;
  uint32_t size = 0;    // bytes
  uint32_t frames = 0;  // whole blocks in the buffer
  bool playing = false;
  bool looping = false;
  uint64_t pos = 0;  // frames, 32.32 fixed point
  int32_t volume = 0;
  int32_t pan = 0;
  uint32_t frequency = 0;  // 0 = the format's own rate
  float gain_left = 1.0f;
  float gain_right = 1.0f;
  int lock_depth = 0;  // holds of the device mutex taken by Lock
};

namespace {

// ---- Device registry and faults ---------------------------------------------

std::mutex g_registry_mutex;
std::vector<AudioDevice*> g_devices;  // initialised devices
std::atomic<int> g_output_choice{static_cast<int>(AudioOutput::kDefault)};

std::mutex g_fault_mutex;
DsoundFaults g_faults;

bool TakeFault(bool DsoundFaults::*flag) {
  std::lock_guard<std::mutex> lock(g_fault_mutex);
  return g_faults.*flag;
}

bool TakeCreateBufferFault() {
  std::lock_guard<std::mutex> lock(g_fault_mutex);
  if (g_faults.create_buffer_fail_at <= 0) return false;
  if (--g_faults.create_buffer_fail_at == 0) return true;
  return false;
}

// Device records are shared by the device object and its buffers.
struct DeviceHolder {
  AudioDevice device;
  std::atomic<int> refs{1};
  bool open = false;
};

DeviceHolder* HolderOf(AudioDevice* device) {
  return reinterpret_cast<DeviceHolder*>(reinterpret_cast<char*>(device) - offsetof(DeviceHolder, device));
}

void DeviceAddRef(AudioDevice* device) { HolderOf(device)->refs.fetch_add(1); }

void DeviceRelease(AudioDevice* device) {
  DeviceHolder* holder = HolderOf(device);
  if (holder->refs.fetch_sub(1) != 1) return;
  if (holder->open) {
    {
      std::lock_guard<std::mutex> lock(g_registry_mutex);
      g_devices.erase(std::remove(g_devices.begin(), g_devices.end(), device), g_devices.end());
    }
    if (device->output == AudioOutput::kSdl) SdlAudioClose(device);
  }
  delete holder;
}

// ---- Volume and pan -------------------------------------------------------------

float Attenuation(int32_t hundredths_db) {
  if (hundredths_db <= kDSBVOLUME_MIN) return 0.0f;
  if (hundredths_db >= 0) return 1.0f;
  return static_cast<float>(std::pow(10.0, hundredths_db / 2000.0));
}

void UpdateGains(SoundBufferState* b) {
  float volume = Attenuation(b->volume);
  float left = volume, right = volume;
  if (b->pan > 0) left *= Attenuation(-b->pan);
  if (b->pan < 0) right *= Attenuation(b->pan);
  b->gain_left = left;
  b->gain_right = right;
}

bool ValidPcmFormat(const WaveFormatEx* f) {
  if (f == nullptr || f->format_tag != kWaveFormatPcm) return false;
  if (f->channels != 1 && f->channels != 2) return false;
  if (f->bits_per_sample != 8 && f->bits_per_sample != 16) return false;
  if (f->block_align != f->channels * f->bits_per_sample / 8) return false;
  if (f->samples_per_sec < kDSBFREQUENCY_MIN || f->samples_per_sec > kDSBFREQUENCY_MAX) return false;
  return true;
}

uint32_t BufferRate(const SoundBufferState* b) {
  return b->frequency != 0 ? b->frequency : b->format.samples_per_sec;
}

// ---- Mixer ------------------------------------------------------------------------

template <int kBits, int kChannels>
inline void FetchFrame(const uint8_t* data, uint32_t frame, float* left, float* right) {
  if constexpr (kBits == 16) {
    const uint8_t* p = data + static_cast<size_t>(frame) * 2 * kChannels;
    int16_t l;
    std::memcpy(&l, p, 2);
    *left = l;
    if constexpr (kChannels == 2) {
      int16_t r;
      std::memcpy(&r, p + 2, 2);
      *right = r;
    } else {
      *right = l;
    }
  } else {
    const uint8_t* p = data + static_cast<size_t>(frame) * kChannels;
    *left = static_cast<float>((static_cast<int>(p[0]) - 128) * 256);
    *right = kChannels == 2 ? static_cast<float>((static_cast<int>(p[1]) - 128) * 256) : *left;
  }
}

// Silences the frames from `from` up to `to` (wrapping), or the whole
// buffer when `advance` (32.32 frames) took a lap or more. The frame at `to`
// is still to be played, and the interpolation reads it.
void SilencePlayed(SoundBufferState* b, uint32_t from, uint32_t to, uint64_t advance) {
  uint8_t* data = b->data->data();
  const uint8_t silence = b->format.bits_per_sample == 8 ? 0x80 : 0;
  const uint32_t block = b->format.block_align;
  if ((advance >> 32) >= b->frames) {
    std::memset(data, silence, static_cast<size_t>(b->frames) * block);
    return;
  }
  if (to >= from) {
    std::memset(data + static_cast<size_t>(from) * block, silence, static_cast<size_t>(to - from) * block);
    return;
  }
  std::memset(data + static_cast<size_t>(from) * block, silence, static_cast<size_t>(b->frames - from) * block);
  std::memset(data, silence, static_cast<size_t>(to) * block);
}

template <int kBits, int kChannels>
void MixBuffer(SoundBufferState* b, float* acc, uint32_t frames, uint32_t out_rate) {
  const uint8_t* data = b->data->data();
  const uint32_t count = b->frames;
  const uint64_t end = static_cast<uint64_t>(count) << 32;
  const uint64_t step = (static_cast<uint64_t>(BufferRate(b)) << 32) / out_rate;
  const float gl = b->gain_left, gr = b->gain_right;
  const bool looping = b->looping;
  uint64_t pos = b->pos;
  for (uint32_t i = 0; i < frames; ++i) {
    uint32_t index = static_cast<uint32_t>(pos >> 32);
    float frac = static_cast<float>(static_cast<uint32_t>(pos)) * (1.0f / 4294967296.0f);
    uint32_t next = index + 1;
    if (next >= count) next = looping ? 0 : index;
    float l0, r0, l1, r1;
    FetchFrame<kBits, kChannels>(data, index, &l0, &r0);
    FetchFrame<kBits, kChannels>(data, next, &l1, &r1);
    acc[2 * i] += (l0 + (l1 - l0) * frac) * gl;
    acc[2 * i + 1] += (r0 + (r1 - r0) * frac) * gr;
    pos += step;
    if (pos >= end) {
      if (looping) {
        pos %= end;
      } else {
        // A one-shot buffer that reaches its end stops and rewinds.
        b->playing = false;
        pos = 0;
        break;
      }
    }
  }
  if (b->flags & kDSBCAPS_SILENCEPLAYED)
    SilencePlayed(b, static_cast<uint32_t>(b->pos >> 32), static_cast<uint32_t>(pos >> 32),
                  static_cast<uint64_t>(frames) * step);
  b->pos = pos;
}

void MixOne(SoundBufferState* b, float* acc, uint32_t frames, uint32_t out_rate);

// A buffer that silences what it plays is mixed in pieces of less than a
// lap, so that a long mix does not read a frame a second time before it is
// silenced.
void MixSilencing(SoundBufferState* b, float* acc, uint32_t frames, uint32_t out_rate) {
  const uint64_t half_lap = static_cast<uint64_t>(b->frames) * out_rate / BufferRate(b) / 2;
  const uint32_t piece = static_cast<uint32_t>(std::clamp<uint64_t>(half_lap, 1, frames));
  for (uint32_t done = 0; done < frames && b->playing; done += piece)
    MixOne(b, acc + static_cast<size_t>(done) * 2, std::min(piece, frames - done), out_rate);
}

void MixOne(SoundBufferState* b, float* acc, uint32_t frames, uint32_t out_rate) {
  const bool stereo = b->format.channels == 2;
  if (b->format.bits_per_sample == 16) {
    stereo ? MixBuffer<16, 2>(b, acc, frames, out_rate) : MixBuffer<16, 1>(b, acc, frames, out_rate);
  } else {
    stereo ? MixBuffer<8, 2>(b, acc, frames, out_rate) : MixBuffer<8, 1>(b, acc, frames, out_rate);
  }
}

uint32_t WriteLeadBytes(const SoundBufferState* b) {
  const AudioDevice* device = b->device;
  if (device->chunk_frames == 0 || device->rate == 0) return 0;
  uint64_t frames = static_cast<uint64_t>(device->chunk_frames) * BufferRate(b) / device->rate;
  return static_cast<uint32_t>((frames % b->frames) * b->format.block_align);
}

}  // namespace

void MixDeviceLocked(AudioDevice* device, int16_t* out, uint32_t frames) {
  if (frames == 0) return;
  if (device->scratch.size() < static_cast<size_t>(frames) * 2) device->scratch.resize(static_cast<size_t>(frames) * 2);
  float* acc = device->scratch.data();
  std::fill(acc, acc + static_cast<size_t>(frames) * 2, 0.0f);
  for (SoundBufferState* b : device->buffers) {
    if (b->primary || !b->playing || b->frames == 0) continue;
    if (b->flags & kDSBCAPS_SILENCEPLAYED)
      MixSilencing(b, acc, frames, device->rate);
    else
      MixOne(b, acc, frames, device->rate);
  }
  if (out == nullptr) return;
  for (size_t i = 0; i < static_cast<size_t>(frames) * 2; ++i) {
    float v = std::nearbyint(acc[i]);
    if (v > 32767.0f) v = 32767.0f;
    if (v < -32768.0f) v = -32768.0f;
    out[i] = static_cast<int16_t>(v);
  }
}

// ---- DirectSoundBuffer --------------------------------------------------------------

uint32_t DirectSoundBuffer::AddRef() { return state_->refs.fetch_add(1) + 1; }

uint32_t DirectSoundBuffer::Release() {
  uint32_t left = state_->refs.fetch_sub(1) - 1;
  if (left != 0) return left;
  AudioDevice* device = state_->device;
  {
    std::lock_guard<std::recursive_mutex> lock(device->mutex);
    auto& list = device->buffers;
    list.erase(std::remove(list.begin(), list.end(), state_), list.end());
    // A buffer released while locked gives back its holds of the device.
    while (state_->lock_depth > 0) {
      --state_->lock_depth;
      device->mutex.unlock();
    }
  }
  delete state_;
  delete this;
  DeviceRelease(device);
  return 0;
}

HResult DirectSoundBuffer::Play(uint32_t reserved, uint32_t priority, uint32_t flags) {
  std::lock_guard<std::recursive_mutex> lock(state_->device->mutex);
  state_->playing = true;
  state_->looping = (flags & kDSBPLAY_LOOPING) != 0;
  return kDS_OK;
}

HResult DirectSoundBuffer::Stop() {
  std::lock_guard<std::recursive_mutex> lock(state_->device->mutex);
  state_->playing = false;
  return kDS_OK;
}

HResult DirectSoundBuffer::GetCurrentPosition(uint32_t* play, uint32_t* write) {
  std::lock_guard<std::recursive_mutex> lock(state_->device->mutex);
  if (state_->primary) {
    if (play) *play = 0;
    if (write) *write = 0;
    return kDS_OK;
  }
  uint32_t p = static_cast<uint32_t>(state_->pos >> 32) * state_->format.block_align;
  uint32_t w = p;
  if (state_->playing) w = (p + WriteLeadBytes(state_)) % state_->size;
  if (play) *play = p;
  if (write) *write = w;
  return kDS_OK;
}

HResult DirectSoundBuffer::SetCurrentPosition(uint32_t position) {
  std::lock_guard<std::recursive_mutex> lock(state_->device->mutex);
  if (state_->primary) return kDSERR_INVALIDCALL;
  if (position >= state_->size) return kDSERR_INVALIDPARAM;
  uint32_t frame = position / state_->format.block_align;
  if (frame >= state_->frames) frame = 0;
  state_->pos = static_cast<uint64_t>(frame) << 32;
  return kDS_OK;
}

HResult DirectSoundBuffer::Lock(uint32_t offset, uint32_t bytes, void** piece1, uint32_t* bytes1,
                                void** piece2, uint32_t* bytes2, uint32_t flags) {
  if (piece1 == nullptr || bytes1 == nullptr) return kDSERR_INVALIDPARAM;
  AudioDevice* device = state_->device;
  device->mutex.lock();
  auto fail = [&](HResult result) {
    device->mutex.unlock();
    *piece1 = nullptr;
    *bytes1 = 0;
    if (piece2) *piece2 = nullptr;
    if (bytes2) *bytes2 = 0;
    return result;
  };
  if (state_->primary) return fail(kDSERR_PRIOLEVELNEEDED);
  if (TakeFault(&DsoundFaults::fail_lock)) return fail(kDSERR_INVALIDCALL);
  if (flags & kDSBLOCK_ENTIREBUFFER) {
    offset = 0;
    bytes = state_->size;
  } else if (flags & kDSBLOCK_FROMWRITECURSOR) {
    uint32_t p = static_cast<uint32_t>(state_->pos >> 32) * state_->format.block_align;
    offset = state_->playing ? (p + WriteLeadBytes(state_)) % state_->size : p;
  }
  if (bytes == 0 || bytes > state_->size || offset >= state_->size) return fail(kDSERR_INVALIDPARAM);
  uint8_t* base = state_->data->data();
  uint32_t first = std::min(bytes, state_->size - offset);
  uint32_t second = bytes - first;
  if (second != 0 && (piece2 == nullptr || bytes2 == nullptr)) return fail(kDSERR_INVALIDPARAM);
  *piece1 = base + offset;
  *bytes1 = first;
  if (piece2) *piece2 = second ? base : nullptr;
  if (bytes2) *bytes2 = second;
  ++state_->lock_depth;  // the device mutex stays held until Unlock
  return kDS_OK;
}

HResult DirectSoundBuffer::Unlock(void* piece1, uint32_t bytes1, void* piece2, uint32_t bytes2) {
  AudioDevice* device = state_->device;
  std::lock_guard<std::recursive_mutex> lock(device->mutex);
  if (state_->lock_depth == 0) return kDSERR_INVALIDCALL;
  --state_->lock_depth;
  device->mutex.unlock();
  const uint8_t* base = state_->data->data();
  const uint8_t* p1 = static_cast<const uint8_t*>(piece1);
  if (p1 < base || p1 > base + state_->size || bytes1 > static_cast<size_t>(base + state_->size - p1))
    return kDSERR_INVALIDPARAM;
  if (piece2 != nullptr && (piece2 != base || bytes2 > state_->size)) return kDSERR_INVALIDPARAM;
  return kDS_OK;
}

HResult DirectSoundBuffer::SetVolume(int32_t volume) {
  std::lock_guard<std::recursive_mutex> lock(state_->device->mutex);
  if (!state_->primary && !(state_->flags & kDSBCAPS_CTRLVOLUME)) return kDSERR_CONTROLUNAVAIL;
  if (volume < kDSBVOLUME_MIN || volume > kDSBVOLUME_MAX) return kDSERR_INVALIDPARAM;
  state_->volume = volume;
  UpdateGains(state_);
  return kDS_OK;
}

HResult DirectSoundBuffer::GetVolume(int32_t* volume) {
  if (volume == nullptr) return kDSERR_INVALIDPARAM;
  std::lock_guard<std::recursive_mutex> lock(state_->device->mutex);
  if (!state_->primary && !(state_->flags & kDSBCAPS_CTRLVOLUME)) return kDSERR_CONTROLUNAVAIL;
  *volume = state_->volume;
  return kDS_OK;
}

HResult DirectSoundBuffer::SetPan(int32_t pan) {
  std::lock_guard<std::recursive_mutex> lock(state_->device->mutex);
  if (!state_->primary && !(state_->flags & kDSBCAPS_CTRLPAN)) return kDSERR_CONTROLUNAVAIL;
  if (pan < kDSBPAN_LEFT || pan > kDSBPAN_RIGHT) return kDSERR_INVALIDPARAM;
  state_->pan = pan;
  UpdateGains(state_);
  return kDS_OK;
}

HResult DirectSoundBuffer::GetPan(int32_t* pan) {
  if (pan == nullptr) return kDSERR_INVALIDPARAM;
  std::lock_guard<std::recursive_mutex> lock(state_->device->mutex);
  if (!state_->primary && !(state_->flags & kDSBCAPS_CTRLPAN)) return kDSERR_CONTROLUNAVAIL;
  *pan = state_->pan;
  return kDS_OK;
}

HResult DirectSoundBuffer::SetFrequency(uint32_t frequency) {
  std::lock_guard<std::recursive_mutex> lock(state_->device->mutex);
  if (state_->primary || !(state_->flags & kDSBCAPS_CTRLFREQUENCY)) return kDSERR_CONTROLUNAVAIL;
  if (frequency != kDSBFREQUENCY_ORIGINAL && (frequency < kDSBFREQUENCY_MIN || frequency > kDSBFREQUENCY_MAX))
    return kDSERR_INVALIDPARAM;
  state_->frequency = frequency;
  return kDS_OK;
}

HResult DirectSoundBuffer::GetFrequency(uint32_t* frequency) {
  if (frequency == nullptr) return kDSERR_INVALIDPARAM;
  std::lock_guard<std::recursive_mutex> lock(state_->device->mutex);
  if (state_->primary || !(state_->flags & kDSBCAPS_CTRLFREQUENCY)) return kDSERR_CONTROLUNAVAIL;
  *frequency = BufferRate(state_);
  return kDS_OK;
}

HResult DirectSoundBuffer::GetStatus(uint32_t* status) {
  if (status == nullptr) return kDSERR_INVALIDPARAM;
  std::lock_guard<std::recursive_mutex> lock(state_->device->mutex);
  uint32_t s = 0;
  if (state_->playing) s |= kDSBSTATUS_PLAYING | (state_->looping ? kDSBSTATUS_LOOPING : 0);
  *status = s;
  return kDS_OK;
}

HResult DirectSoundBuffer::SetFormat(const WaveFormatEx* format) {
  std::lock_guard<std::recursive_mutex> lock(state_->device->mutex);
  if (!state_->primary) return kDSERR_INVALIDCALL;
  if (TakeFault(&DsoundFaults::fail_set_format)) return kDSERR_BADFORMAT;
  if (!ValidPcmFormat(format)) return kDSERR_BADFORMAT;
  // The mixer keeps its own output rate; the output resamples for the device.
  state_->format = *format;
  return kDS_OK;
}

HResult DirectSoundBuffer::GetFormat(WaveFormatEx* format) {
  if (format == nullptr) return kDSERR_INVALIDPARAM;
  std::lock_guard<std::recursive_mutex> lock(state_->device->mutex);
  *format = state_->format;
  return kDS_OK;
}

// ---- DirectSound ---------------------------------------------------------------------

DirectSound::DirectSound() = default;

DirectSound::~DirectSound() {
  if (device_ != nullptr) DeviceRelease(device_);
}

uint32_t DirectSound::AddRef() { return ++refs_; }

uint32_t DirectSound::Release() {
  uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

HResult DirectSound::Initialize(const Guid* device) {
  if (initialized_) return kDSERR_ALREADYINITIALIZED;
  if (device != nullptr && !(*device == kDefaultDeviceGuid)) return kDSERR_NODRIVER;
  if (TakeFault(&DsoundFaults::fail_initialize)) return kDSERR_NODRIVER;
  auto* holder = new (std::nothrow) DeviceHolder;
  if (holder == nullptr) return kDSERR_OUTOFMEMORY;
  AudioDevice* d = &holder->device;
  AudioOutput choice = static_cast<AudioOutput>(g_output_choice.load());
  if (choice == AudioOutput::kDefault) choice = IsHeadless() ? AudioOutput::kNull : AudioOutput::kSdl;
  d->output = choice;
  if (choice == AudioOutput::kSdl) {
    if (!SdlAudioOpen(d)) {
      delete holder;
      return kDSERR_NODRIVER;
    }
    d->name = "SDL audio output";
  } else {
    d->rate = 44100;
    d->chunk_frames = 0;
    d->name = "Null audio output";
  }
  holder->open = true;
  {
    std::lock_guard<std::mutex> lock(g_registry_mutex);
    g_devices.push_back(d);
  }
  device_ = d;
  initialized_ = true;
  return kDS_OK;
}

HResult DirectSound::SetCooperativeLevel(void* window, uint32_t level) {
  if (!initialized_) return kDSERR_UNINITIALIZED;
  if (TakeFault(&DsoundFaults::fail_cooperative_level)) return kDSERR_INVALIDPARAM;
  if (level < kDSSCL_NORMAL || level > kDSSCL_WRITEPRIMARY) return kDSERR_INVALIDPARAM;
  cooperative_level_ = level;
  return kDS_OK;
}

HResult DirectSound::CreateSoundBuffer(const DsBufferDesc* desc, DirectSoundBuffer** out, void* outer) {
  if (out == nullptr) return kDSERR_INVALIDPARAM;
  *out = nullptr;
  if (outer != nullptr) return kCLASS_E_NOAGGREGATION;
  if (desc == nullptr) return kDSERR_INVALIDPARAM;
  if (!initialized_) return kDSERR_UNINITIALIZED;
  if (cooperative_level_ == 0) return kDSERR_PRIOLEVELNEEDED;
  if (TakeCreateBufferFault()) return kDSERR_OUTOFMEMORY;
  auto* state = new (std::nothrow) SoundBufferState;
  if (state == nullptr) return kDSERR_OUTOFMEMORY;
  state->device = device_;
  state->flags = desc->flags;
  if (desc->flags & kDSBCAPS_PRIMARYBUFFER) {
    if (desc->buffer_bytes != 0 || desc->format != nullptr) {
      delete state;
      return kDSERR_INVALIDPARAM;
    }
    state->primary = true;
    state->format = {kWaveFormatPcm, 2, 22050, 88200, 4, 16, 0};
  } else {
    if (!ValidPcmFormat(desc->format)) {
      delete state;
      return kDSERR_BADFORMAT;
    }
    if (desc->buffer_bytes < kDSBSIZE_MIN || desc->buffer_bytes > kDSBSIZE_MAX ||
        desc->buffer_bytes < desc->format->block_align) {
      delete state;
      return kDSERR_INVALIDPARAM;
    }
    state->format = *desc->format;
    state->format.extra_size = 0;
    try {
      state->data = std::make_shared<std::vector<uint8_t>>(desc->buffer_bytes, 0);
    } catch (const std::bad_alloc&) {
      delete state;
      return kDSERR_OUTOFMEMORY;
    }
    state->size = desc->buffer_bytes;
    state->frames = desc->buffer_bytes / desc->format->block_align;
  }
  auto* buffer = new (std::nothrow) DirectSoundBuffer(state);
  if (buffer == nullptr) {
    delete state;
    return kDSERR_OUTOFMEMORY;
  }
  state->iface = buffer;
  UpdateGains(state);
  DeviceAddRef(device_);
  {
    std::lock_guard<std::recursive_mutex> lock(device_->mutex);
    device_->buffers.push_back(state);
  }
  *out = buffer;
  return kDS_OK;
}

HResult DirectSound::DuplicateSoundBuffer(DirectSoundBuffer* original, DirectSoundBuffer** out) {
  if (out == nullptr) return kDSERR_INVALIDPARAM;
  *out = nullptr;
  if (original == nullptr) return kDSERR_INVALIDPARAM;
  if (!initialized_) return kDSERR_UNINITIALIZED;
  SoundBufferState* source = original->state();
  if (source->primary || source->device != device_) return kDSERR_INVALIDCALL;
  if (TakeCreateBufferFault()) return kDSERR_OUTOFMEMORY;
  auto* state = new (std::nothrow) SoundBufferState;
  if (state == nullptr) return kDSERR_OUTOFMEMORY;
  auto* buffer = new (std::nothrow) DirectSoundBuffer(state);
  if (buffer == nullptr) {
    delete state;
    return kDSERR_OUTOFMEMORY;
  }
  {
    std::lock_guard<std::recursive_mutex> lock(device_->mutex);
    state->device = device_;
    state->iface = buffer;
    state->flags = source->flags;
    state->format = source->format;
    state->data = source->data;
    state->size = source->size;
    state->frames = source->frames;
    state->volume = source->volume;
    state->pan = source->pan;
    state->frequency = source->frequency;
    UpdateGains(state);
    device_->buffers.push_back(state);
  }
  DeviceAddRef(device_);
  *out = buffer;
  return kDS_OK;
}

HResult DirectSound::GetCaps(DsCaps* caps) {
  if (caps == nullptr) return kDSERR_INVALIDPARAM;
  if (!initialized_) return kDSERR_UNINITIALIZED;
  uint32_t size = caps->size;
  std::memset(caps, 0, sizeof(*caps));
  caps->size = size;
  caps->flags = kDSCAPS_PRIMARYMONO | kDSCAPS_PRIMARYSTEREO | kDSCAPS_PRIMARY8BIT | kDSCAPS_PRIMARY16BIT |
                kDSCAPS_CONTINUOUSRATE | kDSCAPS_EMULDRIVER | kDSCAPS_SECONDARYMONO | kDSCAPS_SECONDARYSTEREO |
                kDSCAPS_SECONDARY8BIT | kDSCAPS_SECONDARY16BIT;
  caps->min_secondary_sample_rate = kDSBFREQUENCY_MIN;
  caps->max_secondary_sample_rate = kDSBFREQUENCY_MAX;
  caps->primary_buffers = 1;
  return kDS_OK;
}

HResult CreateDirectSoundObject(DirectSound** out) {
  if (out == nullptr) return kE_POINTER;
  *out = new (std::nothrow) DirectSound;
  return *out != nullptr ? kS_OK : kE_OUTOFMEMORY;
}

// ---- Enumeration ------------------------------------------------------------------------

namespace {
HResult EnumerateDevices(DsEnumCallback callback, void* context) {
  if (callback == nullptr) return kDSERR_INVALIDPARAM;
  if (!callback(nullptr, "Primary Sound Driver", "", context)) return kDS_OK;
  AudioOutput choice = static_cast<AudioOutput>(g_output_choice.load());
  if (choice == AudioOutput::kDefault) choice = IsHeadless() ? AudioOutput::kNull : AudioOutput::kSdl;
  if (choice == AudioOutput::kSdl)
    callback(&kDefaultDeviceGuid, "SDL audio output", "sdl", context);
  else
    callback(&kDefaultDeviceGuid, "Null audio output", "null", context);
  return kDS_OK;
}
}  // namespace

DirectSoundEnumerateFn GetDirectSoundEnumerate() {
  if (TakeFault(&DsoundFaults::no_driver_library)) return nullptr;
  return &EnumerateDevices;
}

// ---- Output selection and test hooks -----------------------------------------------------

void SetAudioOutput(AudioOutput output) { g_output_choice.store(static_cast<int>(output)); }

int NullAudioRender(int16_t* out, uint32_t frames) {
  std::lock_guard<std::mutex> registry(g_registry_mutex);
  int rendered = 0;
  for (AudioDevice* device : g_devices) {
    if (device->output != AudioOutput::kNull) continue;
    std::lock_guard<std::recursive_mutex> lock(device->mutex);
    // Only the first null device's samples go out; the others just move on.
    MixDeviceLocked(device, rendered == 0 ? out : nullptr, frames);
    ++rendered;
  }
  if (rendered == 0 && out != nullptr) std::memset(out, 0, static_cast<size_t>(frames) * 4);
  return rendered;
}

uint32_t NullAudioRate() { return 44100; }

bool MixDeviceForTest(DirectSound* sound, int16_t* out, uint32_t frames) {
  if (sound == nullptr || sound->device_ == nullptr) return false;
  std::lock_guard<std::recursive_mutex> lock(sound->device_->mutex);
  MixDeviceLocked(sound->device_, out, frames);
  return true;
}

void SetDsoundFaults(const DsoundFaults& faults) {
  std::lock_guard<std::mutex> lock(g_fault_mutex);
  g_faults = faults;
}

void ClearDsoundFaults() {
  std::lock_guard<std::mutex> lock(g_fault_mutex);
  g_faults = DsoundFaults{};
}

HResult CreateDirectSoundInstance(void* outer, const Guid& iid, void** out) {
  if (out == nullptr) return kE_POINTER;
  *out = nullptr;
  if (TakeFault(&DsoundFaults::fail_create_object)) return kREGDB_E_CLASSNOTREG;
  if (outer != nullptr) return kCLASS_E_NOAGGREGATION;
  if (!(iid == kIID_IDirectSound) && !(iid == kIID_IDirectSound8)) return kE_NOINTERFACE;
  DirectSound* sound = nullptr;
  HResult result = CreateDirectSoundObject(&sound);
  if (result < 0) return result;
  *out = sound;
  return kS_OK;
}

}  // namespace plat
