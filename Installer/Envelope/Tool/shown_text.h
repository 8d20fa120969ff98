// Envelope text as a Windows reader shows and uses it, for `envelope list`
// and `envelope verify`.
#pragma once

#include <string>
#include <string_view>

namespace tool {

// `text` as the Windows reader reads it on a Western system: itself when it
// is valid UTF-8, else each byte read in code page 1252 (Western Windows' ANSI
// code page, and Wine's by default). On Windows the tool has already read such
// text in the system's own code page, and it is valid UTF-8 by then.
std::string ShownText(std::string_view text);

}  // namespace tool
