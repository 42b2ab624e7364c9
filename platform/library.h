// Loading shared libraries by name at run time (dlopen / LoadLibraryW).
#pragma once

namespace sl::platform {

// The platform's file name of the host's atom library: "libatom.so" on Linux,
// "atom.dll" on Windows.
const char* AtomLibraryName();

// Loads a library by bare name with the platform's search rules, reusing one the process
// already has. Null when it cannot be loaded.
void* LoadLibraryByName(const char* name);

// The address of an exported function, or null.
void* FindLibrarySymbol(void* library, const char* symbol);

}  // namespace sl::platform
