// game/objects/resources.cpp - loading sheets, cuts, sound effects and music
// into the game's tables.
#include "game/objects/resources.h"

#include "game/frame/game_error.h"
#include "game/objects/resource_tables.h"
#include "rorud/rorud.h"

namespace {

void TakeSize(GraphicEntry& e) {
  int w = 0, h = 0;
  GetGraphicSize(e.handle, &w, &h);
  e.width = w;
  e.height = h;
}

// Cuts every rectangle of a group from its sheet row.
void CutGroup(const CutList& list, int sheet_row) {
  for (int i = 0; i < list.count; ++i) {
    const CutDef& c = list.cuts[i];
    if (c.frames_per_step > 0) {
      CutAnimatedGraphicEntry(c.row, sheet_row, c.x, c.y, c.w, c.h, c.next, c.frames_per_step);
    } else {
      CutGraphicEntry(c.row, sheet_row, c.x, c.y, c.w, c.h);
    }
  }
}

// A sheet and its cuts; a failed load raises the sheet's tag and the cuts are
// still attempted (the library refuses them).
void LoadSheet(const SheetDef& sheet) {
  if (!LoadGraphicEntry(sheet.row, sheet.file)) RaiseGameError(sheet.tag);
  CutGroup(kCutGroups[sheet.cuts], sheet.row);
}

}  // namespace

bool LoadGraphicEntry(int row, const char* file) {
  GraphicEntry& e = g_graphics[row];
  DeleteGraphic(e.handle, 0);
  e.handle = LoadGraphicFromFile(file, 0);
  TakeSize(e);
  e.animated = 0;
  return e.handle != -1;
}

bool CutGraphicEntry(int row, int source_row, int x, int y, int w, int h) {
  GraphicEntry& e = g_graphics[row];
  DeleteGraphic(e.handle, 0);
  e.handle = DeriveGraphic(x, y, w, h, g_graphics[source_row].handle);
  TakeSize(e);
  e.animated = 0;
  return e.handle != -1;
}

bool CutAnimatedGraphicEntry(int row, int source_row, int x, int y, int w, int h, int next_id,
                             int frames_per_step) {
  const bool ok = CutGraphicEntry(row, source_row, x, y, w, h);
  GraphicEntry& e = g_graphics[row];
  e.animated = 1;
  e.next_id = next_id;
  e.frames_per_step = frames_per_step;
  return ok;
}

bool LoadBgm(BgmSlot& slot, const char* file, int loop_ms) {
  DeleteSoundHandle(slot.handle, 0);
  slot.handle = LoadSoundHandle(file, 3, -1);
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

void LoadCommonResources() {
  for (const SheetDef& sheet : kCommonSheets) LoadSheet(sheet);
  for (int slot = 0; slot < kSoundEffectSlots; ++slot) {
    if (kSoundEffectFiles[slot] == nullptr) continue;
    // Reloading frees the previous sound first, so the boot scene's three
    // loading frames leave one sound per slot.
    DeleteSoundHandle(g_sounds[slot].handle, 0);
    g_sounds[slot].handle = LoadSoundHandle(kSoundEffectFiles[slot], 3, -1);
    ChangeSoundHandleVolume(64, g_sounds[slot].handle);
  }
}

void LoadPlayerGraphics(uint32_t ship_kind, uint32_t partner_mode) {
  if (ship_kind == 1 || ship_kind == 2) {
    LoadSheet(kPlayerSheets[ship_kind - 1]);
  } else {
    RaiseGameError("load_sel_my");
  }
  if (partner_mode == 1 || partner_mode == 2) {
    LoadSheet(kPartnerSheets[partner_mode - 1]);
  } else {
    RaiseGameError("load_sel_mf");
  }
}

void LoadStageGraphics(uint32_t stage) {
  if (stage < 1 || stage > 5) {
    RaiseGameError("stg_load");
    return;
  }
  LoadSheet(kStageSheetsA[stage - 1]);
  LoadSheet(kStageSheetsB[stage - 1]);
}
