// The folder trees a plan packs, as found on disk: listing a tree source
// without following links, and reading its files while noticing one that
// changes under the tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "pack_plan.h"
#include "platform_files.h"

namespace tool {

// Every regular file and directory below `root` (not `root` itself, which
// may be reached through a symbolic link), recursively, directories listed
// even when empty. No symbolic link below `root` is followed. Each entry's
// path is relative to `root`, in UTF-8 with its names joined by "/"; its
// source is where it was found. Sorted by the bytes of the paths, so that
// the same tree always lists the same, and a directory comes before what
// lies in it. Throws ToolError naming the path for: a `root` that is not a
// directory; anything below it that is not a regular file or a directory (a
// symbolic link, on Windows any reparse point such as a junction, a device,
// a named pipe, a socket); a name Windows cannot hold (RefusedWindowsName,
// or holding a "\"), a path too long to extract, or a name that is not
// valid UTF-8; two paths equal but for case (ASCII letters),
// naming both; and a directory that cannot be read.
std::vector<TreeEntry> ListTree(const std::filesystem::path& root);

// Reads the bytes of one file of a tree, as listed, and refuses a file that
// changed since: one that is no longer a regular file or of the listed size
// when opened, that ends before the listed size while read, or that is
// longer, of another size or modified when reading is finished. Every
// refusal is a ToolError that names the file's source. (On Windows the file
// is open to other readers only, so that no one writes it while it is read;
// what changed between listing and opening is still refused.)
class TreeFileReader {
 public:
  // Opens the file `entry` lists (a file, not a directory).
  explicit TreeFileReader(const TreeEntry& entry);

  // Fills `buffer` with the file's next `size` bytes, which lie within its
  // listed size (a std::logic_error otherwise).
  void Read(char* buffer, size_t size);

  // Checks, after the last Read, that the file holds no more bytes than
  // listed and that its size and modification time are still those it had
  // when opened.
  void Finish();

 private:
  std::filesystem::path source_;
  uint64_t size_;
  uint64_t read_ = 0;
  std::filesystem::file_time_type modified_;
  platform::File file_;
};

}  // namespace tool
