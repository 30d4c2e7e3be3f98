// tests/game/state_golden.cpp - checkpoints of the whole-game run and their
// text file.
#include "tests/game/state_golden.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace gametest {

namespace {

constexpr uint32_t kCheckpointStep = 500;

uint64_t Chain(uint64_t digest, uint64_t hash) {
  for (int i = 0; i < 8; ++i) {
    digest ^= (hash >> (8 * i)) & 0xFF;
    digest *= 1099511628211ull;
  }
  return digest;
}

}  // namespace

void PrintTo(const GoldenCheckpoint& c, std::ostream* os) {
  char text[80];
  std::snprintf(text, sizeof text, "stage %u frame %u state %016" PRIx64 " digest %016" PRIx64,
                c.stage, c.frame, c.state, c.digest);
  *os << text;
}

std::vector<GoldenCheckpoint> Checkpoints(uint32_t stage, const std::vector<uint64_t>& hashes) {
  std::vector<GoldenCheckpoint> out;
  uint64_t digest = 14695981039346656037ull;
  for (size_t f = 0; f < hashes.size(); ++f) {
    digest = Chain(digest, hashes[f]);
    if (f % kCheckpointStep == 0 || f + 1 == hashes.size()) {
      out.push_back({stage, static_cast<uint32_t>(f), hashes[f], digest});
    }
  }
  return out;
}

bool ReadGolden(const std::string& path, std::vector<GoldenCheckpoint>& out) {
  std::ifstream in(path);
  if (!in) return false;
  out.clear();
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    GoldenCheckpoint c;
    std::istringstream fields(line);
    fields >> std::dec >> c.stage >> c.frame >> std::hex >> c.state >> c.digest;
    if (!fields) return false;
    out.push_back(c);
  }
  return true;
}

bool WriteGolden(const std::string& path, const std::vector<GoldenCheckpoint>& checkpoints) {
  std::ofstream out(path);
  out << "# The scripted whole-game run (WholeGameBot) on the generated data set:\n"
         "# stage, frame, that frame's state hash, digest of the stage's hashes to it.\n";
  for (const GoldenCheckpoint& c : checkpoints) {
    char text[80];
    std::snprintf(text, sizeof text, "%u %u %016" PRIx64 " %016" PRIx64 "\n", c.stage, c.frame,
                  c.state, c.digest);
    out << text;
  }
  return static_cast<bool>(out);
}

}  // namespace gametest
