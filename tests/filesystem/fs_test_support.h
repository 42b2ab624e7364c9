// Helpers shared by the file-system tests: a private temporary folder per test, readable
// failure records and a large writable buffer that costs no memory until it is touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "slservices/slservices.h"

namespace fstest {

// A new, empty folder under the system's folder for temporary files, removed with everything
// in it when the object goes. Paths are joined with '\', which every supported system takes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::u16string& path() const { return path_; }
  std::u16string operator/(const std::u16string& name) const { return path_ + u"\\" + name; }

 private:
  std::u16string path_;
};

// Removes a folder and everything below it, read-only files included.
void RemoveTree(const std::u16string& folder);

// The calling thread's failure record on `object`, with the result of GetErrorInfo.
struct Failure {
  SLResult status = 0;
  uint32_t code = 0;
  uint32_t line = 0;
  std::u16string message;
  std::string functionName;
  std::string sourceFile;
};
Failure LastFailure(const void* object);

uint32_t RefCount(const void* object);
uint32_t Release(const void* object);
uint32_t AtomOf(const char* name);

// Writable memory of `size` bytes, reserved but not touched; nullptr if the system refuses.
void* ReserveLargeBuffer(uint64_t size);
void FreeLargeBuffer(void* buffer, uint64_t size);

}  // namespace fstest
