// What every benchmark group shares: the run's sizes (full or quick), a private folder for its
// files, the module's service objects (made by the class factories and called only through their
// tables, as a host calls them) and a count of the process's allocations.
//
// Naming: every benchmark is "<Group>/<variant>[/<size>]"; bench/ratio_table.py pairs them by
// these names, so a rename there goes with a rename here.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "slservices/sl_filesystem.h"
#include "slservices/sl_stream.h"

namespace slbench {

struct Config {
  bool quick = false;
  uint64_t readFileBytes = 64u << 20;  // the file the read groups stream through
  uint64_t writeFileBytes = 4u << 20;  // bytes each write-stream run writes before closing
  uint64_t memoryBytes = 1u << 20;     // the block memory streams read
  uint32_t searchEntries = 10000;      // files in the searched folder
  std::string folder;                  // private folder of this run (removed at exit)
};

// Parses and removes the suite's own arguments (--quick), creates the run's folder.
void Configure(int* argc, char** argv);
const Config& config();

// A path inside the run's folder, in UTF-8 and UTF-16.
std::string PathOf(const std::string& name);
std::u16string Path16Of(const std::string& name);
std::u16string ToUtf16(const std::string& ascii);

// A file of `size` bytes of a known pattern, written once per run and then kept in the page
// cache (read once more after writing, so every byte is cached when the first benchmark starts).
const std::string& CachedFile(const std::string& name, uint64_t size);

// The module's objects, made once per run by the class factories; never released before exit.
SLStreamService* Streams();
SLFileSystemService* FileSystems();
SLFileSystem* DefaultFileSystem();  // the service's default file system (one reference held)

// Calls of global operator new made by the calling thread since it started (the tests'
// allocation hook, tests/common/alloc_hook.cpp, linked in: the module's allocations included).
uint64_t Allocations();

// Counts the allocations made between Start and Stop, over any number of stretches, and puts
// the mean per operation in the benchmark's counter "allocs_per_op".
class AllocationMeter {
 public:
  void Start() { started_ = Allocations(); }
  void Stop(uint64_t operations) {
    allocations_ += Allocations() - started_;
    operations_ += operations;
  }
  void Report(benchmark::State& state) const;

 private:
  uint64_t started_ = 0;
  uint64_t allocations_ = 0;
  uint64_t operations_ = 0;
};

// Fills `size` bytes with 0, 1, ..., 255, 0, 1, ...
void FillPattern(char* bytes, size_t size);

// The module's side and another, one run each per iteration, in alternating order: both share
// every disturbance of a busy machine, so their ratio holds steadier than that of two separate
// benchmarks. Sets each iteration's time (both sides; register with UseManualTime) and puts the
// median of the per-iteration ratios (other's time / module's time) in "paired_speed".
void RunPaired(benchmark::State& state, const std::function<void()>& module,
               const std::function<void()>& other);

}  // namespace slbench
