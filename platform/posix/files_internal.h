// Pieces shared by the POSIX emulation of the file functions: the last error, path conversion,
// errno translation and the table of open handles.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace sl::platform::posix {

static_assert(sizeof(off_t) == 8, "file positions must be 64-bit");

// Sets the calling thread's last error (errors.cpp).
void SetError(uint32_t error);
// The same, returning false so that failure paths read `return Fail(...)`.
inline bool Fail(uint32_t error) {
  SetError(error);
  return false;
}

// The attributes Windows would report for a file: DIRECTORY for folders, READONLY for files whose
// owner write bit is clear, NORMAL for every other file.
uint32_t AttributesOf(const struct stat& st);

// The status of an entry, `path` taken relative to the folder `folder` (AT_FDCWD: the current
// one): what a symbolic link points to, or the link itself when it leads nowhere (a dangling
// link or a loop). One rule for every call that asks whether an entry exists and what it is, so
// that they all agree with what a listing shows. 0, or the errno of the first stat.
int StatEntry(int folder, const char* path, struct stat* st);

// The Win32 error for an errno value, for the failures that need no look at the path.
uint32_t ErrorFromErrno(int err);

// A UTF-16 path turned into the path handed to the system. Conversion follows the way Windows
// reads a path:
//   - '\' and '/' both separate components; repeated separators count as one;
//   - "." components are dropped and ".." removes the component before it, by text alone
//     (so "a/missing/../b" is "a/b" even though "missing" does not exist);
//   - trailing dots and spaces are dropped from the last component ("name." is "name");
//   - '<', '>', '"', '|', '?', '*' and control characters are not allowed in names
//     (ERROR_INVALID_NAME); for a search pattern, '*' and '?' are allowed in the last component;
//   - an unpaired surrogate cannot be written as UTF-8 and is refused as ERROR_INVALID_NAME.
// ':' is allowed: it has no special meaning here (Windows reads it as a drive or stream mark).
// Characters U+F000-U+F0FF stand for single bytes of a name (name_mapping.h): "a\uF02E" is the
// file "a.", which no stripping touches. U+F000 and U+F02F (NUL and '/') and a name whose bytes
// would read "." or ".." without being those are refused as ERROR_INVALID_NAME.
// Ordinary paths are converted into an inline buffer; only longer ones use the heap.
class NativePath {
 public:
  // kUnmatchable: a search pattern whose last component holds a character no name can have.
  enum class Status { kOk, kEmpty, kInvalidName, kUnmatchable, kNoMemory };

  NativePath() = default;
  NativePath(const NativePath&) = delete;
  NativePath& operator=(const NativePath&) = delete;

  // `allowWildcards`: the path is a search pattern ('*' and '?' allowed in its last component).
  Status Assign(const char16_t* path, bool allowWildcards = false);

  const char* c_str() const { return data_; }
  char* data() { return data_; }
  size_t size() const { return size_; }
  // The path as given ended with a separator (which the converted path no longer has, unless it
  // is the root itself).
  bool trailingSeparator() const { return trailingSeparator_; }
  // Offset of the last component (0 when there is no separator). Empty for "/".
  size_t lastComponentOffset() const;
  // The last component as the caller wrote it, trailing dots and spaces dropped: a search
  // pattern's wildcards, which the system path cannot tell from the bytes '*' and '?'. Points
  // into the string given to Assign.
  const char16_t* lastName() const { return lastName_; }
  size_t lastNameLength() const { return lastNameLength_; }

  // ERROR_FILE_NOT_FOUND when the folder that should hold the last component exists, otherwise
  // ERROR_PATH_NOT_FOUND: what Windows reports for a missing file or a missing folder on the way.
  uint32_t MissingError();

 private:
  bool Reserve(size_t bytes);
  void Normalize();

