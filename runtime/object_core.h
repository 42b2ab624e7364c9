// The common block behind every object's own data: reference count, weak-reference block,
// the "EOSO" marker and the per-thread failure records with their lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

#include "runtime/debug_check.h"
#include "slservices/sl_exception.hpp"

namespace SODetails {

struct WeakRefBlock;

// Last failure per calling thread (by OS thread id). Entries are created by a thread's first
// failure, overwritten in place afterwards and never removed while the object lives, so a
// record's address stays valid for GetErrorInfo callers.
struct ErrorRecords {
  std::map<uint32_t, ErrorInfo> byThread;
  std::recursive_mutex lock;
};

struct ServiceObjectCore {
  ServiceObjectCore() = default;
  ServiceObjectCore(const ServiceObjectCore&) = delete;
  ServiceObjectCore& operator=(const ServiceObjectCore&) = delete;
#if SL_DEBUG_CHECKS
  // The marker is worn off at destruction, so that a call through a stale pointer finds no
  // "EOSO" while the memory is not yet reused.
  ~ServiceObjectCore() {
    SL_DCHECK(refCount.load() == 0, "an object destroyed while references to it remain");
    std::memcpy(marker, "dead", sizeof(marker));
  }
#endif

  bool IsAlive() const { return std::memcmp(marker, "EOSO", sizeof(marker)) == 0; }

  std::atomic<int32_t> refCount{1};
  std::atomic<WeakRefBlock*> weakRef{nullptr};
  char marker[4] = {'E', 'O', 'S', 'O'};
  ErrorRecords errors;
};

}  // namespace SODetails
