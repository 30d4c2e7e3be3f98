// Speech windows and portraits following the dialogue record: pop-in and
// fade timing, hiding with talk mode, the portrait slide and its pictures,
// and the game errors of bad sides, expressions and portrait sets.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "game/bosses/talk.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

class TalkTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    g_game.talk.talk_mode = 1;
    g_game.opponent_portrait_set = 1;
  }
  static void Window(GameObject& r, int n = 1) {
    for (int i = 0; i < n; ++i) UpdateTalkWindow(r);
  }
  static void Portrait(GameObject& r, int n = 1) {
    for (int i = 0; i < n; ++i) UpdatePortrait(r);
  }
  GameObject window_{};
  GameObject portrait_{};
};

TEST_F(TalkTest, WindowPopsInOverItsFramesAndFadesIn10) {
  CreateTalkWindow(window_, kTalkLeft);
  EXPECT_EQ(window_.kind, kKindTalkWindow);
  EXPECT_EQ(window_.graphic_id, 479u);
  EXPECT_EQ(window_.draw_layer, 1);
  EXPECT_EQ(window_.generic_draw, 0);
  Window(window_);
  EXPECT_EQ(window_.visible, 0);
  EXPECT_EQ(window_.state, 0u);  // nobody speaks yet
  g_game.talk.left_speaks = 1;
  Window(window_, 2);  // hidden -> pop-in start -> shown
  ASSERT_EQ(window_.state, 2u);
  EXPECT_EQ(window_.visible, 1);
  EXPECT_EQ(window_.blend_value, 0.0);
  Window(window_, 18);
  EXPECT_EQ(window_.scale, 1.0);
  EXPECT_EQ(window_.blend_value, 180.0);
  Window(window_, 2);
  EXPECT_EQ(window_.blend_value, 192.0);  // full opacity after 20 frames
  Window(window_, 29);
  EXPECT_EQ(window_.kind_values[kTextAlpha], 245.0);
  Window(window_, 2);
  EXPECT_EQ(window_.kind_values[kTextAlpha], 255.0);  // 51 frames for the text
  // The side stops speaking: fade by 20 a frame, 10 frames from 192.
  g_game.talk.left_speaks = 0;
  Window(window_, 2);
  ASSERT_EQ(window_.state, 4u);
  int frames = 0;
  while (window_.state == 4u && frames < 100) {
    Window(window_);
    ++frames;
  }
  EXPECT_EQ(frames, 10);
  EXPECT_EQ(window_.blend_value, 0.0);
  EXPECT_EQ(window_.kind_values[kTextAlpha], 55.0);
  EXPECT_EQ(window_.scale, 1.0);  // the scale stays
  Window(window_);
  EXPECT_EQ(window_.visible, 0);
  // Speaking again pops it in anew.
  g_game.talk.left_speaks = 1;
  Window(window_, 2);
  EXPECT_EQ(window_.state, 2u);
  EXPECT_EQ(window_.scale, 0.1);
}

TEST_F(TalkTest, WindowFadesFromTheOpacityReachedWhilePoppingIn) {
  CreateTalkWindow(window_, kTalkRight);
  EXPECT_EQ(window_.graphic_id, 478u);
  g_game.talk.right_speaks = 1;
  Window(window_, 2 + 5);
  EXPECT_EQ(window_.blend_value, 50.0);
  g_game.talk.right_speaks = 0;
  Window(window_);  // the last pop-in step, then the switch
  EXPECT_EQ(window_.blend_value, 60.0);
  Window(window_);  // fade start
  Window(window_, 3);
  EXPECT_EQ(window_.state, 5u);
  EXPECT_EQ(window_.blend_value, 0.0);
}

TEST_F(TalkTest, TalkModeOffHidesAtOnceWithoutFading) {
  CreateTalkWindow(window_, kTalkLeft);
  CreatePortrait(portrait_, kTalkLeft);
  g_game.talk.left_speaks = 1;
  g_game.talk.left_present = 1;
  g_game.talk.left_highlighted = 1;
  g_game.talk.left_expression = 1;
  Window(window_, 10);
  Portrait(portrait_, 10);
  ASSERT_EQ(window_.state, 2u);
  ASSERT_EQ(portrait_.state, 2u);
  g_game.talk.talk_mode = 0;
  Window(window_);
  Portrait(portrait_);
  EXPECT_EQ(window_.state, 0u);
  EXPECT_EQ(portrait_.state, 0u);
  Window(window_);
  Portrait(portrait_);
  EXPECT_EQ(window_.visible, 0);
  EXPECT_EQ(portrait_.visible, 0);
}

