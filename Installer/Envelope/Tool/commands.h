// The envelope tool's commands. Each prints its results, and only those, on
// standard output and returns the process exit code; what is wrong with an
// installer goes to standard error (kExitBadInstaller), other failures throw
// ToolError.
#pragma once

#include <filesystem>

namespace tool {

// Exit codes shared by the commands.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitBadInstaller = 1;  // a digest does not match, or no envelope
inline constexpr int kExitError = 2;         // bad usage or input; nothing written

// The groups, variables and command line of `installer`, as text or JSON; a
// damaged envelope is listed as far as it can be read, a file without one not
// at all.
int ListInstaller(const std::filesystem::path& installer, bool json);
int VerifyInstaller(const std::filesystem::path& installer);
int ExtractInstaller(const std::filesystem::path& installer,
                     const std::filesystem::path& directory);

}  // namespace tool
