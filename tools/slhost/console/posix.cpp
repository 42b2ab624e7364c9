#include <errno.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

#include "console.h"

namespace slhost::console {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

void UseBinaryOutput() {}

void UseBinaryInput() {}

int Columns(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

long long ReadSome(std::FILE* stream, void* buffer, size_t size) {
  for (;;) {
    const ssize_t got = read(fileno(stream), buffer, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace slhost::console
