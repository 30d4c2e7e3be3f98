// lib/core/pack_archive.cpp - the archive reader: opening in its three modes,
// path lookup, reading one stored file, and wildcard searches.
#include "lib/core/pack_archive.h"

#include <cstring>

#include "lib/core/charset.h"
#include "lib/core/memory.h"
#include "lib/core/pack_lz.h"
#include "lib/core/plain_file.h"

// ---- Keys -----------------------------------------------------------------------
//
// These values are part of the archive format: archives written with them can
// only be read with them. They must never change.
//
// The first key starts from the key string repeated (or cut) to 12 bytes, or
// from 12 copies of the filler byte; each byte then goes through the transform
// of its position (by position mod 4):
//   0: invert, XOR the constant;
//   1: rotate left by 1 + position mod 7, XOR the constant;
//   2: rotate right by 3, invert;
//   3: XOR the constant, rotate left by 5.
namespace {

constexpr unsigned char kKeyFiller = 0xA7;
constexpr unsigned char kKeyConstants[kArchiveKeySize] = {
    0x3C, 0x91, 0x5E, 0xD2, 0x07, 0xB8, 0x6A, 0xF1, 0x24, 0x8D, 0x4B, 0xE6};
constexpr unsigned char kSecondKey[kArchiveKeySize] = {
    0x9B, 0x2E, 0x71, 0xC4, 0x58, 0x0D, 0xE3, 0x86, 0x3F, 0xA2, 0x17, 0x6C};

unsigned char RotateLeft(unsigned char b, int n) {
  n &= 7;
  return n == 0 ? b : static_cast<unsigned char>((b << n) | (b >> (8 - n)));
}

}  // namespace

void BuildArchiveKey(const char* key_string, unsigned char key[kArchiveKeySize]) {
  size_t length = key_string ? std::strlen(key_string) : 0;
  for (size_t i = 0; i < kArchiveKeySize; ++i) {
    unsigned char b = length ? static_cast<unsigned char>(key_string[i % length]) : kKeyFiller;
    switch (i % 4) {
      case 0: b = static_cast<unsigned char>(~b ^ kKeyConstants[i]); break;
      case 1: b = RotateLeft(b, 1 + static_cast<int>(i % 7)) ^ kKeyConstants[i]; break;
      case 2: b = static_cast<unsigned char>(~RotateLeft(b, 5)); break;  // right by 3
      default: b = RotateLeft(b ^ kKeyConstants[i], 5); break;
    }
    key[i] = b;
  }
}

void GetArchiveSecondKey(unsigned char key[kArchiveKeySize]) {
  std::memcpy(key, kSecondKey, kArchiveKeySize);
}

void ApplyArchiveKey(size_t bytes, void* data, uint64_t position,
                     const unsigned char key[kArchiveKeySize]) {
  auto* p = static_cast<unsigned char*>(data);
  size_t phase = static_cast<size_t>(position % kArchiveKeySize);
  size_t i = 0;
  while (i < bytes && phase != 0) {
    p[i++] ^= key[phase];
    phase = (phase + 1) % kArchiveKeySize;
  }
  uint32_t words[3];
  std::memcpy(words, key, kArchiveKeySize);
  for (; i + kArchiveKeySize <= bytes; i += kArchiveKeySize) {
    uint32_t v[3];
    std::memcpy(v, p + i, kArchiveKeySize);
    v[0] ^= words[0];
    v[1] ^= words[1];
    v[2] ^= words[2];
    std::memcpy(p + i, v, kArchiveKeySize);
  }
  for (size_t k = 0; i < bytes; ++i, ++k) p[i] ^= key[k];
}

int ArchiveCharsetFromCodePage(uint32_t code_page) {
  switch (code_page) {
    case 932: return 1;
    case 949: return 2;
    case 950: return 3;
    case 936: return 4;
    default: return 0;
  }
}

