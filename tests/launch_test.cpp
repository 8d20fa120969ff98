// The built-in variables, what groups add, and the launch expansion.
#include "launch.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "groups.h"
#include "variables.h"

using namespace format;

namespace {

TEST(LaunchCommandTest, AbsentLaunchValuesAreCreatedEmptyBeforeUse) {
  // `executable` is read first and created empty, so the parameters can
  // refer to it; `source` is the work directory without its separator.
  VariableTable table;
  SetBuiltInVariables(table, "/tmp/SF7/", "--quiet");
  Group value;
  value.kind = GroupKind::kValue;
  value.key = "parameters";
  value.value = "[%executable%] %source% %commandline%";
  InsertGroupVariable(table, value);
  value.value = "ignored: the first group read wins";
  InsertGroupVariable(table, value);

  const std::optional<LaunchCommand> command = ExpandLaunchCommand(table, "/tmp/SF7/");
  ASSERT_TRUE(command);
  EXPECT_EQ(command->program, "/tmp/SF7/");
  EXPECT_EQ(command->parameters, "[] /tmp/SF7 --quiet");
  EXPECT_EQ(table.count("executable"), 1u);
  EXPECT_TRUE(IsBuiltInVariable("source"));
  EXPECT_FALSE(IsBuiltInVariable("executable"));
}

}  // namespace
