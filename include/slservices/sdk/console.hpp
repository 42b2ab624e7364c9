// Small console helpers for command-line hosts, the same on every system.
//
//   int main(int argc, char** argv) {
//     std::vector<std::string> args = sl::sdk::console::Utf8Arguments(argc, argv);
//     sl::sdk::console::UseBinaryOutput();   // bytes out exactly as written, also on Windows
//     sl::sdk::console::UseBinaryInput();    // and bytes in exactly as they come
//     if (sl::sdk::console::IsTerminal(stderr)) width = sl::sdk::console::Columns(stderr);
//     long long got = sl::sdk::console::ReadSome(stdin, buffer, size);   // what has arrived
//     std::string module = sl::sdk::console::Environment("MY_MODULE");  // UTF-8, "" if unset
#ifndef SLSERVICES_SDK_CONSOLE_HPP_
#define SLSERVICES_SDK_CONSOLE_HPP_

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "slservices/sdk/text.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace sl::sdk::console {

// Whether the stream is an interactive terminal (not a file or a pipe).
inline bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

// Standard output and error without newline translation, and UTF-8 text on a Windows console.
inline void UseBinaryOutput() {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
#endif
}

// Standard input without newline translation (a no-op outside Windows).
inline void UseBinaryInput() {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
#endif
}

// The width in columns of the terminal behind the stream; 0 when it is none or cannot tell.
inline int Columns(std::FILE* stream) {
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (!GetConsoleScreenBufferInfo(handle, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
#else
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
#endif
}

// One read of what the stream's file holds now, at most `size` bytes, past the stream's own
// buffer (use it for every read of that stream): a pipe or a terminal gives what has arrived
// instead of waiting for `size` bytes. 0 at the end, -1 on failure (errno tells why).
inline long long ReadSome(std::FILE* stream, void* buffer, size_t size) {
#ifdef _WIN32
  const unsigned count = size < (1u << 30) ? static_cast<unsigned>(size) : (1u << 30);
  return _read(_fileno(stream), buffer, count);
#else
  for (;;) {
    const ssize_t got = read(fileno(stream), buffer, size);
    if (got >= 0 || errno != EINTR) return got;
  }
#endif
}

// An environment variable in UTF-8 (read wide on Windows); empty when unset.
inline std::string Environment(const char* name) {
#ifdef _WIN32
  const std::wstring wide(name, name + std::char_traits<char>::length(name));
  const wchar_t* value = _wgetenv(wide.c_str());
  return value != nullptr ? ToUtf8(std::u16string(value, value + wcslen(value))) : std::string();
#else
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
#endif
}

// The program's arguments in UTF-8. On Windows they are read from the wide command line, so
// names outside the system's code page survive; elsewhere they are taken as given.
inline std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  std::vector<std::string> args;
#ifdef _WIN32
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr) {
    for (int i = 0; i < count; ++i) {
      const std::wstring arg(wide[i]);
      args.push_back(ToUtf8(std::u16string(arg.begin(), arg.end())));
    }
    LocalFree(wide);
    return args;
  }
#endif
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

}  // namespace sl::sdk::console

#endif  // SLSERVICES_SDK_CONSOLE_HPP_
