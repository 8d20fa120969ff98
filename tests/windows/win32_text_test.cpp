// The Windows layer's text conversions, under Wine: UTF-8 and the UTF-16 of
// the wide calls, and the ANSI code page's bytes.
#include "win32_text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>

#include "platform_text.h"

namespace {

using platform::Utf8FromWide;
using platform::WideFromUtf8;

// The system's own conversion of well-formed text, to compare with.
std::wstring SystemWide(const std::string& utf8) {
  const int size = static_cast<int>(utf8.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), length);
  return wide;
}

TEST(Win32Text, WellFormedTextConvertsBothWaysAsTheSystemConvertsIt) {
  const std::string texts[] = {
      "",
      "C:\\Temp\\SF1\\Setup.exe",
      std::string("zero\0byte", 9),
      "C:\\Загрузки 下载 Łódź\\installer.exe",
      "Ελληνικά.txt",
      "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF",            // U+0080, U+07FF, U+0800, U+FFFF
      "\xF0\x90\x80\x80 \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBF",  // U+10000, U+1D11E, U+10FFFF
  };
  for (const std::string& text : texts) {
    const std::wstring wide = WideFromUtf8(text);
    EXPECT_EQ(wide, SystemWide(text)) << testing::PrintToString(text);
    EXPECT_EQ(Utf8FromWide(wide), text) << testing::PrintToString(text);
  }
}

TEST(Win32Text, UnpairedSurrogatesNameTheSameEntryWhenGivenBack) {
  const std::wstring names[] = {
      std::wstring(1, wchar_t(0xD800)) + L"x", L"x" + std::wstring(1, wchar_t(0xDFFF)),
      std::wstring{wchar_t(0xDC00), wchar_t(0xD800)},  // a pair in the wrong order
      std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)},  // a pair: U+1F600
  };
  for (const std::wstring& name : names) {
    EXPECT_EQ(WideFromUtf8(Utf8FromWide(name)), name);
  }
  EXPECT_EQ(Utf8FromWide(std::wstring(1, wchar_t(0xD800))), "\xED\xA0\x80");
  EXPECT_EQ(Utf8FromWide(std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}), "\xF0\x9F\x98\x80");
}

TEST(Win32Text, BytesThatAreNoUtf8BecomeReplacementCharacters) {
  const std::pair<std::string, std::wstring> cases[] = {
      {"a\xFF-b", L"a\xFFFD-b"},
      {"\xC0\x80", L"\xFFFD\xFFFD"},    // overlong: no lead, then a stray byte
      {"\xE0\x80\x80", L"\xFFFD"},      // overlong three-byte form
      {"\xE4\xB8", L"\xFFFD"},          // cut short at the end
      {"\xE4\xB8x", L"\xFFFDx"},        // cut short inside
      {"\xF4\x90\x80\x80", L"\xFFFD"},  // beyond U+10FFFF
  };
  for (const auto& [bytes, wide] : cases) {
    EXPECT_EQ(WideFromUtf8(bytes), wide) << testing::PrintToString(bytes);
  }
}

TEST(Win32Text, TheAnsiCodePageIsReadAsTheAnsiCallsReadIt) {
  if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page here is " << GetACP();
  EXPECT_EQ(platform::SystemCodePageToUtf8("Gr\xF6\xDF.ini"), "Größ.ini");
  EXPECT_EQ(platform::SystemCodePageToUtf8("\x80 caf\xE9"), "€ café");
  EXPECT_EQ(platform::SystemCodePageToUtf8("plain"), "plain");
  EXPECT_EQ(platform::SystemCodePageToUtf8(""), "");
}

}  // namespace
