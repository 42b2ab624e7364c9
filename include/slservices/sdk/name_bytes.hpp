// How names of a system whose names are bytes are spelt in UTF-16, as the SDK names it: the
// neutral core's rules (slservices/core/name_bytes.hpp), the same the module's POSIX layer uses.
#ifndef SLSERVICES_SDK_NAME_BYTES_HPP_
#define SLSERVICES_SDK_NAME_BYTES_HPP_

#include "slservices/core/name_bytes.hpp"

namespace sl::sdk {
namespace name_bytes = ::sl::core::name_bytes;
}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_NAME_BYTES_HPP_
