// Text on POSIX systems: no code page, and the C library's Unicode casing.
#include <locale.h>

#include <cwctype>

#include "platform_text.h"

namespace platform {

std::string SystemCodePageToUtf8(std::string_view text) { return std::string(text); }

bool UnicodeUpperCase(char32_t c, char32_t& upper) {
  static const locale_t unicode = [] {
    locale_t found = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (found == static_cast<locale_t>(nullptr)) {
      found = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
    }
    return found;
  }();
  if (unicode == static_cast<locale_t>(nullptr)) return false;
  upper = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), unicode));
  return true;
}

}  // namespace platform
