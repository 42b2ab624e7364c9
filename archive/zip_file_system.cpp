#include "zip_file_system.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "slservices/sdk/paths.hpp"

namespace sl::archive {

namespace {

std::string LibzipText(int code, int systemError = 0) {
  zip_error_t error;
  zip_error_init(&error);
  zip_error_set(&error, code, systemError);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// What the archive's own failure at open means for the caller.
SLResult OpenCode(int libzipCode) {
  switch (libzipCode) {
    case ZIP_ER_NOENT:
      return SL_NOT_FOUND;
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
      return SL_ACCESS_DENIED;
    case ZIP_ER_MEMORY:
      return SL_OS_FAILURE;
    default:  // not a zip, inconsistent, truncated, a seek past the end
      return SL_INVALID_ARGUMENT;
  }
}

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

}  // namespace

sdk::Ref<ZipFileSystem> ZipFileSystem::Open(const std::string& utf8Path, uint32_t nameAtom) {
  const std::filesystem::path path = sdk::ToPath(sdk::ToUtf16(utf8Path));
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) {
    throw sdk::ServiceError(SL_NOT_FOUND, utf8Path + ": no such archive");
  }
  if (std::filesystem::is_directory(status)) {
    throw sdk::ServiceError(SL_ACCESS_DENIED, utf8Path + ": a folder, not an archive");
  }
  int code = ZIP_ER_OK;
  errno = 0;
  // Stricter checks compare every member's local header with the index: a truncated or
  // patched archive fails here rather than at its first read.
  zip_t* archive = zip_open(utf8Path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
  if (archive == nullptr) {
    const int systemError = errno;
    throw sdk::ServiceError(OpenCode(code),
                            utf8Path + ": cannot open the archive (libzip: " +
                                LibzipText(code, code == ZIP_ER_OPEN ? systemError : 0) + ")");
  }
  sdk::Ref<ZipFileSystem> fs = sdk::Ref<ZipFileSystem>::Adopt(new ZipFileSystem(nameAtom, archive));
  try {
    fs->Index();
  } catch (const sdk::ServiceError& failure) {
    throw sdk::ServiceError(failure.code(), utf8Path + ": " + failure.what());
  }
  return fs;
}

// Reads the archive's index into the tree of keys. Names come from libzip already in UTF-8:
// names flagged UTF-8 as they are (libzip refuses the archive when one is not), names without
// the flag as UTF-8 when they are valid UTF-8, else converted from code page 437.
void ZipFileSystem::Index() {
  nodes_[u"/"] = Node{};
  const zip_int64_t count = zip_get_num_entries(archive_, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS, &stat) != 0 ||
        (stat.valid & ZIP_STAT_NAME) == 0) {
      throw sdk::ServiceError(SL_INVALID_ARGUMENT, "member " + std::to_string(i) +
                                                       " cannot be read from the index (libzip: " +
                                                       zip_strerror(archive_) + ")");
    }
    const std::u16string name = sdk::ToUtf16(stat.name);
    const std::optional<std::u16string> key = sdk::paths::Key(name);
    if (!key) {
      throw sdk::ServiceError(SL_INVALID_ARGUMENT, std::string("member \"") + stat.name +
                                                       "\" climbs out of the archive with ..");
    }
    Node node;
    node.name = stat.name;
    node.folder = !name.empty() && IsSeparator(name.back());
    if (!node.folder) {
      node.index = static_cast<uint64_t>(i);
      node.size = (stat.valid & ZIP_STAT_SIZE) != 0 ? stat.size : 0;
      node.stored =
          (stat.valid & ZIP_STAT_COMP_METHOD) != 0 && stat.comp_method == ZIP_CM_STORE &&
          ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) == 0 || stat.encryption_method == ZIP_EM_NONE);
    }
    // Every folder on the way exists; none of them may be a file.
    for (size_t slash = key->find(u'/', 1); slash != std::u16string::npos;
         slash = key->find(u'/', slash + 1)) {
      if (!nodes_[key->substr(0, slash)].folder) {
        throw sdk::ServiceError(SL_INVALID_ARGUMENT,
                                std::string("member \"") + stat.name + "\" lies inside a file");
      }
    }
    const auto [found, added] = nodes_.emplace(*key, node);
    if (!added && !(found->second.folder && node.folder)) {
      throw sdk::ServiceError(SL_INVALID_ARGUMENT,
                              std::string("member \"") + stat.name + "\" names an entry twice");
    }
  }
}

