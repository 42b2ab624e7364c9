// Zip archives as file systems, for C++ hosts: the zip library (libslzip.so, see sl_zip.h)
// loaded by path like the module, or linked, and archives opened with it as Ref<SLFileSystem>.
//
//   auto zips = sl::sdk::ZipArchives::Open(sl::sdk::ZipArchives::BesideExecutable());  // throws
//   sl::sdk::FileSystem assets(zips->OpenArchive("assets.zip", module->Atom("Assets")));
//   files.Register(assets.get());                  // reachable by name, read through streams
//   auto in = streams.OpenRead(assets, "textures/readme.txt");
//
// A host that links the library instead passes its function: ZipArchives(&SLZipOpenArchive).
// Release every archive before a loaded ZipArchives goes: its destructor unloads the library.
// The library is built on Linux only; on Windows Open reports that it is missing.
//
// Besides module.hpp, text.hpp (how native names are spelt) and sftp.hpp, this is the one header
// of the SDK that knows which system it is on.
#ifndef SLSERVICES_SDK_ZIP_HPP_
#define SLSERVICES_SDK_ZIP_HPP_

#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "slservices/sdk/error.hpp"
#include "slservices/sdk/module.hpp"
#include "slservices/sdk/ref.hpp"
#include "slservices/sl_zip.h"

namespace sl::sdk {

class ZipArchives {
 public:
  static const char* DefaultFileName() {
#ifdef _WIN32
    return "slzip.dll";
#else
    return "libslzip.so";
#endif
  }
  static std::filesystem::path BesideExecutable() {
    return Module::ExecutablePath().parent_path() / DefaultFileName();
  }

  // Loads the library at `path`; throws ModuleError saying why not.
  static std::unique_ptr<ZipArchives> Open(const std::filesystem::path& path) {
    std::string error;
    std::unique_ptr<ZipArchives> zips = Load(path, &error);
    if (!zips) throw ModuleError(error);
    return zips;
  }
  // The same without exceptions: null, and the reason in `error`.
  static std::unique_ptr<ZipArchives> Load(const std::filesystem::path& path, std::string* error) {
    library_detail::Library library;
    void* open = library.Load(path, SL_ZIP_OPEN_ARCHIVE, "zip library",
                              "zip archives are built on Linux only", error);
    if (open == nullptr) return nullptr;
    std::unique_ptr<ZipArchives> zips(new ZipArchives(reinterpret_cast<SLZipOpenArchiveFn>(open)));
    zips->library_ = std::move(library);
    return zips;
  }

  // For hosts that link the library: ZipArchives(&SLZipOpenArchive).
  explicit ZipArchives(SLZipOpenArchiveFn open) : open_(open) {}
  ZipArchives(const ZipArchives&) = delete;
  ZipArchives& operator=(const ZipArchives&) = delete;

  // The archive at `path` (UTF-8) as a read-only file system that reports `nameAtom` as its
  // name. Throws ServiceError with the code of SLZipOpenArchive and the library's reason.
  Ref<SLFileSystem> OpenArchive(const std::string& path, uint32_t nameAtom) const {
    char reason[512] = {};
    Ref<SLFileSystem> fs;
    const SLResult code = open_(path.c_str(), nameAtom, fs.put(), reason, sizeof(reason));
    if (SL_FAILED(code)) throw ServiceError(code, reason[0] != '\0' ? reason : path);
    return fs;
  }

 private:
  SLZipOpenArchiveFn open_ = nullptr;
  library_detail::Library library_;  // unloaded when the ZipArchives goes
};

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_ZIP_HPP_
