// UTF-8 and the UTF-16 of the wide Win32 calls, for the Windows platform
// layer (and the Windows entry point, which reads its command line here).
//
// Windows names are sequences of 16-bit units that need not be valid UTF-16:
// a file may be named with an unpaired surrogate. Such a unit is carried in
// UTF-8 as the three-byte form of its code point (as WTF-8 does), so that a
// name read from the system and given back names the same entry.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// `text` as UTF-16. The three-byte forms of surrogates become those units;
// bytes that form no UTF-8 sequence become U+FFFD each.
std::wstring WideFromUtf8(std::string_view text);

// `text` as UTF-8; a surrogate that is not part of a pair is written as the
// three-byte form of its code point.
std::string Utf8FromWide(std::wstring_view text);

// The path `path` for the wide file calls: WideFromUtf8, and where a full
// path with a drive ("C:\...", its names separated by "\") is too long for
// the system's ordinary paths (MAX_PATH), its "\\?\" form, which reaches
// 32,767 units.
std::wstring WidePath(std::string_view path);

}  // namespace platform
