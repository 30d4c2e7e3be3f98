// lib/sound/sound_system.cpp - bringing the sound device up and down: the
// device object, the primary buffer and its format, the silent buffer that
// keeps the output running, the device report in the log, and the sound
// thread.
#include <cstring>

#include "lib/core/log.h"
#include "lib/system/window_system.h"
#include "lib/sound/music.h"
#include "lib/sound/sound.h"
#include "lib/sound/sound_internal.h"
#include "platform/media/graph.h"

SoundSystemState g_sound;
int32_t DirectMusicMode = 0;
int32_t SoundBufferLocSoftware = 0;
int32_t SoftwareSoundBufferMode = 0;
int32_t SoundCreateMode = 0;
int32_t OggPcmWordSize = 2;
AcmFunctionTable g_acm;
plat::CriticalSection SoundLock;
ListNode StreamSoundListHead, StreamSoundListTail;
ListNode PcmPlayerListHead, PcmPlayerListTail;

namespace {

// The music classes. Nothing in this platform layer provides them, so their
// creation fails as on a machine without them.
const plat::Guid kCLSID_DirectMusicLoader = {0x6a1e2b01, 0x11c2, 0x4d7a, {0x8e, 0x30, 0x5c, 0x22, 0x41, 0x0f, 0x90, 0x01}};
const plat::Guid kIID_IDirectMusicLoader8 = {0x6a1e2b02, 0x11c2, 0x4d7a, {0x8e, 0x30, 0x5c, 0x22, 0x41, 0x0f, 0x90, 0x02}};
const plat::Guid kCLSID_DirectMusicPerformance = {0x6a1e2b03, 0x11c2, 0x4d7a, {0x8e, 0x30, 0x5c, 0x22, 0x41, 0x0f, 0x90, 0x03}};
const plat::Guid kIID_IDirectMusicPerformance8 = {0x6a1e2b04, 0x11c2, 0x4d7a, {0x8e, 0x30, 0x5c, 0x22, 0x41, 0x0f, 0x90, 0x04}};

// Set when a sound thread runs; the pump services sound otherwise.
int g_thread_running = 0;

void ReleaseDirectSound() {
  plat::SetMediaAudioDevice(nullptr);
  g_sound.direct_sound->Release();
  g_sound.direct_sound = nullptr;
}

const char* Ok(uint32_t flags, uint32_t flag) { return (flags & flag) ? "OK" : "NO"; }

void WriteDeviceReport() {
  plat::DsCaps caps{};
  caps.size = sizeof(caps);
  g_sound.direct_sound->GetCaps(&caps);
  WriteLogLine("DirectSound デバイスを列挙します\n");
  plat::DirectSoundEnumerateFn enumerate = plat::GetDirectSoundEnumerate();
  if (enumerate == nullptr) {
    WriteLogLine("DSOUND.DLL のロードに失敗しました\n");
    return;
  }
  enumerate(
      [](const plat::Guid* guid, const char* description, const char* module, void* context) {
        return OnDSoundDevice(guid, description, module, context) != 0;
      },
      nullptr);
  WriteLogLineFmt("最大サンプリングレート:%.2fKHz 最小サンプリングレート:%.2fKHz ",
                  static_cast<double>(caps.max_secondary_sample_rate) / 1000.0,
                  static_cast<double>(caps.min_secondary_sample_rate) / 1000.0);
  WriteLogLineFmt("総サウンドメモリ領域:%.2fKB 空きサウンドメモリ領域:%.2fKB \n",
                  static_cast<double>(caps.total_hw_mem_bytes) / 1024.0,
                  static_cast<double>(caps.free_hw_mem_bytes) / 1024.0);
  WriteLogLine("利用可能サンプリング精度\n");
  WriteLogLineFmt(" プライマリ １６bit = %s  ８bit = %s ", Ok(caps.flags, plat::kDSCAPS_PRIMARY16BIT),
                  Ok(caps.flags, plat::kDSCAPS_PRIMARY8BIT));
  WriteLogLineFmt(" セカンダリ １６bit = %s  ８bit = %s \n", Ok(caps.flags, plat::kDSCAPS_SECONDARY16BIT),
                  Ok(caps.flags, plat::kDSCAPS_SECONDARY8BIT));
  WriteLogLine("利用可能チャンネル\n");
  WriteLogLineFmt(" プライマリ MONO = %s  STEREO = %s ", Ok(caps.flags, plat::kDSCAPS_PRIMARYMONO),
                  Ok(caps.flags, plat::kDSCAPS_PRIMARYSTEREO));
  WriteLogLineFmt(" セカンダリ MONO = %s  STEREO = %s \n", Ok(caps.flags, plat::kDSCAPS_SECONDARYMONO),
                  Ok(caps.flags, plat::kDSCAPS_SECONDARYSTEREO));
}

void MakeSilentBuffer() {
  plat::WaveFormatEx format{plat::kWaveFormatPcm, 2, 44100, 176400, 4, 16, 0};
  plat::DsBufferDesc desc{};
  desc.size = sizeof(desc);
  desc.flags = SoundBufferLocSoftware ? (plat::kDSBCAPS_LOCSOFTWARE | plat::kDSBCAPS_GLOBALFOCUS)
                                      : (plat::kDSBCAPS_STATIC | plat::kDSBCAPS_GLOBALFOCUS);
  desc.buffer_bytes = 400;
  desc.format = &format;
  if (g_sound.direct_sound->CreateSoundBuffer(&desc, &g_sound.silent_buffer, nullptr) != 0) {
    g_sound.silent_buffer = nullptr;
    WriteLogLine("無音バッファの作成に失敗しました");
    return;
  }
  void *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  if (g_sound.silent_buffer->Lock(0, 400, &p1, &n1, &p2, &n2, 0) != 0) {
    WriteLogLine("無音バッファのロックに失敗しました");
    g_sound.silent_buffer->Release();
    g_sound.silent_buffer = nullptr;
    return;
  }
  if (p1) std::memset(p1, 0, n1);
  if (p2) std::memset(p2, 0, n2);
  g_sound.silent_buffer->Unlock(p1, n1, p2, n2);
  g_sound.silent_buffer->Play(0, 0, plat::kDSBPLAY_LOOPING);
}

int StartPlainDirectSound() {
  WriteLogLine("DirectSound の初期化を行います\n");
  WriteLogLine("DirectSound インターフェースの取得を行います....  ");
  void* object = nullptr;
  // Object creation goes through the entry the library start loaded; before
  // the library has started it, straight to the platform's.
  using CreateFn = plat::HResult (*)(const plat::Guid&, void*, uint32_t, const plat::Guid&, void**);
  auto create = reinterpret_cast<CreateFn>(GetLoadedFunction("CoCreateInstance"));
  if (create == nullptr) create = &plat::CoCreateInstance;
  if (create(plat::kCLSID_DirectSound, nullptr, plat::kCLSCTX_ALL, plat::kIID_IDirectSound,
                             &object) < 0 ||
      object == nullptr) {
    g_sound.direct_sound = nullptr;
    return WriteLogLine("DirectSoundインターフェースの作成に失敗しました\n");
  }
  g_sound.direct_sound = static_cast<plat::DirectSound*>(object);
  WriteLogLine("成功\n");
  WriteLogLine("引き続きインターフェースの初期化処理...  ");
  plat::HResult result = g_sound.direct_sound->Initialize(nullptr);
  if (result < 0) {
    WriteLogLine("初期化に失敗しました\n");
    WriteLogLineFmt("エラーコード %x", static_cast<unsigned>(result));
    ReleaseDirectSound();
    return -1;
  }
  WriteLogLine("成功\n");
  // The device is shared by the whole desktop; no window of ours is needed.
  if (g_sound.direct_sound->SetCooperativeLevel(nullptr, plat::kDSSCL_PRIORITY) != 0) {
    WriteLogLine("DirectSoundの協調レベルの設定に失敗しました\n");
    ReleaseDirectSound();
    return -1;
  }
  plat::DsBufferDesc desc{};
  desc.size = sizeof(desc);
  desc.flags = plat::kDSBCAPS_PRIMARYBUFFER | (SoundBufferLocSoftware ? plat::kDSBCAPS_LOCSOFTWARE : 0);
  if (g_sound.direct_sound->CreateSoundBuffer(&desc, &g_sound.primary_buffer, nullptr) != 0) {
    g_sound.primary_buffer = nullptr;
    WriteLogLine("DirectSoundのプライマリサウンドバッファの作成に失敗しました\n");
    ReleaseDirectSound();
    return -1;
  }
  plat::DsCaps caps{};
  caps.size = sizeof(caps);
  g_sound.direct_sound->GetCaps(&caps);
  plat::WaveFormatEx format{};
  format.format_tag = plat::kWaveFormatPcm;
  format.channels = (caps.flags & plat::kDSCAPS_PRIMARYSTEREO) ? 2 : 1;
  format.bits_per_sample = (caps.flags & plat::kDSCAPS_PRIMARY16BIT) ? 16 : 8;
  format.samples_per_sec = caps.max_secondary_sample_rate < 44100 ? caps.max_secondary_sample_rate : 44100;
  format.block_align = static_cast<uint16_t>(format.bits_per_sample / 8 * format.channels);
  format.avg_bytes_per_sec = format.block_align * format.samples_per_sec;
  if (g_sound.primary_buffer->SetFormat(&format) != 0)
    WriteLogLine("DirectSoundのプライマリサウンドバッファのフォーマット設定に失敗しました\n");
  // Movie sound through the media graph plays on this device.
  plat::SetMediaAudioDevice(g_sound.direct_sound);
  return 0;
}

int StartDirectMusic() {
  WriteLogLine("DirectSound8 の初期化を行います\n");
  void* loader = nullptr;
  if (plat::CoCreateInstance(kCLSID_DirectMusicLoader, nullptr, plat::kCLSCTX_INPROC, kIID_IDirectMusicLoader8,
                             &loader) < 0) {
    WriteLogLine("DirectMusicLoader8 オブジェクトの作成に失敗しました\n");
    WriteLogLine("前バージョンでの初期化処理に移ります\n");
    DirectMusicMode = 0;
    return 1;  // go on with the plain start
  }
  // A loader without a performance cannot play anything.
  void* performance = nullptr;
  plat::CoCreateInstance(kCLSID_DirectMusicPerformance, nullptr, plat::kCLSCTX_INPROC,
                         kIID_IDirectMusicPerformance8, &performance);
  return WriteLogLine("DirectMusicPerformance オブジェクトの作成に失敗しました\n");
}

}  // namespace

