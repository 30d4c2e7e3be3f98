// game/winmain.cpp - the program's start-up and shutdown.
#include "game/winmain.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "game/frame/config.h"
#include "game/frame/data_report.h"
#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/frame/save_writer.h"
#include "game/frame/start_report.h"
#include "game/objects/game_object.h"
#include "game/objects/resources.h"
#include "rorud/rorud.h"

int32_t g_fonts[kFontCount];

namespace {

constexpr char kWindowTitle[] = "Quillona Ver2.00";

// The line that says why the configuration file could neither be read nor
// created.
std::string g_config_problem;

// Pad buttons 1 to 8 and the keys that press them: Z X C V A S D F.
constexpr struct {
  int pad_bit;
  int scan_code;
} kButtonKeys[8] = {{16, 44}, {32, 45}, {64, 46}, {128, 47},
                    {256, 30}, {512, 31}, {1024, 32}, {2048, 33}};

constexpr struct {
  int size, thickness, type;
} kFontSpecs[kFontCount] = {{13, 3, 3}, {16, 4, 2}, {20, 5, 3}, {21, 5, 3}, {24, 6, 3}, {32, 9, 3}};

}  // namespace

InitResult InitGame() {
  std::snprintf(g_error_text, sizeof g_error_text, "%s", "INITA___");
  ForgetReportedFiles();
  g_game.levels[kLevelMode] = 0;
  g_game.levels[kLevelScene] = 0;
  g_game.levels[kLevelPhase] = 0;
  g_game.level_counters[kLevelMode] = 0;
  g_game.level_counters[kLevelScene] = 0;
  g_game.level_counters[kLevelPhase] = 0;

  g_config_problem.clear();
  if (!LoadOrCreateConfig(kConfigPath, g_config, &g_config_problem)) return InitResult::kNoConfig;

  SetLogFileEnabled(0);
  SetWindowTitle(kWindowTitle);
  ConfigureScreenMode(640, 480, g_config.color32 == 1 ? 32 : 16, 60);
  SetRunInactiveFlag(1);
  SetVBlankWaitFlag(g_config.vsync);
  ChangeWindowMode(g_config.window_mode);
  if (g_config.window_mode == 1 && g_config.size_code != 0) {
    const double scale = WindowScaleForSizeCode(g_config.size_code);
    if (scale > 0.0) {
      SetWindowScale(scale, -1.0);
    } else {
      ReportBadWindowSize(kConfigPath, g_config.size_code);
      RaiseGameError("windowサイズ設定ミス");
    }
  }
  errno = 0;  // a start that fails for memory is told apart by ENOMEM
  if (LibraryStart() == -1) return InitResult::kNoLibrary;
  std::fputs(WindowInsteadOfFullScreenText(g_config.window_mode == 0).c_str(), stderr);
  std::fputs(WindowLargerThanDisplayText(g_config.window_mode == 1, g_config.size_code, kConfigPath).c_str(),
             stderr);

  SetGraphicsOptionFlag(0);
  SetSoundCreateMode(0);
  SetArchiveUse(1);
  SetArchiveExtensionEntry("hsd");
  // Only a warning: each image stops the game when it is loaded.
  WarnMissingImages();
  // Black is the transparent colour of every sheet.
  SetTransparentColor(0, 0, 0);
  SetDrawTarget(-2);
  SeedRandom(33557799);
  for (const auto& key : kButtonKeys) MapPadToKeys(1, key.pad_bit, key.scan_code, -1, -1, -1);
  for (int i = 0; i < kFontCount; ++i) {
    g_fonts[i] = CreateFontToHandle("ＭＳ ゴシック", kFontSpecs[i].size, kFontSpecs[i].thickness,
                                    kFontSpecs[i].type, -1, -1, 0, -1, -1);
  }
  ClearResourceTables();

  ResetPacing(g_pacing, static_cast<uint32_t>(GetMilliClock(0)));
  g_game.fade_value = 255.0;
  g_game.replay_playback = 0;
  g_game.pause = 0;
  ResetAllPools();

  for (int i = 0; i < 5; ++i) g_input.buttons[i] = g_config.buttons[i];
  g_input.raw_buttons = 0;
  g_input.raw_directions &= ~0x0F;
  g_input.held_directions &= ~0x0F;
  g_input.previous_directions &= ~0x0F;
  g_input.held_actions &= ~0x1F;
  g_input.previous_actions &= ~0x1F;
  LoadRecordFile();
  return InitResult::kReady;
}

int WinMain() {
  switch (InitGame()) {
    case InitResult::kReady:
      break;
    case InitResult::kNoConfig:
      std::fprintf(stderr, "quillona: %s\n", g_config_problem.c_str());
      return 1;
    case InitResult::kNoLibrary:
      std::fputs(LibraryStartFailureText(kWindowTitle).c_str(), stderr);
      return 1;
  }
  g_game.levels[kLevelScene] = kSceneBoot;
  while (g_stop_flag == 0) RunFrame();
  // A quit in the middle of a stage end still leaves its newest replay.
  FinishBackgroundSaves();
  // Lets the sounds requested in the last frame be heard.
  WaitMillisPumping(150);
  LibraryEnd();
  const int status = ExitStatusForError(g_error_text);
  if (status != 0) std::fprintf(stderr, "quillona: stopped by the game error %s\n", ErrorTagToUtf8(g_error_text).c_str());
  return status;
}
