// Command-line texts as Windows programs receive them: splitting, quoting and
// joining.
#include "command_line.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace format;

namespace {

using Arguments = std::vector<std::string>;

struct SplitCase {
  std::string text;
  Arguments expected;
};

TEST(SplitCommandLine, FollowsTheCRuntimeRules) {
  const SplitCase cases[] = {
      // Blanks separate; leading and trailing blanks are ignored.
      {"", {}},
      {" \t  ", {}},
      {"a b", {"a", "b"}},
      {" \ta \t b\t ", {"a", "b"}},
      {"a\nb", {"a\nb"}},  // a newline is not a separator
      // Quotes group blanks and may start or stop inside an argument.
      {R"("a b")", {"a b"}},
      {R"(a"b c"d e)", {"ab cd", "e"}},
      {R"("a"b"c d")", {"abc d"}},
      {R"("a  b)", {"a  b"}},  // an unterminated quote runs to the end
      {"\"a\tb\"", {"a\tb"}},
      // An empty quoted pair is an empty argument.
      {R"("")", {""}},
      {R"(a "" b)", {"a", "", "b"}},
      // Backslashes not before a quote are literal.
      {R"(a\b)", {R"(a\b)"}},
      {R"(a\\b)", {R"(a\\b)"}},
      {R"(a\)", {R"(a\)"}},
      {R"(a\\ b)", {R"(a\\)", "b"}},
      {R"("a\\ b")", {R"(a\\ b)"}},
      // 2n backslashes before a quote: n backslashes, the quote toggles.
      {R"(a\\"b c")", {R"(a\b c)"}},
      {R"("a\\"b)", {R"(a\b)"}},
      {R"("a\\" b)", {R"(a\)", "b"}},
      {R"(a\\\\"b c")", {R"(a\\b c)"}},
      // 2n+1 backslashes before a quote: n backslashes and a literal quote.
      {R"(a\"b)", {R"(a"b)"}},
      {R"(a\\\"b)", {R"(a\"b)"}},
      {R"("a\"b c")", {R"(a"b c)"}},
      {R"(\" b)", {"\"", "b"}},
      {R"(a\\\\\"b)", {R"(a\\"b)"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.text), c.expected) << "text: " << c.text;
  }
}

TEST(SplitCommandLine, InstallerParametersGiveOneArgument) {
  const std::string text =
      R"(/V"/l*v install.txt ALLUSERS=2 USER_PARTNER_IDENTITY=5 USER_SOURCE_DIRECTORY=\"/tmp/SF1\\\"")";
  const Arguments expected = {
      R"(/V/l*v install.txt ALLUSERS=2 USER_PARTNER_IDENTITY=5 USER_SOURCE_DIRECTORY="/tmp/SF1\")"};
  EXPECT_EQ(SplitCommandLine(text), expected);
}

TEST(QuoteCommandLineArgument, QuotesOnlyWhenNeeded) {
  // Plain arguments, backslashes included, are left alone.
  for (const std::string plain : {"a", "setup.exe", R"(C:\dir\)", R"(a\\b)", "/V*"}) {
    EXPECT_EQ(QuoteCommandLineArgument(plain), plain);
  }
  EXPECT_EQ(QuoteCommandLineArgument(""), R"("")");
  EXPECT_EQ(QuoteCommandLineArgument("a b"), R"("a b")");
  // Space, tab, newline and double quote each force quoting.
  for (const std::string needs_quotes : {"a b", "a\tb", "a\nb", "a\"b", " ", "\"", R"(x\ y\)"}) {
    const std::string quoted = QuoteCommandLineArgument(needs_quotes);
    ASSERT_GE(quoted.size(), 2u) << needs_quotes;
    EXPECT_EQ(quoted.front(), '"') << needs_quotes;
    EXPECT_EQ(quoted.back(), '"') << needs_quotes;
    EXPECT_EQ(SplitCommandLine(quoted), Arguments{needs_quotes}) << quoted;
  }
}

TEST(JoinCommandLine, SeparatesWithSingleSpaces) {
  EXPECT_EQ(JoinCommandLine({}), "");
  EXPECT_EQ(JoinCommandLine({"a"}), "a");
  EXPECT_EQ(JoinCommandLine({"a", "b c", ""}), R"(a "b c" "")");
}

TEST(JoinCommandLine, SplittingGivesTheArgumentsBack) {
  const Arguments vectors[] = {
      {},
      {""},
      {"", ""},
      {"a", "", "b"},
      {"plain", "with space", "with\ttab", "with\nnewline"},
      {R"(trailing\)", R"(two trailing\\)", R"(spaced trailing\ )", R"(quoted "x"\)"},
      {"\"", "\"\"", R"(\")", R"(\\")", R"(a\"b)", R"(a\\"b)"},
      {R"(\)", R"(\\)", R"(\ \)", R"( \)"},
      {R"(USER_SOURCE_DIRECTORY="/tmp/SF1\")", "/l*v", "install.txt"},
  };
  for (const Arguments& arguments : vectors) {
    const std::string text = JoinCommandLine(arguments);
    EXPECT_EQ(SplitCommandLine(text), arguments) << "text: " << text;
  }
}

TEST(JoinCommandLine, SplittingGivesRandomArgumentsBack) {
  static constexpr char kAlphabet[] = {'a', ' ', '\t', '\\', '"', '\n'};
  std::mt19937 generator(20240611);
  for (int round = 0; round < 500; ++round) {
    Arguments arguments(generator() % 5);
    for (std::string& argument : arguments) {
      for (size_t length = generator() % 8; length > 0; --length) {
        argument += kAlphabet[generator() % 6];
      }
    }
    const std::string text = JoinCommandLine(arguments);
    ASSERT_EQ(SplitCommandLine(text), arguments) << "round " << round << ", text: " << text;
  }
}

TEST(CommandLineTail, SkipsTheProgramNameAsTheCRuntimeDoes) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"setup.exe", ""},
      {"setup.exe /S", "/S"},
      {R"("C:\Program Files\setup.exe")", ""},
      {R"("C:\Program Files\setup.exe" /S "a b")", R"(/S "a b")"},
      // Quotes toggle anywhere in the name; what follows stays verbatim.
      {R"(C:\"Program Files"\setup.exe x)", "x"},
      {R"("C:\a"b c" d)", R"(c" d)"},
      {R"("unterminated name /S)", ""},
      // Every character up to the space separates; trailing blanks are kept.
      {"setup.exe \t\r\n /S  ", "/S  "},
      {"setup.exe\t/S", "/S"},
      // A line that starts blank has an empty name.
      {"  /S", "/S"},
      // Non-ASCII letters belong to the name, quoted or not.
      {R"("C:\Загрузки 下载 Łódź\installer.exe" /S dir=Łódź)", "/S dir=Łódź"},
      {R"(C:\Загрузки\installer.exe 下载)", "下载"},
  };
  for (const auto& [line, tail] : cases) {
    EXPECT_EQ(CommandLineTail(line), tail) << "line: " << line;
  }
}

}  // namespace