namespace {

uint16_t Load16(const unsigned char* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
uint32_t Load32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
uint64_t Load64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

void ParseHeader(const unsigned char* p, ArchiveHeader* h) {
  h->magic = Load16(p);
  h->version = Load16(p + 2);
  h->header_block_size = Load32(p + 4);
  h->data_start = Load32(p + 8);
  h->header_block_position = Load32(p + 12);
  h->file_table_offset = Load32(p + 16);
  h->directory_table_offset = Load32(p + 20);
  h->code_page = h->version >= 4 ? Load32(p + 24) : 0;
}

// True when [offset, offset + size) lies within limit.
bool Within(uint64_t offset, uint64_t size, uint64_t limit) {
  return offset <= limit && size <= limit - offset;
}

// Checks the header against the archive's size and the header block's own
// size, so that every later access can be bounded by the header block.
bool HeaderIsSound(const ArchiveHeader& h, uint64_t archive_size) {
  if (h.magic != kArchiveMagic || h.version > kArchiveMaxVersion) return false;
  if (!Within(h.header_block_position, h.header_block_size, archive_size)) return false;
  if (h.data_start > archive_size) return false;
  // The root's directory entry must be there.
  if (!Within(h.directory_table_offset, kArchiveDirectoryEntrySize, h.header_block_size)) return false;
  if (h.file_table_offset > h.header_block_size) return false;
  return true;
}

// Reads size bytes at position through the archive's plain file and
// descrambles them; false when they cannot all be read.
bool ReadScrambled(FileHandle file, void* destination, size_t size, uint64_t position,
                   const unsigned char key[kArchiveKeySize]) {
  if (PlainFileTell(file) != static_cast<int64_t>(position) &&
      PlainFileSeek(file, static_cast<int64_t>(position), 0) != 0) {
    return false;
  }
  if (size == 0) return true;
  size_t got = PlainFileRead(destination, size, 1, file);
  PlainFileWaitIdle(file);
  if (got != 1) return false;
  ApplyArchiveKey(size, destination, position, key);
  return true;
}

// Tries both keys on the first 8 bytes (raw in `first`); the key that gives the
// magic is left in key.
bool ChooseKey(const unsigned char raw[8], const char* key_string, unsigned char key[kArchiveKeySize]) {
  unsigned char probe[8];
  BuildArchiveKey(key_string, key);
  std::memcpy(probe, raw, 8);
  ApplyArchiveKey(8, probe, 0, key);
  if (Load16(probe) == kArchiveMagic) return true;
  GetArchiveSecondKey(key);
  std::memcpy(probe, raw, 8);
  ApplyArchiveKey(8, probe, 0, key);
  return Load16(probe) == kArchiveMagic;
}

// ---- Table access, every read bounded by the header block -----------------------

const unsigned char* Block(const ArchiveRecord* a) { return a->header_block; }

bool ReadDirectory(const ArchiveRecord* a, uint32_t directory, uint32_t* parent, uint32_t* count,
                   uint32_t* first) {
  uint64_t at = static_cast<uint64_t>(a->header.directory_table_offset) + directory;
  if (!Within(at, kArchiveDirectoryEntrySize, a->header.header_block_size)) return false;
  const unsigned char* p = Block(a) + at;
  if (parent) *parent = Load32(p + 4);
  if (count) *count = Load32(p + 8);
  if (first) *first = Load32(p + 12);
  return true;
}

bool ReadFileEntry(const ArchiveRecord* a, uint32_t first, uint32_t index, ArchiveFileEntry* e) {
  size_t size = ArchiveFileEntrySize(a->header.version);
  uint64_t at = static_cast<uint64_t>(a->header.file_table_offset) + first +
                static_cast<uint64_t>(index) * size;
  if (!Within(at, size, a->header.header_block_size)) return false;
  const unsigned char* p = Block(a) + at;
  e->name_offset = Load32(p);
  e->attributes = Load32(p + 4);
  e->creation_time = Load64(p + 8);
  e->access_time = Load64(p + 16);
  e->write_time = Load64(p + 24);
  e->data_offset = Load32(p + 32);
  e->data_size = Load32(p + 36);
  e->stored_size = a->header.version >= 2 ? Load32(p + 40) : kArchiveStoredPlain;
  return true;
}

// The upper-case name field of a name entry and its length in words; false
// when the entry does not fit.
bool ReadNameKey(const ArchiveRecord* a, uint32_t name_offset, uint16_t* words, uint16_t* sum,
                 const unsigned char** upper) {
  uint64_t at = name_offset;
  if (!Within(at, 4, a->header.header_block_size)) return false;
  const unsigned char* p = Block(a) + at;
  *words = Load16(p);
  *sum = Load16(p + 2);
  if (!Within(at + 4, static_cast<uint64_t>(*words) * 4, a->header.header_block_size)) return false;
  *upper = p + 4;
  return true;
}

// The name as written, or null when it is not terminated inside the block.
const char* ReadWrittenName(const ArchiveRecord* a, uint32_t name_offset) {
  uint16_t words, sum;
  const unsigned char* upper;
  if (!ReadNameKey(a, name_offset, &words, &sum, &upper)) return nullptr;
  const unsigned char* name = upper + static_cast<size_t>(words) * 4;
  const unsigned char* end = Block(a) + a->header.header_block_size;
  if (!std::memchr(name, 0, static_cast<size_t>(end - name))) return nullptr;
  return reinterpret_cast<const char*>(name);
}

// ---- Name keys --------------------------------------------------------------------

constexpr size_t kMaxKey = 1024;

struct NameKey {
  unsigned char bytes[kMaxKey];
  uint16_t words;
  uint16_t sum;
  bool valid;
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Makes the key of the element at text (up to a separator or the end); returns
// the element's length in bytes.
size_t MakeNameKey(const ArchiveRecord* a, const char* text, NameKey* key) {
  size_t n = 0;
  size_t i = 0;
  key->valid = true;
  uint32_t sum = 0;
  while (text[i] && !IsSeparator(text[i])) {
    size_t step = (IsLeadByte(&text[i], a->charset) && text[i + 1]) ? 2 : 1;
    for (size_t k = 0; k < step; ++k) {
      unsigned char c = static_cast<unsigned char>(step == 1 ? UpperAscii(text[i]) : text[i + k]);
      if (n + 1 < kMaxKey) key->bytes[n] = c;
      ++n;
      sum += c;
    }
    i += step;
  }
  size_t padded = (n / 4 + 1) * 4;  // at least one zero byte
  if (padded > kMaxKey || padded / 4 > 0xFFFF) {
    key->valid = false;
    return i;
  }
  std::memset(key->bytes + n, 0, padded - n);
  key->words = static_cast<uint16_t>(padded / 4);
  key->sum = static_cast<uint16_t>(sum);
  return i;
}

bool NameMatches(const ArchiveRecord* a, uint32_t name_offset, const NameKey& key) {
  uint16_t words, sum;
  const unsigned char* upper;
  if (!key.valid || !ReadNameKey(a, name_offset, &words, &sum, &upper)) return false;
  return words == key.words && sum == key.sum &&
         std::memcmp(upper, key.bytes, static_cast<size_t>(words) * 4) == 0;
}

// Looks the key up among the entries of a directory; folders or files only.
bool FindInDirectory(const ArchiveRecord* a, uint32_t directory, const NameKey& key, bool folder,
                     ArchiveFileEntry* found) {
  uint32_t count, first;
  if (!ReadDirectory(a, directory, nullptr, &count, &first)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    ArchiveFileEntry e;
    if (!ReadFileEntry(a, first, i, &e)) return false;
    bool is_folder = (e.attributes & kArchiveFolderAttribute) != 0;
    if (is_folder != folder) continue;
    if (NameMatches(a, e.name_offset, key)) {
      *found = e;
      return true;
    }
  }
  return false;
}

bool EnterFolder(ArchiveRecord* a, const NameKey& key) {
  ArchiveFileEntry e;
  if (!FindInDirectory(a, a->current_directory, key, true, &e)) return false;
  if (!ReadDirectory(a, e.data_offset, nullptr, nullptr, nullptr)) return false;
  a->current_directory = e.data_offset;
  return true;
}

void WaitWholeRead(ArchiveRecord* a) { FinishArchiveWholeRead(a, 1); }

}  // namespace

// ---- Opening and closing ----------------------------------------------------------

void InitArchiveRecord(ArchiveRecord* record) { std::memset(record, 0, sizeof(*record)); }

int OpenPackArchive(ArchiveRecord* a, void* image, size_t size, const char* key_string) {
  if (!a || a->open || !image || size < 24) return -1;
  auto* bytes = static_cast<unsigned char*>(image);
  unsigned char key[kArchiveKeySize];
  if (!ChooseKey(bytes, key_string, key)) return -1;
  unsigned char probe[28] = {};
  std::memcpy(probe, bytes, size < 28 ? size : 28);
  ApplyArchiveKey(sizeof(probe), probe, 0, key);
  ArchiveHeader h;
  ParseHeader(probe, &h);
  if (h.version >= 4 && size < 28) return -1;
  if (!HeaderIsSound(h, size)) return -1;
  ApplyArchiveKey(size, bytes, 0, key);
  InitArchiveRecord(a);
  a->header = h;
  a->charset = ArchiveCharsetFromCodePage(h.code_page);
  std::memcpy(a->key, key, kArchiveKeySize);
  a->image = bytes;
  a->header_block = bytes + h.header_block_position;
  a->in_memory = 1;
  a->callers_image = 1;
  a->archive_size = size;
  a->open = 1;
  return 0;
}

namespace {

// The common part of the two file openings: the header and the header block.
int OpenFromFile(ArchiveRecord* a, const char* path, const char* key_string, FileHandle* file_out) {
  FileHandle file = PlainFileOpen(path, 0, 1, 1);
  if (!file) return -1;
  int64_t size = PlainFileSize(file);
  unsigned char raw[28] = {};
  unsigned char key[kArchiveKeySize];
  ArchiveHeader h;
  unsigned char* block = nullptr;
  if (size < 24) goto fail;
  {
    // The first 8 bytes raw, to try both keys on.
    if (PlainFileSeek(file, 0, 0) != 0) goto fail;
    size_t got = PlainFileRead(raw, 8, 1, file);
    PlainFileWaitIdle(file);
    if (got != 1 || !ChooseKey(raw, key_string, key)) goto fail;
    ApplyArchiveKey(8, raw, 0, key);
    uint16_t version = Load16(raw + 2);
    if (version > kArchiveMaxVersion) goto fail;
    size_t rest = ArchiveHeaderSize(version) - 8;
    if (static_cast<uint64_t>(size) < ArchiveHeaderSize(version)) goto fail;
    if (!ReadScrambled(file, raw + 8, rest, 8, key)) goto fail;
  }
  ParseHeader(raw, &h);
  if (!HeaderIsSound(h, static_cast<uint64_t>(size))) goto fail;
  block = static_cast<unsigned char*>(RR_ALLOC(h.header_block_size ? h.header_block_size : 1));
  if (!block) goto fail;
  if (!ReadScrambled(file, block, h.header_block_size, h.header_block_position, key)) goto fail;
  InitArchiveRecord(a);
  a->header = h;
  a->charset = ArchiveCharsetFromCodePage(h.code_page);
  std::memcpy(a->key, key, kArchiveKeySize);
  a->header_block = block;
  a->header_block_owned = 1;
  a->archive_size = static_cast<uint64_t>(size);
  a->open = 1;
  *file_out = file;
  return 0;
fail:
  if (block) RR_FREE(block);
  PlainFileClose(file);
  return -1;
}

}  // namespace

int OpenArchiveFile(ArchiveRecord* a, const char* path, const char* key_string) {
  if (!a || a->open || !path) return -1;
  FileHandle file = 0;
  if (OpenFromFile(a, path, key_string, &file) != 0) return -1;
  a->file = file;
  return 0;
}

int OpenArchiveFileWhole(ArchiveRecord* a, const char* path, const char* key_string, int no_wait) {
  if (!a || a->open || !path) return -1;
  FileHandle file = 0;
  if (OpenFromFile(a, path, key_string, &file) != 0) return -1;
  size_t size = static_cast<size_t>(a->archive_size);
  a->image = static_cast<unsigned char*>(RR_ALLOC(size));
  if (!a->image || PlainFileSeek(file, 0, 0) != 0) {
    if (a->image) RR_FREE(a->image);
    RR_FREE(a->header_block);
    PlainFileClose(file);
    InitArchiveRecord(a);
    return -1;
  }
  PlainFileRead(a->image, size, 1, file);
  a->whole_read_file = file;
  a->whole_read_pending = 1;
  a->in_memory = 1;
  if (!no_wait) WaitWholeRead(a);
  return 0;
}

int FinishArchiveWholeRead(ArchiveRecord* a, int wait) {
  if (!a->whole_read_pending) return 1;
  if (wait)
    PlainFileWaitIdle(a->whole_read_file);
  else if (!PlainFileIdleCheck(a->whole_read_file))
    return 0;
  PlainFileClose(a->whole_read_file);
  a->whole_read_file = 0;
  ApplyArchiveKey(static_cast<size_t>(a->archive_size), a->image, 0, a->key);
  a->whole_read_pending = 0;
  return 1;
}

int CloseArchive(ArchiveRecord* a) {
  if (!a || !a->open) return 0;
  WaitWholeRead(a);
  if (a->callers_image) {
    // The caller gets the image back as it gave it.
    ApplyArchiveKey(static_cast<size_t>(a->archive_size), a->image, 0, a->key);
  } else {
    if (a->file) PlainFileClose(a->file);
    if (a->image) RR_FREE(a->image);
    if (a->header_block_owned && a->header_block) RR_FREE(a->header_block);
  }
  InitArchiveRecord(a);
  return 0;
}

int CloseArchiveRecord(ArchiveRecord* a) {
  CloseArchive(a);
  if (a) InitArchiveRecord(a);
  return 0;
}

unsigned char* GetArchiveMemoryImage(ArchiveRecord* a) {
  if (!a || !a->open) return nullptr;
  WaitWholeRead(a);
  return a->image;
}

// ---- Lookups --------------------------------------------------------------------------

namespace {

// Walks a path of folders from the current directory. On failure the current
// directory is restored when asked for.
int WalkFolders(ArchiveRecord* a, const char* path, int restore) {
  uint32_t start = a->current_directory;
  if (std::strcmp(path, ".") == 0) return 0;
  if (std::strcmp(path, "\\") == 0 || std::strcmp(path, "/") == 0) {
    a->current_directory = 0;
    return 0;
  }
  if (std::strcmp(path, "..") == 0) {
    uint32_t parent;
    if (!ReadDirectory(a, a->current_directory, &parent, nullptr, nullptr)) return -1;
    if (parent == kArchiveNoParent || !ReadDirectory(a, parent, nullptr, nullptr, nullptr)) return -1;
    a->current_directory = parent;
    return 0;
  }
  const char* p = path;
  while (*p) {
    if (IsSeparator(*p)) {
      // An empty element before a separator: the root.
      a->current_directory = 0;
      ++p;
      continue;
    }
    NameKey key;
    size_t n = MakeNameKey(a, p, &key);
    if (!EnterFolder(a, key)) {
      if (restore) a->current_directory = start;
      return -1;
    }
    p += n;
    if (IsSeparator(*p)) ++p;  // a final separator ends the walk
  }
  return 0;
}

// Position of the last separator of path that is a character of its own
// (never the second byte of a double-byte character), or -1.
long LastSeparator(const ArchiveRecord* a, const char* path, bool colon) {
  long last = -1;
  for (long i = 0; path[i];) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(reinterpret_cast<const char*>(&c), a->charset) && path[i + 1]) {
      i += 2;
      continue;
    }
    if (IsSeparator(path[i]) || (colon && path[i] == ':')) last = i;
    ++i;
  }
  return last;
}

}  // namespace

