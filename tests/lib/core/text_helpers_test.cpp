#include "lib/core/text_helpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "lib/core/charset.h"
#include "tests/support/sjis.h"

namespace {

// An exact-size heap copy, so the sanitizer sees any read past the end.
std::unique_ptr<char[]> Exact(const std::string& s) {
  auto p = std::make_unique<char[]>(s.size() + 1);
  std::memcpy(p.get(), s.c_str(), s.size() + 1);
  return p;
}

TEST(Strings, CopyAndCompare) {
  char buf[16];
  EXPECT_EQ(StrCopy(buf, "abc"), buf);
  EXPECT_STREQ(buf, "abc");
  std::memset(buf, 'x', sizeof buf);
  StrCopyN(buf, "abcdef", 3);
  EXPECT_STREQ(buf, "abc");
  StrCopyN(buf, "ab", 5);
  EXPECT_STREQ(buf, "ab");
  StrCopyN(buf, "ab", 0);
  EXPECT_STREQ(buf, "");
  StrCopyN(buf, "ab", -4);
  EXPECT_STREQ(buf, "");

  EXPECT_EQ(StrCompare("a", "b"), 1);
  EXPECT_EQ(StrCompare("b", "a"), 1);
  EXPECT_EQ(StrCompare("abc", "abc"), 0);
  EXPECT_EQ(StrCompare("ab", "abc"), 1);

  EXPECT_EQ(StrCompareN("abcX", "abcY", 3), 0);
  EXPECT_EQ(StrCompareN("abcX", "abcY", 4), 1);
  EXPECT_EQ(StrCompareN("a", "b", 0), 0);
  EXPECT_EQ(StrCompareN("a", "a", -1), 1);
  // Strings that end together are equal even when n reaches past them.
  auto a = Exact("ab"), b = Exact("ab");
  EXPECT_EQ(StrCompareN(a.get(), b.get(), 100), 0);
  EXPECT_EQ(StrCompareN(a.get(), "abc", 100), 1);
}

TEST(Strings, DoubleByteAwareSearchAndUpper) {
  // 0x95 0x5C is one Shift-JIS character whose second byte is a backslash.
  auto hyo = Exact("\x95\x5C");
  EXPECT_EQ(StrChrDbcs(hyo.get(), 0x5C), nullptr);
  auto path = Exact("a\x95\x5C\\b");
  EXPECT_EQ(StrChrDbcs(path.get(), '\\'), path.get() + 3);
  EXPECT_EQ(StrChrDbcs(path.get(), 'b'), path.get() + 4);
  EXPECT_EQ(StrChrDbcs(path.get(), 0), nullptr);
  EXPECT_EQ(StrChrDbcs("", 'a'), nullptr);
  // A lead byte at the very end must not carry the scan past the terminator.
  auto broken = Exact("ab\x81");
  EXPECT_EQ(StrChrDbcs(broken.get(), 'z'), nullptr);
  EXPECT_EQ(StrChrDbcs(broken.get(), '\x81'), broken.get() + 2);

  // "ａ" (full width, 0x82 0x81) keeps its bytes; its trail byte is no letter
  // anyway, but 0x83 0x61 ("ヂ") has a trail byte 'a' that must stay.
  std::string text = "ab" + testsupport::Sjis("ヂ") + "cz";
  ASSERT_EQ(text.substr(2, 2), "\x83\x61");
  auto upper = Exact(text);
  char* end = StrUpperDbcs(upper.get());
  EXPECT_EQ(std::string(upper.get()), "AB\x83\x61" "CZ");
  EXPECT_EQ(end, upper.get() + text.size());
  auto broken_upper = Exact("a\x81");
  EXPECT_EQ(StrUpperDbcs(broken_upper.get()), broken_upper.get() + 2);
  EXPECT_STREQ(broken_upper.get(), "A\x81");
}

TEST(Strings, HangeulCharSetTakesEveryHighByteAsLead) {
  SetCharSet(kCharSetHangeul, 949);
  auto text = Exact("\xA0\x5C\\");
  EXPECT_EQ(StrChrDbcs(text.get(), '\\'), text.get() + 2);
  SetCharSet(kCharSetShiftJis, 932);
  // 0xA0 is a single-byte character in Shift-JIS.
  EXPECT_EQ(StrChrDbcs(text.get(), '\\'), text.get() + 1);
  SetCharSet(kCharSetDefault, 0);
}

TEST(Memory, FillCompareCopyMove) {
  unsigned char buf[16] = {};
  EXPECT_EQ(FillBytes(buf, 0x41, 4), 0x41);
  EXPECT_EQ(FillBytes(buf, 0x41, 0), 0);
  EXPECT_EQ(buf[3], 0x41);
  EXPECT_EQ(buf[4], 0);
  EXPECT_EQ(CompareBytes("abc", "abd", 2), 0);
  EXPECT_EQ(CompareBytes("abc", "abd", 3), 1);
  EXPECT_EQ(CompareBytes("x", "y", 0), 0);

  // A forward byte copy into an overlapping block above the source repeats
  // the leading bytes; MoveBytes keeps the original bytes.
  unsigned char a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  CopyBytes(a + 2, a, 6);
  const unsigned char repeated[8] = {1, 2, 1, 2, 1, 2, 1, 2};
  EXPECT_EQ(std::memcmp(a, repeated, 8), 0);
  unsigned char m[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  MoveBytes(m + 2, m, 6);
  const unsigned char moved_up[8] = {1, 2, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(std::memcmp(m, moved_up, 8), 0);
  unsigned char d[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  MoveBytes(d, d + 3, 5);
  const unsigned char moved_down[8] = {4, 5, 6, 7, 8, 6, 7, 8};
  EXPECT_EQ(std::memcmp(d, moved_down, 8), 0);
  MoveBytes(d, d, 8);
  EXPECT_EQ(std::memcmp(d, moved_down, 8), 0);
}

}  // namespace
