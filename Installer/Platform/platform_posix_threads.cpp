// The helper thread and semaphore on POSIX: pthreads and unnamed semaphores.
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <signal.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform_thread_start.h"
#include "platform_threads.h"

namespace platform {

namespace {

// The thread's entry: runs what it was started for.
void* RunThread(void* raw) {
  const auto* state = static_cast<Thread::State*>(raw);
  state->body(state->argument);
  return nullptr;
}

}  // namespace

int ProcessorCount() {
  cpu_set_t processors;
  if (sched_getaffinity(0, sizeof processors, &processors) == 0) {
    return std::max(1, CPU_COUNT(&processors));
  }
  return static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
}

bool StartNativeThread(Thread::State& state) {
  // The new thread inherits the mask: with every signal blocked there, a
  // signal meant for the process is taken by the main thread, whose calls it
  // interrupts.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kThreadStackSize);
  const int started = pthread_create(&state.native, &attributes, RunThread, &state);
  pthread_attr_destroy(&attributes);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (started != 0) errno = started;
  return started == 0;
}

void JoinNativeThread(Thread::State& state) { pthread_join(state.native, nullptr); }

struct Semaphore::State {
  sem_t semaphore;
};

Semaphore::Semaphore() : state_(new State) {
  if (sem_init(&state_->semaphore, 0, 0) != 0) {
    delete state_;
    state_ = nullptr;
  }
}

Semaphore::~Semaphore() {
  if (state_ == nullptr) return;
  sem_destroy(&state_->semaphore);
  delete state_;
}

void Semaphore::Post() {
  if (state_ != nullptr) sem_post(&state_->semaphore);
}

void Semaphore::Wait() {
  if (state_ == nullptr) return;
  const int error = errno;  // a signal may interrupt the wait; the caller's error stays
  while (sem_wait(&state_->semaphore) != 0 && errno == EINTR) {
  }
  errno = error;
}

}  // namespace platform
