// tools/fuzz/support/tracked_leak_check.cpp - the entry point of every fuzz
// target. The library's tracked allocator keeps its blocks on a list of its
// own, so LeakSanitizer never reports a dropped tracked block: after each
// input the count of live tracked blocks must be back where it was, and a
// block the input left behind stops the run like any other leak. The targets
// are compiled with their LLVMFuzzerTestOneInput renamed RorudFuzzOneInput.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "lib/core/memory.h"

extern "C" int RorudFuzzOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int before = GetAllocationCount();
  const int result = RorudFuzzOneInput(data, size);
  const int after = GetAllocationCount();
  if (after > before) {
    std::fprintf(stderr, "==tracked leak== %d tracked block(s) were left behind by this input\n", after - before);
    std::abort();
  }
  return result;
}