ZipFileSystem::~ZipFileSystem() {
  for (auto& [id, handle] : handles_) {
    if (handle->file != nullptr) zip_fclose(handle->file);
  }
  zip_discard(archive_);  // opened read-only: nothing to write back
}

SLResult ZipFileSystem::KeyOf(std::u16string_view path, std::u16string* key) {
  for (size_t i = 0; i < path.size(); ++i) {
    const char16_t c = path[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < path.size() && path[i + 1] >= 0xDC00 &&
        path[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return Fail(SL_INVALID_ARGUMENT, "the path is not valid UTF-16 (a lone surrogate)");
    }
  }
  std::optional<std::u16string> normal = sdk::paths::Key(path);
  if (!normal) return Fail(SL_INVALID_ARGUMENT, "the path climbs above the archive's root");
  *key = std::move(*normal);
  return SL_OK;
}

const ZipFileSystem::Node* ZipFileSystem::Find(const std::u16string& key) const {
  const auto found = nodes_.find(key);
  return found != nodes_.end() ? &found->second : nullptr;
}

SLResult ZipFileSystem::ReadOnly(std::u16string_view path) {
  std::u16string key;
  const SLResult code = KeyOf(path, &key);
  return SL_FAILED(code) ? code : Fail(SL_ACCESS_DENIED, "the archive is read-only");
}

SLResult ZipFileSystem::WriteFile(SLFileHandle, const void*, uint64_t, uint64_t*) {
  return Fail(SL_ACCESS_DENIED, "the archive is read-only");
}

ZipFileSystem::Handle* ZipFileSystem::HandleOf(SLFileHandle file) {
  const auto found = handles_.find(reinterpret_cast<uintptr_t>(file));
  return found != handles_.end() ? found->second.get() : nullptr;
}

SLResult ZipFileSystem::OpenFile(std::u16string_view path, sdk::OpenMode mode, SLFileHandle* file) {
  std::u16string key;
  if (const SLResult code = KeyOf(path, &key); SL_FAILED(code)) return code;
  if (mode != sdk::OpenMode::Read) return Fail(SL_ACCESS_DENIED, "the archive is read-only");
  const Node* node = Find(key);
  if (node == nullptr) return Fail(SL_NOT_FOUND, "no such member: " + sdk::ToUtf8(key));
  if (node->folder) return Fail(SL_ACCESS_DENIED, "a folder: " + sdk::ToUtf8(key));
  auto handle = std::make_unique<Handle>();
  handle->node = node;
  std::lock_guard<std::mutex> guard(lock_);
  // Opened now so that an encrypted or unreadable member fails here, not at the first read.
  handle->file = zip_fopen_index(archive_, node->index, 0);
  if (handle->file == nullptr) {
    const int code = zip_error_code_zip(zip_get_error(archive_));
    const std::string why = node->name + " (libzip: " + zip_strerror(archive_) + ")";
    zip_error_clear(archive_);
    if (code == ZIP_ER_NOPASSWD || code == ZIP_ER_WRONGPASSWD) {
      return Fail(SL_ACCESS_DENIED, "an encrypted member: " + why);
    }
    return Fail(SL_OS_FAILURE, "cannot open the member " + why);
  }
  const uintptr_t id = nextHandle_++;
  handles_[id] = std::move(handle);
  *file = reinterpret_cast<SLFileHandle>(id);
  return SL_OK;
}

SLResult ZipFileSystem::CloseFile(SLFileHandle file) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = handles_.find(reinterpret_cast<uintptr_t>(file));
  if (found == handles_.end()) return Fail(SL_OS_FAILURE, "bad handle");
  if (found->second->file != nullptr) zip_fclose(found->second->file);
  handles_.erase(found);
  return SL_OK;
}

