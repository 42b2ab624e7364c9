// The allocator hook of the allocation sweep: this executable replaces the global operator new
// and delete (every form), counts the allocations the calling thread makes while it is armed,
// and makes the n-th of them throw std::bad_alloc. Other threads, and the same thread while
// unarmed, allocate normally. Each thread also counts the blocks it allocated and has not freed,
// so a test can tell that a failed operation gave back everything it had taken.
#pragma once

#include <cstdint>

namespace reltest {

// Arms the calling thread: its n-th allocation (from 1) from now on throws std::bad_alloc.
// Destruction disarms it. Not nestable.
class FailNthAllocation {
 public:
  explicit FailNthAllocation(uint64_t n);
  ~FailNthAllocation();
  FailNthAllocation(const FailNthAllocation&) = delete;
  FailNthAllocation& operator=(const FailNthAllocation&) = delete;

  // Whether the n-th allocation was reached (and refused).
  bool reached() const;
  // Allocations the thread asked for while armed, the refused one included.
  uint64_t allocations() const;
};

// Blocks the calling thread allocated through operator new and has not deleted since.
int64_t LiveBlocks();

}  // namespace reltest