int ChangeArchiveDirectory(ArchiveRecord* a, const char* path, int restore) {
  if (!a || !a->open || !path) return -1;
  WaitWholeRead(a);
  return WalkFolders(a, path, restore);
}

int FindArchiveFileEntry(const char* path, ArchiveRecord* a, ArchiveFileEntry* entry) {
  if (!a || !a->open || !path) return -1;
  WaitWholeRead(a);
  uint32_t start = a->current_directory;
  const char* name = path;
  long split = LastSeparator(a, path, false);
  if (split >= 0) {
    // Every element before the file name must be a folder: a missing folder
    // fails the lookup rather than being taken for the file's name.
    char folder[kMaxKey];
    if (static_cast<size_t>(split) + 2 > sizeof(folder)) return -1;
    std::memcpy(folder, path, static_cast<size_t>(split) + 1);
    folder[split + 1] = '\0';
    if (WalkFolders(a, folder, 1) != 0) return -1;
    name = path + split + 1;
  }
  int result = -1;
  if (*name) {
    NameKey key;
    MakeNameKey(a, name, &key);
    ArchiveFileEntry e;
    if (FindInDirectory(a, a->current_directory, key, false, &e)) {
      if (entry) *entry = e;
      result = 0;
    }
  }
  a->current_directory = start;
  return result;
}

