// platform/audio/dsound_internal.h - what the sound device shares with its outputs:
// the device record the SDL output's callback mixes from.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/audio/dsound.h"

namespace plat {

struct AudioDevice {
  // Guards every buffer's state and samples. Held from a buffer's Lock to its
  // Unlock, so that the mixer never reads half-written samples.
  std::recursive_mutex mutex;
  std::vector<SoundBufferState*> buffers;
  AudioOutput output = AudioOutput::kNull;
  uint32_t rate = 44100;       // output frames per second
  uint32_t chunk_frames = 0;   // frames the output mixes ahead (write cursor lead)
  void* sdl_device = nullptr;  // the SDL output's own record
  std::vector<float> scratch;  // mix accumulator
  const char* name = "";
};

// Mixes frames into out (interleaved 16-bit stereo; null: advance only) and
// moves every playing buffer on. The caller holds the device's mutex.
void MixDeviceLocked(AudioDevice* device, int16_t* out, uint32_t frames);

// The SDL output (platform/sdl/sdl_audio.cpp). Open starts SDL's audio
// subsystem on first use and sets the device's rate and chunk; false when no
// audio device can be opened.
bool SdlAudioOpen(AudioDevice* device);
void SdlAudioClose(AudioDevice* device);

}  // namespace plat
