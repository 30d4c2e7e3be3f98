// game/objects/resources.h - the graphics table, the sound-effect table, the
// music slots and their loaders.
#pragma once

#include <cstdint>

struct GraphicEntry {
  int32_t handle;  // library graphic handle; 0 or -1 when none
  int32_t width;
  int32_t height;
  uint8_t animated;
  int32_t frames_per_step;
  int32_t next_id;
};

struct SoundSlot {
  int32_t handle;
  uint8_t request;  // any code sets it; the frame loop plays and clears it
};

struct BgmSlot {
  int32_t handle;
  int32_t loop_ms;  // -1: once
};

inline constexpr int kGraphicRows = 2000;
inline constexpr int kSoundSlots = 128;

extern GraphicEntry g_graphics[kGraphicRows];
extern SoundSlot g_sounds[kSoundSlots];
// Title and stage music, boss music, and a third slot that is only stopped.
extern BgmSlot g_bgm_music;
extern BgmSlot g_bgm_boss;
extern BgmSlot g_bgm_third;

// The graphics-table row of a graphic id, or null for an id out of range.
GraphicEntry* GraphicRow(uint32_t id);
// Clears the handles of every graphics row and music slot and every sound
// request (the start-up state of the tables).
void ClearResourceTables();

bool LoadGraphicEntry(int row, const char* file);
bool CutGraphicEntry(int row, int source_row, int x, int y, int w, int h);
bool CutAnimatedGraphicEntry(int row, int source_row, int x, int y, int w, int h, int next_id,
                             int frames_per_step);
bool LoadBgm(BgmSlot& slot, const char* file, int loop_ms);
void PlayBgm(BgmSlot& slot);
void StopAllBgm();
// The 30 sound effects of the common resources (slot 25 stays empty).
void LoadSoundEffects();
void LoadCommonResources();
void LoadPlayerGraphics(uint32_t ship_kind, uint32_t partner_mode);
void LoadStageGraphics(uint32_t stage);