int GetArchiveFileOffset(ArchiveRecord* a, const char* path, uint64_t* data_offset, uint32_t* size) {
  ArchiveFileEntry e;
  if (FindArchiveFileEntry(path, a, &e) != 0) return -1;
  uint64_t offset = static_cast<uint64_t>(a->header.data_start) + e.data_offset;
  uint32_t stored = e.stored_size == kArchiveStoredPlain ? e.data_size : e.stored_size;
  if (!Within(offset, stored, a->archive_size)) return -1;
  if (data_offset) *data_offset = offset;
  if (size) *size = e.data_size;
  return 0;
}

// ---- Reading one file ----------------------------------------------------------------

namespace {

bool IsCompressed(const ArchiveRecord* a, const ArchiveFileEntry& e) {
  return a->header.version >= 2 && e.stored_size != kArchiveStoredPlain;
}

uint64_t DataPosition(const ArchiveEntryReader* r) {
  return static_cast<uint64_t>(r->archive->header.data_start) + r->entry.data_offset;
}

// The most bytes one stored byte can stand for: a back reference of 4 bytes
// writes at most 8195.
constexpr uint64_t kMaxExpansion = 2049;

// Whether an entry's sizes can describe an LZ block at all; checked before its
// decoded buffer is allocated, so a corrupt entry cannot ask for gigabytes.
bool PlausibleBlock(const ArchiveFileEntry& e) {
  return e.stored_size >= kPackHeaderSize &&
         e.data_size <= static_cast<uint64_t>(e.stored_size - kPackHeaderSize) * kMaxExpansion;
}

bool DecodeEntry(const unsigned char* block, size_t stored, unsigned char* out, uint32_t size) {
  uint32_t decoded, encoded;
  if (ReadPackHeader(block, stored, &decoded, &encoded, nullptr) != 0) return false;
  // The block must describe exactly this entry; an empty stream writes nothing.
  if (decoded != size || encoded > stored || (encoded == kPackHeaderSize && size > 0)) return false;
  return DecodePackDataChecked(block, stored, out, size) == static_cast<int64_t>(size);
}

void WaitPending(ArchiveEntryReader* r) {
  while (!FinishArchivePendingRead(r)) PlainFileWaitIdle(r->archive->file);
}

}  // namespace

