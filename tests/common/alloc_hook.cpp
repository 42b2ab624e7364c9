#include "common/alloc_hook.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

// Plain per-thread data: operator new reads it, so reading it must not allocate. Per thread, so
// that what other threads of the runtime allocate and free meanwhile does not count.
thread_local uint64_t tCount = 0;
thread_local uint64_t tFailAt = 0;  // the count whose allocation fails; 0: none
thread_local bool tReached = false;
thread_local int64_t tLive = 0;

void* Allocate(std::size_t size) {
  if (++tCount == tFailAt) {
    tReached = true;
    throw std::bad_alloc();
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  ++tLive;
  return block;
}

void Free(void* block) noexcept {
  if (block == nullptr) return;
  --tLive;
  std::free(block);
}

}  // namespace

// Every form but the over-aligned ones, which stay the library's (allocation and release alike).
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* block) noexcept { Free(block); }
void operator delete[](void* block) noexcept { Free(block); }
void operator delete(void* block, std::size_t) noexcept { Free(block); }
void operator delete[](void* block, std::size_t) noexcept { Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Free(block); }

namespace sltest {

uint64_t Allocations() { return tCount; }
int64_t LiveBlocks() { return tLive; }

FailAllocation::FailAllocation(uint64_t n) {
  tReached = false;
  tFailAt = tCount + n;
}
FailAllocation::~FailAllocation() { tFailAt = 0; }
bool FailAllocation::reached() const { return tReached; }

}  // namespace sltest
