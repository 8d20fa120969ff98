// The per-run work directory: its name, setting it up empty, and removing it
// with everything in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform_files.h"
#include "retry_times.h"

namespace reader {

// How long a removal tries again, and a rename into place: see retry_times.h.
using extraction::kRemovalRetryMilliseconds;
using extraction::kRemovalRetryPauseMilliseconds;

// temporary_path + "SF" + the low 32 bits of `seconds` as a signed decimal +
// the path separator. Two runs in the same second get the same name.
std::string PerRunDirectory(const std::string& temporary_path, int64_t seconds);

// The message log of the same run, beside its work directory (so that it
// outlives it): temporary_path + "SF" + the same number + ".log".
std::string PerRunMessageLog(const std::string& temporary_path, int64_t seconds);

// Makes the work directory `path` (ending in a separator) ready for a run:
// creates it (an existing one is reused), makes it the current directory
// with the checks of platform::EnterDirectory (POSIX: a real directory of
// this user that no one else can write; Windows: a real directory, no link),
// then empties it (EmptyDirectory), so that the setup program finds nothing
// that was there before the run: no file planted beside it, no left-over of
// a killed run. False, with the directory left as it is then, when it cannot
// be entered or emptied.
bool SetUpWorkDirectory(const std::string& path);

// Removes every entry of the directory `path`, dot-names and dot-directories
// included; the directory itself stays. Links are removed as links, never
// followed. Failed deletions are retried as in RemoveDirectoryTree. True when
// every entry was removed; false when the directory cannot be read or an
// entry stays. No messages.
bool EmptyDirectory(const std::string& path);

// Deletes the directory `path` with its files and subdirectories, depth-first,
// then the directory itself; true when that final removal succeeded. A
// separator is appended when the path ends in neither "/" nor "\". Directories
// whose names begin with "." are skipped (and so keep their parents), but for
// those `extracted` names (full paths, as the walk made them); files
// that cannot be deleted stay. Links are removed as links, never followed, so
// nothing outside the tree is touched. A failed deletion is retried while
// kRemovalRetryMilliseconds last (Windows only). No messages.
bool RemoveDirectoryTree(const std::string& path, std::vector<std::string> extracted = {});

}  // namespace reader
