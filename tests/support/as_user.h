// tests/support/as_user.h - runs a piece of a test as an ordinary user, so
// that the paths which depend on file permissions are exercised even when
// the suite runs as root (as it does in CI), where every permission check
// passes. As root the child process drops to a user id that no account uses;
// as any other user it runs as that user.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>

namespace testsupport {

struct AsUserResult {
  bool ran = false;          // false: no unprivileged child could be made
  std::string why_not;       // the reason, when it did not run
  int status = -1;           // the body's result, or 128 + the signal that ended it
  std::string text;          // what the body handed back
};

// The user id the child takes when the suite runs as root (an id no account
// in the password database has), or the caller's own id otherwise.
uid_t UnprivilegedUid();
// The child's group id: one that no group has and that is not the user id,
// so that a line which should name the group cannot pass with the user id;
// the caller's own group otherwise.
gid_t UnprivilegedGid();

// Hands a path (and everything under it) to that user and group, so the
// child can create and remove files there. Returns false with no change as a
// non-root caller, where nothing needs handing over.
bool GiveToUnprivilegedUser(const std::filesystem::path& path);

// The folder to make the child's scratch folders in: the temporary folder
// when the child can reach it, else /tmp. A TMPDIR of root's closed to
// others would otherwise shut the child out of everything made in it.
std::filesystem::path UnprivilegedTempFolder();

// A copy of the program at `program` in `folder`, for the child to run: a
// build under a folder closed to others (a clone in /root) is out of its
// reach. Returns the copy's path; empty when it could not be made.
std::string CopyForUnprivilegedUser(const std::filesystem::path& program, const std::filesystem::path& folder);

// Forks; the child gives up root (groups, group id, user id; it cannot take
// them back), runs body with a string it may fill, and exits with the body's
// result. The string comes back in the result's text.
AsUserResult RunAsUnprivilegedUser(const std::function<int(std::string& text)>& body);

// The skip line for a test that needs a result that did not run.
#define RORUD_SKIP_UNLESS_RAN(result) \
  if (!(result).ran) GTEST_SKIP() << "cannot run as an ordinary user here: " << (result).why_not

}  // namespace testsupport
