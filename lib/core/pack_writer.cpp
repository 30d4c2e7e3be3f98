// lib/core/pack_writer.cpp - the archive writer.
#include "lib/core/pack_writer.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>

#include "lib/core/charset.h"
#include "lib/core/pack_archive.h"
#include "lib/core/pack_lz.h"
#include "platform/kernel/file.h"

namespace {

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

std::string UpperName(const std::string& name, int charset) {
  std::string upper = name;
  for (size_t i = 0; i < upper.size();) {
    if (IsLeadByte(&upper[i], charset) && i + 1 < upper.size()) {
      i += 2;
      continue;
    }
    if (upper[i] >= 'a' && upper[i] <= 'z') upper[i] = static_cast<char>(upper[i] - 32);
    ++i;
  }
  return upper;
}

struct EntryInfo {
  const PackNode* node;
  uint32_t name_offset = 0;
  uint32_t data_offset = 0;  // file: from the data start; folder: its directory entry
  uint32_t data_size = 0;
  uint32_t stored_size = kArchiveStoredPlain;
};

struct DirectoryInfo {
  const PackNode* node;
  uint32_t own_entry = kArchiveNoParent;  // file-entry offset of the folder
  uint32_t parent = kArchiveNoParent;     // directory-entry offset
  uint32_t first = 0;
  uint32_t count = 0;
};

void Put16(std::vector<unsigned char>* v, size_t at, uint16_t x) { std::memcpy(v->data() + at, &x, 2); }
void Put32(std::vector<unsigned char>* v, size_t at, uint32_t x) { std::memcpy(v->data() + at, &x, 4); }
void Put64(std::vector<unsigned char>* v, size_t at, uint64_t x) { std::memcpy(v->data() + at, &x, 8); }

// Writes scrambled bytes at the stream's running position.
class ScrambledWriter {
 public:
  ScrambledWriter(std::ostream& out, const unsigned char* key) : out_(out), key_(key) {}
  bool Write(const unsigned char* data, size_t size) {
    std::vector<unsigned char> copy(data, data + size);
    ApplyArchiveKey(size, copy.data(), position_, key_);
    out_.write(reinterpret_cast<const char*>(copy.data()), static_cast<std::streamsize>(size));
    position_ += size;
    return static_cast<bool>(out_);
  }
  bool WriteAt(uint64_t position, const unsigned char* data, size_t size) {
    std::vector<unsigned char> copy(data, data + size);
    ApplyArchiveKey(size, copy.data(), position, key_);
    out_.seekp(static_cast<std::streamoff>(position));
    out_.write(reinterpret_cast<const char*>(copy.data()), static_cast<std::streamsize>(size));
    return static_cast<bool>(out_);
  }
  uint64_t position() const { return position_; }

 private:
  std::ostream& out_;
  const unsigned char* key_;
  uint64_t position_ = 0;
};

bool LoadData(const PackNode& node, std::vector<unsigned char>* data, std::string* error) {
  if (node.host_path.empty()) {
    *data = node.data;
    return true;
  }
  std::ifstream in(node.host_path, std::ios::binary);
  if (!in) return Fail(error, "cannot open " + node.host_path);
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0) return Fail(error, "cannot read " + node.host_path);
  if (static_cast<uint64_t>(size) >= 0xFFFFFFFFull) {
    return Fail(error, node.host_path + " is 4 GB or larger, which an archive cannot hold");
  }
  in.seekg(0);
  data->resize(static_cast<size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(data->data()), size)) {
    return Fail(error, "cannot read " + node.host_path);
  }
  return true;
}

