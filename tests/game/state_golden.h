// tests/game/state_golden.h - the stored reference of the scripted whole-game
// run: at fixed checkpoints of each stage, that frame's state hash and a
// digest of every frame's hash from the stage's first frame to it, kept as
// text lines "stage frame state digest" (hex hashes).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace gametest {

struct GoldenCheckpoint {
  uint32_t stage = 0;
  uint32_t frame = 0;  // from 0, the stage's first frame after its seed
  uint64_t state = 0;
  uint64_t digest = 0;
  bool operator==(const GoldenCheckpoint&) const = default;
};
void PrintTo(const GoldenCheckpoint& c, std::ostream* os);

// The checkpoints of one stage's per-frame hashes: every 500th frame from
// frame 0, and the stage's last frame.
std::vector<GoldenCheckpoint> Checkpoints(uint32_t stage, const std::vector<uint64_t>& hashes);

// False when the file is missing or a line is not a checkpoint; lines that
// start with '#' are comments.
bool ReadGolden(const std::string& path, std::vector<GoldenCheckpoint>& out);
bool WriteGolden(const std::string& path, const std::vector<GoldenCheckpoint>& checkpoints);

}  // namespace gametest
