// File systems in C++. Using one: FileSystem and File (at the end) call any SLFileSystem. Writing
// one that the module (or any host) uses through its table: derive from FileSystemBase, override
// what your file system does, have OpenFile hand out an open file of your own (a FileBase with
// Read, Size and, where it writes, Write), create the file system with MakeRef and register its
// table with the service.
//
//   class Greeting : public sl::sdk::FileBase {
//    public:
//     SLResult Read(uint64_t offset, void* buffer, uint64_t size, uint64_t* done) override;
//     SLResult Size(uint64_t* size) override;
//   };
//   class Greetings : public sl::sdk::FileSystemBase {
//    public:
//     using FileSystemBase::FileSystemBase;
//    protected:
//     SLResult OpenFile(std::u16string_view path, sl::sdk::OpenMode mode,
//                       std::unique_ptr<sl::sdk::FileBase>* file) override;
//   };
//   auto fs = sl::sdk::MakeRef<Greetings>(module->Atom("Greetings"));
//   service->RegisterFileSystem(service, fs->table());
//
// The base builds a correct table (id, size, the 17 entries in order, "EOFT", stamp), counts
// references, hands out weak references and keeps per-thread failure records. It checks the
// arguments before calling you: null pointers, a null handle, a zero byte count and an open
// mode without any of the bits 1, 2, 4 give 3, so overrides see only valid ones. It keeps the
// open files: it hands out their handles, answers 7 for a handle it did not hand out (or one
// already closed), keeps each handle's position (SetFilePos takes any position from 0 on, -1
// fails with 7 and moves nothing) and closes what is still open when the file system goes.
// Overrides return an SLResult; Fail(code, "detail") adds a detail to the recorded message, and
// an exception thrown by an override becomes a code (ServiceError: its own; anything else: 7).
// Entries may run on any thread at once: calls on one handle come one at a time, calls on
// several handles and the path entries may overlap, so overrides guard the state they share.
#ifndef SLSERVICES_SDK_FILE_SYSTEM_HPP_
#define SLSERVICES_SDK_FILE_SYSTEM_HPP_

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "slservices/sdk/object.hpp"
#include "slservices/sdk/search_result.hpp"

namespace sl::sdk {

// The open mode decided from OpenFile's bits: 4 first, then 2, then 1.
enum class OpenMode { Read, Write, Create };

// An open file as its file system hands it out: it reads and writes at the offset the base
// gives it (the handle's position) and tells its size. It goes when its handle closes, or with
// the file system when that goes first; a file system whose open files need its own members to
// the end closes them in its destructor (CloseOpenFiles).
class FileBase {
 public:
  FileBase() = default;
  FileBase(const FileBase&) = delete;
  FileBase& operator=(const FileBase&) = delete;
  virtual ~FileBase() = default;

  // Moves at most `size` bytes from `offset` on and says how many in `done`; 0 at or past the
  // end. The position moves by `done`, also when the read fails.
  virtual SLResult Read(uint64_t offset, void* buffer, uint64_t size, uint64_t* done) = 0;
  // Writes at `offset`; past the end the file grows. The position moves by `done`.
  virtual SLResult Write(uint64_t offset, const void* buffer, uint64_t size, uint64_t* done);
  virtual SLResult Size(uint64_t* size) = 0;
  // Streams flush their file at every synchronisation, read streams too: keep it cheap.
  virtual SLResult Flush() { return SL_OK; }
  // The last call on the handle; whatever it answers, the handle is closed and the object goes.
  virtual SLResult Close() { return SL_OK; }

 protected:
  // As FileSystemBase::Fail: fails the running entry, adding `detail` to the recorded message.
  static SLResult Fail(SLResult code, std::string detail);
};

class FileSystemBase : public HostObject {
 public:
  // `nameAtom` is the file system's name (its registry key): the atom library's atom of it.
  explicit FileSystemBase(uint32_t nameAtom) : nameAtom_(nameAtom) { FillTable(); }

  ServiceObject* object() final { return reinterpret_cast<ServiceObject*>(&shell_.table); }
  const char* DisplayName() const override { return "SLFileSystem"; }
  // The object as the module sees it; pass it to RegisterFileSystem or OpenFileReadStream.
  SLFileSystem* table() { return &shell_.table; }
  uint32_t NameAtom() const { return nameAtom_; }
  size_t OpenFileCount() const {
    std::lock_guard<std::mutex> guard(handlesLock_);
    return handles_.size();
  }

