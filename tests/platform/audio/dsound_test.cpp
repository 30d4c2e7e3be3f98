// Tests of the sound device: buffer cursors, locks, one-shot and looping play,
// the mixer against references computed here, and the SDL output under SDL's
// dummy audio driver.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/kernel/com.h"
#include "platform/audio/dsound.h"

namespace {

using namespace plat;

WaveFormatEx Pcm(uint16_t channels, uint32_t rate, uint16_t bits) {
  WaveFormatEx f{};
  f.format_tag = kWaveFormatPcm;
  f.channels = channels;
  f.samples_per_sec = rate;
  f.block_align = static_cast<uint16_t>(channels * bits / 8);
  f.avg_bytes_per_sec = rate * f.block_align;
  f.bits_per_sample = bits;
  return f;
}

constexpr uint32_t kControls = kDSBCAPS_CTRLVOLUME | kDSBCAPS_CTRLPAN | kDSBCAPS_CTRLFREQUENCY;

class DsoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetAudioOutput(AudioOutput::kNull);
    ClearDsoundFaults();
    void* object = nullptr;
    ASSERT_EQ(CoCreateInstance(kCLSID_DirectSound, nullptr, kCLSCTX_ALL, kIID_IDirectSound, &object), kS_OK);
    ds_ = static_cast<DirectSound*>(object);
    ASSERT_EQ(ds_->Initialize(nullptr), kDS_OK);
    ASSERT_EQ(ds_->SetCooperativeLevel(nullptr, kDSSCL_PRIORITY), kDS_OK);
  }
  void TearDown() override {
    for (DirectSoundBuffer* b : buffers_) b->Release();
    if (ds_) ds_->Release();
    SetAudioOutput(AudioOutput::kDefault);
    ClearDsoundFaults();
  }
  DirectSoundBuffer* Make(const WaveFormatEx& f, uint32_t bytes, uint32_t flags = kControls) {
    DsBufferDesc desc{sizeof(DsBufferDesc), flags, bytes, 0, &f};
    DirectSoundBuffer* b = nullptr;
    EXPECT_EQ(ds_->CreateSoundBuffer(&desc, &b, nullptr), kDS_OK);
    if (b) buffers_.push_back(b);
    return b;
  }
  void Fill(DirectSoundBuffer* b, const void* data, uint32_t bytes) {
    void *p1, *p2;
    uint32_t n1, n2;
    ASSERT_EQ(b->Lock(0, bytes, &p1, &n1, &p2, &n2, 0), kDS_OK);
    std::memcpy(p1, data, n1);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), kDS_OK);
  }
  std::vector<int16_t> Render(uint32_t frames) {
    std::vector<int16_t> out(frames * 2);
    EXPECT_EQ(NullAudioRender(out.data(), frames), 1);
    return out;
  }
  DirectSound* ds_ = nullptr;
  std::vector<DirectSoundBuffer*> buffers_;
};

