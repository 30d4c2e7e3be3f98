// The sound system's start and end: log lines in order, refusals, and the
// failures that stop or only shorten the start.
#include "tests/lib/sound/sound_fixture.h"

namespace {

using testsupport::Sjis;
using testsupport::StripStamps;

class SoundSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetAudioOutput(plat::AudioOutput::kNull);
    plat::SetProcessorCountOverride(1);
    SetLogTimeStamps(0);
  }
  void TearDown() override {
    TerminateSoundSystem();
    plat::ClearDsoundFaults();
    plat::SetProcessorCountOverride(0);
    plat::SetAudioOutput(plat::AudioOutput::kDefault);
    DirectMusicMode = 0;
  }
  // Position of each text in the log, in order; -1 when one is missing or
  // out of order.
  bool InOrder(const std::vector<std::string>& utf8_lines) {
    size_t at = 0;
    std::string text = log_.Debug();
    for (const std::string& line : utf8_lines) {
      size_t found = text.find(soundtest::LogText(line), at);
      if (found == std::string::npos) {
        ADD_FAILURE() << "missing or out of order: " << line << "\nlog:\n" << testsupport::Utf8(text);
        return false;
      }
      at = found + 1;
    }
    return true;
  }
  testsupport::LogCapture log_;
};

TEST_F(SoundSystemTest, HeadlessStartAndEndLogInOrder) {
  ASSERT_EQ(InitializeSoundSystem(), 0);
  EXPECT_TRUE(InOrder({"DirectSound の初期化を行います\n", "DirectSound インターフェースの取得を行います....  ",
                       "成功\n", "引き続きインターフェースの初期化処理...  ", "成功\n",
                       "DirectSound デバイスを列挙します\n", "モジュール名:" + std::string(17, ' ') + "ドライバ記述:Primary Sound Driver ",
                       "モジュール名:           null  ドライバ記述:Null audio output ",
                       "最大サンプリングレート:200.00KHz 最小サンプリングレート:0.10KHz ",
                       "総サウンドメモリ領域:0.00KB 空きサウンドメモリ領域:0.00KB \n", "利用可能サンプリング精度\n",
                       " プライマリ １６bit = OK  ８bit = OK ", " セカンダリ １６bit = OK  ８bit = OK \n",
                       "利用可能チャンネル\n", " プライマリ MONO = OK  STEREO = OK ",
                       " セカンダリ MONO = OK  STEREO = OK \n", "DirectSound の初期化は正常に終了しました\n"}));
  EXPECT_EQ(SoundNeedsPumpService(), 1);
  // A second start returns at once and writes nothing.
  log_.Clear();
  EXPECT_EQ(InitializeSoundSystem(), -1);
  EXPECT_EQ(log_.Debug(), "");
  EXPECT_EQ(TerminateSoundSystem(), 0);
  EXPECT_TRUE(InOrder({"DirectSound の終了処理は正常に終了しました\n"}));
  log_.Clear();
  EXPECT_EQ(TerminateSoundSystem(), -1);
  EXPECT_EQ(log_.Debug(), "");
  // Every operation refuses while sound is down.
  EXPECT_EQ(PlaySoundHandle(0x10000000, 1, 1), -1);
  EXPECT_EQ(RefillAllStreamSounds(), -1);
  EXPECT_EQ(UpdateAllPcmPlayers(), -1);
}

