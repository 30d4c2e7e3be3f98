// tests/support/scratch_dir.h - a fresh folder for one test, removed after it.
// Test processes run side by side in one working folder, so each gets its own.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace testsupport {

class ScratchDir {
 public:
  ScratchDir() : ScratchDir(std::filesystem::temp_directory_path()) {}
  // One in `base` (a folder that a test's child running as another user
  // can reach). Made by mkdtemp, under a name no one can have taken first.
  explicit ScratchDir(const std::filesystem::path& base) {
    std::string pattern = (base / "rorud_test_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::filesystem::filesystem_error("mkdtemp", base, std::error_code(errno, std::generic_category()));
    }
    path_ = pattern;
    // Open to look into, as a folder made otherwise would be: a test's child
    // running as another user reads there.
    namespace fs = std::filesystem;
    fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of a file inside as a string (host form).
  std::string operator/(const std::string& relative) const { return (path_ / relative).string(); }

  // Writes a file (creating its folders) and returns its path.
  std::string Write(const std::string& relative, const std::string& bytes) const {
    std::filesystem::path p = path_ / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }

 private:
  std::filesystem::path path_;
};

// The temporary folder when every folder on its way may be read, else /tmp:
// for the tests of what folder watches see, which need that of each folder.
inline std::filesystem::path WatchableTempFolder() {
  const std::filesystem::path temp = std::filesystem::canonical(std::filesystem::temp_directory_path());
  for (std::filesystem::path at = temp;; at = at.parent_path()) {
    if (::access(at.c_str(), R_OK) != 0) return "/tmp";
    if (at == at.parent_path()) return temp;
  }
}

// Restores the working folder when it goes.
class WorkingDirGuard {
 public:
  WorkingDirGuard() : saved_(std::filesystem::current_path()) {}
  ~WorkingDirGuard() {
    std::error_code ec;
    std::filesystem::current_path(saved_, ec);
  }

 private:
  std::filesystem::path saved_;
};

}  // namespace testsupport
