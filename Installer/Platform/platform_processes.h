// Processes: the single-instance guard, starting a program and waiting for
// it, and the interruptions (POSIX signals) a process takes. Implemented per
// system in platform_posix_processes.cpp and platform_win32_processes.cpp,
// and platform_posix_interruptions.cpp and platform_win32_interruptions.cpp.
// See platform_system.h for the rules every platform header follows.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class InstanceGuard {
  kAcquired,        // this process is the only one; held until it ends
  kAlreadyRunning,  // another process of this user holds the guard
  kUnavailable,     // the guard could not be created; no protection
};

// Takes the per-user single-instance guard called `name`. The system releases
// it when the process ends, however it ends, and started programs do not
// inherit it.
InstanceGuard AcquireSingleInstance(const std::string& name);

// How a program that ran has ended: with its exit code, or (POSIX) killed by
// a signal, whose number is then `signal` (0 otherwise).
struct ProcessExit {
  int code = 0;
  int signal = 0;
};

enum class ProcessEnd {
  kEnded,       // the program was started and has ended
  kNotStarted,  // the program could not be started
  kWaitFailed,  // it was started, but waiting for its end (or its exit code) failed
};

// Starts `program` in the current directory, with this process's environment,
// and waits without a time limit until it has ended; on kEnded `exit` says
// how. Its command-line tail is
// given twice, as each system hands it over: Windows passes `parameters`
// verbatim to the shell's execute service (default verb, normal window);
// POSIX starts the file directly (never through a shell) with `arguments` as
// argv[1...], ignoring the terminal's interrupt and quit keys while it runs
// (the program gets the dispositions this process started with).
// While it waits, a signal caught after CatchInterruptions is passed on to the
// program, unless the terminal sent it to the whole foreground process group,
// which the program belongs to as well.
ProcessEnd RunProcess(const std::string& program, const std::string& parameters,
                      const std::vector<std::string>& arguments, ProcessExit& exit);

// From now on SIGINT, SIGTERM and SIGHUP (each unless it was ignored when the
// process started) no longer end the process. The first one caught is noted
// for CaughtInterruption, and from then on every File read and write fails
// (EINTR), so that any loop over a file ends promptly. Windows: does nothing.
void CatchInterruptions();

// The number of the first signal caught since CatchInterruptions, or 0.
int CaughtInterruption();

}  // namespace platform
