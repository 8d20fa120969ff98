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

// `text` between double quotes for a message, with control and non-ASCII
// bytes written as \xNN, so that a hostile name cannot garble the terminal.
// Quotes and backslashes inside stay as they are, for readable command lines.
std::string Quoted(std::string_view text);

}  // namespace tool