TEST(ComTest, UnknownClassAndInterfaceFail) {
  Guid unknown = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, kCLSCTX_ALL, kIID_IDirectSound, &out), kREGDB_E_CLASSNOTREG);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(CoCreateInstance(kCLSID_DirectSound, nullptr, kCLSCTX_ALL, unknown, &out), kE_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(DsoundTest, DeviceRulesBeforeAndAfterInitialise) {
  DirectSound* raw = nullptr;
  ASSERT_EQ(CreateDirectSoundObject(&raw), kS_OK);
  DsCaps caps{};
  EXPECT_EQ(raw->GetCaps(&caps), kDSERR_UNINITIALIZED);
  ASSERT_EQ(raw->Initialize(nullptr), kDS_OK);
  EXPECT_EQ(raw->Initialize(nullptr), kDSERR_ALREADYINITIALIZED);
  WaveFormatEx f = Pcm(2, 44100, 16);
  DsBufferDesc desc{sizeof(desc), 0, 4096, 0, &f};
  DirectSoundBuffer* b = nullptr;
  EXPECT_EQ(raw->CreateSoundBuffer(&desc, &b, nullptr), kDSERR_PRIOLEVELNEEDED);
  raw->Release();

  ASSERT_EQ(ds_->GetCaps(&caps), kDS_OK);
  EXPECT_TRUE(caps.flags & kDSCAPS_PRIMARYSTEREO);
  EXPECT_TRUE(caps.flags & kDSCAPS_PRIMARY16BIT);
  EXPECT_GE(caps.max_secondary_sample_rate, 44100u);
}

TEST_F(DsoundTest, PrimaryBufferTakesFormatAndRefusesLock) {
  DsBufferDesc desc{sizeof(desc), kDSBCAPS_PRIMARYBUFFER, 0, 0, nullptr};
  DirectSoundBuffer* primary = nullptr;
  ASSERT_EQ(ds_->CreateSoundBuffer(&desc, &primary, nullptr), kDS_OK);
  buffers_.push_back(primary);
  WaveFormatEx f = Pcm(2, 44100, 16);
  EXPECT_EQ(primary->SetFormat(&f), kDS_OK);
  WaveFormatEx bad = f;
  bad.block_align = 3;
  EXPECT_EQ(primary->SetFormat(&bad), kDSERR_BADFORMAT);
  WaveFormatEx got{};
  primary->GetFormat(&got);
  EXPECT_EQ(std::memcmp(&got, &f, sizeof(f)), 0);
  void *p1, *p2;
  uint32_t n1, n2;
  EXPECT_LT(primary->Lock(0, 4, &p1, &n1, &p2, &n2, 0), 0);
}

TEST_F(DsoundTest, CreationRefusesBadFormatsAndSizes) {
  WaveFormatEx f = Pcm(2, 44100, 16);
  DsBufferDesc desc{sizeof(desc), 0, 2, 0, &f};
  DirectSoundBuffer* b = nullptr;
  EXPECT_EQ(ds_->CreateSoundBuffer(&desc, &b, nullptr), kDSERR_INVALIDPARAM);
  WaveFormatEx coded = f;
  coded.format_tag = 2;
  desc = {sizeof(desc), 0, 4096, 0, &coded};
  EXPECT_EQ(ds_->CreateSoundBuffer(&desc, &b, nullptr), kDSERR_BADFORMAT);
  EXPECT_EQ(b, nullptr);
}

TEST_F(DsoundTest, LockWrapsIntoTwoPieces) {
  DirectSoundBuffer* b = Make(Pcm(1, 8000, 8), 100);
  void *p1, *p2;
  uint32_t n1, n2;
  ASSERT_EQ(b->Lock(0, 100, &p1, &n1, &p2, &n2, 0), kDS_OK);
  EXPECT_EQ(n1, 100u);
  EXPECT_EQ(p2, nullptr);
  EXPECT_EQ(n2, 0u);
  uint8_t* base = static_cast<uint8_t*>(p1);
  ASSERT_EQ(b->Unlock(p1, n1, p2, n2), kDS_OK);
  ASSERT_EQ(b->Lock(70, 50, &p1, &n1, &p2, &n2, 0), kDS_OK);
  EXPECT_EQ(p1, base + 70);
  EXPECT_EQ(n1, 30u);
  EXPECT_EQ(p2, base);
  EXPECT_EQ(n2, 20u);
  ASSERT_EQ(b->Unlock(p1, n1, p2, n2), kDS_OK);
  EXPECT_EQ(b->Lock(100, 1, &p1, &n1, &p2, &n2, 0), kDSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(0, 101, &p1, &n1, &p2, &n2, 0), kDSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(0, 0, &p1, &n1, &p2, &n2, 0), kDSERR_INVALIDPARAM);
  EXPECT_EQ(b->Unlock(base, 1, nullptr, 0), kDSERR_INVALIDCALL);  // nothing locked
}

TEST_F(DsoundTest, OneShotStopsAtEndWithPositionZero) {
  DirectSoundBuffer* b = Make(Pcm(2, 44100, 16), 400 * 4);
  ASSERT_EQ(b->Play(0, 0, 0), kDS_OK);
  uint32_t status = 0, play = 0, write = 0;
  Render(100);
  b->GetCurrentPosition(&play, &write);
  EXPECT_EQ(play, 400u);
  b->GetStatus(&status);
  EXPECT_EQ(status, kDSBSTATUS_PLAYING);
  Render(299);
  b->GetStatus(&status);
  EXPECT_EQ(status, kDSBSTATUS_PLAYING);
  Render(1);
  b->GetStatus(&status);
  EXPECT_EQ(status, 0u);
  b->GetCurrentPosition(&play, &write);
  EXPECT_EQ(play, 0u);
  Render(50);  // a stopped buffer does not move
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 0u);
}

TEST_F(DsoundTest, LoopWrapsAndStopKeepsPosition) {
  DirectSoundBuffer* b = Make(Pcm(1, 44100, 16), 100 * 2);
  ASSERT_EQ(b->Play(0, 0, kDSBPLAY_LOOPING), kDS_OK);
  Render(250);
  uint32_t play = 0, status = 0;
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 50u * 2);
  b->GetStatus(&status);
  EXPECT_EQ(status, kDSBSTATUS_PLAYING | kDSBSTATUS_LOOPING);
  b->Stop();
  Render(10);
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 100u);
  EXPECT_EQ(b->SetCurrentPosition(198), kDS_OK);
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 198u);
  EXPECT_EQ(b->SetCurrentPosition(200), kDSERR_INVALIDPARAM);
}

