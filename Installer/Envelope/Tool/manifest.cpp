#include "manifest.h"

#include <toml++/toml.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "pack_flags.h"
#include "tool_error.h"
#include "utf8_path.h"

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

  // A compression level by its name.
  std::optional<writer::Compression> OptionalCompression(std::string_view key) const {
    const std::optional<std::string> name = Optional(key);
    if (!name) return std::nullopt;
    if (const auto compression = CompressionNamed(*name)) return compression;
    throw ToolError(Where(manifest_, table_.get(key)->source()) + ": " + std::string(key) + " " +
                    Quoted(*name) + " is unknown: use " + std::string(kCompressionNames));
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

// The manifest at `manifest`, parsed; throws ToolError when it cannot be
// read or is no TOML.
toml::table ParseManifest(const std::filesystem::path& manifest) {
  // Read here rather than by toml++, whose file opening takes a narrow path,
  // which Windows reads in the ANSI code page.
  std::ifstream file(manifest, std::ios::binary);
  if (!file) {
    throw ToolError("cannot read the manifest " + Quoted(Utf8FromPath(manifest)) + ": " +
                    std::strerror(errno));
  }
  std::ostringstream text;
  text << file.rdbuf();
  try {
    return toml::parse(text.str(), Utf8FromPath(manifest));
  } catch (const toml::parse_error& error) {
    throw ToolError(Where(manifest, error.source()) + ": " + std::string(error.description()));
  }
}

// The plan the parsed manifest `root` lists, its sources relative to the
// manifest's directory; throws ToolError at the first entry that is wrong.
PackPlan PlanOfManifest(const std::filesystem::path& manifest, const toml::table& root) {
  const std::filesystem::path base = manifest.parent_path();
  PackPlan plan;
  EntryReader top(manifest, root,
                  {"stub_name", "exit_codes", "compression", "file", "tree", "value"},
                  "the manifest");
  plan.stub_name = top.Optional("stub_name");
  plan.exit_codes = top.OptionalFlag("exit_codes").value_or(false);
  plan.compression = top.OptionalCompression("compression").value_or(plan.compression);
  for (const toml::table* table : Tables(manifest, root, "file")) {
    EntryReader entry(manifest, *table, {"key", "name", "source", "compression"}, "a [[file]]");
    plan.files.push_back({entry.Optional("key").value_or(""), entry.Required("name"),
                          base / PathFromUtf8(entry.Required("source")),
                          entry.OptionalCompression("compression")});
  }
  for (const toml::table* table : Tables(manifest, root, "tree")) {
    EntryReader entry(manifest, *table, {"source", "compression"}, "a [[tree]]");
    plan.trees.push_back(
        {base / PathFromUtf8(entry.Required("source")), entry.OptionalCompression("compression")});
  }
  for (const toml::table* table : Tables(manifest, root, "value")) {
    EntryReader entry(manifest, *table, {"key", "text"}, "a [[value]]");
    plan.values.push_back({entry.Required("key"), entry.Required("text")});
  }
  return plan;
}

}  // namespace

PackPlan ReadManifest(const std::filesystem::path& manifest) {
  return PlanOfManifest(manifest, ParseManifest(manifest));
}

}  // namespace tool
