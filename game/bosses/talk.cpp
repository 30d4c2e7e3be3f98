// game/bosses/talk.cpp - speech windows pop in and fade with their side's
// turn to speak; portraits slide forward and brighten while lit and step back
// while the other side speaks.
#include "game/bosses/talk.h"

#include <algorithm>

#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/resources.h"
#include "game/winmain.h"
#include "rorud/rorud.h"

namespace {

int HandleOf(uint32_t id) {
  const GraphicEntry* e = GraphicRow(id);
  return e != nullptr ? e->handle : -1;
}

void Common(GameObject& r, uint32_t kind, uint32_t side) {
  r.free = 0;
  r.in_use = 1;
  r.kind = kind;
  r.sub_type = side;
  r.own_index = g_find_free_index;
  r.parent_index = 0;
  r.killed = 0;
  r.state = 0;
  r.state_timer = 0;
  r.sub_state = 0;
  r.sub_state_timer = 0;
  r.draw_layer = 1;
  r.visible = 0;
}

bool Speaks(const GameObject& r) {
  const TalkState& t = g_game.talk;
  if (r.sub_type == kTalkLeft) return t.left_speaks != 0;
  if (r.sub_type == kTalkRight) return t.right_speaks != 0;
  return false;
}

bool Present(const GameObject& r) {
  const TalkState& t = g_game.talk;
  if (r.sub_type == kTalkLeft) return t.left_present != 0;
  if (r.sub_type == kTalkRight) return t.right_present != 0;
  return false;
}

bool Lit(const GameObject& r) {
  const TalkState& t = g_game.talk;
  if (r.sub_type == kTalkLeft) return t.left_highlighted != 0;
  if (r.sub_type == kTalkRight) return t.right_highlighted != 0;
  return false;
}

struct PortraitStart {
  double x;
  double y;
  double angle;
};
constexpr PortraitStart kPortraitStarts[3] = {{0, 0, 0}, {50.0, 270.0, -10.0}, {360.0, 270.0, 190.0}};
constexpr double kPortraitSpeed = 5.0;

void ResetPortraitMotion(GameObject& r) {
  if (r.sub_type != kTalkLeft && r.sub_type != kTalkRight) return;
  const PortraitStart& s = kPortraitStarts[r.sub_type];
  r.base.x = s.x;
  r.base.y = s.y;
  r.base.angle = s.angle;
  r.base.speed = kPortraitSpeed;
}

// The portrait picture of the side's expression; 0 after a game error.
uint32_t Picture(const GameObject& r, bool dim) {
  const TalkState& t = g_game.talk;
  if (r.sub_type == kTalkLeft) {
    const uint32_t e = t.left_expression;
    if (e >= 1 && e <= 4) return 136 + (e - 1);
    RaiseGameError("SK_TAC_m1");
    return 0;
  }
  if (r.sub_type != kTalkRight) {
    RaiseGameError("SK_TAC_m3");
    return 0;
  }
  const uint32_t e = t.right_expression;
  switch (g_game.opponent_portrait_set) {
    case 1:
      if (e >= 1 && e <= 4) return 484 + (e - 1);
      RaiseGameError(dim ? "SK_TAC_m 21" : "SK_TAC_m11");
      return 0;
    case 2:
      if (e >= 1 && e <= 4) return 488 + (e - 1);
      RaiseGameError(dim ? "SK_TAC_m 22" : "SK_TAC_m12");
      return 0;
    case 3:
      if (e == 1) return 487;
      if (e == 2) return 19;
      RaiseGameError(dim ? "SK_TAC_m 23" : "SK_TAC_m 13");
      return 0;
    default:
      RaiseGameError(dim ? "SK_TAC_mss" : "SK_TAC_m2ss");
      return 0;
  }
}

void SetPicture(GameObject& r, bool dim) {
  const uint32_t id = Picture(r, dim);
  if (id != 0) SetObjectGraphic(r, 0, id, 1, 128.0);
}

}  // namespace

void CreateTalkWindow(GameObject& r, uint32_t side) {
  Common(r, kKindTalkWindow, side);
  if (side != kTalkLeft && side != kTalkRight) {
    RaiseGameError("SK_KAW_n");
    return;
  }
  r.visible = 1;
  r.generic_draw = 0;
  r.graphic_id = side == kTalkLeft ? 479 : 478;
  r.blend_mode = 1;
  r.scale = 1.0;
  r.transparency = 1;
  r.angle = 0.0;
  r.extra_angle = 0.0;
  r.spin_step = 0.0;
  r.blend_value = 100.0;
  r.x = 210.0;
  r.y = 385.0;
}

