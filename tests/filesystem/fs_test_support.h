// Helpers shared by the file-system and reliability tests: a private temporary folder per test,
// readable failure records, reference counts and atoms.
#pragma once

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

}  // namespace fstest
