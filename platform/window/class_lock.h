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

// Why no window can be made for want of a fit lock folder (the folder the
// environment names, or the fixed one every copy locks in as well), with the
// way out; empty when the folders are fit.
std::string ClassLockPlaceProblem();
// Takes the class locks for the first window of a class into `fds`; false
// when another process holds one, or when one cannot be had
// (WindowLockProblem then says why and what to do). Nothing is held then.
bool TakeClassLocks(const std::string& class_name, std::vector<int>* fds);
// Lets the locks go.
void CloseClassLocks(std::vector<int>* fds);
// Whether another process holds the class lock in a folder this process
// would lock in; when it does, its lock file is kept as WindowLockHolder.
bool ClassLockedElsewhere(const std::string& class_name);
// Hands the locks of a window being destroyed to the next window of its
// class among `windows`, or lets them go when none is left.
void PassClassLock(Window* window, const std::vector<Window*>& windows);
// Forgets the last lock failure and the test's refusals.
void ResetClassLocks();

}  // namespace detail
}  // namespace plat
