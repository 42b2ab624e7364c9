// The file functions on Windows: each one is the system call of the same name.
#include "platform/files.h"

#include <shlobj.h>
#include <windows.h>

#include <cstring>

namespace sl::platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 paths are passed through as they are");
static_assert(sizeof(DWORD) == sizeof(uint32_t) && sizeof(LONG) == sizeof(int32_t),
              "32-bit values are passed through as they are");

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

void Copy(const WIN32_FIND_DATAW& from, FindData* to) {
  to->fileAttributes = from.dwFileAttributes;
  static_assert(sizeof(to->fileName) == sizeof(from.cFileName), "same name buffer");
  std::memcpy(to->fileName, from.cFileName, sizeof(to->fileName));
}

}  // namespace

bool CreateDirectoryW(const char16_t* path) { return ::CreateDirectoryW(Wide(path), nullptr); }

bool RemoveDirectoryW(const char16_t* path) { return ::RemoveDirectoryW(Wide(path)); }

FileHandle CreateFileW(const char16_t* path, uint32_t desiredAccess, uint32_t shareMode,
                       uint32_t creationDisposition) {
  return ::CreateFileW(Wide(path), desiredAccess, shareMode, nullptr, creationDisposition, 0,
                       nullptr);
}

bool CloseHandle(FileHandle h) { return ::CloseHandle(h); }

uint32_t GetFileAttributesW(const char16_t* path) { return ::GetFileAttributesW(Wide(path)); }

bool SetFileAttributesW(const char16_t* path, uint32_t attributes) {
  return ::SetFileAttributesW(Wide(path), attributes);
}

bool ReadFile(FileHandle h, void* buffer, uint32_t toRead, uint32_t* read) {
  DWORD count = 0;
  const BOOL ok = ::ReadFile(h, buffer, toRead, &count, nullptr);
  if (read != nullptr) *read = count;
  return ok;
}

bool WriteFile(FileHandle h, const void* buffer, uint32_t toWrite, uint32_t* written) {
  DWORD count = 0;
  const BOOL ok = ::WriteFile(h, buffer, toWrite, &count, nullptr);
  if (written != nullptr) *written = count;
  return ok;
}

bool FlushFileBuffers(FileHandle h) { return ::FlushFileBuffers(h); }

uint32_t SetFilePointer(FileHandle h, int32_t distanceLow, int32_t* distanceHigh,
                        uint32_t moveMethod) {
  if (distanceHigh == nullptr) return ::SetFilePointer(h, distanceLow, nullptr, moveMethod);
  LONG high = *distanceHigh;
  const DWORD low = ::SetFilePointer(h, distanceLow, &high, moveMethod);
  *distanceHigh = high;
  return low;
}

uint32_t GetFileSize(FileHandle h, uint32_t* sizeHigh) {
  if (sizeHigh == nullptr) return ::GetFileSize(h, nullptr);
  DWORD high = *sizeHigh;
  const DWORD low = ::GetFileSize(h, &high);
  *sizeHigh = high;
  return low;
}

bool DeleteFileW(const char16_t* path) { return ::DeleteFileW(Wide(path)); }

FindHandle FindFirstFileW(const char16_t* pattern, FindData* data, FindFields) {
  WIN32_FIND_DATAW found;
  const HANDLE h = ::FindFirstFileW(Wide(pattern), &found);
  if (h != INVALID_HANDLE_VALUE) Copy(found, data);
  return h;
}

bool FindNextFileW(FindHandle h, FindData* data) {
  WIN32_FIND_DATAW found;
  if (!::FindNextFileW(h, &found)) return false;
  Copy(found, data);
  return true;
}

bool FindClose(FindHandle h) { return ::FindClose(h); }

int32_t SHCreateDirectoryExW(const char16_t* path) {
  return ::SHCreateDirectoryExW(nullptr, Wide(path), nullptr);
}

}  // namespace sl::platform
