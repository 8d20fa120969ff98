#include "launch.h"

namespace format {

namespace {

// Entry access: the value of `name`, created empty when absent.
std::string& Entry(VariableTable& table, std::string_view name) {
  auto entry = table.find(name);
  if (entry == table.end()) entry = table.emplace(std::string(name), std::string()).first;
  return entry->second;
}

}  // namespace

void SetBuiltInVariables(VariableTable& table, const std::string& work_directory,
                         const std::string& command_line) {
  Entry(table, kSourceVariable) = work_directory.substr(0, work_directory.size() - 1);
  Entry(table, kCommandLineVariable) = command_line;
}

bool IsBuiltInVariable(std::string_view name) {
  return name == kSourceVariable || name == kCommandLineVariable;
}

void InsertGroupVariable(VariableTable& table, const Group& group) {
  if (group.kind == GroupKind::kValue) table.emplace(group.key, group.value);
  if (IsFileGroup(group.kind) && !group.key.empty()) table.emplace(group.key, group.name);
}

std::optional<std::string> ExpandLaunchVariable(VariableTable& table, std::string_view name) {
  return ExpandVariables(Entry(table, name), table);
}

std::optional<LaunchCommand> ExpandLaunchCommand(VariableTable& table,
                                                 const std::string& work_directory) {
  const std::optional<std::string> executable = ExpandLaunchVariable(table, kExecutableVariable);
  const std::optional<std::string> parameters = ExpandLaunchVariable(table, kParametersVariable);
  if (!executable || !parameters) return std::nullopt;
  return LaunchCommand{work_directory + *executable, *parameters};
}

}  // namespace format
