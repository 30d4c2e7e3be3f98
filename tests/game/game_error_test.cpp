// Game errors: the stop flag, the error text, the exit status and the text
// shown on the standard error stream.
#include <gtest/gtest.h>

#include "game/frame/game_error.h"
#include "tests/game/game_fixture.h"
#include "tests/support/sjis.h"

namespace {

using gametest::GameTest;
using testsupport::Sjis;

TEST_F(GameTest, RaiseSetsTheStopFlagAndKeepsTheTag) {
  EXPECT_FALSE(RaiseGameError("stg_load"));
  EXPECT_EQ(g_stop_flag, 1);
  EXPECT_STREQ(g_error_text, "stg_load");
  NoteGameError("_ET_F1");
  EXPECT_STREQ(g_error_text, "_ET_F1");
  // A tag longer than the buffer is cut, never overrun.
  const std::string long_tag(200, 'x');
  RaiseGameError(long_tag.c_str());
  EXPECT_EQ(std::string(g_error_text), std::string(sizeof g_error_text - 1, 'x'));
}

TEST(GameError, ExitStatusIsZeroOnlyForQuittingOnPurpose) {
  EXPECT_EQ(ExitStatusForError(Sjis("EXIT 終了").c_str()), 0);
  EXPECT_EQ(ExitStatusForError(Sjis("エスケープキー").c_str()), 0);
  EXPECT_EQ(ExitStatusForError(Sjis("メッセージループ例外").c_str()), 0);
  EXPECT_EQ(ExitStatusForError(""), 0);
  EXPECT_EQ(ExitStatusForError(Sjis("windowサイズ設定ミス").c_str()), 1);
  EXPECT_EQ(ExitStatusForError("stm0a"), 1);
  EXPECT_EQ(ExitStatusForError("INITA___"), 1);
}

TEST(GameError, TagsBecomeUtf8) {
  for (const char* tag : {"EXIT 終了", "windowサイズ設定ミス", "個別描画設定なし", "中ザコB用 ５way",
                          "中ザコC用 ばらまき"}) {
    EXPECT_EQ(ErrorTagToUtf8(Sjis(tag).c_str()), tag);
  }
  EXPECT_EQ(ErrorTagToUtf8("EN_ZA_n"), "EN_ZA_n");
  EXPECT_EQ(ErrorTagToUtf8("\x82\xa0z"), "\\x82\\xA0z");
}

}  // namespace
