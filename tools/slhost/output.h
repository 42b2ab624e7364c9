// slhost's own writes to standard output, checked: a failed or short write ends the command
// with exit code 1 and a message instead of being lost (`slhost cat FILE > /dev/full`).
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace slhost::output {

// The bytes moved per read and write of file data: few system calls, little memory.
constexpr size_t kBlock = 1 << 20;

// The reason of the last failed call of the C library, in words.
inline std::string LastError() {
  const int error = errno;
  return error != 0 ? std::strerror(error) : "unknown reason";
}

// All of `size` bytes to standard output; false on a failed or short write.
inline bool Write(const void* data, size_t size) {
  errno = 0;
  return std::fwrite(data, 1, size, stdout) == size;
}

// What is buffered, out to the system; false when any write so far failed.
inline bool Flush() {
  errno = 0;
  return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

// The last check before slhost exits: every byte printed reached the system, and closing
// standard output lost nothing either. Empty when so, else why not.
inline std::string Close() {
  if (!Flush()) {
    const std::string why = errno != 0 ? LastError() : "a write failed";
    std::fclose(stdout);
    return why;
  }
  errno = 0;
  return std::fclose(stdout) == 0 ? "" : LastError();
}

}  // namespace slhost::output
