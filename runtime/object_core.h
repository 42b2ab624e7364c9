// The module's instance of the object protocol (slservices/core/object_core.hpp, shared with
// the SDK's HostObject) under the names the module uses: failure records keyed by the operating
// system's thread id, and the spin flag's backoff through the platform layer.
//
//   ServiceObjectCore           the common block behind each object's own data: reference count,
//                               weak-reference block pointer, "EOSO", the per-thread failure
//                               records and their one recursive mutex
//   ServiceObjectWeakRefBlock   the weak-reference block: the five ServiceObjectWeakRef entries
//                               callers see (sl_object.h), then the weak count, the object
//                               pointer and the spin flag
//   ErrorRecords                the per-thread failure records of one object
#pragma once

#include <cstdint>

#include "platform/thread.h"
#include "slservices/core/object_core.hpp"

namespace SODetails {

struct ModuleProtocol {
  using ThreadKey = uint32_t;
  static ThreadKey CurrentThread() { return sl::platform::CurrentThreadId(); }
  static void YieldThread() { sl::platform::YieldThread(); }
  static void SleepOneMillisecond() { sl::platform::SleepOneMillisecond(); }
};

using ServiceObjectCore = sl::core::ObjectCore<ModuleProtocol>;
using ServiceObjectWeakRefBlock = sl::core::WeakBlock;
using ErrorRecords = sl::core::FailureRecords<ModuleProtocol>;

}  // namespace SODetails
