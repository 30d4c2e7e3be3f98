// game/bosses/story.h - the story texts: boss captions, dialogues and music
// credit lines. They live in story.cpp, which each later stage extends with
// its own, and those of stages 4 and 5 in story_finale.cpp; every line is at
// most 30 bytes (15 double-byte characters), what a speech-window row and the
// caption holds.
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

// Stages 4 and 5 (story_finale.cpp).
extern const Dialogue kBoss4Entry;
extern const Dialogue kBoss4Post;
extern const Dialogue kBoss5Entry;
extern const Dialogue kBoss5Post;
extern const char kBoss4Caption[];
extern const char kBoss4MusicCredit[];
extern const char kBoss5Caption[];
extern const char kBoss5MusicCredit[];
extern const char kStage4MusicCredit[];
extern const char kStage5MusicCredit[];
