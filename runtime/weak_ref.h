// The weak-reference block: five entries a caller can use, then the module's own fields.
// One block per object at most, created on the first GetWeakRef and published once by
// compare-and-swap. It outlives the object for as long as weak references remain.
//
// Thread safety: every entry is safe on any thread while the caller holds a weak reference.
// Lock and the object's final Release are serialised by the spin flag.
#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/object_core.h"
#include "slservices/sl_object.h"

namespace SODetails {

struct WeakRefBlock {
  ServiceObjectWeakRef entries;        // what callers see
  std::atomic<int32_t> weakCount{1};   // 1 for the object's own reference
  std::atomic<ServiceObject*> object;  // null once the object is destroyed
  std::atomic<uint32_t> spinFlag{0};
  std::atomic<int32_t>* strongCount;  // the object's count, read only while attached
};

// GetWeakRef's work on `object` whose common block is `core`.
SLResult GetWeakRefFor(ServiceObject* object, ServiceObjectCore& core, ServiceObjectWeakRef** weak);

// The dying Release's part: under the spin flag, decides whether the object really dies and
// detaches the block. Returns the count to report when a concurrent Lock revived the object
// (never with the Lock used here, which refuses a count of zero), 0 when the caller must
// destroy it.
int32_t DetachWeakRefForDestruction(ServiceObjectCore& core, WeakRefBlock* block);

}  // namespace SODetails
