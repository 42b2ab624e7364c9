// The file functions the default file system is built on. They carry the names, arguments and
// results of the Win32 calls they stand for: on Windows each one is the system call itself, on
// other systems an emulation that answers as Windows does (same return values, same error
// codes through GetLastError).
//
// Paths are NUL-terminated UTF-16. Both '/' and '\' separate components.
#pragma once

#include <cstdint>
#include <string>

namespace sl::platform {

// Opaque handles. A successful open never returns nullptr nor InvalidHandle().
using FileHandle = void*;
using FindHandle = void*;

// The value failed opens return (INVALID_HANDLE_VALUE).
inline void* InvalidHandle() { return reinterpret_cast<void*>(~uintptr_t{0}); }

// One directory entry. fileName is NUL-terminated and at most 259 units long.
struct FindData {
  uint32_t fileAttributes;
  char16_t fileName[260];
};

// Access rights.
inline constexpr uint32_t kGenericRead = 0x80000000;
inline constexpr uint32_t kGenericWrite = 0x40000000;

// Share modes.
inline constexpr uint32_t kFileShareRead = 1;
inline constexpr uint32_t kFileShareWrite = 2;
inline constexpr uint32_t kFileShareDelete = 4;

// Creation dispositions.
inline constexpr uint32_t kCreateNew = 1;
inline constexpr uint32_t kCreateAlways = 2;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kOpenAlways = 4;
inline constexpr uint32_t kTruncateExisting = 5;

// Move methods.
inline constexpr uint32_t kFileBegin = 0;
inline constexpr uint32_t kFileCurrent = 1;
inline constexpr uint32_t kFileEnd = 2;

// Failure values.
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
inline constexpr uint32_t kInvalidSetFilePointer = 0xFFFFFFFF;
inline constexpr uint32_t kInvalidFileSize = 0xFFFFFFFF;

// Attributes.
inline constexpr uint32_t kFileAttributeReadonly = 0x1;
inline constexpr uint32_t kFileAttributeHidden = 0x2;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeArchive = 0x20;
inline constexpr uint32_t kFileAttributeNormal = 0x80;

// Error codes.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorNoMoreFiles = 18;
inline constexpr uint32_t kErrorWriteProtect = 19;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorHandleEof = 38;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorNegativeSeek = 131;
inline constexpr uint32_t kErrorDirNotEmpty = 145;
inline constexpr uint32_t kErrorBadPathname = 161;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorFilenameExcedRange = 206;
inline constexpr uint32_t kErrorDirectory = 267;
inline constexpr uint32_t kErrorCantResolveFilename = 1921;

// Folders. No security attributes.
bool CreateDirectoryW(const char16_t* path);
bool RemoveDirectoryW(const char16_t* path);

// Opens or creates a file, with flags and attributes 0 and no template. Returns InvalidHandle()
// on failure. Success leaves the last error at kErrorAlreadyExists when kCreateAlways or
// kOpenAlways found the file there, and at 0 otherwise.
FileHandle CreateFileW(const char16_t* path, uint32_t desiredAccess, uint32_t shareMode,
                       uint32_t creationDisposition);
bool CloseHandle(FileHandle h);

// kInvalidFileAttributes on failure. Only the read-only and normal attributes can be set.
uint32_t GetFileAttributesW(const char16_t* path);
bool SetFileAttributesW(const char16_t* path, uint32_t attributes);

// `read` / `written` receive the count moved; a read at end of file succeeds with 0.
bool ReadFile(FileHandle h, void* buffer, uint32_t toRead, uint32_t* read);
bool WriteFile(FileHandle h, const void* buffer, uint32_t toWrite, uint32_t* written);
bool FlushFileBuffers(FileHandle h);

// 64-bit positions split in two 32-bit halves: the low half is returned, the high half goes in
// and out through distanceHigh (when it is null the distance is the sign-extended low half).
// kInvalidSetFilePointer is also a valid low half; the last error (0 on success) tells.
uint32_t SetFilePointer(FileHandle h, int32_t distanceLow, int32_t* distanceHigh,
                        uint32_t moveMethod);
// Same protocol: kInvalidFileSize with last error 0 is a size whose low half is 0xFFFFFFFF.
uint32_t GetFileSize(FileHandle h, uint32_t* sizeHigh);

bool DeleteFileW(const char16_t* path);

// What a search fills in beside each name. The attributes cost the POSIX emulation a stat per
// name that is not a folder, so a caller that wants the names alone says so; fileAttributes is
// then 0 there (Windows fills it in either way).
enum class FindFields { kNameAndAttributes, kNameOnly };

// Wildcards '*' and '?' are allowed in the last component only. InvalidHandle() on failure.
// FindNextFileW fills in what FindFirstFileW was asked for.
FindHandle FindFirstFileW(const char16_t* pattern, FindData* data,
                          FindFields fields = FindFields::kNameAndAttributes);
bool FindNextFileW(FindHandle h, FindData* data);
bool FindClose(FindHandle h);

// The calling thread's last error.
uint32_t GetLastError();
void SetLastError(uint32_t error);

// Creates a folder and every missing folder above it; the path must be absolute. No owner
// window, no security attributes. Returns the error code (0 on success); a failure also leaves
// it as the last error.
int32_t SHCreateDirectoryExW(const char16_t* path);

}  // namespace sl::platform
