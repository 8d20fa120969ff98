// Inside the POSIX platform layer: what RunProcess needs of the signal
// handling in platform_posix_interruptions.cpp.
#pragma once

#include <signal.h>
#include <sys/types.h>

namespace platform {

// The signals CatchInterruptions catches.
inline constexpr int kInterruptionSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Whether `signal` is being caught by CatchInterruptions' handler.
bool CatchesInterruption(int signal);

// The started program a caught signal is passed on to; 0 for none. Set it
// while the interruption signals are blocked, so that none falls between
// the start and this call.
void PassInterruptionsTo(pid_t program);

}  // namespace platform
