// tests/lib/sound/vorbisfile_memory.h - libvorbisfile's callbacks over a file
// in memory, for the tests that compare the converter with its own read.
#pragma once

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace soundtest {

// Where the decoder library reads in a file in memory.
struct MemorySource {
  const std::vector<uint8_t>* file;
  size_t at;
};

// Its callbacks over a MemorySource.
inline ov_callbacks MemoryCallbacks() {
  ov_callbacks callbacks{};
  callbacks.read_func = [](void* out, size_t size, size_t count, void* s) -> size_t {
    auto* src = static_cast<MemorySource*>(s);
    const size_t n = std::min(size * count, src->file->size() - src->at);
    std::memcpy(out, src->file->data() + src->at, n);
    src->at += n;
    return size != 0 ? n / size : 0;
  };
  callbacks.seek_func = [](void* s, ogg_int64_t offset, int origin) -> int {
    auto* src = static_cast<MemorySource*>(s);
    const int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? static_cast<int64_t>(src->at)
                                                                      : static_cast<int64_t>(src->file->size());
    if (base + offset < 0 || base + offset > static_cast<int64_t>(src->file->size())) return -1;
    src->at = static_cast<size_t>(base + offset);
    return 0;
  };
  callbacks.tell_func = [](void* s) -> long { return static_cast<long>(static_cast<MemorySource*>(s)->at); };
  return callbacks;
}

}  // namespace soundtest
