// The whole host SDK: loading the module, references, errors, text, streams, the services'
// C++ faces, and the base for file systems written in C++ with its in-memory example.
#ifndef SLSERVICES_SDK_SDK_HPP_
#define SLSERVICES_SDK_SDK_HPP_

#include "slservices/sdk/error.hpp"
#include "slservices/sdk/file_system.hpp"
#include "slservices/sdk/memory_file_system.hpp"
#include "slservices/sdk/module.hpp"
#include "slservices/sdk/ref.hpp"
#include "slservices/sdk/services.hpp"
#include "slservices/sdk/stream.hpp"
#include "slservices/sdk/text.hpp"

#endif  // SLSERVICES_SDK_SDK_HPP_
