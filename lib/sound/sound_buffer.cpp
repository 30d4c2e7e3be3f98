// lib/sound/sound_buffer.cpp - the one road from the sound code to a sound
// buffer: the device's buffer, or, in the software buffer mode, a sample block
// of the library's own that keeps the same state.
#include <cmath>
#include <cstring>

#include "lib/core/memory.h"
#include "lib/sound/sound_internal.h"

namespace {

bool Software() { return SoftwareSoundBufferMode != 0; }

void SoftwareInit(SoundBuffer* b, const plat::WaveFormatEx& format, int32_t length) {
  b->playing = 0;
  b->position = 0;
  b->looping = 0;
  b->pan_factor = 0;
  b->volume_factor = 255;
  b->frequency = -1;
  b->length = length;
  b->format = format;
}

}  // namespace

int SoundBufCreate(SoundBuffer* b, const plat::DsBufferDesc* desc) {
  if (b->made) return -1;
  if (Software()) {
    if (desc->format == nullptr || desc->format->block_align == 0) return -1;
    b->samples = static_cast<uint8_t*>(TrackedAlloc(desc->buffer_bytes, "", 0));
    if (b->samples == nullptr) return -1;
    SoftwareInit(b, *desc->format, static_cast<int32_t>(desc->buffer_bytes / desc->format->block_align));
  } else {
    if (g_sound.direct_sound == nullptr) return -1;
    if (g_sound.direct_sound->CreateSoundBuffer(desc, &b->buffer, nullptr) != 0) {
      b->buffer = nullptr;
      return -1;
    }
    if (desc->format != nullptr) b->format = *desc->format;
  }
  b->made = 1;
  return 0;
}

int SoundBufDuplicate(SoundBuffer* b, SoundBuffer* source) {
  if (b->made || !source->made) return -1;
  if (Software()) {
    size_t bytes = static_cast<size_t>(source->format.block_align) * static_cast<size_t>(source->length);
    b->samples = static_cast<uint8_t*>(TrackedAlloc(bytes, "", 0));
    if (b->samples == nullptr) return -1;
    SoftwareInit(b, source->format, source->length);
  } else {
    if (g_sound.direct_sound->DuplicateSoundBuffer(source->buffer, &b->buffer) != 0) {
      b->buffer = nullptr;
      return -1;
    }
    b->format = source->format;
  }
  b->made = 1;
  return 0;
}

int SoundBufRelease(SoundBuffer* b) {
  if (!b->made) return -1;
  if (Software()) {
    TrackedFree(b->samples);
    b->samples = nullptr;
  } else {
    b->buffer->Release();
    b->buffer = nullptr;
  }
  b->made = 0;
  return 0;
}

int SoundBufPlay(SoundBuffer* b, int loop) {
  if (!b->made) return -1;
  if (Software()) {
    b->playing = 1;
    b->looping = loop;
    return 0;
  }
  return b->buffer->Play(0, 0, loop ? plat::kDSBPLAY_LOOPING : 0) != 0 ? -1 : 0;
}

int SoundBufStop(SoundBuffer* b) {
  if (!b->made) return -1;
  if (Software())
    b->playing = 0;
  else
    b->buffer->Stop();
  return 0;
}

int GetSoundBufferStatus(SoundBuffer* b, uint32_t* status) {
  if (!b->made) return -1;
  if (Software()) {
    if (status) *status = b->playing ? 1 : 0;
    return 0;
  }
  uint32_t s = 0;
  if (b->buffer->GetStatus(&s) != 0) return -1;
  if (status) *status = s;
  return 0;
}

int SoundBufLock(SoundBuffer* b, uint32_t offset, uint32_t length, SoundBufferPieces* pieces) {
  if (!b->made) return -1;
  if (Software()) {
    uint32_t block = b->format.block_align;
    uint32_t start = offset / block;
    uint32_t count = length / block;
    if (start >= static_cast<uint32_t>(b->length) || count > static_cast<uint32_t>(b->length)) return -1;
    if (start + count <= static_cast<uint32_t>(b->length)) {
      pieces->piece1 = b->samples + offset;
      pieces->bytes1 = length;
      pieces->piece2 = nullptr;
      pieces->bytes2 = 0;
    } else {
      pieces->piece1 = b->samples + offset;
      pieces->bytes1 = (b->length - start) * block;
      pieces->piece2 = b->samples;
      pieces->bytes2 = (count - (b->length - start)) * block;
    }
    return 0;
  }
  void *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  if (b->buffer->Lock(offset, length, &p1, &n1, &p2, &n2, 0) != 0) return -1;
  pieces->piece1 = p1;
  pieces->bytes1 = n1;
  pieces->piece2 = p2;
  pieces->bytes2 = n2;
  return 0;
}

