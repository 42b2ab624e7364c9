#include "fs_test_support.h"

#include "common/temp_directory.h"
#include "platform/files.h"

namespace os = sl::platform;

namespace fstest {
namespace {

ServiceObject* AsObject(const void* object) {
  return static_cast<ServiceObject*>(const_cast<void*>(object));
}

void RemoveTree(const std::u16string& folder) {
  os::FindData data;
  const os::FindHandle search = os::FindFirstFileW((folder + u"\\*").c_str(), &data);
  if (search != os::InvalidHandle()) {
    do {
      const std::u16string name = data.fileName, path = folder + u"\\" + name;
      if (name == u"." || name == u"..") continue;
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

}  // namespace

TempFolder::TempFolder() : path_(sltest::MakeTempFolder("slfs").u16string()) {}

TempFolder::~TempFolder() { RemoveTree(path_); }

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

}  // namespace fstest
