// What the game program says when it cannot start: another copy holds the
// window, no lock folder is fit, or no display can show it. Each case runs
// the game program itself and expects one message naming the cause, and
// exit status 1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "game/frame/config.h"
#include "game/frame/start_report.h"
#include "game/winmain.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"

namespace {

namespace fs = std::filesystem;

// The game as the tests build it: it takes RORUD_TEST_FIXED_LOCK_BASE, the
// test process's stand-in for /tmp.
const std::string kProgram = std::string(RORUD_BINARY_DIR) + "/game/quillona-under-test";

struct Outcome {
  int status;
  std::string err;
};

// Runs the game in the working folder with the environment changes given
// (arguments of env), its standard error stream kept. A refused start ends
// the program without the library's end, as designed, so what the start had
// made is still held at exit: a sanitizer build's leak check is off for it.
// The working folder is its temporary folder unless the changes name
// another, so that the fallback lock folder it makes and looks in is not
// the user's.
Outcome RunGame(const std::string& environment) {
  const std::string command = "TMPDIR='" + fs::current_path().string() + "' timeout 300 env " + environment +
                              " ASAN_OPTIONS=detect_leaks=0 '" + kProgram + "' >/dev/null 2>stderr.txt";
  const int rc = std::system(command.c_str());
  std::ifstream in("stderr.txt");
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, std::string(std::istreambuf_iterator<char>(in), {})};
}

// A folder of the user's own, closed to others: fit for the game's lock.
std::string PrivateFolder(const fs::path& folder) {
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::owner_all);
  return folder.string();
}

// The first copy's lock is met wherever the second copy looks: in the
// runtime folder, and in the fallback folder both when the runtime folder is
// not set and when it cannot be used (a missing one, as after a change of
// user).
TEST(GameStart, ASecondCopyNamesTheLockItMeets) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << "no game program";
  gametest::ScratchFolder scratch;
  const std::string temp = scratch.path().string();
  const std::string runtime = PrivateFolder(scratch.path() / "run");
  const std::string fallback = PrivateFolder(scratch.path() / ("rorud-" + std::to_string(::getuid())));
  std::vector<int> holds;  // the first copy's
  for (const std::string& folder : {runtime, fallback}) {
    plat::SetWindowLockFolder(folder);
    holds.push_back(::open(plat::WindowLockPath("Quillona Ver2.00").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_EQ(::flock(holds.back(), LOCK_EX | LOCK_NB), 0);
  }
  const std::string held = "/rorud-window-5175696c6c6f6e6120566572322e3030.lock); close it first\n";
  for (const auto& [environment, folder] :
       {std::pair{"XDG_RUNTIME_DIR=" + runtime, runtime}, {"-u XDG_RUNTIME_DIR TMPDIR=" + temp, fallback},
        {"XDG_RUNTIME_DIR=" + temp + "/missing TMPDIR=" + temp, fallback}}) {
    const Outcome o = RunGame(environment + " RORUD_PLATFORM=headless");
    EXPECT_EQ(o.status, 1) << environment;
    EXPECT_EQ(o.err, "quillona: another copy of the game is running (it holds the lock " + folder + held);
  }
  for (const int fd : holds) ::close(fd);
}

// A lock folder that another user could have made or entered, or that
// cannot be made: the game stops and names the folder, what is wrong with it
// and the way out.
TEST(GameStart, AnUnfitLockFolderStopsTheStart) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << "no game program";
  gametest::ScratchFolder scratch;
  const std::string temp = scratch.path().string();
  const std::string folder = temp + "/rorud-" + std::to_string(::getuid());
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::all);
  const Outcome open = RunGame("-u XDG_RUNTIME_DIR RORUD_PLATFORM=headless TMPDIR=" + temp);
  EXPECT_EQ(open.status, 1);
  EXPECT_EQ(open.err, "quillona: the game's lock cannot be kept safely: the lock folder " + folder +
                          " is open to group or others (mode 0777, not 0700). Remove it, or set XDG_RUNTIME_DIR to "
                          "a folder of your own closed to others, and start again\n");
  const Outcome missing = RunGame("-u XDG_RUNTIME_DIR RORUD_PLATFORM=headless TMPDIR=" + temp + "/none");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "quillona: the game's lock cannot be kept safely: the lock folder " + temp + "/none/rorud-" +
                             std::to_string(::getuid()) + " cannot be made in " + temp +
                             "/none (No such file or directory). Set TMPDIR to a folder you can write, or "
                             "XDG_RUNTIME_DIR to a folder of your own closed to others, and start again\n");
}

