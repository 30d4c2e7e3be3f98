// lib/system/library_start.cpp - the library start and end: every subsystem is
// brought up and down in one fixed order, under the library lock.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lib/core/archive_files.h"
#include "lib/core/clock.h"
#include "lib/core/file_functions.h"
#include "lib/system/input.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/system/network.h"
#include "lib/system/text_input.h"
#include "lib/system/window_system.h"
#include "lib/softrender/soft_image.h"
#include "lib/graphics/font.h"
#include "lib/graphics/graphics_device.h"
#include "lib/graphics/model_tables.h"
#include "lib/sound/movie.h"
#include "lib/sound/sound.h"
#include "platform/audio/mci.h"
#include "platform/kernel/com.h"
#include "platform/input/dinput.h"
#include "platform/window/imm.h"
#include "platform/kernel/kernel.h"
#include "platform/net/winsock.h"

namespace {

int g_started = 0;
int g_start_in_progress = 0;
int g_com_initialised = 0;
char g_start_directory[260];
LibraryStepRecorder g_recorder = nullptr;

void Step(const char* name) {
  if (g_recorder != nullptr) g_recorder(name);
}

// ---- The system libraries, loaded by name ----------------------------------------
//
// This system has no dynamic system libraries. Each module below is "present"
// when the library has something behind its functions, and each function is
// present when there is a stand-in for it; the others stay null, as on a
// machine that lacks them, and every user tests its pointer.

uint32_t StandInTimeGetTime() { return plat::TimeGetTime(); }
uint32_t StandInTimeBeginPeriod(uint32_t) { return 0; }
uint32_t StandInTimeEndPeriod(uint32_t) { return 0; }
struct TimeCaps {
  uint32_t period_min, period_max;
};
uint32_t StandInTimeGetDevCaps(TimeCaps* caps, uint32_t size) {
  if (caps == nullptr || size < sizeof(TimeCaps)) return 1;
  uint32_t min = plat::GetSystemInfo().timer_min_period_ms;
  caps->period_min = min == 0 ? 1 : min;
  caps->period_max = 1000000;
  return 0;
}
// There is no apartment to enter: every object the library creates lives in
// the process, so initialising succeeds at once.
int32_t StandInCoInitialize(void*) { return 0; }
void StandInCoUninitialize() {}
void* StandInCoTaskMemAlloc(size_t size) { return plat::HeapAlloc(size); }
void StandInCoTaskMemFree(void* block) {
  if (block != nullptr) plat::HeapFree(block);
}
void StandInCoFreeUnusedLibraries() {}
void StandInInitCommonControls() {}

struct FunctionEntry {
  const char* name;
  void* stand_in;  // null: absent
  void* loaded;
};

struct ModuleEntry {
  const char* name;
  bool present;
  bool loaded;
  FunctionEntry* functions;
  int count;
};

#define RR_FN(name, fn) {name, reinterpret_cast<void*>(fn), nullptr}
#define RR_NONE(name) {name, nullptr, nullptr}

FunctionEntry g_ws2[] = {
    RR_FN("WSAGetLastError", plat::WsaGetLastError), RR_FN("WSAStartup", plat::WsaStartup),
    RR_FN("WSACleanup", plat::WsaCleanup), RR_FN("WSAAsyncSelect", plat::WsaAsyncSelect),
    RR_NONE("getaddrinfo"), RR_NONE("gethostbyaddr"), RR_NONE("gethostbyname"),
    RR_FN("gethostname", plat::GetHostName), RR_FN("ntohs", plat::Ntohs), RR_FN("htons", plat::Htons),
    RR_FN("connect", plat::Connect), RR_FN("socket", plat::Socket), RR_FN("send", plat::Send),
    RR_FN("sendto", plat::SendTo), RR_FN("recvfrom", plat::RecvFrom), RR_FN("accept", plat::Accept),
    RR_FN("closesocket", plat::CloseSocket), RR_FN("shutdown", plat::Shutdown),
    RR_FN("listen", plat::Listen), RR_FN("bind", plat::Bind), RR_FN("inet_addr", plat::InetAddr),
    RR_FN("recv", plat::Recv)};
FunctionEntry g_imm[] = {
    RR_FN("ImmGetContext", plat::ImmGetContext), RR_FN("ImmReleaseContext", plat::ImmReleaseContext),
    RR_FN("ImmGetOpenStatus", plat::ImmGetOpenStatus), RR_NONE("ImmGetConversionStatus"),
    RR_FN("ImmNotifyIME", plat::ImmNotifyIME), RR_FN("ImmSetOpenStatus", plat::ImmSetOpenStatus),
    RR_FN("ImmGetCandidateListA", plat::ImmGetCandidateListA),
    RR_FN("ImmGetCompositionStringA", plat::ImmGetCompositionStringA),
    RR_FN("ImmSetCompositionStringA", plat::ImmSetCompositionStringA)};
FunctionEntry g_winmm[] = {
    RR_NONE("timeSetEvent"), RR_NONE("timeKillEvent"),
    RR_FN("timeBeginPeriod", StandInTimeBeginPeriod), RR_FN("timeEndPeriod", StandInTimeEndPeriod),
    RR_FN("timeGetTime", StandInTimeGetTime), RR_FN("timeGetDevCaps", StandInTimeGetDevCaps),
    RR_FN("joyGetPosEx", plat::JoyGetPosEx), RR_FN("joyGetDevCapsA", plat::JoyGetDevCapsA), RR_FN("mciSendCommandA", plat::MciSendCommand)};
FunctionEntry g_ole32[] = {
    RR_FN("CoCreateInstance", plat::CoCreateInstance), RR_FN("CoTaskMemAlloc", StandInCoTaskMemAlloc),
    RR_FN("CoTaskMemFree", StandInCoTaskMemFree), RR_FN("CoInitialize", StandInCoInitialize),
    RR_FN("CoFreeUnusedLibraries", StandInCoFreeUnusedLibraries),
    RR_FN("CoUninitialize", StandInCoUninitialize)};
FunctionEntry g_comctl32[] = {RR_FN("InitCommonControls", StandInInitCommonControls)};
FunctionEntry g_dwmapi[] = {RR_NONE("DwmEnableComposition")};
FunctionEntry g_user32[] = {RR_FN("WINNLSEnableIME", plat::WinnlsEnableIme)};

#undef RR_FN
#undef RR_NONE

#define RR_MODULE(name, present, table) {name, present, false, table, sizeof(table) / sizeof(table[0])}
// Indexes into g_modules.
enum { kWs2, kImm, kWinmm, kOle32, kComctl32, kDwmapi, kUser32, kModuleCount };
ModuleEntry g_modules[kModuleCount] = {
    RR_MODULE("ws2_32.dll", true, g_ws2),       RR_MODULE("Imm32.dll", true, g_imm),
    RR_MODULE("winmm.dll", true, g_winmm),       RR_MODULE("ole32.dll", true, g_ole32),
    RR_MODULE("comctl32.dll", true, g_comctl32), RR_MODULE("dwmapi.dll", false, g_dwmapi),
    RR_MODULE("User32.dll", true, g_user32)};
#undef RR_MODULE

// Loads a module when its handle is still null.
void LoadModule(int index) {
  ModuleEntry& m = g_modules[index];
  if (m.loaded || !m.present) return;
  m.loaded = true;
  for (int i = 0; i < m.count; ++i) m.functions[i].loaded = m.functions[i].stand_in;
}

void FreeModule(int index) {
  ModuleEntry& m = g_modules[index];
  if (!m.loaded) return;
  m.loaded = false;
  for (int i = 0; i < m.count; ++i) m.functions[i].loaded = nullptr;
}

template <typename F>
F Loaded(const char* name) {
  return reinterpret_cast<F>(GetLoadedFunction(name));
}

}  // namespace

