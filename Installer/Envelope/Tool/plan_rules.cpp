#include "plan_rules.h"

#include <unordered_set>

#include <algorithm>
#include <map>
#include <set>

#include "archive_catalog.h"
#include "envelope_text.h"
#include "file_names.h"
#include "launch.h"
#include "tool_error.h"
#include "utf8_path.h"
#include "variables.h"
#include "windows_names.h"
#include "work_directory_placeholder.h"

namespace tool {

namespace {

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
// (without case): two paths that Windows takes for one must be written
// alike, a path is a file or a directory, never both, and no name may be
// the short 8.3 name Windows may give a longer one beside it.
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

  // The first name of a directory that may be a made-up short name, and
  // the first that gets one, each with its owner.
  struct ShortNames {
    std::string short_form, short_owner, long_form, long_owner;
  };

  void AddOne(std::string_view path, bool file, const std::string& owner) {
    const auto [entry, added] =
        claims_.try_emplace(WindowsNameKey(path), Claim{std::string(path), file, owner});
    if (added) return CheckShortNames(path, owner);
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

  // Refuses a name that may be the short name Windows makes up for another
  // name beside it ("abcdefghij.txt" may be "ABCDEF~1.TXT"): at the top of
  // the work directory, where the reader's temporary files lie, any such
  // name; below it, one beside a name that gets a short name.
  void CheckShortNames(std::string_view path, const std::string& owner) {
    const size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const bool short_form = MayBeMadeUpShortName(name);
    if (!short_form && HasShortNameForm(name)) return;
    if (short_form && slash == std::string_view::npos) {
      throw ToolError(owner + ": the name " + Quoted(name) +
                      " may be the short 8.3 name Windows gives one of the reader's temporary "
                      "files (\"" +
                      std::string(format::kTemporaryFilePrefix) +
                      "...\") at the top of the work directory, and Windows takes them for one");
    }
    ShortNames& names =
        short_names_[WindowsNameKey(slash == std::string_view::npos ? "" : path.substr(0, slash))];
    std::string& mine = short_form ? names.short_form : names.long_form;
    if (mine.empty()) {
      mine = name;
      (short_form ? names.short_owner : names.long_owner) = owner;
    }
    if (names.short_form.empty() || names.long_form.empty()) return;
    throw ToolError(names.short_owner + " and " + names.long_owner + ": " +
                    Quoted(names.short_form) + " may be the short 8.3 name Windows gives " +
                    Quoted(names.long_form) + " beside it, and Windows takes them for one");
  }

  std::map<std::string, Claim> claims_;            // by WindowsNameKey of the path
  std::map<std::string, ShortNames> short_names_;  // by WindowsNameKey of the directory
};

// A file's name: extractable, and not one of `names` (the names before it,
// as WindowsNameKey gives them: Windows compares file names without case),
// nor passing through one of them; then its key, if any.
void CheckFile(const FileEntry& file, std::set<std::string>& names, WorkDirectoryPaths& paths,
               std::set<std::string>& keys) {
  const std::string what = "file " + Quoted(file.name);
  RequireUtf8(file.name, what + ": the name is not valid UTF-8");
  if (const std::string refused = RefusedFilePath(file.name); !refused.empty()) {
    throw ToolError(what + ": the name " + refused);
  }
  if (!names.insert(WindowsNameKey(file.name)).second) {
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
    if (static_cast<size_t>(std::count(entry.path.begin(), entry.path.end(), '/')) >=
        format::kMostPathNames) {
      throw ToolError(TreeEntryOwner(entry) + ": the path in the tree has more than " +
                      std::to_string(format::kMostPathNames) +
                      " parts; the reader makes no deeper tree");
    }
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

namespace {

// The longest name a file system holds: 255 bytes on Linux, 255 UTF-16
// units on Windows.
constexpr size_t kMostNameLength = 255;

// The longest path below the work directory that a Windows reader makes
// wherever it runs: the 32,767 UTF-16 units of a long path ("\\?\UNC\"
// and the path), less the longest temporary directory it works in (259
// units) and the work directory's name in it ("SF-2147483648\").
constexpr size_t kMostWindowsPathUnits = 32767 - 8 - 259 - 14;

// Why the reader on a Windows system (`windows`) or a POSIX one could not
// make `path`, or empty when it can.
std::string RefusedPathLength(std::string_view path, bool windows) {
  std::string refused;
  format::AnyNameComponent(path, [&](std::string_view name) {
    if ((windows ? Utf16Units(name) : name.size()) > kMostNameLength) {
      refused = "has a part longer than " + std::to_string(kMostNameLength) +
                (windows ? " UTF-16 units, which Windows cannot hold"
                         : " bytes, which Linux cannot hold");
    }
    return !refused.empty();
  });
  if (refused.empty() && windows && Utf16Units(path) > kMostWindowsPathUnits) {
    refused = "is longer than the " + std::to_string(kMostWindowsPathUnits) +
              " UTF-16 units a Windows reader can make below its work directory";
  }
  return refused;
}

}  // namespace

void CheckPathLengths(const PackPlan& plan, const std::vector<TreeEntry>& entries,
                      bool windows_stub) {
  for (const FileEntry& file : plan.files) {
    if (const std::string refused = RefusedPathLength(file.name, windows_stub); !refused.empty()) {
      throw ToolError("file " + Quoted(file.name) + ": the name " + refused);
    }
  }
  for (const TreeEntry& entry : entries) {
    if (const std::string refused = RefusedPathLength(entry.path, windows_stub); !refused.empty()) {
      throw ToolError(TreeEntryOwner(entry) + ": the path in the tree " + refused);
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
  switch (format::WindowsNameProblemOf(part)) {
    case format::WindowsNameProblem::kNone: return {};
    case format::WindowsNameProblem::kEmpty: return "is empty";
    case format::WindowsNameProblem::kReservedCharacter:
      return "contains a character Windows does not allow in file names";
    case format::WindowsNameProblem::kTrailingDotOrSpace:
      return "ends in a dot or space, which Windows drops";
    case format::WindowsNameProblem::kDeviceName: return "is a device name on Windows";
  }
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