// The environment variables given, set for as long as it lives, then as
// they were.
class Environment {
 public:
  explicit Environment(std::vector<std::pair<std::string, const char*>> values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name.c_str());
      saved_.push_back({name, old != nullptr, old != nullptr ? old : ""});
      if (value != nullptr) {
        ::setenv(name.c_str(), value, 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  ~Environment() {
    for (const Saved& s : saved_) {
      if (s.had) {
        ::setenv(s.name.c_str(), s.value.c_str(), 1);
      } else {
        ::unsetenv(s.name.c_str());
      }
    }
  }

 private:
  struct Saved {
    std::string name;
    bool had;
    std::string value;
  };
  std::vector<Saved> saved_;
};

intptr_t PlainProc(plat::Window* w, uint32_t m, uintptr_t wp, intptr_t lp) { return plat::DefWindowProc(w, m, wp, lp); }

// One copy per user whatever each copy's environment says: a copy with a fit
// runtime folder (a desktop session) and one without (an ssh login), or two
// without one and with different temporary folders, lock in different
// folders there, and meet in the fixed folder every copy locks in as well.
// This process, its window of the game's class open, is the first copy.
TEST(GameStart, ASecondCopyWithAnotherEnvironmentIsRefused) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << "no game program";
  ASSERT_NE(std::getenv("RORUD_TEST_FIXED_LOCK_BASE"), nullptr);
  gametest::ScratchFolder scratch;
  const std::string temp = scratch.path().string();
  const std::string runtime = PrivateFolder(scratch.path() / "run");
  fs::create_directories(scratch.path() / "t1");
  fs::create_directories(scratch.path() / "t2");
  const std::string fixed = std::string(std::getenv("RORUD_TEST_FIXED_LOCK_BASE")) + "/rorud-" +
                            std::to_string(::getuid());
  const char* kClass = "Quillona Ver2.00";
  struct Case {
    std::vector<std::pair<std::string, const char*>> first;
    std::string second;
  };
  const std::string t1 = temp + "/t1", t2 = temp + "/t2";
  const Case cases[] = {
      {{{"XDG_RUNTIME_DIR", runtime.c_str()}, {"TMPDIR", t1.c_str()}}, "-u XDG_RUNTIME_DIR TMPDIR=" + t2},
      {{{"XDG_RUNTIME_DIR", nullptr}, {"TMPDIR", t1.c_str()}}, "XDG_RUNTIME_DIR=" + runtime + " TMPDIR=" + t2},
      {{{"XDG_RUNTIME_DIR", nullptr}, {"TMPDIR", t1.c_str()}}, "-u XDG_RUNTIME_DIR TMPDIR=" + t2},
  };
  plat::HeadlessReset(plat::VirtualDesktop{});
  plat::SetWindowLockFolder("");
  ASSERT_TRUE(plat::RegisterWindowClass(kClass, PlainProc));
  for (const Case& c : cases) {
    const Environment first(c.first);
    plat::Window* window = plat::CreateWindow(kClass, "t", plat::kWsPopup, 0, 0, 0, 64, 48);
    ASSERT_NE(window, nullptr) << plat::WindowLockProblem();
    const Outcome o = RunGame(c.second + " RORUD_PLATFORM=headless");
    EXPECT_EQ(o.status, 1) << c.second;
    EXPECT_EQ(o.err, "quillona: another copy of the game is running (it holds the lock " + fixed +
                         "/rorud-window-5175696c6c6f6e6120566572322e3030.lock); close it first\n");
    plat::DestroyWindow(window);
  }
  plat::HeadlessReset(plat::VirtualDesktop{});
}

// A folder whose locks do not work (no lock service on a network mount) is
// named with the system's reason and the way out, at this start and the
// next; it is not another copy, which none runs.
TEST(GameStart, AFolderWithoutWorkingLocksIsNamedNotTakenForAnotherCopy) {
  gametest::ScratchFolder scratch;
  const Environment environment({{"XDG_RUNTIME_DIR", nullptr}, {"TMPDIR", scratch.path().c_str()}});
  const std::string fallback = scratch.path().string() + "/rorud-" + std::to_string(::getuid());
  const char* kClass = "Quillona Ver2.00";
  plat::HeadlessReset(plat::VirtualDesktop{});
  plat::SetWindowLockFolder("");
  plat::SetClassLockRefusal(fallback, ENOLCK);
  ASSERT_TRUE(plat::RegisterWindowClass(kClass, PlainProc));
  for (int start = 0; start < 2; ++start) {
    EXPECT_EQ(plat::CreateWindow(kClass, "t", plat::kWsPopup, 0, 0, 0, 64, 48), nullptr);
    EXPECT_EQ(LibraryStartFailureText(kClass),
              "quillona: the game's lock cannot be kept safely: the lock file " + fallback +
                  "/rorud-window-5175696c6c6f6e6120566572322e3030.lock cannot be locked (No locks available). Set "
                  "TMPDIR to a folder on a local disk, and start again\n");
  }
  plat::HeadlessReset(plat::VirtualDesktop{});
}

// Another copy that ends between stopping this start and this start's line
// is named all the same, whichever stopped the start: the library's
// double-start check, which meets it as a rule, or the window's own lock,
// when that copy started between the check and the window.
TEST(GameStart, ACopyThatEndsBeforeTheLineIsStillNamed) {
  const char* kClass = "Quillona Ver2.00";
  for (const bool at_the_check : {true, false}) {
    SCOPED_TRACE(at_the_check ? "double-start check" : "window");
    gametest::ScratchFolder scratch;
    gametest::ResetGameGlobals();
    plat::HeadlessReset(plat::VirtualDesktop{});
    plat::SetWindowLockFolder(scratch.path().string());
    const std::string lock = plat::WindowLockPath(kClass);
    const int other = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    if (at_the_check) {
      EXPECT_EQ(InitGame(), InitResult::kNoLibrary);
    } else {
      ASSERT_TRUE(plat::RegisterWindowClass(kClass, PlainProc));
      EXPECT_EQ(plat::CreateWindow(kClass, "t", plat::kWsPopup, 0, 0, 0, 64, 48), nullptr);
    }
    ::close(other);
    EXPECT_EQ(LibraryStartFailureText(kClass),
              "quillona: another copy of the game is running (it holds the lock " + lock + "); close it first\n");
    plat::HeadlessReset(plat::VirtualDesktop{});
  }
}

// The tests' stand-in for /tmp is read by their build of the game alone: the
// game that is played has not even the setting's name in it, so no
// environment moves its lock. The tests' build stops at a relative one
// before it locks anywhere.
TEST(GameStart, ThePlayedGameTakesNoTestSetting) {
  const std::string played = std::string(RORUD_BINARY_DIR) + "/game/quillona";
  if (!fs::exists(played) || !fs::exists(kProgram)) GTEST_SKIP() << "no game program";
  const auto names_it = [](const std::string& program) {
    std::string bytes(fs::file_size(program), '\0');
    std::ifstream(program, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes.find("RORUD_TEST_FIXED_LOCK_BASE") != std::string::npos;
  };
  EXPECT_FALSE(names_it(played));
  EXPECT_TRUE(names_it(kProgram));
  gametest::ScratchFolder scratch;
  const Outcome relative = RunGame("RORUD_TEST_FIXED_LOCK_BASE=base RORUD_PLATFORM=headless");
  EXPECT_EQ(relative.status, 1);
  EXPECT_EQ(relative.err, "quillona: RORUD_TEST_FIXED_LOCK_BASE names base, which is not an absolute path\n");
}

TEST(GameStart, WithoutADisplayItStopsAndSaysHowToRunHeadless) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << "no game program";
  gametest::ScratchFolder scratch;
  const std::string unset = "-u WAYLAND_DISPLAY -u SDL_VIDEODRIVER ";
  const std::string set =
      "RORUD_PLATFORM=sdl SDL_AUDIODRIVER=dummy XDG_RUNTIME_DIR=" + PrivateFolder(scratch.path() / "run");
  const Outcome none = RunGame(unset + "-u DISPLAY " + set);
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err,
            "quillona: cannot open the game's window: no display: neither DISPLAY nor WAYLAND_DISPLAY is set. "
            "Start it from a desktop session, or set RORUD_PLATFORM=headless for a run without a screen\n");
  // A display that cannot be reached: SDL either fails or falls back to a
  // driver that shows nothing; both stop the game.
  const Outcome unreachable = RunGame(unset + set + " DISPLAY=:97");
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_NE(unreachable.err.find("quillona: cannot open the game's window: no display could be opened"),
            std::string::npos)
      << unreachable.err;
  EXPECT_NE(unreachable.err.find("set RORUD_PLATFORM=headless for a run without a screen\n"), std::string::npos);
}

