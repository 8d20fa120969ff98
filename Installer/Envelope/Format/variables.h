// The variable table and %name% expansion over it.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace format {

// Name -> value, ordered byte-wise. Two ways of writing: `emplace` inserts only
// a name that is not present yet (envelope values: the group nearest the end of
// the envelope wins, built-ins cannot be replaced); `operator[]` reads or
// overwrites, creating an empty value when absent (built-ins, the launch).
using VariableTable = std::map<std::string, std::string, std::less<>>;

// No substitution makes a text longer than this. It is far above any command
// line a system accepts (Windows takes 32,767 characters), so only an envelope
// whose values multiply each other reaches it.
inline constexpr size_t kMaxExpandedSize = size_t{1} << 20;

// The most work one expansion may do, counted in bytes copied or scanned, a
// name looked up counting as a few hundred: well under a second. Values that refer to one another
// many times over (each naming the next twice, thirty deep) end here instead
// of running for hours, even when what they produce is short.
inline constexpr size_t kMaxExpansionWork = size_t{256} << 20;

// Replaces each %name% whose name is in `table` by that name's value, itself
// expanded first. Unknown references stay as they are, percent signs included;
// the closing "%" of one candidate opens the next. Scanning resumes directly
// after an inserted value. A name that is already being expanded (a value that
// refers to itself, directly or through others) is left as it stands. Does not
// change the table.
//
// Nested values are expanded with a stack on the heap, so a long chain of
// values naming one another needs no more machine stack than a short one.
// Gives no text when the result or a value on the way would grow beyond
// kMaxExpandedSize, or the expansion beyond kMaxExpansionWork.
std::optional<std::string> ExpandVariables(const std::string& text, const VariableTable& table);

}  // namespace format
