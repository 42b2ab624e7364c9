// Small service objects for runtime tests, built on the generated glue like the module's own.
#pragma once

#include <atomic>
#include <cstdint>

#include "support/details/FileSystemSearchResult"

namespace sltest {

// A search-result-shaped object whose entries return whatever the test sets, and which counts
// its destructions.
struct ProbeImpl
    : SOImpl::CppSLFileSystemSearchResultBase<ProbeImpl, SODetails::ServiceObjectTraits> {
  explicit ProbeImpl(std::atomic<int>* destroyed = nullptr) : destroyed_(destroyed) {}
  ~ProbeImpl() {
    if (destroyed_ != nullptr) destroyed_->fetch_add(1);
  }

  SLResult GetCount(uint64_t* count) {
    if (count != nullptr) *count = 42;
    return nextResult;
  }
  SLResult GetFileInfo(uint32_t, const SLChar16**) { return nextResult; }

  SLResult nextResult = SL_OK;
  std::atomic<int>* destroyed_;
};

using ProbeObject = SODetails::ServiceObjectT<ProbeImpl>;

inline ProbeObject* MakeProbe(std::atomic<int>* destroyed = nullptr) {
  return ProbeObject::FromHeader(SODetails::MakeServiceObject<ProbeImpl>(destroyed));
}

inline ServiceObject* AsObject(ProbeObject* probe) { return probe->AsObject(); }

}  // namespace sltest
