// The object protocol behind every table's base entries, as the SDK names it: the neutral core
// that the module's own objects and host objects share (slservices/core/object_core.hpp).
#ifndef SLSERVICES_SDK_PROTOCOL_HPP_
#define SLSERVICES_SDK_PROTOCOL_HPP_

#include "slservices/core/object_core.hpp"

namespace sl::sdk {
namespace protocol = ::sl::core;
}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_PROTOCOL_HPP_