TEST_F(SoundSystemTest, FailuresThatStopTheStart) {
  struct Case {
    plat::DsoundFaults faults;
    std::vector<std::string> lines;
  };
  std::vector<Case> cases(4);
  cases[0].faults.fail_create_object = true;
  cases[0].lines = {"DirectSoundインターフェースの作成に失敗しました\n"};
  cases[1].faults.fail_initialize = true;
  cases[1].lines = {"初期化に失敗しました\n", "エラーコード 88780078"};
  cases[2].faults.fail_cooperative_level = true;
  cases[2].lines = {"DirectSoundの協調レベルの設定に失敗しました\n"};
  cases[3].faults.create_buffer_fail_at = 1;
  cases[3].lines = {"DirectSoundのプライマリサウンドバッファの作成に失敗しました\n"};
  for (const Case& c : cases) {
    log_.Clear();
    plat::SetDsoundFaults(c.faults);
    EXPECT_EQ(InitializeSoundSystem(), -1);
    EXPECT_TRUE(InOrder(c.lines));
    EXPECT_FALSE(SoundStarted());
    plat::ClearDsoundFaults();
  }
  // The next attempt starts.
  EXPECT_EQ(InitializeSoundSystem(), 0);
}

TEST_F(SoundSystemTest, FailuresThatOnlyShortenTheStart) {
  plat::DsoundFaults faults;
  faults.fail_set_format = true;
  faults.no_driver_library = true;
  faults.create_buffer_fail_at = 2;  // the silent buffer
  plat::SetDsoundFaults(faults);
  EXPECT_EQ(InitializeSoundSystem(), 0);
  EXPECT_TRUE(InOrder({"DirectSoundのプライマリサウンドバッファのフォーマット設定に失敗しました\n",
                       "無音バッファの作成に失敗しました", "DSOUND.DLL のロードに失敗しました\n",
                       "DirectSound の初期化は正常に終了しました\n"}));
  EXPECT_EQ(log_.Debug().find(Sjis("最大サンプリングレート")), std::string::npos);
  EXPECT_EQ(TerminateSoundSystem(), 0);

  faults = {};
  faults.fail_lock = true;
  plat::SetDsoundFaults(faults);
  log_.Clear();
  EXPECT_EQ(InitializeSoundSystem(), 0);
  EXPECT_TRUE(InOrder({"無音バッファのロックに失敗しました", "DirectSound の初期化は正常に終了しました\n"}));
}

TEST_F(SoundSystemTest, MusicModeFallsBackToPlainStart) {
  DirectMusicMode = 1;
  EXPECT_EQ(InitializeSoundSystem(), 0);
  EXPECT_TRUE(InOrder({"DirectSound8 の初期化を行います\n", "DirectMusicLoader8 オブジェクトの作成に失敗しました\n",
                       "前バージョンでの初期化処理に移ります\n", "DirectSound の初期化を行います\n",
                       "DirectSound の初期化は正常に終了しました\n"}));
  EXPECT_EQ(DirectMusicMode, 0);
}

TEST_F(SoundSystemTest, SoundThreadWithSeveralProcessors) {
  plat::SetProcessorCountOverride(4);
  ASSERT_EQ(InitializeSoundSystem(), 0);
  EXPECT_EQ(SoundNeedsPumpService(), 0);
  EXPECT_NE(g_sound.thread, nullptr);
  EXPECT_EQ(TerminateSoundSystem(), 0);
  EXPECT_EQ(g_sound.thread, nullptr);
  EXPECT_EQ(g_sound.thread_end_flag.load(), 2);
}

// Without its thread the sound system still starts, says so, and leaves the
// stream refills to the message pump.
TEST_F(SoundSystemTest, FailedSoundThreadFallsBackToThePump) {
  plat::SetProcessorCountOverride(4);
  plat::SetThreadCreationFails(true);
  const int started = InitializeSoundSystem();
  plat::SetThreadCreationFails(false);
  ASSERT_EQ(started, 0);
  EXPECT_EQ(g_sound.thread, nullptr);
  EXPECT_EQ(SoundNeedsPumpService(), 1);
  EXPECT_TRUE(InOrder({"サウンドスレッドの作成に失敗しました、メッセージ処理でサウンドを更新します\n",
                       "DirectSound の初期化は正常に終了しました\n"}));
  EXPECT_EQ(TerminateSoundSystem(), 0);
}

}  // namespace
