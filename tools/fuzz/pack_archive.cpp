// Fuzz target: the archive reader on arbitrary memory images (which are
// descrambled first, so the fuzzer works on the plain format): open, look up,
// read every entry, search every folder it can reach.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "lib/core/pack_archive.h"

namespace {

void Walk(ArchiveRecord* a, const char* folder, int depth) {
  if (depth > 4) return;
  char pattern[600];
  std::snprintf(pattern, sizeof(pattern), "%s*", folder);
  FileInfo info;
  ArchiveSearch* s = ArchiveFindFirstCore(a, pattern, &info);
  if (!s) return;
  int guard = 0;
  do {
    if (std::strcmp(info.name, ".") == 0 || std::strcmp(info.name, "..") == 0) continue;
    char path[600];
    std::snprintf(path, sizeof(path), "%s%s", folder, info.name);
    if (info.is_directory) {
      std::strncat(path, "\\", sizeof(path) - std::strlen(path) - 1);
      Walk(a, path, depth + 1);
    } else {
      ArchiveEntryReader r;
      if (OpenArchiveFileEntry(&r, a, path, 0) == 0) {
        unsigned char buffer[4096];
        while (ReadArchiveFileEntry(&r, buffer, sizeof(buffer)) > 0) {
        }
        SeekArchiveFileEntry(&r, -7, 2);
        ReadArchiveFileEntry(&r, buffer, 100);
        CloseArchiveFileEntry(&r);
      }
    }
  } while (ArchiveFindNextCore(s, &info) == 0 && ++guard < 10000);
  ArchiveFindCloseCore(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 28 || size > (1u << 20)) return 0;
  std::vector<unsigned char> image(data, data + size);
  unsigned char key[kArchiveKeySize];
  BuildArchiveKey(nullptr, key);
  ApplyArchiveKey(image.size(), image.data(), 0, key);
  std::vector<unsigned char> original = image;
  ArchiveRecord a;
  InitArchiveRecord(&a);
  if (OpenPackArchive(&a, image.data(), image.size(), nullptr) != 0) {
    if (image != original) __builtin_trap();  // a refused image is left alone
    return 0;
  }
  Walk(&a, "", 0);
  ArchiveFileEntry e;
  FindArchiveFileEntry("a\\b\\c.png", &a, &e);
  ChangeArchiveDirectory(&a, "a\\b", 1);
  uint64_t offset;
  uint32_t entry_size;
  GetArchiveFileOffset(&a, "x", &offset, &entry_size);
  CloseArchive(&a);
  if (image != original) __builtin_trap();  // the caller's image comes back as given
  return 0;
}
