// platform/window/class_lock.cpp - the class lock: the lock file per window
// class that lets one process see another's window of the class, so that a
// second copy of a program is refused. Chooses the folder of the lock files,
// takes a window's lock, hands it on to the next window of the class and
// words what is wrong when no lock can be had. The windows themselves are
// window.cpp's.
#include "platform/window/class_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/window/window_internal.h"

namespace plat {

using detail::LockPlace;

namespace {

std::recursive_mutex g_class_lock_mutex;
std::string g_lock_folder;
std::string g_lock_failure;  // the last class lock's, when the folder was fit but the file was not

// Why the existing `folder` cannot hold the user's locks: anything but a
// folder of the user's own that no one else may enter and that the user may
// write. Another user who made it first, or a link in its place, could
// otherwise hold or redirect the game's lock. `follow`: a runtime folder the
// user named is judged by the folder a link leads to; a link found in the
// shared temporary folder is refused, as anyone may have put it there.
// Empty when it is fit.
std::string FolderProblem(const std::string& folder, bool follow) {
  struct stat st {};
  if ((follow ? ::stat(folder.c_str(), &st) : ::lstat(folder.c_str(), &st)) != 0) {
    const int error = errno;
    return error == ENOENT ? std::string("does not exist")
                           : std::string("cannot be examined (") + std::strerror(error) + ")";
  }
  if (S_ISLNK(st.st_mode)) return "is a symbolic link, not a folder";
  if (!S_ISDIR(st.st_mode)) return "is not a folder";
  char what[96];
  if (st.st_uid != ::getuid()) {
    std::snprintf(what, sizeof what, "belongs to user id %u, not to you (%u)", static_cast<unsigned>(st.st_uid),
                  static_cast<unsigned>(::getuid()));
    return what;
  }
  if ((st.st_mode & 077) != 0) {
    std::snprintf(what, sizeof what, "is open to group or others (mode %04o, not 0700)",
                  static_cast<unsigned>(st.st_mode & 07777));
    return what;
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    const int error = errno;
    return std::string("cannot be written (") + std::strerror(error) + ")";
  }
  return std::string();
}

// A folder as the environment names it, without the slashes it may end in,
// so that the paths made from it and shown to the user have none doubled.
std::string WithoutEndSlashes(const std::string& folder) {
  const size_t end = folder.find_last_not_of('/');
  return end == std::string::npos ? std::string() : folder.substr(0, end + 1);
}

// rorud-<user id> in the temporary folder, made for the user alone, with
// what is wrong and the way out when it cannot be.
LockPlace FallbackLockPlace() {
  const char* temp = std::getenv("TMPDIR");
  const std::string base = WithoutEndSlashes(temp != nullptr && temp[0] == '/' ? temp : "/tmp");
  const std::string folder = base + "/rorud-" + std::to_string(::getuid());
  if (::mkdir(folder.c_str(), 0700) == 0) {
    // The process's mask may have taken bits the folder needs.
    ::chmod(folder.c_str(), 0700);
  } else if (const int error = errno; error != EEXIST) {
    return {folder, "the lock folder " + folder + " cannot be made in " + base + " (" + std::strerror(error) +
                        "). Set TMPDIR to a folder you can write, or XDG_RUNTIME_DIR to a folder of your own"};
  }
  const std::string problem = FolderProblem(folder, false);
  if (problem.empty()) return {folder, std::string()};
  // The temporary folder is shared: only what is the user's own can the user
  // remove from it.
  struct stat st {};
  const bool removable = ::lstat(folder.c_str(), &st) == 0 && st.st_uid == ::getuid();
  return {folder, "the lock folder " + folder + " " + problem +
                      (removable ? ". Remove it, or set" : ". Set") + " XDG_RUNTIME_DIR to a folder of your own"};
}

std::string LockPath(const std::string& folder, const std::string& class_name) {
  std::string path = folder + "/rorud-window-";
  char hex[3];
  for (unsigned char c : class_name) {
    std::snprintf(hex, sizeof hex, "%02x", c);
    path += hex;
  }
  return path + ".lock";
}

}  // namespace

namespace detail {

// The user's runtime folder when it is fit, else the fallback. A runtime
// folder that is missing, another user's (kept across a change of user) or
// not writable must not mean no lock at all: the second copy would not see
// the first.
LockPlace FindLockPlace() {
  std::lock_guard<std::recursive_mutex> guard(g_class_lock_mutex);
  if (!g_lock_folder.empty()) return {g_lock_folder, std::string()};
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || runtime[0] == '\0') return FallbackLockPlace();
  const std::string folder = WithoutEndSlashes(runtime);
  const std::string refused = runtime[0] == '/' ? FolderProblem(folder, true) : "is not an absolute path";
  if (refused.empty()) return {folder, std::string()};
  LockPlace fallback = FallbackLockPlace();
  if (!fallback.problem.empty()) {
    fallback.problem = "XDG_RUNTIME_DIR names " + folder + ", which " + refused + ", and " + fallback.problem;
  }
  return fallback;
}

// Takes the class lock for a new window; -1 when another process holds it,
// or when the lock file cannot be opened or locked (`g_lock_failure` then
// says why and what to do).
int TakeClassLock(const std::string& folder, const std::string& class_name) {
  std::lock_guard<std::recursive_mutex> guard(g_class_lock_mutex);
  const std::string path = LockPath(folder, class_name);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    const int error = errno;
    g_lock_failure = "the lock file " + path + " cannot be opened (" + std::strerror(error) +
                     "). Remove it, or set XDG_RUNTIME_DIR to a folder of your own";
    return -1;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error != EWOULDBLOCK) {
      g_lock_failure = "the lock file " + path + " cannot be locked (" + std::strerror(error) +
                       "). Set XDG_RUNTIME_DIR to a folder of your own on a local disk";
    }
    ::close(fd);
    return -1;
  }
  g_lock_failure.clear();
  return fd;
}

bool ClassLockedElsewhere(const std::string& class_name) {
  const LockPlace place = FindLockPlace();
  if (!place.problem.empty()) return false;
  int fd = ::open(LockPath(place.folder, class_name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
  ::close(fd);
  return held;
}

void PassClassLock(Window* window, const std::vector<Window*>& windows) {
  if (window->lock_fd < 0) return;
  // The class lock passes to another window of the class, if one lives, as
  // it is held: let go and taken again, another process could take it in
  // between, or fail to be taken, and leave the window without its lock.
  for (Window* w : windows) {
    if (w->class_name == window->class_name) {
      w->lock_fd = std::exchange(window->lock_fd, -1);
      break;
    }
  }
  if (window->lock_fd >= 0) ::close(window->lock_fd);
  window->lock_fd = -1;
}

void ResetClassLocks() {
  std::lock_guard<std::recursive_mutex> guard(g_class_lock_mutex);
  g_lock_failure.clear();
}

}  // namespace detail

std::string WindowLockPath(const char* class_name) {
  return LockPath(detail::FindLockPlace().folder, class_name ? class_name : "");
}

std::string WindowLockProblem() {
  const detail::LockPlace place = detail::FindLockPlace();
  std::lock_guard<std::recursive_mutex> guard(g_class_lock_mutex);
  return place.problem.empty() ? g_lock_failure : place.problem;
}

void SetWindowLockFolder(const std::string& folder) {
  std::lock_guard<std::recursive_mutex> guard(g_class_lock_mutex);
  g_lock_folder = folder;
  g_lock_failure.clear();
}

}  // namespace plat
