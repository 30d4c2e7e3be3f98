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
int g_sync_error = 0;

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

// Forces the bytes to the disk; sets errno and returns false when the
// system cannot.
bool Sync(int fd) {
  if (g_sync_error != 0) {
    errno = g_sync_error;
    return false;
  }
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Makes the rename itself last through a power cut: without it some file
// systems can come back with the old name or an empty file. A file system
// that cannot sync a folder at all (EINVAL) has nothing more to give.
bool SyncFolderOf(const std::string& target) {
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = Sync(fd) || errno == EINVAL;
  const int error = errno;
  ::close(fd);
  errno = error;
  return ok;
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
  // The bytes reach the disk before the rename, so that a power cut cannot
  // leave the name on a file whose data was never written.
  bool ok = ::fchmod(fd, NewFileMode(exists ? &old : nullptr)) == 0 && WriteAll(fd, bytes) && Sync(fd);
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
  if (!SyncFolderOf(target)) return Fail(reason, errno);
  return true;
}

void AppendU32(std::vector<unsigned char>& bytes, unsigned value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<unsigned char>(value >> shift));
}

void SetWriteSpaceForTesting(long long bytes) { g_write_space = bytes; }

void SetSyncErrorForTesting(int error) { g_sync_error = error; }
