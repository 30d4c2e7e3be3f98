// game/main.cpp - the process entry: hands over to the game's WinMain. The
// library answers a shortage with -1 and a log line; should memory or a
// thread still fail past that, on any thread, the game ends with status 1
// and says what ran out instead of aborting. Built a second time as the
// program the tests run (QUILLONA_UNDER_TEST), which alone takes the tests'
// stand-in for /tmp from the environment.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <system_error>
#include <unistd.h>

#include "rorud/rorud.h"

#ifdef QUILLONA_UNDER_TEST
#include "platform/window/window.h"
#endif

namespace {

// The terminate handler: a shortage ends the game with status 1 and a
// message; anything else aborts as before.
[[noreturn]] void EndOnShortage() {
  const char* what = nullptr;
  try {
    if (std::exception_ptr e = std::current_exception()) std::rethrow_exception(e);
  } catch (const std::bad_alloc&) {
    what = "out of memory";
  } catch (const std::system_error&) {
    what = "out of system resources (a thread could not start)";
  } catch (...) {
  }
  if (what == nullptr) std::abort();
  std::fprintf(stderr, "quillona: stopped: %s\n", what);
  std::fflush(stderr);
  _exit(1);
}

}  // namespace

int main() {
  std::set_terminate(EndOnShortage);
#ifdef QUILLONA_UNDER_TEST
  // The test's own folder for the lock every copy takes in /tmp as well, so
  // that a test meets neither another test's copy nor a game the user has
  // open. The game that is played never reads this setting. A relative one
  // would be another folder in each working folder, and passing over it
  // would lock in /tmp: the start stops instead.
  if (const char* base = std::getenv("RORUD_TEST_FIXED_LOCK_BASE"); base != nullptr && base[0] != '\0') {
    if (base[0] != '/') {
      std::fprintf(stderr, "quillona: RORUD_TEST_FIXED_LOCK_BASE names %s, which is not an absolute path\n", base);
      return 1;
    }
    plat::SetFixedLockBaseForTesting(base);
  }
#endif
  return WinMain();
}
