// game/frame/draw_frame.cpp - the whole frame's drawing.
#include "game/frame/frame_loop.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/winmain.h"
#include "rorud/rorud.h"

bool DrawFrame() {
  ClearDrawTarget(nullptr);
  DrawPlayField();
  // The side panel and the menu overlay join here; both set the clip area to
  // the whole screen.
  if (g_game.fade_value < 254.0) {
    SetBlendModeParam(1, static_cast<int>(255.0 - g_game.fade_value));
    DrawRectBox(0, 0, 640, 480, GetColorCode(1, 1, 1), 1);
  }
  SetBlendModeParam(0, 255);
  DrawTextWithFontFmt(550, 460, GetColorCode(160, 160, 160), g_fonts[kFont16], "FPS = %.2lf",
                      g_pacing.frame_rate);
  return true;
}
