// game/frame/file_replace.cpp - whole-file writes through a temporary file
// and a rename.
#include "game/frame/file_replace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <system_error>

namespace {

// The hooks and counts are shared with the thread that writes the saves
// in the background.
std::atomic<long long> g_write_space{-1};
std::atomic<int> g_sync_error{0};
std::atomic<int> g_folder_sync_error{0};
std::atomic<int> g_sync_delay_ms{0};
std::atomic<int> g_lock_error{0};
std::atomic<void (*)(SaveStep, const std::string&)> g_step_hook{nullptr};
std::atomic<long> g_file_syncs{0};
std::atomic<long> g_folder_syncs{0};
std::mutex g_hold_mutex;
std::condition_variable g_hold_released;
bool g_hold_syncs = false;

// What a sync is for: the written file, or the folder that names it.
enum class SyncOf { kFile, kFolder };

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

// flock on a temporary file, or the error the test hook gives for every
// lock.
int LockTemp(int fd, int operation) {
  if (const int error = g_lock_error; error != 0) {
    errno = error;
    return -1;
  }
  return ::flock(fd, operation);
}

// Lets a test act at `step` of a save, as another copy of the game could.
void Step(SaveStep step, const std::string& path) {
  if (const auto hook = g_step_hook.load()) hook(step, path);
}

// Creates the temporary file `prefix` and six letters or digits, new, for
// writing; returns its descriptor and name, or -1 with errno. The system
// applies the process's mask to the usual permissions: reading the mask
// means setting it, which would change it for files that other threads
// create meanwhile. The file is locked for as long as it is written, so that
// another copy of the game saving the same file (two started at once in a
// fresh folder both write the configuration) does not take it for one a
// killed write left: one that copy removed before the lock was taken is
// left for a new one.
int CreateTemp(const std::string& prefix, std::string& name) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::minstd_rand random(static_cast<unsigned>(std::random_device{}()));
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = prefix;
    for (int i = 0; i < 6; ++i) name += kLetters[pick(random)];
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return fd;
    Step(SaveStep::kTempCreated, name);
    // Where locks do not work (a network mount without a lock service) the
    // write goes on unguarded, as before.
    while (LockTemp(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_nlink == 0) {
      ::close(fd);
      continue;
    }
    return fd;
  }
  return -1;
}

// Writes every byte, or sets errno and returns false.
bool WriteAll(int fd, const std::vector<unsigned char>& bytes) {
  size_t limit = bytes.size();
  const long long space = g_write_space;
  if (space >= 0 && static_cast<unsigned long long>(space) < limit) limit = static_cast<size_t>(space);
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
bool Sync(int fd, SyncOf what) {
  ++(what == SyncOf::kFile ? g_file_syncs : g_folder_syncs);
  if (const int delay = g_sync_delay_ms; delay > 0) {
    timespec wait{delay / 1000, (delay % 1000) * 1'000'000L};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
  }
  {
    // A held sync waits here, as one on a busy disk would.
    std::unique_lock<std::mutex> lock(g_hold_mutex);
    g_hold_released.wait(lock, [] { return !g_hold_syncs; });
  }
  const int folder_error = g_folder_sync_error;
  const int forced = what == SyncOf::kFolder && folder_error != 0 ? folder_error : g_sync_error.load();
  if (forced != 0) {
    errno = forced;
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
bool SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = Sync(fd, SyncOf::kFolder) || errno == EINVAL;
  const int error = errno;
  ::close(fd);
  errno = error;
  return ok;
}

// The folder and the name of a file.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// The temporary files of `name` start with this: hidden, and named for the
// file they stand in for, so that none is taken for a file of the player's.
std::string TempPrefix(const std::string& name) { return "." + name + ".tmp-"; }

// When this process started, near enough: the first file write of a copy
// comes long after.
const time_t g_process_start = ::time(nullptr);

// Removes one leftover temporary file unless a live writer holds it: the
// file is locked first, and removed only while this process holds the lock
// and the name still leads to it. Where locks do not work, or the file
// cannot be opened to be locked, only one from before this copy started is
// taken for a leftover.
void RemoveLeftover(const std::string& path) {
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::open(path.c_str(), O_RDONLY | kFlags);
  // A write-only file's temporary file is write-only too.
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | kFlags);
  const bool locked = fd >= 0 && LockTemp(fd, LOCK_EX | LOCK_NB) == 0;
  const bool held_by_another = fd >= 0 && !locked && errno == EWOULDBLOCK;
  if (locked) Step(SaveStep::kLeftoverLocked, path);
  struct stat named {}, opened {};
  bool leftover = !held_by_another && ::lstat(path.c_str(), &named) == 0;
  if (leftover && fd >= 0) {
    leftover = ::fstat(fd, &opened) == 0 && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
  }
  if (leftover && !locked) leftover = named.st_mtime < g_process_start;
  if (leftover) ::unlink(path.c_str());
  if (fd >= 0) ::close(fd);
}

// Removes the temporary files of `name` that a write killed part-way left
// in `folder`: regular files named by the prefix and six letters or digits,
// as CreateTemp makes them, and nothing else; not one that another copy of
// the game is writing.
void RemoveLeftovers(const std::string& folder, const std::string& name) {
  namespace fs = std::filesystem;
  const std::string prefix = TempPrefix(name);
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (entry.size() != prefix.size() + 6 || entry.compare(0, prefix.size(), prefix) != 0) continue;
    bool generated = true;
    for (size_t i = prefix.size(); i < entry.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(entry[i]);
      generated = generated && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
    }
    std::error_code kind_error;
    if (generated && it->symlink_status(kind_error).type() == fs::file_type::regular) RemoveLeftover(it->path());
  }
}

