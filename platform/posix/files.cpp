// The file functions on POSIX systems: each call answers as its Windows namesake does, with the
// same results and the same error codes.
//
// Read-only: Windows' read-only attribute is the owner write bit here. It is enforced by this
// layer, not left to the system, so that it holds for root too: opening such a file for writing,
// overwriting it and deleting it fail with ERROR_ACCESS_DENIED.
//
// DeleteFileW removes the name at once, also while handles that share delete access are open
// (they go on reading and writing the data). Windows may keep the name, unusable, until the last
// of them is closed.
//
// Names are compared as the underlying file system compares them, which on Linux means case
// matters ("a.txt" and "A.TXT" are two files) where Windows would find one file under either
// name. Wildcard searches follow the same rule, so that a search finds exactly what an open of
// that name would.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform/files.h"
#include "platform/posix/files_internal.h"

namespace sl::platform::posix {

uint32_t AttributesOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return kFileAttributeDirectory;
  return (st.st_mode & S_IWUSR) ? kFileAttributeNormal : kFileAttributeReadonly;
}

int StatEntry(int folder, const char* path, struct stat* st) {
  if (::fstatat(folder, path, st, 0) == 0) return 0;
  const int err = errno;
  // Only a link that leads nowhere is taken as itself; a missing folder on the way, or no
  // permission to look, stays the failure it is.
  if ((err == ENOENT || err == ELOOP) && ::fstatat(folder, path, st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st->st_mode)) {
    return 0;
  }
  return err;
}

namespace {

// Access rights beyond the generic ones that a caller may pass.
constexpr uint32_t kFileReadData = 0x1;
constexpr uint32_t kFileWriteData = 0x2;
constexpr uint32_t kFileAppendData = 0x4;
constexpr uint32_t kDelete = 0x10000;
constexpr uint32_t kGenericAll = 0x10000000;
constexpr uint32_t kShareAll = kFileShareRead | kFileShareWrite | kFileShareDelete;

uint32_t AccessBits(uint32_t desired) {
  uint32_t bits = 0;
  if (desired & (kGenericRead | kGenericAll | kFileReadData)) bits |= kAccessRead;
  if (desired & (kGenericWrite | kGenericAll | kFileWriteData | kFileAppendData)) {
    bits |= kAccessWrite;
  }
  if (desired & (kDelete | kGenericAll)) bits |= kAccessDelete;
  return bits;
}

bool IsReadOnlyFile(const struct stat& st) {
  return !S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR);
}

bool Convert(NativePath& native, const char16_t* path, uint32_t emptyError) {
  const NativePath::Status status = native.Assign(path);
  return status == NativePath::Status::kOk || Fail(ErrorFromStatus(status, emptyError));
}

// The error for a failed system call on `native`, telling a missing file from a missing folder.
uint32_t PathError(NativePath& native, int err) {
  return err == ENOENT ? native.MissingError() : ErrorFromErrno(err);
}

// CreateFileW and DeleteFileW on "name\": a folder is refused as any folder is, anything else
// is not a valid file name.
uint32_t TrailingSeparatorError(NativePath& native, bool forDelete) {
  struct stat st;
  if (::stat(native.c_str(), &st) == 0) {
    return S_ISDIR(st.st_mode) ? kErrorAccessDenied : kErrorInvalidName;
  }
  const int err = errno;
  if (err != ENOENT) return ErrorFromErrno(err);
  const uint32_t missing = native.MissingError();
  return forDelete || missing == kErrorPathNotFound ? missing : kErrorInvalidName;
}

using HandleInfo = ShareTable::Lookup;

// The calling thread's last successful lookup. It stays good while no handle has been removed
// since: a removal (a close) bumps the table's count, and a closed handle's address may come
// back for a new handle only after such a removal. So a stream of reads or writes on one handle
// takes the table lock once, not once per call.
struct LastLookup {
  FileHandle handle = nullptr;
  HandleInfo info{-1, 0, nullptr, 0};
};
thread_local LastLookup tLastLookup;

