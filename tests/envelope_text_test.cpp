// How envelope text is read: well-formed UTF-8 stays, anything else is read in
// the system's ANSI code page.
#include "envelope_text.h"

#include <gtest/gtest.h>

#include <string>

#include "platform_text.h"

using namespace format;

namespace {

struct TextCase {
  std::string bytes;
  bool valid;
};

const TextCase kCases[] = {
    // ASCII, a zero byte included.
    {"", true},
    {"Setup.exe /S", true},
    {std::string("nul\0inside", 10), true},
    // Each length, at the edges of its range.
    {"\xC2\x80", true},  // U+0080, the lowest two-byte form
    {"Größe", true},
    {"\xDF\xBF", true},      // U+07FF
    {"\xE0\xA0\x80", true},  // U+0800, the lowest three-byte form
    {"下载", true},
    {"\xED\x9F\xBF", true},      // U+D7FF, just below the surrogates
    {"\xEE\x80\x80", true},      // U+E000, just above them
    {"\xEF\xBF\xBF", true},      // U+FFFF
    {"\xF0\x90\x80\x80", true},  // U+10000, the lowest four-byte form
    {"\xF0\x9D\x84\x9E", true},  // U+1D11E
    {"\xF4\x8F\xBF\xBF", true},  // U+10FFFF, the highest code point
    // Overlong forms.
    {"\xC0\x80", false},
    {"\xC1\xBF", false},
    {"\xE0\x9F\xBF", false},
    {"\xF0\x8F\xBF\xBF", false},
    // Surrogates, alone or as a pair in three-byte forms.
    {"\xED\xA0\x80", false},  // U+D800
    {"\xED\xBF\xBF", false},  // U+DFFF
    {"\xED\xA0\xBD\xED\xB8\x80", false},
    // Beyond U+10FFFF, and bytes that never occur.
    {"\xF4\x90\x80\x80", false},
    {"\xF5\x80\x80\x80", false},
    {"\xFE", false},
    {"\xFF", false},
    // Stray continuation bytes and sequences cut short, at the end or inside.
    {"\x80", false},
    {"a\xBF", false},
    {"a\xC3", false},
    {"\xE4\xB8", false},
    {"\xF0\x9D\x84", false},
    {"\xE4\xB8x", false},
    {"\xF0\x9D\x84\x9E\x9E", false},
    // Text in code page 1252 only.
    {"Gr\xF6\xDF.ini", false},
    {"caf\xE9", false},
    {"\x80 5", false},        // the euro sign
    {"\xC3\xA9\xE9", false},  // valid UTF-8, then a 1252 letter
};

TEST(EnvelopeText, OnlyWellFormedUtf8IsUtf8AndTheRestIsReadInTheCodePage) {
  for (const TextCase& c : kCases) {
    const std::string shown = testing::PrintToString(c.bytes);
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << shown;
    EXPECT_EQ(DecodeEnvelopeText(c.bytes),
              c.valid ? c.bytes : platform::SystemCodePageToUtf8(c.bytes))
        << shown;
  }
}

TEST(EnvelopeText, ASequenceIsMeasuredFromItsFirstByte) {
  EXPECT_EQ(Utf8SequenceLength(""), 0u);
  EXPECT_EQ(Utf8SequenceLength("a\xFF"), 1u);
  EXPECT_EQ(Utf8SequenceLength("\xC3\xB6x"), 2u);
  EXPECT_EQ(Utf8SequenceLength("\xE4\xB8\x8B\xE8"), 3u);
  EXPECT_EQ(Utf8SequenceLength("\xF0\x9D\x84\x9E\xF0"), 4u);
  EXPECT_EQ(Utf8SequenceLength("\xE4\xB8"), 0u);
  EXPECT_EQ(Utf8SequenceLength("\xB8\x8B"), 0u);
}

}  // namespace
