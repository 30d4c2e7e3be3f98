#include <gtest/gtest.h>

#include "lib/core/charset.h"
#include "lib/core/clock.h"
#include "platform/kernel/kernel.h"

namespace {

class ClockTest : public testing::Test {
 protected:
  void SetUp() override {
    plat::EnableVirtualClock(true);
    plat::SetVirtualClockAutoAdvance(0);
  }
  void TearDown() override {
    SetMicroClockCounterFrequency(0);
    SetMicroClockTimeStampRate(0);
    plat::EnableVirtualClock(false);
  }
};

TEST_F(ClockTest, MilliClockClearsBit31) {
  plat::SetVirtualClockMicros(0xFFFFFFF0ull * 1000);
  EXPECT_EQ(GetMilliClock(), 0x7FFFFFF0);
  plat::SetVirtualClockMicros(0x7FFFFFFFull * 1000);
  EXPECT_EQ(GetMilliClock(0), 0x7FFFFFFF);
  plat::Sleep(1);
  EXPECT_EQ(GetMilliClock(), 0);
}

TEST_F(ClockTest, MicroClockSources) {
  plat::SetVirtualClockMicros(123'456'789);
  // Without a counter: the millisecond clock (all 32 bits) times 1000.
  EXPECT_EQ(GetMicroClock(0), 123'456'000u);
  SetMicroClockCounterFrequency(plat::QueryPerformanceFrequency());
  EXPECT_EQ(GetMicroClock(0), 123'456'789u);
  EXPECT_EQ(GetMicroClock(1), 123'456'789u);  // no rate measured yet
  // The time-stamp counter runs at 1000 ticks per virtual microsecond.
  SetMicroClockTimeStampRate(1'000'000'000);
  EXPECT_EQ(GetMicroClock(1), 123'456'789u);
  // A rate that does not divide evenly truncates, through a 128-bit product.
  SetMicroClockTimeStampRate(3);
  plat::SetVirtualClockMicros(1);
  EXPECT_EQ(GetMicroClock(1), 1000u * 1'000'000u / 3);
  plat::SetVirtualClockMicros(18'000'000'000'000ull);
  EXPECT_EQ(GetMicroClock(1),
            static_cast<uint64_t>(static_cast<unsigned __int128>(18'000'000'000'000'000ull) * 1'000'000u / 3));
}

TEST_F(ClockTest, LocalDateTime) {
  plat::LocalTime fixed{2024, 12, 31, 23, 59, 58, 999, 2};
  plat::SetFixedLocalTime(&fixed);
  DateTimeRecord now{};
  EXPECT_EQ(GetLocalDateTime(&now), 0);
  plat::SetFixedLocalTime(nullptr);
  EXPECT_EQ(now.year, 2024);
  EXPECT_EQ(now.month, 12);
  EXPECT_EQ(now.day, 31);
  EXPECT_EQ(now.hour, 23);
  EXPECT_EQ(now.minute, 59);
  EXPECT_EQ(now.second, 58);
}

TEST(CharSetTest, IndexFromCodePage) {
  SetCharSetFromCodePage(949);
  EXPECT_EQ(GetCharSetIndex(), kCharSetHangeul);
  EXPECT_EQ(GetCharSetCodePage(), 949);
  SetCharSetFromCodePage(950);
  EXPECT_EQ(GetCharSetIndex(), kCharSetBig5);
  SetCharSetFromCodePage(936);
  EXPECT_EQ(GetCharSetIndex(), kCharSetGb2312);
  SetCharSetFromCodePage(1252);
  EXPECT_EQ(GetCharSetIndex(), kCharSetShiftJis);
  EXPECT_EQ(GetCharSetCodePage(), 0);
  SetCharSetFromCodePage(932);
  EXPECT_EQ(GetCharSetIndex(), kCharSetShiftJis);
  EXPECT_EQ(GetCharSetCodePage(), 932);
  SetCharSet(kCharSetDefault, 0);
}

TEST(CharSetTest, LeadBytes) {
  for (int index : {0, 1, 5, -1}) {
    for (int c = 0; c < 256; ++c) {
      char byte = static_cast<char>(c);
      bool expected = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
      ASSERT_EQ(IsLeadByte(&byte, index), expected ? 1 : 0) << index << " " << c;
    }
  }
  for (int index : {2, 3, 4}) {
    for (int c = 0; c < 256; ++c) {
      char byte = static_cast<char>(c);
      ASSERT_EQ(IsLeadByte(&byte, index), c >= 0x80 ? 1 : 0) << index << " " << c;
    }
  }
  SetCharSet(kCharSetBig5, 950);
  EXPECT_EQ(IsLibraryLeadByte(0xA0), 1);
  SetCharSet(kCharSetDefault, 0);
  EXPECT_EQ(IsLibraryLeadByte(0xA0), 0);
  EXPECT_EQ(IsLibraryLeadByte(0x81), 1);
  EXPECT_EQ(IsLeadByte(nullptr, 1), 0);
}

}  // namespace
