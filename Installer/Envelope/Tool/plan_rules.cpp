#include "plan_rules.h"

#include <unordered_set>

#include <cctype>
#include <map>
#include <set>

#include "envelope_text.h"
#include "file_names.h"
#include "launch.h"
#include "tool_error.h"
#include "utf8_path.h"
#include "variables.h"
#include "work_directory_placeholder.h"

namespace tool {

namespace {

bool IsReservedDeviceName(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const std::set<std::string> kDevices = {"CON", "PRN", "AUX", "NUL"};
  if (kDevices.count(stem) != 0) return true;
  return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
         stem[3] >= '1' && stem[3] <= '9';
}

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The reader takes valid UTF-8 as UTF-8 and reads anything else in the
// system's code page: text the tool packs must be UTF-8 to mean the same on
// every system. A manifest is UTF-8 already; flags and file names may not be.
void RequireUtf8(std::string_view text, const std::string& refusal) {
  if (!format::IsValidUtf8(text)) throw ToolError(refusal);
}

// The one check of a stub name, given or taken from the stub's file name;
// `hint` ends the message.
void CheckStubName(const std::string& name, std::string_view hint) {
  RequireUtf8(name, "stub name " + Quoted(name) + " is not valid UTF-8" + std::string(hint));
  if (const std::string refused = RefusedFileName(name); !refused.empty()) {
    throw ToolError("stub name " + Quoted(name) + " " + refused + std::string(hint));
  }
}

// A key of the entry `what`: one the reader neither ignores nor leaves out of
// reach, and not one `keys` (the keys before it) holds already.
void CheckKey(const std::string& key, const std::string& what, std::set<std::string>& keys) {
  RequireUtf8(key, what + ": the key " + Quoted(key) + " is not valid UTF-8");
  if (format::IsBuiltInVariable(key)) {
    throw ToolError(what + ": the key " + Quoted(key) +
                    " is set by the reader itself, which would ignore this one");
  }
  if (key.find('%') != std::string::npos) {
    throw ToolError(what + ": the key " + Quoted(key) +
                    " contains \"%\" and could never be referred to");
  }
  if (!keys.insert(key).second) {
    throw ToolError(what + ": the key " + Quoted(key) + " is given twice");
  }
}

// The paths that a plan's files and trees make in the work directory, each
// with the directories it lies in, compared as Windows compares them
// (ignoring case): two paths that Windows takes for one must be written
// alike, and a path is a file or a directory, never both.
class WorkDirectoryPaths {
 public:
  // Adds `path`, a file when `file` is set, else a directory, and the
  // directories it lies in, all for `owner` (the entry, as messages name it).
  // Throws ToolError naming `owner` and the owner of what it collides with.
  void Add(std::string_view path, bool file, const std::string& owner) {
    for (size_t slash = path.find('/'); slash != std::string_view::npos;
         slash = path.find('/', slash + 1)) {
      AddOne(path.substr(0, slash), false, owner);
    }
    AddOne(path, file, owner);
  }

 private:
  struct Claim {
    std::string path;
    bool file;
    std::string owner;
  };

  void AddOne(std::string_view path, bool file, const std::string& owner) {
    const auto [entry, added] =
        claims_.try_emplace(Lowercase(std::string(path)), Claim{std::string(path), file, owner});
    if (added) return;
    const Claim& claim = entry->second;
    const std::string both = owner + " and " + claim.owner;
    if (claim.path != path) {
      throw ToolError(both + ": " + Quoted(path) + " and " + Quoted(claim.path) +
                      " differ only in case, and Windows takes them for one");
    }
    if (file && claim.file) throw ToolError(both + " are both extracted as " + Quoted(path));
    if (file || claim.file) {
      throw ToolError(both + ": " + Quoted(path) + " would be both a file and a directory");
    }
  }

