// game/bosses/talk.h - the speech windows (kind 92) and portraits (kind 91)
// of the boss dialogues. The stage makes one of each per side at its start;
// they never leave and show or hide themselves from the dialogue record.
#pragma once

#include <cstdint>

#include "game/objects/game_object.h"

inline constexpr uint32_t kTalkLeft = 1;   // the player's character
inline constexpr uint32_t kTalkRight = 2;  // the boss

// Per-kind values of a speech window.
inline constexpr int kTextAlpha = 0;  // kind_values
inline constexpr int kTextAlphaStep = 1;

void CreateTalkWindow(GameObject& record, uint32_t side);
void UpdateTalkWindow(GameObject& record);
void DrawTalkWindow(GameObject& record);

void CreatePortrait(GameObject& record, uint32_t side);
void UpdatePortrait(GameObject& record);
void DrawPortrait(GameObject& record);
