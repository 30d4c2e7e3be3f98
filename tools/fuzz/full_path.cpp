// Fuzz target: full-path making on arbitrary paths and bases (double-byte
// characters, separators, "." and ".."), which must stay inside its buffer
// and terminate the result.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "lib/core/plain_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first zero byte splits the input into the path and the base.
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  std::string path = input.substr(0, split);
  std::string base = split == std::string::npos ? std::string("C:\\x") : input.substr(split + 1);
  base = base.substr(0, base.find('\0'));
  for (size_t out_size : {size_t{1}, size_t{16}, size_t{kMaxPath}}) {
    char out[kMaxPath + 1];
    out[out_size] = '\x7f';
    for (int upper = 0; upper < 2; ++upper) {
      int r = MakeFullPathSized(path.c_str(), out, out_size, base.c_str(), upper);
      if (out[out_size] != '\x7f') __builtin_trap();  // wrote past the buffer
      if (r == 0 && std::strlen(out) >= out_size) __builtin_trap();
      if (r != 0 && out[0] != '\0') __builtin_trap();
    }
  }
  return 0;
}
