// What a helper thread is on every system, for the per-system thread files:
// the shared start and join (platform_threads.cpp) over the system's own
// calls (platform_posix_threads.cpp, platform_win32_threads.cpp).
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "platform_threads.h"

namespace platform {

// The system's handle of a running thread.
#ifdef _WIN32
using NativeThread = HANDLE;
#else
using NativeThread = pthread_t;
#endif

// A started thread: what it runs, and its handle.
struct Thread::State {
  void (*body)(void*);
  void* argument;
  NativeThread native;
};

// Starts the system's thread for `state`, which outlives it, running
// state.body(state.argument) on a stack of kThreadStackSize bytes; sets
// state.native. False, with the system's error, when none could be started.
bool StartNativeThread(Thread::State& state);

// Waits until the thread of `state` has ended, and lets go of its handle.
void JoinNativeThread(Thread::State& state);

}  // namespace platform