TEST_F(DsoundTest, FrequencyMovesCursorAtItsRate) {
  DirectSoundBuffer* b = Make(Pcm(1, 22050, 8), 22050);
  uint32_t freq = 0;
  b->GetFrequency(&freq);
  EXPECT_EQ(freq, 22050u);
  b->Play(0, 0, kDSBPLAY_LOOPING);
  Render(4410);
  uint32_t play = 0;
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 2205u);
  EXPECT_EQ(b->SetFrequency(88200), kDS_OK);
  Render(4410);
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 2205u + 8820u);
  EXPECT_EQ(b->SetFrequency(0), kDS_OK);
  b->GetFrequency(&freq);
  EXPECT_EQ(freq, 22050u);
  EXPECT_EQ(b->SetFrequency(50), kDSERR_INVALIDPARAM);
}

TEST_F(DsoundTest, ControlsNeedTheirFlags) {
  DirectSoundBuffer* b = Make(Pcm(1, 22050, 8), 100, kDSBCAPS_STATIC);
  EXPECT_EQ(b->SetVolume(-100), kDSERR_CONTROLUNAVAIL);
  EXPECT_EQ(b->SetPan(100), kDSERR_CONTROLUNAVAIL);
  EXPECT_EQ(b->SetFrequency(11025), kDSERR_CONTROLUNAVAIL);
  DirectSoundBuffer* c = Make(Pcm(1, 22050, 8), 100);
  EXPECT_EQ(c->SetVolume(1), kDSERR_INVALIDPARAM);
  EXPECT_EQ(c->SetVolume(-10001), kDSERR_INVALIDPARAM);
  EXPECT_EQ(c->SetPan(10001), kDSERR_INVALIDPARAM);
  EXPECT_EQ(c->SetVolume(-1234), kDS_OK);
  int32_t v = 0;
  c->GetVolume(&v);
  EXPECT_EQ(v, -1234);
}

// A 16-bit stereo sine through the mixer at the volumes that the game's scale
// gives for 255 (0) and 128 (-299), against amplitude 10^(dB/20) computed here.
TEST_F(DsoundTest, MixerMatchesReferenceSineAtTwoVolumes) {
  const uint32_t frames = 2048;
  std::vector<int16_t> sine(frames * 2);
  for (uint32_t i = 0; i < frames; ++i) {
    double s = std::sin(2.0 * M_PI * 441.0 * i / 44100.0);
    sine[2 * i] = static_cast<int16_t>(std::lround(s * 30000.0));
    sine[2 * i + 1] = static_cast<int16_t>(std::lround(s * -12000.0));
  }
  for (int32_t volume : {0, -299}) {
    DirectSoundBuffer* b = Make(Pcm(2, 44100, 16), frames * 4);
    Fill(b, sine.data(), frames * 4);
    ASSERT_EQ(b->SetVolume(volume), kDS_OK);
    ASSERT_EQ(b->Play(0, 0, 0), kDS_OK);
    std::vector<int16_t> out = Render(frames);
    double gain = std::pow(10.0, volume / 2000.0);
    for (uint32_t i = 0; i < frames * 2; ++i) {
      long expected = std::lround(sine[i] * gain);
      ASSERT_LE(std::labs(out[i] - expected), 1) << "volume " << volume << " sample " << i;
      if (volume == 0) {
        ASSERT_EQ(out[i], sine[i]);
      }
    }
    b->Stop();
  }
}

TEST_F(DsoundTest, MixerPanResampleEightBitAndClip) {
  // Mono 8-bit at half the output rate: linear interpolation between samples.
  DirectSoundBuffer* b = Make(Pcm(1, 22050, 8), 4);
  const uint8_t data[4] = {128 + 10, 128 + 30, 128 - 50, 128};
  Fill(b, data, 4);
  ASSERT_EQ(b->SetPan(10000), kDS_OK);  // right only
  b->Play(0, 0, kDSBPLAY_LOOPING);
  std::vector<int16_t> out = Render(8);
  const int expected[8] = {2560, 5120, 7680, -2560, -12800, -6400, 0, 1280};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(out[2 * i], 0) << i;
    EXPECT_EQ(out[2 * i + 1], expected[i]) << i;
  }
  b->Stop();
  // Two full-scale buffers clip instead of wrapping.
  int16_t loud[4] = {30000, -30000, 30000, -30000};
  DirectSoundBuffer* c = Make(Pcm(2, 44100, 16), 8);
  DirectSoundBuffer* d = Make(Pcm(2, 44100, 16), 8);
  Fill(c, loud, 8);
  Fill(d, loud, 8);
  c->Play(0, 0, kDSBPLAY_LOOPING);
  d->Play(0, 0, kDSBPLAY_LOOPING);
  out = Render(2);
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[1], -32768);
}

