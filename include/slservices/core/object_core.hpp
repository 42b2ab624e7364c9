// The object protocol behind the five base entries of every table, written once: the module's
// own objects (runtime/, under the names ServiceObjectCore and ErrorRecords) and host objects
// built on the SDK's HostObject both keep an ObjectCore and forward AddRef, Release,
// GetRefCount, GetWeakRef and GetErrorInfo to it.
//
//   - The reference count starts at 1 (the creator's reference). Release returns the count
//     left; 0 tells the owner to destroy the object now.
//   - The weak block is made by the first GetWeakRef and published once by compare-and-swap;
//     the object holds one weak reference on it, so it outlives the object while weak
//     references remain. Lock and the final Release are serialised by the block's spin flag,
//     and Lock never revives a count of 0.
//   - Failure records: the calling thread's last failure, kept per thread for GetErrorInfo.
//     A record is made by a thread's first failure, overwritten in place afterwards and never
//     removed while the object lives, so its address stays valid for GetErrorInfo's callers.
//     One recursive mutex per object guards them, and nothing else.
//
// What differs between the module and a host is the Platform parameter:
//   using ThreadKey = ...;              the key of a thread's failure record
//   static ThreadKey CurrentThread();
//   static void YieldThread();          the spin flag's backoff: 16 spins, then 16 yields,
//   static void SleepOneMillisecond();  then a sleep of about 1 ms per retry
//
// Debug checks (check.hpp): every misuse of the protocol that can be seen (a count below zero,
// an AddRef on a dying object, a count that rises after the final Release, a weak reference
// released too often) stops the process with a sentence naming it; the owners add the call on
// a destroyed object (IsAlive: the marker is worn off at destruction).
//
// Thread safety: every member may be called from any thread at once while the caller holds a
// reference (a weak one for the weak entries).
#ifndef SLSERVICES_CORE_OBJECT_CORE_HPP_
#define SLSERVICES_CORE_OBJECT_CORE_HPP_

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <type_traits>

#include "slservices/core/check.hpp"
#include "slservices/sl_exception.hpp"
#include "slservices/sl_object.h"

namespace sl::core {

// 0 free, 1 held. Held only for a few instructions, so waiters spin first.
template <class Platform>
void AcquireSpinFlag(std::atomic<uint32_t>& flag) {
  for (uint32_t retry = 0; flag.exchange(1) != 0; ++retry) {
    if (retry < 16) continue;
    if (retry < 32) {
      Platform::YieldThread();
    } else {
      Platform::SleepOneMillisecond();
    }
  }
}

inline void ReleaseSpinFlag(std::atomic<uint32_t>& flag) { flag.store(0); }

// The weak-reference block: the five entries callers use, then the owner's fields.
struct WeakBlock {
  ServiceObjectWeakRef entries;        // first: callers' pointers are the block's address
  std::atomic<int32_t> weakCount{1};   // 1 for the object's own reference
  std::atomic<ServiceObject*> object;  // null once the object is destroyed
  std::atomic<uint32_t> spinFlag{0};
  std::atomic<int32_t>* strongCount;  // the object's count, read only while attached
};
static_assert(std::is_standard_layout_v<WeakBlock>,
              "callers' block pointers are the address of its first member");

template <class Platform>
struct WeakEntries {
  static WeakBlock* BlockOf(ServiceObjectWeakRef* weak) {
    return reinterpret_cast<WeakBlock*>(weak);
  }

  static uint32_t AddRef(ServiceObjectWeakRef* weak) {
    return static_cast<uint32_t>(BlockOf(weak)->weakCount.fetch_add(1) + 1);
  }

  // Drops one weak reference; frees the block when it was the last.
  static uint32_t Release(ServiceObjectWeakRef* weak) {
    WeakBlock* block = BlockOf(weak);
    const int32_t before = block->weakCount.fetch_sub(1);
    SLSERVICES_DCHECK(before >= 1, "a weak reference released more often than it was taken");
    if (before != 1) return static_cast<uint32_t>(before - 1);
    const int32_t now = block->weakCount.load();
    if (now > 0) return static_cast<uint32_t>(now);
    delete block;
    return 0;
  }

  static uint32_t GetRefCount(ServiceObjectWeakRef* weak) {
    return static_cast<uint32_t>(BlockOf(weak)->weakCount.load());
  }

  static uint8_t IsAlive(ServiceObjectWeakRef* weak) {
    return BlockOf(weak)->object.load() != nullptr ? 1 : 0;
  }

  // Revival is refused once the count has reached zero: the final Release has then already
  // decided, and letting Lock bring the count back from 0 to 1 would allow a second thread to
  // release it again and destroy the object while the first Release still goes on. So Lock
  // adds a reference only while the count is above zero, and the Release that took it to zero
  // is the only one that can destroy the object. The spin flag keeps the object's memory valid
  // while Lock reads its count: the dying Release detaches the block under the same flag
  // before it destroys anything.
  static ServiceObject* Lock(ServiceObjectWeakRef* weak) {
    WeakBlock* block = BlockOf(weak);
    if (block->object.load() == nullptr) return nullptr;
    AcquireSpinFlag<Platform>(block->spinFlag);
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
};

// Each thread's last failure on one object, under the object's one recursive mutex.
template <class Platform>
class FailureRecords {
 public:
  void Store(const ErrorInfo& info) {
    const typename Platform::ThreadKey thread = Platform::CurrentThread();
    std::lock_guard<std::recursive_mutex> guard(lock_);
    byThread_[thread] = info;
  }

