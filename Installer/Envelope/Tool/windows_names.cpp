#include "windows_names.h"

#include "envelope_text.h"
#include "platform_text.h"
#include "tool_error.h"

namespace tool {

namespace {

// Calls `each` with every character of `text`: the code point of each
// well-formed UTF-8 sequence, and a byte that begins none as itself.
template <typename Each>
void ForEachCharacter(std::string_view text, Each each) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = format::Utf8SequenceLength(text.substr(at));
    if (length == 0) {
      each(static_cast<char32_t>(static_cast<unsigned char>(text[at])), false);
      ++at;
    } else {
      each(format::Utf8CodePoint(text.substr(at, length)), true);
      at += length;
    }
  }
}

// The upper-case form of `c` that Windows compares file names by.
char32_t UpperCase(char32_t c) {
  char32_t upper = c;
  if (!platform::UnicodeUpperCase(c, upper)) {
    throw ToolError(
        "the C.UTF-8 locale is missing, so names cannot be compared as Windows compares them");
  }
  return upper;
}

}  // namespace

std::string WindowsNameKey(std::string_view text) {
  std::string key;
  key.reserve(text.size());
  ForEachCharacter(text, [&](char32_t c, bool character) {
    if (!character) {
      key += static_cast<char>(c);
    } else if (c < 0x80) {
      key += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    } else {
      format::AppendUtf8(key, UpperCase(c));
    }
  });
  return key;
}

bool HasShortNameForm(std::string_view name) {
  const size_t dot = name.find('.');
  const std::string_view base = name.substr(0, dot);
  const std::string_view extension =
      dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  if (base.empty() || (dot != std::string_view::npos && extension.empty())) return false;
  size_t base_characters = 0, extension_characters = 0;
  bool allowed = true;
  const auto count = [&](std::string_view part, size_t& characters) {
    ForEachCharacter(part, [&](char32_t c, bool) {
      ++characters;
      // Letters, digits and these marks; any character beyond ASCII may
      // have a form in the system's OEM code page.
      if (c < 0x80 &&
          !((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::string_view("$%'-_@~`!(){}^#&").find(static_cast<char>(c)) !=
                std::string_view::npos)) {
        allowed = false;
      }
    });
  };
  count(base, base_characters);
  count(extension, extension_characters);
  return allowed && base_characters <= 8 && extension_characters <= 3;
}

bool MayBeMadeUpShortName(std::string_view name) {
  return name.find('~') != std::string_view::npos && HasShortNameForm(name);
}

size_t Utf16Units(std::string_view text) {
  size_t units = 0;
  ForEachCharacter(text, [&](char32_t c, bool) { units += c >= 0x10000 ? 2 : 1; });
  return units;
}

}  // namespace tool
