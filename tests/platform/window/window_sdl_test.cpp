// The SDL back end's translations, which need no display: scancodes to
// virtual keys and text between UTF-8 and code page 932.
#include <gtest/gtest.h>

#include "platform/window/window.h"
#include "platform/window/window_internal.h"
#include "tests/support/sjis.h"

namespace {

using plat::detail::sdl::ScancodeToVirtualKey;

TEST(SdlTranslation, ScancodesBecomeVirtualKeys) {
  // Scancodes are the keyboard's USB usage numbers.
  EXPECT_EQ(ScancodeToVirtualKey(4), 'A');
  EXPECT_EQ(ScancodeToVirtualKey(29), 'Z');
  EXPECT_EQ(ScancodeToVirtualKey(30), '1');
  EXPECT_EQ(ScancodeToVirtualKey(39), '0');
  EXPECT_EQ(ScancodeToVirtualKey(40), plat::kVkReturn);
  EXPECT_EQ(ScancodeToVirtualKey(41), plat::kVkEscape);
  EXPECT_EQ(ScancodeToVirtualKey(44), plat::kVkSpace);
  EXPECT_EQ(ScancodeToVirtualKey(58), plat::kVkF1);
  EXPECT_EQ(ScancodeToVirtualKey(69), plat::kVkF1 + 11);
  EXPECT_EQ(ScancodeToVirtualKey(76), plat::kVkDelete);
  EXPECT_EQ(ScancodeToVirtualKey(79), plat::kVkRight);
  EXPECT_EQ(ScancodeToVirtualKey(80), plat::kVkLeft);
  EXPECT_EQ(ScancodeToVirtualKey(81), plat::kVkDown);
  EXPECT_EQ(ScancodeToVirtualKey(82), plat::kVkUp);
  EXPECT_EQ(ScancodeToVirtualKey(89), plat::kVkNumpad0 + 1);
  EXPECT_EQ(ScancodeToVirtualKey(98), plat::kVkNumpad0);
  EXPECT_EQ(ScancodeToVirtualKey(224), plat::kVkLControl);
  EXPECT_EQ(ScancodeToVirtualKey(229), plat::kVkRShift);
  EXPECT_EQ(ScancodeToVirtualKey(0), 0);
  EXPECT_EQ(ScancodeToVirtualKey(511), 0);
}

// Key messages of the keypad follow NumLock as a Windows keyboard's do: the
// digits with it on, the navigation keys printed under them with it off.
// Scancodes 89-99 are keypad 1-9, 0 and the point.
TEST(SdlTranslation, KeypadKeysFollowNumLock) {
  using plat::detail::sdl::ReportedVirtualKey;
  const int off[11] = {plat::kVkEnd,  plat::kVkDown, plat::kVkNext, plat::kVkLeft,   0x0C,        plat::kVkRight,
                       plat::kVkHome, plat::kVkUp,   plat::kVkPrior, plat::kVkInsert, plat::kVkDelete};
  const int on[11] = {0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x60, 0x6E};
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(ReportedVirtualKey(89 + i, false), off[i]) << "scancode " << 89 + i;
    EXPECT_EQ(ReportedVirtualKey(89 + i, true), on[i]) << "scancode " << 89 + i;
  }
  // Keys outside the keypad's digit block do not change.
  EXPECT_EQ(ReportedVirtualKey(80, false), plat::kVkLeft);
  EXPECT_EQ(ReportedVirtualKey(88, false), plat::kVkReturn);  // keypad Enter
  EXPECT_EQ(ReportedVirtualKey(4, false), 'A');
}

TEST(SdlTranslation, TextCrossesBetweenUtf8AndCodePage932) {
  using plat::detail::sdl::Cp932ToUtf8;
  using plat::detail::sdl::Utf8ToCp932;
  EXPECT_EQ(Utf8ToCp932("Quillona Ver2.00"), "Quillona Ver2.00");
  EXPECT_EQ(Utf8ToCp932("完了"), testsupport::Sjis("完了"));
  EXPECT_EQ(Cp932ToUtf8(testsupport::Sjis("二重起動")), "二重起動");
  // A lone lead byte cannot convert: it becomes '?' and the rest survives.
  EXPECT_EQ(Cp932ToUtf8(std::string("A\x82") ), "A?");
  EXPECT_EQ(Utf8ToCp932("\xF0\x9F\x98\x80x"), "????x");
}

}  // namespace
