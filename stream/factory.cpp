#include "stream/factory.h"

#include "stream/stream_service.h"

namespace sl::stream {

SODetails::BasicServiceObjectPtr<ServiceObject> CreateStreamService() {
  return SODetails::BasicServiceObjectPtr<ServiceObject>::Adopt(
      reinterpret_cast<ServiceObject*>(SODetails::MakeServiceObject<SLStreamServiceImpl>()));
}

}  // namespace sl::stream
