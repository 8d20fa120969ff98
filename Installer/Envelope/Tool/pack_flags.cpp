#include "pack_flags.h"

#include <string>

#include "tool_error.h"
#include "utf8_path.h"

namespace tool {

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

TreeSource ParseTreeFlag(std::string_view flag) {
  if (flag.empty()) throw ToolError("--tree \"\": expected a directory");
  return {PathFromUtf8(flag)};
}

namespace {

struct NamedCompression {
  std::string_view name;
  writer::Compression compression;
};
constexpr NamedCompression kCompressions[] = {{"none", writer::Compression::kNone},
                                              {"fast", writer::Compression::kFast},
                                              {"best", writer::Compression::kBest}};

}  // namespace

std::optional<writer::Compression> CompressionNamed(std::string_view name) {
  for (const NamedCompression& entry : kCompressions) {
    if (entry.name == name) return entry.compression;
  }
  return std::nullopt;
}

std::string_view CompressionName(writer::Compression compression) {
  for (const NamedCompression& entry : kCompressions) {
    if (entry.compression == compression) return entry.name;
  }
  return "none";
}

writer::Compression ParseCompressionFlag(std::string_view flag) {
  if (const auto compression = CompressionNamed(flag)) return *compression;
  throw ToolError("--compression " + Quoted(flag) + ": expected " + std::string(kCompressionNames));
}

}  // namespace tool
