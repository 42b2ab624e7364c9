// The factory of the "StreamService" class.
#pragma once

#include "runtime/service_object_ptr.h"
#include "slservices/sl_object.h"

namespace sl::stream {

// A new stream service; the pointer holds its one reference.
SODetails::BasicServiceObjectPtr<ServiceObject> CreateStreamService();

}  // namespace sl::stream
