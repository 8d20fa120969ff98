#include "text.h"

#include <cstdarg>
#include <cstdio>

std::string FormatText(const char* format, ...) {
  std::string text(1024, '\0');
  for (;;) {
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text.data(), text.size() + 1, format, arguments);
    va_end(arguments);
    if (length < 0) return {};
    const size_t needed = static_cast<size_t>(length);
    if (needed <= text.size()) {
      text.resize(needed);
      return text;
    }
    text.resize(needed);
  }
}
