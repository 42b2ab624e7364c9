// File work on several threads at once: each thread opens, reads 4 KiB of and closes small files
// of its own, through the default file system's OpenFile, ReadFile and CloseFile, beside the same
// loop on open, read and close. What the file layer shares between threads (the table of open
// handles) must not make one thread's work wait for another's.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"

namespace slbench {
namespace {

constexpr int kMaxThreads = 4;
constexpr int kFilesPerThread = 16;
constexpr uint32_t kFileBytes = 4096;

struct ThreadFiles {
  std::vector<std::string> native;
  std::vector<std::u16string> wide;
};

// Every thread's files, written once (thread-safe: a function-local static).
const ThreadFiles& FilesOf(int thread) {
  static const std::array<ThreadFiles, kMaxThreads> files = [] {
    std::array<ThreadFiles, kMaxThreads> made;
    std::string bytes(kFileBytes, '\0');
    FillPattern(bytes.data(), bytes.size());
    for (int t = 0; t < kMaxThreads; ++t) {
      for (int i = 0; i < kFilesPerThread; ++i) {
        const std::string name = "thread" + std::to_string(t) + "_" + std::to_string(i);
        const std::string path = PathOf(name);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != kFileBytes) {
          throw std::runtime_error("cannot write " + path);
        }
        ::close(fd);
        made[t].native.push_back(path);
        made[t].wide.push_back(Path16Of(name));
      }
    }
    return made;
  }();
  return files[static_cast<size_t>(thread)];
}

void FileSystemLoop(benchmark::State& state) {
  const std::vector<std::u16string>& paths = FilesOf(state.thread_index()).wide;
  SLFileSystem* fs = DefaultFileSystem();
  char buffer[kFileBytes];
  size_t next = 0;
  for (auto _ : state) {
    SLFileHandle file = nullptr;
    uint64_t done = 0;
    const char16_t* path = paths[next++ % paths.size()].c_str();
    if (fs->OpenFile(fs, path, SL_OPEN_READ, &file) != SL_OK ||
        fs->ReadFile(fs, file, buffer, sizeof buffer, &done) != SL_OK || done != kFileBytes ||
        fs->CloseFile(fs, file) != SL_OK) {
      state.SkipWithError("open, read or close failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// The same loop on the system's calls; with `withStat`, also the fstat() that the file layer needs
// to apply the sharing rule (it keys open files by device and inode): the part of the gap that no
// code in user space can close.
template <bool withStat>
void RawLoop(benchmark::State& state) {
  const std::vector<std::string>& paths = FilesOf(state.thread_index()).native;
  char buffer[kFileBytes];
  size_t next = 0;
  for (auto _ : state) {
    struct stat st;
    const int fd = ::open(paths[next++ % paths.size()].c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || (withStat && ::fstat(fd, &st) != 0) ||
        ::read(fd, buffer, sizeof buffer) != kFileBytes || ::close(fd) != 0) {
      state.SkipWithError("open, fstat, read or close failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

BENCHMARK(FileSystemLoop)
    ->Name("Threads/fs_open_read_close")
    ->Threads(1)
    ->Threads(2)
    ->Threads(kMaxThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(RawLoop<false>)
    ->Name("Threads/raw_open_read_close")
    ->Threads(1)
    ->Threads(2)
    ->Threads(kMaxThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(RawLoop<true>)
    ->Name("Threads/raw_open_fstat_read_close")
    ->Threads(1)
    ->Threads(2)
    ->Threads(kMaxThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace slbench
