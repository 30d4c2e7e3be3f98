// lib/core/log.cpp - the library log: each text goes to the log file (opened
// and closed per call, so a crash loses nothing) and to the debugger output,
// with line feeds turned into carriage return + line feed.
#include "lib/core/log.h"

#include <cstdio>
#include <cstring>

#include "lib/core/charset.h"
#include "lib/core/clock.h"
#include "lib/core/memory.h"
#include "platform/kernel/file.h"
#include "platform/kernel/kernel.h"

namespace {

// The log state is shared by every thread that writes lines; the lock keeps
// the stamp, the indentation and the inside-a-line flag of one text together.
plat::CriticalSection& LogLock() {
  static plat::CriticalSection lock;
  return lock;
}

class Locked {
 public:
  Locked() { LogLock().Enter(); }
  ~Locked() { LogLock().Leave(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

int g_log_off = 0;
int g_dated_name = 0;
int g_no_time_stamp = 0;
char g_folder[260] = "";
char g_file_name[256] = "";
int g_indent = 0;
int g_inside_line = 0;
uint32_t g_start_time = 0;

// Texts up to this length convert in a buffer on the stack.
constexpr size_t kShortText = 255;

// Copies text into out with every bare line feed turned into "\r\n", stepping
// over double-byte characters. From the first line feed that already has its
// carriage return on, the rest is taken as it stands. out holds 2 * length + 1.
size_t ConvertLineFeeds(const char* text, size_t length, char* out) {
  size_t written = 0;
  size_t copied_up_to = 0;
  size_t i = 0;
  while (i < length) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (IsLibraryLeadByte(c)) {
      i += i + 1 < length ? 2 : 1;
      continue;
    }
    if (c == '\n') {
      if (i > 0 && text[i - 1] == '\r') break;
      std::memcpy(out + written, text + copied_up_to, i - copied_up_to);
      written += i - copied_up_to;
      out[written++] = '\r';
      out[written++] = '\n';
      copied_up_to = i + 1;
    }
    ++i;
  }
  std::memcpy(out + written, text + copied_up_to, length - copied_up_to);
  written += length - copied_up_to;
  out[written] = '\0';
  return written;
}

void WriteBoth(plat::WriteFile* file, const char* text, size_t length) {
  plat::WriteToFile(file, text, length);
  plat::OutputDebugString(text);
}

void WriteConverted(const char* copy, size_t length) {
  Locked lock;
  if (g_log_off == 1 || g_folder[0] == '\0') return;
  char path[260 + 1 + 256];
  size_t folder_length = std::strlen(g_folder);
  const char* separator = g_folder[folder_length - 1] == '\\' ? "" : "\\";
  std::snprintf(path, sizeof path, "%s%s%s", g_folder, separator, g_file_name);
  plat::WriteFile* file = plat::OpenFileForAppend(path);
  if (file == nullptr) return;
  if (g_inside_line == 0) {
    if (g_no_time_stamp != 1) {
      char stamp[16];
      int stamp_length =
          std::snprintf(stamp, sizeof stamp, "%d:", static_cast<int>(plat::TimeGetTime() - g_start_time));
      WriteBoth(file, stamp, static_cast<size_t>(stamp_length));
    }
    if (g_indent > 0) {
      char tabs[64];
      int remaining = g_indent;
      while (remaining > 0) {
        int count = remaining < 63 ? remaining : 63;
        std::memset(tabs, '\t', static_cast<size_t>(count));
        tabs[count] = '\0';
        WriteBoth(file, tabs, static_cast<size_t>(count));
        remaining -= count;
      }
    }
  }
  WriteBoth(file, copy, length);
  g_inside_line = length > 0 && copy[length - 1] == '\n' ? 0 : 1;
  plat::CloseWriteFile(file);
}

}  // namespace

int SetLogFileEnabled(int enable) {
  Locked lock;
  g_log_off = enable == 0 ? 1 : 0;
  return 0;
}

int LogFileStart() {
  Locked lock;
  if (g_log_off == 1) return 0;
  if (g_dated_name == 1) {
    DateTimeRecord now;
    GetLocalDateTime(&now);
    std::snprintf(g_file_name, sizeof g_file_name, "Log%d_%d_%d_%d_%d_%d.txt", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
  } else {
    std::snprintf(g_file_name, sizeof g_file_name, "Log.txt");
  }
  plat::DeleteFile(g_file_name);
  plat::CloseWriteFile(plat::CreateNewFile(g_file_name));
  g_indent = 0;
  g_inside_line = 0;
  g_start_time = plat::TimeGetTime();
  return 0;
}

int WriteLogLine(const char* text) {
  if (text == nullptr) return -1;
  size_t length = std::strlen(text);
  // Every line feed may become two bytes.
  char short_copy[2 * kShortText + 1];
  char* copy = short_copy;
  void* long_copy = nullptr;
  if (length > kShortText) {
    if (length > (SIZE_MAX - 1) / 2) return -1;
    long_copy = TrackedAlloc(2 * length + 1, nullptr, -1);
    if (long_copy == nullptr) return -1;
    copy = static_cast<char*>(long_copy);
  }
  size_t copy_length = ConvertLineFeeds(text, length, copy);
  WriteConverted(copy, copy_length);
  TrackedFree(long_copy);
  return -1;
}

int WriteLogLineSound(const char* text) { return WriteLogLine(text); }

int WriteLogLineFmt(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  int needed = std::vsnprintf(line, sizeof line - 1, format, args);
  va_end(args);
  if (needed < 0) return -1;
  if (static_cast<size_t>(needed) <= sizeof line - 2) {
    line[needed] = '\n';
    line[needed + 1] = '\0';
    return WriteLogLine(line);
  }
  // A longer line is formatted again into a buffer of its own size rather
  // than cut.
  size_t size = static_cast<size_t>(needed) + 2;
  char* long_line = static_cast<char*>(plat::HeapAlloc(size));
  if (long_line == nullptr) return -1;
  va_start(args, format);
  std::vsnprintf(long_line, size, format, args);
  va_end(args);
  long_line[needed] = '\n';
  long_line[needed + 1] = '\0';
  WriteLogLine(long_line);
  plat::HeapFree(long_line);
  return -1;
}

int FormatStringV(char* buffer, const char* format, va_list args) { return std::vsprintf(buffer, format, args); }

int FormatString(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsprintf(buffer, format, args);
  va_end(args);
  return 0;
}

int LogIndentIn() {
  Locked lock;
  ++g_indent;
  return 0;
}

int LogIndentOut() {
  Locked lock;
  if (g_indent > 0) --g_indent;
  return 0;
}

int SetLogFolder(const char* folder) {
  if (folder == nullptr) return -1;
  Locked lock;
  if (std::strlen(folder) >= sizeof g_folder) return WriteLogLine("ログフォルダのパスが長すぎます\n");
  std::snprintf(g_folder, sizeof g_folder, "%s", folder);
  return 0;
}

const char* GetLogFolder() { return g_folder; }

const char* GetLogFileName() { return g_file_name; }

void SetLogDatedFileName(int enable) {
  Locked lock;
  g_dated_name = enable != 0 ? 1 : 0;
}

void SetLogTimeStamps(int enable) {
  Locked lock;
  g_no_time_stamp = enable != 0 ? 0 : 1;
}