TEST_F(DsoundTest, PanTakesItsAttenuationOffTheOtherSide) {
  // A steady mono level at the output rate. A pan of 2000 hundredths of a
  // decibel either way leaves its own side whole and takes 20 dB, a tenth,
  // off the other; a full pan silences the other side.
  struct Case {
    int32_t pan;
    int16_t left, right;
  };
  const Case cases[] = {{-2000, 10000, 1000}, {2000, 1000, 10000}, {-10000, 10000, 0}, {0, 10000, 10000}};
  const int16_t level[4] = {10000, 10000, 10000, 10000};
  DirectSoundBuffer* b = Make(Pcm(1, 44100, 16), sizeof level);
  Fill(b, level, sizeof level);
  for (const Case& c : cases) {
    ASSERT_EQ(b->SetPan(c.pan), kDS_OK);
    b->Play(0, 0, kDSBPLAY_LOOPING);
    const std::vector<int16_t> out = Render(4);
    b->Stop();
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(out[2 * i], c.left) << "pan " << c.pan;
      EXPECT_EQ(out[2 * i + 1], c.right) << "pan " << c.pan;
    }
  }
}

TEST_F(DsoundTest, DuplicateSharesSamplesButNotPosition) {
  DirectSoundBuffer* b = Make(Pcm(1, 44100, 16), 200);
  DirectSoundBuffer* dup = nullptr;
  ASSERT_EQ(ds_->DuplicateSoundBuffer(b, &dup), kDS_OK);
  buffers_.push_back(dup);
  int16_t samples[100];
  for (int i = 0; i < 100; ++i) samples[i] = static_cast<int16_t>(i * 100);
  Fill(b, samples, 200);
  dup->Play(0, 0, 0);
  std::vector<int16_t> out = Render(3);
  EXPECT_EQ(out[4], 200);
  uint32_t play = 1;
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 0u);
}

TEST_F(DsoundTest, FaultsAndEnumeration) {
  DsoundFaults faults;
  faults.create_buffer_fail_at = 2;
  SetDsoundFaults(faults);
  WaveFormatEx f = Pcm(1, 8000, 8);
  DsBufferDesc desc{sizeof(desc), 0, 64, 0, &f};
  DirectSoundBuffer* b = nullptr;
  ASSERT_EQ(ds_->CreateSoundBuffer(&desc, &b, nullptr), kDS_OK);
  buffers_.push_back(b);
  DirectSoundBuffer* c = nullptr;
  EXPECT_LT(ds_->CreateSoundBuffer(&desc, &c, nullptr), 0);
  EXPECT_EQ(c, nullptr);
  faults = {};
  faults.no_driver_library = true;
  SetDsoundFaults(faults);
  EXPECT_EQ(GetDirectSoundEnumerate(), nullptr);
  ClearDsoundFaults();
  DirectSoundEnumerateFn enumerate = GetDirectSoundEnumerate();
  ASSERT_NE(enumerate, nullptr);
  std::vector<std::string> names;
  enumerate(
      [](const Guid*, const char* description, const char*, void* context) {
        static_cast<std::vector<std::string>*>(context)->push_back(description);
        return true;
      },
      &names);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], "Primary Sound Driver");
}

// The real SDL path under SDL's dummy driver: a short one-shot buffer plays
// through the SDL callback and stops by itself.
TEST(DsoundSdlTest, DummyDriverPlaysOneShotToItsEnd) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  SetAudioOutput(AudioOutput::kSdl);
  void* object = nullptr;
  ASSERT_EQ(CoCreateInstance(kCLSID_DirectSound, nullptr, kCLSCTX_ALL, kIID_IDirectSound, &object), kS_OK);
  auto* ds = static_cast<DirectSound*>(object);
  HResult init = ds->Initialize(nullptr);
  SetAudioOutput(AudioOutput::kDefault);
  ASSERT_EQ(init, kDS_OK);
  ds->SetCooperativeLevel(nullptr, kDSSCL_PRIORITY);
  WaveFormatEx f = Pcm(2, 44100, 16);
  DsBufferDesc desc{sizeof(desc), kControls, 4410 * 4, 0, &f};  // a tenth of a second
  DirectSoundBuffer* b = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&desc, &b, nullptr), kDS_OK);
  ASSERT_EQ(b->Play(0, 0, 0), kDS_OK);
  // Its end is waited for, a minute at most: a net that no load comes near.
  uint32_t status = kDSBSTATUS_PLAYING;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((status & kDSBSTATUS_PLAYING) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    b->GetStatus(&status);
  }
  EXPECT_EQ(status, 0u);
  uint32_t play = 1;
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 0u);
  b->Release();
  ds->Release();
}

}  // namespace
