// Starting a built program as a child process with a controlled environment,
// and collecting what it printed and how it ended.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace test {

// The user id of nobody, for LaunchOptions::user and files it must own.
inline constexpr uid_t kNobody = 65534;

struct LaunchOptions {
  std::vector<std::string> arguments;
  // Removed from the inherited environment, then set in it.
  std::vector<std::string> unset_environment;
  std::map<std::string, std::string> set_environment;
  bool ignore_child_signals = false;       // start with SIGCHLD ignored
  rlim_t file_size_limit = RLIM_INFINITY;  // with SIGXFSZ ignored
  rlim_t address_space_limit = RLIM_INFINITY;
  rlim_t open_files_limit = RLIM_INFINITY;
  uid_t user = static_cast<uid_t>(-1);  // run as this user (needs root)
  // Standard error on a pseudo-terminal (raw: no line-end translation)
  // rather than a pipe; what it shows is collected all the same.
  bool errors_on_terminal = false;
};

struct ProgramResult {
  int exit_code = -1;  // -1 when it did not exit normally
  int signal = 0;      // the signal that ended it, if any
  std::string errors;  // standard error
  std::string output;  // standard output
};

// A started program whose output is collected until it ends.
class RunningProgram {
 public:
  RunningProgram(const std::string& path, const LaunchOptions& options);
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  pid_t pid() const { return pid_; }
  // Waits at most `timeout_seconds`; a program still running then is killed
  // and the result says so (signal SIGKILL).
  ProgramResult Wait(int timeout_seconds = 60);

 private:
  pid_t pid_ = -1;
  int output_fd_ = -1;
  int errors_fd_ = -1;
};

ProgramResult RunProgram(const std::string& path, const LaunchOptions& options = {});

}  // namespace test