int OpenArchiveFileEntry(ArchiveEntryReader* r, ArchiveRecord* a, const char* path, int no_wait) {
  if (!r || !a || !a->open) return -1;
  WaitWholeRead(a);
  ArchiveFileEntry e;
  if (FindArchiveFileEntry(path, a, &e) != 0) return -1;
  std::memset(r, 0, sizeof(*r));
  r->archive = a;
  r->entry = e;
  r->no_wait = no_wait;
  uint64_t at = DataPosition(r);
  if (!IsCompressed(a, e)) {
    if (!Within(at, e.data_size, a->archive_size)) {
      std::memset(r, 0, sizeof(*r));
      return -1;
    }
    return 0;
  }
  if (!PlausibleBlock(e) || !Within(at, e.stored_size, a->archive_size)) {
    std::memset(r, 0, sizeof(*r));
    return -1;
  }
  r->decoded = static_cast<unsigned char*>(RR_ALLOC(e.data_size ? e.data_size : 1));
  if (!r->decoded) {
    std::memset(r, 0, sizeof(*r));
    return -1;
  }
  if (a->in_memory) {
    if (!DecodeEntry(a->image + at, e.stored_size, r->decoded, e.data_size)) {
      CloseArchiveFileEntry(r);
      return -1;
    }
    return 0;
  }
  r->compressed = static_cast<unsigned char*>(RR_ALLOC(e.stored_size));
  if (!r->compressed) {
    CloseArchiveFileEntry(r);
    return -1;
  }
  if (!no_wait) {
    bool ok = ReadScrambled(a->file, r->compressed, e.stored_size, at, a->key) &&
              DecodeEntry(r->compressed, e.stored_size, r->decoded, e.data_size);
    RR_FREE(r->compressed);
    r->compressed = nullptr;
    if (!ok) {
      CloseArchiveFileEntry(r);
      return -1;
    }
    return 0;
  }
  if (PlainFileSeek(a->file, static_cast<int64_t>(at), 0) != 0 ||
      PlainFileRead(r->compressed, e.stored_size, 1, a->file) != 1) {
    CloseArchiveFileEntry(r);
    return -1;
  }
  r->pending = 1;
  r->pending_position = at;
  return 0;
}

