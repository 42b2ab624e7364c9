#include "filesystem/default_file_system.h"

#include <algorithm>
#include <mutex>

#include "filesystem/os_error.h"
#include "platform/files.h"
#include "runtime/atoms.h"

namespace os = sl::platform;
using sl::filesystem::TranslateLastOsError;

namespace {

// The atom of "Default", shared by every default file system of the process and fetched once.
uint32_t g_nameAtom = SL_UNRESOLVED_ATOM;
std::once_flag g_nameAtomOnce;

constexpr uint32_t kReadWriteAccess = os::kGenericRead | os::kGenericWrite;

// The most bytes one OS read or write is asked for when a request does not fit in 32 bits:
// 2 GiB, a power of two under the 32-bit limit, so every call but the last moves an aligned block.
constexpr uint64_t kLargeTransferChunk = 0x80000000u;

// One OS call is asked for at most 0xFFFFFFFF bytes. A request that fits in 32 bits is handed
// over in exactly one call, and a short count is not continued. A larger request is split into
// calls of kLargeTransferChunk bytes each (a 32-bit count would silently drop its high bits);
// the split stops at the first short count or failure. `done` receives every byte moved, also
// on failure.
template <class Byte, class OsTransfer>
SLResult TransferBytes(OsTransfer transfer, SLFileHandle file, Byte* buffer, uint64_t size,
                       uint64_t* done) {
  const uint64_t chunk = size <= UINT32_MAX ? size : kLargeTransferChunk;
  uint64_t total = 0;
  SLResult result = SL_OK;
  while (total < size) {
    const uint32_t request = static_cast<uint32_t>(std::min(chunk, size - total));
    uint32_t moved = 0;
    const bool succeeded = transfer(file, buffer + total, request, &moved);
    total += moved;
    if (!succeeded) {
      result = TranslateLastOsError();
      break;
    }
    if (moved < request) break;
  }
  if (done != nullptr) *done = total;
  return result;
}

// A position or size comes back as a low half (the result) plus a high half. A low half of
// 0xFFFFFFFF is also a valid value: it is a failure only when the last error is not 0.
static_assert(os::kInvalidSetFilePointer == os::kInvalidFileSize, "one failure value");
bool LowHalfFailed(uint32_t low) {
  return low == os::kInvalidSetFilePointer && os::GetLastError() != os::kErrorSuccess;
}

uint64_t Join(uint32_t high, uint32_t low) { return (uint64_t{high} << 32) | low; }

}  // namespace

SLResult SLFileSystemImpl::GetFileSystemName(uint32_t* atom) {
  if (atom == nullptr) return SL_INVALID_ARGUMENT;
  std::call_once(g_nameAtomOnce, [] {
    g_nameAtom = SL_UNRESOLVED_ATOM;
    // Whatever the atom library leaves in the slot stays, unresolved included.
    SODetails::GetAtomFromString("Default", &g_nameAtom);
  });
  *atom = g_nameAtom;
  return SL_OK;
}

SLResult SLFileSystemImpl::CreateFolder(const SLChar16* path) {
  if (path == nullptr) return SL_INVALID_ARGUMENT;
  if (!os::CreateDirectoryW(path)) return TranslateLastOsError();
  return SL_OK;
}

SLResult SLFileSystemImpl::CreateAllFolders(const SLChar16* path) {
  if (path == nullptr) return SL_INVALID_ARGUMENT;
  // Any non-zero return is a failure, an existing folder included; the code comes from the last
  // error, not from the returned value.
  if (os::SHCreateDirectoryExW(path) != 0) return TranslateLastOsError();
  return SL_OK;
}

SLResult SLFileSystemImpl::RemoveFolder(const SLChar16* path) {
  if (path == nullptr) return SL_INVALID_ARGUMENT;
  if (!os::RemoveDirectoryW(path)) return TranslateLastOsError();
  return SL_OK;
}

SLResult SLFileSystemImpl::OpenFile(const SLChar16* path, uint32_t mode, SLFileHandle* file) {
  if (path == nullptr || file == nullptr) return SL_INVALID_ARGUMENT;
  // The mode bits are looked at in the order create, write, read; the first present decides.
  uint32_t access = 0;
  uint32_t share = 0;
  uint32_t disposition = 0;
  if ((mode & SL_OPEN_CREATE) != 0) {
    access = kReadWriteAccess;
    share = 0;
    disposition = os::kCreateAlways;
  } else if ((mode & SL_OPEN_WRITE) != 0) {
    const uint32_t attributes = os::GetFileAttributesW(path);
    if (attributes != os::kInvalidFileAttributes &&
        (attributes & os::kFileAttributeReadonly) != 0) {
      return SL_ACCESS_DENIED;
    }
    access = kReadWriteAccess;
    share = 0;
    disposition = os::kOpenExisting;
  } else if ((mode & SL_OPEN_READ) != 0) {
    access = os::kGenericRead;
    share = os::kFileShareRead | os::kFileShareDelete;
    disposition = os::kOpenExisting;
  } else {
    return SL_INVALID_ARGUMENT;
  }
  const os::FileHandle handle = os::CreateFileW(path, access, share, disposition);
  if (handle == os::InvalidHandle()) return TranslateLastOsError();
  *file = handle;
  return SL_OK;
}

