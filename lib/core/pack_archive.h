// lib/core/pack_archive.h - the archive format and its reader.
//
// An archive is one file that stands for a folder tree. Every byte of it is
// scrambled with a 12-byte key by file position. Layout (little-endian):
//   header        magic 0x5252 ("RR"), version (0-4), header-block size, data
//                 start, header-block position, file-table offset and
//                 directory-table offset within the header block, and from
//                 version 4 the code page of the names (24 or 28 bytes);
//   header block  the name table (at 0), the file table, the directory table;
//   data          each file's bytes, stored plain or as an LZ block.
// Name entry: u16 L, u16 check sum (16-bit sum of the upper-case name's bytes),
// the upper-case name in L * 4 bytes (zero-padded, at least one zero), then the
// name as written, zero-terminated.
// File entry (40 bytes, 44 from version 2): name-entry offset, attributes (16 a
// folder), creation, access and write file times, data offset from the data
// start (for a folder: its directory entry's offset), data size, and from
// version 2 the stored size of an LZ block (0xFFFFFFFF: stored plain).
// Directory entry (16 bytes): the folder's own file-entry offset (0xFFFFFFFF
// for the root; not read), the parent's directory-entry offset (0xFFFFFFFF for
// the root), number of file entries, offset of the first in the file table.
// The root is the first directory entry.
//
// Every offset and size read from an archive is checked before use: a corrupt
// archive is refused or read without going outside its data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/core/file_functions.h"

constexpr size_t kArchiveKeySize = 12;
constexpr uint16_t kArchiveMagic = 0x5252;
constexpr uint16_t kArchiveMaxVersion = 4;
constexpr uint32_t kArchiveStoredPlain = 0xFFFFFFFFu;
constexpr uint32_t kArchiveNoParent = 0xFFFFFFFFu;
constexpr uint32_t kArchiveFolderAttribute = 0x10;
constexpr size_t kArchiveDirectoryEntrySize = 16;

inline size_t ArchiveFileEntrySize(int version) { return version < 2 ? 40 : 44; }
inline size_t ArchiveHeaderSize(int version) { return version >= 4 ? 28 : 24; }

struct ArchiveHeader {
  uint16_t magic;
  uint16_t version;
  uint32_t header_block_size;
  uint32_t data_start;
  uint32_t header_block_position;
  uint32_t file_table_offset;
  uint32_t directory_table_offset;
  uint32_t code_page;
};

struct ArchiveRecord {
  ArchiveHeader header;
  int charset;                    // character-set index of the names
  int open;                       // 1 while the record holds an archive
  FileHandle file;                // plain file of an archive read on demand
  unsigned char* image;           // the whole archive in memory
  unsigned char* header_block;    // tracked block, or inside the image
  int header_block_owned;         // 1 when the header block is our own block
  uint32_t current_directory;     // directory-entry offset; 0 is the root
  unsigned char key[kArchiveKeySize];
  int in_memory;
  int callers_image;
  uint64_t archive_size;
  int whole_read_pending;
  FileHandle whole_read_file;
};

// A file entry as read from the file table.
struct ArchiveFileEntry {
  uint32_t name_offset;
  uint32_t attributes;
  uint64_t creation_time;
  uint64_t access_time;
  uint64_t write_time;
  uint32_t data_offset;
  uint32_t data_size;
  uint32_t stored_size;  // kArchiveStoredPlain when stored plain
};

struct ArchiveEntryReader {
  ArchiveRecord* archive;
  ArchiveFileEntry entry;
  unsigned char* decoded;     // the whole decoded file of an LZ entry
  unsigned char* compressed;  // an LZ block being read
  int end_flag;
  int failed;                 // a pending LZ block did not decode
  uint32_t position;
  int no_wait;
  int pending;                // 0 none, 1 an LZ block, 2 a plain read
  uint64_t pending_position;
  unsigned char* pending_destination;
  uint32_t pending_count;
};

struct ArchiveSearch {
  ArchiveRecord* archive;
  char pattern[260];
  uint32_t directory;
  uint32_t index;
};

// Makes the 12-byte key from the key string (null or empty: the built-in filler).
void BuildArchiveKey(const char* key_string, unsigned char key[kArchiveKeySize]);
// The built-in second key, tried when the first does not give the magic.
void GetArchiveSecondKey(unsigned char key[kArchiveKeySize]);
// XORs byte i of the block with key byte (position + i) mod 12. Its own inverse.
void ApplyArchiveKey(size_t bytes, void* data, uint64_t position,
                     const unsigned char key[kArchiveKeySize]);
// The character-set index for a code page (932 1, 949 2, 950 3, 936 4, else 0).
int ArchiveCharsetFromCodePage(uint32_t code_page);

void InitArchiveRecord(ArchiveRecord* record);
// An archive held in memory: the caller's image is descrambled in place and
// scrambled again by the close.
int OpenPackArchive(ArchiveRecord* record, void* image, size_t size, const char* key_string);
// An archive file read on demand.
int OpenArchiveFile(ArchiveRecord* record, const char* path, const char* key_string);
// An archive file read whole into memory (with no_wait the read finishes later).
int OpenArchiveFileWhole(ArchiveRecord* record, const char* path, const char* key_string, int no_wait);
int CloseArchive(ArchiveRecord* record);
int CloseArchiveRecord(ArchiveRecord* record);
// 1 when a pending whole read has finished (finishing it), 0 while it runs.
int FinishArchiveWholeRead(ArchiveRecord* record, int wait);
unsigned char* GetArchiveMemoryImage(ArchiveRecord* record);
int GetArchiveFileOffset(ArchiveRecord* record, const char* path, uint64_t* data_offset,
                         uint32_t* size);
// Finds a file (not a folder) by its path from the current directory.
int FindArchiveFileEntry(const char* path, ArchiveRecord* record, ArchiveFileEntry* entry);
// Changes the archive's current directory; -1 (and, with restore, the old
// directory kept) when an element is not a folder.
int ChangeArchiveDirectory(ArchiveRecord* record, const char* path, int restore);

int OpenArchiveFileEntry(ArchiveEntryReader* reader, ArchiveRecord* record, const char* path,
                         int no_wait);
size_t ReadArchiveFileEntry(ArchiveEntryReader* reader, void* destination, size_t bytes);
int SeekArchiveFileEntry(ArchiveEntryReader* reader, int64_t offset, int origin);
int64_t TellArchiveFileEntry(ArchiveEntryReader* reader);
int EofArchiveFileEntry(ArchiveEntryReader* reader);
int FinishArchivePendingRead(ArchiveEntryReader* reader);
int CloseArchiveFileEntry(ArchiveEntryReader* reader);

// A search with a wildcard pattern in a folder of the archive; null when
// nothing matches.
ArchiveSearch* ArchiveFindFirstCore(ArchiveRecord* record, const char* path, FileInfo* info);
int ArchiveFindNextCore(ArchiveSearch* search, FileInfo* info);
int ArchiveFindCloseCore(ArchiveSearch* search);
