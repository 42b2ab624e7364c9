// The calling thread's last error, and the Win32 error for each errno value and each path that
// could not be converted: what the emulated file functions report through GetLastError.
#include <errno.h>

#include "platform/files.h"
#include "platform/posix/files_internal.h"

namespace sl::platform {
namespace {
// In the static TLS block, as all of the module's thread-local state (-ftls-model, CMakeLists.txt).
thread_local uint32_t tLastError = kErrorSuccess;
}  // namespace

uint32_t GetLastError() { return tLastError; }

void SetLastError(uint32_t error) { tLastError = error; }

}  // namespace sl::platform

namespace sl::platform::posix {

void SetError(uint32_t error) { tLastError = error; }

uint32_t ErrorFromStatus(NativePath::Status status, uint32_t emptyError) {
  switch (status) {
    case NativePath::Status::kOk:
      return kErrorSuccess;
    case NativePath::Status::kEmpty:
      return emptyError;
    case NativePath::Status::kInvalidName:
      return kErrorInvalidName;
    case NativePath::Status::kUnmatchable:
      return kErrorFileNotFound;
    case NativePath::Status::kNoMemory:
      return kErrorNotEnoughMemory;
  }
  return kErrorInvalidParameter;
}

uint32_t ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;
    case EROFS:
      return kErrorWriteProtect;
    case EEXIST:
      return kErrorAlreadyExists;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case EBADF:
      return kErrorInvalidHandle;
    case EINVAL:
    case EOVERFLOW:
      return kErrorInvalidParameter;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case ELOOP:
      return kErrorCantResolveFilename;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrorDiskFull;
    case EBUSY:
    case ETXTBSY:
      return kErrorSharingViolation;
    default:
      return kErrorGenFailure;
  }
}

}  // namespace sl::platform::posix