int OnDSoundDevice(const plat::Guid* guid, const char* description, const char* module, void* context) {
  WriteLogLineFmt("モジュール名:%15s  ドライバ記述:%s ", module, description);
  return 1;
}

int InitializeSoundSystem() {
  if (g_sound.direct_sound != nullptr) return -1;
  g_sound.sound_lock_ready = 1;
  // The compression manager stays loaded after a failed start and serves the
  // next attempt.
  if (g_acm.module == nullptr) LoadAcmFunctions();
  if (DirectMusicMode == 1) {
    int r = StartDirectMusic();
    if (r == -1) return -1;
  }
  if (DirectMusicMode == 0 && StartPlainDirectSound() == -1) return -1;

  MakeSilentBuffer();
  SoundCreateMode = 0;
  OggPcmWordSize = 2;
  ListInit(&StreamSoundListHead, &StreamSoundListTail);
  ListInit(&PcmPlayerListHead, &PcmPlayerListTail);
  if (g_sound.direct_sound != nullptr) WriteDeviceReport();
  DeleteAllSoundHandles(0);
  DeleteAllPcmSources();
  DeleteAllPcmPlayers();

  g_sound.thread = nullptr;
  g_thread_running = 0;
  g_sound.thread_end_flag = 0;
  if (plat::GetSystemInfo().processor_count > 1) {
    if (g_sound.thread_wake == nullptr) g_sound.thread_wake = plat::CreateEvent(false, false);
    g_sound.thread = plat::CreateThread(&SoundThreadProc, nullptr, &g_sound.thread_id);
    if (g_sound.thread != nullptr)
      g_thread_running = 1;
    else
      WriteLogLine("サウンドスレッドの作成に失敗しました、メッセージ処理でサウンドを更新します\n");
  }
  WriteLogLine("DirectSound の初期化は正常に終了しました\n");
  return 0;
}

