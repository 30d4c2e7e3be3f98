// platform/kernel/folder_watch.cpp - folder watches over inotify and the batch
// of path checks that reads their reports once.
//
// One inotify descriptor holds a watch per folder the look-up relies on, with
// the names looked up in it. A report about one of those names (without
// regard to the case of a to z) or about the folder itself gives the watch a
// new generation from one counter, so a stamp (watch, generation) stays good
// while nothing that matters to it was reported; reports about other names
// (a busy temporary folder) leave it. A lost report (queue overflow) moves
// every watch on, and a removed watch is forgotten, so that its stamps never
// match again.
// inotify does not report a file system mounted over a watched folder: what
// was read before the mount is then kept until some other change shows.
#include "platform/kernel/folder_watch.h"

#include <pthread.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/kernel/file.h"

namespace plat {
namespace {

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_ONLYDIR;
// Watches count against a limit shared by every program of the user: past
// this many the look-up checks folders by their times instead.
constexpr size_t kMaxWatches = 4096;

struct Watch {
  uint64_t generation = 0;
  std::unordered_set<std::string> names;  // a to z upper-cased
};

std::mutex g_lock;
int g_fd = -1;
bool g_at_fork_set = false;
std::unordered_map<int, Watch> g_watches;  // by watch descriptor
uint64_t g_counter = 0;
// A child made by fork shares the parent's descriptor, and a report it read
// would be lost to the parent: the child starts its own.
std::atomic<bool> g_forked{false};

thread_local int t_batch_depth = 0;
thread_local bool t_batch_drained = false;

std::string Upper(const char* name, size_t length) {
  std::string out(name, length);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

void MarkForked() { g_forked.store(true, std::memory_order_relaxed); }

void CloseLocked() {
  if (g_fd >= 0) ::close(g_fd);
  g_fd = -1;
  g_watches.clear();
}

void ForgetIfForkedLocked() {
  if (g_forked.exchange(false, std::memory_order_relaxed)) CloseLocked();
}

bool OpenLocked() {
  ForgetIfForkedLocked();
  if (g_fd >= 0) return true;
  if (!g_at_fork_set) {
    g_at_fork_set = ::pthread_atfork(nullptr, nullptr, MarkForked) == 0;
    if (!g_at_fork_set) return false;
  }
  g_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  return g_fd >= 0;
}

void Apply(const inotify_event& event) {
  if (event.mask & IN_Q_OVERFLOW) {
    for (auto& watch : g_watches) watch.second.generation = ++g_counter;
    return;
  }
  auto it = g_watches.find(event.wd);
  if (it == g_watches.end()) return;
  if (event.mask & IN_IGNORED) {
    g_watches.erase(it);
    return;
  }
  // A report about an entry names it (padded with zeros); one about the
  // folder itself has no name.
  if (event.len == 0) {
    it->second.generation = ++g_counter;
    return;
  }
  auto name = it->second.names.find(Upper(event.name, ::strnlen(event.name, event.len)));
  if (name == it->second.names.end()) return;
  it->second.generation = ++g_counter;
  // A name gone from the folder is forgotten: the new generation already
  // fails every stamp that relied on it, and a look-up of it again names it
  // anew before it reads. Otherwise a folder of passing files (temporary
  // copies, each named once) would keep every name it was asked for.
  if (event.mask & (IN_DELETE | IN_MOVED_FROM)) it->second.names.erase(name);
}

// Reads every pending report. A read that leaves room for the largest report
// took all that were queued, so the usual case is one read (EAGAIN).
void DrainLocked() {
  alignas(inotify_event) char buffer[16384];
  constexpr size_t kLargest = sizeof(inotify_event) + NAME_MAX + 1;
  for (;;) {
    ssize_t n = ::read(g_fd, buffer, sizeof(buffer));
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) CloseLocked();  // reports may be lost: trust nothing
      return;
    }
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      Apply(*event);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    if (static_cast<size_t>(n) + kLargest <= sizeof(buffer)) return;
  }
}

}  // namespace

bool WatchFolder(const std::string& folder, const std::string& name, WatchStamp* stamp) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (folder.empty() || folder[0] != '/' || !OpenLocked()) return false;
  if (g_watches.size() >= kMaxWatches) return false;
  int watch = ::inotify_add_watch(g_fd, folder.c_str(), kWatchMask);
  if (watch < 0) return false;
  // Reports made before now are applied first: the folder is read after
  // them, so they must not count against the stamp (a busy parent would
  // otherwise fail every fresh stamp once). That includes the end of an
  // earlier watch that had the same number.
  DrainLocked();
  if (g_fd < 0) return false;
  // A watch seen for the first time starts at a generation no stamp has.
  auto found = g_watches.emplace(watch, Watch{});
  if (found.second) found.first->second.generation = ++g_counter;
  // The name counts from now on: a report about it before this was made before
  // the folder is read, and so shows in what is read.
  found.first->second.names.insert(Upper(name.data(), name.size()));
  stamp->watch = watch;
  stamp->generation = found.first->second.generation;
  return true;
}

bool WatchesUnchanged(const WatchStamp* stamps, size_t count) {
  std::lock_guard<std::mutex> hold(g_lock);
  ForgetIfForkedLocked();
  if (g_fd < 0) return false;
  if (t_batch_depth == 0 || !t_batch_drained) {
    DrainLocked();
    if (g_fd < 0) return false;
    t_batch_drained = t_batch_depth > 0;
  }
  for (size_t i = 0; i < count; ++i) {
    auto it = g_watches.find(stamps[i].watch);
    if (it == g_watches.end() || it->second.generation != stamps[i].generation) return false;
  }
  return true;
}

void DropFolderWatches() {
  std::lock_guard<std::mutex> hold(g_lock);
  CloseLocked();
}

size_t FolderWatchCount() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_watches.size();
}

size_t FolderWatchNameCount() {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_fd >= 0) DrainLocked();
  size_t n = 0;
  for (const auto& watch : g_watches) n += watch.second.names.size();
  return n;
}

PathCheckBatch::PathCheckBatch() {
  if (t_batch_depth++ == 0) t_batch_drained = false;
}

PathCheckBatch::~PathCheckBatch() { --t_batch_depth; }

}  // namespace plat
