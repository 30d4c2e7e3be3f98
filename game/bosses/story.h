// game/bosses/story.h - the story texts: boss captions, dialogues and music
// credit lines. All of them live in story.cpp, which each later stage extends
// with its own; every line is at most 30 bytes (15 double-byte characters),
// what a speech-window row and the caption holds.
#pragma once

#include "game/bosses/boss.h"

inline constexpr int kStoryLineBytes = 30;

// Indexed by `BossId`; the bosses whose story is not written yet have null
// texts and no dialogues.
extern const BossStory kBossStories[kBossCount];

// The music credit lines posted at a stage's start.
extern const char kStage1MusicCredit[];
extern const char kStage2MusicCredit[];
extern const char kStage3MusicCredit[];
