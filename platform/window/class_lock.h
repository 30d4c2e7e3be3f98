// platform/window/class_lock.h - the class lock, as the window core
// (window.cpp) uses it: a lock file per window class, held by the process
// whose window of the class lives, so that another process sees the window.
// The public side (the folder hook, the lock path, the lock's problem) is
// declared in window.h.
#pragma once

#include <string>
#include <vector>

namespace plat {

struct Window;

namespace detail {

// The folder of the class locks and, when no fit folder was found, what is
// wrong and the way out.
struct LockPlace {
  std::string folder;
  std::string problem;  // empty when the folder is fit
};

// The user's runtime folder when it is fit, else the fallback.
LockPlace FindLockPlace();
// Takes the class lock for a new window; -1 when another process holds it,
// or when the lock file cannot be opened or locked (WindowLockProblem then
// says why and what to do).
int TakeClassLock(const std::string& folder, const std::string& class_name);
// Whether another process holds the class lock.
bool ClassLockedElsewhere(const std::string& class_name);
// Hands the lock of a window being destroyed to the next window of its
// class among `windows`, or lets it go when none is left.
void PassClassLock(Window* window, const std::vector<Window*>& windows);
// Forgets the last lock failure.
void ResetClassLocks();

}  // namespace detail
}  // namespace plat
