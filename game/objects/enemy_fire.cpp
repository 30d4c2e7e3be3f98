// game/objects/enemy_fire.cpp - enemy volleys by firing pattern, and drops.
#include "game/objects/enemy_fire.h"

#include "game/frame/game_error.h"
#include "game/objects/enemy_bullets.h"
#include "game/objects/items.h"
#include "game/objects/resources.h"
#include "rorud/rorud.h"

namespace {

void Bullet60(uint32_t colour, double x, double y, double angle, double speed) {
  const uint32_t index = FindFreeEnemyBullet();
  if (index != kPoolFull) CreateEnemyBullet60(g_enemy_bullets[index], colour, x, y, angle, speed);
}

void Bullet72(uint32_t colour, double x, double y, double angle, double speed) {
  const uint32_t index = FindFreeEnemyBullet();
  if (index != kPoolFull) {
    CreateEnemyBullet72(g_enemy_bullets[index], 2, colour, x, y, angle, speed);
  }
}

void Item(uint32_t level, double x, double y, double angle) {
  const uint32_t index = FindFreeItem();
  if (index != kPoolFull) CreateItem(g_items[index], level, x, y, angle);
}

void VolleySound() { g_sounds[19].request = 1; }

double Aim(const GameObject& e) { return AngleTo(e.x, e.y, g_player.x, g_player.y); }

// The timed volleys of the small enemies: three windows of 31 frames.
void TimedVolley(GameObject& e, uint32_t f) {
  uint32_t* times = &e.attack.counters[kFireTime0];
  if (f == 0) {
    times[0] = 10 + static_cast<uint32_t>(GetRandomRange(30));
    times[1] = 150 + static_cast<uint32_t>(GetRandomRange(30));
    times[2] = 300 + static_cast<uint32_t>(GetRandomRange(30));
  }
  if (f != times[0] && f != times[1] && f != times[2]) return;
  const uint32_t colour = e.variant;
  switch (e.fire_pattern) {
    case 1:
      Bullet60(colour, e.x, e.y, Aim(e), 3.0);
      break;
    case 2: {
      if (e.level != 1 && e.level != 2) return;  // no bullets, no sound
      for (int d = -1; d <= 1; ++d) Bullet72(colour, e.x, e.y, Aim(e) + 10.0 * d, 2.7);
      if (e.level == 2) {
        for (int d = -1; d <= 1; ++d) Bullet72(colour, e.x, e.y, Aim(e) + 10.0 * d, 2.1);
      }
      break;
    }
    default: {  // 3: a circle of 24 around the aim
      const double base = Aim(e);
      for (int i = 0; i < 24; ++i) {
        const double angle = base + 15.0 * i;
        if (e.level == 1) {
          Bullet72(colour, e.x, e.y, angle, 2.5);
        } else if (e.level == 2) {
          Bullet72(colour, e.x, e.y, angle, 2.5);
          Bullet72(colour, e.x, e.y, angle, 2.0);
        } else {
          RaiseGameError("123fff");
        }
      }
      break;
    }
  }
  VolleySound();
}

void Ring(GameObject& e, uint32_t f) {
  uint32_t n = 0;
  if (e.level == 1) {
    n = 24;
  } else if (e.level == 2) {
    n = 48;
  } else {
    RaiseGameError("中ザコA用 円発射");
    return;
  }
  if (!(f > 120 && f % 60 == 10)) return;
  const double base = Aim(e);
  for (uint32_t i = 0; i < n; ++i) Bullet72(e.variant, e.x, e.y, base + i * 360.0 / n, 2.5);
  VolleySound();
}

void FiveWay(GameObject& e, uint32_t f) {
  uint32_t period = 0;
  if (e.level == 1) {
    period = 60;
  } else if (e.level == 2) {
    period = 30;
  } else {
    RaiseGameError("中ザコB用 ５way");
    return;
  }
  if (!(f > 120 && f % period == 10)) return;
  for (int d = -2; d <= 2; ++d) Bullet72(e.variant, e.x, e.y, Aim(e) + 15.0 * d, 2.7);
  VolleySound();
}

void Spray(GameObject& e, uint32_t f) {
  uint32_t period = 0;
  if (e.level == 1) {
    period = 15;
  } else if (e.level == 2) {
    period = 7;
  } else {
    RaiseGameError("中ザコC用 ばらまき");
    return;
  }
  if (!(f > 120 && f % period == 2)) return;
  for (int i = 0; i < 4; ++i) Bullet72(e.variant, e.x, e.y, f + 90.0 * i, 2.7);
  VolleySound();
}

}  // namespace

void EnemyFire(GameObject& e) {
  uint32_t& f = e.attack.counters[kFramesSinceSpawn];
  switch (e.fire_pattern) {
    case 1:
    case 2:
    case 3: TimedVolley(e, f); break;
    case 11: Ring(e, f); break;
    case 12: FiveWay(e, f); break;
    case 13: Spray(e, f); break;
    default: RaiseGameError("EN_COM_ETamd"); break;
  }
  ++f;
}

void DropItemsRandom(GameObject& e) {
  if (e.variant < 1 || e.variant > 4) return;
  // One draw, taken before the item is made.
  const double r = RandSigned(20.0);
  Item(1, e.x, e.y, 270.0 + r);
}

void DropItemsFan(GameObject& r) {
  static constexpr double kAngles[12] = {230, 240, 250, 260, 280, 290,
                                         300, 310, 250, 260, 280, 290};
  for (double angle : kAngles) Item(2, r.x, r.y, angle);
}
