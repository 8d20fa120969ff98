// Helper threads and semaphores. Implemented in platform_threads.cpp over
// each system's own calls (platform_posix_threads.cpp,
// platform_win32_threads.cpp). See platform_system.h for the rules every
// platform header follows.
#pragma once

#include <cstddef>

namespace platform {

// Threads that work beside the main one, and counting semaphores to hand work
// over and back.

// How many processors this process may run on (at least 1).
int ProcessorCount();

// The stack of a helper thread: its work is shallow (copying, decoding), and
// a small stack keeps a 32-bit process's address space for its buffers.
inline constexpr size_t kThreadStackSize = 256 * 1024;

// A thread that runs `body(argument)`, on a stack of kThreadStackSize bytes.
// Join (or the destructor) waits until it has returned. POSIX: the thread takes no signals; they
// stay with the threads that were there before.
class Thread {
 public:
  Thread() = default;
  ~Thread() { Join(); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts the thread; false when the system cannot start one (or one was
  // started already).
  bool Start(void (*body)(void*), void* argument);

  // Waits for the started thread to end; returns at once when none runs.
  void Join();

  // What a started thread is; defined inside this layer.
  struct State;

 private:
  State* state_ = nullptr;
};

// A semaphore: Wait takes one unit, waiting until there is one; Post adds
// one. Starts with none. IsUsable is false when the system could not make
// one; Post and Wait then do nothing.
class Semaphore {
 public:
  Semaphore();
  ~Semaphore();
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  bool IsUsable() const { return state_ != nullptr; }
  void Post();
  void Wait();

 private:
  struct State;
  State* state_ = nullptr;
};

}  // namespace platform