bool CheckNames(const PackNode& node, int charset, const std::string& where, std::string* error) {
  std::map<std::string, std::string> seen;
  for (const PackNode& child : node.children) {
    const std::string& name = child.name;
    std::string shown = where + plat::Cp932ToUtf8(name);
    if (name.empty() || name == "." || name == "..") return Fail(error, "invalid name: " + shown);
    if (name.size() > 259) return Fail(error, "name longer than 259 bytes: " + shown);
    for (size_t i = 0; i < name.size();) {
      unsigned char c = static_cast<unsigned char>(name[i]);
      if (IsLeadByte(reinterpret_cast<const char*>(&c), charset) && i + 1 < name.size()) {
        i += 2;
        continue;
      }
      if (c == '\\' || c == '/' || c == ':' || c == 0) {
        return Fail(error, "name holds a separator an archive path cannot name: " + shown);
      }
      ++i;
    }
    auto [it, inserted] = seen.emplace(UpperName(name, charset), name);
    if (!inserted) {
      return Fail(error, "names differ only in case, which an archive cannot tell apart: " + where +
                             plat::Cp932ToUtf8(it->second) + " and " + shown);
    }
    if (child.folder && !CheckNames(child, charset, shown + "/", error)) return false;
  }
  return true;
}

void CountFiles(const PackNode& node, uint64_t* files, uint64_t* bytes) {
  for (const PackNode& child : node.children) {
    if (child.folder) {
      CountFiles(child, files, bytes);
    } else {
      ++*files;
      *bytes += child.host_path.empty() ? child.data.size() : child.size;
    }
  }
}

}  // namespace