int FinishArchivePendingRead(ArchiveEntryReader* r) {
  if (!r || !r->archive) return 1;
  if (!r->no_wait || r->pending == 0) return 1;
  ArchiveRecord* a = r->archive;
  if (!PlainFileIdleCheck(a->file)) return 0;
  if (r->pending == 1) {
    ApplyArchiveKey(r->entry.stored_size, r->compressed, r->pending_position, a->key);
    if (!DecodeEntry(r->compressed, r->entry.stored_size, r->decoded, r->entry.data_size)) {
      // A corrupt block reads as an empty file.
      r->failed = 1;
    }
    RR_FREE(r->compressed);
    r->compressed = nullptr;
  } else {
    ApplyArchiveKey(r->pending_count, r->pending_destination, r->pending_position, a->key);
  }
  r->pending = 0;
  return 1;
}

size_t ReadArchiveFileEntry(ArchiveEntryReader* r, void* destination, size_t bytes) {
  if (!r || !r->archive) return 0;
  if (r->no_wait && r->pending) WaitPending(r);
  if (r->end_flag) return 0;
  if (r->failed || r->position >= r->entry.data_size) {
    r->end_flag = 1;
    return 0;
  }
  size_t n = r->entry.data_size - r->position;
  if (bytes < n) n = bytes;
  if (n == 0) return 0;
  ArchiveRecord* a = r->archive;
  if (r->decoded) {
    std::memcpy(destination, r->decoded + r->position, n);
  } else if (a->in_memory) {
    std::memcpy(destination, a->image + DataPosition(r) + r->position, n);
  } else {
    uint64_t at = DataPosition(r) + r->position;
    if (!r->no_wait) {
      if (!ReadScrambled(a->file, destination, n, at, a->key)) return 0;
    } else {
      if (PlainFileTell(a->file) != static_cast<int64_t>(at) &&
          PlainFileSeek(a->file, static_cast<int64_t>(at), 0) != 0) {
        return 0;
      }
      if (PlainFileRead(destination, n, 1, a->file) != 1) return 0;
      r->pending = 2;
      r->pending_position = at;
      r->pending_destination = static_cast<unsigned char*>(destination);
      r->pending_count = static_cast<uint32_t>(n);
    }
  }
  r->position += static_cast<uint32_t>(n);
  r->end_flag = 0;
  return n;
}

