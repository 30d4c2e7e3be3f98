// Pictures of play on the headless device: the blast's five copies, and a
// frame in the middle of stage 1's first wave, where each layer kind is
// found at its objects' places by drawing the same state again without it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <vector>

#include "game/bosses/boss.h"
#include "game/bosses/story.h"
#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"
#include "game/objects/game_object.h"
#include "game/objects/panel.h"
#include "game/objects/player.h"
#include "game/objects/player_shots.h"
#include "game/objects/resources.h"
#include "game/stages/stage_script.h"
#include "game/winmain.h"
#include "lib/system/window_system.h"
#include "platform/window/backend.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"
#include "tests/game/play_screens.h"

namespace {

namespace fs = std::filesystem;
using gametest::Frame640;

class PlayScreens : public ::testing::Test {
 protected:
  void SetUp() override {
    gametest::ResetGameGlobals();
    const fs::path data = fs::path(RORUD_BINARY_DIR) / "data";
    if (!fs::exists(data / "grp" / "stm1x.png")) GTEST_SKIP() << "no data set";
    for (const char* sub : {"grp", "se", "bgm"}) fs::create_directory_symlink(data / sub, sub);
    plat::SetWindowLockFolder(scratch_.path().string());
    plat::EnableVirtualClock(true);
    plat::SetVirtualClockMicros(5'000'000);
    plat::SetVirtualClockAutoAdvance(1);
    ASSERT_EQ(InitGame(), InitResult::kReady);
  }
  void TearDown() override {
    LibraryEnd();
    plat::SetVirtualClockAutoAdvance(0);
  }
  gametest::ScratchFolder scratch_;
};

// Presents what was drawn and returns it.
Frame640 Present() {
  FlipScreen();
  Frame640 f;
  int w = 0, h = 0;
  EXPECT_TRUE(plat::HeadlessGetLastFrame(GetMainWindow(), &f.pixels, &w, &h));
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  return f;
}

TEST_F(PlayScreens, BlastDrawsFiveCopiesAroundItsRing) {
  // A plain 16 x 16 grey square in a free row of the graphics table.
  const uint32_t sprite = 1990;
  const int square = MakeGraphic(16, 16);
  ASSERT_NE(square, -1);
  DrawRectBox(0, 0, 16, 16, GetColorCode(100, 100, 100), 1);
  ASSERT_EQ(GetDrawScreenToGraphic(0, 0, 16, 16, square, 0), 0);
  g_graphics[sprite].handle = square;
  g_graphics[sprite].width = 16;
  g_graphics[sprite].height = 16;
  GameObject& r = g_player_objects[0];
  r.free = 0;
  r.in_use = 1;
  r.kind = kKindPlayerBlast;
  r.visible = 1;
  r.generic_draw = 0;
  r.graphic_id = sprite;
  r.transparency = 0;  // the square's own alpha is not its point
  r.blend_value = 255.0;
  r.x = 200.0;
  r.y = 300.0;
  r.kind_values[kBlastRingRadius] = 100.0;
  ClearDrawTarget(nullptr);
  SetDrawClipRect(0, 0, 420, 480);
  DrawObject(r);
  const Frame640 f = Present();
  EXPECT_EQ(g_stop_flag, 0) << g_error_text;
  const double d = 100.0 / std::sqrt(2.0);
  // The centre, straight up, and up to the right (315) and left (225).
  EXPECT_GT(f.Mean(190, 290, 210, 310), 20.0);
  EXPECT_GT(f.Mean(190, 190, 210, 210), 20.0);
  EXPECT_GT(f.Mean(static_cast<int>(200 + d) - 10, static_cast<int>(300 - d) - 10,
                   static_cast<int>(200 + d) + 10, static_cast<int>(300 - d) + 10),
            20.0);
  EXPECT_GT(f.Mean(static_cast<int>(200 - d) - 10, static_cast<int>(300 - d) - 10,
                   static_cast<int>(200 - d) + 10, static_cast<int>(300 - d) + 10),
            20.0);
  // Nothing below the centre or to its sides.
  EXPECT_EQ(f.Mean(150, 340, 250, 420), 0.0);
  EXPECT_EQ(f.Mean(260, 280, 320, 320), 0.0);
  EXPECT_EQ(f.Mean(80, 280, 140, 320), 0.0);
  // The centre holds two additive copies: brighter than a ring copy.
  EXPECT_GT(f.Mean(195, 295, 205, 305), f.Mean(195, 195, 205, 205));
}

// The panel's score, life and power as read off the presented frame: the
// pixels in each number's box that carry the numbers' colour exactly (the
// glyphs' fully covered pixels, whatever lies under them) must be those of
// the four-digit text drawn alone on a cleared screen at the same place.
TEST_F(PlayScreens, PanelNumbersReadBackAsFourDigitsWithLeadingZeros) {
  LoadCommonResources();
  g_game.score = 42;
  g_player_status.life = 3;
  g_player_status.power_gauge = 807;
  ClearDrawTarget(nullptr);
  DrawHud();
  const Frame640 panel = Present();
  ASSERT_EQ(g_stop_flag, 0) << g_error_text;

  const uint32_t colour = GetColorCode(236, 255, 224);
  struct Number {
    int y;
    const char* text;
  };
  const Number numbers[] = {{242, "0042"}, {289, "0003"}, {334, "0807"}};
  ClearDrawTarget(nullptr);
  SetDrawClipRect(0, 0, 640, 480);
  for (const Number& n : numbers) DrawTextWithFont(498, n.y, n.text, colour, g_fonts[kFont32], 0, 0);
  const Frame640 glyphs = Present();

  const uint32_t exact = colour & 0xFFFFFFu;
  for (const Number& n : numbers) {
    int lit = 0, differing = 0;
    for (int y = n.y - 4; y < n.y + 40; ++y) {
      for (int x = 494; x < 640; ++x) {
        const bool in_glyphs = glyphs.At(x, y) == exact;
        lit += in_glyphs;
        differing += in_glyphs != (panel.At(x, y) == exact);
      }
    }
    EXPECT_GT(lit, 4 * 20) << n.text;  // every digit has solid strokes
    EXPECT_EQ(differing, 0) << n.text;
  }
}

// ---- A frame of stage 1's first wave ------------------------------------------

// Every record the draws read or step, kept so that one state can be drawn
// several times over.
struct DrawState {
  GameState game;
  PlayerStatus status;
  std::vector<GameObject> records;

