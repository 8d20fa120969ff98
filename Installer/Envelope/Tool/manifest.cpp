#include "manifest.h"

#include <toml++/toml.h>
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "envelope_text.h"
#include "file_names.h"
#include "launch.h"
#include "tool_error.h"
#include "utf8_path.h"
#include "variables.h"

namespace tool {

namespace {

std::string Where(const std::filesystem::path& manifest, const toml::source_region& region) {
  return Utf8FromPath(manifest) + ":" + std::to_string(region.begin.line) + ":" +
         std::to_string(region.begin.column);
}

// The table's string entries, checking that nothing else is in it.
class EntryReader {
 public:
  EntryReader(const std::filesystem::path& manifest, const toml::table& table,
              std::initializer_list<std::string_view> known, std::string_view what)
      : manifest_(manifest), table_(table) {
    for (const auto& [key, node] : table) {
      if (std::find(known.begin(), known.end(), key.str()) == known.end()) {
        throw ToolError(Where(manifest, key.source()) + ": unknown key " + Quoted(key.str()) +
                        " in " + std::string(what));
      }
    }
  }

  std::optional<std::string> Optional(std::string_view key) const {
    const toml::node* node = table_.get(key);
    if (node == nullptr) return std::nullopt;
    if (!node->is_string()) {
      throw ToolError(Where(manifest_, node->source()) + ": " + std::string(key) +
                      " must be a string");
    }
    return node->as_string()->get();
  }

  std::optional<bool> OptionalFlag(std::string_view key) const {
    const toml::node* node = table_.get(key);
    if (node == nullptr) return std::nullopt;
    if (!node->is_boolean()) {
      throw ToolError(Where(manifest_, node->source()) + ": " + std::string(key) +
                      " must be true or false");
    }
    return node->as_boolean()->get();
  }

  std::string Required(std::string_view key) const {
    if (auto text = Optional(key)) return *text;
    throw ToolError(Where(manifest_, table_.source()) + ": missing " + std::string(key));
  }

 private:
  const std::filesystem::path& manifest_;
  const toml::table& table_;
};

// The tables of an array of tables such as [[file]].
std::vector<const toml::table*> Tables(const std::filesystem::path& manifest,
                                       const toml::table& root, std::string_view key) {
  std::vector<const toml::table*> tables;
  const toml::node* node = root.get(key);
  if (node == nullptr) return tables;
  const toml::array* array = node->as_array();
  if (array == nullptr || !array->is_array_of_tables()) {
    throw ToolError(Where(manifest, node->source()) + ": " + std::string(key) +
                    " must be written as [[" + std::string(key) + "]] tables");
  }
  for (const toml::node& element : *array) tables.push_back(element.as_table());
  return tables;
}

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

}  // namespace

PackPlan ReadManifest(const std::filesystem::path& manifest) {
  // Read here rather than by toml++, whose file opening takes a narrow path,
  // which Windows reads in the ANSI code page.
  std::ifstream file(manifest, std::ios::binary);
  if (!file) {
    throw ToolError("cannot read the manifest " + Quoted(Utf8FromPath(manifest)) + ": " +
                    std::strerror(errno));
  }
  std::ostringstream text;
  text << file.rdbuf();
  toml::table root;
  try {
    root = toml::parse(text.str(), Utf8FromPath(manifest));
  } catch (const toml::parse_error& error) {
    throw ToolError(Where(manifest, error.source()) + ": " + std::string(error.description()));
  }
  const std::filesystem::path base = manifest.parent_path();

  PackPlan plan;
  EntryReader top(manifest, root, {"stub_name", "exit_codes", "file", "value"}, "the manifest");
  plan.stub_name = top.Optional("stub_name");
  plan.exit_codes = top.OptionalFlag("exit_codes").value_or(false);
  for (const toml::table* table : Tables(manifest, root, "file")) {
    EntryReader entry(manifest, *table, {"key", "name", "source"}, "a [[file]]");
    plan.files.push_back({entry.Optional("key").value_or(""), entry.Required("name"),
                          base / PathFromUtf8(entry.Required("source"))});
  }
  for (const toml::table* table : Tables(manifest, root, "value")) {
    EntryReader entry(manifest, *table, {"key", "text"}, "a [[value]]");
    plan.values.push_back({entry.Required("key"), entry.Required("text")});
  }
  return plan;
}

FileEntry ParseFileFlag(std::string_view flag) {
  const size_t colon = flag.find(':');
  const size_t equals = flag.find('=', colon == std::string_view::npos ? 0 : colon);
  if (colon == std::string_view::npos || equals == std::string_view::npos) {
    throw ToolError("--file " + Quoted(flag) + ": expected KEY:NAME=PATH (KEY may be empty)");
  }
  return {std::string(flag.substr(0, colon)),
          std::string(flag.substr(colon + 1, equals - colon - 1)),
          PathFromUtf8(flag.substr(equals + 1))};
}

ValueEntry ParseValueFlag(std::string_view flag) {
  const size_t equals = flag.find('=');
  if (equals == std::string_view::npos) {
    throw ToolError("--value " + Quoted(flag) + ": expected KEY=TEXT");
  }
  return {std::string(flag.substr(0, equals)), std::string(flag.substr(equals + 1))};
}

std::string RefusedFileName(std::string_view name) {
  if (name.empty()) return "is empty";
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

void CheckPlan(const PackPlan& plan) {
  // The reader takes valid UTF-8 as UTF-8 and reads anything else in the
  // system's code page: text the tool packs must be UTF-8 to mean the same on
  // every system. A manifest is UTF-8 already; flags may not be.
  if (plan.stub_name && !format::IsValidUtf8(*plan.stub_name)) {
    throw ToolError("stub name " + Quoted(*plan.stub_name) + " is not valid UTF-8");
  }
  if (plan.stub_name && !RefusedFileName(*plan.stub_name).empty()) {
    throw ToolError("stub name " + Quoted(*plan.stub_name) + " " +
                    RefusedFileName(*plan.stub_name));
  }
  std::set<std::string> keys;
  auto check_key = [&](const std::string& key, const std::string& what) {
    if (!format::IsValidUtf8(key)) {
      throw ToolError(what + ": the key " + Quoted(key) + " is not valid UTF-8");
    }
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
  };

  std::set<std::string> names;  // Windows compares file names without case
  for (const FileEntry& file : plan.files) {
    const std::string what = "file " + Quoted(file.name);
    if (!format::IsValidUtf8(file.name)) throw ToolError(what + ": the name is not valid UTF-8");
    if (const std::string refused = RefusedFileName(file.name); !refused.empty()) {
      throw ToolError(what + ": the name " + refused);
    }
    if (!names.insert(Lowercase(file.name)).second) {
      throw ToolError(what + ": the name is given twice");
    }
    if (!file.key.empty()) check_key(file.key, what);
  }
  for (const ValueEntry& value : plan.values) {
    if (value.key.empty()) {
      throw ToolError("a value has an empty key and could never be referred to");
    }
    check_key(value.key, "value " + Quoted(value.key));
    if (!format::IsValidUtf8(value.text)) {
      throw ToolError("value " + Quoted(value.key) + ": the text is not valid UTF-8");
    }
  }

  // The reader starts nothing when the launch values expand beyond its limits.
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

}  // namespace tool
