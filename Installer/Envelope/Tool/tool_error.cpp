#include "tool_error.h"

#include <cstdio>

#include "envelope_text.h"

namespace tool {

namespace {

// Characters that move or hide text on a terminal: the C1 controls, the
// zero-width and direction marks, the line and paragraph separators, the
// direction embeddings, overrides and isolates, and the byte order mark.
bool IsHiddenOrControl(char32_t c) {
  return (c >= 0x80 && c <= 0x9F) || (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF;
}

}  // namespace

std::string Quoted(std::string_view text) {
  // Appended piece by piece: GCC 12 mistakes "\"" + ... + "\"" for an
  // overlapping copy (-Wrestrict) in optimised builds.
  std::string quoted = "\"";
  quoted += Escaped(text);
  quoted += '"';
  return quoted;
}

std::string Escaped(std::string_view text) {
  std::string escaped;
  size_t at = 0;
  while (at < text.size()) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte >= 0x20 && byte < 0x7f) {
      escaped += text[at++];
      continue;
    }
    const size_t length = byte >= 0x80 ? format::Utf8SequenceLength(text.substr(at)) : 0;
    char escape[16];
    if (length == 0) {  // a control character, or a byte that is not UTF-8
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      ++at;
    } else if (const char32_t c = format::Utf8CodePoint(text.substr(at, length));
               IsHiddenOrControl(c)) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      at += length;
    } else {
      escaped.append(text.substr(at, length));
      at += length;
      continue;
    }
    escaped += escape;
  }
  return escaped;
}

}  // namespace tool
