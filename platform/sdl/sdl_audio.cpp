// platform/sdl/sdl_audio.cpp - the sound device's output through SDL2 audio.
// SDL pulls mixed frames from its own thread; the device's mutex keeps the mix
// apart from the library's buffer work.
#include <SDL.h>

#include <mutex>

#include "platform/audio/dsound_internal.h"
#include "platform/sdl/alsa_messages.h"

namespace plat {
namespace {

std::mutex g_sdl_audio_mutex;
int g_sdl_audio_users = 0;

struct SdlOutput {
  SDL_AudioDeviceID id = 0;
};

void SDLCALL AudioCallback(void* userdata, Uint8* stream, int length) {
  auto* device = static_cast<AudioDevice*>(userdata);
  uint32_t frames = static_cast<uint32_t>(length) / 4;
  std::lock_guard<std::recursive_mutex> lock(device->mutex);
  MixDeviceLocked(device, reinterpret_cast<int16_t*>(stream), frames);
}

bool AcquireSdlAudio() {
  std::lock_guard<std::mutex> lock(g_sdl_audio_mutex);
  RouteAlsaMessagesToDebugOutput();
  if (g_sdl_audio_users == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  ++g_sdl_audio_users;
  return true;
}

void ReleaseSdlAudio() {
  std::lock_guard<std::mutex> lock(g_sdl_audio_mutex);
  if (g_sdl_audio_users > 0 && --g_sdl_audio_users == 0) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace

bool SdlAudioOpen(AudioDevice* device) {
  if (!AcquireSdlAudio()) return false;
  SDL_AudioSpec want{};
  SDL_AudioSpec have{};
  want.freq = 44100;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 1024;
  want.callback = &AudioCallback;
  want.userdata = device;
  // SDL converts to whatever the hardware takes; the mixer always makes
  // 16-bit stereo at 44100 Hz.
  SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (id == 0) {
    ReleaseSdlAudio();
    return false;
  }
  auto* output = new SdlOutput;
  output->id = id;
  device->sdl_device = output;
  device->rate = static_cast<uint32_t>(have.freq);
  device->chunk_frames = have.samples;
  SDL_PauseAudioDevice(id, 0);
  return true;
}

void SdlAudioClose(AudioDevice* device) {
  auto* output = static_cast<SdlOutput*>(device->sdl_device);
  if (output == nullptr) return;
  SDL_CloseAudioDevice(output->id);  // waits for a running callback
  delete output;
  device->sdl_device = nullptr;
  ReleaseSdlAudio();
}

}  // namespace plat
