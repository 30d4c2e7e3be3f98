// game/frame/draw_frame.cpp - the whole frame's drawing, also while paused.
#include "game/frame/frame_loop.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/panel.h"
#include "game/winmain.h"
#include "rorud/rorud.h"

bool DrawFrame() {
  ClearDrawTarget(nullptr);
  DrawPlayField();
  if (g_game.hud_on != 0) DrawHud();
  if (g_game.overlay_on != 0) DrawOverlay();
  // Without the panel or the overlay the clip area is still the play field:
  // the fade box then covers only the field and the frame rate is not seen.
  const int alpha = FadeBoxAlpha(g_game.fade_value);
  if (alpha >= 0) {
    SetBlendModeParam(1, alpha);
    DrawRectBox(0, 0, 640, 480, GetColorCode(1, 1, 1), 1);
  }
  SetBlendModeParam(0, 255);
  DrawTextWithFontFmt(550, 460, GetColorCode(160, 160, 160), g_fonts[kFont16], "FPS = %.2lf",
                      g_pacing.frame_rate);
  return true;
}