TEST_F(TalkTest, PortraitSlidesInBrightensDimsAndComesBackWithTheNewPicture) {
  CreatePortrait(portrait_, kTalkLeft);
  EXPECT_EQ(portrait_.kind, kKindPortrait);
  EXPECT_EQ(portrait_.graphic_id, 136u);
  TalkState& t = g_game.talk;
  t.left_present = 1;
  t.left_highlighted = 1;
  t.left_expression = 2;
  Portrait(portrait_, 2);
  ASSERT_EQ(portrait_.state, 2u);
  EXPECT_EQ(portrait_.graphic_id, 137u);
  EXPECT_EQ(portrait_.visible, 1);
  Portrait(portrait_, 12);
  // 50 pixels along -10 degrees in the first 10 frames, then still.
  const double rad = -10.0 * std::numbers::pi / 180.0;
  EXPECT_NEAR(portrait_.x, 50.0 + 50.0 * std::cos(rad), 1e-6);
  EXPECT_NEAR(portrait_.y, 270.0 + 50.0 * std::sin(rad), 1e-6);
  EXPECT_EQ(portrait_.blend_value, 244.0);
  t.left_highlighted = 0;
  Portrait(portrait_, 2);
  ASSERT_EQ(portrait_.state, 4u);
  EXPECT_EQ(portrait_.blend_value, 128.0);
  Portrait(portrait_, 12);
  EXPECT_NEAR(portrait_.x, 50.0, 1e-9);
  EXPECT_NEAR(portrait_.y, 270.0, 1e-9);
  EXPECT_EQ(portrait_.blend_value, 128.0);
  t.left_highlighted = 1;
  t.left_expression = 4;
  Portrait(portrait_, 2);
  EXPECT_EQ(portrait_.state, 2u);
  EXPECT_EQ(portrait_.graphic_id, 139u);
  Portrait(portrait_, 10);
  EXPECT_NEAR(portrait_.x, 50.0 + 50.0 * std::cos(rad), 1e-6);
}

TEST_F(TalkTest, RightPortraitPicturesByOpponentSet) {
  CreatePortrait(portrait_, kTalkRight);
  EXPECT_EQ(portrait_.graphic_id, 482u);
  TalkState& t = g_game.talk;
  t.right_present = 1;
  t.right_highlighted = 1;
  struct Case {
    uint32_t set, expression, graphic;
  };
  const Case cases[] = {{1, 1, 484}, {1, 4, 487}, {2, 1, 488}, {2, 3, 490}, {3, 1, 487}, {3, 2, 19}};
  for (const Case& c : cases) {
    g_game.opponent_portrait_set = c.set;
    t.right_expression = c.expression;
    t.talk_mode = 0;
    Portrait(portrait_);
    t.talk_mode = 1;
    Portrait(portrait_, 3);
    EXPECT_EQ(portrait_.graphic_id, c.graphic) << c.set << " " << c.expression;
    // The right one slides left and slightly up.
    EXPECT_LT(portrait_.x, 360.0);
    EXPECT_LT(portrait_.y, 270.0);
  }
  EXPECT_EQ(g_stop_flag, 0);
}

struct ErrorCase {
  uint32_t side;
  uint32_t set;
  uint32_t expression;
  bool dim;
  const char* tag;
};

TEST_F(TalkTest, BadPicturesRaiseTheirTagsAndKeepTheGraphic) {
  const ErrorCase cases[] = {
      {kTalkLeft, 1, 5, false, "SK_TAC_m1"},    {kTalkLeft, 1, 0, true, "SK_TAC_m1"},
      {kTalkRight, 1, 5, false, "SK_TAC_m11"},  {kTalkRight, 2, 5, false, "SK_TAC_m12"},
      {kTalkRight, 3, 3, false, "SK_TAC_m 13"}, {kTalkRight, 4, 1, false, "SK_TAC_m2ss"},
      {kTalkRight, 1, 5, true, "SK_TAC_m 21"},  {kTalkRight, 2, 5, true, "SK_TAC_m 22"},
      {kTalkRight, 3, 4, true, "SK_TAC_m 23"},  {kTalkRight, 0, 1, true, "SK_TAC_mss"},
  };
  for (const ErrorCase& c : cases) {
    gametest::ResetGameGlobals();
    TalkState& t = g_game.talk;
    t.talk_mode = 1;
    GameObject r{};
    CreatePortrait(r, c.side);
    uint8_t& present = c.side == kTalkLeft ? t.left_present : t.right_present;
    uint8_t& lit = c.side == kTalkLeft ? t.left_highlighted : t.right_highlighted;
    uint32_t& expression = c.side == kTalkLeft ? t.left_expression : t.right_expression;
    present = 1;
    lit = 1;
    if (c.dim) {  // lit with a good picture first, then dimmed with the bad one
      expression = 1;
      g_game.opponent_portrait_set = 1;
      Portrait(r, 3);
      ASSERT_EQ(g_stop_flag, 0);
      lit = 0;
    }
    g_game.opponent_portrait_set = c.set;
    expression = c.expression;
    const uint32_t graphic = r.graphic_id;
    Portrait(r, 2);
    EXPECT_EQ(g_stop_flag, 1) << c.tag;
    EXPECT_STREQ(g_error_text, c.tag);
    EXPECT_EQ(r.graphic_id, graphic) << c.tag;
  }
}

TEST_F(TalkTest, BadSidesRaiseTheirTags) {
  CreateTalkWindow(window_, 3);
  EXPECT_STREQ(g_error_text, "SK_KAW_n");
  EXPECT_EQ(window_.visible, 0);
  g_error_text[0] = '\0';
  CreatePortrait(portrait_, 0);
  EXPECT_STREQ(g_error_text, "SK_TAC_n2");
  EXPECT_EQ(portrait_.visible, 0);
}

}  // namespace
