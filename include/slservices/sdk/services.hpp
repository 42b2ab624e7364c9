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
#include "slservices/sdk/module.hpp"
#include "slservices/sdk/ref.hpp"
#include "slservices/sdk/stream.hpp"
#include "slservices/sdk/text.hpp"

namespace sl::sdk {

// An open file of one file system; closed when it goes unless a stream took it over.
class File {
 public:
  File() = default;
  File(Ref<SLFileSystem> fs, SLFileHandle handle) : fs_(std::move(fs)), handle_(handle) {}
  File(File&& other) noexcept
      : fs_(std::move(other.fs_)), handle_(std::exchange(other.handle_, nullptr)) {}
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Discard();
      fs_ = std::move(other.fs_);
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ~File() { Discard(); }

  explicit operator bool() const { return handle_ != nullptr; }
  SLFileHandle handle() const { return handle_; }
  const Ref<SLFileSystem>& fileSystem() const { return fs_; }

  // Bytes moved by one call of the file system (0 at the end of the file).
  uint64_t Read(void* buffer, uint64_t size) {
    uint64_t done = 0;
    Check(fs_->ReadFile(fs_.get(), handle_, buffer, size, &done), fs_.get(),
          "SLFileSystem::ReadFile");
    return done;
  }
  uint64_t Write(const void* buffer, uint64_t size) {
    uint64_t done = 0;
    Check(fs_->WriteFile(fs_.get(), handle_, buffer, size, &done), fs_.get(),
          "SLFileSystem::WriteFile");
    return done;
  }
  void Flush() { Check(fs_->FlushFile(fs_.get(), handle_), fs_.get(), "SLFileSystem::FlushFile"); }
  uint64_t Position() {
    uint64_t position = 0;
    Check(fs_->GetFilePos(fs_.get(), handle_, &position), fs_.get(), "SLFileSystem::GetFilePos");
    return position;
  }
  void Seek(int64_t position) {
    Check(fs_->SetFilePos(fs_.get(), handle_, position), fs_.get(), "SLFileSystem::SetFilePos");
  }
  uint64_t Size() {
    uint64_t size = 0;
    Check(fs_->GetFileSize(fs_.get(), handle_, &size), fs_.get(), "SLFileSystem::GetFileSize");
    return size;
  }
  void Close() {
    if (handle_ == nullptr) return;
    Check(fs_->CloseFile(fs_.get(), std::exchange(handle_, nullptr)), fs_.get(),
          "SLFileSystem::CloseFile");
  }
  // Gives the handle up, to a stream that closes it.
  SLFileHandle Detach() { return std::exchange(handle_, nullptr); }

 private:
  void Discard() {
    if (handle_ != nullptr && fs_) fs_->CloseFile(fs_.get(), std::exchange(handle_, nullptr));
  }

  Ref<SLFileSystem> fs_;
  SLFileHandle handle_ = nullptr;
};

class FileSystem {
 public:
  FileSystem() = default;
  explicit FileSystem(Ref<SLFileSystem> fs) : fs_(std::move(fs)) {}

  SLFileSystem* get() const { return fs_.get(); }
  const Ref<SLFileSystem>& ref() const { return fs_; }
  explicit operator bool() const { return static_cast<bool>(fs_); }

  uint32_t NameAtom() const {
    uint32_t atom = SL_UNRESOLVED_ATOM;
    Check(fs_->GetFileSystemName(fs_.get(), &atom), fs_.get(), "GetFileSystemName");
    return atom;
  }
  void CreateFolder(const Path16& path) const {
    Check(fs_->CreateFolder(fs_.get(), path.c_str()), fs_.get(), "CreateFolder");
  }
  // Every missing folder on the way; the default file system needs a full path.
  void CreateAllFolders(const Path16& path) const {
    Check(fs_->CreateAllFolders(fs_.get(), path.c_str()), fs_.get(), "CreateAllFolders");
  }
  void RemoveFolder(const Path16& path) const {
    Check(fs_->RemoveFolder(fs_.get(), path.c_str()), fs_.get(), "RemoveFolder");
  }
  void RemoveFile(const Path16& path) const {
    Check(fs_->RemoveFile(fs_.get(), path.c_str()), fs_.get(), "RemoveFile");
  }
  // Files and folders alike.
  bool Exists(const Path16& path) const {
    uint8_t exists = 0;
    Check(fs_->IsFileExists(fs_.get(), path.c_str(), &exists), fs_.get(), "IsFileExists");
    return exists != 0;
  }
  // SL_OPEN_READ, SL_OPEN_WRITE (an existing file) or SL_OPEN_CREATE (new or emptied).
  File Open(const Path16& path, uint32_t mode = SL_OPEN_READ) const {
    SLFileHandle handle = nullptr;
    Check(fs_->OpenFile(fs_.get(), path.c_str(), mode, &handle), fs_.get(), "OpenFile");
    return File(fs_, handle);
  }
  // Bare names matching the pattern's last part, in the file system's order. Finding nothing
  // is the failure 3. '*' and '?' in the last part are wildcards, also where a native path
  // mapped them (text.hpp); a name holding them is found through '?' or a listing.
  std::vector<std::u16string> Search(const Path16& pattern) const {
    const std::u16string wild = text_detail::WithWildcards(pattern.str());
    Ref<SLFileSystemSearchResult> result;
    Check(fs_->Search(fs_.get(), wild.c_str(), result.put()), fs_.get(), "Search");
    uint64_t count = 0;
    Check(result->GetCount(result.get(), &count), result.get(), "GetCount");
    std::vector<std::u16string> names;
    for (uint64_t i = 0; i < count; ++i) {
      const SLChar16* name = nullptr;
      Check(result->GetFileInfo(result.get(), static_cast<uint32_t>(i), &name), result.get(),
            "GetFileInfo");
      names.emplace_back(name);
    }
    return names;
  }

 private:
  template <class T>
  static void Check(SLResult code, T* object, const char* entry) {
    sl::sdk::Check(code, object,
                   (std::string(object->header.interfaceName) + "::" + entry).c_str());
  }

  Ref<SLFileSystem> fs_;
};

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
  // The stream takes over the file (and a reference to its file system) and closes it.
  InputStream OpenRead(File file) const {
    SLStreamHandle handle = nullptr;
    Opened(service_->OpenFileReadStream(service_.get(), file.fileSystem().get(), file.handle(),
                                        &handle),
           "OpenFileReadStream");
    file.Detach();
    return InputStream(service_, handle);
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
