// Debug checks of the object protocol's invariants. Built with SL_DEBUG_CHECKS=1 (the Debug,
// ASan and TSan presets, or a host's own definition), a check that fails stops the process with
// a sentence naming the misuse, the condition and where it was checked:
//
//   SLSERVICES_DCHECK(count >= 0, "Release on an object whose count is already 0: ...");
//
// Off otherwise, at no cost: the condition is not evaluated.
#ifndef SLSERVICES_CORE_CHECK_HPP_
#define SLSERVICES_CORE_CHECK_HPP_

#if defined(SL_DEBUG_CHECKS) && SL_DEBUG_CHECKS
#include <cstdio>
#include <cstdlib>

namespace sl::core {
[[noreturn]] inline void DebugCheckFailed(const char* misuse, const char* condition,
                                          const char* file, int line) {
  std::fprintf(stderr, "slservices: %s\n  (debug check `%s` failed at %s:%d)\n", misuse, condition,
               file, line);
  std::fflush(stderr);
  std::abort();
}
}  // namespace sl::core

#define SLSERVICES_DCHECK(condition, misuse)                                                \
  do {                                                                                      \
    if (!(condition)) ::sl::core::DebugCheckFailed(misuse, #condition, __FILE__, __LINE__); \
  } while (0)
#else
#define SLSERVICES_DCHECK(condition, misuse) \
  do {                                       \
  } while (0)
#endif

#endif  // SLSERVICES_CORE_CHECK_HPP_
