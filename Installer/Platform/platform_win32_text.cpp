// Text on Windows: the ANSI code page, and the file systems' casing, through
// the wide (UTF-16) Win32 calls.
#include <windows.h>

#include <climits>

#include "platform_text.h"
#include "win32_text.h"

namespace platform {

std::string SystemCodePageToUtf8(std::string_view text) {
  if (text.empty()) return {};
  // Longer than any text a record holds in memory: no int length to convert.
  if (text.size() > static_cast<size_t>(INT_MAX)) return std::string(text);
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return std::string(text);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
  return Utf8FromWide(wide);
}

bool UnicodeUpperCase(char32_t c, char32_t& upper) {
  wchar_t units[2];
  const int size = c < 0x10000 ? 1 : 2;
  if (size == 1) {
    units[0] = static_cast<wchar_t>(c);
  } else {
    units[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  }
  wchar_t mapped[2];
  // Without LCMAP_LINGUISTIC_CASING: the casing of file systems.
  if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, units, size, mapped, size, nullptr,
                    nullptr, 0) != size) {
    upper = c;
  } else if (size == 1) {
    upper = mapped[0];
  } else {
    upper = 0x10000 + ((static_cast<char32_t>(mapped[0]) - 0xD800) << 10) +
            (static_cast<char32_t>(mapped[1]) - 0xDC00);
  }
  return true;
}

}  // namespace platform
