// The sound handle table: capacity, check values, the high-water level and
// shared sample data.
#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace soundtest;
using testsupport::Sjis;

class SoundHandleTest : public SoundFixture {};

TEST_F(SoundHandleTest, TableFullAndCheckWrap) {
  std::vector<int> handles;
  for (int i = 0; i < kSoundHandleCapacity; ++i) {
    int h = AddSoundData(-1);
    ASSERT_NE(h, -1) << i;
    handles.push_back(h);
  }
  EXPECT_EQ(handles[0], 0x10000000);
  EXPECT_EQ(handles[1], 0x10010001);
  log_.Clear();
  EXPECT_EQ(AddSoundData(-1), -1);
  EXPECT_NE(log_.Debug().find(LogText("サウンドの数が許容量を越えました\n")), std::string::npos);
  // The check value wrapped after 2048 creations.
  EXPECT_EQ(HandleCheck(handles[2048]), 0);
  // Deleting the top record lowers the high-water level past empty slots.
  for (int i = 100; i < kSoundHandleCapacity - 1; ++i) DeleteSoundHandle(handles[i], 0);
  EXPECT_EQ(g_sound_handles.HighWater(), kSoundHandleCapacity);
  DeleteSoundHandle(handles.back(), 0);
  EXPECT_EQ(g_sound_handles.HighWater(), 100);
  EXPECT_EQ(DeleteAllSoundHandles(0), 0);
  EXPECT_EQ(g_sound_handles.Count(), 0);
  EXPECT_EQ(g_sound_handles.HighWater(), 0);
}

TEST_F(SoundHandleTest, RecreationKeepsTheHandle) {
  int h = AddSoundData(-1);
  ASSERT_EQ(DeleteSoundHandle(h, 0), 0);
  EXPECT_EQ(AddSoundData(h), h);
  EXPECT_NE(FindSound(h), nullptr);
}

TEST_F(SoundHandleTest, SharedDataFreedWithTheLastUser) {
  std::vector<uint8_t> file = MakeWave(WaveSpec{}, Ramp(64));
  int a = Load(file);
  ASSERT_NE(a, -1);
  int b = AddSoundData(-1);
  SoundRecord* ra = FindSound(a);
  SoundRecord* rb = FindSound(b);
  ASSERT_EQ(CreateSoundHandleBuffers(a, nullptr, 0, 0, 2, b), 0);
  EXPECT_EQ(rb->duplicate[0], 1u);
  rb->format = ra->format;
  rb->data = ra->data;
  rb->data_size = ra->data_size;
  rb->ref_count = ra->ref_count;
  ++*ra->ref_count;
  EXPECT_EQ(BufferBytes(b), Ramp(64));  // duplicates share the samples
  ASSERT_EQ(DeleteSoundHandle(a, 0), 0);
  EXPECT_EQ(*rb->ref_count, 1u);
  EXPECT_EQ(BufferBytes(b), Ramp(64));
  EXPECT_EQ(DeleteSoundHandle(b, 0), 0);
  EXPECT_EQ(CheckAllocations(), 0);
}

TEST_F(SoundHandleTest, BufferZeroRetriedWithFewerControls) {
  std::vector<uint8_t> file = MakeWave(WaveSpec{}, Ramp(64));
  plat::DsoundFaults faults;
  faults.create_buffer_fail_at = 1;
  plat::SetDsoundFaults(faults);
  int h = Load(file);
  ASSERT_NE(h, -1);
  EXPECT_EQ(BufferBytes(h), Ramp(64));
  // The retried buffer has no frequency control: the getter reports failure.
  EXPECT_EQ(GetSoundHandleFrequency(h), -1);
}

TEST_F(SoundHandleTest, PumpServicesAndMusicNulls) {
  EXPECT_EQ(ServiceSoundFromPump(), 0);
  EXPECT_EQ(UpdateMusicPlayState(), 0);
  EXPECT_EQ(StopMusicPlayback(), 0);
  EXPECT_EQ(DeletePcmSource(0x68000000, 0), -1);
}

}  // namespace
