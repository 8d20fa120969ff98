// The command-line forms of a plan's entries, --file KEY:NAME=PATH,
// --tree DIR and --value KEY=TEXT, and the names of the compression levels, which the
// command line and the manifest share.
#pragma once

#include <optional>
#include <string_view>

#include "pack_plan.h"

namespace tool {

// Parses the flag forms KEY:NAME=PATH and KEY=TEXT, each split at its first
// colon and the first equals sign after it. Throws ToolError.
FileEntry ParseFileFlag(std::string_view flag);
ValueEntry ParseValueFlag(std::string_view flag);

// Parses the flag form DIR, a directory whose tree is packed at the plan's
// compression. Throws ToolError for an empty one.
TreeSource ParseTreeFlag(std::string_view flag);

// The names of the compression levels, as written on the command line and
// in manifests.
inline constexpr std::string_view kCompressionNames = "none, fast or best";
// The level `name` ("none", "fast" or "best") names, or nothing.
std::optional<writer::Compression> CompressionNamed(std::string_view name);
// The name of `compression`.
std::string_view CompressionName(writer::Compression compression);
// The level given with --compression; throws ToolError naming the choices.
writer::Compression ParseCompressionFlag(std::string_view flag);

}  // namespace tool
