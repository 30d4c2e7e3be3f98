// platform/window/backend.h - which back end the platform layer runs on: SDL2 (a real
// window, audio device and game controllers) or headless (virtual desktop,
// injected input, null audio, frames kept for capture).
#pragma once

namespace plat {

enum class Backend { kSdl, kHeadless };

// Chosen once from the environment variable RORUD_PLATFORM ("headless" or
// "sdl"; SDL when unset or unknown), unless a test set it.
Backend GetBackend();
inline bool IsHeadless() { return GetBackend() == Backend::kHeadless; }
// Test hook: forces a back end for the rest of the process.
void SetBackend(Backend backend);

}  // namespace plat
