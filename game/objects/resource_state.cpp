// game/objects/resource_state.cpp - the game's resource tables.
#include "game/objects/resources.h"

GraphicEntry g_graphics[kGraphicRows];
SoundSlot g_sounds[kSoundSlots];
BgmSlot g_bgm_music;
BgmSlot g_bgm_boss;
BgmSlot g_bgm_third;

GraphicEntry* GraphicRow(uint32_t id) {
  return id < static_cast<uint32_t>(kGraphicRows) ? &g_graphics[id] : nullptr;
}

void ClearResourceTables() {
  for (GraphicEntry& e : g_graphics) e.handle = 0;
  g_bgm_music.handle = 0;
  g_bgm_boss.handle = 0;
  g_bgm_third.handle = 0;
  for (SoundSlot& s : g_sounds) s.request = 0;
}
