// The tool's text is UTF-8 throughout: command-line arguments, manifest
// entries, names in the envelope and messages. These turn it into file paths
// and back. On Windows a path holds UTF-16, and its narrow constructor and
// string() would use the ANSI code page, which cannot name every file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tool {

// The path named by UTF-8 `text`. POSIX: the bytes as they are. Windows: the
// text converted to UTF-16, where '\' and '/' both separate and a drive
// letter may lead; throws ToolError when `text` is not valid UTF-8.
std::filesystem::path PathFromUtf8(std::string_view text);

// `path` as UTF-8 text (POSIX: its bytes as they are).
std::string Utf8FromPath(const std::filesystem::path& path);

// UTF-16 text (a Windows command-line argument) as UTF-8; nothing when it
// holds a surrogate without its pair, which names no character.
std::optional<std::string> Utf8FromUtf16(std::u16string_view text);

}  // namespace tool
