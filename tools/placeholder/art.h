// tools/placeholder/art.h - the placeholder pictures of every sheet.
#pragma once

#include "game/objects/resource_tables.h"
#include "tools/placeholder/raster.h"

namespace placeholder {

// Draws the whole sheet: every cut cell, and whatever the sheet shows as a
// whole (the boot logo).
Canvas DrawSheet(const SheetDef& sheet, int variant);

}  // namespace placeholder
