// Reference counting: an AddRef/Release pair through the base entries of one object, on one
// thread and on two threads at once (both counting the same object), against copying and
// dropping a std::shared_ptr under the same conditions. Either side is one atomic increment and
// one atomic decrement; the entries add two indirect calls.
#include <memory>

#include "bench_support.h"

namespace slbench {
namespace {

void AddRefRelease(benchmark::State& state) {
  auto* object = reinterpret_cast<ServiceObject*>(Streams());
  AllocationMeter steady;
  steady.Start();
  for (auto _ : state) {
    object->header.AddRef(object);
    object->header.Release(object);
  }
  steady.Stop(state.iterations());
  steady.Report(state);
}

const std::shared_ptr<int>& Shared() {
  static const auto shared = std::make_shared<int>(7);
  return shared;
}

void SharedPtrCopy(benchmark::State& state) {
  const std::shared_ptr<int>& shared = Shared();
  for (auto _ : state) {
    std::shared_ptr<int> copy = shared;
    benchmark::DoNotOptimize(copy);
  }
}

BENCHMARK(AddRefRelease)->Name("Refs/AddRef_Release")->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(SharedPtrCopy)->Name("Refs/shared_ptr_copy")->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
}  // namespace slbench
