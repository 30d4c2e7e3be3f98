// lib/sound/music.h - MIDI music handles and the current-music slot (see
// music.cpp). The library's own callers use sound.h; this header is for the
// sound subsystem's files and tests.
#pragma once

#include <cstdint>

#include "platform/audio/dmusic.h"

constexpr int32_t kMidiHandleCapacity = 256;

struct MidiRecord {
  uint32_t check;
  int32_t playing;
  int32_t seen_playing;  // set the first time the performance reports it playing
  uint8_t* data;         // owned
  int32_t size;
  plat::DirectMusicSegment8* segment;  // performance mode only
};

struct MidiGlobals {
  uint32_t mci_device;
  int32_t mci_playing;
  int32_t loop;
  char temp_file[260];
  int32_t temp_file_exists;
  int32_t current;       // 0: no music
  int32_t current_kind;  // 1: a sound handle, else a MIDI handle
};
MidiGlobals& MusicState();

// Add step of a player: a MIDI handle holding a copy of the data; -1 when
// sound is not started, the data is empty or memory or slots are short.
int AddMidiHandle(const void* data, int size);
MidiRecord* MidiHandleToRecord(int handle);
int GetMidiHandleCount();
// Names the music that plays: a handle and its kind (1 sound, else MIDI).
void SetCurrentMusic(int handle, int kind);

// The play state: the sequencer's playing flag, or the record's in
// performance mode; -1 for a bad handle or without sound.
int GetMidiHandleInfo(int handle);
int StopMidiHandle(int handle);
int DeleteMidiHandle(int handle);
int DeleteAllMidiHandles();
// Deletes the temporary MIDI file by its path (the sound end).
int DeleteMidiTempFile();
