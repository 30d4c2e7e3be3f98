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
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/window/window_internal.h"

namespace plat {

using detail::LockPlace;

namespace {

std::mutex g_class_lock_mutex;  // guards the five below
std::string g_lock_folder;         // the test hook's folder; empty: the folders the system gives
std::string g_fixed_base;          // the test hook's stand-in for /tmp; empty: /tmp
std::string g_lock_failure;        // why the last window's class lock could not be had
std::string g_lock_holder;         // the lock file another process held then, or at the last look-up
std::map<std::string, int> g_lock_refusals;  // test hook: folder -> the error flock gives there

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

// rorud-<user id> in `base`, made for the user alone when missing: the
// folder, mkdir's error when it could not be made, else what is wrong with
// it (empty when it is fit).
struct UserFolder {
  std::string folder;
  int make_error = 0;
  std::string problem;
};

// The user's own folder that no one else could enter holds nothing of
// anyone else's, so the bits the user took from it (mode 0500) are given
// back: the user could not even remove it as it is, since rm cannot empty a
// folder it may not write. The folder is held open, not followed by name,
// so that a link put in its place meanwhile changes nothing.
void GiveOwnBitsBack(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_uid == ::getuid() && (st.st_mode & 077) == 0 &&
      (st.st_mode & 0700) != 0700) {
    ::chmod(("/proc/self/fd/" + std::to_string(fd)).c_str(), 0700);
  }
  ::close(fd);
}

UserFolder UserFolderIn(const std::string& base) {
  UserFolder out;
  out.folder = base + "/rorud-" + std::to_string(::getuid());
  if (::mkdir(out.folder.c_str(), 0700) == 0) {
    // The process's mask may have taken bits the folder needs.
    ::chmod(out.folder.c_str(), 0700);
  } else if (errno != EEXIST) {
    out.make_error = errno;
    return out;
  } else {
    GiveOwnBitsBack(out.folder);
  }
  out.problem = FolderProblem(out.folder, false);
  return out;
}

// The temporary folder is shared: only what is the user's own can the user
// remove from it.
bool UsersOwn(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && st.st_uid == ::getuid();
}

// How the user removes something of the user's own there: a folder whose
// own bits are short (open to others as well, so not set back) cannot be
// emptied until they are back.
std::string RemoveAdvice(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0700) != 0700) {
    return "Run chmod u+rwx " + path + ", then rm -r " + path;
  }
  return "Remove it";
}

