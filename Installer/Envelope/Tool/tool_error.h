// The one kind of failure the envelope tool reports: a one-line message for
// standard error, after which the command stops without writing anything.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace tool {

class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};

// `text` between double quotes for a message, so that a hostile name cannot
// garble the terminal: printable ASCII and UTF-8 characters as they are,
// control bytes and bytes that are not UTF-8 as \xNN, and characters that
// hide or reorder text (C1 controls, direction and zero-width marks) as
// \uNNNN. Quotes and backslashes inside stay as they are, for readable command
// lines.
std::string Quoted(std::string_view text);

// `text` written as Quoted writes it, without the quotes around it: for
// output that separates texts otherwise, such as extract's name=value lines.
std::string Escaped(std::string_view text);

}  // namespace tool
