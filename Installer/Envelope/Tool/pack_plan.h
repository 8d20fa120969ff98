// What goes into an installer: the files and values, in the order the release
// engineer lists them, whether from a manifest (manifest.h) or from
// command-line flags (pack_flags.h).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "chunk_compression.h"

namespace tool {

struct FileEntry {
  std::string key;  // may be empty: the file then sets no variable
  std::string name;
  std::filesystem::path source;
  // How this file is packed, when it says (else as the plan's compression).
  std::optional<writer::Compression> compression = std::nullopt;
};

struct ValueEntry {
  std::string key;
  std::string text;
};

struct PackPlan {
  std::optional<std::string> stub_name;
  bool exit_codes = false;  // packed as the option "exit-codes"
  // How files that do not say otherwise are packed: kNone as "file" groups,
  // else compressed as "zfile" groups.
  writer::Compression compression = writer::Compression::kBest;
  std::vector<FileEntry> files;
  std::vector<ValueEntry> values;
};

}  // namespace tool
