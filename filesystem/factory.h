// The factory of the "FileSystemService" class.
#pragma once

#include "runtime/service_object_ptr.h"
#include "slservices/sl_object.h"

namespace sl::filesystem {

// A new file-system service with its default file system; the pointer holds its one reference.
SODetails::BasicServiceObjectPtr<ServiceObject> CreateFileSystemService();

}  // namespace sl::filesystem
