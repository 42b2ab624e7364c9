#include "failing_allocator.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

struct ThreadArming {
  bool armed = false;
  uint64_t failAt = 0;
  uint64_t count = 0;
  bool reached = false;
};

constexpr std::size_t kDefault = alignof(std::max_align_t);

// Plain data only: reading it must not allocate, since operator new itself reads it.
thread_local ThreadArming tArming;
// Blocks this thread allocated minus blocks it freed. Per thread, so that whatever other threads
// of the runtime free meanwhile (Wine's, for one) does not count.
thread_local int64_t tLiveBlocks = 0;

void* Allocate(std::size_t size, std::size_t alignment) {
  ThreadArming& arming = tArming;
  if (arming.armed && ++arming.count == arming.failAt) {
    arming.reached = true;
    throw std::bad_alloc();
  }
  void* block = nullptr;
  if (alignment <= kDefault) {
    block = std::malloc(size == 0 ? 1 : size);
  } else {
    // Over-aligned: room to move up to the alignment, with the malloc'ed address just below.
    void* raw = std::malloc(size + alignment + sizeof(void*));
    if (raw != nullptr) {
      const auto base = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
      block = reinterpret_cast<void*>((base + alignment - 1) & ~(std::uintptr_t{alignment} - 1));
      static_cast<void**>(block)[-1] = raw;
    }
  }
  if (block == nullptr) throw std::bad_alloc();
  ++tLiveBlocks;
  return block;
}

void* AllocateNoThrow(std::size_t size, std::size_t alignment) noexcept {
  try {
    return Allocate(size, alignment);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void Free(void* block) noexcept {
  if (block == nullptr) return;
  --tLiveBlocks;
  std::free(block);
}

void FreeAligned(void* block, std::align_val_t alignment) noexcept {
  if (block == nullptr) return;
  if (static_cast<std::size_t>(alignment) <= kDefault) return Free(block);
  --tLiveBlocks;
  std::free(static_cast<void**>(block)[-1]);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size, kDefault); }
void* operator new[](std::size_t size) { return Allocate(size, kDefault); }
void* operator new(std::size_t size, std::align_val_t al) {
  return Allocate(size, static_cast<std::size_t>(al));
}
void* operator new[](std::size_t size, std::align_val_t al) {
  return Allocate(size, static_cast<std::size_t>(al));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateNoThrow(size, kDefault);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateNoThrow(size, kDefault);
}
void* operator new(std::size_t size, std::align_val_t al, const std::nothrow_t&) noexcept {
  return AllocateNoThrow(size, static_cast<std::size_t>(al));
}
void* operator new[](std::size_t size, std::align_val_t al, const std::nothrow_t&) noexcept {
  return AllocateNoThrow(size, static_cast<std::size_t>(al));
}

void operator delete(void* block) noexcept { Free(block); }
void operator delete[](void* block) noexcept { Free(block); }
void operator delete(void* block, std::size_t) noexcept { Free(block); }
void operator delete[](void* block, std::size_t) noexcept { Free(block); }
void operator delete(void* block, std::align_val_t al) noexcept { FreeAligned(block, al); }
void operator delete[](void* block, std::align_val_t al) noexcept { FreeAligned(block, al); }
void operator delete(void* block, std::size_t, std::align_val_t al) noexcept {
  FreeAligned(block, al);
}
void operator delete[](void* block, std::size_t, std::align_val_t al) noexcept {
  FreeAligned(block, al);
}
void operator delete(void* block, const std::nothrow_t&) noexcept { Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Free(block); }
void operator delete(void* block, std::align_val_t al, const std::nothrow_t&) noexcept {
  FreeAligned(block, al);
}
void operator delete[](void* block, std::align_val_t al, const std::nothrow_t&) noexcept {
  FreeAligned(block, al);
}

namespace reltest {

FailNthAllocation::FailNthAllocation(uint64_t n) {
  tArming.failAt = n;
  tArming.count = 0;
  tArming.reached = false;
  tArming.armed = true;
}

FailNthAllocation::~FailNthAllocation() { tArming.armed = false; }

bool FailNthAllocation::reached() const { return tArming.reached; }

uint64_t FailNthAllocation::allocations() const { return tArming.count; }

int64_t LiveBlocks() { return tLiveBlocks; }

}  // namespace reltest
