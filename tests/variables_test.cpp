// %name% expansion over the variable table.
#include "variables.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <optional>
#include <string>

using namespace format;

namespace {

// v0 .. v<length - 1>, each naming the next `times` times between `around`;
// the last one holds `leaf`.
VariableTable Chain(int length, int times, const std::string& leaf,
                    const std::string& around = "") {
  VariableTable table;
  for (int i = 0; i + 1 < length; ++i) {
    std::string value;
    for (int t = 0; t < times; ++t) value += around + "%v" + std::to_string(i + 1) + "%" + around;
    table["v" + std::to_string(i)] = value;
  }
  table["v" + std::to_string(length - 1)] = leaf;
  return table;
}

struct ExpansionCase {
  const char* text;
  VariableTable table;
  const char* expected;
};

TEST(ExpandVariables, ReferenceScanning) {
  const ExpansionCase cases[] = {
      // Text that cannot hold a reference comes back unchanged.
      {"", {{"x", "V"}}, ""},
      {"no references here", {{"x", "V"}}, "no references here"},
      {"%", {{"x", "V"}}, "%"},
      {"%%", {{"x", "V"}}, "%%"},
      {"100%", {{"x", "V"}}, "100%"},
      {"%x", {{"x", "V"}}, "%x"},
      // Known names are replaced wherever they stand.
      {"%x%", {{"x", "V"}}, "V"},
      {"a%x%b", {{"x", "V"}}, "aVb"},
      {"%x%%x%", {{"x", "V"}}, "VV"},
      {"%my var%", {{"my var", "V"}}, "V"},
      // Names are matched exactly, case included.
      {"%X%", {{"x", "V"}}, "%X%"},
      {"%xx%", {{"x", "V"}}, "%xx%"},
      // Unknown references stay, percent signs included.
      {"%unknown%", {{"x", "V"}}, "%unknown%"},
      {"say %unknown% and %x%", {{"x", "V"}}, "say %unknown% and V"},
      // The closing "%" of an unreplaced candidate opens the next one.
      {"%u%x%", {{"x", "V"}}, "%uV"},
      {"a%b c%x%d", {{"x", "V"}}, "a%b cVd"},
      // Extra "%" before a name are skipped; only the one next to it goes.
      {"%%x%", {{"x", "V"}}, "%V"},
      {"%%%x%", {{"x", "V"}}, "%%V"},
      // An empty value removes the reference.
      {"[%e%]", {{"e", ""}}, "[]"},
      // Scanning resumes after the inserted value and needs a new "%".
      {"%a%%b%", {{"a", ""}, {"b", "B"}}, "B"},
      {"%a%b%", {{"a", "X"}, {"b", "Y"}}, "Xb%"},
      // Inserted text is final, even when it would form a reference.
      {"%a%b%", {{"a", "%"}, {"b", "Y"}}, "%b%"},
      {"%a%%", {{"a", "%b"}, {"b", "Y"}}, "%b%"},
  };
  for (const ExpansionCase& c : cases) {
    EXPECT_EQ(ExpandVariables(c.text, c.table), c.expected) << "text: " << c.text;
  }
}

TEST(ExpandVariables, ValuesAreExpandedBeforeInsertion) {
  const ExpansionCase cases[] = {
      {"%outer%", {{"outer", "(%inner%)"}, {"inner", "I"}}, "(I)"},
      {"%a%", {{"a", "%b%-%b%"}, {"b", "%c%"}, {"c", "C"}}, "C-C"},
      {"%a%", {{"a", "<%unknown%>"}}, "<%unknown%>"},
      // A value that refers to itself, directly or through others, stops there.
      {"%a%", {{"a", "<%a%>"}}, "<%a%>"},
      {"%a%", {{"a", "%b%"}, {"b", "%a%"}}, "%a%"},
      {"%a%|%b%", {{"a", "1%b%"}, {"b", "2%a%"}}, "12%a%|21%b%"},
  };
  for (const ExpansionCase& c : cases) {
    EXPECT_EQ(ExpandVariables(c.text, c.table), c.expected) << "text: " << c.text;
  }
}

TEST(ExpandVariables, LongChainExpandsFully) {
  constexpr int kLength = 2000;
  VariableTable table;
  for (int i = 0; i + 1 < kLength; ++i) {
    table["v" + std::to_string(i)] = "%v" + std::to_string(i + 1) + "%";
  }
  table["v" + std::to_string(kLength - 1)] = "end";
  EXPECT_EQ(ExpandVariables("<%v0%>", table), "<end>");
}

TEST(ExpandVariables, CyclesThroughSeveralNamesStopAtTheFirstRepeatedName) {
  VariableTable table = Chain(5, 1, "(%v0%)", "-");  // v0 -> v1 -> ... -> v4 -> v0
  EXPECT_EQ(ExpandVariables("%v0%", table), "----(%v0%)----");
  EXPECT_EQ(ExpandVariables("%v3%", table), "-(---%v3%---)-");
  table["v4"] = "%v2%%v4%%v0%";  // several ways back at once
  EXPECT_EQ(ExpandVariables("%v0%", table), "----%v2%%v4%%v0%----");
}

// Expands a 10,000-long chain on a thread with a quarter of the stack a
// Windows program gets: the depth of the chain must not cost machine stack.
void* ExpandLongChain(void* result) {
  const VariableTable table = Chain(10000, 1, "end", "");
  *static_cast<std::optional<std::string>*>(result) = ExpandVariables("<%v0%>", table);
  return nullptr;
}

TEST(ExpandVariables, ChainDepthNeedsNoMachineStack) {
  std::optional<std::string> result;
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attributes, ExpandLongChain, &result), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  pthread_attr_destroy(&attributes);
  EXPECT_EQ(result, "<end>");
}

