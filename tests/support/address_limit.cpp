// tests/support/address_limit.cpp - the child process under an address-space
// limit (see address_limit.h).
#include "tests/support/address_limit.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace testsupport {

namespace {

// The process's address-space size in bytes, from /proc/self/statm.
size_t CurrentAddressSpace() {
  unsigned long pages = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  return size_t(pages) * size_t(sysconf(_SC_PAGESIZE));
}

}  // namespace

int& TestsStartedInProcess() {
  static int started = 0;
  return started;
}

int RunWithAddressLimit(size_t margin_bytes, const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    const rlim_t limit = CurrentAddressSpace() + margin_bytes;
    const rlimit held{limit, limit};
    if (setrlimit(RLIMIT_AS, &held) != 0) _exit(100);
    // The child never returns into the test runner: an exception that
    // escapes the body ends it with 99.
    int result = 99;
    try {
      result = body();
    } catch (...) {
    }
    std::fflush(nullptr);
    _exit(result);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace testsupport
