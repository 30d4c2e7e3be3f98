// tests/scripts/script_test.h - what the tests of the project's scripts
// share: a file's text, a script written for a run (stand-ins for system
// commands, a copy of one of ours), and a shell command's status and words.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/scratch_dir.h"

namespace scripttest {

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes a bash script at `name` in `dir` that anyone may run (a test's
// child may be another user); returns its path.
inline std::string WriteScript(const testsupport::ScratchDir& dir, const std::string& name,
                               const std::string& body) {
  namespace fs = std::filesystem;
  const std::string path = dir.Write(name, "#!/bin/bash\n" + body + "\n");
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  return path;
}

// A word the shell reads back as `text`, whatever it holds.
inline std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct Ran {
  int status;  // the exit status, or -1 when a signal ended it
  std::string out;
  std::string err;
};

// Runs a command through bash; its output and errors pass through files
// in `dir`.
inline Ran Shell(const testsupport::ScratchDir& dir, const std::string& command) {
  const std::string out = dir / "out.txt", err = dir / "err.txt";
  const int rc = std::system(("/bin/bash -c " + Quoted(command) + " >" + Quoted(out) + " 2>" + Quoted(err)).c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, Slurp(out), Slurp(err)};
}

}  // namespace scripttest
