// The tests' own code page 932 conversion, used against library text everywhere.
#include <gtest/gtest.h>

#include "tests/support/sjis.h"

TEST(SjisSupport, ConvertsJapaneseBothWays) {
  EXPECT_EQ(testsupport::Sjis("完了\n"), std::string("\x8a\xae\x97\xb9\x0a"));
  EXPECT_EQ(testsupport::Utf8("\x8a\xae\x97\xb9"), "完了");
}
