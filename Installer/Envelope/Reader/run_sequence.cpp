#include "run_sequence.h"

#include "envelope_options.h"
#include "envelope_walk.h"
#include "exit_codes.h"
#include "launch.h"
#include "messages.h"
#include "platform_files.h"
#include "platform_processes.h"
#include "platform_system.h"
#include "reporting.h"
#include "run_state.h"
#include "setup_launch.h"
#include "temporary_directory.h"
#include "work_directory.h"

namespace reader {

namespace {

// The run in progress, whose envelope's options decide the exit code of a
// failure that ends it (ReportUnhandledException); null outside RunReader.
const RunState* current_run = nullptr;

// The exit code of a run refused before its walk, with the envelope's
// options looked up for it.
int RefusedExitCode(RunFailure failure) {
  return ChooseExitCode(ReadEnvelopeOptions(platform::ProgramPath()), kExitRefused, failure, 0);
}

int RunSequence(const std::string& command_line, RunState& state) {
  platform::CatchInterruptions();
  // The run's name, and the temporary path, are known from the start, so
  // that every message has its log where no one could see it.
  const int64_t started = platform::CurrentSeconds();
  std::string temporary_path;
  const bool have_temporary_path = ChooseTemporaryDirectory(temporary_path);
  if (!have_temporary_path) temporary_path = kFallbackTemporaryPath;
  state.messages.log = PerRunMessageLog(temporary_path, started);

  if (platform::AcquireSingleInstance(kInstanceGuardName) ==
      platform::InstanceGuard::kAlreadyRunning) {
    Report(state.messages, kAlreadyRunning);
    return RefusedExitCode(RunFailure::kAlreadyRunning);
  }

  if (!have_temporary_path) Report(state.messages, kNoTemporaryPath);
  platform::MakeDirectory(temporary_path);  // normally there already
  state.work_directory = PerRunDirectory(temporary_path, started);
  // An existing one is reused, but only once nothing from before is in it.
  if (!SetUpWorkDirectory(state.work_directory)) {
    Report(state.messages, kCannotEnterWorkDirectory);
    return RefusedExitCode(RunFailure::kInstallFailure);
  }

  // Written before the envelope is read, which only inserts: an envelope
  // cannot replace them.
  format::SetBuiltInVariables(state.variables, state.work_directory, command_line);

  WalkEnvelope(platform::ProgramPath(), state);
  if (platform::CaughtInterruption() != 0) {
    // Asked to stop: nothing is started.
  } else if (state.envelope_valid) {
    LaunchSetupProgram(state);
  } else {
    ReportInvalidArchive(state.messages);
    state.failure = RunFailure::kPackageInvalid;
  }

  // Step out first: a directory that is a process's current directory cannot
  // be removed on Windows.
  platform::ChangeDirectory(temporary_path);
  RemoveDirectoryTree(state.work_directory, state.extracted_directories);
  if (const int signal = platform::CaughtInterruption()) return ExitCodeOfSignal(signal);
  return ChooseExitCode(state.options, kExitCompleted, state.failure, state.setup_exit_code);
}

}  // namespace

int ReportUnhandledException(const char* description) {
  const MessageDestination no_run;
  ReportMessage(current_run != nullptr ? current_run->messages : no_run, kUnhandledException,
                description != nullptr ? description : kNoContextAvailable);
  const format::ReaderOptions options =
      current_run != nullptr ? current_run->options : format::ReaderOptions{};
  return ChooseExitCode(options, kExitCompleted, RunFailure::kInstallFailure, 0);
}

int RunReader(const std::string& command_line) {
  RunState state;
  current_run = &state;
  const int code = RunSequence(command_line, state);
  current_run = nullptr;
  return code;
}

}  // namespace reader
