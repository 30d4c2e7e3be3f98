// The sound handle table: capacity, check values, the high-water level and
// shared sample data.
#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace soundtest;
using testsupport::Sjis;

class SoundHandleTest : public SoundFixture {};

TEST_F(SoundHandleTest, TableFullAndCheckWrap) {
  // The check counter runs on across tests in one process: expectations are
  // taken relative to where it stands now.
  const int c0 = g_sound_handles.CheckCounter();
  std::vector<int> handles;
  for (int i = 0; i < kSoundHandleCapacity; ++i) {
    int h = AddSoundData(-1);
    ASSERT_NE(h, -1) << i;
    handles.push_back(h);
  }
  EXPECT_EQ(handles[0], 0x10000000 | (c0 << 16));
  EXPECT_EQ(handles[1], 0x10000001 | (((c0 + 1) & 0x7FF) << 16));
  log_.Clear();
  EXPECT_EQ(AddSoundData(-1), -1);
  EXPECT_NE(log_.Debug().find(LogText("サウンドの数が許容量を越えました\n")), std::string::npos);
  // The check value wrapped after 2048 creations.
  EXPECT_EQ(HandleCheck(handles[2048]), c0);
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

namespace {

using namespace soundtest;
using testsupport::Sjis;

class SoundEdgeTest : public SoundFixture {
 protected:
  int Sound16(uint32_t frames) {
    WaveSpec spec;
    spec.rate = 44100;
    spec.bits = 16;
    return Load(MakeWave(spec, Ramp(frames * 2)));
  }
};

TEST_F(SoundEdgeTest, FailedStreamConversionKeepsTheOriginal) {
  int h = Sound16(1000);
  ASSERT_NE(h, -1);
  ChangeSoundHandleVolume(128, h);
  plat::DsoundFaults faults;
  faults.create_buffer_fail_at = 1;  // the stream's buffer
  plat::SetDsoundFaults(faults);
  log_.Clear();
  EXPECT_EQ(SetSoundHandleLoopSamplePosition(10, h), -1);
  EXPECT_NE(log_.Debug().find(Sjis("ストリームサウンドハンドルの作成に失敗しました")), std::string::npos);
  plat::ClearDsoundFaults();
  SoundRecord* r = FindSound(h);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->kind, kSoundOrdinary);
  EXPECT_EQ(GetSoundHandleVolume(h), 10000 - 299);
  EXPECT_EQ(BufferBytes(h), Ramp(2000));
  EXPECT_EQ(PlaySoundHandle(h, 1, 1), 0);
  EXPECT_EQ(g_sound_handles.Count(), 1);
}

TEST_F(SoundEdgeTest, FormatTheDeviceCannotPlayIsRefusedNotFatal) {
  // Stereo past the sound buffers' highest rate: the WAVE converter takes
  // it, no sound buffer does.
  WaveSpec spec;
  spec.channels = 2;
  spec.bits = 16;
  spec.rate = 250000;
  log_.Clear();
  EXPECT_EQ(Load(MakeWave(spec, Ramp(400))), -1);
  EXPECT_NE(log_.Debug().find(LogText("DirectSoundBuffer の作成に失敗しました\n")), std::string::npos);
  EXPECT_NE(log_.Debug().find(LogText("ストリーム風サウンドバッファの作成に失敗しました\n")), std::string::npos);
  EXPECT_EQ(g_sound_handles.Count(), 0);
  // A-law of three channels decodes to PCM of three channels, which no
  // sound buffer takes either: it goes on to the graph, which mixes it down,
  // and the load says nothing of channels it could not mix.
  WaveSpec alaw;
  alaw.tag = 6;
  alaw.channels = 3;
  log_.Clear();
  const int handle = Load(MakeWave(alaw, Ramp(300)));
  ASSERT_NE(handle, -1) << log_.Debug();
  EXPECT_EQ(FindSound(handle)->format.channels, 2);
  EXPECT_EQ(log_.Debug(), "");
}

TEST_F(SoundEdgeTest, StreamsSharingABufferTakeItFromEachOther) {
  WaveSpec spec;
  spec.rate = 44100;
  spec.bits = 16;
  std::vector<uint8_t> file = MakeWave(spec, Ramp(20000));
  SetSoundCreateMode(2);
  int first = Load(file);
  ASSERT_NE(first, -1);
  int second = CreateSoundHandleFromFile(file.data(), static_cast<int>(file.size()), 1, first);
  ASSERT_NE(second, -1);
  EXPECT_EQ(FindSound(second)->stream.data_handle, first);
  EXPECT_EQ(FindSound(first)->stream.data_user_count, 1);
  ASSERT_EQ(PlaySoundHandle(first, 1, 1), 0);
  EXPECT_EQ(IsSoundHandlePlaying(first), 1);
  ASSERT_EQ(PlaySoundHandle(second, 1, 1), 0);
  EXPECT_EQ(IsSoundHandlePlaying(second), 1);
  EXPECT_EQ(IsSoundHandlePlaying(first), 0);
  // Deleting the owner while the other still uses its buffer keeps it until
  // the last user goes.
  EXPECT_EQ(DeleteSoundHandle(first, 0), 0);
  EXPECT_NE(FindSound(first), nullptr);
  EXPECT_EQ(DeleteSoundHandle(second, 0), 0);
  EXPECT_EQ(FindSound(first), nullptr);
  EXPECT_EQ(g_sound_handles.Count(), 0);
}

// A PCM player built by hand: the refill writes only once the cursor is within
// a refill unit of the write position, plays silence when the ring runs dry
// and marks the end once.
TEST_F(SoundEdgeTest, PcmPlayerRefillAndEndMarker) {
  auto* p = static_cast<PcmRecord*>(TrackedCalloc(sizeof(PcmRecord), "", 0));
  p->kind = 1;
  p->format = {1, 1, 44100, 88200, 2, 16, 0};
  plat::DsBufferDesc desc{sizeof(desc), plat::kDSBCAPS_CTRLVOLUME, 4000, 0, &p->format};
  ASSERT_EQ(SoundBufCreate(&p->buffer, &desc), 0);
  p->buffer_size = 4000;
  p->refill_unit = 1000;
  p->write_pos = 2000;
  p->end_marker = -1;
  p->active = 1;
  ASSERT_EQ(RingBufferReserve(&p->ring, 600), 0);
  for (int i = 0; i < 600; ++i) p->ring.buffer[i] = 0x11;
  p->ring.end = 600;
  p->ring.data_size = 600;
  p->waiting_samples = 300;
  int handle = g_pcm_records.Add(p);
  ASSERT_NE(handle, -1);
  ListAppend(PcmPlayerListTail.previous, &p->node, handle, p);
  SoundBufPlay(&p->buffer, 1);
  // Cursor 0 is not within the last 1000 bytes before 2000: nothing written.
  EXPECT_EQ(UpdatePcmPlayer(p), 0);
  EXPECT_EQ(p->write_pos, 2000);
  Render(600);  // cursor at 1200
  EXPECT_EQ(UpdateAllPcmPlayers(), 0);
  // 1000 + 200 bytes asked: 600 of data, 600 of silence; the end follows the data.
  EXPECT_EQ(p->write_pos, 3200);
  EXPECT_EQ(p->waiting_samples, 0);
  EXPECT_EQ(p->end_marker, 2600);
  EXPECT_EQ(p->end_reached, 0);
  Render(800);  // cursor at 2800, past the marker
  UpdatePcmPlayer(p);
  EXPECT_EQ(p->end_reached, 1);
  EXPECT_EQ(p->end_marker, 2600);
  EXPECT_EQ(DeletePcmSource(handle, 0), -1);
  EXPECT_EQ(DeletePcmSource(handle, 1), 0);
  EXPECT_EQ(DeletePcmSource(handle, 1), -1);
}

}  // namespace
