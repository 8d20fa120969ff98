// Text as the system itself reads and compares it: the bytes of its ANSI code
// page, and the upper case it compares names by. Implemented per system in
// platform_posix_text.cpp and platform_win32_text.cpp. See platform_system.h
// for the rules every platform header follows.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The bytes `text`, written in the system's ANSI code page, as UTF-8. Windows:
// read exactly as the ANSI Win32 calls read them. POSIX: the bytes unchanged,
// as there is no such code page.
std::string SystemCodePageToUtf8(std::string_view text);

// Sets `upper` to the upper-case form of the character `c` (a Unicode code
// point), for comparing names without case. Windows: the casing its file
// systems compare names by (the invariant one, without linguistic rules),
// `c` itself where the system gives none. POSIX: the C library's Unicode
// casing (the C.UTF-8 locale), which knows the same pairs; false when the
// system has no such locale.
bool UnicodeUpperCase(char32_t c, char32_t& upper);

}  // namespace platform
