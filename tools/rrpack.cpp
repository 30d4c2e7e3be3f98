// tools/rrpack.cpp - packs a folder tree into an archive that the library
// reads in place of the folder (a folder "grp" is replaced by "grp.<ext>"
// beside it).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "lib/core/pack_writer.h"
#include "platform/kernel/file.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: rrpack [options] <folder> [<archive>]\n"
    "\n"
    "Packs the files and folders under <folder> into one archive. The library\n"
    "reads \"<folder>/<path>\" from the archive \"<folder>.<extension>\" when its\n"
    "archive use is on and the extension matches (a program sets the extension,\n"
    "for example \"hsd\"). Names are stored in Shift-JIS (code page 932).\n"
    "\n"
    "options:\n"
    "  -e, --extension EXT  extension of the archive when <archive> is not given\n"
    "                       (default RRA, the library's default)\n"
    "  -V, --version N      format version 0 to 4 (default 4); versions 0 and 1\n"
    "                       store every file plain\n"
    "      --store          store every file plain, without LZ compression\n"
    "      --second-key     scramble with the library's second built-in key\n"
    "  -q, --quiet          no progress line and no summary\n"
    "  -h, --help           this text\n"
    "\n"
    "Files are LZ-compressed where that makes them smaller (version 2 and up).\n"
    "Exit status: 0 packed, 1 failed, 2 bad arguments.\n";

int Usage(const char* message) {
  std::fprintf(stderr, "rrpack: %s\n(rrpack --help shows the options)\n", message);
  return 2;
}

uint64_t ToFileTime(fs::file_time_type t) {
  auto sys = std::chrono::file_clock::to_sys(t);
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(sys.time_since_epoch()).count();
  return plat::UnixTimeToFileTime(ns / 1000000000, ns % 1000000000);
}

bool Scan(const fs::path& folder, PackNode* node, std::string* error) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) {
    *error = "cannot read the folder " + folder.string() + ": " + ec.message();
    return false;
  }
  for (const fs::directory_entry& entry : it) {
    PackNode child;
    child.name = plat::Utf8ToCp932(entry.path().filename().string());
    fs::file_status status = entry.status(ec);
    if (ec) {
      *error = "cannot read " + entry.path().string() + ": " + ec.message();
      return false;
    }
    auto write_time = entry.last_write_time(ec);
    if (!ec) child.creation_time = child.access_time = child.write_time = ToFileTime(write_time);
    if (fs::is_directory(status)) {
      child.folder = true;
      if (!Scan(entry.path(), &child, error)) return false;
    } else if (fs::is_regular_file(status)) {
      child.host_path = entry.path().string();
      child.size = entry.file_size(ec);
      if (ec) {
        *error = "cannot read " + entry.path().string() + ": " + ec.message();
        return false;
      }
    } else {
      continue;  // sockets, devices and broken links have no data to pack
    }
    node->children.push_back(std::move(child));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder, archive, extension = "RRA";
  PackOptions options;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)name;
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "-e" || arg == "--extension") {
      const char* v = value("extension");
      if (!v) return Usage("--extension needs a value");
      extension = v;
      if (extension.empty() || extension.size() >= 64 || extension.find_first_of("/\\.") != std::string::npos) {
        return Usage("the extension must be 1 to 63 characters without \"/\", \"\\\" or \".\"");
      }
    } else if (arg == "-V" || arg == "--version") {
      const char* v = value("version");
      if (!v) return Usage("--version needs a value");
      char* end = nullptr;
      long n = std::strtol(v, &end, 10);
      if (!*v || *end || n < 0 || n > 4) return Usage("the version must be 0 to 4");
      options.version = static_cast<int>(n);
    } else if (arg == "--store") {
      options.compress = false;
    } else if (arg == "--second-key") {
      options.second_key = true;
    } else if (arg == "-q" || arg == "--quiet") {
      quiet = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      return Usage(("unknown option " + arg).c_str());
    } else if (folder.empty()) {
      folder = arg;
    } else if (archive.empty()) {
      archive = arg;
    } else {
      return Usage("too many arguments");
    }
  }
  if (folder.empty()) return Usage("no folder given");
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    std::fprintf(stderr, "rrpack: %s is not a folder\n", folder.c_str());
    return 1;
  }
  if (archive.empty()) archive = folder + "." + extension;

  PackNode root;
  root.folder = true;
  std::string error;
  if (!Scan(folder, &root, &error)) {
    std::fprintf(stderr, "rrpack: %s\n", error.c_str());
    return 1;
  }

  // Large folders get a progress line, renewed at most ten times a second.
  auto last = std::chrono::steady_clock::now();
  bool shown = false;
  options.progress = [&](uint64_t files, uint64_t files_total, uint64_t bytes, uint64_t bytes_total) {
    if (quiet || (files_total < 200 && bytes_total < (32u << 20))) return;
    auto now = std::chrono::steady_clock::now();
    if (files != files_total && now - last < std::chrono::milliseconds(100)) return;
    last = now;
    shown = true;
    std::fprintf(stderr, "\rrrpack: %llu/%llu files, %.1f/%.1f MB", static_cast<unsigned long long>(files),
                 static_cast<unsigned long long>(files_total), bytes / 1048576.0, bytes_total / 1048576.0);
    std::fflush(stderr);
  };

  // Written beside the target first, so a failure never leaves half an archive.
  std::string part = archive + ".part";
  PackStats stats;
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    if (!out) {
      std::fprintf(stderr, "rrpack: cannot create %s\n", part.c_str());
      return 1;
    }
    int result = WritePackArchive(root, options, out, &error, &stats);
    out.close();
    if (shown) std::fputc('\n', stderr);
    if (result != 0 || !out) {
      fs::remove(part, ec);
      std::fprintf(stderr, "rrpack: %s\n", error.empty() ? "cannot write the archive" : error.c_str());
      return 1;
    }
  }
  fs::rename(part, archive, ec);
  if (ec) {
    fs::remove(part, ec);
    std::fprintf(stderr, "rrpack: cannot create %s\n", archive.c_str());
    return 1;
  }
  if (!quiet) {
    std::printf("%s: %llu files in %llu folders (%llu compressed), %llu bytes in %llu bytes\n",
                archive.c_str(), static_cast<unsigned long long>(stats.files),
                static_cast<unsigned long long>(stats.folders), static_cast<unsigned long long>(stats.compressed),
                static_cast<unsigned long long>(stats.input_bytes),
                static_cast<unsigned long long>(stats.archive_bytes));
  }
  return 0;
}