  static std::vector<std::pair<GameObject*, size_t>> Pools() {
    return {{&g_player, 1},
            {&g_partner, 1},
            {g_enemies, kEnemyPoolSize},
            {g_enemy_groups, kEnemyGroupPoolSize},
            {g_player_objects, kPlayerObjectPoolSize},
            {g_enemy_bullets, kEnemyBulletPoolSize},
            {g_items, kItemPoolSize},
            {g_effects, kEffectPoolSize},
            {g_backgrounds, kBackgroundPoolSize},
            {g_cursor_pool, kCursorPoolSize},
            {g_menu_objects, kMenuObjectPoolSize}};
  }
  void Save() {
    game = g_game;
    status = g_player_status;
    records.clear();
    for (auto [p, n] : Pools()) records.insert(records.end(), p, p + n);
  }
  void Restore() const {
    g_game = game;
    g_player_status = status;
    size_t at = 0;
    for (auto [p, n] : Pools()) {
      std::copy(records.begin() + static_cast<long>(at), records.begin() + static_cast<long>(at + n), p);
      at += n;
    }
  }
};

// An object's place and how far its picture can reach from it: half the
// diagonal of its graphic at its scale, and a few pixels for the item draw's
// circling copies and the rounding.
struct Place {
  double x, y, reach;
};

std::vector<Place> Visible(const GameObject* records, size_t n) {
  std::vector<Place> out;
  for (size_t i = 0; i < n; ++i) {
    const GameObject& r = records[i];
    if (r.in_use != 0 && r.visible != 0 && r.x > 0 && r.x < 420 && r.y > 0 && r.y < 480) {
      const GraphicEntry& g = g_graphics[r.graphic_id];
      out.push_back({r.x, r.y, std::hypot(g.width, g.height) / 2.0 * r.scale + 6.0});
    }
  }
  return out;
}

void Hide(GameObject* records, size_t n) {
  for (size_t i = 0; i < n; ++i) records[i].visible = 0;
}

// What the layer adds: every pixel it changes lies within the reach of one
// of its objects, and most of its objects change a pixel near them.
void ExpectLayerAtItsObjects(const Frame640& with, const Frame640& without,
                             const std::vector<Place>& places, const char* what) {
  ASSERT_FALSE(places.empty()) << what;
  std::vector<int> near(places.size(), 0);
  int stray = 0, changed = 0;
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 420; ++x) {
      if (with.At(x, y) == without.At(x, y)) continue;
      ++changed;
      bool found = false;
      for (size_t i = 0; i < places.size(); ++i) {
        if (std::hypot(places[i].x - x, places[i].y - y) <= places[i].reach) {
          ++near[i];
          found = true;
        }
      }
      if (!found) ++stray;
    }
  }
  EXPECT_GT(changed, 0) << what;
  EXPECT_EQ(stray, 0) << what << ": pixels changed away from every object";
  size_t shown = 0;
  for (int n : near) shown += n > 0 ? 1 : 0;
  EXPECT_GE(shown * 10, places.size() * 7) << what << ": " << shown << " of " << places.size();
  // Nothing of the play field's objects reaches the panel.
  for (int y = 0; y < 480; ++y) {
    for (int x = 420; x < 640; ++x) ASSERT_EQ(with.At(x, y), without.At(x, y)) << what;
  }
}