 protected:
  friend class FileBase;

  // Opens the file at `path` and hands it out in `file`; the base gives it a handle.
  virtual SLResult OpenFile(std::u16string_view path, OpenMode mode,
                            std::unique_ptr<FileBase>* file) = 0;
  // By default: whether the path opens for reading.
  virtual SLResult IsFileExists(std::u16string_view path, bool* exists) {
    std::unique_ptr<FileBase> file;
    *exists = !SL_FAILED(OpenFile(path, OpenMode::Read, &file)) && file != nullptr;
    return SL_OK;
  }
  virtual SLResult CreateFolder(std::u16string_view) { return Unsupported(); }
  virtual SLResult CreateAllFolders(std::u16string_view) { return Unsupported(); }
  virtual SLResult RemoveFolder(std::u16string_view) { return Unsupported(); }
  virtual SLResult RemoveFile(std::u16string_view) { return Unsupported(); }
  // Bare names matching the pattern; finding none is a failure (3), as for the default one.
  virtual SLResult Search(std::u16string_view, std::vector<std::u16string>*) {
    return Fail(SL_INVALID_ARGUMENT, "search is not supported by this file system");
  }
  // Path mapping; like the default file system, the base maps nothing (1, not a failure).
  virtual SLResult MakeDIPathFromPath(const SLChar16*, SLChar16*, uint64_t) { return SL_NOT_DONE; }
  virtual SLResult MakePathFromDIPath(const SLChar16*, SLChar16*, uint64_t) { return SL_NOT_DONE; }

  static SLResult Unsupported() {
    return Fail(SL_ACCESS_DENIED, "not supported by this file system");
  }

  // Gives an open file a handle, as OpenFile's entry does with what OpenFile hands out.
  SLFileHandle Keep(std::unique_ptr<FileBase> file) {
    auto open = std::make_shared<Open>();
    open->file = std::move(file);
    std::lock_guard<std::mutex> guard(handlesLock_);
    const uintptr_t id = nextHandle_++;
    handles_[id] = std::move(open);
    return reinterpret_cast<SLFileHandle>(id);
  }
  // Closes every open file now, without calling Close: for a destructor whose open files use
  // members that go before the base's.
  void CloseOpenFiles() {
    std::map<uintptr_t, std::shared_ptr<Open>> open;
    {
      std::lock_guard<std::mutex> guard(handlesLock_);
      open.swap(handles_);
    }
    for (auto& [id, handle] : open) {
      std::lock_guard<std::mutex> guard(handle->lock);
      handle->file.reset();
    }
  }

 private:
  static constexpr const char* kSource = "slservices/sdk/file_system.hpp";
  // One handle's open file and position; its lock keeps calls on the handle one at a time.
  struct Open {
    std::mutex lock;
    std::unique_ptr<FileBase> file;
    uint64_t position = 0;
  };

