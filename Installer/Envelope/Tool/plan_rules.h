// The rules a plan must meet before it is packed: what the reader would not
// carry out as written is refused here, before anything is written.
#pragma once

#include <string>
#include <string_view>

#include "pack_plan.h"

namespace tool {

// Refuses a plan that the reader would not carry out as written: keys, names,
// texts or a stub name that are not valid UTF-8 (the reader would read them
// in the system's code page), keys it ignores or can never refer to, keys or
// file names given twice, names it cannot extract, and launch values that
// expand beyond the reader's limits. Throws ToolError for the first problem
// found.
void CheckPlan(const PackPlan& plan);

// The name the stub group records: the plan's stub name when it gives one
// (CheckPlan has checked it), else `stub_file_name`, the stub's own file name,
// refused as a given one would be, with a hint to give another. Throws
// ToolError.
std::string RecordedStubName(const PackPlan& plan, const std::string& stub_file_name);

// Why the reader could not extract a file under `name`, or empty when it can.
std::string RefusedFileName(std::string_view name);

}  // namespace tool
