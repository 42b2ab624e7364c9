#include "counting_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> gCounting{false};
std::atomic<uint64_t> gCalls{0};
std::atomic<uint64_t> gBytes{0};
std::atomic<uint64_t> gFailAt{0};  // 0: never
std::atomic<bool> gFailed{false};

void* Allocate(std::size_t size) {
  if (gCounting.load()) {
    const uint64_t call = gCalls.fetch_add(1) + 1;
    gBytes.fetch_add(size);
    if (call == gFailAt.load()) {
      gFailed.store(true);
      throw std::bad_alloc();
    }
  }
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void Start() {
  gCalls.store(0);
  gBytes.store(0);
  gCounting.store(true);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace streamtest {

CountAllocations::CountAllocations() { Start(); }
CountAllocations::~CountAllocations() { gCounting.store(false); }
AllocationCount CountAllocations::count() const { return {gCalls.load(), gBytes.load()}; }

FailAllocation::FailAllocation(uint64_t n) {
  gFailed.store(false);
  gFailAt.store(n);
  Start();
}
FailAllocation::~FailAllocation() {
  gCounting.store(false);
  gFailAt.store(0);
}
bool FailAllocation::failed() const { return gFailed.load(); }

}  // namespace streamtest
