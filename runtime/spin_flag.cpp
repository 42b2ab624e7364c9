#include "runtime/spin_flag.h"

#include "platform/thread.h"

namespace SODetails {

void AcquireSpinFlag(std::atomic<uint32_t>& flag) {
  for (uint32_t retry = 0; flag.exchange(1) != 0; ++retry) {
    if (retry < 16) continue;
    if (retry < 32) {
      sl::platform::YieldThread();
    } else {
      sl::platform::SleepOneMillisecond();
    }
  }
}

}  // namespace SODetails