bool Lookup(FileHandle h, HandleInfo* info) {
  if (h == nullptr || h == InvalidHandle()) return Fail(kErrorInvalidHandle);
  LastLookup& last = tLastLookup;
  ShareTable& table = ShareTable::Instance();
  if (h == last.handle && last.info.removals == table.Removals(h)) {
    *info = last.info;
    return true;
  }
  if (!table.Find(h, info)) return Fail(kErrorInvalidHandle);
  last = {h, *info};
  return true;
}

// A handle just opened is its thread's likeliest next lookup. The count is read while the
// handle is live and known to nobody else, so no removal of it can have come before.
void RememberNew(ShareTable& table, OpenFile* file) {
  tLastLookup = {file, {file->fd, file->access, file, table.Removals(file)}};
}

int OpenRetryingInterrupts(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace
}  // namespace sl::platform::posix

namespace sl::platform {

using posix::Fail;
using posix::NativePath;
using posix::ShareTable;

bool CreateDirectoryW(const char16_t* path) {
  NativePath native;
  if (!posix::Convert(native, path, kErrorPathNotFound)) return false;
  if (::mkdir(native.c_str(), 0777) == 0) return true;
  // mkdir reports a missing parent as ENOENT: that is always a missing folder on the way.
  return Fail(errno == ENOENT ? kErrorPathNotFound : posix::ErrorFromErrno(errno));
}

bool RemoveDirectoryW(const char16_t* path) {
  NativePath native;
  if (!posix::Convert(native, path, kErrorInvalidName)) return false;
  if (::rmdir(native.c_str()) == 0) return true;
  const int err = errno;
  switch (err) {
    case ENOTEMPTY:
    case EEXIST:
      return Fail(kErrorDirNotEmpty);
    case ENOTDIR: {
      // Either the path names a file (ERROR_DIRECTORY) or a file stands on the way.
      struct stat st;
      if (::lstat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        return Fail(native.trailingSeparator() ? kErrorInvalidName : kErrorDirectory);
      }
      return Fail(kErrorPathNotFound);
    }
    default:
      return Fail(posix::PathError(native, err));
  }
}

FileHandle CreateFileW(const char16_t* path, uint32_t desiredAccess, uint32_t shareMode,
                       uint32_t creationDisposition) {
  if (creationDisposition < kCreateNew || creationDisposition > kTruncateExisting) {
    Fail(kErrorInvalidParameter);
    return InvalidHandle();
  }
  NativePath native;
  if (!posix::Convert(native, path, kErrorPathNotFound)) return InvalidHandle();
  if (native.trailingSeparator()) {
    Fail(posix::TrailingSeparatorError(native, false));
    return InvalidHandle();
  }

  const uint32_t access = posix::AccessBits(desiredAccess);
  const uint32_t share = shareMode & posix::kShareAll;
  const bool truncate =
      creationDisposition == kCreateAlways || creationDisposition == kTruncateExisting;
  const bool creates = creationDisposition == kCreateNew || creationDisposition == kCreateAlways ||
                       creationDisposition == kOpenAlways;
  const bool needsWrite = (access & posix::kAccessWrite) || truncate;
  int flags = O_CLOEXEC | O_NOCTTY;
  if (needsWrite) {
    flags |= (access & posix::kAccessRead) ? O_RDWR : O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }

  // The open comes first and takes no lock: it may wait as long as the system lets it (a FIFO
  // until its other end opens, a hung mount). The sharing check follows, with the record of
  // the new handle in the same step; an open that the check refuses is closed again. An open
  // has no effect on the file that needs undoing, except a creation: a file this call created
  // stays when another handle already holds it, as it would had that handle created it.
  int fd = -1;
  bool existed = true;
  bool created = false;  // by this call, for certain
  if (creates) {
    fd = posix::OpenRetryingInterrupts(native.c_str(), flags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
      existed = false;
      created = true;
    } else if (errno != EEXIST) {
      Fail(posix::PathError(native, errno));
      return InvalidHandle();
    } else if (creationDisposition == kCreateNew) {
      Fail(kErrorFileExists);
      return InvalidHandle();
    }
  }
  if (fd < 0) fd = posix::OpenRetryingInterrupts(native.c_str(), flags, 0);
  if (fd < 0 && creates && errno == ENOENT) {
    // The name is there but leads nowhere: a symbolic link whose target is missing (or a file
    // removed between the two opens). Creating through a link creates its target, as open(2)
    // and Windows do.
    fd = posix::OpenRetryingInterrupts(native.c_str(), flags | O_CREAT, 0666);
    existed = false;
  }
  if (fd < 0) {
    Fail(posix::PathError(native, errno));
    return InvalidHandle();
  }

  auto failAndClose = [&](uint32_t error) {
    ::close(fd);
    Fail(error);
    return InvalidHandle();
  };
  struct stat st;
  if (::fstat(fd, &st) != 0) return failAndClose(posix::ErrorFromErrno(errno));
  if (S_ISDIR(st.st_mode)) return failAndClose(kErrorAccessDenied);
  if (existed && needsWrite && posix::IsReadOnlyFile(st)) {
    return failAndClose(kErrorAccessDenied);
  }
  auto* file = new (std::nothrow)
      posix::OpenFile{fd, posix::FileIdentity{st.st_dev, st.st_ino}, access, share};
  if (file == nullptr) {
    if (created) ::unlink(native.c_str());
    return failAndClose(kErrorNotEnoughMemory);
  }
  ShareTable& table = ShareTable::Instance();
  const ShareTable::Admission admission = table.Add(file);
  if (admission != ShareTable::Admission::kAdmitted) {
    delete file;
    if (admission == ShareTable::Admission::kSharingViolation) {
      return failAndClose(kErrorSharingViolation);
    }
    if (created) ::unlink(native.c_str());
    return failAndClose(kErrorNotEnoughMemory);
  }

  // Cut to length only once the handle has won its sharing check.
  if (truncate && existed && st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
    const uint32_t error = posix::ErrorFromErrno(errno);
    table.Take(file);
    delete file;
    return failAndClose(error);
  }
  const bool reportsExisting =
      existed && (creationDisposition == kCreateAlways || creationDisposition == kOpenAlways);
  posix::RememberNew(table, file);
  posix::SetError(reportsExisting ? kErrorAlreadyExists : kErrorSuccess);
  return file;
}

bool CloseHandle(FileHandle h) {
  if (h == nullptr || h == InvalidHandle()) return Fail(kErrorInvalidHandle);
  posix::OpenFile* file = ShareTable::Instance().Take(h);
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  // No retry on EINTR: the descriptor is released whatever close reports.
  ::close(file->fd);
  delete file;
  return true;
}

uint32_t GetFileAttributesW(const char16_t* path) {
  NativePath native;
  if (!posix::Convert(native, path, kErrorPathNotFound)) return kInvalidFileAttributes;
  // A dangling link or a loop is an entry of its own, as a listing shows it.
  struct stat st;
  const int err = posix::StatEntry(AT_FDCWD, native.c_str(), &st);
  if (err != 0) {
    Fail(posix::PathError(native, err));
    return kInvalidFileAttributes;
  }
  if (native.trailingSeparator() && !S_ISDIR(st.st_mode)) {
    Fail(kErrorPathNotFound);
    return kInvalidFileAttributes;
  }
  return posix::AttributesOf(st);
}

bool SetFileAttributesW(const char16_t* path, uint32_t attributes) {
  NativePath native;
  if (!posix::Convert(native, path, kErrorPathNotFound)) return false;
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return Fail(posix::PathError(native, errno));
  if (native.trailingSeparator() && !S_ISDIR(st.st_mode)) return Fail(kErrorPathNotFound);
  // Folders keep their permissions: a folder without write permission would refuse new files
  // on POSIX, which a read-only folder on Windows does not.
  if (S_ISDIR(st.st_mode)) return true;
  const mode_t mode = st.st_mode & 07777;
  const mode_t wanted = (attributes & kFileAttributeReadonly)
                            ? (mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH))
                            : (mode | S_IWUSR);
  if (wanted != mode && ::chmod(native.c_str(), wanted) != 0) {
    return Fail(posix::PathError(native, errno));
  }
  return true;
}

