#include "platform_thread_start.h"

namespace platform {

bool Thread::Start(void (*body)(void*), void* argument) {
  if (state_ != nullptr) return false;
  state_ = new State{body, argument, {}};
  if (!StartNativeThread(*state_)) {
    delete state_;
    state_ = nullptr;
    return false;
  }
  return true;
}

void Thread::Join() {
  if (state_ == nullptr) return;
  JoinNativeThread(*state_);
  delete state_;
  state_ = nullptr;
}

}  // namespace platform
