// Every story text: code page 932 bytes that convert back and forth, at most
// 30 bytes a line, and dialogues whose steps, sides, expressions, line counts
// and successors are those the bosses are built for.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "game/bosses/boss.h"
#include "game/bosses/story.h"
#include "tests/support/sjis.h"

namespace {

// One step as the boss expects it: step, side, expression, lines, next.
struct Expected {
  uint32_t step;
  uint8_t side;
  uint32_t expression;
  int lines;
  uint32_t next;
};

const std::vector<Expected> kBoss1AEntry = {{10, 1, 1, 1, 11}, {11, 2, 1, 1, 12}, {12, 1, 1, 2, 14},
                                            {14, 2, 1, 2, 15}, {15, 1, 1, 2, 16}, {16, 2, 1, 2, 17},
                                            {17, 1, 1, 1, 50}};
const std::vector<Expected> kBoss1APost = {{10, 1, 1, 2, 11}, {11, 2, 1, 1, 12}, {12, 1, 1, 1, 50}};
const std::vector<Expected> kBoss1BEntry = {{10, 2, 1, 2, 11}, {11, 1, 2, 2, 12}, {12, 2, 2, 1, 50}};
const std::vector<Expected> kBoss1BPost = {{10, 2, 1, 2, 11}, {11, 1, 1, 2, 12}, {12, 2, 1, 2, 15},
                                           {15, 1, 1, 2, 16}, {16, 2, 1, 1, 17}, {17, 2, 1, 1, 50}};

const std::vector<Expected> kBoss2AEntry = {{10, 2, 1, 2, 11}, {11, 1, 1, 2, 12}, {12, 1, 1, 1, 13},
                                            {13, 2, 1, 1, 14}, {14, 1, 1, 1, 15}, {15, 2, 1, 1, 50}};
const std::vector<Expected> kBoss2APost = {{10, 2, 1, 3, 11}, {11, 1, 1, 2, 12}, {12, 2, 1, 2, 50}};
const std::vector<Expected> kBoss2BEntry = {{10, 2, 1, 1, 11}, {11, 1, 1, 3, 12}, {12, 2, 1, 3, 14},
                                            {14, 2, 1, 2, 50}};
const std::vector<Expected> kBoss2BPost = {{10, 2, 1, 1, 11}, {11, 1, 1, 2, 13}, {13, 2, 1, 2, 14},
                                           {14, 1, 1, 2, 50}};

const std::vector<Expected> kBoss3AEntry = {{10, 1, 1, 1, 11}, {11, 2, 1, 1, 12}, {12, 1, 1, 2, 13},
                                            {13, 2, 1, 2, 15}, {15, 2, 1, 2, 16}, {16, 1, 1, 2, 17},
                                            {17, 2, 1, 3, 50}};
const std::vector<Expected> kBoss3APost = {{10, 1, 1, 1, 11}, {11, 2, 1, 2, 13}, {13, 2, 1, 2, 16},
                                           {16, 1, 1, 1, 18}, {18, 2, 1, 2, 19}, {19, 1, 1, 3, 50}};
const std::vector<Expected> kBoss3BEntry = {{10, 1, 1, 1, 11}, {11, 2, 1, 3, 12}, {12, 1, 1, 1, 13},
                                            {13, 2, 1, 1, 14}, {14, 1, 1, 2, 15}, {15, 2, 1, 2, 16},
                                            {16, 2, 1, 2, 50}};
const std::vector<Expected> kBoss3BPost = {{10, 2, 1, 1, 11}, {11, 1, 1, 1, 13}, {13, 1, 1, 2, 14},
                                           {14, 2, 1, 2, 15}, {15, 1, 1, 1, 50}};

void CheckLine(const char* text, const std::string& where) {
  ASSERT_NE(text, nullptr) << where;
  const std::string bytes(text);
  EXPECT_LE(bytes.size(), static_cast<size_t>(kStoryLineBytes)) << where;
  const std::string utf8 = testsupport::Utf8(bytes);
  EXPECT_EQ(testsupport::Sjis(utf8), bytes) << where;
  // Stored as code page 932, not as the source's UTF-8.
  EXPECT_NE(utf8, bytes) << where;
}

void CheckDialogue(const Dialogue* talk, const std::vector<Expected>& expected,
                   const std::string& name) {
  ASSERT_NE(talk, nullptr) << name;
  ASSERT_EQ(talk->count, expected.size()) << name;
  for (size_t i = 0; i < expected.size(); ++i) {
    const DialogueStep& s = talk->steps[i];
    const Expected& e = expected[i];
    const std::string where = name + " step " + std::to_string(e.step);
    EXPECT_EQ(s.step, e.step) << where;
    EXPECT_EQ(s.side, e.side) << where;
    EXPECT_EQ(s.expression, e.expression) << where;
    EXPECT_EQ(s.next, e.next) << where;
    int lines = 0;
    for (int l = 0; l < 3; ++l) {
      if (s.lines[l] == nullptr || s.lines[l][0] == '\0') continue;
      EXPECT_EQ(l, lines) << where << ": lines fill from the top row";
      ++lines;
      CheckLine(s.lines[l], where);
    }
    EXPECT_EQ(lines, e.lines) << where;
  }
}

TEST(Story, Stage1DialoguesMatchTheirBosses) {
  CheckDialogue(kBossStories[kBoss1A].entry, kBoss1AEntry, "1A entry");
  CheckDialogue(kBossStories[kBoss1A].post, kBoss1APost, "1A post");
  CheckDialogue(kBossStories[kBoss1B].entry, kBoss1BEntry, "1B entry");
  CheckDialogue(kBossStories[kBoss1B].post, kBoss1BPost, "1B post");
}

TEST(Story, Stage2DialoguesMatchTheirBosses) {
  CheckDialogue(kBossStories[kBoss2A].entry, kBoss2AEntry, "2A entry");
  CheckDialogue(kBossStories[kBoss2A].post, kBoss2APost, "2A post");
  CheckDialogue(kBossStories[kBoss2B].entry, kBoss2BEntry, "2B entry");
  CheckDialogue(kBossStories[kBoss2B].post, kBoss2BPost, "2B post");
  CheckLine(kBossStories[kBoss2A].caption, "2A caption");
  CheckLine(kBossStories[kBoss2B].caption, "2B caption");
  CheckLine(kBossStories[kBoss2B].music_credit, "2B credit");
  CheckLine(kStage2MusicCredit, "stage 2 credit");
  EXPECT_EQ(kBossStories[kBoss2A].music_credit, nullptr);
}

TEST(Story, Stage3DialoguesMatchTheirBosses) {
  CheckDialogue(kBossStories[kBoss3A].entry, kBoss3AEntry, "3A entry");
  CheckDialogue(kBossStories[kBoss3A].post, kBoss3APost, "3A post");
  CheckDialogue(kBossStories[kBoss3B].entry, kBoss3BEntry, "3B entry");
  CheckDialogue(kBossStories[kBoss3B].post, kBoss3BPost, "3B post");
  CheckLine(kBossStories[kBoss3A].caption, "3A caption");
  CheckLine(kBossStories[kBoss3B].caption, "3B caption");
  CheckLine(kStage3MusicCredit, "stage 3 credit");
  // Stage 3 has no boss track: neither boss posts a credit line.
  EXPECT_EQ(kBossStories[kBoss3A].music_credit, nullptr);
  EXPECT_EQ(kBossStories[kBoss3B].music_credit, nullptr);
}

TEST(Story, CaptionsAndCreditsFitAndConvert) {
  CheckLine(kBossStories[kBoss1A].caption, "1A caption");
  CheckLine(kBossStories[kBoss1B].caption, "1B caption");
  CheckLine(kBossStories[kBoss1B].music_credit, "1B credit");
  CheckLine(kStage1MusicCredit, "stage 1 credit");
  // The mid-boss plays no music of its own, so it has no credit.
  EXPECT_EQ(kBossStories[kBoss1A].music_credit, nullptr);
  EXPECT_EQ(std::string(kStage1MusicCredit), testsupport::Sjis("♪ 春霞の渡り鳥"));
}

TEST(Story, EveryWrittenTextOfEveryBossFits) {
  // Later stages add their texts here; whatever is written must fit.
  for (int id = 0; id < kBossCount; ++id) {
    const BossStory& s = kBossStories[id];
    const std::string name = "boss " + std::to_string(id);
    if (s.caption != nullptr) CheckLine(s.caption, name + " caption");
    if (s.music_credit != nullptr) CheckLine(s.music_credit, name + " credit");
    for (const Dialogue* talk : {s.entry, s.post}) {
      if (talk == nullptr) continue;
      for (size_t i = 0; i < talk->count; ++i) {
        for (const char* line : talk->steps[i].lines) {
          if (line != nullptr && line[0] != '\0') CheckLine(line, name);
        }
      }
    }
    EXPECT_EQ(kBossSetups[id].story, &kBossStories[id]);
    // Only a boss that switches to the boss track posts a credit line.
    if (!kBossSetups[id].boss_track) EXPECT_EQ(s.music_credit, nullptr) << name;
    if (kBossSetups[id].boss_track && s.caption != nullptr) {
      EXPECT_NE(s.music_credit, nullptr) << name;
    }
  }
}

}  // namespace

