// The narrated tour behind `slhost demo`.
#pragma once

#include "slservices/sdk/module.hpp"

namespace slhost {

// Returns the process exit code: 0 when every step that must succeed did.
int RunDemo(const sl::sdk::Module& module);

}  // namespace slhost
