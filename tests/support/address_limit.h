// tests/support/address_limit.h - runs a piece of a test in a child process
// whose address space is held to what it already uses plus a margin, the way
// `ulimit -v` holds a program, so that real allocations and thread starts
// fail. The sanitizer builds reserve terabytes of shadow memory and cannot
// run under such a limit: there the tests that use this are left out
// (RORUD_ADDRESS_LIMIT_WORKS is 0).
#pragma once

#include <cstddef>
#include <functional>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RORUD_ADDRESS_LIMIT_WORKS 0
#else
#define RORUD_ADDRESS_LIMIT_WORKS 1
#endif

namespace testsupport {

// Forks; the child sets its address-space limit to its current size plus
// margin_bytes, runs body and exits with its result (99 when an exception
// escapes it). Returns the child's exit status, or 128 + the signal that
// ended it (134 for an abort).
int RunWithAddressLimit(size_t margin_bytes, const std::function<int()>& body);

// Tests started so far in this process (counted by the test binaries' main).
// Memory and thread stacks that earlier tests freed stay mapped, and a child
// under a tight limit can use them: a test that needs an allocation or a
// thread start to fail there runs only first in its process (as ctest runs
// each test).
int& TestsStartedInProcess();

}  // namespace testsupport
