// tests/support/log_capture.h - runs a test in a fresh scratch folder with the
// library log writing into it, and collects what reaches the debugger output.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace testsupport {

// While alive: the current folder is a new empty folder, the log writes
// "Log.txt" there (started, stamps on, dated name off, virtual clock on), and
// the debugger output is captured. Everything is restored on destruction.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Everything the debugger output received so far (code page 932 bytes).
  const std::string& Debug() const { return debug_; }
  // How many times `text` appears in it (the lines that hold it, for a text
  // of one line).
  size_t Count(const std::string& text) const {
    size_t n = 0;
    for (size_t at = debug_.find(text); at != std::string::npos; at = debug_.find(text, at + 1)) ++n;
    return n;
  }
  // The log file's bytes.
  std::string File() const;
  std::string ReadFile(const std::string& name) const;
  const std::filesystem::path& Folder() const { return folder_; }
  void Clear() { debug_.clear(); }

 private:
  static void Sink(const char* text, void* context);
  std::filesystem::path previous_folder_;
  std::filesystem::path folder_;
  std::string debug_;
};

// Removes the "<milliseconds>:" stamps at the starts of lines.
std::string StripStamps(const std::string& text);

}  // namespace testsupport
