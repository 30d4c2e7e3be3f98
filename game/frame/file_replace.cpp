// game/frame/file_replace.cpp - whole-file writes through a temporary file
// and a rename.
#include "game/frame/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

long long g_write_space = -1;

// The file a write should replace: the target of a symbolic link, so that a
// linked record stays linked.
std::string ResolvedTarget(const char* path) {
  struct stat st {};
  if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path, nullptr)) {
      std::string out(real);
      std::free(real);
      return out;
    }
  }
  return path;
}

// The permissions the new file takes: the old file's, else the usual ones
// for a new file under the process's mask.
mode_t NewFileMode(const struct stat* old) {
  if (old != nullptr) return old->st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Writes every byte, or sets errno and returns false.
bool WriteAll(int fd, const std::vector<unsigned char>& bytes) {
  size_t limit = bytes.size();
  if (g_write_space >= 0 && static_cast<unsigned long long>(g_write_space) < limit) {
    limit = static_cast<size_t>(g_write_space);
  }
  size_t done = 0;
  while (done < limit) {
    const ssize_t n = ::write(fd, bytes.data() + done, limit - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  if (done < bytes.size()) {
    errno = ENOSPC;
    return false;
  }
  return true;
}

bool Fail(std::string& reason, int error) {
  reason = std::strerror(error);
  return false;
}

}  // namespace

bool ReplaceFile(const char* path, const std::vector<unsigned char>& bytes, std::string& reason) {
  const std::string target = ResolvedTarget(path);
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  // A file its owner made read-only keeps its bytes, even for a user whom the
  // system would let write it.
  if (exists && (old.st_mode & 0222) == 0) return Fail(reason, EACCES);
  if (exists && ::access(target.c_str(), W_OK) != 0) return Fail(reason, errno);
  std::string temp = target + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return Fail(reason, errno);
  bool ok = ::fchmod(fd, NewFileMode(exists ? &old : nullptr)) == 0 && WriteAll(fd, bytes);
  int error = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return Fail(reason, error);
  }
  return true;
}

void AppendU32(std::vector<unsigned char>& bytes, unsigned value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<unsigned char>(value >> shift));
}

void SetWriteSpaceForTesting(long long bytes) { g_write_space = bytes; }