TEST_F(PlayScreens, MidWaveFrameShowsEveryLayerAtItsObjects) {
  LoadCommonResources();  // as the boot scene's loading frames do
  LoadSoundEffects();
  ASSERT_TRUE(gametest::PlayToMidWave());
  ASSERT_EQ(g_stop_flag, 0) << g_error_text;
  DrawState state;
  state.Save();
  auto draw = [&](const std::function<void()>& change) {
    state.Restore();
    change();
    DrawFrame();
    return Present();
  };
  const Frame640 full = draw([] {});
  gametest::SaveScreenshot("stage1_mid_wave.png");

  // Each layer kind: where its objects stand, and the frame without them.
  auto layer = [&](GameObject* records, size_t n, const char* what) {
    state.Restore();
    const std::vector<Place> places = Visible(records, n);
    const Frame640 without = draw([=] { Hide(records, n); });
    ExpectLayerAtItsObjects(full, without, places, what);
  };
  layer(g_enemies, kEnemyPoolSize, "enemies");
  layer(g_enemy_bullets, kEnemyBulletPoolSize, "bullets");
  layer(g_items, kItemPoolSize, "items");
  layer(&g_player, 1, "player");

  // The background layers fill the whole field and nothing else.
  const Frame640 bare = draw([] { Hide(g_backgrounds, kBackgroundPoolSize); });
  int field_changed = 0;
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 420; ++x) field_changed += full.At(x, y) != bare.At(x, y) ? 1 : 0;
    for (int x = 420; x < 640; ++x) ASSERT_EQ(full.At(x, y), bare.At(x, y));
  }
  EXPECT_GT(field_changed, 420 * 480 * 9 / 10);
  // The panel: its side of the screen, not the field's objects.
  const Frame640 no_panel = draw([] { g_game.hud_on = 0; });
  EXPECT_GT(full.Mean(440, 20, 620, 440), no_panel.Mean(440, 20, 620, 440) + 10.0);
}

struct Fight {
  void (*create)(GameObject&);
  uint32_t phase;
  const char* file;
  BossId id;
};

