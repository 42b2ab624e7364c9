#include "platform/library.h"

#include <windows.h>

#include <string>

namespace sl::platform {

const char* AtomLibraryName() { return "atom.dll"; }

// LoadLibraryW returns a library of that name the process already loaded, and otherwise
// searches the application's folder, the system folders and PATH.
void* LoadLibraryByName(const char* name) {
  std::wstring wide(name, name + std::char_traits<char>::length(name));
  return reinterpret_cast<void*>(LoadLibraryW(wide.c_str()));
}

void* FindLibrarySymbol(void* library, const char* symbol) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), symbol));
}

}  // namespace sl::platform
