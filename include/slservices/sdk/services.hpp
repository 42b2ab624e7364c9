// Checked C++ faces of the two services, their file systems and files. Every failing entry
// throws ServiceError with the object's own record; Try([&] { ... }) gives the non-throwing form.
//
//   sl::sdk::FileSystemService files(*module);   // a service object, with its own registry
//   sl::sdk::StreamService streams(*module);
//   sl::sdk::FileSystem fs = files.Default();
//   fs.CreateAllFolders(std::filesystem::temp_directory_path() / "notes");
//   { auto out = streams.OpenWrite(fs, dir / "today.txt"); out << "hello\n"; }
//   auto in = streams.OpenRead(fs, dir / "today.txt");
#ifndef SLSERVICES_SDK_SERVICES_HPP_
#define SLSERVICES_SDK_SERVICES_HPP_

#include <istream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "slservices/sdk/error.hpp"
#include "slservices/sdk/file_system.hpp"
#include "slservices/sdk/module.hpp"
#include "slservices/sdk/ref.hpp"
#include "slservices/sdk/stream.hpp"
#include "slservices/sdk/text.hpp"

namespace sl::sdk {

// One file-system service object. Its registry of file systems, and its default file system,
// belong to this object alone: a file system registered here cannot be found through another
// FileSystemService made from the same module (each one creates a new service object). Make
// one per program and share it, or register with each that must find the file system.
class FileSystemService {
 public:
  explicit FileSystemService(Ref<SLFileSystemService> service) : service_(std::move(service)) {}
  explicit FileSystemService(const Module& module)
      : service_(module.Create<SLFileSystemService>(SL_CLASS_FILE_SYSTEM_SERVICE)) {}

  SLFileSystemService* get() const { return service_.get(); }

  FileSystem Default() const {
    Ref<SLFileSystem> fs;
    Check(service_->GetDefaultFileSystem(service_.get(), fs.put()), service_.get(),
          "SLFileSystemService::GetDefaultFileSystem");
    return FileSystem(std::move(fs));
  }
  // The registry keeps a reference of its own, under the name the file system reports.
  void Register(SLFileSystem* fs) const {
    Check(service_->RegisterFileSystem(service_.get(), fs), service_.get(),
          "SLFileSystemService::RegisterFileSystem");
  }
  void Unregister(SLFileSystem* fs) const {
    Check(service_->UnregisterFileSystem(service_.get(), fs), service_.get(),
          "SLFileSystemService::UnregisterFileSystem");
  }
  FileSystem Find(uint32_t nameAtom) const {
    Ref<SLFileSystem> fs;
    Check(service_->GetRegisteredFileSystemByName(service_.get(), nameAtom, fs.put()),
          service_.get(), "SLFileSystemService::GetRegisteredFileSystemByName");
    return FileSystem(std::move(fs));
  }

 private:
  Ref<SLFileSystemService> service_;
};

class StreamService {
 public:
  explicit StreamService(Ref<SLStreamService> service) : service_(std::move(service)) {}
  explicit StreamService(const Module& module)
      : service_(module.Create<SLStreamService>(SL_CLASS_STREAM_SERVICE)) {}

  SLStreamService* get() const { return service_.get(); }

  // The bytes are read in place: keep them until the stream is closed.
  InputStream OpenMemory(const void* data, uint64_t size) const {
    SLStreamHandle handle = nullptr;
    Opened(service_->OpenMemReadStream(service_.get(), data, size, &handle), "OpenMemReadStream");
    return InputStream(service_, handle);
  }
  // The stream takes over the file (and a reference to its file system) and closes it. Data
  // that ends before the file's size, or a read that fails, sets badbit (stream.hpp).
  InputStream OpenRead(File file) const {
    SLStreamHandle handle = nullptr;
    stream_detail::FileWatch watch(file.fileSystem(), file.handle());
    Opened(service_->OpenFileReadStream(service_.get(), file.fileSystem().get(), file.handle(),
                                        &handle),
           "OpenFileReadStream");
    file.Detach();
    return InputStream(service_, handle, std::move(watch));
  }
  OutputStream OpenWrite(File file) const {
    SLStreamHandle handle = nullptr;
    Opened(service_->OpenFileWriteStream(service_.get(), file.fileSystem().get(), file.handle(),
                                         &handle),
           "OpenFileWriteStream");
    file.Detach();
    return OutputStream(service_, handle);
  }
  InputStream OpenRead(const FileSystem& fs, const Path16& path) const {
    return OpenRead(fs.Open(path, SL_OPEN_READ));
  }
  OutputStream OpenWrite(const FileSystem& fs, const Path16& path,
                         uint32_t mode = SL_OPEN_CREATE) const {
    return OpenWrite(fs.Open(path, mode));
  }
  // Callback streams: the record is copied, the context passed back to every callback.
  InputStream OpenRead(const SLReadHandler& handler, void* context) const {
    SLStreamHandle handle = nullptr;
    Opened(service_->OpenReadStream(service_.get(), &handler, context, &handle), "OpenReadStream");
    return InputStream(service_, handle);
  }
  OutputStream OpenWrite(const SLWriteHandler& handler, void* context) const {
    SLStreamHandle handle = nullptr;
    Opened(service_->OpenWriteStream(service_.get(), &handler, context, &handle),
           "OpenWriteStream");
    return OutputStream(service_, handle);
  }
  // The module reading a std::istream, or writing a std::ostream.
  InputStream OpenRead(std::istream& in) const { return OpenRead(IstreamReader(), &in); }
  OutputStream OpenWrite(std::ostream& out) const { return OpenWrite(OstreamWriter(), &out); }

 private:
  void Opened(SLResult code, const char* entry) const {
    Check(code, service_.get(), (std::string("SLStreamService::") + entry).c_str());
  }

  Ref<SLStreamService> service_;
};

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_SERVICES_HPP_
