// Archives and other file systems on slhost's command line: `--fs NAME=zip:PATH` mounts an
// archive under a name, "NAME:path" addresses a file inside it for cat, cp, ls and stat, and
// check-fs runs the SDK's conformance kit against a file system.
#pragma once

#include <string>

#include "command.h"

namespace slhost {

// Takes one `--fs` value, "NAME=zip:PATH". False, with the reason, when it is malformed.
bool AddMount(const std::string& spec, std::string* error);

// A command-line path on its file system: "NAME:inner" for a mounted NAME (opened and
// registered with `files` under NAME's atom on first use, then found there by name), anything
// else on the default file system as FullPath gives it.
struct Located {
  sl::sdk::FileSystem fs;
  sl::sdk::Path16 path;
};
Located Locate(const Context& context, const sl::sdk::FileSystemService& files,
               const std::string& argument);

int RunCheckFs(Context& context);

}  // namespace slhost
