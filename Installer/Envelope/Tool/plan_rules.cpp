#include "plan_rules.h"

#include <cctype>
#include <set>

#include "envelope_text.h"
#include "file_names.h"
#include "launch.h"
#include "tool_error.h"
#include "variables.h"

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

// A file's name: extractable, and not one of `names` (the names before it,
// lowercased: Windows compares file names without case); then its key, if any.
void CheckFile(const FileEntry& file, std::set<std::string>& names, std::set<std::string>& keys) {
  const std::string what = "file " + Quoted(file.name);
  RequireUtf8(file.name, what + ": the name is not valid UTF-8");
  if (const std::string refused = RefusedFileName(file.name); !refused.empty()) {
    throw ToolError(what + ": the name " + refused);
  }
  if (!names.insert(Lowercase(file.name)).second) {
    throw ToolError(what + ": the name is given twice");
  }
  if (!file.key.empty()) CheckKey(file.key, what, keys);
}

// A value: a key that can be referred to, and a UTF-8 text.
void CheckValue(const ValueEntry& value, std::set<std::string>& keys) {
  if (value.key.empty()) {
    throw ToolError("a value has an empty key and could never be referred to");
  }
  CheckKey(value.key, "value " + Quoted(value.key), keys);
  RequireUtf8(value.text, "value " + Quoted(value.key) + ": the text is not valid UTF-8");
}

// The reader starts nothing when the launch values expand beyond its limits:
// the plan's variables are set as the reader would set them, and the launch
// values expanded.
void CheckLaunchExpansion(const PackPlan& plan) {
  format::VariableTable table;
  format::SetBuiltInVariables(table, "<work>/", "");
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
  for (const std::string_view name : {format::kExecutableVariable, format::kParametersVariable}) {
    const auto entry = table.find(name);
    if (entry != table.end() && !format::ExpandVariables(entry->second, table)) {
      throw ToolError("value " + Quoted(name) +
                      ": expands beyond what the reader allows (1 MiB, or too much work), so it "
                      "would start nothing");
    }
  }
}

}  // namespace

void CheckPlan(const PackPlan& plan) {
  if (plan.stub_name) CheckStubName(*plan.stub_name, "");
  std::set<std::string> keys;
  std::set<std::string> names;
  for (const FileEntry& file : plan.files) CheckFile(file, names, keys);
  for (const ValueEntry& value : plan.values) CheckValue(value, keys);
  CheckLaunchExpansion(plan);
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
  if (name.find_first_of("/\\") != std::string_view::npos) {
    return "has a directory part, and the reader creates no directories";
  }
  if (name == "." || name == "..") return "names a directory";
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::string_view("<>:\"|?*").find(c) != std::string_view::npos) {
      return "contains a character Windows does not allow in file names";
    }
  }
  if (name.back() == '.' || name.back() == ' ') {
    return "ends in a dot or space, which Windows drops";
  }
  if (IsReservedDeviceName(name)) return "is a device name on Windows";
  return {};
}

}  // namespace tool
