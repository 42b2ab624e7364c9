// The only link between the class registry and the services: one factory per class. An empty
// factory makes CreateServiceObject answer 22 for its class.
#pragma once

#include "module/class_registry.h"

namespace sl::module {

ServiceFactory FileSystemServiceFactory();
ServiceFactory StreamServiceFactory();

}  // namespace sl::module
