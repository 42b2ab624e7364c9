// The weak-reference block's spin flag: 0 free, 1 held. It is held only for a few
// instructions, so waiters spin first, then yield, then sleep 1 ms per retry.
#pragma once

#include <atomic>
#include <cstdint>

namespace SODetails {

void AcquireSpinFlag(std::atomic<uint32_t>& flag);

inline void ReleaseSpinFlag(std::atomic<uint32_t>& flag) { flag.store(0); }

}  // namespace SODetails
