#include "installer_launch.h"

#include "messages.h"
#include "platform.h"
#include "variables.h"

void LaunchInstaller(RunState& state) {
  const std::string program =
      state.work_directory + ExpandVariables(state.variables["executable"], state.variables);
  const std::string parameters = ExpandVariables(state.variables["parameters"], state.variables);

  platform::Process process;
  if (!platform::StartProcess(program, parameters, process)) {
    Report(kSpawnFailed);
    return;
  }
  if (!platform::WaitForProcess(process)) Report(kWaitFailed);
}
