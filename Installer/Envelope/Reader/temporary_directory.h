// Where a run's work directory and message log go: the user's temporary
// directory, unless programs cannot be started from there.
#pragma once

#include <cstddef>
#include <string>

#include "platform_files.h"
#include "platform_system.h"

namespace reader {

// The longest temporary path the reader takes, in the system's units (see
// platform::TemporaryPath): the 260 of the path buffer Windows programs have
// always had.
inline constexpr size_t kTemporaryPathLimit = 260;

// Where the work directory goes when the temporary path cannot be had.
inline constexpr const char* kFallbackTemporaryPath =
    platform::kSystemKind == platform::SystemKind::kWindows ? "C:\\Temp\\" : "/tmp/";

// Sets `path` to the directory the run works in, ending in a separator: the
// user's temporary directory (platform::TemporaryPath, at most
// kTemporaryPathLimit). Where its file system does not let programs start
// (mounted noexec), the setup program could not run from there: the first
// of $XDG_RUNTIME_DIR and the user's cache directory ($XDG_CACHE_HOME when
// it is an absolute path, else $HOME/.cache; made private to this user where
// it is missing) that is a private directory (platform::IsPrivateDirectory)
// on a file system that does, and no longer than the limit with its
// separator, is taken instead; when neither is, the temporary directory all
// the same. False when the system cannot say where the temporary directory
// is.
bool ChooseTemporaryDirectory(std::string& path);

}  // namespace reader
