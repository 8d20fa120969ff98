#include "shown_text.h"

#include "envelope_text.h"

namespace tool {

namespace {

// Code page 1252 at 0x80 to 0x9F; elsewhere a byte is its own code point.
// The five unassigned bytes map to the C1 controls, as Windows maps them.
constexpr char16_t kCodePage1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

std::string ShownText(std::string_view text) {
  if (format::IsValidUtf8(text)) return std::string(text);
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    format::AppendUtf8(shown, byte >= 0x80 && byte < 0xA0 ? kCodePage1252High[byte - 0x80] : byte);
  }
  return shown;
}

}  // namespace tool
