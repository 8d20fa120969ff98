#include "win32_text.h"

#include <windows.h>

// Windows' wchar_t is one UTF-16 unit.
static_assert(sizeof(wchar_t) == 2);

namespace platform {

namespace {

constexpr wchar_t kReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf8(std::string& text, char32_t code_point) {
  if (code_point < 0x80) {
    text += static_cast<char>(code_point);
    return;
  }
  if (code_point < 0x800) {
    text += static_cast<char>(0xC0 | (code_point >> 6));
  } else if (code_point < 0x10000) {
    text += static_cast<char>(0xE0 | (code_point >> 12));
    text += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (code_point >> 18));
    text += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  }
  text += static_cast<char>(0x80 | (code_point & 0x3F));
}

}  // namespace

std::wstring WideFromUtf8(std::string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
      wide += static_cast<wchar_t>(lead);
      ++at;
      continue;
    }
    // The sequence's length, the lead byte's bits, and the lowest code point
    // of that length (anything lower is an overlong form). A stray
    // continuation byte, C0, C1 and F5 to FF lead nothing: length 0.
    const size_t length = lead >= 0xF0   ? (lead <= 0xF4 ? 4 : 0)
                          : lead >= 0xE0 ? 3
                          : lead >= 0xC2 ? 2
                                         : 0;
    static constexpr char32_t kLowest[] = {0, 0, 0x80, 0x800, 0x10000};
    char32_t code_point = lead & (0x7F >> length);
    size_t used = 1;
    while (used < length && at + used < text.size() &&
           (static_cast<unsigned char>(text[at + used]) & 0xC0) == 0x80) {
      code_point = (code_point << 6) | (static_cast<unsigned char>(text[at + used]) & 0x3F);
      ++used;
    }
    at += used;
    if (length == 0 || used < length || code_point < kLowest[length] || code_point > 0x10FFFF) {
      wide += kReplacementCharacter;
    } else if (code_point >= 0x10000) {
      code_point -= 0x10000;
      wide += static_cast<wchar_t>(0xD800 + (code_point >> 10));
      wide += static_cast<wchar_t>(0xDC00 + (code_point & 0x3FF));
    } else {
      wide += static_cast<wchar_t>(code_point);  // a lone surrogate's form included
    }
  }
  return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (size_t at = 0; at < text.size(); ++at) {
    const char32_t unit = static_cast<char16_t>(text[at]);
    if (IsHighSurrogate(unit) && at + 1 < text.size() &&
        IsLowSurrogate(static_cast<char16_t>(text[at + 1]))) {
      const char32_t low = static_cast<char16_t>(text[++at]);
      AppendUtf8(utf8, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    } else {
      AppendUtf8(utf8, unit);
    }
  }
  return utf8;
}

std::wstring WidePath(std::string_view path) {
  std::wstring wide = WideFromUtf8(path);
  // A directory's path leaves room for a file name of 8.3 characters. Only
  // a full path with a drive ("C:\...") is given the long form; any other
  // stays as it is.
  constexpr size_t kOrdinaryPathUnits = MAX_PATH - 12;
  if (wide.size() < kOrdinaryPathUnits || wide[1] != L':' || wide[2] != L'\\') return wide;
  return L"\\\\?\\" + wide;
}

}  // namespace platform
