// Zip archives as file systems on slhost's command line: `--fs NAME=zip:PATH` mounts an archive
// under a name, and the archive is opened, through the zip library beside slhost, when a command
// first reaches into it.
#pragma once

#include <string>

#include "command.h"

namespace slhost {

// Takes one `--fs` value, "NAME=zip:PATH". False, with the reason, when it is malformed.
bool AddMount(const std::string& spec, std::string* error);

// Whether `name` was mounted with --fs.
bool IsMounted(const std::string& name);

// The archive mounted as `name`, found through the registry of `files` by the name's atom as
// any host finds a file system; opened and registered there on first use. Throws when the
// archive or the zip library cannot be opened.
sl::sdk::FileSystem Mounted(const Context& context, const sl::sdk::FileSystemService& files,
                            const std::string& name);

// The zip archive at `path` (UTF-8), opened as file system `name`. Throws as Mounted does.
sl::sdk::Ref<SLFileSystem> OpenZip(const Context& context, const std::string& name,
                                   const std::string& path);

}  // namespace slhost
