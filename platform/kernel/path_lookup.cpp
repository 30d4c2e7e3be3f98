// platform/kernel/path_lookup.cpp - the case-insensitive path look-up and its
// memory of earlier look-ups. A look-up that had to read folders keeps its
// result with a stamp of each folder its answer depends on, and a later
// look-up of the same path checks those stamps instead of reading the folders
// again, so that trying a missing file or archive again costs little.
//
// An absolute path is stamped by folder watches: every folder it went through,
// from the root down, for the name looked up in it, so that a folder renamed
// or replaced above shows in its parent's reports, and checking costs no call
// per folder. A relative path (the current folder may change under it), a
// path through a link or "..", or one whose folders cannot all be watched is
// stamped by the folders' times (one stat each), trusted only once settled.
#include "platform/kernel/path_lookup.h"

#include <dirent.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/kernel/folder_watch.h"

namespace plat {
namespace {

// A folder as it was when read: a change of its entries moves its times.
struct FolderStamp {
  std::string path;
  dev_t device;
  ino_t inode;
  timespec modified;
  timespec changed;
};

struct Remembered {
  std::string result;
  bool missing = false;
  std::vector<FolderStamp> folders;  // by their times
  std::vector<WatchStamp> watches;   // or by watches
};

// What a look-up depends on while it runs.
struct Depends {
  bool watched = false;       // stamped by watches, else by times
  bool watch_failed = false;  // a watch could not serve: look up again by times
  bool trusted = true;        // every time stamp has settled
  bool read = false;          // some folder was read
  std::vector<FolderStamp> folders;
  std::vector<WatchStamp> watches;
};

// Folders modified this recently are not trusted: a file system keeps times in
// coarse ticks (two seconds on some), so a change right after the read could
// leave the same modification time behind. Once it is older, any change of
// the entries sets a different one.
constexpr time_t kSettleSeconds = 3;
// Remembered look-ups are dropped all at once when there are this many.
constexpr size_t kMaxRemembered = 16384;

std::mutex g_lock;
std::unordered_map<std::string, Remembered> g_remembered;
std::atomic<uint64_t> g_folder_reads{0};

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// Stamps a folder; false when it cannot be stamped or changed too recently to
// be trusted.
bool Stamp(const std::string& folder, FolderStamp* stamp) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return false;
  stamp->path = folder;
  stamp->device = st.st_dev;
  stamp->inode = st.st_ino;
  stamp->modified = st.st_mtim;
  stamp->changed = st.st_ctim;
  timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return st.st_mtim.tv_sec + kSettleSeconds < now.tv_sec;
}

bool Unchanged(const FolderStamp& stamp) {
  struct stat st;
  return ::stat(stamp.path.c_str(), &st) == 0 && st.st_dev == stamp.device && st.st_ino == stamp.inode &&
         SameTime(st.st_mtim, stamp.modified) && SameTime(st.st_ctim, stamp.changed);
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool EqualNoCase(const std::string& a, const char* b) {
  size_t n = a.size();
  if (std::strlen(b) != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// The first entry of folder that matches element without regard to case.
bool FindNoCase(const std::string& folder, const std::string& element, std::string* name) {
  g_folder_reads.fetch_add(1, std::memory_order_relaxed);
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return false;
  bool found = false;
  while (struct dirent* entry = ::readdir(dir)) {
    if (EqualNoCase(element, entry->d_name)) {
      *name = entry->d_name;
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

// The look-up itself. Its answer depends on the folders it read and, once one
// element was matched without case, on every folder it looked into after
// that; before it, every element existed as written, which the stat of the
// first folder read checks by walking the same path. With watches, every
// folder looked into counts, since no stat walks the path again. A folder is
// stamped before it is looked into, so a change made meanwhile shows later.
std::string Resolve(const std::string& path, Depends* depends, bool* missing) {
  size_t i = (!path.empty() && path[0] == '/') ? 1 : 0;
  std::string out(i, '/');
  bool resolving = true;
  while (i <= path.size()) {
    size_t end = path.find('/', i);
    if (end == std::string::npos) end = path.size();
    std::string element = path.substr(i, end - i);
    bool last = end == path.size();
    if (!element.empty()) {
      std::string candidate = out + element;
      if (resolving && depends->watched && element == "..") {
        depends->watch_failed = true;  // the folder above is not the one watched
        return {};
      }
      if (resolving && element != "." && element != "..") {
        std::string folder = out.empty() ? "." : out;
        FolderStamp stamp;
        bool stamp_trusted = false;
        if (depends->watched) {
          WatchStamp watch;
          if (!WatchFolder(folder, element, &watch)) {
            depends->watch_failed = true;
            return {};
          }
          depends->watches.push_back(watch);
        } else {
          stamp_trusted = Stamp(folder, &stamp);
        }
        bool depended = !depends->folders.empty();
        struct stat st;
        bool exists = ::lstat(candidate.c_str(), &st) == 0;
        if (!exists) {
          depended = true;
          depends->read = true;
          std::string name;
          if (FindNoCase(folder, element, &name)) {
            candidate = out + name;
            exists = depends->watched && !last && ::lstat(candidate.c_str(), &st) == 0;
          } else {
            resolving = false;
          }
        }
        if (depends->watched) {
          // A link leads into folders whose parents are not watched.
          if (exists && !last && S_ISLNK(st.st_mode)) {
            depends->watch_failed = true;
            return {};
          }
        } else if (depended) {
          depends->folders.push_back(stamp);
          if (!stamp_trusted) depends->trusted = false;
        }
      }
      out = candidate;
    }
    if (!last) out += '/';
    i = end + 1;
  }
  *missing = !resolving;
  return out;
}

}  // namespace

bool RememberedNoCase(const std::string& path, std::string* result, bool* missing,
                      bool result_if_missing) {
  std::lock_guard<std::mutex> hold(g_lock);
  auto it = g_remembered.find(path);
  if (it == g_remembered.end()) return false;
  const Remembered& found = it->second;
  bool unchanged = true;
  if (!found.watches.empty()) {
    unchanged = WatchesUnchanged(found.watches.data(), found.watches.size());
  } else {
    for (const FolderStamp& stamp : found.folders) {
      if (!Unchanged(stamp)) {
        unchanged = false;
        break;
      }
    }
  }
  if (!unchanged) {
    g_remembered.erase(it);
    return false;
  }
  if (!found.missing || result_if_missing) *result = found.result;
  *missing = found.missing;
  return true;
}

std::string ResolveNoCase(const std::string& path, bool* missing) {
  Remembered found;
  if (RememberedNoCase(path, &found.result, &found.missing)) {
    if (missing) *missing = found.missing;
    return found.result;
  }
  Depends depends;
  depends.watched = !path.empty() && path[0] == '/';
  found.result = Resolve(path, &depends, &found.missing);
  if (depends.watch_failed) {
    depends = Depends{};
    found.result = Resolve(path, &depends, &found.missing);
  }
  if (missing) *missing = found.missing;
  bool keep = depends.watched ? depends.read : depends.trusted && !depends.folders.empty();
  std::string result = found.result;
  if (keep) {
    found.folders = std::move(depends.folders);
    found.watches = std::move(depends.watches);
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_remembered.size() >= kMaxRemembered) {
      // The watches go too; the stamps just taken went with them.
      g_remembered.clear();
      DropFolderWatches();
    } else {
      g_remembered[path] = std::move(found);
    }
  }
  return result;
}

uint64_t NoCaseFolderReads() { return g_folder_reads.load(std::memory_order_relaxed); }

}  // namespace plat