// Whether two paths name one folder: the same folder named two ways (/tmp
// and /tmp/., or through a link) would otherwise be locked twice, and the
// second lock would meet the first as another copy's.
bool SameFolder(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The folder every copy of the user locks in as well, whatever its
// environment says: rorud-<user id> in /tmp. Copies started with different
// runtime or temporary folders (a desktop session and an ssh login, two
// TMPDIRs) lock in different folders there, and would otherwise both run.
// The test hook's folder stands for /tmp, so that test processes do not
// meet.
std::string FixedBase() {
  std::lock_guard<std::mutex> guard(g_class_lock_mutex);
  return g_fixed_base.empty() ? std::string("/tmp") : g_fixed_base;
}

// The way out through TMPDIR, to a folder of `kind`. TMPDIR naming /tmp in
// any way, or /, leads to the fixed folder, so those are named as no way out
// when that folder would not do: it cannot be made or is not fit, or it is
// `failed`, the folder the line is about.
std::string TmpdirWayOut(const std::string& kind, const std::string& failed) {
  const std::string fixed_base = FixedBase();
  const UserFolder fixed = UserFolderIn(fixed_base);
  const bool fixed_would_do = fixed.make_error == 0 && fixed.problem.empty() && !SameFolder(fixed.folder, failed);
  return "Set TMPDIR to " + kind + (fixed_would_do ? "" : " (not " + fixed_base + " or /)");
}

// What is wrong with the fixed folder and the way out. The user's own stops
// every copy, whatever its environment, until it is removed; another user's
// (a squatter's) stops only a copy whose fallback it is, which a temporary
// or runtime folder of the user's own then spares.
std::string FixedFolderProblem(const UserFolder& made) {
  const std::string what = "the lock folder " + made.folder + " " + made.problem + ". ";
  if (UsersOwn(made.folder)) {
    return what + RemoveAdvice(made.folder) +
           " (every copy of the game locks there, whatever XDG_RUNTIME_DIR and TMPDIR say)";
  }
  return what + TmpdirWayOut("a folder you can write", made.folder) +
         ", or XDG_RUNTIME_DIR to a folder of your own closed to others, or ask its owner or the administrator to "
         "remove it";
}

// The folder the fallback is made in: TMPDIR, else /tmp. /tmp named another
// way (/tmp/., a link) is /tmp, so that the fixed folder is known as such.
// A TMPDIR of / counts as none, as a relative one does: the fallback is then
// the fixed folder, not a folder made in /.
std::string FallbackBase() {
  const char* temp = std::getenv("TMPDIR");
  const std::string base = temp != nullptr && temp[0] == '/' ? WithoutEndSlashes(temp) : std::string();
  const std::string fixed_base = FixedBase();
  if (base.empty() || SameFolder(base, "/tmp") || SameFolder(base, fixed_base)) return fixed_base;
  return base;
}

// The fixed folder; `folder` is empty when it cannot be made (no copy of
// the user can lock in it then either) or when another user has made it (a
// squatter must not stop a copy whose own environment gives it a fit
// folder; without one, the fallback is this folder and refuses), `problem`
// set when it is the user's own but not fit.
LockPlace FixedLockPlace() {
  const UserFolder made = UserFolderIn(FixedBase());
  if (made.make_error != 0) return {std::string(), std::string()};
  if (made.problem.empty()) return {made.folder, std::string()};
  if (!UsersOwn(made.folder)) return {std::string(), std::string()};
  return {made.folder, FixedFolderProblem(made)};
}

// rorud-<user id> in the temporary folder, made for the user alone, with
// what is wrong and the way out when it cannot be.
LockPlace FallbackLockPlace() {
  const std::string base = FallbackBase();
  const UserFolder made = UserFolderIn(base);
  if (made.make_error != 0) {
    return {made.folder, "the lock folder " + made.folder + " cannot be made in " + base + " (" +
                             std::strerror(made.make_error) + "). " +
                             TmpdirWayOut("a folder you can write", made.folder) +
                             ", or XDG_RUNTIME_DIR to a folder of your own closed to others"};
  }
  if (made.problem.empty()) return {made.folder, std::string()};
  // Without TMPDIR the fallback is the fixed folder, which a runtime folder
  // does not spare.
  if (base == FixedBase()) return {made.folder, FixedFolderProblem(made)};
  return {made.folder, "the lock folder " + made.folder + " " + made.problem +
                           (UsersOwn(made.folder) ? ". " + RemoveAdvice(made.folder) + ", or set" : ". Set") +
                           " XDG_RUNTIME_DIR to a folder of your own closed to others"};
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

std::string HookFolder() {
  std::lock_guard<std::mutex> guard(g_class_lock_mutex);
  return g_lock_folder;
}

// flock, or the error the test hook gives for locks in the folder.
int LockFile(int fd, const std::string& folder, int operation) {
  {
    std::lock_guard<std::mutex> guard(g_class_lock_mutex);
    const auto refusal = g_lock_refusals.find(folder);
    if (refusal != g_lock_refusals.end()) {
      errno = refusal->second;
      return -1;
    }
  }
  return ::flock(fd, operation);
}

// The runtime folder the environment names, and why it cannot hold the
// locks (empty when it can).
struct RuntimeFolder {
  bool named = false;
  std::string folder;
  std::string refused;
};

RuntimeFolder NamedRuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || runtime[0] == '\0') return {};
  const std::string folder = WithoutEndSlashes(runtime);
  return {true, folder, runtime[0] == '/' ? FolderProblem(folder, true) : "is not an absolute path"};
}

// The words that begin a problem found after the runtime folder was passed
// over: why it was.
std::string PassedOver(const RuntimeFolder& runtime) {
  if (!runtime.named || runtime.refused.empty()) return std::string();
  return "XDG_RUNTIME_DIR names " + runtime.folder + ", which " + runtime.refused + ", and ";
}

// The folder the environment names for the locks: the test's, else the
// user's runtime folder when it is fit, else the fallback. A runtime folder
// that is missing, another user's (kept across a change of user) or not
// writable must not mean no lock at all: the second copy would not see the
// first.
LockPlace EnvironmentLockPlace() {
  const std::string hook = HookFolder();
  if (!hook.empty()) return {hook, std::string()};
  const RuntimeFolder runtime = NamedRuntimeFolder();
  if (runtime.named && runtime.refused.empty()) return {runtime.folder, std::string()};
  LockPlace fallback = FallbackLockPlace();
  if (!fallback.problem.empty()) fallback.problem = PassedOver(runtime) + fallback.problem;
  return fallback;
}

