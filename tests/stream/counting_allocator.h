// The allocation counter of stream_alloc_test, which replaces the global operator new and
// delete for its whole executable. Counting is off until a test turns it on, so gtest's own
// allocations outside the measured stretch are not seen.
#pragma once

#include <cstddef>
#include <cstdint>

namespace streamtest {

struct AllocationCount {
  uint64_t calls = 0;
  uint64_t bytes = 0;
};

// Counts every operator new made from construction to destruction (on any thread).
class CountAllocations {
 public:
  CountAllocations();
  ~CountAllocations();
  CountAllocations(const CountAllocations&) = delete;
  CountAllocations& operator=(const CountAllocations&) = delete;

  AllocationCount count() const;
};

// Makes the n-th operator new (from 1) from construction on throw std::bad_alloc; the others
// succeed. Destruction turns the failure off again.
class FailAllocation {
 public:
  explicit FailAllocation(uint64_t n);
  ~FailAllocation();
  FailAllocation(const FailAllocation&) = delete;
  FailAllocation& operator=(const FailAllocation&) = delete;

  bool failed() const;  // whether the n-th allocation was reached
};

}  // namespace streamtest