namespace {

TEST(Story, Stage4And5DialoguesMatchTheirBosses) {
  const std::vector<Expected> boss4_entry = {{10, 1, 1, 2, 11}, {11, 2, 1, 1, 12}, {12, 1, 1, 1, 13},
                                             {13, 2, 1, 3, 14}, {14, 1, 1, 3, 15}, {15, 2, 1, 3, 16},
                                             {16, 1, 1, 3, 50}};
  const std::vector<Expected> boss4_post = {
      {10, 2, 1, 2, 11}, {11, 1, 1, 2, 13}, {13, 1, 1, 2, 14}, {14, 2, 1, 3, 15},
      {15, 1, 1, 3, 16}, {16, 1, 1, 3, 17}, {17, 1, 1, 3, 18}, {18, 2, 1, 3, 19},
      {19, 1, 1, 1, 20}, {20, 2, 1, 1, 21}, {21, 1, 1, 3, 50}};
  const std::vector<Expected> boss5_entry = {
      {10, 1, 1, 2, 11}, {11, 2, 1, 1, 12}, {12, 1, 1, 1, 13}, {13, 2, 1, 1, 14},
      {14, 1, 1, 3, 15}, {15, 2, 1, 3, 16}, {16, 1, 1, 1, 17}, {17, 2, 1, 3, 19},
      {19, 2, 1, 3, 21}, {21, 2, 1, 3, 23}, {23, 2, 1, 2, 24}, {24, 1, 1, 2, 25},
      {25, 2, 1, 3, 27}, {27, 2, 1, 2, 28}, {28, 1, 1, 2, 50}};
  const std::vector<Expected> boss5_post = {
      {10, 2, 1, 1, 11}, {11, 1, 1, 1, 12}, {12, 2, 1, 1, 13}, {13, 1, 1, 2, 14},
      {14, 2, 1, 1, 15}, {15, 1, 1, 3, 16}, {16, 2, 1, 1, 17}, {17, 1, 1, 3, 18},
      {18, 2, 1, 2, 19}, {19, 1, 1, 1, 50}};
  CheckDialogue(kBossStories[kBoss4].entry, boss4_entry, "4 entry");
  CheckDialogue(kBossStories[kBoss4].post, boss4_post, "4 post");
  CheckDialogue(kBossStories[kBoss5].entry, boss5_entry, "5 entry");
  CheckDialogue(kBossStories[kBoss5].post, boss5_post, "5 post");
  for (const char* text : {kBossStories[kBoss4].caption, kBossStories[kBoss4].music_credit,
                           kBossStories[kBoss5].caption, kBossStories[kBoss5].music_credit,
                           static_cast<const char*>(kStage4MusicCredit),
                           static_cast<const char*>(kStage5MusicCredit)}) {
    CheckLine(text, "stage 4 and 5 captions and credits");
  }
}

}  // namespace
