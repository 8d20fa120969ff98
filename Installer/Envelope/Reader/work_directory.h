// The per-run work directory: its name, and removing it with everything in it.
#pragma once

#include <cstdint>
#include <string>

namespace reader {

// temporary_path + "SF" + the low 32 bits of `seconds` as a signed decimal +
// the path separator. Two runs in the same second get the same name.
std::string PerRunDirectory(const std::string& temporary_path, int64_t seconds);

// The message log of the same run, beside its work directory (so that it
// outlives it): temporary_path + "SF" + the same number + ".log".
std::string PerRunMessageLog(const std::string& temporary_path, int64_t seconds);

// Deletes the directory `path` with its files and subdirectories, depth-first,
// then the directory itself; true when that final removal succeeded. A
// separator is appended when the path ends in neither "/" nor "\". Directories
// whose names begin with "." are skipped (and so keep their parents); files
// that cannot be deleted stay. Links are removed as links, never followed, so
// nothing outside the tree is touched. A failed deletion is retried while the
// platform's retry time for one removal lasts (Windows only). No messages.
bool RemoveDirectoryTree(const std::string& path);

}  // namespace reader
