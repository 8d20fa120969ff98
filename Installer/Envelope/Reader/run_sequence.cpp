#include "run_sequence.h"

#include "envelope_walk.h"
#include "exit_codes.h"
#include "installer_launch.h"
#include "launch.h"
#include "messages.h"
#include "platform.h"
#include "run_state.h"
#include "work_directory.h"

namespace reader {

namespace {

int RunSequence(const std::string& command_line) {
  if (platform::AcquireSingleInstance(kInstanceGuardName) ==
      platform::InstanceGuard::kAlreadyRunning) {
    Report(kAlreadyRunning);
    return kExitRefused;
  }

  RunState state;
  std::string temporary_path;
  if (!platform::TemporaryPath(temporary_path)) {
    Report(kNoTemporaryPath);
    temporary_path = platform::kFallbackTemporaryPath;
  }
  platform::MakeDirectory(temporary_path);  // normally there already
  state.work_directory = PerRunDirectory(temporary_path, platform::CurrentSeconds());
  platform::MakeDirectory(state.work_directory);  // an existing one is reused
  if (!platform::EnterDirectory(state.work_directory)) {
    Report(kCannotEnterWorkDirectory);
    return kExitRefused;
  }

  // Written before the envelope is read, which only inserts: an envelope
  // cannot replace them.
  format::SetBuiltInVariables(state.variables, state.work_directory, command_line);

  WalkEnvelope(platform::ProgramPath(), state);
  if (state.envelope_valid) {
    LaunchInstaller(state);
  } else {
    ReportInvalidArchive();
  }

  // Step out first: a directory that is a process's current directory cannot
  // be removed on Windows.
  platform::ChangeDirectory(temporary_path);
  RemoveDirectoryTree(state.work_directory);
  return kExitCompleted;
}

}  // namespace

int ReportUnhandledException(const char* description) {
  platform::ReportMessage(kUnhandledException,
                          description != nullptr ? description : kNoContextAvailable);
  return kExitCompleted;
}

int RunInstaller(const std::string& command_line) { return RunSequence(command_line); }

}  // namespace reader
