// game/frame/menu_scenes.cpp - boot, title and high-score scenes. Each is a
// small phase machine that shows its pictures through the menu objects.
#include "game/frame/menu_scenes.h"

#include "game/frame/data_report.h"
#include "game/frame/game_error.h"
#include "game/frame/input.h"
#include "game/objects/game_object.h"
#include "game/objects/resources.h"

namespace {

constexpr int kSheetRow = 14;

void RequestSound(int slot) { g_sounds[slot].request = 1; }

void FadeIn(GameState& s) {
  s.fade_value += kTitleFadeStep;
  if (s.fade_value >= 255.0) s.fade_value = 255.0;
}

// The common last phase: the pools go, the next scene starts at phase 0.
void LeaveScene(GameState& s) {
  ResetAllPools();
  s.levels[kLevelScene] = s.next_scene;
  s.level_counters[kLevelScene] = 0;
  ChangePhase(s, 0);
}

}  // namespace

void BootScene(GameState& s) {
  switch (s.levels[kLevelPhase]) {
    case 0:
      ChangePhase(s, 1);
      ResetSession(s);
      s.overlay_on = 1;
      s.overlay_mode = 10;
      break;
    case 1:
      if (!LoadGraphicEntry(kSheetRow, kBootSheetFile)) {
        ReportImageFailure(kBootSheetFile, "stm0a");
        RaiseGameError("stm0a");
      }
      ChangePhase(s, 2);
      break;
    case 2:
      s.fade_value = 255.0;
      ChangePhase(s, 3);
      PlaceObject(g_menu_objects[0], 320.0, 240.0, kSheetRow, 1, 0.0, 2);
      g_menu_objects[0].blend_step = kLogoBlendStep;
      break;
    case 3: {
      bool done = (g_input.pressed_actions & kActionShot) != 0;
      GameObject& logo = g_menu_objects[0];
      logo.blend_value += logo.blend_step;
      if (logo.blend_value >= 255.0) {
        logo.blend_value = 255.0;
        done = true;
      }
      ++s.level_counters[kLevelPhase];
      if (done) ChangePhase(s, 4);
      break;
    }
    case 4:
      LoadCommonResources();
      if (FinishPhaseAfter3Frames(s)) {
        ResetAllPools();
        s.levels[kLevelScene] = kSceneTitle;
        s.level_counters[kLevelScene] = 0;
        ChangePhase(s, 0);
      }
      break;
    default:
      break;
  }
}

void TitleScene(GameState& s) {
  switch (s.levels[kLevelPhase]) {
    case 0:
      ChangePhase(s, 1);
      ResetSession(s);
      s.replay_playback = 0;
      s.overlay_on = 1;
      s.overlay_mode = 11;
      break;
    case 1:
      if (!LoadGraphicEntry(kSheetRow, kTitleSheetFile)) {
        ReportImageFailure(kTitleSheetFile, "stm1a");
        RaiseGameError("stm1a");
      }
      CutGraphicEntry(524, kSheetRow, 0, 0, 640, 480);
      for (int i = 0; i < 4; ++i) {
        CutGraphicEntry(534 + i, kSheetRow, 672, 32 * i, 160, 32);
        CutGraphicEntry(544 + i, kSheetRow, 832, 32 * i, 160, 32);
      }
      CutGraphicEntry(554, kSheetRow, 16, 496, 304, 32);
      ChangePhase(s, 2);
      break;
    case 2:
      PlaceObject(g_menu_objects[0], 0.0, 0.0, 524, 0, 255.0, 1);
      for (int i = 0; i < 4; ++i) {
        PlaceObject(g_menu_objects[1 + i], 250.0, 290.0 + 32.0 * i, 534 + i, 1, 64.0, 1);
      }
      PlaceObject(g_menu_objects[10], 210.0, 290.0, 523, 0, 255.0, 1);
      PlaceObject(g_menu_objects[11], 160.0, 440.0, 554, 0, 255.0, 1);
      s.title_cursor = 1;
      LoadBgm(g_bgm_music, "bgm/op1.mp3", -1);
      PlayBgm(g_bgm_music);
      ChangePhase(s, 3);
      break;
    case 3: {
      FadeIn(s);
      if (g_input.pressed_directions & kDirUp) {
        if (s.title_cursor <= 1) {
          s.title_cursor = 1;
        } else {
          --s.title_cursor;
          RequestSound(4);
        }
      }
      if (g_input.pressed_directions & kDirDown) {
        if (s.title_cursor >= 4) {
          s.title_cursor = 4;
        } else {
          ++s.title_cursor;
          RequestSound(4);
        }
      }
      bool leave = false;
      if (g_input.pressed_actions & kActionShot) {
        switch (s.title_cursor) {
          case 1:
            s.replay_playback = 0;
            s.player_setup_row = 1;
            s.score = 0;
            s.carried_score = 0;
            g_player_setups[1].ship_kind = s.ship_kind_choice != 0 ? 2 : 1;
            g_player_setups[1].partner_mode = 1;
            s.next_scene = kSceneStage1;
            RequestSound(8);
            leave = true;
            break;
          case 2:
            s.next_scene = kSceneHighScore;
            RequestSound(5);
            leave = true;
            break;
          case 3:
            s.replay_playback = 1;
            s.player_setup_row = 1;
            s.score = 0;
            s.carried_score = 0;
            g_player_setups[1].ship_kind = 1;
            g_player_setups[1].partner_mode = 1;
            s.next_scene = kSceneStage1;
            RequestSound(8);
            leave = true;
            break;
          case 4:
            // Ends the program after this frame; the sound is heard during
            // the closing wait.
            RaiseGameError("EXIT 終了");
            RequestSound(5);
            break;
          default:
            break;
        }
      }
      for (uint32_t i = 0; i < 4; ++i) {
        GameObject& item = g_menu_objects[1 + i];
        item.graphic_id = (s.title_cursor == i + 1 ? 544 : 534) + i;
        item.blend_value = 255.0;
      }
      g_menu_objects[10].x = 210.0;
      if (s.title_cursor >= 1 && s.title_cursor <= 4) {
        g_menu_objects[10].y = 290.0 + 32.0 * (s.title_cursor - 1);
      }
      ++s.level_counters[kLevelPhase];
      if (leave) ChangePhase(s, 4);
      break;
    }
    case 4:
      LeaveScene(s);
      break;
    default:
      break;
  }
}

void HighScoreScene(GameState& s) {
  switch (s.levels[kLevelPhase]) {
    case 0:
      ResetSession(s);
      s.overlay_on = 1;
      s.overlay_mode = 12;
      ChangePhase(s, 1);
      break;
    case 1:
      ChangePhase(s, 2);
      break;
    case 2:
      ChangePhase(s, 3);
      break;
    case 3: {
      FadeIn(s);
      bool leave = false;
      if (g_input.pressed_actions & (kActionShot | kActionFocus)) {
        s.next_scene = kSceneTitle;
        RequestSound(6);
        leave = true;
      }
      ++s.level_counters[kLevelPhase];
      if (leave) ChangePhase(s, 4);
      break;
    }
    case 4:
      LeaveScene(s);
      break;
    default:
      break;
  }
}
