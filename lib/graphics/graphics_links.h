// lib/graphics/graphics_links.h - operations of the other graphics and core
// modules that the device start, screen modes and flip call at their places.
#pragma once

#include <cstdint>

#include "lib/graphics/font.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/mask.h"
#include "lib/graphics/model_tables.h"
#include "rorud/rorud.h"

int ResetGraphicHandleCount();
int ClearLastDrawWords();
