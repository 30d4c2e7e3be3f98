// Fuzz target: the LZ decoder on arbitrary blocks, checked against the size
// the block claims and the room given, and against the plain decoder.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lib/core/pack_lz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t decoded = 0;
  if (ReadPackHeader(data, size, &decoded, nullptr, nullptr) != 0) return 0;
  // Keep the output small so the fuzzer spends its time on the tokens.
  size_t room = decoded < (1u << 16) ? decoded : (1u << 16);
  std::vector<unsigned char> out(room);
  int64_t r = DecodePackDataChecked(data, size, out.data(), out.size());
  if (r >= 0 && static_cast<size_t>(r) > out.size()) __builtin_trap();
  // The vector decoder agrees with the plain one on every block.
  std::vector<unsigned char> plain(room);
  if (DecodePackDataPlainChecked(data, size, plain.data(), plain.size()) != r) __builtin_trap();
  if (r > 0 && std::memcmp(plain.data(), out.data(), static_cast<size_t>(r)) != 0) __builtin_trap();
  // Round trip: what the encoder writes, the decoder reads back exactly.
  if (size <= 4096) {
    std::vector<unsigned char> block = EncodePackData(data, size);
    std::vector<unsigned char> back(size);
    if (DecodePackDataChecked(block.data(), block.size(), back.data(), back.size()) != static_cast<int64_t>(size) ||
        (size && std::memcmp(back.data(), data, size) != 0)) {
      __builtin_trap();
    }
  }
  return 0;
}
