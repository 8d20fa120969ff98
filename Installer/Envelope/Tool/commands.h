// The envelope tool's commands. Each prints its results on standard output
// and returns the process exit code; failures throw ToolError.
#pragma once

#include <filesystem>

namespace tool {

// Exit codes shared by the commands.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitBadInstaller = 1;  // a digest does not match, or no envelope
inline constexpr int kExitError = 2;         // bad usage or input; nothing written

int ListInstaller(const std::filesystem::path& installer, bool json);
int VerifyInstaller(const std::filesystem::path& installer);
int ExtractInstaller(const std::filesystem::path& installer,
                     const std::filesystem::path& directory);

}  // namespace tool