// A later stage's screens: a wave frame with its enemies and bullets at
// their places (unless `wave_file` is null), and each boss fight with its
// bullets, its gauge bar and its caption.
void CheckStageScreens(uint32_t scene, const char* wave_file, std::initializer_list<Fight> fights) {
  LoadCommonResources();
  LoadSoundEffects();
  // Without a wave picture the stage is only set up: played through its wave.
  const bool mid_wave = gametest::PlayToMidWave(scene);
  if (wave_file != nullptr) { ASSERT_TRUE(mid_wave); }
  ASSERT_EQ(g_stop_flag, 0) << g_error_text;
  DrawState state;
  auto draw = [&](const std::function<void()>& change) {
    state.Restore();
    change();
    DrawFrame();
    return Present();
  };
  auto layer = [&](const Frame640& full, GameObject* records, size_t n, const char* what) {
    // Those that stand just outside the field count too: their pictures
    // reach into it.
    std::vector<Place> places;
    for (size_t i = 0; i < n; ++i) {
      const GameObject& r = records[i];
      if (r.in_use == 0 || r.visible == 0) continue;
      const GraphicEntry& g = g_graphics[r.graphic_id];
      places.push_back({r.x, r.y, std::hypot(g.width, g.height) / 2.0 * r.scale + 6.0});
    }
    const Frame640 without = draw([=] { Hide(records, n); });
    ExpectLayerAtItsObjects(full, without, places, what);
  };
  Frame640 full;
  if (wave_file != nullptr) {
    state.Save();
    full = draw([] {});
    gametest::SaveScreenshot(wave_file);
    layer(full, g_enemies, kEnemyPoolSize, wave_file);
    layer(full, g_enemy_bullets, kEnemyBulletPoolSize, wave_file);
  }

  for (const Fight& fight : fights) {
    gametest::PlayBossFight(fight.create, fight.phase, 240);
    ASSERT_EQ(g_stop_flag, 0) << g_error_text;
    EXPECT_STREQ(g_game.boss_gauge.caption, kBossStories[fight.id].caption);
    state.Save();
    full = draw([] {});
    gametest::SaveScreenshot(fight.file);
    layer(full, g_enemy_bullets, kEnemyBulletPoolSize, fight.file);
    layer(full, g_enemies, kEnemyPoolSize, fight.file);
    // The gauge: the bar across the top and the caption under it, and
    // nothing else of the screen.
    const Frame640 bare = draw([] { g_game.boss_gauge.active = 0; });
    int bar = 0, caption = 0, elsewhere = 0;
    for (int y = 0; y < 480; ++y) {
      for (int x = 0; x < 640; ++x) {
        if (full.At(x, y) == bare.At(x, y)) continue;
        if (x >= 20 && x < 406 && y >= 10 && y < 24) {
          ++bar;
        } else if (x < 420 && y >= 30 && y < 46) {
          ++caption;
        } else {
          ++elsewhere;
        }
      }
    }
    EXPECT_GT(bar, 385 * 14 * 9 / 10) << fight.file;
    EXPECT_GT(caption, 40) << fight.file;
    EXPECT_EQ(elsewhere, 0) << fight.file;
  }
}

TEST_F(PlayScreens, Stage2WaveAndBossFightsShowTheirLayersGaugeAndCaption) {
  CheckStageScreens(kSceneStage1 + 1, "stage2_wave.png",
                    {Fight{CreateBoss2A, 1, "boss2a_fight.png", kBoss2A},
                     Fight{CreateBoss2B, 5, "boss2b_fight.png", kBoss2B}});
}

// Stage 3's fights keep the stage music: the only music caption is the
// stage track's, posted at the stage start.
TEST_F(PlayScreens, Stage3WaveAndBossFightsShowTheirLayersGaugeAndCaption) {
  CheckStageScreens(kSceneStage1 + 2, "stage3_wave.png",
                    {Fight{CreateBoss3A, 1, "boss3a_fight.png", kBoss3A},
                     Fight{CreateBoss3B, 5, "boss3b_fight.png", kBoss3B}});
  if (g_game.music_caption.on != 0) { EXPECT_EQ(g_game.music_caption.text, kStage3MusicCredit); }
}

