// Writing an installer: the stub, its stub group, the file groups, the value
// groups, the option groups and the tail record.
#pragma once

#include <filesystem>

#include "pack_plan.h"

namespace tool {

// Packs `plan` onto the reader program `stub` as `output`. Every input is
// checked before anything is written; the installer is written to a
// temporary file beside `output` and renamed into place when complete, with
// the stub's permissions. Throws ToolError.
void PackInstaller(const std::filesystem::path& stub, const PackPlan& plan,
                   const std::filesystem::path& output);

}  // namespace tool
