#include "platform/thread.h"

#include <windows.h>

namespace sl::platform {

uint32_t CurrentThreadId() { return static_cast<uint32_t>(GetCurrentThreadId()); }

void YieldThread() { SwitchToThread(); }

void SleepOneMillisecond() { Sleep(1); }

}  // namespace sl::platform
