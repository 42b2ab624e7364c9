// The system's folder for temporary files as a UTF-16 path ending in a separator: $TMPDIR (else
// /tmp) on POSIX, GetTempPathW's folder on Windows; and fresh folders made inside it.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

namespace sltest {

inline std::u16string TempDirectory() {
  std::error_code error;
  std::u16string dir = std::filesystem::temp_directory_path(error).u16string();
  if (error || dir.empty()) dir = std::filesystem::path("/tmp").u16string();
  if (dir.back() != u'/' && dir.back() != u'\\') {
    dir.push_back(static_cast<char16_t>(std::filesystem::path::preferred_separator));
  }
  return dir;
}

// Makes and returns a folder that no other test process can be using: named after the clock and
// a counter, and taken only if this call created it. A name derived from an object's address is
// not enough: under ThreadSanitizer every process lays its heap out the same, so two tests of
// one executable that ctest runs side by side pick the same name and remove each other's files.
inline std::filesystem::path MakeTempFolder(const std::string& prefix) {
  static std::atomic<unsigned> serial{0};
  const std::filesystem::path temp(TempDirectory());
  for (;;) {
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::filesystem::path path =
        temp / (prefix + "-" + std::to_string(ticks) + "-" + std::to_string(serial++));
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) return path;
    if (error) throw std::filesystem::filesystem_error("cannot make a test folder", path, error);
  }
}

}  // namespace sltest