int WritePackArchive(const PackNode& root, const PackOptions& options, std::ostream& out,
                     std::string* error, PackStats* stats) {
  if (options.version < 0 || options.version > kArchiveMaxVersion) {
    Fail(error, "the version must be 0 to 4");
    return -1;
  }
  const int version = options.version;
  const int charset = version >= 4 ? ArchiveCharsetFromCodePage(options.code_page) : 0;
  if (!CheckNames(root, charset, "", error)) return -1;
  const bool compress = options.compress && version >= 2;
  const size_t entry_size = ArchiveFileEntrySize(version);
  const size_t header_size = ArchiveHeaderSize(version);

  // Folders breadth first, so that each folder's entries follow one another.
  std::vector<DirectoryInfo> directories;
  std::vector<EntryInfo> entries;
  directories.push_back({&root});
  for (size_t d = 0; d < directories.size(); ++d) {
    std::vector<const PackNode*> children;
    for (const PackNode& child : directories[d].node->children) children.push_back(&child);
    std::sort(children.begin(), children.end(), [&](const PackNode* a, const PackNode* b) {
      return UpperName(a->name, charset) < UpperName(b->name, charset);
    });
    directories[d].first = static_cast<uint32_t>(entries.size() * entry_size);
    directories[d].count = static_cast<uint32_t>(children.size());
    for (const PackNode* child : children) {
      EntryInfo e{child};
      if (child->folder) {
        DirectoryInfo sub{child};
        sub.own_entry = static_cast<uint32_t>(entries.size() * entry_size);
        sub.parent = static_cast<uint32_t>(d * kArchiveDirectoryEntrySize);
        e.data_offset = static_cast<uint32_t>(directories.size() * kArchiveDirectoryEntrySize);
        directories.push_back(sub);
      }
      entries.push_back(e);
    }
  }

  // The name table.
  std::vector<unsigned char> names;
  for (EntryInfo& e : entries) {
    std::string upper = UpperName(e.node->name, charset);
    size_t field = (upper.size() / 4 + 1) * 4;
    size_t at = names.size();
    e.name_offset = static_cast<uint32_t>(at);
    size_t length = 4 + field + e.node->name.size() + 1;
    names.resize(at + (length + 3) / 4 * 4, 0);
    uint32_t sum = 0;
    for (unsigned char c : upper) sum += c;
    Put16(&names, at, static_cast<uint16_t>(field / 4));
    Put16(&names, at + 2, static_cast<uint16_t>(sum));
    std::memcpy(names.data() + at + 4, upper.data(), upper.size());
    std::memcpy(names.data() + at + 4 + field, e.node->name.data(), e.node->name.size());
  }

  unsigned char key[kArchiveKeySize];
  if (options.second_key) {
    GetArchiveSecondKey(key);
  } else {
    BuildArchiveKey(nullptr, key);
  }
  ScrambledWriter writer(out, key);
  std::vector<unsigned char> header(header_size, 0);
  if (!writer.Write(header.data(), header.size())) {
    Fail(error, "cannot write the archive");
    return -1;
  }

  // The data, file by file.
  uint64_t files_total = 0, bytes_total = 0, files_done = 0, bytes_done = 0;
  CountFiles(root, &files_total, &bytes_total);
  PackStats local;
  local.folders = directories.size() - 1;
  std::vector<unsigned char> data;
  for (EntryInfo& e : entries) {
    if (e.node->folder) continue;
    if (!LoadData(*e.node, &data, error)) return -1;
    if (data.size() >= 0xFFFFFFFFull) {
      Fail(error, "a file of 4 GB or more cannot be packed");
      return -1;
    }
    uint64_t offset = writer.position() - header_size;
    if (offset + data.size() >= 0xFFFFFFFFull) {
      Fail(error, "the archive would reach 4 GB, which the format cannot hold");
      return -1;
    }
    e.data_offset = static_cast<uint32_t>(offset);
    e.data_size = static_cast<uint32_t>(data.size());
    bool written = false;
    if (compress && data.size() > kPackHeaderSize) {
      std::vector<unsigned char> block = EncodePackData(data.data(), data.size());
      if (!block.empty() && block.size() < data.size()) {
        e.stored_size = static_cast<uint32_t>(block.size());
        written = writer.Write(block.data(), block.size());
        ++local.compressed;
        if (!written) break;
        written = true;
      }
    }
    if (e.stored_size == kArchiveStoredPlain && !writer.Write(data.data(), data.size())) break;
    ++files_done;
    bytes_done += data.size();
    local.input_bytes += data.size();
    if (options.progress) options.progress(files_done, files_total, bytes_done, bytes_total);
  }
  if (!out) {
    Fail(error, "cannot write the archive");
    return -1;
  }
  local.files = files_done;

  // The header block: name table, file table, directory table.
  size_t file_table = names.size();
  size_t directory_table = file_table + entries.size() * entry_size;
  std::vector<unsigned char> block(directory_table + directories.size() * kArchiveDirectoryEntrySize, 0);
  std::memcpy(block.data(), names.data(), names.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const EntryInfo& e = entries[i];
    size_t at = file_table + i * entry_size;
    Put32(&block, at, e.name_offset);
    Put32(&block, at + 4, e.node->folder ? kArchiveFolderAttribute : 0x20);
    Put64(&block, at + 8, e.node->creation_time);
    Put64(&block, at + 16, e.node->access_time);
    Put64(&block, at + 24, e.node->write_time);
    Put32(&block, at + 32, e.data_offset);
    Put32(&block, at + 36, e.node->folder ? 0 : e.data_size);
    if (version >= 2) Put32(&block, at + 40, e.node->folder ? kArchiveStoredPlain : e.stored_size);
  }
  for (size_t d = 0; d < directories.size(); ++d) {
    size_t at = directory_table + d * kArchiveDirectoryEntrySize;
    Put32(&block, at, directories[d].own_entry);
    Put32(&block, at + 4, directories[d].parent);
    Put32(&block, at + 8, directories[d].count);
    Put32(&block, at + 12, directories[d].first);
  }
  uint64_t block_position = writer.position();
  if (block_position + block.size() >= 0xFFFFFFFFull) {
    Fail(error, "the archive would reach 4 GB, which the format cannot hold");
    return -1;
  }
  if (!writer.Write(block.data(), block.size())) {
    Fail(error, "cannot write the archive");
    return -1;
  }

  Put16(&header, 0, kArchiveMagic);
  Put16(&header, 2, static_cast<uint16_t>(version));
  Put32(&header, 4, static_cast<uint32_t>(block.size()));
  Put32(&header, 8, static_cast<uint32_t>(header_size));
  Put32(&header, 12, static_cast<uint32_t>(block_position));
  Put32(&header, 16, static_cast<uint32_t>(file_table));
  Put32(&header, 20, static_cast<uint32_t>(directory_table));
  if (version >= 4) Put32(&header, 24, options.code_page);
  uint64_t end = writer.position();
  if (!writer.WriteAt(0, header.data(), header.size())) {
    Fail(error, "cannot write the archive");
    return -1;
  }
  out.seekp(static_cast<std::streamoff>(end));
  out.flush();
  if (!out) {
    Fail(error, "cannot write the archive");
    return -1;
  }
  local.archive_bytes = end;
  if (stats) *stats = local;
  return 0;
}