void UpdateTalkWindow(GameObject& r) {
  double& text = r.kind_values[kTextAlpha];
  double& text_step = r.kind_values[kTextAlphaStep];
  switch (r.state) {
    case 0:
      r.visible = 0;
      PhaseOnFlag(r.state, r.state_timer, g_game.talk.talk_mode != 0 && Speaks(r));
      break;
    case 1:
      r.visible = 1;
      r.blend_value = 0.0;
      r.blend_step = 10.0;
      r.scale = 0.1;
      r.scale_step = 0.05;
      text = 0.0;
      text_step = 5.0;
      r.state = 2;
      r.state_timer = 0;
      break;
    case 2:
      r.blend_value = std::min(r.blend_value + r.blend_step, 192.0);
      r.scale = std::min(r.scale + r.scale_step, 1.0);
      text = std::min(text + text_step, 255.0);
      PhaseOnFlag(r.state, r.state_timer, !Speaks(r));
      break;
    case 3:
      r.blend_step = -20.0;
      text_step = -20.0;
      r.state = 4;
      r.state_timer = 0;
      break;
    case 4:
      r.blend_value += r.blend_step;
      if (r.blend_value <= 0.0) {
        r.blend_value = 0.0;
        r.state = 5;
        r.state_timer = 0;
      }
      text = std::max(text + text_step, 0.0);
      break;
    case 5:
      r.visible = 0;
      PhaseJumpOnFlag(r.state, r.state_timer, Speaks(r), 1);
      break;
    default: break;
  }
  if (g_game.talk.talk_mode == 0) {
    r.state = 0;
    r.state_timer = 0;
  }
}

void DrawTalkWindow(GameObject& r) {
  SetBlendModeParam(1, static_cast<int>(r.blend_value));
  DrawGraphicRotated(RoundHalfAway(r.x), RoundHalfAway(r.y), r.scale, 0.0, HandleOf(r.graphic_id),
                     1, 0);
  SetBlendModeParam(1, static_cast<int>(r.kind_values[kTextAlpha]));
  const TalkState& t = g_game.talk;
  const char* const* lines;
  uint32_t colour;
  uint32_t edge;
  if (r.sub_type == kTalkLeft) {
    lines = t.left_lines;
    colour = GetColorCode(224, 192, 160);
    edge = GetColorCode(10, 32, 32);
  } else if (r.sub_type == kTalkRight) {
    lines = t.right_lines;
    colour = GetColorCode(160, 224, 192);
    edge = GetColorCode(32, 10, 32);
  } else {
    return;
  }
  for (int i = 0; i < 3; ++i) {
    if (lines[i] == nullptr || lines[i][0] == '\0') continue;
    DrawTextWithFont(26, 340 + 30 * i, lines[i], colour, g_fonts[kFont21], edge, 0);
  }
}

void CreatePortrait(GameObject& r, uint32_t side) {
  Common(r, kKindPortrait, side);
  r.x = 0.0;
  r.y = 0.0;
  if (side != kTalkLeft && side != kTalkRight) {
    RaiseGameError("SK_TAC_n2");
    return;
  }
  r.visible = 1;
  r.scale = 1.0;
  r.generic_draw = 0;
  r.graphic_id = side == kTalkLeft ? 136 : 482;
  r.blend_mode = 1;
  r.angle = 0.0;
  r.extra_angle = 0.0;
  r.spin_step = 0.0;
  r.transparency = 1;
  r.blend_value = 128.0;
  ResetPortraitMotion(r);
}

void UpdatePortrait(GameObject& r) {
  switch (r.state) {
    case 0:
      r.visible = 0;
      if (PhaseOnFlag(r.state, r.state_timer, g_game.talk.talk_mode != 0 && Present(r))) {
        ResetPortraitMotion(r);
      }
      break;
    case 1:
      r.state = 2;
      r.state_timer = 0;
      SetPicture(r, false);
      r.base.speed = kPortraitSpeed;
      r.blend_step = 10.0;
      break;
    case 2:
      if (r.state_timer < 10) MoveByAngle(r.base);
      r.blend_value = std::min(r.blend_value + r.blend_step, 244.0);
      PhaseOnFlag(r.state, r.state_timer, !Lit(r));
      break;
    case 3:
      r.state = 4;
      r.state_timer = 0;
      SetPicture(r, true);
      r.base.speed = -kPortraitSpeed;
      r.blend_step = -10.0;
      break;
    case 4:
      if (r.state_timer < 10) MoveByAngle(r.base);
      r.blend_value = std::max(r.blend_value + r.blend_step, 128.0);
      PhaseJumpOnFlag(r.state, r.state_timer, Lit(r), 1);
      break;
    default: break;
  }
  if (g_game.talk.talk_mode == 0) {
    r.state = 0;
    r.state_timer = 0;
  }
  r.x = r.base.x;
  r.y = r.base.y;
}

void DrawPortrait(GameObject& r) {
  SetBlendModeParam(1, static_cast<int>(r.blend_value));
  DrawGraphicRotated(RoundHalfAway(r.x), RoundHalfAway(r.y), 1.0, 0.0, HandleOf(r.graphic_id), 1,
                     0);
}
