// The module's instance of the object protocol (slservices/sdk/protocol.hpp, shared with the
// SDK's HostObject): failure records keyed by the operating system's thread id, and the spin
// flag's backoff through the platform layer.
#pragma once

#include <cstdint>

#include "platform/thread.h"
#include "slservices/sdk/protocol.hpp"

namespace SODetails {

struct ModuleProtocol {
  using ThreadKey = uint32_t;
  static ThreadKey CurrentThread() { return sl::platform::CurrentThreadId(); }
  static void YieldThread() { sl::platform::YieldThread(); }
  static void SleepOneMillisecond() { sl::platform::SleepOneMillisecond(); }
};

using ServiceObjectCore = sl::sdk::protocol::ObjectCore<ModuleProtocol>;
using ErrorRecords = sl::sdk::protocol::FailureRecords<ModuleProtocol>;

}  // namespace SODetails