// The fit folders another copy may hold the class lock in, in the order the
// lock is taken: the test's alone; else the runtime folder, the fallback (a
// copy goes there when the runtime folder has no working locks, and a copy
// without a runtime folder always does) and the fixed folder.
std::vector<std::string> FoldersToLookIn() {
  const std::string hook = HookFolder();
  if (!hook.empty()) return {hook};
  std::vector<std::string> folders;
  const RuntimeFolder runtime = NamedRuntimeFolder();
  if (runtime.named && runtime.refused.empty()) folders.push_back(runtime.folder);
  const LockPlace fallback = FallbackLockPlace();
  if (fallback.problem.empty()) folders.push_back(fallback.folder);
  const LockPlace fixed = FixedLockPlace();
  if (!fixed.folder.empty() && fixed.problem.empty()) folders.push_back(fixed.folder);
  return folders;
}

// The lock file of the class that another process holds; empty when none.
std::string HeldElsewhere(const std::string& class_name) {
  for (const std::string& folder : FoldersToLookIn()) {
    const std::string path = LockPath(folder, class_name);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    // Only a lock that is held is another copy: a folder where locks do not
    // work (no lock service on a network mount) holds none.
    const bool held = LockFile(fd, folder, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    if (held) return path;
  }
  return std::string();
}

// One try at a class lock file.
struct Attempt {
  enum Result { kTaken, kHeld, kNotOpened, kNoLocks } result;
  int fd;
  int error;
  std::string path;
};

Attempt TryLock(const std::string& folder, const std::string& class_name) {
  const std::string path = LockPath(folder, class_name);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return {Attempt::kNotOpened, -1, errno, path};
  if (LockFile(fd, folder, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return {error == EWOULDBLOCK ? Attempt::kHeld : Attempt::kNoLocks, -1, error, path};
  }
  return {Attempt::kTaken, fd, 0, path};
}

// Why the class locks of a new window were not taken: what is wrong and the
// way out, or the lock file another process holds.
struct Refusal {
  std::string problem;
  std::string holder;
};

// Why a try did not take the lock.
void Refuse(const Attempt& attempt, const std::string& way_out_of_no_file, Refusal* refusal) {
  switch (attempt.result) {
    case Attempt::kNotOpened:
      refusal->problem = "the lock file " + attempt.path + " cannot be opened (" + std::strerror(attempt.error) +
                         "). " + way_out_of_no_file;
      break;
    case Attempt::kNoLocks:
      refusal->problem =
          "the lock file " + attempt.path + " cannot be locked (" + std::strerror(attempt.error) + "). " +
          TmpdirWayOut("a folder on a local disk", attempt.path.substr(0, attempt.path.rfind('/')));
      break;
    case Attempt::kHeld:
      refusal->holder = attempt.path;
      break;
    case Attempt::kTaken:
      break;
  }
}

void CloseAll(std::vector<int>* fds) {
  for (const int fd : *fds) ::close(fd);
  fds->clear();
}

constexpr char kWayOutOfNoFile[] = "Remove it, or set XDG_RUNTIME_DIR to a folder of your own closed to others";

// The class lock in the folder the environment names (the runtime folder,
// or the fallback when the runtime folder is not fit or its locks do not
// work); the folder it was taken in, or empty with `refusal` set.
std::string TakeEnvironmentLock(const std::string& class_name, std::vector<int>* fds, Refusal* refusal) {
  const RuntimeFolder runtime = NamedRuntimeFolder();
  std::string passed_over = PassedOver(runtime);
  if (runtime.named && runtime.refused.empty()) {
    const Attempt attempt = TryLock(runtime.folder, class_name);
    if (attempt.result == Attempt::kTaken) {
      fds->push_back(attempt.fd);
      return runtime.folder;
    }
    if (attempt.result != Attempt::kNoLocks) {
      Refuse(attempt, kWayOutOfNoFile, refusal);
      return std::string();
    }
    passed_over = "XDG_RUNTIME_DIR names " + runtime.folder + ", where the lock file cannot be locked (" +
                  std::strerror(attempt.error) + "), and ";
  }
  const LockPlace fallback = FallbackLockPlace();
  if (!fallback.problem.empty()) {
    refusal->problem = passed_over + fallback.problem;
    return std::string();
  }
  const Attempt attempt = TryLock(fallback.folder, class_name);
  if (attempt.result == Attempt::kTaken) {
    fds->push_back(attempt.fd);
    return fallback.folder;
  }
  Refuse(attempt, kWayOutOfNoFile, refusal);
  if (attempt.result == Attempt::kNoLocks) refusal->problem = passed_over + refusal->problem;
  return std::string();
}

// The class locks of a new window: the test's folder's alone, else the one
// in the folder the environment names and the one in the fixed folder.
// False when another process holds one or one cannot be had (`refusal`
// says which, or why and what to do); nothing is held then.
bool TakeLocks(const std::string& class_name, std::vector<int>* fds, Refusal* refusal) {
  const std::string hook = HookFolder();
  if (!hook.empty()) {
    const Attempt attempt = TryLock(hook, class_name);
    if (attempt.result != Attempt::kTaken) {
      Refuse(attempt, kWayOutOfNoFile, refusal);
      return false;
    }
    fds->push_back(attempt.fd);
    return true;
  }
  const std::string taken_in = TakeEnvironmentLock(class_name, fds, refusal);
  if (taken_in.empty()) return false;
  const LockPlace fixed = FixedLockPlace();
  if (fixed.folder.empty() || SameFolder(fixed.folder, taken_in)) return true;
  if (!fixed.problem.empty()) {
    refusal->problem = fixed.problem;
    CloseAll(fds);
    return false;
  }
  const Attempt attempt = TryLock(fixed.folder, class_name);
  if (attempt.result == Attempt::kTaken) {
    fds->push_back(attempt.fd);
    return true;
  }
  // Where locks do not work no copy of the user can hold one either.
  if (attempt.result == Attempt::kNoLocks) return true;
  Refuse(attempt, "Remove it", refusal);
  CloseAll(fds);
  return false;
}

}  // namespace

namespace detail {

std::string ClassLockPlaceProblem() {
  const LockPlace place = EnvironmentLockPlace();
  if (!place.problem.empty() || !HookFolder().empty()) return place.problem;
  return FixedLockPlace().problem;
}

bool TakeClassLocks(const std::string& class_name, std::vector<int>* fds) {
  Refusal refusal;
  const bool taken = TakeLocks(class_name, fds, &refusal);
  std::lock_guard<std::mutex> guard(g_class_lock_mutex);
  g_lock_failure = refusal.problem;
  g_lock_holder = refusal.holder;
  return taken;
}

void CloseClassLocks(std::vector<int>* fds) { CloseAll(fds); }

bool ClassLockedElsewhere(const std::string& class_name) {
  const std::string held = HeldElsewhere(class_name);
  if (held.empty()) return false;
  // A start stopped by this look-up names that copy even when it has ended
  // before the start's line is written, and it may end at any moment.
  std::lock_guard<std::mutex> guard(g_class_lock_mutex);
  g_lock_holder = held;
  return true;
}

void PassClassLock(Window* window, const std::vector<Window*>& windows) {
  if (window->lock_fds.empty()) return;
  // The class lock passes to another window of the class, if one lives, as
  // it is held: let go and taken again, another process could take it in
  // between, or fail to be taken, and leave the window without its lock.
  for (Window* w : windows) {
    if (w->class_name == window->class_name) {
      w->lock_fds = std::move(window->lock_fds);
      break;
    }
  }
  CloseAll(&window->lock_fds);
}

void ResetClassLocks() {
  std::lock_guard<std::mutex> guard(g_class_lock_mutex);
  g_lock_failure.clear();
  g_lock_holder.clear();
  g_lock_refusals.clear();
}

}  // namespace detail

std::string WindowLockPath(const char* class_name) {
  const std::string name = class_name != nullptr ? class_name : "";
  const std::string held = HeldElsewhere(name);
  return held.empty() ? LockPath(EnvironmentLockPlace().folder, name) : held;
}

std::string WindowLockProblem() {
  const std::string place = detail::ClassLockPlaceProblem();
  if (!place.empty()) return place;
  std::lock_guard<std::mutex> guard(g_class_lock_mutex);
  return g_lock_failure;
}

std::string WindowLockHolder() {
  std::lock_guard<std::mutex> guard(g_class_lock_mutex);
  return g_lock_holder;
}

void SetWindowLockFolder(const std::string& folder) {
  std::lock_guard<std::mutex> guard(g_class_lock_mutex);
  g_lock_folder = folder;
  g_lock_failure.clear();
  g_lock_holder.clear();
}

void SetFixedLockBaseForTesting(const std::string& base) {
  const std::string folder = WithoutEndSlashes(base);
  std::lock_guard<std::mutex> guard(g_class_lock_mutex);
  g_fixed_base = folder;
}

void SetClassLockRefusal(const std::string& folder, int error) {
  std::lock_guard<std::mutex> guard(g_class_lock_mutex);
  if (error == 0) {
    g_lock_refusals.erase(folder);
  } else {
    g_lock_refusals[folder] = error;
  }
}

}  // namespace plat
