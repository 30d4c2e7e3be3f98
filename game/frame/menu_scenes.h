// game/frame/menu_scenes.h - the boot logo, the title menu and the
// high-score screen: scenes 0, 1 and 2 of the state stack.
#pragma once

#include "game/frame/game_state.h"

// One step each, on the phase level of the game state.
void BootScene(GameState& state);
void TitleScene(GameState& state);
void HighScoreScene(GameState& state);

// The sheets of the boot logo and of the title.
inline constexpr const char* kBootSheetFile = "grp/stm0x.png";
inline constexpr const char* kTitleSheetFile = "grp/stm1x.png";

// The blend value that a logo or fade adds per frame.
inline constexpr double kLogoBlendStep = 2.0;
inline constexpr double kTitleFadeStep = 5.5;