SLResult ZipFileSystem::FileFailure(Handle& handle, const char* doing) {
  const zip_error_t* error = zip_file_get_error(handle.file);
  const bool checksum = zip_error_code_zip(error) == ZIP_ER_CRC;
  const std::string why = zip_file_strerror(handle.file);
  // The next read starts afresh from the member's beginning and meets the same fault.
  zip_fclose(handle.file);
  handle.file = nullptr;
  handle.at = 0;
  if (checksum) {
    return Fail(SL_OS_FAILURE, "the member " + handle.node->name +
                                   " fails its checksum (CRC-32): its data is damaged");
  }
  return Fail(SL_OS_FAILURE,
              std::string(doing) + " the member " + handle.node->name + " (libzip: " + why + ")");
}

SLResult ZipFileSystem::MoveTo(Handle& handle, uint64_t target) {
  if (handle.file != nullptr && handle.at == target) return SL_OK;
  if (handle.file != nullptr && handle.node->stored &&
      zip_fseek(handle.file, static_cast<zip_int64_t>(target), SEEK_SET) == 0) {
    handle.at = target;
    return SL_OK;
  }
  if (handle.file == nullptr || target < handle.at) {
    if (handle.file != nullptr) zip_fclose(handle.file);
    handle.file = zip_fopen_index(archive_, handle.node->index, 0);
    handle.at = 0;
    if (handle.file == nullptr) {
      const std::string why = zip_strerror(archive_);
      zip_error_clear(archive_);
      return Fail(SL_OS_FAILURE,
                  "cannot reopen the member " + handle.node->name + " (libzip: " + why + ")");
    }
  }
  char skipped[16384];
  while (handle.at < target) {
    const zip_int64_t n =
        zip_fread(handle.file, skipped, std::min<uint64_t>(sizeof(skipped), target - handle.at));
    if (n < 0) return FileFailure(handle, "skipping in");
    if (n == 0) break;  // shorter than its index says: the read that follows finds the end
    handle.at += static_cast<uint64_t>(n);
  }
  return SL_OK;
}

SLResult ZipFileSystem::ReadMember(Handle& handle, char* buffer, uint64_t size, uint64_t* done) {
  if (const SLResult code = MoveTo(handle, handle.position); SL_FAILED(code)) return code;
  const uint64_t wanted = std::min(size, handle.node->size - handle.position);
  const zip_int64_t n = zip_fread(handle.file, buffer, wanted);
  if (n < 0) return FileFailure(handle, "reading");
  // libzip compares the checksum when it meets the end of the data: a read that reaches the
  // member's end asks for one byte more, so that a damaged member fails here.
  char beyond = 0;
  if (static_cast<uint64_t>(n) == wanted && handle.position + wanted == handle.node->size &&
      zip_fread(handle.file, &beyond, 1) != 0) {
    return FileFailure(handle, "reading the end of");
  }
  handle.at += static_cast<uint64_t>(n);
  *done = static_cast<uint64_t>(n);
  return SL_OK;
}

