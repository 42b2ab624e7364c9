// The calling thread's last error: the system's own.
#include <windows.h>

#include "platform/files.h"

namespace sl::platform {

uint32_t GetLastError() { return ::GetLastError(); }

void SetLastError(uint32_t error) { ::SetLastError(error); }

}  // namespace sl::platform
