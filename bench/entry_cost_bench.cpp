// The cost of an interface entry: a successful call through an object's table (the generated
// entry forwards to the implementation and hands the result to the failure reporter, which
// returns at its first test) against a plain indirect call of a function doing the same work;
// a failing call, the first on a thread (which adds the thread's record to the object) and the
// later ones (which overwrite that record in place).
#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>
#include <stdexcept>

#include "bench_support.h"
#include "stream/stream_service.h"

namespace slbench {
namespace {

// A search result of a small folder: "." and ".." and three files.
SLFileSystemSearchResult* SmallSearchResult() {
  static SLFileSystemSearchResult* const result = [] {
    const std::string folder = PathOf("entry");
    ::mkdir(folder.c_str(), 0755);
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
      ::close(::open((folder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    }
    SLFileSystem* fs = DefaultFileSystem();
    SLFileSystemSearchResult* found = nullptr;
    const std::u16string pattern = ToUtf16(folder + "/*");
    if (fs->Search(fs, pattern.c_str(), &found) != SL_OK) throw std::runtime_error("search");
    return found;
  }();
  return result;
}

struct PlainObject {
  uint64_t count;
};

// Marked noinline and called through a volatile pointer: an indirect call that the compiler can
// neither see through nor hoist, like a table entry.
__attribute__((noinline)) SLResult PlainGetCount(void* self, uint64_t* count) {
  if (count == nullptr) return SL_INVALID_ARGUMENT;
  *count = static_cast<PlainObject*>(self)->count;
  return SL_OK;
}

void PlainIndirect(benchmark::State& state) {
  PlainObject object{5};
  SLResult (*volatile entry)(void*, uint64_t*) = &PlainGetCount;
  uint64_t count = 0;
  for (auto _ : state) {
    entry(&object, &count);
    benchmark::DoNotOptimize(count);
  }
}

void GetCount(benchmark::State& state) {
  SLFileSystemSearchResult* result = SmallSearchResult();
  uint64_t count = 0;
  AllocationMeter steady;
  steady.Start();
  for (auto _ : state) {
    result->GetCount(result, &count);
    benchmark::DoNotOptimize(count);
  }
  steady.Stop(state.iterations());
  if (count != 5) state.SkipWithError("unexpected count");
  steady.Report(state);
}

void GetFileSystemName(benchmark::State& state) {
  SLFileSystem* fs = DefaultFileSystem();
  uint32_t atom = 0;
  AllocationMeter steady;
  steady.Start();
  for (auto _ : state) {
    fs->GetFileSystemName(fs, &atom);
    benchmark::DoNotOptimize(atom);
  }
  steady.Stop(state.iterations());
  steady.Report(state);
}

// Index out of range: code 3, recorded for this thread over the record of the previous call.
void LaterFailure(benchmark::State& state) {
  SLFileSystemSearchResult* result = SmallSearchResult();
  const SLChar16* name = nullptr;
  result->GetFileInfo(result, 1000, &name);  // this thread's first failure on the object
  AllocationMeter steady;
  steady.Start();
  for (auto _ : state) {
    const SLResult code = result->GetFileInfo(result, 1000, &name);
    benchmark::DoNotOptimize(code);
  }
  steady.Stop(state.iterations());
  steady.Report(state);
}

// A new object per iteration, so every failure is the first on it: creation, one call and the
// last Release, with a failing call (FlushStream of a null handle, code 3) or a successful one
// (CloseStream of a null handle, code 0). The difference is what the first failure costs.
template <bool kFail>
void CallOnNewObject(benchmark::State& state) {
  for (auto _ : state) {
    auto object = sl::stream::CreateStreamService();
    auto* streams = reinterpret_cast<SLStreamService*>(object.get());
    const SLResult code =
        kFail ? streams->FlushStream(streams, nullptr) : streams->CloseStream(streams, nullptr);
    benchmark::DoNotOptimize(code);
  }
}

BENCHMARK(PlainIndirect)->Name("Entry/plain_indirect");
BENCHMARK(GetCount)->Name("Entry/GetCount");
BENCHMARK(GetFileSystemName)->Name("Entry/GetFileSystemName");
BENCHMARK(LaterFailure)->Name("Entry/later_failure");
BENCHMARK_TEMPLATE(CallOnNewObject, false)->Name("Entry/new_object_success");
BENCHMARK_TEMPLATE(CallOnNewObject, true)->Name("Entry/new_object_first_failure");

}  // namespace
}  // namespace slbench
