#include "worker.h"

namespace extraction {

Worker::~Worker() {
  if (!threaded_) return;
  Wait();
  stopping_ = true;
  work_ready_.Post();
  thread_.Join();
}

bool Worker::Start(void (*job)(void*), void* argument) {
  job_ = job;
  argument_ = argument;
  threaded_ = work_ready_.IsUsable() && work_done_.IsUsable() && thread_.Start(Serve, this);
  return threaded_;
}

void Worker::Post() {
  if (!threaded_) {
    job_(argument_);
    return;
  }
  in_flight_ = true;
  work_ready_.Post();
}

void Worker::Wait() {
  if (!in_flight_) return;
  work_done_.Wait();
  in_flight_ = false;
}

void Worker::Serve(void* self) {
  auto& worker = *static_cast<Worker*>(self);
  for (;;) {
    worker.work_ready_.Wait();
    if (worker.stopping_) return;
    worker.job_(worker.argument_);
    worker.work_done_.Post();
  }
}

}  // namespace extraction
