#include "envelope_text.h"

#include <algorithm>

#include "platform_text.h"

namespace format {

size_t Utf8SequenceLength(std::string_view text) {
  if (text.empty()) return 0;
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(0);
  if (lead < 0x80) return 1;
  // The lead byte gives the length; the second byte's range excludes the
  // overlong forms (after E0, F0), the surrogates (after ED) and what lies
  // beyond U+10FFFF (after F4). C0, C1 and F5 to FF never lead.
  size_t length = 0;
  unsigned low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

char32_t Utf8CodePoint(std::string_view sequence) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(sequence[i]); };
  static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t code_point = byte(0) & kLeadBits[sequence.size()];
  for (size_t i = 1; i < sequence.size(); ++i) code_point = (code_point << 6) | (byte(i) & 0x3F);
  return code_point;
}

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

bool IsValidUtf8(std::string_view text) {
  size_t at = 0;
  while (at < text.size()) {
    if (static_cast<unsigned char>(text[at]) < 0x80) {
      ++at;
      continue;
    }
    const size_t length = Utf8SequenceLength(text.substr(at));
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string_view Utf8Prefix(std::string_view text, size_t most_bytes) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t length = std::max<size_t>(Utf8SequenceLength(text.substr(at)), 1);
    if (at + length > most_bytes) break;
    at += length;
  }
  return text.substr(0, at);
}

std::string DecodeEnvelopeText(std::string bytes) {
  if (IsValidUtf8(bytes)) return bytes;
  return platform::SystemCodePageToUtf8(bytes);
}

}  // namespace format