  // GetErrorInfo's work: 3 for a null out pointer, 11 (and a zeroed record) when the calling
  // thread has no record, else 0 with the record's fields.
  SLResult Read(SLErrorInfo* info) {
    if (info == nullptr) return SL_INVALID_ARGUMENT;
    const typename Platform::ThreadKey thread = Platform::CurrentThread();
    const ErrorInfo* record = nullptr;
    {
      std::lock_guard<std::recursive_mutex> guard(lock_);
      auto found = byThread_.find(thread);
      if (found != byThread_.end()) record = &found->second;
    }
    if (record == nullptr) {
      std::memset(info, 0, sizeof(*info));
      return SL_NOT_FOUND;
    }
    // Only this thread writes its own record, so reading it after unlocking is safe.
    *info = SLErrorInfo{record->code, record->line, record->message, record->functionName,
                        record->sourceFile};
    return SL_OK;
  }

 private:
  std::map<typename Platform::ThreadKey, ErrorInfo> byThread_;
  std::recursive_mutex lock_;  // guards byThread_ only
};

// The common block behind an object's own data: reference count, weak block, the "EOSO"
// marker and the failure records.
template <class Platform>
class ObjectCore {
 public:
  ObjectCore() = default;
  ObjectCore(const ObjectCore&) = delete;
  ObjectCore& operator=(const ObjectCore&) = delete;
#if defined(SL_DEBUG_CHECKS) && SL_DEBUG_CHECKS
  // The marker is worn off at destruction, so that a call through a stale pointer finds no
  // "EOSO" while the memory is not yet reused.
  ~ObjectCore() { std::memcpy(marker_, "dead", sizeof(marker_)); }
#endif

  bool IsAlive() const { return std::memcmp(marker_, "EOSO", sizeof(marker_)) == 0; }

  uint32_t AddRef() {
    const int32_t before = refCount_.fetch_add(1);
    SLSERVICES_DCHECK(before > 0,
                      "AddRef on an object whose count is 0: it is being destroyed; only a weak "
                      "reference's Lock may hand out a new reference, and it refuses a count of 0");
    return static_cast<uint32_t>(before + 1);
  }

  // The count left; 0 when the caller must destroy the object now (the weak block is then
  // already detached: Lock answers null from here on).
  uint32_t Release() {
    const int32_t count = refCount_.fetch_sub(1) - 1;
    SLSERVICES_DCHECK(count >= 0,
                      "Release on an object whose count is already 0: a reference was "
                      "released more often than it was taken");
    if (count != 0) return static_cast<uint32_t>(count);
    if (WeakBlock* block = weakRef_.load()) return DetachWeakBlock(block);
    const int32_t again = refCount_.load();
    return again > 0 ? static_cast<uint32_t>(again) : 0;
  }

  uint32_t RefCount() const { return static_cast<uint32_t>(refCount_.load()); }

  // GetWeakRef's work for the object whose table is at `self`. The block's allocation may
  // throw std::bad_alloc; nothing is published then.
  SLResult GetWeakRef(ServiceObject* self, ServiceObjectWeakRef** weak) {
    if (weak == nullptr) return SL_INVALID_ARGUMENT;
    WeakBlock* block = weakRef_.load();
    if (block == nullptr) {
      using Entries = WeakEntries<Platform>;
      auto* fresh = new WeakBlock{{&Entries::AddRef, &Entries::Release, &Entries::GetRefCount,
                                   &Entries::IsAlive, &Entries::Lock},
                                  {1},
                                  {self},
                                  {0},
                                  &refCount_};
      WeakBlock* expected = nullptr;
      if (weakRef_.compare_exchange_strong(expected, fresh)) {
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

  SLResult GetErrorInfo(SLErrorInfo* info) { return errors_.Read(info); }

  // The per-thread failure records, which the entries' failure reporting writes.
  FailureRecords<Platform>& errors() { return errors_; }

 private:
  // The dying Release's part: under the spin flag, decides whether the object really dies and
  // detaches the block. Returns the count to report when the count rose again (never with the
  // Lock above, which refuses a count of 0), 0 when the object must be destroyed.
  uint32_t DetachWeakBlock(WeakBlock* block) {
    AcquireSpinFlag<Platform>(block->spinFlag);
    const int32_t count = refCount_.load();
    SLSERVICES_DCHECK(count <= 0,
                      "an object's count rose again after its final Release: an AddRef on a "
                      "dying object, or a Lock that revived a count of 0");
    if (count > 0) {
      ReleaseSpinFlag(block->spinFlag);
      return static_cast<uint32_t>(count);
    }
    SLSERVICES_DCHECK(block->weakCount.load() >= 1,
                      "the object's own weak reference is gone while the object lives: a weak "
                      "reference was released more often than it was taken");
    block->object.exchange(nullptr);
    ReleaseSpinFlag(block->spinFlag);
    WeakEntries<Platform>::Release(&block->entries);  // the object's own reference
    return 0;
  }

  std::atomic<int32_t> refCount_{1};
  std::atomic<WeakBlock*> weakRef_{nullptr};
  char marker_[4] = {'E', 'O', 'S', 'O'};
  FailureRecords<Platform> errors_;
};

}  // namespace sl::core

#endif  // SLSERVICES_CORE_OBJECT_CORE_HPP_
