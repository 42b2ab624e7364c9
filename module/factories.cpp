#include "module/factories.h"

#include "filesystem/factory.h"
#include "stream/factory.h"

namespace sl::module {

ServiceFactory FileSystemServiceFactory() { return &sl::filesystem::CreateFileSystemService; }
ServiceFactory StreamServiceFactory() { return &sl::stream::CreateStreamService; }

}  // namespace sl::module
