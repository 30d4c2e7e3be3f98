// game/objects/graphic_resources.cpp - loading sheets and cutting sprites
// into the graphics table, and the loaders of the common, player and stage
// resources.
#include <cerrno>

#include "game/frame/data_report.h"
#include "game/frame/game_error.h"
#include "game/objects/resource_tables.h"
#include "game/objects/resources.h"
#include "rorud/rorud.h"

namespace {

void TakeSize(GraphicEntry& e) {
  int w = 0, h = 0;
  GetGraphicSize(e.handle, &w, &h);
  e.width = w;
  e.height = h;
}

// Cuts every rectangle of a group from its sheet row.
void CutGroupFrom(const CutList& list, int sheet_row) {
  for (int i = 0; i < list.count; ++i) {
    const CutDef& c = list.cuts[i];
    if (c.frames_per_step > 0) {
      CutAnimatedGraphicEntry(c.row, sheet_row, c.x, c.y, c.w, c.h, c.next, c.frames_per_step);
    } else {
      CutGraphicEntry(c.row, sheet_row, c.x, c.y, c.w, c.h);
    }
  }
}

// A sheet and its cuts. A sheet that fails is reported and raises its tag;
// its cuts are still tried, and the library refuses them.
void LoadSheet(const SheetDef& sheet) {
  if (!LoadGraphicEntry(sheet.row, sheet.file)) {
    ReportImageFailure(sheet.file, sheet.tag);
    RaiseGameError(sheet.tag);
  }
  CutGroupFrom(kCutGroups[sheet.cuts], sheet.row);
}

}  // namespace

bool LoadGraphicEntry(int row, const char* file) {
  GraphicEntry& e = g_graphics[row];
  DeleteGraphic(e.handle);
  errno = 0;  // a shortage during the load is told apart by ENOMEM
  e.handle = LoadGraphicFromFile(file, 0);
  TakeSize(e);
  e.animated = 0;
  return e.handle != -1;
}

bool CutGraphicEntry(int row, int source_row, int x, int y, int w, int h) {
  GraphicEntry& e = g_graphics[row];
  DeleteGraphic(e.handle);
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

void LoadCommonResources() {
  for (const SheetDef& sheet : kCommonSheets) LoadSheet(sheet);
  LoadSoundEffects();
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
