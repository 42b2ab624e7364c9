#include "filesystem/factory.h"

#include "filesystem/file_system_service.h"

namespace sl::filesystem {

SODetails::BasicServiceObjectPtr<ServiceObject> CreateFileSystemService() {
  return SODetails::BasicServiceObjectPtr<ServiceObject>::Adopt(
      reinterpret_cast<ServiceObject*>(CreateFileSystemServiceObject()));
}

}  // namespace sl::filesystem
