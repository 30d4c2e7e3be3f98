// tests/support/as_user.cpp - the unprivileged child process (see as_user.h).
#include "tests/support/as_user.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace testsupport {

namespace {

// Writes all of text to fd; the pipe is read to its end by the parent.
void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += size_t(n);
  }
}

}  // namespace

uid_t UnprivilegedUid() {
  if (::geteuid() != 0) return ::geteuid();
  // The first id from 54321 up that no account has, and no group either.
  static const uid_t chosen = [] {
    uid_t id = 54321;
    while (::getpwuid(id) != nullptr || ::getgrgid(gid_t(id)) != nullptr) ++id;
    return id;
  }();
  return chosen;
}

gid_t UnprivilegedGid() {
  if (::geteuid() != 0) return ::getegid();
  static const gid_t chosen = [] {
    gid_t id = gid_t(UnprivilegedUid()) + 1;
    while (::getgrgid(id) != nullptr || ::getpwuid(uid_t(id)) != nullptr) ++id;
    return id;
  }();
  return chosen;
}

bool GiveToUnprivilegedUser(const std::filesystem::path& path) {
  if (::geteuid() != 0) return false;
  const uid_t uid = UnprivilegedUid();
  const gid_t gid = UnprivilegedGid();
  std::error_code ec;
  bool ok = ::lchown(path.c_str(), uid, gid) == 0;
  if (std::filesystem::is_directory(path, ec)) {
    for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      ok = ::lchown(it->path().c_str(), uid, gid) == 0 && ok;
    }
  }
  return ok && !ec;
}

std::filesystem::path UnprivilegedTempFolder() {
  static const std::filesystem::path chosen = [] {
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) return std::filesystem::path("/tmp");
    if (::geteuid() != 0) return temp;
    const AsUserResult reach =
        RunAsUnprivilegedUser([&temp](std::string&) { return ::access(temp.c_str(), X_OK) == 0 ? 0 : 1; });
    return !reach.ran || reach.status == 0 ? temp : std::filesystem::path("/tmp");
  }();
  return chosen;
}

std::string CopyForUnprivilegedUser(const std::filesystem::path& program, const std::filesystem::path& folder) {
  const std::filesystem::path copy = folder / program.filename();
  std::error_code ec;
  std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) return std::string();
  std::filesystem::permissions(copy, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                         std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                         std::filesystem::perms::others_exec,
                               ec);
  return ec ? std::string() : copy.string();
}

AsUserResult RunAsUnprivilegedUser(const std::function<int(std::string& text)>& body) {
  AsUserResult result;
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) {
    result.why_not = std::string("pipe: ") + std::strerror(errno);
    return result;
  }
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) {
    result.why_not = std::string("fork: ") + std::strerror(errno);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    return result;
  }
  if (child == 0) {
    ::close(pipe_fds[0]);
    // Exit 125: the drop itself failed; the parent reports that as not run.
    if (::geteuid() == 0) {
      const uid_t uid = UnprivilegedUid();
      if (::setgroups(0, nullptr) != 0 || ::setgid(UnprivilegedGid()) != 0 || ::setuid(uid) != 0) {
        WriteAll(pipe_fds[1], std::string("cannot give up root: ") + std::strerror(errno));
        _exit(125);
      }
      // Root once more must be out of reach, or the test proves nothing.
      if (::setuid(0) == 0 || ::geteuid() == 0) {
        WriteAll(pipe_fds[1], "root could be taken back after the drop");
        _exit(125);
      }
    }
    std::string text;
    int status = 99;
    try {
      status = body(text);
    } catch (...) {
      text += "\n(an exception escaped the body)";
    }
    std::fflush(nullptr);
    WriteAll(pipe_fds[1], text);
    _exit(status);
  }
  ::close(pipe_fds[1]);
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(pipe_fds[0], chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.text.append(chunk, size_t(n));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 125) {
    result.why_not = result.text;
    result.text.clear();
    return result;
  }
  result.ran = true;
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  return result;
}

}  // namespace testsupport
