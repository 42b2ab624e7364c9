// The one allocation hook of the tests, fuzzers and benchmarks: an executable that links
// alloc_hook.cpp replaces the global operator new and delete. Every allocation is counted for the
// thread that makes it, and a thread can make one of its coming allocations fail.
#pragma once

#include <cstdint>
#include <new>

namespace sltest {

// Calls of operator new the calling thread has made since it started.
uint64_t Allocations();
// Blocks the calling thread allocated through operator new and has not freed since.
int64_t LiveBlocks();

// Makes the calling thread's n-th allocation from now on (from 1) throw std::bad_alloc, until
// it is destroyed. Not nestable.
class FailAllocation {
 public:
  explicit FailAllocation(uint64_t n);
  ~FailAllocation();
  FailAllocation(const FailAllocation&) = delete;
  FailAllocation& operator=(const FailAllocation&) = delete;

  bool reached() const;  // whether that allocation came (and was refused)
};

// Runs `call` with the calling thread's n-th allocation failing.
struct Refusal {
  bool reached = false;  // the n-th allocation came
  bool threw = false;    // std::bad_alloc left the call
};
template <class Call>
Refusal RunFailing(uint64_t n, Call&& call) {
  Refusal refusal;
  FailAllocation fail(n);
  try {
    call();
  } catch (const std::bad_alloc&) {
    refusal.threw = true;
  }
  refusal.reached = fail.reached();
  return refusal;
}

}  // namespace sltest
