#include "installer_launch.h"

#include <optional>

#include "messages.h"
#include "platform.h"
#include "variables.h"

void LaunchInstaller(RunState& state) {
  const std::optional<std::string> executable =
      ExpandVariables(state.variables["executable"], state.variables);
  const std::optional<std::string> parameters =
      ExpandVariables(state.variables["parameters"], state.variables);
  // A command line that cannot be built cannot be started either.
  if (!executable || !parameters) {
    Report(kSpawnFailed);
    return;
  }

  platform::Process process;
  if (!platform::StartProcess(state.work_directory + *executable, *parameters, process)) {
    Report(kSpawnFailed);
    return;
  }
  if (!platform::WaitForProcess(process)) Report(kWaitFailed);
}
