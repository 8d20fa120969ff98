// What an envelope's groups amount to for a reader: the leading options, the
// variables, validity and where the walk ends.
#include "walk_rule.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "groups.h"
#include "launch.h"
#include "options.h"
#include "variables.h"

using namespace format;

namespace {

TEST(OptionCollectorTest, OnlyOptionsBetweenTheTailAndTheFirstOtherGroupCount) {
  auto group = [](GroupKind kind, std::string key = "") {
    Group made;
    made.kind = kind;
    made.key = std::move(key);
    return made;
  };
  const Group tail = group(GroupKind::kTail);
  const Group exit_codes = group(GroupKind::kOption, std::string(kExitCodesOption));
  struct Case {
    const char* what;
    std::vector<Group> groups;  // in reading order
    bool exit_codes;
  };
  const Case cases[] = {
      {"none", {tail, group(GroupKind::kValue, "exit-codes")}, false},
      {"after the tail", {tail, exit_codes, group(GroupKind::kValue, "v")}, true},
      {"after an unknown option", {tail, group(GroupKind::kOption, "future"), exit_codes}, true},
      {"after a value", {tail, group(GroupKind::kValue, "v"), exit_codes}, false},
      {"after an unknown group", {tail, group(GroupKind::kOther, "k"), exit_codes}, false},
  };
  for (const Case& c : cases) {
    OptionCollector options;
    for (const Group& g : c.groups) options.Add(g);
    EXPECT_EQ(options.options().exit_codes, c.exit_codes) << c.what;
  }
}

// Which groups count for the walk and where it ends, the same for the reader
// and for the tool that shows what the reader would do.
TEST(WalkRuleTest, GroupsCountUntilTheStubOrTheFirstMismatchTheWalkReads) {
  auto group = [](GroupKind kind, std::string key = "", std::string text = "",
                  std::optional<RecordRole> bad = std::nullopt) {
    Group made;
    made.kind = kind;
    made.key = std::move(key);
    (kind == GroupKind::kFile ? made.name : made.value) = std::move(text);
    made.bad_record = bad;
    return made;
  };
  const Group tail = group(GroupKind::kTail);
  const Group stub = group(GroupKind::kStub, "stub");
  struct Case {
    const char* what;
    std::vector<Group> groups;  // in reading order
    size_t taken;               // groups taken before the walk ended
    bool valid;
    VariableTable variables;  // besides the built-in `source`
  };
  const Case cases[] = {
      {"whole",
       {tail, group(GroupKind::kValue, "a", "1"), group(GroupKind::kFile, "k", "n.bin"),
        group(GroupKind::kFile, "", "logo.bmp"), stub, tail},
       5,
       true,
       {{"a", "1"}, {"k", "n.bin"}}},
      {"the group nearest the end wins, built-ins stand",
       {tail, group(GroupKind::kValue, "a", "near"), group(GroupKind::kValue, "a", "far"),
        group(GroupKind::kValue, "source", "x"), stub},
       5,
       true,
       {{"a", "near"}}},
      {"a mismatch ends the walk before the group counts",
       {tail, group(GroupKind::kValue, "a", "1", RecordRole::kValue),
        group(GroupKind::kValue, "b", "2"), stub},
       2,
       false,
       {}},
      {"a stub's own bytes, never read, do not count",
       {tail, group(GroupKind::kValue, "a", "1"),
        group(GroupKind::kStub, "stub", "", RecordRole::kContents)},
       3,
       true,
       {{"a", "1"}}},
      {"a stub's key does",
       {tail, group(GroupKind::kStub, "stub", "", RecordRole::kKey)},
       2,
       false,
       {}},
      {"no tail, no validity", {group(GroupKind::kValue, "a", "1"), stub}, 2, false, {{"a", "1"}}},
  };
  for (const Case& c : cases) {
    VariableTable table = {{"source", "/work"}};
    WalkRule walk(table);
    size_t taken = 0;
    while (taken < c.groups.size() && walk.Take(c.groups[taken++])) {
    }
    EXPECT_EQ(taken, c.taken) << c.what;
    EXPECT_EQ(walk.envelope_valid(), c.valid) << c.what;
    VariableTable expected = c.variables;
    expected["source"] = "/work";
    EXPECT_EQ(table, expected) << c.what;
  }
}

}  // namespace
