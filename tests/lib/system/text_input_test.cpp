// The character buffer, key-string inputs and the IME: the ring's limits,
// the lead-byte wait, editing rules, selection, clipboard, and the IME
// messages that feed the buffer.
#include <cstring>
#include <string>

#include "tests/lib/system/input_fixture.h"
#include "tests/support/sjis.h"

namespace {

using inputtest::InputFixture;
using testsupport::Sjis;

void PushText(const std::string& bytes) {
  for (unsigned char c : bytes) PushInputChar(c);
}

std::string Text(int handle) { return FindKeyStringInput(handle)->text; }

class TextInputTest : public InputFixture {
 protected:
  void SetUp() override {
    InputFixture::SetUp();
    Start();
    // Drop what the start's own messages may have stocked.
    uint8_t c[2];
    while (PopInputChar(c, 1) != 0) {
    }
  }
  // A key-string input holding text, active, with the cursor where asked.
  int Field(int max_length, const std::string& text, int cursor, int digits = 0, int single = 0) {
    int h = MakeKeyStringInput(max_length, 1, single, digits);
    EXPECT_GE(h, 0);
    EXPECT_EQ(SetActiveKeyStringInput(h), 0);
    PushText(text);
    EXPECT_EQ(UpdateKeyStringInput(), 0);
    FindKeyStringInput(h)->cursor = cursor;
    return h;
  }
};

// ---- The ring -------------------------------------------------------------------------------

TEST_F(TextInputTest, RingHoldsTenTwentyFourBytesAndDropsTheNext) {
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(PushInputChar('a'), 0) << i;
  EXPECT_EQ(IsCharBufferFull(), 1);
  EXPECT_EQ(PushInputChar('b'), -1);
  uint8_t c[2];
  int n = 0;
  while (PopInputChar(c, 1) != 0) {
    EXPECT_EQ(c[0], 'a');
    ++n;
  }
  EXPECT_EQ(n, 1024);
  // Wrapping round the end keeps the order.
  for (int i = 0; i < 700; ++i) PushInputChar(static_cast<uint8_t>('0' + i % 10));
  for (int i = 0; i < 700; ++i) {
    ASSERT_EQ(PopInputChar(c, 1), 1);
    EXPECT_EQ(c[0], '0' + i % 10);
  }
}

TEST_F(TextInputTest, LoneLeadByteWaitsForItsSecondByte) {
  std::string kanji = Sjis("漢");
  ASSERT_EQ(kanji.size(), 2u);
  PushInputChar(static_cast<uint8_t>(kanji[0]));
  uint8_t c[2] = {9, 9};
  EXPECT_EQ(PopInputChar(c, 1), 0);
  EXPECT_EQ(PopInputChar(c, 0), 0);
  PushInputChar(static_cast<uint8_t>(kanji[1]));
  EXPECT_EQ(PopInputChar(c, 0), 2);  // a look leaves it in place
  EXPECT_EQ(PopInputChar(c, 1), 2);
  EXPECT_EQ(c[0], static_cast<uint8_t>(kanji[0]));
  EXPECT_EQ(c[1], static_cast<uint8_t>(kanji[1]));
  EXPECT_EQ(PopInputChar(c, 1), 0);
  // Control codes are never lead bytes; single bytes come out alone.
  PushInputChar('x');
  EXPECT_EQ(PopInputChar(c, 0), 1);
  EXPECT_EQ(c[1], 0);
  EXPECT_EQ(IsControlCode(0x10), 1);
  EXPECT_EQ(IsControlCode(0x15), 1);
  EXPECT_EQ(IsControlCode(0x08), 0);
  EXPECT_EQ(CountMultibyteChars(Sjis("a漢b").c_str(), 4), 3);
  EXPECT_EQ(CountMultibyteChars("abc", 0), 0);
  EXPECT_EQ(CountMultibyteChars("ab\0cd", 5), 2);
}

// ---- Editing --------------------------------------------------------------------------------------

TEST_F(TextInputTest, TypingIntoAFullFieldDropsTheLastCharacter) {
  int h = Field(4, "abcd", 2);
  PushText("X");
  UpdateKeyStringInput();
  EXPECT_EQ(Text(h), "abXc");
  EXPECT_EQ(FindKeyStringInput(h)->cursor, 3);
  EXPECT_EQ(FindKeyStringInput(h)->length, 4);
  // At the end the cursor moves back with the removed character.
  FindKeyStringInput(h)->cursor = 4;
  PushText("Y");
  UpdateKeyStringInput();
  EXPECT_EQ(Text(h), "abXY");
  EXPECT_EQ(FindKeyStringInput(h)->cursor, 4);
}

TEST_F(TextInputTest, DoubleByteCharacterLongerThanTheFieldIsRefused) {
  int h = Field(1, "a", 1);
  PushText(Sjis("漢"));
  PushText("b");
  EXPECT_EQ(UpdateKeyStringInput(), 0);  // returns: nothing loops for ever
  EXPECT_EQ(Text(h), "b");               // 'b' replaced 'a'; the kanji did not fit
  int two = Field(2, "", 0);
  PushText(Sjis("漢"));
  UpdateKeyStringInput();
  EXPECT_EQ(Text(two), Sjis("漢"));
  PushText("z");  // the kanji goes whole
  UpdateKeyStringInput();
  EXPECT_EQ(Text(two), "z");
}

TEST_F(TextInputTest, BackspaceDeleteAndArrowsStepOverDoubleByteCharacters) {
  std::string text = "a" + Sjis("漢") + "b";
  int h = Field(10, text, 3);
  KeyStringInputRecord* r = FindKeyStringInput(h);
  PushInputChar(0x1D);  // Left over the kanji
  UpdateKeyStringInput();
  EXPECT_EQ(r->cursor, 1);
  PushInputChar(0x1C);  // Right over it again
  UpdateKeyStringInput();
  EXPECT_EQ(r->cursor, 3);
  PushInputChar(0x08);  // Backspace takes both bytes
  UpdateKeyStringInput();
  EXPECT_EQ(Text(h), "ab");
  EXPECT_EQ(r->cursor, 1);
  r->cursor = 0;
  PushInputChar(0x10);  // Delete at the start
  UpdateKeyStringInput();
  EXPECT_EQ(Text(h), "b");
  PushInputChar(0x09);
  PushInputChar(0x1E);
  PushInputChar(0x1F);
  UpdateKeyStringInput();
  EXPECT_EQ(Text(h), "b");
  EXPECT_EQ(r->cursor, 0);
}

TEST_F(TextInputTest, DigitsOnlyAcceptsALeadingMinusAndOnePoint) {
  int h = Field(10, "", 0, 1);
  PushText("-1a.2.-3");
  UpdateKeyStringInput();
  EXPECT_EQ(Text(h), "-1.23");
  // A refused character still deletes the selection.
  KeyStringInputRecord* r = FindKeyStringInput(h);
  r->selection_start = 1;
  r->selection_end = 3;
  PushText("x");
  UpdateKeyStringInput();
  EXPECT_EQ(Text(h), "-23");
  EXPECT_EQ(r->cursor, 1);
  EXPECT_EQ(r->selection_start, -1);
  int single = Field(10, "", 0, 0, 1);
  PushText("a" + Sjis("漢") + "b");
  UpdateKeyStringInput();
  EXPECT_EQ(Text(single), "ab");
}

TEST_F(TextInputTest, ShiftHomeSelectsToTheStart) {
  int h = Field(10, "abcdefg", 5);
  KeyStringInputRecord* r = FindKeyStringInput(h);
  plat::HeadlessSetKey(plat::kVkLShift, true);
  NextMillisecond();
  PushInputChar(0x1A);
  UpdateKeyStringInput();
  EXPECT_EQ(r->selection_start, 5);
  EXPECT_EQ(r->selection_end, 0);
  EXPECT_EQ(r->cursor, 0);
  // Shift+End from there stretches the same selection to the end.
  PushInputChar(0x19);
  UpdateKeyStringInput();
  EXPECT_EQ(r->selection_start, 5);
  EXPECT_EQ(r->selection_end, 7);
  plat::HeadlessSetKey(plat::kVkLShift, false);
  NextMillisecond();
  PushInputChar(0x1A);  // Home without Shift drops it
  UpdateKeyStringInput();
  EXPECT_EQ(r->selection_start, -1);
  EXPECT_EQ(r->cursor, 0);
}

TEST_F(TextInputTest, CopyCutAndPaste) {
  int h = Field(20, "hello", 0);
  KeyStringInputRecord* r = FindKeyStringInput(h);
  r->selection_start = 4;
  r->selection_end = 1;
  PushInputChar(0x03);
  UpdateKeyStringInput();
  char buffer[16] = {};
  EXPECT_EQ(GetClipboardText(nullptr), 4);
  EXPECT_EQ(GetClipboardText(buffer), 0);
  EXPECT_STREQ(buffer, "ell");
  PushInputChar(0x18);
  UpdateKeyStringInput();
  EXPECT_EQ(Text(h), "ho");
  EXPECT_EQ(r->cursor, 1);
  // Pasting "12" stocks two bytes that the same pass inserts.
  SetClipboardText("12");
  PushInputChar(0x16);
  UpdateKeyStringInput();
  EXPECT_EQ(Text(h), "h12o");
  EXPECT_EQ(r->cursor, 3);
  uint8_t c[2];
  EXPECT_EQ(PopInputChar(c, 0), 0);
  // A clipboard that holds the paste code itself does not paste for ever.
  std::string loop = "x\x16y";
  SetClipboardText(loop.c_str());
  PushInputChar(0x16);
  EXPECT_EQ(UpdateKeyStringInput(), 0);
  EXPECT_EQ(Text(h), "h12xyo");
}

TEST_F(TextInputTest, EnterEndsAndEscapeCancelsWhenAllowed) {
  int h = Field(10, "ab", 2);
  PushText("c\r" "d");
  UpdateKeyStringInput();
  EXPECT_EQ(Text(h), "abc");
  EXPECT_EQ(FindKeyStringInput(h)->ended, 1);
  // The rest stays in the buffer.
  uint8_t c[2];
  EXPECT_EQ(PopInputChar(c, 1), 1);
  EXPECT_EQ(c[0], 'd');
  int e = Field(10, "", 0);
  PushInputChar(0x1B);
  UpdateKeyStringInput();
  EXPECT_EQ(FindKeyStringInput(e)->cancelled, 1);
  int no_cancel = MakeKeyStringInput(10, 0, 0, 0);
  SetActiveKeyStringInput(no_cancel);
  PushInputChar(0x1B);
  UpdateKeyStringInput();
  EXPECT_EQ(FindKeyStringInput(no_cancel)->ended, 0);
}

TEST_F(TextInputTest, HandlesAreCheckedAndTheLastDeleteSwitchesTheImeOff) {
  int h = MakeKeyStringInput(8, 0, 0, 0);
  ASSERT_GE(h, 0);
  EXPECT_EQ(h & 0x78000000, 0x38000000);
  EXPECT_EQ(SetImeEnabled(1), 0);
  SetActiveKeyStringInput(h);
  EXPECT_EQ(DeleteKeyStringInput(h ^ 0x10000), -1);  // another check value
  EXPECT_EQ(DeleteKeyStringInput(-1), -1);
  EXPECT_EQ(DeleteKeyStringInput(0x08000000), -1);
  EXPECT_EQ(DeleteKeyStringInput(h), 0);
  EXPECT_EQ(DeleteKeyStringInput(h), -1);
  EXPECT_EQ(GetActiveKeyStringInput(), -1);
  EXPECT_EQ(GetImeState().enabled, 0);
  EXPECT_EQ(MakeKeyStringInput(0, 0, 0, 0), -1);
  for (int i = 0; i < kKeyStringInputMax; ++i) ASSERT_GE(MakeKeyStringInput(2, 0, 0, 0), 0) << i;
  EXPECT_EQ(MakeKeyStringInput(2, 0, 0, 0), -1);
  EXPECT_EQ(DeleteAllKeyStringInputs(), 0);
  EXPECT_GE(MakeKeyStringInput(2, 0, 0, 0), 0);
}

// ---- Through the window ------------------------------------------------------------------------------

TEST_F(TextInputTest, TypedTextAndEditingKeysReachTheActiveField) {
  int h = MakeKeyStringInput(20, 1, 0, 0);
  SetActiveKeyStringInput(h);
  plat::HeadlessTypeText(Sjis("ab漢").c_str());
  plat::HeadlessSetKey(plat::kVkLeft, true);
  plat::HeadlessSetKey(plat::kVkLeft, false);
  plat::HeadlessTypeText("\n");  // a line feed counts as Enter
  for (int i = 0; i < 5; ++i) ProcessWindowMessages();
  EXPECT_EQ(Text(h), Sjis("ab漢"));
  EXPECT_EQ(FindKeyStringInput(h)->cursor, 2);
  EXPECT_EQ(FindKeyStringInput(h)->ended, 1);
}

// ---- IME -------------------------------------------------------------------------------------------------

TEST_F(TextInputTest, CompositionWithResultPushesTheResultAndKeepsTheNewComposition) {
  int h = MakeKeyStringInput(20, 1, 0, 0);
  SetActiveKeyStringInput(h);
  plat::Window* w = GetMainWindow();
  plat::ImeSetComposition(w, Sjis("かな"), 2);
  for (int i = 0; i < 3; ++i) ProcessWindowMessages();
  EXPECT_EQ(GetImeState().composing, 1);
  EXPECT_STREQ(GetImeState().composition, Sjis("かな").c_str());
  EXPECT_EQ(GetImeState().composition_cursor, 1);
  EXPECT_EQ(GetImeState().clause_count, 2);
  EXPECT_EQ(GetImeState().attribute_count, 4);
  // The result and the next composition arrive in one message.
  plat::InputContext* context = plat::ImmGetContext(w);
  plat::ImeSetComposition(w, Sjis("つぎ"), 4);
  for (int i = 0; i < 3; ++i) ProcessWindowMessages();
  std::string result = Sjis("仮名");
  // Feed the result through the message as the system would.
  plat::ImeCommit(w, result);
  plat::ImmSetCompositionStringA(context, plat::kScsSetStr, Sjis("つぎ").data(), 4, nullptr, 0);
  plat::Message m;
  while (plat::PeekMessage(&m, plat::kAnyWindow, true)) {
    if (m.message == plat::kWmImeComposition) OnImeMessage(m.message, m.wparam, w, m.lparam);
  }
  EXPECT_STREQ(GetImeState().composition, Sjis("つぎ").c_str());
  UpdateKeyStringInput();
  EXPECT_EQ(Text(h), result);
  ProcessWindowMessages();
}

TEST_F(TextInputTest, ResultLongerThanTheFreeRoomLosesItsTail) {
  for (int i = 0; i < 1020; ++i) PushInputChar('.');
  plat::Window* w = GetMainWindow();
  plat::ImeCommit(w, "abcdefgh");
  for (int i = 0; i < 3; ++i) {
    plat::Message m;
    while (plat::PeekMessage(&m, plat::kAnyWindow, true)) OnImeMessage(m.message, m.wparam, w, m.lparam);
  }
  uint8_t c[2];
  std::string tail;
  int n = 0;
  while (PopInputChar(c, 1) != 0) {
    if (++n > 1020) tail += static_cast<char>(c[0]);
  }
  EXPECT_EQ(tail, "abcd");
}

TEST_F(TextInputTest, EnablingTwiceCallsTheSystemOnce) {
  int before = plat::WinnlsEnableImeCallCount();
  EXPECT_EQ(SetImeEnabled(1), 0);
  EXPECT_EQ(SetImeEnabled(1), 0);
  EXPECT_EQ(plat::WinnlsEnableImeCallCount(), before + 1);
  EXPECT_EQ(plat::IsImeEnabledFor(GetMainWindow()), 1);
  EXPECT_EQ(SetImeEnabled(0), 0);
  EXPECT_EQ(plat::IsImeEnabledFor(GetMainWindow()), 0);
}

TEST_F(TextInputTest, CandidateListIsKeptUntilClosedAndEmptyListIsLogged) {
  plat::Window* w = GetMainWindow();
  plat::ImeSetCandidates(w, {Sjis("漢字"), Sjis("感じ"), Sjis("幹事")}, 1);
  for (int i = 0; i < 3; ++i) ProcessWindowMessages();
  ImeState& ime = GetImeState();
  ASSERT_NE(ime.candidate_list, nullptr);
  const auto* header = reinterpret_cast<const plat::CandidateListHeader*>(ime.candidate_list);
  EXPECT_EQ(header->count, 3u);
  EXPECT_EQ(header->selection, 1u);
  uint32_t offset;
  std::memcpy(&offset, ime.candidate_list + sizeof *header + 4, 4);
  EXPECT_STREQ(reinterpret_cast<const char*>(ime.candidate_list + offset), Sjis("感じ").c_str());
  plat::ImeSetCandidates(w, {}, 0);
  for (int i = 0; i < 3; ++i) ProcessWindowMessages();
  EXPECT_EQ(ime.candidate_list, nullptr);
  EXPECT_EQ(ime.candidate_list_size, 0);
  // A notification without a list only logs.
  EXPECT_EQ(OnImeMessage(plat::kWmImeNotify, plat::kImnOpenCandidate, w, 0), 0);
  EXPECT_EQ(ime.candidate_list, nullptr);
  EXPECT_NE(Log().find(Sjis("漢字変換候補のデータサイズが０でした")), std::string::npos);
}

TEST_F(TextInputTest, RestoreAfterReactivationPutsTheCompositionBack) {
  plat::Window* w = GetMainWindow();
  plat::InputContext* context = plat::ImmGetContext(w);
  plat::ImmSetCompositionStringA(context, plat::kScsSetStr, "abc", 3, nullptr, 0);
  SetImeEnabled(1);
  GetImeState().open = 1;
  plat::HeadlessSetFocus(false);
  ProcessWindowMessages();
  plat::HeadlessSetFocus(true);
  ProcessWindowMessages();
  EXPECT_EQ(GetImeState().restore_step, 0);  // armed and run in the same pass
  EXPECT_STREQ(GetImeState().stash, "abc");
  char back[8] = {};
  EXPECT_EQ(plat::ImmGetCompositionStringA(context, plat::kGcsCompStr, back, sizeof back), 3);
  EXPECT_STREQ(back, "abc");
  EXPECT_TRUE(plat::ImmGetOpenStatus(context));
}

}  // namespace
