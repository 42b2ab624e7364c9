// Loading the module the way a host does: by path, then only through its five exports.
//
//   auto module = sl::sdk::Module::Open(sl::sdk::Module::BesideExecutable());  // throws
//   for (const auto& info : module->Classes()) std::cout << info.name << "\n";
//   auto streams = module->Create<SLStreamService>("StreamService");          // Ref<>
//
// The atom library (SLGetAtomFromString) is loaded from the module's folder when it is there,
// else by its bare name; the module binds the same library when it first needs an atom.
// Release every object the module made before the Module goes: its destructor unloads it.
//
// This header, text.hpp (how native names are spelt), zip.hpp and sftp.hpp are the places of
// the SDK that know which system they are on.
#ifndef SLSERVICES_SDK_MODULE_HPP_
#define SLSERVICES_SDK_MODULE_HPP_

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "slservices/sdk/error.hpp"
#include "slservices/sdk/ref.hpp"
#include "slservices/sdk/text.hpp"
#include "slservices/slservices.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace sl::sdk {

// The module file is missing, is no library, or lacks an export.
class ModuleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Loading a shared library by path, for Module, ZipArchives and SftpConnections alike.
namespace library_detail {

inline void* OpenLibrary(const std::filesystem::path& path, std::string* error) {
  const std::string shown = ToUtf8(PathToUtf16(path));
#ifdef _WIN32
  void* handle = reinterpret_cast<void*>(LoadLibraryW(path.c_str()));
  if (handle == nullptr) {
    const DWORD code = GetLastError();
    *error = "cannot load " + shown + " (Windows error " + std::to_string(code) +
             (code == 193 ? ": not a 64-bit Windows library)" : ")");
  }
#else
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    *error = "cannot load " + shown + ": " + (reason != nullptr ? reason : "unknown reason");
  }
#endif
  return handle;
}
inline void* FindSymbol(void* library, const char* name) {
  if (library == nullptr) return nullptr;
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
#else
  return dlsym(library, name);
#endif
}
inline void CloseLibrary(void* library) {
#ifdef _WIN32
  FreeLibrary(static_cast<HMODULE>(library));
#else
  dlclose(library);
#endif
}

// A library of ours that a host calls through one export (the zip library, the SFTP library),
// loaded by path and closed when its owner goes (it moves, and is never copied).
class Library {
 public:
  Library() = default;
  Library(Library&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  Library& operator=(Library&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  ~Library() {
    if (handle_ != nullptr) CloseLibrary(handle_);
  }

  // Loads `path` and finds `symbol` in it. Null when the file is not there ("no zip library at
  // PATH (NOTE)"), cannot be loaded or lacks the export ("cannot use PATH as the zip library"),
  // with that sentence in `error`; `what` is "zip library", `note` why it may be missing.
  void* Load(const std::filesystem::path& path, const char* symbol, const std::string& what,
             const std::string& note, std::string* error) {
    const std::string shown = ToUtf8(PathToUtf16(path));
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) {
      *error = "no " + what + " at " + shown + " (" + note + ")";
      return nullptr;
    }
    std::string unused;
    void* library = OpenLibrary(path, &unused);
    void* found = FindSymbol(library, symbol);
    if (found == nullptr) {
      *error = "cannot use " + shown + " as the " + what;
      if (library != nullptr) CloseLibrary(library);
      return nullptr;
    }
    *this = Library();
    handle_ = library;
    return found;
  }

 private:
  void* handle_ = nullptr;
};

}  // namespace library_detail

class Module {
 public:
  struct ClassInfo {
    std::string name;
    uint32_t listedAtom = SL_UNRESOLVED_ATOM;  // as the class list holds it
  };

  // File names on this system.
  static const char* DefaultFileName() {
#ifdef _WIN32
    return "slservices.dll";
#else
    return "libslservices.so";
#endif
  }
  static const char* AtomFileName() {
#ifdef _WIN32
    return "atom.dll";
#else
    return "libatom.so";
#endif
  }

