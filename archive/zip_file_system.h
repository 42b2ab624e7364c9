// A zip archive served as a read-only file system: members are files, folders are implied by
// member paths. One libzip archive per file system, every libzip call under one lock; each
// open handle has its own libzip file, position and size.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "slservices/sdk/file_system.hpp"

struct zip;
struct zip_file;

namespace sl::archive {

class ZipFileSystem final : public sdk::FileSystemBase {
 public:
  // Opens the archive at `utf8Path` read-only; throws sdk::ServiceError with the code of
  // SLZipOpenArchive and a sentence saying why.
  static sdk::Ref<ZipFileSystem> Open(const std::string& utf8Path, uint32_t nameAtom);
  ~ZipFileSystem() override;
  const char* DisplayName() const override { return "ZipFileSystem"; }

 protected:
  SLResult OpenFile(std::u16string_view path, sdk::OpenMode mode, SLFileHandle* file) override;
  SLResult CloseFile(SLFileHandle file) override;
  SLResult ReadFile(SLFileHandle file, void* buffer, uint64_t size, uint64_t* done) override;
  SLResult GetFilePos(SLFileHandle file, uint64_t* position) override;
  SLResult SetFilePos(SLFileHandle file, int64_t position) override;
  SLResult GetFileSize(SLFileHandle file, uint64_t* size) override;
  SLResult IsFileExists(std::u16string_view path, bool* exists) override;
  SLResult Search(std::u16string_view pattern, std::vector<std::u16string>* names) override;
  SLResult CreateFolder(std::u16string_view path) override { return ReadOnly(path); }
  SLResult CreateAllFolders(std::u16string_view path) override { return ReadOnly(path); }
  SLResult RemoveFolder(std::u16string_view path) override { return ReadOnly(path); }
  SLResult RemoveFile(std::u16string_view path) override { return ReadOnly(path); }
  SLResult WriteFile(SLFileHandle, const void*, uint64_t, uint64_t*) override;

 private:
  struct Node {
    bool folder = true;
    uint64_t index = 0;  // the member's index in the archive (files only)
    uint64_t size = 0;
    bool stored = false;  // uncompressed: libzip can seek in it
    std::string name;     // as the archive spells it, for messages
  };
  struct Handle {
    const Node* node = nullptr;
    zip_file* file = nullptr;  // null after a failed read: the next one reopens the member
    uint64_t at = 0;           // where `file` stands
    uint64_t position = 0;     // where the caller stands
    // Small reads are served from one larger read of libzip: each libzip read passes through
    // several layers (checksum, inflate, the archive file), so fewer and larger reads are
    // cheaper. `ahead` holds the member's bytes from `aheadAt` on.
    std::vector<char> ahead;
    uint64_t aheadAt = 0;
  };

  ZipFileSystem(uint32_t nameAtom, zip* archive) : FileSystemBase(nameAtom), archive_(archive) {}
  void Index();

  // The path's key ("/a/b"), or 3 for a path that climbs above the root or is not UTF-16.
  static SLResult KeyOf(std::u16string_view path, std::u16string* key);
  const Node* Find(const std::u16string& key) const;
  SLResult ReadOnly(std::u16string_view path);
  Handle* HandleOf(SLFileHandle file);
  // Puts the handle's libzip file at `target`: seeks where libzip can, else reopens (only when
  // going back) and reads forward.
  SLResult MoveTo(Handle& handle, uint64_t target);
  SLResult FileFailure(Handle& handle, const char* doing);
  // Reads up to `size` bytes at the handle's position straight from libzip into `buffer`.
  SLResult ReadMember(Handle& handle, char* buffer, uint64_t size, uint64_t* done);

  zip* archive_;
  std::map<std::u16string, Node> nodes_;  // fixed once opened: read without the lock
  std::mutex lock_;                       // libzip calls and the handle table
  std::map<uintptr_t, std::unique_ptr<Handle>> handles_;
  uintptr_t nextHandle_ = 1;
};

}  // namespace sl::archive
