#include "stream/factory.h"

namespace sl::stream {

// Not built yet: the class answers 22.
SODetails::BasicServiceObjectPtr<ServiceObject> CreateStreamService() { return nullptr; }

}  // namespace sl::stream
