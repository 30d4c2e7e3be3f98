// tests/support/scratch_dir.h - a fresh folder for one test, removed after it.
// Test processes run side by side in one working folder, so each gets its own.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <random>

namespace testsupport {

class ScratchDir {
 public:
  ScratchDir() : ScratchDir(std::filesystem::temp_directory_path()) {}
  // One in `base` (a folder that a test's child running as another user
  // can reach).
  explicit ScratchDir(const std::filesystem::path& base) {
    static std::atomic<int> counter{0};
    static const unsigned long long process_tag = std::random_device{}() * 4294967296ull + std::random_device{}();
    path_ = base / ("rorud_test_" + std::to_string(process_tag) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
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
