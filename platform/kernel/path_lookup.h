// platform/kernel/path_lookup.h - the case-insensitive look-up of host paths
// and what it remembers between calls (inside the kernel stand-in only).
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// Looks a host path ("/" separators) up one element at a time, taking for each
// element that does not exist as written the first entry of its folder that
// matches without regard to the case of a to z; elements from the first that
// matches nothing on are kept as written. The result is remembered with the
// folders it depends on and used again while none of them has changed: for an
// absolute path, while no watch on them reported a change; otherwise while
// they keep the same file, modification and status-change times.
// missing (when given) is set when an element matched nothing, so that no
// file of that path exists.
std::string ResolveNoCase(const std::string& path, bool* missing = nullptr);

// The remembered look-up of path when one is still good: its result and
// whether it matched nothing. False when there is none. With
// result_if_missing false, result is left alone when it matched nothing.
bool RememberedNoCase(const std::string& path, std::string* result, bool* missing,
                      bool result_if_missing = true);

// Folders read by the look-up since the program started (for tests).
uint64_t NoCaseFolderReads();

}  // namespace plat