// Boss 4 in its last phase, the game's densest, with its field full.
TEST_F(PlayScreens, Stage4WaveAndBoss4DensestPhaseShowTheirLayersGaugeAndCaption) {
  CheckStageScreens(kSceneStage1 + 3, "stage4_wave.png",
                    {Fight{CreateBoss4, 5, "boss4_fight.png", kBoss4}});
  size_t bullets = 0;
  for (const GameObject& b : g_enemy_bullets) bullets += b.in_use != 0;
  EXPECT_GT(bullets, 600u);

  // The boss's entry talk: the boss's three lines over its portrait, the
  // player's portrait dimmed behind.
  gametest::PlayBossEntry(CreateBoss4, 13, 60);
  DrawFrame();
  const Frame640 talk = Present();
  gametest::SaveScreenshot("boss4_talk.png");
  EXPECT_EQ(g_game.talk.right_speaks, 1);
  EXPECT_EQ(g_game.talk.right_lines[2], kBossStories[kBoss4].entry->steps[3].lines[2]);
  // The speech window's text rows are lit.
  EXPECT_GT(talk.Mean(26, 340, 400, 420), 20.0);
}

// Stage 5, which the game never enters by itself: its boss's last phase.
// (Its one thin wave never holds enemies, bullets and items at once.)
TEST_F(PlayScreens, Stage5Boss5ShowsItsLayersGaugeAndCaption) {
  CheckStageScreens(kSceneStage1 + 4, nullptr,
                    {Fight{CreateBoss5, 5, "boss5_fight.png", kBoss5}});
}

}  // namespace

// ---- The same screens in a real window ------------------------------------------

namespace {

// The screens of the tour as the headless device presented them.
std::map<std::string, Frame640> HeadlessTour() {
  std::map<std::string, Frame640> frames;
  gametest::RunScreenTour([&](const std::string& name) {
    Frame640 f;
    int w = 0, h = 0;
    plat::HeadlessGetLastFrame(GetMainWindow(), &f.pixels, &w, &h);
    gametest::SaveScreenshot(("tour_" + name + ".png").c_str());
    frames[name] = std::move(f);
  });
  return frames;
}

TEST_F(PlayScreens, TourOfTheScreensHeadless) {
  const std::map<std::string, Frame640> frames = HeadlessTour();
  ASSERT_EQ(frames.size(), 7u) << g_error_text;
  const Frame640& title = frames.at("title");
  const Frame640& score = frames.at("high_score");
  const Frame640& play = frames.at("mid_wave");
  const Frame640& pause = frames.at("pause");
  // The title: background, cursor at (210, 290), the first item highlighted.
  EXPECT_GT(title.Mean(0, 0, 640, 480), 10.0);
  EXPECT_GT(title.Mean(210, 290, 242, 322), 10.0);
  EXPECT_NE(title.Mean(250, 290, 410, 322), title.Mean(250, 322, 410, 354));
  // The high-score screen: its three texts and nothing between them.
  EXPECT_GT(score.Mean(30, 30, 160, 52), 5.0);
  EXPECT_GT(score.Mean(50, 100, 400, 122), 5.0);
  EXPECT_GT(score.Mean(50, 320, 270, 342), 5.0);
  EXPECT_EQ(score.Mean(50, 200, 400, 300), 0.0);
  // Play with the panel, then the pause screen darkening all of it.
  EXPECT_GT(play.Mean(440, 20, 620, 440), 10.0);
  EXPECT_GT(play.Mean(0, 0, 420, 480), 10.0);
  EXPECT_LT(pause.Mean(0, 0, 420, 190), play.Mean(0, 0, 420, 190) * 0.35 + 1.0);
  EXPECT_LT(pause.Mean(440, 380, 640, 480), play.Mean(440, 380, 640, 480) * 0.35 + 1.0);
  // Stage 2's wave with the panel, then each boss with its bar and caption
  // over a field of bullets.
  EXPECT_GT(frames.at("stage2_wave").Mean(440, 20, 620, 440), 10.0);
  for (const char* name : {"boss2a", "boss2b"}) {
    const Frame640& f = frames.at(name);
    EXPECT_GT(f.Mean(20, 12, 200, 22), 30.0) << name;
    EXPECT_GT(f.Mean(5, 30, 120, 44), 5.0) << name;
  }
}

// Reads a 640 x 480 picture that ImageMagick wrote as raw RGB bytes.
bool ReadRgb(const std::string& path, Frame640* f) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() != 640u * 480u * 3u) return false;
  f->pixels.resize(640 * 480);
  for (size_t i = 0; i < f->pixels.size(); ++i) {
    f->pixels[i] = (uint32_t{bytes[3 * i]} << 16) | (uint32_t{bytes[3 * i + 1]} << 8) | bytes[3 * i + 2];
  }
  return true;
}