TEST(ExpandVariables, ResultsGrowNoLargerThanTheLimit) {
  // Exactly at the limit is fine; one byte more is not.
  const VariableTable table = {{"big", std::string(kMaxExpandedSize - 2, 'x')}};
  EXPECT_EQ(ExpandVariables("[%big%]", table), "[" + table.at("big") + "]");
  EXPECT_EQ(ExpandVariables("[%big%]!", table), std::nullopt);
  // Text that needs no substitution comes back whatever its size.
  const std::string large(kMaxExpandedSize + 1, '%');
  EXPECT_EQ(ExpandVariables(large, table), large);
  // Each value naming the next twice: 2^40 copies of the last one.
  EXPECT_EQ(ExpandVariables("%v0%", Chain(41, 2, "x")), std::nullopt);
}

TEST(ExpandVariables, WorkIsBoundedEvenWhenTheResultIsShort) {
  // 2^40 references to an empty value, or to a name being expanded: the
  // result would be empty or short, reaching it would take hours.
  EXPECT_EQ(ExpandVariables("%v0%", Chain(41, 2, "")), std::nullopt);
  EXPECT_EQ(ExpandVariables("%v0%", Chain(41, 2, "%v0%")), std::nullopt);
  // Moderate doubling still expands: 2^12 copies.
  std::string copies;
  for (int i = 0; i < 4096; ++i) copies += "ab";
  EXPECT_EQ(ExpandVariables("%v0%", Chain(13, 2, "ab")), copies);
  // So does a long chain that adds text at every link: its cost grows with
  // the square of its length.
  EXPECT_EQ(ExpandVariables("%v0%", Chain(10000, 1, "", "-")), std::string(2 * 9999, '-'));
}

TEST(ExpandVariables, InstallerParametersExample) {
  VariableTable table;
  table["source"] = "/tmp/SF1";
  table["msi_parameters"] =
      R"(ALLUSERS=2 USER_PARTNER_IDENTITY=5 USER_SOURCE_DIRECTORY=\"%source%\\\")";
  table["parameters"] = R"(/V"/l*v install.txt %msi_parameters%")";
  table["installer"] = "Setup.exe";
  table["executable"] = "%installer%";
  const VariableTable before = table;

  const std::string expected =
      R"(/V"/l*v install.txt ALLUSERS=2 USER_PARTNER_IDENTITY=5 USER_SOURCE_DIRECTORY=\"/tmp/SF1\\\"")";
  EXPECT_EQ(ExpandVariables("%parameters%", table), expected);
  EXPECT_EQ(ExpandVariables(table.at("parameters"), table), expected);
  EXPECT_EQ(ExpandVariables("%executable%", table), "Setup.exe");
  EXPECT_EQ(ExpandVariables("\"%executable%\" %parameters%", table), "\"Setup.exe\" " + expected);
  EXPECT_EQ(table, before);  // expansion leaves the table as it was
}

}  // namespace
