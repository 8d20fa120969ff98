// %name% expansion over the variable table.
#include "variables.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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

TEST(ExpandVariables, InstallerParametersExample) {
  VariableTable table;
  table["source"] = "/tmp/SF1";
  table["msi_parameters"] = R"(ALLUSERS=2 USER_PARTNER_IDENTITY=5 USER_SOURCE_DIRECTORY=\"%source%\\\")";
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
