#include "platform/thread.h"

#include <sched.h>
#include <time.h>
#include <unistd.h>

namespace sl::platform {

uint32_t CurrentThreadId() { return static_cast<uint32_t>(gettid()); }

void YieldThread() { sched_yield(); }

void SleepOneMillisecond() {
  timespec delay{0, 1000000};
  while (nanosleep(&delay, &delay) != 0) {
  }
}

}  // namespace sl::platform
