// The helper thread and semaphore on Windows.
#include <windows.h>

#include <climits>

#include "platform_thread_start.h"
#include "platform_threads.h"

namespace platform {

namespace {

// The thread's entry: runs what it was started for.
DWORD WINAPI RunThread(void* raw) {
  const auto* state = static_cast<Thread::State*>(raw);
  state->body(state->argument);
  return 0;
}

}  // namespace

int ProcessorCount() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) return 1;
  int count = 0;
  for (; process != 0; process &= process - 1) ++count;
  return count;
}

bool StartNativeThread(Thread::State& state) {
  state.native = CreateThread(nullptr, kThreadStackSize, RunThread, &state,
                              STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  return state.native != nullptr;
}

void JoinNativeThread(Thread::State& state) {
  WaitForSingleObject(state.native, INFINITE);
  CloseHandle(state.native);
}

struct Semaphore::State {
  HANDLE semaphore;
};

Semaphore::Semaphore() {
  const HANDLE semaphore = CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr);
  if (semaphore != nullptr) state_ = new State{semaphore};
}

Semaphore::~Semaphore() {
  if (state_ == nullptr) return;
  CloseHandle(state_->semaphore);
  delete state_;
}

void Semaphore::Post() {
  if (state_ != nullptr) ReleaseSemaphore(state_->semaphore, 1, nullptr);
}

void Semaphore::Wait() {
  if (state_ == nullptr) return;
  const DWORD error = GetLastError();
  WaitForSingleObject(state_->semaphore, INFINITE);
  SetLastError(error);
}

}  // namespace platform
