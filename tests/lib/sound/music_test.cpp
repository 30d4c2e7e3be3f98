// MIDI handles and the current music: the stop of a sound or a MIDI handle,
// the sequencer's looping notification, the performance mode's play-state
// poll, and the sound end's clean-up of every handle and the temporary file.
#include <filesystem>
#include <fstream>

#include "lib/sound/music.h"
#include "platform/audio/mci.h"
#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace soundtest;

class MusicTest : public SoundFixture {
 protected:
  void SetUp() override {
    SoundFixture::SetUp();
    MusicState() = MidiGlobals{};
    MusicState().mci_device = 7;
    plat::TakeMciCalls();
    plat::TakeDirectMusicCalls();
  }
  void TearDown() override {
    MusicState() = MidiGlobals{};
    DirectMusicMode = 0;
    SoundFixture::TearDown();
  }
  int AddMidi() {
    const uint8_t song[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    return AddMidiHandle(song, sizeof song);
  }
  // A temporary MIDI file that the music owns.
  std::filesystem::path MakeTempFile() {
    const auto path = std::filesystem::temp_directory_path() / "rr_midi_test.mid";
    std::ofstream(path) << "MThd";
    std::snprintf(MusicState().temp_file, sizeof MusicState().temp_file, "%s", path.c_str());
    MusicState().temp_file_exists = 1;
    return path;
  }
};

TEST_F(MusicTest, StopMusicPlaybackStopsASoundOrAMidiHandle) {
  // No music: nothing is touched.
  EXPECT_EQ(StopMusicPlayback(), 0);
  EXPECT_TRUE(plat::TakeMciCalls().empty());

  WaveSpec spec;
  const int sound = Load(MakeWave(spec, Ramp(800)), 1);
  ASSERT_NE(sound, -1);
  ASSERT_EQ(PlaySoundHandle(sound, 2, 1), 0);
  SetCurrentMusic(sound, 1);
  EXPECT_EQ(StopMusicPlayback(), 0);
  EXPECT_EQ(FindSound(sound), nullptr);
  EXPECT_EQ(MusicState().current, 0);

  const int midi = AddMidi();
  ASSERT_NE(midi, -1);
  const auto temp = MakeTempFile();
  MusicState().mci_playing = 1;
  MusicState().loop = 1;
  EXPECT_EQ(GetMidiHandleInfo(midi), 1);
  SetCurrentMusic(midi, 0);
  EXPECT_EQ(StopMusicPlayback(), 0);
  // The loop ends, the device closes and the temporary file goes.
  const auto calls = plat::TakeMciCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].message, plat::kMciClose);
  EXPECT_EQ(calls[0].device, 7u);
  EXPECT_EQ(MusicState().loop, 0);
  EXPECT_EQ(MusicState().mci_playing, 0);
  EXPECT_FALSE(std::filesystem::exists(temp));
  EXPECT_EQ(MidiHandleToRecord(midi), nullptr);
  EXPECT_EQ(GetMidiHandleInfo(midi), -1);
  EXPECT_EQ(GetMidiHandleCount(), 0);
}

TEST_F(MusicTest, TheSequencersNotificationLoopsFromTheStartOrCloses) {
  MusicState().loop = 1;
  EXPECT_EQ(OnMciMidiNotify(), 0);
  auto calls = plat::TakeMciCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].message, plat::kMciPlay);
  EXPECT_EQ(calls[0].flags, plat::kMciNotify | plat::kMciFrom);
  EXPECT_EQ(calls[0].play.from, 0u);
  EXPECT_EQ(MusicState().mci_playing, 1);
  // Without the loop the device closes once; a second notification finds it
  // closed and does nothing.
  MusicState().loop = 0;
  OnMciMidiNotify();
  OnMciMidiNotify();
  calls = plat::TakeMciCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].message, plat::kMciClose);
  EXPECT_EQ(MusicState().mci_playing, 0);
}

TEST_F(MusicTest, PerformanceModeKeepsAnUnstartedSegmentPlayingUntilSeen) {
  DirectMusicMode = 1;
  g_sound.music_performance = new plat::DirectMusicPerformance8;
  g_sound.music_loader = new plat::DirectMusicLoader8;
  const int midi = AddMidi();
  MidiRecord* r = MidiHandleToRecord(midi);
  ASSERT_NE(r, nullptr);
  r->segment = new plat::DirectMusicSegment8;
  r->playing = 1;
  EXPECT_EQ(UpdateMusicPlayState(), 0);
  EXPECT_EQ(GetMidiHandleInfo(midi), 1);  // not seen playing yet
  r->segment->SetPlaying(true);
  UpdateMusicPlayState();
  EXPECT_EQ(r->seen_playing, 1);
  r->segment->SetPlaying(false);
  UpdateMusicPlayState();
  EXPECT_EQ(GetMidiHandleInfo(midi), 0);
  r->playing = 1;
  plat::TakeDirectMusicCalls();
  EXPECT_EQ(DeleteMidiHandle(midi), 0);
  EXPECT_EQ(plat::TakeDirectMusicCalls(),
            (std::vector<std::string>{"Performance::StopEx", "Segment::Unload", "Loader::ReleaseObjectByUnknown",
                                      "Segment::Release"}));
  // The sound end closes the performance and the loader.
  TerminateSoundSystem();
  EXPECT_EQ(plat::TakeDirectMusicCalls(),
            (std::vector<std::string>{"Performance::Stop", "Performance::CloseDown", "Performance::Release",
                                      "Loader::Release"}));
  EXPECT_EQ(g_sound.music_performance, nullptr);
}

TEST_F(MusicTest, TheSoundEndDeletesEveryMidiHandleAndTheTemporaryFile) {
  for (int i = 0; i < 3; ++i) ASSERT_NE(AddMidi(), -1);
  const auto temp = MakeTempFile();
  MusicState().temp_file_exists = 0;  // the end deletes it all the same
  EXPECT_EQ(TerminateSoundSystem(), 0);
  EXPECT_EQ(GetMidiHandleCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(temp));
  EXPECT_EQ(DeleteAllMidiHandles(), -1);  // sound is down
}

}  // namespace
