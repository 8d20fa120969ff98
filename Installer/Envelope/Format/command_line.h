// Command lines as Windows programs receive them: one text that the Microsoft
// C runtime splits into arguments. The POSIX reader turns its argv into such a
// text (so that `commandline` means the same on both systems) and splits the
// expanded parameters back into argv for the program it starts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace format {

// Quotes one argument when it is empty or holds a space, tab, newline or
// double quote, so that SplitCommandLine gives it back unchanged.
std::string QuoteCommandLineArgument(std::string_view argument);

// Joins arguments with single spaces, each quoted as needed.
std::string JoinCommandLine(const std::vector<std::string>& arguments);

// Splits a command-line text by the Microsoft C runtime's rules: spaces and
// tabs separate arguments outside quotes; 2n backslashes before a double quote
// give n backslashes and the quote toggles quoting; 2n+1 give n backslashes and
// a literal quote; other backslashes are literal.
std::vector<std::string> SplitCommandLine(std::string_view text);

// The command-line tail of a whole command line (a program's own name first),
// as the C runtime hands it to WinMain: the first word is skipped, where any
// character up to the space ends it outside double quotes and each quote
// toggles quoting, and so is the white space (any character up to the space)
// that follows it. The rest is returned verbatim. Bytes of multi-byte UTF-8
// characters are never white space.
std::string_view CommandLineTail(std::string_view command_line);

}  // namespace format