  std::map<std::string, Claim> claims_;  // by the path lowercased
};

// A file's name: extractable, and not one of `names` (the names before it,
// lowercased: Windows compares file names without case), nor passing through
// one of them; then its key, if any.
void CheckFile(const FileEntry& file, std::set<std::string>& names, WorkDirectoryPaths& paths,
               std::set<std::string>& keys) {
  const std::string what = "file " + Quoted(file.name);
  RequireUtf8(file.name, what + ": the name is not valid UTF-8");
  if (const std::string refused = RefusedFilePath(file.name); !refused.empty()) {
    throw ToolError(what + ": the name " + refused);
  }
  if (!names.insert(Lowercase(file.name)).second) {
    throw ToolError(what + ": the name is given twice");
  }
  paths.Add(file.name, true, what);
  if (!file.key.empty()) CheckKey(file.key, what, keys);
}

// How messages name a tree's entry: by where it was found.
std::string TreeEntryOwner(const TreeEntry& entry) {
  const std::string where = entry.source.empty() ? entry.path : Utf8FromPath(entry.source);
  return (entry.directory ? "tree directory " : "tree file ") + Quoted(where);
}

// A value: a key that can be referred to, and a UTF-8 text.
void CheckValue(const ValueEntry& value, std::set<std::string>& keys) {
  if (value.key.empty()) {
    throw ToolError("a value has an empty key and could never be referred to");
  }
  CheckKey(value.key, "value " + Quoted(value.key), keys);
  RequireUtf8(value.text, "value " + Quoted(value.key) + ": the text is not valid UTF-8");
}

// How a refusal names the reader's limit on an expanded text.
std::string ExpandedSizeLimit() {
  constexpr size_t kMebibyte = size_t{1} << 20;
  static_assert(format::kMaxExpandedSize % kMebibyte == 0);
  return std::to_string(format::kMaxExpandedSize / kMebibyte) + " MiB";
}

// The variable table the reader would build from the plan's keyed files and
// values, with the placeholder work directory and no arguments. The keys are
// distinct (CheckKey), so the order the groups are read in does not matter.
format::VariableTable PlanVariables(const PackPlan& plan) {
  format::VariableTable table;
  format::SetBuiltInVariables(table, PlaceholderWorkDirectory(false), "");
  format::Group group;
  auto insert = [&](format::GroupKind kind, const std::string& key, const std::string& text) {
    group.kind = kind;
    group.key = key;
    (kind == format::GroupKind::kFile ? group.name : group.value) = text;
    format::InsertGroupVariable(table, group);
  };
  for (const FileEntry& file : plan.files) insert(format::GroupKind::kFile, file.key, file.name);
  for (const ValueEntry& value : plan.values) {
    insert(format::GroupKind::kValue, value.key, value.text);
  }
  return table;
}

// The reader starts nothing when the launch values expand beyond its limits:
// they are expanded from the plan's variables as the reader's launch expands
// them.
void CheckLaunchExpansion(const PackPlan& plan) {
  format::VariableTable table = PlanVariables(plan);
  for (const std::string_view name : format::kLaunchVariables) {
    if (!format::ExpandLaunchVariable(table, name)) {
      throw ToolError("value " + Quoted(name) + ": expands beyond what the reader allows (" +
                      ExpandedSizeLimit() + ", or too much work), so it would start nothing");
    }
  }
}

}  // namespace

void CheckPlan(const PackPlan& plan) {
  if (plan.stub_name) CheckStubName(*plan.stub_name, "");
  std::set<std::string> keys;
  std::set<std::string> names;
  WorkDirectoryPaths paths;
  for (const FileEntry& file : plan.files) CheckFile(file, names, paths, keys);
  for (const ValueEntry& value : plan.values) CheckValue(value, keys);
  CheckLaunchExpansion(plan);
}

void CheckTreeEntries(const PackPlan& plan, const std::vector<TreeEntry>& entries) {
  WorkDirectoryPaths paths;
  for (const FileEntry& file : plan.files) paths.Add(file.name, true, "file " + Quoted(file.name));
  std::unordered_set<std::string_view> directories;
  for (const TreeEntry& entry : entries) {
    paths.Add(entry.path, !entry.directory, TreeEntryOwner(entry));
    // The reader writes files under temporary names at the work directory's
    // top, and takes a tree whose top holds such a name for a damaged one.
    const std::string_view top = std::string_view(entry.path).substr(0, entry.path.find('/'));
    if (format::MayNameTemporaryFile(top)) {
      throw ToolError(TreeEntryOwner(entry) + ": the name " + Quoted(top) +
                      " begins as the reader's temporary files do (\"" +
                      std::string(format::kTemporaryFilePrefix) + "\"), at the top of the tree");
    }
    if (entry.directory) directories.insert(entry.path);
  }
  // Only trees make directories: a file put in one must go where a tree has
  // a directory.
  for (const FileEntry& file : plan.files) {
    const size_t slash = file.name.rfind('/');
    if (slash == std::string::npos) continue;
    const std::string_view parent = std::string_view(file.name).substr(0, slash);
    if (!directories.contains(parent)) {
      throw ToolError("file " + Quoted(file.name) + ": no tree has the directory " +
                      Quoted(parent) + "; the reader makes directories for trees only");
    }
  }
}

std::string RecordedStubName(const PackPlan& plan, const std::string& stub_file_name) {
  if (plan.stub_name) return *plan.stub_name;
  CheckStubName(stub_file_name, "; give one with --stub-name");
  return stub_file_name;
}

std::string RefusedFileName(std::string_view name) {
  if (name.empty()) return "is empty";
  if (format::IsFileNameTooLong(name)) return "is longer than any path Windows or Linux accepts";
  if (!format::IsContainedFileName(name)) return "leaves the work directory";
  if (name.find_first_of("/\\") != std::string_view::npos) return "has a directory part";
  if (name == ".") return "names a directory";
  return RefusedWindowsName(name);
}

std::string RefusedWindowsName(std::string_view part) {
  if (part.empty()) return "is empty";
  for (const char c : part) {
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::string_view("<>:\"|?*\\").find(c) != std::string_view::npos) {
      return "contains a character Windows does not allow in file names";
    }
  }
  if (part.back() == '.' || part.back() == ' ') {
    return "ends in a dot or space, which Windows drops";
  }
  if (IsReservedDeviceName(part)) return "is a device name on Windows";
  return {};
}

std::string RefusedFilePath(std::string_view path) {
  if (path.empty()) return "is empty";
  if (format::IsFileNameTooLong(path)) return "is longer than any path Windows or Linux accepts";
  if (!format::IsContainedFileName(path)) return "leaves the work directory";
  if (path.find('\\') != std::string_view::npos) {
    return "contains \"\\\", which Windows takes for a directory separator; separate "
           "directories with \"/\"";
  }
  if (path == ".") return "names a directory";
  const bool one_part = path.find('/') == std::string_view::npos;
  std::string refused;
  format::AnyNameComponent(path, [&](std::string_view part) {
    if (part.empty()) {
      refused = "has an empty part (a trailing \"/\" or two in a row)";
    } else if (part == ".") {
      refused = "has a \".\" part";
    } else if (const std::string why = RefusedWindowsName(part); !why.empty()) {
      refused = one_part ? why : "has a part " + Quoted(part) + " that " + why;
    }
    return !refused.empty();
  });
  return refused;
}

}  // namespace tool
