// tests/lib/sound/ogg_page_edit.h - finding an Ogg file's pages and changing
// one, sealed again with its checksum, for the tests that make damaged or
// forged files.
#pragma once

#include <ogg/ogg.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace soundtest {

// Where each page of an Ogg file starts (and, last, the file's end), from
// its first page on (other bytes may come before it).
inline std::vector<size_t> PageStarts(const std::vector<uint8_t>& file) {
  std::vector<size_t> starts;
  size_t at = 0;
  while (at + 27 <= file.size() && std::memcmp(file.data() + at, "OggS", 4) != 0) ++at;
  while (at + 27 <= file.size() && std::memcmp(file.data() + at, "OggS", 4) == 0) {
    starts.push_back(at);
    size_t body = 0;
    for (int s = 0; s < file[at + 26]; ++s) body += file[at + 27 + s];
    at += 27 + file[at + 26] + body;
  }
  starts.push_back(at);
  return starts;
}

// Sets a page's granule position and seals the page again.
inline void SetGranule(std::vector<uint8_t>* file, size_t page, int64_t granule) {
  uint8_t* bytes = file->data() + page;
  std::memcpy(bytes + 6, &granule, 8);
  ogg_page p;
  p.header = bytes;
  p.header_len = 27 + bytes[26];
  p.body = bytes + p.header_len;
  p.body_len = 0;
  for (int s = 0; s < bytes[26]; ++s) p.body_len += bytes[27 + s];
  ogg_page_checksum_set(&p);
}

}  // namespace soundtest