bool Fail(std::string& reason, int error) {
  reason = std::strerror(error);
  return false;
}

}  // namespace

std::string AbsolutePath(const char* path) {
  std::error_code ec;
  const std::string file = std::filesystem::absolute(path, ec).string();
  return ec ? std::string(path) : file;
}

bool PlaceFile(const char* path, const std::vector<unsigned char>& bytes, std::string& reason, std::string& folder) {
  const std::string target = ResolvedTarget(path);
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  // A file its owner made read-only keeps its bytes, even for a user whom the
  // system would let write it.
  if (exists && (old.st_mode & 0222) == 0) return Fail(reason, EACCES);
  if (exists && ::access(target.c_str(), W_OK) != 0) return Fail(reason, errno);
  std::string name;
  SplitPath(target, folder, name);
  RemoveLeftovers(folder, name);
  std::string temp;
  const int fd = CreateTemp(folder + "/" + TempPrefix(name), temp);
  if (fd < 0) return Fail(reason, errno);
  // The bytes reach the disk before the rename, so that a power cut cannot
  // leave the name on a file whose data was never written. A replaced file
  // keeps its permissions.
  bool ok = (!exists || ::fchmod(fd, old.st_mode & 07777) == 0) && WriteAll(fd, bytes) && Sync(fd, SyncOf::kFile);
  int error = ok ? 0 : errno;
  // The lock is the file's, not the descriptor's: a second descriptor keeps
  // it held until the rename, while the close still says whether the bytes
  // reached the file.
  const int lock = ::dup(fd);
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok) Step(SaveStep::kBeforeRename, temp);
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) ::unlink(temp.c_str());
  if (lock >= 0) ::close(lock);
  if (!ok) return Fail(reason, error);
  reason.clear();
  return true;
}

bool SyncPlacedFile(const std::string& folder, std::string& reason) {
  // A folder that cannot be synced only leaves the rename at risk.
  if (SyncFolder(folder)) return true;
  reason = std::strerror(errno);
  return false;
}

bool ReplaceFile(const char* path, const std::vector<unsigned char>& bytes, std::string& reason) {
  std::string folder;
  if (!PlaceFile(path, bytes, reason, folder)) return false;
  // The new file is in place whatever follows: the save is done.
  SyncPlacedFile(folder, reason);
  return true;
}

void AppendU32(std::vector<unsigned char>& bytes, unsigned value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<unsigned char>(value >> shift));
}

void SetWriteSpaceForTesting(long long bytes) { g_write_space = bytes; }

void SetSyncErrorForTesting(int error) { g_sync_error = error; }

void SetFolderSyncErrorForTesting(int error) { g_folder_sync_error = error; }

void SetSyncDelayForTesting(int ms) { g_sync_delay_ms = ms; }

void SetLockErrorForTesting(int error) { g_lock_error = error; }

void SetSaveStepHookForTesting(void (*hook)(SaveStep step, const std::string& path)) { g_step_hook = hook; }

void HoldSyncsForTesting(bool hold) {
  {
    std::lock_guard<std::mutex> lock(g_hold_mutex);
    g_hold_syncs = hold;
  }
  g_hold_released.notify_all();
}

SyncCounts SyncCountsForTesting() { return SyncCounts{g_file_syncs, g_folder_syncs}; }
