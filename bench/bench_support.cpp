#include "bench_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/alloc_hook.h"
#include "filesystem/file_system_service.h"
#include "slservices/sdk/ref.hpp"
#include "stream/stream_service.h"

namespace slbench {
namespace {

Config gConfig;

// Where the run's folder goes: $SL_BENCH_DIR if set, else /dev/shm (memory-backed, so the
// flush to disk that closing a write stream asks for costs the same nothing on every side),
// else the system's folder for temporary files.
std::filesystem::path BaseFolder() {
  if (const char* chosen = std::getenv("SL_BENCH_DIR"); chosen != nullptr && *chosen != '\0') {
    return chosen;
  }
  std::error_code error;
  if (std::filesystem::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0) {
    return "/dev/shm";
  }
  return std::filesystem::temp_directory_path();
}

void RemoveFolder() {
  std::error_code error;
  if (!gConfig.folder.empty()) std::filesystem::remove_all(gConfig.folder, error);
}

template <class T>
T* HeldObject(SODetails::BasicServiceObjectPtr<ServiceObject> (*factory)()) {
  // Made on first use and kept for the whole run; the process exit takes it down.
  static ServiceObject* const object = factory().detach();
  return reinterpret_cast<T*>(object);
}

}  // namespace

void Configure(int* argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      gConfig.quick = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  *argc = kept;
  if (gConfig.quick) {
    gConfig.readFileBytes = 4u << 20;
    gConfig.writeFileBytes = 256u << 10;
    gConfig.searchEntries = 1000;
  }
  // A process that has never started a second thread lets libstdc++ count std::shared_ptr
  // references without atomic operations; one thread started and joined here makes every
  // benchmark run in the multi-threaded process the module is written for, whatever the order.
  std::thread([] {}).join();
  std::string pattern = (BaseFolder() / "slbench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create " + pattern);
  gConfig.folder = pattern;
  std::atexit(&RemoveFolder);
}

const Config& config() { return gConfig; }

std::string PathOf(const std::string& name) { return gConfig.folder + "/" + name; }

std::u16string ToUtf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

std::u16string Path16Of(const std::string& name) { return ToUtf16(PathOf(name)); }

const std::string& CachedFile(const std::string& name, uint64_t size) {
  static std::mutex lock;
  static std::map<std::string, std::string> made;
  std::lock_guard<std::mutex> guard(lock);
  auto found = made.find(name);
  if (found != made.end()) return found->second;

  const std::string path = PathOf(name);
  std::vector<char> block(1u << 20);
  FillPattern(block.data(), block.size());
  const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) throw std::runtime_error("cannot create " + path);
  for (uint64_t written = 0; written < size;) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(block.size(), size - written));
    const ssize_t n = ::write(out, block.data(), piece);
    if (n <= 0) throw std::runtime_error("cannot write " + path);
    written += static_cast<uint64_t>(n);
  }
  ::close(out);
  // Reading it back once leaves every page cached, whatever the folder's file system.
  const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  while (::read(in, block.data(), block.size()) > 0) {
  }
  ::close(in);
  return made.emplace(name, path).first->second;
}

SLStreamService* Streams() { return HeldObject<SLStreamService>(&sl::stream::CreateStreamService); }

SLFileSystemService* FileSystems() {
  return HeldObject<SLFileSystemService>(&sl::filesystem::CreateFileSystemService);
}

SLFileSystem* DefaultFileSystem() {
  static SLFileSystem* const fs = [] {
    SLFileSystemService* service = FileSystems();
    SLFileSystem* found = nullptr;
    if (service->GetDefaultFileSystem(service, &found) != SL_OK) {
      throw std::runtime_error("no default file system");
    }
    return found;
  }();
  return fs;
}

uint64_t Allocations() { return sltest::Allocations(); }

void AllocationMeter::Report(benchmark::State& state) const {
  if (operations_ == 0) return;
  state.counters["allocs_per_op"] =
      static_cast<double>(allocations_) / static_cast<double>(operations_);
}

void FillPattern(char* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i & 0xFF);
}

void RunPaired(benchmark::State& state, const std::function<void()>& module,
               const std::function<void()>& other) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> ratios;
  for (auto _ : state) {
    const bool moduleFirst = ratios.size() % 2 == 0;
    Clock::duration moduleTime{};
    Clock::duration otherTime{};
    for (int side = 0; side < 2; ++side) {
      const bool isModule = (side == 0) == moduleFirst;
      const auto start = Clock::now();
      (isModule ? module : other)();
      (isModule ? moduleTime : otherTime) = Clock::now() - start;
    }
    ratios.push_back(std::chrono::duration<double>(otherTime).count() /
                     std::chrono::duration<double>(moduleTime).count());
    state.SetIterationTime(std::chrono::duration<double>(moduleTime + otherTime).count());
  }
  std::sort(ratios.begin(), ratios.end());
  if (!ratios.empty()) state.counters["paired_speed"] = ratios[ratios.size() / 2];
}

}  // namespace slbench
