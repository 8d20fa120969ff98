// Processes on POSIX systems: the single-instance guard, and starting a
// program and waiting for it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform_posix_calls.h"
#include "platform_posix_interruptions.h"
#include "platform_processes.h"
#include "platform_system.h"

extern char** environ;

namespace platform {

InstanceGuard AcquireSingleInstance(const std::string& name) {
  // One lock file per user, in a place that does not depend on TMPDIR. /tmp is
  // shared, so a file that is not this user's own regular file is not used:
  // another user can then at most disable the guard, never block this process
  // or make it open something else. flock() dies with the process, and
  // O_CLOEXEC keeps the started program from inheriting it.
  const std::string path = "/tmp/" + name + "." + std::to_string(geteuid()) + ".lock";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return InstanceGuard::kUnavailable;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid()) {
    close(fd);
    return InstanceGuard::kUnavailable;
  }
  if (RetryOnInterrupt([&] { return flock(fd, LOCK_EX | LOCK_NB); }) == 0) {
    return InstanceGuard::kAcquired;  // the descriptor stays open until the process ends
  }
  const bool held_elsewhere = errno == EWOULDBLOCK;
  close(fd);
  return held_elsewhere ? InstanceGuard::kAlreadyRunning : InstanceGuard::kUnavailable;
}

namespace {

// The program's argument vector: its path, then `arguments`, then the null
// that ends it. Points into the strings, which must outlive it.
std::vector<char*> ArgumentVector(const std::string& program,
                                  const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// While the started program runs, an interrupt from the terminal is for it,
// not for this process, which may still have work to do once it has ended
// afterwards (as system() does): from construction to destruction the
// terminal's interrupt and quit keys are ignored here, but for an interrupt
// this process catches (it keeps catching it, and passes on what the
// terminal did not send to the program itself).
class TerminalKeysIgnored {
 public:
  TerminalKeysIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGINT, CatchesInterruption(SIGINT) ? nullptr : &ignore, &saved_interrupt_);
    sigaction(SIGQUIT, &ignore, &saved_quit_);
  }
  ~TerminalKeysIgnored() {
    const int error = errno;
    sigaction(SIGINT, &saved_interrupt_, nullptr);
    sigaction(SIGQUIT, &saved_quit_, nullptr);
    errno = error;
  }
  TerminalKeysIgnored(const TerminalKeysIgnored&) = delete;
  TerminalKeysIgnored& operator=(const TerminalKeysIgnored&) = delete;

  // The keys' signals that the program gets with their default action: the
  // dispositions this process had before, unless they were ignored.
  sigset_t ProgramDefaults() const {
    sigset_t defaults;
    sigemptyset(&defaults);
    if (saved_interrupt_.sa_handler != SIG_IGN) sigaddset(&defaults, SIGINT);
    if (saved_quit_.sa_handler != SIG_IGN) sigaddset(&defaults, SIGQUIT);
    return defaults;
  }

 private:
  struct sigaction saved_interrupt_ {};
  struct sigaction saved_quit_ {};
};

// Starts `argv` with the signals `defaults` set to their default action and
// this process's signal mask, and sets `pid`; returns 0 or the error. The
// interruptions are held until the program's number is known, so that none
// is lost: from then on they are passed on to it, one caught before as well.
int SpawnPassingInterruptions(const std::vector<char*>& argv, const sigset_t& defaults,
                              pid_t& pid) {
  sigset_t interruptions, saved_mask;
  sigemptyset(&interruptions);
  for (const int signal : kInterruptionSignals) sigaddset(&interruptions, signal);
  sigprocmask(SIG_BLOCK, &interruptions, &saved_mask);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &saved_mask);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  const int error = posix_spawn(&pid, argv[0], nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (error == 0) {
    PassInterruptionsTo(pid);
    // One caught just before the start is the program's too.
    if (const int caught = CaughtInterruption()) kill(pid, caught);
  }
  sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
  return error;
}

// Waits for the program `pid` to end and collects it; stops passing
// interruptions on once it has ended. False when the wait failed.
bool WaitForProgram(pid_t pid, int& status) {
  // Waited for without reaping first: until the program is collected its
  // number cannot go to another process, which a signal might then reach.
  siginfo_t ending{};
  RetryOnInterrupt(
      [&] { return waitid(P_PID, static_cast<id_t>(pid), &ending, WEXITED | WNOWAIT); });
  PassInterruptionsTo(0);
  return RetryOnInterrupt([&] { return waitpid(pid, &status, 0); }) == pid;
}

}  // namespace

ProcessEnd RunProcess(const std::string& program, const std::string&,
                      const std::vector<std::string>& arguments, ProcessExit& exit) {
  const std::vector<char*> argv = ArgumentVector(program, arguments);
  const TerminalKeysIgnored keys;
  pid_t pid = 0;
  if (const int error = SpawnPassingInterruptions(argv, keys.ProgramDefaults(), pid)) {
    errno = error;
    return ProcessEnd::kNotStarted;
  }
  int status = 0;
  if (!WaitForProgram(pid, status)) return ProcessEnd::kWaitFailed;
  exit =
      WIFSIGNALED(status) ? ProcessExit{0, WTERMSIG(status)} : ProcessExit{WEXITSTATUS(status), 0};
  return ProcessEnd::kEnded;
}

}  // namespace platform
