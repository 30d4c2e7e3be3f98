// game/objects/panel.cpp - the side panel, the boss bar, the bonus line, the
// pause screen, the music caption, the menu overlay and the high-score
// screen.
#include <cstdint>

#include "game/frame/game_error.h"
#include "game/frame/input.h"
#include "game/objects/panel.h"
#include "game/objects/player.h"
#include "game/objects/resources.h"
#include "game/winmain.h"
#include "rorud/rorud.h"

namespace {

int HandleOf(uint32_t id) {
  const GraphicEntry* e = GraphicRow(id);
  return e != nullptr ? e->handle : -1;
}

// A number with its shadow one or two pixels down and right.
void PanelNumber(int x, int y, int value) {
  DrawTextWithFontFmt(x + 2, y + 1, GetColorCode(64, 32, 32), g_fonts[kFont32], "%04d", value);
  DrawTextWithFontFmt(x, y, GetColorCode(236, 255, 224), g_fonts[kFont32], "%04d", value);
}

void DrawBossBar(const BossGauge& g) {
  const int row = BossBarRow(g.phase);
  if (row < 0) {
    RaiseGameError("L2_draw_skn");
  } else {
    const int length = BossBarLength(g);
    SetBlendModeParam(1, 192);
    DrawGraphicStretched(20, 10, 20 + length, 24, HandleOf(static_cast<uint32_t>(row)), 0);
    SetBlendModeParam(0, 255);
  }
  DrawTextWithFont(5, 30, g.caption, GetColorCode(255, 224, 192), g_fonts[kFont13], 0, 0);
}

void DrawBonusLine(const BossGauge& g) {
  const int v = static_cast<int>(BonusSeconds(g.time_limit));
  if (g.phase_start_countdown > 1) {
    DrawTextWithFontFmt(2, 451, GetColorCode(32, 32, 32), g_fonts[kFont24], "Bonus %d", v);
    DrawTextWithFontFmt(1, 450, GetColorCode(255, 192, 192), g_fonts[kFont24], "Bonus %d", v);
  } else {
    DrawTextWithFontFmt(2, 461, GetColorCode(64, 32, 32), g_fonts[kFont16], "%d", v);
    DrawTextWithFontFmt(1, 460, GetColorCode(236, 224, 224), g_fonts[kFont16], "%d", v);
  }
}

void DrawPauseScreen() {
  SetBlendModeParam(1, 192);
  DrawRectBox(0, 0, 640, 480, GetColorCode(1, 1, 1), 1);
  SetBlendModeParam(0, 255);
  DrawTextWithFont(155, 200, "休憩中", GetColorCode(235, 235, 192), g_fonts[kFont32],
                   GetColorCode(32, 16, 16), 0);
  const uint32_t colour = GetColorCode(192, 235, 192);
  const uint32_t edge = GetColorCode(20, 16, 16);
  DrawTextWithFont(70, 260, "決定ボタン・・・休憩終了", colour, g_fonts[kFont20], edge, 0);
  DrawTextWithFont(70, 290, "取消ボタン・・・タイトルへ戻る", colour, g_fonts[kFont20], edge, 0);
}

}  // namespace

void DrawHud() {
  SetDrawClipRect(0, 0, 640, 480);
  SetDrawFilterMode(0);
  SetBlendModeParam(0, 255);
  const PlayerStatus& st = g_player_status;
  DrawGraphicAt(438, 64, HandleOf(st.hit_invulnerable_timer == 0 ? 140 : 141), 1);
  DrawGraphicAt(420, 0, HandleOf(499), 1);
  PanelNumber(498, 242, static_cast<int>(g_game.score));
  PanelNumber(498, 289, static_cast<int>(st.life));
  PanelNumber(498, 334, static_cast<int>(st.power_gauge));

  const BossGauge& g = g_game.boss_gauge;
  if (g.active == 1 && g.phase != 10) DrawBossBar(g);
  SetBlendModeParam(0, 255);
  if (g.time_limit > 0) DrawBonusLine(g);
  if (g_game.pause != 0) DrawPauseScreen();

  MusicCaption& c = g_game.music_caption;
  if (c.on == 1) {
    DrawTextWithFont(MusicCaptionX(c.text), RoundHalfAway(c.y), c.text,
                     GetColorCode(236, 255, 200), g_fonts[kFont16], 0, 0);
    AdvanceMusicCaption(c);
  }
  if (g_game.replay_playback != 0) {
    DrawTextWithFontFmt(397, 457, GetColorCode(190, 160, 160), g_fonts[kFont16], "%.0lf",
                        g_replayed_frame_rate);
  }
}

void DrawMenuObject(GameObject& r) {
  if (r.in_use == 0) return;
  SetBlendModeParam(static_cast<int>(r.blend_mode), RoundHalfAway(r.blend_value));
  const int x = RoundHalfAway(r.x);
  const int y = RoundHalfAway(r.y);
  switch (r.menu_draw_kind) {
    case 1:
      DrawGraphicAt(x, y, HandleOf(r.graphic_id), r.transparency);
      break;
    case 2:
      DrawGraphicRotated(x, y, r.scale, 0.0, HandleOf(r.graphic_id), r.transparency, 0);
      break;
    default:
      RaiseGameError("act_draw_mn");
      break;
  }
}

void DrawOverlay() {
  SetDrawClipRect(0, 0, 640, 480);
  SetDrawFilterMode(1);
  switch (g_game.overlay_mode) {
    case 10:
      DrawMenuObject(g_menu_objects[0]);
      break;
    case 11:
      for (GameObject& r : g_menu_objects) DrawMenuObject(r);
      break;
    case 12:
      DrawHighScoreScreen(g_game);
      break;
    default:
      RaiseGameError("L2_draw_oth");
      break;
  }
}

void DrawHighScoreScreen(GameState& s) {
  const uint32_t warm = GetColorCode(255, 224, 192);
  const uint32_t edge = GetColorCode(32, 16, 16);
  DrawTextWithFont(30, 30, "ハイスコア！", warm, g_fonts[kFont21], edge, 0);
  DrawTextWithFontFmt(50, 100, GetColorCode(192, 255, 128), g_fonts[kFont21],
                      "ハイスコアは、 %07d 点 です！！！", static_cast<int>(s.high_score));
  DrawTextWithFont(50, 320, "決定ボタンで戻ります。", warm, g_fonts[kFont21], edge, 0);
}
