// The whole host SDK: loading the module, references, errors, text, streams, the services'
// C++ faces, the base for file systems written in C++ with its in-memory example, zip archives
// and remote folders over SFTP as file systems (ZipArchives, SftpConnections; both libraries are
// built on Linux only). The conformance kit for file systems is test tooling beside the SDK:
// slservices/testing/.
#ifndef SLSERVICES_SDK_SDK_HPP_
#define SLSERVICES_SDK_SDK_HPP_

#include "slservices/sdk/error.hpp"
#include "slservices/sdk/file_system.hpp"
#include "slservices/sdk/memory_file_system.hpp"
#include "slservices/sdk/module.hpp"
#include "slservices/sdk/ref.hpp"
#include "slservices/sdk/services.hpp"
#include "slservices/sdk/sftp.hpp"
#include "slservices/sdk/stream.hpp"
#include "slservices/sdk/text.hpp"
#include "slservices/sdk/zip.hpp"

#endif  // SLSERVICES_SDK_SDK_HPP_
