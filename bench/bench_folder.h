// bench/bench_folder.h - the folders where the benchmarks keep what they make
// (test sounds, movies, window locks, logs): <temporary folder>/<name>-<uid>,
// made for the running user alone and kept from run to run. A benchmark run
// as root that wrote through a name another user made first (a folder of
// theirs, or a link) would write a file of root's where they chose, or read
// their files as its input; so the folder is used only when it is a real
// folder, the user's own, mode 0700, and every folder above it, as named and
// with links followed, is the user's or root's and closed to others' writes
// (or sticky, as /tmp is). Otherwise the benchmark skips with one line that
// says why.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace benchfolder {

// Why the folder `at` and those above it are not safe for the user to keep
// files below, or empty when they are.
inline std::string WayProblem(const std::filesystem::path& at_path) {
  std::error_code ec;
  const std::filesystem::path named = std::filesystem::absolute(at_path, ec);
  if (ec) return at_path.string() + ": " + ec.message();
  const std::filesystem::path real = std::filesystem::canonical(named, ec);
  if (ec) return named.string() + ": " + ec.message();
  const uid_t user = ::geteuid();
  for (const std::filesystem::path& way : {named, real}) {
    for (std::filesystem::path at = way.lexically_normal();; at = at.parent_path()) {
      struct stat st {};
      if (::lstat(at.c_str(), &st) != 0) return at.string() + ": " + std::strerror(errno);
      const bool open_to_others = S_ISDIR(st.st_mode) && (st.st_mode & 022) != 0 && (st.st_mode & S_ISVTX) == 0;
      if ((st.st_uid != user && st.st_uid != 0) || open_to_others) {
        char mode[16];
        std::snprintf(mode, sizeof mode, "%o", unsigned(st.st_mode & 07777));
        return at.string() + " is user id " + std::to_string(st.st_uid) + "'s, mode " + mode +
               ": another user could change what is below it";
      }
      if (at == at.parent_path()) break;
    }
  }
  return std::string();
}

// <base>/<name>-<uid> (base: the temporary folder when empty), made 0700 if
// missing, or empty with *problem set when it, or a folder above it, is not
// the running user's alone.
inline std::string UsersOwnFolder(const std::string& name, std::string* problem,
                                  std::filesystem::path base = std::filesystem::path()) {
  problem->clear();
  std::error_code ec;
  if (base.empty()) base = std::filesystem::temp_directory_path(ec);
  if (ec) {
    *problem = "no temporary folder: " + ec.message();
    return std::string();
  }
  if (std::string way = WayProblem(base); !way.empty()) {
    *problem = "the benchmark keeps no files there: " + way;
    return std::string();
  }
  const uid_t user = ::geteuid();
  const std::string folder = (base / (name + "-" + std::to_string(user))).string();
  if (::mkdir(folder.c_str(), 0700) == 0) {
    ::chmod(folder.c_str(), 0700);  // whatever the umask took away
  } else if (errno != EEXIST) {
    *problem = folder + ": " + std::strerror(errno);
    return std::string();
  }
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != user ||
      (st.st_mode & 07777) != 0700) {
    char mode[16];
    std::snprintf(mode, sizeof mode, "%o", unsigned(st.st_mode & 07777));
    *problem = folder + " is not a folder of user id " + std::to_string(user) + "'s alone (" +
               (S_ISLNK(st.st_mode)  ? std::string("a link")
                : !S_ISDIR(st.st_mode) ? std::string("not a folder")
                                       : "user id " + std::to_string(st.st_uid) + "'s, mode " + mode) +
               "): remove it, or run with TMPDIR naming a folder of your own";
    return std::string();
  }
  return folder;
}

// A folder of this run's own, <temporary folder>/<prefix>XXXXXX made by
// mkdtemp (a name no one could have taken first, mode 0700), in a temporary
// folder that no other user can change; empty with *problem set when there
// is none. The caller removes it.
inline std::string RunFolder(const std::string& prefix, std::string* problem) {
  problem->clear();
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) {
    *problem = "no temporary folder: " + ec.message();
    return std::string();
  }
  if (std::string way = WayProblem(base); !way.empty()) {
    *problem = "the benchmark keeps no files there: " + way;
    return std::string();
  }
  std::string pattern = (base / (prefix + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    *problem = pattern + ": " + std::strerror(errno);
    return std::string();
  }
  return pattern;
}

// A benchmark's folder: its path, or why there is none.
struct Folder {
  std::string path;
  std::string problem;
};

inline Folder Make(const std::string& name, const std::filesystem::path& base = std::filesystem::path()) {
  Folder folder;
  folder.path = UsersOwnFolder(name, &folder.problem, base);
  return folder;
}

// False, with the benchmark (a benchmark::State) skipped and the reason
// given, when `folder` is not there to use. A template, so that this header
// does not need the benchmark library, and the tests can link it without.
template <typename State>
bool Usable(State& state, const Folder& folder) {
  if (folder.problem.empty()) return true;
  state.SkipWithError(folder.problem.c_str());
  return false;
}

// The name under which `path` is made before it is put in place: a.ogg's is
// a.part.ogg (the tools that write it tell the format by the ending).
inline std::string PartName(const std::string& path) {
  const std::filesystem::path p(path);
  return (p.parent_path() / (p.stem().string() + ".part" + p.extension().string())).string();
}

// Moves the file made under its part name to `path` when `made` and not
// empty, else removes it: a file that a stopped run left half made is never
// taken for a whole one. True when the file is in place.
inline bool PutInPlace(const std::string& path, bool made) {
  const std::string part = PartName(path);
  std::error_code ec;
  if (made && std::filesystem::file_size(part, ec) > 0 && !ec && std::rename(part.c_str(), path.c_str()) == 0) {
    return true;
  }
  std::filesystem::remove(part, ec);
  return false;
}

}  // namespace benchfolder
