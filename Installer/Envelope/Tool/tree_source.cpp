#include "tree_source.h"

#include <algorithm>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

#include "envelope_text.h"
#include "file_names.h"
#include "plan_rules.h"
#include "tool_error.h"
#include "utf8_path.h"
#include "windows_names.h"

namespace tool {

namespace fs = std::filesystem;

namespace {

std::string Shown(const fs::path& path) { return Quoted(Utf8FromPath(path)); }

// The name of a directory's entry as UTF-8, or nothing when the system's name
// is no text: on POSIX bytes that are not valid UTF-8, on Windows UTF-16
// with an unpaired surrogate. Such a name could not be packed as UTF-8.
std::optional<std::string> NameText(const fs::path& name) {
#ifdef _WIN32
  const std::wstring& native = name.native();
  return Utf8FromUtf16(
      std::u16string_view(reinterpret_cast<const char16_t*>(native.data()), native.size()));
#else
  if (!format::IsValidUtf8(name.native())) return std::nullopt;
  return name.native();
#endif
}

// Whether `path` is a Windows reparse point (a symbolic link, a junction, a
// mount point), which the standard library may take for what it leads to.
// Always false on POSIX, where symlink_status tells links apart.
bool IsReparsePoint([[maybe_unused]] const fs::path& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
  return false;
#endif
}

// What an entry that is neither a regular file nor a directory is, for the
// refusal.
std::string_view KindName(fs::file_type type) {
  switch (type) {
    case fs::file_type::symlink: return "a symbolic link";
    case fs::file_type::block: return "a block device";
    case fs::file_type::character: return "a character device";
    case fs::file_type::fifo: return "a named pipe";
    case fs::file_type::socket: return "a socket";
    default: return "neither a regular file nor a directory";
  }
}

// The path in the tree of the entry `item` of the directory whose path in
// the tree is `prefix` (empty for the root), refused when its name is no
// text, or a name or path some system cannot hold.
std::string CheckedTreePath(const fs::directory_entry& item, const std::string& prefix) {
  const std::optional<std::string> name = NameText(item.path().filename());
  if (!name) {
    // POSIX shows the name's bytes (as \xNN); a Windows name with a lone
    // surrogate has no UTF-8 form to show, so its directory is named.
    if (platform::kSystemKind == platform::SystemKind::kPosix) {
      throw ToolError(Shown(item.path()) + ": the name is not valid UTF-8");
    }
    throw ToolError("the directory " + Shown(item.path().parent_path()) +
                    " holds a name with an unpaired UTF-16 surrogate, which names no text");
  }
  const std::string path = prefix.empty() ? *name : prefix + "/" + *name;
  if (name->find('\\') != std::string::npos) {
    throw ToolError(Shown(item.path()) +
                    ": the name contains \"\\\", which Windows takes for a directory separator");
  }
  if (const std::string refused = RefusedWindowsName(*name); !refused.empty()) {
    throw ToolError(Shown(item.path()) + ": the name " + refused);
  }
  if (format::IsFileNameTooLong(path)) {
    throw ToolError(Shown(item.path()) +
                    ": the path in the tree is longer than any path Windows or Linux accepts");
  }
  return path;
}

// Fills in what `entry`, found as `item`, is: a directory, or a regular file
// with its size and (POSIX) whether it may be executed; refuses anything
// else, links included.
void InspectEntryKind(const fs::directory_entry& item, TreeEntry& entry) {
  std::error_code error;
  const fs::file_status status = item.symlink_status(error);
  if (error) throw ToolError("cannot inspect " + Shown(item.path()) + ": " + error.message());
  if (IsReparsePoint(item.path())) {
    throw ToolError(Shown(item.path()) +
                    " is a link or junction (a reparse point); a tree holds only files and "
                    "directories, and links are not followed");
  }
  if (fs::is_directory(status)) {
    entry.directory = true;
    return;
  }
  if (!fs::is_regular_file(status)) {
    throw ToolError(Shown(item.path()) + " is " + std::string(KindName(status.type())) +
                    "; a tree holds only regular files and directories, and links are not "
                    "followed");
  }
  entry.size = item.file_size(error);
  if (error) throw ToolError("cannot inspect " + Shown(item.path()) + ": " + error.message());
  if (platform::kSystemKind == platform::SystemKind::kPosix) {
    constexpr fs::perms kAnyExecute =
        fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    entry.executable = (status.permissions() & kAnyExecute) != fs::perms::none;
  }
}

// The entry `item` of the directory whose path in the tree is `prefix`
// (empty for the root), checked; its path in the tree and kind filled in.
TreeEntry ListedEntry(const fs::directory_entry& item, const std::string& prefix) {
  TreeEntry entry;
  entry.path = CheckedTreePath(item, prefix);
  entry.source = item.path();
  InspectEntryKind(item, entry);
  return entry;
}

// Refuses two entries whose paths Windows takes for one (WindowsNameKey);
// `entries` are sorted.
void CheckCaseTwins(const std::vector<TreeEntry>& entries) {
  std::map<std::string, const TreeEntry*> by_key;
  for (const TreeEntry& entry : entries) {
    const auto [other, added] = by_key.try_emplace(WindowsNameKey(entry.path), &entry);
    if (!added) {
      throw ToolError(Shown(other->second->source) + " and " + Shown(entry.source) +
                      " differ only in case, and Windows takes them for one");
    }
  }
}

// The size of the open `file`, which is left at its end.
uint64_t SizeAtEnd(platform::File& file, const fs::path& source) {
  if (!file.SeekToEnd() || file.Position() < 0) {
    throw ToolError(Shown(source) + ": " + platform::SystemErrorText(platform::LastErrorCode()));
  }
  return static_cast<uint64_t>(file.Position());
}

std::string SizeChange(uint64_t now, uint64_t listed) {
  return std::to_string(now) + " bytes now, " + std::to_string(listed) + " when listed";
}

}  // namespace

std::vector<TreeEntry> ListTree(const fs::path& root) {
  std::error_code error;
  if (!fs::is_directory(fs::status(root, error))) {
    throw ToolError("tree " + Shown(root) + " is not a directory" +
                    (error ? ": " + error.message() : ""));
  }
  std::vector<TreeEntry> entries;
  // The directories still to read, each with its path in the tree.
  std::vector<std::pair<fs::path, std::string>> pending = {{root, ""}};
  while (!pending.empty()) {
    const auto [directory, prefix] = std::move(pending.back());
    pending.pop_back();
    fs::directory_iterator item(directory, error);
    for (; !error && item != fs::directory_iterator(); item.increment(error)) {
      entries.push_back(ListedEntry(*item, prefix));
      if (entries.back().directory) pending.emplace_back(item->path(), entries.back().path);
    }
    if (error) {
      throw ToolError("cannot read the directory " + Shown(directory) + ": " + error.message());
    }
  }
  std::sort(entries.begin(), entries.end(),
            [](const TreeEntry& a, const TreeEntry& b) { return a.path < b.path; });
  CheckCaseTwins(entries);
  return entries;
}

TreeFileReader::TreeFileReader(const TreeEntry& entry) : source_(entry.source), size_(entry.size) {
  // Checked before opening: opening a named pipe would wait for a writer.
  std::error_code error;
  const fs::file_status status = fs::symlink_status(source_, error);
  if (error) throw ToolError(Shown(source_) + " changed while packing: " + error.message());
  if (!fs::is_regular_file(status) || IsReparsePoint(source_)) {
    throw ToolError(Shown(source_) + " changed while packing: it is no longer a regular file");
  }
  file_ = platform::File::OpenForReading(Utf8FromPath(source_));
  if (!file_.IsOpen()) {
    throw ToolError(Shown(source_) + ": " + platform::SystemErrorText(platform::LastErrorCode()));
  }
  const uint64_t size = SizeAtEnd(file_, source_);
  if (size != size_) {
    throw ToolError(Shown(source_) + " changed while packing: " + SizeChange(size, size_));
  }
  file_.Seek(-static_cast<int64_t>(size));
  modified_ = fs::last_write_time(source_, error);
  if (error) throw ToolError(Shown(source_) + ": " + error.message());
}

void TreeFileReader::Read(char* buffer, size_t size) {
  if (size > size_ - read_) {
    throw std::logic_error("TreeFileReader::Read: past the listed size of " +
                           Utf8FromPath(source_));
  }
  if (!file_.Read(buffer, size)) {
    const int code = platform::LastErrorCode();
    if (code == platform::kErrorEndOfFile) {
      throw ToolError(Shown(source_) + " changed while packing: it ends before the " +
                      std::to_string(size_) + " bytes listed");
    }
    throw ToolError(Shown(source_) + ": read failed (" + platform::SystemErrorText(code) +
                    "); did it change while being packed?");
  }
  read_ += size;
}

void TreeFileReader::Finish() {
  const uint64_t size = SizeAtEnd(file_, source_);
  if (size != size_) {
    throw ToolError(Shown(source_) + " changed while packing: " + SizeChange(size, size_));
  }
  std::error_code error;
  const fs::file_time_type modified = fs::last_write_time(source_, error);
  if (error) throw ToolError(Shown(source_) + " changed while packing: " + error.message());
  if (modified != modified_) {
    throw ToolError(Shown(source_) + " changed while packing: it was modified while being read");
  }
}

}  // namespace tool
