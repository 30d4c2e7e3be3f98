// game/objects/effects.cpp - creators and updates of the effects. Every
// random value comes from the library's generator in a fixed order, so an
// effect made during a replay looks and lasts exactly as it did when played.
#include "game/objects/effects.h"

#include "game/frame/game_error.h"
#include "game/objects/dispatch.h"
#include "rorud/rorud.h"

namespace {

void CommonSettings(GameObject& r, uint32_t kind, double x, double y) {
  r.in_use = 1;
  r.free = 0;
  r.kind = kind;
  r.sub_type = 0;
  r.killed = 0;
  r.parent_index = 0;
  r.own_index = g_find_free_index;
  r.state = 0;
  r.state_timer = 0;
  r.sub_state = 0;
  r.sub_state_timer = 0;
  r.counter3 = 0;
  r.timer3 = 0;
  r.x = x;
  r.y = y;
  r.generic_draw = 0;
  r.transparency = 1;
  r.angle = 0.0;
  r.extra_angle = 0.0;
}

struct ExplosionSize {
  double radius;
  int puffs;  // puff points besides the base point
  double scale_base, scale_width;
  double blend_base, blend_width;
  uint32_t hold;
  int delay_max;
};
constexpr ExplosionSize kExplosionSizes[4] = {
    {16.0, 3, 0.3, 0.3, 32.0, 32.0, 3, 5},
    {24.0, 3, 0.6, 0.6, 64.0, 32.0, 4, 6},
    {32.0, 5, 1.0, 0.6, 192.0, 32.0, 5, 7},
    {48.0, 5, 1.5, 0.8, 224.0, 32.0, 6, 8},
};

struct RingSize {
  uint32_t ring_count;
  double core_factor;
  double spin;
  double blend;
  double p, q, r;
  double ring_radius;
  double ring_first, ring_later, ring_switch;
  double scale_first, scale_later;
};
constexpr RingSize kBurstSizes[4] = {
    {7, 1.5, 2.0, 64.0, -0.1, -1.0, -3.0, 5.0, 1.5, -0.1, 10.0, 0.02, 0.01},
    {9, 1.5, 2.0, 96.0, -0.1, -0.5, -3.0, 5.0, 2.0, 0.3, 10.0, 0.05, 0.01},
    {12, 1.5, 2.0, 128.0, -0.1, -0.5, -1.0, 5.0, 3.5, 0.5, 20.0, 0.07, 0.03},
    {20, 1.7, 3.0, 160.0, -0.1, -0.2, -1.0, 10.0, 5.0, 1.5, 20.0, 0.09, 0.03},
};
constexpr RingSize kBossBurstSizes[2] = {
    {7, 1.5, 2.0, 64.0, -0.1, -1.0, -1.5, 5.0, 1.5, -0.1, 10.0, 0.02, 0.01},
    {9, 1.5, 2.0, 96.0, -0.1, -0.5, -1.5, 5.0, 2.0, 0.3, 10.0, 0.05, 0.01},
};

void ApplyRingSize(GameObject& r, const RingSize& s) {
  r.kind_counters[kRingCount] = s.ring_count;
  r.value = s.core_factor;
  r.spin_step = s.spin;
  r.blend_value = s.blend;
  r.kind_values[kBlendStepP] = s.p;
  r.kind_values[kBlendStepQ] = s.q;
  r.kind_values[kBlendStepR] = s.r;
  r.kind_values[kBlendAgeQ] = 15.0;
  r.kind_values[kBlendAgeR] = 30.0;
  r.parts[0].move.x = s.ring_radius;
  r.parts[0].move.speed = 0.0;
  r.kind_values[kRingStepFirst] = s.ring_first;
  r.kind_values[kRingStepLater] = s.ring_later;
  r.kind_values[kRingSwitch] = s.ring_switch;
  r.kind_values[kScaleStepFirst] = s.scale_first;
  r.kind_values[kScaleStepLater] = s.scale_later;
  r.kind_values[kScaleAge] = 30.0;
  r.scale_step = 0.0;
}

void RingStart(GameObject& r, uint32_t kind, uint32_t graphic, double x, double y) {
  CommonSettings(r, kind, x, y);
  r.graphic_id = graphic;
  r.visible = 1;
  r.blend_mode = 2;
  r.scale = 1.0;
  r.draw_layer = 3;
  r.spin_step = 0.0;
}

// One update of a ring effect; true when it faded out and was removed.
bool StepRing(GameObject& r, double scale_cap) {
  const double t = static_cast<double>(r.state_timer);
  if (t > r.kind_values[kBlendAgeR]) {
    r.blend_step = r.kind_values[kBlendStepR];
  } else if (t > r.kind_values[kBlendAgeQ]) {
    r.blend_step = r.kind_values[kBlendStepQ];
  } else {
    r.blend_step = r.kind_values[kBlendStepP];
  }
  r.parts[0].move.speed =
      t > r.kind_values[kRingSwitch] ? r.kind_values[kRingStepLater] : r.kind_values[kRingStepFirst];
  r.scale_step =
      t > r.kind_values[kScaleAge] ? r.kind_values[kScaleStepLater] : r.kind_values[kScaleStepFirst];
  r.parts[0].move.x += r.parts[0].move.speed;
  r.extra_angle += r.spin_step;
  r.scale += r.scale_step;
  if (scale_cap > 0.0 && r.scale > scale_cap) r.scale = scale_cap;
  r.blend_value += r.blend_step;
  ++r.state_timer;
  if (r.blend_value <= 0.0) {
    r.blend_value = 0.0;
    RemoveObject(r);
    return true;
  }
  return false;
}

}  // namespace

