// The helper thread and semaphore on Windows.
#include <windows.h>

#include <climits>

#include "platform.h"

namespace platform {

namespace {

// What the thread runs.
struct Work {
  void (*body)(void*);
  void* argument;
};

DWORD WINAPI RunWork(void* raw) {
  const auto* work = static_cast<Work*>(raw);
  work->body(work->argument);
  return 0;
}

}  // namespace

struct Thread::State {
  HANDLE thread;
  Work work;
};

int ProcessorCount() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) return 1;
  int count = 0;
  for (; process != 0; process &= process - 1) ++count;
  return count;
}

bool Thread::Start(void (*body)(void*), void* argument) {
  if (state_ != nullptr) return false;
  state_ = new State{nullptr, {body, argument}};
  state_->thread = CreateThread(nullptr, kThreadStackSize, RunWork, &state_->work,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (state_->thread == nullptr) {
    delete state_;
    state_ = nullptr;
    return false;
  }
  return true;
}

void Thread::Join() {
  if (state_ == nullptr) return;
  WaitForSingleObject(state_->thread, INFINITE);
  CloseHandle(state_->thread);
  delete state_;
  state_ = nullptr;
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
