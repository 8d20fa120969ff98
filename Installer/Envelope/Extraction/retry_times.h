// How long the system is given to let go of a file that another process
// holds for a moment.
#pragma once

#include "platform_system.h"

namespace extraction {

// How long one removal (of a tree, or of a directory's entries) may spend, in
// all, trying again deletions that failed, and the pause between two tries;
// a rename into place is tried again as long. Windows: right after the setup
// program has ended, other processes (its console host, virus scanners,
// indexers) may hold its files or directories for a moment. POSIX: an entry
// is removed or renamed whoever holds it open, so a failure there stays, and
// nothing is tried again.
inline constexpr int kRemovalRetryMilliseconds =
    platform::kSystemKind == platform::SystemKind::kWindows ? 2000 : 0;
inline constexpr int kRemovalRetryPauseMilliseconds = 50;

}  // namespace extraction