GameObject* TakeFreeEffect() {
  const uint32_t index = FindFreeEffect();
  return index == kPoolFull ? nullptr : &g_effects[index];
}

void CreateFocusIndicator(GameObject& r) {
  CommonSettings(r, kKindFocusIndicator, g_player.x, g_player.y);
  r.draw_layer = 2;
  r.visible = 1;
  r.blend_mode = 2;
  r.blend_value = 16.0;
  r.graphic_id = 476;
  r.scale = 1.0;
  r.spin_step = 1.3;
}

void CreateExplosion(GameObject& r, uint32_t v, uint32_t s, double x, double y) {
  if (v < 1 || v > 4) {
    // Nothing is made: the game stops at the end of the frame.
    RaiseGameError("FC_EXP_n");
    return;
  }
  const ExplosionSize& size = kExplosionSizes[v - 1];
  CommonSettings(r, kKindExplosion, x, y);
  r.level = v;
  r.sub_type = s;
  r.draw_layer = s == 2 ? 2 : 3;
  r.blend_mode = 0;
  r.graphic_id = 380;
  r.scale = 1.0;
  r.visible = 0;
  const double d = size.radius;
  r.base.x = x + RandRange(2.0 * d, -d);
  r.base.y = y + RandRange(2.0 * d, -d);
  for (int i = 0; i < 5; ++i) {
    MotionPart& p = r.parts[i];
    if (i < size.puffs) {
      p.move.x = x + RandRange(2.0 * d, -d);
      p.move.y = y + RandRange(2.0 * d, -d);
    }
    if (i >= 3) p.flag = i < size.puffs ? 1 : 0;
  }
  r.scale = RandRange(size.scale_width, size.scale_base);
  r.blend_value = RandRange(size.blend_width, size.blend_base);
  r.kind_counters[kExplosionHoldSet] = size.hold;
  r.kind_counters[kExplosionHold] = size.hold;
  r.kind_counters[kExplosionDelay] = static_cast<uint32_t>(GetRandomRange(size.delay_max));
  r.kind_counters[kExplosionFrame] = 0;
}

void UpdateExplosion(GameObject& r) {
  uint32_t& delay = r.kind_counters[kExplosionDelay];
  uint32_t& hold = r.kind_counters[kExplosionHold];
  uint32_t& frame = r.kind_counters[kExplosionFrame];
  if (r.state == 0) {
    if (delay > 0) --delay;
    ++r.state_timer;
    if (delay == 0) {
      r.state = 1;
      r.state_timer = 0;
      r.visible = 1;
    }
    return;
  }
  if (hold > 0) --hold;
  if (hold == 0) {
    hold = r.kind_counters[kExplosionHoldSet];
    if (frame >= 9) {
      frame = 9;
      RemoveObject(r);
      return;
    }
    ++frame;
  }
}

