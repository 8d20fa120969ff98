// The UTF-16 command-line arguments of envelope.exe, as UTF-8.
#include <gtest/gtest.h>

#include "utf8_path.h"

namespace {

TEST(Utf8FromUtf16, EncodesEveryLengthAndRefusesUnpairedSurrogates) {
  const std::pair<std::u16string, std::optional<std::string>> cases[] = {
      {u"", ""},
      {u"C:\\Setup\\a.exe", "C:\\Setup\\a.exe"},
      {u"donn\u00e9es",
       "donn\xc3\xa9"
       "es"},                                                       // two bytes
      {u"\u20ac\u7f16", "\xe2\x82\xac\xe7\xbc\x96"},                // three
      {u"\U0001F600.txt", "\xf0\x9f\x98\x80.txt"},                  // a surrogate pair: four
      {u"\uffff\u07ff\u0800", "\xef\xbf\xbf\xdf\xbf\xe0\xa0\x80"},  // the edges
      {std::u16string{u'a', char16_t{0xD83D}}, std::nullopt},       // high surrogate at the end
      {std::u16string{char16_t{0xD83D}, u'a'}, std::nullopt},       // high surrogate, no low
      {std::u16string{char16_t{0xDE00}, u'a'}, std::nullopt},       // low surrogate alone
  };
  for (const auto& [utf16, utf8] : cases) {
    EXPECT_EQ(tool::Utf8FromUtf16(utf16), utf8) << testing::PrintToString(utf8);
  }
}

}  // namespace
