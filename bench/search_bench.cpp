// Folder search: Search over a folder of many files, then every name read back by index from
// the result object (the whole listing as a host sees it), against a plain opendir/readdir loop.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>
#include <cstdio>
#include <stdexcept>

#include "bench_support.h"

namespace slbench {
namespace {

const std::string& SearchFolder() {
  static const std::string folder = [] {
    const std::string path = PathOf("search");
    ::mkdir(path.c_str(), 0755);
    char name[32];
    for (uint32_t i = 0; i < config().searchEntries; ++i) {
      std::snprintf(name, sizeof(name), "/file_%05u.dat", i);
      const int fd = ::open((path + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      if (fd < 0) throw std::runtime_error("cannot create " + path + name);
      ::close(fd);
    }
    return path;
  }();
  return folder;
}

// Every entry including "." and "..", as both sides report them.
uint64_t Expected() { return config().searchEntries + 2; }

void Search(benchmark::State& state) {
  const std::u16string pattern = ToUtf16(SearchFolder() + "/*");
  SLFileSystem* fs = DefaultFileSystem();
  uint64_t count = 0;
  for (auto _ : state) {
    SLFileSystemSearchResult* result = nullptr;
    if (fs->Search(fs, pattern.c_str(), &result) != SL_OK) {
      state.SkipWithError("search failed");
      break;
    }
    result->GetCount(result, &count);
    const SLChar16* name = nullptr;
    for (uint32_t i = 0; i < count; ++i) {
      result->GetFileInfo(result, i, &name);
      benchmark::DoNotOptimize(name[0]);
    }
    result->header.Release(reinterpret_cast<ServiceObject*>(result));
  }
  if (count != Expected()) state.SkipWithError("unexpected count");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Expected()));
}

void Readdir(benchmark::State& state) {
  const std::string& folder = SearchFolder();
  uint64_t count = 0;
  for (auto _ : state) {
    DIR* dir = ::opendir(folder.c_str());
    count = 0;
    while (const dirent* entry = ::readdir(dir)) {
      benchmark::DoNotOptimize(entry->d_name[0]);
      ++count;
    }
    ::closedir(dir);
  }
  if (count != Expected()) state.SkipWithError("unexpected count");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Expected()));
}

BENCHMARK(Search)->Name("Search/Search")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(Readdir)->Name("Search/readdir")->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace slbench
