// How Windows tells file names apart, for what pack refuses: names it takes
// for one (without case, as its file systems compare them), and the short
// 8.3 names it may give a longer name beside the long one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tool {

// `text` (UTF-8) with every character in its upper-case form, as Windows
// compares file names: two names with the same key are one name to Windows
// ("É.txt" and "é.txt", "Σ" and "σ" and "ς"), as platform::UnicodeUpperCase
// gives it. Throws ToolError where no Unicode casing can be had.
std::string WindowsNameKey(std::string_view text);

// Whether `name` (one name, no separator) has the 8.3 form: at most 8
// characters, then at most a dot and 3 more, of the characters short names
// may hold. Windows gives a name without it a short name of that form too.
bool HasShortNameForm(std::string_view name);

// Whether `name` may be a short name Windows makes up for a longer one
// beside it: of the 8.3 form, with a "~" ("PROGRA~1", "ABCD~AUF.TXT").
bool MayBeMadeUpShortName(std::string_view name);

// How many UTF-16 units the UTF-8 text `text` takes.
size_t Utf16Units(std::string_view text);

}  // namespace tool
