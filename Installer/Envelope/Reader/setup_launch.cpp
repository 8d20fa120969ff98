#include "setup_launch.h"

#include <optional>

#include "command_line.h"
#include "exit_codes.h"
#include "launch.h"
#include "messages.h"
#include "platform_files.h"
#include "platform_processes.h"
#include "reporting.h"

namespace reader {

namespace {

// Lets the extracted program run where files need permission for that. The
// path comes from the envelope, so only a file that really lies inside the
// current (work) directory is changed, never one that "../" or a link leads
// to.
void AllowExtractedProgramToRun(const std::string& program) {
  const std::string path = platform::ResolvedPath(program);
  const std::string directory = platform::ResolvedPath(".");
  if (path.empty() || directory.empty()) return;
  if (path.size() > directory.size() + 1 && path.starts_with(directory) &&
      path[directory.size()] == platform::kPathSeparator) {
    platform::AllowOwnerToExecute(path);
  }
}

}  // namespace

void LaunchSetupProgram(RunState& state) {
  const std::optional<format::LaunchCommand> command =
      format::ExpandLaunchCommand(state.variables, state.work_directory);
  // A command line that cannot be built cannot be started either.
  if (!command) {
    Report(state.messages, kSpawnFailed);
    state.failure = RunFailure::kInstallFailure;
    return;
  }
  AllowExtractedProgramToRun(command->program);
  platform::ProcessExit exit;
  switch (platform::RunProcess(command->program, command->parameters,
                               format::SplitCommandLine(command->parameters), exit)) {
    case platform::ProcessEnd::kEnded:
      state.setup_exit_code = exit.signal != 0 ? ExitCodeOfSignal(exit.signal) : exit.code;
      return;
    case platform::ProcessEnd::kNotStarted: Report(state.messages, kSpawnFailed); break;
    case platform::ProcessEnd::kWaitFailed: Report(state.messages, kWaitFailed); break;
  }
  state.failure = RunFailure::kInstallFailure;
}

}  // namespace reader
