// tests/game/play_screens.h - the screens of the whole game driven frame by
// frame with scripted input, shared by the headless picture tests and the
// run under a virtual X server, so that both draw the very same frames.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "game/objects/game_object.h"

namespace gametest {

// A presented 640 x 480 frame, X8R8G8B8.
struct Frame640 {
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * 640 + x] & 0xFFFFFFu; }
  // Mean brightness (0 to 765) of a rectangle, right and bottom exclusive.
  double Mean(int x1, int y1, int x2, int y2) const;
};

// Saves the last presented frame under <build>/screenshots for a reviewer.
void SaveScreenshot(const char* name);

// One whole frame (scene, objects, draw, sounds, flip and paced wait) with
// this frame's input set directly, as the pad would have set it.
void ScreenFrame(uint8_t held_actions = 0, uint8_t pressed_actions = 0,
                 uint8_t held_directions = 0, uint8_t pressed_directions = 0);

// From a started game: a stage (stage 1 unless another scene is named) from
// its first phase, played without pictures while shooting and sweeping,
// until the first wave shows enemies, their bullets and items at once; false
// when it never does.
bool PlayToMidWave(uint32_t scene = 3);

// On the stage's play field, with no scene running and the field emptied of
// enemies and bullets: the boss made by `create` fights from the opening of
// attack phase `phase` for `frames` frames without pictures, the player
// holding still and untouched, so that its volleys fill the field.
void PlayBossFight(void (*create)(GameObject&), uint32_t phase, int frames);

// On the stage's play field, emptied of enemies, bullets and items: the boss
// made by `create` comes on with talk mode on, as a stage brings it, and runs
// its entry until its dialogue step `step` has shown for `frames_shown`
// frames.
void PlayBossEntry(void (*create)(GameObject&), uint32_t step, int frames_shown);

// The screens in one run from the boot scene: "title" (frame 200),
// "high_score", "mid_wave" (play with the panel), "pause", then stage 2:
// "stage2_wave", "boss2a" and "boss2b" (each boss with its gauge and
// caption). `shot` is called right after each of them was presented.
void RunScreenTour(const std::function<void(const std::string& name)>& shot);

}  // namespace gametest
