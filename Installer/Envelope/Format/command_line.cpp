#include "command_line.h"

namespace format {

std::string QuoteCommandLineArgument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\"") == std::string_view::npos) {
    return std::string(argument);
  }
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char ch : argument) {
    if (ch == '\\') {
      ++backslashes;
      continue;
    }
    if (ch == '"') {
      quoted.append(2 * backslashes + 1, '\\');  // escape them and the quote
    } else {
      quoted.append(backslashes, '\\');  // literal before any other character
    }
    quoted += ch;
    backslashes = 0;
  }
  quoted.append(2 * backslashes, '\\');  // they precede the closing quote
  quoted += '"';
  return quoted;
}

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) {
    if (&argument != &arguments.front()) text += ' ';
    text += QuoteCommandLineArgument(argument);
  }
  return text;
}

std::vector<std::string> SplitCommandLine(std::string_view text) {
  std::vector<std::string> arguments;
  size_t i = 0;
  const size_t n = text.size();
  for (;;) {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i == n) return arguments;
    std::string argument;
    bool quoted = false;
    while (i < n && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
      if (text[i] == '\\') {
        size_t backslashes = 0;
        while (i < n && text[i] == '\\') ++backslashes, ++i;
        if (i < n && text[i] == '"') {
          argument.append(backslashes / 2, '\\');
          if (backslashes % 2 == 1) {
            argument += '"';
            ++i;
          }
          // With an even count the quote is handled as a quote below.
        } else {
          argument.append(backslashes, '\\');
        }
        continue;
      }
      if (text[i] == '"') {
        quoted = !quoted;
      } else {
        argument += text[i];
      }
      ++i;
    }
    arguments.push_back(std::move(argument));
  }
}

std::string_view CommandLineTail(std::string_view command_line) {
  const auto is_blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t i = 0;
  bool quoted = false;
  while (i < command_line.size() && (quoted || !is_blank(command_line[i]))) {
    if (command_line[i] == '"') quoted = !quoted;
    ++i;
  }
  while (i < command_line.size() && is_blank(command_line[i])) ++i;
  return command_line.substr(i);
}

}  // namespace format
