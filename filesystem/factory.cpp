#include "filesystem/factory.h"

namespace sl::filesystem {

// Not built yet: the class answers 22.
SODetails::BasicServiceObjectPtr<ServiceObject> CreateFileSystemService() { return nullptr; }

}  // namespace sl::filesystem