TEST_F(PlayScreens, TourUnderAVirtualXServerShowsTheHeadlessFrames) {
  if (std::system("command -v xvfb-run > /dev/null 2>&1 && command -v import > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "xvfb-run and ImageMagick's import are needed for the real window";
  }
  const std::map<std::string, Frame640> headless = HeadlessTour();
  ASSERT_EQ(headless.size(), 7u);
  const std::string command =
      "RORUD_PLATFORM=sdl SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy xvfb-run -a -s '-screen 0 1024x768x24' '" +
      fs::read_symlink("/proc/self/exe").string() +
      "' --gtest_also_run_disabled_tests --gtest_filter=PlayScreensXvfbChild.DISABLED_Run > tour-xvfb.txt 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream log("tour-xvfb.txt");
  std::stringstream text;
  text << log.rdbuf();
  if (status != 0 && text.str().find("Xvfb failed to start") != std::string::npos) {
    GTEST_SKIP() << "no X server could be started: " << text.str();
  }
  ASSERT_EQ(status, 0) << text.str();
  for (const auto& [name, frame] : headless) {
    Frame640 shown;
    ASSERT_TRUE(ReadRgb("xvfb_" + name + ".rgb", &shown)) << name << "\n" << text.str();
    // The window shows the device's frame as it is; only the frame-rate
    // text, which follows the real clock there, may differ.
    int differ = 0;
    for (int y = 0; y < 480; ++y) {
      for (int x = 0; x < 640; ++x) {
        if (x >= 540 && y >= 450) continue;
        const uint32_t a = frame.At(x, y), b = shown.At(x, y);
        for (int c = 0; c < 24; c += 8) {
          if (std::abs(static_cast<int>((a >> c) & 0xFF) - static_cast<int>((b >> c) & 0xFF)) > 2) {
            ++differ;
            break;
          }
        }
      }
    }
    EXPECT_LE(differ, 640 * 480 / 1000) << name;
  }
}

// Runs in the real window: the same tour, each screen read back from the X
// server by ImageMagick.
TEST(PlayScreensXvfbChild, DISABLED_Run) {
  gametest::ResetGameGlobals();
  // The parent holds the lock of its own folder: this instance is another.
  fs::create_directories("xvfb-lock");
  plat::SetWindowLockFolder((fs::current_path() / "xvfb-lock").string());
  plat::EnableVirtualClock(true);
  plat::SetVirtualClockMicros(5'000'000);
  plat::SetVirtualClockAutoAdvance(1);
  ASSERT_EQ(InitGame(), InitResult::kReady);
  ASSERT_FALSE(plat::IsHeadless());
  const fs::path shots = fs::path(RORUD_BINARY_DIR) / "screenshots";
  fs::create_directories(shots);
  gametest::RunScreenTour([&](const std::string& name) {
    for (int i = 0; i < 5; ++i) {
      ProcessWindowMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    const std::string png = (shots / ("xvfb_" + name + ".png")).string();
    const std::string grab = "import -window 'Quillona Ver2.00' '" + png + "' && convert '" + png +
                             "' -crop 640x480+0+0 -depth 8 rgb:xvfb_" + name + ".rgb";
    EXPECT_EQ(std::system(grab.c_str()), 0) << name;
  });
  EXPECT_EQ(g_stop_flag, 0) << g_error_text;
  LibraryEnd();
}

}  // namespace
