// A helper thread that runs one job at a time for the thread that owns it:
// the one primitive extraction's threads are built on.
#pragma once

#include "platform_threads.h"

namespace extraction {

// The owner hands a job over with Post and collects it with Wait, one job in
// flight at a time; what the job reads and writes is handed over with it
// (Post orders the owner's writes before the job, Wait the job's before the
// owner's reads). Where no thread can be had, Post runs the job at once, on
// the owner's thread. Not for use from several owners.
class Worker {
 public:
  Worker() = default;
  // Waits for the job in flight and ends the thread: declare a Worker after
  // whatever its job uses.
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Starts the thread that runs `job(argument)` for each Post. False when no
  // thread can be had (Post then runs the job itself); only then may it be
  // called again.
  bool Start(void (*job)(void*), void* argument);

  // Hands the job over: it runs on the thread, or here without one.
  void Post();

  // Waits until the job posted last has ended; at once when none is in
  // flight.
  void Wait();

 private:
  static void Serve(void* self);

  platform::Thread thread_;
  platform::Semaphore work_ready_;
  platform::Semaphore work_done_;
  void (*job_)(void*) = nullptr;
  void* argument_ = nullptr;
  bool threaded_ = false;
  bool in_flight_ = false;
  bool stopping_ = false;
};

}  // namespace extraction
