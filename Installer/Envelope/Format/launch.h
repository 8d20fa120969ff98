// The variables a reader's run knows and the command it starts from them.
//
// The table starts with the built-ins, written before the envelope is read;
// the groups then only insert, so an envelope cannot replace a built-in, and
// of two groups with the same key the one read first (nearest the end of the
// envelope) wins. The launch reads `executable` and `parameters`.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "groups.h"
#include "variables.h"

namespace format {

// The built-ins.
inline constexpr std::string_view kSourceVariable = "source";            // the work directory
inline constexpr std::string_view kCommandLineVariable = "commandline";  // the reader's arguments
// What the launch reads.
inline constexpr std::string_view kExecutableVariable = "executable";
inline constexpr std::string_view kParametersVariable = "parameters";

// Writes the built-ins, replacing earlier values: `source` = `work_directory`
// without its last character (the trailing separator), `commandline` =
// `command_line` verbatim.
void SetBuiltInVariables(VariableTable& table, const std::string& work_directory,
                         const std::string& command_line);

// Whether `name` is a built-in, which no group can set.
bool IsBuiltInVariable(std::string_view name);

// Adds what `group` defines, unless its key is set already: a value group its
// value, a file group with a key its name. Other groups define nothing.
void InsertGroupVariable(VariableTable& table, const Group& group);

struct LaunchCommand {
  std::string program;     // work directory + expanded `executable`
  std::string parameters;  // expanded `parameters`: the command-line tail
};

// The variables the launch reads, in the order it expands them.
inline constexpr std::string_view kLaunchVariables[] = {kExecutableVariable, kParametersVariable};

// Expands the launch variable `name` (one of kLaunchVariables) as the launch
// does: read with entry access (an absent one is created empty, and so may be
// referred to afterwards), then expanded over `table`. Nothing when that goes
// beyond ExpandVariables' limits.
std::optional<std::string> ExpandLaunchVariable(VariableTable& table, std::string_view name);

// Expands `executable`, then `parameters`, each with ExpandLaunchVariable.
// Nothing when either goes beyond ExpandVariables' limits: no such command
// can be started.
std::optional<LaunchCommand> ExpandLaunchCommand(VariableTable& table,
                                                 const std::string& work_directory);

}  // namespace format
