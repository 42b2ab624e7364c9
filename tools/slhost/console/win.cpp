#include <windows.h>  // first: the other system headers need its definitions

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cwchar>

#include "console.h"
#include "slservices/sdk/text.hpp"

namespace slhost::console {
namespace {

std::string Utf8(const wchar_t* wide) {
  return sl::sdk::ToUtf8(std::u16string(wide, wide + std::wcslen(wide)));
}

}  // namespace

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void UseBinaryOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
}

void UseBinaryInput() { _setmode(_fileno(stdin), _O_BINARY); }

int Columns(std::FILE* stream) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (!GetConsoleScreenBufferInfo(handle, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

long long ReadSome(std::FILE* stream, void* buffer, size_t size) {
  const unsigned count = size < (1u << 30) ? static_cast<unsigned>(size) : (1u << 30);
  return _read(_fileno(stream), buffer, count);
}

std::string Environment(const char* name) {
  const std::wstring wide(name, name + std::char_traits<char>::length(name));
  const wchar_t* value = _wgetenv(wide.c_str());
  return value != nullptr ? Utf8(value) : std::string();
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  std::vector<std::string> args;
  int count = 0;
  if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 0; i < count; ++i) args.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return args;
  }
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace slhost::console
