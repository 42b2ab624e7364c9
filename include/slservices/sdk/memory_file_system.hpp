// A complete file system in memory, written on FileSystemBase: folders, files, sharing rules,
// read-only files, positions and wildcard search, behaving like the default file system.
//
//   auto memory = sl::sdk::MakeRef<sl::sdk::MemoryFileSystem>(module->Atom("Memory"));
//   memory->SetFile("/notes/today.txt", "hello\n");
//   service->RegisterFileSystem(service, memory->table());
//   // ... streams read and write "/notes/today.txt" through the service like any other file
//
// Paths: components separated by '/' or '\'; "." is skipped, ".." goes up; every path is
// taken from the root ("notes/a.txt" is "/notes/a.txt"). Names are case-sensitive.
// Open modes share like the default file system's: reading opens coexist, a file open for
// writing or creating is held alone, and a file being read may still be removed. The codes
// are those of the default file system (11 missing, 15 read-only or a folder, 16 exists,
// 7 in use, missing parent, not empty or bad handle). Search lists no "." or "..".
#ifndef SLSERVICES_SDK_MEMORY_FILE_SYSTEM_HPP_
#define SLSERVICES_SDK_MEMORY_FILE_SYSTEM_HPP_

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "slservices/sdk/file_system.hpp"
#include "slservices/sdk/paths.hpp"

namespace sl::sdk {

class MemoryFileSystem : public FileSystemBase {
 public:
  explicit MemoryFileSystem(uint32_t nameAtom) : FileSystemBase(nameAtom) { nodes_[u"/"] = {}; }
  const char* DisplayName() const override { return "MemoryFileSystem"; }

  // Host-side access, outside the table: puts a file (folders on the way are created).
  void SetFile(const Path16& path, std::string_view bytes) {
    const std::optional<std::u16string> key = paths::Key(path.str());
    if (!key || *key == u"/") throw ServiceError(SL_INVALID_ARGUMENT, "invalid path");
    std::lock_guard<std::mutex> guard(lock_);
    for (size_t slash = key->find(u'/', 1); slash != std::u16string::npos;
         slash = key->find(u'/', slash + 1)) {
      const Node& folder = nodes_[key->substr(0, slash)];
      if (folder.data) throw ServiceError(SL_OS_FAILURE, "a file on the way");
    }
    Node& node = nodes_[*key];
    if (!node.data) node.data = std::make_shared<Data>();
    node.data->bytes.assign(bytes.data(), bytes.size());
  }
  std::optional<std::string> FileContents(const Path16& path) const {
    std::lock_guard<std::mutex> guard(lock_);
    const Node* node = Find(path.str());
    if (node == nullptr || !node->data) return std::nullopt;
    return node->data->bytes;
  }
  void SetReadOnly(const Path16& path, bool readOnly) {
    std::lock_guard<std::mutex> guard(lock_);
    const Node* node = Find(path.str());
    if (node != nullptr && node->data) node->data->readOnly = readOnly;
  }

 protected:
  SLResult OpenFile(std::u16string_view path, OpenMode mode,
                    std::unique_ptr<FileBase>* file) override {
    const std::optional<std::u16string> key = paths::Key(path);
    if (!key) return Fail(SL_INVALID_ARGUMENT, "invalid path");
    std::lock_guard<std::mutex> guard(lock_);
    auto found = nodes_.find(*key);
    if (found != nodes_.end() && !found->second.data) return Fail(SL_ACCESS_DENIED, "a folder");
    std::shared_ptr<Data> data = found != nodes_.end() ? found->second.data : nullptr;
    if (!data && mode != OpenMode::Create) return Fail(SL_NOT_FOUND, "no such file");
    if (data && mode != OpenMode::Read && data->readOnly)
      return Fail(SL_ACCESS_DENIED, "read-only");
    if (data && (data->writer || (mode != OpenMode::Read && data->readers > 0))) {
      return Fail(SL_OS_FAILURE, "the file is in use");
    }
    if (!data) {
      const Node* parent = Find(paths::ParentOf(*key));
      if (parent == nullptr || parent->data) return Fail(SL_OS_FAILURE, "no such folder");
      data = nodes_[*key].data = std::make_shared<Data>();
    }
    if (mode == OpenMode::Create) data->bytes.clear();
    *file = std::make_unique<OpenData>(lock_, std::move(data), mode != OpenMode::Read);
    return SL_OK;
  }
  SLResult IsFileExists(std::u16string_view path, bool* exists) override {
    std::lock_guard<std::mutex> guard(lock_);
    *exists = Find(path) != nullptr;
    return SL_OK;
  }
  SLResult CreateFolder(std::u16string_view path) override {
    const std::optional<std::u16string> key = paths::Key(path);
    if (!key) return Fail(SL_INVALID_ARGUMENT, "invalid path");
    std::lock_guard<std::mutex> guard(lock_);
    if (nodes_.count(*key) != 0) return Fail(SL_ALREADY_EXISTS, "exists");
    const Node* parent = Find(paths::ParentOf(*key));
    if (parent == nullptr || parent->data) return Fail(SL_OS_FAILURE, "no such folder");
    nodes_[*key] = Node{};
    return SL_OK;
  }
  SLResult CreateAllFolders(std::u16string_view path) override {
    const std::optional<std::u16string> key = paths::Key(path);
    if (!key) return Fail(SL_INVALID_ARGUMENT, "invalid path");
    std::lock_guard<std::mutex> guard(lock_);
    if (nodes_.count(*key) != 0) return Fail(SL_ALREADY_EXISTS, "exists");
    for (size_t end = key->find(u'/', 1);; end = key->find(u'/', end + 1)) {
      const Node& node = nodes_[key->substr(0, end)];  // a missing folder is made on the way
      if (node.data) return Fail(SL_OS_FAILURE, "a file on the way");
      if (end == std::u16string::npos) return SL_OK;
    }
  }
  SLResult RemoveFolder(std::u16string_view path) override { return Remove(path, false); }
  SLResult RemoveFile(std::u16string_view path) override { return Remove(path, true); }
  SLResult Search(std::u16string_view pattern, std::vector<std::u16string>* names) override {
    const std::optional<std::u16string> key = paths::Key(pattern);
    if (!key || *key == u"/") return Fail(SL_INVALID_ARGUMENT, "invalid pattern");
    const std::u16string folder = paths::ParentOf(*key);
    const std::u16string wanted = key->substr(key->rfind(u'/') + 1);
    std::lock_guard<std::mutex> guard(lock_);
    const Node* parent = Find(folder);
    if (parent == nullptr || parent->data) return Fail(SL_INVALID_ARGUMENT, "no such folder");
    const std::u16string prefix = folder == u"/" ? folder : folder + u"/";
    for (auto it = nodes_.upper_bound(prefix); it != nodes_.end(); ++it) {
      if (it->first.compare(0, prefix.size(), prefix) != 0) break;
      const std::u16string name = it->first.substr(prefix.size());
      if (name.find(u'/') == std::u16string::npos && paths::Matches(wanted, name))
        names->push_back(name);
    }
    return SL_OK;
  }

