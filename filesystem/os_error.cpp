#include "filesystem/os_error.h"

#include "platform/files.h"

namespace sl::filesystem {

SLResult TranslateOsError(uint32_t error) {
  namespace os = sl::platform;
  switch (error) {
    case os::kErrorSuccess:
      return SL_OK;
    case os::kErrorFileNotFound:
      return SL_NOT_FOUND;
    case os::kErrorAccessDenied:
      return SL_ACCESS_DENIED;
    case os::kErrorInvalidParameter:
      return SL_INVALID_ARGUMENT;
    case os::kErrorAlreadyExists:
      return SL_ALREADY_EXISTS;
    default:
      // A missing folder on the way, a sharing violation, a folder that is not empty, a
      // negative seek... are not told apart.
      return SL_OS_FAILURE;
  }
}

SLResult TranslateLastOsError() { return TranslateOsError(sl::platform::GetLastError()); }

}  // namespace sl::filesystem