void* GetLoadedFunction(const char* name) {
  if (name == nullptr) return nullptr;
  for (const ModuleEntry& m : g_modules) {
    for (int i = 0; i < m.count; ++i) {
      if (std::strcmp(m.functions[i].name, name) == 0) return m.functions[i].loaded;
    }
  }
  return nullptr;
}

void SetLibraryStepRecorder(LibraryStepRecorder recorder) { g_recorder = recorder; }

int IsLibraryStarted() { return g_started; }
int IsLibraryStarting() { return g_start_in_progress; }

// ---- Start -----------------------------------------------------------------------------

int LibraryStart() {
  if (g_started == 1) return 0;
  LockLibrary();
  int r = LibraryStartCore();
  UnlockLibrary();
  return r;
}

int LibraryStartCore() {
  if (g_started == 1) return 0;
  g_start_in_progress = 1;

  Step("LoadSystemLibraries");
  for (int m : {kWs2, kImm, kWinmm, kOle32, kComctl32}) LoadModule(m);

  if (IsWindowMode() == 0) {
    // A full-screen size that no display mode offers runs in a window, except
    // 320 x 240 drawn by the device, which is shown at 640 x 480.
    Step("FullScreenSizeCheck");
    int width, height;
    GetScreenSize(&width, &height);
    if (!ScreenSizeIsDisplayMode() && !(width == 320 && height == 240 && GetHardwareRenderFlag())) {
      ChangeWindowMode(1);
    }
    if (Screen().width == 320 && Screen().height == 240 && IsWindowMode() == 0) {
      Screen().emulate_320x240 = 1;
      Screen().width = 640;
      Screen().height = 480;
    }
  }

  Step("InitializeYuvTables");
  InitializeYuvTables();
  Step("ArchiveCacheEnd");
  ArchiveCacheEnd();
  Step("InstallFileFunctions");
  InstallFileFunctions(nullptr);
  Step("GetStartDirectory");
  g_start_directory[0] = '\0';
  FileGetDirThunk(g_start_directory);
  if (GetLogFolder()[0] == '\0') SetLogFolder(g_start_directory);

  Step("LogFileStart");
  LogFileStart();

  Step("ColourDepthCheck");
  int desktop_bits = 0;
  GetDesktopState(nullptr, nullptr, &desktop_bits);
  int screen_bits = GetScreenColorBits();
  if ((desktop_bits == 24 && IsWindowMode() == 1) || screen_bits == 24) {
    return WriteLogLine("ZOvurarは２４ビットカラーモードに対応していません\n");
  }

  Step("PerformanceFrequency");
  int64_t frequency = plat::QueryPerformanceFrequency();
  SetMicroClockCounterFrequency(frequency);

  Step("WriteSystemReport");
  WriteSystemReport();

  // The two stream tables are built into the library; looking them up here
  // keeps the step where it was.
  Step("FillStreamTables");
  (void)GetFileStreamTable();
  (void)GetMemoryStreamTable();

  Step("LoadLateLibraries");
  LoadModule(kDwmapi);
  LoadModule(kUser32);

  // The library's own restore routine until the program registers one.
  Step("SetGraphicsRestoreCallback");
  SetGraphicsRestoreCallback(nullptr);

  Step("CoInitialize");
  if (g_com_initialised == 0) {
    WriteLogLine("ＣＯＭの初期化... ");
    auto co_initialize = Loaded<int32_t (*)(void*)>("CoInitialize");
    if (co_initialize != nullptr && co_initialize(nullptr) >= 0) {
      WriteLogLine("成功しました\n");
      g_com_initialised = 1;
    } else {
      WriteLogLine("ＣＯＭの初期化に失敗しました\n");
    }
  }

  Step("StartWindowSystem");
  if (StartWindowSystem() == -1) goto failed;

  Step("InputStart");
  if (InputStart() == -1) goto failed;
  Step("InitializeSoundSystem");
  // Without sound the library still runs; the sound start logs its failure.
  InitializeSoundSystem();
  Step("GraphicsSystemStart");
  if (GraphicsSystemStart() < 0) goto failed;
  Step("InitCharCodeBuffer");
  InitCharCodeBuffer();

  g_started = 1;

  if (IsWindowMode() == 0) {
    Step("ForceForegroundWindow");
    ForceForegroundWindow(GetMainWindow(), 1);
  }
  Step("ScreenLogStart");
  ScreenLogStart();
  // The back screen first, so that the front screen's set-up starts from
  // the screen's own size and camera.
  Step("SetDrawTarget");
  SetDrawTarget(-2);
  SetDrawTarget(-4);
  Step("InitModelSystem");
  InitModelSystem();

  g_start_in_progress = 0;
  return 0;

failed:
  // The error number of the step that failed (ENOMEM when memory ran out)
  // outlasts the clean-up, so that the caller can tell why.
  const int error = errno;
  LibraryEndCore();
  g_start_in_progress = 0;
  errno = error;
  return -1;
}

