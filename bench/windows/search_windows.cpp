// Folder search on Windows (run under Wine): the default file system's Search, with GetCount
// and GetFileInfo of every name, against a raw FindFirstFileW/FindNextFileW loop that keeps
// each name, over one folder of 10,000 files. Both sides alternate round by round and the
// median of the per-round ratios is printed (Google Benchmark is not built for mingw-w64).
//
// Usage: search_windows [ENTRIES] [ROUNDS]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "filesystem/default_file_system.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

size_t RawLoop(const std::wstring& pattern) {
  WIN32_FIND_DATAW data;
  const HANDLE search = ::FindFirstFileW(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return 0;
  std::vector<std::wstring> names;
  do {
    names.emplace_back(data.cFileName);
  } while (::FindNextFileW(search, &data));
  ::FindClose(search);
  return names.size();
}

size_t ModuleSearch(SLFileSystem* fs, const std::u16string& pattern) {
  SLFileSystemSearchResult* result = nullptr;
  if (fs->Search(fs, pattern.c_str(), &result) != SL_OK) return 0;
  uint64_t count = 0;
  result->GetCount(result, &count);
  size_t units = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const SLChar16* name = nullptr;
    result->GetFileInfo(result, i, &name);
    units += name[0] != 0;
  }
  result->header.Release(reinterpret_cast<ServiceObject*>(result));
  return static_cast<size_t>(count);
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned entries = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 10000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder =
      std::wstring(temp) + L"sl-search-" + std::to_wstring(::GetCurrentProcessId());
  ::CreateDirectoryW(folder.c_str(), nullptr);
  for (unsigned i = 0; i < entries; ++i) {
    const std::wstring name = folder + L"\\file_" + std::to_wstring(i) + L".dat";
    const HANDLE file =
        ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  }
  const std::wstring pattern = folder + L"\\*";
  const std::u16string pattern16(pattern.begin(), pattern.end());
  SLFileSystem* fs = sl::filesystem::CreateDefaultFileSystem();

  std::vector<double> ratios;
  double moduleBest = 1e9;
  double rawBest = 1e9;
  size_t listed = 0;
  for (int round = 0; round < rounds; ++round) {
    const auto t0 = Clock::now();
    listed = ModuleSearch(fs, pattern16);
    const auto t1 = Clock::now();
    const size_t raw = RawLoop(pattern);
    const auto t2 = Clock::now();
    if (listed != raw) {
      std::fprintf(stderr, "the two sides disagree: %zu and %zu names\n", listed, raw);
      return 1;
    }
    moduleBest = std::min(moduleBest, Seconds(t1 - t0));
    rawBest = std::min(rawBest, Seconds(t2 - t1));
    ratios.push_back(Seconds(t2 - t1) / Seconds(t1 - t0));
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf(
      "Search of %zu entries: module %.2f ms, raw FindFirstFileW loop %.2f ms (fastest "
      "rounds); speed %.2fx (median of %d paired rounds)\n",
      listed, moduleBest * 1e3, rawBest * 1e3, ratios[ratios.size() / 2], rounds);

  fs->header.Release(reinterpret_cast<ServiceObject*>(fs));
  for (unsigned i = 0; i < entries; ++i) {
    ::DeleteFileW((folder + L"\\file_" + std::to_wstring(i) + L".dat").c_str());
  }
  ::RemoveDirectoryW(folder.c_str());
  return 0;
}
