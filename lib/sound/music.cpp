// lib/sound/music.cpp - the music side that the library start, end and
// message pump call. No operation of this library creates MIDI handles or
// starts music, so the current-music slot is always empty.
#include "lib/sound/sound.h"
#include "lib/sound/sound_internal.h"

int StopMusicPlayback() { return 0; }

int UpdateMusicPlayState() { return SoundStarted() ? 0 : -1; }
