#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

namespace sl::platform {
namespace {

// The calling thread's id, read from the system once per thread: gettid is a system call, and
// every failure record and every GetErrorInfo asks for the id. 0 (no thread has it) means not
// read yet. A child made by fork gets a new id for its one thread, so the child forgets the
// copy it inherited.
thread_local uint32_t tThreadId = 0;

void ForgetThreadIdInChild() { tThreadId = 0; }

}  // namespace

uint32_t CurrentThreadId() {
  if (tThreadId == 0) {
    // Registered once per process (and dropped by the C library if this module is unloaded).
    static const int registered = pthread_atfork(nullptr, nullptr, &ForgetThreadIdInChild);
    static_cast<void>(registered);
    tThreadId = static_cast<uint32_t>(gettid());
  }
  return tThreadId;
}

void YieldThread() { sched_yield(); }

void SleepOneMillisecond() {
  timespec delay{0, 1000000};
  while (nanosleep(&delay, &delay) != 0) {
  }
}

}  // namespace sl::platform
