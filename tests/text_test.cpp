// printf-style formatting into strings.
#include "text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>

namespace {

TEST(FormatText, FormatsSignedNumbers) {
  const std::pair<int, const char*> cases[] = {
      {0, "SF0"}, {7, "SF7"}, {-1, "SF-1"}, {-42, "SF-42"}, {INT_MAX, "SF2147483647"}, {INT_MIN, "SF-2147483648"},
  };
  for (const auto& [number, expected] : cases) EXPECT_EQ(FormatText("SF%i", number), expected);
  EXPECT_EQ(FormatText("%s=%d;%x", "size", -3, 255u), "size=-3;ff");
}

TEST(FormatText, ResultOfAnyLengthComesBackWhole) {
  // Around the first guess of the result size, and far beyond it.
  for (const size_t length : {0u, 1u, 1023u, 1024u, 1025u, 2048u, 5000u, 100000u}) {
    std::string argument;
    for (size_t i = 0; i < length; ++i) argument += static_cast<char>('a' + i % 26);
    const std::string text = FormatText("<%s>", argument.c_str());
    EXPECT_EQ(text.size(), length + 2) << length;
    EXPECT_EQ(text, "<" + argument + ">") << length;
  }
}

TEST(FormatText, ZeroCharacterIsKeptAsOneZeroByte) {
  EXPECT_EQ(FormatText("%c", 0), std::string(1, '\0'));
  EXPECT_EQ(FormatText("a%cb", 0), std::string("a\0b", 3));
  EXPECT_EQ(FormatText("%c%c", 0, 0), std::string(2, '\0'));
  // Also when the result outgrows the first guess of its size.
  const std::string tail(1500, 't');
  EXPECT_EQ(FormatText("x%c%s", 0, tail.c_str()), std::string("x\0", 2) + tail);
}

TEST(FormatText, EncodingErrorGivesAnEmptyString) {
  // A wide character with no encoding in the current (default "C") locale.
  const wint_t character = 0xe9;
  char probe[8];
  if (std::snprintf(probe, sizeof probe, "%lc", character) >= 0) {
    GTEST_SKIP() << "the C library encodes U+00E9 in this locale";
  }
  EXPECT_EQ(FormatText("before %lc after", character), "");
}

}  // namespace
