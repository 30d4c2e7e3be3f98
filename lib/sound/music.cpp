// lib/sound/music.cpp - MIDI music handles and the current-music slot: the
// handle table and records, the play-state poll of the message pump, the
// sequencer's end-of-playback notification (looping), stopping, deleting,
// and the stop of whatever music plays (a sound handle or a MIDI handle).
//
// No operation of the library creates MIDI handles or starts music; the
// stop, poll and delete side works on the records and globals as a player
// would leave them (AddMidiHandle and SetCurrentMusic are the add steps).
#include "lib/sound/music.h"

#include <cstring>

#include "lib/core/memory.h"
#include "lib/system/window_system.h"
#include "lib/sound/sound.h"
#include "lib/sound/sound_internal.h"
#include "platform/audio/mci.h"
#include "platform/kernel/file.h"
#include "rorud/rorud.h"

namespace {

constinit HandleTable<MidiRecord, kMidiHandleCapacity> g_midi(kHandleKindMidi, HandleSlotRule::kHighWater);
MidiGlobals g_music;

using MciSendFn = uint32_t (*)(uint32_t, uint32_t, uintptr_t, uintptr_t);

// The sequencer command goes through the entry the library start loaded.
void SendMci(uint32_t message, uintptr_t flags, uintptr_t param) {
  auto send = reinterpret_cast<MciSendFn>(GetLoadedFunction("mciSendCommandA"));
  // Sound running without the library start (a host of its own) goes
  // straight to the platform's sequencer.
  if (send == nullptr && !IsLibraryStarted()) send = &plat::MciSendCommand;
  if (send != nullptr) send(g_music.mci_device, message, flags, param);
}

}  // namespace

MidiGlobals& MusicState() { return g_music; }

int AddMidiHandle(const void* data, int size) {
  if (!SoundStarted() || data == nullptr || size <= 0) return -1;
  auto* r = static_cast<MidiRecord*>(RR_CALLOC(sizeof(MidiRecord)));
  auto* copy = static_cast<uint8_t*>(RR_ALLOC(size_t(size)));
  if (r == nullptr || copy == nullptr) {
    RR_FREE(r);
    RR_FREE(copy);
    return -1;
  }
  std::memcpy(copy, data, size_t(size));
  r->data = copy;
  r->size = size;
  const int handle = g_midi.Add(r);
  if (handle == -1) {
    RR_FREE(copy);
    RR_FREE(r);
    return -1;
  }
  r->check = uint32_t(HandleCheck(handle));
  return handle;
}

MidiRecord* MidiHandleToRecord(int handle) { return SoundStarted() ? g_midi.Find(handle) : nullptr; }

int GetMidiHandleCount() { return g_midi.Count(); }

void SetCurrentMusic(int handle, int kind) {
  g_music.current = handle;
  g_music.current_kind = kind;
}

int GetMidiHandleInfo(int handle) {
  MidiRecord* r = MidiHandleToRecord(handle);
  if (r == nullptr) return -1;
  if (DirectMusicMode == 0) return g_music.mci_playing;
  if (DirectMusicMode == 1) return r->playing;
  return 0;
}

int UpdateMusicPlayState() {
  if (!SoundStarted()) return -1;
  if (DirectMusicMode != 1 || g_sound.music_performance == nullptr) return 0;
  for (int i = 0; i < g_midi.HighWater(); ++i) {
    MidiRecord* r = g_midi.At(i);
    if (r == nullptr || r->playing == 0) continue;
    const bool playing = g_sound.music_performance->IsPlaying(r->segment, nullptr) != plat::kS_FALSE;
    // A segment that has not started yet keeps its flag until it has been
    // seen playing once.
    if (r->seen_playing)
      r->playing = playing ? 1 : 0;
    else if (playing)
      r->seen_playing = 1;
  }
  return 0;
}

int OnMciMidiNotify() {
  if (g_music.loop == 1) {
    plat::MciPlayParams play{reinterpret_cast<uintptr_t>(GetMainWindow()), 0, 0};
    SendMci(plat::kMciPlay, plat::kMciNotify | plat::kMciFrom, reinterpret_cast<uintptr_t>(&play));
    g_music.mci_playing = 1;
    return 0;
  }
  if (g_music.mci_playing == 1) {
    SendMci(plat::kMciClose, 0, 0);
    g_music.mci_playing = 0;
  }
  return 0;
}

int StopMidiHandle(int handle) {
  MidiRecord* r = MidiHandleToRecord(handle);
  if (r == nullptr) return -1;
  g_music.loop = 0;
  if (DirectMusicMode == 0) {
    OnMciMidiNotify();  // closes the device now that the loop flag is clear
    for (int i = 0; i < 5; ++i) PumpWindowMessages();
  } else if (DirectMusicMode == 1 && g_sound.music_performance != nullptr) {
    g_sound.music_performance->StopEx(r->segment, 0, 0);
  }
  if (g_music.temp_file_exists == 1) {
    plat::DeleteFile(g_music.temp_file);
    g_music.temp_file_exists = 0;
  }
  r->playing = 0;
  r->seen_playing = 0;
  return 0;
}

int DeleteMidiHandle(int handle) {
  MidiRecord* r = MidiHandleToRecord(handle);
  if (r == nullptr) return -1;
  if (GetMidiHandleInfo(handle) == 1) StopMidiHandle(handle);
  if (r->segment != nullptr) {
    if (g_sound.music_performance != nullptr) r->segment->Unload(g_sound.music_performance);
    if (g_sound.music_loader != nullptr) g_sound.music_loader->ReleaseObjectByUnknown(r->segment);
    r->segment->Release();
    r->segment = nullptr;
  }
  if (r->data != nullptr) {
    std::memset(r->data, 0, size_t(r->size));
    RR_FREE(r->data);
  }
  g_midi.Remove(handle);
  RR_FREE(r);
  return 0;
}

int DeleteAllMidiHandles() {
  if (!SoundStarted()) return -1;
  for (int i = 0; i < kMidiHandleCapacity; ++i)
    if (g_midi.At(i) != nullptr) DeleteMidiHandle(g_midi.HandleAt(i));
  return 0;
}

int DeleteMidiTempFile() {
  if (g_music.temp_file[0] != '\0') plat::DeleteFile(g_music.temp_file);
  g_music.temp_file_exists = 0;
  return 0;
}

int StopMusicPlayback() {
  if (g_music.current == 0) return 0;
  if (g_music.current_kind == 1) {
    StopSoundHandle(g_music.current);
    DeleteSoundHandle(g_music.current, 0);
  } else {
    StopMidiHandle(g_music.current);
    DeleteMidiHandle(g_music.current);
  }
  g_music.current = 0;
  g_music.current_kind = 0;
  return 0;
}
