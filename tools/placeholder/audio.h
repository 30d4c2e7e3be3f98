// tools/placeholder/audio.h - placeholder sound effects and music.
#pragma once

#include <string>

namespace placeholder {

// A short 16-bit mono PCM WAV, its pitch and timbre chosen by the slot.
bool WriteSoundEffect(const std::string& path, int slot);
// An MP3 of the given length whose loop seam, at loop_ms (ignored when
// negative), is marked by a chime so that the loop can be heard.
bool WriteMusic(const std::string& path, int track, double seconds, int loop_ms);

}  // namespace placeholder
