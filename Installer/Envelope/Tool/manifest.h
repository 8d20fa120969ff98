// What goes into an installer: the files and values, in the order the release
// engineer lists them, from a TOML manifest and from command-line flags.
//
//   stub_name = "Reader.exe"        # optional; default: the stub's file name
//   exit_codes = true               # optional; default false: the reader
//                                   # returns the setup program's exit code
//                                   # and codes of its own failures
//
//   [[file]]
//   key = "installer"               # optional; a variable naming the file
//   name = "Setup.exe"              # the name it is extracted under
//   source = "build/setup.exe"      # relative to the manifest
//
//   [[value]]
//   key = "executable"
//   text = "%installer%"
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tool {

struct FileEntry {
  std::string key;  // may be empty: the file then sets no variable
  std::string name;
  std::filesystem::path source;
};

struct ValueEntry {
  std::string key;
  std::string text;
};

struct PackPlan {
  std::optional<std::string> stub_name;
  bool exit_codes = false;  // packed as the option "exit-codes"
  std::vector<FileEntry> files;
  std::vector<ValueEntry> values;
};

// Reads a manifest; source paths become relative to the current directory.
// Throws ToolError naming the file, line and column of what is wrong.
PackPlan ReadManifest(const std::filesystem::path& manifest);

// Parses the flag forms KEY:NAME=PATH and KEY=TEXT. Throws ToolError.
FileEntry ParseFileFlag(std::string_view flag);
ValueEntry ParseValueFlag(std::string_view flag);

// Refuses a plan that the reader would not carry out as written: keys, names,
// texts or a stub name that are not valid UTF-8 (the reader would read them
// in the system's code page), keys it ignores or can never refer to, keys or
// file names given twice, and names it cannot extract. Throws ToolError for
// the first problem found.
void CheckPlan(const PackPlan& plan);

// Why the reader could not extract a file under `name`, or empty when it can.
std::string RefusedFileName(std::string_view name);

}  // namespace tool
