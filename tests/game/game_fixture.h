// tests/game/game_fixture.h - puts the game's global records back to a known
// state and gives each test its own scratch working folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace gametest {

// Zeroes the game state, input, pools, tables and error text.
void ResetGameGlobals();

// A fresh, empty working folder for the test, in the temporary folder or in
// `base` (one that a child running as another user can reach); the previous
// one is restored and the folder removed at the end.
class ScratchFolder {
 public:
  ScratchFolder() : ScratchFolder(std::filesystem::temp_directory_path()) {}
  explicit ScratchFolder(const std::filesystem::path& base);
  ~ScratchFolder();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// One frame as the frame loop runs it, less the pictures: the draw pass
// still steps the animations and frees the removed records, all that it
// changes of what the state hash covers; the flip and paced wait become one
// frame's time on the virtual clock. Thousands of such frames take about as
// long as a few hundred whole ones in the software device.
void LogicFrame();

// The test-only scene switch: while the title leaves for the stage that its
// start or replay item chose, the scene it goes to becomes `scene` instead.
// It is how a test reaches a stage that no scene change of the game selects
// (stage 5), or a later stage without playing the ones before it. Returns
// false when the title is not on its way to a stage.
bool SwitchStartedStage(uint32_t scene);

class GameTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetGameGlobals(); }
};

}  // namespace gametest