int TerminateSoundSystem() {
  if (g_sound.direct_sound == nullptr) return -1;
  if (g_sound.thread != nullptr) {
    g_sound.thread_end_flag = 1;
    plat::SetEvent(g_sound.thread_wake);
    bool pumping = true;
    while (g_sound.thread_end_flag.load() != 2) {
      if (pumping && PumpWindowMessages() != 0) pumping = false;
      plat::Sleep(2);
    }
    plat::WaitThread(g_sound.thread, plat::kInfinite);
    plat::CloseThread(g_sound.thread);
    g_sound.thread = nullptr;
    g_thread_running = 0;
  }
  WriteWaveFile();
  DeleteAllSoundHandles(0);
  DeleteAllPcmSources();
  DeleteAllPcmPlayers();
  DeleteAllMidiHandles();
  DeleteMidiTempFile();
  if (g_sound.music_performance != nullptr) {
    g_sound.music_performance->Stop(nullptr, nullptr, 0, 0);
    g_sound.music_performance->CloseDown();
    g_sound.music_performance->Release();
    g_sound.music_performance = nullptr;
  }
  if (g_sound.music_loader != nullptr) {
    g_sound.music_loader->Release();
    g_sound.music_loader = nullptr;
  }
  if (g_sound.primary_buffer != nullptr) {
    g_sound.primary_buffer->Stop();
    g_sound.primary_buffer->Release();
    g_sound.primary_buffer = nullptr;
  }
  if (g_sound.silent_buffer != nullptr) {
    g_sound.silent_buffer->Stop();
    g_sound.silent_buffer->Release();
    g_sound.silent_buffer = nullptr;
  }
  ReleaseDirectSound();
  FreeAcmFunctions();
  WriteLogLine("DirectSound の終了処理は正常に終了しました\n");
  return 0;
}

int SoundNeedsPumpService() { return g_thread_running ? 0 : 1; }

int ServiceSoundFromPump() {
  if (g_thread_running || !SoundStarted()) return 0;
  RefillAllStreamSounds();
  UpdateAllPcmPlayers();
  return 0;
}