int SoundBufUnlock(SoundBuffer* b, const SoundBufferPieces* pieces) {
  if (!b->made) return -1;
  if (Software()) return 0;
  return b->buffer->Unlock(pieces->piece1, pieces->bytes1, pieces->piece2, pieces->bytes2) != 0 ? -1 : 0;
}

int SetSoundBufferFrequency(SoundBuffer* b, int32_t frequency) {
  if (!b->made) return -1;
  if (Software()) {
    b->frequency = frequency == 0 ? -1 : frequency;
    return 0;
  }
  b->buffer->SetFrequency(static_cast<uint32_t>(frequency));
  return 0;
}

int GetSoundBufferFrequency(SoundBuffer* b, int32_t* frequency) {
  if (!b->made) return -1;
  if (Software()) {
    *frequency = b->frequency;
    return 0;
  }
  uint32_t f = 0;
  int r = b->buffer->GetFrequency(&f) != 0 ? -1 : 0;
  *frequency = static_cast<int32_t>(f);
  return r;
}

int SetSoundBufferPan(SoundBuffer* b, int32_t pan) {
  if (!b->made) return -1;
  if (Software()) {
    if (pan == -10000)
      b->pan_factor = -256;
    else if (pan == 10000)
      b->pan_factor = 256;
    else if (pan == 0)
      b->pan_factor = 0;
    else {
      int32_t magnitude = static_cast<int32_t>(std::pow(10.0, -std::abs(pan) / 1000.0) / 0.9999999999 * 256.0);
      b->pan_factor = pan < 0 ? -magnitude : magnitude;
    }
    return 0;
  }
  b->buffer->SetPan(pan);
  return 0;
}

int GetSoundBufferPan(SoundBuffer* b, int32_t* pan) {
  if (!b->made) return -1;
  if (Software()) {
    *pan = b->pan_factor;
    return 0;
  }
  int32_t p = 0;
  int r = b->buffer->GetPan(&p) != 0 ? -1 : 0;
  *pan = p;
  return r;
}

int SetSoundBufferVolume(SoundBuffer* b, int32_t volume) {
  if (!b->made) return -1;
  if (Software()) {
    if (volume <= -10000)
      b->volume_factor = 0;
    else if (volume >= 0)
      b->volume_factor = 256;
    else
      b->volume_factor = static_cast<int32_t>(std::pow(10.0, volume / 1000.0) / 0.9999999999 * 256.0);
    return 0;
  }
  b->buffer->SetVolume(volume);
  return 0;
}

int GetSoundBufferVolume(SoundBuffer* b, int32_t* volume) {
  if (!b->made) return -1;
  if (Software()) {
    if (b->volume_factor <= 0)
      *volume = -10000;
    else if (b->volume_factor == 256)
      *volume = 0;
    else
      *volume = static_cast<int32_t>(std::log10(b->volume_factor / 256.0) * 1000.0);
    return 0;
  }
  int32_t v = 0;
  b->buffer->GetVolume(&v);
  *volume = v;
  return 0;
}

int SetSoundBufferCurrentPosition(SoundBuffer* b, uint32_t position) {
  if (!b->made) return -1;
  if (Software()) {
    b->position = static_cast<int32_t>(position / b->format.block_align);
    return 0;
  }
  b->buffer->SetCurrentPosition(position);
  return 0;
}

int GetSoundBufferPlayCursor(SoundBuffer* b, uint32_t* position) {
  if (!b->made) return -1;
  if (Software()) {
    *position = static_cast<uint32_t>(b->position) * b->format.block_align;
    return 0;
  }
  uint32_t play = 0;
  if (b->buffer->GetCurrentPosition(&play, nullptr) != 0) return -1;
  *position = play;
  return 0;
}
