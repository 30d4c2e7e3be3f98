// platform/kernel/file_read.cpp - paths and names, files opened for reading, the
// current folder, searches, temporary files and file times over POSIX.
#include "platform/kernel/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/kernel/path_lookup.h"

namespace plat {

struct File {
  int fd;
};

namespace {

// Converts with iconv, copying a byte that does not convert unchanged and
// going on behind it, so that no name is ever lost.
std::string Convert(const std::string& text, const char* to, const char* from) {
  bool ascii = true;
  for (unsigned char c : text) {
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return text;
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return text;
  std::string out;
  out.reserve(text.size() * 3 / 2 + 4);
  char* src = const_cast<char*>(text.data());
  size_t src_left = text.size();
  char buffer[256];
  while (src_left > 0) {
    char* dst = buffer;
    size_t dst_left = sizeof(buffer);
    size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(buffer, dst - buffer);
    if (r == (size_t)-1) {
      if (errno == E2BIG) continue;
      // Invalid or cut sequence: keep the byte as it is.
      out.push_back(*src);
      ++src;
      --src_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

void FillFindData(const std::string& host_folder, const std::string& host_name,
                  const std::string& name, FindData* data) {
  std::memset(data, 0, sizeof(*data));
  std::string full = host_folder + host_name;
  struct stat st;
  if (::stat(full.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      data->attributes = kFileAttributeDirectory;
    } else {
      data->attributes = kFileAttributeNormal;
      data->size = static_cast<uint64_t>(st.st_size);
    }
    if (::access(full.c_str(), W_OK) != 0 && !S_ISDIR(st.st_mode)) {
      data->attributes = kFileAttributeReadOnly;
    }
    data->last_write_time = UnixTimeToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    data->last_access_time = UnixTimeToFileTime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    // POSIX has no creation time in stat; the status-change time is never
    // later than the creation on any file system that keeps one, but it moves
    // with metadata changes, so take the earlier of it and the write time.
    uint64_t change = UnixTimeToFileTime(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
    data->creation_time = std::min(change, data->last_write_time);
  } else {
    data->attributes = kFileAttributeNormal;
  }
  std::memcpy(data->name, name.data(), name.size());
  data->name[name.size()] = '\0';
}

// Length in bytes of the character at text (code page 932).
size_t CharLength(const char* text) {
  unsigned char c = static_cast<unsigned char>(*text);
  bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
  return (lead && text[1] != '\0') ? 2 : 1;
}

// Windows-style match with backtracking over "*"; a double-byte character is
// one character for "?".
bool MatchFrom(const char* pattern, const char* name) {
  const char* star_pattern = nullptr;
  const char* star_name = nullptr;
  while (*name) {
    if (*pattern == '*') {
      while (*pattern == '*') ++pattern;
      star_pattern = pattern;
      star_name = name;
      continue;
    }
    size_t name_len = CharLength(name);
    if (*pattern == '?') {
      ++pattern;
      name += name_len;
      continue;
    }
    if (*pattern) {
      size_t pattern_len = CharLength(pattern);
      bool equal = pattern_len == name_len &&
                   (name_len == 2 ? (pattern[0] == name[0] && pattern[1] == name[1])
                                  : AsciiUpper(*pattern) == AsciiUpper(*name));
      if (equal) {
        pattern += pattern_len;
        name += name_len;
        continue;
      }
    }
    if (!star_pattern) return false;
    star_name += CharLength(star_name);
    name = star_name;
    pattern = star_pattern;
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

bool MatchWildcard(const std::string& pattern, const std::string& name) {
  if (MatchFrom(pattern.c_str(), name.c_str())) return true;
  // "x.*" also matches "x", so "*.*" matches every name.
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0) {
    std::string shorter = pattern.substr(0, pattern.size() - 2);
    if (MatchFrom(shorter.c_str(), name.c_str())) return true;
  }
  // "x." matches "x" when the name has no dot.
  if (!pattern.empty() && pattern.back() == '.' && name.find('.') == std::string::npos) {
    std::string shorter = pattern.substr(0, pattern.size() - 1);
    if (MatchFrom(shorter.c_str(), name.c_str())) return true;
  }
  return false;
}

}  // namespace

struct Search {
  std::string host_folder;  // with a trailing "/" unless empty
  std::vector<std::pair<std::string, std::string>> entries;  // host name, library name
  size_t next;
};

std::string Cp932ToUtf8(const std::string& text) { return Convert(text, "UTF-8", "CP932"); }
std::string Utf8ToCp932(const std::string& text) { return Convert(text, "CP932", "UTF-8"); }

namespace {

// The host path, and whether the look-up knows that nothing exists there. A
// remembered look-up that is still good answers first: the path did not exist
// as written when it was made, and cannot have come to since without changing
// a folder it depends on.
// The path in host form: converted first, so that a trail byte 0x5C of a
// double-byte character is never taken for a separator, then with "/".
std::string HostForm(const char* path) {
  std::string host = Cp932ToUtf8(path);
  std::replace(host.begin(), host.end(), '\\', '/');
  return host;
}

std::string HostPath(const char* path, bool* missing) {
  *missing = false;
  if (!path) return {};
  std::string host = HostForm(path);
  if (host.empty()) return host;
  std::string remembered;
  if (RememberedNoCase(host, &remembered, missing)) return remembered;
  if (Exists(host)) return host;
  return ResolveNoCase(host, missing);
}

}  // namespace

std::string NativePath(const char* path) {
  bool missing;
  return HostPath(path, &missing);
}

std::string FromHostName(const char* host_name) {
  return host_name ? Utf8ToCp932(host_name) : std::string();
}

namespace {

// Opens host for reading: the file itself, never a folder. size gets its size;
// absent is set when nothing is found at that path as written.
File* OpenHost(const std::string& host, int64_t* size, bool* absent = nullptr) {
  int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (absent) *absent = errno == ENOENT || errno == ENOTDIR;
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  if (size) *size = st.st_size;
  return new File{fd};
}

}  // namespace

File* OpenFileForRead(const char* path, int64_t* size) {
  if (!path || !*path) return nullptr;
  std::string host = HostForm(path);
  std::string remembered;
  bool missing = false;
  if (RememberedNoCase(host, &remembered, &missing, false)) {
    return missing ? nullptr : OpenHost(remembered, size);
  }
  // The path as written is tried first: when it opens, it exists as written
  // and the look-up would have kept it, so no separate check is needed.
  bool absent = false;
  if (File* file = OpenHost(host, size, &absent)) return file;
  if (!absent) return nullptr;
  host = ResolveNoCase(host, &missing);
  return missing ? nullptr : OpenHost(host, size);
}

File* OpenFileForRead(const char* path) { return OpenFileForRead(path, nullptr); }

int64_t GetFileSize(File* file) {
  if (!file) return -1;
  struct stat st;
  if (::fstat(file->fd, &st) != 0) return -1;
  return st.st_size;
}

int64_t SeekFile(File* file, int64_t offset, int origin) {
  if (!file) return -1;
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
  if (whence < 0) return -1;
  off_t r = ::lseek(file->fd, offset, whence);
  return r < 0 ? -1 : r;
}

int64_t ReadFile(File* file, void* destination, size_t bytes) {
  if (!file) return -1;
  size_t done = 0;
  char* out = static_cast<char*>(destination);
  while (done < bytes) {
    ssize_t r = ::read(file->fd, out + done, bytes - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? static_cast<int64_t>(done) : -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

int CloseFile(File* file) {
  if (!file) return -1;
  int r = ::close(file->fd);
  delete file;
  return r == 0 ? 0 : -1;
}

namespace {

// The identity of a host path; false when nothing or a folder is there.
// absent is set when nothing is found at that path as written.
bool HostIdentity(const std::string& host, FileIdentity* identity, bool* absent = nullptr) {
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) {
    if (absent) *absent = errno == ENOENT || errno == ENOTDIR;
    return false;
  }
  if (S_ISDIR(st.st_mode)) return false;
  identity->device = static_cast<uint64_t>(st.st_dev);
  identity->inode = static_cast<uint64_t>(st.st_ino);
  identity->size = static_cast<int64_t>(st.st_size);
  identity->modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

}  // namespace

bool GetFileIdentity(const char* path, FileIdentity* identity) {
  if (!path || !*path || !identity) return false;
  std::string host = HostForm(path);
  std::string remembered;
  bool missing = false;
  if (RememberedNoCase(host, &remembered, &missing, false)) {
    return !missing && HostIdentity(remembered, identity);
  }
  // As at an open: the path as written first, the look-up only when it is
  // not there.
  bool absent = false;
  if (HostIdentity(host, identity, &absent)) return true;
  if (!absent) return false;
  host = ResolveNoCase(host, &missing);
  return !missing && HostIdentity(host, identity);
}

int PathExists(const char* path) {
  std::string host = NativePath(path);
  return !host.empty() && Exists(host);
}

int SetCurrentDirectory(const char* path) {
  std::string host = NativePath(path);
  return !host.empty() && ::chdir(host.c_str()) == 0;
}

uint32_t GetCurrentDirectory(uint32_t size, char* buffer) {
  std::vector<char> host(4096);
  while (!::getcwd(host.data(), host.size())) {
    if (errno != ERANGE || host.size() > (1u << 20)) return 0;
    host.resize(host.size() * 2);
  }
  std::string name = FromHostName(host.data());
  if (name.size() + 1 > size || !buffer) return static_cast<uint32_t>(name.size() + 1);
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return static_cast<uint32_t>(name.size());
}

Search* FindFirstFile(const char* pattern, FindData* data) {
  if (!pattern) return nullptr;
  std::string text = pattern;
  // Split at the last separator that is not the second byte of a double-byte
  // character.
  size_t split = std::string::npos;
  for (size_t i = 0; i < text.size(); i += CharLength(text.c_str() + i)) {
    if (text[i] == '\\' || text[i] == '/') split = i;
  }
  std::string folder = split == std::string::npos ? std::string() : text.substr(0, split + 1);
  std::string file_pattern = split == std::string::npos ? text : text.substr(split + 1);
  if (file_pattern.empty()) return nullptr;
  std::string host_folder = folder.empty() ? std::string() : NativePath(folder.c_str());
  if (!host_folder.empty() && host_folder.back() != '/') host_folder += '/';

  DIR* dir = ::opendir(host_folder.empty() ? "." : host_folder.c_str());
  if (!dir) return nullptr;
  std::vector<std::pair<std::string, std::string>> entries;
  bool has_dot = false, has_dot_dot = false;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string host_name = entry->d_name;
    std::string name = FromHostName(host_name.c_str());
    if (name.size() >= sizeof(FindData::name)) continue;  // no library path can name it
    if (!MatchWildcard(file_pattern, name)) continue;
    if (host_name == ".") {
      has_dot = true;
      continue;
    }
    if (host_name == "..") {
      has_dot_dot = true;
      continue;
    }
    entries.emplace_back(host_name, name);
  }
  ::closedir(dir);
  auto upper = [](const std::string& s) {
    std::string u = s;
    for (size_t i = 0; i < u.size(); i += CharLength(u.c_str() + i)) u[i] = AsciiUpper(u[i]);
    return u;
  };
  std::sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
    std::string ua = upper(a.second), ub = upper(b.second);
    return ua != ub ? ua < ub : a.second < b.second;
  });
  if (has_dot_dot) entries.insert(entries.begin(), {"..", ".."});
  if (has_dot) entries.insert(entries.begin(), {".", "."});
  if (entries.empty()) return nullptr;
  Search* search = new Search{host_folder, std::move(entries), 0};
  if (!FindNextFile(search, data)) {
    delete search;
    return nullptr;
  }
  return search;
}

int FindNextFile(Search* search, FindData* data) {
  if (!search || search->next >= search->entries.size()) return 0;
  const auto& entry = search->entries[search->next++];
  FindData scratch;
  FillFindData(search->host_folder, entry.first, entry.second, data ? data : &scratch);
  return 1;
}

int FindClose(Search* search) {
  delete search;
  return 0;
}

uint32_t GetTempDirectory(uint32_t size, char* buffer) {
  const char* env = std::getenv("TMPDIR");
  std::string host = (env && *env) ? env : "/tmp";
  if (host.back() != '/') host += '/';
  std::string name = FromHostName(host.c_str());
  if (name.size() + 1 > size || !buffer) return static_cast<uint32_t>(name.size() + 1);
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return static_cast<uint32_t>(name.size());
}

int GetTempFileName(const char* folder, const char* prefix, char* out) {
  if (!folder || !out) return 0;
  std::string base = folder;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '/';
  if (prefix) base.append(prefix, strnlen(prefix, 3));
  static uint32_t counter = 0;
  uint32_t seed = static_cast<uint32_t>(::getpid()) * 2654435761u ^ static_cast<uint32_t>(std::time(nullptr));
  for (int attempt = 0; attempt < 65536; ++attempt) {
    uint32_t unique = (seed + __atomic_fetch_add(&counter, 1, __ATOMIC_RELAXED)) & 0xFFFF;
    if (unique == 0) continue;
    char tail[16];
    std::snprintf(tail, sizeof(tail), "%X.TMP", unique);
    std::string name = base + tail;
    if (name.size() >= 260) return 0;
    WriteFile* file = CreateNewFile(name.c_str());
    if (!file) {
      if (PathExists(name.c_str())) continue;
      return 0;
    }
    CloseWriteFile(file);
    std::memcpy(out, name.c_str(), name.size() + 1);
    return 1;
  }
  return 0;
}

// 100-ns steps between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeUnixEpoch = 116444736000000000LL;

uint64_t UnixTimeToFileTime(int64_t seconds, int64_t nanoseconds) {
  int64_t t = seconds * 10000000LL + nanoseconds / 100 + kFileTimeUnixEpoch;
  return t < 0 ? 0 : static_cast<uint64_t>(t);
}

int FileTimeToLocalDate(uint64_t file_time, int out[6]) {
  int64_t seconds = static_cast<int64_t>(file_time / 10000000ULL) - kFileTimeUnixEpoch / 10000000LL;
  time_t t = static_cast<time_t>(seconds);
  struct tm local;
  if (!::localtime_r(&t, &local)) return -1;
  out[0] = local.tm_year + 1900;
  out[1] = local.tm_mon + 1;
  out[2] = local.tm_mday;
  out[3] = local.tm_hour;
  out[4] = local.tm_min;
  out[5] = local.tm_sec;
  return 0;
}

}  // namespace plat
