#include "platform/library.h"

#include <dlfcn.h>

namespace sl::platform {

const char* AtomLibraryName() { return "libatom.so"; }

// A bare name makes dlopen search the caller's RUNPATH ($ORIGIN for the module), the usual
// paths, and reuse a library with that SONAME that the process already loaded.
void* LoadLibraryByName(const char* name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }

void* FindLibrarySymbol(void* library, const char* symbol) {
  return library != nullptr ? dlsym(library, symbol) : nullptr;
}

}  // namespace sl::platform
