// File systems mounted on slhost's command line: `--fs NAME=zip:PATH` mounts a zip archive
// (read-only) and `--fs NAME=sftp://USER@HOST[:PORT]/PATH[?OPTIONS]` a folder on an SSH server
// (read and written) under a name. Each is opened, through its library beside slhost, when a
// command first reaches into it.
#pragma once

#include <string>

#include "command.h"

namespace slhost {

// Takes one `--fs` value, "NAME=zip:PATH" or "NAME=sftp://...". False, with the reason, when it
// is malformed.
bool AddMount(const std::string& spec, std::string* error);

// Whether `name` was mounted with --fs.
bool IsMounted(const std::string& name);
// What the mounted `name` is, for messages: "archive" or "remote folder".
std::string MountedWhat(const std::string& name);

// The file system mounted as `name`, found through the registry of `files` by the name's atom
// as any host finds a file system; opened and registered there on first use, and handed out as
// a Volume that knows whether it is an archive or a remote folder. Throws when the archive or
// the folder cannot be opened, or its library loaded.
Volume Mounted(const Context& context, const sl::sdk::FileSystemService& files,
               const std::string& name);

// Releases every file system opened here, then the libraries they came from. Called once the
// module (whose registry holds them too) has gone and before the program exits: a remote
// folder released after the exit handlers (libssh2's cryptography's among them) could no longer
// say goodbye to its server, only close its socket.
void CloseMounts();

// Whether `text` is what --fs mounts after "NAME=": "zip:PATH" or "sftp://...".
bool IsSource(const std::string& text);

// The archive or remote folder that `source` names (as IsSource takes it), opened as file
// system `name`. Throws as Mounted does.
sl::sdk::Ref<SLFileSystem> OpenSource(const Context& context, const std::string& name,
                                      const std::string& source);

}  // namespace slhost
