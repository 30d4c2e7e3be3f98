// Every story text: code page 932 bytes that convert back and forth, at most
// 30 bytes a line, and dialogues that each boss, played through its entry and
// its defeat, shows with the steps, sides, expressions, line counts and
// successors its description gives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "game/bosses/boss.h"
#include "game/bosses/story.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/game_object.h"
#include "tests/game/game_fixture.h"
#include "tests/support/sjis.h"

namespace {

// One step as the player sees it: the step, the speaking side (1 left, 2
// right), its expression, its shown lines and the step that follows.
struct Expected {
  uint32_t step;
  uint8_t side;
  uint32_t expression;
  int lines;
  uint32_t next;
};

void CheckLine(const char* text, const std::string& where) {
  ASSERT_NE(text, nullptr) << where;
  const std::string bytes(text);
  EXPECT_LE(bytes.size(), static_cast<size_t>(kStoryLineBytes)) << where;
  const std::string utf8 = testsupport::Utf8(bytes);
  EXPECT_EQ(testsupport::Sjis(utf8), bytes) << where;
  // Stored as code page 932, not as the source's UTF-8.
  EXPECT_NE(utf8, bytes) << where;
}

// What the talk record showed at the end of a step: one side speaks, its
// lines fill from the top row, and each fits and converts.
Expected Shown(const TalkState& t, uint32_t step, uint32_t next, const std::string& name) {
  const std::string where = name + " step " + std::to_string(step);
  EXPECT_EQ(t.talk_mode, 1) << where;
  EXPECT_EQ(t.left_speaks + t.right_speaks, 1) << where;
  const bool left = t.left_speaks != 0;
  const char* const* lines = left ? t.left_lines : t.right_lines;
  int count = 0;
  for (int l = 0; l < 3; ++l) {
    if (lines[l] == nullptr || lines[l][0] == '\0') continue;
    EXPECT_EQ(l, count) << where << ": lines fill from the top row";
    ++count;
    CheckLine(lines[l], where);
  }
  return {step, static_cast<uint8_t>(left ? 1 : 2), left ? t.left_expression : t.right_expression, count, next};
}

// Runs the boss through `state` (0 the entry, 99 after the defeat) with cancel
// held, so that every step lasts its minimum, and reads each dialogue step
// off the talk record as it stood on the step's last frame.
std::vector<Expected> PlayDialogue(GameObject& b, void (*update)(GameObject&), uint32_t state,
                                   const std::string& name) {
  std::vector<Expected> seen;
  g_input.held_actions = kActionFocus;
  for (int f = 0; f < 20000 && b.in_use != 0 && b.state == state; ++f) {
    const TalkState before = g_game.talk;
    const uint32_t step = b.sub_state;
    update(b);
    if (b.sub_state != step && step >= 10 && step < 50) {
      seen.push_back(Shown(before, step, b.state == state ? b.sub_state : 50, name));
    }
    if (state != 0 && b.sub_state == 50) break;  // the fly-off
  }
  return seen;
}

// The boss as a stage brings it, talk mode on: its entry dialogue, then each
// attack phase emptied at once, then its post-fight dialogue.
void CheckBossDialogues(void (*create)(GameObject&), void (*update)(GameObject&),
                        const std::vector<Expected>& entry, const std::vector<Expected>& post,
                        const std::string& name) {
  gametest::ResetGameGlobals();
  g_player.in_use = 1;
  g_player.x = 150.0;
  g_player.y = 420.0;
  g_find_free_index = 3;
  GameObject& b = g_enemies[3];
  create(b);
  g_game.talk.talk_mode = 1;
  const std::vector<Expected> seen_entry = PlayDialogue(b, update, 0, name + " entry");
  ASSERT_EQ(b.state, 1u) << name;
  for (int f = 0; f < 20000 && b.state != kBossDefeated; ++f) {
    b.life = 0.0;
    b.killed = 1;
    update(b);
  }
  ASSERT_EQ(b.state, kBossDefeated) << name;
  const std::vector<Expected> seen_post = PlayDialogue(b, update, kBossDefeated, name + " post");
  EXPECT_EQ(b.sub_state, 50u) << name;
  for (const auto& [seen, expected, which] :
       {std::tuple{&seen_entry, &entry, "entry"}, std::tuple{&seen_post, &post, "post"}}) {
    ASSERT_EQ(seen->size(), expected->size()) << name << " " << which;
    for (size_t i = 0; i < seen->size(); ++i) {
      const Expected& g = (*seen)[i];
      const Expected& e = (*expected)[i];
      const std::string where = name + " " + which + " step " + std::to_string(e.step);
      EXPECT_EQ(g.step, e.step) << where;
      EXPECT_EQ(g.side, e.side) << where;
      EXPECT_EQ(g.expression, e.expression) << where;
      EXPECT_EQ(g.lines, e.lines) << where;
      EXPECT_EQ(g.next, e.next) << where;
    }
  }
}

// The steps below are those the boss descriptions give (step, side, expression,
// lines, next), read back from what each boss shows while it talks.
TEST(Story, Stage1DialoguesMatchTheirBosses) {
  CheckBossDialogues(CreateBoss1A, UpdateBoss1A,
                     {{10, 1, 1, 1, 11}, {11, 2, 1, 1, 12}, {12, 1, 1, 2, 14}, {14, 2, 1, 2, 15},
                      {15, 1, 1, 2, 16}, {16, 2, 1, 2, 17}, {17, 1, 1, 1, 50}},
                     {{10, 1, 1, 2, 11}, {11, 2, 1, 1, 12}, {12, 1, 1, 1, 50}}, "1A");
  CheckBossDialogues(CreateBoss1B, UpdateBoss1B,
                     {{10, 2, 1, 2, 11}, {11, 1, 2, 2, 12}, {12, 2, 2, 1, 50}},
                     {{10, 2, 1, 2, 11}, {11, 1, 1, 2, 12}, {12, 2, 1, 2, 15}, {15, 1, 1, 2, 16},
                      {16, 2, 1, 1, 17}, {17, 2, 1, 1, 50}},
                     "1B");
}

TEST(Story, Stage2DialoguesMatchTheirBosses) {
  CheckBossDialogues(CreateBoss2A, UpdateBoss2A,
                     {{10, 2, 1, 2, 11}, {11, 1, 1, 2, 12}, {12, 1, 1, 1, 13}, {13, 2, 1, 1, 14},
                      {14, 1, 1, 1, 15}, {15, 2, 1, 1, 50}},
                     {{10, 2, 1, 3, 11}, {11, 1, 1, 2, 12}, {12, 2, 1, 2, 50}}, "2A");
  CheckBossDialogues(CreateBoss2B, UpdateBoss2B,
                     {{10, 2, 1, 1, 11}, {11, 1, 1, 3, 12}, {12, 2, 1, 3, 14}, {14, 2, 1, 2, 50}},
                     {{10, 2, 1, 1, 11}, {11, 1, 1, 2, 13}, {13, 2, 1, 2, 14}, {14, 1, 1, 2, 50}}, "2B");
  CheckLine(kBossStories[kBoss2A].caption, "2A caption");
  CheckLine(kBossStories[kBoss2B].caption, "2B caption");
  CheckLine(kBossStories[kBoss2B].music_credit, "2B credit");
  CheckLine(kStage2MusicCredit, "stage 2 credit");
  EXPECT_EQ(kBossStories[kBoss2A].music_credit, nullptr);
}

TEST(Story, Stage3DialoguesMatchTheirBosses) {
  CheckBossDialogues(CreateBoss3A, UpdateBoss3A,
                     {{10, 1, 1, 1, 11}, {11, 2, 1, 1, 12}, {12, 1, 1, 2, 13}, {13, 2, 1, 2, 15},
                      {15, 2, 1, 2, 16}, {16, 1, 1, 2, 17}, {17, 2, 1, 3, 50}},
                     {{10, 1, 1, 1, 11}, {11, 2, 1, 2, 13}, {13, 2, 1, 2, 16}, {16, 1, 1, 1, 18},
                      {18, 2, 1, 2, 19}, {19, 1, 1, 3, 50}},
                     "3A");
  CheckBossDialogues(CreateBoss3B, UpdateBoss3B,
                     {{10, 1, 1, 1, 11}, {11, 2, 1, 3, 12}, {12, 1, 1, 1, 13}, {13, 2, 1, 1, 14},
                      {14, 1, 1, 2, 15}, {15, 2, 1, 2, 16}, {16, 2, 1, 2, 50}},
                     {{10, 2, 1, 1, 11}, {11, 1, 1, 1, 13}, {13, 1, 1, 2, 14}, {14, 2, 1, 2, 15},
                      {15, 1, 1, 1, 50}},
                     "3B");
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
    if (!kBossSetups[id].boss_track) { EXPECT_EQ(s.music_credit, nullptr) << name; }
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
  CheckBossDialogues(CreateBoss4, UpdateBoss4, boss4_entry, boss4_post, "4");
  CheckBossDialogues(CreateBoss5, UpdateBoss5, boss5_entry, boss5_post, "5");
  for (const char* text : {kBossStories[kBoss4].caption, kBossStories[kBoss4].music_credit,
                           kBossStories[kBoss5].caption, kBossStories[kBoss5].music_credit,
                           static_cast<const char*>(kStage4MusicCredit),
                           static_cast<const char*>(kStage5MusicCredit)}) {
    CheckLine(text, "stage 4 and 5 captions and credits");
  }
}

}  // namespace
