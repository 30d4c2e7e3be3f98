// game/objects/panel_layout.cpp - the geometry of the panel and overlay
// pieces, kept apart from the draw calls.
#include <cstring>

#include "game/objects/panel.h"

int FadeBoxAlpha(double fade_value) {
  if (!(fade_value < 254.0)) return -1;
  return static_cast<int>(255.0 - fade_value);
}

int BossBarRow(uint32_t phase) {
  if (phase >= 1 && phase <= 8) return static_cast<int>(514 + phase);
  if (phase == 9) return 515;
  return -1;
}

int BossBarLength(const BossGauge& g) {
  const double life = g.phase < 16 ? g.life_per_phase[g.phase] : 0.0;
  const double length = (g.shown_life / life * 385.0) * (g.bar_fill / 100.0);
  // A phase without life (not yet set up) shows no bar rather than an
  // undefined conversion of an infinite or NaN length.
  if (!(length > -100000.0 && length < 100000.0)) return 0;
  return RoundHalfAway(length);
}

int MusicCaptionX(const char* text) {
  const size_t length = text != nullptr ? std::strlen(text) : 0;
  return 410 - 8 * static_cast<int>(length);
}

void AdvanceMusicCaption(MusicCaption& c) {
  if (c.counter > 180) c.y += 0.5;
  if (c.y > 480.0) c.on = 0;
  ++c.counter;
}

uint32_t BonusSeconds(uint32_t time_limit) { return time_limit / 60; }
