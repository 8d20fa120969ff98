// Interruptions on POSIX systems: catching the signals that ask this process to
// stop, and passing them on to the program it waits for. The handler's state
// is the one process-wide state of this layer: a signal handler has nowhere
// else to find it.
#include <signal.h>

#include "platform_posix_interruptions.h"
#include "platform_processes.h"

namespace platform {

namespace {

volatile sig_atomic_t caught_signal = 0;
volatile sig_atomic_t waited_program = 0;

void OnInterruption(int signal, siginfo_t* info, void*) {
  if (caught_signal == 0) caught_signal = signal;
  // The terminal sends its interrupt key and its hang-up to the whole
  // foreground process group (SI_KERNEL): the program has it already.
  const pid_t program = waited_program;
  if (program > 0 && info->si_code != SI_KERNEL) kill(program, signal);
}

}  // namespace

void CatchInterruptions() {
  struct sigaction action {};
  action.sa_sigaction = OnInterruption;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : kInterruptionSignals) {
    // One that was ignored from the start (nohup) stays ignored.
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

int CaughtInterruption() { return caught_signal; }

bool CatchesInterruption(int signal) {
  struct sigaction current {};
  return sigaction(signal, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) != 0 &&
         current.sa_sigaction == OnInterruption;
}

void PassInterruptionsTo(pid_t program) { waited_program = program; }

}  // namespace platform