// ---- End ---------------------------------------------------------------------------------

int LibraryEnd() {
  if (g_started == 0) return 0;
  LockLibrary();
  int r = LibraryEndCore();
  UnlockLibrary();
  DeleteLibraryLock();
  return r;
}

int LibraryEndCore() {
  if (g_started == 0) return 0;
  WindowState().ending = 1;
  Step("ScreenLogEnd");
  ScreenLogEnd();
  Step("NetworkEnd");
  NetworkEnd();
  Step("StopMusicPlayback");
  StopMusicPlayback();
  Step("DeleteAllModelRecords");
  DeleteAllModelRecords();
  Step("TerminateGraphicsSystem");
  ShutdownGraphicsSystem();
  Step("InputEnd");
  InputEnd();
  Step("TerminateSoundSystem");
  TerminateSoundSystem();
  Step("TeardownWindow");
  TeardownWindow();
  Step("CoUninitialize");
  if (g_com_initialised) {
    auto co_uninitialize = Loaded<void (*)()>("CoUninitialize");
    if (co_uninitialize != nullptr) co_uninitialize();
    WriteLogLine("ＣＯＭを終了... 完了\n");
    g_com_initialised = 0;
  }
  Step("DeleteAllSoftImages");
  DeleteAllSoftImages();
  g_started = 0;

  Step("PumpUntilDestroyed");
  while (PumpWindowMessages() == 0 && WindowState().window_destroyed == 0 &&
         WindowState().destroy_received == 0) {
  }
  Step("UnregisterClass");
  plat::UnregisterWindowClass(GetWindowClassName());
  Step("DestroyMainWindow");
  for (plat::Window* found = plat::FindWindow(GetWindowClassName());
       found != nullptr && found == GetMainWindow(); found = plat::FindWindow(GetWindowClassName())) {
    plat::DestroyWindow(found);
    plat::Sleep(100);
  }
  Step("RestoreStartDirectory");
  FileSetDirThunk(g_start_directory);
  Step("ArchiveCacheEnd");
  ArchiveCacheEnd();
  Step("DumpAllocations");
  DumpAllocations();
  Step("FreeSystemLibraries");
  for (int m : {kDwmapi, kUser32, kWs2, kImm, kWinmm, kOle32, kComctl32}) FreeModule(m);
  return 0;
}

// ---- Fatal errors -----------------------------------------------------------------------------

void FatalErrorExit(const char* message) {
  WriteLogLine(message != nullptr ? message : "");
  WriteLogLine("\n");
  LibraryEndCore();
  DeleteLibraryLock();
  plat::ExitProcess(-1);
}

void FatalErrorExitFmt(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  FatalErrorExit(buffer);
}