int SeekArchiveFileEntry(ArchiveEntryReader* r, int64_t offset, int origin) {
  if (!r || !r->archive) return -1;
  if (r->no_wait && r->pending) WaitPending(r);
  int64_t base = origin == 1 ? r->position : origin == 2 ? r->entry.data_size : 0;
  int64_t target = base + offset;
  if (offset < -(1LL << 40) || offset > (1LL << 40)) target = offset < 0 ? 0 : r->entry.data_size;
  if (target < 0) target = 0;
  if (target > r->entry.data_size) target = r->entry.data_size;
  r->position = static_cast<uint32_t>(target);
  r->end_flag = 0;
  return 0;
}

int64_t TellArchiveFileEntry(ArchiveEntryReader* r) {
  if (!r || !r->archive) return -1;
  if (r->no_wait && r->pending) WaitPending(r);
  return r->position;
}

int EofArchiveFileEntry(ArchiveEntryReader* r) {
  if (!r || !r->archive) return -1;
  if (r->no_wait && r->pending) WaitPending(r);
  return r->end_flag ? -1 : 0;
}

int CloseArchiveFileEntry(ArchiveEntryReader* r) {
  if (!r) return 0;
  if (r->archive && r->no_wait && r->pending) WaitPending(r);
  if (r->decoded) RR_FREE(r->decoded);
  if (r->compressed) RR_FREE(r->compressed);
  std::memset(r, 0, sizeof(*r));
  return 0;
}

// ---- Searching -----------------------------------------------------------------------