SLResult ZipFileSystem::ReadFile(SLFileHandle file, void* buffer, uint64_t size, uint64_t* done) {
  constexpr uint64_t kAhead = 64 * 1024;
  std::lock_guard<std::mutex> guard(lock_);
  Handle* handle = HandleOf(file);
  if (handle == nullptr) return Fail(SL_OS_FAILURE, "bad handle");
  if (handle->position >= handle->node->size) {
    *done = 0;
    return SL_OK;
  }
  const bool buffered = handle->position >= handle->aheadAt &&
                        handle->position < handle->aheadAt + handle->ahead.size();
  if (!buffered && size >= kAhead) {
    if (const SLResult code = ReadMember(*handle, static_cast<char*>(buffer), size, done);
        SL_FAILED(code)) {
      return code;
    }
    handle->position += *done;
    return SL_OK;
  }
  if (!buffered) {
    handle->ahead.resize(kAhead);
    uint64_t filled = 0;
    const SLResult code = ReadMember(*handle, handle->ahead.data(), kAhead, &filled);
    handle->ahead.resize(SL_FAILED(code) ? 0 : static_cast<size_t>(filled));
    handle->aheadAt = handle->position;
    if (SL_FAILED(code)) return code;
  }
  const uint64_t offset = handle->position - handle->aheadAt;
  *done = std::min<uint64_t>(size, handle->ahead.size() - offset);
  std::memcpy(buffer, handle->ahead.data() + offset, static_cast<size_t>(*done));
  handle->position += *done;
  return SL_OK;
}

SLResult ZipFileSystem::GetFilePos(SLFileHandle file, uint64_t* position) {
  std::lock_guard<std::mutex> guard(lock_);
  Handle* handle = HandleOf(file);
  if (handle == nullptr) return Fail(SL_OS_FAILURE, "bad handle");
  *position = handle->position;
  return SL_OK;
}

SLResult ZipFileSystem::SetFilePos(SLFileHandle file, int64_t position) {
  std::lock_guard<std::mutex> guard(lock_);
  Handle* handle = HandleOf(file);
  if (handle == nullptr) return Fail(SL_OS_FAILURE, "bad handle");
  if (position < 0) return Fail(SL_OS_FAILURE, "a negative position");
  handle->position = static_cast<uint64_t>(position);  // the next read moves the member there
  return SL_OK;
}

SLResult ZipFileSystem::GetFileSize(SLFileHandle file, uint64_t* size) {
  std::lock_guard<std::mutex> guard(lock_);
  Handle* handle = HandleOf(file);
  if (handle == nullptr) return Fail(SL_OS_FAILURE, "bad handle");
  *size = handle->node->size;
  return SL_OK;
}

SLResult ZipFileSystem::IsFileExists(std::u16string_view path, bool* exists) {
  std::u16string key;
  if (const SLResult code = KeyOf(path, &key); SL_FAILED(code)) return code;
  *exists = Find(key) != nullptr;
  return SL_OK;
}

// The immediate children of the pattern's folder whose names match its last part, files and
// folders, in name order, after "." and ".." where the pattern matches them. Every folder lists
// those two as a folder of the default file system does, so an empty one is still a folder that
// a search can look into; the archive's root lists them too, since an archive is always seen
// below some name and an empty archive is an empty folder, not a missing one.
SLResult ZipFileSystem::Search(std::u16string_view pattern, std::vector<std::u16string>* names) {
  if (!pattern.empty() && IsSeparator(pattern.back())) {
    return Fail(SL_INVALID_ARGUMENT, "a pattern that ends in a separator names no entry");
  }
  std::u16string key;
  if (const SLResult code = KeyOf(pattern, &key); SL_FAILED(code)) return code;
  if (key == u"/") return Fail(SL_INVALID_ARGUMENT, "an empty pattern");
  const std::u16string folder = sdk::paths::ParentOf(key);
  const std::u16string wanted = key.substr(key.rfind(u'/') + 1);
  const Node* parent = Find(folder);
  if (parent == nullptr || !parent->folder) return Fail(SL_INVALID_ARGUMENT, "no such folder");
  for (const char16_t* dots : {u".", u".."}) {
    if (sdk::paths::Matches(wanted, dots)) names->push_back(dots);
  }
  const std::u16string prefix = folder == u"/" ? folder : folder + u"/";
  for (auto it = nodes_.upper_bound(prefix); it != nodes_.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    const std::u16string name = it->first.substr(prefix.size());
    if (name.find(u'/') == std::u16string::npos && sdk::paths::Matches(wanted, name)) {
      names->push_back(name);
    }
  }
  return SL_OK;
}

}  // namespace sl::archive