SLResult SLFileSystemImpl::CloseFile(SLFileHandle file) {
  if (file == nullptr) return SL_INVALID_ARGUMENT;
  if (!os::CloseHandle(file)) return TranslateLastOsError();
  return SL_OK;
}

SLResult SLFileSystemImpl::IsFileExists(const SLChar16* path, uint8_t* exists) {
  if (path == nullptr || exists == nullptr) return SL_INVALID_ARGUMENT;
  // Files and folders alike exist; any failure to read the attributes means "does not exist".
  *exists = os::GetFileAttributesW(path) != os::kInvalidFileAttributes ? 1 : 0;
  return SL_OK;
}

SLResult SLFileSystemImpl::ReadFile(SLFileHandle file, void* buffer, uint64_t size,
                                    uint64_t* done) {
  if (file == nullptr || buffer == nullptr || size == 0) return SL_INVALID_ARGUMENT;
  return TransferBytes(&os::ReadFile, file, static_cast<char*>(buffer), size, done);
}

SLResult SLFileSystemImpl::WriteFile(SLFileHandle file, const void* buffer, uint64_t size,
                                     uint64_t* done) {
  if (file == nullptr || buffer == nullptr || size == 0) return SL_INVALID_ARGUMENT;
  return TransferBytes(&os::WriteFile, file, static_cast<const char*>(buffer), size, done);
}

SLResult SLFileSystemImpl::FlushFile(SLFileHandle file) {
  if (file == nullptr) return SL_INVALID_ARGUMENT;
  if (!os::FlushFileBuffers(file)) return TranslateLastOsError();
  return SL_OK;
}

SLResult SLFileSystemImpl::GetFilePos(SLFileHandle file, uint64_t* position) {
  if (file == nullptr || position == nullptr) return SL_INVALID_ARGUMENT;
  int32_t high = 0;
  const uint32_t low = os::SetFilePointer(file, 0, &high, os::kFileCurrent);
  if (LowHalfFailed(low)) return TranslateLastOsError();
  *position = Join(static_cast<uint32_t>(high), low);
  return SL_OK;
}

SLResult SLFileSystemImpl::SetFilePos(SLFileHandle file, int64_t position) {
  if (file == nullptr) return SL_INVALID_ARGUMENT;
  // Bits 32 to 63 go in the high half, so a negative position reaches the OS as negative.
  const uint64_t bits = static_cast<uint64_t>(position);
  int32_t high = static_cast<int32_t>(static_cast<uint32_t>(bits >> 32));
  const int32_t low = static_cast<int32_t>(static_cast<uint32_t>(bits));
  if (LowHalfFailed(os::SetFilePointer(file, low, &high, os::kFileBegin))) {
    return TranslateLastOsError();
  }
  return SL_OK;
}

SLResult SLFileSystemImpl::GetFileSize(SLFileHandle file, uint64_t* size) {
  if (file == nullptr || size == nullptr) return SL_INVALID_ARGUMENT;
  uint32_t high = 0;
  const uint32_t low = os::GetFileSize(file, &high);
  if (LowHalfFailed(low)) return TranslateLastOsError();
  *size = Join(high, low);
  return SL_OK;
}

SLResult SLFileSystemImpl::RemoveFile(const SLChar16* path) {
  if (path == nullptr) return SL_INVALID_ARGUMENT;
  if (!os::DeleteFileW(path)) return TranslateLastOsError();
  return SL_OK;
}

// The default file system maps no paths: neither entry looks at its arguments.
SLResult SLFileSystemImpl::MakeDIPathFromPath(const SLChar16*, SLChar16*, uint64_t) {
  return SL_NOT_DONE;
}

SLResult SLFileSystemImpl::MakePathFromDIPath(const SLChar16*, SLChar16*, uint64_t) {
  return SL_NOT_DONE;
}

namespace sl::filesystem {

SLFileSystem* CreateDefaultFileSystem() { return SODetails::MakeServiceObject<SLFileSystemImpl>(); }

}  // namespace sl::filesystem
