// Remote folders over SFTP as file systems, for C++ hosts: the SFTP library (libslsftp.so, see
// sl_sftp.h) loaded by path like the module, or linked, and connections made with it as
// Ref<SLFileSystem>.
//
//   auto sftp = sl::sdk::SftpConnections::Open(sl::sdk::SftpConnections::BesideExecutable());
//   sl::sdk::FileSystem box(sftp->Connect("sftp://me@host/srv/data", module->Atom("Box")));
//   files.Register(box.get());                     // reachable by name, read and written by
//   streams auto out = streams.OpenWrite(box, "reports/today.txt");
//
// A host that links the library instead passes its function: SftpConnections(&SLSftpConnect).
// Release every connection before a loaded SftpConnections goes: its destructor unloads the
// library. The library is built on Linux only; on Windows Open reports that it is missing.
#ifndef SLSERVICES_SDK_SFTP_HPP_
#define SLSERVICES_SDK_SFTP_HPP_

#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "slservices/sdk/error.hpp"
#include "slservices/sdk/module.hpp"
#include "slservices/sdk/ref.hpp"
#include "slservices/sl_sftp.h"

namespace sl::sdk {

class SftpConnections {
 public:
  static const char* DefaultFileName() {
#ifdef _WIN32
    return "slsftp.dll";
#else
    return "libslsftp.so";
#endif
  }
  static std::filesystem::path BesideExecutable() {
    return Module::ExecutablePath().parent_path() / DefaultFileName();
  }

  // Loads the library at `path`; throws ModuleError saying why not.
  static std::unique_ptr<SftpConnections> Open(const std::filesystem::path& path) {
    std::string error;
    std::unique_ptr<SftpConnections> sftp = Load(path, &error);
    if (!sftp) throw ModuleError(error);
    return sftp;
  }
  // The same without exceptions: null, and the reason in `error`.
  static std::unique_ptr<SftpConnections> Load(const std::filesystem::path& path,
                                               std::string* error) {
    library_detail::Library library;
    void* connect = library.Load(path, SL_SFTP_CONNECT, "SFTP library",
                                 "remote folders over SFTP are built on Linux only", error);
    if (connect == nullptr) return nullptr;
    std::unique_ptr<SftpConnections> sftp(
        new SftpConnections(reinterpret_cast<SLSftpConnectFn>(connect)));
    sftp->library_ = std::move(library);
    return sftp;
  }

  // For hosts that link the library: SftpConnections(&SLSftpConnect).
  explicit SftpConnections(SLSftpConnectFn connect) : connect_(connect) {}
  SftpConnections(const SftpConnections&) = delete;
  SftpConnections& operator=(const SftpConnections&) = delete;

  // The folder that `url` names ("sftp://me@host:2222/srv/data?timeout=10") as a file system
  // that reports `nameAtom` as its name; `options` may be null. Throws ServiceError with the
  // code of SLSftpConnect and the library's reason (the host key is unknown, no key logs in...).
  Ref<SLFileSystem> Connect(const std::string& url, uint32_t nameAtom,
                            const SLSftpOptions* options = nullptr) const {
    char reason[512] = {};
    Ref<SLFileSystem> fs;
    const SLResult code =
        connect_(url.c_str(), options, nameAtom, fs.put(), reason, sizeof(reason));
    if (SL_FAILED(code)) throw ServiceError(code, reason[0] != '\0' ? reason : url);
    return fs;
  }

 private:
  SLSftpConnectFn connect_ = nullptr;
  library_detail::Library library_;  // unloaded when the SftpConnections goes
};

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_SFTP_HPP_
