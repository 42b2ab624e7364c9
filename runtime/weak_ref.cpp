#include "runtime/weak_ref.h"

#include <new>
#include <type_traits>

#include "runtime/debug_check.h"
#include "runtime/spin_flag.h"

namespace SODetails {

namespace {

WeakRefBlock* BlockOf(ServiceObjectWeakRef* weak) { return reinterpret_cast<WeakRefBlock*>(weak); }

uint32_t WeakAddRef(ServiceObjectWeakRef* weak) {
  return static_cast<uint32_t>(BlockOf(weak)->weakCount.fetch_add(1) + 1);
}

// Drops one weak reference; frees the block when it was the last.
uint32_t WeakRelease(ServiceObjectWeakRef* weak) {
  WeakRefBlock* block = BlockOf(weak);
  const int32_t before = block->weakCount.fetch_sub(1);
  SL_DCHECK(before >= 1, "a weak reference released more often than it was taken");
  if (before != 1) return static_cast<uint32_t>(before - 1);
  const int32_t now = block->weakCount.load();
  if (now > 0) return static_cast<uint32_t>(now);
  delete block;
  return 0;
}

uint32_t WeakGetRefCount(ServiceObjectWeakRef* weak) {
  return static_cast<uint32_t>(BlockOf(weak)->weakCount.load());
}

uint8_t WeakIsAlive(ServiceObjectWeakRef* weak) {
  return BlockOf(weak)->object.load() != nullptr ? 1 : 0;
}

// Revival is refused once the count has reached zero: the final Release has then already
// decided, and letting Lock bring the count back from 0 to 1 would allow a second thread to
// release it again and destroy the object while the first Release still goes on. So Lock
// adds a reference only while the count is above zero, and the Release that took it to zero
// is the only one that can destroy the object. The spin flag keeps the object's memory valid
// while Lock reads its count: the dying Release detaches the block under the same flag
// before it destroys anything.
ServiceObject* WeakLock(ServiceObjectWeakRef* weak) {
  WeakRefBlock* block = BlockOf(weak);
  if (block->object.load() == nullptr) return nullptr;
  AcquireSpinFlag(block->spinFlag);
  ServiceObject* object = block->object.load();
  if (object != nullptr) {
    int32_t count = block->strongCount->load();
    do {
      if (count <= 0) {
        object = nullptr;
        break;
      }
    } while (!block->strongCount->compare_exchange_weak(count, count + 1));
  }
  ReleaseSpinFlag(block->spinFlag);
  return object;
}

}  // namespace

SLResult GetWeakRefFor(ServiceObject* object, ServiceObjectCore& core,
                       ServiceObjectWeakRef** weak) {
  if (weak == nullptr) return SL_INVALID_ARGUMENT;
  WeakRefBlock* block = core.weakRef.load();
  if (block == nullptr) {
    auto* fresh =
        new WeakRefBlock{{&WeakAddRef, &WeakRelease, &WeakGetRefCount, &WeakIsAlive, &WeakLock},
                         {1},
                         {object},
                         {0},
                         &core.refCount};
    WeakRefBlock* expected = nullptr;
    if (core.weakRef.compare_exchange_strong(expected, fresh)) {
      block = fresh;
    } else {
      delete fresh;  // another thread published first
      block = expected;
    }
  }
  block->weakCount.fetch_add(1);
  *weak = &block->entries;
  return SL_OK;
}

int32_t DetachWeakRefForDestruction(ServiceObjectCore& core, WeakRefBlock* block) {
  AcquireSpinFlag(block->spinFlag);
  const int32_t count = core.refCount.load();
  SL_DCHECK(count <= 0,
            "an object's count rose again after its final Release: an AddRef on a "
            "dying object, or a Lock that revived a count of 0");
  if (count > 0) {
    ReleaseSpinFlag(block->spinFlag);
    return count;
  }
  SL_DCHECK(block->weakCount.load() >= 1,
            "the object's own weak reference is gone while the object lives: a weak reference "
            "was released more often than it was taken");
  block->object.exchange(nullptr);
  ReleaseSpinFlag(block->spinFlag);
  WeakRelease(&block->entries);  // the object's own reference on the block
  return 0;
}

}  // namespace SODetails

static_assert(std::is_standard_layout_v<SODetails::WeakRefBlock>,
              "callers' block pointers are the address of its first member");