// Full screen asked of a display without a 640 x 480 mode: the library makes
// a window, and the game says so and why, in one line.
TEST(GameStart, FullScreenWithoutItsModeSaysTheGamePlaysInAWindow) {
  gametest::ScratchFolder scratch;
  plat::SetWindowLockFolder(scratch.path().string());
  gametest::ResetGameGlobals();
  plat::VirtualDesktop desktop;
  desktop.width = 1024;
  desktop.height = 768;
  desktop.modes = {{1024, 768, 32, 60}, {800, 600, 32, 60}};
  plat::HeadlessReset(desktop);
  std::string reason;
  uint32_t words[kConfigWords];
  std::copy(kDefaultConfigWords, kDefaultConfigWords + kConfigWords, words);
  words[2] = 0;  // full screen
  ASSERT_TRUE(WriteConfigWords(kConfigPath, words, reason));
  ::testing::internal::CaptureStderr();
  const InitResult started = InitGame();
  const std::string err = ::testing::internal::GetCapturedStderr();
  LibraryEnd();
  plat::HeadlessReset(plat::VirtualDesktop{});
  ASSERT_EQ(started, InitResult::kReady);
  EXPECT_NE(err.find("quillona: the game plays in a window: full screen needs a 640 x 480 display mode, which "
                     "this display does not offer\n"),
            std::string::npos)
      << err;
}

