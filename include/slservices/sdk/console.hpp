// Small console helpers for command-line hosts, the same on every system.
//
//   int main(int argc, char** argv) {
//     std::vector<std::string> args = sl::sdk::console::Utf8Arguments(argc, argv);
//     sl::sdk::console::UseBinaryOutput();   // bytes out exactly as written, also on Windows
//     if (sl::sdk::console::IsTerminal(stdout)) ...
#ifndef SLSERVICES_SDK_CONSOLE_HPP_
#define SLSERVICES_SDK_CONSOLE_HPP_

#include <cstdio>
#include <string>
#include <vector>

#include "slservices/sdk/text.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <windows.h>
#else
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