  static FileSystemBase* Self(SLFileSystem* table) {
    return static_cast<FileSystemBase*>(
        Owner<SLFileSystem>(reinterpret_cast<ServiceObject*>(table)));
  }
  // An entry that takes only a path.
  SLResult PathEntry(const SLChar16* path,
                     SLResult (FileSystemBase::*method)(std::u16string_view)) {
    return path == nullptr ? SL_INVALID_ARGUMENT : (this->*method)(path);
  }
  // Runs `body` on the handle's open file, or fails with 7 for a handle that is not open. With
  // `close`, the handle leaves the table first: later calls find it no more.
  template <class Body>
  SLResult OnFile(SLFileHandle file, Body&& body, bool close = false) {
    std::shared_ptr<Open> open;
    {
      std::lock_guard<std::mutex> guard(handlesLock_);
      const auto found = handles_.find(reinterpret_cast<uintptr_t>(file));
      if (found != handles_.end()) {
        open = found->second;
        if (close) handles_.erase(found);
      }
    }
    if (!open) return Fail(SL_OS_FAILURE, "bad handle");
    std::lock_guard<std::mutex> guard(open->lock);
    if (!open->file) return Fail(SL_OS_FAILURE, "bad handle");  // closed while this call waited
    return body(*open);
  }
  // ReadFile and WriteFile: the bytes moved go to `done` and move the position.
  template <class Move>
  SLResult Transfer(SLFileHandle file, uint64_t* done, Move&& move) {
    return OnFile(file, [&](Open& open) {
      uint64_t moved = 0;
      const SLResult code = move(*open.file, open.position, &moved);
      open.position += moved;
      if (done != nullptr) *done = moved;
      return code;
    });
  }

// One table entry, named once: it runs its body as RunEntry does, and a failure's record names
// the entry, the function "sl::sdk::FileSystemBase::<entry>" and the line the entry is written on.
// The first parameter is the table, `self`; the body is a braced block giving an SLResult. An
// open file the body closes goes to `closed`, which goes after the record is made: its
// destructor may call other objects' entries, which start their own records.
#define SLSERVICES_FS_ENTRY(Name, Params, ...)                                                 \
  shell_.table.Name = [] Params {                                                              \
    std::unique_ptr<FileBase> closed;                                                          \
    return Self(self)->RunEntry({#Name, "sl::sdk::FileSystemBase::" #Name, kSource, __LINE__}, \
                                [&]() -> SLResult __VA_ARGS__);                                \
  }

  void FillTable() {
    InitShell(shell_, SL_FILESYSTEM_ID, "SLFileSystem", SL_FILESYSTEM_STAMP);
    SLSERVICES_FS_ENTRY(GetFileSystemName, (SLFileSystem * self, uint32_t * atom), {
      if (atom == nullptr) return SL_INVALID_ARGUMENT;
      *atom = Self(self)->nameAtom_;
      return SL_OK;
    });
    SLSERVICES_FS_ENTRY(CreateFolder, (SLFileSystem * self, const SLChar16* path),
                        { return Self(self)->PathEntry(path, &FileSystemBase::CreateFolder); });
    SLSERVICES_FS_ENTRY(CreateAllFolders, (SLFileSystem * self, const SLChar16* path),
                        { return Self(self)->PathEntry(path, &FileSystemBase::CreateAllFolders); });
    SLSERVICES_FS_ENTRY(RemoveFolder, (SLFileSystem * self, const SLChar16* path),
                        { return Self(self)->PathEntry(path, &FileSystemBase::RemoveFolder); });
    SLSERVICES_FS_ENTRY(
        OpenFile, (SLFileSystem * self, const SLChar16* path, uint32_t mode, SLFileHandle* file), {
          if (path == nullptr || file == nullptr) return SL_INVALID_ARGUMENT;
          if ((mode & (SL_OPEN_READ | SL_OPEN_WRITE | SL_OPEN_CREATE)) == 0) {
            return SL_INVALID_ARGUMENT;
          }
          const OpenMode decided = (mode & SL_OPEN_CREATE) != 0  ? OpenMode::Create
                                   : (mode & SL_OPEN_WRITE) != 0 ? OpenMode::Write
                                                                 : OpenMode::Read;
          std::unique_ptr<FileBase> opened;
          const SLResult code = Self(self)->OpenFile(path, decided, &opened);
          if (SL_FAILED(code)) return code;
          if (!opened) return Fail(SL_OS_FAILURE, "OpenFile gave no open file");
          *file = Self(self)->Keep(std::move(opened));
          return SL_OK;
        });
    SLSERVICES_FS_ENTRY(CloseFile, (SLFileSystem * self, SLFileHandle file), {
      if (file == nullptr) return SL_INVALID_ARGUMENT;
      return Self(self)->OnFile(
          file,
          [&](Open& open) {
            const SLResult code = open.file->Close();
            closed = std::move(open.file);
            return code;
          },
          true);
    });
    SLSERVICES_FS_ENTRY(IsFileExists, (SLFileSystem * self, const SLChar16* path, uint8_t* exists),
                        {
                          if (path == nullptr || exists == nullptr) return SL_INVALID_ARGUMENT;
                          bool found = false;
                          const SLResult code = Self(self)->IsFileExists(path, &found);
                          if (!SL_FAILED(code)) *exists = found ? 1 : 0;
                          return code;
                        });
    SLSERVICES_FS_ENTRY(
        ReadFile,
        (SLFileSystem * self, SLFileHandle file, void* buffer, uint64_t size, uint64_t* done), {
          if (file == nullptr || buffer == nullptr || size == 0) {
            return SL_INVALID_ARGUMENT;
          }
          return Self(self)->Transfer(file, done,
                                      [&](FileBase& open, uint64_t at, uint64_t* moved) {
                                        return open.Read(at, buffer, size, moved);
                                      });
        });
    SLSERVICES_FS_ENTRY(
        WriteFile,
        (SLFileSystem * self, SLFileHandle file, const void* buffer, uint64_t size, uint64_t* done),
        {
          if (file == nullptr || buffer == nullptr || size == 0) {
            return SL_INVALID_ARGUMENT;
          }
          return Self(self)->Transfer(file, done,
                                      [&](FileBase& open, uint64_t at, uint64_t* moved) {
                                        return open.Write(at, buffer, size, moved);
                                      });
        });
    SLSERVICES_FS_ENTRY(FlushFile, (SLFileSystem * self, SLFileHandle file), {
      if (file == nullptr) return SL_INVALID_ARGUMENT;
      return Self(self)->OnFile(file, [](Open& open) { return open.file->Flush(); });
    });
    SLSERVICES_FS_ENTRY(GetFilePos, (SLFileSystem * self, SLFileHandle file, uint64_t * position), {
      if (file == nullptr || position == nullptr) return SL_INVALID_ARGUMENT;
      return Self(self)->OnFile(file, [&](Open& open) {
        *position = open.position;
        return SL_OK;
      });
    });
    SLSERVICES_FS_ENTRY(SetFilePos, (SLFileSystem * self, SLFileHandle file, int64_t position), {
      if (file == nullptr) return SL_INVALID_ARGUMENT;
      return Self(self)->OnFile(file, [&](Open& open) {
        if (position < 0) return Fail(SL_OS_FAILURE, "a negative position");
        open.position = static_cast<uint64_t>(position);
        return SL_OK;
      });
    });
    SLSERVICES_FS_ENTRY(GetFileSize, (SLFileSystem * self, SLFileHandle file, uint64_t * size), {
      if (file == nullptr || size == nullptr) return SL_INVALID_ARGUMENT;
      return Self(self)->OnFile(file, [&](Open& open) { return open.file->Size(size); });
    });
    SLSERVICES_FS_ENTRY(RemoveFile, (SLFileSystem * self, const SLChar16* path),
                        { return Self(self)->PathEntry(path, &FileSystemBase::RemoveFile); });
    SLSERVICES_FS_ENTRY(MakeDIPathFromPath,
                        (SLFileSystem * self, const SLChar16* path, SLChar16* out, uint64_t n),
                        { return Self(self)->MakeDIPathFromPath(path, out, n); });
    SLSERVICES_FS_ENTRY(MakePathFromDIPath,
                        (SLFileSystem * self, const SLChar16* path, SLChar16* out, uint64_t n),
                        { return Self(self)->MakePathFromDIPath(path, out, n); });
    SLSERVICES_FS_ENTRY(
        Search, (SLFileSystem * self, const SLChar16* pattern, SLFileSystemSearchResult** result), {
          if (pattern == nullptr || result == nullptr) return SL_INVALID_ARGUMENT;
          std::vector<std::u16string> names;
          const SLResult code = Self(self)->Search(pattern, &names);
          if (SL_FAILED(code)) return code;
          if (names.empty()) return Fail(SL_INVALID_ARGUMENT, "nothing matches");
          *result = (new SearchResult(std::move(names)))->table();  // the caller's one reference
          return SL_OK;
        });
  }
#undef SLSERVICES_FS_ENTRY

  Shell<SLFileSystem> shell_;
  uint32_t nameAtom_;
  mutable std::mutex handlesLock_;
  std::map<uintptr_t, std::shared_ptr<Open>> handles_;
  uintptr_t nextHandle_ = 1;
};

inline SLResult FileBase::Write(uint64_t, const void*, uint64_t, uint64_t*) {
  return FileSystemBase::Unsupported();
}
inline SLResult FileBase::Fail(SLResult code, std::string detail) {
  return FileSystemBase::Fail(code, std::move(detail));
}

// Using any file system, the module's or a host's, through its table: checked calls that throw
// ServiceError with the object's own record.

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

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_FILE_SYSTEM_HPP_