// A window larger than the display: the game says so in one line, with the
// display's size and the setting of the largest window that fits.
TEST(GameStart, AWindowLargerThanTheDisplayNamesTheSizeThatFits) {
  gametest::ScratchFolder scratch;
  plat::SetWindowLockFolder(scratch.path().string());
  gametest::ResetGameGlobals();
  plat::VirtualDesktop desktop;
  desktop.width = 1024;
  desktop.height = 768;
  plat::HeadlessReset(desktop);
  std::string reason;
  uint32_t words[kConfigWords];
  std::copy(kDefaultConfigWords, kDefaultConfigWords + kConfigWords, words);
  words[9] = 3;  // 1280 x 960
  ASSERT_TRUE(WriteConfigWords(kConfigPath, words, reason));
  ::testing::internal::CaptureStderr();
  const InitResult started = InitGame();
  const std::string err = ::testing::internal::GetCapturedStderr();
  LibraryEnd();
  ASSERT_EQ(started, InitResult::kReady);
  const std::string file = (fs::current_path() / kConfigPath).string();
  const std::string line = "quillona: the 1280 x 960 window is larger than the 1024 x 768 display, which cuts it "
                           "off; run " RORUD_BINARY_DIR "/tools/quillona-config --file " + file +
                           " --window-size 2 for a 1024 x 768 window, the largest that fits\n";
  EXPECT_EQ(err.rfind(line, 0), 0u) << err;
  EXPECT_EQ(WindowLargerThanDisplayText(true, 2, kConfigPath), "");
  EXPECT_EQ(WindowLargerThanDisplayText(false, 3, kConfigPath), "");
  plat::HeadlessReset(plat::VirtualDesktop{});
}

}  // namespace
