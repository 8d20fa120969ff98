// What goes into an installer: the files, folder trees and values, in the
// order the release engineer lists them, whether from a manifest (manifest.h)
// or from command-line flags (pack_flags.h).
#pragma once

#include <cstdint>
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

// A directory whose whole tree is packed: its contents are extracted at the
// top of the work directory.
struct TreeSource {
  std::filesystem::path source;
  // How the tree's files are packed, when it says (else as the plan's
  // compression).
  std::optional<writer::Compression> compression = std::nullopt;
};

// One entry of a tree as packed (tree_source.h lists them): a regular file or
// a directory below a tree source.
struct TreeEntry {
  std::string path;  // relative to the tree's root, UTF-8, components joined by "/"
  bool directory = false;
  bool executable = false;  // POSIX: the file had an execute bit; directories and Windows: false
  uint64_t size = 0;        // a file's size when listed; 0 for directories
  // Where the entry was found: a file's bytes are read from here.
  std::filesystem::path source;
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
  std::vector<TreeSource> trees;
  std::vector<ValueEntry> values;
};

}  // namespace tool
