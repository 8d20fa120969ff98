#include "utf8_path.h"

#include <cstdint>

#include "envelope_text.h"
#include "tool_error.h"

namespace tool {

std::filesystem::path PathFromUtf8(std::string_view text) {
#ifdef _WIN32
  try {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
  } catch (const std::exception&) {  // the conversion's report of a malformed sequence
    throw ToolError("the path " + Quoted(text) + " is not UTF-8 text");
  }
#else
  return std::filesystem::path(text);
#endif
}

std::string Utf8FromPath(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
#else
  return path.string();
#endif
}

std::optional<std::string> Utf8FromUtf16(std::u16string_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xDC00 && code <= 0xDFFF) return std::nullopt;  // a low surrogate first
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
        return std::nullopt;
      }
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00u);
    }
    format::AppendUtf8(utf8, code);
  }
  return utf8;
}

}  // namespace tool
