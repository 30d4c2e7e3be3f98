// lib/core/pack_writer.h - writes archives of the library's format (see
// pack_archive.h) from a folder tree: the packer tool's engine.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct PackNode {
  std::string name;  // code page 932, as written; empty for the root
  bool folder = false;
  uint64_t creation_time = 0;  // file times (100 ns since 1601, UTC)
  uint64_t access_time = 0;
  uint64_t write_time = 0;
  std::vector<PackNode> children;
  // A file's data: read from host_path (a host path) when it is not empty,
  // else taken from data.
  std::string host_path;
  std::vector<unsigned char> data;
  uint64_t size = 0;  // for progress reports
};

struct PackOptions {
  int version = 4;        // 0 to 4; LZ entries need 2 or more
  bool compress = true;   // LZ-compress entries that get smaller
  bool second_key = false;
  uint32_t code_page = 932;  // written from version 4
  // Called after each file: files done, files in all, bytes done, bytes in all.
  std::function<void(uint64_t, uint64_t, uint64_t, uint64_t)> progress;
};

struct PackStats {
  uint64_t files = 0;
  uint64_t folders = 0;
  uint64_t compressed = 0;  // entries stored as LZ blocks
  uint64_t input_bytes = 0;
  uint64_t archive_bytes = 0;
};

// Writes the archive of the tree to out, which must be seekable. 0, or -1 with
// a message (names that clash without regard to case, names the format cannot
// hold, data over 4 GB, unreadable files, write failures).
int WritePackArchive(const PackNode& root, const PackOptions& options, std::ostream& out,
                     std::string* error, PackStats* stats = nullptr);
