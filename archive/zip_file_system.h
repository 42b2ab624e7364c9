// A zip archive served as a read-only file system: members are files, folders are implied by
// member paths. One libzip archive per file system, every libzip call under one lock; each
// open member has its own libzip file (the base keeps its handle and position).
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
  SLResult OpenFile(std::u16string_view path, sdk::OpenMode mode,
                    std::unique_ptr<sdk::FileBase>* file) override;
  SLResult IsFileExists(std::u16string_view path, bool* exists) override;
  SLResult Search(std::u16string_view pattern, std::vector<std::u16string>* names) override;
  SLResult CreateFolder(std::u16string_view path) override { return ReadOnly(path); }
  SLResult CreateAllFolders(std::u16string_view path) override { return ReadOnly(path); }
  SLResult RemoveFolder(std::u16string_view path) override { return ReadOnly(path); }
  SLResult RemoveFile(std::u16string_view path) override { return ReadOnly(path); }

 private:
  struct Node {
    bool folder = true;
    uint64_t index = 0;  // the member's index in the archive (files only)
    uint64_t size = 0;
    bool stored = false;  // uncompressed: libzip can seek in it
    std::string name;     // as the archive spells it, for messages
  };
  class Member;

  ZipFileSystem(uint32_t nameAtom, zip* archive) : FileSystemBase(nameAtom), archive_(archive) {}
  void Index();

  // The path's key ("/a/b"), or 3 for a path that climbs above the root or is not UTF-16.
  static SLResult KeyOf(std::u16string_view path, std::u16string* key);
  const Node* Find(const std::u16string& key) const;
  SLResult ReadOnly(std::u16string_view path);

  zip* archive_;
  std::map<std::u16string, Node> nodes_;  // fixed once opened: read without the lock
  std::mutex lock_;                       // every libzip call
};

}  // namespace sl::archive
