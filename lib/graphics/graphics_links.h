// lib/graphics/graphics_links.h - operations of other graphics and core
// parts that the device start, screen modes and flip call at their places.
#pragma once

#include <cstdint>

#include "lib/graphics/font.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/mask.h"
#include "lib/graphics/model_tables.h"
#include "rorud/rorud.h"

// Parts not built yet are referenced weakly: until a part exists its address
// is null and the call is skipped.
#define RR_WEAK __attribute__((weak))

int ResetGraphicHandleCount();
int ClearLastDrawWords();
