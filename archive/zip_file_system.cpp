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
  CloseOpenFiles();       // their libzip files go before the archive
  zip_discard(archive_);  // opened read-only: nothing to write back
}

SLResult ZipFileSystem::KeyOf(std::u16string_view path, std::u16string* key) {
  if (!sdk::paths::IsUtf16(path)) {
    return Fail(SL_INVALID_ARGUMENT, "the path is not valid UTF-16 (a lone surrogate)");
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

// An open member: its own libzip file, read under the file system's lock.
class ZipFileSystem::Member final : public sdk::FileBase {
 public:
  Member(ZipFileSystem& fs, const Node& node) : fs_(fs), node_(node) {}
  ~Member() override {
    std::lock_guard<std::mutex> guard(fs_.lock_);
    if (file_ != nullptr) zip_fclose(file_);
  }
  // Opened at once, so that an encrypted or unreadable member fails at OpenFile, not at the
  // first read.
  SLResult Start();
  SLResult Read(uint64_t offset, void* buffer, uint64_t size, uint64_t* done) override;
  SLResult Write(uint64_t, const void*, uint64_t, uint64_t*) override {
    return Fail(SL_ACCESS_DENIED, "the archive is read-only");
  }
  SLResult Size(uint64_t* size) override {
    *size = node_.size;
    return SL_OK;
  }

 private:
  // Puts the libzip file at `target`: seeks where libzip can, else reopens (only when going
  // back) and reads forward.
  SLResult MoveTo(uint64_t target);
  SLResult FileFailure(const char* doing);
  // Reads up to `size` bytes at `offset` straight from libzip into `buffer`.
  SLResult ReadMember(uint64_t offset, char* buffer, uint64_t size, uint64_t* done);

  ZipFileSystem& fs_;
  const Node& node_;
  zip_file* file_ = nullptr;  // null after a failed read: the next one reopens the member
  uint64_t at_ = 0;           // where `file_` stands
  // Small reads are served from one larger read of libzip: each libzip read passes through
  // several layers (checksum, inflate, the archive file), so fewer and larger reads are
  // cheaper. `ahead_` holds the member's bytes from `aheadAt_` on.
  std::vector<char> ahead_;
  uint64_t aheadAt_ = 0;
};

SLResult ZipFileSystem::OpenFile(std::u16string_view path, sdk::OpenMode mode,
                                 std::unique_ptr<sdk::FileBase>* file) {
  std::u16string key;
  if (const SLResult code = KeyOf(path, &key); SL_FAILED(code)) return code;
  if (mode != sdk::OpenMode::Read) return Fail(SL_ACCESS_DENIED, "the archive is read-only");
  const Node* node = Find(key);
  if (node == nullptr) return Fail(SL_NOT_FOUND, "no such member: " + sdk::ToUtf8(key));
  if (node->folder) return Fail(SL_ACCESS_DENIED, "a folder: " + sdk::ToUtf8(key));
  auto member = std::make_unique<Member>(*this, *node);
  if (const SLResult code = member->Start(); SL_FAILED(code)) return code;
  *file = std::move(member);
  return SL_OK;
}

SLResult ZipFileSystem::Member::Start() {
  std::lock_guard<std::mutex> guard(fs_.lock_);
  file_ = zip_fopen_index(fs_.archive_, node_.index, 0);
  if (file_ != nullptr) return SL_OK;
  const int code = zip_error_code_zip(zip_get_error(fs_.archive_));
  const std::string why = node_.name + " (libzip: " + zip_strerror(fs_.archive_) + ")";
  zip_error_clear(fs_.archive_);
  if (code == ZIP_ER_NOPASSWD || code == ZIP_ER_WRONGPASSWD) {
    return Fail(SL_ACCESS_DENIED, "an encrypted member: " + why);
  }
  return Fail(SL_OS_FAILURE, "cannot open the member " + why);
}

SLResult ZipFileSystem::Member::FileFailure(const char* doing) {
  const zip_error_t* error = zip_file_get_error(file_);
  const bool checksum = zip_error_code_zip(error) == ZIP_ER_CRC;
  const std::string why = zip_file_strerror(file_);
  // The next read starts afresh from the member's beginning and meets the same fault.
  zip_fclose(file_);
  file_ = nullptr;
  at_ = 0;
  if (checksum) {
    return Fail(SL_OS_FAILURE,
                "the member " + node_.name + " fails its checksum (CRC-32): its data is damaged");
  }
  return Fail(SL_OS_FAILURE,
              std::string(doing) + " the member " + node_.name + " (libzip: " + why + ")");
}

SLResult ZipFileSystem::Member::MoveTo(uint64_t target) {
  if (file_ != nullptr && at_ == target) return SL_OK;
  if (file_ != nullptr && node_.stored &&
      zip_fseek(file_, static_cast<zip_int64_t>(target), SEEK_SET) == 0) {
    at_ = target;
    return SL_OK;
  }
  if (file_ == nullptr || target < at_) {
    if (file_ != nullptr) zip_fclose(file_);
    file_ = zip_fopen_index(fs_.archive_, node_.index, 0);
    at_ = 0;
    if (file_ == nullptr) {
      const std::string why = zip_strerror(fs_.archive_);
      zip_error_clear(fs_.archive_);
      return Fail(SL_OS_FAILURE,
                  "cannot reopen the member " + node_.name + " (libzip: " + why + ")");
    }
  }
  char skipped[16384];
  while (at_ < target) {
    const zip_int64_t n =
        zip_fread(file_, skipped, std::min<uint64_t>(sizeof(skipped), target - at_));
    if (n < 0) return FileFailure("skipping in");
    if (n == 0) break;  // shorter than its index says: the read that follows finds the end
    at_ += static_cast<uint64_t>(n);
  }
  return SL_OK;
}

SLResult ZipFileSystem::Member::ReadMember(uint64_t offset, char* buffer, uint64_t size,
                                           uint64_t* done) {
  if (const SLResult code = MoveTo(offset); SL_FAILED(code)) return code;
  const uint64_t wanted = std::min(size, node_.size - offset);
  const zip_int64_t n = zip_fread(file_, buffer, wanted);
  if (n < 0) return FileFailure("reading");
  // libzip compares the checksum when it meets the end of the data: a read that reaches the
  // member's end asks for one byte more, so that a damaged member fails here.
  char beyond = 0;
  if (static_cast<uint64_t>(n) == wanted && offset + wanted == node_.size &&
      zip_fread(file_, &beyond, 1) != 0) {
    return FileFailure("reading the end of");
  }
  at_ += static_cast<uint64_t>(n);
  *done = static_cast<uint64_t>(n);
  return SL_OK;
}

SLResult ZipFileSystem::Member::Read(uint64_t offset, void* buffer, uint64_t size, uint64_t* done) {
  constexpr uint64_t kAhead = 64 * 1024;
  if (offset >= node_.size) {
    *done = 0;
    return SL_OK;
  }
  std::lock_guard<std::mutex> guard(fs_.lock_);
  const bool buffered = offset >= aheadAt_ && offset < aheadAt_ + ahead_.size();
  if (!buffered && size >= kAhead) {
    return ReadMember(offset, static_cast<char*>(buffer), size, done);
  }
  if (!buffered) {
    ahead_.resize(kAhead);
    uint64_t filled = 0;
    const SLResult code = ReadMember(offset, ahead_.data(), kAhead, &filled);
    ahead_.resize(SL_FAILED(code) ? 0 : static_cast<size_t>(filled));
    aheadAt_ = offset;
    if (SL_FAILED(code)) return code;
  }
  const uint64_t skip = offset - aheadAt_;
  *done = std::min<uint64_t>(size, ahead_.size() - skip);
  std::memcpy(buffer, ahead_.data() + skip, static_cast<size_t>(*done));
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
