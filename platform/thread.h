// The few thread facilities the object runtime needs from the operating system.
#pragma once

#include <cstdint>

namespace sl::platform {

// The calling thread's 32-bit operating-system id (gettid / GetCurrentThreadId).
uint32_t CurrentThreadId();

// Gives up the rest of the time slice.
void YieldThread();

// Sleeps for about one millisecond.
void SleepOneMillisecond();

}  // namespace sl::platform
