// tests/game/spawn_log.cpp - spawn logs of the stage scripts.
#include "tests/game/spawn_log.h"

#include <algorithm>

#include "game/objects/dispatch.h"
#include "game/objects/enemies.h"

namespace gametest {

void PrintTo(const Spawn& s, std::ostream* os) {
  *os << "phase " << s.phase << " counter " << s.counter << " kind " << s.kind << " {";
  for (double a : s.args) *os << a << ' ';
  *os << '}';
}

std::vector<double> Steps(double from, double to, double step) {
  std::vector<double> out;
  for (double v = from; v <= to; v += step) out.push_back(v);
  return out;
}

std::vector<Spawn> ExpandInTableOrder(const std::vector<Run>& runs) {
  std::vector<Spawn> out;
  for (const Run& r : runs) {
    for (size_t i = 0; i < r.offsets.size(); ++i) {
      Spawn s{r.phase, r.base + static_cast<uint32_t>(r.offsets[i]), r.kind, {}};
      for (const auto& list : r.args) s.args.push_back(list[i % list.size()]);
      out.push_back(s);
    }
  }
  return out;
}

std::vector<Spawn> Expand(const std::vector<Run>& runs) {
  std::vector<Spawn> out = ExpandInTableOrder(runs);
  std::stable_sort(out.begin(), out.end(), [](const Spawn& a, const Spawn& b) {
    if (a.phase != b.phase) return a.phase < b.phase;
    return a.counter < b.counter;
  });
  return out;
}

std::vector<Spawn> TableRows(const StageTimeline& timeline) {
  static constexpr uint32_t kKinds[] = {kKindZakoA,    kKindZakoB,    kKindZakoC,
                                        kKindMidZakoA, kKindMidZakoB, kKindMidZakoC};
  std::vector<Spawn> rows;
  for (size_t i = 0; i < timeline.phase_count; ++i) {
    const WavePhase& w = timeline.phases[i];
    for (size_t k = 0; k < w.row_count; ++k) {
      const SpawnRow& r = w.rows[k];
      const size_t n = r.creator == kZakoB ? 9 : r.creator == kZakoC ? 10 : 8;
      rows.push_back({w.phase, w.spawn_base + r.offset, kKinds[r.creator],
                      std::vector<double>(r.args, r.args + n)});
    }
  }
  return rows;
}

void ZakoCLevelsBySubType(std::vector<Spawn>& spawns) {
  for (Spawn& s : spawns) {
    if (s.kind == kKindZakoC) s.args[2] = s.args[1] == 0 ? 1 : 2;
  }
}

std::vector<double> ArgsOf(const GameObject& r) {
  switch (r.kind) {
    case kKindZakoA:
      return {double(r.variant), double(r.sub_type), double(r.level), r.base.x, r.base.y,
              r.parts[kZakoSway].phase_a, r.parts[kZakoSway].phase_step_a,
              r.parts[kZakoSway].amplitude_a};
    case kKindZakoB:
      return {double(r.variant), double(r.sub_type), double(r.kind_counters[kEnemyRunFrames]),
              double(r.kind_counters[kEnemyTurnFrames]), r.x, r.y, r.base.angle, r.base.speed,
              r.kind_values[kEnemyTurnRate]};
    case kKindZakoC:
      return {double(r.variant), double(r.sub_type), double(r.level),
              double(r.kind_counters[kEnemyRunFrames]), double(r.kind_counters[kEnemyTurnFrames]),
              r.x, r.y, r.base.angle, r.base.speed, r.kind_values[kEnemyAcceleration]};
    default:
      return {double(r.variant), double(r.level), double(r.kind_counters[kEnemyTurnFrames]), r.x,
              r.y, r.base.angle, r.base.speed, r.kind_values[kEnemyAcceleration]};
  }
}

void RunUntil(void (*script)(GameState&), uint32_t stop_phase, SpawnLog& log, int frame_limit) {
  for (int f = 0; f < frame_limit && g_game.levels[kLevelPhase] != stop_phase; ++f) {
    const uint32_t phase = g_game.levels[kLevelPhase];
    const uint32_t counter = g_game.level_counters[kLevelPhase];
    if (log.phase_frames.empty() || log.phase_frames.back().first != phase) {
      log.phase_frames.push_back({phase, 0});
    }
    ++log.phase_frames.back().second;
    script(g_game);
    for (GameObject& r : g_enemies) {
      if (r.in_use == 0) continue;
      log.spawns.push_back({phase, counter, r.kind, ArgsOf(r)});
      r.in_use = 0;
      r.free = 1;
    }
  }
}

}  // namespace gametest