// ReadFile and WriteFile make one system call each, as their Windows namesakes do: a short
// count comes back as it came (a pipe or a terminal delivers what it holds), and the caller asks
// again when it wants more. Only an interrupted call is made again.
bool ReadFile(FileHandle h, void* buffer, uint32_t toRead, uint32_t* read) {
  if (read != nullptr) *read = 0;
  posix::HandleInfo info;
  if (!posix::Lookup(h, &info)) return false;
  if (!(info.access & posix::kAccessRead)) return Fail(kErrorAccessDenied);
  if (buffer == nullptr && toRead != 0) return Fail(kErrorInvalidParameter);
  // Past what the file system can hold there is nothing to read.
  if (toRead == 0 || info.file->farPosition.load() >= 0) return true;
  ssize_t n;
  do {
    n = ::read(info.fd, buffer, toRead);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Fail(posix::ErrorFromErrno(errno));
  if (read != nullptr) *read = static_cast<uint32_t>(n);
  return true;
}

bool WriteFile(FileHandle h, const void* buffer, uint32_t toWrite, uint32_t* written) {
  if (written != nullptr) *written = 0;
  posix::HandleInfo info;
  if (!posix::Lookup(h, &info)) return false;
  if (!(info.access & posix::kAccessWrite)) return Fail(kErrorAccessDenied);
  if (buffer == nullptr && toWrite != 0) return Fail(kErrorInvalidParameter);
  if (toWrite == 0) return true;
  // At a far position the system is asked to write there; it refuses (EFBIG, disk full).
  const int64_t far = info.file->farPosition.load();
  ssize_t n;
  do {
    n = far < 0 ? ::write(info.fd, buffer, toWrite) : ::pwrite(info.fd, buffer, toWrite, far);
  } while (n < 0 && errno == EINTR);
  // A write that takes nothing and reports no error has no room left: a full disk, as Windows
  // says it (a caller that continues short writes would otherwise ask for ever).
  if (n <= 0) return Fail(n == 0 ? kErrorDiskFull : posix::ErrorFromErrno(errno));
  if (far >= 0) info.file->farPosition.store(far + n);
  if (written != nullptr) *written = static_cast<uint32_t>(n);
  return true;
}

bool FlushFileBuffers(FileHandle h) {
  posix::HandleInfo info;
  if (!posix::Lookup(h, &info)) return false;
  // Windows refuses to flush a handle that cannot write.
  if (!(info.access & posix::kAccessWrite)) return Fail(kErrorAccessDenied);
  while (::fsync(info.fd) != 0) {
    if (errno == EINTR) continue;
    // A FIFO, a socket or a character device holds nothing to write to a disk: the system says
    // EINVAL (or EROFS) and Windows' FlushFileBuffers succeeds on a pipe. EIO, ENOSPC and
    // EDQUOT are data that did not reach the disk, and stay failures.
    if (errno == EINVAL || errno == EROFS) return true;
    return Fail(posix::ErrorFromErrno(errno));
  }
  return true;
}

uint32_t SetFilePointer(FileHandle h, int32_t distanceLow, int32_t* distanceHigh,
                        uint32_t moveMethod) {
  posix::HandleInfo info;
  if (!posix::Lookup(h, &info)) return kInvalidSetFilePointer;
  if (moveMethod > kFileEnd) {
    Fail(kErrorInvalidParameter);
    return kInvalidSetFilePointer;
  }
  const int64_t distance =
      distanceHigh == nullptr
          ? int64_t{distanceLow}
          : static_cast<int64_t>(
                (static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                static_cast<uint32_t>(distanceLow));
  int64_t origin = 0;
  if (moveMethod == kFileCurrent) {
    origin = info.file->farPosition.load();
    if (origin < 0) origin = ::lseek(info.fd, 0, SEEK_CUR);
  } else if (moveMethod == kFileEnd) {
    struct stat st;
    origin = ::fstat(info.fd, &st) == 0 ? st.st_size : -1;
  }
  if (origin < 0) {
    Fail(posix::ErrorFromErrno(errno));
    return kInvalidSetFilePointer;
  }
  int64_t target;
  if (__builtin_add_overflow(origin, distance, &target)) {
    Fail(kErrorInvalidParameter);
    return kInvalidSetFilePointer;
  }
  if (target < 0) {
    Fail(kErrorNegativeSeek);
    return kInvalidSetFilePointer;
  }
  // Without a high half the caller could not read the result back.
  if (distanceHigh == nullptr && target > int64_t{0xFFFFFFFF}) {
    Fail(kErrorInvalidParameter);
    return kInvalidSetFilePointer;
  }
  if (::lseek(info.fd, target, SEEK_SET) >= 0) {
    info.file->farPosition.store(-1);
  } else if (errno == EINVAL) {
    // Past the largest file this file system can hold: Windows takes any position that is not
    // negative, so the handle keeps it (reads there find the end, writes fail as the system says).
    info.file->farPosition.store(target);
  } else {
    Fail(posix::ErrorFromErrno(errno));
    return kInvalidSetFilePointer;
  }
  if (distanceHigh != nullptr) *distanceHigh = static_cast<int32_t>(target >> 32);
  const auto low = static_cast<uint32_t>(target);
  if (low == kInvalidSetFilePointer) posix::SetError(kErrorSuccess);
  return low;
}

uint32_t GetFileSize(FileHandle h, uint32_t* sizeHigh) {
  posix::HandleInfo info;
  if (!posix::Lookup(h, &info)) return kInvalidFileSize;
  struct stat st;
  if (::fstat(info.fd, &st) != 0) {
    Fail(posix::ErrorFromErrno(errno));
    return kInvalidFileSize;
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<uint32_t>(size >> 32);
  const auto low = static_cast<uint32_t>(size);
  if (low == kInvalidFileSize) posix::SetError(kErrorSuccess);
  return low;
}

bool DeleteFileW(const char16_t* path) {
  NativePath native;
  if (!posix::Convert(native, path, kErrorPathNotFound)) return false;
  if (native.trailingSeparator()) return Fail(posix::TrailingSeparatorError(native, true));
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0) return Fail(posix::PathError(native, errno));
  if (S_ISDIR(st.st_mode)) return Fail(kErrorAccessDenied);
  if (S_ISREG(st.st_mode) && posix::IsReadOnlyFile(st)) return Fail(kErrorAccessDenied);
  // Deleting opens the file for delete access while sharing everything: the claim stands for
  // that open until the name is gone, and the unlink itself runs without the table's lock.
  posix::OpenFile claim{-1, {st.st_dev, st.st_ino}, posix::kAccessDelete, posix::kShareAll};
  ShareTable& table = ShareTable::Instance();
  switch (table.Claim(&claim)) {
    case ShareTable::Admission::kAdmitted:
      break;
    case ShareTable::Admission::kSharingViolation:
      return Fail(kErrorSharingViolation);
    case ShareTable::Admission::kNoMemory:
      return Fail(kErrorNotEnoughMemory);
  }
  const bool unlinked = ::unlink(native.c_str()) == 0;
  const int err = errno;
  table.Unclaim(&claim);
  return unlinked || Fail(posix::PathError(native, err));
}

int32_t SHCreateDirectoryExW(const char16_t* path) {
  auto result = [](uint32_t error) {
    posix::SetError(error);
    return static_cast<int32_t>(error);
  };
  if (path == nullptr || (path[0] != u'/' && path[0] != u'\\')) return result(kErrorBadPathname);
  NativePath native;
  const NativePath::Status status = native.Assign(path);
  if (status != NativePath::Status::kOk) {
    return result(posix::ErrorFromStatus(status, kErrorBadPathname));
  }
  if (::mkdir(native.c_str(), 0777) == 0) return result(kErrorSuccess);
  if (errno == EEXIST) return result(kErrorAlreadyExists);
  if (errno != ENOENT) return result(posix::ErrorFromErrno(errno));
  // Create the missing folders from the top down. One that appears meanwhile is fine; a file
  // on the way makes the next mkdir fail with ENOTDIR.
  char* const text = native.data();
  for (size_t i = 1; i < native.size(); ++i) {
    if (text[i] != '/') continue;
    text[i] = '\0';
    const int made = ::mkdir(text, 0777);
    const int err = errno;
    text[i] = '/';
    if (made != 0 && err != EEXIST) {
      return result(err == ENOENT ? kErrorPathNotFound : posix::ErrorFromErrno(err));
    }
  }
  if (::mkdir(native.c_str(), 0777) == 0) return result(kErrorSuccess);
  return result(errno == EEXIST ? kErrorAlreadyExists : posix::ErrorFromErrno(errno));
}

}  // namespace sl::platform
