// The variable table and %name% expansion over it.
#pragma once

#include <functional>
#include <map>
#include <string>

// Name -> value, ordered byte-wise. Two ways of writing: `emplace` inserts only
// a name that is not present yet (envelope values: the group nearest the end of
// the envelope wins, built-ins cannot be replaced); `operator[]` reads or
// overwrites, creating an empty value when absent (built-ins, the launch).
using VariableTable = std::map<std::string, std::string, std::less<>>;

// Replaces each %name% whose name is in `table` by that name's value, itself
// expanded first. Unknown references stay as they are, percent signs included;
// the closing "%" of one candidate opens the next. Scanning resumes directly
// after an inserted value. A name that is already being expanded (a value that
// refers to itself, directly or through others) is left as it stands. Does not
// change the table.
std::string ExpandVariables(const std::string& text, const VariableTable& table);