  static constexpr size_t kInlineSize = 1024;
  char inline_[kInlineSize];
  std::unique_ptr<char[]> heap_;
  char* data_ = inline_;
  size_t size_ = 0;
  bool trailingSeparator_ = false;
  const char16_t* lastName_ = u"";
  size_t lastNameLength_ = 0;
};

// The error a call reports when a path could not be converted; `emptyError` is what that call
// gives for an empty path.
uint32_t ErrorFromStatus(NativePath::Status status, uint32_t emptyError);

// Access bits kept for an open handle.
inline constexpr uint32_t kAccessRead = 1;
inline constexpr uint32_t kAccessWrite = 2;
inline constexpr uint32_t kAccessDelete = 4;

struct FileIdentity {
  dev_t device;
  ino_t inode;
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
};

// What a file handle points to (and what a claim records, with fd -1).
struct OpenFile {
  int fd;
  FileIdentity identity;
  uint32_t access;  // kAccess* bits
  uint32_t share;   // kFileShare* bits
  // A position past what the file system can seek to (ext4 stops at 16 TiB), which Windows
  // accepts: kept here instead of in the descriptor, -1 while the descriptor holds the position.
  std::atomic<int64_t> farPosition{-1};
  // The next record of the same file in the share table (share_table.cpp owns it).
  OpenFile* nextOfFile = nullptr;
};

// The process-wide record of open handles and of the sharing they allow (share_table.cpp).
// Each member takes the table's lock for its own table work and gives it back before it returns,
// so no caller can hold it across a system call: an open, read, write, flush or close that
// blocks (a FIFO without its other end, a hung mount, a device) holds up no other file's work.
class ShareTable {
 public:
  ShareTable(const ShareTable&) = delete;
  ShareTable& operator=(const ShareTable&) = delete;

  static ShareTable& Instance();
  // Frees the table when no handle, search or claim is recorded (run at unload).
  static void FreeIfUnused();

  enum class Admission { kAdmitted, kSharingViolation, kNoMemory };

  // Registers a file handle if its access and sharing are compatible with every handle and
  // claim on the same file, as Windows decides; the check and the record are one step.
  Admission Add(OpenFile* file);
  // Unregisters a live file handle and returns it; nullptr if `handle` is not a live one.
  // Counts the removal.
  OpenFile* Take(void* handle);

  // What a lookup of a live handle gives: its descriptor, access and record, and the removal
  // count at the time of the lookup.
  struct Lookup {
    int fd;
    uint32_t access;
    OpenFile* file;
    uint64_t removals;
  };
  bool Find(void* handle, Lookup* found);

  // A claim is a record that takes part in the sharing rule without being a handle: DeleteFileW
  // holds one (delete access, sharing everything) while it unlinks, so that no open that refuses
  // to share delete access slips in between its check and the unlink.
  Admission Claim(OpenFile* claim);
  void Unclaim(OpenFile* claim);

  // How many handles of `handle`'s shard have been removed so far. Read without the lock: a
  // handle found live while the count stood at n is still live while it reads n (acquire),
  // since its removal, and the removal before any reuse of its address, bump that count. That
  // lets a thread keep its last lookup (files.cpp) instead of locking again.
  uint64_t Removals(const void* handle);

  // Search handles only need to be told apart from anything else.
  bool AddSearch(void* search);
  bool RemoveSearch(void* search);
  bool IsSearch(void* search);

 private:
  struct Shard;
  static constexpr unsigned kShardBits = 4;
  static constexpr size_t kShards = size_t{1} << kShardBits;

  ShareTable();
  ~ShareTable();
  Shard& ShardOf(const FileIdentity& identity);
  Shard& ShardOf(const void* handle);
  Admission Admit(OpenFile* file, bool asHandle);
  // Drops `file` from its file's records.
  void Forget(OpenFile* file);

  // Each shard's lock guards that shard alone, and only for the few lookups and inserts of one
  // table operation.
  std::unique_ptr<Shard[]> shards_;
};

}  // namespace sl::platform::posix
