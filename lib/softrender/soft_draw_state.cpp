// lib/softrender/soft_draw_state.cpp - the one software draw state.
#include "lib/softrender/soft_draw_state.h"

namespace {
SoftDrawState g_soft = {0, 255, 0xFFFFFF, {0, 0, 0, 0}, nullptr, nullptr};
}

SoftDrawState& SoftDraw() { return g_soft; }