void CreateBurst(GameObject& r, uint32_t appearance, uint32_t size, double x, double y) {
  uint32_t graphic;
  if (appearance == 1) {
    graphic = 448;
  } else if (appearance == 4) {
    graphic = 451;
  } else {
    RaiseGameError("FC_HAJ_n1");
    return;
  }
  if (size < 1 || size > 4) {
    RaiseGameError("FC_HAJ_n2");
    return;
  }
  RingStart(r, kKindBurst, graphic, x, y);
  ApplyRingSize(r, kBurstSizes[size - 1]);
  r.level = size;
}

void UpdateBurst(GameObject& r) { StepRing(r, 0.0); }

void CreateBossBurst(GameObject& r, uint32_t appearance, uint32_t size, double x, double y) {
  if (appearance < 1 || appearance > 7) {
    RaiseGameError("FC_HAJ_n1");
    return;
  }
  if (size < 1 || size > 2) {
    RaiseGameError("FC_HAT_n2");
    return;
  }
  RingStart(r, kKindBossBurst, 440 + (appearance - 1), x, y);
  ApplyRingSize(r, kBossBurstSizes[size - 1]);
  r.level = size;
}

void UpdateBossBurst(GameObject& r) { StepRing(r, 3.5); }

void CreateBossAura(GameObject& r, uint32_t appearance, uint32_t boss_index) {
  if (boss_index >= kEnemyPoolSize ||
      (appearance != 2 && appearance != 4 && appearance != 6 && appearance != 8)) {
    RaiseGameError("FC_ENW_n");
    return;
  }
  const GameObject& boss = g_enemies[boss_index];
  CommonSettings(r, kKindBossAura, boss.x, boss.y);
  r.draw_layer = 3;
  if (appearance == 2) {
    r.visible = 1;
    r.graphic_id = 457;
    r.blend_mode = 2;
  } else {
    // 4, 6, 8: rows 459, 461, 463.
    SetObjectGraphic(r, 0, 455 + appearance, 2, 128.0);
  }
  r.parent_index = boss_index;
  r.spin_step = 5.0;
  r.scale = 1.0;
  r.kind_extra[kAuraTargetScale] = 1.0;
  r.blend_value = 128.0;
  r.kind_extra[kAuraTargetBlend] = 0.0;
  r.value = 1.0;
}

void UpdateBossAura(GameObject& r) {
  const GameObject* boss = r.parent_index < kEnemyPoolSize ? &g_enemies[r.parent_index] : nullptr;
  if (boss == nullptr || boss->in_use == 0) {
    // The boss went away without its defeat being seen: the aura goes with
    // it rather than stopping the game.
    RemoveObject(r);
    return;
  }
  r.x = boss->x;
  r.y = boss->y;
  switch (boss->fight_stage) {
    case 0:
      r.kind_extra[kAuraTargetScale] = 1.2;
      r.kind_extra[kAuraTargetBlend] = 64.0;
      r.spin_step = 1.0;
      r.value = 1.3;
      break;
    case 1:
      r.kind_extra[kAuraTargetScale] = 1.7;
      r.kind_extra[kAuraTargetBlend] = 96.0;
      r.spin_step = 2.0;
      r.value = 1.4;
      break;
    case 2:
      r.kind_extra[kAuraTargetScale] = 2.5;
      r.kind_extra[kAuraTargetBlend] = 128.0;
      r.spin_step = 3.0;
      r.value = 1.5;
      break;
    default:
      RaiseGameError("FC_ENW_m");
      break;
  }
  const double ts = r.kind_extra[kAuraTargetScale];
  if (r.scale < ts) {
    r.scale += 0.02;
    if (r.scale > ts) r.scale = ts;
  } else if (r.scale > ts) {
    r.scale -= 0.02;
    if (r.scale < ts) r.scale = ts;
  }
  const double tb = r.kind_extra[kAuraTargetBlend];
  if (r.blend_value < tb) {
    r.blend_value += 1.3;
    if (r.blend_value > tb) r.blend_value = tb;
  } else if (r.blend_value > tb) {
    r.blend_value -= 1.3;
    if (r.blend_value < tb) r.blend_value = tb;
  }
  r.extra_angle += r.spin_step;
  if (boss->defeated == 1) RemoveObject(r);
}
