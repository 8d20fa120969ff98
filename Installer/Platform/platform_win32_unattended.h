// Inside the Win32 platform layer: what ReportMessage needs of the message
// log in platform_win32_unattended.cpp.
#pragma once

#include <string_view>

namespace platform {

// Appends the message to the message log as one line; false when there is no
// log or it cannot be written.
bool AppendToMessageLog(std::string_view text, std::string_view caption);

}  // namespace platform