  // The running program's own file.
  static std::filesystem::path ExecutablePath() {
#ifdef _WIN32
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
      const DWORD length =
          GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
      if (length < buffer.size()) return std::filesystem::path(buffer.substr(0, length));
      buffer.resize(buffer.size() * 2);
    }
#else
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error);
#endif
  }
  // The module beside the running program.
  static std::filesystem::path BesideExecutable() {
    return ExecutablePath().parent_path() / DefaultFileName();
  }

  // Loads the module at `path` and binds its five exports; throws ModuleError saying why not.
  static std::unique_ptr<Module> Open(const std::filesystem::path& path) {
    std::string error;
    std::unique_ptr<Module> module = LoadPath(path, &error);
    if (!module) throw ModuleError(error);
    return module;
  }
  // The same without exceptions: null, and the reason in `error`. The path is UTF-8.
  static std::unique_ptr<Module> Load(const std::string& path, std::string* error) {
    return LoadPath(ToPath(ToUtf16(std::string_view(path))), error);
  }

  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  ~Module() {
    if (handle_ != nullptr) library_detail::CloseLibrary(handle_);
    if (atomLibrary_ != nullptr) library_detail::CloseLibrary(atomLibrary_);
  }

  const std::filesystem::path& path() const { return path_; }

  // Looks up any other symbol of the module (null when absent).
  void* Symbol(const char* name) const { return library_detail::FindSymbol(handle_, name); }

  // The atom of a name; SL_UNRESOLVED_ATOM when no atom library could be loaded.
  uint32_t Atom(const char* name) const {
    uint32_t atom = SL_UNRESOLVED_ATOM;
    if (atomFunction_ != nullptr) atomFunction_(name, &atom);
    return atom;
  }
  bool HasAtomLibrary() const { return atomFunction_ != nullptr; }

  // The class list, in the module's order.
  std::vector<ClassInfo> Classes() const {
    const ServiceObjectInfo* info = nullptr;
    uint32_t count = 0;
    std::vector<ClassInfo> classes;
    if (reflect(&info, &count) != SL_OK) return classes;
    for (uint32_t i = 0; i < count; ++i) classes.push_back({info[i].className, info[i].classAtom});
    return classes;
  }

  // A new object of the class, checked to carry interface T; throws ServiceError otherwise.
  template <class T = ServiceObject>
  Ref<T> Create(const char* className) const {
    const std::string call = std::string("CreateServiceObject(\"") + className + "\")";
    if (!HasAtomLibrary()) {
      throw ServiceError(SL_NOT_FOUND, call + " failed: no atom library (" + AtomFileName() + ")");
    }
    Ref<ServiceObject> object;
    const SLResult code = create(Atom(className), object.put());
    if (SL_FAILED(code) || !object) {
      std::string message = call;
      core::AppendFailedCode(error_detail::AppendTo{message}, code);
      throw ServiceError(code, message);
    }
    Ref<T> typed = object.template As<T>();
    if (!typed) {
      throw ServiceError(SL_INVALID_ARGUMENT, "class " + std::string(className) + " is " +
                                                  object->header.interfaceName + ", not " +
                                                  InterfaceTraits<T>::kName);
    }
    return typed;
  }

  SLReflectServiceObjectInfoFn reflect = nullptr;
  SLCreateServiceObjectFn create = nullptr;
  SLModuleNotificationFn initialize = nullptr;
  SLModuleNotificationFn onCleanup = nullptr;
  SLModuleNotificationFn onFree = nullptr;

 private:
  Module() = default;

  static std::unique_ptr<Module> LoadPath(const std::filesystem::path& path, std::string* error) {
    std::string reason;
    std::unique_ptr<Module> module(new Module);
    module->path_ = path;
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) {
      reason = "no module at " + ToUtf8(PathToUtf16(path));
    } else if ((module->handle_ = library_detail::OpenLibrary(path, &reason)) != nullptr) {
      if (module->Bind(&module->reflect, SL_EXPORT_REFLECT, &reason) &&
          module->Bind(&module->create, SL_EXPORT_CREATE, &reason) &&
          module->Bind(&module->initialize, SL_EXPORT_INITIALIZE, &reason) &&
          module->Bind(&module->onCleanup, SL_EXPORT_ON_CLEANUP, &reason) &&
          module->Bind(&module->onFree, SL_EXPORT_ON_FREE, &reason)) {
        module->BindAtomLibrary();
        return module;
      }
    }
    if (error != nullptr) *error = reason;
    return nullptr;
  }

  void BindAtomLibrary() {
    const std::filesystem::path beside = path_.parent_path() / AtomFileName();
    std::error_code ignored;
    std::string unused;
    atomLibrary_ =
        std::filesystem::exists(beside, ignored)
            ? library_detail::OpenLibrary(beside, &unused)
            : library_detail::OpenLibrary(std::filesystem::path(AtomFileName()), &unused);
    atomFunction_ = reinterpret_cast<SLGetAtomFromStringFn>(
        library_detail::FindSymbol(atomLibrary_, SL_ATOM_FUNCTION));
  }

  template <class Fn>
  bool Bind(Fn* slot, const char* name, std::string* error) {
    *slot = reinterpret_cast<Fn>(Symbol(name));
    if (*slot == nullptr) {
      *error =
          ToUtf8(PathToUtf16(path_)) + " is not a service-object module: missing export " + name;
    }
    return *slot != nullptr;
  }

  std::filesystem::path path_;
  void* handle_ = nullptr;
  void* atomLibrary_ = nullptr;
  SLGetAtomFromStringFn atomFunction_ = nullptr;
};

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_MODULE_HPP_