 private:
  struct Data {
    std::string bytes;
    bool readOnly = false;
    // The sharing rules; changed under the lock, given back without it by an open file that
    // outlives the file system.
    std::atomic<bool> writer{false};
    std::atomic<int> readers{0};
  };
  struct Node {
    std::shared_ptr<Data> data;  // null for a folder
  };
  // An open file; its data stays readable when the file is removed meanwhile.
  class OpenData final : public FileBase {
   public:
    OpenData(std::mutex& lock, std::shared_ptr<Data> data, bool write)
        : lock_(lock), data_(std::move(data)), write_(write) {
      if (write_) {
        data_->writer = true;
      } else {
        ++data_->readers;
      }
    }
    ~OpenData() override {
      if (write_) {
        data_->writer = false;
      } else {
        --data_->readers;
      }
    }
    SLResult Read(uint64_t offset, void* buffer, uint64_t size, uint64_t* done) override {
      std::lock_guard<std::mutex> guard(lock_);
      const std::string& bytes = data_->bytes;
      const uint64_t start = std::min<uint64_t>(offset, bytes.size());
      *done = std::min<uint64_t>(size, bytes.size() - start);
      std::memcpy(buffer, bytes.data() + start, static_cast<size_t>(*done));
      return SL_OK;
    }
    SLResult Write(uint64_t offset, const void* buffer, uint64_t size, uint64_t* done) override {
      if (!write_) return Fail(SL_ACCESS_DENIED, "opened for reading");
      std::lock_guard<std::mutex> guard(lock_);
      std::string& bytes = data_->bytes;
      if (bytes.size() < offset + size) bytes.resize(offset + size);
      std::memcpy(bytes.data() + offset, buffer, static_cast<size_t>(size));
      *done = size;
      return SL_OK;
    }
    SLResult Size(uint64_t* size) override {
      std::lock_guard<std::mutex> guard(lock_);
      *size = data_->bytes.size();
      return SL_OK;
    }

   private:
    std::mutex& lock_;  // the file system's: used only while its handle is open
    std::shared_ptr<Data> data_;
    bool write_;
  };

  const Node* Find(std::u16string_view path) const {
    const std::optional<std::u16string> key = paths::Key(path);
    const auto found = key ? nodes_.find(*key) : nodes_.end();
    return found != nodes_.end() ? &found->second : nullptr;
  }
  SLResult Remove(std::u16string_view path, bool file) {
    const std::optional<std::u16string> key = paths::Key(path);
    if (!key) return Fail(SL_INVALID_ARGUMENT, "invalid path");
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = nodes_.find(*key);
    if (found == nodes_.end()) return Fail(SL_NOT_FOUND, "no such file or folder");
    const std::shared_ptr<Data>& data = found->second.data;
    if (file && !data) return Fail(SL_ACCESS_DENIED, "a folder");
    if (!file && (data || *key == u"/")) return Fail(SL_OS_FAILURE, "not a folder to remove");
    if (file && data->readOnly) return Fail(SL_ACCESS_DENIED, "read-only");
    if (file && data->writer) return Fail(SL_OS_FAILURE, "the file is in use");
    const std::u16string below = *key + u"/";
    const auto child = nodes_.lower_bound(below);
    if (!file && child != nodes_.end() && child->first.compare(0, below.size(), below) == 0) {
      return Fail(SL_OS_FAILURE, "the folder is not empty");
    }
    nodes_.erase(found);
    return SL_OK;
  }

  mutable std::mutex lock_;
  std::map<std::u16string, Node> nodes_;
};

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_MEMORY_FILE_SYSTEM_HPP_
