#include "process_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace test {

RunningProgram::RunningProgram(const std::string& path, const LaunchOptions& options) {
  int output[2], errors[2];
  if (pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (!options.errors_on_terminal) {
    if (pipe2(errors, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  } else {
    // errors[0] is the terminal's controlling side, errors[1] the program's.
    errors[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (errors[0] < 0 || grantpt(errors[0]) != 0 || unlockpt(errors[0]) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    errors[1] = open(ptsname(errors[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode;
    if (errors[1] < 0 || tcgetattr(errors[1], &mode) != 0) {
      throw std::runtime_error("cannot open the pseudo-terminal");
    }
    cfmakeraw(&mode);
    tcsetattr(errors[1], TCSANOW, &mode);
  }
  // Everything the child needs is prepared before fork.
  std::vector<std::string> argument_texts = {path};
  argument_texts.insert(argument_texts.end(), options.arguments.begin(), options.arguments.end());
  std::vector<char*> argv;
  for (std::string& text : argument_texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(output[1], STDOUT_FILENO);
    dup2(errors[1], STDERR_FILENO);
    for (const std::string& name : options.unset_environment) unsetenv(name.c_str());
    for (const auto& [name, value] : options.set_environment) {
      setenv(name.c_str(), value.c_str(), 1);
    }
    if (options.ignore_child_signals) signal(SIGCHLD, SIG_IGN);
    if (options.file_size_limit != RLIM_INFINITY) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{options.file_size_limit, options.file_size_limit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.address_space_limit != RLIM_INFINITY) {
      const rlimit limit{options.address_space_limit, options.address_space_limit};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (options.open_files_limit != RLIM_INFINITY) {
      const rlimit limit{options.open_files_limit, options.open_files_limit};
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (options.user != static_cast<uid_t>(-1)) {
      if (setgroups(0, nullptr) != 0 || setgid(options.user) != 0 || setuid(options.user) != 0) {
        _exit(126);
      }
    }
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  close(output[1]);
  close(errors[1]);
  output_fd_ = output[0];
  errors_fd_ = errors[0];
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (output_fd_ >= 0) close(output_fd_);
  if (errors_fd_ >= 0) close(errors_fd_);
}

ProgramResult RunningProgram::Wait(int timeout_seconds) {
  ProgramResult result;
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  time_t deadline = now.tv_sec + timeout_seconds;
  bool killed = false;
  // Read until both pipes are closed. A program still running at the deadline
  // is killed; if something it started still holds the pipes two seconds
  // later, stop reading.
  while (output_fd_ >= 0 || errors_fd_ >= 0) {
    pollfd fds[2] = {{output_fd_, POLLIN, 0}, {errors_fd_, POLLIN, 0}};
    if (poll(fds, 2, 100) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? result.output : result.errors).append(buffer, static_cast<size_t>(got));
      } else {
        close(fds[i].fd);
        (i == 0 ? output_fd_ : errors_fd_) = -1;
      }
    }
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec < deadline) continue;
    if (killed) break;
    kill(pid_, SIGKILL);
    killed = true;
    deadline += 2;
  }
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

ProgramResult RunProgram(const std::string& path, const LaunchOptions& options) {
  return RunningProgram(path, options).Wait();
}

}  // namespace test