namespace {

// The archive's match rule: "?" one byte, a run of "*" skips the name forward to
// the first occurrence of the character after the run (no backtracking), a
// pattern ending in "*" takes the rest, double-byte characters must be equal.
bool MatchArchivePattern(const ArchiveRecord* a, const char* pattern, const char* name) {
  const char* p = pattern;
  const char* n = name;
  for (;;) {
    if (*p == '\0') return *n == '\0';
    if (*p == '*') {
      while (*p == '*') ++p;
      if (*p == '\0') return true;
      bool lead = IsLeadByte(&*p, a->charset) && p[1];
      for (;;) {
        if (*n == '\0') return false;
        if (lead ? (n[0] == p[0] && n[1] == p[1]) : *n == *p) break;
        n += (IsLeadByte(&*n, a->charset) && n[1]) ? 2 : 1;
      }
      continue;
    }
    if (IsLeadByte(&*p, a->charset) && p[1]) {
      if (n[0] != p[0] || n[1] != p[1]) return false;
      p += 2;
      n += 2;
      continue;
    }
    if (*n == '\0') return false;
    if (*p != '?' && *p != *n) return false;
    ++p;
    ++n;
  }
}

void UpperInPlace(const ArchiveRecord* a, char* text) {
  for (size_t i = 0; text[i];) {
    if (IsLeadByte(&text[i], a->charset) && text[i + 1]) {
      i += 2;
    } else {
      text[i] = UpperAscii(text[i]);
      ++i;
    }
  }
}

void CopyName(char* out, const char* name) {
  size_t n = std::strlen(name);
  if (n > 259) n = 259;
  std::memcpy(out, name, n);
  out[n] = '\0';
}

int NextMatch(ArchiveSearch* s, FileInfo* info) {
  ArchiveRecord* a = s->archive;
  WaitWholeRead(a);
  uint32_t parent, count, first;
  if (!ReadDirectory(a, s->directory, &parent, &count, &first)) return -1;
  uint32_t extra = parent == kArchiveNoParent ? 1 : 2;
  uint64_t total = static_cast<uint64_t>(count) + extra;
  while (s->index < total) {
    uint32_t index = s->index++;
    if (index < extra) {
      // "." and ".." come first whatever the pattern.
      const char* name = index == 0 ? "." : "..";
      if (info) {
        std::memset(info, 0, sizeof(*info));
        CopyName(info->name, name);
        info->is_directory = 1;
      }
      return 0;
    }
    ArchiveFileEntry e;
    if (!ReadFileEntry(a, first, index - extra, &e)) return -1;
    uint16_t words, sum;
    const unsigned char* upper;
    const char* written = ReadWrittenName(a, e.name_offset);
    if (!written || !ReadNameKey(a, e.name_offset, &words, &sum, &upper)) continue;
    // The upper-case field is zero-padded and terminated inside its words.
    if (!std::memchr(upper, 0, static_cast<size_t>(words) * 4)) continue;
    if (!MatchArchivePattern(a, s->pattern, reinterpret_cast<const char*>(upper))) continue;
    if (info) {
      std::memset(info, 0, sizeof(*info));
      CopyName(info->name, written);
      info->is_directory = (e.attributes & kArchiveFolderAttribute) ? 1 : 0;
      info->size = info->is_directory ? 0 : e.data_size;
      FileTimeToDate(e.creation_time, info->creation_time);
      FileTimeToDate(e.write_time, info->last_write_time);
    }
    return 0;
  }
  return -1;
}

}  // namespace

ArchiveSearch* ArchiveFindFirstCore(ArchiveRecord* a, const char* path, FileInfo* info) {
  if (!a || !a->open || !path) return nullptr;
  WaitWholeRead(a);
  auto* s = static_cast<ArchiveSearch*>(RR_CALLOC(sizeof(ArchiveSearch)));
  if (!s) return nullptr;
  s->archive = a;
  long split = LastSeparator(a, path, true);
  const char* pattern = split >= 0 ? path + split + 1 : path;
  if (std::strlen(pattern) >= sizeof(s->pattern)) {
    RR_FREE(s);
    return nullptr;
  }
  std::strcpy(s->pattern, pattern);
  UpperInPlace(a, s->pattern);
  s->directory = a->current_directory;
  if (split > 0) {
    char folder[kMaxKey];
    if (static_cast<size_t>(split) + 1 > sizeof(folder)) {
      RR_FREE(s);
      return nullptr;
    }
    std::memcpy(folder, path, static_cast<size_t>(split));
    folder[split] = '\0';
    UpperInPlace(a, folder);
    uint32_t start = a->current_directory;
    if (WalkFolders(a, folder, 0) != 0) {
      a->current_directory = start;
      RR_FREE(s);
      return nullptr;
    }
    s->directory = a->current_directory;
    a->current_directory = start;
  }
  s->index = 0;
  if (NextMatch(s, info) != 0) {
    RR_FREE(s);
    return nullptr;
  }
  return s;
}

int ArchiveFindNextCore(ArchiveSearch* s, FileInfo* info) {
  if (!s) return -1;
  return NextMatch(s, info);
}

int ArchiveFindCloseCore(ArchiveSearch* s) {
  if (s) RR_FREE(s);
  return 0;
}
