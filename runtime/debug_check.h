// Debug-build checks of the object protocol's invariants: a count that goes below zero, an
// AddRef on an object that is being destroyed, a call on an object that is no longer alive, a
// weak reference released more often than taken. Each names the caller's misuse and stops the
// process at once, so that a test or a sanitizer run stops at the misuse itself rather than at
// a crash somewhere later.
//
// On when SL_DEBUG_CHECKS is 1: the Debug, ASan and TSan builds (CMake option
// SL_DEBUG_CHECKS). Off in Release, where they cost nothing.
#pragma once

#if SL_DEBUG_CHECKS
#include <cstdio>
#include <cstdlib>

namespace SODetails {

[[noreturn]] inline void DebugCheckFailed(const char* misuse, const char* condition,
                                          const char* file, int line) {
  std::fprintf(stderr, "slservices: %s\n  (debug check `%s` failed at %s:%d)\n", misuse, condition,
               file, line);
  std::fflush(stderr);
  std::abort();
}

}  // namespace SODetails

#define SL_DCHECK(condition, misuse)                                                         \
  do {                                                                                       \
    if (!(condition)) ::SODetails::DebugCheckFailed(misuse, #condition, __FILE__, __LINE__); \
  } while (0)
#else
#define SL_DCHECK(condition, misuse) \
  do {                               \
  } while (0)
#endif
