// game/main.cpp - the process entry: hands over to the game's WinMain. The
// library answers a shortage with -1 and a log line; should memory or a
// thread still fail past that, on any thread, the game ends with status 1
// and says what ran out instead of aborting.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <system_error>
#include <unistd.h>

#include "rorud/rorud.h"

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
  return WinMain();
}
