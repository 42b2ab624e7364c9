// The system's folder for temporary files as a UTF-16 path ending in a separator: $TMPDIR (else
// /tmp) on POSIX, GetTempPathW's folder on Windows.
#pragma once

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

}  // namespace sltest
