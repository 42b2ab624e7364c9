// Loading the module the way a host does: by path, then only through its five exports.
//
//   std::string error;
//   auto module = sl::sdk::Module::Load("./libslservices.so", &error);
//   if (!module) { std::cerr << error; return 1; }
//   const ServiceObjectInfo* classes = nullptr; uint32_t count = 0;
//   module->reflect(&classes, &count);
//
// This header holds the one place of the SDK that knows which system it is on.
#ifndef SLSERVICES_SDK_MODULE_HPP_
#define SLSERVICES_SDK_MODULE_HPP_

#include <memory>
#include <string>
#include <utility>

#include "slservices/slservices.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace sl::sdk {

class Module {
 public:
  // The module file's name on this system.
  static const char* DefaultFileName() {
#ifdef _WIN32
    return "slservices.dll";
#else
    return "libslservices.so";
#endif
  }

  // Loads the module at `path` and binds its five exports. On failure returns null and says
  // why in `error` (missing file, or which export is missing).
  static std::unique_ptr<Module> Load(const std::string& path, std::string* error) {
    std::unique_ptr<Module> module(new Module);
    module->handle_ = OpenLibrary(path, error);
    if (module->handle_ == nullptr) return nullptr;
    const bool bound = module->Bind(&module->reflect, SL_EXPORT_REFLECT, error) &&
                       module->Bind(&module->create, SL_EXPORT_CREATE, error) &&
                       module->Bind(&module->initialize, SL_EXPORT_INITIALIZE, error) &&
                       module->Bind(&module->onCleanup, SL_EXPORT_ON_CLEANUP, error) &&
                       module->Bind(&module->onFree, SL_EXPORT_ON_FREE, error);
    if (!bound) return nullptr;
    return module;
  }

  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  // Unloads the module: objects it made must all be released before.
  ~Module() {
    if (handle_ == nullptr) return;
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
  }

  // Looks up any other symbol of the module (null when absent).
  void* Symbol(const char* name) const {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
  }

  SLReflectServiceObjectInfoFn reflect = nullptr;
  SLCreateServiceObjectFn create = nullptr;
  SLModuleNotificationFn initialize = nullptr;
  SLModuleNotificationFn onCleanup = nullptr;
  SLModuleNotificationFn onFree = nullptr;

 private:
  Module() = default;

  static void* OpenLibrary(const std::string& path, std::string* error) {
#ifdef _WIN32
    std::wstring wide(path.begin(), path.end());
    void* handle = reinterpret_cast<void*>(LoadLibraryW(wide.c_str()));
    if (handle == nullptr && error != nullptr) {
      *error = "cannot load " + path + " (Windows error " + std::to_string(GetLastError()) + ")";
    }
#else
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && error != nullptr) *error = "cannot load " + path + ": " + dlerror();
#endif
    return handle;
  }

  template <class Fn>
  bool Bind(Fn* slot, const char* name, std::string* error) {
    *slot = reinterpret_cast<Fn>(Symbol(name));
    if (*slot == nullptr && error != nullptr) *error = std::string("missing export ") + name;
    return *slot != nullptr;
  }

  void* handle_ = nullptr;
};

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_MODULE_HPP_
