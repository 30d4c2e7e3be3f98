// game/objects/panel.h - the frame's drawing over the play field: the side
// panel, the boss bar and its caption, the bonus line, the music caption,
// the pause screen, the menu overlay and the fade box.
#pragma once

#include <cstdint>

#include "game/frame/game_state.h"
#include "game/objects/game_object.h"

// Alpha of the black fade box for a fade value, or -1 when no box is drawn
// (fade 254 and above).
int FadeBoxAlpha(double fade_value);
// Graphics row of the boss bar for a phase, or -1 for a phase without one.
int BossBarRow(uint32_t phase);
// Length in pixels of the boss bar (385 when full).
int BossBarLength(const BossGauge& gauge);
// Left edge of the music caption: its text ends near x 410 in a font whose
// single-byte characters are 8 pixels wide (code page 932 byte length).
int MusicCaptionX(const char* text);
// The caption's step after its draw: it sinks half a pixel a frame after 180
// frames and switches off once below the screen.
void AdvanceMusicCaption(MusicCaption& caption);
// Seconds shown by the bonus line.
uint32_t BonusSeconds(uint32_t time_limit);

// The whole frame's drawing: play field, panel, overlay, fade box and the
// frame-rate line. Always true.
bool DrawFrame();
// Its steps.
void DrawHud();
void DrawOverlay();
void DrawMenuObject(GameObject& record);
void DrawHighScoreScreen(GameState& state);
