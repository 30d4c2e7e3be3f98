// game/objects/sound_resources.cpp - the music slots and the sound effects.
#include <cerrno>

#include "game/frame/data_report.h"
#include "game/objects/resource_tables.h"
#include "game/objects/resources.h"
#include "rorud/rorud.h"

bool LoadBgm(BgmSlot& slot, const char* file, int loop_ms) {
  DeleteSoundHandle(slot.handle, 0);
  errno = 0;  // a shortage during the load is told apart by ENOMEM
  slot.handle = LoadSoundHandle(file, 3, -1);
  // The slot keeps the failure handle, which plays nothing.
  if (slot.handle == -1) ReportSoundFailure(file);
  ChangeSoundHandleVolume(100, slot.handle);
  SetSoundHandleLoopPosition(loop_ms, slot.handle);
  slot.loop_ms = loop_ms;
  return true;
}

void StopAllBgm() {
  StopSoundHandle(g_bgm_music.handle);
  StopSoundHandle(g_bgm_boss.handle);
  StopSoundHandle(g_bgm_third.handle);
}

void PlayBgm(BgmSlot& slot) {
  StopAllBgm();
  PlaySoundHandle(slot.handle, slot.loop_ms >= 0 ? 3 : 1, 1);
}

void LoadSoundEffects() {
  for (int slot = 0; slot < kSoundEffectSlots; ++slot) {
    if (kSoundEffectFiles[slot] == nullptr) continue;
    // The boot scene loads three times in a row: the previous sound goes
    // first, so each slot keeps one sound.
    DeleteSoundHandle(g_sounds[slot].handle, 0);
    errno = 0;
    g_sounds[slot].handle = LoadSoundHandle(kSoundEffectFiles[slot], 3, -1);
    if (g_sounds[slot].handle == -1) ReportSoundFailure(kSoundEffectFiles[slot]);
    ChangeSoundHandleVolume(64, g_sounds[slot].handle);
  }
}
