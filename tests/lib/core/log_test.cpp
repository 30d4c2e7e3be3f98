#include "lib/core/log.h"

#include <gtest/gtest.h>

#include <string>

#include "lib/core/memory.h"
#include "platform/kernel/kernel.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"

namespace {

using testsupport::LogCapture;
using testsupport::StripStamps;

TEST(LogTest, ContinuedTextGetsOneStampAndCrLf) {
  LogCapture log;
  plat::AdvanceVirtualClock(1234 * 1000);
  EXPECT_EQ(WriteLogLine("first part, "), -1);
  plat::AdvanceVirtualClock(5000);
  EXPECT_EQ(WriteLogLine("second part\n"), -1);
  WriteLogLine("next\n");
  EXPECT_EQ(log.File(), "1234:first part, second part\r\n1239:next\r\n");
  EXPECT_EQ(log.Debug(), log.File());
}

TEST(LogTest, LineFeedConversion) {
  LogCapture log;
  SetLogTimeStamps(0);
  WriteLogLine("\na\nb\n");  // a line feed at the very start is converted too
  WriteLogLine("x\r\ny\nz\n");  // already CR LF: the whole rest stays as it is
  WriteLogLine("p\nq\r\nr\n");  // converted up to the first CR LF only
  EXPECT_EQ(log.File(), "\r\na\r\nb\r\nx\r\ny\nz\np\r\nq\r\nr\n");
}

TEST(LogTest, DoubleByteTrailLineFeedIsNotABreak) {
  LogCapture log;
  SetLogTimeStamps(0);
  WriteLogLine("\x81\x0A" "A\n");
  // 0x81 0x0A is one character; only the last line feed is converted.
  EXPECT_EQ(log.File(), "\x81\x0A" "A\r\n");
}

TEST(LogTest, IndentationPutsTabsAfterTheStamp) {
  LogCapture log;
  LogIndentIn();
  LogIndentIn();
  WriteLogLine("deep\nnext line\n");
  LogIndentOut();
  WriteLogLine("one\n");
  LogIndentOut();
  LogIndentOut();  // stays at 0
  WriteLogLine("none\n");
  LogIndentIn();
  WriteLogLine("again\n");
  // Tabs go in front of each new line written, not in front of line feeds
  // inside one text.
  EXPECT_EQ(StripStamps(log.File()), "\t\tdeep\r\nnext line\r\n\tone\r\nnone\r\n\tagain\r\n");
  LogFileStart();  // the start resets the level
  WriteLogLine("reset\n");
  EXPECT_EQ(StripStamps(log.File()), "reset\r\n");
}

TEST(LogTest, LogOffWritesNothingAnywhere) {
  LogCapture log;
  SetLogFileEnabled(0);
  EXPECT_EQ(WriteLogLine("hidden\n"), -1);
  EXPECT_EQ(WriteLogLineFmt("%d", 5), -1);
  EXPECT_EQ(log.File(), "");
  EXPECT_EQ(log.Debug(), "");
  // Starting while off does not even create the file.
  std::filesystem::remove(log.Folder() / "Log.txt");
  EXPECT_EQ(LogFileStart(), 0);
  EXPECT_FALSE(std::filesystem::exists(log.Folder() / "Log.txt"));
  SetLogFileEnabled(1);
}

TEST(LogTest, NoFolderOrNoFileWritesNothing) {
  LogCapture log;
  SetLogFolder("");
  WriteLogLine("lost\n");
  SetLogFolder("missing-folder");
  WriteLogLine("lost too\n");
  EXPECT_EQ(log.Debug(), "");
  SetLogFolder(".");
  WriteLogLine("kept\n");
  EXPECT_EQ(StripStamps(log.File()), "kept\r\n");
}

TEST(LogTest, StartDeletesTheOldFile) {
  LogCapture log;
  WriteLogLine("old\n");
  LogFileStart();
  EXPECT_EQ(log.File(), "");
  WriteLogLine("new\n");
  EXPECT_EQ(log.File(), "0:new\r\n");
}

TEST(LogTest, FolderWithBackslashAndSubfolder) {
  LogCapture log;
  std::filesystem::create_directory(log.Folder() / "sub");
  SetLogFolder("sub\\");
  WriteLogLine("in sub\n");
  EXPECT_EQ(StripStamps(log.ReadFile("sub/Log.txt")), "in sub\r\n");
}

TEST(LogTest, DatedFileNameFromTheFixedClock) {
  LogCapture log;
  plat::LocalTime fixed{2024, 1, 5, 13, 7, 30, 0, 5};
  plat::SetFixedLocalTime(&fixed);
  SetLogDatedFileName(1);
  LogFileStart();
  EXPECT_STREQ(GetLogFileName(), "Log2024_1_5_13_7_30.txt");
  WriteLogLine("dated\n");
  EXPECT_EQ(log.ReadFile("Log2024_1_5_13_7_30.txt"), "0:dated\r\n");
  plat::SetFixedLocalTime(nullptr);
}

TEST(LogTest, LongTextsOfOnlyLineFeeds) {
  LogCapture log;
  SetLogTimeStamps(0);
  for (size_t length : {1u, 254u, 255u, 256u, 300u, 5000u}) {
    log.Clear();
    int blocks = GetAllocationCount();
    WriteLogLine(std::string(length, '\n').c_str());
    std::string expected;
    for (size_t i = 0; i < length; ++i) expected += "\r\n";
    EXPECT_EQ(log.Debug(), expected) << length;
    EXPECT_EQ(GetAllocationCount(), blocks);  // the long-text copy is freed
  }
}

TEST(LogTest, FormattedLines) {
  LogCapture log;
  SetLogTimeStamps(0);
  EXPECT_EQ(WriteLogLineFmt("%s=%d %.2f", "x", -3, 1.5), -1);
  EXPECT_EQ(log.File(), "x=-3 1.50\r\n");
  // A formatted line longer than the usual buffer is written whole.
  log.Clear();
  std::string long_text(3000, 'y');
  WriteLogLineFmt("%s", long_text.c_str());
  EXPECT_EQ(log.Debug(), long_text + "\r\n");

  char buffer[64];
  EXPECT_EQ(FormatString(buffer, "%05d|%s", 42, "ab"), 0);
  EXPECT_STREQ(buffer, "00042|ab");
}

TEST(LogTest, SoundEntryPointWritesTheSame) {
  LogCapture log;
  EXPECT_EQ(WriteLogLineSound("from sound\n"), -1);
  EXPECT_EQ(log.File(), "0:from sound\r\n");
}

TEST(LogTest, LibraryTextIsCodePage932) {
  LogCapture log;
  SetLogTimeStamps(0);
  SetLogFolder(std::string(300, 'a').c_str());  // refused with a library message
  std::string expected = testsupport::Sjis("ログフォルダのパスが長すぎます\r\n");
  EXPECT_EQ(log.Debug(), expected);
  // ロ is 83 8d in code page 932.
  ASSERT_GE(log.Debug().size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(log.Debug()[0]), 0x83);
  EXPECT_EQ(static_cast<unsigned char>(log.Debug()[1]), 0x8d);
}

}  // namespace
