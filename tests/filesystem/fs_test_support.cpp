#include "fs_test_support.h"

#include <atomic>
#include <chrono>

#include "platform/files.h"
#include "platform/thread.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace os = sl::platform;

namespace fstest {
namespace {

std::u16string Digits(uint64_t value) {
  std::u16string text;
  do {
    text.insert(text.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return text;
}

ServiceObject* AsObject(const void* object) {
  return static_cast<ServiceObject*>(const_cast<void*>(object));
}

}  // namespace

TempFolder::TempFolder() {
  static std::atomic<uint32_t> serial{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = os::TempDirectory() + u"slfs-" + Digits(os::CurrentThreadId()) + u"-" +
          Digits(static_cast<uint64_t>(ticks)) + u"-" + Digits(serial++);
  os::CreateDirectoryW(path_.c_str());
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void RemoveTree(const std::u16string& folder) {
  os::FindData data;
  const os::FindHandle search = os::FindFirstFileW((folder + u"\\*").c_str(), &data);
  if (search != os::InvalidHandle()) {
    do {
      const std::u16string name = data.fileName;
      if (name == u"." || name == u"..") continue;
      const std::u16string path = folder + u"\\" + name;
      if ((data.fileAttributes & os::kFileAttributeDirectory) != 0) {
        RemoveTree(path);
      } else {
        os::SetFileAttributesW(path.c_str(), os::kFileAttributeNormal);
        os::DeleteFileW(path.c_str());
      }
    } while (os::FindNextFileW(search, &data));
    os::FindClose(search);
  }
  os::RemoveDirectoryW(folder.c_str());
}

Failure LastFailure(const void* object) {
  SLErrorInfo info{};
  Failure failure;
  failure.status = AsObject(object)->header.GetErrorInfo(AsObject(object), &info, 0);
  failure.code = info.code;
  failure.line = info.line;
  if (info.message != nullptr) failure.message = info.message;
  if (info.functionName != nullptr) failure.functionName = info.functionName;
  if (info.sourceFile != nullptr) failure.sourceFile = info.sourceFile;
  return failure;
}

uint32_t RefCount(const void* object) {
  return AsObject(object)->header.GetRefCount(AsObject(object));
}

uint32_t Release(const void* object) { return AsObject(object)->header.Release(AsObject(object)); }

uint32_t AtomOf(const char* name) {
  uint32_t atom = SL_UNRESOLVED_ATOM;
  SLGetAtomFromString(name, &atom);
  return atom;
}

void* ReserveLargeBuffer(uint64_t size) {
#ifdef _WIN32
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
  void* buffer = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return buffer == MAP_FAILED ? nullptr : buffer;
#endif
}

void FreeLargeBuffer(void* buffer, uint64_t size) {
#ifdef _WIN32
  (void)size;
  VirtualFree(buffer, 0, MEM_RELEASE);
#else
  munmap(buffer, size);
#endif
}

}  // namespace fstest
